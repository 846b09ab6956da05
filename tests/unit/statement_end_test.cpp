// Where an instruction line ends, and what may stand on it: a prefix with
// its instruction, numbers as jump targets, and nothing after the last
// operand but the end of the statement. Source text through the whole
// compiler, bytes against `as --32`, refusals with their messages; a line
// `as` takes that Tavik refuses is marked as refused on purpose.
// The harness first: its guard keeps glibc's register names out of the way.
#include "../encoder/diff_harness.h"

#include "control_env.h"

namespace {

using control_test::Control;
using control_test::hex;

const char* const declarations = "dword g; word w; byte b; qword q;\n";

// Macros the line break tests use.
const std::string kLineMacros =
    "inline op procedure zero($r) { xor $r, $r }\n"
    "inline procedure fill($n) {\n  mov ecx, $n\n  rep stosb\n}\n"
    "inline function twice($n) { #r = $n + $n; #return $r; }\n";

struct Line {
    const char* source;   // Tavik
    const char* gas;      // the same for `as`
    bool longer = false;  // a memory operand takes its immediate in 81's full form
};

// A line Tavik refuses, the text `as` is given for it, and whether `as`
// takes it (a refusal on purpose).
struct Refusal {
    const char* source;
    const char* message;
    const char* gas;
    bool gasTakesIt;
};

class StatementEnd : public Control {
protected:
    // rtlmain's bytes without the closing ret.
    std::string bytesOf(const std::string& prologue, const std::string& lines) {
        bool aborted = false;
        const std::string out = compile(prologue + declarations + lines + "\nretn;\n", &aborted);
        EXPECT_FALSE(aborted) << lines << "\n" << out;
        std::string c = code();
        if (!c.empty() && c.back() == '\xC3') c.pop_back();
        return c;
    }

    void againstBinutils(uint32_t bits, const std::vector<Line>& lines) {
        REQUIRE_TOOL(enctest::toolAvailable("as") && enctest::toolAvailable("objdump"), "as or objdump (binutils)");
        std::vector<std::string> ours, texts;
        std::vector<bool> longer;
        for (const Line& l : lines) {
            freshSession();
            ours.push_back(bytesOf(bits == 16 ? "#set bits 16;\n" : "", l.source));
            texts.push_back(l.gas);
            longer.push_back(l.longer);
        }
        enctest::DiffReport rep = enctest::compareWithBinutils(bits, ours, texts, 1, longer);
        for (const std::string& f : rep.failures) ADD_FAILURE() << bits << ": " << f;
        // The same bytes where ours is not marked longer: the prefix stands where `as` puts it.
        EXPECT_EQ(rep.sameBytes, size_t(std::count(longer.begin(), longer.end(), false)));
        EXPECT_EQ(rep.sameBytes + rep.sameText, lines.size());
    }

    // The lines each ended by its line break, then each by a ";": the same
    // bytes. Two builds to compare, each in a session of its own.
    void sameBytes(const std::string& prologue, const std::vector<std::string>& lines) {
        std::string broken, ended;
        for (const std::string& l : lines) {
            broken += "  " + l + "\n";
            // A label and a directive end themselves; a macro body too.
            const bool own = l.rfind("#", 0) == 0;
            ended += "  " + l + (own ? "\n" : ";\n");
        }
        const std::string a = bytesOf(prologue, kLineMacros + broken);
        freshSession();
        const std::string b = bytesOf(prologue, kLineMacros + ended);
        EXPECT_FALSE(a.empty());
        EXPECT_EQ(hex(a), hex(b)) << prologue;
    }

