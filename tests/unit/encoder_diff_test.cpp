// Every row of the instruction table, in the operand shapes of its family,
// encoded by us and by `as --32`, decoded by objdump (see diff_harness.h).
#include <cstdio>
#include <set>

#include "../encoder/encoder_fixture.h"
#include "../encoder/diff_harness.h"

using namespace enctest;

namespace {

const char* const names8[] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const names16[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char* const names32[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};

std::string regName(TRegister r) {
    if (r < 8) return names8[r];
    if (r < 16) return names16[r - 8];
    return names32[(r - 16) & 7];
}

std::string hexNum(int64_t v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", (unsigned long long)v);
    return b;
}

std::string sizeWord(uint32_t size) {
    switch (size) {
    case 1: return "BYTE PTR ";
    case 2: return "WORD PTR ";
    case 4: return "DWORD PTR ";
    case 8: return "QWORD PTR ";
    case 10: return "TBYTE PTR ";
    default: return "";
    }
}

Opnd reg(TRegister r) { return {R(r), regName(r)}; }
Opnd imm(int64_t v) { return {I(v), std::to_string(v)}; }
Opnd st(int i) { return {ST(i), i ? "st(" + std::to_string(i) + ")" : "st"}; }
Opnd mm(int i) { return {ST(i), "mm" + std::to_string(i)}; }
Opnd xmm(int i) { return {XMM(i), "xmm" + std::to_string(i)}; }

// One memory shape: no register, a base, a scaled index alone, or base and index.
struct Shape {
    int count;
    TRegister base, index;
    uint8_t scale;
    int32_t disp;
};

Opnd mem(uint32_t size, const Shape& s) {
    Opnd o;
    if (s.count == 0) o.op = M(size, s.disp, 0, {});
    else if (s.count == 1) o.op = M(size, s.disp, s.scale, {s.base});
    else o.op = M(size, s.disp, s.scale, {s.base, s.index});
    std::string t;
    if (s.count >= 1) t = regName(s.base);
    if (s.count == 1 && s.scale > 1) t += "*" + std::to_string(s.scale);
    if (s.count == 2) t += "+" + regName(s.index) + (s.scale ? "*" + std::to_string(s.scale) : "");
    if (s.count == 0) t = hexNum(uint32_t(s.disp));
    else if (s.disp > 0) t += "+" + hexNum(s.disp);
    else if (s.disp < 0) t += "-" + hexNum(-int64_t(s.disp));
    o.text = sizeWord(size) + "[" + t + "]";
    return o;
}

// The byte limits, and values whose low word alone would fit a byte.
const int32_t disps[] = {0, 0x7F, -0x7F, 0x80, -0x80, -0x81, 0x10000, 0x1007F, -0x10000, 0xFF80, 0x12345678};
const int64_t imms[] = {0, 1, -1, 127, 128, -128, -129, 0x7FFFFFFF};

std::vector<int64_t> immsFor(uint32_t width) {
    std::vector<int64_t> v;
    for (int64_t i : imms)
        if (width == 4 || (width == 1 && i >= -128 && i <= 255) || (width == 2 && i >= -32768 && i <= 65535))
            v.push_back(i);
    return v;
}

TRegister r32(int n) { return TRegister(REG_EAX + n); }
TRegister r16(int n) { return TRegister(REG_AX + n); }
TRegister r8(int n) { return TRegister(REG_AL + n); }
TRegister rOf(uint32_t width, int n) { return width == 1 ? r8(n) : width == 2 ? r16(n) : r32(n); }

// Every 32-bit addressing form: esp and ebp bases, each scale, displacements
// around the byte limits.
std::vector<Shape> fullMatrix32() {
    std::vector<Shape> v;
    for (int32_t d : {0x80, 0x1234, 0x12345678}) v.push_back({0, REG_EAX, REG_EAX, 0, d});
    for (int b = 0; b < 8; ++b)
        for (int32_t d : disps) v.push_back({1, r32(b), REG_EAX, 0, d});
    for (int i = 0; i < 8; ++i)
        if (i != 4)
            for (uint8_t sc : {2, 4, 8})
                for (int32_t d : disps) v.push_back({1, r32(i), REG_EAX, sc, d});
    for (int b = 0; b < 8; ++b)
        for (int i = 0; i < 8; ++i)
            if (i != 4)
                for (uint8_t sc : {0, 1, 2, 4, 8})
                    for (int32_t d : disps) v.push_back({2, r32(b), r32(i), sc, d});
    return v;
}

// A few shapes for the rows that only need to show their ModRM works.
std::vector<Shape> someShapes32() {
    return {
        {1, REG_EBX, REG_EAX, 0, 0},          {1, REG_EBP, REG_EAX, 0, 0},          {1, REG_ESP, REG_EAX, 0, 0},
        {1, REG_ESP, REG_EAX, 0, 0x80},       {1, REG_EBP, REG_EAX, 0, -0x80},      {2, REG_EAX, REG_ECX, 4, 0x7F},
        {2, REG_EBP, REG_ESI, 8, -0x80},      {2, REG_ESP, REG_EDI, 2, 0x12345678}, {1, REG_ECX, REG_EAX, 4, 8},
        {0, REG_EAX, REG_EAX, 0, 0x12345678}, {1, REG_EDI, REG_EAX, 0, 0x7F},       {1, REG_ESI, REG_EAX, 0, -0x7F}};
}

std::vector<Shape> matrix16() {
    std::vector<Shape> v;
    v.push_back({0, REG_AX, REG_AX, 0, 0x1234});
    for (TRegister b : {REG_BX, REG_BP, REG_SI, REG_DI})
        for (int32_t d : {0, 0x7F, -0x7F, 0x80, -0x80, 0x1234}) v.push_back({1, b, REG_AX, 0, d});
    for (TRegister b : {REG_BX, REG_BP})
        for (TRegister i : {REG_SI, REG_DI})
            for (int32_t d : {0, 0x7F, -0x7F, 0x80, -0x80, 0x1234}) v.push_back({2, b, i, 0, d});
    return v;
}

bool isPrefixRow(std::string_view n) {
    return n == "rep" || n == "repe" || n == "repz" || n == "repne" || n == "repnz" || n == "repn" || n == "lock";
}

class Gen {
public:
    std::vector<DiffCase> cases;
    void add(const std::string& mn, std::vector<Opnd> ops, std::string text = "", bool longer = false) {
        cases.push_back({mn, std::move(ops), std::move(text), longer});
    }
};

// A few 16-bit shapes for the rows that only need to show their ModRM works.
std::vector<Shape> someShapes16() {
    return {{1, REG_BX, REG_AX, 0, 0},     {1, REG_BP, REG_AX, 0, 0},     {1, REG_SI, REG_AX, 0, 0x80},
            {1, REG_DI, REG_AX, 0, -0x80}, {2, REG_BX, REG_SI, 0, 0x7F},  {2, REG_BP, REG_DI, 0, -0x1234},
            {2, REG_BP, REG_SI, 0, 0},     {0, REG_AX, REG_AX, 0, 0x1234}};
}

// The integer rows. In 16-bit mode the dword forms take their 66 and the
// word forms lose it; push and pop of a dword register keep the plain
// opcode on purpose (see the table tests), so they are left out there.
void genInteger(Gen& g, uint32_t bits) {
    const bool b16 = bits == 16;
    const auto full = b16 ? matrix16() : fullMatrix32();
    const auto some = b16 ? someShapes16() : someShapes32();
    for (const TInstruction& row : instructions) {
        const std::string n(row.name);
        switch (row.group) {
        case igEMIT:
            if (isPrefixRow(n) || (row.flags & IF_ONLY64)) break;
            if (b16 && ((row.flags & IF_MODE32) || n == "pushfq" || n == "popfq")) break;
            if (row.flags & IF_EMITIMM) {
                for (int v : {0x21, 0x80, 0}) g.add(n, {imm(v)});
            } else if (n == "pushfq" || n == "popfq") {
                g.add(n, {}, n == "pushfq" ? "pushfd" : "popfd");
            } else {
                g.add(n, {});
            }
            break;
        case igALU:
            for (uint32_t w : {1u, 2u, 4u}) {
                for (int a = 0; a < 8; ++a) {
                    for (int b = 0; b < 8; ++b) g.add(n, {reg(rOf(w, a)), reg(rOf(w, b))});
                    for (int64_t i : immsFor(w)) g.add(n, {reg(rOf(w, a)), imm(i)});
                }
                for (const Shape& s : some) {
                    g.add(n, {reg(rOf(w, 2)), mem(w, s)});
                    g.add(n, {mem(w, s), reg(rOf(w, 7))});
                    // A memory destination takes 81 with any immediate, where as uses 83.
                    for (int64_t i : immsFor(w)) g.add(n, {mem(w, s), imm(i)}, "", w != 1 && i >= -128 && i <= 127);
                }
            }
            break;
        case igLEA:
            if (b16) break;  // refused there
            for (const Shape& s : full) g.add(n, {reg(REG_EDX), mem(0, s)});
            for (int a = 0; a < 8; ++a) g.add(n, {reg(r32(a)), mem(0, some[5])});
            break;
        case igPUSH:
        case igPOP:
            for (int a = 0; a < 8; ++a) g.add(n, {reg(b16 ? r16(a) : r32(a))});
            if (row.group == igPUSH)
                for (int64_t i : imms)
                    if (!b16 || (i >= -32768 && i <= 65535)) g.add(n, {imm(i)});
            for (const Shape& s : some)
                if (!(row.group == igPOP && s.count >= 1 && s.base == REG_ESP)) g.add(n, {mem(b16 ? 2 : 4, s)});
            break;
        case igCALL:
            // Through a word in memory; the label forms are placeholders (see the symbol tests).
            for (const Shape& s : some) g.add(n, {mem(b16 ? 2 : 4, s)});
            break;
        case igGOTO:
            if (row.flags & IF_DIRECT) {
                Opnd far{I(b16 ? 0x1234 : 0x12345678), ""};
                far.op.hint = otSegLabel;
                far.op.segstart = 0x10;
                g.add(n, {far}, b16 ? "jmp 0x10:0x1234" : "jmp 0x10:0x12345678");
            }
            break;
        case igINCDEC:
        case igREGMEM:
            for (uint32_t w : {1u, 2u, 4u})
                for (int a = 0; a < 8; ++a) g.add(n, {reg(rOf(w, a))});
            if (row.group == igREGMEM)
                for (uint32_t w : {1u, 2u, 4u})
                    for (const Shape& s : some) g.add(n, {mem(w, s)});
            break;
        case igBT:
            for (uint32_t w : {2u, 4u}) {
                for (int a = 0; a < 8; ++a) {
                    g.add(n, {reg(rOf(w, a)), reg(rOf(w, 7 - a))});
                    for (int i : {0, 1, 15, 31}) g.add(n, {reg(rOf(w, a)), imm(i)});
                }
                for (const Shape& s : some) {
                    g.add(n, {mem(w, s), reg(rOf(w, 1))});
                    g.add(n, {mem(w, s), imm(5)});
                }
            }
            break;
        case igROT:
            for (uint32_t w : {1u, 2u, 4u}) {
                for (int a = 0; a < 8; ++a) {
                    for (int i : {1, 4, 31}) g.add(n, {reg(rOf(w, a)), imm(i)});
                    g.add(n, {reg(rOf(w, a)), reg(REG_CL)});
                }
                for (const Shape& s : some) {
                    g.add(n, {mem(w, s), imm(1)});
                    g.add(n, {mem(w, s), imm(7)});
                    g.add(n, {mem(w, s), reg(REG_CL)});
                }
            }
            break;
        case igRM_S:
            for (int a = 0; a < 8; ++a) g.add(n, {reg(r8(a))});
            for (const Shape& s : some) g.add(n, {mem(1, s)});
            break;
        case igMOVSX_MOVZX:
            for (int a = 0; a < 8; ++a)
                for (int b = 0; b < 8; ++b) {
                    g.add(n, {reg(r32(a)), reg(r8(b))});
                    g.add(n, {reg(r16(a)), reg(r8(b))});
                    g.add(n, {reg(r32(a)), reg(r16(b))});
                }
            for (const Shape& s : some) {
                g.add(n, {reg(REG_ESI), mem(1, s)});
                g.add(n, {reg(REG_ESI), mem(2, s)});
                g.add(n, {reg(REG_SI), mem(1, s)});
            }
            break;
        case igMOV:
            for (uint32_t w : {1u, 2u, 4u}) {
                for (int a = 0; a < 8; ++a) {
                    for (int b = 0; b < 8; ++b)
                        if (a != b) g.add(n, {reg(rOf(w, a)), reg(rOf(w, b))});
                    for (int64_t i : immsFor(w)) g.add(n, {reg(rOf(w, a)), imm(i)});
                }
                for (const Shape& s : some) {
                    for (int64_t i : immsFor(w)) g.add(n, {mem(w, s), imm(i)});
                    // An address alone takes the ModRM form; as uses A0/A1.
                    g.add(n, {reg(rOf(w, 0)), mem(w, s)}, "", s.count == 0);
                    g.add(n, {mem(w, s), reg(rOf(w, 3))});
                }
            }
            for (const Shape& s : full) g.add(n, {reg(REG_ECX), mem(4, s)});
            for (const Shape& s : full) g.add(n, {mem(2, s), reg(REG_SI)});
            // A wider register from a narrower one is movzx.
            g.add(n, {reg(REG_EAX), reg(REG_BL)}, "movzx eax, bl");
            g.add(n, {reg(REG_EDX), reg(REG_CX)}, "movzx edx, cx");
            for (TSegment sg : {SEG_ES, SEG_SS, SEG_DS, SEG_FS, SEG_GS}) {
                static const char* const segNames[] = {"es", "cs", "ss", "ds", "fs", "gs"};
                // The plain form of the mode: mov sreg, r32 (r16 in 16-bit mode).
                g.add(n, {Opnd{SEG(sg), segNames[sg]}, reg(b16 ? REG_BX : REG_EBX)},
                      std::string("mov ") + segNames[sg] + (b16 ? ", bx" : ", ebx"));
            }
            break;
        case igTEST:
            for (uint32_t w : {1u, 2u, 4u}) {
                for (int a = 0; a < 8; ++a) {
                    g.add(n, {reg(rOf(w, a)), reg(rOf(w, (a + 3) & 7))});
                    for (int64_t i : immsFor(w)) g.add(n, {reg(rOf(w, a)), imm(i)});
                }
                for (const Shape& s : some) {
                    g.add(n, {mem(w, s), reg(rOf(w, 2))});
                    g.add(n, {mem(w, s), imm(0x41)});
                }
            }
            break;
        case igRET:
            if (n == "retn") g.add(n, {}, "ret");
            else
                for (int i : {1, 4, 8, 0x7FFF, 0xFFFF}) g.add(n, {imm(i)});
            break;
        case igXCHG:
            for (uint32_t w : {1u, 2u, 4u}) {
                for (int a = 0; a < 8; ++a)
                    for (int b = 0; b < 8; ++b) g.add(n, {reg(rOf(w, a)), reg(rOf(w, b))});
                for (const Shape& s : some) g.add(n, {mem(w, s), reg(rOf(w, 5))});
            }
            break;
        case igIMUL:
            for (uint32_t w : {1u, 2u, 4u})
                for (int a = 0; a < 8; ++a) g.add(n, {reg(rOf(w, a))});
            for (uint32_t w : {2u, 4u}) {
                for (int a = 0; a < 8; ++a) {
                    g.add(n, {reg(rOf(w, a)), reg(rOf(w, 7 - a))});
                    for (int64_t i : immsFor(w)) {
                        g.add(n, {reg(rOf(w, a)), imm(i)});
                        g.add(n, {reg(rOf(w, a)), reg(rOf(w, 3)), imm(i)});
                    }
                }
                for (const Shape& s : some) {
                    g.add(n, {mem(w, s)});
                    g.add(n, {reg(rOf(w, 1)), mem(w, s)});
                    for (int64_t i : immsFor(w)) g.add(n, {reg(rOf(w, 1)), mem(w, s), imm(i)});
                }
            }
            break;
        case igREG_REGMEM:
            for (uint32_t w : {2u, 4u}) {
                for (int a = 0; a < 8; ++a) g.add(n, {reg(rOf(w, a)), reg(rOf(w, (a + 5) & 7))});
                for (const Shape& s : some) g.add(n, {reg(rOf(w, 6)), mem(w, s)});
            }
            break;
        default: break;
        }
    }
}

void genFloatVector(Gen& g, uint32_t bits) {
    const auto some = bits == 16 ? someShapes16() : someShapes32();
    for (const TInstruction& row : instructions) {
        const std::string n(row.name);
        switch (row.group) {
        case igX87_FPU:
            for (int i = 0; i < 8; ++i) {
                g.add(n, {st(0), st(i)});
                if (i) g.add(n, {st(i), st(0)});
                // One stack register alone is the st(i), st(0) form (st(0), st(0) for i = 0).
                g.add(n, {st(i)}, n + " " + (i ? "st(" + std::to_string(i) + "), st" : "st, st"));
            }
            for (const Shape& s : some) {
                g.add(n, {mem(4, s)});
                g.add(n, {mem(8, s)});
            }
            break;
        case igX87_FPU_S:
            for (int i = 0; i < 8; ++i) g.add(n, {st(i)});
            for (const Shape& s : some) {
                g.add(n, {mem(4, s)});
                g.add(n, {mem(8, s)});
            }
            break;
        case igX87_MEM_STI:
        case igX87_MEM:
            if (row.group == igX87_MEM_STI)
                for (int i = 0; i < 8; ++i) g.add(n, {st(i)});
            for (const Shape& s : some) {
                if (row.flags & IF_M16) g.add(n, {mem(2, s)});
                if (row.flags & IF_M32) g.add(n, {mem(4, s)});
                if (row.flags & IF_M64) g.add(n, {mem(8, s)});
                if (row.flags & IF_M80) g.add(n, {mem(10, s)});
            }
            break;
        case igMMU_MOVQ:
            for (int a = 0; a < 8; ++a)
                for (int b = 0; b < 8; ++b) {
                    g.add(n, {mm(a), mm(b)});
                    g.add(n, {xmm(a), xmm(b)});
                    g.add(n, {xmm(a), mm(b)}, "movq2dq xmm" + std::to_string(a) + ", mm" + std::to_string(b));
                    g.add(n, {mm(a), xmm(b)}, "movdq2q mm" + std::to_string(a) + ", xmm" + std::to_string(b));
                }
            for (const Shape& s : some) {
                g.add(n, {mm(3), mem(0, s)});
                g.add(n, {xmm(3), mem(0, s)});
                g.add(n, {mem(0, s), mm(4)});
                g.add(n, {mem(0, s), xmm(4)});
            }
            break;
        case igSSE: {
            const std::pair<int, int> pairs[] = {{0, 1}, {3, 7}, {7, 0}, {5, 5}, {2, 6}};
            for (uint32_t kind : {uint32_t(IF_MMX), uint32_t(IF_XMM)}) {
                if (!(row.flags & kind)) continue;
                auto r1 = [&](int i) { return kind == IF_MMX ? mm(i) : xmm(i); };
                for (auto [a, b] : pairs) {
                    if (row.flags2 & kind) g.add(n, {r1(a), kind == IF_MMX ? mm(b) : xmm(b)});
                    if (kind == IF_XMM && (row.flags2 & IF_MMX) && !(row.flags & IF_MMX)) g.add(n, {r1(a), mm(b)});
                    if (row.flags2 & IF_IMM8)
                        for (int i : {0, 1, 3, 15}) g.add(n, {r1(a), imm(i)});
                }
                if (row.flags2 & IF_MEM)
                    for (const Shape& s : some) g.add(n, {r1(6), mem(0, s)});
            }
            break;
        }
        default: break;
        }
    }
}

class EncoderDiff : public EncoderTest {
protected:
    void run(uint32_t bits, const std::vector<DiffCase>& cases, size_t atLeast, uint32_t maxInsns = 1) {
        REQUIRE_TOOL(toolAvailable("as") && toolAvailable("objdump"), "as or objdump (binutils)");
        ASSERT_GE(cases.size(), atLeast);
        DiffReport rep = runDiffBatch(bits, cases, *asmb, maxInsns);
        size_t shown = 0;
        for (const std::string& f : rep.failures)
            if (shown++ < 40) ADD_FAILURE() << f;
        EXPECT_TRUE(rep.failures.empty()) << rep.failures.size() << " of " << rep.cases << " cases differ";
        std::printf("%zu cases: %zu same bytes, %zu same meaning\n", rep.cases, rep.sameBytes, rep.sameText);
    }
};

}  // namespace

TEST_F(EncoderDiff, IntegerFamiliesAgainstBinutils) {
    Gen g;
    genInteger(g, 32);
    run(32, g.cases, 10000);
}

TEST_F(EncoderDiff, FloatMmxSseAgainstBinutils) {
    Gen g;
    genFloatVector(g, 32);
    run(32, g.cases, 1000);
}

TEST_F(EncoderDiff, SixteenBitFormsAgainstBinutils) {
    Gen g;
    genInteger(g, 16);
    genFloatVector(g, 16);
    run(16, g.cases, 10000);
}

// The synthesised sequences, each against the instructions it stands for.
TEST_F(EncoderDiff, SequencesAgainstBinutils) {
    auto m = [](uint32_t size, int32_t d, std::initializer_list<TRegister> regs, uint8_t scale = 0) {
        return Opnd{M(size, d, scale, regs), ""};
    };
    auto ref = [&](int32_t d, std::initializer_list<TRegister> regs, uint8_t scale = 0) {
        Opnd o = m(0, d, regs, scale);
        o.op.hint = otMemRef;
        return o;
    };
    Gen g;
    g.add("push", {m(8, 0, {REG_EBX})}, "push DWORD PTR [ebx+4]; push DWORD PTR [ebx]");
    g.add("push", {m(12, 8, {REG_ESP})}, "push DWORD PTR [esp+16]; push DWORD PTR [esp+16]; push DWORD PTR [esp+16]");
    g.add("pop", {m(8, 0, {REG_EBX})}, "pop DWORD PTR [ebx]; pop DWORD PTR [ebx+4]");
    g.add("pop", {m(8, 0, {REG_ESP})}, "pop DWORD PTR [esp+4]; pop DWORD PTR [esp+4]");
    g.add("pop", {m(12, -4, {REG_ESP})}, "pop DWORD PTR [esp+4]; pop DWORD PTR [esp+4]; pop DWORD PTR [esp+4]");
    // The zero word is pushed as 66 68 00 00, the address of a frame slot adjusted with 81.
    g.add("push", {m(2, 0, {REG_EBX})}, "pushw 0; push WORD PTR [ebx]", true);
    g.add("push", {m(1, 0, {REG_EBX})}, "push eax; movzx eax, BYTE PTR [ebx]; xchg DWORD PTR [esp], eax");
    g.add("push", {m(3, 0, {REG_EBX})},
          "push 0; push eax; mov al, BYTE PTR [ebx+2]; mov BYTE PTR [esp+6], al; mov ax, WORD PTR [ebx]; "
          "mov WORD PTR [esp+4], ax; pop eax");
    g.add("push", {m(3, 0, {REG_EAX, REG_ECX})},
          "push 0; push edx; mov dl, BYTE PTR [eax+ecx+2]; mov BYTE PTR [esp+6], dl; mov dx, WORD PTR [eax+ecx]; "
          "mov WORD PTR [esp+4], dx; pop edx");
    g.add("push", {m(5, 0, {REG_ESP})},
          "push eax; movzx eax, BYTE PTR [esp+8]; xchg DWORD PTR [esp], eax; push DWORD PTR [esp+4]");
    g.add("push", {m(6, 8, {REG_ESP})}, "pushw 0; push WORD PTR [esp+14]; push DWORD PTR [esp+12]", true);
    g.add("push", {m(7, 0, {REG_ESP})},
          "push 0; push eax; mov al, BYTE PTR [esp+14]; mov BYTE PTR [esp+6], al; mov ax, WORD PTR [esp+12]; "
          "mov WORD PTR [esp+4], ax; pop eax; push DWORD PTR [esp+4]");
    g.add("pop", {m(6, 0, {REG_ESP})}, "pop DWORD PTR [esp+4]; pop WORD PTR [esp+6]; lea esp, [esp+2]");
    g.add("pop", {m(3, 0, {REG_EBX})},
          "push eax; mov ax, WORD PTR [esp+4]; mov WORD PTR [ebx], ax; mov al, BYTE PTR [esp+6]; "
          "mov BYTE PTR [ebx+2], al; pop eax; lea esp, [esp+4]");
    g.add("pop", {m(5, 0, {REG_EBX})},
          "pop DWORD PTR [ebx]; push eax; mov al, BYTE PTR [esp+4]; mov BYTE PTR [ebx+4], al; pop eax; "
          "lea esp, [esp+4]");
    g.add("mov", {m(4, 0, {REG_EBX}), m(4, 4, {REG_ESI})}, "push DWORD PTR [esi+4]; pop DWORD PTR [ebx]");
    g.add("mov", {m(8, 0, {REG_ESP}), m(8, 8, {REG_ESP})},
          "push DWORD PTR [esp+12]; push DWORD PTR [esp+12]; pop DWORD PTR [esp+4]; pop DWORD PTR [esp+4]");
    g.add("mov", {m(8, 0, {REG_EBX}), Opnd{I(7), ""}}, "mov DWORD PTR [ebx], 7; mov DWORD PTR [ebx+4], 0");
    g.add("push", {ref(-8, {REG_EBP})}, "push ebp; sub DWORD PTR [esp], 8", true);
    g.add("push", {ref(16, {REG_ESP})}, "push esp; add DWORD PTR [esp], 16", true);
    g.add("push", {ref(4, {REG_EBX, REG_ECX}, 2)}, "lea eax, [ebx+ecx*2+4]; push eax");
    run(32, g.cases, 10, 8);

    Gen g16;
    g16.add("push", {m(4, 0, {REG_BX})}, "push WORD PTR [bx+2]; push WORD PTR [bx]");
    g16.add("pop", {m(4, 2, {REG_SI})}, "pop WORD PTR [si+2]; pop WORD PTR [si+4]");
    g16.add("push", {m(1, 0, {REG_DI})},
            "push ax; movzx ax, BYTE PTR [di]; push bp; mov bp, sp; xchg WORD PTR [bp+2], ax; pop bp");
    g16.add("mov", {m(8, 0, {REG_BX}), Opnd{I(7), ""}}, "mov DWORD PTR [bx], 7; mov DWORD PTR [bx+4], 0");
    run(16, g16.cases, 4, 8);
}

// The forms with placeholders: the bytes around them must be whole
// instructions (the placeholders are zero, as the addresses of as below).
TEST_F(EncoderDiff, VariableFormsAgainstBinutils) {
    PVar one = addVar("one", 1), w = addVar("w", 2), three = addVar("three", 3), d = addVar("d", 4);
    PVar six = addVar("six", 6), q = addVar("q", 8);
    auto var = [&](PVar v, uint32_t size, TOperandType kind = otVar) { return Opnd{V(v, size, 0, kind), ""}; };
    auto r = [](TRegister x) { return Opnd{R(x), ""}; };
    auto i = [](int64_t v) { return Opnd{I(v), ""}; };
    TOperand lbl;
    lbl.setLabel(fn, 3);
    lbl.hint = otLabelRef;
    PConst c = new TConst{};
    TOperand k;
    k.setPointer(otConst, fn, c);

    Gen g;
    g.add("push", {var(q, 8)}, "push DWORD PTR ds:0; push DWORD PTR ds:0");
    // The zero word is pushed as 66 68 00 00.
    g.add("push", {var(six, 6)}, "pushw 0; push WORD PTR ds:0; push DWORD PTR ds:0", true);
    g.add("push", {var(one, 1)}, "push eax; movzx eax, BYTE PTR ds:0; xchg DWORD PTR [esp], eax");
    g.add("push", {var(three, 3)},
          "push 0; push eax; mov al, BYTE PTR ds:0; mov BYTE PTR [esp+6], al; mov ax, WORD PTR ds:0; "
          "mov WORD PTR [esp+4], ax; pop eax");
    g.add("pop", {var(q, 8)}, "pop DWORD PTR ds:0; pop DWORD PTR ds:0");
    g.add("pop", {var(six, 6)}, "pop DWORD PTR ds:0; pop WORD PTR ds:0; lea esp, [esp+2]");
    g.add("pop", {var(three, 3)},
          "push eax; mov ax, WORD PTR [esp+4]; mov WORD PTR ds:0, ax; mov al, BYTE PTR [esp+6]; "
          "mov BYTE PTR ds:0, al; pop eax; lea esp, [esp+4]");
    g.add("pop", {var(one, 1)}, "push eax; mov al, BYTE PTR [esp+4]; mov BYTE PTR ds:0, al; pop eax; lea esp, [esp+4]");
    // Addresses are 4-byte placeholders, where as sees a zero that fits a byte.
    g.add("push", {var(d, 4, otVarRef)}, "push 0", true);
    g.add("push", {Opnd{lbl, ""}}, "push 0", true);
    g.add("push", {Opnd{k, ""}}, "push 0", true);
    g.add("mov", {var(q, 8), i(7)}, "mov DWORD PTR ds:0, 7; mov DWORD PTR ds:0, 0");
    g.add("mov", {var(w, 2), i(7)}, "mov WORD PTR ds:0, 7");
    g.add("mov", {var(one, 1), i(7)}, "mov BYTE PTR ds:0, 7");
    g.add("mov", {var(d, 4), Opnd{lbl, ""}}, "mov DWORD PTR ds:0, 0");
    g.add("mov", {var(d, 4), r(REG_ECX)}, "mov DWORD PTR ds:0, ecx");
    g.add("mov", {var(w, 2), r(REG_EAX)}, "mov WORD PTR ds:0, ax");
    g.add("mov", {var(one, 1), r(REG_EBX)}, "mov BYTE PTR ds:0, bl");
    g.add("mov", {r(REG_EAX), var(d, 4)}, "mov eax, DWORD PTR ds:0");
    g.add("mov", {r(REG_DX), var(w, 2)}, "mov dx, WORD PTR ds:0");
    g.add("mov", {r(REG_CL), var(d, 4)}, "mov cl, BYTE PTR ds:0");
    g.add("mov", {r(REG_ESI), var(d, 4, otVarRef)}, "mov esi, 0");
    g.add("mov", {r(REG_EDI), Opnd{k, ""}}, "mov edi, 0");
    g.add("mov", {var(d, 4), Opnd{M(4, 4, 0, {REG_ESI}), ""}}, "push DWORD PTR [esi+4]; pop DWORD PTR ds:0");
    g.add("add", {var(d, 4), i(5)}, "add DWORD PTR ds:0, 5");
    g.add("sub", {var(d, 4), i(0x1000)}, "sub DWORD PTR ds:0, 0x1000");
    g.add("cmp", {var(w, 2), i(0x1000)}, "cmp WORD PTR ds:0, 0x1000");
    g.add("xor", {var(w, 2), i(-1)}, "xor WORD PTR ds:0, -1");
    g.add("and", {var(one, 1), i(0xF0)}, "and BYTE PTR ds:0, 0xF0");
    g.add("call", {var(d, 4)}, "call DWORD PTR ds:0");
    g.add("fld", {var(q, 8, otVarRef)}, "fld QWORD PTR ds:0");
    g.add("fild", {var(w, 2, otVarRef)}, "fild WORD PTR ds:0");
    g.add("fistp", {var(d, 4, otVarRef)}, "fistp DWORD PTR ds:0");
    run(32, g.cases, 30, 8);

    Gen g16;
    g16.add("push", {var(d, 4)}, "push WORD PTR ds:0; push WORD PTR ds:0");
    g16.add("push", {var(three, 3)},
            "push ax; movzx ax, BYTE PTR ds:0; push bp; mov bp, sp; xchg WORD PTR [bp+2], ax; pop bp; "
            "push WORD PTR ds:0");
    g16.add("mov", {var(q, 8), i(7)}, "mov DWORD PTR ds:0, 7; mov DWORD PTR ds:0, 0");
    g16.add("mov", {var(d, 4), i(7)}, "mov DWORD PTR ds:0, 7");
    g16.add("mov", {var(d, 4), r(REG_EAX)}, "mov DWORD PTR ds:0, eax");
    g16.add("mov", {r(REG_BX), var(w, 2)}, "mov bx, WORD PTR ds:0");
    g16.add("mov", {r(REG_SI), Opnd{k, ""}}, "mov si, 0");
    g16.add("add", {var(d, 4), i(1000)}, "add DWORD PTR ds:0, 1000");
    g16.add("add", {var(w, 2), i(5)}, "add WORD PTR ds:0, 5");
    g16.add("call", {var(w, 2)}, "call WORD PTR ds:0");
    g16.add("fld", {var(d, 4, otVarRef)}, "fld DWORD PTR ds:0");
    run(16, g16.cases, 10, 8);
    delete c;
}

// Every row of the table takes part in one of the batches above.
TEST_F(EncoderDiff, CoversEveryRow) {
    Gen g;
    genInteger(g, 32);
    genFloatVector(g, 32);
    std::set<std::string> seen;
    for (const DiffCase& c : g.cases) seen.insert(c.mn);
    for (const TInstruction& r : instructions) {
        std::string n(r.name);
        // Placeholders only: see the symbol tests.
        bool symbolic = r.group == igGOTO && !(r.flags & IF_DIRECT);
        if (symbolic || isPrefixRow(n) || (r.flags & IF_ONLY64)) continue;
        EXPECT_TRUE(seen.count(n)) << n;
    }
}

// Numbers as jump targets that do not fit their field: refused with the
// range, also those `as` takes and cuts down without a word (marked so,
// and checked: `as` still takes them).
TEST_F(EncoderDiff, JumpNumbersOutOfRangeRefusedOnPurpose) {
    REQUIRE_TOOL(toolAvailable("as"), "as (binutils)");
    struct Case {
        uint32_t bits;
        int64_t offset;
        bool far;
        const char* gas;
        bool gasTakesIt;
    } cases[] = {
        {32, 0x100000000LL, false, "jmp 0x100000000", true},
        {32, -0x80000001LL, false, "jmp -2147483649", true},
        {32, 0x100000000LL, true, "jmp 5:0x100000000", true},
        {16, 0x10000, false, "jmp 0x10000", true},
        {16, -32769, false, "jmp -32769", true},
        {16, 0x10000, true, "jmp 5:0x10000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gas);
        setBits(c.bits);
        TOperand t = I(0);
        t.value = c.offset;  // whole, as the operand parser leaves it
        if (c.far) {
            t.hint = otSegLabel;
            t.segstart = 5;
        }
        EXPECT_EQ(enc("jmp", {t}), "error 1014");
        const std::string range = c.bits == 16 ? "-32768..65535" : "-2147483648..4294967295";
        EXPECT_EQ(TTavAssembler::errorCodeToString(asmValueOutOfRange),
                  "Value " + std::to_string(c.offset) + " out of range " + range);
        EXPECT_EQ(gasAccepts(c.bits, {c.gas})[0], c.gasTakesIt);
    }
    setBits(32);
}
