// Instruction lines whose operands were once dropped or half encoded:
// operands after an instruction that takes none, qword arithmetic, and
// inc/dec on memory and variables.
// The harness first: its guard keeps glibc's register names out of the way.
#include "../encoder/diff_harness.h"

#include "control_env.h"

namespace {

using control_test::Control;
using control_test::hex;

const char* const declarations = "dword g; word w; byte b; qword q;\n";

class InstructionLine : public Control {
protected:
    // rtlmain's bytes without the closing ret.
    std::string bytesOf(const std::string& lines) {
        bool aborted = false;
        const std::string out = compile(declarations + lines + "\nretn;\n", &aborted);
        EXPECT_FALSE(aborted) << lines << "\n" << out;
        std::string c = code();
        if (!c.empty() && c.back() == '\xC3') c.pop_back();
        return hex(c);
    }
    void expectRefused(const std::string& lines, const std::string& message) {
        const std::string out = failure(declarations + lines + "\n");
        EXPECT_NE(out.find(message), std::string::npos) << lines << "\n" << out;
    }
};

// Lines refused with the message.
struct RefusedCase {
    const char* lines;
    const char* message;
};

using InstructionLineRefused = tavtest::Table<InstructionLine, RefusedCase>;

TEST_P(InstructionLineRefused, WithTheMessage) {
    const RefusedCase& c = GetParam();
    expectRefused(c.lines, c.message);
}

// Lines and the bytes they build.
struct BytesCase {
    const char* lines;
    const char* bytes;
};

using InstructionLineBytes = tavtest::Table<InstructionLine, BytesCase>;

TEST_P(InstructionLineBytes, Built) {
    const BytesCase& c = GetParam();
    EXPECT_EQ(bytesOf(c.lines), c.bytes);
}

const RefusedCase kOperandsAfterAnInstructionThatTakesNone[] = {
    {"nop 12;", "[3,6]: [9998] Too many parameters! number 12 in [project.tav]"},
    {"cld 5;", "[9998] Too many parameters! number 5"},
    {"  retn 12;", "[3,9]: [9998] Too many parameters! number 12"},
    {"pushad eax;", "[9998] Too many parameters! register eax"},
    {"cld g;", "[9998] Too many parameters! "},
    {"nop [ebx];", "[9998] Too many parameters! expression"},
    {"std 'x';", "[9998] Too many parameters! ansi string 'x'"},
    {"cpuid, eax;", "[9998] Too many parameters! symbol"},
};
TAVIK_ROWS(OperandsAfterAnInstructionThatTakesNone, InstructionLineRefused, kOperandsAfterAnInstructionThatTakesNone,
           lines);

// A statement of its own after it is no operand: ";", "}", or a new line.
const BytesCase kStatementAfterAnInstructionThatTakesNone[] = {
    {"cld; std;", "fc fd"},
    {"cld\nstd\neax = 1;", "fc fd b8 01 00 00 00"},
    {"#if 1 == 1: cld #end", "fc"},
    {"procedure p() { cld }\np();", "e8 00 00 00 00"},
};
TAVIK_ROWS(StatementAfterAnInstructionThatTakesNone, InstructionLineBytes, kStatementAfterAnInstructionThatTakesNone,
           lines);

// qword arithmetic acts on both dwords: add/sub carry into the high one,
// the bitwise operations and adc/sbb work per dword. The bytes of each
// line against `as` of the two-instruction sequence.
TEST_F(InstructionLine, QwordArithmeticAgainstBinutils) {
    if (!enctest::toolAvailable("as") || !enctest::toolAvailable("objdump"))
        GTEST_SKIP() << "as or objdump not installed";
    struct Case {
        const char* line;
        const char* gas;
        bool longer = false;  // a memory operand takes its immediate in 81's dword form
    } cases[] = {
        {"add q, 0xFFFFFFFF;", "add DWORD PTR ds:0, -1; adc DWORD PTR ds:0, 0"},
        {"q += 5;", "add DWORD PTR ds:0, 5; adc DWORD PTR ds:0, 0"},
        {"q -= -1;", "sub DWORD PTR ds:0, -1; sbb DWORD PTR ds:0, -1"},
        {"sub qword [ebx], 0x100000001;", "sub DWORD PTR [ebx], 1; sbb DWORD PTR [ebx+4], 1", true},
        {"adc qword [ebx], 1;", "adc DWORD PTR [ebx], 1; adc DWORD PTR [ebx+4], 0", true},
        {"sbb q, 0x200000000;", "sbb DWORD PTR ds:0, 0; sbb DWORD PTR ds:0, 2"},
        {"and q, -2;", "and DWORD PTR ds:0, -2; and DWORD PTR ds:0, -1"},
        {"or qword [esi+8], 0x100;", "or DWORD PTR [esi+8], 0x100; or DWORD PTR [esi+12], 0", true},
        {"xor qword [esp], 0x8000000000000000;", "xor DWORD PTR [esp], 0; xor DWORD PTR [esp+4], 0x80000000", true},
        {"add qword [ebp-8], -3;", "add DWORD PTR [ebp-8], -3; adc DWORD PTR [ebp-4], -1", true},
    };
    std::vector<std::string> ours, texts;
    std::vector<bool> longer;
    for (const Case& c : cases) {
        longer.push_back(c.longer);
        freshSession();
        compile(std::string(declarations) + c.line + "\nretn;\n");
        std::string b = code();
        if (!b.empty() && b.back() == '\xC3') b.pop_back();
        ours.push_back(b);
        texts.push_back(c.gas);
    }
    enctest::DiffReport rep = enctest::compareWithBinutils(32, ours, texts, 2, longer);
    for (const std::string& f : rep.failures) ADD_FAILURE() << f;
}

// The variable forms write their placeholders at the low and the high dword.
TEST_F(InstructionLine, QwordVariableFormsFixBothDwords) {
    compile(std::string(declarations) + "q += 5;\nretn;\n");
    const std::vector<PFixup> fx = fixups();
    ASSERT_EQ(fx.size(), 2u);
    EXPECT_EQ(fx[0]->offset, 0u);
    EXPECT_EQ(fx[1]->offset, 4u);
}

const RefusedCase kQwordCompareIsRefused[] = {
    {"cmp q, 5;", "[3,9]: [9999] No qword form of this instruction! in [project.tav]"},
    {"cmp qword [ebx], 1;", "[9999] No qword form of this instruction!"},
    {"q == 5;", "[65158] No qword form of this instruction!"},
    {"qword [ebx] != 5;", "[65156] No qword form of this instruction!"},
};
TAVIK_ROWS(QwordCompareIsRefused, InstructionLineRefused, kQwordCompareIsRefused, lines);

// inc and dec on memory, globals and locals: FE /0 /1 for a byte, FF /0 /1
// with 66 for a word, in both bit modes; checked against `as`.
TEST_F(InstructionLine, IncDecOnMemoryAgainstBinutils) {
    if (!enctest::toolAvailable("as") || !enctest::toolAvailable("objdump"))
        GTEST_SKIP() << "as or objdump not installed";
    struct Case {
        const char* line;
        const char* gas;
    } cases32[] =
        {
            {"inc dword [ebx];", "inc DWORD PTR [ebx]"},
            {"dec byte [esi];", "dec BYTE PTR [esi]"},
            {"inc word [esp+4];", "inc WORD PTR [esp+4]"},
            {"dec dword [eax+ecx*4-8];", "dec DWORD PTR [eax+ecx*4-8]"},
            {"inc b;", "inc BYTE PTR ds:0"},
            {"dec w;", "dec WORD PTR ds:0"},
            {"g++;", "inc DWORD PTR ds:0"},
            {"b--;", "dec BYTE PTR ds:0"},
            {"w++;", "inc WORD PTR ds:0"},
            {"byte [edi]++;", "inc BYTE PTR [edi]"},
        },
      cases16[] = {
          {"inc word [bx];", "inc WORD PTR [bx]"}, {"dec dword [bp+si];", "dec DWORD PTR [bp+si]"},
          {"w++;", "inc WORD PTR ds:0"},           {"g--;", "dec DWORD PTR ds:0"},
          {"b++;", "inc BYTE PTR ds:0"},
      };
    for (uint32_t bits : {32u, 16u}) {
        std::vector<std::string> ours, texts;
        for (const Case& c : bits == 32 ? std::vector<Case>(std::begin(cases32), std::end(cases32))
                                        : std::vector<Case>(std::begin(cases16), std::end(cases16))) {
            freshSession();
            compile(std::string(bits == 16 ? "#set bits 16;\n" : "") + declarations + c.line + "\nretn;\n");
            std::string b = code();
            if (!b.empty() && b.back() == '\xC3') b.pop_back();
            ours.push_back(b);
            texts.push_back(c.gas);
        }
        enctest::DiffReport rep = enctest::compareWithBinutils(bits, ours, texts, 1);
        for (const std::string& f : rep.failures) ADD_FAILURE() << bits << ": " << f;
    }
}

const RefusedCase kIncDecOnAQwordIsRefused[] = {
    {"inc q;", "[9999] No qword form of this instruction!"},
    {"q++;", "[65158] No qword form of this instruction!"},
};
TAVIK_ROWS(IncDecOnAQwordIsRefused, InstructionLineRefused, kIncDecOnAQwordIsRefused, lines);

// A 16-bit stack slot holds the byte alone, and there is no lea through sp
// to drop it without touching the flags: refused rather than spoiling ax.
const RefusedCase kBytePopIn16BitCodeIsRefused[] = {
    {"#set bits 16;\npop byte [bx];", "[9999] Instruction usage is not supported!"},
    {"#set bits 16;\npop b;", "[9999] Instruction usage is not supported!"},
};
TAVIK_ROWS(BytePopIn16BitCodeIsRefused, InstructionLineRefused, kBytePopIn16BitCodeIsRefused, lines);

TEST_F(InstructionLine, WordPopIn16BitCode) { EXPECT_EQ(bytesOf("#set bits 16;\npop word [bx];"), "8f 07"); }

}  // namespace
