// The instruction table and its lookup.
#include "../encoder/gtest_guard.h"

#include <set>
#include <string>

#include "encoder/instructions.h"
#include "encoder/tav_assembler.h"

TEST(EncoderTable, HoldsEachMnemonicOnceGroupedByLength) {
    std::set<std::string> names;
    size_t lastLen = 0;
    for (const TInstruction& r : instructions) {
        EXPECT_TRUE(names.insert(std::string(r.name)).second) << r.name;
        EXPECT_GE(r.name.size(), lastLen) << r.name;
        lastLen = r.name.size();
        EXPECT_EQ(TTavAssembler::opcodeLookup(r.name), &r) << r.name;
    }
    EXPECT_EQ(names.size(), 369u);
    size_t sse = 0;
    for (const TInstruction& r : instructions) sse += r.group == igSSE;
    EXPECT_EQ(sse, 115u);
}

TEST(EncoderTable, LookupIsExactAndByLength) {
    EXPECT_EQ(TTavAssembler::opcodeLookup("MOV"), nullptr);
    ASSERT_NE(TTavAssembler::opcodeLookup("mov"), nullptr);
    EXPECT_EQ(TTavAssembler::opcodeLookup("mov")->group, igMOV);
    ASSERT_NE(TTavAssembler::opcodeLookup("addsubpd"), nullptr);
    EXPECT_EQ(TTavAssembler::opcodeLookup("addsubpdx"), nullptr);
    EXPECT_EQ(TTavAssembler::opcodeLookup("cmovnbex"), nullptr);
    EXPECT_EQ(TTavAssembler::opcodeLookup(""), nullptr);
    EXPECT_EQ(TTavAssembler::opcodeLookup("m"), nullptr);
    EXPECT_EQ(TTavAssembler::opcodeLookup(std::string("mo\0v", 4)), nullptr);
    for (const char* n : {"jc", "jb", "jnae"}) EXPECT_EQ(TTavAssembler::opcodeLookup(n)->opcode1, 2u) << n;
    EXPECT_EQ(TTavAssembler::opcodeLookup("goto")->opcode1, 16u);
    EXPECT_EQ(TTavAssembler::opcodeLookup("jmp")->opcode1, 16u);
}

TEST(EncoderTable, OperandCountsByFamily) {
    struct C {
        const char* n;
        int mn, mx;
    } cases[] = {{"nop", 0, 0},  {"int", 1, 1},  {"add", 2, 2},  {"push", 1, 1}, {"ret", 1, 1},  {"retn", 0, 0},
                 {"imul", 1, 3}, {"fadd", 1, 2}, {"fcom", 1, 1}, {"fld", 1, 1},  {"fild", 1, 1}, {"pand", 2, 2},
                 {"sete", 1, 1}, {"movq", 2, 2}, {"jne", 1, 1},  {"div", 1, 1}};
    for (const C& c : cases) {
        PInstruction r = TTavAssembler::opcodeLookup(c.n);
        ASSERT_NE(r, nullptr) << c.n;
        EXPECT_EQ(r->minpar, c.mn) << c.n;
        EXPECT_EQ(r->maxpar, c.mx) << c.n;
    }
}
