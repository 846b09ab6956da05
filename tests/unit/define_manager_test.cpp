#include "classes/define_manager.h"

#include "reader/cur_token.h"
#include "symbol_tables_fixture.h"

using DefineManager = SymbolTables;

TEST_F(DefineManager, DefinesMatchExactlyIdentifiersDoNot) {
    TCurrentToken* tok = DefMan->addDefine("X", nullptr);
    EXPECT_EQ(DefMan->getDefine("X"), tok);
    EXPECT_EQ(DefMan->getDefine("x"), nullptr);
    PIdent id = Idents->findIdent("x", Idents->F_CurrentScope);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->type_, itDefine);
    EXPECT_EQ(id->ptr, tok);
}

TEST_F(DefineManager, NilTokenGivesAnEofToken) {
    TCurrentToken* tok = DefMan->addDefine("once_h", nullptr);
    EXPECT_EQ(tok->F_Type, ttEOF);
    EXPECT_EQ(tok->F_DefName, "once_h");
}

TEST_F(DefineManager, NumberDefine) {
    TCurrentToken* tok = DefMan->addDefine("five", int64_t(5));
    EXPECT_EQ(tok->F_Type, ttNumber);
    EXPECT_EQ(tok->F_String, "5");
    EXPECT_EQ(tok->F_Integer, 5);
    EXPECT_EQ(tok->F_ByteCount, 4);
    EXPECT_EQ(tok->F_DefName, "five");
    EXPECT_EQ(DefMan->addDefine("neg", int64_t(-12))->F_String, "-12");
}

TEST_F(DefineManager, DefineOutlivesItsScopeIdentifier) {
    Idents->upScope();
    TCurrentToken* tok = DefMan->addDefine("inner", nullptr);
    Idents->deleteScope();
    EXPECT_EQ(DefMan->getDefine("inner"), nullptr);  // scope 0 does not see it
    Idents->upScope();
    EXPECT_EQ(DefMan->getDefine("inner"), tok);
    EXPECT_EQ(Idents->findIdent("inner", Idents->F_CurrentScope), nullptr);
    Idents->deleteScope();
}

TEST_F(DefineManager, CopiedTokenOwnsItsOwnOperand) {
    TCurrentToken src;
    src.setRegister(REG_EBX, "ebx");
    src.newOperand()->setRegister(REG_EBX);
    TCurrentToken* tok = DefMan->addDefine("r", &src);
    ASSERT_NE(tok->F_Operand, nullptr);
    EXPECT_NE(tok->F_Operand, src.F_Operand);
    EXPECT_EQ(tok->F_Operand->reg_base, REG_EBX);
    EXPECT_EQ(tok->F_String, "ebx");
    EXPECT_EQ(tok->F_DefName, "r");
}
