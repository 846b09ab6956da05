// Procedures, functions, methods, declarations, entry, uses, imports and
// exports, compiled from source text.
#include "procedure_env.h"

namespace {

using Proc = ProcEnv;

const std::string kNops = "90 90 90 90 90 90";
const std::string kPrologue = "55 8B EC " + kNops;

TEST_F(Proc, ProcedureWithParametersAndItsCall) {
    ok("procedure add2(dword a, b) { mov eax, a; add eax, b; }\nadd2(1, 2);\n");
    PFunction f = func("add2");
    ASSERT_TRUE(f);
    EXPECT_EQ(hex(f), kPrologue + " 8B 45 08 03 45 0C C9 C2 08 00");
    EXPECT_EQ(fixups(f), (std::vector<Fix>{{ftLocals, 3, 0}}));
    EXPECT_EQ(f->Type_, ltProc);
    EXPECT_EQ(f->ParamCount, 2u);
    EXPECT_EQ(f->ParamSize, 8u);
    EXPECT_EQ(f->DeclareOnly, 0);
    EXPECT_TRUE(f->IsCalled);
    EXPECT_EQ(hex(main()), "6A 02 6A 01 E8 00 00 00 00 C3");
    EXPECT_EQ(fixups(main()), (std::vector<Fix>{{ftLabel, 5, f->FuncIndex}}));
}

TEST_F(Proc, ParametersTakeWholeWordSlots) {
    ok("procedure p(byte a; word b) { mov al, a; mov bx, b; }");
    PFunction f = func("p");
    EXPECT_EQ(hex(f), kPrologue + " 8A 45 08 66 8B 5D 0C C9 C2 08 00");
    EXPECT_EQ(f->ParamCount, 2u);
    EXPECT_EQ(f->ParamSize, 8u);
}

namespace bodies_and_their_closing_ret_rows {
struct Case {
    const char* src;
    const char* name;
    std::string code;
};
const Case cases[] = {
    {"procedure p { nop; }", "p", kPrologue + " 90 C9 C3"},
    {"procedure stdcall p { }", "p", kPrologue + " C9 C3"},
    {"function f(dword a) { mov eax, a; }", "f", kPrologue + " 8B 45 08 C9 C2 04 00"},
    // a body ending in ret gets no second one
    {"procedure p(dword a) { retn; }", "p", kPrologue + " C9 C3"},
    // code after a label is reached: the closing ret stays
    {"procedure p { retn; l1: }", "p", kPrologue + " C9 C3 C9 C3"},
    // the inner body's ret is its own: the outer one still gets one
    {"procedure p { procedure inner { } }", "p", kPrologue + " C9 C3"},
};
}  // namespace bodies_and_their_closing_ret_rows

TAVIK_TABLE(Proc, BodiesAndTheirClosingRet, bodies_and_their_closing_ret_rows, src);

TEST_P(BodiesAndTheirClosingRet, Row) {
    using namespace bodies_and_their_closing_ret_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.src);
    ok(c.src);
    EXPECT_EQ(code(c.name), c.code);
}

TEST_F(Proc, ProcedureHoldingAnotherIsAProcedure) {
    ok("procedure p { procedure inner { } }");
    EXPECT_EQ(func("p")->Type_, ltProc);
}

TEST_F(Proc, FunctionKind) {
    ok("function f { }");
    EXPECT_EQ(func("f")->Type_, ltFunc);
    PIdent id = Idents->findIdent("F");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->type_, itFunc);
}

TEST_F(Proc, NestedDefinitionHasItsOwnCodeAndScope) {
    ok("procedure outer(dword a) { procedure inner(dword b) { mov eax, b; } inner(a); }\n");
    EXPECT_EQ(code("inner"), kPrologue + " 8B 45 08 C9 C2 04 00");
    EXPECT_EQ(code("outer"), kPrologue + " FF 75 08 E8 00 00 00 00 C9 C2 04 00");
    // the inner name belonged to the outer body's scope
    EXPECT_EQ(Idents->findIdent("inner"), nullptr);
    EXPECT_NE(Idents->findIdent("outer"), nullptr);
    EXPECT_EQ(Idents->findIdent("a"), nullptr);
}

