// The macro store: "master", parameters, bindings and the end of an expansion.
#include "front_env.h"

namespace {
TCurrentToken* number(int64_t v) {
    auto* t = new TCurrentToken();
    t->setInteger(4, std::to_string(v), v);
    return t;
}
}  // namespace

TEST_F(FrontEnv, MacroMasterAndDefinitions) {
    TMacro* master = MacMan->F_Master;
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(MacMan->F_CurMacro, master);
    EXPECT_EQ(master->name, "master");
    EXPECT_EQ(master->type_, mtProc);
    EXPECT_EQ(master->result, nullptr);
    EXPECT_EQ(master->ident, 0u);
    EXPECT_TRUE(MacMan->F_List.empty());
    EXPECT_EQ(Idents->findIdent("master"), nullptr);

    TMacro* f = MacMan->newMacro("MyFunc", mtFunc);
    ASSERT_EQ(MacMan->F_List.size(), 1u);
    EXPECT_TRUE(f->parens_req);
    EXPECT_EQ(f->paramcount, 0u);
    ASSERT_NE(f->result, nullptr);
    EXPECT_EQ(f->result->F_Type, ttSymbol);
    EXPECT_EQ(f->result->F_String, ";");
    PIdent id = Idents->findIdent("MYFUNC");
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->type_, itMacro);
    EXPECT_EQ(id->ptr, f);
    EXPECT_EQ(Idents->getIdent(f->ident), id);
    // The body is a compiler file, after "master"'s.
    EXPECT_EQ(Compiler->F_ListFiles.back(), f->code);
}

TEST_F(FrontEnv, MacroBindingsAndEndMacro) {
    TMacro* m = MacMan->newMacro("pair", mtProc);
    m->endMacro();  // nothing bound: nothing happens
    EXPECT_EQ(m->params.Count(), 0u);

    m->addParam("A");
    m->addParam("b");
    EXPECT_EQ(m->paramcount, 2u);
    EXPECT_EQ(m->indexOfParam("a"), 0);
    EXPECT_EQ(m->indexOfParam("B"), 1);
    EXPECT_EQ(m->indexOfParam("c"), -1);
    m->setParam(0, number(1));
    m->setParam(1, number(2));
    m->setParam(2, number(3));  // beyond the declared ones: kept by position
    ASSERT_EQ(m->params.Count(), 3u);
    EXPECT_EQ(m->params.GetString(2), " ");
    EXPECT_EQ(m->params.GetSSLItem(2)->scope, 1u);
    TCurrentToken v;
    v.setInteger(4, "7", 7);
    m->setVariable("Total", v);
    EXPECT_EQ(m->params.Count(), 4u);
    EXPECT_EQ(m->indexOfParam("TOTAL"), 3);

    m->endMacro();
    ASSERT_EQ(m->params.Count(), 2u);
    EXPECT_EQ(m->params.GetItem(0), nullptr);
    EXPECT_EQ(m->params.GetItem(1), nullptr);
    EXPECT_EQ(m->params.GetString(0), "a");
    EXPECT_EQ(m->paramcount, 2u);

    // A binding left at the end is freed with the macro.
    m->setParam(0, number(4));
}

TEST(MacroStore, WithoutACompilerTheMacroKeepsItsBody) {
    TMacro m("solo", mtProc);  // no compiler: the body file is the macro's own
    ASSERT_NE(m.code, nullptr);
    EXPECT_EQ(m.code->F_FileLength, 0u);
}
