// Source lines on operands wider than the instruction, in both bit modes:
// each form that would act on the low dword (the low word in 16-bit code)
// alone is refused at its line and column; MMX and SSE memory operands
// with a contradicting size keyword likewise.
#include "../encoder/diff_harness.h"

#include "control_env.h"

namespace {

using control_test::Control;

// Line 2 of the project; the procedure's locals are declared on line 4 and
// the line under test is line 5.
const char* const declarations =
    "block big { dword a; dword b; dword c; }\n"
    "qword q; extended x; big bg; dword g;\n"
    "procedure p() { qword lq; extended lx; big lb;\n";

class WideOperandLine : public Control {
protected:
    std::string project(uint32_t bits, const std::string& line) {
        return std::string(bits == 16 ? "#set bits 16; " : "") + declarations + line + "\n}\np();\n";
    }
};

// Each row in both bit modes, named by its bits, its 32-bit line and its
// place in the table.
template <class Row>
using BitsAndRow = std::tuple<uint32_t, Row>;

struct BitsName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<BitsAndRow<Row>>& info) const {
        ::testing::TestParamInfo<Row> row(std::get<1>(info.param), info.index);
        return "B" + std::to_string(std::get<0>(info.param)) + "_" + tavtest::TextName<&Row::line32>()(row);
    }
};

namespace refused_rows {
struct Case {
    const char* line32;
    const char* line16;  // nullptr: the same line
    const char* message;
};
const Case cases[] = {
    {"shl lq, cl;", nullptr, "[9999] No qword form of this instruction!"},
    {"lq << cl;", nullptr, "[65158] No qword form of this instruction!"},
    {"lq >> 32;", nullptr, "[65158] Value 32 out of range 1..31"},
    {"shl qword [ebx], 0;", "shl qword [bx], 0;", "[9999] Value 0 out of range 1..31"},
    {"rol lq, 1;", nullptr, "[9999] No qword form of this instruction!"},
    {"rcr qword [ebx], 1;", "rcr qword [bx], 1;", "[9999] No qword form of this instruction!"},
    {"mul lq;", nullptr, "[9999] No qword form of this instruction!"},
    {"imul qword [ebx];", "imul qword [di];", "[9999] No qword form of this instruction!"},
    {"div lq;", nullptr, "[9999] No qword form of this instruction!"},
    {"idiv qword [esi];", "idiv qword [si];", "[9999] No qword form of this instruction!"},
    {"test qword [esi], -1;", "test qword [si], -1;", "[9999] No qword form of this instruction!"},
    {"not q;", nullptr, "[9999] No qword form of this instruction!"},
    {"lq++;", nullptr, "[65158] No qword form of this instruction!"},
    {"cmp lq, 1;", nullptr, "[9999] No qword form of this instruction!"},
    {"add extended [ebx], 1;", "add extended [bx], 1;",
     "[9999] No form of this instruction for an operand of 10 bytes!"},
    {"lx += 1;", nullptr, "[65158] No form of this instruction for an operand of 10 bytes!"},
    {"x -= 1;", nullptr, "[65158] No form of this instruction for an operand of 10 bytes!"},
    {"and x, 1;", nullptr, "[9999] No form of this instruction for an operand of 10 bytes!"},
    {"add bg, 1;", nullptr, "[9999] No form of this instruction for an operand of 12 bytes!"},
    {"or lb, 1;", nullptr, "[9999] No form of this instruction for an operand of 12 bytes!"},
    {"lb == 0;", nullptr, "[65158] No form of this instruction for an operand of 12 bytes!"},
    {"not lx;", nullptr, "[9999] No form of this instruction for an operand of 10 bytes!"},
    {"neg x;", nullptr, "[9999] No form of this instruction for an operand of 10 bytes!"},
    {"shl lx, 1;", nullptr, "[9999] No form of this instruction for an operand of 10 bytes!"},
    {"test lx, 1;", nullptr, "[9999] No form of this instruction for an operand of 10 bytes!"},
    {"inc lx;", nullptr, "[9999] No form of this instruction for an operand of 10 bytes!"},
    {"movq dword [ebx], mm1;", "movq dword [bx], mm1;", "[9999] Operand size mismatch!"},
    {"movq xmm0, word [ebx];", "movq xmm0, word [bx];", "[9999] Operand size mismatch!"},
    {"pand xmm2, byte [esp+8];", "pand xmm2, byte [bp+8];", "[9999] Operand size mismatch!"},
    {"pand mm2, dword [ebx];", "pand mm2, dword [bx];", "[9999] Operand size mismatch!"},
    {"addss xmm1, qword [ebx];", "addss xmm1, qword [bx];", "[9999] Operand size mismatch!"},
    {"mulsd xmm1, dword [ebx];", "mulsd xmm1, dword [bx];", "[9999] Operand size mismatch!"},
    // A tbyte load or store of a 12-byte block would leave two bytes out.
    {"fld lb;", nullptr, "[9999] Operand 1 is invalid"},
    {"fstp lb;", nullptr, "[9999] Operand 1 is invalid"},
};
}  // namespace refused_rows