// A nested body has its own frame: the enclosing procedure's locals and
// parameters are out of its reach, wherever they are named.
const std::string kOuter = "procedure outer(dword a) { dword x; procedure* lf(); block B { procedure m(); } B t;\n";

struct InnerBodyRow {
    const char* name;
    const char* body;
};
using NestedBodyCannotReachTheEnclosingFrame = tavtest::Table<Proc, InnerBodyRow>;

TEST_P(NestedBodyCannotReachTheEnclosingFrame, Refused) {
    const InnerBodyRow& c = GetParam();
    fails(kOuter + "procedure inner { " + c.body + " } }",
          "is a local of an enclosing procedure, out of reach in inner");
    EXPECT_EQ(code("inner"), kPrologue);  // refused before its code
}

INSTANTIATE_TEST_SUITE_P(
    Proc, NestedBodyCannotReachTheEnclosingFrame,
    ::testing::Values(InnerBodyRow{"InstructionOperand", "mov x, eax;"}, InnerBodyRow{"Parameter", "mov eax, a;"},
                      InnerBodyRow{"Address", "push @x;"}, InnerBodyRow{"OperatorStatement", "x = 5;"},
                      InnerBodyRow{"CallThroughTheFrameSlot", "lf();"}, InnerBodyRow{"FrameSlotAssigned", "lf = eax;"},
                      InnerBodyRow{"ObjectOfAMethodCall", "t.m();"}),
    tavtest::RowName());

// the inner body's own names, one shadowing a name of the enclosing body
TEST_F(Proc, NestedBodyReachesItsOwnNames) {
    ok("procedure outer(dword a) { dword x;\n"
       "  procedure inner(dword x) { dword y; mov eax, x; mov y, eax; }\n"
       "  mov x, eax; }");
    EXPECT_EQ(code("inner"), kPrologue + " 8B 45 08 89 45 FC 83 C4 04 C9 C2 04 00");
    EXPECT_EQ(code("outer"), kPrologue + " 89 45 FC 83 C4 04 C9 C2 04 00");
}

// Every body is a nested statement loop: a clear error, never a stack overflow.
std::string nestedBodies(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "procedure p" + std::to_string(i) + " { ";
    return s + std::string(static_cast<size_t>(n), '}');
}

TEST_F(Proc, NestingUpToTheLimitIsRead) {
    ok(nestedBodies(499));
    EXPECT_EQ(code("p498"), kPrologue + " C9 C3");
}

TEST_F(Proc, NestingOneBeyondTheLimitIsRefused) { fails(nestedBodies(500), "[9903] Statements nested too deeply"); }

TEST_F(Proc, NestingFarBeyondTheLimitIsRefused) { fails(nestedBodies(100000), "[9903] Statements nested too deeply"); }

TEST_F(Proc, RecursionSeesItsOwnName) {
    ok("procedure r(dword n) { r(n); }");
    EXPECT_EQ(code("r"), kPrologue + " FF 75 08 E8 00 00 00 00 C9 C2 04 00");
    EXPECT_EQ(fixups(func("r"))[1], (Fix{ftLabel, 13, func("r")->FuncIndex}));
}

TEST_F(Proc, PointerParameterTypes) {
    ok("procedure p(dword a, b; char* s; char* t) { mov eax, s; }");
    PFunction p = func("p");
    ASSERT_EQ(p->ParamCount, 4u);
    EXPECT_EQ(p->Params[0].type_, p->Params[1].type_);
    PVarType cp = p->Params[2].type_;
    ASSERT_TRUE(cp);
    EXPECT_EQ(tavString(cp->name), "char*");
    EXPECT_TRUE(cp->isPointer);
    EXPECT_TRUE(cp->dynSize);
    EXPECT_EQ(cp->size, 4u);
    EXPECT_EQ(cp->int_upper, 4294967295LL);
    EXPECT_EQ(p->Params[3].type_, cp);  // found again
    EXPECT_EQ(code("p"), kPrologue + " 8B 45 10 C9 C2 10 00");
}

