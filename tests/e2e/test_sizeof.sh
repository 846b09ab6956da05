#!/usr/bin/env bash
# sizeof through the whole program: the sizes of types, variables, fields,
# texts and pointer variables read back from the code of a boot image, and
# the refusal of words that have no size (an undeclared name, one declared
# only further on, a label, a procedure, a keyword).
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need objdump
: >tavik.tav

cat >sizes.tav <<'TAV'
program raw_image 'sizes';
block Pt { word x; byte tag; }
Pt pts[3];
dword pair[] = [1, 2];
procedure* fp(word x);
procedure p(word a) {
  Pt lp; byte buf[5];
  mov ax, sizeof lp; mov ax, sizeof buf; mov ax, sizeof a; mov ax, sizeof lp.tag;
}
mov ax, sizeof Pt; mov ax, sizeof pts; mov ax, sizeof pts[1]; mov ax, sizeof pair;
mov ax, sizeof(dword); mov ax, sizeof 'four'; mov ax, sizeof fp;
p(1);
TAV
if build sizes img; then
  got=$(objdump -D -b binary -m i8086 -M intel sizes.img | grep -oE 'mov +ax,0x[0-9a-f]+$' | sed 's/.*,//' |
    while read -r v; do printf '%d ' "$v"; done)
  # the main code's seven, then p's four
  [ "$got" = "3 9 3 8 4 5 2 3 5 2 1 " ] || fail "sizes: values '$got'"
fi

# name|statement|the message line expected
while IFS='|' read -r name body line; do
  printf "program raw_image '%s';\nprocedure q() { nop; }\nplace:\n%s\nbyte later[7];\n" "$name" "$body" >"$name.tav"
  refused "$name" "$line"
done <<'CASES'
undeclared|mov ax, sizeof nothing;|[4,23]: [643434] Unexpected ident nothing in [undeclared.tav]
later|mov ax, sizeof later;|[4,21]: [643434] Unexpected ident later in [later.tav]
bracketed|mov ax, sizeof(later);|[4,21]: [643434] Unexpected ident later in [bracketed.tav]
label|mov ax, sizeof place;|[4,21]: [643434] Unexpected label place in [label.tav]
procedure|mov ax, sizeof q;|[4,17]: [643434] Unexpected procedure q in [procedure.tav]
mnemonic|mov ax, sizeof mov;|[4,19]: [643434] Unexpected ident mov in [mnemonic.tav]
keyword|const N = sizeof while;|[4,23]: [643434] Unexpected reserved keyword while in [keyword.tav]
CASES
passed "sizeof: all checks passed"
