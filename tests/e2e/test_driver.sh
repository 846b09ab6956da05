#!/usr/bin/env bash
# The program run as a process: usage, missing input, exit codes, the pause,
# the log file and console colours.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# run NAME ARGS...: output in $work/NAME.out, exit code in $rc; stdin at its end.
run() {
  local name=$1; shift
  "$tavik" "$@" </dev/null >"$name.out" 2>"$name.err"
  rc=$?
}
has() { grep -qxF -- "$2" "$1.out" || fail "$1: no line '$2'"; }
hasnt() { ! grep -qF -- "$2" "$1.out" || fail "$1: unexpected '$2'"; }
code() { [ "$rc" = "$2" ] || fail "$1: exit code $rc, expected $2"; }
# The line right after the one given.
after() { awk -v l="$2" 'found { print; exit } $0 == l { found = 1 }' "$1.out"; }

# No argument: banner, usage, pause, exit 0.
run usage
code usage 0
has usage "usage: tavik.exe c:/file.tav"
has usage 'arguments: -out c:/file.exe -nopause -writelog -i "includepath"'
has usage "Press the [enter] key to exit."
[ "$(after usage 'arguments: -out c:/file.exe -nopause -writelog -i "includepath"')" = "Press the [enter] key to exit." ] \
  || fail "usage: prompt does not follow the usage lines"
head -6 usage.out | awk 'length($0) != 58 { bad = 1 } END { exit bad }' || fail "usage: banner lines are not 58 wide"
[ "$(head -1 usage.out)" = "$(printf '%058d' 0 | tr 0 '*')" ] || fail "usage: banner top line"
grep -qE '^\*\*     Tavik Assembler [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+ +\*\*$' usage.out || fail "usage: version line"
grep -q $'\e' usage.out && fail "usage: escape codes while redirected"

# A missing source: reported before the options are read; it pauses
# unless -nopause is given, first or last.
run missing nothere.tav
code missing 1
has missing "[001] Input file does not exist nothere.tav"
[ "$(after missing '[001] Input file does not exist nothere.tav')" = "Press the [enter] key to exit." ] \
  || fail "missing: prompt does not follow the message"
run missingnp nothere.tav -nopause
code missingnp 1
has missingnp "[001] Input file does not exist nothere.tav"
hasnt missingnp "Press the [enter] key to exit."
run optfirst -nopause x.tav
code optfirst 1
has optfirst "[001] Input file does not exist -nopause"
hasnt optfirst "Press the [enter] key to exit."

# With -nopause nothing waits for input, on any path: stdin is a pipe whose
# writer stays and never writes, so a read would not return. The timeout
# only keeps a fault from hanging the test.
mkfifo held.fifo
sleep 600 >held.fifo &
holder=$!
exec 3<held.fifo
printf "program pe32_cui 'ok';\nretn;\n" >okheld.tav
while IFS='|' read -r name want args; do
  # shellcheck disable=SC2086
  timeout 60 "$tavik" $args <&3 >"$name.out" 2>&1
  rc=$?
  [ "$rc" = 124 ] && fail "$name: waited for input with -nopause"
  code "$name" "$want"
  hasnt "$name" "Press the [enter] key to exit."
done <<'CASES'
heldlast|1|missing.tav -nopause
heldfirst|1|-nopause missing.tav
heldvalue|1|missing.tav -out -nopause
heldbad|1|nosuchfile.tav -i inc -nopause -x
heldok|0|okheld.tav -o other.exe -nopause
CASES
has heldlast "[001] Input file does not exist missing.tav"
has heldfirst "[001] Input file does not exist -nopause"
exec 3<&-
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

# Arguments it does not know are named in a warning, and the build goes on;
# an option given again replaces the first, with a warning.
printf "program pe32_cui 'ok';\nretn;\n" >ok.tav
mkdir -p inc1 inc2
run warn ok.tav -o other.exe -nopause -i inc1 -i inc2 -out a -out b -Out c
code warn 0
has warn 'Warning: [005] Unknown argument "-o" is ignored'
has warn 'Warning: [005] Unknown argument "other.exe" is ignored'
has warn 'Warning: [005] Unknown argument "-Out" is ignored'
has warn 'Warning: [005] Unknown argument "c" is ignored'
has warn 'Warning: [007] A second -i: "inc2" replaces "inc1"'
has warn 'Warning: [007] A second -out: "b" replaces "a"'
[ "$(grep -c '^Warning: ' warn.out)" = 6 ] || fail "warn: $(grep -c '^Warning: ' warn.out) warnings, expected 6"
grep -qE '^Build Complete - ' warn.out || fail "warn: the build did not go on"
[ -s b.exe ] && [ ! -e other.exe ] && [ ! -e a.exe ] || fail "warn: outputs $(ls ./*.exe)"
[ "$(cat ok.build.bat)" = "$(printf '"%s" "%s/ok.tav" -i "inc2" -out "b"' "$(readlink -f "$tavik")" "$PWD")" ] ||
  fail "warn: batch file holds '$(cat ok.build.bat)'"