    // Each line refused with its message; `as` takes exactly the lines
    // marked as refused on purpose.
    void refusals(uint32_t bits, const std::vector<Refusal>& cases) {
        std::vector<std::string> texts;
        for (const Refusal& c : cases) {
            SCOPED_TRACE(c.source);
            freshSession();
            const std::string out = failure((bits == 16 ? "#set bits 16;\n" : "") + std::string(c.source) + "\n");
            EXPECT_NE(out.find(c.message), std::string::npos) << out;
            texts.push_back(c.gas);
        }
        REQUIRE_TOOL(enctest::toolAvailable("as"), "as (binutils)");
        const std::vector<bool> takes = enctest::gasAccepts(bits, texts);
        for (size_t i = 0; i < cases.size(); ++i)
            EXPECT_EQ(takes[i], cases[i].gasTakesIt)
                << cases[i].gas << (takes[i] ? ": as takes it; mark it as refused on purpose" : ": as refuses it");
    }
};

// Lines and the bytes they build (nullptr: only that they build), after the
// text before.
struct BytesCase {
    const char* lines;
    const char* bytes;
    const char* before = "";
};

using StatementEndBytes = tavtest::Table<StatementEnd, BytesCase>;

TEST_P(StatementEndBytes, Built) {
    const BytesCase& c = GetParam();
    SCOPED_TRACE(c.lines);
    bool aborted = false;
    const std::string out = compile(c.before + std::string(declarations) + c.lines + "\nretn;\n", &aborted);
    EXPECT_FALSE(aborted) << c.lines << "\n" << out;
    std::string b = code();
    if (!b.empty() && b.back() == '\xC3') b.pop_back();
    if (c.bytes) {
        EXPECT_EQ(hex(b), c.bytes);
    }
}

// Lines refused with the message.
struct RefusedCase {
    const char* lines;
    const char* message;
};

using StatementEndRefused = tavtest::Table<StatementEnd, RefusedCase>;

TEST_P(StatementEndRefused, WithTheMessage) {
    const RefusedCase& c = GetParam();
    SCOPED_TRACE(c.lines);
    const std::string out = failure(c.lines + std::string("\n"));
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

// A prefix and its instruction on one line: the bytes of `as`, with the
// prefix after an operand-size prefix as `as` places it.
TEST_F(StatementEnd, PrefixedLinesAgainstBinutils32) {
    // clang-format off
    againstBinutils(32, {
        {"rep stosb;", "rep stosb"},
        {"rep stosw;", "rep stosw"},
        {"rep stosd;", "rep stosd"},
        {"rep movsb;", "rep movsb"},
        {"rep movsd;", "rep movsd"},
        {"rep lodsw;", "rep lodsw"},
        {"rep cmpsb;", "rep cmpsb"},
        {"repe cmpsb;", "repe cmpsb"},
        {"repz cmpsw;", "repz cmpsw"},
        {"repne scasb;", "repne scasb"},
        {"repnz scasd;", "repnz scasd"},
        {"repn scasw;", "repne scasw"},
        {"REP STOSB;", "rep stosb"},
        {"lock add dword [ebx], 3;", "lock add DWORD PTR [ebx], 3", true},
        {"lock add byte [ebx], 3;", "lock add BYTE PTR [ebx], 3"},
        {"lock sub word [esi+4], 0x1234;", "lock sub WORD PTR [esi+4], 0x1234"},
        {"lock and dword [ebp-8], -2;", "lock and DWORD PTR [ebp-8], -2", true},
        {"lock or [ebx], eax;", "lock or [ebx], eax"},
        {"lock xor [eax+ecx*4], dl;", "lock xor [eax+ecx*4], dl"},
        {"lock adc g, 1;", "lock adc DWORD PTR ds:0, 1"},
        {"lock sbb w, 0x1234;", "lock sbb WORD PTR ds:0, 0x1234"},
        {"lock xadd [ebx], eax;", "lock xadd [ebx], eax"},
        {"lock xadd byte [ebx], cl;", "lock xadd [ebx], cl"},
        {"lock xadd [esi], dx;", "lock xadd [esi], dx"},
        {"lock cmpxchg [ecx], edx;", "lock cmpxchg [ecx], edx"},
        {"lock xchg [ebx], ax;", "lock xchg [ebx], ax"},
        {"lock inc dword [ebx];", "lock inc DWORD PTR [ebx]"},
        {"lock dec g;", "lock dec DWORD PTR ds:0"},
        {"lock not word [ebx];", "lock not WORD PTR [ebx]"},
        {"lock neg byte [edi];", "lock neg BYTE PTR [edi]"},
        {"lock bts dword [ebx], 5;", "lock bts DWORD PTR [ebx], 5"},
        {"lock btr [ebx], ecx;", "lock btr [ebx], ecx"},
        {"lock btc word [ebx], 3;", "lock btc WORD PTR [ebx], 3"},
        // The new rows on their own.
        {"xadd eax, ebx;", "xadd eax, ebx"},
        {"xadd [ebx], dl;", "xadd [ebx], dl"},
        {"cmpxchg [ebx], cl;", "cmpxchg [ebx], cl"},
        {"cmpxchg si, di;", "cmpxchg si, di"},
        {"cmpsb;", "cmpsb"},
        {"cmpsw;", "cmpsw"},
        {"cmpsd;", "cmpsd"},
    });
    // clang-format on
}

TEST_F(StatementEnd, PrefixedLinesAgainstBinutils16) {
    // clang-format off
    againstBinutils(16, {
        {"rep movsd;", "rep movsd"},
        {"rep stosw;", "rep stosw"},
        {"rep stosb;", "rep stosb"},
        {"repe cmpsw;", "repe cmpsw"},
        {"repe cmpsd;", "repe cmpsd"},
        {"repne scasb;", "repne scasb"},
        {"lock add dword [bx], 3;", "lock add DWORD PTR [bx], 3", true},
        {"lock add word [bx+si], 0x1234;", "lock add WORD PTR [bx+si], 0x1234"},
        {"lock xadd [bx], ax;", "lock xadd [bx], ax"},
        {"lock xadd [di], cx;", "lock xadd [di], cx"},
        {"lock cmpxchg [bp+4], dl;", "lock cmpxchg [bp+4], dl"},
        {"lock inc w;", "lock inc WORD PTR ds:0"},
        {"lock dec g;", "lock dec DWORD PTR ds:0"},
        {"cmpsw;", "cmpsw"},
        {"cmpsd;", "cmpsd"},
    });
    // clang-format on
}

// The address of a variable moves with the prefix, and the prefix of its
// own statement stays as it was: a byte before the instruction.
TEST_F(StatementEnd, PrefixMovesTheVariablesPlaceholder) {
    EXPECT_EQ(hex(bytesOf("", "lock dec g;")), "f0 ff 0d 00 00 00 00");
    ASSERT_EQ(fixups().size(), 1u);
    EXPECT_EQ(fixups()[0]->position, 3u);
}

TEST_F(StatementEnd, PrefixAfterTheOperandSizePrefixMovesThePlaceholder) {
    EXPECT_EQ(hex(bytesOf("", "nop\nlock add w, 5;")), "90 66 f0 83 05 00 00 00 00 05");
    ASSERT_EQ(fixups().size(), 1u);
    EXPECT_EQ(fixups()[0]->position, 5u);
}

// A prefix of its own goes with its instruction: the bytes of one line.
const BytesCase kPrefixOfItsOwnLine[] = {
    {"rep; stosw;", "66 f3 ab"},
    {"rep\nstosw", "66 f3 ab"},
    {"lock\nadd dword [ebx], 1", "f0 81 03 01 00 00 00"},
};
TAVIK_ROWS(PrefixOfItsOwnLine, StatementEndBytes, kPrefixOfItsOwnLine, lines);

TEST_F(StatementEnd, PrefixOnALocalInAProcedure) {
    bytesOf("", "procedure p() { dword loc; lock inc loc; }\np();");
    EXPECT_NE(hex(tavtest::codeOf(label("p"))).find("f0 ff 45 fc"), std::string::npos);
}

// rep goes with the string instructions, its compare forms with the two
// that compare; lock with a read-modify-write of at most a dword in memory.
TEST_F(StatementEnd, PrefixesRefusedWhereTheyDoNotApply) {
    refusals(
        32,
        {
            {"rep mov eax, 1;", "[2,8]: [9996] rep cannot stand before mov", "rep mov eax, 1", false},
            {"rep add eax, 1;", "[9996] rep cannot stand before add", "rep add eax, 1", false},
            {"rep ret;", "[9996] rep cannot stand before ret", "rep ret", true},
            {"rep nop;", "[9996] rep cannot stand before nop", "rep nop", true},
            {"repe movsb;", "[2,11]: [9996] repe cannot stand before movsb", "repe movsb", true},
            {"repne stosb;", "[9996] repne cannot stand before stosb", "repne stosb", true},
            {"repz lodsd;", "[9996] repz cannot stand before lodsd", "repz lodsd", true},
            {"lock mov [ebx], eax;", "[9996] lock cannot stand before mov", "lock mov [ebx], eax", false},
            {"lock cmp dword [ebx], 1;", "[9996] lock cannot stand before cmp", "lock cmp DWORD PTR [ebx], 1", false},
            {"lock bt dword [ebx], 1;", "[9996] lock cannot stand before bt", "lock bt DWORD PTR [ebx], 1", false},
            {"lock stosb;", "[9996] lock cannot stand before stosb", "lock stosb", false},
            {"lock add eax, 1;", "[2,16]: [9996] lock needs a memory destination", "lock add eax, 1", false},
            {"lock xadd eax, ebx;", "[9996] lock needs a memory destination", "lock xadd eax, ebx", false},
            {"lock xchg eax, ebx;", "[9996] lock needs a memory destination", "lock xchg eax, ebx", false},
            {"lock add qword [ebx], 1;", "[9996] lock takes a destination of at most a dword",
             "lock add QWORD PTR [ebx], 1", false},
            {"qword q; lock sub q, 1;", "[9996] lock takes a destination of at most a dword",
             "lock sub QWORD PTR ds:0, 1", false},
            {"lock rep stosb;", "[9996] lock cannot stand before rep", "lock rep stosb", false},
            {"rep lock add dword [ebx], 1;", "[9996] rep cannot stand before lock", "rep lock add DWORD PTR [ebx], 1",
             false},
            // After a prefixed instruction the same end as after any.
            {"rep stosb stosb;", "[2,12]: [9998] Too many parameters! ident stosb", "rep stosb stosb", false},
            {"lock inc dword [ebx] 1;", "[2,22]: [9997] Expected ; before number 1", "lock inc DWORD PTR [ebx] 1",
             false},
        });
    refusals(16, {
                     {"lock add ax, 1;", "[3,15]: [9996] lock needs a memory destination", "lock add ax, 1", false},
                     {"repe stosw;", "[9996] repe cannot stand before stosw", "repe stosw", true},
                     {"rep push ax;", "[9996] rep cannot stand before push", "rep push ax", false},
                 });
}

// A prefix written as a statement of its own is held for the next
// instruction and checked as on one line; nothing else may come between.
const RefusedCase kPrefixOfItsOwnRefused[] = {
    {"rep; mov eax, 1;", "[2,9]: [9996] rep cannot stand before mov"},
    {"rep\nnop", "[3,4]: [9996] rep cannot stand before nop"},
    {"repne; movsb;", "[9996] repne cannot stand before movsb"},
    {"lock; add eax, 1;", "[2,17]: [9996] lock needs a memory destination"},
    {"lock\nmov [ebx], eax", "[9996] lock cannot stand before mov"},
    {"rep; rep stosb;", "[9996] rep cannot stand before rep"},
    {"rep; if (eax == 1) { stosb; }", "[2,8]: [9996] rep must stand before its instruction"},
    {"procedure p() { rep; }\np();", "[9996] rep must stand before its instruction"},
    {"rep;", "[9996] rep must stand before its instruction"},
};
TAVIK_ROWS(PrefixOfItsOwnRefused, StatementEndRefused, kPrefixOfItsOwnRefused, lines);

const BytesCase kPrefixOfItsOwnTakesTheNextInstruction[] = {
    {"rep; stosb;", "f3 aa"},
    {"repe; // c\ncmpsb", "f3 a6"},
    {"rep; #if 1 == 1: movsd #end", "f3 a5"},
    {"lock; inc dword [eax];", "f0 ff 00"},
    {"rep; stosd;", "66 f3 ab", "#set bits 16;\n"},
};
TAVIK_ROWS(PrefixOfItsOwnTakesTheNextInstruction, StatementEndBytes, kPrefixOfItsOwnTakesTheNextInstruction, lines);

// A number as a jump target has the field of the word size, a selector
// two bytes: a value outside is refused as any immediate is, also where
// `as` cuts it down without a word.
TEST_F(StatementEnd, JumpNumbersRangeChecked) {
    refusals(
        32,
        {
            {"jmp 0x10000:5;", "[2,13]: [9999] Value 65536 out of range -32768..65535", "jmp 0x10000:5", false},
            {"jmp -32769:5;", "[9999] Value -32769 out of range -32768..65535", "jmp -32769:5", false},
            {"jmp 0x100000005:5;", "[9999] Value 4294967301 out of range -32768..65535", "jmp 0x100000005:5", true},
            {"jmp 0x10000:there;\nthere:", "[9999] Value 65536 out of range -32768..65535", "jmp 0x10000:there", false},
            {"jmp 5:0x100000000;", "[9999] Value 4294967296 out of range -2147483648..4294967295", "jmp 5:0x100000000",
             true},
            {"jmp 0x100000000;", "[2,16]: [9999] Value 4294967296 out of range -2147483648..4294967295",
             "jmp 0x100000000", true},
            {"jmp -2147483649;", "[9999] Value -2147483649 out of range -2147483648..4294967295", "jmp -2147483649",
             true},
            {"const FAR = 0x100000000;\njmp FAR;", "[9999] Value 4294967296 out of range", "jmp 0x100000000", true},
        });
    refusals(16,
             {
                 {"jmp 5:0x10000;", "[3,14]: [9999] Value 65536 out of range -32768..65535", "jmp 5:0x10000", false},
                 {"jmp 5:-32769;", "[9999] Value -32769 out of range -32768..65535", "jmp 5:-32769", false},
                 {"jmp 0x10000:5;", "[9999] Value 65536 out of range -32768..65535", "jmp 0x10000:5", true},
                 {"jmp 0x10000;", "[3,12]: [9999] Value 65536 out of range -32768..65535", "jmp 0x10000", true},
                 {"jmp -32769;", "[9999] Value -32769 out of range -32768..65535", "jmp -32769", true},
             });
}

// The edges that fit: far forms as `as` gives them; a near number is
// written as it is, in a field of the word size.
TEST_F(StatementEnd, JumpNumbersAtTheirEdges) {
    // clang-format off
    againstBinutils(32, {
        {"jmp 0xffff:0xffffffff;", "jmp 0xffff:0xffffffff"},
        {"jmp -32768:-2147483648;", "jmp -32768:-2147483648"},
        {"jmp -1:5;", "jmp -1:5"},
        {"jmp 0:0;", "jmp 0:0"},
    });
    // clang-format on
    // clang-format off
    againstBinutils(16, {
        {"jmp 5:0xffff;", "jmp 5:0xffff"},
        {"jmp 0xffff:-32768;", "jmp 0xffff:-32768"},
    });
    // clang-format on
}

const BytesCase kNearJumpNumbersAtTheirEdges[] = {
    {"jmp 0xffffffff;", "e9 ff ff ff ff"},
    {"jmp -2147483648;", "e9 00 00 00 80"},
    {"jmp 0xffff;", "e9 ff ff", "#set bits 16;\n"},
    {"jmp -32768;", "e9 00 80", "#set bits 16;\n"},
};
TAVIK_ROWS(NearJumpNumbersAtTheirEdges, StatementEndBytes, kNearJumpNumbersAtTheirEdges, lines);

// A token after the last operand on its line is refused where it stands;
// the tail of a line is never taken for a statement of its own.
const RefusedCase kStrayTokenAfterTheOperands[] = {
    {"imul eax ebx;", "[2,10]: [9997] Expected , or ; before register ebx in [project.tav]"},
    {"imul ecx, ebx 10;", "[2,15]: [9997] Expected , or ; before number 10"},
    {"mov edx, 1 000;", "[2,12]: [9997] Expected ; before number 000"},
    {"  add eax, [ebx] ecx", "[2,18]: [9997] Expected ; before register ecx"},
    {"push eax 4;", "[2,10]: [9997] Expected ; before number 4"},
    {"mov eax, ebx mov ecx, edx", "[2,14]: [9997] Expected ; before ident mov"},
    {"mov eax, 1 /* c */ 2;", "[2,20]: [9997] Expected ; before number 2"},
    {"jmp there nop\nthere:", "[2,11]: [9997] Expected ; before ident nop"},
    {"mov eax, 'a' 'b';", "[2,14]: [9997] Expected ; before ansi string 'b'"},
    {"mov eax, 1 )", "[2,12]: [9997] Expected ; before symbol"},
    {"cld if (eax == 1) { nop }", "[2,5]: [9997] Expected ; before reserved keyword if"},
    {"#set bits 16;\nmov ax, 1 2;", "[3,11]: [9997] Expected ; before number 2"},
    {"inline function sq($n) { #r = $n * $n; #return $r; }\nadd eax, sq(3) nop",
     "[3,16]: [9997] Expected ; before ident nop"},
    {"#define N 5;\nmov eax, N 6", "[3,12]: [9997] Expected ; before number 6"},
    // The operator statements end the same way.
    {"eax = ebx 5;", "[2,11]: [9997] Expected ; before number 5"},
    {"eax += 1 2;", "[2,10]: [9997] Expected ; before number 2"},
    {"eax == 1 2;", "[2,10]: [9997] Expected ; before number 2"},
    {"byte [esi] = 3 4;", "[2,16]: [9997] Expected ; before number 4"},
    {"dword g; g = ebx 5;", "[2,18]: [9997] Expected ; before number 5"},
    {"eax++ 5;", "[2,7]: [9997] Expected ; before number 5"},
    {"ds = ax 5;", "[2,9]: [9997] Expected ; before number 5"},
    {"mov eax, fs:[ebx];", "[2,12]: [9995] No segment override: memory operands use their default segment"},
    {"mov es:[edi], al;", "[2,7]: [9995] No segment override"},
    // A call and a procedure macro end as an instruction does: a lost
    // token after them would otherwise be a bare number, skipped.
    {"procedure p(dword a) { nop }\np(1) 5", "[3,6]: [9997] Expected ; before number 5"},
    {"procedure p() { nop }\np 5;", "[3,3]: [9997] Expected ; before number 5"},
    {"function f(dword a) { mov eax, a }\neax = f(1) 2;", "[3,12]: [9997] Expected ; before number 2"},
    {"function f(dword a) { mov eax, a }\ndword g; g = f(1) 2;", "[3,19]: [9997] Expected ; before number 2"},
    {"function f(dword a) { return f(1) 2; }", "[2,35]: [9997] Expected ; before number 2"},
    {"procedure* fp(dword a);\nfp(1) 3;", "[3,7]: [9997] Expected ; before number 3"},
    {"inline op procedure zero($r) { xor $r, $r }\nzero eax 5", "[3,10]: [9997] Expected ; before number 5"},
    {"inline op procedure zero($r) { xor $r, $r }\nzero eax ebx", "[3,10]: [9997] Expected ; before register ebx"},
    {"inline procedure zero($r) { xor $r, $r }\nzero(eax) 5;", "[3,11]: [9997] Expected ; before number 5"},
    {"inline procedure two() { nop }\ninline procedure one() { two() 7 }\none();",
     "[1,8]: [9997] Expected ; before number 7 in [one]"},
    // A fourth operand is left to the statement loop, as before.
    {"imul eax, ebx, 5, 6;", "[9900] Unexpected symbol \",\""},
};
TAVIK_ROWS(StrayTokenAfterTheOperands, StatementEndRefused, kStrayTokenAfterTheOperands, lines);

// What may follow the last operand: ";", "}", a directive, a comment or a
// later line; there a bare number or register is a statement of its own.
const BytesCase kStatementsEndedByTheirLine[] = {
    {"mov eax, 1\n2;", "b8 01 00 00 00"},
    {"mov eax, 1\neax;", "b8 01 00 00 00"},
    {"cld\n5;", "fc"},
    {"cld\nbyte [esi] = 5;", "fc c6 06 05"},
    {"std\n[esi] = eax;", "fd 89 06"},
    {"mov eax, 1 // a comment\nmov ebx, 2", "b8 01 00 00 00 bb 02 00 00 00"},
    {"mov eax, 1 /* a\ncomment */ mov ebx, 2", "b8 01 00 00 00 bb 02 00 00 00"},
    {"#repeat 2: add eax, 1 #end", "83 c0 01 83 c0 01"},
    {"#if 1 == 1: mov eax, ebx #else mov eax, ecx #end", "8b c3"},
    {"#x = 2;\nmov eax, $x $x = 3;\nmov ebx, $x", "b8 02 00 00 00 bb 03 00 00 00"},
    {"procedure p() { mov eax, 1 }\np();", "e8 00 00 00 00"},
    {"procedure p() { nop }\np() // c\np() #repeat 1: p() #end\nif (eax == 1) { p() } p()", nullptr},
    {"inline procedure z($r) { xor $r, $r }\nz(eax) // c\nz(ebx) #repeat 1: z(ecx) #end\nif (eax == 1) { z(edx) }",
     nullptr},
    {"inline procedure z($r) { xor $r, $r }\nz(eax) // c\nz(ebx) #repeat 1: z(ecx) #end", "33 c0 33 db 33 c9"},
    {"inline function r() { #return eax; }\nr() = 5;", "b8 05 00 00 00"},
    {"if (eax == 1) { add eax, ebx }", nullptr},
    {"eax = ebx as dword;", "8b c3"},
    {"eax = ebx\nebx++\necx -= 2", "8b c3 43 83 e9 02"},
};
TAVIK_ROWS(StatementsEndedByTheirLine, StatementEndBytes, kStatementsEndedByTheirLine, lines);

// A program whose statements end with line breaks builds the bytes of the
// same program with a ";" after each, in both bit modes, macros, prefixes
// and directives included.
TEST_F(StatementEnd, LineBreaksBuildTheSameBytes32) {
    const char* const lines32[] = {
        "mov eax, [ebx+ecx*4+8]",
        "imul ecx, ebx, 10",
        "push eax",
        "pop edx",
        "add eax, twice(4)",
        "lock add dword [ebx], 3",
        "lock xadd [ebx], eax",
        "rep stosb",
        "repne scasb",
        "cld",
        "rep",
        "movsd",
        "jmp later",
        "fill(4)",
        "zero esi",
        "eax = 5",
        "ebx += eax",
        "edx++",
        "byte [esi] = 7",
        "later: nop",
        "#repeat 2: shl eax, 1 #end",
        "xchg [eax], bl",
        "setne al",
        "ret 8",
    };
    sameBytes("", std::vector<std::string>(std::begin(lines32), std::end(lines32)));
}

TEST_F(StatementEnd, LineBreaksBuildTheSameBytes16) {
    const char* const lines16[] = {
        "mov ax, [bx+si+4]", "push ax",      "pop dx", "rep movsd", "lock add word [bx], 3",
        "repe cmpsb",        "jmp 5:0x1234", "ax = 7", "cx++",      "std",
    };
    sameBytes("#set bits 16;\n", std::vector<std::string>(std::begin(lines16), std::end(lines16)));
}

}  // namespace
