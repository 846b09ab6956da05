#!/usr/bin/env bash
# The Windows program (build-win32/bin, made by scripts/build-win32.sh) under
# wine: on the examples and a set of projects it writes the Linux build's
# images byte for byte, prints the same messages (timings aside) and ends with
# the same exit codes, failures included; a non-ASCII file name; the plug-in
# folder with a plug-in written in C; the version resource behind the banner;
# morvel.dll exporting onEntry alone; nothing needed beside the two files.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
src=${TAVIK_SOURCE_DIR:?}
winbin=${TAVIK_WIN32_BIN_DIR:-$src/build-win32/bin}
here=$src/tests/e2e/win32

# A missing part skips the test, unless the run must have the Windows build.
skip() {
  [ "${TAVIK_WIN32_REQUIRED:-0}" = 1 ] && { echo "FAIL: $1"; exit 1; }
  echo "$1: skipped"
  exit 77
}
[ -f "$winbin/tavik.exe" ] && [ -f "$winbin/plugins/morvel.dll" ] ||
  skip "no Win32 build in $winbin (scripts/build-win32.sh makes it)"
command -v i686-w64-mingw32-gcc >/dev/null || skip "i686-w64-mingw32-gcc is missing"
use_wine || skip "wine is not installed"
export LC_ALL=C.UTF-8

winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# ---- the cases: one folder each, run on both builds --------------------------
mkdir -p cases
add() { mkdir -p "cases/$1" && cp -r "${@:2}" "cases/$1/"; }
add hello "$src/examples/hello.tav"
add greet "$src/examples/greetlib.tav" "$src/examples/greet.tav"
add boot "$src/examples/boot.tav"
add floats "$here/floats.tav"
add incl "$here/incl/." "$src/tests/fixtures/res/one.res"
# The guide's example programs, each in a copy of their folder.
for f in "$src"/docs/examples/*.tav; do
  [ -f "$f" ] && grep -q '^program ' "$f" || continue
  n=guide_$(basename "$f" .tav)
  add "$n" "$src/docs/examples/."
  mv "cases/$n/$(basename "$f")" "cases/$n/$n.tav"
done
for f in "$src"/tests/fuzz/corpus_compile_fuzzer/*.tav; do
  n=corpus_$(basename "$f" .tav)
  mkdir -p "cases/$n"
  { printf "program pe32_cui '%s';\n" "$n"; cat "$f"; } >"cases/$n/$n.tav"
done
# Failures: exit code 1, the message, no image.
while IFS='|' read -r name text; do
  mkdir -p "cases/$name"
  printf "program pe32_cui 'x';\n%b\n" "$text" >"cases/$name/$name.tav"
done <<'CASES'
syntax|nop;\nfoo bar baz;
nolabel|jmp nowhere;
noinclude|#include 'nothere.tav';
nores|#resource 'gone.res';
zerodiv|#x = 1 / 0;
invalid|#x = 0 / 0;
intdiv|#x = 0 or 5 / 0;
modzero|#x = 7 mod 0;
intmin|#x = 0 or -2147483648 / -1;
range|#x = 9223372036854775807 * 4;
raise|nop;\n#raise 'Stopped by the source'
CASES
mkdir -p cases/nobuilder && printf "program nosuch 'x';\nnop;\n" >cases/nobuilder/nobuilder.tav
# Stopped by Morvel while it lays the image out.
mkdir -p cases/bootbig && printf "program raw_image 'x';\n#repeat 600: nop; #end\n" >cases/bootbig/bootbig.tav
mkdir -p cases/noinput
# Named resources, names refused, and what a boot image leaves out.
add names "$src/tests/fixtures/res/zeros.res" "$src/tests/fixtures/res/named.res" "$src/tests/fixtures/res/umlaut.res"
printf "program pe32_dll 'names';\n#resource 'zeros.res';\n#resource 'named.res';\n" >cases/names/names.tav
add umlautres "$src/tests/fixtures/res/umlaut.res"
printf "program pe32_cui 'x';\n#resource 'umlaut.res';\n" >cases/umlautres/umlautres.tav
mkdir -p cases/umlautlib && printf "program pe32_cui 'x';\nimports('d\xc3\xa4t.dll') { procedure P(); }\nP();\n" \
  >cases/umlautlib/umlautlib.tav
add bootdrop "$src/tests/fixtures/res/one.res"
printf "program raw_image 'x';\n#resource 'one.res';\nimports('k.dll') { procedure P(); }\nprocedure Q() { nop; }\nexports Q;\nhlt;\n" \
  >cases/bootdrop/bootdrop.tav
# Arguments it does not know: warned of, on both alike.
mkdir -p cases/warn && printf "program pe32_cui 'x';\nnop;\n" >cases/warn/warn.tav

# Runs: folder and arguments, in this order.
runs=()
for d in cases/*/; do
  d=$(basename "$d")
  case $d in
    greet) runs+=("greet greetlib.tav" "greet greet.tav") ;;
    noinput) runs+=("noinput missing.tav") ;;
    warn) runs+=("warn warn.tav -o other.exe -out a -out b") ;;
    *) runs+=("$d $d.tav") ;;
  esac
