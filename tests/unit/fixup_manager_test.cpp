#include "classes/fixup_manager.h"

#include "symbol_tables_fixture.h"

using FixupManager = SymbolTables;

TEST_F(FixupManager, PositionAddsTheCodeLength) {
    PFunction rtlmain = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction f = FuncMan->CreateFunction(ltProc, nullptr);
    appendCode(f, std::string(10, '\x90'));
    int target = 0;
    EXPECT_EQ(FixMan->addFixup(ftVar, f, &target, 1, 4, 8, jtJMP), 0);
    EXPECT_EQ(FixMan->addFixup(ftJmp, f, 1u, 0, 7, 0, jtJNE), 1);
    PFixup v = FixMan->getFixup(f, 0);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->position, 11u);
    EXPECT_EQ(v->hint, ftVar);
    EXPECT_EQ(v->size, 4);
    EXPECT_EQ(v->offset, 8u);
    EXPECT_EQ(v->data, &target);
    EXPECT_EQ(v->parentfunc, f);
    PFixup j = FixMan->getFixup(f, 1);
    EXPECT_EQ(j->index, 1u);
    EXPECT_EQ(j->jmp, jtJNE);
    EXPECT_EQ(j->position, 10u);
    EXPECT_EQ(FixMan->getFixup(f, 2), nullptr);
    EXPECT_EQ(FixMan->Count(rtlmain), 0u);
}

TEST_F(FixupManager, WithoutOwnerJoinsRtlmainUnchanged) {
    PFunction rtlmain = FuncMan->CreateFunction(ltProc, nullptr);
    appendCode(rtlmain, std::string(5, '\x90'));
    EXPECT_EQ(FixMan->addFixup(ftCodeRVA, nullptr, 0, 1, 4, 0), 0);
    PFixup x = FixMan->getFixup(rtlmain, 0);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->position, 1u);
    EXPECT_EQ(x->parentfunc, nullptr);
    EXPECT_EQ(FixMan->getFixup(nullptr, 0), x);
    EXPECT_EQ(FixMan->getFixup(nullptr, 1), nullptr);
}

TEST_F(FixupManager, NoFunctionToHoldItIsAnInternalError) {
    EXPECT_THROW(FixMan->addFixup(ftCodeRVA, nullptr, 0, 1, 4, 0), EInternalError);
    EXPECT_EQ(FixMan->getFixup(nullptr, 0), nullptr);
}
