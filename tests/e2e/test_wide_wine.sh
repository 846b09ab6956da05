#!/usr/bin/env bash
# Qword shifts, not and neg on memory and on a local, run under wine: each
# result is checked in both dwords, with values that have only the high
# dword set or carry a bit across the halves. The exit code counts the
# wrong dwords (0 when all are right), plus 100 when a shift lost EAX.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed

cat >wide.tav <<'TAV'
program pe32_cui 'wide';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
qword q;
dword bad;
// Counts a wrong dword of q.
procedure expect(dword low, high) {
  esi = @q;
  eax = dword [esi];
  if (eax != low) { bad++; }
  eax = dword [esi+4];
  if (eax != high) { bad++; }
}
entry procedure main() {
  qword lq;
  ebx = @q;
  q = 0x180000000;            // a bit crosses into the high dword
  qword [ebx] << 1;
  expect(0, 3);
  q = 0x8000000000000000;     // the high dword alone
  shr qword [ebx], 4;
  expect(0, 0x08000000);
  q = 0x8000000000000000;
  sar qword [ebx], 4;
  expect(0, 0xF8000000);
  q = 0x100000000;            // a bit crosses into the low dword
  sar qword [ebx], 1;
  expect(0x80000000, 0);
  q = 3;
  eax = 0x12345678;
  shl qword [ebx], 31;
  if (eax != 0x12345678) { bad += 100; }
  expect(0x80000000, 1);
  q = 0xFFFFFFFF00000000;
  not qword [ebx];
  expect(0xFFFFFFFF, 0);
  q = 1;
  neg qword [ebx];
  expect(0xFFFFFFFF, 0xFFFFFFFF);
  q = 0x100000000;
  neg qword [ebx];
  expect(0, 0xFFFFFFFF);
  q = 0x7FFFFFFF00000001;
  neg qword [ebx];
  expect(0xFFFFFFFF, 0x80000000);
  // A local, through the operator statements.
  lq = 0xC0000000;
  lq << 2;
  eax = @lq;
  push dword [eax+4];
  push dword [eax];
  pop dword [ebx];
  pop dword [ebx+4];
  expect(0, 3);
  lq >> 3;
  not lq;
  eax = @lq;
  push dword [eax+4];
  push dword [eax];
  pop dword [ebx];
  pop dword [ebx+4];
  expect(0x9FFFFFFF, 0xFFFFFFFF);
  ExitProcess(bad);
}
TAV
if build wide; then
  runexe wide
  [ "$rc" = 0 ] || fail "wide: exit code $rc, expected 0 (wrong dwords counted)"
fi

passed "all passed"
