#!/usr/bin/env bash
# Signed variables passed to wider parameters arrive sign-extended, run
# under wine: globals, locals, members (of a variable or through a typed
# register), signed memory operands and casts of sbyte, short, int16 and
# int32 into int32, short and int64 parameters; registers and the stack
# pointer stay as they were. 16-bit code refuses what it cannot widen.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed

# The callee compares the slots it gets with the words expected; each
# mismatch counts in the exit code.
cat >signed.tav <<'TAV'
program pe32_cui 'signed';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block S { dword pad; int16 h; sbyte b; }
block T { byte tag; S inner; int32 w; byte u; }
int32 neg = -1;
sbyte sb = -5;
short sh = -300;
int16 i16 = 7;
byte ub = 0xFB;
dword udw = 0xFFFFFFFF;
S rec;
T two;
dword fails;
procedure want64(int64 v; dword lo, hi) {
  mov eax, lo; if ([ebp+8] != eax) { inc fails; }
  mov eax, hi; if ([ebp+12] != eax) { inc fails; }
}
procedure want32(int32 v; dword x) {
  mov eax, x; if ([ebp+8] != eax) { inc fails; }
}
procedure wantw(short v; dword x) {
  mov eax, x; if ([ebp+8] != eax) { inc fails; }
}
entry procedure main() {
  int32 lneg;
  sbyte lsb;
  dword before;
  mov lneg, -2;
  mov lsb, -3;
  mov rec.h, -9;
  mov rec.b, -10;
  mov before, esp;
  mov eax, 0x11111111; mov ecx, 0x22222222; mov edx, 0x33333333;
  want64(neg, 0xFFFFFFFF, 0xFFFFFFFF);
  want64(-1, 0xFFFFFFFF, 0xFFFFFFFF);
  want64(sb, -5, 0xFFFFFFFF);
  want64(sh, -300, 0xFFFFFFFF);
  want64(i16, 7, 0);
  want64(lneg, -2, 0xFFFFFFFF);
  want64(lsb, -3, 0xFFFFFFFF);
  want64(rec.h, -9, 0xFFFFFFFF);
  want64(rec.b, -10, 0xFFFFFFFF);
  want64([int32] udw, 0xFFFFFFFF, 0xFFFFFFFF);
  // Unsigned values stay zero-extended.
  want64(udw, 0xFFFFFFFF, 0);
  want64(ub, 0xFB, 0);
  // Members through a register of a block type, and memory read as a
  // signed type; unsigned ones stay zero-extended.
  mov two.inner.h, -11;
  mov two.inner.b, -12;
  mov two.w, -13;
  mov two.u, 0xF0;
  mov esi, @two;
  esi as T;
  want64(esi.inner.h, -11, 0xFFFFFFFF);
  want64(esi.inner.b, -12, 0xFFFFFFFF);
  want64(esi.w, -13, 0xFFFFFFFF);
  want64(esi.u, 0xF0, 0);
  want32(esi.inner.b, -12);
  wantw(esi.inner.b, -12);
  mov edi, @rec;
  edi as S;
  want64(edi.b, -10, 0xFFFFFFFF);
  want64(sbyte [edi + 6], -10, 0xFFFFFFFF);
  want64(int16 [edi + 4], -9, 0xFFFFFFFF);
  want64(byte [edi + 6], 0xF6, 0);
  want32(sbyte [edi + 6], -10);
  want32(sb, -5);
  want32(rec.b, -10);
  want32(lsb, -3);
  want32(neg, -1);
  wantw(sb, -5);
  wantw(ub, 0xFB);
  mov eax, esp; if (eax != before) { add fails, 100; }
  ExitProcess(fails);
}
TAV
if build signed; then
  runexe signed
  [ "$rc" = 0 ] || fail "signed: exit code $rc (mismatched slots, +100 for the stack pointer), expected 0"
fi

# The registers loaded before the calls reach the end unchanged.
cat >regs.tav <<'TAV'
program pe32_cui 'regs';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
sbyte sb = -5;
int32 neg = -1;
procedure take(int64 a; int32 b) { }
entry procedure main() {
  mov eax, 0x11111111; mov ecx, 0x22222222; mov edx, 0x33333333; mov ebx, 0x44444444;
  take(neg, sb);
  take(sb, sb);
  xor esi, esi;
  if (eax != 0x11111111) { inc esi; }
  if (ecx != 0x22222222) { inc esi; }
  if (edx != 0x33333333) { inc esi; }
  if (ebx != 0x44444444) { inc esi; }
  ExitProcess(esi);
}
TAV
if build regs; then
  runexe regs
  [ "$rc" = 0 ] || fail "regs: exit code $rc (registers changed), expected 0"
fi

# 16-bit code has no slot to widen on the stack in place: refused there.
cat >boot.tav <<'TAV'
program raw_image 'boot';
sbyte sb = -5;
procedure f(int16 a) { }
f(sb);
hlt;
TAV
"$tavik" boot.tav -nopause </dev/null >boot.log 2>&1
[ $? = 1 ] || fail "boot: not refused"
grep -qF '[4,6]: [6314] A signed argument of 1 byte cannot be widened with its sign in 16-bit code' boot.log ||
  { fail "boot: message"; cat boot.log; }

# So is a signed member reached through a register, or signed memory.
for arg in 'si.b' 'sbyte [bx]'; do
  cat >boot2.tav <<TAV
program raw_image 'boot2';
block S { word pad; sbyte b; }
procedure f(int16 a) { }
si as S;
f($arg);
hlt;
TAV
  "$tavik" boot2.tav -nopause </dev/null >boot2.log 2>&1
  [ $? = 1 ] || fail "boot2 ($arg): not refused"
  grep -qF '[6314] A signed argument of 1 byte' boot2.log || { fail "boot2 ($arg): message"; cat boot2.log; }
done

passed "signed arguments: all checks passed"
