// Immediates against the width of their field: instruction lines, operator
// statements and variables through the whole compiler, each value either
// encoded as `as --32` encodes it or refused with a message naming it.
// The harness first: its guard keeps glibc's register names out of the way.
#include "../encoder/diff_harness.h"

#include <set>

#include "control_env.h"

namespace {

using control_test::Control;

const char* const declarations = "dword g; word w; byte b; qword q;\n";

// One family: the Tavik line and the `as` text with V for the value, and
// the range of values the field takes.
struct Family {
    const char* tav;
    const char* gas;
    int64_t lo, hi;
    // A memory destination of an ALU operation takes its immediate in 81's
    // full-width form where `as` picks 83's byte.
    bool fullWidth = false;
};

constexpr int64_t B_LO = -128, B_HI = 255, W_LO = -32768, W_HI = 65535, D_LO = INT32_MIN, D_HI = UINT32_MAX;

const int64_t edgeValues[] = {
    -2147483649LL, -2147483648LL, -32769,      -32768, -129,  -128,  -1,    0,     1,
    127,           128,           255,         256,    32767, 32768, 65535, 65536, 2147483647LL,
    2147483648LL,  4294967295LL,  4294967296LL};

std::string withValue(const char* text, int64_t v) {
    std::string s = text;
    size_t p = s.find('V');
    return s.substr(0, p) + std::to_string(v) + s.substr(p + 1);
}

// The lines (1-based, after the header) on which `as` warns or fails.
std::set<size_t> gasComplaints(uint32_t bits, const std::vector<std::string>& lines) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/tavik_immrange_XXXXXX";
    std::set<size_t> r;
    if (!mkdtemp(tmpl)) return r;
    fs::path dir = tmpl;
    std::string src = std::string(".intel_syntax noprefix\n") + (bits == 16 ? ".code16\n" : ".code32\n");
    for (const std::string& l : lines) src += l + "\n";
    std::ofstream(dir / "r.s") << src;
    enctest::runShell("cd '" + dir.string() + "' && as --32 -o r.o r.s 2>r.err");
    std::istringstream err(enctest::readFile(dir / "r.err"));
    for (std::string line; std::getline(err, line);) {
        if (line.rfind("r.s:", 0) != 0) continue;
        size_t n = std::strtoul(line.c_str() + 4, nullptr, 10);
        if (n > 2) r.insert(n - 2);
    }
    fs::remove_all(dir);
    return r;
}

class ImmediateRange : public Control {
protected:
    // Every family with every edge value: accepted lines must give the bytes
    // of `as`, refused ones must lie outside the family's range and name
    // the value; whatever `as` warns about or refuses, Tavik refuses.
    void acrossEdges(uint32_t bits, const std::string& prologue, const std::vector<Family>& families) {
        if (!enctest::toolAvailable("as") || !enctest::toolAvailable("objdump"))
            GTEST_SKIP() << "as or objdump not installed";
        std::vector<std::string> ours, texts, allTexts;
        std::vector<bool> refused, longer;
        for (const Family& f : families)
            for (int64_t v : edgeValues) {
                const std::string line = withValue(f.tav, v), gas = withValue(f.gas, v);
                const bool inRange = v >= f.lo && v <= f.hi;
                freshSession();
                bool aborted = false;
                std::string out = compile(prologue + declarations + line + "\nretn;\n", &aborted);
                allTexts.push_back(gas);
                refused.push_back(aborted);
                if (aborted) {
                    EXPECT_FALSE(inRange) << line << ": refused\n" << out;
                    const std::string want = "Value " + std::to_string(v) + " out of range " + std::to_string(f.lo) +
                                             ".." + std::to_string(f.hi);
                    EXPECT_NE(out.find(want), std::string::npos) << line << "\n" << out;
                    continue;
                }
                EXPECT_TRUE(inRange) << line << ": accepted";
                std::string c = code();
                if (!c.empty() && c.back() == '\xC3') c.pop_back();
                ours.push_back(c);
                texts.push_back(gas);
                const uint64_t mask = f.hi == W_HI ? 0xFFFF : 0xFFFFFFFF;
                const int64_t wrapped = f.hi == W_HI ? static_cast<int16_t>(v & mask) : static_cast<int32_t>(v & mask);
                longer.push_back(f.fullWidth && wrapped >= -128 && wrapped <= 127);
            }
        const std::set<size_t> complaints = gasComplaints(bits, allTexts);
        EXPECT_FALSE(complaints.empty()) << "as warned about nothing: its messages were not read";
        for (size_t n : complaints)
            EXPECT_TRUE(n <= refused.size() && refused[n - 1]) << allTexts[n - 1] << ": as complains, Tavik accepts";
        enctest::DiffReport rep = enctest::compareWithBinutils(bits, ours, texts, 2, longer);
        for (size_t i = 0; i < rep.failures.size() && i < 40; ++i) ADD_FAILURE() << rep.failures[i];
        EXPECT_TRUE(rep.failures.empty()) << rep.failures.size() << " of " << rep.cases << " lines differ";
    }
};