namespace definition_errors_rows {
using Case = ProcEnv::FailRow;
const Case cases[] = {
    // a definition needs its body: refused at the ";", not as a missing "("
    {"procedure p();", "]: Unexpected symbol ;"},
    {"procedure p nop", "[4533] Unexpected"},
    {"procedure 5 { }", "Unexpected"},
    {"procedure if { }", "Unexpected"},
    {"procedure stdcall if { }", "redeclared"},
    {"procedure p { } procedure p { }", "p redeclared"},
    {"procedure dword2(dword a; x b) { }", "Unexpected"},
    {"procedure p(dword 5) { }", "Unexpected"},
    {"procedure p(dword a: dword b) { }", "Unexpected"},
    {"procedure p(dword a) nop", "Unexpected"},
};
}  // namespace definition_errors_rows

TAVIK_TABLE(Proc, DefinitionErrors, definition_errors_rows, src);

TEST_P(DefinitionErrors, Row) { fails(GetParam()); }

// A block type with a method m and a data member d, as the block statement
// leaves it: the method declared, without a body.
class ProcMethod : public ProcEnv {
protected:
    void SetUp() override {
        ProcEnv::SetUp();
        proc_test::onStart = [this] {
            T = VarMan->addType("TObj", 8, int64_t(0), int64_t(0), false, false);
            m = FuncMan->CreateFunction(ltProc, nullptr);
            tavAssign(m->Name, "m");
            m->DeclareOnly = 1;
            VarMan->addField(T, vftType, "d", VarMan->getVarType(6), 1, 0, nullptr);
            VarMan->addField(T, vftFunc, "m", nullptr, 1, 0, m);
            VarMan->addVar(vmGlobal, "obj", T, 1, 0);
        };
    }
    PVarType T = nullptr;
    PFunction m = nullptr;
};

// The method's owner and name apart with "." or ":".
using MethodDefinitionAddsThisFirst = tavtest::Table<ProcMethod, const char*>;

TEST_P(MethodDefinitionAddsThisFirst, WithEitherSeparator) {
    ok(std::string("procedure TObj") + GetParam() + "m(dword x) { mov eax, this; mov ecx, x; }");
    EXPECT_EQ(m->ParamCount, 2u);
    EXPECT_EQ(m->ParamSize, 8u);
    EXPECT_EQ(m->DeclareOnly, 0);
    EXPECT_EQ(tavString(m->Params[0].name), "this");
    EXPECT_EQ(m->Params[0].type_, VarMan->F_PtrType);
    EXPECT_EQ(hex(m), kPrologue + " 8B 45 08 8B 4D 0C C9 C2 08 00");
    EXPECT_EQ(Idents->findIdent("this"), nullptr);  // gone with the body's scope
}

INSTANTIATE_TEST_SUITE_P(ProcMethod, MethodDefinitionAddsThisFirst, ::testing::Values(".", ":"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(*info.param == '.' ? "Dot" : "Colon");
                         });

TEST_F(ProcMethod, CallPushesTheObjectLast) {
    ok("procedure TObj.m(dword x) { }\nobj.m(5);\n");
    EXPECT_EQ(hex(main()), "6A 05 68 00 00 00 00 E8 00 00 00 00 C3");
    auto fx = fixups(main());
    ASSERT_EQ(fx.size(), 2u);
    EXPECT_EQ(fx[0].hint, ftVar);
    EXPECT_EQ(fx[0].position, 3u);
    EXPECT_EQ(fx[1], (Fix{ftLabel, 8, m->FuncIndex}));
}

TEST_F(ProcMethod, CallBeforeTheDefinitionHasNoRoomForArguments) { fails("obj.m(5);", "[6311] Too many parameters"); }

