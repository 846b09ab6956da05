#!/usr/bin/env bash
# scripts/example.sh, the README's first command, on a fresh copy of the
# source tree: it builds the program and its plug-in but no test or
# benchmark program, assembles the example and runs it under wine; without
# wine it says how to get it.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
src=${TAVIK_SOURCE_DIR:?}

# The tree as a clone would have it: the files git knows, and new ones it
# does not ignore; no build folder.
mkdir clone
if git -C "$src" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard | xargs -0 -I{} sh -c 'test -e "{}" && echo "{}"') |
    (cd "$src" && tar -cf - -T -) | (cd clone && tar -xf -)
else
  (cd "$src" && tar -cf - --exclude='./build*' .) | (cd clone && tar -xf -)
fi
[ -f clone/scripts/example.sh ] && [ ! -e clone/build ] || { fail "the copy of the tree"; passed; }

runwine=0
use_wine && runwine=1
(cd clone && TAVIK_JOBS=${TAVIK_JOBS:-3} bash scripts/example.sh </dev/null >"$work/first.out" 2>&1)
rc=$?
[ $rc = 0 ] || { fail "example.sh: exit code $rc"; tail -30 first.out; }
b=clone/build
[ -x $b/bin/tavik ] && [ -f $b/bin/plugins/morvel.dll ] && [ -f $b/bin/includes/tavik.tav ] ||
  fail "example.sh: the program, its plug-in or its include is missing"
[ -s $b/example/hello.exe ] || fail "example.sh: no build/example/hello.exe"
grep -qx 'Build Complete - .*' first.out || fail "example.sh: tavik's output not shown"
# Only the program and the plug-in: no test or benchmark program, no test
# plug-in, nothing configured for them.
extra=$(cd $b && find . -path ./CMakeFiles -prune -o -type f -perm -u+x -print |
  grep -v -e '^\./bin/tavik$' -e '^\./bin/plugins/morvel\.dll$')
[ -z "$extra" ] || fail "example.sh built more than the program: $(echo $extra)"
[ ! -e $b/tests ] || fail "example.sh configured the tests"
grep -qx 'TAVIK_TESTS:BOOL=OFF' $b/CMakeCache.txt && grep -qx 'TAVIK_BENCH:BOOL=OFF' $b/CMakeCache.txt ||
  fail "example.sh: tests or benchmarks not switched off"
if [ $runwine = 1 ]; then
  grep -qx 'Hello from Tavik' first.out || fail "example.sh: hello.exe's line not shown"
  grep -q '^example.sh: hello.exe ran, exit code 0' first.out || fail "example.sh: the run not reported"
fi

# Without wine: built all the same, and the way to get wine is named. A
# second run builds nothing new.
(cd clone && TAVIK_WINE=no-wine-here bash scripts/example.sh </dev/null >"$work/second.out" 2>&1)
rc=$?
[ $rc = 0 ] || { fail "example.sh without wine: exit code $rc"; tail -20 second.out; }
grep -q 'wine is not installed' second.out && grep -q 'bash scripts/setup-wine.sh' second.out ||
  fail "example.sh without wine: no word of how to get it: $(tail -5 second.out)"
grep -q 'ninja: no work to do' second.out || fail "example.sh: the second run built again"
[ -s $b/example/hello.exe ] || fail "example.sh without wine: no hello.exe"

passed "example.sh: the program alone built, the example assembled"
