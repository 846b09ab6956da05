#!/usr/bin/env bash
# The user's guide and its examples: every example builds, those that run
# print or return what the guide says (wine for the PE images, qemu for the
# boot image), every errors/ example fails with the message it names, and
# every code block of the guide is the file it names.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
docs=${TAVIK_SOURCE_DIR:?}/docs
cp -r "$docs/examples/." .

have_wine=0
if use_wine; then
  have_wine=1
  # Windows need a display driver; the null driver makes them off-screen.
  wine reg query 'HKCU\Software\Wine\Drivers' /v Graphics 2>/dev/null </dev/null | grep -q null ||
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
fi
qemu=""
! have qemu-system-i386 || qemu=$(command -v qemu-system-i386)

# NAME EXT EXIT-CODE OUTPUT: OUTPUT is a printf format ('-' for none to check).
# The DLL comes before its client, which needs it beside it.
while read -r name ext code out; do
  build "$name" "$ext" || continue
  [ "$ext" = exe ] && [ $have_wine = 1 ] || continue
  runexe "$name"
  # On a loaded machine wine may not have its desktop up in time for the
  # first window; such a run ends with 1 ("no window could be made").
  tries=1
  while [ "$name" = window ] && [ "$rc" = 1 ] && [ $tries -lt 5 ]; do
    echo "window: no window on run $tries, running it again: $(head -c 300 window.err)"
    sleep $tries
    runexe "$name"
    tries=$((tries + 1))
  done
  [ "$rc" = "$code" ] || fail "$name: exit code $rc, expected $code"
  if [ "$out" != - ]; then
    # shellcheck disable=SC2059
    printf "$out" >"$name.want"
    cmp -s "$name.out" "$name.want" || fail "$name: printed '$(cat -A "$name.out")', expected '$(cat -A "$name.want")'"
  fi
done <<'CASES'
hello exe 0 Hello, Tavik!
data exe 251 -
procs exe 38 called through a pointer\r\ntwice 4 plus triple 10\r\n
blocks exe 60 -
control exe 90 -
macros exe 0 Macros at work\r\nverbose is defined\r\ncount is above 2\r\n27\r\n
mathlib dll - -
mathclient exe 0 gcd of 84 and 36: 12\r\n3 to the 5th: 243\r\n
window exe 7 -
resource exe 0 A string from the string table\r\nRaw bytes of resource 5\r\n
CASES

# #echo prints while compiling, before the compile line.
if [ -s macros.log ]; then
  sed -n '/^PlugSys: Tavik Linker/,/^Compile OK/p' macros.log | sed '1d;$d' >macros.echo
  [ "$(cat macros.echo)" = 3 ] || fail "macros: compile-time output '$(cat macros.echo)', expected 3"
fi

# The resource file is the one its .rc source gives.
windres=$(command -v i686-w64-mingw32-windres || true)
if [ -n "$windres" ]; then
  "$windres" -i resource.rc -O res -o fresh.res && cmp -s fresh.res resource.res ||
    fail "resource.res is not what resource.rc compiles to"
else
  echo "windres is not installed: resource.rc not compiled"
fi

# The boot image prints through the serial port and switches the machine off.
if build boot img && [ -n "$qemu" ]; then
  timeout 20 "$qemu" -display none -serial stdio -drive "file=boot.img,format=raw,if=floppy" \
    -boot a -no-reboot </dev/null >boot.serial 2>boot.qemu
  rc=$?
  [ $rc = 0 ] || fail "boot: qemu exit code $rc (the machine did not switch itself off)"
  printf 'Booted by Tavik: 123\r\n' >boot.want
  cmp -s boot.serial boot.want || fail "boot: serial output '$(cat -A boot.serial)'"
fi

# Each errors/ example names its message on a line "// expect: TEXT".
cd errors || exit 1
for f in *.tav; do
  name=${f%.tav}
  want=$(sed -n 's|^// expect: ||p' "$f")
  [ -n "$want" ] || { fail "errors/$f: no expect line"; continue; }
  "$tavik" "$f" -nopause </dev/null >"$name.log" 2>&1
  rc=$?
  [ $rc = 1 ] || fail "errors/$f: exit code $rc, expected 1"
  grep -qF -- "$want in [$f]" "$name.log" || fail "errors/$f: no message '$want': $(cat "$name.log")"
  ls "$name".* | grep -qv -e '\.tav$' -e '\.log$' && fail "errors/$f: an output file was written"
done
cd ..

# The guide: a fenced block "```tav FILE" (or another language and FILE) is
# the whole of docs/examples/FILE; blocks without a file hold commands
# (sh) or program output (text). Every example file is shown, every errors/
# file is named.
/usr/bin/python3 - "$docs" <<'PY' || fail "the guide and its examples differ"
import os, re, sys
docs = sys.argv[1]
text = open(os.path.join(docs, "guide.md"), encoding="utf-8").read()
bad = []
shown = set()
blocks = re.findall(r"^```([^\n]*)\n(.*?)^```$", text, re.S | re.M)
if not blocks:
    bad.append("no code blocks")
for info, body in blocks:
    words = info.split()
    if len(words) == 2:
        path = os.path.join(docs, "examples", words[1])
        if not os.path.isfile(path):
            bad.append(f"{words[1]}: no such example")
        elif open(path, encoding="utf-8").read() != body:
            bad.append(f"{words[1]}: the block differs from the file")
        shown.add(words[1])
    elif words not in (["sh"], ["text"]):
        bad.append(f"block '{info}' names no file")
examples = os.path.join(docs, "examples")
for f in sorted(os.listdir(examples)):
    if f.endswith((".tav", ".rc")) and f not in shown:
        bad.append(f"{f}: not shown in the guide")
for f in sorted(os.listdir(os.path.join(examples, "errors"))):
    if f"errors/{f}" not in text:
        bad.append(f"errors/{f}: not named in the guide")
for b in bad:
    print(b)
sys.exit(1 if bad else 0)
PY

passed "guide examples: all checks passed"
