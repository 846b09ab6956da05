#!/usr/bin/env python3
"""Writes the benchmark programs.

  programs.py peers N DIR    the same N-line i386 program for Tavik, fasm, NASM
                             and GNU as (Intel and AT&T syntax)
  programs.py shape NAME N DIR
                             a Tavik program of about N lines of one shape
                             (see SHAPES)

Each call prints the files it wrote, one per line: path and line count.
"""
import os
import sys

# The peer program: blocks of a label and nine instructions. Its far jump goes
# FAR blocks ahead (wrapping to the start), so the jumps at the end go back.
FAR = 5000

INTEL = [
    "mov eax, [ebx+ecx*4+8]",
    "add eax, 12345",
    "mov [esi+edi*2-16], edx",
    "lea edx, [eax+ebx*8+100000]",
    "cmp eax, ebx",
    "jne L{fwd}",
    "push ebp",
    "jmp L{back}",
    "jz L{far}",
]
ATT = [
    "movl 8(%ebx,%ecx,4), %eax",
    "addl $12345, %eax",
    "movl %edx, -16(%esi,%edi,2)",
    "leal 100000(%eax,%ebx,8), %edx",
    "cmpl %ebx, %eax",
    "jne L{fwd}",
    "pushl %ebp",
    "jmp L{back}",
    "jz L{far}",
]

# name: (header lines, instruction templates, line end)
PEERS = {
    "t.tav": (["program pe32_cui 'bench';"], INTEL, ";"),
    "t.fasm.asm": (["use32"], INTEL, ""),
    "t.nasm.asm": (["bits 32"], INTEL, ""),
    "t.gas-intel.s": ([".intel_syntax noprefix", ".code32", ".text"], INTEL, ""),
    "t.gas-att.s": ([".code32", ".text"], ATT, ""),
}


def write_lines(path, lines):
    """Writes an iterable of lines; returns how many were written."""
    n = 0
    with open(path, "w") as f:
        buf = []
        for line in lines:
            buf.append(line)
            n += 1
            if len(buf) >= 10000:
                f.write("\n".join(buf) + "\n")
                buf.clear()
        if buf:
            f.write("\n".join(buf) + "\n")
    return n


def peer_lines(header, templates, end, blocks):
    yield from header
    for k in range(blocks):
        yield f"L{k}:"
        fwd = min(k + 1, blocks - 1)
        back = max(k - 1, 0)
        far = (k + FAR) % blocks
        for t in templates:
            yield "    " + t.format(fwd=fwd, back=back, far=far) + end


