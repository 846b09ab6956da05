#!/usr/bin/env bash
# Indexed array members of a block, in a global, a local and through a
# typed register in a method, run under wine; objdump shows where the
# stores land.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed
need objdump

# The low byte of the sum: 0x07 (gr.arr[1]) + 1 (gr.arr[0]) + 0x30
# (lr.arr[2]) + 4 (lr.arr[0]) + 0x40 (gr.arr[2], stored by the method) + 3
# (gr.w[1], the same) = 0x7F.
cat >members.tav <<'TAV'
program pe32_cui 'members';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block R { dword pad; dword arr[3]; word w[2]; procedure Set(dword v); }
procedure R.Set(dword v) { mov ebx, this; ebx as R; mov ecx, v; mov ebx.arr[2], ecx; ebx.w[1] = 3; }
R gr;
entry procedure main() {
  R lr;
  mov esi, @gr;
  mov gr.arr[1], 0x22222207;
  gr.arr[0] = 1;
  lr.arr[2] = 0x30;
  mov lr.arr[0], 4;
  gr.Set(0x40);
  mov eax, gr.arr[1];
  mov ecx, gr.arr[0]; add eax, ecx;
  add eax, lr.arr[2];
  add eax, lr.arr[0];
  mov ecx, gr.arr[2]; add eax, ecx;
  xor ecx, ecx; mov cx, gr.w[1]; add eax, ecx;
  ExitProcess(eax);
}
TAV
if build members; then
  runexe members
  [ "$rc" = 127 ] || fail "members: exit code $rc, expected 127"
  objdump -d -M intel members.exe >members.d
  # gr's address is what esi is loaded with; the dword store of 0x22222207
  # is at gr+8, its load too, and the method stores at [ebx+12] and [ebx+18].
  gr=$(awk -F'\t' '$3 ~ /^mov +esi,0x/ { sub(/.*,/, "", $3); print $3; exit }' members.d)
  [ -n "$gr" ] || fail "members: no load of gr's address"
  at8=$(printf '0x%x' $((gr + 8)))
  grep -qE "mov +DWORD PTR ds:$at8,0x22222207" members.d || fail "members: the store is not a dword at gr+8 ($at8)"
  grep -qE "mov +eax,ds:$at8\$" members.d || fail "members: the load is not a dword at gr+8"
  grep -qE "mov +DWORD PTR \[ebx\+0xc\],ecx" members.d || fail "members: the method's store is not at [ebx+12]"
  grep -qE "mov +WORD PTR \[ebx\+0x12\],0x3" members.d || fail "members: the word store is not at [ebx+18]"
  grep -qE "mov +DWORD PTR \[ebp-0x8\],0x30" members.d || fail "members: the local store is not at lr+12"
fi

# An index past the last element: refused where it stands.
cat >past.tav <<'TAV'
program pe32_cui 'past';
block R { dword pad; dword arr[3]; }
R gr;
mov gr.arr[3], 1;
TAV
"$tavik" past.tav -nopause </dev/null >past.log 2>&1
[ $? = 1 ] || fail "past: exit code not 1"
grep -qF '[4,14]: [5322] Array out of bounds in [past.tav]' past.log || { fail "past: message"; cat past.log; }
[ -e past.exe ] && fail "past: image written"

passed "members: all checks passed"
