#!/usr/bin/env bash
# Where the output goes (never over a file the compilation read, written
# whole or not at all, named as the user gave it) and paths as the user
# gives them.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# run ARGS...: tavik with ARGS; its output in run.log, exit code in $rc.
run() {
  "$tavik" "$@" -nopause </dev/null >run.log 2>&1
  rc=$?
}
cui="program pe32_cui 'x';
nop;"

# ---- The output never replaces what the compilation read ----
mkdir -p same && cd same
printf '%s\n' "$cui" >prog.exe
printf "program raw_image 'b';\n#set bits 16;\nnop;\n" >boot.img
printf "program pe32_cui 'x';\n#include 'lib.exe'\nnop;\n" >main.tav
printf 'nop;\n' >lib.exe
mkdir -p sub && printf '%s\n' "$cui" >sub/q.exe && ln -s sub/q.exe link.tav
cp prog.exe prog.keep; cp boot.img boot.keep; cp lib.exe lib.keep; cp sub/q.exe q.keep
while IFS="|" read -r args replaced; do
  # shellcheck disable=SC2086
  run $args
  [ "$rc" = 1 ] || fail "$args: exit code $rc, expected 1"
  grep -qF "[002] The output file \"$replaced\" would replace" run.log || fail "$args: no message: $(tail -2 run.log)"
  grep -qF "which the compilation read" run.log || fail "$args: message text"
  grep -q '^Link OK' run.log && fail "$args: reported Link OK"
done <<'CASES'
prog.exe|prog.exe
boot.img|boot.img
prog.exe -out prog|prog.exe
main.tav -out lib|lib.exe
link.tav -out sub/q|sub/q.exe
CASES
cmp -s prog.keep prog.exe || fail "prog.exe was changed"
cmp -s boot.keep boot.img || fail "boot.img was changed"
cmp -s lib.keep lib.exe || fail "lib.exe was changed"
cmp -s q.keep sub/q.exe || fail "sub/q.exe was changed"
ls | grep -q '\.tmp' && fail "temporary files left: $(ls)"
cd ..

# ---- A write that fails leaves the file as it was ----
mkdir -p full && cd full
printf '%s\n' "$cui" >p.tav
run p.tav
[ "$rc" = 0 ] && [ -s p.exe ] || fail "first build: exit code $rc"
cp p.exe p.good
# Files may grow to 1 KiB only; the image is larger, so its write fails.
(trap '' XFSZ; ulimit -f 1; "$tavik" p.tav -out p -nopause </dev/null >run.log 2>&1)
rc=$?
[ "$rc" = 1 ] || fail "write past the limit: exit code $rc"
grep -q '^EWriteError: ' run.log || fail "write past the limit: no write error: $(tail -2 run.log)"
cmp -s p.good p.exe || fail "a failed write changed p.exe"
[ "$(ls | grep -c tmp)" = 0 ] || fail "a failed write left $(ls)"
cd ..

# ---- Output names as the user gives them ----
mkdir -p names && cd names
printf '%s\n' "$cui" >p.tav
files() { ls | grep -v '^p\.' | tr '\n' ' '; }
while IFS='|' read -r out expect; do
  rm -rf -- $(files)
  run p.tav -out "$out"
  [ "$rc" = 0 ] || fail "-out $out: exit code $rc: $(tail -2 run.log)"
  rm -f run.log
  [ "$(files)" = "$expect " ] || fail "-out $out: files $(files), expected $expect"
done <<'CASES'
file.exe|file.exe
FILE.EXE|FILE.EXE
file|file.exe
file.img|file.img.exe
CASES
mkdir -p d1
run p.tav -out d1/
[ "$rc" = 1 ] || fail "-out d1/: exit code $rc"
grep -qxF '[003] The output name "d1/" names a folder, not a file' run.log || fail "-out d1/: $(tail -2 run.log)"
[ -z "$(ls -A d1)" ] || fail "-out d1/ wrote $(ls -A d1)"
cd ..

# Through test plug-ins: an empty or nil extension gives no dot, a commit of
# the plug-in's own writes nothing, a false answer leaves no file.
testlib=${TAVIK_BUILD_DIR:?}/tests/plugins/lib
mkdir -p host/plugins proj
cp "$tavik" host/tavik
cp "$testlib/writer.dll" "$testlib/exts.dll" host/plugins/
while IFS='|' read -r builder code expect bytes; do
  rm -f proj/*
  printf "program %s 'x';\nnop;\n" "$builder" >proj/x.tav
  host/tavik proj/x.tav -nopause </dev/null >run.log 2>&1
  rc=$?
  [ "$rc" = "$code" ] || fail "$builder: exit code $rc: $(tail -2 run.log)"
  got=$(cd proj && ls | grep -v '^x\.tav$' | grep -v '\.bat$' | tr '\n' ' ')
  [ "$got" = "$expect" ] || fail "$builder: files '$got', expected '$expect'"
  [ -z "$bytes" ] || [ "$(cat "proj/${expect% }")" = "$bytes" ] || fail "$builder: bytes $(cat "proj/${expect% }")"
done <<'CASES'
test_emptyext|0|x |EX
test_nullext|0|x |EX
test_commit|0|x.bin |ABC
test_false|1||
CASES

# ---- Paths as the user gives them ----
mkdir -p paths/sub paths/Elsewhere && cd paths
printf "program pe32_cui 'x';\n#include '%s/Elsewhere/Lib.tav'\nnop;\n" "$PWD" >sub/abs.tav
printf 'lib_marker:\nnop;\n' >Elsewhere/Lib.tav
# An absolute include is used as it is (its letters' case as on disk).
run sub/abs.tav
[ "$rc" = 0 ] && [ -s sub/abs.exe ] || fail "absolute include: exit code $rc: $(tail -2 run.log)"
grep -q '3 files' run.log || fail "absolute include: file count: $(grep Compile run.log)"
# A missing -i folder is reported, not ignored.
run sub/abs.tav -i no/such/folder
[ "$rc" = 1 ] || fail "missing -i folder: exit code $rc"
grep -qxF '[004] Include folder does not exist no/such/folder/' run.log || fail "missing -i folder: $(tail -2 run.log)"
grep -q '^Compile OK' run.log && fail "missing -i folder: compiled"
# The batch file runs from any folder.
rm -f sub/abs.exe
(cd / && sh "$work/paths/sub/abs.build.bat" </dev/null >/dev/null 2>&1)
[ -s sub/abs.exe ] || fail "batch file run from / built nothing: $(cat sub/abs.build.bat)"
# A source that cannot be read says so.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  printf '%s\n' "$cui" >sub/locked.tav
  chmod 000 sub/locked.tav
  chmod 755 "$work" "$work/paths" "$work/paths/sub"
  setpriv --reuid=65534 --regid=65534 --clear-groups "$tavik" sub/locked.tav -nopause </dev/null >run.log 2>&1
  grep -qxF '[001] Input file cannot be read sub/locked.tav: Permission denied' run.log || fail "unreadable source: $(tail -2 run.log)"
elif [ "$(id -u)" != 0 ]; then
  printf '%s\n' "$cui" >sub/locked.tav
  chmod 000 sub/locked.tav
  run sub/locked.tav
  grep -qxF '[001] Input file cannot be read sub/locked.tav: Permission denied' run.log || fail "unreadable source: $(tail -2 run.log)"
else
  echo "setpriv missing: the unreadable source is not checked"
fi
cd ..

passed "all output file checks passed"
