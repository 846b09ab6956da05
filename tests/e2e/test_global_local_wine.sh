#!/usr/bin/env bash
# Globals moved into locals and into memory through a register, run under
# wine: with mov and with an operator statement, of 1, 2, 3, 4, 7, 8 and 12
# bytes, the slots beside them untouched and the stack pointer where it was.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed
need objdump

# Each check that fails adds its bit to the exit code.
cat >moves.tav <<'TAV'
program pe32_cui 'moves';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block B3 { byte a; byte b; byte c; }
block B7 { dword a; word b; byte c; }
block P3 { dword a; dword b; dword c; }
byte gb = 0xAB;
word gw = 0xCDEF;
dword gd = 0x12345678;
qword gq = 0x1122334455667788;
B3 gt = [1, 2, 3];
B7 g7 = [10, 20, 30];
P3 gp = [100, 200, 300];
dword fails;
procedure check(dword got, want, bit) {
  mov eax, got;
  if (eax != want) { mov eax, bit; mov ecx, fails; or ecx, eax; mov fails, ecx; }
}
procedure moves() {
  dword pre;
  byte lb;
  word lw;
  dword ld;
  qword lq;
  B3 lt;
  B7 l7;
  P3 lp;
  dword buf[4];
  dword post;
  mov pre, 0x5A5A5A5A;
  mov post, 0xA5A5A5A5;
  mov lw, 0xFFFF;
  mov lb, 0xFF;
  mov buf[3], 0x77;
  mov lb, gb;
  lw = gw;
  mov ld, gd;
  mov lq, gq;
  mov lt, gt;
  l7 = g7;
  mov lp, gp;
  movzx eax, lb; check(eax, 0xAB, 1);
  movzx eax, lw; check(eax, 0xCDEF, 2);
  check(ld, 0x12345678, 4);
  mov eax, @lq; check([eax], 0x55667788, 8); mov eax, @lq; check([eax + 4], 0x11223344, 8);
  movzx eax, lt.a; check(eax, 1, 16); movzx eax, lt.c; check(eax, 3, 16);
  check(l7.a, 10, 32); movzx eax, l7.b; check(eax, 20, 32); movzx eax, l7.c; check(eax, 30, 32);
  check(lp.a, 100, 64); check(lp.c, 300, 64);
  check(pre, 0x5A5A5A5A, 128); check(post, 0xA5A5A5A5, 128);
  // Into memory addressed by a register, and on top of the stack.
  mov ebx, @buf;
  mov dword [ebx + 4], gd;
  check(buf[1], 0x12345678, 256);
  mov [ebx], gt;
  movzx eax, byte [ebx + 2]; check(eax, 3, 512);
  movzx eax, byte [ebx + 3]; check(eax, 0, 512);
  check(buf[3], 0x77, 512);
  push 0x33;
  mov [esp], gd;
  pop eax;
  check(eax, 0x12345678, 1024);
}
entry procedure main() {
  mov esi, esp;
  moves();
  if (esi != esp) { or fails, 2048; }
  ExitProcess(fails);
}
TAV
if build moves; then
  runexe moves
  [ "$rc" = 0 ] || fail "moves: exit code $rc (the bits of the failed checks), expected 0"
  # a dword goes through the stack: push of the global, pop into the slot
  objdump -d moves.exe >moves.d 2>&1 || fail "moves: objdump -d failed"
  grep -qE 'ff 35 [0-9a-f ]{11}[[:space:]]+push[[:space:]]+0x[0-9a-f]+$' moves.d || fail "moves: no push of a global"
  grep -qE '8f 45 [0-9a-f]{2}[[:space:]]+pop[[:space:]]+-0x[0-9a-f]+\(%ebp\)' moves.d || fail "moves: no pop into a frame slot"
fi

# 16-bit code: a global word into a local slot below BP.
cat >boot.tav <<'TAV'
program raw_image 'boot';
word gw = 0x1234;
procedure p() {
  word lw;
  mov lw, gw;
  mov ax, lw;
}
p();
hlt;
TAV
if build boot img; then
  objdump -D -b binary -m i8086 --start-address=0 --stop-address=32 boot.img >boot.d 2>&1
  grep -qE 'ff 36 [0-9a-f ]{5}[[:space:]]+push' boot.d || { fail "boot: no push of the global"; cat boot.d; }
  grep -qE '8f 46 fe[[:space:]]+pop' boot.d || { fail "boot: no pop into the slot"; cat boot.d; }
fi

passed "global into local moves: all checks passed"