using WideOperandRefused = tavtest::Table<WideOperandLine, BitsAndRow<refused_rows::Case>>;

TEST_P(WideOperandRefused, AtTheirPosition) {
    const auto& [bits, c] = GetParam();
    const std::string line = bits == 16 && c.line16 ? c.line16 : c.line32;
    // The message points just after the last operand: at the ";".
    const std::string where = "[5," + std::to_string(line.find(';') + 1) + "]: " + c.message;
    const std::string out = failure(project(bits, line));
    EXPECT_NE(out.find(where), std::string::npos) << bits << ": " << line << "\n" << out;
}

INSTANTIATE_TEST_SUITE_P(WideOperandLine, WideOperandRefused,
                         ::testing::Combine(::testing::Values(32u, 16u), ::testing::ValuesIn(refused_rows::cases)),
                         BitsName());

// The forms that act on the whole qword build, in both bit modes; a local
// is an ordinary memory operand for them.
namespace whole_qword_rows {
struct Case {
    const char* line32;
    const char* line16;  // nullptr: the same line
};
const Case cases[] = {
    {"lq << 3;", nullptr},
    {"lq >> 31;", nullptr},
    {"shl lq, 1;", nullptr},
    {"sal lq, 5;", nullptr},
    {"sar lq, 2;", nullptr},
    {"not lq;", nullptr},
    {"neg lq;", nullptr},
    {"lq += 1;", nullptr},
    {"add lq, 0x100000000;", nullptr},
    {"lq = 5;", nullptr},
    {"movq mm1, qword [ebx];", "movq mm1, qword [bx];"},
    {"addsd xmm1, qword [ebx];", "addsd xmm1, qword [bx];"},
    {"addss xmm1, dword [esi];", "addss xmm1, dword [si];"},
    {"pand xmm1, [ebx];", "pand xmm1, [bx];"},
    {"fld lx;", nullptr},
    {"fstp lx;", nullptr},
};
}  // namespace whole_qword_rows

using WideOperandWholeQwordForms = tavtest::Table<WideOperandLine, BitsAndRow<whole_qword_rows::Case>>;

TEST_P(WideOperandWholeQwordForms, Build) {
    const auto& [bits, c] = GetParam();
    const std::string line = bits == 16 && c.line16 ? c.line16 : c.line32;
    bool aborted = false;
    const std::string out = compile(project(bits, line), &aborted);
    EXPECT_FALSE(aborted) << bits << ": " << line << "\n" << out;
}

INSTANTIATE_TEST_SUITE_P(WideOperandLine, WideOperandWholeQwordForms,
                         ::testing::Combine(::testing::Values(32u, 16u), ::testing::ValuesIn(whole_qword_rows::cases)),
                         BitsName());

}  // namespace
