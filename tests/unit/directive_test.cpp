// Directives compiled from source text: settings, defines, conditional and
// repeated sections, output, compile-time variables and macro results.
#include <string>
#include <vector>

#include "reader/afile.h"
#include "classes/define_manager.h"
#include "classes/macro_manager.h"
#include "classes/var_manager.h"
#include "reader/cur_token.h"
#include "directive_env.h"

namespace {

using dirtest::DirectiveEnv;
using dirtest::Outcome;
using Lines = std::vector<std::string>;

std::string repeatText(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

class DirectiveTest : public DirectiveEnv {};

// ---- #set ----

TEST_F(DirectiveTest, SetBitsFollowsTheWordSize) {
    EXPECT_EQ(echoes("#set bits 32;\n#echo bits\n"), Lines{"32"});
    EXPECT_EQ(CompileFlags.cpu_bits, 32u);
    EXPECT_EQ(ptrSize, 4u);
    ASSERT_NE(DefMan->getDefine("bits"), nullptr);
}

// A second #set works although "bits" is a define now; 16 forces the frame.
TEST_F(DirectiveTest, SecondSetBitsAfterTheDefine) {
    CompileFlags.stackframe_on = 0;
    EXPECT_EQ(echoes("#set bits 32;\n#set bits 16;\n#echo bits\n#echo frame\n"), (Lines{"16", "1"}));
    EXPECT_EQ(ptrSize, 2u);
    EXPECT_EQ(CompileFlags.stackframe_on, 1);
    EXPECT_EQ(VarMan->F_UIntType->size, 2u);  // the word-sized types follow
}

TEST_F(DirectiveTest, SetFrameOff) {
    EXPECT_EQ(echoes("#set frame 0;\n#echo frame\n"), Lines{"0"});
    EXPECT_EQ(CompileFlags.stackframe_on, 0);
}

// In 16-bit mode the frame stays on.
TEST_F(DirectiveTest, SetFrameStaysOnIn16BitMode) {
    EXPECT_EQ(echoes("#set bits 16;\n#set frame 0;\n#echo frame\n"), Lines{"1"});
    EXPECT_EQ(CompileFlags.stackframe_on, 1);
}

TEST_F(DirectiveTest, SetRelocations) {
    EXPECT_EQ(echoes("#set relocations 1;\n#echo relocations\n"), Lines{"1"});
    EXPECT_EQ(CompileFlags.relocations, 1);
}

namespace set_errors_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"#set 5 5;", "[7757] Unexpected number 5"},
    {"#set bits x;", "[7757] Unexpected ident x"},
    {"#set frame x;", "[7756] Unexpected ident x"},
    {"#set relocations x;", "[777556] Unexpected ident x"},
    {"#set frame 2;", "[7758] Valid frame modes 0/1"},
    {"#set frame 0x100000001;", "[7758] Valid frame modes 0/1"},
    {"#set relocations 5;", "[4656] Valid relocation switch 0/1"},
    {"#set bits 12;", "[7759] Bit mode must be 16 or 32"},
    {"#set bits 24;", "[7759] Bit mode must be 16 or 32"},
    {"#set bits 0;", "[7759] Bit mode must be 16 or 32"},
    {"#set bits 128;", "[7759] Bit mode must be 16 or 32"},
    // No 64-bit forms: "mov rax, [rbx]" would be written as "mov eax, [rbx]".
    {"#set bits 64;", "[7759] Bit mode must be 16 or 32"},
    {"#set speed 1;", "[7845] Invalid directive operand speed"},
};
}  // namespace set_errors_rows

TAVIK_TABLE(DirectiveTest, SetErrors, set_errors_rows, lines);

TEST_P(SetErrors, Refused) {
    const set_errors_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    const std::string out = failure(std::string("nop;\n") + c.lines + "\n");
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_NE(out.find("in [project.tav]\nCode: \n"), std::string::npos) << out;
}