namespace errors_rows {
using Case = ProcEnv::FailRow;
const Case cases[] = {
    {"procedure TObj m() { }", "[46645] Unexpected"},
    {"procedure TObj.5() { }", "[3445334] Unexpected"},
    {"procedure TObj.zz() { }", "[35353] The var type \"TObj\" does not have a method \"zz\""},
    {"procedure TObj.d() { }", "[35354] TObj member \"d\" is not a method"},
    {"procedure TObj.m() { }\nprocedure TObj:m() { }",
     "[35355] TObj:m has already been declared or is not a valid method"},
};
}  // namespace errors_rows

TAVIK_TABLE(ProcMethod, Errors, errors_rows, src);

TEST_P(Errors, Row) { fails(GetParam()); }

TEST_F(Proc, FunctionPointerAtTheTopLevel) {
    ok("procedure* fp(dword x);\nfp(1);\n");
    PFunction f = func("fp");
    ASSERT_TRUE(f);
    PVar v = var("fp$");
    ASSERT_TRUE(v);
    EXPECT_EQ(f->CallData, v);
    EXPECT_EQ(v->mode, vmGlobal);
    EXPECT_EQ(v->address, 0u);
    EXPECT_EQ(v->type_, VarMan->F_PtrType);
    EXPECT_TRUE(v->active);
    EXPECT_EQ(f->ParamCount, 1u);
    EXPECT_EQ(hex(main()), "6A 01 FF 15 00 00 00 00 C3");
    auto fx = fixups(main());
    ASSERT_EQ(fx.size(), 1u);
    EXPECT_EQ(fx[0].hint, ftVar);
    EXPECT_EQ(fx[0].position, 4u);
    EXPECT_EQ(main()->FixupList->items[0]->data, v);
}

TEST_F(Proc, LocalFunctionPointerIsCalledThroughItsFrameSlot) {
    ok("procedure p { procedure* lf(dword x); uses ebx; lf(7); }");
    PFunction p = func("p");
    PVar v = var("lf$");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->mode, vmLocal);
    EXPECT_EQ(static_cast<int32_t>(v->address), -8);
    EXPECT_EQ(p->LocalSize, 4u);
    EXPECT_EQ(p->LocalCount, 1u);
    // the saved register comes back before the locals are released
    EXPECT_EQ(hex(p), kPrologue + " 53 6A 07 FF 55 FC 5B 83 C4 04 C9 C3");
}

TEST_F(Proc, DeclarationsInsideImports) {
    ok("imports('kernel32.dll') {\n"
       "  // comment\n"
       "  procedure Sleep(dword ms);\n"
       "  procedure Pause = Sleep(dword ms);\n"
       "  function stdcall GetTickCount(): dword;\n"
       "  procedure ExitProcess(dword code); stdcall;\n"
       "}\n"
       "imports('kernel32.dll') { procedure Beep(dword f, d); }\n"
       "imports('KERNEL32.dll') { procedure* Other(); }\n"
       "Pause(5);\n");
    PFunction sl = func("Sleep"), pa = func("Pause"), gt = func("GetTickCount"), be = func("Beep");
    ASSERT_TRUE(sl && pa && gt && be);
    EXPECT_EQ(sl->DLLIndex, 0);
    EXPECT_EQ(be->DLLIndex, 0);
    EXPECT_EQ(func("Other")->DLLIndex, 1);
    EXPECT_EQ(Imports->Count(), 2u);
    EXPECT_EQ(tavString(pa->ImportName), "Sleep");
    EXPECT_EQ(tavString(pa->Name), "Pause");
    EXPECT_EQ(pa->ParamCount, 1u);
    EXPECT_EQ(pa->ParamSize, 4u);
    EXPECT_EQ(pa->Type_, ltProc);
    EXPECT_EQ(gt->Type_, ltFunc);
    EXPECT_EQ(gt->RetVarType, VarMan->getVarType(6));
    EXPECT_EQ(be->ParamCount, 2u);
    // a declaration makes no variables
    EXPECT_EQ(var("ms"), nullptr);
    // the last "sleep" identifier names Pause: both names lead to it
    PIdent id = Idents->findIdent("sleep");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->ptr, pa);
    EXPECT_EQ(Idents->findIdent("pause")->ptr, pa);
    EXPECT_NE(out.find("Declaration depreciated, correct syntax: procedure stdcall ExitProcess(..."), std::string::npos)
        << out;
    // only what is called joins its library's list
    PImports lib = Imports->getLib(0);
    ASSERT_EQ(lib->funcs->items.size(), 1u);
    EXPECT_EQ(lib->funcs->items[0], pa);
    EXPECT_EQ(hex(main()), "6A 05 E8 00 00 00 00 C3");
}

