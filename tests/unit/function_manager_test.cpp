#include "classes/function_manager.h"

#include "classes/shared_records.h"
#include "symbol_tables_fixture.h"

using FunctionManager = SymbolTables;

TEST_F(FunctionManager, NewRecordDefaults) {
    EXPECT_EQ(FuncMan->getFunc(0), nullptr);  // empty manager
    PFunction main = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction lbl = FuncMan->CreateFunction(ltLabel, main);
    EXPECT_EQ(main->FuncIndex, 0u);
    EXPECT_EQ(lbl->FuncIndex, 1u);
    EXPECT_EQ(lbl->Parent, main);
    EXPECT_EQ(lbl->Type_, ltLabel);
    for (PFunction f : {main, lbl}) {
        EXPECT_EQ(f->Address, 0xFFFFFFFFu);
        EXPECT_EQ(f->DLLIndex, -1);
        EXPECT_EQ(f->Buffer, nullptr);
        EXPECT_EQ(f->BufLen, 0u);
        EXPECT_FALSE(f->IsCalled);
        EXPECT_EQ(f->CallConvention, ccStdcall);
        EXPECT_TRUE(f->FixupList && f->UsesList && f->DependFuncs);
    }
    EXPECT_EQ(FuncMan->getFunc(1), lbl);
    EXPECT_EQ(FuncMan->getFunc(2), nullptr);
    EXPECT_EQ(FuncMan->getFunc(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(TFunctionManager::Convention2String(ccStdcall), "stdcall");
}

TEST_F(FunctionManager, CodeBufferAsPluginsReadIt) {
    PFunction f = FuncMan->CreateFunction(ltFunc, nullptr);
    appendCode(f, std::string("\x55\x00\x89", 3));
    const uint8_t more[] = {0xE5, 0xC3};
    appendCode(f, more, 2);
    std::string big(100000, '\x90');
    appendCode(f, big);
    EXPECT_EQ(f->BufLen, 100005u);
    EXPECT_EQ(tav_strlen(f->Buffer), f->BufLen);
    EXPECT_EQ(static_cast<uint8_t>(f->Buffer[1]), 0x00);
    EXPECT_EQ(static_cast<uint8_t>(f->Buffer[4]), 0xC3);
    EXPECT_EQ(f->Buffer[f->BufLen], '\0');
    appendCode(f, more, -1);
    EXPECT_EQ(f->BufLen, 100005u);
}

TEST_F(FunctionManager, PeekModeLeavesCodeAndParametersUnchanged) {
    PFunction f = FuncMan->CreateFunction(ltProc, nullptr);
    appendCode(f, std::string("\x90"));
    const uint32_t vars = VarMan->VarCount();
    CompileFlags.peek_mode = 1;
    appendCode(f, std::string("\xC3"));
    const uint8_t b = 0xCC;
    appendCode(f, &b, 1);
    addParam(f, VarMan->F_VarTypes[6], "x", true);
    CompileFlags.peek_mode = 0;
    EXPECT_EQ(f->BufLen, 1u);
    EXPECT_EQ(tav_strlen(f->Buffer), 1u);
    EXPECT_EQ(f->ParamCount, 0u);
    EXPECT_EQ(f->ParamSize, 0u);
    EXPECT_EQ(f->Params, nullptr);
    EXPECT_EQ(VarMan->VarCount(), vars);
}

// Each parameter takes whole stack slots, matching the caller's pushes.
TEST_F(FunctionManager, ParametersTakeWholeSlots) {
    PFunction p = FuncMan->CreateFunction(ltProc, nullptr);
    PVarType byteT = VarMan->F_VarTypes[0], wordT = VarMan->F_VarTypes[4];
    addParam(p, byteT, "a", true);
    EXPECT_EQ(addParam(p, wordT, "b", true), 2u);
    EXPECT_EQ(p->ParamSize, 8u);
    ASSERT_EQ(tavCount(p->Params), 2u);
    EXPECT_EQ(p->Params[0].type_, byteT);
    EXPECT_EQ(tavView(p->Params[1].name), "b");
    PIdent a = Idents->findIdent("a", 0), b = Idents->findIdent("b", 0);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->type_, itLocalVar);
    EXPECT_EQ(static_cast<PVar>(a->ptr)->address, 4u);
    EXPECT_EQ(static_cast<PVar>(b->ptr)->address, 8u);
    // an 8-byte and a 10-byte parameter
    addParam(p, VarMan->F_VarTypes[7], "q", false);
    addParam(p, VarMan->F_VarTypes[21], "e", false);
    EXPECT_EQ(p->ParamSize, 8u + 8u + 12u);
    EXPECT_EQ(Idents->findIdent("q", 0), nullptr);
}

TEST_F(FunctionManager, MarkingRecordsDependenciesUntilReachable) {
    PFunction a = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction b = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction c = FuncMan->CreateFunction(ltProc, nullptr);
    setCalled(b, a);  // a is not reachable yet
    EXPECT_FALSE(b->IsCalled);
    ASSERT_EQ(a->DependFuncs->items.size(), 1u);
    setCalled(a, nullptr);
    EXPECT_TRUE(a->IsCalled);
    EXPECT_TRUE(b->IsCalled);
    setCalled(c, a);  // from a marked function: marked at once
    EXPECT_TRUE(c->IsCalled);
    EXPECT_EQ(a->DependFuncs->items.size(), 1u);
}

TEST_F(FunctionManager, CyclesAreMarkedOnce) {
    const uint32_t lib = static_cast<uint32_t>(Imports->addImportLib("k.dll"));
    PFunction x = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction y = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction imp = FuncMan->CreateFunction(ltProc, nullptr);
    imp->DLLIndex = static_cast<int32_t>(lib);
    setCalled(y, x);
    setCalled(x, y);
    setCalled(x, x);
    setCalled(imp, x);
    setCalled(imp, y);
    setCalled(imp, imp);
    setCalled(y, nullptr);
    setCalled(x, nullptr);
    EXPECT_TRUE(x->IsCalled && y->IsCalled && imp->IsCalled);
    ASSERT_EQ(Imports->getLib(lib)->funcs->items.size(), 1u);
    EXPECT_EQ(Imports->getLib(lib)->funcs->items[0], imp);
}

// Import lists are filled in the depth-first order in which functions are
// first marked.
TEST_F(FunctionManager, ImportListOrderFromMarking) {
    const int32_t k = Imports->addImportLib("kernel32.dll");
    const int32_t u = Imports->addImportLib("user32.dll");
    auto imported = [](int32_t lib) {
        PFunction f = FuncMan->CreateFunction(ltProc, nullptr);
        f->DLLIndex = lib;
        return f;
    };
    PFunction root = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction helper = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction unused = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction exitProcess = imported(k), getStdHandle = imported(k), writeFile = imported(k);
    PFunction messageBox = imported(u), unusedImport = imported(u);
    setCalled(helper, root);
    setCalled(exitProcess, root);
    setCalled(writeFile, helper);
    setCalled(messageBox, helper);
    setCalled(getStdHandle, helper);
    setCalled(writeFile, root);
    setCalled(unusedImport, unused);
    setCalled(root, nullptr);
    const auto& kf = Imports->getLib(k)->funcs->items;
    const auto& uf = Imports->getLib(u)->funcs->items;
    EXPECT_EQ(kf, (std::vector<PFunction>{writeFile, getStdHandle, exitProcess}));
    EXPECT_EQ(uf, (std::vector<PFunction>{messageBox}));
    EXPECT_FALSE(unused->IsCalled);
    EXPECT_FALSE(unusedImport->IsCalled);
}

TEST_F(FunctionManager, LongDependencyChain) {
    const int n = 200000;
    std::vector<PFunction> fs;
    for (int i = 0; i < n; ++i) fs.push_back(FuncMan->CreateFunction(ltProc, nullptr));
    for (int i = 0; i + 1 < n; ++i) setCalled(fs[i + 1], fs[i]);
    setCalled(fs[0], nullptr);
    EXPECT_TRUE(fs[n - 1]->IsCalled);
}

TEST_F(FunctionManager, HostInfoStaysBesideTheRecord) {
    PFunction f = FuncMan->CreateFunction(ltRef, nullptr);
    FuncMan->hostInfo(f).refLine = 12;
    FuncMan->CreateFunction(ltRef, nullptr);
    EXPECT_EQ(FuncMan->hostInfo(f).refLine, 12u);
    TFunction stranger{};
    EXPECT_THROW(FuncMan->hostInfo(&stranger), EInternalError);
}

// Records share their empty lists until something is added: what one record
// gets never shows in another's lists.
TEST_F(FunctionManager, ListsOfOneRecordStayItsOwn) {
    PFunction a = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction b = FuncMan->CreateFunction(ltLabel, a);
    PFunction c = FuncMan->CreateFunction(ltProc, nullptr);
    FixMan->addFixup(ftJmp, b, 0, 0, 4, 0);
    setCalled(c, a);
    FuncMan->ownLists(c);
    c->UsesList->items.push_back("ebx");
    EXPECT_EQ(FixMan->Count(a), 0u);
    EXPECT_EQ(FixMan->Count(b), 1u);
    EXPECT_EQ(FixMan->Count(c), 0u);
    EXPECT_EQ(a->DependFuncs->items.size(), 1u);
    EXPECT_TRUE(b->DependFuncs->items.empty() && c->DependFuncs->items.empty());
    EXPECT_TRUE(a->UsesList->items.empty() && b->UsesList->items.empty());
    EXPECT_EQ(c->UsesList->items.size(), 1u);
    EXPECT_TRUE(FuncMan->holds(a) && FuncMan->holds(b) && FuncMan->holds(c));
    TFunction other{};
    EXPECT_FALSE(FuncMan->holds(&other));
    EXPECT_FALSE(FuncMan->holds(reinterpret_cast<const TFunction*>(reinterpret_cast<const char*>(a) + 8)));
}

// A shared text is one block for every record that carries it; setting the
// field again leaves the other records' texts alone.
TEST_F(FunctionManager, SharedTextsStayIntactWhenOneRecordChanges) {
    PFunction a = FuncMan->CreateFunction(ltLabel, nullptr);
    PFunction b = FuncMan->CreateFunction(ltLabel, nullptr);
    FuncMan->shareText(a->Name, "endif");
    FuncMan->shareText(b->Name, "endif");
    FuncMan->shareText(b->ImportName, "else");
    EXPECT_EQ(a->Name, b->Name);
    EXPECT_TRUE(FuncMan->isShared(a->Name));
    FuncMan->assignText(b->Name, "a much longer name than the shared one");
    FuncMan->shareText(b->ImportName, "");
    EXPECT_EQ(tavString(a->Name), "endif");
    EXPECT_EQ(tav_strlen(a->Name), 5u);
    EXPECT_EQ(tavString(b->Name), "a much longer name than the shared one");
    EXPECT_FALSE(FuncMan->isShared(b->Name));
    EXPECT_EQ(b->ImportName, nullptr);
    FuncMan->shareText(b->ImportName, "endif");
    EXPECT_EQ(b->ImportName, a->Name);
}

// Fixups of one function keep their order and their addresses however many
// are added; the list walks them in the same order.
TEST_F(FunctionManager, ManyFixupsStayInOrderAndInPlace) {
    PFunction main = FuncMan->CreateFunction(ltProc, nullptr);
    PFunction other = FuncMan->CreateFunction(ltProc, nullptr);
    std::vector<PFixup> made;
    for (uint32_t i = 0; i < 5000; ++i) {
        EXPECT_EQ(FixMan->addFixup(ftLabel, main, i, i * 3, 4, 0), int32_t(i));
        made.push_back(FixMan->getFixup(main, i));
        if (i % 7 == 0) FixMan->addFixup(ftLabel, other, i, 0, 4, 0);
    }
    ASSERT_EQ(FixMan->Count(main), 5000u);
    EXPECT_EQ(FixMan->Count(other), 715u);
    EXPECT_EQ(FixMan->getFixup(main, 5000), nullptr);
    uint32_t k = 0;
    for (PFixup x : main->FixupList->items) {
        ASSERT_EQ(x, made[k]) << k;
        EXPECT_EQ(x->index, k);
        EXPECT_EQ(x->position, k * 3);
        EXPECT_EQ(x->parentfunc, main);
        ++k;
    }
    EXPECT_EQ(k, 5000u);
}

// A label's entry name is the text of its name, for a name of its own and
// for one shared by many labels.
TEST_F(FunctionManager, PlacedLabelsCarryTheirNameAsEntryName) {
    PFunction a = FuncMan->CreateFunction(ltLabel, nullptr);
    PFunction b = FuncMan->CreateFunction(ltLabel, nullptr);
    tavAssign(a->Name, "start");
    tavAssign(a->ImportName, "old");
    FuncMan->shareText(b->Name, "endif");
    FuncMan->importAsNamed(a);
    FuncMan->importAsNamed(b);
    FuncMan->importAsNamed(b);
    EXPECT_EQ(tavString(a->ImportName), "start");
    EXPECT_EQ(tavString(b->ImportName), "endif");
    EXPECT_TRUE(FuncMan->isShared(b->ImportName));
}

TEST_F(FunctionManager, ShortAppendsMatchPlainAppendsAcrossGrowth) {
    // Lengths 0 to 16 over several capacity doublings: after every append the
    // bytes, the count and the end mark are those of the plain append.
    TAVSTR quick = nullptr, plain = nullptr;
    char src[16];
    for (uint32_t step = 0; step < 600; ++step) {
        const size_t len = step % 17;
        for (size_t i = 0; i < sizeof src; ++i) src[i] = char(step * 31 + i);
        tavAppendShort(quick, src, len);
        tavAppend(plain, src, len);
        const uint32_t n = tavBlockCount(plain);
        ASSERT_EQ(tavBlockCount(quick), n) << "step " << step;
        if (n == 0) continue;
        ASSERT_EQ(std::string_view(quick, n), std::string_view(plain, n)) << "step " << step;
        ASSERT_EQ(quick[n], '\0') << "step " << step;
    }
    tavFree(quick);
    tavFree(plain);
}
