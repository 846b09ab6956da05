#!/usr/bin/env bash
# Include-once through the program with Morvel's start text: the record of
# included files is apart from the defines and keyed by the file found.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# check NAME CODE TEXT: p.tav holding TEXT (after the header) builds with
# exit code CODE; its output in NAME.log.
check() {
  printf "program pe32_cui 'x';\n%b" "$3" >p.tav
  "$tavik" p.tav -nopause </dev/null >"$1.log" 2>&1
  rc=$?
  [ "$rc" = "$2" ] || fail "$1: exit code $rc, expected $2: $(tail -3 "$1.log")"
}
mkdir -p sub
printf 'win32_marker:\nnop;\n' >win32
printf 'twice_marker:\nnop;\n' >once.tav
printf '#include "sub/../once.tav"\n' >sub/again.tav

# Names the start text defines are no include records.
check win32 0 "#include 'WIN32'\nentry win32_marker;\n"
check cui 1 "#include 'apptype_cui'\n"
grep -qF '[1448] Included file not found "apptype_cui"' cui.log || fail "apptype_cui: $(tail -2 cui.log)"
# A missing file stays missing after a tryinclude.
check try 1 "#tryinclude 'gone.tav'\n#include 'gone.tav'\n"
grep -qF '[0010] Include file not found "gone.tav"' try.log || fail "tryinclude: no warning"
grep -qF '[1448] Included file not found "gone.tav"' try.log || fail "tryinclude then include: $(tail -2 try.log)"
# One file under three spellings is taken once (a second one would
# redeclare its label).
check once 0 "#include 'once.tav'\n#include 'sub/again.tav'\n#include './sub/../ONCE.TAV'\n"
grep -q '4 files' once.log || fail "once: $(grep Compile once.log)"

passed "all include checks passed"
