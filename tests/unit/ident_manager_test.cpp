#include "classes/ident_manager.h"

#include "symbol_tables_fixture.h"

using IdentManager = SymbolTables;

TEST_F(IdentManager, NamesMatchWithoutRegardToCase) {
    int rec = 0;
    TIdentManager t;
    t.addIdent(itLabel, "MyLabel", &rec);
    for (const char* q : {"mylabel", "MYLABEL", "MyLabel"}) {
        PIdent id = t.findIdent(q, t.F_CurrentScope);
        ASSERT_NE(id, nullptr) << q;
        EXPECT_EQ(id->name, "MyLabel");
        EXPECT_EQ(id->type_, itLabel);
        EXPECT_EQ(id->ptr, &rec);
    }
    // only ASCII letters fold: UTF-8 bytes stay as they are
    t.addIdent(itLabel, "\xC3\x84x", &rec);  // "Äx"
    EXPECT_NE(t.findIdent("\xC3\x84X", 0), nullptr);
    EXPECT_EQ(t.findIdent("\xC3\xA4x", 0), nullptr);  // "äx"
}

TEST_F(IdentManager, InnerScopeShadowsUntilItCloses) {
    int outer = 0, inner = 1;
    TIdentManager t;
    t.addIdent(itGlobalVar, "v", &outer);
    EXPECT_EQ(t.upScope(), 1u);
    t.addIdent(itLocalVar, "V", &inner);
    EXPECT_EQ(t.findIdent("v", t.F_CurrentScope)->ptr, &inner);
    EXPECT_EQ(t.findIdent("v", 0)->ptr, &outer);
    t.deleteScope(TIdentManager::CURRENT_SCOPE);
    EXPECT_EQ(t.F_CurrentScope, 0u);
    EXPECT_EQ(t.findIdent("v", t.F_CurrentScope)->ptr, &outer);
}

TEST_F(IdentManager, DeleteScopeRemovesOnlyTheInnermost) {
    TIdentManager t;
    t.addIdent(itLabel, "g", nullptr);
    t.upScope();
    t.addIdent(itLabel, "one", nullptr);
    t.upScope();
    t.addIdent(itLabel, "two", nullptr);
    t.deleteScope(TIdentManager::CURRENT_SCOPE);
    EXPECT_EQ(t.F_CurrentScope, 1u);
    EXPECT_EQ(t.findIdent("two", TIdentManager::CURRENT_SCOPE), nullptr);
    EXPECT_NE(t.findIdent("one", t.F_CurrentScope), nullptr);
    EXPECT_NE(t.findIdent("g", t.F_CurrentScope), nullptr);
    EXPECT_EQ(t.Count(), 2u);
}

// Leaving the global scope would wrap the counter and wipe every name.
TEST_F(IdentManager, LeavingTheGlobalScopeIsRefused) {
    TIdentManager t;
    t.addIdent(itLabel, "keep", nullptr);
    EXPECT_THROW(t.deleteScope(TIdentManager::CURRENT_SCOPE), EInternalError);
    EXPECT_EQ(t.F_CurrentScope, 0u);
    EXPECT_NE(t.findIdent("keep", 0), nullptr);
    t.upScope();
    t.deleteScope();
    EXPECT_THROW(t.deleteScope(), EInternalError);
    EXPECT_NE(t.findIdent("keep", 0), nullptr);
}

TEST_F(IdentManager, GetterOutOfRangeIsNil) {
    TIdentManager t;
    EXPECT_EQ(t.getIdent(0), nullptr);
    t.addIdent(itLabel, "x", nullptr);
    EXPECT_NE(t.getIdent(0), nullptr);
    EXPECT_EQ(t.getIdent(1), nullptr);
    EXPECT_EQ(t.getIdent(0xFFFFFFFFu), nullptr);
}