done
# A non-ASCII name on the command line: that run starts by itself, not
# from a batch file.
mkdir -p cases/unicode
printf "program pe32_cui 'x';\n#include 'ünï.tav';\nnop;\n" >cases/unicode/grüße.tav
printf "mov eax, 1;\n" >cases/unicode/ünï.tav

cp -r cases lin
cp -r cases win
mkdir -p wexe
cp -r "$winbin/." wexe/

# Linux
i=0
for r in "${runs[@]}"; do
  i=$((i + 1))
  set -- $r
  (cd "lin/$1" && "$tavik" "${@:2}" -nopause </dev/null >"../run$i.out" 2>&1; echo $? >"../run$i.rc")
done
(cd lin/unicode && "$tavik" grüße.tav -nopause </dev/null >../runu.out 2>&1; echo $? >../runu.rc)

# Windows: every run in one batch file, one start of wine.
wexe=$(winpath "$work/wexe/tavik.exe")
{
  echo "@echo off"
  i=0
  for r in "${runs[@]}"; do
    i=$((i + 1))
    set -- $r
    echo "cd /d $(winpath "$work/win/$1")"
    echo "\"$wexe\" ${*:2} -nopause <nul >..\\run$i.out 2>&1"
    echo ">..\\run$i.rc echo %ERRORLEVEL%"
  done
  # The plug-in folder: a plug-in in C, one without the entry, a file that
  # is no library (suffix in capitals), one that is no plug-in by its name.
  echo "cd /d $(winpath "$work/plug/proj")"
  echo "..\\tavik.exe c.tav -nopause -writelog <nul >..\\run.out 2>&1"
  echo ">..\\run.rc echo %ERRORLEVEL%"
} >win/run.bat

mkdir -p plug/plugins plug/proj
cp wexe/tavik.exe plug/
cp -r wexe/includes plug/
cp wexe/plugins/morvel.dll plug/plugins/
i686-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Werror -shared -static-libgcc -I"$src/include" \
  -o plug/plugins/a_cplugin.dll "$here/cplugin.c" -Wl,--kill-at || fail "the C plug-in does not build"
i686-w64-mingw32-gcc -std=c11 -O2 -w -shared -I"$src/include" \
  -o plug/plugins/b_noentry.dll "$src/tests/plugins/noentry.c" || fail "noentry.dll does not build"
cp "$src/tests/plugins/notlib.dll.in" plug/plugins/c_notlib.DLL
echo "no plug-in" >plug/plugins/d_readme.txt
printf "program c_image 'x';\n#ifdef C_PLUGIN: nop; #end\nnop;\n" >plug/proj/c.tav

