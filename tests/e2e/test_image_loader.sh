#!/usr/bin/env bash
# Images as a strict loader sees them: resources found by Windows' own
# lookup under wine, the resource tree's order and the alignment of every
# table read back with pefile.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
fixtures=${TAVIK_SOURCE_DIR:?}/tests/fixtures/res
py=/usr/bin/python3
have_wine=0
use_wine && have_wine=1
have pefile
cp "$fixtures"/*.res .

# ---- resources added out of order and an identifier in two languages ----
# ids of type 10 come in as 10 (mixed), 7 in 0x409 and 0x407, 8 (langs),
# then 5, 1, 3, 2 (unsorted); every one is looked up, each result printed as
# the first byte of its data, or '-' when the lookup fails.
cat >find.tav <<'TAV'
program pe32_cui 'find';
imports('kernel32.dll') {
  function GetStdHandle(dword which): dword;
  procedure WriteFile(dword h, buf, len, written, overlapped);
  procedure ExitProcess(dword code);
  function FindResourceA(dword module, name, kind): dword;
  function FindResourceExA(dword module, kind, name, lang): dword;
  function LoadResource(dword module, info): dword;
  function LockResource(dword data): dword;
}
#resource 'mixed.res';
#resource 'langs.res';
#resource 'unsorted.res';
dword written;
byte letter;
procedure show(dword info) {
  mov eax, info;
  if (eax == 0) {
    mov letter, 45;
  } else {
    LoadResource(0, info);
    LockResource(eax);
    mov cl, byte [eax];
    mov letter, cl;
  }
  WriteFile(GetStdHandle(-11), @letter, 1, @written, 0);
}
show(FindResourceA(0, 5, 10));
show(FindResourceA(0, 1, 10));
show(FindResourceA(0, 3, 10));
show(FindResourceA(0, 2, 10));
show(FindResourceA(0, 10, 10));
show(FindResourceA(0, 8, 10));
show(FindResourceA(0, 4, 10));
show(FindResourceA(0, 10, 3));
show(FindResourceExA(0, 10, 7, 0x409));
show(FindResourceExA(0, 10, 7, 0x407));
show(FindResourceExA(0, 10, 8, 0x409));
show(FindResourceExA(0, 10, 2, 0x409));
ExitProcess(0);
TAV
if build find; then
  pecheck find.exe <<'PY'
rd = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
got = []
def level(d):
    ids = [e.id for e in d.entries]
    assert d.struct.NumberOfNamedEntries == 0 and ids == sorted(set(ids)), ids
    return d.entries
for t in level(pe.DIRECTORY_ENTRY_RESOURCE):
    for i in level(t.directory):
        for l in level(i.directory):
            d = l.data.struct
            assert d.OffsetToData % 4 == 0 and l.data.struct.get_file_offset() % 4 == 0
            assert rd.VirtualAddress <= d.OffsetToData and d.OffsetToData + d.Size <= rd.VirtualAddress + rd.Size
            got.append((t.id, i.id, l.id, pe.get_data(d.OffsetToData, d.Size)[:3]))
want = [(10, 1, 0x409, b"one"), (10, 2, 0x409, b"two"), (10, 3, 0x409, b"thr"), (10, 5, 0x409, b"fiv"),
        (10, 7, 0x407, b"deu"), (10, 7, 0x409, b"eng"), (10, 8, 0x409, b"eig"), (10, 10, 0x409, b"ten")]
assert got[0][:3] == (6, 1, 0x409) and got[1:] == want, got
PY
  if [ $have_wine = 1 ]; then
    runexe find
    [ "$rc" = 0 ] || fail "find: exit code $rc"
    [ "$(cat find.out)" = "fottte--edet" ] || fail "find: found '$(cat find.out)', expected 'fottte--edet'"
  fi
fi

# The same type, identifier and language from two files is refused.
printf "program pe32_cui 'dup';\n#resource 'one.res';\n#resource 'unsorted.res';\nretn;\n" >dup.tav
"$tavik" dup.tav -nopause </dev/null >dup.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "dup: exit code $rc, expected 1"
grep -qF '[3,26]: [441] Resource of type 10, id 1 and language 1033 in "unsorted.res" is already defined' dup.log ||
  { fail "dup: message"; cat dup.log; }
[ -e dup.exe ] && fail "dup: an image was written"

# ---- relocations: a DLL always has them, an executable that has them says so ----
cat >norel.tav <<'TAV'
program pe32_dll 'norel';
#set relocations 0;
dword v = 5;
function get { mov eax, v; }
exports get;
mov eax, 1;
ret 12;
TAV
"$tavik" norel.tav -nopause </dev/null >norel.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "norel: exit code $rc, expected 1"
grep -qF 'PlugSys: A DLL is always written with its base relocations: "#set relocations 0" is not allowed for pe32_dll' \
  norel.log || { fail "norel: message"; cat norel.log; }
[ -e norel.dll ] && fail "norel: an image was written"

cat >relexe.tav <<'TAV'
program pe32_cui 'relexe';
#set relocations 1;
imports('kernel32.dll') { procedure ExitProcess(dword code); }
dword v = 9;
ExitProcess(v);
TAV
if build relexe; then
  pecheck relexe.exe <<'PY'
fh = pe.FILE_HEADER
assert fh.Characteristics == 0x818E, hex(fh.Characteristics)  # all but "relocations stripped"
assert pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size > 0
assert sum(len(b.entries) for b in pe.DIRECTORY_ENTRY_BASERELOC) >= 2
PY
  if [ $have_wine = 1 ]; then
    runexe relexe
    [ "$rc" = 9 ] || fail "relexe: exit code $rc, expected 9"
  fi
fi

# ---- sizes: variables far beyond what a 32-bit loader maps ----
# Four 1 GB uninitialised arrays: refused at the one that passes 2 GB, with
# the memory of the whole run far below what they declare (an address space
# limit of 400 MB; an AddressSanitizer build needs more than that itself).
limit_memory() { ldd "$tavik" 2>/dev/null | grep -q libasan || ulimit -v 400000; }
# sizes NAME BUILDER VARIABLES USES: a program declaring and using them.
sizes() {
  { echo "program $2 '$1';"
    [ "$2" = raw_image ] || echo "imports('kernel32.dll') { procedure ExitProcess(dword code); }"
    echo "$3"
    for v in $4; do echo "mov ${5:-eax}, @$v;"; done
    echo "retn;"; } >"$1.tav"
  ( limit_memory; "$tavik" "$1.tav" -nopause </dev/null >"$1.log" 2>&1 )
}
G=1073741824
sizes huge pe32_cui "byte a[$G], b[$G];
byte c[$G], d[$G];" "a b c d"
rc=$?
[ "$rc" = 1 ] || { fail "huge: exit code $rc, expected 1"; cat huge.log; }
grep -qF 'PlugSys: Variable b does not fit in the image: it would end 2147491840 bytes into it, past the limit'\
' of 2147483648 bytes' huge.log ||
  { fail "huge: message"; cat huge.log; }
[ -e huge.exe ] && fail "huge: an image was written"

# Just under the limit: .root and .data from 0x1000, one page of code; the
# image ends exactly at 2 GB. One byte more is refused.
sizes edge pe32_cui "byte a[$G], b[$((G - 0x3000))];" "a b"
rc=$?
if [ "$rc" = 0 ]; then
  pecheck edge.exe <<'PY'
oh = pe.OPTIONAL_HEADER
assert oh.SizeOfImage == 0x80000000, hex(oh.SizeOfImage)
data = pe.sections[1]
assert data.VirtualAddress == 0x2000 and data.Misc_VirtualSize == 0x7FFFD000 and data.SizeOfRawData == 0
assert pe.sections[2].VirtualAddress == 0x7FFFF000
PY
  [ "$(stat -c %s edge.exe)" -lt 4096 ] || fail "edge: the uninitialised variables take room in the file"
else
  fail "edge: exit code $rc"; cat edge.log
fi
sizes over pe32_cui "byte a[$G], b[$((G - 0x3000 + 1))];" "a b"
rc=$?
[ "$rc" = 1 ] && grep -qF 'PlugSys: Variable b does not fit in the image' over.log ||
  { fail "over: not refused"; cat over.log; }

# The boot image builder refuses variables that overflow the floppy before it
# makes their bytes.
sizes rawhuge raw_image "byte a[16], b[$G], c[$G];" "a b c" ax
rc=$?
[ "$rc" = 1 ] || { fail "rawhuge: exit code $rc, expected 1"; cat rawhuge.log; }
grep -qF 'PlugSys: Variable b does not fit in the image: it would end 1073741850 bytes into it, past the limit of'\
' 1474560 bytes' rawhuge.log ||
  { fail "rawhuge: message"; cat rawhuge.log; }
[ -e rawhuge.img ] && fail "rawhuge: an image was written"

# ---- every table on the boundary the format wants ----
# The bundled examples, the resource program above and a DLL with resources
# of odd sizes, imports and exports together.
cp "${TAVIK_SOURCE_DIR}"/examples/{hello,greetlib,greet}.tav .
cat >mix.tav <<'TAV'
program pe32_dll 'mix';
imports('kernel32.dll') {
  function GetTickCount: dword;
  function GetCurrentProcessId: dword;
}
#resource 'one.res';
#resource 'mixed.res';
dword v = 3;
function a { GetTickCount(); }
function Bcd { GetCurrentProcessId(); mov eax, v; }
function efghi { mov eax, 'x'; }
exports a, Bcd, efghi;
mov eax, 1;
ret 12;
TAV
cat >aligned.py <<'PY'
# The directories, import hint/name entries and resource entries of one
# image on their boundaries; pefile finds nothing wrong with it.
import sys, pefile
pe = pefile.PE(sys.argv[1])
warnings = [w for w in pe.get_warnings() if not w.startswith("Byte 0x00 makes up")]
assert not warnings, warnings
dirs = [(i, d.VirtualAddress) for i, d in enumerate(pe.OPTIONAL_HEADER.DATA_DIRECTORY) if d.Size]
assert dirs and all(rva % 4 == 0 for i, rva in dirs), [(i, hex(r)) for i, r in dirs]
for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
    assert e.struct.get_file_offset() % 4 == 0
    for imp in e.imports:
        assert imp.hint_name_table_rva % 2 == 0, (imp.name, hex(imp.hint_name_table_rva))
if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
    # the directory names the image's own file
    assert pe.DIRECTORY_ENTRY_EXPORT.name == sys.argv[1].encode(), pe.DIRECTORY_ENTRY_EXPORT.name
    x = pe.DIRECTORY_ENTRY_EXPORT.struct
    assert x.AddressOfFunctions % 4 == 0 and x.AddressOfNames % 4 == 0 and x.AddressOfNameOrdinals % 2 == 0
for b in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
    assert b.struct.VirtualAddress % 4096 == 0 and b.struct.SizeOfBlock % 4 == 0
def level(d):
    ids = [e.id for e in d.entries]
    assert ids == sorted(set(ids)), ids
    return d.entries
if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
    for t in level(pe.DIRECTORY_ENTRY_RESOURCE):
        for i in level(t.directory):
            for l in level(i.directory):
                assert l.data.struct.get_file_offset() % 4 == 0 and l.data.struct.OffsetToData % 4 == 0
PY
for img in hello.exe greetlib.dll greet.exe mix.dll find.exe relexe.exe; do
  [ -e "$img" ] || build "${img%.*}" "${img#*.}" || continue
  have pefile || continue
  "$py" aligned.py "$img" >"$img.pe" 2>&1 || { fail "$img: alignment"; cat "$img.pe"; }
done
pecheck mix.dll <<'PY'
# resources of 5 and 3 bytes, then imports, exports and relocations
d = pe.OPTIONAL_HEADER.DATA_DIRECTORY
assert 0 < d[2].VirtualAddress < d[1].VirtualAddress < d[0].VirtualAddress < d[5].VirtualAddress
assert [s.name for s in pe.DIRECTORY_ENTRY_EXPORT.symbols] == [b"Bcd", b"a", b"efghi"]
PY

# ---- exports and imports that cannot work ----
# The ordinals are 16-bit: 65,535 exports at most, each with its own ordinal.
exports_of() {
  { echo "program pe32_dll '$1';"
    for ((i = 0; i < $2; i++)); do echo "function E$i { mov eax, $i; } exports E$i;"; done
    echo "mov eax, 1; ret 12;"; } >"$1.tav"
}
exports_of most 65535
if build most dll; then
  pecheck most.dll <<'PY'
x = pe.DIRECTORY_ENTRY_EXPORT.struct
n = x.NumberOfFunctions
assert n == x.NumberOfNames == 65535, n
import struct
ordinals = struct.unpack("<%dH" % n, pe.get_data(x.AddressOfNameOrdinals, 2 * n))
assert sorted(ordinals) == list(range(n))
addresses = struct.unpack("<%dI" % n, pe.get_data(x.AddressOfFunctions, 4 * n))
assert len(set(addresses)) == n
PY
fi
exports_of toomany 65536
"$tavik" toomany.tav -nopause </dev/null >toomany.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "toomany: exit code $rc, expected 1"
grep -qF '[65537,51]: [46544] Too many exports: 65535 at most in [toomany.tav]' toomany.log ||
  { fail "toomany: message"; head -c 2000 toomany.log; }
[ -e toomany.dll ] && fail "toomany: an image was written"

printf "program pe32_cui 'noname';\nimports('') { procedure Nothing(); }\nNothing();\n" >noname.tav
"$tavik" noname.tav -nopause </dev/null >noname.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "noname: exit code $rc, expected 1"
grep -qF "[2,11]: [46545] Import library without a name in [noname.tav]" noname.log ||
  { fail "noname: message"; cat noname.log; }

# ---- library names outside ASCII ----
# The loader reads an import's library name in the ANSI code page of the
# machine it runs on, which the image cannot know: such a name is refused
# where it is written. The export directory's own name (the output's file
# name) likewise; a library without exports has no such name and builds.
printf "program pe32_cui 'client';\nimports('d\xc3\xa4tlib.dll') { procedure Hello(); }\nHello();\n" >uclient.tav
"$tavik" uclient.tav -nopause </dev/null >uclient.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "uclient: exit code $rc, expected 1"
grep -qF '[2,22]: [46546] Import library name "dätlib.dll" is not supported: library names in ASCII only in [uclient.tav]' \
  uclient.log || { fail "uclient: message"; cat uclient.log; }
[ -e uclient.exe ] && fail "uclient: an image was written"
printf "program pe32_dll 'lib';\nprocedure Hello() { nop; }\nexports Hello;\n" >dätlib.tav
"$tavik" dätlib.tav -nopause </dev/null >dätlib.log 2>&1
rc=$?
[ "$rc" = 1 ] || fail "dätlib: exit code $rc, expected 1"
grep -qxF 'PlugSys: Library name "dätlib.dll" is not supported in the export directory: library names in ASCII only (-out gives another)' \
  dätlib.log || { fail "dätlib: message"; cat dätlib.log; }
[ -e dätlib.dll ] && fail "dätlib: an image was written"
if "$tavik" dätlib.tav -out datlib -nopause </dev/null >datlib.log 2>&1; then
  pecheck datlib.dll <<'PY'
assert pe.DIRECTORY_ENTRY_EXPORT.name == b"datlib.dll", pe.DIRECTORY_ENTRY_EXPORT.name
assert [e.name for e in pe.DIRECTORY_ENTRY_EXPORT.symbols] == [b"Hello"]
PY
else
  fail "datlib: build failed"; cat datlib.log
fi
printf "program pe32_dll 'lib';\nprocedure Hello() { nop; }\n" >dätnone.tav
build dätnone dll

passed "all loader checks passed"
