#!/usr/bin/env bash
# Preprocessor messages that say what is wrong, where it is.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# TEXT (after the header) | exit code | a line the output must hold
while IFS='|' read -r text code line; do
  printf "program pe32_cui 'x';\n%b" "$text" >p.tav
  "$tavik" p.tav -nopause </dev/null >p.log 2>&1
  rc=$?
  [ "$rc" = "$code" ] || fail "$text: exit code $rc, expected $code: $(tail -3 p.log)"
  grep -qxF -- "$line" p.log || fail "$text: no line '$line': $(grep -v '^\*\*\|^PlugSys' p.log | head -3)"
done <<'CASES'
#define X 2;\n#define X 2;\n|1|[3,10]: [7719] x is already defined in [p.tav]
#define X;\n#define x 3;\n|1|[3,10]: [7719] x is already defined in [p.tav]
nop;\n  bogus\n|1|[3,8]: [9000] Unexpected ident bogus in [p.tav]
nop;\n  bogus ;\n|1|[3,8]: [9000] Unexpected ident bogus in [p.tav]
nop;\n#end\n|1|[3,5]: Unexpected directive #end outside of a section in [p.tav]
#x = -9223372036854775808;\n#y = -9223372036854775808 + 1;\n#echo $y\n|0|-9223372036854775807
#x = -09223372036854775808 * 1;\n#echo $x\n|0|-9223372036854775808
#x = -9223372036854775809;\n|1|[2,26]: [2498] Number out of range: -9223372036854775809 in [p.tav]
#x = 1 - 9223372036854775808;\n|1|[2,29]: [2498] Number out of range: 9223372036854775808 in [p.tav]
#x = -1 and 3;\n#echo $x\n|0|-1
CASES

passed "all message checks passed"
