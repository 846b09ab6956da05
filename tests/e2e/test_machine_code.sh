#!/usr/bin/env bash
# Programs that must either build into the bytes the processor needs or stop
# with a positioned message: literals holding comment openers, unclosed
# literals and comments, immediates that do not fit, operands after an
# instruction that takes none, qword arithmetic, inc/dec on memory, 16-bit
# jumps beside 32-bit code, far jumps to labels, pops into memory and the
# push depth after pushad. Images are checked with objdump and pefile and
# run under wine or qemu.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# refused NAME TEXT MESSAGE: TEXT as NAME.tav must fail with MESSAGE (exit
# code 1, no "Compile OK", no image).
refused() {
  printf "%b" "$2" >"$1.tav"
  "$tavik" "$1.tav" -nopause </dev/null >"$1.log" 2>&1
  local rc=$?
  [ "$rc" = 1 ] || fail "$1: exit code $rc, expected 1"
  grep -qF -- "$3" "$1.log" || { fail "$1: no '$3'"; cat "$1.log"; }
  grep -q 'Compile OK' "$1.log" && fail "$1: reported Compile OK"
  ls "$1".* | grep -qv '\.\(tav\|log\)$' && fail "$1: an image was written"
}

# The text of literals holding "//" and "/*" reaches the program: it writes
# them to standard output.
cat >lit.tav <<'TAV'
program pe32_cui 'lit';
imports('kernel32.dll') {
  function GetStdHandle(dword which): dword;
  procedure WriteFile(dword h, buf, len, written, overlapped);
  procedure ExitProcess(dword code);
}
dword written;
byte msg[32] = 'see http://example.com|';
WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), @msg, 23, @written, 0);
WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), 'a /* b */ c|', 12, @written, 0);
inline procedure say() { WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), '}{//', 4, @written, 0); }
say();
#if 0 == 1:
  'skipped #end // not a directive'
#end
WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), '*/ok', 4, @written, 0);
ExitProcess(3);
TAV
if use_wine; then
  if build lit; then
    runexe lit
    [ "$rc" = 3 ] || fail "lit: exit code $rc, expected 3"
    [ "$(cat lit.out)" = 'see http://example.com|a /* b */ c|}{//*/ok' ] || fail "lit: printed '$(cat lit.out)'"
  fi
else
  echo "wine is not installed: literal run skipped"
fi

# Unclosed literals and comments stop where they open.
refused strlit "program pe32_cui 'x';\nnop;\n  mov eax, 'abc;\nnop;\n" \
  "[3,13]: [1141] String literal not closed in [strlit.tav]"
refused widelit "program pe32_cui 'x';\nnop;\npush \"ab\\\\\"\n" \
  "[3,7]: [1141] String literal not closed in [widelit.tav]"
refused comment "program pe32_cui 'x';\nnop; /* one\n two\n" \
  "[2,7]: [1142] Comment not closed in [comment.tav]"

# An operand after an instruction that takes none is no longer dropped.
refused noops "program pe32_cui 'x';\ncld;\n  retn 12;\n" \
  "[3,9]: [9998] Too many parameters! number 12 in [noops.tav]"

# qword arithmetic carries across the dwords: the exit code is the sum of
# the high dwords (1 + 0 + 2 + 0x1F) plus the low ones, brought to 0.
cat >qword.tav <<'TAV'
program pe32_cui 'qword';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
qword a; qword b; qword c; qword d;
a = 0xFFFFFFFF;
a += 1;
b = 0x100000000;
b -= 1;
c = 0x1FFFFFFFF;
mov ebx, @c;
add qword [ebx], 0x80000001;
mov ebx, @d;
mov qword [ebx], 0x0F0000000F;
or d, 0x1000000000;
xor d, 0xF;
eax = 0;
mov esi, @a; add eax, [esi+4]; add eax, [esi];
mov esi, @b; add eax, [esi+4]; mov ecx, [esi]; inc ecx; add eax, ecx;
mov esi, @c; add eax, [esi+4]; mov ecx, [esi]; sub ecx, 0x80000000; add eax, ecx;
mov esi, @d; add eax, [esi+4]; add eax, [esi];
ExitProcess(eax);
TAV
if use_wine && build qword; then
  runexe qword
  [ "$rc" = 34 ] || fail "qword: exit code $rc, expected 34"
