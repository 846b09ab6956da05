#!/usr/bin/env bash
# Frames and the stack pointer: 16-bit locals inside the room their prologue
# reserves (booted under qemu), the push depth of procedures without a frame,
# the uses of the main code, early returns and frames of many pages (run
# under wine, the stack pointer compared across every call), and the
# refusals where the depth cannot be known.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need objdump
: >tavik.tav

# ---- 16-bit locals, and a later 32-bit procedure in the same boot image ----
# Every local is filled, two words are pushed and popped over them, and each
# is read back; the stack pointer must be where it was after the calls. The
# machine prints "y" when all of that holds. The image ends in 32-bit mode;
# the 32-bit procedure is only laid out: its allocation must take the
# 32-bit form, the 16-bit ones the 16-bit form.
cat >loc16.tav <<'TAV'
program raw_image 'loc16';
jmp 0:start;
byte verdict = 0x79;
#set bits 32;
procedure wide(dword x) { dword a, b; mov a, 1; mov eax, x; mov b, eax; }
#set bits 16;
procedure pair(word a) {
  word first; word second;
  mov first, 0x1111;
  mov second, 0x2222;
  push 0x7777; push 0x8888; pop ax; pop ax;
  cmp first, 0x1111; jne bad;
  cmp second, 0x2222; jne bad;
  cmp a, 0x3333; jne bad;
  jmp fine;
bad:
  mov verdict, 0x6E;
fine:
}
procedure trio(word a, b) {
  byte one; word two; word three;
  mov one, 0x41;
  mov two, 0x4242;
  mov three, 0x4343;
  push 0x7777; push 0x8888; pop ax; pop ax;
  cmp one, 0x41; jne bad;
  cmp two, 0x4242; jne bad;
  cmp three, 0x4343; jne bad;
  cmp a, 0x4444; jne bad;
  cmp b, 0x5555; jne bad;
  jmp fine;
bad:
  mov verdict, 0x6D;
fine:
}
start:
cli;
xor ax, ax;
mov ds, ax;
mov ss, ax;
mov sp, 0x7C00;
sti;
mov bx, sp;
pair(0x3333);
trio(0x4444, 0x5555);
cmp bx, sp;
je same;
mov verdict, 0x73;
same:
jmp over;
call wide;
over:
mov al, verdict; mov ah, 1; xor dx, dx; int 0x14;
mov ax, 0x5301; xor bx, bx; int 0x15;
mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15;
halt: hlt; jmp halt;
#set bits 32;
TAV
if build loc16 img; then
  objdump -D -b binary -m i8086 -M intel loc16.img >loc16.lst
  grep -A1 -F 'sub    sp,0x4' loc16.lst | grep -qF 'mov    WORD PTR [bp-0x2],0x1111' ||
    fail "loc16: pair's allocation or its first local"
  grep -qF 'mov    WORD PTR [bp-0x4],0x2222' loc16.lst || fail "loc16: pair's second local"
  grep -A1 -F 'sub    sp,0x8' loc16.lst | grep -qF 'mov    BYTE PTR [bp-0x1],0x41' ||
    fail "loc16: trio's allocation or its byte"
  grep -qF 'mov    WORD PTR [bp-0x6],0x4343' loc16.lst || fail "loc16: trio's last local"
  grep -qE '\[bp-0x[7-9a-f]\]' loc16.lst && fail "loc16: a local below the room reserved"
  # The 32-bit procedure: sub esp, 8 with its four-byte value, then its body.
  od -An -tx1 -v loc16.img | tr -d ' \n' | grep -q '81ec08000000c745fc01000000' ||
    fail "loc16: the 32-bit allocation"
  if have qemu-system-i386; then
    timeout 20 qemu-system-i386 -display none -serial stdio -drive file=loc16.img,format=raw,if=floppy \
      -boot a -no-reboot </dev/null >loc16.serial 2>loc16.qemu
    rc=$?
    [ $rc = 0 ] || fail "loc16: qemu exit code $rc (the machine did not switch itself off)"
    [ "$(cat loc16.serial)" = y ] || fail "loc16: serial output '$(cat loc16.serial)', expected y"
  fi
