// Identifier resolution on real source text: keywords and built-ins,
// registers, constants, types, variables and field chains, defines, macros.
#include "classes/shared_records.h"
#include "front_env.h"
#include "reader/word_table.h"

class Resolve : public FrontEnv {
protected:
    void SetUp() override {
        FrontEnv::SetUp();
        PVarType dw = type("dword");
        point = VarMan->addType("TPoint", 8, 0, 0, false, false);
        VarMan->addField(point, vftType, "x", dw, 1, 0, nullptr);
        VarMan->addField(point, vftType, "y", dw, 1, 4, nullptr);
        len = FuncMan->CreateFunction(ltFunc, nullptr);
        VarMan->addField(point, vftFunc, "len", nullptr, 1, 0, len);
        rect = VarMan->addType("TRect", 16, 0, 0, false, false);
        VarMan->addField(rect, vftType, "a", point, 1, 0, nullptr);
        VarMan->addField(rect, vftType, "b", point, 1, 8, nullptr);
        clear = FuncMan->CreateFunction(ltProc, nullptr);
        VarMan->addField(rect, vftFunc, "clear", nullptr, 1, 0, clear);
        r = VarMan->addVar(vmGlobal, "R", rect, 1, 0);
        lr = VarMan->addVar(vmLocal, "lr", rect, 1, 20);
        n = VarMan->addVar(vmGlobal, "n", type("int32"), 1, 0);
        PVarType list = VarMan->addType("TList", 16, 0, 0, false, false);
        VarMan->addField(list, vftType, "count", dw, 1, 0, nullptr);
        VarMan->addField(list, vftType, "items", dw, 3, 4, nullptr);
        VarMan->addVar(vmGlobal, "lst", list, 1, 0);
        VarMan->addVar(vmGlobal, "arr", dw, 10, 0);
        VarMan->addVar(vmLocal, "lw", type("word"), 5, 12);
    }

    // The token after reading all of the text as one token.
    TTavToken one(const std::string& text) {
        load(text);
        TTavToken t = next();
        EXPECT_EQ(file()->peekNextToken(), ttEOF) << text;
        return t;
    }

    PVarType point = nullptr, rect = nullptr;
    PFunction len = nullptr, clear = nullptr;
    PVar r = nullptr, lr = nullptr, n = nullptr;
};

TEST_F(Resolve, Keywords) {
    for (const char* w : {"while", "WHILE", "While"}) {
        ASSERT_EQ(one(w), ttIdent);
        EXPECT_EQ(cur().F_Keyword, keyWhile);
        EXPECT_EQ(cur().F_IdentType, itReservedKeyword);
        EXPECT_EQ(cur().F_String, w);
    }
    EXPECT_EQ(one("whiles"), ttIdent);
    EXPECT_EQ(cur().F_Keyword, keyNone);
    EXPECT_EQ(cur().F_IdentType, itNone);
}

