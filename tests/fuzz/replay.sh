#!/usr/bin/env bash
# Shows that a fuzz target built with TAVIK_FUZZ_DIGEST support (compile_fuzzer,
# link_fuzzer) keeps nothing of one input for the next: every input must give
# the same outcome alone in a fresh process, twice in a row, and after the
# others in either order. Exits non-zero when one does not.
# Usage: tests/fuzz/replay.sh <fuzzer> <file or folder>...
# $TAVIK_REPLAY_FRESH of the inputs (default 12, spread over them) also run
# alone.
set -euo pipefail
bin=${1:?usage: replay.sh <fuzzer> <file or folder>...}
shift
fresh=${TAVIK_REPLAY_FRESH:-12}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=()
for a in "$@"; do
  if [ -d "$a" ]; then
    for f in "$a"/*; do [ -f "$f" ] && inputs+=("$f"); done
  elif [ -f "$a" ]; then
    inputs+=("$a")
  fi
done
[ ${#inputs[@]} -gt 0 ] || { echo "replay: no inputs" >&2; exit 1; }

run() {  # digest file, inputs...
  local out=$1
  shift
  if ! TAVIK_FUZZ_DIGEST="$out" "$bin" -runs=2 "$@" >"$work/log" 2>&1; then
    tail -n 40 "$work/log" >&2
    echo "replay: $(basename "$bin") failed" >&2
    exit 1
  fi
}

# Each in a fresh process, then all in one process forwards and backwards,
# every input twice in a row.
step=1
[ "$fresh" -gt 0 ] && step=$(( (${#inputs[@]} + fresh - 1) / fresh ))
: >"$work/alone"
for ((i = 0; fresh > 0 && i < ${#inputs[@]}; i += step)); do
  f=${inputs[$i]}
  TAVIK_FUZZ_DIGEST="$work/alone" "$bin" "$f" >/dev/null 2>&1 || { echo "replay: $f fails alone" >&2; exit 1; }
done
run "$work/forward" "${inputs[@]}"
reversed=()
for ((i = ${#inputs[@]} - 1; i >= 0; i--)); do reversed+=("${inputs[$i]}"); done
run "$work/backward" "${reversed[@]}"

# Lines are "<input hash> <outcome hash>": one outcome for each input.
if ! sort -u "$work/alone" "$work/forward" "$work/backward" |
    awk '{ if ($1 in seen && seen[$1] != $2) { print "replay: input " $1 " gives outcomes " seen[$1] " and " $2; bad = 1 } seen[$1] = $2 }
         END { exit bad }' >&2; then
  echo "replay: $(basename "$bin") gives an input different outcomes, depending on the inputs before it" >&2
  exit 1
fi
echo "replay: $(basename "$bin"): $(sort -u "$work/forward" | wc -l) inputs, each with one outcome" \
     "($(sort -u "$work/alone" | wc -l) alone, $(wc -l <"$work/forward") runs forwards, $(wc -l <"$work/backward") backwards)"