// ---- #define ----

TEST_F(DirectiveTest, DefineTakesOneToken) {
    EXPECT_EQ(echoes("#define Debug;\n#define LEVEL 3;\n#define NAME 'tavik';\n"
                     "#echo debug\n#echo level\n#echo name\n"),
              (Lines{"1", "3", "tavik"}));
    const TCurrentToken* d = DefMan->getDefine("debug");  // stored lower-cased
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->F_Type, ttNumber);
    EXPECT_EQ(d->F_ByteCount, 4);
    EXPECT_EQ(DefMan->getDefine("Debug"), nullptr);
    const TCurrentToken* n = DefMan->getDefine("name");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->F_Type, ttAnsiString);
}

TEST_F(DirectiveTest, DefineWithoutAName) {
    EXPECT_NE(failure("#define 5;").find("[7717] Unexpected number 5"), std::string::npos);
}

TEST_F(DirectiveTest, DefineOfTwoTokens) {
    EXPECT_NE(failure("#define X 1 2;").find("[7718] Unexpected number 2"), std::string::npos);
}

// ---- conditional sections ----

namespace conditional_sections_rows {
struct Case {
    const char* lines;
    Lines shown;
};
const Case cases[] = {
    {"#define DEBUG;\n#ifdef DEBUG: #echo A #end", {"A"}},
    {"#define DEBUG;\n#ifdef DEBUG == 1: #echo A #end", {"A"}},
    {"#define DEBUG;\n#ifdef DEBUG == 2: #echo A #else #echo B #end", {"B"}},
    {"#define DEBUG;\n#ifdef DEBUG != 2: #echo A #end", {"A"}},
    {"#ifdef DEBUG: #echo A #else #echo B #end #echo C", {"B", "C"}},
    {"#ifdef UNDEFINED == 5: #echo A #else #echo B #end", {"B"}},
    // #elseif means nothing in #ifdef: passed over.
    {"#ifdef NOPE: #echo A #elseif 1 == 1: #echo B #else #echo C #end", {"C"}},
    {"#define X;\n#ifdef X: #echo A #elseif 1 == 1: #echo B #else #echo C #end", {"A"}},
    {"#if 0: #echo A #end", {"A"}},  // no operator: compiled
    {"#if 3 < 5: #echo A #elseif 1 == 1: #echo B #else #echo C #end", {"A"}},
    {"#if 5 < 3: #echo A #elseif 1 == 1: #echo B #end", {"B"}},
    {"#if 5 < 3: #echo A #elseif 2 == 1: #echo B #elseif 7 >= 7: #echo C #else #echo D #end", {"C"}},
    {"#if 5 < 3: #echo A #elseif 2 == 1: #echo B #else #echo D #end", {"D"}},
    {"#if 5 < 3: #echo A #end #echo Z", {"Z"}},
    {"#if 1 == 1: #echo A #else #echo B #end", {"A"}},
    {"#if -1 > 5: #echo A #end", {"A"}},  // unsigned 64-bit
    {"#if 5 < -1: #echo A #end", {"A"}},
    {"#if 1 <> 2: #echo A #end #if 1 =! 2: #echo B #end #if 1 != 1: #echo C #end", {"A", "B"}},
    {"#if 2 <= 2: #echo A #end #if 2 =< 1: #echo B #end #if 2 => 2: #echo C #end #if 1 >= 2: #echo D #end", {"A", "C"}},
    {"#if 1.5 == 1.5: #echo A #end #if 1 == 1.0: #echo B #end #if 1.5 != 1.5: #echo C #end", {"A", "B"}},
    {"#if dword == dword: #echo A #end #if dword == word: #echo B #else #echo C #end", {"A", "C"}},
    {"#if dword != word: #echo A #end", {"A"}},
    {"#set bits 32;\n#if bits == 32: #echo A #end", {"A"}},
    // Constant names stand for their values on either side.
    {"const C = 5;\n#if C == 5: #echo A #end #if 4 < C: #echo B #end #if C != C: #echo C #end", {"A", "B"}},
    {"const C = 7 / 2;\n#if C == 4: #echo A #end", {"A"}},
    // Nested sections in a skipped one keep their own #end.
    {"#if 0 == 1: #if 1: #echo X #end #ifdef Q: #else #end #repeat 3: #end #echo Y\n#else #echo B #end", {"B"}},
    {"#if 1 == 1: #if 2 == 2: #echo A #else #echo B #end #echo C #else #echo D #end", {"A", "C"}},
    {"#if 0 == 1: #echo A #elseif 1 == 1: #if 0 == 1: #echo B #elseif 1 == 1: #echo C #end #end", {"C"}},
    // "$" opens a directive word as "#" does; the words are read in any case.
    {"#if 0 == 1: #echo A $END #echo B", {"B"}},
    {"$if 1 == 1: #echo A $end", {"A"}},
    {"#IF 1 == 1: #Echo A #END", {"A"}},
    // A name that reads like a directive word: the section is still skipped.
    {"#ifdef end: #echo A #end #echo B", {"B"}},
    {"#ifdef else: #echo A #else #echo B #end", {"B"}},
    // Skipped text is never resolved: no built-in runs, no macro expands.
    {"#if 0 == 1: #ord(nonsense) #sizeof 5 #tokentype #end #echo A", {"A"}},
    // A literal of a skipped section is text: no word opens and no comment.
    {"#if 0 == 1: #echo '#end' #end #echo B", {"B"}},
    {"#if 0 == 1: #echo 'http://x' #end #echo B", {"B"}},
    {"#if 0 == 1: #echo \"/*\" #end #echo B #echo '*/'", {"B", "*/"}},
    // Comments in a skipped section hide what they hold.
    {"#if 0 == 1: // #end\n /* #end */ #echo A #end #echo B", {"B"}},
};
}  // namespace conditional_sections_rows

