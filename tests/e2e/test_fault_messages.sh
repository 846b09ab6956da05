#!/usr/bin/env bash
# Projects that must fail, through the real program: each ends with exit
# code 1, writes no image and prints its positioned message with the code
# line.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# The projects need nothing of the standard include: an empty one beside them.
: >tavik.tav

# name|source lines (\n between lines)|the message line expected
while IFS='|' read -r name src line; do
  printf "program pe32_cui '%s';\n$src\n" "$name" >"$name.tav"
  "$tavik" "$name.tav" -nopause </dev/null >"$name.log" 2>&1
  rc=$?
  [ "$rc" = 1 ] || fail "$name: exit code $rc, expected 1"
  grep -qxF "$line" "$name.log" || { fail "$name: no line '$line'"; cat "$name.log"; }
  grep -A1 -xF "$line" "$name.log" | grep -qx 'Code: ' || fail "$name: no code line after the message"
  [ -e "$name.exe" ] && fail "$name: an image was written"
done <<'CASES'
zerodiv|const X = 1/0;|[2,14]: EZeroDivide: Floating point division by zero in [zerodiv.tav]
modzero|enum E: byte { A = 7 mod 0 }|[2,27]: EDivByZero: Division by zero in [modzero.tav]
member|block B { dword a; byte a; }|[2,26]: [586483] Duplicate member "a" in block "B" in [member.tav]
method|block B { dword a; procedure a(); }|[2,31]: [586483] Duplicate member "a" in block "B" in [method.tav]
constant|const N = 3;\nN = 5;|[3,2]: [3002] "N" is a constant and cannot be assigned in [constant.tav]
result|block P { function get(): dword; }\nfunction P.get() { mov eax, 1; }\nP pt;\ndword r;\nr = pt.get();|[6,11]: [1200] The method call pt.get cannot stand as an operand: call it as a statement, its result is in EAX in [result.tav]
compare|function f { mov eax, 1; }\nwhile (eax != f) { nop; }|[3,16]: [1766] "f" is a function and cannot be compared: call it and compare EAX in [compare.tav]
comma2|mov eax, /* c */ , ebx;|[2,19]: [3321] Unexpected symbol , in [comma2.tav]
comma3|imul eax, ebx, // c\n  ];|[3,4]: [3321] Unexpected symbol ] in [comma3.tav]
commaline|mov eax,\n\n   foo;|[4,7]: [1111] Unexpected ident foo in [commaline.tav]
aftersemi|mov eax, ebx // c\n ; ]|[3,5]: [9900] Unexpected symbol "]" in [aftersemi.tav]
nocolon|jmp L2;\nL2 ;|[3,5]: [1212] Unexpected symbol ; in [nocolon.tav]
CASES

passed "messages: all checks passed"
