// Inline macros compiled from source text: declarations, calls with their
// arguments, nesting, and every message of both statements.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "../encoder/diff_harness.h"
#include "reader/afile.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compile_env.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_manager.h"

namespace {

class MacroEnv : public tavtest::CompileEnv {
protected:
    // Compiles the lines after a header; the printed text.
    std::string compile(const std::string& lines, bool* aborted) { return compileProject(kHeader + lines, aborted); }

    // rtlmain's code after a compilation that must succeed.
    std::string mainCode(const std::string& lines) {
        compileProject(kHeader + lines);
        return enctest::hexBytes(tavtest::codeOf(FuncMan->getFunc(0)));
    }

    // The code of the function named name (rtlmain's by default).
    static std::string codeOf(const std::string& name) {
        for (PFunction f : FuncMan->F_List)
            if (name == funcName(f)) return enctest::hexBytes(std::string(f->Buffer ? f->Buffer : "", f->BufLen));
        return "<none>";
    }

    // The code of func after a compilation that must succeed.
    std::string funcCode(const std::string& lines, const std::string& func) {
        compileProject(kHeader + lines);
        return codeOf(func);
    }

    // The lines fail with the message.
    void expectFailure(const std::string& src, const std::string& message) {
        const std::string out = failure(src);
        EXPECT_NE(out.find(message), std::string::npos) << out;
    }

    // The message of a compilation that must fail.
    std::string failure(const std::string& lines) { return failedProject(kHeader + lines); }
};

// A text with macros and the plain text it stands for; their code is
// rtlmain's, or func's.
struct SameCodeRow {
    std::string src;
    std::string plain;
    const char* func = nullptr;
};

// Rows whose text gives the code of the plain one. The plain text is
// compiled in a session of its own in the set-up, then the test compiles the
// row's text in the next one.
class SameCode : public MacroEnv, public ::testing::WithParamInterface<SameCodeRow> {
protected:
    void SetUp() override {
        MacroEnv::SetUp();
        want = code(GetParam().plain);
        MacroEnv::TearDown();
        MacroEnv::SetUp();
    }

    std::string code(const std::string& lines) {
        const char* func = GetParam().func;
        return func ? funcCode(lines, func) : mainCode(lines);
    }