TEST_F(Proc, DeclarationTakesThePlainPointerTypeAndMakesNoVariables) {
    ok("procedure* d(char* s; dword n);\nprocedure e(char* t) { }\n");
    PFunction d = func("d");
    ASSERT_EQ(d->ParamCount, 2u);
    EXPECT_EQ(d->Params[0].type_, VarMan->F_PtrType);
    EXPECT_EQ(d->ParamSize, 8u);
    EXPECT_EQ(d->DLLIndex, -1);
    EXPECT_EQ(var("s"), nullptr);
    EXPECT_EQ(var("n"), nullptr);
    // a definition's "char*" is a type of its own
    PVarType t = func("e")->Params[0].type_;
    ASSERT_TRUE(t);
    EXPECT_NE(t, VarMan->F_PtrType);
    EXPECT_EQ(tavString(t->name), "char*");
}

TEST_F(Proc, ImportNameKeepsItsCaseWhenAlreadyDeclared) {
    ok("imports('kernel32.dll') { procedure Sleep(dword ms); procedure Nap = Sleep(dword ms); }");
    EXPECT_EQ(tavString(func("Nap")->ImportName), "Sleep");
}

namespace declaration_errors_rows {
using Case = ProcEnv::FailRow;
const Case cases[] = {
    {"procedure* 5();", "Unexpected"},
    {"procedure* if();", "Unexpected"},
    {"procedure* stdcall if();", "redeclared"},
    {"procedure* stdcall dword();", "redeclared"},
    {"procedure* p(); procedure* p();", "p redeclared"},
    {"procedure* p = 5;", "Unexpected"},
    {"function* f();", "Unexpected"},
    {"function* f(): 5;", "Unexpected"},
    {"procedure* p() nop", "Unexpected"},
    {"procedure* p(); stdcall nop", "Unexpected"},
    {"imports 'a.dll' { }", "Unexpected"},
    {"imports(a) { }", "Unexpected"},
    {"imports('a.dll' { }", "Unexpected"},
    {"imports('a.dll') procedure", "Unexpected"},
    {"imports('a.dll') { nop; }", "Unexpected"},
    {"imports('') { procedure p(); }", "[46545] Import library without a name"},
    {"imports('d\xC3\xA4tlib.dll') { procedure p(); }",
     "[2,22]: [46546] Import library name \"d\xC3\xA4tlib.dll\" is not supported: library names in ASCII only"},
    {"imports('\x80.dll') { }", "[46546] Import library name \"\x80.dll\""},
};
}  // namespace declaration_errors_rows

TAVIK_TABLE(Proc, DeclarationErrors, declaration_errors_rows, src);

TEST_P(DeclarationErrors, Row) { fails(GetParam()); }

TEST_F(Proc, EntryForms) {
    ok("nop;\nentry:\nnop;\n");
    PFunction lbl = FuncMan->getFunc(CompileFlags.entry_funcid);
    ASSERT_TRUE(lbl);
    EXPECT_EQ(lbl->Type_, ltLabel);
    EXPECT_EQ(lbl->Parent, main());
    EXPECT_EQ(lbl->Address, 1u);
    EXPECT_TRUE(lbl->IsCalled);
    EXPECT_EQ(tavString(lbl->Name), "entry");
    EXPECT_EQ(tavString(lbl->ImportName), "entry");
}

