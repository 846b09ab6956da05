#!/usr/bin/env bash
# The program loads the plug-ins beside it: the "PlugSys: " lines in their
# order and colours, skipped files, and the shipped folder holding Morvel only.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
build=${TAVIK_BUILD_DIR:?}
testlib=$build/tests/plugins/lib
[ -f "$testlib/writer.dll" ] || { echo "test plug-ins not built"; exit 1; }

mkdir -p exe/plugins sub
cp "$bin/tavik" exe/tavik
cp "$testlib/writer.dll" exe/plugins/a_writer.dll
cp "$testlib/noentry.dll" exe/plugins/b_noentry.dll
cp "$testlib/notlib.dll" exe/plugins/c_notlib.dll
cp "$testlib/twice.dll" exe/plugins/d_twice.dll
cp "$bin/plugins/morvel.dll" exe/plugins/morvel.dll
printf 'program pe32_cui "x";\n' >sub/p.tav

exe/tavik sub/p.tav -nopause </dev/null >run.out 2>run.err
cat >expected.out <<'OUT'
PlugSys: writer ids: 0 1 2 3
PlugSys: Test Writer plugin was loaded!
PlugSys: b_noentry.dll skipped - plugin does not have entry function "onEntry"
PlugSys: c_notlib.dll skipped - not a valid plugin
PlugSys: twice ids: 4 -1 -1 -1
PlugSys: Twice plugin was loaded!
PlugSys: Tavik Linker plugin was loaded!
OUT
# Loaded right after the banner, before the project is read.
sed -n '7,13p' run.out | diff expected.out - || fail "plug-in lines and their order"
[ "$(grep -c '^PlugSys: ' run.out)" = 7 ] || fail "PlugSys lines reported more than once"
grep -q $'\e' run.out && fail "escape codes while redirected"

# On a terminal: 10 for a loaded plug-in, 12 for a skipped file, 6 for a
# plug-in's own message.
if command -v script >/dev/null; then
  script -qec "exe/tavik sub/p.tav -nopause </dev/null" /dev/null </dev/null >tty.out 2>&1
  grep -qF $'\e[0;33mPlugSys: writer ids: 0 1 2 3' tty.out || fail "tty: plug-in message not in colour 6"
  grep -qF $'\e[0;92mPlugSys: Test Writer plugin was loaded!' tty.out || fail "tty: loaded line not in colour 10"
  grep -qF $'\e[0;91mPlugSys: b_noentry.dll skipped' tty.out || fail "tty: skipped line not in colour 12"
  grep -qF $'\e[0;91mPlugSys: c_notlib.dll skipped' tty.out || fail "tty: skipped line not in colour 12"
else
  echo "script(1) missing: terminal colours not checked"
fi

# No plugins folder: nothing loaded, nothing said while loading; the header
# then names the folder searched and what was missing there: the folder, a
# plug-in in it, or a builder in the plug-ins.
rm -rf exe/plugins
exe/tavik sub/p.tav -nopause </dev/null >none.out 2>&1
grep -q 'PlugSys' none.out && fail "messages without a plugins folder"
plugdir=$(readlink -f exe)/plugins/
while IFS='|' read -r what files why; do
  rm -rf exe/plugins
  [ "$what" = nofolder ] || mkdir exe/plugins
  for f in $files; do cp "$testlib/$f" exe/plugins/; done
  exe/tavik sub/p.tav -nopause </dev/null >"$what.out" 2>&1
  rc=$?
  [ "$rc" = 1 ] || fail "$what: exit code $rc"
  grep -qxF "[1,16]: [0002] Unknown application type PE32_CUI: ${why/DIR/$plugdir} in [p.tav]" "$what.out" ||
    fail "$what: $(grep '0002' "$what.out")"
done <<'CASES'
nofolder||no plug-in was found, as there is no folder DIR
empty||no plug-in was found in DIR
notplugins|noentry.dll notlib.dll|no plug-in was found in DIR
nobuilder|longname.dll|no plug-in in DIR has a builder
CASES

# The shipped program: Morvel alone, under its display name.
ls "$bin/plugins" >shipped.txt
[ "$(cat shipped.txt)" = "morvel.dll" ] || fail "bin/plugins holds more than morvel.dll: $(tr '\n' ' ' <shipped.txt)"
"$bin/tavik" sub/p.tav -nopause </dev/null >shipped.out 2>&1
[ "$(grep '^PlugSys: ' shipped.out)" = "PlugSys: Tavik Linker plugin was loaded!" ] || fail "shipped plug-ins"

# Builds through the test plug-ins: the builder's start event, the image it
# writes, its extension, and no file at all when it ends with a fatal message.
mkdir -p run/plugins proj
cp "$bin/tavik" run/tavik
cp "$testlib/writer.dll" "$testlib/inject.dll" "$testlib/fatal.dll" run/plugins/
# build NAME BUILDER: proj/NAME.tav under BUILDER; output in NAME.log, exit code in $rc.
build() {
  printf "program %s 'x';\n#ifdef INJECTED: #echo seen #end\n#echo bits\nnop;\n" "$2" >"proj/$1.tav"
  run/tavik "proj/$1.tav" -nopause </dev/null >"$1.log" 2>&1
  rc=$?
}
outputs() { (cd proj && ls | grep -v '\.tav$' | tr '\n' ' '); }

