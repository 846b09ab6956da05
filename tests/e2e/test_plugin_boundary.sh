#!/usr/bin/env bash
# A plug-in in plain C without unwind tables: every misuse of the services
# stops the build with its message (console and log), exit code 1, no output
# file, and nothing unwinds through the plug-in's frames.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
build=${TAVIK_BUILD_DIR:?}
plugin=$build/tests/plugins/lib/cbuilder.dll
[ -f "$plugin" ] || { echo "test plug-ins not built"; exit 1; }

# The test is only worth something when the plug-in has no frame tables.
frames=$(readelf -S -W "$plugin" | awk '$2 == ".eh_frame" { print $6 }')
[ -z "$frames" ] || [ "$((16#$frames))" = 0 ] || fail "cbuilder.dll has unwind tables ($frames bytes)"
readelf -S -W "$plugin" | grep -q '\.eh_frame_hdr' && fail "cbuilder.dll has a frame index"

mkdir -p exe/plugins proj
cp "$bin/tavik" exe/tavik
cp "$plugin" exe/plugins/
outputs() { (cd proj && ls | grep -v '\.tav$' | tr '\n' ' '); }

while IFS='|' read -r builder line; do
  rm -f proj/* exe/log.txt
  printf "program %s 'x';\nnop;\n" "$builder" >proj/p.tav
  exe/tavik proj/p.tav -nopause -writelog </dev/null >p.out 2>&1
  rc=$?
  [ "$rc" = 1 ] || fail "$builder: exit code $rc, expected 1"
  grep -qF -- "$line" p.out || fail "$builder: no line '$line' on the console: $(tail -3 p.out)"
  grep -qF -- "$line" exe/log.txt || fail "$builder: no line '$line' in log.txt"
  grep -q '^Compile OK - ' p.out || fail "$builder: Compile OK lost"
  grep -q 'terminate called' p.out && fail "$builder: terminated"
  grep -q 'after the stop' p.out && fail "$builder: a service ran after the stop"
  grep -q '^Link OK' p.out && fail "$builder: reported Link OK"
  # Nothing of this belongs to a place in the source.
  grep -q '^Code: ' p.out && fail "$builder: a code excerpt"
  grep -qF -- "] $line" p.out && fail "$builder: a source position"
  [ -z "$(outputs)" ] || fail "$builder: left $(outputs)"
done <<'CASES'
c_fatal|PlugSys: c plug-in stops the build
c_false|An unknown error occured whilst building the file
c_range|ERangeError: func_rem: 1 bytes at position 0 outside code of
c_foreign|PlugSys: Fixup_Count: function record not made by the assembler
c_stale|PlugSys: func_rem: function record not made by the assembler
c_nullfn|PlugSys: func_emit: no function record given
c_fixup|PlugSys: fixup_add: function record not made by the assembler
c_index|EListError: List index out of bounds (0)
CASES

passed "all plug-in boundary checks passed"
