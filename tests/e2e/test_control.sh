#!/usr/bin/env bash
# Control statements through the whole program: tavik compiles them, the
# console builder links them, objdump reads the jumps back and wine runs
# the programs.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need objdump
# The projects need nothing of the standard include: an empty one beside them.
: >tavik.tav

# build NAME: NAME.tav to NAME.exe; tavik's output in NAME.out.
build() {
  "$tavik" "$1.tav" -nopause </dev/null >"$1.out" 2>&1
  rc=$?
  [ $rc = 0 ] && [ -s "$1.exe" ] || { fail "$1: tavik exit code $rc"; cat "$1.out"; return 1; }
}
# The jump instructions of NAME.exe as "opcode mnemonic target" lines.
jumps() {
  objdump -d "$1.exe" | awk -F'\t' '$3 ~ /^j/ { split($2, b, " "); op = b[1] == "0f" ? b[1] " " b[2] : b[1];
    split($3, m, " +"); print op, m[1], m[2] }'
}

# Each statement leaves its mark in eax, the exit code.
{
  echo "program pe32_cui 'control';"
  echo "xor eax, eax; xor ebx, ebx; mov ecx, 10;"
  echo "while (ecx != 0) { add eax, ecx; dec ecx; }                // 55"
  echo "repeat { inc ebx; if (ebx >= 4) { continue; } inc eax; inc eax; } until (ebx >= 5);  // 61"
  printf 'if (((eax == 61) or (eax == 0)) and (ebx == 5)) {'
  for i in $(seq 40); do printf ' nop; nop; nop; nop;'; done
  echo ' add eax, 100; } elseif (eax == 61) { int3; } else { xor eax, eax; }      // 161'
  echo "repeat { inc ecx; break if ((ecx == 3) and (ebx == 5)); };"
  echo "add eax, ecx;                                                 // 164"
  echo "if (eax > 100) { while (eax != 0) { exitif ((ecx == 3) or (ecx == 4)); xor eax, eax; } add eax, 1000; }"
  echo "retn;"
} >marks.tav
if build marks; then
  jumps marks >marks.jumps
  # Every placeholder became a jump: nothing is left of its seven nops.
  objdump -d marks.exe | grep -c $'\tnop' | grep -x 160 >/dev/null || fail "marks: nops other than the body's 160"
  # Short where the target is near, near across the long body.
  [ "$(grep -c '^0f 85 jne' marks.jumps)" = 2 ] || fail "marks: not two near jne across the long body"
  [ "$(grep -vc '^0f' marks.jumps)" = 17 ] || fail "marks: not 17 short jumps"
  grep -q '^74 je' marks.jumps && grep -q '^72 jb' marks.jumps && grep -q '^eb jmp' marks.jumps \
    || fail "marks: short forms missing"
  # Each jump lands on an instruction of the code.
  objdump -d marks.exe | awk -F'\t' '/^ +[0-9a-f]+:/ { sub(/:/, "", $1); gsub(/ /, "", $1); print $1 }' >marks.addr
  awk '{ sub(/^0x/, "", $NF); print $NF }' marks.jumps | while read -r t; do
    grep -qx "$t" marks.addr || echo "$t"
  done >marks.bad
  [ -s marks.bad ] && fail "marks: jumps into the middle of an instruction: $(tr '\n' ' ' <marks.bad)"
  if use_wine; then
    runexe marks
    [ $rc = 164 ] || fail "marks: exit code $rc under wine, expected 164"
  fi
fi

# A counting loop with every comparison of a while condition.
{
  echo "program pe32_cui 'loops';"
  echo "xor eax, eax; mov ecx, 0;"
  echo "while (ecx < 10) { inc ecx; if (ecx == 5) { continue; } inc eax; }   // 9"
  echo "while (ecx <= 20) { inc ecx; if ((ecx > 15) and (ecx =< 17)) { add eax, 10; } }   // +20"
  echo "repeat { dec ecx; if (ecx => 100) { break; } } until (ecx == 3);"
  echo "add eax, ecx;   // +3 = 32"
  echo "retn;"
} >loops.tav
if build loops && use_wine; then
  runexe loops
  [ $rc = 32 ] || fail "loops: exit code $rc under wine, expected 32"
fi

# Two constants compare as the dwords a register would hold them in: each
# condition that holds adds its bit to the exit code.
{
  echo "program pe32_cui 'consts';"
  echo "const M = -1;"
  echo "xor eax, eax;"
  echo "if (-1 == 0xFFFFFFFF) { or eax, 1; }"
  echo "if (M == 4294967295) { or eax, 2; }"
  echo "if (-1 > 1) { or eax, 4; }"
  echo "if (-1 < 1) { or eax, 8; }       // not taken: unsigned"
  echo "if (-2147483648 == 0x80000000) { or eax, 16; }"
  echo "if (3 != 3) { or eax, 32; }      // not taken"
  echo "repeat { } until (M >= 0xFFFFFFFF);"
  echo "or eax, 64;"
} >consts.tav
if build consts && use_wine; then
  runexe consts
  [ $rc = 87 ] || fail "consts: exit code $rc under wine, expected 87"
fi
# A constant that no dword holds is refused, not cut to its low 32 bits.
while IFS='|' read -r cond col value; do
  printf "program pe32_cui 'wide';\nnop;\nif (%s) { nop; }\n" "$cond" >wide.tav
  "$tavik" wide.tav -nopause </dev/null >wide.out 2>&1
  rc=$?
  [ $rc = 1 ] || fail "wide $cond: exit code $rc"
  grep -qxF "[3,$col]: [1767] Value $value out of range -2147483648..4294967295 in [wide.tav]" wide.out \
    || { fail "wide $cond: message"; cat wide.out; }
  [ -e wide.exe ] && fail "wide $cond: image written"
done <<'CASES'
0x100000000 > 0|20|4294967296
0 == 0x100000000|21|4294967296
-2147483649 < 1|20|-2147483649
CASES

# A failed condition: the message with its position, exit 1, no image.
printf "program pe32_cui 'bad';\nnop;\n  if (eax = 1) { }\n" >bad.tav
"$tavik" bad.tav -nopause </dev/null >bad.out 2>&1
rc=$?
[ $rc = 1 ] || fail "bad: exit code $rc"
grep -qF '[3,' bad.out && grep -qF '[1161] Unsupported operator "="' bad.out || fail "bad: message"
[ -e bad.exe ] && fail "bad: image written"

passed "control statements: all checks passed"
