#!/usr/bin/env bash
# A short, bounded fuzzing run of every fuzz target in <build-dir>; exits
# non-zero when one of them finds a crash, a sanitizer report or a hang.
# Usage: tests/fuzz/run.sh <build-dir> [seconds in all, shared by the targets]
set -euo pipefail
build=${1:?usage: run.sh <build-dir> [seconds]}
total=${2:-26}
targets=(tokenizer_fuzzer reader_fuzzer compile_fuzzer link_fuzzer elf_fuzzer)
seconds=$(( total / ${#targets[@]} ))
[ "$seconds" -ge 1 ] || seconds=1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/fuzz-artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
for name in "${targets[@]}"; do
  bin="$build/bin/$name"
  [ -x "$bin" ] || { echo "fuzz: $bin is missing" >&2; exit 1; }
  mkdir -p "$work/$name"
  seeds="$here/corpus"
  [ -d "$here/corpus_$name" ] && seeds="$here/corpus_$name"
  # The linker's target starts from the programs of the compiler's.
  [ "$name" = link_fuzzer ] && seeds="$here/corpus_compile_fuzzer"
  echo "fuzz: $name for ${seconds}s"
  # A fixed seed keeps the short run the same from one run to the next; a
  # whole compilation under the sanitizers may take long on inputs that the
  # compiler's budgets do bound, so a hang is an input running past 2 minutes.
  if ! "$bin" -max_total_time="$seconds" -seed="${TAVIK_FUZZ_SEED:-1}" -timeout=120 -rss_limit_mb=3072 -malloc_limit_mb=3072 -max_len=4096 \
       -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
       "$work/$name" "$seeds" 2>"$work/$name.log"; then
    tail -n 60 "$work/$name.log" >&2
    echo "fuzz: $name found a problem (artifacts in $build/fuzz-artifacts)" >&2
    status=1
  else
    grep -E "^stat::number_of_executed_units|Done " "$work/$name.log" || true
  fi
done
exit $status
