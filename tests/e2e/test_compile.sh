#!/usr/bin/env bash
# A whole project through the program: the standard include and the
# builder's text nest in it and return, the counts in "Compile OK", the code
# at the image's entry point, and the errors that must stop a build.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need pefile
need objdump

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

# The programs below hold nothing but their own code.
mkdir run && cd run && : >tavik.tav

# The epilogue before every ret: the saved registers come back first, then
# the locals are released by the size the linker reserved, then leave.
cat >frame.tav <<'TAV'
program pe32_cui 'frame';
procedure p(dword a) {
  byte flag; dword loc; word w;
  uses ebx esi;
  mov ebx, 100; mov esi, 200; mov flag, 1; mov loc, 7; mov w, 9;
  cmp eax, 12345;
  jne on;
  ret 4;
on:
  mov eax, a; add eax, loc;
}
mov ebx, 5; mov esi, 6;
p(30);
add eax, ebx; add eax, esi;
TAV
build frame
[ "$rc" = 0 ] || { fail "frame: exit code $rc"; cat frame.out; }
objdump -d frame.exe >frame.d 2>&1 || fail "frame: objdump -d failed"
reserve=$(grep -oE 'sub +\$0x[0-9a-f]+,%esp' frame.d | head -1 | grep -oE '0x[0-9a-f]+')
[ -n "$reserve" ] || fail "frame: the locals are not reserved"
# Both exits of p release what the prologue reserved, after the pops.
[ "$(grep -cE "pop +%esi" frame.d)" = 2 ] || fail "frame: not two exits restoring esi"
awk -F'\t' '{ print $3 }' frame.d | sed 's/ *$//' | tr -s ' ' |
  grep -A4 '^pop %esi' | grep -v '^--' >frame.exits
exit="pop %esi|pop %ebx|add \$$reserve,%esp|leave|ret \$0x4|"
[ "$(tr '\n' '|' <frame.exits)" = "$exit$exit" ] || { fail "frame: exits"; cat frame.exits; }

# The main body ends with its own ret although its last byte is C3: it
# must not run on into the procedure laid out after it.
cat >tail.tav <<'TAV'
program pe32_cui 'tail';
procedure after { int3; }
mov eax, 2; mov ebx, 193; add eax, ebx;
TAV
build tail
[ "$rc" = 0 ] || { fail "tail: exit code $rc"; cat tail.out; }
[ "$(entry tail 13)" = "b8 02 00 00 00 bb c1 00 00 00 03 c3 c3" ] || fail "tail: code $(entry tail 13)"

# Without the frame a parameter is found past what was pushed since the
# body began: a 16-bit register and a word of memory take a whole slot each.
cat >depth.tav <<'TAV'
program pe32_cui 'depth';
#set frame 0;
function nf(dword a) { mov ecx, 1000; push ax; push word [esp]; mov eax, a; add esp, 8; }
// The early ret pops ebx for its own exit only: a is still past it after.
function early(dword a) { uses ebx; mov ebx, 5; cmp eax, 12345; jne go; ret 4; go: mov eax, a; }
nf(70);
mov ebx, 1000;
push eax;
early(7);
pop ecx;
add eax, ecx;
TAV
build depth
[ "$rc" = 0 ] || { fail "depth: exit code $rc"; cat depth.out; }
objdump -d depth.exe | grep -E '8b 44 24 0c[[:space:]]+mov +0xc\(%esp\),%eax' >/dev/null || fail "depth: a is not read from esp+12"

# They run under wine: p keeps the caller's ebx and esi (30 + 7 + 5 + 6),
# the main body returns 2 + 193, and nf its parameter.
if use_wine; then
  for pair in frame:48 tail:195 depth:77; do
    name=${pair%%:*}
    runexe "$name"
    [ "$rc" = "${pair#*:}" ] || fail "$name: exit code $rc under wine, expected ${pair#*:}"
  done
fi

passed "compile end-to-end checks passed"
