// Control statements linked into real PE32 images by the shipped plug-in:
// its code layout turns each jump placeholder into a short or near jump,
// checked with objdump, and the programs run under wine.
#include "control_env.h"
#include "../require_tool.h"

#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <regex>
#include <sstream>

namespace {

using namespace control_test;
namespace fs = std::filesystem;

struct Shell {
    int code = -1;
    std::string out;
};

Shell shell(const std::string& cmd) {
    Shell r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int st = pclose(p);
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool haveTool(const std::string& tool) { return shell("command -v " + tool + " >/dev/null 2>&1").code == 0; }

const std::string kPlugins = std::string(TAVIK_BIN_DIR) + "/plugins/";

class ControlImage : public Control {
protected:
    void SetUp() override {
        Control::SetUp();
        ::testing::internal::CaptureStdout();
        if (fs::exists(kPlugins + "morvel.dll")) Plugins->initPlugins(kPlugins);
        ::testing::internal::GetCapturedStdout();
    }

    // Compiles the lines, then links them with the console builder; the
    // image's path, empty when the plug-in is not there.
    std::string link(const std::string& lines) {
        if (!fs::exists(kPlugins + "morvel.dll")) return std::string();
        compile(lines);
        EXPECT_TRUE(Plugins->selectBuilder("pe32_cui"));
        ::testing::internal::CaptureStdout();
        const bool ok = Plugins->callBuilder((dir / "prog").string());
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(ok) << out;
        return (dir / "prog.exe").string();
    }

    // The decoded instructions of the code section, as "mnemonic operands".
    static std::vector<std::string> disassemble(const std::string& image) {
        const Shell r = shell("objdump -d -M intel '" + image + "' 2>&1");
        EXPECT_EQ(r.code, 0) << r.out;
        std::vector<std::string> ins;
        static const std::regex line(R"(^\s*[0-9a-f]+:\s+(?:[0-9a-f]{2} )+\s*(.*?)\s*$)");
        std::istringstream in(r.out);
        for (std::string l; std::getline(in, l);) {
            std::smatch m;
            if (std::regex_match(l, m, line)) ins.push_back(std::regex_replace(m[1].str(), std::regex(R"(\s+)"), " "));
        }
        return ins;
    }

    Shell wine(const std::string& image) {
        const char* env = std::getenv("WINEPREFIX");
        const std::string prefix = env && *env ? env : std::string(TAVIK_BIN_DIR) + "/../wineprefix";
        const std::string vars = "WINEPREFIX='" + prefix + "' WINEDLLOVERRIDES='mscoree,mshtml=' WINEDEBUG=-all ";
        shell("flock '" + prefix + ".lock' sh -c \"test -d '" + prefix + "' || " + vars +
              "timeout 300 wineboot -i >/dev/null 2>&1\"");
        return shell("cd '" + dir.string() + "' && " + vars + "timeout 60 wine '" + image + "' </dev/null >" +
                     (dir / "wine.out").string() + " 2>&1");
    }
};

// Short and near jumps side by side: the body of the loop is too long for
// an 8-bit displacement.
TEST_F(ControlImage, JumpsBecomeShortOrNear) {
    REQUIRE_TOOL(haveTool("objdump"), "objdump (binutils)");
    std::string longBody;
    for (int i = 0; i < 150; ++i) longBody += "inc edx; ";
    const std::string image = link(
        "xor eax, eax; mov ecx, 3;\n"
        "while (ecx != 0) { " +
        longBody +
        " dec ecx; }\n"
        "if ((eax == 1) or (ebx == 2)) { int3; }\n"
        "retn;");
    if (image.empty()) GTEST_SKIP() << "the plug-in is not built";
    const std::vector<std::string> ins = disassemble(image);
    // Only the code section's instructions: up to the final ret.
    std::vector<std::string> jumps;
    for (const std::string& s : ins)
        if (s.rfind("j", 0) == 0) jumps.push_back(s.substr(0, s.find(' ')));
    EXPECT_EQ(jumps, (std::vector<std::string>{"je", "jmp", "je", "jne"})) << ::testing::PrintToString(ins);
    // No placeholder is left: the only nops would be its bytes.
    for (const std::string& s : ins) EXPECT_EQ(s.find("nop"), std::string::npos) << s;

    // The forms, from the bytes: the loop's exit and its way back are near,
    // the condition's jumps short.
    const Shell r = shell("objdump -d '" + image + "' | grep -E '\\sj[a-z]+ '");
    std::vector<std::string> opcodes;
    std::istringstream in(r.out);
    static const std::regex bytes(R"(^\s*[0-9a-f]+:\s+([0-9a-f]{2}) ([0-9a-f]{2}))");
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        if (std::regex_search(l, m, bytes)) opcodes.push_back(m[1].str() == "0f" ? "0f " + m[2].str() : m[1].str());
    }
    EXPECT_EQ(opcodes, (std::vector<std::string>{"0f 84", "e9", "74", "75"})) << r.out;
}

// Each statement leaves a mark in eax; the exit code is the sum.
TEST_F(ControlImage, ProgramRunsUnderWine) {
    std::string longBody;
    for (int i = 0; i < 40; ++i) longBody += "nop; nop; nop; nop; ";
    const std::string image = link(
        "xor eax, eax; xor ebx, ebx; mov ecx, 10;\n"
        // 10 + 9 + ... + 1 = 55
        "while (ecx != 0) { add eax, ecx; dec ecx; }\n"
        // continue goes through the condition: the loop ends at 5, +4
        "repeat { inc ebx; if (ebx >= 4) { continue; } inc eax; inc eax; } until (ebx >= 5);\n"
        // 55 + 6 = 61; and/or chains, with a long body between: +100
        "if (((eax == 61) or (eax == 0)) and (ebx == 5)) { " +
        longBody +
        " add eax, 100; } else { xor eax, eax; }\n"
        // break if with a chain: leaves at ecx = 3, +3
        "repeat { inc ecx; break if ((ecx == 3) and (ebx == 5)); } ;\n"
        "add eax, ecx;\n"
        // exitif leaves the if, through the loop inside it
        "if (eax > 100) { while (eax != 0) { exitif ((ecx == 3) or (ecx == 4)); xor eax, eax; } add eax, 1000; }\n"
        "retn;");
    if (image.empty()) GTEST_SKIP() << "the plug-in is not built";
    REQUIRE_TOOL(haveTool("wine"), "wine");
    const Shell r = wine(image);
    EXPECT_EQ(r.code, 164) << r.out;
}

}  // namespace
