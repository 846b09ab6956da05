#!/usr/bin/env bash
# Projects that must fail, through the real program: each ends with exit
# code 1, writes no image and prints its positioned message with the code
# line.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# The projects need nothing of the standard include: an empty one beside them.
: >tavik.tav

# name|source lines (\n between lines)|the message line expected
while IFS='|' read -r name src line; do
  printf "program pe32_cui '%s';\n$src\n" "$name" >"$name.tav"
  "$tavik" "$name.tav" -nopause </dev/null >"$name.log" 2>&1
  rc=$?
  [ "$rc" = 1 ] || fail "$name: exit code $rc, expected 1"
  grep -qxF "$line" "$name.log" || { fail "$name: no line '$line'"; cat "$name.log"; }
  grep -A1 -xF "$line" "$name.log" | grep -qx 'Code: ' || fail "$name: no code line after the message"
  [ -e "$name.exe" ] && fail "$name: an image was written"
done <<'CASES'
zerodiv|const X = 1/0;|[2,14]: EZeroDivide: Floating point division by zero in [zerodiv.tav]
modzero|enum E: byte { A = 7 mod 0 }|[2,27]: EDivByZero: Division by zero in [modzero.tav]
CASES

passed "messages: all checks passed"
