#!/usr/bin/env bash
# Directives and compile-time arithmetic through the program: #echo lines on
# standard output, and arithmetic faults that end the build as the runtime's
# exceptions ("Name: message" at its position, exit code 1, no output file).
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# A standard include beside the projects comes first: these builds hold
# nothing but their own lines.
: >tavik.tav

# build NAME TEXT: compiles NAME.tav holding the header and TEXT.
build() {
  local name=$1
  printf "program pe32_cui 'x';\n%s\n" "$2" >"$name.tav"
  "$tavik" "$name.tav" -nopause </dev/null >"$name.out" 2>"$name.err"
  rc=$?
}
has() { grep -qxF -- "$2" "$1.out" || fail "$1: no line '$2'"; }

build echo '#set bits 32;
#echo bits
#x = (2+3)*4;
#echo $x
#if $x == 20: #echo twenty #else #echo other #end
#repeat 2: #echo again #end
nop;'
[ "$rc" = 0 ] || fail "echo: exit code $rc"
has echo "32"
has echo "20"
has echo "twenty"
[ "$(grep -cxF again echo.out)" = 2 ] || fail "echo: #repeat 2 did not echo twice"
grep -q '^Compile OK' echo.out || fail "echo: no Compile OK"

while IFS='|' read -r name expr line; do
  build "$name" "#x = $expr;"
  [ "$rc" = 1 ] || fail "$name: exit code $rc, expected 1"
  has "$name" "$line"
  grep -q 'Compile OK' "$name.out" && fail "$name: reported Compile OK"
  [ -e "$name.exe" ] && fail "$name: an output file was written"
done <<'CASES'
zerodiv|1 / 0|[2,11]: EZeroDivide: Floating point division by zero in [zerodiv.tav]
invalid|0 / 0|[2,11]: EInvalidOp: Invalid floating point operation in [invalid.tav]
intdiv|0 or 5 / 0|[2,16]: EDivByZero: Division by zero in [intdiv.tav]
modzero|7 mod 0|[2,13]: EDivByZero: Division by zero in [modzero.tav]
intmin|0 or -2147483648 / -1|[2,27]: EIntOverflow: Arithmetic overflow in [intmin.tav]
range|9223372036854775807 * 4|[2,29]: EInvalidOp: Invalid floating point operation in [range.tav]
CASES

# A float on either side of #if or #ifdef is compared as a float: its
# fraction counts, and a compile-time variable stands for its whole number.
while IFS='|' read -r name cond want; do
  build "$name" "#v = 2.5;
#define HALF 0.5;
#$cond:
#echo yes
#else
#echo no
#end
nop;"
  [ "$rc" = 0 ] || fail "$name: exit code $rc"
  has "$name" "$want"
done <<'CASES'
fleft|if 2.5 == 2|no
fleftne|if 2.5 != 2|yes
fright|if 2 == 2.5|no
fwhole|if 2.0 == 2|yes
fboth|if 1.5 == 1.5|yes
fvar|if $v == 2.5|no
fvarwhole|if $v == 2|yes
fdefine|ifdef HALF == 0|no
fdefinene|ifdef HALF != 0|yes
CASES
# Floats compare only for equality, on the left as on the right.
for cond in '2.5 > 2' '2 < 2.5'; do
  build order "#if $cond: nop; #end"
  [ "$rc" = 1 ] || fail "order $cond: exit code $rc, expected 1"
  grep -qF '[2000] Math operation not valid here' order.out || fail "order $cond: no [2000] message"
done

# There are no 64-bit forms: 64-bit code is refused where its mode is set,
# not written with 32-bit bytes ("mov rax, [rbx]" as "mov eax, [rbx]").
build bits64 "#set bits 64;
mov rax, [rbx];"
[ "$rc" = 1 ] || fail "bits64: exit code $rc, expected 1"
has bits64 "[2,13]: [7759] Bit mode must be 16 or 32 in [bits64.tav]"
[ -e bits64.exe ] && fail "bits64: an output file was written"

build raise "nop;
#raise 'Stopped by the source'"
[ "$rc" = 1 ] || fail "raise: exit code $rc, expected 1"
grep -q '^\[3,[0-9]*\]: Stopped by the source in \[raise.tav\]$' raise.out || fail "raise: no positioned message"
grep -q '^Code:' raise.out && fail "raise: the code line was shown"

passed "directive end-to-end checks passed"
