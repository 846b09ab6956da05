// Instruction lines whose operands were once dropped or half encoded:
// operands after an instruction that takes none, qword arithmetic, and
// inc/dec on memory and variables.
#include "control_env.h"

namespace {

using control_test::Control;
using control_test::hex;

const char* const declarations = "dword g; word w; byte b; qword q;\n";

class InstructionLine : public Control {
protected:
    // rtlmain's bytes without the closing ret.
    std::string bytesOf(const std::string& lines) {
        reset();
        bool aborted = false;
        const std::string out = compile(declarations + lines + "\nretn;\n", &aborted);
        EXPECT_FALSE(aborted) << lines << "\n" << out;
        std::string c = code();
        if (!c.empty() && c.back() == '\xC3') c.pop_back();
        return hex(c);
    }
    void expectRefused(const std::string& lines, const std::string& message) {
        reset();
        const std::string out = failure(declarations + lines + "\n");
        EXPECT_NE(out.find(message), std::string::npos) << lines << "\n" << out;
    }
};

}  // namespace

TEST_F(InstructionLine, OperandsAfterAnInstructionThatTakesNone) {
    struct Case {
        const char* line;
        const char* message;
    } cases[] = {
        {"nop 12;", "[3,6]: [9998] Too many parameters! number 12 in [project.tav]"},
        {"cld 5;", "[9998] Too many parameters! number 5"},
        {"  retn 12;", "[3,9]: [9998] Too many parameters! number 12"},
        {"pushad eax;", "[9998] Too many parameters! register eax"},
        {"cld g;", "[9998] Too many parameters! "},
        {"nop [ebx];", "[9998] Too many parameters! expression"},
        {"std 'x';", "[9998] Too many parameters! ansi string 'x'"},
        {"cpuid, eax;", "[9998] Too many parameters! symbol"},
    };
    for (const Case& c : cases) expectRefused(c.line, c.message);
    // A statement of its own after it is no operand: ";", "}", or a new line.
    EXPECT_EQ(bytesOf("cld; std;"), "fc fd");
    EXPECT_EQ(bytesOf("cld\nstd\neax = 1;"), "fc fd b8 01 00 00 00");
    EXPECT_EQ(bytesOf("#if 1 == 1: cld #end"), "fc");
    EXPECT_EQ(bytesOf("procedure p() { cld }\np();"), "e8 00 00 00 00");
}
