#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 for i686 into build-win32/bin:
# tavik.exe, plugins/morvel.dll and includes/tavik.tav. Installs the toolchain
# (g++-mingw-w64-i686) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v i686-w64-mingw32-g++ >/dev/null || ! command -v i686-w64-mingw32-windres >/dev/null; then
  if [ "$(id -u)" != 0 ]; then
    echo "i686-w64-mingw32-g++ is missing; run as root to install g++-mingw-w64-i686" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt_opts=(-o DPkg::Lock::Timeout=900)
  apt-get "${apt_opts[@]}" update -q
  apt-get "${apt_opts[@]}" install -y -q --no-install-recommends g++-mingw-w64-i686
fi

command -v cmake >/dev/null && command -v ninja >/dev/null || bash scripts/deps.sh build
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
  -DTAVIK_TESTS=OFF -DTAVIK_BENCH=OFF
cmake --build build-win32 -j "${TAVIK_JOBS:-3}"
echo "build-win32.sh: build-win32/bin holds tavik.exe, plugins/morvel.dll, includes/tavik.tav"
