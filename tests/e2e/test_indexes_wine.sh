#!/usr/bin/env bash
# Element indexes of arrays and the objects of methods, run under wine: an
# element of a block array with its member after it, the same on locals, a
# byte of a variable that is no array, a method on a member reached through
# a typed register; an index past the end is refused where it stands.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine || passed

# Each check that fails adds its own bit to the exit code.
cat >idx.tav <<'TAV'
program pe32_cui 'idx';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block Pt { dword x; dword y; }
block Pg { dword n; Pt pts[2]; }
block Inner { dword a; dword b; function Sum: dword; }
block Pair { dword pad; Inner first; Inner second; }
function Inner.Sum { mov ecx, this; mov eax, [ecx]; add eax, [ecx+4]; }
Pt line[2];
Pg gp;
Pair duo;
dword arr[3];
dword one;
dword bad;
entry procedure main() {
  dword la[3];
  Pt lp[2];
  dword before;
  mov before, esp;
  mov line[1].x, 11;
  line[1].y = 12;
  mov gp.pts[1].x, 20;
  mov la[1], 5;
  la[2] = 7;
  mov lp[1].y, 100;
  arr[2] = 1000;
  mov one, 0x12345678;
  // line[1] is the second Pt: 8 bytes on; line[0] stays zero.
  mov eax, @line[1]; mov ecx, @line; sub eax, ecx;
  if (eax != 8) { or bad, 1; }
  mov eax, line[1].x; if (eax != 11) { or bad, 2; }
  mov eax, line[1].y; if (eax != 12) { or bad, 2; }
  mov eax, line[0].y; if (eax != 0) { or bad, 2; }
  mov eax, gp.pts[1].x; if (eax != 20) { or bad, 4; }
  mov eax, @la[1]; lea ecx, la; sub eax, ecx;
  if (eax != 4) { or bad, 8; }
  mov eax, la[1]; add eax, la[2]; if (eax != 12) { or bad, 8; }
  mov eax, @lp[1].y; mov ecx, @lp; sub eax, ecx;
  if (eax != 12) { or bad, 16; }
  mov eax, lp[1].y; if (eax != 100) { or bad, 16; }
  mov eax, arr[2]; if (eax != 1000) { or bad, 32; }
  xor eax, eax; mov al, one[1]; if (eax != 0x56) { or bad, 64; }
  // The method's object is duo.second, at esi + 12, as for duo.second.Sum().
  mov duo.second.a, 30;
  mov duo.second.b, 4;
  mov duo.first.a, 1;
  mov esi, @duo;
  esi as Pair;
  esi.second.Sum();
  if (eax != 34) { or bad, 128; }
  duo.second.Sum();
  if (eax != 34) { or bad, 128; }
  esi.first.Sum();
  if (eax != 1) { or bad, 128; }
  mov eax, esp; if (eax != before) { or bad, 128; }
  ExitProcess(bad);
}
TAV
if build idx; then
  runexe idx
  [ "$rc" = 0 ] || fail "idx: exit code $rc (bits of the failed checks), expected 0"
  if have objdump; then
    objdump -d -M intel idx.exe >idx.d
    # The register's object: esi pushed, the member's offset added on the stack.
    grep -A1 -E 'push +esi$' idx.d | grep -qE 'add +DWORD PTR \[esp\],0xc$' ||
      fail "idx: the object of esi.second.Sum() is not esi + 12"
  fi
fi

# The same indexes as macro arguments, in conditions and after sizeof.
cat >forms.tav <<'TAV'
program pe32_cui 'forms';
imports('kernel32.dll') {
  procedure ExitProcess(dword code);
}
block Pt { dword x; dword y; }
Pt line[2];
dword arr[3] = [1, 2, 3];
inline procedure put($a, $b) { mov $a, $b; }
entry procedure main() {
  dword la[2];
  put(line[1].y, 40);
  put(la[1], 2);
  xor eax, eax;
  if (arr[2] == 3) { add eax, 1; }
  if (la[1] == 2) { mov ecx, line[1].y; add eax, ecx; }
  mov ecx, sizeof arr[1]; add eax, ecx;
  mov ecx, sizeof line[1]; add eax, ecx;
  ExitProcess(eax);
}
TAV
if build forms; then
  runexe forms
  # 1 + 40 + 4 (an element of arr) + 8 (an element of line)
  [ "$rc" = 53 ] || fail "forms: exit code $rc, expected 53"
fi

# Past the end of an array, on a global, a local, an element before a
# member, an address, in an operator statement: refused where it stands. A
# variable that is no array keeps its byte reading, up to its size.
while IFS='|' read -r line where message; do
  printf "program pe32_cui 'past';\nblock Pt { dword x; dword y; }\nPt line[2];\ndword arr[3];\ndword one;\n%s\n" \
    "$line" >past.tav
  "$tavik" past.tav -nopause </dev/null >past.log 2>&1
  [ $? = 1 ] || fail "past: '$line' was not refused"
  grep -qF "[$where]: $message in [past.tav]" past.log || { fail "past: '$line': message"; cat past.log; }
  [ -e past.exe ] && fail "past: '$line' wrote an image"
  rm -f past.exe
done <<'CASES'
mov arr[3], 7;|6,11|[5322] Array out of bounds
arr[3] = 7;|6,7|[5322] Array out of bounds
mov eax, @arr[3];|6,17|[5322] Array out of bounds
mov line[2].x, 1;|6,12|[5322] Array out of bounds
procedure p() { dword la[3]; mov la[3], 1; }|6,39|[5322] Array out of bounds
procedure p() { Pt lp[2]; mov lp[-1].x, 1; }|6,37|[5322] Array out of bounds
mov one[4], 1;|6,11|[6523] offset invalid
CASES

# A name declared again with a count is a redeclaration, whatever the count.
printf "program pe32_cui 'again';\ndword arr[3];\ndword arr[9];\n" >again.tav
"$tavik" again.tav -nopause </dev/null >again.log 2>&1
grep -qF '[3,10]: global variable arr redeclared in [again.tav]' again.log || { fail "again: message"; cat again.log; }

passed "indexes: all checks passed"