    std::string want;  // the plain text's code
};

// ---- expansion ----

// Each call compiles to the same code as its body written out in its place.
namespace calls_compile_their_body_rows {
const SameCodeRow cases[] = {
    {"inline procedure clear($r) { xor $r, $r; }\nclear(eax);", "xor eax, eax;"},
    {"inline procedure clear($r) { xor $r, $r; }\nnop; clear(ebx); nop; clear(ecx);",
     "nop; xor ebx, ebx; nop; xor ecx, ecx;"},
    // Names of macros ignore case, parameter names too.
    {"inline procedure Clear($R) { xor $r, $R; }\nCLEAR(edx);", "xor edx, edx;"},
    {"inline op procedure clear($r) { xor $r, $r; }\nclear eax;", "xor eax, eax;"},
    {"inline OP procedure mv($a, $b) { mov $a, $b; }\nmv ecx, 7;", "mov ecx, 7;"},
    // Compile-time variables too, and "$" with a name is that name as
    // written, also when a constant declared later has it.
    {"inline procedure m($Reg) { #Count = 2; push $count; xor $reg, $REG; }\nm(ecx);", "push 2; xor ecx, ecx;"},
    {"inline procedure put($n) { push $n; push n; }\nconst n = 3;\nput(eax);", "push eax; push 3;"},
    {"inline procedure none() { nop; }\nnone();", "nop;"},
    // Without parentheses a macro of no or uncounted parameters takes no arguments.
    {"inline procedure none() { nop; }\nnone; none ;", "nop; nop;"},
    {"inline op procedure none() { nop; }\nnone;", "nop;"},
    {"inline procedure mv($a, $b) { mov $a, $b; }\nmv( eax , // the target\n 1 );", "mov eax, 1;"},
    // Uncounted arguments: $argc is the number given.
    {"inline procedure show(;) { push $argc; }\nshow(1, 2, 3);", "push 3;"},
    {"inline procedure show(;) { push $argc; }\nshow();", "push 0;"},
    {"inline procedure show(;) { push $argc; }\nshow;", "push 0;"},
    {"inline procedure show(;) { push $arg[2]; push $arg[0]; }\nshow(ebx, ecx, 9);", "push 9; push ebx;"},
    {"inline procedure pair($a, ;) { push $argc; push $a; push $arg[1]; }\npair(5, 6, 7);", "push 3; push 5; push 6;"},
    {"inline procedure pair($a, ;) { push $argc; push $a; }\npair(eax);", "push 1; push eax;"},
    // A body may use other macros and hand its parameters on.
    {"inline procedure inner($x) { inc $x; }\n"
     "inline procedure outer($y) { inner($y); dec $y; }\nouter(ecx);",
     "inc ecx; dec ecx;"},
    // An argument may itself be a call: it expands while being read, and
    // "()" is an empty list also where no ";" follows it.
    {"inline procedure none() { nop; }\ninline procedure count(;) { push $argc; }\ncount(none(), none());",
     "nop; nop; push 2;"},
    // After a nested call the caller's $argc is its own again.
    {"inline procedure one($x) { push $x; }\n"
     "inline procedure many(;) { one(0); push $argc; }\nmany(1, 2, 3, 4);",
     "push 0; push 4;"},
    // Comments in the body are skipped, also ones holding braces.
    {"inline procedure c() {\n  // a note { with a brace\n  cld; /* } */ std;\n}\nc();", "cld; std;"},
    // A block inside the body stays whole; its labels are made afresh per call.
    {"inline procedure abs($r) { if ($r < 0) { neg $r; } else { nop; } }\nabs(eax); abs(ecx);",
     "if (eax < 0) { neg eax; } else { nop; } if (ecx < 0) { neg ecx; } else { nop; }"},
    {"inline function five() { #return 5; }\nif (eax == five()) { nop; }", "if (eax == 5) { nop; }"},
    // Labels of the body belong to the calling function.
    {"inline procedure spin() { again: dec ecx; jnz again; }\nnop; spin();", "nop; again: dec ecx; jnz again;"},
};
}  // namespace calls_compile_their_body_rows

class CallsCompileTheirBodyInPlace : public SameCode {};
TAVIK_ROWS(MacroEnv, CallsCompileTheirBodyInPlace, calls_compile_their_body_rows::cases, src);

TEST_P(CallsCompileTheirBodyInPlace, SameCodeAsWrittenOut) {
    SCOPED_TRACE(GetParam().src);
    EXPECT_EQ(code(GetParam().src), want);
}

// And one written out in bytes.
TEST_F(MacroEnv, CallsCompileTheirBodyInPlaceInBytes) {
    EXPECT_EQ(mainCode("inline procedure clear($r) { xor $r, $r; }\nclear(eax); clear(ebx);"), "33 c0 33 db c3");
}

TEST_F(MacroEnv, DeclarationKeepsTheBodyTextUncompiled) {
    bool aborted;
    const std::string out = compile(
        "inline procedure a() { x { y } z }\n"
        "inline op function b($p, $Q) {}\n"
        "inline procedure u($p, ;) { }\n",
        &aborted);
    ASSERT_FALSE(aborted) << out;
    ASSERT_EQ(MacMan->F_List.size(), 3u);
    const TMacro* a = MacMan->F_List[0];
    // From the "{" up to the matching "}".
    EXPECT_EQ(a->code->F_Buffer, "{ x { y } z ");
    EXPECT_EQ(a->code->F_FileName, "a");
    EXPECT_EQ(a->code->F_Parent, nullptr);
    EXPECT_EQ(a->type_, mtProc);
    EXPECT_TRUE(a->parens_req);
    EXPECT_EQ(a->paramcount, 0u);
    const TMacro* b = MacMan->F_List[1];
    EXPECT_EQ(b->type_, mtFunc);
    EXPECT_FALSE(b->parens_req);
    EXPECT_EQ(b->code->F_Buffer, "{");
    ASSERT_EQ(b->paramcount, 2u);
    EXPECT_EQ(b->params.GetString(1), "q");
    const TMacro* u = MacMan->F_List[2];
    EXPECT_EQ(u->paramcount, MACRO_UNCOUNTED);
    EXPECT_EQ(u->params.Count(), 1u);
    // Nothing of the bodies was compiled.
    EXPECT_EQ(enctest::hexBytes(std::string(FuncMan->getFunc(0)->Buffer, FuncMan->getFunc(0)->BufLen)), "c3");
}

TEST_F(MacroEnv, QuotedTextOfABodyIsText) {
    // Neither a quoted brace nor a quoted comment opener ends or cuts the body.
    bool aborted = false;
    compile("inline procedure q() { push '}'; push '{'; push '//'; push \"/*\"; }\nq();", &aborted);
    EXPECT_FALSE(aborted);
    ASSERT_EQ(MacMan->F_List.size(), 1u);
    EXPECT_EQ(MacMan->F_List[0]->code->F_Buffer, "{ push '}'; push '{'; push '//'; push \"/*\"; ");
    EXPECT_EQ(enctest::hexBytes(std::string(FuncMan->getFunc(0)->Buffer, FuncMan->getFunc(0)->BufLen)),
              "68 00 00 00 00 68 00 00 00 00 68 00 00 00 00 68 00 00 00 00 c3");
}

// Calls inside a procedure compile into it; "@" passes an address as the
// same operand that the instruction would take written out.
namespace calls_in_procedures_rows {
const std::string decl =
    "dword buffer;\nblock pair { dword x; dword y; }\npair rec;\n"
    "inline procedure m($p) { push $p; }\ninline procedure clear($r) { xor $r, $r; }\n";
const SameCodeRow cases[] = {
    {decl + "m(@buffer); m(@[ebx+4]); m(@BUFFER);", decl + "push @buffer; push @[ebx+4]; push @buffer;", "rtlmain"},
    {decl + "m(@rec.y);", decl + "push @rec.y;", "rtlmain"},
    {decl + "procedure p() { dword loc; clear(eax); m(@loc); m(@rec); }",
     decl + "procedure p() { dword loc; xor eax, eax; push @loc; push @rec; }", "p"},
    {decl + "procedure p(dword a) { m(a); m(@a); }", decl + "procedure p(dword a) { push a; push @a; }", "p"},
};
}  // namespace calls_in_procedures_rows

class CallsInProceduresAndAddressArguments : public SameCode {};
TAVIK_ROWS(MacroEnv, CallsInProceduresAndAddressArguments, calls_in_procedures_rows::cases, src);

TEST_P(CallsInProceduresAndAddressArguments, SameCodeAsWrittenOut) {
    SCOPED_TRACE(GetParam().src);
    EXPECT_EQ(code(GetParam().src), want);
}

TEST_F(MacroEnv, AddressArgumentsAreBoundAsPointerTokens) {
    // The binding seen from inside the body: kind, text and size.
    EXPECT_EQ(mainCode("dword Buffer;\ninline procedure m($p) { push tokentype($p); push sizeof $p; }\n"
                       "m(@buffer); m(@[esi]); m(@BUFFER);"),
              "6a 64 6a 04 6a 64 6a 04 6a 64 6a 04 c3");
}

TEST_F(MacroEnv, AddressArgumentsEchoAsTheirText) {
    bool aborted;
    const std::string out =
        compile("dword Buffer;\ninline procedure m($p) { #echo $p\n }\nm(@buffer); m(@[esi+8]);", &aborted);
    ASSERT_FALSE(aborted) << out;
    EXPECT_NE(out.find("\n@buffer\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n@"), out.rfind("\n@")) << out;
}

// Register assumptions made in a body end with it; those from before hold again.
const std::string kAssumeDecl =
    "block P { dword x; dword y; }\n"
    "inline procedure set() { ebx as P; mov eax, ebx.y; }\n"
    "inline procedure drop() { ebx as 0; }\n";

TEST_F(MacroEnv, RegisterAssumptionsEndWithTheExpansion) {
    EXPECT_EQ(mainCode(kAssumeDecl + "set();"), "8b 43 04 c3");
    EXPECT_EQ(RegMan->Registers[REG_EBX].assume, nullptr);
}

TEST_F(MacroEnv, RegisterAssumptionsFromBeforeTheExpansionHoldAgain) {
    EXPECT_EQ(mainCode(kAssumeDecl + "esi as P; drop(); set(); mov ecx, esi.y;"), "8b 43 04 8b 4e 04 c3");
    ASSERT_NE(RegMan->Registers[REG_ESI].assume, nullptr);
    EXPECT_EQ(RegMan->Registers[REG_EBX].assume, nullptr);
}

TEST_F(MacroEnv, RegisterAssumptionOfABodyIsGoneAfterIt) {
    const std::string out = failure(kAssumeDecl + "set(); mov eax, ebx.y;");
    EXPECT_NE(out.find("[5,"), std::string::npos) << out;
    EXPECT_NE(out.find("in [project.tav]"), std::string::npos) << out;
}

// A macro declared in a procedure is known there only.
class MacroInAProcedureExpandsThere : public SameCode {};

TEST_P(MacroInAProcedureExpandsThere, SameCodeAsWrittenOut) { EXPECT_EQ(code(GetParam().src), want); }

INSTANTIATE_TEST_SUITE_P(MacroEnv, MacroInAProcedureExpandsThere,
                         ::testing::Values(SameCodeRow{"procedure p() { inline procedure two() { nop; nop; } two(); }",
                                                       "procedure p() { nop; nop; }", "p"}),
                         tavtest::TextName<&SameCodeRow::src>());

TEST_F(MacroEnv, MacroOfAProcedureIsUnknownOutsideIt) {
    const std::string out = failure("procedure p() { inline procedure two() { nop; } two(); }\ntwo();");
    EXPECT_NE(out.find("[9000] Unexpected ident two"), std::string::npos) << out;
}

TEST_F(MacroEnv, ExpansionRestoresWhatItChanges) {
    bool aborted;
    const std::string out = compile(
        "inline procedure s($x) { push $argc; }\n"
        "inline procedure m(;) { s(1); push $argc; }\nm(1, 2); push 0;",
        &aborted);
    ASSERT_FALSE(aborted) << out;
    EXPECT_EQ(MacMan->F_CurMacro, MacMan->F_Master);
    EXPECT_EQ(MacMan->curpars, 0u);
    for (const TMacro* m : MacMan->F_List)
        for (uint32_t i = 0; i < m->params.Count(); ++i) EXPECT_EQ(m->params.GetItem(i), nullptr);
    EXPECT_EQ(MacMan->F_List[1]->params.Count(), 0u);  // the uncounted bindings are gone
}

// A function macro stands for its #return token wherever a token is read.
namespace function_macros_rows {
const SameCodeRow cases[] = {
    {"inline function five() { #return 5; }\nmov eax, five();", "mov eax, 5;"},
    {"inline function five() { #return 5; }\nmov eax, five;", "mov eax, 5;"},
    {"inline function reg() { #return ecx; }\ninline procedure clear($r) { xor $r, $r; }\nclear(reg());",
     "xor ecx, ecx;"},
    {"inline function five() { #return 5; }\n#if five() == 5: nop; #end", "nop;"},
    {"inline op function inc1($x) { #n = $x + 1; #return $n; }\nmov eax, inc1 4;", "mov eax, 5;"},
    // The body runs up to its #return, also from inside a section.
    {"inline function f($x) { nop;\n #if $x == 1: #return ebx; #end\n #return ecx; }\n"
     "inc f(1); inc f(2);",
     "nop; inc ebx; nop; inc ecx;"},
    // Without a #return the result is the one of the last expansion.
    {"inline function g($x) { #if $x == 1: #return 7; #end }\npush g(1); push g(2);", "push 7; push 7;"},
};
}  // namespace function_macros_rows

class FunctionMacrosGiveTheirResult : public SameCode {};
TAVIK_ROWS(MacroEnv, FunctionMacrosGiveTheirResult, function_macros_rows::cases, src);

TEST_P(FunctionMacrosGiveTheirResult, SameCodeAsWrittenOut) {
    SCOPED_TRACE(GetParam().src);
    EXPECT_EQ(code(GetParam().src), want);
}

// ---- self-expansion ----

// A macro may expand itself: the inner expansion has bindings, variables and
// a reading place of its own, and the outer one goes on where it stood.
namespace recursion_rows {
const SameCodeRow cases[] = {
    {"inline procedure down($n) { push $n;\n #if $n > 0: #k = $n - 1; down($k); #end\n push $n; }\ndown(2);",
     "push 2; push 1; push 0; push 0; push 1; push 2;"},
    {"inline function mul($a, $b) { #v = $a * $b; #return $v; }\n"
     "inline function fact($n) {\n #if $n <= 1: #return 1; #end\n"
     " #m = $n - 1; #return mul($n, fact($m)); }\nmov eax, fact(5);",
     "mov eax, 120;"},
    // Uncounted arguments beyond the named ones belong to their level too.
    {"inline procedure tail($n, ;) { push $argc;\n #if $n > 0: #k = $n - 1; tail($k, 8, 9); #end\n"
     " push $arg[1]; }\ntail(1, 5);",
     "push 2; push 3; push 8; push 5;"},
};
}  // namespace recursion_rows

class RecursionKeepsEachLevelApart : public SameCode {};
TAVIK_ROWS(MacroEnv, RecursionKeepsEachLevelApart, recursion_rows::cases, src);

TEST_P(RecursionKeepsEachLevelApart, SameCodeAsWrittenOut) {
    SCOPED_TRACE(GetParam().src);
    EXPECT_EQ(code(GetParam().src), want);
}

namespace runaway_recursion_rows {
struct Case {
    const char* src;
    const char* message;
};
const Case cases[] = {
    {"inline procedure r($a) { push $a;\n r($a); }\nr(1);",
     "[2,3]: [32235] Macro \"r\" nested too deeply: more than 32 calls in [r]"},
    {"inline procedure r(;) { r(1, 2, 3); }\nr();", "[32235] Macro \"r\" nested too deeply"},
    // Through another macro, and as an argument of another call.
    {"inline procedure b() { nop; }\ninline procedure a() { b(); c(); }\n"
     "inline procedure c() { a(); }\na();",
     "[32235] Macro \"a\" nested too deeply"},
    {"inline procedure w($x) { nop; }\ninline procedure v() { w(v()); }\nv();",
     "[32235] Macro \"v\" nested too deeply"},
};
}  // namespace runaway_recursion_rows

TAVIK_TABLE(MacroEnv, RunawayRecursionEndsAtAFixedDepth, runaway_recursion_rows, src);

TEST_P(RunawayRecursionEndsAtAFixedDepth, Refused) {
    const runaway_recursion_rows::Case& c = GetParam();
    SCOPED_TRACE(c.src);
    expectFailure(c.src, c.message);
}

// Calls that each call the next level many times multiply without a deep
// nesting; the expanded text has a budget, and the build ends at the call
// that exceeds it.
const std::string kLeaf = "inline procedure leaf() { /* " + std::string(4000, 'x') + " */ }\n";

std::string fanOut(const char* name, const char* callee, int n) {
    std::string s = std::string("inline procedure ") + name + "() {";
    for (int i = 0; i < n; ++i) s += std::string(" ") + callee + "();";
    return s + " }\n";
}

// 4096 expansions of the leaf stay within it.
TEST_F(MacroEnv, FanningOutCallsWithinTheBudget) {
    EXPECT_EQ(mainCode(kLeaf + fanOut("mid", "leaf", 64) + fanOut("top", "mid", 64) + "top(); nop;"), "90 c3");
}

TEST_F(MacroEnv, FanningOutCallsEndAtABudget) {
    expectFailure(kLeaf + fanOut("mid", "leaf", 64) + fanOut("top", "mid", 64) + fanOut("all", "top", 64) + "all();",
                  "characters of source (64 for each character of the program, and 16777216) in [mid]");
}

// ---- messages ----

namespace declaration_errors_rows {
struct Case {
    const char* src;
    const char* message;
};
const Case cases[] = {
    {"inline macro m() { }", "[12456] Unexpected ident macro"},
    {"inline op op procedure m() { }", "[12456] Unexpected ident op"},
    {"inline procedure eax() { }", "register eax redeclared"},
    {"inline procedure if() { }", "if redeclared"},
    // A macro's name is named, not expanded, when it is declared again.
    {"inline procedure m() { nop; }\ninline function M() { }", "macro m redeclared"},
    {"inline procedure m { }", "[123442] Unexpected symbol {"},
    {"inline procedure m($1) { }", "[234] Unexpected number 1"},
    {"inline procedure m($a, $) { }", "[234] Unexpected symbol )"},
    {"inline procedure m($a, b) { }", "[1432] Unexpected symbol b"},
    {"inline procedure m($a,", "[1432] Unexpected EOF"},
    {"inline op procedure m(;) { }", "[6481] Inline op macros can not have uncounted arguments"},
    {"inline op procedure m($a, ;) { }", "[6481] Inline op macros can not have uncounted arguments"},
    {"inline procedure m($a { }", "[123443] Unexpected symbol {"},
    {"inline procedure m(;;) { }", "[123443] Unexpected symbol ;"},
    {"inline procedure m() nop;", "[123444] Unexpected ident nop"},
    {"inline procedure m() { nop; { }\nnop;", "[12300] Unexpected EOF"},
};
}  // namespace declaration_errors_rows

TAVIK_TABLE(MacroEnv, MacroDeclarationErrors, declaration_errors_rows, src);

TEST_P(MacroDeclarationErrors, Refused) {
    const declaration_errors_rows::Case& c = GetParam();
    SCOPED_TRACE(c.src);
    expectFailure(c.src, c.message);
}

namespace call_errors_rows {
struct Case {
    std::string src;
    const char* message;
};
std::vector<Case> cases() {
    const std::string clear = "inline procedure clear($r) { xor $r, $r; }\n";
    return {
        {clear + "clear eax;", "[312] Unexpected register eax"},
        {clear + "clear(eax;", "[313] Unexpected symbol ;"},
        {clear + "clear(eax, ebx);", "[32234] Macro \"clear\" expected 1 params"},
        {clear + "clear();", "[32234] Macro \"clear\" expected 1 params"},
        {"inline procedure none() { }\nnone(eax);", "[32234] Macro \"none\" expected 0 params"},
        {"inline op procedure two($a, $b) { }\ntwo eax;", "[32234] Macro \"two\" expected 2 params"},
        {clear + "clear(@eax);", "[7521] Unexpected register eax"},
        {clear + "clear(@5);", "[7521] Unexpected number 5"},
        {clear + "clear(@clear);", "[7521] Unexpected macro clear"},
        // A fault in the body is reported where it stands in the body.
        {"inline procedure bad() {\n  nop;\n  foo eax;\n}\nbad();", "[3,6]: [9000] Unexpected ident foo in [bad]"},
        {clear + "clear(5);", "in [clear]"},
        // $arg[n] reaches the arguments given, not more.
        {"inline procedure show(;) { push $arg[1]; }\nshow(1);", "[53341] Arg 1 out of bounds [1] in [show]"},
        {"inline procedure pair($a, ;) { push $arg[1]; }\npair(2);", "[53341] Arg 1 out of bounds [1]"},
        // The argument list stays inside the caller's text.
        {"inline procedure show(;) { }\nshow(1, 2 nop;", "[313] Unexpected ident nop"},
        {"inline procedure none() { }\nnone(eax;", "[313] Unexpected symbol ;"},
    };
}
}  // namespace call_errors_rows

using MacroCallErrors = tavtest::Table<MacroEnv, call_errors_rows::Case>;
TAVIK_ROWS(MacroEnv, MacroCallErrors, call_errors_rows::cases(), src);

TEST_P(MacroCallErrors, Refused) {
    const call_errors_rows::Case& c = GetParam();
    VarMan->addVar(vmGlobal, "buffer", VarMan->F_UIntType, 1, 0);
    SCOPED_TRACE(c.src);
    expectFailure(c.src, c.message);
}

}  // namespace

