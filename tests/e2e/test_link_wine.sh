#!/usr/bin/env bash
# The linker plug-in through the whole program: console and GUI executables,
# a DLL with exports and base relocations and its client, jump forms and
# locals, an entry label inside a procedure and an image with nothing in
# .root. The images are read back with objdump and pefile and run under wine.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

have_wine=0
use_wine && have_wine=1

# ---- the plug-in library exports onEntry alone ----
if have nm; then
  syms=$(nm -D --defined-only "$bin/plugins/morvel.dll" | awk '{print $NF}' | tr '\n' ' ')
  [ "$syms" = "onEntry " ] || fail "morvel.dll exports: $syms"
fi

# ---- each builder's start text: defines and the bit mode from the first line
# on (the DLL's relocations show in its image below) ----
while read -r builder ext seen; do
  {
    echo "program $builder 'x';"
    for d in WIN32 APPTYPE_CUI APPTYPE_GUI APPTYPE_DLL; do echo "#ifdef $d: #echo have_$d #end"; done
    echo "#echo bits"
    echo "retn;"
  } >"start_$builder.tav"
  build "start_$builder" "$ext" || continue
  got=$(sed -n '/^PlugSys: Tavik Linker/,/^Compile OK/p' "start_$builder.log" | sed '1d;$d' | tr '\n' ' ')
  [ "$got" = "$seen " ] || fail "$builder: start text gave '$got', expected '$seen '"
done <<'CASES'
pe32_cui exe have_WIN32 have_APPTYPE_CUI 32
pe32_gui exe have_WIN32 have_APPTYPE_GUI 32
pe32_dll dll have_WIN32 have_APPTYPE_DLL 32
CASES

# ---- a console program and the same project as a GUI program ----
hello() {
  cat <<TAV
program $1 'hello';
imports('kernel32.dll') {
  function GetStdHandle(dword which): dword;
  procedure WriteFile(dword h, buf, len, written, overlapped);
  procedure ExitProcess(dword code);
}
dword written;
WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), 'linked and running', 18, @written, 0);
ExitProcess(3);
TAV
}
hello pe32_cui >hello.tav
hello pe32_gui >gui.tav
if build hello && build gui; then
  grep -qx 'PlugSys: Building Executable File!' hello.log || fail "hello: no building line"
  # Only the subsystem differs: 3 against 2, in the optional header at 0xDC.
  diffs=$(cmp -l hello.exe gui.exe | tr -s ' ' | tr '\n' ';')
  [ "$diffs" = " 221 3 2;" ] || fail "gui: differs from the console build at: $diffs"
  if have objdump; then
    objdump -p hello.exe >hello.p
    grep -q 'file format pei-i386' hello.p || fail "hello: not pei-i386"
    grep -q '(Windows CUI)' hello.p || fail "hello: subsystem"
    grep -q 'DLL Name: kernel32.dll' hello.p || fail "hello: import of kernel32.dll"
    objdump -p gui.exe | grep '(Windows GUI)' >/dev/null || fail "gui: subsystem"
  fi
  pecheck hello.exe <<'PY'
fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
assert fh.Machine == 0x14C and fh.Characteristics == 0x818F, hex(fh.Characteristics)
assert fh.SizeOfOptionalHeader == 224 and oh.Magic == 0x10B
assert data[0x38:0x3C] == b'TAV1' and pe.DOS_HEADER.e_lfanew == 0x80
assert oh.ImageBase == 0x400000 and oh.SectionAlignment == 4096 and oh.FileAlignment == 512
assert oh.SizeOfHeaders == 512 and oh.Subsystem == 3 and oh.NumberOfRvaAndSizes == 16
names = [s.Name.rstrip(b'\0') for s in pe.sections]
assert names == [b'.root', b'.data', b'.code'], names
assert [s.Characteristics for s in pe.sections] == [0x40000040, 0xC00000C0, 0x60000020]
end = 0x1000
for s in pe.sections:
    assert s.VirtualAddress % 4096 == 0 and s.PointerToRawData % 512 == 0
    assert s.VirtualAddress >= end, 'sections overlap'
    end = s.VirtualAddress + s.Misc_VirtualSize