TAVIK_TABLE(DirectiveTest, ConditionalSections, conditional_sections_rows, lines);

TEST_P(ConditionalSections, Shown) {
    const conditional_sections_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    EXPECT_EQ(echoes(c.lines), c.shown);
}

TEST_F(DirectiveTest, ConditionalSectionsCompileCode) {
    echoes("#if 1 == 2: nop; #elseif 2 == 2: int3; #else hlt; #end\n#ifdef MMX_SUPPORT: cld; #end");
    EXPECT_EQ(mainCode(), "cc fc c3");
}

namespace conditional_errors_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"#if 1 == eax:", "[7798] Unexpected register eax"},
    {"#define D;\n#ifdef D == eax:", "[7798] Unexpected register eax"},
    {"#if 1 == nowhere:", "[7797] Unexpected ident nowhere"},
    {"#if 1 == 'a':", "[1222] NOT SUPPORTED YET"},
    {"const S = 'a';\n#if 1 == S:", "[1222] NOT SUPPORTED YET"},
    {"#define D;\n#ifdef D == \"a\":", "[1222] NOT SUPPORTED YET"},
    {"#define D;\n#ifdef D < 1:", "[1999] Math operation not valid here"},
    {"#if 1 << 2:", "[1999] Math operation not valid here"},
    {"#if 1.5 < 2.0:", "[2000] Math operation not valid here"},
    {"#if 5 == dword:", "[4313] Types can only be compared with each other"},
    {"#if dword < word:", "[3413] Types can only be compared for equality"},
    {"#if 1 #echo A #end", "[7710] Unexpected symbol #"},
    {"#define D;\n#ifdef D nop; #end", "[7710] Unexpected ident nop"},
    {"#if 1 == 2: nop;\nnop;", "[7652] Unexpected EOF"},
    {"#if 1: nop; }", "[7653] Unexpected symbol }"},
    {"#if 1: nop;", "[7653] Unexpected EOF"},
    {"#if 1 == 2: #else nop; #else #end", "[7654] Unexpected #else after #else"},
    {"#if 1 == 2: #else nop; #elseif 1 == 1: #end", "[7654] Unexpected #elseif after #else"},
    {"#ifndef X: #end", "[19423] Unexpected symbol X"},
    {"nop; #end", "Unexpected directive #end outside of a section"},
};
}  // namespace conditional_errors_rows