fi

# 16-bit: words pushed and left when "return" comes are released before the
# pops of uses, which then give back bx.
cat >left16.tav <<'TAV'
program raw_image 'left16';
function nf(word a) {
  uses bx;
  push 5;
  push ax;
  if (ax == 1) { return 11; }
  pop ax; pop ax;
}
nf(1);
hlt;
TAV
if build left16 img; then
  objdump -D -b binary -m i8086 -M intel left16.img >left16.lst
  grep -A1 -F 'add    sp,0x4' left16.lst | grep -qF 'pop    bx' || fail "left16: the words left are not released before pop bx"
  [ "$(grep -c 'pop    bx' left16.lst)" = 2 ] || fail "left16: pop bx at each of the two exits"
fi

# A procedure keeps the bit mode of its prologue: its locals and parameters
# are measured in that word size.
printf "program raw_image 'bitsin';\nprocedure p(word a) {\n  word k;\n#set bits 32;\n  mov k, 1;\n}\np(1);\n" >bitsin.tav
"$tavik" bitsin.tav -nopause </dev/null >bitsin.log 2>&1
[ $? = 1 ] || fail "bitsin: not refused"
grep -qxF '[4,13]: [6395] The bit mode cannot change inside p in [bitsin.tav]' bitsin.log ||
  { fail "bitsin: no message"; cat bitsin.log; }

# ---- Refusals: the stack pointer changed by an amount not known ----
# name|procedure body|the message line expected
while IFS='|' read -r name body line; do
  printf "program pe32_cui '%s';\n#set frame 0;\nprocedure p(dword a) {\n%b\n}\np(1);\n" "$name" "$body" >"$name.tav"
  refused "$name" "$line" exe