def peers(n, folder, names=PEERS):
    blocks = max(n // 10, 2)
    out = []
    for name in names:
        header, templates, end = PEERS[name]
        path = os.path.join(folder, name)
        out.append((path, write_lines(path, peer_lines(header, templates, end, blocks))))
    return out


# Shapes of Tavik programs. Each generator takes a count of units and yields
# lines; LINES_PER_UNIT turns a line target into a unit count.

def straight(units):
    """Instructions only: no labels, jumps, declarations or statements."""
    yield "program pe32_cui 'straight';"
    for k in range(units):
        yield f"mov eax, [ebx+ecx*4+{k % 1000}];"
        yield f"add eax, {k};"
        yield "mov [esi+edi*2-16], edx;"
        yield f"lea edx, [eax+ebx*8+{k}];"
        yield "xor ecx, edx;"
        yield "shl eax, 3;"
        yield "push ebp;"
        yield "pop ebp;"
        yield "movzx ecx, byte [esi+4];"
        yield "sub edx, ecx;"
    yield "xor eax, eax;"


def procs(units):
    """Procedures and functions with parameters and a local, each calling the
    one before it; the main code calls the last."""
    yield "program pe32_cui 'procs';"
    for k in range(units):
        yield f"function f{k}(dword a, b) {{"
        yield "  dword t;"
        yield "  uses ebx;"
        yield "  mov eax, a;"
        yield "  add eax, b;"
        yield "  mov t, eax;"
        yield "  mov ebx, t;"
        if k:
            yield f"  f{k - 1}(ebx, {k});"
        yield "  add eax, ebx;"
        yield "}"
    yield f"f{units - 1}(1, 2);"
    yield "xor eax, eax;"


def globals_(units):
    """Globals of several types with initial values and string constants, all
    used by the main code."""
    yield "program pe32_cui 'globals';"
    for k in range(units):
        yield f"dword g{k} = {k};"
        yield f"word w{k} = {k % 65536};"
        yield f"byte b{k}[12] = 'b{k}';"
        yield f"dword a{k}[] = [{k}, {k + 1}, {k + 2}];"
        yield f"const C{k} = {k} * 3 + 1;"
    for k in range(units):
        yield f"mov eax, g{k};"
        yield f"mov a{k}[2], eax;"
        yield f"mov cx, w{k};"
        yield f"mov esi, 'string constant number {k}';"
        yield f"mov edi, @b{k};"
        yield f"g{k} += C{k};"
    yield "xor eax, eax;"


def control(units):
    """if / elseif / else, while and repeat, nested, in the main code."""
    yield "program pe32_cui 'control';"
    yield "xor ebx, ebx;"
    for k in range(units):
        yield f"if (eax == {k}) {{"
        yield "  inc ebx;"
        yield f"}} elseif ((eax > {k}) and (ebx != 0)) {{"
        yield "  dec ebx;"
        yield "} else {"
        yield "  add ebx, 2;"
        yield "}"
        yield f"while (ecx < {k % 100}) {{"
        yield "  inc ecx;"
        yield "  break if (edx == 7);"
        yield "}"
        yield "repeat {"
        yield "  dec ecx;"
        yield "} until (ecx == 0);"
    yield "xor eax, eax;"


def macros(units):
    """Uses of inline procedures, op procedures and inline functions."""
    yield "program pe32_cui 'macros';"
    yield "inline procedure addmix($r, $n) {"
    yield "  add $r, $n;"
    yield "  xor $r, ebx;"
    yield "}"
    yield "inline op procedure zero($r) {"
    yield "  xor $r, $r;"
    yield "}"
    yield "inline function sq($n) {"
    yield "  #r = $n * $n;"
    yield "  #return $r;"
    yield "}"
    for k in range(units):
        yield f"addmix(eax, {k});"
        yield "zero ecx;"
        yield f"mov edx, sq({k % 1000});"
        yield f"addmix(edx, {k + 1});"
        yield "zero esi;"
    yield "xor eax, eax;"


def forward(units):
    """Jumps to labels all placed after every jump: each stays open until the
    second half of the program."""
    yield "program pe32_cui 'forward';"
    for k in range(units):
        yield f"cmp eax, {k};"
        yield f"je F{k};"
        yield f"jmp G{k};"
    for k in range(units):
        yield f"F{k}:"
        yield "inc eax;"
        yield f"G{k}:"
    yield "xor eax, eax;"


SHAPES = {
    "straight": (straight, 10),
    "procs": (procs, 10),
    "globals": (globals_, 11),
    "control": (control, 14),
    "macros": (macros, 5),
    "forward": (forward, 6),
}


def shape(name, n, folder):
    gen, per_unit = SHAPES[name]
    path = os.path.join(folder, f"{name}.tav")
    return [(path, write_lines(path, gen(max(n // per_unit, 2))))]


def main(argv):
    if len(argv) in (4, 5):
        os.makedirs(argv[-1], exist_ok=True)
    if len(argv) == 4 and argv[1] == "peers":
        out = peers(int(argv[2]), argv[3])
    elif len(argv) == 5 and argv[1] == "shape" and argv[2] in SHAPES:
        out = shape(argv[2], int(argv[3]), argv[4])
    else:
        sys.exit(__doc__ + "\nshapes: " + ", ".join(SHAPES))
    for path, lines in out:
        print(path, lines)


if __name__ == "__main__":
    main(sys.argv)
