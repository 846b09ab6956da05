// Calls, argument lists and return, compiled from source text.
#include "procedure_env.h"

namespace {

using Call = ProcEnv;

const std::string kPrologue = "55 8B EC 90 90 90 90 90 90";

const char* kDecls =
    "function g(dword x, y) { mov eax, x; }\n"
    "function h { mov eax, 7; }\n"
    "procedure f(dword a, b, c) { }\n"
    "procedure p { }\n"
    "procedure none { }\n";

TEST_F(Call, NestedCallsArePushedInPlace) {
    ok(std::string(kDecls) + "f(1, g(2, 3), 4);\nf(h, 5, h());\n");
    const uint32_t g = func("g")->FuncIndex, f = func("f")->FuncIndex, h = func("h")->FuncIndex;
    EXPECT_EQ(hex(main()),
              "6A 04 6A 03 6A 02 E8 00 00 00 00 50 6A 01 E8 00 00 00 00 "
              "E8 00 00 00 00 50 6A 05 E8 00 00 00 00 50 E8 00 00 00 00 C3");
    EXPECT_EQ(
        fixups(main()),
        (std::vector<Fix>{{ftLabel, 7, g}, {ftLabel, 15, f}, {ftLabel, 20, h}, {ftLabel, 28, h}, {ftLabel, 34, f}}));
    EXPECT_EQ(main()->LocalOffset, 0u);
}

TEST_F(Call, NestedCallThroughAFunctionPointer) {
    ok(std::string(kDecls) +
       "function* gp(dword x): dword;\n"
       "f(1, gp(2), 3);\n"
       "procedure q { function* lp(dword x): dword; f(1, lp(2), 3); }\n");
    const uint32_t f = func("f")->FuncIndex;
    // through the variable, never a direct call of the declaration
    EXPECT_EQ(hex(main()), "6A 03 6A 02 FF 15 00 00 00 00 50 6A 01 E8 00 00 00 00 C3");
    auto& fx = main()->FixupList->items;
    ASSERT_EQ(fx.size(), 2u);
    EXPECT_EQ(fx[0]->hint, ftVar);
    EXPECT_EQ(fx[0]->position, 6u);
    EXPECT_EQ(fx[0]->data, var("gp$"));
    EXPECT_EQ(fixups(main())[1], (Fix{ftLabel, 14, f}));
    EXPECT_TRUE(var("gp$")->active);
    EXPECT_EQ(code("q"), kPrologue + " 6A 03 6A 02 FF 55 FC 50 6A 01 E8 00 00 00 00 83 C4 04 C9 C3");
    EXPECT_EQ(main()->LocalOffset, 0u);
}

// Nested calls are read recursively: a clear error, never a stack overflow.
std::string nestedCalls(int n) {
    std::string s = "function f(dword a) { mov eax, a; }\nf(";
    for (int i = 0; i < n; ++i) s += "f(";
    s += "1";
    s += std::string(static_cast<size_t>(n), ')');
    return s + ");\n";
}

TEST_F(Call, NestingUpToTheLimitIsRead) {
    ok(nestedCalls(200));
    EXPECT_EQ(main()->LocalOffset, 0u);
}

TEST_F(Call, NestingOneBeyondTheLimitIsRefused) { fails(nestedCalls(201), "[6356] Calls nested too deeply"); }

TEST_F(Call, NestingFarBeyondTheLimitIsRefused) { fails(nestedCalls(100000), "[6356] Calls nested too deeply"); }

// The depth is given back after a failure. The scenario is two sessions in
// one process: a failed one in the fixture's set-up, then the test's own.
class CallAfterAFailedSession : public Call {
protected:
    void SetUp() override {
        Call::SetUp();
        fails(nestedCalls(100000), "[6356] Calls nested too deeply");
        Call::TearDown();
        Call::SetUp();
    }
};

TEST_F(CallAfterAFailedSession, NestingDepthIsGivenBack) { ok(nestedCalls(200)); }

TEST_F(Call, EmptyArgumentLists) {
    ok(std::string(kDecls) + "none;\nnone();\nnone ( );\n");
    EXPECT_EQ(hex(main()), "E8 00 00 00 00 E8 00 00 00 00 E8 00 00 00 00 C3");
}

TEST_F(Call, ArgumentKinds) {
    ok("procedure k(dword a, b, c, d) { }\n"
       "procedure q(dword v) { k(v, eax, @v, 'text'); }\n");
    // 'text' by address, @v (a frame slot) through push ebp / add, eax, then v
    EXPECT_EQ(code("q"), kPrologue + " 68 00 00 00 00 55 81 04 24 08 00 00 00 50 FF 75 08 E8 00 00 00 00 C9 C2 04 00");
    auto fx = fixups(func("q"));
    ASSERT_EQ(fx.size(), 3u);
    EXPECT_EQ(fx[1].hint, ftConst);
    EXPECT_EQ(fx[1].position, 10u);
}

struct CountErrorRow {
    const char* name;
    const char* call;
    const char* text;
};
using CountErrors = tavtest::Table<Call, CountErrorRow>;

TEST_P(CountErrors, AreRefused) {
    const CountErrorRow& c = GetParam();
    fails(std::string(kDecls) + c.call, c.text);
    // nothing of the failed call reached the code
    EXPECT_EQ(main()->BufLen, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Call, CountErrors,
    ::testing::Values(CountErrorRow{"TooManyArguments", "f(1, 2, 3, 4);", "[6311] Too many parameters"},
                      CountErrorRow{"TooFewArguments", "f(1);", "[6312] Not enough parameters"},
                      CountErrorRow{"NoArgumentListForParameters", "f;", "[6312] Not enough parameters"},
                      CountErrorRow{"ArgumentsForNoParameters", "none(1);", "[6311] Too many parameters"},
                      CountErrorRow{"InnerCallTooManyArguments", "f(1, g(2, 3, 4), 5);", "[6355] Too many parameters"},
                      CountErrorRow{"InnerCallTooFewArguments", "f(1, g(2), 5);", "[6355] Not enough parameters"},
                      CountErrorRow{"InnerCallWithoutArgumentList", "f(1, g, 5);", "[6355] Not enough parameters"},
                      CountErrorRow{"ProcedureAsArgument", "f(1, p, 5);", "[31354] \"p\" is a procedure"},
                      CountErrorRow{"MissingComma", "f(1 2, 3);", "[1127] Unexpected"},
                      CountErrorRow{"MissingClosingParenthesis", "f(1, 2, 3;", "[1127] Unexpected"},
                      CountErrorRow{"UndefinedArgument", "f(1, undefined, 3);", "[1111] Unexpected"}),
    tavtest::RowName());

// Every argument fills exactly the slot of its parameter: what the caller
// pushes is what the callee's ret removes.
const char* kSizeDecls =
    "procedure w(qword a) { }\n"
    "procedure d(dword a) { }\n"
    "function r { mov eax, 1; }\n"
    "qword gq;\n"
    "dword gd;\n"
    "byte gb;\n"
    "const BIG = 0x123456789;\n";

struct ArgumentSizeRow {
    const char* name;
    const char* call;
    const char* bytes;
};
using ArgumentsTakeTheSizeOfTheirParameter = tavtest::Table<Call, ArgumentSizeRow>;

TEST_P(ArgumentsTakeTheSizeOfTheirParameter, Pushed) {
    const ArgumentSizeRow& c = GetParam();
    ok(std::string(kSizeDecls) + c.call);
    EXPECT_EQ(hex(main()), std::string(c.bytes) + " E8 00 00 00 00 C3");
    EXPECT_EQ(main()->LocalOffset, 0u);
}

INSTANTIATE_TEST_SUITE_P(Call, ArgumentsTakeTheSizeOfTheirParameter,
                         ::testing::Values(
                             // a constant brings its own high dword
                             ArgumentSizeRow{"SmallConstantToQword", "w(5);", "6A 00 6A 05"},
                             ArgumentSizeRow{"NegativeConstantToQword", "w(-2);", "6A FF 6A FE"},
                             ArgumentSizeRow{"WideConstantToQword", "w(0x1FFFFFFFF);", "6A 01 6A FF"},
                             ArgumentSizeRow{"NamedWideConstantToQword", "w(BIG);", "6A 01 68 89 67 45 23"},
                             // a dword register, variable or call result: a zero high dword
                             ArgumentSizeRow{"DwordRegisterToQword", "w(ebx);", "6A 00 53"},
                             ArgumentSizeRow{"DwordVariableToQword", "w(gd);", "6A 00 FF 35 00 00 00 00"},
                             ArgumentSizeRow{"CallResultToQword", "w(r);", "E8 00 00 00 00 6A 00 50"},
                             ArgumentSizeRow{"ByteVariableToQword", "w(gb);", "6A 00 50 0F B6 05 00 00 00 00 87 04 24"},
                             ArgumentSizeRow{"QwordVariableToQword", "w(gq);", "FF 35 00 00 00 00 FF 35 00 00 00 00"},
                             // byte and word registers are zero-extended in their own register
                             ArgumentSizeRow{"LowByteRegisterToDword", "d(bl);", "53 0F B6 DB 87 1C 24"},
                             ArgumentSizeRow{"HighByteRegisterToDword", "d(ah);", "50 0F B6 C4 87 04 24"},
                             ArgumentSizeRow{"WordRegisterToDword", "d(si);", "56 0F B7 F6 87 34 24"},
                             ArgumentSizeRow{"ConstantToDword", "d(5);", "6A 05"}),
                         tavtest::RowName());

const char* kWideDecls =
    "procedure d(dword a; byte b) { }\n"
    "procedure six(dword x; dword y) { }\n"
    "block B6 { word a; dword b; }\n"
    "qword gq;\n"
    "B6 g6;\n";

using ArgumentsWiderThanTheirParameter = tavtest::Table<Call, CountErrorRow>;

TEST_P(ArgumentsWiderThanTheirParameter, AreRefused) {
    const CountErrorRow& c = GetParam();
    fails(std::string(kWideDecls) + "\n" + c.call, c.text);
    // positioned at the argument, on the call's line after the header
    EXPECT_NE(out.find("[8,"), std::string::npos) << out;
    EXPECT_NE(out.find("Code:"), std::string::npos) << out;
    EXPECT_EQ(main()->BufLen, 0u);
}

INSTANTIATE_TEST_SUITE_P(Call, ArgumentsWiderThanTheirParameter,
                         ::testing::Values(CountErrorRow{"QwordToByte", "d(1, gq);",
                                                         "[6313] Argument of 8 bytes for parameter \"b\" of 1 bytes"},
                                           CountErrorRow{"QwordToDword", "d(gq, 1);",
                                                         "[6313] Argument of 8 bytes for parameter \"a\" of 4 bytes"},
                                           CountErrorRow{"SixByteBlockToDword", "six(1, g6);",
                                                         "[6313] Argument of 6 bytes for parameter \"y\" of 4 bytes"},
                                           CountErrorRow{"QwordMemoryToByte", "d(1, qword [ebx]);",
                                                         "[6313] Argument of 8 bytes for parameter \"b\" of 1 bytes"}),
                         tavtest::RowName());

TEST_F(Call, Return) {
    ok("procedure r(dword a, b) { return ebx; }\n"
       "procedure s { return bl; }\n"
       "procedure t { return cx; }\n"
       "function u(dword a) { return 5; }\n"
       "function v(dword a) { return u(a); }\n"
       "return 3;\n");
    EXPECT_EQ(code("r"), kPrologue + " 8B C3 C9 C2 08 00");
    EXPECT_EQ(code("s"), kPrologue + " 8A C3 C9 C3");
    EXPECT_EQ(code("t"), kPrologue + " 66 8B C1 C9 C3");
    EXPECT_EQ(code("u"), kPrologue + " B8 05 00 00 00 C9 C2 04 00");
    // the call form ends with the epilogue and ret as well
    EXPECT_EQ(code("v"), kPrologue + " FF 75 08 E8 00 00 00 00 C9 C2 04 00");
    // at the top level no leave
    EXPECT_EQ(hex(main()), "B8 03 00 00 00 C3");
}

struct ReturnErrorRow {
    const char* name;
    const char* src;
    const char* text;
};
using ReturnErrors = tavtest::Table<Call, ReturnErrorRow>;

TEST_P(ReturnErrors, AreRefused) {
    const ReturnErrorRow& c = GetParam();
    fails(c.src, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Call, ReturnErrors,
    ::testing::Values(ReturnErrorRow{"ValueOfAProcedure", "procedure p { } function q { return p(); }",
                                     "Procedures do not return values"},
                      ReturnErrorRow{"OperandOfNoSize", "procedure q { return [eax]; }",
                                     "[32423] Return operand invalid size"},
                      ReturnErrorRow{"TextAfterTheOperand", "procedure q { return eax nop; }", "[7532] Unexpected"}),
    tavtest::RowName());

TEST_F(Call, ReturnOfAProcedureCallEmitsNothing) {
    fails("procedure p { } function q { return p(); }", "Procedures do not return values");
    EXPECT_EQ(code("q"), kPrologue);  // nothing emitted for the call
}

// Without the frame, arguments addressed through ESP follow what the
// statement pushed before them.
class CallNoFrame : public ProcEnv {
protected:
    void SetUp() override {
        ProcEnv::SetUp();
        CompileFlags.stackframe_on = 0;
    }
};

TEST_F(CallNoFrame, EspArgumentsAreCorrectedByWhatWasPushed) {
    ok("procedure f(dword x, y) { }\n"
       "function h(dword v) { mov eax, v; }\n"
       "procedure g(dword a, b) { f(a, b); f(a, h(b)); f([esp+4], @b); }\n");
    // the same slot, b then a, both [esp+8] when pushed; after a nested
    // call the stack is back: only the pushed result counts
    EXPECT_EQ(code("g"),
              "90 90 90 90 90 90 "
              "FF 74 24 08 FF 74 24 08 E8 00 00 00 00 "
              "FF 74 24 08 E8 00 00 00 00 50 FF 74 24 08 E8 00 00 00 00 "
              "54 81 04 24 08 00 00 00 FF 74 24 08 E8 00 00 00 00 "
              "C2 08 00");
    EXPECT_EQ(func("g")->LocalOffset, 0u);
}

TEST_F(CallNoFrame, NestedPointerCallRemovesItsArguments) {
    ok("procedure f(dword x, y, z) { }\n"
       "function* hp(dword v): dword;\n"
       "procedure g(dword a) { f(a, hp(a), a); mov eax, a; }\n");
    // a, a at one more word, the call, eax, then a two words further
    EXPECT_EQ(code("g"),
              "90 90 90 90 90 90 FF 74 24 04 FF 74 24 08 FF 15 00 00 00 00 50 FF 74 24 0C "
              "E8 00 00 00 00 8B 44 24 04 C2 04 00");
    EXPECT_EQ(func("g")->LocalOffset, 0u);
}

TEST_F(CallNoFrame, RegistersPushedBeforeAnEspArgumentTakeAWordEach) {
    ok("procedure f(dword x, y, z) { }\n"
       "procedure g(dword a) { f(a, ax, cx); f(a, a, ax); }\n");
    // cx and ax a whole word each, zero-extended in place (push ecx; movzx
    // ecx, cx; xchg [esp], ecx), then a two words further
    EXPECT_EQ(code("g"),
              "90 90 90 90 90 90 51 0F B7 C9 87 0C 24 50 0F B7 C0 87 04 24 FF 74 24 0C E8 00 00 00 00 "
              "50 0F B7 C0 87 04 24 FF 74 24 08 FF 74 24 0C E8 00 00 00 00 C2 04 00");
}

TEST_F(CallNoFrame, FunctionPointerCallsKeepTheDepth) {
    ok("procedure* fp(dword x);\n"
       "procedure g(dword a) { fp(a); mov eax, a; }\n");
    EXPECT_EQ(code("g"), "90 90 90 90 90 90 FF 74 24 04 FF 15 00 00 00 00 8B 44 24 04 C2 04 00");
}

}  // namespace

namespace {

TEST_F(Call, MacroExpandedWhileArgumentsAreReadKeepsTheList) {
    ok("procedure g(dword v) { }\n"
       "procedure f(dword a, b, c) { }\n"
       "inline function pre() { g(9); #return eax; }\n"
       "f(1, pre(), 3);\n");
    // g's call runs first, then f gets 1, eax, 3
    EXPECT_EQ(hex(main()), "6A 09 E8 00 00 00 00 6A 03 50 6A 01 E8 00 00 00 00 C3");
    EXPECT_EQ(fixups(main()),
              (std::vector<Fix>{{ftLabel, 3, func("g")->FuncIndex}, {ftLabel, 13, func("f")->FuncIndex}}));
}

TEST_F(Call, FunctionPointerAssignment) {
    ok("procedure* fp(dword x);\nfp = eax;\nprocedure p { procedure* lf(); lf = ecx; lf(); }\n");
    EXPECT_EQ(hex(main()), "A3 00 00 00 00 C3");
    EXPECT_EQ(main()->FixupList->items[0]->data, var("fp$"));
    EXPECT_EQ(code("p"), kPrologue + " 89 4D FC FF 55 FC 83 C4 04 C9 C3");
}

}  // namespace

namespace {

TEST_F(Call, StackOperandsInFrameModeAreCorrectedToo) {
    ok("procedure k(dword a, b, c, d) { }\nprocedure q { k([esp], [esp], 1, 2); }\n");
    EXPECT_EQ(code("q"), kPrologue + " 6A 02 6A 01 FF 74 24 08 FF 74 24 0C E8 00 00 00 00 C9 C3");
}

}  // namespace

namespace {

// Bytes as the GNU assembler gives them for the same lines.
TEST_F(Call, CallThroughMemory) {
    ok("call [ebx+8];\ncall [esp+0x100];\n");
    EXPECT_EQ(hex(main()), "FF 53 08 FF 94 24 00 01 00 00 C3");
}

TEST_F(Call, CallThroughByteMemoryIsRefused) { fails("call byte [ebx];", "[9999]"); }

}  // namespace

namespace {

TEST_F(Call, MethodOnATypedRegister) {
    ok("block Point { dword x; procedure Move(dword dist); function Get(): dword; }\n"
       "procedure Point.Move(dword dist) { }\n"
       "function Point.Get() { mov eax, this; mov eax, [eax]; }\n"
       "procedure user(dword q) { ebx as Point; ebx.Move(q); ebx.Get(); }\n");
    PFunction mv = func("Move"), gt = func("Get");
    ASSERT_TRUE(mv && gt);
    EXPECT_EQ(code("user"), kPrologue +
                                " FF 75 08 53 E8 00 00 00 00"  // q, the object, the call
                                " 53 E8 00 00 00 00"           // a method without arguments
                                " C9 C2 04 00");
    EXPECT_EQ(fixups(func("user")),
              (std::vector<Fix>{{ftLocals, 3, 0}, {ftLabel, 14, mv->FuncIndex}, {ftLabel, 20, gt->FuncIndex}}));
}

}  // namespace