build w test_writer
[ "$rc" = 0 ] || fail "writer: exit code $rc"
# "TW", the function count and 0xEE, rtlmain's code (nop, the closing ret),
# the length before the tail.
[ "$(od -An -tx1 proj/w.out | tr -s ' \n' ' ')" = " 54 57 01 ee 90 c3 06 00 00 00 " ] || fail "writer: image bytes"
grep -qx 'PlugSys: start: len 0 add 0 code 0 res 0 replace 0 buf nil' w.log || fail "writer: start event"
grep -q '^Link OK - ' w.log && grep -q '^Build Complete - ' w.log || fail "writer: no Link OK and Build Complete"
[ "$(outputs)" = "w.build.bat w.out " ] || fail "writer: files $(outputs)"

build i inject
[ "$rc" = 0 ] || fail "inject: exit code $rc"
# The injected defines and #set reach the project from its first line on.
sed -n '/^PlugSys: Test Writer/,$p' i.log | grep -v Warning | head -3 >i.got
printf 'PlugSys: Test Writer plugin was loaded!\nseen\n32\n' | diff - i.got >/dev/null || fail "inject: $(cat i.got)"
grep -qx 'PlugSys: func_execute answered 1' i.log || fail "inject: answer"
[ -f proj/i.bin ] && [ ! -s proj/i.bin ] || fail "inject: no empty i.bin"

while IFS='|' read -r name builder line; do
  rm -f proj/*
  build "$name" "$builder"
  [ "$rc" = 1 ] || fail "$builder: exit code $rc, expected 1"
  grep -qxF -- "$line" "$name.log" || fail "$builder: no line '$line': $(grep -F PlugSys "$name.log" | tail -1)"
  grep -q 'Link OK' "$name.log" && fail "$builder: reported Link OK"
  # A plug-in's fatal message has no place in the source.
  case $line in PlugSys:*) grep -q '^Code: ' "$name.log" && fail "$builder: a code excerpt";; esac
  [ -z "$(outputs)" ] || fail "$builder: left $(outputs)"
done <<'CASES'
fs|fatal_start|PlugSys: stopped at the start
fb|fatal_build|PlugSys: fatal plug-in, builder 1
fc|fatal_committed|PlugSys: fatal plug-in, builder 2
fi|throws_int|PlugSys: builder THROWS_INT raised an exception the assembler does not know
ib|inject_bad|[2,12]: [7717] Unexpected symbol ; in [plugin buffer]
il|inject_late|PlugSys: func_execute: source text handed in after the compilation has ended
CASES

# Copies of Morvel cut short are skipped like any file that is no plug-in;
# the whole one beside them still loads.
mkdir -p cut/plugins
cp "$bin/tavik" cut/tavik
for n in 0 1 1000 20000; do head -c $n "$bin/plugins/morvel.dll" >cut/plugins/cut$n.dll; done
cp "$bin/plugins/morvel.dll" cut/plugins/whole.dll
cut/tavik sub/p.tav -nopause </dev/null >cut.out 2>&1
grep -q 'Bus error\|Segmentation' cut.out && fail "cut copies: crashed"
for n in 0 1 1000 20000; do
  grep -qx "PlugSys: cut$n.dll skipped - not a valid plugin" cut.out || fail "cut copy of $n bytes not skipped"
done
grep -qx 'PlugSys: Tavik Linker plugin was loaded!' cut.out || fail "cut copies: the whole one not loaded"

# A run killed in the middle of the build keeps what it printed, in a
# redirected output and in the log.
mkdir -p kill/plugins
cp "$bin/tavik" kill/tavik
cp "$testlib/killer.dll" kill/plugins/
printf "program kill_self 'x';\nnop;\n" >proj/k.tav
kill/tavik proj/k.tav -nopause -writelog </dev/null >k.out 2>&1
rc=$?
[ "$rc" = 137 ] || fail "killed run: exit code $rc, expected 137"
# The banner comes before -writelog is read, so only the console has it.
grep -q '^\*\*     Tavik Assembler ' k.out || fail "killed run: no banner"
for f in k.out kill/log.txt; do
  grep -q 'PlugSys: Killer plugin was loaded!' "$f" || fail "killed run: no plug-in line in $f"
  grep -q '^Compile OK - ' "$f" || fail "killed run: no Compile OK in $f"
  grep -q 'PlugSys: about to be killed' "$f" || fail "killed run: no plug-in message in $f"
done

# A finished build ends at once, yet its log is closed.
mkdir -p fin/plugins
cp "$bin/tavik" fin/tavik
cp "$bin/plugins/morvel.dll" fin/plugins/
printf "program pe32_cui 'f';\nnop;\n" >proj/f.tav
fin/tavik proj/f.tav -nopause -writelog </dev/null >f.out 2>&1 || fail "finished run: exit code $?"
[ -f proj/f.exe ] || fail "finished run: no image"
[ "$(tr -d '\r' <fin/log.txt | tail -n 2 | head -n 1)" = "$(printf '%030d' 0 | tr 0 -)" ] || fail "finished run: log not closed"

passed "all plug-in loader checks passed"
