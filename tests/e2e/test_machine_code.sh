#!/usr/bin/env bash
# Programs that must either build into the bytes the processor needs or stop
# with a positioned message: literals holding comment openers, unclosed
# literals and comments, immediates that do not fit, operands after an
# instruction that takes none, qword arithmetic, inc/dec on memory, 16-bit
# jumps beside 32-bit code, far jumps to labels, pops into memory and the
# push depth after pushad. Images are checked with objdump and pefile and
# run under wine or qemu.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# refused NAME TEXT MESSAGE: TEXT as NAME.tav must fail with MESSAGE (exit
# code 1, no "Compile OK", no image).
refused() {
  printf "%b" "$2" >"$1.tav"
  "$tavik" "$1.tav" -nopause </dev/null >"$1.log" 2>&1
  local rc=$?
  [ "$rc" = 1 ] || fail "$1: exit code $rc, expected 1"
  grep -qF -- "$3" "$1.log" || { fail "$1: no '$3'"; cat "$1.log"; }
  grep -q 'Compile OK' "$1.log" && fail "$1: reported Compile OK"
  ls "$1".* | grep -qv '\.\(tav\|log\)$' && fail "$1: an image was written"
}

# The text of literals holding "//" and "/*" reaches the program: it writes
# them to standard output.
cat >lit.tav <<'TAV'
program pe32_cui 'lit';
imports('kernel32.dll') {
  function GetStdHandle(dword which): dword;
  procedure WriteFile(dword h, buf, len, written, overlapped);
  procedure ExitProcess(dword code);
}
dword written;
byte msg[32] = 'see http://example.com|';
WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), @msg, 23, @written, 0);
WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), 'a /* b */ c|', 12, @written, 0);
inline procedure say() { WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), '}{//', 4, @written, 0); }
say();
#if 0 == 1:
  'skipped #end // not a directive'
#end
WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), '*/ok', 4, @written, 0);
ExitProcess(3);
TAV
if use_wine; then
  if build lit; then
    runexe lit
    [ "$rc" = 3 ] || fail "lit: exit code $rc, expected 3"
    [ "$(cat lit.out)" = 'see http://example.com|a /* b */ c|}{//*/ok' ] || fail "lit: printed '$(cat lit.out)'"
  fi
else
  echo "wine is not installed: literal run skipped"
fi

# Unclosed literals and comments stop where they open.
refused strlit "program pe32_cui 'x';\nnop;\n  mov eax, 'abc;\nnop;\n" \
  "[3,13]: [1141] String literal not closed in [strlit.tav]"
refused widelit "program pe32_cui 'x';\nnop;\npush \"ab\\\\\"\n" \
  "[3,7]: [1141] String literal not closed in [widelit.tav]"
refused comment "program pe32_cui 'x';\nnop; /* one\n two\n" \
  "[2,7]: [1142] Comment not closed in [comment.tav]"

# An operand after an instruction that takes none is no longer dropped.
refused noops "program pe32_cui 'x';\ncld;\n  retn 12;\n" \
  "[3,9]: [9998] Too many parameters! number 12 in [noops.tav]"

# qword arithmetic carries across the dwords: the exit code is the sum of
# the high dwords (1 + 0 + 2 + 0x1F) plus the low ones, brought to 0.
cat >qword.tav <<'TAV'
program pe32_cui 'qword';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
qword a; qword b; qword c; qword d;
a = 0xFFFFFFFF;
a += 1;
b = 0x100000000;
b -= 1;
c = 0x1FFFFFFFF;
mov ebx, @c;
add qword [ebx], 0x80000001;
mov ebx, @d;
mov qword [ebx], 0x0F0000000F;
or d, 0x1000000000;
xor d, 0xF;
eax = 0;
mov esi, @a; add eax, [esi+4]; add eax, [esi];
mov esi, @b; add eax, [esi+4]; mov ecx, [esi]; inc ecx; add eax, ecx;
mov esi, @c; add eax, [esi+4]; mov ecx, [esi]; sub ecx, 0x80000000; add eax, ecx;
mov esi, @d; add eax, [esi+4]; add eax, [esi];
ExitProcess(eax);
TAV
if use_wine && build qword; then
  runexe qword
  [ "$rc" = 34 ] || fail "qword: exit code $rc, expected 34"
fi

# inc and dec on globals and locals of each size, with and without a
# frame: wrap-arounds show the width (byte 255+1 = 0, word 0-1 = 0xFFFF).
cat >incdec.tav <<'TAV'
program pe32_cui 'incdec';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
byte gb = 255; word gw; dword gd = 41;
function framed() {
  word count; byte small;
  count = 0xFFFF; count++; count++;
  small = 7; small--;
  movzx eax, count;
  movzx ecx, small;
  add eax, ecx;
}
#set frame 0;
function frameless(dword n) {
  push eax;
  n--;
  n--;
  pop eax;
  n++;
  eax = n;
}
#set frame 1;
gb++;
gw--;
gd++;
mov esi, @gb;
inc byte [esi];
ebx = 0;
bl = gb;
eax = 0;
ax = gw;
sub eax, 0xFFFF;
add ebx, eax;
ecx = gd;
add ebx, ecx;
framed();
add ebx, eax;
frameless(9);
add ebx, eax;
ExitProcess(ebx);
TAV
if use_wine && build incdec; then
  runexe incdec
  # gb 1, gw 0xFFFF (0 after the subtraction), gd 42, framed 1 + 6, frameless 9 - 2 + 1
  [ "$rc" = 58 ] || fail "incdec: exit code $rc, expected 58"
fi

passed "all passed"
