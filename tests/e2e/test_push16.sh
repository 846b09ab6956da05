#!/usr/bin/env bash
# A byte variable pushed in 16-bit code, booted under qemu: the pushed word
# holds the byte zero-extended, and every register, the flags and the
# stack pointer (but for the pushed word) stay as they were. The program
# prints "y" through the BIOS serial service when all of that holds.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need qemu-system-i386
qemu=$(command -v qemu-system-i386)
: >tavik.tav

cat >p16.tav <<'TAV'
program raw_image 'p16';
jmp 0:start;
byte gb = 0xA5;
start:
cli;
xor ax, ax;
mov ds, ax;
mov ss, ax;
mov sp, 0x7C00;
sti;
mov ax, 0x1234; mov bp, 0x5678; mov bx, 0; mov si, 0x9ABC; mov di, 0xDEF0; mov cx, sp;
cmp ax, ax; stc;
push gb;
mov dl, 0x6E;
jnc out; jnz out;
pop bx;
sub cx, sp;
cmp ax, 0x1234; jne out;
cmp bp, 0x5678; jne out;
cmp si, 0x9ABC; jne out;
cmp di, 0xDEF0; jne out;
cmp bx, 0xA5; jne out;
cmp cx, 0; jne out;
mov dl, 0x79;
out:
mov al, dl; mov ah, 1; xor dx, dx; int 0x14;
mov ax, 0x5301; xor bx, bx; int 0x15;
mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15;
halt: hlt; jmp halt;
TAV
"$tavik" p16.tav -nopause </dev/null >p16.out 2>&1
if [ $? = 0 ] && [ -f p16.img ]; then
  timeout 20 "$qemu" -display none -serial stdio -drive file=p16.img,format=raw,if=floppy \
    -boot a -no-reboot </dev/null >p16.serial 2>p16.qemu
  rc=$?
  [ $rc = 0 ] || fail "p16: qemu exit code $rc (the machine did not switch itself off)"
  [ "$(cat p16.serial)" = y ] || fail "p16: serial output '$(cat p16.serial)', expected y"
else
  fail "p16: build failed"; cat p16.out
fi

passed "16-bit pushes: all checks passed"