std::vector<Family> families(const char* base, int64_t pushLo, int64_t pushHi) {
    const std::string m = std::string("[") + base + "]";
    static std::vector<std::string> keep;  // the texts outlive the table
    auto t = [&](const std::string& s) {
        keep.push_back(s);
        return keep.back().c_str();
    };
    return {
        {"add al, V;", "add al, V", B_LO, B_HI},
        {"or bl, V;", "or bl, V", B_LO, B_HI},
        {"adc ax, V;", "adc ax, V", W_LO, W_HI},
        {"sbb cx, V;", "sbb cx, V", W_LO, W_HI},
        {"and eax, V;", "and eax, V", D_LO, D_HI},
        {"sub edx, V;", "sub edx, V", D_LO, D_HI},
        {t("xor byte " + m + ", V;"), t("xor BYTE PTR " + m + ", V"), B_LO, B_HI},
        {t("cmp word " + m + ", V;"), t("cmp WORD PTR " + m + ", V"), W_LO, W_HI, true},
        {t("add dword " + m + ", V;"), t("add DWORD PTR " + m + ", V"), D_LO, D_HI, true},
        {"cmp b, V;", "cmp BYTE PTR ds:0, V", B_LO, B_HI},
        {"add w, V;", "add WORD PTR ds:0, V", W_LO, W_HI},
        {"sub g, V;", "sub DWORD PTR ds:0, V", D_LO, D_HI},
        {"mov cl, V;", "mov cl, V", B_LO, B_HI},
        {"mov si, V;", "mov si, V", W_LO, W_HI},
        {"mov eax, V;", "mov eax, V", D_LO, D_HI},
        {t("mov byte " + m + ", V;"), t("mov BYTE PTR " + m + ", V"), B_LO, B_HI},
        {t("mov word " + m + ", V;"), t("mov WORD PTR " + m + ", V"), W_LO, W_HI},
        {t("mov dword " + m + ", V;"), t("mov DWORD PTR " + m + ", V"), D_LO, D_HI},
        {"mov b, V;", "mov BYTE PTR ds:0, V", B_LO, B_HI},
        {"mov w, V;", "mov WORD PTR ds:0, V", W_LO, W_HI},
        {"mov g, V;", "mov DWORD PTR ds:0, V", D_LO, D_HI},
        {"test al, V;", "test al, V", B_LO, B_HI},
        {"test dx, V;", "test dx, V", W_LO, W_HI},
        {"test ebx, V;", "test ebx, V", D_LO, D_HI},
        {t("test byte " + m + ", V;"), t("test BYTE PTR " + m + ", V"), B_LO, B_HI},
        {"imul cx, si, V;", "imul cx, si, V", W_LO, W_HI},
        {"imul eax, ebx, V;", "imul eax, ebx, V", D_LO, D_HI},
        {"imul ecx, V;", "imul ecx, ecx, V", D_LO, D_HI},
        {"push V;", "push V", pushLo, pushHi},
        {"int V;", "int V", 0, 255},
        {"shl eax, V;", "shl eax, V", B_LO, B_HI},
        {t("sar word " + m + ", V;"), t("sar WORD PTR " + m + ", V"), B_LO, B_HI},
        {"bt ecx, V;", "bt ecx, V", B_LO, B_HI},
    };
}