root, dat, code = pe.sections
assert root.VirtualAddress == 0x1000 and root.PointerToRawData == 512
# the one variable is not initialised: virtual room only
assert dat.SizeOfRawData == 0 and dat.Misc_VirtualSize == 4 and dat.PointerToRawData == code.PointerToRawData
assert oh.BaseOfData == dat.VirtualAddress and oh.BaseOfCode == code.VirtualAddress
assert oh.AddressOfEntryPoint == code.VirtualAddress
assert oh.SizeOfImage == code.VirtualAddress + (code.Misc_VirtualSize + 4095) // 4096 * 4096
assert oh.SizeOfCode == code.SizeOfRawData
imp = pe.DIRECTORY_ENTRY_IMPORT
assert [e.dll for e in imp] == [b'kernel32.dll']
assert sorted(i.name for i in imp[0].imports) == [b'ExitProcess', b'GetStdHandle', b'WriteFile']
# The name block, the last of the import data: the library's name, then a
# zero hint and the name of each function in the order of first use, each
# ended by two zero bytes and padded so that the next entry is at an even
# address; the lookup entries point into it.
names = imp[0].struct.Name
assert names % 2 == 0, hex(names)
block, starts = b'kernel32.dll\0\0', []
for n in (b'WriteFile', b'GetStdHandle', b'ExitProcess'):
    starts.append(names + len(block))
    block += b'\0\0' + n + b'\0\0'
    block += b'\0' * (len(block) % 2)
d = oh.DATA_DIRECTORY[1]
assert d.VirtualAddress + d.Size == names + len(block), (hex(names), d.Size)
assert pe.get_data(names, len(block)) == block, pe.get_data(names, len(block))
assert [i.hint_name_table_rva for i in imp[0].imports] == starts
assert not hasattr(pe, 'DIRECTORY_ENTRY_EXPORT') and not hasattr(pe, 'DIRECTORY_ENTRY_BASERELOC')
PY
  if [ $have_wine = 1 ]; then
    runexe hello
    [ "$rc" = 3 ] || fail "hello: exit code $rc, expected 3"
    [ "$(cat hello.out)" = "linked and running" ] || fail "hello: output '$(cat hello.out)'"
    runexe gui
    [ "$rc" = 3 ] || fail "gui: exit code $rc, expected 3"
  fi
fi

# ---- a DLL with more than 4 KB of code and an import, loaded away from its base ----
pad=$(for i in $(seq 1100); do printf 'nop; nop; nop; nop; '; done)
cat >lib.tav <<TAV
program pe32_dll 'lib';
#set relocations 1;
dword va = 0x11111111;
dword vg = 0x22;
function alpha { mov eax, va; }
function Beta { mov eax, 'B!'; movzx eax, byte [eax]; }
function helper { return 0x100; }
procedure pad { $pad }
// Past the first 4 KB: an absolute code address and a variable's address.
function gamma { pad(); push @helper; mov eax, esp; call dword [eax]; pop ecx; mov edx, vg; add eax, edx; }
// The import data comes before the export data in the image.
imports('kernel32.dll') { function lstrlenA(dword s): dword; }
function delta { lstrlenA('four'); }
exports alpha, Beta, gamma, delta;
mov eax, 1;
ret 12;
TAV
cat >client.tav <<'TAV'
program pe32_cui 'client';
imports('lib.dll') {
  function alpha: dword;
  function Beta: dword;
  function gamma: dword;
  function delta: dword;
}
imports('kernel32.dll') { procedure ExitProcess(dword code); }
alpha(); cmp eax, 0x11111111; jne fail;
Beta(); cmp eax, 0x42; jne fail;
gamma(); cmp eax, 0x122; jne fail;
delta(); cmp eax, 4; jne fail;
ExitProcess(7);
fail:
ExitProcess(1);
TAV
if build lib dll && build client; then
  grep -qx 'PlugSys: Building Dynamic Link Library!' lib.log || fail "lib: no building line"
  pecheck lib.dll <<'PY'
fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
assert fh.Characteristics == 0x210E, hex(fh.Characteristics)
code = pe.sections[-1]
assert code.Misc_VirtualSize > 4096
imp = pe.DIRECTORY_ENTRY_IMPORT
assert [e.dll for e in imp] == [b'kernel32.dll'] and [i.name for i in imp[0].imports] == [b'lstrlenA']
# the export data right after the import data
d = oh.DATA_DIRECTORY
assert d[0].VirtualAddress == d[1].VirtualAddress + d[1].Size, (hex(d[0].VirtualAddress), hex(d[1].VirtualAddress), d[1].Size)
exp = pe.DIRECTORY_ENTRY_EXPORT
assert exp.struct.Base == 1 and exp.struct.NumberOfFunctions == 4 and exp.struct.NumberOfNames == 4
# names sorted by their bytes, each still on its own function
assert [s.name for s in exp.symbols] == [b'Beta', b'alpha', b'delta', b'gamma'], [s.name for s in exp.symbols]
addr = {s.name: s.address for s in exp.symbols}
assert addr[b'alpha'] < addr[b'Beta'] < code.VirtualAddress + 4096 < addr[b'gamma'] < addr[b'delta']
assert len(set(addr.values())) == 4
blocks = pe.DIRECTORY_ENTRY_BASERELOC
pages = [b.struct.VirtualAddress for b in blocks]
assert pages == [code.VirtualAddress, code.VirtualAddress + 0x1000], [hex(p) for p in pages]
assert all(b.struct.SizeOfBlock % 4 == 0 for b in blocks)
assert oh.DATA_DIRECTORY[5].Size == sum(b.struct.SizeOfBlock for b in blocks)
sites = [e.rva for b in blocks for e in b.entries if e.type == 3]
assert all(b.struct.VirtualAddress <= e.rva < b.struct.VirtualAddress + 4096 for b in blocks for e in b.entries)
# every site holds an address inside the image, and moving the image moves each by the same amount
moved = pefile.PE(sys.argv[1])
moved.relocate_image(0x10000000)
for s in sites:
    a = pe.get_dword_at_rva(s)
    assert 0x400000 <= a < 0x400000 + oh.SizeOfImage, hex(a)
    assert moved.get_dword_at_rva(s) - a == 0x10000000 - 0x400000
