// The block stack and the register assumptions.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include "classes/block_stack.h"
#include "classes/register_manager.h"

namespace {
PBlockStackItem block(TBST t) {
    auto* b = new TBlockStackItem();
    b->type_ = t;
    return b;
}
}  // namespace

TEST(BlockStack, EmptyStack) {
    TBlockStack s;
    EXPECT_EQ(s.pop(), nullptr);
    EXPECT_EQ(s.getTop(), nullptr);
    EXPECT_EQ(s.getTopRepType(), nullptr);
    EXPECT_EQ(s.getTopIfType(), nullptr);
}

TEST(BlockStack, InnermostOfAKind) {
    TBlockStack s;
    PBlockStackItem w = block(bstWHILE), i1 = block(bstIF), i2 = block(bstIF);
    s.push(w);
    s.push(i1);
    s.push(i2);
    EXPECT_EQ(s.getTop(), i2);
    EXPECT_EQ(s.getTopRepType(), w);  // break inside if inside while finds the while
    EXPECT_EQ(s.getTopIfType(), i2);
    PBlockStackItem r = block(bstREPEAT);
    s.push(r);
    EXPECT_EQ(s.getTopRepType(), r);
    EXPECT_EQ(s.getTopIfType(), i2);
    EXPECT_EQ(s.pop(), r);
    delete r;
    EXPECT_EQ(s.pop(), i2);
    delete i2;
    EXPECT_EQ(s.getTopIfType(), i1);
    // w and i1 stay on the stack and are freed with it.
}

TEST(RegisterManager, SaveAndRestoreAllEntries) {
    TRegisterManager rm;
    for (const TRegState& st : rm.Registers) {
        EXPECT_EQ(st.assume, nullptr);
        EXPECT_EQ(st.tempAssume, nullptr);
    }
    TVarType a{}, b{};
    rm.Registers[0].assume = &a;
    rm.Registers[31].tempAssume = &b;
    TRegStates saved;
    rm.saveState(saved);
    for (TRegState& st : rm.Registers) st = {&b, &a};
    rm.restoreState(saved);
    for (size_t i = 0; i < REG_STATE_COUNT; ++i) {
        EXPECT_EQ(rm.Registers[i].assume, i == 0 ? &a : nullptr) << i;
        EXPECT_EQ(rm.Registers[i].tempAssume, i == 31 ? &b : nullptr) << i;
    }
}
