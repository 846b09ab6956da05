#!/usr/bin/env bash
# Include files and compiled resource files through the program: the
# resource directory of the image read back with pefile, the resources found
# by Windows' own lookup under wine, and the failures of both directives.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
fixtures=${TAVIK_SOURCE_DIR:?}/tests/fixtures/res
py=/usr/bin/python3
cp "$fixtures"/*.res .
mkdir inc

# The imports come from the -i folder, the helper from the project's folder
# (and only once, though it is named twice).
cat >inc/winapi.tav <<'TAV'
imports('kernel32.dll') {
  function GetStdHandle(dword which): dword;
  procedure WriteFile(dword h, buf, len, written, overlapped);
  procedure ExitProcess(dword code);
  function FindResourceA(dword module, name, kind): dword;
  function SizeofResource(dword module, info): dword;
  function LoadResource(dword module, info): dword;
  function LockResource(dword data): dword;
}
TAV
cat >say.tav <<'TAV'
dword written;
procedure say(dword len, text) {
  WriteFile(GetStdHandle(-11), text, len, @written, 0);
}
TAV
# Prints the RCDATA resources 8 and 10; the exit code is their total size.
cat >res.tav <<'TAV'
program pe32_cui 'res';
#include "winapi.tav"
#include "say.tav"
#tryinclude "say.tav"
#resource 'langs.res';
#resource 'mixed.res';
function show(dword id) {
  uses ebx, esi;
  FindResourceA(0, id, 10);
  mov ebx, eax;
  SizeofResource(0, ebx);
  mov esi, eax;
  LoadResource(0, ebx);
  LockResource(eax);
  say(esi, eax);
  mov eax, esi;
}
entry procedure main() {
  uses edi;
  show(8);
  mov edi, eax;
  show(10);
  add edi, eax;
  ExitProcess(edi);
}
TAV
"$tavik" res.tav -i inc -nopause </dev/null >res.log 2>&1 || { fail "res: build failed"; cat res.log; }
grep -q 'Warning' res.log && fail "res: warnings: $(grep Warning res.log)"

if have pefile && [ -e res.exe ]; then
  "$py" - res.exe <<'PY' || fail "res: resource directory"
import sys, pefile
pe = pefile.PE(sys.argv[1])
rd = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
root = pe.get_section_by_rva(rd.VirtualAddress)
assert root is not None and root.Name.rstrip(b"\0") == b".root", root
assert rd.VirtualAddress == root.VirtualAddress, hex(rd.VirtualAddress)
got = []
for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    assert t.name is None
    for i in t.directory.entries:
        for l in i.directory.entries:
            d = l.data.struct
            assert rd.VirtualAddress + rd.Size >= d.OffsetToData + d.Size
            got.append((t.id, i.id, l.id, pe.get_data(d.OffsetToData, d.Size)))
table = "\0\0\x0c\0" + "first string".encode("utf-16-le").decode("latin-1") + "\r\0" + \
        "second string".encode("utf-16-le").decode("latin-1") + "\0" * 26  # strings 3 to 15 are empty
want = [(6, 1, 0x409, table.encode("latin-1")),
        (10, 7, 0x407, b"deutsch"), (10, 7, 0x409, b"english"), (10, 8, 0x409, b"eight"),
        (10, 10, 0x409, b"ten")]
assert got == want, got
# The imports that follow the resources in the same section are intact.
names = [x.name for e in pe.DIRECTORY_ENTRY_IMPORT for x in e.imports]
assert b"FindResourceA" in names and b"ExitProcess" in names, names
PY
fi

if use_wine && [ -e res.exe ]; then
  runexe res
  [ "$rc" = 8 ] || fail "res: exit code $rc, expected 8"
  [ "$(cat res.out)" = "eightten" ] || fail "res: output '$(cat res.out)'"
fi

# ---- Named resources: "0" and "0AB" are names, beside the number 0 ----
# A library holding them, read back with pefile and looked up by a client
# built with mingw through Windows' FindResourceA, which asks for names in
# capitals and takes "#N" for the number N.
cat >names.tav <<'TAV'
program pe32_dll 'names';
#resource 'zeros.res';
#resource 'named.res';
#resource 'one.res';
TAV
"$tavik" names.tav -nopause </dev/null >names.log 2>&1 || { fail "names: build failed"; cat names.log; }
if have pefile && [ -e names.dll ]; then
  "$py" - names.dll <<'PY' || fail "names: resource directory"
import sys, pefile
pe = pefile.PE(sys.argv[1])
got = []
for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    assert t.name is None
    ids = t.directory.struct
    assert (ids.NumberOfNamedEntries, ids.NumberOfIdEntries) == (3, 2), ids
    for i in t.directory.entries:
        for l in i.directory.entries:
            d = l.data.struct
            assert d.OffsetToData % 4 == 0
            got.append((t.id, str(i.name) if i.name is not None else i.id, l.id, pe.get_data(d.OffsetToData, d.Size)))
want = [(10, "0", 0x409, b"zero"), (10, "0AB", 0x409, b"oab"), (10, "HELLO", 0x409, b"named"),
        (10, 0, 0x409, b"id0"), (10, 1, 0x409, b"hello")]
assert got == want, got
PY
fi
if use_wine && have i686-w64-mingw32-gcc && [ -e names.dll ]; then
  cat >client.c <<'C'
#include <windows.h>
#include <stdio.h>
/* Each lookup in names.dll prints the resource's data, or "-". */
static void show(HMODULE h, const char* name) {
    HRSRC r = FindResourceA(h, name, RT_RCDATA);
    if (!r) { printf("-\n"); return; }
    printf("%.*s\n", (int)SizeofResource(h, r), (const char*)LockResource(LoadResource(h, r)));
}
int main(void) {
    HMODULE h = LoadLibraryA("names.dll");
    if (!h) { printf("no library: %lu\n", GetLastError()); return 1; }
    const char* names[] = {"0", "0AB", "0ab", "hello", MAKEINTRESOURCEA(0), "#1", "0A", "0ABC", "#48"};
    for (unsigned i = 0; i < sizeof names / sizeof *names; ++i) show(h, names[i]);
    return 0;
}
C
  i686-w64-mingw32-gcc -O2 -Wall -o client.exe client.c || fail "names: client not built"
  runexe client
  [ "$rc" = 0 ] || fail "names: client exit code $rc"
  printf 'zero\noab\noab\nnamed\nid0\nhello\n-\n-\n-\n' | cmp -s - <(tr -d '\r' <client.out) ||
    fail "names: lookups gave $(od -c client.out)"
