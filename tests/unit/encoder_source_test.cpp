// Instruction lines as source text through the whole compiler (tokenizer,
// operand parser, encoder) into rtlmain, checked against `as --32`; and the
// encoder's refusals as the compiler reports them.
// The harness first: its guard keeps glibc's register names out of the way.
#include "../encoder/diff_harness.h"

#include "control_env.h"

namespace {

using control_test::Control;

struct Line {
    const char* source;   // Tavik
    const char* intel;    // the same for `as`; sequences separated by ";"
    bool longer = false;  // ours is longer than the form of as on purpose
};

// Globals of each size, declared before every line; their addresses are
// zero placeholders until the image is built, as ds:0 is for `as`.
const char* const declarations =
    "block Bytes3 { byte lo; word hi; }\n"
    "dword g; word w; byte b; qword q; double dbl; Bytes3 three;\n";

class EncoderSource : public Control {
protected:
    // Each line alone in a project, closed by retn: rtlmain's bytes are the
    // line's bytes and one C3.
    std::string bytesOf(const std::string& prologue, const char* line) {
        compile(prologue + declarations + line + "\nretn;\n");
        std::string c = code();
        EXPECT_TRUE(!c.empty() && c.back() == '\xC3') << line;
        if (!c.empty()) c.pop_back();
        return c;
    }

