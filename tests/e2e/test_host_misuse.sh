#!/usr/bin/env bash
# The program among files that are not files, damaged plug-in libraries,
# builds killed while writing, and small faults of names and messages: each
# ends with its message, and nothing crashes or is left behind.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
morvel=$bin/plugins/morvel.dll

# --- resources that are no regular files, or far too large -------------------
mkfifo fifo
ln -s /dev/zero zlink
truncate -s 5G sparse.res
while IFS='|' read -r name line; do
  printf "program pe32_cui 'x';\n#resource '%s';\nnop;\n" "$name" >r.tav
  timeout 60 "$tavik" r.tav -nopause </dev/null >r.log 2>&1
  rc=$?
  [ "$rc" = 1 ] || fail "resource $name: exit code $rc, expected 1"
  grep -qxF -- "$line" r.log || fail "resource $name: no line '$line': $(head -c 300 r.log | tail -3)"
  [ -e r.exe ] && fail "resource $name: an image"
done <<'CASES'
/dev/zero|[2,23]: [446] Resource file "/dev/zero" is not a regular file in [r.tav]
fifo|[2,18]: [446] Resource file "fifo" is not a regular file in [r.tav]
zlink|[2,19]: [446] Resource file "zlink" is not a regular file in [r.tav]
sparse.res|[2,24]: [447] Resource file "sparse.res" is larger than 2147483647 bytes in [r.tav]
CASES

# --- plug-in entries that are no libraries -----------------------------------
mkdir -p odd/plugins
cp "$tavik" odd/tavik
cp "$morvel" odd/plugins/morvel.dll
mkfifo odd/plugins/a_fifo.dll
ln -s /dev/zero odd/plugins/b_zero.dll
truncate -s 5G odd/plugins/c_sparse.dll
mkdir odd/plugins/d_folder.dll
printf "program pe32_cui 'x';\nnop;\n" >p.tav
timeout 60 odd/tavik p.tav -nopause </dev/null >odd.log 2>&1 || fail "odd plug-ins: exit code $?"
for n in a_fifo b_zero c_sparse d_folder; do
  grep -qx "PlugSys: $n.dll skipped - not a valid plugin" odd.log || fail "odd plug-in $n not skipped"
done
grep -qx 'PlugSys: Tavik Linker plugin was loaded!' odd.log && [ -s p.exe ] || fail "odd plug-ins: Morvel lost"
rm -f p.exe

# --- damaged copies of Morvel --------------------------------------------------
# One byte changed in each of the tables the loader reads (the dynamic
# section, symbols, names, hash, versions, relocations), 40 copies a table.
# The system loader itself (through Python, with the C++ runtime loaded as
# in the program) tells which copies crash it. Each copy alone ends with a
# message or builds, never with a crash; one that crashed the system loader
# is skipped, or loads here and builds the very image of the whole Morvel.
# All copies beside the whole Morvel: it builds, once and again.
need readelf
mkdir -p dmg/plugins ref/plugins
cp "$tavik" dmg/tavik
cp "$tavik" ref/tavik
cp "$morvel" dmg/plugins/a_morvel.dll
cp "$morvel" ref/plugins/morvel.dll
ref/tavik p.tav -nopause </dev/null >ref.log 2>&1 && mv p.exe ref.exe || fail "whole Morvel: no image"
/usr/bin/python3 - "$morvel" dmg/plugins <<'PY' >copies.txt || fail "damaged copies not made"
import os, random, subprocess, sys
src, out = sys.argv[1], sys.argv[2]
data = open(src, "rb").read()
tables = (".dynamic", ".dynsym", ".dynstr", ".gnu.hash", ".gnu.version", ".gnu.version_r", ".rela.dyn", ".rela.plt")
found = {}
for line in subprocess.run(["readelf", "-S", "-W", src], capture_output=True, text=True).stdout.splitlines():
    f = line.replace("[ ", "[").split()
    if len(f) > 6 and f[1] in tables:
        found[f[1]] = (int(f[4], 16), int(f[5], 16))