fi

# inc and dec on globals and locals of each size, with and without a
# frame: wrap-arounds show the width (byte 255+1 = 0, word 0-1 = 0xFFFF).
cat >incdec.tav <<'TAV'
program pe32_cui 'incdec';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
byte gb = 255; word gw; dword gd = 41;
function framed() {
  word count; byte small;
  count = 0xFFFF; count++; count++;
  small = 7; small--;
  movzx eax, count;
  movzx ecx, small;
  add eax, ecx;
}
#set frame 0;
function frameless(dword n) {
  push eax;
  n--;
  n--;
  pop eax;
  n++;
  eax = n;
}
#set frame 1;
gb++;
gw--;
gd++;
mov esi, @gb;
inc byte [esi];
ebx = 0;
bl = gb;
eax = 0;
ax = gw;
sub eax, 0xFFFF;
add ebx, eax;
ecx = gd;
add ebx, ecx;
framed();
add ebx, eax;
frameless(9);
add ebx, eax;
ExitProcess(ebx);
TAV
if use_wine && build incdec; then
  runexe incdec
  # gb 1, gw 0xFFFF (0 after the subtraction), gd 42, framed 1 + 6, frameless 9 - 2 + 1
  [ "$rc" = 58 ] || fail "incdec: exit code $rc, expected 58"
fi

# Near jumps and calls in 16-bit code keep 16-bit displacements, also when
# 32-bit code follows: a boot sector (qemu) and a DLL with a 16-bit part.
cat >mixed.tav <<'TAV'
program raw_image 'mixed';
procedure putc() { mov ah, 1; xor dx, dx; int 0x14; }
jmp 0:start;
start:
xor ax, ax;
mov ds, ax;
mov ss, ax;
mov sp, 0x7C00;
cmp ax, 1;
jne over;
#repeat 200: hlt; #end
over:
mov al, 0x4A; putc();
mov al, 0x0D; putc();
mov al, 0x0A; putc();
mov ax, 0x5301; xor bx, bx; int 0x15;
mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15;
halt:
hlt;
jmp halt;
// 32-bit code in the same image keeps its 32-bit displacements.
#set bits 32;
jne over32;
#repeat 130: nop; #end
over32:
TAV
"$tavik" mixed.tav -nopause </dev/null >mixed.log 2>&1 || { fail "mixed: tavik failed"; cat mixed.log; }
if [ -s mixed.img ]; then
  code=$(od -An -tx1 -v -N 510 mixed.img | tr -d ' \n')
  case $code in *0f85c800f4f4*) ;; *) fail "mixed: no 0f 85 c8 00 before the 200 hlt";; esac
  case $code in *0f8582000000909090*) ;; *) fail "mixed: no 0f 85 82 00 00 00 before the 130 nop";; esac
  if command -v qemu-system-i386 >/dev/null; then
    timeout 20 qemu-system-i386 -display none -serial stdio -drive file=mixed.img,format=raw,if=floppy \
      -boot a -no-reboot </dev/null >mixed.serial 2>mixed.qemu
    [ "$?" = 0 ] || fail "mixed: the machine did not switch itself off"
    printf 'J\r\n' | cmp -s - mixed.serial || fail "mixed: serial output $(od -c mixed.serial)"
  else
    echo "qemu-system-i386 is not installed: boot run skipped"
  fi
fi

cat >part16.tav <<'TAV'
program pe32_dll 'part16';
#set bits 16;
procedure helper16() { nop; }
procedure code16() {
  cmp ax, 1;
  jne over;
  #repeat 200: nop; #end
  over:
  call helper16;
  jmp back;
  #repeat 300: nop; #end
  back:
}
#set bits 32;
exports helper16, code16;
mov eax, 1;
ret 12;
TAV
if build part16 dll; then
  pecheck part16.dll <<'PY'
