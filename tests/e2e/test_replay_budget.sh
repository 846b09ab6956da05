#!/usr/bin/env bash
# The budget of text compiled again grows with the program: many calls of a
# small macro compile, text that multiplies itself still stops.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# 700,000 calls of a macro of two instructions: 19 MB expanded from 4.9 MB.
/usr/bin/python3 - <<'PY'
lines = ["program pe32_cui 'x';", "inline procedure two() { mov eax, 1; add eax, 2; }"]
lines += ["two();"] * 700000
open("calls.tav", "w").write("\n".join(lines) + "\n")
PY
"$tavik" calls.tav -nopause </dev/null >calls.log 2>&1
rc=$?
[ "$rc" = 0 ] || fail "700,000 calls: exit code $rc: $(grep -v '^\*\*' calls.log | tail -3)"
# Each call is mov eax, 1 (5 bytes) and add eax, 2 (3 bytes).
size=$(objdump -h calls.exe 2>/dev/null | awk '$2 == ".code" { print $3 }')
[ -n "$size" ] && [ "$((16#$size))" -ge 5600000 ] || fail "700,000 calls: code of 0x$size bytes"

# Calls that fan out 64 times at each of four levels (4000 characters at the
# leaf): 64^4 leaves from a program of a few kilobytes.
/usr/bin/python3 - <<'PY'
src = ["program pe32_cui 'x';", "inline procedure leaf() { /* " + "x" * 4000 + " */ }"]
for name, callee in (("l1", "leaf"), ("l2", "l1"), ("l3", "l2"), ("l4", "l3")):
    src.append("inline procedure %s() {%s }" % (name, " %s();" % callee * 64))
src.append("l4();")
open("fan.tav", "w").write("\n".join(src) + "\n")
PY
"$tavik" fan.tav -nopause </dev/null >fan.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "fan-out: exit code $rc"
grep -q '\[9905\] Repeated sections and macro expansions compile more than ' fan.log || fail "fan-out: $(tail -3 fan.log)"

passed "all replay budget checks passed"
