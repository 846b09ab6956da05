#!/usr/bin/env bash
# A short, bounded fuzzing run of every fuzz target in <build-dir>; exits
# non-zero when one of them finds a crash, a sanitizer report or a hang, or
# when the compiler's targets give an input an outcome that depends on the
# inputs run before it (replay.sh).
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

# The compiler's seeds, and each of them cut short (ending inside whatever
# it had open); the linker's target takes each of those once for each of its
# four builders, picked by an added last byte.
mkdir -p "$work/seeds_compile" "$work/seeds_link"
for f in "$here"/corpus_compile_fuzzer/*; do
  n=$(basename "$f")
  size=$(wc -c <"$f")
  cp "$f" "$work/seeds_compile/$n"
  head -c $(( size / 3 )) "$f" >"$work/seeds_compile/$n.third"
  head -c $(( size * 2 / 3 )) "$f" >"$work/seeds_compile/$n.two-thirds"
done
# A boot program too long for its sector: a build that fails.
for i in $(seq 600); do printf 'nop;\n'; done >"$work/seeds_compile/long_boot"
for f in "$work"/seeds_compile/*; do
  for b in 0 1 2 3; do
    { cat "$f"; printf "\\x0$b"; } >"$work/seeds_link/$(basename "$f").$b"
  done
done

status=0
for name in "${targets[@]}"; do
  bin="$build/bin/$name"
  [ -x "$bin" ] || { echo "fuzz: $bin is missing" >&2; exit 1; }
  mkdir -p "$work/$name"
  seeds="$here/corpus"
  [ -d "$here/corpus_$name" ] && seeds="$here/corpus_$name"
  # Program bodies are kept short: a compilation's time grows with its input.
  max_len=4096
  case $name in
    compile_fuzzer) seeds="$work/seeds_compile" max_len=1024 ;;
    link_fuzzer) seeds="$work/seeds_link" max_len=1024 ;;
  esac
  if [ "$seeds" = "$work/seeds_compile" ] || [ "$seeds" = "$work/seeds_link" ]; then
    bash "$here/replay.sh" "$bin" "$seeds" || { status=1; continue; }
  fi
  echo "fuzz: $name for ${seconds}s"
  # A fixed seed keeps the short run the same from one run to the next; a
  # whole compilation under the sanitizers may take long on inputs that the
  # compiler's budgets do bound, so a hang is an input running past 2 minutes.
  if ! "$bin" -max_total_time="$seconds" -seed="${TAVIK_FUZZ_SEED:-1}" -timeout=120 -rss_limit_mb=3072 -malloc_limit_mb=3072 -max_len="$max_len" \
       -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
       "$work/$name" "$seeds" 2>"$work/$name.log"; then
    tail -n 60 "$work/$name.log" >&2
    echo "fuzz: $name found a problem (artifacts in $build/fuzz-artifacts)" >&2
    status=1
  else
    grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec|Done " "$work/$name.log" || true
    # The inputs the run kept: the same outcome in any order.
    case $name in
      compile_fuzzer | link_fuzzer)
        bash "$here/replay.sh" "$bin" "$work/$name" || status=1 ;;
    esac
  fi
done
exit $status