rva = {s.name.decode(): s.address for s in pe.DIRECTORY_ENTRY_EXPORT.symbols}
code = pe.get_data(rva['code16'], 600)
j = code.index(bytes.fromhex('0f85'))
assert code[j:j + 4] == bytes.fromhex('0f85c800'), code[j:j + 4].hex()
assert code[j + 4:j + 204] == b'\x90' * 200
c = j + 204
assert code[c] == 0xE8, hex(code[c])
assert rva['code16'] + c + 3 + int.from_bytes(code[c + 1:c + 3], 'little', signed=True) == rva['helper16']
assert code[c + 3:c + 6] == bytes.fromhex('e92c01') and code[c + 6:c + 306] == b'\x90' * 300
PY
fi

# A far jump to a label in a PE image holds the label's address, with a
# base relocation at it.
cat >far.tav <<'TAV'
program pe32_cui 'far';
#set relocations 1;
nop;
jmp 0x1b:there;
nop;
there:
retn;
TAV
if build far; then
  pecheck far.exe <<'PY'
entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
code = pe.get_data(entry, 10)
assert code[1] == 0xEA and code[6:8] == b'\x1b\x00', code.hex()
assert int.from_bytes(code[2:6], 'little') == pe.OPTIONAL_HEADER.ImageBase + entry + 9, code.hex()
sites = [e.rva for b in pe.DIRECTORY_ENTRY_BASERELOC for e in b.entries if e.type == 3]
assert entry + 2 in sites, sites
PY
fi

# Pops into a word or a byte take one slot off the stack and change no
# register and no flag (the carry set before each survives it).
cat >pops.tav <<'TAV'
program pe32_cui 'pops';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
word w; byte b; byte c; word w2[3];
mov esi, esp;
mov eax, 0x11223344;
mov ebx, @w;
push 0x5678;
stc;
pop word [ebx];
jnc fail;
cmp esp, esi; jne fail;
push 0x9A;
stc;
pop b;
jnc fail;
cmp esp, esi; jne fail;
mov ebx, @c;
push 0xBC;
stc;
pop byte [ebx];
jnc fail;
cmp esp, esi; jne fail;
push 0x4321;
stc;
pop w2[2];
jnc fail;
cmp esp, esi; jne fail;
cmp eax, 0x11223344; jne fail;
mov edx, @c; cmp ebx, edx; jne fail;
ecx = 0;
cx = w; cmp ecx, 0x5678; jne fail;
cl = b; cmp ecx, 0x569A; jne fail;
cl = c; cmp ecx, 0x56BC; jne fail;
cx = w2[2]; cmp ecx, 0x4321; jne fail;
ExitProcess(7);
fail:
ExitProcess(1);
TAV
if use_wine && build pops; then
  runexe pops
  [ "$rc" = 7 ] || fail "pops: exit code $rc, expected 7"
fi

# pushad/popad move the stack by 32 bytes and pushfd/popfd by 4: a
# parameter read between them in a procedure without a frame is its own.
cat >depth.tav <<'TAV'
program pe32_cui 'depth';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
dword r1; dword r2; dword r3;
#set frame 0;
procedure p(dword a) {
  pushad;
  mov ebx, a;
  mov r1, ebx;
  pushfd;
  mov ebx, a;
  mov r2, ebx;
  popfd;
  popad;
  mov ebx, a;
  mov r3, ebx;
}
#set frame 1;
p(5);
eax = r1;
ecx = r2; add eax, ecx;
ecx = r3; add eax, ecx;
ExitProcess(eax);
TAV
if use_wine && build depth; then
  runexe depth
  [ "$rc" = 15 ] || fail "depth: exit code $rc, expected 15"
fi

passed "all passed"