    void againstBinutils(uint32_t bits, const std::string& prologue, const std::vector<Line>& lines) {
        REQUIRE_TOOL(enctest::toolAvailable("as") && enctest::toolAvailable("objdump"), "as or objdump (binutils)");
        std::vector<std::string> ours, texts;
        std::vector<bool> longer;
        for (const Line& l : lines) {
            freshSession();
            ours.push_back(bytesOf(prologue, l.source));
            texts.push_back(l.intel);
            longer.push_back(l.longer);
        }
        enctest::DiffReport rep = enctest::compareWithBinutils(bits, ours, texts, 8, longer);
        for (size_t i = 0; i < rep.failures.size() && i < 40; ++i) ADD_FAILURE() << rep.failures[i];
        EXPECT_TRUE(rep.failures.empty()) << rep.failures.size() << " of " << rep.cases << " lines differ";
    }
};

TEST_F(EncoderSource, LinesAgainstBinutils32) {
    // clang-format off
    againstBinutils(32, "", {
        {"mov eax, [ecx*4+8];", "mov eax, [ecx*4+8]"},
        {"mov eax, [ebx+ecx*4+8];", "mov eax, [ebx+ecx*4+8]"},
        {"mov eax, [ebp];", "mov eax, [ebp]"},
        {"mov eax, [esp];", "mov eax, [esp]"},
        {"mov eax, [esp+8];", "mov eax, [esp+8]"},
        {"mov eax, [eax+ebx*4+0x80];", "mov eax, [eax+ebx*4+0x80]"},
        {"mov eax, [eax+ebx*4-0x80];", "mov eax, [eax+ebx*4-0x80]"},
        {"add word [ebx], 5;", "add WORD PTR [ebx], 5", true},  // 81 for a memory destination
        {"add dword [ebx], 0x80;", "add DWORD PTR [ebx], 0x80"},
        {"shl word [ebx], 1;", "shl WORD PTR [ebx], 1"},
        {"shl eax, cl;", "shl eax, cl"},
        {"add eax, 0x1000;", "add eax, 0x1000"},
        {"add ax, bx;", "add ax, bx"},
        {"test ecx, 1;", "test ecx, 1"},
        {"imul eax, ebx, 10;", "imul eax, ebx, 10"},
        {"movzx eax, byte [ebx];", "movzx eax, BYTE PTR [ebx]"},
        {"lea eax, [ebx+8];", "lea eax, [ebx+8]"},
        {"xchg [eax], bl;", "xchg [eax], bl"},
        {"dec cx;", "dec cx"},
        {"ret 8;", "ret 8"},
        {"sete al;", "sete al"},
        {"push 0x1000;", "push 0x1000"},
        {"mov es, ebx;", "mov es, ebx"},
        {"psubb xmm0, xmm1;", "psubb xmm0, xmm1"},
        {"pcmpgtw xmm2, [esi+16];", "pcmpgtw xmm2, [esi+16]"},
        {"psubusw mm3, mm4;", "psubusw mm3, mm4"},
        {"movq2dq xmm0, mm1;", "movq2dq xmm0, mm1"},
        {"pslld xmm0, [eax];", "pslld xmm0, [eax]"},
        {"psrlw xmm1, 3;", "psrlw xmm1, 3"},
        {"pslldq xmm1, 4;", "pslldq xmm1, 4"},
        {"movq xmm0, mm1;", "movq2dq xmm0, mm1"},
        {"movq mm0, xmm1;", "movdq2q mm0, xmm1"},
        {"fcom st2;", "fcom st(2)"},
        {"fcomp st3;", "fcomp st(3)"},
        {"fadd st0, st3;", "fadd st, st(3)"},
        {"fdiv st2, st0;", "fdiv st(2), st"},
        {"fld real10 [ebx];", "fld TBYTE PTR [ebx]"},
        {"fild qword [ebx];", "fild QWORD PTR [ebx]"},
        {"fld @dbl;", "fld QWORD PTR ds:0"},
        {"fistp @g;", "fistp DWORD PTR ds:0"},
        {"mov g, 5;", "mov DWORD PTR ds:0, 5"},
        {"add w, 5;", "add WORD PTR ds:0, 5"},
        {"mov w, 0x1234;", "mov WORD PTR ds:0, 0x1234"},
        {"mov b, ebx;", "mov BYTE PTR ds:0, bl"},
        {"mov eax, g;", "mov eax, DWORD PTR ds:0"},
        {"mov q, 7;", "mov DWORD PTR ds:0, 7; mov DWORD PTR ds:0, 0"},
        {"push q;", "push DWORD PTR ds:0; push DWORD PTR ds:0"},
        {"pop q;", "pop DWORD PTR ds:0; pop DWORD PTR ds:0"},
        {"pop three;",
         "push eax; mov ax, WORD PTR [esp+4]; mov WORD PTR ds:0, ax; mov al, BYTE PTR [esp+6]; "
         "mov BYTE PTR ds:0, al; pop eax; lea esp, [esp+4]"},
        {"push three;",
         "push 0; push eax; mov al, BYTE PTR ds:0; mov BYTE PTR [esp+6], al; mov ax, WORD PTR ds:0; "
         "mov WORD PTR [esp+4], ax; pop eax"},
        {"push qword [esp+8];", "push DWORD PTR [esp+12]; push DWORD PTR [esp+12]"},
        {"pop qword [esp];", "pop DWORD PTR [esp+4]; pop DWORD PTR [esp+4]"},
        {"mov dword [ebx], dword [esi+4];", "push DWORD PTR [esi+4]; pop DWORD PTR [ebx]"},
    });
    // clang-format on
}

TEST_F(EncoderSource, LinesAgainstBinutils16) {
    // clang-format off
    againstBinutils(16, "#set bits 16;\n", {
        {"mov ax, [bp];", "mov ax, [bp]"},
        {"mov ax, [bp+si];", "mov ax, [bp+si]"},
        {"mov ax, [bx+di+0x1234];", "mov ax, [bx+di+0x1234]"},
        {"add word [bx], 5;", "add WORD PTR [bx], 5", true},
        {"add dword [bx], 5;", "add DWORD PTR [bx], 5", true},
        {"shl dword [bx], 1;", "shl DWORD PTR [bx], 1"},
        {"push 0x1000;", "push 0x1000"},
        {"cbw;", "cbw"},
        {"cwde;", "cwde"},
        {"movsw;", "movsw"},
        {"movsd;", "movsd"},
        {"scasw;", "scasw"},
        {"scasd;", "scasd"},
        {"stosw;", "stosw"},
        {"stosd;", "stosd"},
        {"lodsw;", "lodsw"},
        {"lodsd;", "lodsd"},
        {"pushad;", "pushad"},
        {"popad;", "popad"},
        {"pushfd;", "pushfd"},
        {"popfd;", "popfd"},
        {"mov ax, w;", "mov ax, WORD PTR ds:0"},
        {"mov bx, w;", "mov bx, WORD PTR ds:0"},
        {"mov g, 7;", "mov DWORD PTR ds:0, 7"},
        {"mov q, 7;", "mov DWORD PTR ds:0, 7; mov DWORD PTR ds:0, 0"},
        {"add w, 0x1000;", "add WORD PTR ds:0, 0x1000"},
        {"push g;", "push WORD PTR ds:0; push WORD PTR ds:0"},
        {"fld @dbl;", "fld QWORD PTR ds:0"},
    });
    // clang-format on
}

// Every refusal an instruction line can meet, with the compiler's message.
namespace refusals_as_reported_rows {
struct Case {
    const char* prologue;
    const char* line;
    const char* message;
};
const Case cases[] = {
    {"", "shl eax, ebx;", "[9999] Invalid operand(s)"},
    {"", "mov eax, [bx];", "[9999] Invalid operand(s)"},
    {"#set bits 16;\n", "mov ax, [bx*2];", "[9999] Invalid operand(s)"},
    {"", "mov eax, [esp+esp];", "[9999] Invalid operand(s)"},
    {"", "add eax, bl;", "[9999] Operand size mismatch!"},
    {"", "add eax, byte [ebx];", "[9999] Operand size mismatch!"},
    {"", "mov eax, b;", "[9999] Operand size mismatch!"},
    {"", "fld dbl;", "[9999] Operand 1 is invalid"},
    {"", "fadd word [ebx];", "[9999] Expected single or double"},
    {"", "imul al, bl;", "[9999] Operand 1 is invalid"},
    {"", "sete eax;", "[9999] Operand 1 is invalid"},
    {"", "mov cs, ax;", "[9999] Operand 1 is invalid"},
    {"", "addps xmm0, 5;", "[9999] Operand 2 is invalid"},
    {"", "mov eax;", "[9999] Not enough parameters!"},
    {"", "push eax, ebx;", "[9999] Too many parameters!"},
    {"", "pand xmm0, mm1;", "[9999] Operand type mismatch!"},
    {"", "cdqe;", "[9998] Instruction not available in 32 bit mode!"},
    {"#set bits 16;\n", "cpuid;", "[9998] Instruction not available in 16 bit mode!"},
    {"", "call eax;", "[9999] Instruction usage is not supported!"},
};
}  // namespace refusals_as_reported_rows

TAVIK_TABLE(EncoderSource, EncoderSourceRefusals, refusals_as_reported_rows, line);

TEST_P(EncoderSourceRefusals, AsReported) {
    const refusals_as_reported_rows::Case& c = GetParam();
    SCOPED_TRACE(c.line);
    std::string out = failure(std::string(c.prologue) + declarations + c.line + "\n");
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

}  // namespace
