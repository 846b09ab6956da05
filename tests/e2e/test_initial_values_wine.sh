#!/usr/bin/env bash
# Initial values of globals through the whole program: texts that size
# their array, texts in wide characters, lists for block variables; read back
# by the program under wine and from the image with pefile. Values that do
# not fit their type and texts that do not fit their room are refused.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed

cat >init.tav <<'TAV'
program pe32_cui 'init';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block Item { dword id; dword price; }
block Rec { word n; char nm[4]; union { byte lo; dword all; } Item it; }
byte s[] = 'hello';
dword after = 0x11223344;
wchar w[8] = 'abc';
wchar v[] = "xyz";
Item one = [1, 2];
Item two[] = [3, 4, 5];
Rec r = [7, 'ab', 9, 10, 11];
char c = 'A';
byte full[3] = 'abc';
byte edge[2] = [255, -128];
dword bad;
entry procedure main() {
  // Each check that fails adds its own bit to the exit code.
  mov eax, sizeof s; if (eax != 6) { or bad, 1; }
  xor eax, eax; mov al, s[4]; if (eax != 111) { or bad, 1; }
  xor eax, eax; mov al, s[5]; if (eax != 0) { or bad, 1; }
  mov eax, after; if (eax != 0x11223344) { or bad, 2; }
  xor eax, eax; mov ax, w[1]; if (eax != 98) { or bad, 4; }
  xor eax, eax; mov ax, w[3]; if (eax != 0) { or bad, 4; }
  mov eax, sizeof v; if (eax != 8) { or bad, 4; }
  xor eax, eax; mov ax, v[2]; if (eax != 122) { or bad, 4; }
  mov eax, one.id; if (eax != 1) { or bad, 8; }
  mov eax, one.price; if (eax != 2) { or bad, 8; }
  mov eax, sizeof two; if (eax != 16) { or bad, 16; }
  mov eax, two[1].id; if (eax != 5) { or bad, 16; }
  mov eax, two[1].price; if (eax != 0) { or bad, 16; }
  xor eax, eax; mov ax, r.n; if (eax != 7) { or bad, 32; }
  xor eax, eax; mov al, r.nm[1]; if (eax != 98) { or bad, 32; }
  mov eax, r.all; if (eax != 9) { or bad, 32; }
  mov eax, r.it.id; if (eax != 10) { or bad, 32; }
  mov eax, r.it.price; if (eax != 11) { or bad, 32; }
  xor eax, eax; mov al, c; if (eax != 65) { or bad, 64; }
  xor eax, eax; mov al, full[2]; if (eax != 99) { or bad, 64; }
  xor eax, eax; mov al, edge[1]; if (eax != 0x80) { or bad, 64; }
  ExitProcess(bad);
}
TAV
if build init; then
  runexe init
  [ "$rc" = 0 ] || fail "init: exit code $rc (bits of the failed checks), expected 0"
  # The initialised globals lie in declaration order at the start of the
  # data: the text with its zero, then the next variable right after it.
  pecheck init.exe <<'PY'
sec = next(s for s in pe.sections if s.Characteristics & 0x40 and s.SizeOfRawData and s.get_data().startswith(b'hello'))
d = sec.get_data()
want = (b'hello\0' + bytes.fromhex('44332211') + 'abc'.encode('utf-16-le') + bytes(10) +
        'xyz\0'.encode('utf-16-le') + bytes.fromhex('01000000 02000000') +
        bytes.fromhex('03000000 04000000 05000000 00000000') +
        bytes.fromhex('0700') + b'ab\0\0' + bytes.fromhex('09000000 0a000000 0b000000') + b'A' + b'abc' +
        bytes([255, 128]))
assert d[:len(want)] == want, (d[:len(want)].hex(), want.hex())
PY
fi

# Refusals, each with its position and the value or text it names.
while IFS='|' read -r line where message; do
  printf "program pe32_cui 'bad';\nblock Item { dword id; dword price; }\n%s\n" "$line" >bad.tav
  "$tavik" bad.tav -nopause </dev/null >bad.log 2>&1
  [ $? = 1 ] || fail "bad: '$line' was not refused"
  grep -qF "[$where]: $message in [bad.tav]" bad.log || { fail "bad: '$line': message"; cat bad.log; }
  [ -e bad.exe ] && fail "bad: '$line' wrote an image"
  rm -f bad.exe
done <<'CASES'
byte b = 300;|3,13|[5325] Value 300 out of range -128..255 for b
word w[2] = [1, 70000];|3,22|[5325] Value 70000 out of range -32768..65535 for w[1]
dword d = 0x100000000;|3,22|[5325] Value 4294967296 out of range -2147483648..4294967295 for d
byte t[2] = 'abc';|3,18|[5326] Text 'abc' takes 3 bytes, more than the 2 of t
wchar x[2] = 'abc';|3,19|[5326] Text 'abc' takes 6 bytes as UTF-16, more than the 4 of x
Item one = [1, 2, 3];|3,20|[5327] More values than members of item in one
Item one = [1, 0x100000000];|3,27|[5325] Value 4294967296 out of range -2147483648..4294967295 for one.price
Item two[2] = [1, 2, 3, 4, 5];|3,29|[5327] More values than members of item in two
CASES

passed "initial values: all checks passed"