done <<'CASES'
movesp|  mov esp, ebp;\n  mov eax, a;|[5,13]: [6394] The stack pointer of p changed by an amount not known (mov esp at [4,15]): its parameters cannot be reached through it; use the frame (#set frame 1) in [movesp.tav]
andesp|  and esp, -16;\n  push a;|[5,9]: [6394] The stack pointer of p changed by an amount not known (and esp at [4,15]): its parameters cannot be reached through it; use the frame (#set frame 1) in [andesp.tav]
subreg|  sub esp, eax;\n  nop;\n  mov eax, a;|[6,13]: [6394] The stack pointer of p changed by an amount not known (sub esp at [4,15]): its parameters cannot be reached through it; use the frame (#set frame 1) in [subreg.tav]
popesp|  pop esp;\n  p(a);|[5,6]: [6394] The stack pointer of p changed by an amount not known (pop esp at [4,10]): its parameters cannot be reached through it; use the frame (#set frame 1) in [popesp.tav]
xchgesp|  xchg eax, esp;\n  add eax, a;|[5,13]: [6394] The stack pointer of p changed by an amount not known (xchg eax at [4,16]): its parameters cannot be reached through it; use the frame (#set frame 1) in [xchgesp.tav]
callmem|  push 1;\n  call [ebx];\n  mov eax, a;|[6,13]: [6394] The stack pointer of p changed by an amount not known (call at [5,13]): its parameters cannot be reached through it; use the frame (#set frame 1) in [callmem.tav]
CASES

# Right after a call of a DLL's function (or one through a pointer), giving
# back the bytes of its parameters may remove the arguments a function of
# the C convention left, or other bytes: the depth is not known after it.
while IFS='|' read -r name call line; do
  printf "program pe32_cui '%s';\nimports('msvcrt.dll') { function atoi(dword s): dword; }\nfunction* fp(dword s): dword;\n#set frame 0;\nfunction p(dword a) {\n%b\n  add esp, 4;\n  add eax, a;\n}\np(1);\n" "$name" "$call" >"$name.tav"
  refused "$name" "$line" exe
done <<'CASES'
cimport|  atoi('42');|[8,13]: [6394] The stack pointer of p changed by an amount not known (add esp at [7,13]): its parameters cannot be reached through it; use the frame (#set frame 1) in [cimport.tav]
cpointer|  fp = @atoi;\n  fp('42');|[9,13]: [6394] The stack pointer of p changed by an amount not known (add esp at [8,13]): its parameters cannot be reached through it; use the frame (#set frame 1) in [cpointer.tav]
CASES

# The same changes with no parameter read after them, or in a procedure
# with the frame, build.
cat >fine.tav <<'TAV'
program pe32_cui 'fine';
#set frame 0;
procedure p(dword a) { mov eax, a; mov ecx, esp; and esp, -16; mov esp, ecx; }
#set frame 1;
procedure q(dword a) { mov ecx, esp; and esp, -16; sub esp, eax; mov esp, ecx; mov eax, a; }
p(1);
q(2);
TAV
build fine >/dev/null || true

use_wine || passed "stack frames: all checks passed (wine not run)"

# ---- Without the frame: the push depth follows every change it can see ----
# Each read of a parameter is checked; a failed one counts in the exit code,
# and a stack pointer that moved across the calls adds 100.
cat >depth.tav <<'TAV'
program pe32_cui 'depth';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
procedure* fp(dword x);
function* ff(dword x): dword;
procedure sink(dword x) { nop; }
function twice(dword x) { mov eax, x; add eax, eax; }
dword fails;
#set frame 0;
procedure check(dword got, want) {
  mov eax, got;
  cmp eax, want;
  je same;
  inc fails;
same:
}
function nf(dword a, b) {
  uses ebx;
  sub esp, 8;
  check(a, 10);
  check(b, 20);
  add esp, 4;
  check(a, 10);
  lea esp, [esp+4];
  check(b, 20);
  push 1;
  call fp;
  check(a, 10);
  fp(2);
  check(b, 20);
  push 3;
  push 4;
  add esp, 8;
  check(a, 10);
  twice(ff(a));
  check(eax, 40);
  check(b, 20);
  sub esp, 12;
  check(a, 10);
  lea esp, [esp+12];
  mov eax, a;
  add eax, b;
}
#set frame 1;
entry procedure main() {
  fp = @sink;
  ff = @twice;
  mov esi, esp;
  nf(10, 20);
  check(eax, 30);
  mov eax, fails;
  cmp esi, esp;
  je even;
  add eax, 100;
even:
  ExitProcess(eax);
}
TAV
if build depth; then
  runexe depth
  [ "$rc" = 0 ] || fail "depth: exit code $rc, expected 0"
fi

# ---- The main code's uses, restored by the ret added at its end ----
# The program returns to its caller with EAX, which becomes its exit code.
cat >mainuses.tav <<'TAV'
program pe32_cui 'mainuses';
uses ebx esi edi ebp;
mov ebx, 1;
mov esi, 2;
mov edi, 3;
mov ebp, 4;
mov eax, 7;
TAV
if build mainuses; then
  runexe mainuses
  [ "$rc" = 7 ] || fail "mainuses: exit code $rc, expected 7"
  objdump -d -M intel mainuses.exe >mainuses.d
  tr -s ' \t' ' ' <mainuses.d | grep -A5 'mov eax,0x7' | grep -q 'pop ebp' ||
    fail "mainuses: no pops before the closing ret"
fi

# ---- return; leaves through the epilogue with the parameters removed ----
# retn stays the plain instruction: after the epilogue it returns with the
# parameters left on the caller's stack (8 bytes here).
cat >early.tav <<'TAV'
program pe32_cui 'early';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
dword fails;
dword done;
procedure two(dword a, b) {
  uses ebx;
  dword k;
  mov ebx, a;
  cmp ebx, b;
  jne on;
  return;
on:
  mov k, 1;
  inc done;
}
function upto(dword a) {
  mov eax, a;
  cmp eax, 5;
  jne go;
  return;
go:
  add eax, 100;
}
#set frame 0;
procedure nf(dword a, b) { uses esi; mov esi, a; return; }
#set frame 1;
procedure plain(dword a, b) { uses ebx; retn; }
entry procedure main() {
  mov esi, esp;
  mov ebx, 0x55;
  two(1, 1);
  two(1, 2);
  nf(1, 2);
  upto(5);
  cmp eax, 5;
  je r1;
  inc fails;
r1:
  upto(6);
  cmp eax, 106;
  je r2;
  inc fails;
r2:
  cmp done, 1;
  je r3;
  inc fails;
r3:
  cmp ebx, 0x55;
  je r4;
  inc fails;
r4:
  sub esi, esp;
  mov edi, esp;
  plain(1, 2);
  sub edi, esp;
  sub edi, 8;
  mov eax, fails;
  add eax, esi;
  add eax, edi;
  ExitProcess(eax);
}
TAV
if build early; then
  runexe early
  [ "$rc" = 0 ] || fail "early: exit code $rc, expected 0"
  objdump -d -M intel early.exe >early.d
  # plain: push ebx, the epilogue (pop ebx, leave), then c3.
  tr -s ' \t' ' ' <early.d | grep -A2 ': 5b pop ebx' | grep -q ': c3 ret' ||
    fail "early: retn is not the plain ret after the epilogue"
fi

# ---- Frames of a page or more: reserved and touched a page at a time ----
# 512 KB, exactly one page and one page and a word; the bodies jump
# around, so their code moves as the jumps are shortened.
cat >bigframe.tav <<'TAV'
program pe32_cui 'bigframe';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
function big(dword a, b) {
  byte room[524288];
  dword last;
  mov last, 5;
  mov room, 1;
  mov eax, a;
  cmp eax, 30;
  jne skip;
  add eax, b;
skip:
  add eax, last;
  movzx ecx, room;
  add eax, ecx;
}
function page(dword a) { byte p[4096]; mov p, 2; movzx eax, p; add eax, a; }
function more(dword a) { dword q[1025]; mov q, 3; mov eax, q; add eax, a; }
mov ebx, esp;
big(30, 7);
mov esi, eax;
page(1);
add esi, eax;
more(1);
add esi, eax;
sub ebx, esp;
add esi, ebx;
ExitProcess(esi);
TAV
if build bigframe; then
  runexe bigframe
  # 30 + 7 + 5 + 1, 2 + 1, 3 + 1
  [ "$rc" = 50 ] || fail "bigframe: exit code $rc, expected 50"
  objdump -d -M intel bigframe.exe | tr -s ' \t' ' ' >bigframe.d
  # No step of the stack pointer down by more than a page, and every step
  # is followed by a touch at the new top.
  grep -o ' sub esp,0x[0-9a-f]*$' bigframe.d | while read -r _ v; do
    [ $((${v#esp,})) -gt 4096 ] && echo "$v"; done | grep . &&
    fail "bigframe: a step of more than a page"
  grep -A1 ' sub esp,0x' bigframe.d | grep -c 'test DWORD PTR \[esp\],esp' >bigframe.touch
  [ "$(cat bigframe.touch)" = "$(grep -c ' sub esp,0x' bigframe.d)" ] ||
    fail "bigframe: a step without a touch"
  grep -q 'lea esp' bigframe.d && fail "bigframe: the stack pointer set by lea"
  # big: the 128 pages by the loop, then the last word.
  grep -qF 'sub ebp,0x80000' bigframe.d || fail "bigframe: no loop over 512 KB"
  grep -A6 'sub ebp,0x80000' bigframe.d | grep -qF 'sub esp,0x4' || fail "bigframe: the word after the pages"
fi

passed "stack frames: all checks passed"