(cd win && timeout 300 wine cmd /c run.bat </dev/null >bat.out 2>bat.err) || true
(cd win/unicode && timeout 120 wine "$wexe" grüße.tav -nopause </dev/null >../runu.out 2>&1; echo $? >../runu.rc)

# ---- same images, messages and exit codes ------------------------------------
failing="syntax noinclude nores zerodiv invalid intdiv modzero intmin range raise bootbig nolabel nobuilder noinput"
norm() { sed -E 's/[0-9.]+ second\(s\)/T second(s)/' "$1"; }
i=0
for r in "${runs[@]}" "unicode grüße.tav"; do
  i=$((i + 1))
  set -- $r
  k=$i
  [ "$1" = unicode ] && k=u
  [ -f "win/run$k.rc" ] || { fail "$1 $2: the Windows run did not end"; continue; }
  lrc=$(cat "lin/run$k.rc")
  wrc=$(tr -d '\r' <"win/run$k.rc")
  [ "$lrc" = "$wrc" ] || fail "$1 $2: exit code $wrc, Linux $lrc"
  [[ " $failing " == *" $1 "* ]] && [ "$wrc" != 1 ] && fail "$1: exit code $wrc, expected 1"
  norm "lin/run$k.out" >l.txt
  norm "win/run$k.out" >w.txt
  diff l.txt w.txt >d.txt || { fail "$1 $2: messages differ"; head -20 d.txt; }
