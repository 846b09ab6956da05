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
c_emitpast|ERangeError: func_emit: 2 bytes from position 2 of the function's own code run past its 2 bytes
c_replacepast|ERangeError: Output buffer: 2 bytes from position 2 of the buffer run past its 2 bytes
CASES

# Services handed bytes of the buffer they change: the code of rtlmain
# appended to itself, moves inside the image and the image appended to
# itself. The images are checked against the same steps done in Python.
have python3 && for builder in c_selfemit c_selffile; do
  rm -f proj/*
  printf "program %s 'x';\nnop;\n" "$builder" >proj/p.tav
  exe/tavik proj/p.tav -nopause </dev/null >p.out 2>&1 || fail "$builder: exit code $?: $(tail -3 p.out)"
  /usr/bin/python3 - "$builder" proj/p.exe <<'PY' || fail "$builder: image bytes"
import sys
builder, image = sys.argv[1], open(sys.argv[2], "rb").read()
if builder == "c_selfemit":
    want = b"MZ" + b"\x90\xc3" * (1 << 20)
else:
    b = bytearray(b"MZ" + bytes(range(256)))
    b[2:102] = b[12:112]
    b[149:249] = bytes(b[139:239])
    b = bytes(b) * (1 << 15)
    want = b
sys.exit(0 if image == want else 1)
PY
done

passed "all plug-in boundary checks passed"