PY
  # The DLL builder's start text turns the relocations on by itself. (The
  # same file name in another folder: the export directory holds it.)
  mkdir -p lib2
  grep -v '^#set relocations' lib.tav >lib2/lib.tav
  build lib2/lib dll && { cmp -s lib.dll lib2/lib.dll || fail "lib2: differs without #set relocations"; }
  pecheck client.exe <<'PY'
imp = pe.DIRECTORY_ENTRY_IMPORT
assert [e.dll for e in imp] == [b'lib.dll', b'kernel32.dll']
assert [i.name for i in imp[0].imports] == [b'alpha', b'Beta', b'gamma', b'delta']
PY
  if [ $have_wine = 1 ]; then
    # Both images ask for 0x400000: the loader has to move the DLL.
    runexe client +loaddll
    [ "$rc" = 7 ] || { fail "client: exit code $rc, expected 7"; cat client.err; }
    base=$(sed -n 's/.*lib\.dll" at \([0-9A-Fa-f]*\).*/\1/p' client.err | head -1)
    [ -n "$base" ] && [ "$((16#$base))" != $((0x400000)) ] || fail "client: lib.dll was not moved (at '$base')"
  fi
fi

# ---- a short jump, a near conditional jump and a procedure with locals ----
pad=$(for i in $(seq 40); do printf 'nop; nop; nop; nop; '; done)
cat >jumps.tav <<TAV
program pe32_cui 'jumps';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
function locals(dword a) {
  dword x; byte y[3];
  mov x, 5;
  mov eax, x;
  add eax, a;
}
function nolocals { mov eax, 2; }
locals(nolocals());
jmp over;
int3; int3; int3;
over:
cmp eax, 7;
jne bad;
$pad
ExitProcess(eax);
bad:
ExitProcess(1);
TAV
if build jumps && have objdump; then
  objdump -d -M intel jumps.exe >jumps.d
  grep -qE '^ +[0-9a-f]+:\s+eb 03\s+jmp ' jumps.d || fail "jumps: no short jmp over the three int3"
  grep -qE '^ +[0-9a-f]+:\s+0f 85 [0-9a-f ]{11}\s+jne ' jumps.d || fail "jumps: no near jne"
  # The target of the near jne is the push of 1 after the padding.
  t=$(sed -nE 's/.*\sjne +0x([0-9a-f]+).*/\1/p' jumps.d)
  grep -qE "^ +$t:\s+6a 01\s+push +0x1" jumps.d || fail "jumps: jne lands at $t"
  # Locals x and y: eight bytes of frame; no frame line left in nolocals.
  grep -qE '81 ec 08 00 00 00\s+sub +esp,0x8$' jumps.d || fail "jumps: locals not reserved"
  [ "$(grep -c 'sub  *esp' jumps.d)" = 1 ] || fail "jumps: more than one sub esp"
  grep -qE '^ +[0-9a-f]+:\s+90\s+nop' jumps.d && [ "$(grep -cE '\snop$' jumps.d)" != 160 ] && fail "jumps: placeholder bytes left"
  grep -qE 'b8 02 00 00 00\s+mov +eax,0x2' jumps.d || fail "jumps: nolocals body"
  if [ $have_wine = 1 ]; then
    runexe jumps
    [ "$rc" = 7 ] || fail "jumps: exit code $rc, expected 7"
  fi
fi

# ---- string constants: ansi as written, wide as UTF-16 ----
cat >wide.tav <<'TAV'
program pe32_cui 'wide';
imports('kernel32.dll') {
  function lstrlenW(dword s): dword;
  function lstrlenA(dword s): dword;
  procedure ExitProcess(dword code);
}
lstrlenA('añb');
mov ebx, eax;
lstrlenW("añb€😀");
shl eax, 4;
add eax, ebx;
ExitProcess(eax);
TAV
if build wide; then
  pecheck wide.exe <<'PY'