// 16-bit code names no 32-bit register.
std::vector<Family> without32BitRegisters(std::vector<Family> all) {
    std::vector<Family> r;
    for (const Family& f : all)
        if (!std::strstr(f.tav, " e")) r.push_back(f);
    return r;
}

TEST_F(ImmediateRange, EdgesAgainstBinutils32) { acrossEdges(32, "", families("ebx", D_LO, D_HI)); }

TEST_F(ImmediateRange, EdgesAgainstBinutils16) {
    acrossEdges(16, "#set bits 16;\n", without32BitRegisters(families("bx", W_LO, W_HI)));
}

// The other statements that carry an immediate, with the message of each.
namespace statements_name_the_value_rows {
struct Case {
    const char* line;
    const char* message;
};
const Case cases[] = {
    {"cmp al, 256;", "[9999] Value 256 out of range -128..255"},
    {"int 256;", "[9999] Value 256 out of range 0..255"},
    {"int -1;", "[9999] Value -1 out of range 0..255"},
    {"ret 70000;", "[9999] Value 70000 out of range 0..65535"},
    {"#set bits 16;\npush 65536;", "[9999] Value 65536 out of range -32768..65535"},
    {"mov eax, 0x100000001;", "[9999] Value 4294967297 out of range -2147483648..4294967295"},
    {"imul cx, si, 0x12345678;", "[9999] Value 305419896 out of range -32768..65535"},
    {"const BIG = 70000;\nmov ax, BIG;", "[9999] Value 70000 out of range -32768..65535"},
    {"byte [esi] = 300;", "[65156] Value 300 out of range -128..255"},
    {"word [esi] += -32769;", "[65156] Value -32769 out of range -32768..65535"},
    {"al = 256;", "[65156] Value 256 out of range -128..255"},
    {"b = 300;", "[65158] Value 300 out of range -128..255"},
    {"w -= 65536;", "[65158] Value 65536 out of range -32768..65535"},
    {"g = 4294967296;", "[65158] Value 4294967296 out of range -2147483648..4294967295"},
    {"procedure p() { byte loc; loc = 256; }", "[65158] Value 256 out of range -128..255"},
};
}  // namespace statements_name_the_value_rows

TAVIK_TABLE(ImmediateRange, ImmediateRangeStatements, statements_name_the_value_rows, line);

TEST_P(ImmediateRangeStatements, NameTheValue) {
    const statements_name_the_value_rows::Case& c = GetParam();
    SCOPED_TRACE(c.line);
    const std::string out = failure(std::string(declarations) + c.line + "\n");
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

// A qword move takes the whole 64-bit value, the low dword first.
namespace qword_moves_take_sixty_four_bits_rows {
struct Case {
    const char* line;
    const char* bytes;
};
const Case cases[] = {
    {"mov q, 0x123456789;", "c7 05 00 00 00 00 89 67 45 23 c7 05 00 00 00 00 01 00 00 00"},
    {"q = -2;", "c7 05 00 00 00 00 fe ff ff ff c7 05 00 00 00 00 ff ff ff ff"},
    {"mov qword [ebx], -9223372036854775807;", "c7 03 01 00 00 00 c7 43 04 00 00 00 80"},
};
}  // namespace qword_moves_take_sixty_four_bits_rows

TAVIK_TABLE(ImmediateRange, ImmediateRangeQwordMoves, qword_moves_take_sixty_four_bits_rows, line);

TEST_P(ImmediateRangeQwordMoves, TakeSixtyFourBits) {
    const qword_moves_take_sixty_four_bits_rows::Case& c = GetParam();
    SCOPED_TRACE(c.line);
    compile(std::string(declarations) + c.line + "\n");
    EXPECT_EQ(control_test::hex(code()), std::string(c.bytes) + " c3");
}

}  // namespace