TAVIK_TABLE(DirectiveTest, ConditionalErrors, conditional_errors_rows, lines);

TEST_P(ConditionalErrors, Refused) {
    const conditional_errors_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    const std::string out = failure(c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

// Nested sections end with a message at a fixed depth, not a stack overflow.
TEST_F(DirectiveTest, SectionNestingHasAFixedLimit) {
    const std::string out = failure(repeatText("#if 1:\n", 1000) + repeatText("#end\n", 1000));
    EXPECT_NE(out.find("[7655] Sections nested too deeply"), std::string::npos) << out;
}

TEST_F(DirectiveTest, SectionsNestedBelowTheLimit) {
    EXPECT_EQ(echoes(repeatText("#if 1:\n", 100) + "#echo deep\n" + repeatText("#end\n", 100)), Lines{"deep"});
}

// A long #elseif chain is read in a loop, not by recursion.
TEST_F(DirectiveTest, LongElseifChain) {
    std::string text = "#if 1 == 0: #echo A\n";
    for (int i = 1; i < 20000; ++i) text += "#elseif 1 == " + std::to_string(i) + ": #echo " + std::to_string(i) + "\n";
    text += "#end\n";
    EXPECT_EQ(echoes(text), Lines{"1"});
}

TEST_F(DirectiveTest, LongElseifChainToItsElse) {
    std::string none = "#if 1 == 0: nop;\n";
    for (int i = 2; i < 20000; ++i) none += "#elseif 1 == " + std::to_string(i) + ": nop;\n";
    none += "#else #echo last\n#end\n";
    EXPECT_EQ(echoes(none), Lines{"last"});
}

// ---- #repeat ----

namespace repeat_compiles_rows {
struct Case {
    const char* lines;
    const char* code;
};
const Case cases[] = {
    {"#repeat 3: nop; #end", "90 90 90 c3"},
    {"#repeat 0: nop; #end int3;", "cc c3"},
    {"#repeat -1: nop; #end", "c3"},
    {"#repeat 0: #if 1: #else #end nop; #end int3;", "cc c3"},  // skipped with its nested sections
    {"#repeat 2: #repeat 3: nop; #end int3; #end", "90 90 90 cc 90 90 90 cc c3"},
    {"#repeat 2: #if 1 == 1: nop; #else int3; #end #end", "90 90 c3"},
};
}  // namespace repeat_compiles_rows

TAVIK_TABLE(DirectiveTest, RepeatCompilesItsSectionNTimes, repeat_compiles_rows, lines);

TEST_P(RepeatCompilesItsSectionNTimes, Code) {
    const repeat_compiles_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    echoes(c.lines);
    EXPECT_EQ(mainCode(), c.code);
}

TEST_F(DirectiveTest, RepeatCountsWithAVariable) {
    EXPECT_EQ(echoes("#i = 0;\n#repeat 3:\n #i = $i + 1;\n #echo $i\n#end\n"), (Lines{"1", "2", "3"}));
}

namespace repeat_errors_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"#repeat x: #end", "[34323] Unexpected ident x"},
    {"#repeat 3 nop; #end", "[3535] Unexpected ident nop"},
    {"#repeat 2000000: #end", "[34324] Repeat count above 1048576"},
    // Nested sections multiply their passes: the whole build has a budget.
    {"#repeat 1000: #repeat 1000: #repeat 1000: #end #end #end", "[34325] Repeated sections run more than 2097152"},
    {"#repeat 2: nop; #else #end", "[3536] Unexpected #else in a #repeat section"},
    {"#repeat 2: nop; }", "[7653] Unexpected symbol }"},
    {"#repeat 0: nop;", "[7652] Unexpected EOF"},
};
}  // namespace repeat_errors_rows