root = pe.sections[0].get_data()
assert b'a\xc3\xb1b\0' in root
assert 'añb€😀'.encode('utf-16-le') + b'\0\0' in root
PY
  if [ $have_wine = 1 ]; then
    runexe wide
    # 6 UTF-16 units (the last character takes two) and 4 bytes
    [ "$rc" = $((6 * 16 + 4)) ] || fail "wide: exit code $rc"
  fi
fi

# ---- the entry point is a label inside a procedure ----
cat >entry.tav <<'TAV'
program pe32_cui 'entry';
imports('kernel32.dll') { procedure ExitProcess(dword code); }
procedure p {
  ExitProcess(9);
  entry:
  ExitProcess(4);
}
p();
ExitProcess(5);
TAV
if build entry; then
  pecheck entry.exe <<'PY'
code = pe.sections[-1]
ep = pe.OPTIONAL_HEADER.AddressOfEntryPoint
assert ep > code.VirtualAddress, hex(ep)
# the entry is the push of 4, inside p
off = pe.get_offset_from_rva(ep)
assert data[off:off+2] == b'\x6a\x04', data[off:off+2]
PY
  if [ $have_wine = 1 ]; then
    runexe entry
    [ "$rc" = 4 ] || fail "entry: exit code $rc, expected 4"
  fi
fi

# ---- nothing in .root: it still has its own place ----
printf "program pe32_cui 'bare';\nmov eax, 3;\nretn;\n" >bare.tav
if build bare; then
  [ "$(stat -c %s bare.exe)" = 1536 ] || fail "bare: size $(stat -c %s bare.exe)"
  pecheck bare.exe <<'PY'
root, code = pe.sections
assert root.VirtualAddress == 0x1000 and root.SizeOfRawData == 512 and root.Misc_VirtualSize > 0
assert code.VirtualAddress == 0x2000 and code.PointerToRawData == 1024
assert pe.OPTIONAL_HEADER.AddressOfEntryPoint == 0x2000 and pe.OPTIONAL_HEADER.SizeOfImage == 0x3000
PY
  if [ $have_wine = 1 ]; then
    runexe bare
    [ "$rc" = 3 ] || fail "bare: exit code $rc, expected 3"
  fi
fi

# ---- the bundled example of the README ----
src=${TAVIK_SOURCE_DIR:-$(dirname "$0")/../..}
cp "$src/examples/hello.tav" example.tav
if build example; then
  if have objdump; then
    objdump -p example.exe | grep '(Windows CUI)' >/dev/null || fail "example: not a console image"
  fi
  if [ $have_wine = 1 ]; then
    runexe example
    [ "$rc" = 0 ] || fail "example: exit code $rc"
    [ "$(cat example.out)" = "Hello from Tavik" ] || fail "example: output '$(cat example.out)'"
  fi
fi
# The bundled DLL and its client.
cp "$src/examples/greetlib.tav" "$src/examples/greet.tav" .
if build greetlib dll && build greet; then
  pecheck greetlib.dll <<'PY'
assert sorted(s.name for s in pe.DIRECTORY_ENTRY_EXPORT.symbols) == [b'Greeting', b'TextLength']
# The entry returns with its three parameters taken off: ret 12.
assert pe.get_data(pe.OPTIONAL_HEADER.AddressOfEntryPoint, 8).hex() == 'b801000000c20c00'
PY
  if [ $have_wine = 1 ]; then
    runexe greet
    [ "$rc" = 0 ] || fail "greet: exit code $rc"
    [ "$(cat greet.out)" = "Hello from a Tavik DLL" ] || fail "greet: output '$(cat greet.out)'"
  fi
fi

# ---- builds that the linker refuses leave no file ----
# An entry label in a procedure that nothing calls has no code in the image.
sed '/^p();$/d' entry.tav >unreached.tav
"$tavik" unreached.tav -nopause </dev/null >unreached.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "unreached: exit code $rc, expected 1"
grep -q 'PlugSys: Entry point entry has no code' unreached.log || fail "unreached: message"
[ "$(ls unreached.*)" = "$(printf 'unreached.log\nunreached.tav')" ] || fail "unreached: left $(ls unreached.*)"

# The raw image builder starts a 16-bit build and writes a floppy image.
printf "program raw_image 'x';\n#ifdef RAW_IMAGE: #echo have_RAW_IMAGE #end\n#echo bits\nretn;\n" >raw.tav
"$tavik" raw.tav -nopause </dev/null >raw.log 2>&1
rc=$?
[ "$rc" = 0 ] || fail "raw: exit code $rc, expected 0"
[ "$(grep -x 'have_RAW_IMAGE\|16' raw.log | tr '\n' ' ')" = "have_RAW_IMAGE 16 " ] || fail "raw: start text"
grep -q 'PlugSys: Building Raw Image!' raw.log || fail "raw: message"
[ "$(stat -c %s raw.img 2>/dev/null)" = 1474560 ] || fail "raw: no floppy image raw.img"

passed "all link checks passed"
