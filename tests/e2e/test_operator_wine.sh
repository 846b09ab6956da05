#!/usr/bin/env bash
# A program computed with operator statements on registers, globals, a
# local, record members and a typed register, run under wine: its exit code.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed

# Each step's value is known: 5+3=8, *2=16, <<1=32, >>2=8 into total; ecx
# ends at 0; edx = 30+4-8+0 = 26 into pt.y through ebx; small = twice(26) = 52;
# the exit code is 52 + pt.x (7) + pt.y (26) = 85.
cat >ops.tav <<'TAV'
program pe32_cui 'ops';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block point { dword x; dword y; }
dword total;
byte small;
point pt;
function twice(dword a) { eax = a; eax += a; }
entry procedure main() {
  dword loc;
  total = 5;
  eax = total;
  eax += 3;
  ebx = 2;
  eax *= ebx;
  eax << 1;
  eax >> 2;
  total = eax;
  ecx = 0;
  ecx -= 1;
  ecx++;
  ecx == 0;
  loc = 4;
  pt.y = 30;
  ebx = @pt as point;
  ebx.x = 7;
  edx = pt.y;
  edx += loc;
  esi = total;
  edx -= esi;
  edx += ecx;
  [ebx+4] = edx;
  small = twice(edx);
  eax = 0;
  al = small;
  esi = pt.x;
  eax += esi;
  eax += ebx.y;
  ExitProcess(eax);
}
TAV
if build ops; then
  runexe ops
  [ "$rc" = 85 ] || fail "ops: exit code $rc, expected 85"
fi

passed "all passed"
