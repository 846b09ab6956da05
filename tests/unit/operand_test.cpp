#include "encoder/operand.h"

#include <gtest/gtest.h>

#include "common.h"
#include "reader/cur_token.h"
#include "encoder/tav_assembler.h"

namespace {
struct BitsGuard {
    explicit BitsGuard(uint32_t bits) : saved(CompileFlags.cpu_bits) { CompileFlags.cpu_bits = bits; }
    ~BitsGuard() { CompileFlags.cpu_bits = saved; }
    uint32_t saved;
};
}  // namespace

TEST(Operand, RegisterNamesByBitMode) {
    const struct {
        const char* name;
        uint32_t bits;
        TRegister reg;
    } cases[] = {
        {"EAX", 32, REG_EAX},   {"eax", 16, REG_NONE},  {"edi", 64, REG_EDI},   {"rax", 32, REG_NONE},
        {"RSI", 64, REG_RSI},   {"gp_sp", 16, REG_SP},  {"gp_sp", 32, REG_ESP}, {"GP_SP", 64, REG_RSP},
        {"gp_sp", 0, REG_NONE}, {"gp_ax", 8, REG_NONE}, {"al", 0, REG_AL},      {"BH", 16, REG_BH},
        {"di", 32, REG_DI},     {"sp", 64, REG_SP},     {"ebx", 0, REG_NONE},   {"gp_xx", 32, REG_NONE},
        {"", 32, REG_NONE},     {"e", 32, REG_NONE},    {"eaxx", 32, REG_NONE}, {"st", 32, REG_NONE},
    };
    for (const auto& c : cases) {
        BitsGuard g(c.bits);
        EXPECT_EQ(strToReg(c.name), c.reg) << c.name << " @" << c.bits;
    }
}

// Reserved words are matched on their whole length: a zero byte after a
// name, or more letters after the longest, make another word.
TEST(Operand, WordsMatchOnTheirWholeLength) {
    BitsGuard g(32);
    using namespace std::string_literals;
    EXPECT_EQ(strToReg("al\0"s), REG_NONE);
    EXPECT_EQ(strToReg("eax\0\0"s), REG_NONE);
    EXPECT_EQ(strToSeg("cs\0"s), SEG_NONE);
    EXPECT_EQ(TCurrentToken::findKeyword("if\0"s), keyNone);
    EXPECT_EQ(TTavAssembler::opcodeLookup("nop\0"s), nullptr);
    EXPECT_EQ(TCurrentToken::findKeyword("ISSIGNEDTYPE"), keyIsSignedType);  // the longest
    EXPECT_EQ(TCurrentToken::findKeyword("issignedtypes"), keyNone);
    EXPECT_NE(TTavAssembler::opcodeLookup("addsubpd"), nullptr);
    EXPECT_EQ(TTavAssembler::opcodeLookup("addsubpdx"), nullptr);
}

TEST(Operand, SegmentNames) {
    const struct {
        const char* name;
        TSegment seg;
    } cases[] = {{"es", SEG_ES}, {"CS", SEG_CS},    {"ss", SEG_SS},  {"Ds", SEG_DS},  {"fs", SEG_FS},
                 {"GS", SEG_GS}, {"gs:", SEG_NONE}, {"g", SEG_NONE}, {"xs", SEG_NONE}};
    for (const auto& c : cases) EXPECT_EQ(strToSeg(c.name), c.seg) << c.name;
}

TEST(Operand, RegisterTextAndSize) {
    EXPECT_EQ(regToStr(REG_AL), "al");
    EXPECT_EQ(regToStr(REG_DI), "di");
    EXPECT_EQ(regToStr(REG_EDI), "edi");
    EXPECT_EQ(regToStr(REG_RAX), "");
    EXPECT_EQ(regToStr(REG_NONE), "");
    EXPECT_EQ(regSize(REG_BH), 1);
    EXPECT_EQ(regSize(REG_SP), 2);
    EXPECT_EQ(regSize(REG_ESP), 4);
    EXPECT_EQ(regSize(REG_RAX), 4);
    EXPECT_EQ(regSize(REG_NONE), 4);
    // hardware number and width class
    EXPECT_EQ(REG_EBP % 8, 5);
    EXPECT_EQ(REG_BH / 8, 0);
}

TEST(Operand, Setters) {
    BitsGuard g(32);
    TOperand o;
    o.setImm(-1, 4);
    EXPECT_EQ(o.hint, otImm);
    EXPECT_EQ(o.value, -1);  // signed: the encoder checks the value against its field
    EXPECT_EQ(o.size, 4u);

    int rec = 0, fn = 0;
    o.setPointer(otVar, &fn, &rec);
    EXPECT_EQ(o.hint, otVar);
    EXPECT_EQ(o.ptr, &fn);
    EXPECT_EQ(o.data, &rec);
    EXPECT_EQ(o.size, 4u);

    o.setLabel(&fn, 0xFFFFFFFFu);
    EXPECT_EQ(o.hint, otLabel);
    EXPECT_EQ(o.value, 4294967295LL);

    o.setRegister(REG_CX);
    EXPECT_TRUE(o.isRegType());
    EXPECT_TRUE(o.isRegister(2));
    EXPECT_FALSE(o.isRegister(4));
    EXPECT_EQ(o.ptr, nullptr);

    o.size = 7;
    o.setSegment(SEG_GS);
    EXPECT_EQ(o.hint, otSegment);
    EXPECT_EQ(o.size, 7u);  // left as it was

    o.setIntType(otXMM, 5);
    EXPECT_TRUE(o.isRegType());
    EXPECT_EQ(o.value, 5);
    EXPECT_EQ(o.size, 0u);
}

TEST(Operand, MemoryRegisterCount) {
    TOperand o;
    o.reg_base = REG_ESI;
    o.reg_index = REG_EDI;
    o.setMemory(4, -8, 0, {});
    EXPECT_EQ(o.hint, otMem);
    EXPECT_EQ(o.reg_count, 0);
    EXPECT_EQ(o.reg_base, REG_ESI);
    EXPECT_EQ(o.reg_index, REG_EDI);
    EXPECT_EQ(o.displacement, -8);

    o.setMemory(2, 0, 4, {REG_EAX, REG_EBX, REG_ECX});
    EXPECT_EQ(o.reg_count, 2);
    EXPECT_EQ(o.reg_base, REG_EAX);
    EXPECT_EQ(o.reg_index, REG_EBX);
    EXPECT_EQ(o.scale, 4);
    EXPECT_EQ(o.size, 2u);

    o.setMemory(1, 0, 0, {REG_EBP});
    EXPECT_EQ(o.reg_count, 1);
    EXPECT_EQ(o.reg_base, REG_EBP);
    EXPECT_EQ(o.reg_index, REG_EBX);
}
