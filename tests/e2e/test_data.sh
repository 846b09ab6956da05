#!/usr/bin/env bash
# Data declarations through the whole program: a console image whose
# initialised globals, block fields, constants, enumerations and procedure
# locals are checked with objdump and pefile, then run under wine, where the
# exit code is the sum the program computes from them.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

cat >data.tav <<'EOF'
program pe32_cui 'data';
type u32 = dword;
const BASE = 10 * 4;
enum Step: byte { First = 1, Second, Third }
block Pair { dword a; union { byte lo; word w; } dword b; }
u32 table[] = [1, 2, 3, 4];
Pair pr;
byte msg[8] = 'ok';
single half = 0.5;

// Every local is written before any is read: overlapping locals would
// spoil the sum.
procedure sum() {
  byte flag; dword acc; word tmp; byte pad[3]; dword last;
  uses ebx esi;
  mov last, 1000;
  mov acc, 0;
  mov pad, 7;
  mov tmp, 0x1234;
  mov flag, Third;
  mov eax, table[0]; add acc, eax;
  mov eax, table[1]; add acc, eax;
  mov eax, table[2]; add acc, eax;
  mov eax, table[3]; add acc, eax;
  movzx eax, flag; add acc, eax;
  xor eax, eax; mov al, msg[1]; add acc, eax;
  movzx eax, tmp; sub eax, 0x1234; add acc, eax;
  movzx eax, pad; add acc, eax;
  mov eax, last; sub eax, 1000; add acc, eax;
  mov eax, acc;
}

sum();
add eax, BASE;
mov pr.b, eax;
mov pr.w, 0xFFFF;
mov pr.a, 0;
mov eax, pr.b;
mov ebx, half; sub ebx, 0x3F000000; add eax, ebx;
retn;
EOF
# 1+2+3+4 + 3 + 'k' (107) + 0 + 7 + 0 + 40
want=167

"$tavik" data.tav -nopause </dev/null >build.out 2>&1
rc=$?
[ "$rc" = 0 ] || { cat build.out; fail "build: exit code $rc"; }
[ -f data.exe ] || { fail "no data.exe"; exit 1; }

if have objdump; then
  objdump -d -M intel data.exe >dis.txt || fail "objdump failed"
  # The five locals take 20 bytes of frame; prologue and epilogue agree.
  grep -qE 'sub +esp,0x14$' dis.txt || fail "prologue does not reserve 0x14 bytes"
  grep -qE 'add +esp,0x14$' dis.txt || fail "epilogue does not release 0x14 bytes"
  for disp in '\[ebp-0x1\]' '\[ebp-0x8\]' '\[ebp-0xa\]' '\[ebp-0xf\]' '\[ebp-0x14\]'; do
    grep -q "$disp" dis.txt || fail "no local at $disp"
  done
  # The procedure's code follows the main code: its first global read is table[0].
  awk '/push +ebp$/ { p = 1 } p' dis.txt >proc.txt
  table=$(grep -oE 'mov +eax,ds:0x[0-9a-f]+' proc.txt | head -1 | sed 's/.*ds://')
  msg=$(grep -oE 'mov +al,ds:0x[0-9a-f]+' dis.txt | head -1 | sed 's/.*ds://')
  half=$(grep -oE 'mov +ebx,(DWORD PTR )?ds:0x[0-9a-f]+' dis.txt | head -1 | sed 's/.*ds://')
  [ -n "$table" ] && [ -n "$msg" ] && [ -n "$half" ] || fail "data references not found"
  if have pefile; then
    /usr/bin/python3 - data.exe "$table" "$msg" "$half" >pe.out 2>&1 <<'PY' || { cat pe.out; fail "initial contents"; }
import sys, pefile
pe = pefile.PE(sys.argv[1])
base = pe.OPTIONAL_HEADER.ImageBase
def at(addr, n):
    return pe.get_data(int(addr, 16) - base, n)
assert at(sys.argv[2], 16) == bytes([1,0,0,0, 2,0,0,0, 3,0,0,0, 4,0,0,0]), at(sys.argv[2], 16)
# msg[1] is read: the text starts one byte before.
assert at(hex(int(sys.argv[3], 16) - 1), 8) == b'ok\0\0\0\0\0\0', at(hex(int(sys.argv[3], 16) - 1), 8)
assert at(sys.argv[4], 4) == bytes([0, 0, 0, 0x3f]), at(sys.argv[4], 4)
PY
  fi
fi

if use_wine; then
  runexe data
  [ "$rc" = "$want" ] || { cat data.out data.err; fail "run: exit code $rc, expected $want"; }
fi

passed "data end-to-end checks passed"
