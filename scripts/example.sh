#!/usr/bin/env bash
# Builds the program and its plug-in (not the tests or benchmarks), assembles
# the bundled example examples/hello.tav into build/example/ and runs it with
# wine when wine is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh example
# A first configuration leaves the tests and benchmarks out (they need
# GoogleTest and Google Benchmark); an existing one keeps its options.
opts=()
[ -f build/CMakeCache.txt ] || opts=(-DTAVIK_TESTS=OFF -DTAVIK_BENCH=OFF)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${opts[@]}"
cmake --build build -j "${TAVIK_JOBS:-3}" --target tavik morvel

out=build/example
rm -rf "$out"
mkdir -p "$out"
cp examples/hello.tav "$out/"
echo
echo "$ build/bin/tavik $out/hello.tav -nopause"
rc=0
build/bin/tavik "$out/hello.tav" -nopause </dev/null >"$out/tavik.out" 2>&1 || rc=$?
cat "$out/tavik.out"
echo
if [ $rc != 0 ]; then
  echo "example.sh: tavik failed with exit code $rc" >&2
  exit $rc
fi
echo "example.sh: built; $out now holds:"
ls -l "$out"

# Runs it: wine's first start makes its prefix, which takes a while.
wine=${TAVIK_WINE:-wine}
echo
if ! command -v "$wine" >/dev/null; then
  echo "example.sh: wine is not installed, so hello.exe was not run. To run it:"
  echo "  bash scripts/setup-wine.sh      # as root: installs wine (and qemu-user where needed)"
  echo "  wine $out/hello.exe"
  exit 0
fi
echo "$ wine $out/hello.exe"
rc=0
WINEDEBUG=${WINEDEBUG:--all} timeout 300 "$wine" "$out/hello.exe" </dev/null >"$out/hello.out" 2>"$out/wine.err" || rc=$?
cat "$out/hello.out"
echo
if [ $rc != 0 ]; then
  cat "$out/wine.err" >&2
  echo "example.sh: wine ran hello.exe with exit code $rc; where 32-bit programs do not run," \
    "bash scripts/setup-wine.sh (as root) sets wine up for them" >&2
  exit 1
fi
echo "example.sh: hello.exe ran, exit code 0"
