#!/usr/bin/env bash
# Sources of several megabytes, whose memory is given back as the reader
# passes it: a message about a line long passed still shows that line, and
# a byte order mark in front changes no position.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
: >tavik.tav

# name|byte order mark|what line 3 holds
while IFS='|' read -r name bom line3; do
  {
    [ "$bom" = 1 ] && printf '\xEF\xBB\xBF'
    printf "program pe32_cui '%s';\nnop;\n%s\n" "$name" "$line3"
    # about 6 MB of instructions after it
    yes '    mov eax, [ebx+ecx*4+8]; add eax, 12345; // filler' | head -n 120000
    printf "nop;\n"
  } >"$name.tav"
  "$tavik" "$name.tav" -nopause </dev/null >"$name.log" 2>&1
  rc=$?
  [ "$rc" = 1 ] || fail "$name: exit code $rc, expected 1"
  grep -qxF "[3,13]: [00012] Label far_away does not exist! in [$name.tav]" "$name.log" ||
    { fail "$name: no positioned message"; cat "$name.log"; }
  grep -A2 -xF 'Code: ' "$name.log" | grep -qxF "$line3" || fail "$name: the code line is not line 3"
  [ -e "$name.exe" ] && fail "$name: an image was written"
done <<'CASES'
plain|0|jmp far_away;
marked|1|jmp far_away;
CASES

# A text of 6 MB builds, every one of its lines read: add eax, 12345 is
# 05 39 30 00 00.
{ printf "program pe32_cui 'big';\n"; yes 'add eax, 12345;' | head -n 400000; } >big.tav
"$tavik" big.tav -nopause </dev/null >big.log 2>&1 || { fail "big: exit code $?"; cat big.log; }
python3 -c "import sys; d = open('big.exe', 'rb').read(); sys.exit(d.count(bytes.fromhex('0539300000')) != 400000)" ||
  fail "big.exe does not hold the 400000 instructions"

passed "large sources: all checks passed"