TEST_F(Proc, EntryOfTheLaterStatementWins) {
    ok("procedure first { }\nprocedure start { }\nentry first;\nentry start;\n");
    EXPECT_EQ(CompileFlags.entry_funcid, func("start")->FuncIndex);  // the later one wins
    EXPECT_TRUE(func("start")->IsCalled);
}

TEST_F(Proc, EntryBeforeADefinition) {
    ok("entry function main2(dword a) { }\nnop;\n");
    PFunction m = func("main2");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->Type_, ltFunc);
    EXPECT_EQ(CompileFlags.entry_funcid, m->FuncIndex);
    EXPECT_TRUE(m->IsCalled);
    EXPECT_EQ(hex(main()), "90 C3");
}

namespace entry_errors_rows {
using Case = ProcEnv::FailRow;
const Case cases[] = {
    {"entry if", "[64343] Unexpected"},
    {"entry 5;", "[643534] Unexpected"},
    {"entry nothing;", "[643534] Unexpected"},
    {"procedure p { } entry p nop", "[453] Unexpected"},
};
}  // namespace entry_errors_rows

TAVIK_TABLE(Proc, EntryErrors, entry_errors_rows, src);

TEST_P(EntryErrors, Row) { fails(GetParam()); }

TEST_F(Proc, UsesSavesAndEveryRetRestores) {
    ok("procedure p { uses eax ebx; nop; }\nprocedure q { uses esi, edi; retn; }\n");
    PFunction p = func("p");
    EXPECT_EQ(hex(p), kPrologue + " 50 53 90 5B 58 C9 C3");
    ASSERT_EQ(p->UsesList->items.size(), 2u);
    EXPECT_EQ(p->UsesList->items[0], "eax");
    EXPECT_EQ(p->UsesList->items[1], "ebx");
    EXPECT_EQ(code("q"), kPrologue + " 56 57 5F 5E C9 C3");
}

TEST_F(Proc, UsesOfANumberIsRefused) { fails("procedure p { uses 5; }", "[423] Unexpected"); }

TEST_F(Proc, UsesWithoutACommaIsRefused) { fails("procedure p { uses eax 5; }", "[421] Unexpected"); }

TEST_F(Proc, UsesOfANumberAfterARegisterIsRefused) { fails("procedure p { uses eax, 5; }", "[423] Unexpected"); }

TEST_F(Proc, ExportsMarkExportedAndCalled) {
    ok("procedure a { }\nfunction b { }\nprocedure c { }\nexports a, b;\n");
    EXPECT_TRUE(func("a")->IsExported && func("a")->IsCalled);
    EXPECT_TRUE(func("b")->IsExported && func("b")->IsCalled);
    EXPECT_FALSE(func("c")->IsExported || func("c")->IsCalled);
}

namespace exports_errors_rows {
using Case = ProcEnv::FailRow;
const Case cases[] = {
    {"exports 5;", "[46542] Unexpected"},
    {"exports nothing;", "[46542] Unexpected"},
    {"procedure a { } exports a, 5;", "[46543] Unexpected"},
    {"procedure a { } exports a b;", "[42343] Unexpected"},
};
}  // namespace exports_errors_rows

TAVIK_TABLE(Proc, ExportsErrors, exports_errors_rows, src);

TEST_P(ExportsErrors, Row) { fails(GetParam()); }

// The 16-bit ordinals hold 65,535 exports; one exported twice counts once.
TEST_F(Proc, ExportsUpToTheOrdinalLimit) {
    proc_test::onStart = [] { FuncMan->ExportedCount = 65533; };
    ok("procedure a { }\nprocedure b { }\nexports a, a;\nexports b, a;\n");
    EXPECT_EQ(FuncMan->ExportedCount, 65535u);
}

TEST_F(Proc, ExportsBeyondTheOrdinalLimitAreRefused) {
    proc_test::onStart = [] { FuncMan->ExportedCount = 65534; };
    fails("procedure a { }\nprocedure b { }\nexports a, b;", "[46544] Too many exports: 65535 at most");
    EXPECT_FALSE(func("b")->IsExported);
}