done
# The files each run left, the batch file aside (it names the program).
for d in cases/*/; do
  d=$(basename "$d")
  files=$(cd "lin/$d" && find . -type f ! -name '*.build.bat' | sort)
  wfiles=$(cd "win/$d" && find . -type f ! -name '*.build.bat' | sort)
  [ "$files" = "$wfiles" ] || { fail "$d: files $(echo $wfiles), Linux $(echo $files)"; continue; }
  for f in $files; do
    cmp -s "lin/$d/$f" "win/$d/$f" || fail "$d: $f differs"
  done
  # A failed run leaves no image.
  [[ " $failing " == *" $d "* ]] && [ "$(echo "$files" | grep -c -v -e '\.tav$' -e '^$')" != 0 ] &&
    fail "$d: failed, and left $(echo $files)"
done
# Images were made (so the comparison compared something).
for f in hello/hello.exe greet/greetlib.dll greet/greet.exe boot/boot.img floats/floats.exe incl/incl.exe \
  "unicode/grüße.exe"; do
  [ -s "win/$f" ] || fail "no $f"
done
# It names the source by its full path, in the console's OEM code page,
# which cmd reads batch files in.
cat >oemcp.c <<'C'
#include <stdio.h>
#include <windows.h>
int main(void) { printf("%u", GetOEMCP()); return 0; }
C
i686-w64-mingw32-gcc -O2 -o oemcp.exe oemcp.c || fail "oemcp.exe does not build"
oemcp=$(timeout 120 wine oemcp.exe </dev/null 2>/dev/null)
[ -n "$oemcp" ] && [ "$oemcp" != 65001 ] || fail "OEM code page '$oemcp': the test needs one that is not UTF-8"
oem() { iconv -f UTF-8 -t "CP$oemcp"; }
printf '"%s" "%s"' "$wexe" "$(winpath "$work/win/unicode/grüße.tav")" | oem >bat.want
cmp -s bat.want win/unicode/grüße.build.bat || fail "batch file: $(od -c win/unicode/grüße.build.bat | head -5)"
# The batch file repeats the build from a folder outside ASCII, with the
# -i and -out it was given; cmd runs it as it is.
mkdir -p "cp/dür ß/inc é"
printf "program pe32_cui 'x';\n#include 'part.tav';\nnop;\n" >"cp/dür ß/prog.tav"
printf "mov eax, 7;\n" >"cp/dür ß/inc é/part.tav"
(cd "cp/dür ß" && timeout 120 wine "$wexe" prog.tav -i "inc é" -out "é" -nopause </dev/null >../first.out 2>&1) ||
  fail "cp: first build: $(cat "cp/first.out")"
printf '"%s" "%s" -i "inc é" -out "é"' "$wexe" "$(winpath "$work/cp/dür ß/prog.tav")" | oem >cpbat.want
cmp -s cpbat.want "cp/dür ß/prog.build.bat" || fail "cp: batch file: $(od -c "cp/dür ß/prog.build.bat" | head -8)"
mv "cp/dür ß/é.exe" cp/first.exe
(cd "cp/dür ß" && timeout 120 wine cmd /c prog.build.bat </dev/null >../again.out 2>&1)
cmp -s cp/first.exe "cp/dür ß/é.exe" || fail "cp: the batch file did not build the image again: $(tail -3 cp/again.out)"
# A name the code page has no form for: a warning, no batch file.
mkdir -p cp/cjk
printf "program pe32_cui 'x';\nnop;\n" >cp/cjk/日本.tav
(cd cp/cjk && timeout 120 wine "$wexe" 日本.tav -nopause </dev/null >../cjk.out 2>&1) || fail "cjk: exit code $?"
grep -qF "Warning: [008] No batch file $(winpath "$work/cp/cjk/日本.build.bat"): its command has characters" cp/cjk.out ||
  fail "cjk: $(grep -a Warning cp/cjk.out)"
[ -s cp/cjk/日本.exe ] && [ ! -e cp/cjk/日本.build.bat ] || fail "cjk: files $(ls cp/cjk)"
# The console's code page is its own again when the program ends. Wine
# gives a program a console only on a terminal: script makes one.
if command -v script >/dev/null; then
  cat >cpcheck.c <<'C'
#include <stdio.h>
#include <windows.h>
int main(int argc, char** argv) {
    SetConsoleOutputCP(437);
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi;
    char cmd[1024];
    snprintf(cmd, sizeof cmd, "\"%s\" missing.tav -nopause", argc > 1 ? argv[1] : "");
    if (!CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return 2;
    WaitForSingleObject(pi.hProcess, INFINITE);
    printf("cp=%u.", GetConsoleOutputCP());
    return 0;
}
C
  i686-w64-mingw32-gcc -O2 -o cpcheck.exe cpcheck.c || fail "cpcheck.exe does not build"
  timeout 120 script -qec "wine cpcheck.exe '$wexe'" /dev/null </dev/null >cpcheck.out 2>&1
  # Wine's console writes a character at a time, between cursor codes.
  sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' cpcheck.out | tr -d '\r\n' | grep -aq "cp=437\." ||
    fail "console code page after a run: $(tr -cd '[:print:]' <cpcheck.out | tail -c 300)"
fi

# The images run: the DLL's client prints its greeting, the resource project
# ends with the code its included function returns.
(cd win/greet && runexe greet && [ "$rc" = 0 ] && [ -s greet.out ]) || fail "greet.exe under wine"
(cd win/incl && runexe incl && [ "$rc" = 42 ]) || fail "incl.exe under wine: exit code"

# ---- the plug-in folder --------------------------------------------------------
cat >expected.txt <<'OUT'
PlugSys: C Test plugin was loaded!
PlugSys: b_noentry.dll skipped - plugin does not have entry function "onEntry"
PlugSys: c_notlib.DLL skipped - not a valid plugin
PlugSys: Tavik Linker plugin was loaded!
PlugSys: C plug-in: image written
OUT
grep '^PlugSys: ' plug/run.out | diff expected.txt - || fail "plug-in folder: PlugSys lines"
[ "$(tr -d '\r' <plug/run.rc)" = 0 ] || fail "C plug-in build: exit code $(cat plug/run.rc)"
# "CPLG", one function, rtlmain's code: the nop of the define the plug-in
# fed in, the project's nop, ret.
[ "$(od -An -tx1 plug/proj/c.cim 2>/dev/null | tr -s ' \n' ' ')" = " 43 50 4c 47 01 00 00 00 90 90 c3 " ] ||
  fail "C plug-in image: $(od -An -tx1 plug/proj/c.cim 2>/dev/null)"
grep -q 'LOG STARTED' plug/log.txt && grep -q '^PlugSys: C plug-in: image written' plug/log.txt ||
  fail "log.txt beside the program"
# No plug-in folder beside the program: the message names the folder.
mkdir -p noplug
cp wexe/tavik.exe noplug/
printf "program pe32_cui 'x';\nnop;\n" >noplug/p.tav
(cd noplug && timeout 120 wine tavik.exe p.tav -nopause </dev/null >run.out 2>&1)
[ $? = 1 ] || fail "no plug-in folder: exit code, expected 1"
grep -qF "[1,16]: [0002] Unknown application type PE32_CUI: no plug-in was found, as there is no folder $(winpath "$work/noplug/plugins/") in [p.tav]" \
  noplug/run.out || fail "no plug-in folder: $(grep -a 0002 noplug/run.out)"

# ---- on a console ---------------------------------------------------------------
# With a terminal for its console, wine turns the console calls into escape
# sequences: the title, the colours 14, 10 and 12, and the UTF-16 text of a
# message naming a non-ASCII file.
if command -v script >/dev/null; then
  mkdir -p tty
  printf "program pe32_cui 'x';\njmp nowhere;\n" >tty/grüß.tav
  (cd tty && timeout 120 script -qec "wine '$wexe' grüß.tav -nopause </dev/null" /dev/null </dev/null >tty.out 2>&1)
  [ $? = 1 ] || fail "console: exit code, expected 1"
  for want in $'\e]0;Tavik Assembler ' $'\e[93m*****' $'\e[92mPlugSys: Tavik Linker plugin was loaded!' \
    $'\e[91m[2,12]: [00012] Label nowhere does not exist! in [grüß.tav]'; do
    grep -qF "$want" tty/tty.out || fail "console: no '${want#?}'"
  done
else
  echo "script(1) missing: the console calls not checked"
fi

# ---- the files themselves --------------------------------------------------------
version=$(sed -nE 's/^project\(Tavik VERSION ([0-9.]+).*/\1/p' "$src/CMakeLists.txt")
while [ "$(tr -cd . <<<"$version" | wc -c)" -lt 3 ]; do version=$version.0; done
grep -qF "**     Tavik Assembler $version " win/run1.out || fail "banner: no version $version"
/usr/bin/python3 - "$winbin/tavik.exe" "$winbin/plugins/morvel.dll" "$version" <<'PY' || fail "pefile checks"
import sys, pefile
exe, dll, version = sys.argv[1:]
system = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "version.dll", "user32.dll", "advapi32.dll"}
bad = []
for path in (exe, dll):
    pe = pefile.PE(path)
    if pe.FILE_HEADER.Machine != 0x14C: bad.append(f"{path}: machine {pe.FILE_HEADER.Machine:#x}")
    libs = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
    if not libs <= system: bad.append(f"{path}: needs {sorted(libs - system)}")
pe = pefile.PE(exe)
if pe.OPTIONAL_HEADER.Subsystem != 3: bad.append("tavik.exe: not a console program")
fi = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
if fi is None:
    bad.append("tavik.exe: no version resource")
else:
    got = f"{fi.FileVersionMS >> 16}.{fi.FileVersionMS & 0xFFFF}.{fi.FileVersionLS >> 16}.{fi.FileVersionLS & 0xFFFF}"
    if got != version: bad.append(f"tavik.exe: version {got}, expected {version}")
pe = pefile.PE(dll)
names = [s.name for s in pe.DIRECTORY_ENTRY_EXPORT.symbols] if hasattr(pe, "DIRECTORY_ENTRY_EXPORT") else []
if names != [b"onEntry"]: bad.append(f"morvel.dll exports {names}")
for b in bad: print(b)
sys.exit(1 if bad else 0)
PY

passed "Win32 build checks passed"