TAVIK_TABLE(DirectiveTest, RepeatErrors, repeat_errors_rows, lines);

TEST_P(RepeatErrors, Refused) {
    const repeat_errors_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    const std::string out = failure(c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

// The text a build compiles again has a budget too: a few passes over a long
// section may not go on for minutes. 4096 passes of 4000 characters are
// within it (16 MiB and 64 for each character of the short program), 5000
// are not.
const std::string kRepeatedBody = "/* " + std::string(3994, 'x') + " */";

TEST_F(DirectiveTest, RepeatedTextWithinItsBudget) {
    EXPECT_EQ(echoes("#repeat 4096:" + kRepeatedBody + "#end\n#echo done\n"), Lines{"done"});
}

TEST_F(DirectiveTest, RepeatedTextHasABudget) {
    const std::string& body = kRepeatedBody;
    const std::string out = failure("#repeat 5000:" + body + "#end\n#echo done\n");
    EXPECT_NE(out.find("[9905] Repeated sections and macro expansions compile more than "), std::string::npos) << out;
    EXPECT_NE(out.find(" characters of source (64 for each character of the program, and 16777216) in "
                       "[project.tav]"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("done"), std::string::npos) << out;
}

// A section that runs off the end of its file into the including one cannot
// be rewound there.
TEST_F(DirectiveTest, RepeatEndsInItsOwnFile) {
    write("includes/tavik.tav", "#repeat 2: nop;\n");
    const std::string out = failure("#end\n");
    EXPECT_NE(out.find("[3537] The #end of a #repeat section must stand in its file"), std::string::npos) << out;
}

// ---- output ----

TEST_F(DirectiveTest, EchoPrintsTheTokenText) {
    EXPECT_EQ(echoes("#echo 'Hello, world'\n#echo \"wide\"\n#echo 42;\n#echo eax\n#echo MMX_SUPPORT\n"),
              (Lines{"Hello, world", "wide", "42", "eax", "1"}));
}

TEST_F(DirectiveTest, RaiseIsPositionedWithoutTheCodeLine) {
    const Outcome r = run("nop;\n  #raise 'Stop here'\nnop;\n");
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.out, "[3,21]: Stop here in [project.tav]\n");
}

// A section that is skipped does not raise.
TEST_F(DirectiveTest, RaiseInASkippedSection) {
    EXPECT_EQ(echoes("#if 1 == 2: #raise 'no' #end #echo yes\n"), Lines{"yes"});
}

// ---- compile-time variables ----

TEST_F(DirectiveTest, CompileTimeVariables) {
    EXPECT_EQ(echoes("#x = 5;\n#echo $x\n$x = $x * 2;\n#echo $x\n#X = 'text';\n#echo $x\n"),
              (Lines{"5", "10", "text"}));
    TMacro* master = MacMan->F_Master;
    EXPECT_GE(master->indexOfParam("x"), 0);
}

// A substituted variable at the start of a statement is assigned to.
TEST_F(DirectiveTest, SubstitutedVariableIsAssignedTo) {
    EXPECT_EQ(echoes("#n = 1;\n$n = 7;\n#echo $n\n"), Lines{"7"});
}

TEST_F(DirectiveTest, VariableWithoutItsEqualsSign) {
    EXPECT_NE(failure("#x 5;").find("[19423] Unexpected"), std::string::npos);
}

TEST_F(DirectiveTest, VariableValueWithTextAfterIt) {
    EXPECT_NE(failure("#x = 5 nop;").find("[435] Unexpected ident nop"), std::string::npos);
}

// ---- macro bodies ----

// Expands a macro the way a body is compiled: its own source, its own
// statement loop, the macro current while it runs.
TMacroCallHandler g_savedHandler = nullptr;

void expandForTest(TMacro* mac) {
    TAFile* file = Compiler->F_CurFile;
    TMacro* outer = MacMan->F_CurMacro;
    mac->code->CurChar = 0;
    mac->code->CurLine = 1;
    mac->code->CurLineChar = 0;
    Compiler->F_CurFile = mac->code;
    MacMan->F_CurMacro = mac;
    Compiler->HandleDeclarations(-1);
    MacMan->F_CurMacro = outer;
    Compiler->F_CurFile = file;
}

class MacroBodyTest : public DirectiveTest {
protected:
    void SetUp() override {
        DirectiveTest::SetUp();
        g_savedHandler = MacroCallHandler;
        MacroCallHandler = expandForTest;
    }
    void TearDown() override {
        MacroCallHandler = g_savedHandler;
        DirectiveTest::TearDown();
    }
    static TMacro* macro(const std::string& name, const std::string& body) {
        TMacro* m = MacMan->newMacro(name, mtFunc);
        m->code->loadBuffer(name, body, nullptr);
        return m;
    }
};

TEST_F(MacroBodyTest, ReturnSetsTheResultAndEndsTheBody) {
    macro("m", "#return 42;\n#echo unreachable\n");
    EXPECT_EQ(echoes("#echo m\n"), Lines{"42"});
}

// A #return inside a section ends the whole body, as it does outside one.
TEST_F(MacroBodyTest, ReturnInsideASectionEndsTheBody) {
    macro("m", "#if 1 == 1: #return 'inner'; #end\n#echo unreachable\n#return 'outer';\n");
    macro("r", "#repeat 3: #ifdef MMX_SUPPORT: #return 7; #end #echo pass #end\n#echo unreachable\n");
    macro("e", "#if 1 == 2: #else #return 9; #end\n#echo unreachable\n");
    EXPECT_EQ(echoes("#echo m\n#echo r\n#echo e\n"), (Lines{"inner", "7", "9"}));
}

// Variables set in a body belong to that macro; at the top level to "master".
TEST_F(MacroBodyTest, VariablesBelongToTheMacroBeingExpanded) {
    TMacro* m = macro("m", "#x = 5;\n#return $x;\n");
    EXPECT_EQ(echoes("#echo m\n#y = 1;\n"), Lines{"5"});
    EXPECT_GE(m->indexOfParam("x"), 0);
    EXPECT_EQ(MacMan->F_Master->indexOfParam("x"), -1);
    EXPECT_GE(MacMan->F_Master->indexOfParam("y"), 0);
}

// Text in a skipped section never calls a macro, not even one named right
// after a "#".
TEST_F(MacroBodyTest, SkippedSectionsExpandNoMacro) {
    macro("m", "#echo expanded\n#return 1;\n");
    EXPECT_EQ(echoes("#if 0 == 1: #m m; $m #echo m #else #echo other #end\n#echo after\n"), (Lines{"other", "after"}));
}

TEST_F(MacroBodyTest, SkippedRepeatAndIfdefExpandNoMacro) {
    macro("m", "#echo expanded\n#return 1;\n");
    EXPECT_EQ(echoes("#repeat 0: #m #end #ifdef NOPE: #m #end #echo after\n"), Lines{"after"});
}

TEST_F(DirectiveTest, ReturnOutsideAMacro) {
    EXPECT_NE(failure("#return 5;").find("Unexpected directive #return outside of a section"), std::string::npos);
}

TEST_F(DirectiveTest, ReturnInASectionOutsideAMacro) {
    EXPECT_NE(failure("#if 1: #return 5; #end").find("Unexpected directive #return outside of a section"),
              std::string::npos);
}

}  // namespace