// Without the frame, parameters are reached through ESP and the push depth.
class ProcNoFrame : public ProcEnv {
protected:
    void SetUp() override {
        ProcEnv::SetUp();
        CompileFlags.stackframe_on = 0;
    }
};

TEST_F(ProcNoFrame, ParametersFollowThePushDepth) {
    ok("procedure p(dword a) { uses ebx; mov eax, a; }");
    EXPECT_EQ(code("p"), kNops + " 53 8B 44 24 08 5B C2 04 00");
    EXPECT_EQ(fixups(func("p")), (std::vector<Fix>{{ftLocals, 0, 0}}));
}

TEST_F(ProcNoFrame, LocalsAreRefused) {
    fails("procedure p { procedure* lf(); }", "[6391] Local function pointer lf needs the stack frame");
}

}  // namespace

namespace {

TEST_F(Proc, LocalsWithUses) {
    ok("procedure p(dword a) { dword x; uses ebx; mov x, eax; mov ebx, a; }");
    PFunction p = func("p");
    EXPECT_EQ(p->LocalCount, 1u);
    EXPECT_EQ(p->LocalSize, 4u);
    // ebx comes back before the locals are released
    EXPECT_EQ(hex(p), kPrologue + " 53 89 45 FC 8B 5D 08 5B 83 C4 04 C9 C2 04 00");
}

namespace frame_mode_stays_for_the_whole_body_rows {
struct Case {
    const char* src;
    const char* text;  // empty: compiles
};
const Case cases[] = {
    // a local would be stored below the stack pointer
    {"procedure p { dword x; #set frame 0; mov x, eax; #set frame 1; }",
     "[6392] The frame mode cannot change inside p"},
    // prologue without leave, or leave without prologue
    {"procedure p { #set frame 0; }", "[6392] The frame mode cannot change inside p"},
    {"#set frame 0;\nprocedure q(dword a) { #set frame 1; mov eax, a; }",
     "[6392] The frame mode cannot change inside q"},
    // 16-bit code has the frame, but the bit mode itself stays
    {"#set frame 0;\nprocedure q { #set bits 16; }", "[6395] The bit mode cannot change inside q"},
    {"procedure p(dword a) { #set bits 16; mov ax, a; }", "[6395] The bit mode cannot change inside p"},
    {"procedure p { procedure inner { #set frame 0; } }", "[6392] The frame mode cannot change inside inner"},
    // the same mode again, or a change between bodies, is fine
    {"procedure p { #set frame 1; nop; }", ""},
    {"#set frame 0;\nprocedure q { #set frame 0; nop; }\n#set frame 1;\nprocedure p { }", ""},
};
}  // namespace frame_mode_stays_for_the_whole_body_rows

TAVIK_TABLE(Proc, FrameModeStaysForTheWholeBody, frame_mode_stays_for_the_whole_body_rows, src);

TEST_P(FrameModeStaysForTheWholeBody, Row) {
    using namespace frame_mode_stays_for_the_whole_body_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.src);
    if (*c.text) fails(c.src, c.text);
    else ok(c.src);
}

TEST_F(Proc, FrameModeChangesBetweenBodies) {
    ok("#set frame 0;\nprocedure q { #set frame 0; nop; }\n#set frame 1;\nprocedure p { }");
    EXPECT_EQ(code("q"), kNops + " 90 C3");
    EXPECT_EQ(code("p"), kPrologue + " C9 C3");
}

TEST_F(Proc, FrameOffFromSource) {
    ok("#set frame 0;\nprocedure p(dword a) { uses ebx; mov eax, a; }\n");
    EXPECT_EQ(code("p"), kNops + " 53 8B 44 24 08 5B C2 04 00");
}

TEST_F(Proc, FrameOffFromSourceRefusesLocals) {
    fails("#set frame 0;\nprocedure p(dword a) { dword x; mov x, eax; }\n",
          "[6390] Local variables of p need the stack frame");
}

