#include "classes/const_manager.h"

#include "classes/shared_records.h"
#include "symbol_tables_fixture.h"

using ConstManager = SymbolTables;

TEST_F(ConstManager, SameTextTwoNamesOneRecord) {
    int32_t a = Consts->addConst("first", std::string("hello"), ctAnsiString);
    int32_t b = Consts->addConst("second", std::string("hello"), ctAnsiString);
    EXPECT_EQ(a, b);
    EXPECT_EQ(Consts->Count(), 1u);
    PConst c = Consts->getConst(static_cast<uint32_t>(a));
    EXPECT_EQ(tavView(c->varname), "first");
    EXPECT_EQ(tavView(c->str), "hello");
    EXPECT_EQ(Idents->findIdent("first", 0)->ptr, c);
    EXPECT_EQ(Idents->findIdent("SECOND", 0)->ptr, c);
    EXPECT_EQ(Idents->findIdent("second", 0)->type_, itConst);
}

// Equal texts of different kinds are separate constants of their own kinds.
TEST_F(ConstManager, PooledByKindAndText) {
    const int32_t n = Consts->addConst("N", int64_t(5), ctValue);
    const int32_t s = Consts->addConst("s", std::string("5"), ctAnsiString);
    EXPECT_NE(n, s);
    EXPECT_EQ(Consts->getConst(n)->type_, ctValue);
    EXPECT_EQ(Consts->getConst(n)->int_, 5);
    EXPECT_EQ(Consts->getConst(s)->type_, ctAnsiString);
    EXPECT_EQ(tavView(Consts->getConst(s)->str), "5");

    const int32_t ansi = Consts->addConst("a", std::string("abc"), ctAnsiString);
    const int32_t wide = Consts->addConst("w", std::string("abc"), ctWideString);
    EXPECT_NE(ansi, wide);
    EXPECT_EQ(Consts->getConst(wide)->type_, ctWideString);
    EXPECT_EQ(Consts->addConst("w2", std::string("abc"), ctWideString), wide);
    // the string first, then the number: still apart
    const int32_t s7 = Consts->addConst("s7", std::string("7"), ctAnsiString);
    const int32_t n7 = Consts->addConst("n7", 7, ctValue);
    EXPECT_NE(s7, n7);
    EXPECT_EQ(Consts->getConst(n7)->int_, 7);
}

TEST_F(ConstManager, NumberValues) {
    PConst f = Consts->getConst(Consts->addConst("f", 2.5L, ctFloat));
    EXPECT_EQ(f->int_, 2);
    EXPECT_EQ(fromTavExt(f->ext), 2.5L);
    EXPECT_EQ(tavView(f->str), "2.5");
    PConst g = Consts->getConst(Consts->addConst("g", -2.5L, ctFloat));
    EXPECT_EQ(g->int_, -2);
    PConst h = Consts->getConst(Consts->addConst("h", 1e300L, ctFloat));
    EXPECT_EQ(h->int_, INT64_MIN);  // does not fit: integer indefinite
    PConst i = Consts->getConst(Consts->addConst("i", int64_t(-42), ctValue));
    EXPECT_EQ(tavView(i->str), "-42");
    EXPECT_EQ(fromTavExt(i->ext), -42.0L);
    EXPECT_EQ(TConstManager::floatText(0.1L), "0.1");
    EXPECT_EQ(TConstManager::floatText(1.0L / 3), "0.333333333333333");
}

TEST_F(ConstManager, ClearInactiveKeepsOrder) {
    EXPECT_EQ(Consts->getConst(0), nullptr);  // empty pool
    Consts->addConst("a", std::string("a"), ctAnsiString);
    Consts->addConst("b", std::string("b"), ctAnsiString);
    Consts->addConst("c", std::string("c"), ctAnsiString);
    Consts->addConst("d", std::string("d"), ctAnsiString);
    Consts->getConst(1)->active = 1;
    Consts->getConst(3)->active = 1;
    Consts->clearInactive();
    ASSERT_EQ(Consts->Count(), 2u);
    EXPECT_EQ(tavView(Consts->getConst(0)->str), "b");
    EXPECT_EQ(tavView(Consts->getConst(1)->str), "d");
    EXPECT_EQ(Consts->getConst(2), nullptr);
    // the pool still finds the survivors by their new indices
    EXPECT_EQ(Consts->addConst("d2", std::string("d"), ctAnsiString), 1);
    EXPECT_EQ(Consts->addConst("a2", std::string("a"), ctAnsiString), 2);
}