namespace {

// Every cut of a text full of macros either compiles or ends in a message:
// no crash, no internal error, nothing left bound. One row for each length.
const std::string kCutText =
    "dword buf;\ninline op procedure clr($r) { xor $r, $r; }\n"
    "inline function twice($x, ;) {\n #v = $x * 2; #return $v; }\n"
    "inline procedure all(;) { push $argc; clr eax; }\n"
    "inline procedure deep($n) { #if $n > 0: #k = $n - 1; deep($k); #end nop; }\n"
    "all(@buf, @[ebx+4], twice(3, 4)); deep(2); mov ecx, twice(5);\n";

using EveryCutOfTheSource = tavtest::Table<MacroEnv, size_t>;

TEST_P(EveryCutOfTheSource, EndsCleanly) {
    const size_t n = GetParam();
    SCOPED_TRACE(kCutText.substr(0, n));
    bool aborted;
    compile(kCutText.substr(0, n), &aborted);
    EXPECT_EQ(MacMan->F_CurMacro, MacMan->F_Master);
    EXPECT_EQ(MacMan->curpars, 0u);
}

INSTANTIATE_TEST_SUITE_P(MacroEnv, EveryCutOfTheSource, ::testing::Range<size_t>(0, kCutText.size() + 1),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return "FirstBytes" + std::to_string(info.param);
                         });

}  // namespace