TEST_F(Resolve, BuiltInResults) {
    struct Case {
        const char* src;
        TTavToken kind;
        int64_t value;
        const char* text;
    } cases[] = {
        {"sizeof dword", ttNumber, 4, "4"},
        {"sizeof 'abc'", ttNumber, 4, "4"},
        {"sizeof \"ab\"", ttNumber, 3, "3"},
        {"sizeof R", ttNumber, 16, "16"},
        {"sizeof word", ttNumber, 2, "2"},
        // Arrays count all their elements; an indexed one is one element.
        {"sizeof arr", ttNumber, 40, "40"},
        {"sizeof lw", ttNumber, 10, "10"},
        {"sizeof lst", ttNumber, 16, "16"},
        {"sizeof lst.items", ttNumber, 12, "12"},
        {"sizeof lst.items[0]", ttNumber, 4, "4"},
        {"sizeof lst.count", ttNumber, 4, "4"},
        {"sizeof R.b", ttNumber, 8, "8"},
        // In brackets, as in C: the same values.
        {"sizeof(R)", ttNumber, 16, "16"},
        {"sizeof (dword)", ttNumber, 4, "4"},
        {"sizeof(arr)", ttNumber, 40, "40"},
        {"sizeof(lst.items)", ttNumber, 12, "12"},
        {"sizeof(lst.items[0])", ttNumber, 4, "4"},
        {"sizeof('abc')", ttNumber, 4, "4"},
        {"ord('AB')", ttNumber, 0x4241, "16961"},
        {"ord('')", ttNumber, 0, "0"},
        {"ord('abcdef')", ttNumber, 0x64636261, "1684234849"},  // four bytes at most
        {"ord(eax)", ttNumber, REG_EAX, "16"},
        {"ord(cl)", ttNumber, REG_CL, "1"},
        {"issignedtype(sbyte)", ttNumber, 1, "1"},
        {"issignedtype(byte)", ttNumber, 0, "0"},
        {"issignedtype(n)", ttNumber, 1, "1"},
        {"isptrtype(pointer)", ttNumber, 1, "1"},
        {"isptrtype(dword)", ttNumber, 0, "0"},
        {"isptrtype(dword*)", ttNumber, 1, "1"},
        {"isptrtype([pointer] n)", ttNumber, 1, "1"},
        {"tokentype(eax)", ttNumber, 205, "205"},
        {"tokentype(5)", ttNumber, 200, "200"},
        {"tokentype('a')", ttNumber, 300, "300"},
        {"tokentype(;)", ttNumber, 3, "3"},
        {"TokenType([eax])", ttNumber, 210, "210"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(one(c.src), c.kind) << c.src;
        EXPECT_EQ(cur().F_Integer, c.value) << c.src;
        EXPECT_EQ(cur().F_String, c.text) << c.src;
        EXPECT_EQ(cur().F_ByteCount, 4) << c.src;
    }
}

TEST_F(Resolve, TokenTextAndCastType) {
    EXPECT_EQ(one("tokentext(123)"), ttAnsiString);
    EXPECT_EQ(cur().F_String, "123");
    EXPECT_EQ(one("tokentext(\"ab\")"), ttWideString);
    EXPECT_EQ(cur().F_String, "ab");
    EXPECT_EQ(one("tokentext(EAX)"), ttAnsiString);
    EXPECT_EQ(cur().F_String, "EAX");

    RegMan->Registers[REG_EBX].assume = point;
    struct Case {
        const char* src;
        PVarType want;
    } cases[] = {
        {"casttype(ebx)", point},
        {"casttype(ecx)", VarMan->F_UIntType},  // no assumption: sysword
        {"casttype(R)", rect},
        {"casttype([byte] eax)", type("byte")},
        {"casttype([word] R)", type("word")},
        {"casttype(dword)", VarMan->F_UIntType},  // a bare type name has no cast
        {"casttype(foo)", VarMan->F_UIntType},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(one(c.src), ttIdent) << c.src;
        EXPECT_EQ(cur().F_IdentType, itType) << c.src;
        EXPECT_EQ(cur().F_Pointer, c.want) << c.src;
        EXPECT_EQ(cur().F_ByteCount, static_cast<int32_t>(c.want->size)) << c.src;
        EXPECT_EQ(cur().F_String, tavString(c.want->name)) << c.src;
    }
}

TEST_F(Resolve, BuiltInErrors) {
    struct Case {
        const char* src;
        const char* message;
    } cases[] = {
        {"sizeof 5", "[643434] Unexpected number 5"},
        {"sizeof(5)", "[643434] Unexpected number 5"},
        {"sizeof()", "[643434] Unexpected symbol )"},
        {"sizeof unknown", "[643434] Unexpected ident unknown"},  // no size, not its length + 1
        {"sizeof(if)", "[643434] Unexpected reserved keyword if"},
        {"sizeof(dword;", "[643435] Unexpected symbol ;"},
        {"sizeof(dword", "[643435] Unexpected EOF"},
        {"ord 'a'", "[6745] Unexpected ansi string 'a'"},
        {"ord(5)", "[542] Unexpected number 5"},
        {"ord('a';", "[6746] Unexpected symbol ;"},
        {"casttype eax", "[6745] Unexpected register eax"},
        {"casttype(5)", "[543] Unexpected number 5"},
        {"casttype(eax", "[6746] Unexpected EOF"},
        {"isptrtype dword", "[6745] Unexpected data type dword"},
        {"isptrtype(x)", "[75122] Unexpected ident x"},
        {"issignedtype(eax)", "[75122] Unexpected register eax"},
        {"isptrtype(dword]", "[6745] Unexpected symbol ]"},
        {"tokentext 1", "[6745] Unexpected number 1"},
        {"tokentext(1 2", "[6746] Unexpected number 2"},
        {"tokentype 1", "[6747] Unexpected number 1"},
        {"tokentype(1 2", "[6748] Unexpected number 2"},
    };
    for (const Case& c : cases)
        EXPECT_NE(fatalOf(c.src).find(c.message), std::string::npos) << c.src << "\n" << fatalOf(c.src);
}

TEST_F(Resolve, RegistersByBitMode) {
    struct Case {
        uint32_t bits;
        const char* word;
        TTavToken kind;
        TRegister reg;
    } cases[] = {
        {32, "eax", ttRegister, REG_EAX},  {32, "EAX", ttRegister, REG_EAX},   {32, "ax", ttRegister, REG_AX},
        {32, "bh", ttRegister, REG_BH},    {32, "rax", ttIdent, REG_EAX},      {16, "eax", ttIdent, REG_EAX},
        {16, "si", ttRegister, REG_SI},    {64, "rax", ttRegister, REG_RAX},   {64, "ebx", ttRegister, REG_EBX},
        {16, "gp_ax", ttRegister, REG_AX}, {32, "gp_ax", ttRegister, REG_EAX}, {0, "gp_ax", ttIdent, REG_EAX},
    };
    for (const Case& c : cases) {
        CompileFlags.cpu_bits = c.bits;
        ASSERT_EQ(one(c.word), c.kind) << c.word << " bits " << c.bits;
        if (c.kind == ttRegister) {
            EXPECT_EQ(cur().F_Register, c.reg) << c.word;
            EXPECT_EQ(cur().F_ByteCount, regSize(c.reg)) << c.word;
            EXPECT_EQ(cur().F_String, c.word);
        }
    }
}

TEST_F(Resolve, SegmentAndVectorRegisters) {
    EXPECT_EQ(one("cs"), ttSegment);
    EXPECT_EQ(cur().F_Segment, SEG_CS);
    EXPECT_EQ(one("GS"), ttSegment);
    EXPECT_EQ(cur().F_Segment, SEG_GS);
    struct Case {
        const char* word;
        TTavToken kind;
        int64_t value;
    } cases[] = {
        {"st", ttSTreg, 0},  {"st0", ttSTreg, 0},  {"st7", ttSTreg, 7},   {"mm", ttSTreg, 0},
        {"mm3", ttSTreg, 3}, {"xmm", ttXMMreg, 0}, {"xmm7", ttXMMreg, 7}, {"st8", ttIdent, 0},
        {"ST0", ttIdent, 0}, {"xmm9", ttIdent, 0}, {"Xmm1", ttIdent, 0},  {"st1x", ttIdent, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(one(c.word), c.kind) << c.word;
        EXPECT_EQ(cur().F_Integer, c.value) << c.word;
        if (c.kind != ttIdent) {
            EXPECT_EQ(cur().F_ByteCount, 0) << c.word;
        }
    }
}

TEST_F(Resolve, ConstantsReadAsTheirValue) {
    Consts->addConst("Ten", 10, ctValue);
    Consts->addConst("greeting", "hi", ctAnsiString);
    Consts->addConst("wide", "w", ctWideString);
    Consts->addConst("half", 0.5L, ctFloat);
    EXPECT_EQ(one("ten"), ttNumber);
    EXPECT_EQ(cur().F_Integer, 10);
    EXPECT_EQ(cur().F_String, "10");
    EXPECT_EQ(cur().F_ByteCount, 4);
    EXPECT_EQ(cur().F_IdentType, itNone);
    EXPECT_EQ(one("GREETING"), ttAnsiString);
    EXPECT_EQ(cur().F_String, "hi");
    EXPECT_EQ(one("wide"), ttWideString);
    EXPECT_EQ(one("half"), ttFloat);
    EXPECT_EQ(cur().F_Extended, 0.5L);

    PConst odd = Consts->addConstItem("odd", "odd", ctValue);
    odd->type_ = static_cast<TConstType>(9);
    EXPECT_NE(fatalOf("odd").find("[652222] Unexpected"), std::string::npos);
    Idents->addIdent(itMacroParam, "strange", nullptr);
    EXPECT_NE(fatalOf("strange").find("[1,7]: [000090] Unknown ident type in [test.tav]\nCode: \nstrange"),
              std::string::npos);
}

TEST_F(Resolve, IdentifiersNamedLikeMnemonics) {
    // Undeclared, a mnemonic keeps its reserved entry.
    ASSERT_EQ(one("Cmc"), ttIdent);
    EXPECT_EQ(cur().F_IdentType, itNone);
    ASSERT_NE(cur().F_Word, nullptr);
    EXPECT_NE(cur().F_Word->mnemonic, nullptr);
    EXPECT_EQ(cur().F_String, "Cmc");
    // Declared in any case, the identifier wins until its scope ends.
    Idents->upScope();
    Consts->addConst("CMC", 7, ctValue);
    DefMan->addDefine("Lodsb", 9);
    EXPECT_EQ(one("cmc"), ttNumber);
    EXPECT_EQ(cur().F_Integer, 7);
    EXPECT_EQ(one("LODSB"), ttNumber);
    EXPECT_EQ(cur().F_Integer, 9);
    Idents->deleteScope();
    ASSERT_EQ(one("cmc"), ttIdent);
    EXPECT_EQ(cur().F_IdentType, itNone);
    ASSERT_NE(cur().F_Word, nullptr);
    EXPECT_NE(cur().F_Word->mnemonic, nullptr);
    // A register name stays a register whatever is declared.
    Consts->addConst("ecx", 1, ctValue);
    EXPECT_EQ(one("ecx"), ttRegister);
}

TEST_F(Resolve, EveryMnemonicReadsAsItsRow) {
    // As written and in capitals: a word naming its row, with no other
    // meaning (no segment, no FPU or vector register).
    for (const TInstruction& row : instructions) {
        std::string upper(row.name);
        for (char& c : upper)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        for (const std::string& w : {std::string(row.name), upper}) {
            ASSERT_EQ(one(w), ttIdent) << w;
            EXPECT_EQ(cur().F_IdentType, itNone) << w;
            EXPECT_EQ(cur().F_Keyword, keyNone) << w;
            ASSERT_NE(cur().F_Word, nullptr) << w;
            EXPECT_EQ(cur().F_Word->mnemonic, &row) << w;
            EXPECT_EQ(cur().F_String, w);
        }
    }
}

TEST_F(Resolve, TypesAndPointerTypes) {
    ASSERT_EQ(one("DWORD"), ttIdent);
    EXPECT_EQ(cur().F_IdentType, itType);
    EXPECT_EQ(cur().F_String, "dword");
    EXPECT_EQ(cur().F_Pointer, type("dword"));
    EXPECT_EQ(cur().F_ByteCount, 4);

    const uint32_t types = VarMan->VarTypeCount();
    load("TPoint* p tpoint* q");
    ASSERT_EQ(next(), ttIdent);
    EXPECT_EQ(cur().F_String, "tpoint*");
    auto* pt = static_cast<PVarType>(cur().F_Pointer);
    ASSERT_NE(pt, nullptr);
    EXPECT_TRUE(pt->isPointer);
    EXPECT_TRUE(pt->dynSize);
    EXPECT_EQ(pt->size, 4u);
    EXPECT_EQ(pt->int_upper, 0xFFFFFFFFll);
    next();
    ASSERT_EQ(next(), ttIdent);
    EXPECT_EQ(cur().F_Pointer, pt);  // made once
    EXPECT_EQ(VarMan->VarTypeCount(), types + 1);
    load("tpoint *");  // a blank between: the type, then a symbol
    next();
    EXPECT_EQ(cur().F_Pointer, point);
}

TEST_F(Resolve, VariablesAndFieldChains) {
    ASSERT_EQ(one("r"), ttIdent);
    EXPECT_EQ(cur().F_IdentType, itGlobalVar);
    EXPECT_EQ(cur().F_Pointer, r);
    EXPECT_EQ(cur().F_ByteCount, 16);

    struct Case {
        const char* src;
        int32_t disp, bytes;
        const char* text;
    } cases[] = {
        {"R.a", 0, 8, "a"},       {"r.b.y", 12, 4, "y"},  {"r . B . X", 8, 4, "X"},
        {"r/**/.a.y", 4, 4, "y"}, {"lr.b.y", 12, 4, "y"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(one(c.src), ttIdent) << c.src;
        EXPECT_EQ(cur().F_Extra.Displacement, c.disp) << c.src;
        EXPECT_EQ(cur().F_ByteCount, c.bytes) << c.src;
        EXPECT_EQ(cur().F_String, c.text) << c.src;
        EXPECT_EQ(cur().F_Operand, nullptr) << c.src;
    }
    EXPECT_EQ(cur().F_IdentType, itLocalVar);
    EXPECT_EQ(cur().F_Pointer, lr);

    EXPECT_NE(fatalOf("r.5").find("[324] Unexpected symbol 5"), std::string::npos);
    EXPECT_NE(fatalOf("r.").find("[324] Unexpected EOF"), std::string::npos);
    EXPECT_NE(fatalOf("r.a.z").find("[12412] Unexpected ident z"), std::string::npos);
    EXPECT_NE(fatalOf("n.x").find("[12412] Unexpected ident x"), std::string::npos);
}

// An index after an array member counts its elements; after a member of
// one element it names a byte of it.
TEST_F(Resolve, IndexedMembers) {
    PVarType dw = type("dword"), wd = type("word");
    PVarType arrs = VarMan->addType("TArrs", 24, 0, 0, false, false);
    VarMan->addField(arrs, vftType, "pad", dw, 1, 0, nullptr);
    VarMan->addField(arrs, vftType, "arr", dw, 3, 4, nullptr);
    VarMan->addField(arrs, vftType, "w", wd, 2, 16, nullptr);
    VarMan->addField(arrs, vftType, "p", point, 1, 20, nullptr);
    PVarType outer = VarMan->addType("TOuter", 52, 0, 0, false, false);
    VarMan->addField(outer, vftType, "hd", dw, 1, 0, nullptr);
    VarMan->addField(outer, vftType, "items", arrs, 2, 4, nullptr);
    VarMan->addVar(vmGlobal, "ga", arrs, 1, 0);
    VarMan->addVar(vmLocal, "la", outer, 1, 60);
    RegMan->Registers[REG_ESI].assume = arrs;
    struct Case {
        const char* src;
        TTavToken kind;
        int32_t disp, bytes;
    } cases[] = {
        {"ga.arr[0]", ttIdent, 4, 4},
        {"ga.arr[1]", ttIdent, 8, 4},
        {"ga.arr [ 2 ]", ttIdent, 12, 4},
        {"ga.w[1]", ttIdent, 18, 2},
        {"ga.pad[1]", ttIdent, 1, 1},
        {"ga.pad[3]", ttIdent, 3, 1},
        {"ga.arr[2][3]", ttIdent, 15, 1},
        {"ga.w[1][1]", ttIdent, 19, 1},
        {"ga.pad[2][0]", ttIdent, 2, 1},
        {"la.items[1].arr[2]", ttIdent, 4 + 24 + 4 + 8, 4},
        {"la.items[1].w[1]", ttIdent, 4 + 24 + 18, 2},
        {"esi.arr[2]", ttBaseExp, 12, 4},
        {"esi.w[1]", ttBaseExp, 18, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        ASSERT_EQ(one(c.src), c.kind);
        EXPECT_EQ(cur().F_Extra.Displacement, c.disp);
        EXPECT_EQ(cur().F_ByteCount, c.bytes);
    }
    // a peek reads the index as a plain read does
    TAFile* f = load("ga.arr[1] ;");
    EXPECT_EQ(f->peekNextToken(), ttIdent);
    f->moveLastPeek();
    EXPECT_EQ(cur().F_Extra.Displacement, 8);
    EXPECT_EQ(cur().F_ByteCount, 4);
    EXPECT_EQ(next(), ttSymbol);
    EXPECT_EQ(cur().F_String, ";");

    EXPECT_NE(fatalOf("ga.arr[3]").find("[5322] Array out of bounds"), std::string::npos);
    EXPECT_NE(fatalOf("ga.arr[-1]").find("[5322] Array out of bounds"), std::string::npos);
    EXPECT_NE(fatalOf("ga.w[2]").find("[5322] Array out of bounds"), std::string::npos);
    EXPECT_NE(fatalOf("esi.arr[3]").find("[5322] Array out of bounds"), std::string::npos);
    EXPECT_NE(fatalOf("ga.pad[4]").find("[6523] offset invalid"), std::string::npos);
    EXPECT_NE(fatalOf("ga.arr[1][4]").find("[6523] offset invalid"), std::string::npos);
    EXPECT_NE(fatalOf("ga.pad[1][1]").find("[6523] offset invalid"), std::string::npos);
    EXPECT_NE(fatalOf("ga.arr[eax]").find("[65412] Unexpected"), std::string::npos);
    EXPECT_NE(fatalOf("ga.arr[1;").find("[2344] Unexpected"), std::string::npos);
}

TEST_F(Resolve, FieldNamesAreNeverResolved) {
    // Fields named like a constant, a macro, a variable and a register.
    Consts->addConst("x", 5, ctValue);
    MacMan->newMacro("y", mtFunc);
    VarMan->addVar(vmGlobal, "a", point, 1, 0);
    ASSERT_EQ(one("r.b.x"), ttIdent);
    EXPECT_EQ(cur().F_Extra.Displacement, 8);
    ASSERT_EQ(one("r.a.y"), ttIdent);
    EXPECT_EQ(cur().F_Extra.Displacement, 4);
    ASSERT_EQ(one("r.a"), ttIdent);
    EXPECT_EQ(cur().F_Pointer, r);
    // The same after a register with an assumed type.
    RegMan->Registers[REG_EBX].assume = rect;
    ASSERT_EQ(one("ebx.b.x"), ttBaseExp);
    EXPECT_EQ(cur().F_Extra.Displacement, 8);
    ASSERT_EQ(one("ebx.a.y"), ttBaseExp);
    EXPECT_EQ(cur().F_Extra.Displacement, 4);
}

TEST_F(Resolve, MethodCallsPassTheOuterObject) {
    ASSERT_EQ(one("r.b.len"), ttIdent);
    EXPECT_EQ(cur().F_IdentType, itFuncThis);
    EXPECT_EQ(cur().F_Pointer, len);
    ASSERT_NE(cur().F_Operand, nullptr);
    EXPECT_EQ(cur().F_Operand->hint, otVarRef);
    EXPECT_EQ(cur().F_Operand->data, r);
    EXPECT_EQ(cur().F_Operand->displacement, 8);
    EXPECT_EQ(cur().F_Operand->ptr, Compiler->F_CurFunc);
    EXPECT_TRUE(r->active);

    ASSERT_EQ(one("r.clear"), ttIdent);
    EXPECT_EQ(cur().F_IdentType, itProcThis);
    EXPECT_EQ(cur().F_Operand->displacement, 0);

    ASSERT_EQ(one("lr.b.len"), ttIdent);
    POperand op = cur().F_Operand;
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->hint, otMemRef);
    EXPECT_EQ(op->reg_count, 1);
    EXPECT_EQ(op->reg_base, REG_EBP);
    EXPECT_EQ(op->displacement, 20 + 4 + 8);
    EXPECT_TRUE(lr->active);

    CompileFlags.stackframe_on = 0;
    Compiler->F_CurFunc->LocalOffset = 12;
    ASSERT_EQ(one("lr.a.len"), ttIdent);
    EXPECT_EQ(cur().F_Operand->reg_base, REG_ESP);
    EXPECT_EQ(cur().F_Operand->displacement, 20 + 12 + 0);
    CompileFlags.stackframe_on = 1;
}

TEST_F(Resolve, RegisterFieldChains) {
    RegMan->Registers[REG_EBX].assume = rect;
    ASSERT_EQ(one("ebx.b.y"), ttBaseExp);
    EXPECT_EQ(cur().F_Register, REG_EBX);
    EXPECT_EQ(cur().F_Count, 1);
    EXPECT_EQ(cur().F_Extra.Displacement, 12);
    EXPECT_EQ(cur().F_ByteCount, 4);
    EXPECT_EQ(cur().F_String, "ebx.b.y");
    EXPECT_EQ(cur().F_Pointer, nullptr);

    ASSERT_EQ(one("EBX.clear"), ttIdent);
    EXPECT_EQ(cur().F_IdentType, itProcThis);
    EXPECT_EQ(cur().F_Pointer, clear);
    ASSERT_NE(cur().F_Operand, nullptr);
    EXPECT_EQ(cur().F_Operand->hint, otRegister);
    EXPECT_EQ(cur().F_Operand->reg_base, REG_EBX);

    load("ebx .a");  // a blank before the dot: no chain
    EXPECT_EQ(next(), ttRegister);
    EXPECT_EQ(next(), ttSymbol);
    load("ecx.a");  // no assumed type
    EXPECT_EQ(next(), ttRegister);

    EXPECT_NE(fatalOf("ebx.5").find("[3244] Unexpected symbol 5"), std::string::npos);
    EXPECT_NE(fatalOf("ebx.a.q").find("[12422] Unexpected ident q"), std::string::npos);
}

TEST_F(Resolve, DefinesReadAsTheirToken) {
    DefMan->addDefine("Five", 5);
    ASSERT_EQ(one("FIVE"), ttNumber);
    EXPECT_EQ(cur().F_Integer, 5);
    EXPECT_EQ(cur().F_DefName, "Five");
}

namespace {
int g_Expansions = 0;
void fakeExpansion(TMacro* m) {
    ++g_Expansions;
    if (m->result) m->result->setInteger(4, "42", 42);
}
}  // namespace

TEST_F(Resolve, MacrosExpandUnlessPeeking) {
    TMacro* m = MacMan->newMacro("Twice", mtFunc);
    MacroCallHandler = fakeExpansion;
    g_Expansions = 0;
    load("twice");
    ASSERT_EQ(file()->peekNextToken(), ttIdent);
    EXPECT_EQ(peek().F_IdentType, itMacro);
    EXPECT_EQ(peek().F_Pointer, m);
    EXPECT_EQ(g_Expansions, 0);
    ASSERT_EQ(next(), ttNumber);
    EXPECT_EQ(cur().F_Integer, 42);
    EXPECT_EQ(g_Expansions, 1);

    MacMan->newMacro("stmt", mtProc);
    ASSERT_EQ(one("stmt"), ttSymbol);
    EXPECT_EQ(cur().F_String, ";");

    MacroCallHandler = nullptr;
    EXPECT_NE(fatalOf("twice").find("[000091] Macro calls are not supported yet"), std::string::npos);
}

TEST_F(Resolve, AnInnerPeekKeepsTheOuterPeekMode) {
    // Peeking "[dword] twice" peeks "dword" inside, and "dword" peeks what
    // follows it; the macro after the cast is still read in peek mode.
    MacMan->newMacro("twice", mtFunc);
    MacroCallHandler = fakeExpansion;
    g_Expansions = 0;
    load("[dword] twice");
    ASSERT_EQ(file()->peekNextToken(), ttIdent);
    EXPECT_EQ(peek().F_IdentType, itMacro);
    EXPECT_EQ(peek().F_CastType, type("dword"));
    EXPECT_EQ(g_Expansions, 0);
    EXPECT_EQ(CompileFlags.peek_mode, 0);
    ASSERT_EQ(next(), ttNumber);  // the plain read expands it
    EXPECT_EQ(cur().F_CastType, type("dword"));
    EXPECT_EQ(g_Expansions, 1);

    // A fatal error inside a peek leaves peek mode off.
    load("[eax+ebx+ecx]");
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(file()->peekNextToken(), EAbort);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(CompileFlags.peek_mode, 0);
}

TEST_F(Resolve, PeekThenCommitEqualsAPlainRead) {
    // Words that read on: built-ins, field chains, pointer types, casts.
    RegMan->Registers[REG_EBX].assume = rect;
    const char* texts[] = {
        "r.b.y ;",       "r\n .\n b . x ;", "ebx.b.y ;",           "EBX.clear ;",
        "lr.b.len ;",    "sizeof dword ;",  "ord('AB') ;",         "casttype(r) ;",
        "tpoint* x",     "tpoint*\nx",      "isptrtype(dword*) ;", "tokentype([eax]) ;",
        "[dword] r.b ;", "word [ebx+4] ;",  "tokentext(r) ;",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        TAFile* f = load(text);
        const TTavToken kind = f->peekNextToken();
        EXPECT_EQ(f->CurChar, 0u);
        f->moveLastPeek();
        TCurrentToken peeked;
        peeked.setCurToken(cur());
        const uint32_t pos = f->CurChar, line = f->CurLine, col = f->CurLineChar, total = f->F_TotalLines;

        TAFile* g = load(text);
        EXPECT_EQ(g->moveNextToken(), kind);
        EXPECT_EQ(g->CurChar, pos);
        EXPECT_EQ(g->CurLine, line);
        EXPECT_EQ(g->CurLineChar, col);
        EXPECT_EQ(g->F_TotalLines, total);
        EXPECT_EQ(cur().F_String, peeked.F_String);
        EXPECT_EQ(cur().F_Pointer, peeked.F_Pointer);
        EXPECT_EQ(cur().F_ByteCount, peeked.F_ByteCount);
        EXPECT_EQ(cur().F_Integer, peeked.F_Integer);
        EXPECT_EQ(cur().F_IdentType, peeked.F_IdentType);
        EXPECT_EQ(cur().F_CastType, peeked.F_CastType);
        EXPECT_EQ(cur().F_Extra.Displacement, peeked.F_Extra.Displacement);
    }
}
