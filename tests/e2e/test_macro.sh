#!/usr/bin/env bash
# Inline macros through the program: a console image whose exit code a
# recursive function macro computes, read back by objdump and run under wine;
# and a runaway macro that ends the build with a positioned message.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build() {
  "$tavik" "$1.tav" -nopause </dev/null >"$1.out" 2>"$1.err"
  rc=$?
}

cat >fact.tav <<'EOF'
program pe32_cui 'fact';
inline function mul($a, $b) { #v = $a * $b; #return $v; }
inline function fact($n) {
  #if $n <= 1: #return 1; #end
  #m = $n - 1;
  #return mul($n, fact($m));
}
inline op procedure clear($r) { xor $r, $r; }
clear eax;
add eax, fact(5);
retn;
EOF
build fact
[ "$rc" = 0 ] || fail "fact: exit code $rc: $(cat fact.out)"
[ -s fact.exe ] || fail "fact: no image"

if have objdump; then
  got=$(objdump -d -M intel fact.exe | awk -F'\t' '/^ +[0-9a-f]+:/ { gsub(/ +/, " ", $3); print $3 }')
  want=$'xor eax,eax\nadd eax,0x78\nret'
  [ "$got" = "$want" ] || fail "fact: code is"$'\n'"$got"
fi

if use_wine; then
  runexe fact
  [ "$rc" = 120 ] || fail "fact: the program exited with $rc, expected 120"
fi

cat >runaway.tav <<'EOF'
program pe32_cui 'runaway';
inline procedure r($a) { push $a;
  r($a); }
r(1);
EOF
build runaway
[ "$rc" = 1 ] || fail "runaway: exit code $rc, expected 1"
grep -qxF '[2,4]: [32235] Macro "r" nested too deeply: more than 32 calls in [r]' runaway.out \
  || fail "runaway: no positioned message: $(cat runaway.out)"
grep -q 'Compile OK' runaway.out && fail "runaway: reported Compile OK"
[ -e runaway.exe ] && fail "runaway: an output file was written"

passed "macro end-to-end checks passed"
