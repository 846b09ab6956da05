#!/usr/bin/env bash
# Arguments in 16-bit code, booted under qemu: byte registers widened into
# their slots, function results passed on, and the stack pointer and the
# registers as they were after each call. The program prints the words
# each procedure receives, in hex. Then the 32-bit registers, which 16-bit
# code does not have, named in the refusals wherever they stand.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need objdump
: >tavik.tav

# The printing procedures both images use.
cat >print.inc <<'TAV'
procedure putc() {
  uses ax, bx, dx;
  mov ah, 1;
  xor dx, dx;
  int 0x14;
}
// ax in hex and a blank
procedure hex() {
  uses ax, bx, cx;
  mov bx, ax;
  mov cx, 4;
  while (cx != 0) {
    rol bx, 4;
    mov al, bl;
    and al, 15;
    add al, 48;
    if (al > 57) { add al, 7; }
    putc();
    dec cx;
  }
  mov al, 32;
  putc();
}
TAV

cat >args16.tav <<'TAV'
program raw_image 'args16';
jmp 0:start;
#include "print.inc"
procedure pw(word a) { uses ax; mov ax, a; hex(); }
procedure pb(byte a) { uses ax; mov ax, word [bp+4]; hex(); }
procedure pd(dword a) { uses ax; mov ax, word [bp+4]; hex(); mov ax, word [bp+6]; hex(); }
procedure p3(byte a; word b; byte c) {
  uses ax;
  mov ax, word [bp+4]; hex(); mov ax, b; hex(); mov ax, word [bp+8]; hex();
}
function fw(word a) { mov ax, a; add ax, 0x100; }
function fb() { mov ax, 0x5A; }
start:
cli; xor ax, ax; mov ds, ax; mov ss, ax; mov sp, 0x7C00; sti;
mov si, sp;
mov ax, 0xFF71; mov bx, 0x72FF; mov cx, 0xEE73; mov dx, 0x7400;
pw(al); pb(al); pd(al); pw(ah); pb(bh); pd(cl); pw(dh);
p3(cl, dx, bl);
mov al, 13; putc(); mov al, 10; putc();
mov ax, bx; hex(); mov ax, cx; hex(); mov ax, dx; hex();
mov ax, 0x0D; putc(); mov ax, 0x0A; putc();
pw(fw(0x21)); pd(fw(0x22)); pb(fb()); pw(fw(fw(3)));
p3(fb(), fw(4), fb());
mov ax, 0x0D; putc(); mov ax, 0x0A; putc();
mov ax, si; sub ax, sp; hex();
mov ax, 0x5301; xor bx, bx; int 0x15;
mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15;
halt: hlt; jmp halt;
TAV
# name|statement|the message line expected
while IFS='|' read -r name body line; do
  printf "program raw_image '%s';\nprocedure q(dword a) { nop; }\n%s\n" "$name" "$body" >"$name.tav"
  refused "$name" "$line"
done <<'CASES'
operand|mov eax, 1;|[3,8]: [1111] eax is a 32-bit register, which 16-bit code does not have in [operand.tav]
second|add ax, ECX;|[3,12]: [1111] ECX is a 32-bit register, which 16-bit code does not have in [second.tav]
address|mov ax, [bx+esi*2];|[3,16]: [1134] esi is a 32-bit register, which 16-bit code does not have in [address.tav]
statement|edx = 5;|[3,4]: [9000] edx is a 32-bit register, which 16-bit code does not have in [statement.tav]
condition|if (eax == 1) { nop; }|[3,8]: [1111] eax is a 32-bit register, which 16-bit code does not have in [condition.tav]
argument|q(ebx);|[3,6]: [1111] ebx is a 32-bit register, which 16-bit code does not have in [argument.tav]
uses|procedure p() { uses bx, edi; nop; } p();|[3,29]: [423] edi is a 32-bit register, which 16-bit code does not have in [uses.tav]
unknown|mov ax, foo;|[3,12]: [1111] Unexpected ident foo in [unknown.tav]
CASES
# After #set bits 32 they are registers again; in 16-bit code a variable
# may take such a name.
printf "program raw_image 'named';\nword eax = 3;\nmov ax, eax;\n#set bits 32;\nmov eax, 1;\n" >named.tav
build named img &&
  { od -An -tx1 -v -N 8 named.img | tr -d ' \n' | grep -qx 'a1..7cb801000000' || fail "named: code"; }