run warnlast ok.tav -nopause -out
has warnlast 'Warning: [006] -out stands last, without a value: the output is named after the source'
run warnnone ok.tav -nopause -writelog
[ "$(grep -c 'Warning' warnnone.out)" = 0 ] || fail "warnnone: warned of known options"

run folder "$work"
code folder 1
has folder "[001] Input file does not exist $work"

# A source that cannot be built: exit 1 with or without the pause, never
# "Compile OK", no batch file.
mkdir sub
printf 'this is not a project\n' >sub/bad.tav
run badnp sub/bad.tav -nopause
code badnp 1
hasnt badnp "Compile OK"
hasnt badnp "Press the [enter] key to exit."
[ -s badnp.out ] && [ "$(tail -c 1 badnp.out | od -An -c | tr -d ' ')" = '\n' ] || fail "badnp: last line not flushed"
run badp sub/bad.tav -x -out
code badp 1
has badp 'Warning: [005] Unknown argument "-x" is ignored'

hasnt badp "Compile OK"
has badp "Press the [enter] key to exit."
[ -e sub/bad.build.bat ] && fail "batch file left after a failed build"

# A project that builds, run from the folder above it: the timing lines, the
# output beside the source, and the batch file, left alone once it is there.
printf "program pe32_cui 'ok';\nxor eax, eax;\nretn;\n" >sub/prog.tav
cp sub/prog.tav sub/bare
secs='[0-9]+(\.[0-9]{0,3}[1-9])? second\(s\)'
run okp sub/prog.tav
code okp 0
grep -qxE "Compile OK - [0-9]+ lines, 2 files, $secs" okp.out || fail "okp: no Compile OK line"
grep -E '^(Compile OK|Link OK|Build Complete) - ' okp.out | cut -d' ' -f1 | tr '\n' ' ' \
  | grep -x 'Compile Link Build ' >/dev/null || fail "okp: timing lines out of order"
grep -qxE "Link OK - $secs" okp.out || fail "okp: no Link OK line"
grep -qxE "Build Complete - $secs" okp.out || fail "okp: no Build Complete line"
[ "$(tail -1 okp.out)" = "Press the [enter] key to exit." ] || fail "okp: no pause prompt at the end"
[ -s sub/prog.exe ] || fail "okp: no sub/prog.exe"
[ -e prog.exe ] && fail "okp: output written to the calling folder"
expected_bat=$(printf '"%s" "%s/sub/prog.tav"' "$(readlink -f "$tavik")" "$PWD")
[ "$(cat sub/prog.build.bat)" = "$expected_bat" ] || fail "okp: batch file holds '$(cat sub/prog.build.bat)'"
[ "$(tail -c 1 sub/prog.build.bat | od -An -c | tr -d ' ')" = '"' ] || fail "okp: batch file ends in a line break"
[ "$(ls sub | grep -c tmp)" = 0 ] || fail "okp: a temporary file left: $(ls sub)"
printf 'mine' >sub/prog.build.bat
run oknp "$work/sub/prog.tav" -nopause -out named
code oknp 0
hasnt oknp "Press the [enter] key to exit."
[ "$(cat sub/prog.build.bat)" = mine ] || fail "oknp: existing batch file rewritten"
[ -s sub/named.exe ] || fail "oknp: -out name not used beside the source"
# An output file that cannot be created: the exception's class name and
# message on a line of their own, exit 1 with or without the pause, nothing
# after it, no batch file.
cp sub/prog.tav sub/noout.tav
for mode in pause nopause; do
  opts=(-out nodir/x); [ $mode = nopause ] && opts+=(-nopause)
  run "noout_$mode" sub/noout.tav "${opts[@]}"
  code "noout_$mode" 1
  grep -qx 'EFCreateError: Cannot create file "nodir/x.exe". .*' "noout_$mode.out" || fail "noout_$mode: no EFCreateError line"
  hasnt "noout_$mode" "Build Complete"
