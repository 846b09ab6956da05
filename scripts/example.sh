#!/usr/bin/env bash
# Builds Tavik and assembles the bundled example examples/hello.tav into
# build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "${TAVIK_JOBS:-3}"

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
if [ $rc = 0 ]; then
  echo "example.sh: built; $out now holds:"
  ls -l "$out"
  exit 0
fi
echo "example.sh: tavik failed with exit code $rc" >&2
exit $rc
