#!/usr/bin/env bash
# A whole project through the program: the standard include and the
# builder's text nest in it and return, the counts in "Compile OK", the code
# at the image's entry point, and the errors that must stop a build.
set -uo pipefail
bin=${TAVIK_BIN_DIR:?}
tavik=$bin/tavik
/usr/bin/python3 -c 'import pefile' 2>/dev/null || { echo "python3-pefile is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# build NAME [PROGRAM]: compiles NAME.tav; output in NAME.out, exit code in $rc.
build() {
  "${2:-$tavik}" "$1.tav" -nopause </dev/null >"$1.out" 2>&1
  rc=$?
}
has() { grep -qF -- "$2" "$1.out" || { fail "$1: no '$2'"; cat "$1.out"; }; }
# The first bytes at the entry point of NAME.exe, in hex.
entry() {
  /usr/bin/python3 - "$1.exe" "$2" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1])
print(pe.get_data(pe.OPTIONAL_HEADER.AddressOfEntryPoint, int(sys.argv[2])).hex(" "))
PY
}

# The builder's text (one line), then the standard include beside the
# project (four line feeds), then the project (five): each source counts its
# line feeds and each time its end is read; the project's end is read by the
# loop the builder's text started and again by the outer one.
printf '// standard include\ncld;\n\nstd;\n' >tavik.tav
printf "program pe32_cui 'nest';\nMOV EAX, 1;\n\njmp done; nop;\ndone: nop;\n" >nest.tav
build nest
[ "$rc" = 0 ] || fail "nest: exit code $rc"
grep -qE '^Compile OK - 13 lines, 2 files, [0-9.]+ second\(s\)$' nest.out || { fail "nest: counts"; cat nest.out; }
# The include's code comes first, then the project's; the jump over one nop
# is short once linked, and the main body ends with its ret.
[ "$(entry nest 12)" = "fc fd b8 01 00 00 00 eb 01 90 90 c3" ] || fail "nest: code $(entry nest 12)"

# Without a standard include anywhere: a warning, one file, and the build goes on.
mkdir -p alone/exe alone/src
cp "$tavik" alone/exe/tavik
cp -r "$bin/plugins" alone/exe/
printf "program pe32_cui 'alone';\nnop;\n" >alone/src/alone.tav
build alone/src/alone alone/exe/tavik
[ "$rc" = 0 ] || fail "alone: exit code $rc"
has alone/src/alone 'Warning: [0010] Include file not found "tavik.tav"'
grep -qE '^Compile OK - 5 lines, 1 files, ' alone/src/alone.out || { fail "alone: counts"; cat alone/src/alone.out; }
[ "$(entry alone/src/alone 2)" = "90 c3" ] || fail "alone: code"

# Errors that end the build: exit code 1, no "Compile OK", no image. A
# stray closer at the outermost level never ends the project quietly.
while IFS='|' read -r name text line; do
  printf "%b" "$text" >"$name.tav"
  build "$name"
  [ "$rc" = 1 ] || fail "$name: exit code $rc, expected 1"
  has "$name" "$line"
  grep -q 'Compile OK' "$name.out" && fail "$name: reported Compile OK"
  [ -e "$name.exe" ] && fail "$name: an image was written"
done <<'CASES'
brace|program pe32_cui 'x';\nnop;\n}\nnop;\n|[3,2]: [9900] Unexpected symbol "}" in [brace.tav]
end|program pe32_cui 'x';\nnop;\n#end nop;\n|Unexpected directive #end outside of a section in [end.tav]
else|program pe32_cui 'x';\n#else nop;\n|Unexpected directive #else outside of a section in [else.tav]
elseif|program pe32_cui 'x';\n#elseif 1 == 1: nop;\n|Unexpected directive #elseif outside of a section in [elseif.tav]
noprog|nop;\n|[0000] Expected keyword "program"
noname|program 'x';\n|[0001] Expected identifier
builder|program nope 'x';\n|[0002] Unknown application type NOPE, installed: PE32_GUI, PE32_CUI, PE32_DLL, RAW_IMAGE in [builder.tav]
nostring|program pe32_cui;\n|[1311] Unexpected symbol ;
nosemi|program pe32_cui 'x' nop;\n|[1312] Unexpected ident nop
mnemonic|program pe32_cui 'x';\nnop;\n  frob eax;\n|[3,7]: [9000] Unexpected ident frob in [mnemonic.tav]
label|program pe32_cui 'x';\njmp nowhere;\n|[2,12]: [00012] Label nowhere does not exist! in [label.tav]
CASES

[ "$fails" = 0 ] || exit 1
echo "compile end-to-end checks passed"