if build args16 img; then
  # The byte goes through its own word register and a slot reached through bp.
  objdump -D -b binary -m i8086 -M intel args16.img >args16.lst
  grep -A5 -E '^ +[0-9a-f]+:\s+53\s+push +bx$' args16.lst | tr -s ' \t' ' ' |
    grep -qF 'movzx bx,bh' || fail "args16: bh not widened through bx"
  if have qemu-system-i386; then
    timeout 20 qemu-system-i386 -display none -serial stdio -drive file=args16.img,format=raw,if=floppy \
      -boot a -no-reboot </dev/null >args16.serial 2>args16.qemu
    rc=$?
    [ $rc = 0 ] || fail "args16: qemu exit code $rc (the machine did not switch itself off)"
    want=$'0071 0071 0071 0000 00FF 0072 0073 0000 0074 0073 7400 00FF \r\n72FF EE73 7400 \r\n'
    want+=$'0121 0122 0000 005A 0203 005A 0104 005A \r\n0000 '
    [ "$(cat args16.serial)" = "$want" ] ||
      fail "args16: serial output '$(cat args16.serial)', expected '$want'"
  fi
fi

# The address of a local pushed: as an argument, by push itself and as
# the object of a method. Then constants of more words than one for a
# qword parameter, each word pushed whole. The stack pointer is where it
# was after them.
cat >ref16.tav <<'TAV'
program raw_image 'ref16';
jmp 0:start;
#include "print.inc"
// the word at the address given
procedure at(word p) { uses ax, bx; mov bx, p; mov ax, [bx]; hex(); }
block Ctr { byte step; word n; procedure bump(word by); }
procedure Ctr.bump(word by) { uses ax, bx; mov bx, this; bx as Ctr; mov ax, by; add bx.n, ax; }
procedure locals() {
  uses ax, bx;
  word w; byte b; word pair[2]; Ctr c;
  mov w, 0x6161; mov pair[0], 0x6262; mov pair[1], 0x6363;
  at(@pair); at(@w);
  push @pair; pop bx; mov ax, [bx+2]; hex();
  mov c.n, 0x6400;
  c.bump(0x64);                  // the object's address pushed
  mov ax, c.n; hex();
}
// a qword parameter, its words from the highest
procedure pq(qword a) {
  uses ax;
  mov ax, word [bp+10]; hex(); mov ax, word [bp+8]; hex(); mov ax, word [bp+6]; hex(); mov ax, word [bp+4]; hex();
}
start:
cli; xor ax, ax; mov ds, ax; mov ss, ax; mov sp, 0x7C00; sti;
mov si, sp;
locals();
pq(0x123456789A); pq(-2);
mov ax, si; sub ax, sp; hex();
mov ax, 0x5301; xor bx, bx; int 0x15;
mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15;
halt: hlt; jmp halt;
TAV
if build ref16 img && have qemu-system-i386; then
  timeout 20 qemu-system-i386 -display none -serial stdio -drive file=ref16.img,format=raw,if=floppy \
    -boot a -no-reboot </dev/null >ref16.serial 2>ref16.qemu
  rc=$?
  [ $rc = 0 ] || fail "ref16: qemu exit code $rc (the machine did not switch itself off)"
  [ "$(cat ref16.serial)" = '6262 6161 6363 6464 0000 0012 3456 789A FFFF FFFF FFFF FFFE 0000 ' ] || fail "ref16: serial output '$(cat ref16.serial)'"
fi
passed "16-bit arguments: all checks passed"
