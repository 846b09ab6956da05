#!/usr/bin/env bash
# Casts "[type] x" in operands: one of the operand's own size builds and runs
# under wine as before; one of another size, or a number its type cannot
# hold, is refused where it stands instead of being read at the old size.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed

# 0x12345678 as int32, 3 as sbyte, 5 as int32, the register as pointer: the
# low byte of the sum 0x12345678 + 3 + 5 + 0x10 is 0x90.
cat >same.tav <<'TAV'
program pe32_cui 'same';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
byte gb = 3;
dword gd = 0x12345678;
entry procedure main() {
  mov eax, [int32] gd;
  mov cl, [sbyte] gb;
  movzx ecx, cl;
  add eax, ecx;
  add eax, [int32] 5;
  mov edx, 0x10;
  mov ecx, [pointer] edx;
  add eax, ecx;
  ExitProcess(eax);
}
TAV
if build same; then
  runexe same
  [ "$rc" = 144 ] || fail "same: exit code $rc, expected 144"
fi

# Each case: the statement in main, then the message line.
while IFS='|' read -r stmt want; do
  cat >cast.tav <<TAV
program pe32_cui 'cast';
byte gb = 3;
dword gd = 0x12345678;
entry procedure main() {
  dword ld;
$stmt
}
TAV
  rm -f cast.exe
  refused cast "$want" exe
done <<'CASES'
mov [byte] gd, 5;|[6,14]: [5645] A cast to byte (1 byte) cannot change the size of gd (4 bytes) in [cast.tav]
add [word] gd, 1;|[6,14]: [5645] A cast to word (2 bytes) cannot change the size of gd (4 bytes) in [cast.tav]
mov al, [byte] gd;|[6,18]: [5645] A cast to byte (1 byte) cannot change the size of gd (4 bytes) in [cast.tav]
mov eax, [dword] gb;|[6,20]: [5645] A cast to dword (4 bytes) cannot change the size of gb (1 byte) in [cast.tav]
mov al, [byte] ld;|[6,18]: [5645] A cast to byte (1 byte) cannot change the size of ld (4 bytes) in [cast.tav]
mov [byte] eax, 5;|[6,15]: [5645] A cast to byte (1 byte) cannot change the size of eax (4 bytes) in [cast.tav]
gd = [byte] 300;|[6,16]: [5646] Value 300 does not fit the cast to byte in [cast.tav]
mov eax, [single] 1;|[6,20]: [5646] Value 1 does not fit the cast to single in [cast.tav]
push [word] gd;|[6,15]: [5645] A cast to word (2 bytes) cannot change the size of gd (4 bytes) in [cast.tav]
CASES

passed "casts: all checks passed"
