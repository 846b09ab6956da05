#!/usr/bin/env bash
# Raw boot images through the whole program: tavik compiles 16-bit projects
# with the raw_image builder, objdump reads the code back, and qemu boots the
# floppy images, whose programs print through the BIOS serial service and
# switch the machine off through APM.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
src=${TAVIK_SOURCE_DIR:?}
need objdump
qemu=
have qemu-system-i386 && qemu=qemu-system-i386
floppy=1474560

# build NAME: NAME.tav to NAME.img; tavik's output in NAME.out.
build() {
  "$tavik" "$1.tav" -nopause </dev/null >"$1.out" 2>&1
  rc=$?
  [ $rc = 0 ] && [ -f "$1.img" ] || { fail "$1: tavik exit code $rc"; cat "$1.out"; return 1; }
}
# refuse NAME TEXT: the build of NAME.tav fails with TEXT and writes no image.
refuse() {
  "$tavik" "$1.tav" -nopause </dev/null >"$1.out" 2>&1
  rc=$?
  [ $rc = 1 ] || fail "$1: exit code $rc, expected 1"
  grep -qF "$2" "$1.out" || { fail "$1: no message \"$2\""; cat "$1.out"; }
  grep -q '^Link OK' "$1.out" && fail "$1: link reported as done"
  [ -e "$1.img" ] && fail "$1: image written"
}
# hexat FILE OFFSET [COUNT]: the bytes there, as hex without blanks.
hexat() { od -An -tx1 -v -j "$2" -N "${3:-1}" "$1" | tr -d ' \n'; }
# listing FILE SIZE: the first SIZE bytes as 16-bit code, one
# "offset<TAB>bytes<TAB>instruction" line each, offsets in decimal.
listing() {
  objdump -D -b binary -m i8086 -M intel --stop-address="$2" "$1" |
    awk -F'\t' '/^ +[0-9a-f]+:\t/ { sub(/:$/, "", $1); gsub(/ /, "", $1); gsub(/ +$/, "", $2);
      gsub(/ +/, " ", $3); print $1 "\t" $2 "\t" $3 }' |
    while IFS=$'\t' read -r off bytes ins; do printf '%d\t%s\t%s\n' "0x$off" "$bytes" "$ins"; done
}
# The last word of an instruction's text, behind its last "," or ":" or
# blank, as a number ("" when there is no such line).
lastnum() { local v=${1##*[,: ]}; [ -n "$1" ] && echo $((v)); }
# boot NAME: the serial output of NAME.img booted from floppy, in NAME.serial.
boot() {
  timeout 20 "$qemu" -display none -serial stdio -drive "file=$1.img,format=raw,if=floppy" \
    -boot a -no-reboot </dev/null >"$1.serial" 2>"$1.qemu"
  rc=$?
  [ $rc = 0 ] || fail "$1: qemu exit code $rc (the machine did not switch itself off)"
}

# ---- The boot sector example, with the standard include ----
cp "$src/examples/boot.tav" .
if build boot; then
  grep -qxF 'PlugSys: Building Raw Image!' boot.out || fail "boot: no build message"
  [ "$(stat -c %s boot.img)" = $floppy ] || fail "boot: image of $(stat -c %s boot.img) bytes"
  [ "$(hexat boot.img 510 2)" = 55aa ] || fail "boot: no boot signature at 510"
  # Nothing but zeros after the first sector.
  cmp -s <(tail -c +513 boot.img) <(head -c $((floppy - 512)) /dev/zero) || fail "boot: padding not zero"
  # The code, up to the greeting that follows it, decodes as 16-bit code.
  str=$(lastnum "$(listing boot.img 510 | awk -F'\t' '$3 ~ /^mov si,0x/ { print $3; exit }')")
  [ -n "$str" ] && [ $((str - 0x7C00)) -gt 0 ] || fail "boot: no greeting address"
  [ "$(dd if=boot.img bs=1 skip=$((${str:-0} - 0x7C00)) count=20 2>/dev/null | od -An -c | tr -s ' ')" = \
    "$(printf 'Hello from Tavik!\r\n\0' | od -An -c | tr -s ' ')" ] || fail "boot: greeting not at its address"
  listing boot.img $((${str:-0x7DFE} - 0x7C00)) >boot.lst
  grep -q '(bad)' boot.lst && fail "boot: undecodable code"
  grep -qF 'add BYTE PTR [bx+si],al' boot.lst && fail "boot: stray zero bytes in the code"
  if [ -n "$qemu" ]; then
    boot boot
    printf 'Hello from Tavik!\r\n' | cmp -s - boot.serial || fail "boot: serial output $(od -c boot.serial)"
  fi
fi

# ---- Every kind of reference a boot program makes ----
# The serial output spells what worked: T: a string constant, 7 and V
# initialised and uninitialised variables, A a pushed label address, NNN a
# loop whose body needs near jumps both ways, L a procedure with locals,
# I an if, R the builder's define.
: >tavik.tav
cat >refs.tav <<'EOF'
program raw_image 'refs';
word seven = 0x37;
byte scratch;
word target;

procedure putc() {
  mov ah, 1;
  xor dx, dx;
  int 0x14;
}
procedure framed() {
  word a; byte b[3];
  mov al, 0x4C;
  putc();
}

jmp 0:start;
trap:
mov al, 0x21;
putc();
jmp halt;
start:
xor ax, ax;
mov ds, ax;
mov ss, ax;
mov sp, 0x7C00;
mov si, 'T:';
lodsb; putc(); lodsb; putc();
mov ax, seven; putc();
mov scratch, 0x56;
mov al, scratch; putc();
mov target, @trap;
jmp past;
absolute:
mov al, 0x41; putc();
jmp relay;
past:
push @absolute;
retn;
relay:
mov cx, 3;
while (cx != 0) {
  #repeat 130: nop; #end
  mov al, 0x4E; push cx; putc(); pop cx;
  dec cx;
}
framed();
mov ax, 1;
if (ax == 1) { mov al, 0x49; putc(); }
if (ax == 2) { #repeat 130: nop; #end mov al, 0x21; putc(); }
#ifdef RAW_IMAGE: mov al, 0x52; putc(); #end
mov al, 0x0D; putc();
mov al, 0x0A; putc();
mov ax, 0x5301; xor bx, bx; int 0x15;
mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15;
halt:
hlt;
jmp halt;
EOF
if build refs; then
  [ "$(stat -c %s refs.img)" = $floppy ] || fail "refs: image of $(stat -c %s refs.img) bytes"
  [ "$(hexat refs.img 510 2)" = 55aa ] || fail "refs: no boot signature at 510"
  # The code ends where the string constant starts.
  str=$(lastnum "$(listing refs.img 510 | awk -F'\t' '$3 ~ /^mov si,0x/ { print $3; exit }')")
  code=$((str - 0x7C00))
  listing refs.img $code >refs.lst
  at() { awk -F'\t' -v o="$1" '$1 == o { print $3 }' refs.lst; }
  grep -q '(bad)' refs.lst && fail "refs: undecodable code"
  grep -qF 'add BYTE PTR [bx+si],al' refs.lst && fail "refs: stray zero bytes in the code"
  # Constant block, then the variables in list order, initialised or not.
  [ "$(hexat refs.img $code 8)" = 543a003700000000 ] || fail "refs: data block $(hexat refs.img $code 8)"
  grep -qF "mov ax,ds:$(printf '0x%x' $((str + 3)))" refs.lst || fail "refs: address of seven"
  grep -qF "mov BYTE PTR ds:$(printf '0x%x' $((str + 5))),0x56" refs.lst || fail "refs: address of scratch"
  # A far jump reaches its label, which does not follow it.
  far=$(lastnum "$(awk -F'\t' '$3 ~ /^jmp 0x0:0x/ { print $3 }' refs.lst)")
  far=$((${far:-0} - 0x7C00))
  [ "$far" -gt 5 ] && [ "$(at "$far")" = 'xor ax,ax' ] || fail "refs: far jump to offset ${far:-none}"
  # Label addresses: pushed, and stored into a variable.
  pushed=$(lastnum "$(awk -F'\t' '$2 ~ /^68 / { print $3 }' refs.lst)")
  pushed=$((${pushed:-0} - 0x7C00))
  [ "$(at "$pushed")" = 'mov al,0x41' ] || fail "refs: pushed label address $pushed"
  stored=$(lastnum "$(awk -F'\t' -v v="$(printf '0x%x' $((str + 6)))" 'index($3, "mov WORD PTR ds:" v ",") == 1 { print $3 }' refs.lst)")
  stored=$((${stored:-0} - 0x7C00))
  [ "$(at "$stored")" = 'mov al,0x21' ] || fail "refs: stored label address $stored"
  # 16-bit jumps: short ones of 2 bytes, near ones with a 16-bit
  # displacement, each landing on an instruction.
  awk -F'\t' '$3 ~ /^j/ && $3 !~ /^jmp 0x0:/ { n = split($2, b, " "); t = $3; sub(/.* /, "", t);
    print b[1], n, t, $1 }' refs.lst | while read -r op n t off; do echo "$op $n $((t)) $off"; done >refs.jumps
  awk '($1 == "0f" && $2 != 4) || ($1 == "e9" && $2 != 3) || ($1 != "0f" && $1 != "e9" && $2 != 2)' refs.jumps |
    grep -q . && fail "refs: jumps of the wrong length: $(tr '\n' ';' <refs.jumps)"
  [ "$(awk '$1 == "0f"' refs.jumps | wc -l)" -ge 2 ] || fail "refs: no near conditional jumps"
  awk '$1 == "e9" && $3 < $4' refs.jumps | grep . >/dev/null || fail "refs: no near jump backwards"
  while read -r _ _ t _; do [ -n "$(at "$t")" ] || fail "refs: jump into the middle of an instruction at $t"; done <refs.jumps
  # Calls land on procedure entries.
  calls=$(awk -F'\t' '$3 ~ /^call / { sub(/.* /, "", $3); print $3 }' refs.lst | sort -u)
  [ -n "$calls" ] || fail "refs: no calls"
  for t in $calls; do [ "$(at $((t)))" = 'push bp' ] || fail "refs: call to $t"; done
  # The locals allocation takes 16 bits and is followed by the body.
  grep -A1 -F 'sub sp,0x8' refs.lst | tail -1 | grep -F 'mov al,0x4c' >/dev/null || fail "refs: locals allocation"
  if [ -n "$qemu" ]; then
    boot refs
    printf 'T:7VANNNLIR\r\n' | cmp -s - refs.serial || fail "refs: serial output $(od -c refs.serial)"
  fi
fi

# ---- A procedure with parameters and a local in 16-bit code ----
# Its frame is bp-based: push bp, mov bp,sp, parameters at bp+4 and bp+6
# above a near return address, the local below bp. It prints "OK".
cat >frame16.tav <<'EOF'
program raw_image 'frame16';
procedure putc() {
  mov ah, 1;
  xor dx, dx;
  int 0x14;
}
procedure put2(word first, second) {
  word saved;
  mov ax, second;
  mov saved, ax;
  mov ax, first;
  putc();
  mov ax, saved;
  putc();
}
xor ax, ax;
mov ds, ax;
mov ss, ax;
mov sp, 0x7C00;
put2(0x4F, 0x4B);
mov al, 0x0D; putc();
mov al, 0x0A; putc();
mov ax, 0x5301; xor bx, bx; int 0x15;
mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15;
halt:
hlt;
jmp halt;
EOF
if build frame16; then
  listing frame16.img 128 | cut -f2- | tr -d ' ' >frame16.lst
  for want in '8bec	movbp,sp' '8b4606	movax,WORDPTR[bp+0x6]' '8946fe	movWORDPTR[bp-0x2],ax' \
              '8b4604	movax,WORDPTR[bp+0x4]' '8b46fe	movax,WORDPTR[bp-0x2]' '83c404	addsp,0x4' \
              'c20400	ret0x4'; do
    grep -xF "$want" frame16.lst >/dev/null || fail "frame16: no \"$want\""
  done
  if [ -n "$qemu" ]; then
    boot frame16
    printf 'OK\r\n' | cmp -s - frame16.serial || fail "frame16: serial output $(od -c frame16.serial)"
  fi
fi

# ---- Sizes: the first sector and the floppy ----
# A program of 510 bytes (rtlmain ends with one ret) gets the signature
# right behind it.
printf "program raw_image 'fits';\n#repeat 509: nop; #end\n" >fits.tav
if build fits; then
  [ "$(hexat fits.img 508 4)" = 90c355aa ] || fail "fits: bytes 508-511 $(hexat fits.img 508 4)"
  [ "$(stat -c %s fits.img)" = $floppy ] || fail "fits: image of $(stat -c %s fits.img) bytes"
fi
# One byte more and the first sector has no room for the signature.
printf "program raw_image 'long';\n#repeat 510: nop; #end\n" >long.tav
refuse long "Boot program exceeds 510 bytes"
# A longer program that carries the signature itself (here as the
# immediate of a mov at 509) still boots; the builder's pair follows it.
printf "program raw_image 'own';\n#repeat 509: nop; #end\nmov ax, 0xAA55;\n#repeat 87: nop; #end\n" >own.tav
if build own; then
  [ "$(hexat own.img 509 3)" = b855aa ] || fail "own: signature in the program"
  [ "$(hexat own.img 598 5)" = 90c355aa00 ] || fail "own: bytes 598-602 $(hexat own.img 598 5)"
  [ "$(stat -c %s own.img)" = $floppy ] || fail "own: image of $(stat -c %s own.img) bytes"
fi
# The floppy holds the program and the builder's signature exactly; one
# byte more does not fit.
for n in 0 1; do
  printf "program raw_image 'disk$n';\n#repeat 509: nop; #end\nmov ax, 0xAA55;\n" >disk$n.tav
  printf "#repeat 2: #repeat %d: nop; #end #end\n#repeat %d: nop; #end\n" \
    $(((floppy - 515) / 2)) $(((floppy - 515) % 2 + n)) >>disk$n.tav
done
if build disk0; then
  [ "$(stat -c %s disk0.img)" = $floppy ] || fail "disk0: image of $(stat -c %s disk0.img) bytes"
  [ "$(hexat disk0.img $((floppy - 3)) 3)" = c355aa ] || fail "disk0: end $(hexat disk0.img $((floppy - 3)) 3)"
fi
refuse disk1 "Size of file exceeds the size of a floppy"

# ---- The BIOS runs the image from its first byte ----
# An entry point elsewhere would never run.
printf "program raw_image 'entry';\nprocedure go() { mov ax, 1; hlt; }\nentry go;\n" >entry.tav
refuse entry "Entry point go is not at the start of the boot image"
# A label at the first byte is a good entry point.
printf "program raw_image 'first';\nbegin:\nmov ax, 1;\nhlt;\nentry begin;\n" >first.tav
build first && { [ "$(hexat first.img 0 4)" = b80100f4 ] || fail "first: code $(hexat first.img 0 4)"; }

# ---- Addresses that do not fit 16 bits ----
# A constant behind 33,791 bytes of code sits at 0xFFFF, the last address
# of the segment; one byte more and the reference cannot hold it.
for n in 0 1; do
  printf "program raw_image 'addr$n';\nmov si, 'x';\n#repeat 506: nop; #end\nmov ax, 0xAA55;\n#repeat %d: nop; #end\n" \
    $((33791 - 3 - 506 - 3 - 1 + n)) >addr$n.tav
done
if build addr0; then
  [ "$(hexat addr0.img 0 3)" = beffff ] || fail "addr0: constant reference $(hexat addr0.img 0 3)"
  [ "$(hexat addr0.img 33791 2)" = 7800 ] || fail "addr0: constant at 33791 $(hexat addr0.img 33791 2)"
fi
refuse addr1 "Address 0x10000 does not fit in 16 bits"
# The same for a variable.
printf "program raw_image 'vaddr';\nword w;\nmov ax, w;\n#repeat 506: nop; #end\nmov ax, 0xAA55;\n#repeat 33300: nop; #end\n" >vaddr.tav
refuse vaddr "does not fit in 16 bits"

# ---- What a boot image has no place for ----
# Resources, import libraries and exports are left out with a word each;
# the image is the one the program makes without them, and it boots. A call
# of an import could reach nothing: refused.
cp "$src/tests/fixtures/res/one.res" "$src/tests/fixtures/res/langs.res" .
cat >plainboot.tav <<'EOF'
program raw_image 'plainboot';
procedure putc() { mov ah, 1; xor dx, dx; int 0x14; }
procedure off() { mov ax, 0x5301; xor bx, bx; int 0x15; mov ax, 0x5307; mov bx, 1; mov cx, 3; int 0x15; }
xor ax, ax; mov ds, ax; mov ss, ax; mov sp, 0x7C00;
mov al, 0x4B; putc();
off();
hlt;
EOF
{ echo "program raw_image 'dropped';"
  echo "#resource 'one.res';"
  echo "#resource 'langs.res';"
  echo "imports('kernel32.dll') { procedure ExitProcess(dword code); }"
  sed -n '2,$p' plainboot.tav
  echo "exports putc, off;"; } >dropped.tav
if build plainboot && build dropped; then
  for w in 'PlugSys: Warning: a raw image has no import table: the imports of "kernel32.dll" are left out' \
    'PlugSys: Warning: a raw image has no export table: the exports putc, off are left out' \
    'Warning: [0011] The builder RAW_IMAGE left out the resources of "one.res" and the other resource files: its image has no place for them'; do
    grep -qxF "$w" dropped.out || { fail "dropped: no line '$w'"; cat dropped.out; }
  done
  grep -q Warning plainboot.out && fail "plainboot: $(grep Warning plainboot.out)"
  cmp -s plainboot.img dropped.img || fail "dropped: the image differs from the one without resources"
  if [ -n "$qemu" ]; then
    boot dropped
    [ "$(cat dropped.serial)" = K ] || fail "dropped: serial output $(od -c dropped.serial)"
  fi
fi
printf "program raw_image 'callimp';\nimports('kernel32.dll') { procedure ExitProcess(dword code); }\nExitProcess(0);\n" >callimp.tav
refuse callimp 'PlugSys: Call of ExitProcess from "kernel32.dll": a raw image has no imports'

passed "raw images: all checks passed"