missing = [t for t in (".dynamic", ".dynsym", ".dynstr") if t not in found]
if missing: sys.exit("no " + " ".join(missing))
rng = random.Random(27)
for name, (off, size) in sorted(found.items()):
    for k in range(40):
        b = bytearray(data)
        b[off + rng.randrange(size)] ^= rng.randrange(1, 256)
        fn = "z%s_%02d.dll" % (name.replace(".", "_"), k)
        open(os.path.join(out, fn), "wb").write(b)
        print(fn)
PY
load='import ctypes, os, sys
for lib in ("libstdc++.so.6", "libgcc_s.so.1"): ctypes.CDLL(lib, mode=os.RTLD_GLOBAL)
ctypes.CDLL(sys.argv[1])'
mkdir -p one/plugins
cp "$tavik" one/tavik
crashers=0 skipped=0
while read -r f; do
  timeout 20 /usr/bin/python3 -c "$load" "dmg/plugins/$f" >/dev/null 2>&1
  [ $? -ge 128 ] && crash=1 || crash=0
  rm -f one/plugins/* p.exe
  cp "dmg/plugins/$f" one/plugins/
  timeout 60 one/tavik p.tav -nopause </dev/null >one.log 2>&1
  rc=$?
  [ "$rc" -le 1 ] || fail "$f alone: exit code $rc: $(tail -1 one.log)"
  [ "$crash" = 1 ] || continue
  crashers=$((crashers + 1))
  if grep -qx "PlugSys: $f skipped - not a valid plugin" one.log; then
    skipped=$((skipped + 1))
  elif [ "$rc" != 0 ] || ! cmp -s p.exe ref.exe; then
    fail "$f crashes the system loader; here neither skipped nor the whole one's image: $(grep PlugSys one.log | tail -1)"
  fi
done <copies.txt
[ "$skipped" -ge 10 ] || fail "only $skipped of $crashers copies that crash the system loader skipped: the copies test little"
for run in 1 2; do
  rm -f p.exe
  timeout 300 dmg/tavik p.tav -nopause </dev/null >dmg$run.log 2>&1
  rc=$?
  # A sanitized build reports a crash in a plug-in's own code itself (here
  # a damaged copy's finaliser as the run ends), after the image is written.
  if [ "$rc" = 1 ] && grep -q '^SUMMARY: AddressSanitizer' dmg$run.log; then
    grep -A12 'ERROR: AddressSanitizer' dmg$run.log | grep -q 'plugins/z_[a-z_]*[0-9]*\.dll' ||
      fail "damaged copies, run $run: a sanitizer report outside the damaged copies"
  else
    [ "$rc" = 0 ] || fail "damaged copies, run $run: exit code $rc: $(tail -2 dmg$run.log)"
  fi
  cmp -s p.exe ref.exe || fail "damaged copies, run $run: not the whole one's image"
done
rm -f p.exe

# --- builds killed while writing -------------------------------------------------
# A large image (64 MiB of data); the build is stopped at several points
# of its writing by the file size limit (SIGXFSZ: no handler runs, as with
# kill -9), and once by kill -9 as soon as the partial file shows. The old
# image stays whole, and after one clean build only the image, the batch
# file and the source are there.
mkdir -p big
printf "program pe32_cui 'x';\nbyte data[67108864] = [1];\nmov eax, @data;\n" >big/b.tav
"$tavik" big/b.tav -nopause </dev/null >big.log 2>&1 || fail "large image: exit code $?"
cp big/b.exe old.exe
size=$(stat -c %s big/b.exe)
[ "$size" -gt 67108864 ] || fail "large image: only $size bytes"
for blocks in 1 2048 65536 $((size / 512 - 1)); do
  (ulimit -f "$blocks"; exec "$tavik" big/b.tav -nopause </dev/null 2>&1 | cat >/dev/null)
  cmp -s big/b.exe old.exe || fail "stopped at $blocks blocks: the old image changed"
  [ "$(ls big | grep -c tavik-tmp)" -le 1 ] || fail "stopped at $blocks blocks: several partial files"
done
"$tavik" big/b.tav -nopause </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 20000); do [ -e big/b.exe.tavik-tmp ] && break; kill -0 $pid 2>/dev/null || break; done
kill -9 $pid 2>/dev/null
wait $pid 2>/dev/null
cmp -s big/b.exe old.exe || fail "killed: the old image changed"
"$tavik" big/b.tav -nopause </dev/null >big2.log 2>&1 || fail "clean build: exit code $?"
cmp -s big/b.exe old.exe || fail "clean build: another image"
[ "$(ls big | tr '\n' ' ')" = "b.build.bat b.exe b.tav " ] || fail "after the clean build: $(ls big | tr '\n' ' ')"

# --- names ------------------------------------------------------------------------
# A zero byte inside an include or resource name is refused where it stands.
mkdir -p names
printf "nop;\n" >names/b.tav
printf "program pe32_cui 'x';\n#include 'b.tav\000zz';\nnop;\n" >names/z.tav
"$tavik" names/z.tav -nopause </dev/null >z.log 2>&1
grep -qxF '[2,20]: [1449] An include file name may not hold a zero byte in [z.tav]' z.log || fail "zero byte in an include name: $(grep '\[' z.log)"
printf "program pe32_cui 'x';\n#resource 'b.tav\000zz';\nnop;\n" >names/zr.tav
"$tavik" names/zr.tav -nopause </dev/null >zr.log 2>&1
grep -qxF '[2,21]: [445] A resource file name may not hold a zero byte in [zr.tav]' zr.log || fail "zero byte in a resource name: $(grep '\[' zr.log)"

# A source named ".tav" builds ".tav.exe".
mkdir -p dot
printf "program pe32_cui 'x';\nnop;\n" >dot/.tav
"$tavik" dot/.tav -nopause </dev/null >dot.log 2>&1 || fail ".tav: exit code $?: $(tail -2 dot.log)"
[ -s dot/.tav.exe ] || fail ".tav: files $(ls -A dot | tr '\n' ' ')"

# Output names of 248 to 251 bytes: the temporary name stays within 255.
mkdir -p long
printf "program pe32_cui 'x';\nnop;\n" >long/l.tav
for n in 248 249 250 251 255; do
  out=$(printf '%*s' $((n - 4)) '' | tr ' ' o).exe
  "$tavik" long/l.tav -out "$out" -nopause </dev/null >long.log 2>&1 || fail "output name of $n bytes: $(tail -1 long.log)"
  [ -s "long/$out" ] || fail "output name of $n bytes: no image"
  rm -f "long/$out"
done
ls long | grep -q tavik-tmp && fail "long names: a partial file left"

# --- messages -----------------------------------------------------------------
# Control bytes of a source line are shown escaped in the excerpt, and a
# huge identifier is cut, in the message and in the excerpt.
printf "program pe32_cui 'x';\nnop; \033]0;owned\007 \033[2J\n" >esc.tav
"$tavik" esc.tav -nopause </dev/null >esc.log 2>&1
grep -q $'\e' esc.log && fail "an escape byte printed raw"
grep -q $'\a' esc.log && fail "a bell byte printed raw"
grep -qF 'nop; \x1B]0;owned\x07 \x1B[2J' esc.log || fail "escaped excerpt: $(grep -a -A1 '^Code' esc.log)"
/usr/bin/python3 -c 'import sys; sys.stdout.write("program pe32_cui \x27x\x27;\njmp " + "q" * 50000000 + ";\n")' >huge.tav
"$tavik" huge.tav -nopause </dev/null >huge.log 2>&1
[ "$(stat -c %s huge.log)" -lt 4000 ] || fail "huge identifier: $(stat -c %s huge.log) bytes of messages"
grep -q 'Label q*\.\.\.(49999760 bytes)\.\.\.q* does not exist!' huge.log || fail "huge identifier: $(grep -a 'Label' huge.log | head -c 400)"

passed "all host misuse checks passed"