// Without the frame a parameter is read at the depth that the constant
// changes of ESP before it leave; what they leave on the stack is released
// before the ret.
namespace frame_off_depth_follows_constant_changes_rows {
struct Case {
    const char* body;
    const char* bytes;  // of p after the locals room, up to its ret
};
const Case cases[] = {
    {"sub esp, 8; mov eax, a;", "83 EC 08 8B 44 24 0C 8D 64 24 08"},
    {"push 1; add esp, 4; mov eax, a;", "6A 01 83 C4 04 8B 44 24 04"},
    {"lea esp, [esp-4]; mov eax, a;", "8D 64 24 FC 8B 44 24 08 8D 64 24 04"},
    {"lea esp, [esp+4]; push 0; mov eax, a;", "8D 64 24 04 6A 00 8B 44 24 04"},
    {"dec esp; dec esp; inc esp; dec esp; mov eax, a;", "4C 4C 44 4C 8B 44 24 06 8D 64 24 02"},
    {"sub esp, 0x100; push a;", "81 EC 00 01 00 00 FF B4 24 04 01 00 00 8D A4 24 04 01 00 00"},
    // a change the depth cannot follow, with no read after it
    {"mov eax, a; mov esp, ebp;", "8B 44 24 04 8B E5"},
};
}  // namespace frame_off_depth_follows_constant_changes_rows

TAVIK_TABLE(Proc, FrameOffDepthFollowsConstantChanges, frame_off_depth_follows_constant_changes_rows, body);

TEST_P(FrameOffDepthFollowsConstantChanges, Row) {
    using namespace frame_off_depth_follows_constant_changes_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.body);
    ok(std::string("#set frame 0;\nprocedure p(dword a) { ") + c.body + " }\n");
    EXPECT_EQ(code("p"), kNops + " " + c.bytes + " C2 04 00");
}

}  // namespace

namespace {

TEST_F(Proc, ParametersWiderThanAWordStartAtTheirSlot) {
    ok("qword gq;\nprocedure p(qword q; dword d) { push q; mov eax, d; }\np(gq, 1);\n");
    EXPECT_EQ(code("p"), kPrologue + " FF 75 0C FF 75 08 8B 45 10 C9 C2 0C 00");
    EXPECT_EQ(var("q")->address, 4u);
    EXPECT_EQ(var("d")->address, 12u);
    // the caller pushes the high word first, so the low one is at the slot's start
    EXPECT_EQ(hex(main()), "6A 01 FF 35 00 00 00 00 FF 35 00 00 00 00 E8 00 00 00 00 C3");
    auto& fx = main()->FixupList->items;
    ASSERT_EQ(fx.size(), 3u);
    EXPECT_EQ(fx[0]->offset, 4u);
    EXPECT_EQ(fx[1]->offset, 0u);
}

}  // namespace

namespace {

TEST_F(Proc, MethodOfADeclaredBlock) {
    ok("block Point { dword x; procedure Move(dword dist); }\n"
       "procedure Point:Move(dword dist) { mov eax, this; mov ecx, dist; add [eax], ecx; }\n"
       "Point pt;\n"
       "pt.Move(3);\n");
    PFunction mv = func("Move");
    ASSERT_TRUE(mv);
    EXPECT_EQ(mv->ParamCount, 2u);
    EXPECT_EQ(hex(mv), kPrologue + " 8B 45 08 8B 4D 0C 01 08 C9 C2 08 00");
    // 3, then the object's address, then the call
    EXPECT_EQ(hex(main()), "6A 03 68 00 00 00 00 E8 00 00 00 00 C3");
    EXPECT_EQ(main()->FixupList->items[0]->data, var("pt"));
}

TEST_F(ProcMethod, ObjectOnTheStackWithoutFrameFollowsThePushes) {
    CompileFlags.stackframe_on = 0;
    ok("procedure TObj.m(dword x) { }\nprocedure q(TObj t) { t.m(5); }\n");
    // t's address is pushed after 5: push esp, then add the slot's distance
    EXPECT_EQ(code("q"), "90 90 90 90 90 90 6A 05 54 81 04 24 08 00 00 00 E8 00 00 00 00 C2 08 00");
}

}  // namespace