fi

# Failures: exit code 1, the message, no image.
# check NAME EXPECTED-LINE TEXT...: builds NAME.tav holding the header and TEXT.
check() {
  local name=$1 line=$2
  shift 2
  printf "program pe32_cui 'x';\n%s\n" "$*" >"$name.tav"
  "$tavik" "$name.tav" -nopause </dev/null >"$name.out" 2>&1
  local rc=$?
  [ "$rc" = 1 ] || fail "$name: exit code $rc, expected 1"
  grep -qF -- "$line" "$name.out" || { fail "$name: no line '$line'"; cat "$name.out"; }
  [ -e "$name.exe" ] && fail "$name: an image was written"
}
check noinc '[2,20]: [1448] Included file not found "gone.tav" in [noinc.tav]' '#include "gone.tav"'
check nores '[2,21]: [432] Resource file "gone.res" does not exist in [nores.tav]' "#resource 'gone.res';"
check uml '[2,24]: [442] Resource name "DÄT" in "umlaut.res" is not supported: resource names in ASCII only' \
  "#resource 'umlaut.res';"
check strtype 'Exception: This type of resource id is not supported yet, please ask a developer for details.' \
  "#resource 'strtype.res';"
check cut '[2,27]: [437] Resource file "truncated.res" is damaged' "#resource 'truncated.res';"

passed "all passed"
