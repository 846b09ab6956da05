#!/usr/bin/env bash
# Arguments and pushes of every size, run under wine: the values that reach
# the stack, the registers and flags around them, the stack pointer after
# calls, and the bytes of the pushes as objdump reads them.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed
need objdump

# probe K OPERAND LOW [HIGH]: pushes OPERAND with every register and the
# flags set to known values (ZF and CF on), then checks them all, the bytes
# pushed and the values; a difference ends the program with exit code K.
# EBP is filled only where the frame does not need it (NOEBP unset).
probe() {
  local k=$1 op=$2 lo=$3 hi=${4:-} n=4
  [ -n "$hi" ] && n=8
  echo "mov eax, 0x11111111; mov ebx, 0x22222222; mov ecx, 0x33333333; mov edx, 0x44444444;"
  echo "mov esi, 0x55555555; mov edi, 0x66666666;"
  [ -z "${NOEBP:-}" ] && echo "mov ebp, 0x77777777;"
  echo "mov sp0, esp; cmp eax, eax; stc;"
  echo "push $op;"
  echo "jnc bad$k; jnz bad$k; js bad$k; jo bad$k;"
  echo "cmp eax, 0x11111111; jne bad$k; cmp ebx, 0x22222222; jne bad$k; cmp ecx, 0x33333333; jne bad$k;"
  echo "cmp edx, 0x44444444; jne bad$k; cmp esi, 0x55555555; jne bad$k; cmp edi, 0x66666666; jne bad$k;"
  [ -z "${NOEBP:-}" ] && echo "cmp ebp, 0x77777777; jne bad$k;"
  echo "mov eax, sp0; sub eax, esp; cmp eax, $n; jne bad$k;"
  echo "pop eax; cmp eax, $lo; jne bad$k;"
  [ -n "$hi" ] && echo "pop eax; cmp eax, $hi; jne bad$k;"
  return 0
}

# callprobe K ARGS B C: the same around a call of keep3(eax, ARGS), which
# stores its arguments without touching a register or a flag; then checks
# that keep3 saw EAX, B and C.
callprobe() {
  local k=$1
  echo "mov eax, 0x11111111; mov ebx, 0x22222222; mov ecx, 0x33333333; mov edx, 0x44444444;"
  echo "mov esi, 0x55555555; mov edi, 0x66666666;"
  echo "mov sp0, esp; cmp eax, eax; stc;"
  echo "keep3(eax, $2);"
  echo "jnc bad$k; jnz bad$k; js bad$k; jo bad$k;"
  echo "cmp eax, 0x11111111; jne bad$k; cmp ebx, 0x22222222; jne bad$k; cmp ecx, 0x33333333; jne bad$k;"
  echo "cmp edx, 0x44444444; jne bad$k; cmp esi, 0x55555555; jne bad$k; cmp edi, 0x66666666; jne bad$k;"
  echo "mov eax, sp0; cmp eax, esp; jne bad$k;"
  echo "mov eax, ra; cmp eax, 0x11111111; jne bad$k; mov eax, rb; cmp eax, $3; jne bad$k;"
  echo "mov eax, rc; cmp eax, $4; jne bad$k;"
}

