#!/usr/bin/env bash
# Builds Tavik twice (plain and with AddressSanitizer + UBSan) and the Windows
# program (build-win32), runs every test in both builds, then a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
# The machine is shared: three jobs unless told otherwise.
jobs=${TAVIK_JOBS:-3}

# Tests and benchmarks on, also where scripts/example.sh configured build/ without them.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIK_TESTS=ON -DTAVIK_BENCH=ON
cmake --build build -j "$jobs"

# The Windows program, cross-built; its end-to-end test must not skip here.
bash scripts/build-win32.sh
export TAVIK_WIN32_REQUIRED=1

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVIK_SANITIZE=ON -DTAVIK_TESTS=ON -DTAVIK_BENCH=OFF
cmake --build build-asan -j "$jobs"

# One wine prefix for every run (it is large and takes a while to create),
# with its server kept up while the tests run.
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tavik/wineprefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if command -v wine >/dev/null; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  [ -d "$WINEPREFIX" ] || timeout 300 wine wineboot -i >/dev/null 2>&1 || true
  wineserver -p || true
  # Start the prefix's service processes now, with no test's pipes to inherit.
  timeout 120 wine wineboot >/dev/null 2>&1 </dev/null || true
  trap 'wineserver -k 2>/dev/null || true' EXIT
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
ctest --test-dir build --output-on-failure -j "$jobs" || status=1
ctest --test-dir build-asan --output-on-failure -j "$jobs" || status=1

if [ -f tests/fuzz/CMakeLists.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVIK_FUZZ=ON -DTAVIK_TESTS=ON -DTAVIK_BENCH=OFF
  cmake --build build-fuzz -j "$jobs" --target tavik_fuzzers
  bash tests/fuzz/run.sh build-fuzz || status=1
fi
exit $status
