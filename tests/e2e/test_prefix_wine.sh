#!/usr/bin/env bash
# Prefixes on their instruction's line, run under wine: rep stosb fills a
# buffer, rep movsd copies it, repe cmpsb and repne scasb compare and search
# it, lock add, lock xadd and lock inc change memory. The program prints
# what it finds; the prefixed bytes are checked in its code.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed

cat >prefix.tav <<'TAV'
program pe32_cui 'prefix';
#include "console.tav"

byte src[16];
byte dst[16];
dword counter = 40;

entry procedure main() {
  dword loc;
  // Fill src with 0x41, ten bytes; the rest stays zero.
  cld
  mov edi, @src
  mov al, 0x41
  mov ecx, 10
  rep stosb
  mov edx, @src
  sub edi, edx
  printnum(edi)                  // 10: where the fill ended
  // Copy its first eight bytes as two dwords.
  mov esi, @src
  mov edi, @dst
  mov ecx, 2
  rep movsd;
  // Compare src and dst: the first difference is at byte 9 (index 8).
  mov esi, @src
  mov edi, @dst
  mov ecx, 16
  repe cmpsb;
  mov eax, 16
  sub eax, ecx
  printnum(eax)                  // 9 bytes compared
  // Search src for the zero after the fill.
  mov edi, @src
  xor al, al
  mov ecx, 16
  repne scasb;
  mov eax, 16
  sub eax, ecx
  printnum(eax)                  // 11 bytes scanned
  // Memory changed under lock.
  mov ebx, @counter
  lock add dword [ebx], 3        // 43
  mov eax, 100
  lock xadd [ebx], eax           // counter 143, eax the old 43
  printnum(eax)
  lock inc counter               // 144
  loc = 7
  lea edx, [ebp-4]
  lock sub dword [edx], 2        // 5
  mov eax, counter
  add eax, loc
  printnum(eax)                  // 149
  ExitProcess(0);
}
TAV
cp "${TAVIK_SOURCE_DIR:?}/docs/examples/console.tav" .
# printnum writes a number without a line break: a blank between them.
sed -i 's|^  printnum(\(.*\))\(.*\)$|  printnum(\1)\2\n  print('"'"' '"'"')|' prefix.tav
if build prefix; then
  runexe prefix
  [ "$rc" = 0 ] || fail "prefix: exit code $rc"
  read -r filled compared scanned old sum <prefix.out
  [ "$filled $compared $scanned $old $sum" = "10 9 11 43 149" ] || fail "prefix: printed '$(cat prefix.out)'"
  if have objdump; then
    objdump -d -M intel prefix.exe >prefix.dis
    s='[[:space:]]+'
    for want in "f3 aa${s}rep stos" "f3 a5${s}rep movs" "f3 a6${s}repz cmps" "f2 ae${s}repnz scas" \
                "f0 81 03 03 00 00 00${s}lock add" "f0 0f c1 03${s}lock xadd" "f0 ff 05 " \
                "f0 81 2a 02 00 00 00${s}lock sub"; do
      grep -Eq "$want" prefix.dis || fail "prefix: no '$want' in the code"
    done
  fi
fi

# A label between a prefix of its own and its instruction would split them
# (a jump to it runs the instruction without its prefix, or the prefix with
# the label's other code): refused in both modes, as any other statement is.
for builder in pe32_cui raw_image; do
  printf "program %s 'split';\nrep; top: stosb;\njmp top;\n" "$builder" >split.tav
  refused split "[2,9]: [9996] rep must stand before its instruction in [split.tav]"
  [ -e split.exe ] && fail "split ($builder): an image was written"
done

passed "all passed"