# Globals of 1, 2, 3 and 7 bytes, locals of 1 and 3 bytes in a frame
# procedure and parameters of 1 and 3 bytes in one without frame (addressed
# through ESP).
{
  cat <<'TAV'
program pe32_cui 'regs';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block B3 { byte a; byte b; byte c; }
block B7 { dword lo; word mid; byte top; }
byte gb = 0xA5;
byte gb2 = 0xE7;
word gw = 0xBEEF;
B3 g3 = 0xC3B2A1;
B7 g7 = 0x07060504030201;
dword sp0;
dword ra;
dword rb;
dword rc;
procedure keep3(dword a, b, c) { mov ra, a; mov rb, b; mov rc, c; }
procedure framed() {
  byte lb;
  B3 l3;
  mov lb, 0x9C;
  l3.a = 0x11; l3.b = 0x22; l3.c = 0x83;
TAV
  NOEBP=1 probe 11 lb 0x9C
  NOEBP=1 probe 12 l3 0x832211
  callprobe 13 "lb, l3" 0x9C 0x832211
  echo "jmp done; bad11: ExitProcess(11); bad12: ExitProcess(12); bad13: ExitProcess(13); done: }"
  echo "#set frame 0;"
  echo "procedure bare(byte pb; B3 p3) {"
  probe 21 pb 0xE7
  probe 22 p3 0xF65544
  callprobe 23 "pb, p3" 0xE7 0xF65544
  echo "jmp done; bad21: ExitProcess(21); bad22: ExitProcess(22); bad23: ExitProcess(23); done: }"
  echo "#set frame 1;"
  echo "entry procedure main() { B3 m3; m3.a = 0x44; m3.b = 0x55; m3.c = 0xF6;"
  NOEBP=1 probe 1 gb 0xA5
  NOEBP=1 probe 2 gw 0xBEEF
  NOEBP=1 probe 3 g3 0xC3B2A1
  NOEBP=1 probe 4 g7 0x04030201 0x070605
  callprobe 5 "gb, g3" 0xA5 0xC3B2A1
  callprobe 6 "gw, m3" 0xBEEF 0xF65544
  echo "framed(); bare(gb2, m3); ExitProcess(100);"
  for k in 1 2 3 4 5 6; do echo "bad$k: ExitProcess($k);"; done
  echo "}"
} >regs.tav
if build regs; then
  runexe regs
  [ "$rc" = 100 ] || fail "regs: exit code $rc, expected 100 (a lower code names the failed probe)"

  # Between its save and its restore a remainder sequence writes only the
  # accumulator and the stack slot it fills.
  objdump -d -M intel regs.exe >regs.d
  /usr/bin/python3 - regs.d <<'PY' || fail "regs: a remainder sequence writes more than eax"
import re, sys
ins = []
for line in open(sys.argv[1]):
    m = re.match(r'\s*[0-9a-f]+:\t[0-9a-f ]+\t(.*)', line)
    if m:
        ins.append(re.sub(r'\s+', ' ', m.group(1).strip()))
found = bad = 0
i = 0
while i < len(ins):
    if ins[i] == 'push eax' and i + 1 < len(ins) and re.match(r'(movzx eax|mov al),', ins[i + 1]):
        j = i + 1
        while j < min(i + 7, len(ins)) and ins[j] not in ('xchg DWORD PTR [esp],eax', 'pop eax'):
            dst = ins[j].split(' ', 1)[1].split(',')[0]
            if not (dst in ('eax', 'ax', 'al') or dst.startswith(('BYTE PTR [esp', 'WORD PTR [esp'))):
                print('writes', dst, 'in', ins[j]); bad += 1
            j += 1
        if j == min(i + 7, len(ins)):
            print('eax not restored after', ins[i + 1]); bad += 1
        found += 1
        i = j
    i += 1
# gb, g3, g7, two locals, two parameters, the two arguments of bare and
# the seven byte and 3-byte arguments of keep3
if found != 16:
    print('sequences found:', found); bad += 1
sys.exit(1 if bad else 0)
PY
fi

# Byte, word and 3-byte values as arguments after EAX: the callee sees EAX
# as it was. 40 + 2 = 42; 42 + 300 + 6 = 348; 348 + 5 + 9 = 362,
# 362 - 256 = 106; from the procedure without frame, 106 + 7 + 0x30 = 161.
cat >bytearg.tav <<'TAV'
program pe32_cui 'bytearg';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block B3 { byte a; byte b; byte c; }
byte gb = 2;
word gw = 300;
byte gk = 7;
B3 g3 = 6;
function add2(dword a, b) { mov eax, a; add eax, b; }
function add3(dword a, b, c) { mov eax, a; add eax, b; add eax, c; }
function framed(dword x) {
  byte lb;
  byte lc;
  mov lb, 5; mov lc, 9;
  mov eax, x;
  add3(eax, lb, lc);
  sub eax, 256;
}
#set frame 0;
function bare(dword x; byte k; B3 t) {
  mov eax, x;
  add3(eax, k, t);
}
#set frame 1;
entry procedure main() {
  B3 m3;
  m3.a = 0x10; m3.b = 0; m3.c = 0; add m3.a, 0x20;
  mov eax, 40;
  add2(eax, gb);
  add3(eax, gw, g3);
  framed(eax);
  bare(eax, gk, m3);
  ExitProcess(eax);
}
TAV
if build bytearg; then
  runexe bytearg
  [ "$rc" = 161 ] || fail "bytearg: exit code $rc, expected 161"
fi

# Arguments of other sizes than their parameters, nested, in procedures
# with and without frame, a thousand times: each result checked (a wrong
# one exits with its number), and ESP the same after the loop.
cat >mixed.tav <<'TAV'
program pe32_cui 'mixed';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
qword gq = 0x0000000200000003;
byte gb = 4;
word gw = 6;
dword gd = 10;
dword n;
dword sp0;
// q.lo + 16 * q.hi + d
function fq(qword q; dword d) { mov eax, [ebp+12]; shl eax, 4; add eax, [ebp+8]; add eax, [ebp+16]; }
#set frame 0;
// a + q.lo + 16 * q.hi + b, the byte read as its whole slot
function nq(dword a; qword q; byte b) { mov eax, [esp+12]; shl eax, 4; add eax, [esp+8]; add eax, [esp+4]; add eax, [esp+16]; }
function outer(byte k; qword q) { fq(q, nq(k, q, k)); }
#set frame 1;
function fouter(byte k; qword q) { fq(q, nq(k, q, k)); }
entry procedure main() {
  mov sp0, esp;
  n = 0;
  while (n < 1000) {
    fq(5, gd); cmp eax, 15; jne bad1;
    fq(0x100000001, 2); cmp eax, 19; jne bad2;
    fq(gq, gw); cmp eax, 41; jne bad3;
    nq(gw, gq, gb); cmp eax, 45; jne bad4;
    nq(1, gd, 2); cmp eax, 13; jne bad5;
    fq(nq(gb, 7, 1), nq(2, fq(gq, 1), gb)); cmp eax, 54; jne bad6;
    outer(gb, gq); cmp eax, 78; jne bad7;
    mov bl, 4;
    outer(bl, 5); cmp eax, 18; jne bad8;
    fouter(gb, gq); cmp eax, 78; jne bad9;
    n += 1;
  }
  mov eax, sp0; cmp eax, esp; jne bad10;
  ExitProcess(100);
bad1: ExitProcess(1);
bad2: ExitProcess(2);
bad3: ExitProcess(3);
bad4: ExitProcess(4);
bad5: ExitProcess(5);
bad6: ExitProcess(6);
bad7: ExitProcess(7);
bad8: ExitProcess(8);
bad9: ExitProcess(9);
bad10: ExitProcess(10);
}
TAV
if build mixed; then
  runexe mixed
  [ "$rc" = 100 ] || fail "mixed: exit code $rc, expected 100 (a lower code names the failed call)"
fi

# A wider value than its parameter: refused at the argument, no image.
cat >wide.tav <<'TAV'
program pe32_cui 'wide';
procedure d(dword a, b) { }
qword gq;
d(1, gq);
TAV
"$tavik" wide.tav -nopause </dev/null >wide.log 2>&1
[ $? = 1 ] || fail "wide: exit code not 1"
grep -qF '[4,8]: [6313] Argument of 8 bytes for parameter "b" of 4 bytes' wide.log || { fail "wide: message"; cat wide.log; }
[ -e wide.exe ] && fail "wide: image written"

passed "arguments: all checks passed"