done
has noout_pause "Press the [enter] key to exit."
hasnt noout_nopause "Press the [enter] key to exit."
[ -e sub/noout.build.bat ] && fail "noout: batch file left after a failed build"
# The batch file repeats the build with its -i and -out, from any folder:
# it is a plain command line, which sh runs here as cmd would.
mkdir -p rep/lib rep/out
printf "program pe32_cui 'rep';\n#include 'part.tav';\nretn;\n" >rep/r.tav
printf "nop;\n" >rep/lib/part.tav
run rep rep/r.tav -i lib -out out/made -nopause
code rep 0
[ "$(cat rep/r.build.bat)" = "$(printf '"%s" "%s/rep/r.tav" -i "lib" -out "out/made"' "$(readlink -f "$tavik")" "$PWD")" ] ||
  fail "rep: batch file holds '$(cat rep/r.build.bat)'"
mv rep/out/made.exe rep/first.exe
(cd / && sh "$work/rep/r.build.bat" </dev/null >"$work/rep.again" 2>&1) || fail "rep: the batch file's build failed: $(cat rep.again)"
cmp -s rep/first.exe rep/out/made.exe || fail "rep: the batch file did not build the same image"
# A folder with % in its name: doubled, as cmd expands it.
mkdir -p "pc/50%"
cp sub/prog.tav "pc/50%/p.tav"
run pc "pc/50%/p.tav" -nopause
[ "$(cat "pc/50%/p.build.bat")" = "$(printf '"%s" "%s/pc/50%%%%/p.tav"' "$(readlink -f "$tavik")" "$PWD")" ] ||
  fail "pc: batch file holds '$(cat "pc/50%/p.build.bat")'"

# No extension: the whole name is the output name and the batch file's stem.
run bare sub/bare -nopause
code bare 0
[ -s sub/bare.exe ] || fail "bare: no sub/bare.exe"
[ -f sub/bare.build.bat ] || fail "bare: no sub/bare.build.bat"

# -writelog appends a section per run to log.txt beside the executable.
mkdir exe
cp "$tavik" exe/tavik
for i in 1 2; do exe/tavik sub/bad.tav -writelog </dev/null >log$i.out 2>&1; done
/usr/bin/python3 - exe/log.txt <<'PY' || fail "log file sections"
import sys
data = open(sys.argv[1], "rb").read()
dash = b"-" * 30
assert data.count(b"LOG STARTED") == 2, data
assert data.startswith(b"\r\n" + dash + b"\r\nLOG STARTED\r\n"), data
sections = data.split(b"\r\n" + dash + b"\r\nLOG STARTED\r\n")[1:]
for s in sections:
    assert s.endswith(b"Press the [enter] key to exit.\r\n\r\n" + dash + b"\r\n\r\n"), s
    assert b"*****" not in s, "banner is printed before -writelog"
assert b"\n" not in data.replace(b"\r\n", b""), "bare LF in the log"
PY
# The installed program writes build/bin/log.txt.
cp sub/bad.tav "sub/unique_$$.tav"
before=$(stat -c %s "$bin/log.txt" 2>/dev/null || echo 0)
"$tavik" "sub/unique_$$.tav" -writelog -nopause </dev/null >/dev/null 2>&1
tail -c +$((before + 1)) "$bin/log.txt" | grep "LOG STARTED" >/dev/null || fail "build/bin/log.txt: no new section"
tail -c +$((before + 1)) "$bin/log.txt" | grep "unique_$$" >/dev/null || fail "build/bin/log.txt: message missing"

# On a terminal: ANSI colours (14 banner, 7 messages, 12 errors) and the title.
if command -v script >/dev/null; then
  script -qec "'$tavik' </dev/null" /dev/null </dev/null >tty.out 2>&1
  grep -qF $'\e]0;Tavik Assembler ' tty.out || fail "tty: no title sequence"
  grep -qF $'\e[0;93m****' tty.out || fail "tty: banner not in colour 14"
  grep -qF $'\e[0musage: tavik.exe' tty.out || fail "tty: usage not in colour 7"
  script -qec "'$tavik' nothere.tav </dev/null" /dev/null </dev/null >tty2.out 2>&1
  grep -qF $'\e[0;91m[001] Input file does not exist nothere.tav' tty2.out || fail "tty: error not in colour 12"
else
  echo "script(1) missing: terminal colours not checked"
fi

passed "all driver checks passed"
