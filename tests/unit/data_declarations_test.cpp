// Data declarations compiled from source text: type aliases, global and
// local variables with their contents, block types, constants and
// enumerations, with every message they report.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../encoder/diff_harness.h"
#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
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

std::string hex(const uint8_t* p, uint32_t n) {
    return enctest::hexBytes(std::string(reinterpret_cast<const char*>(p), n));
}

// No standard include in the scratch folder.
class DataEnv : public tavtest::CompileEnv {
protected:
    // Compiles a project of the header and the lines.
    std::string compile(const std::string& lines, bool* aborted = nullptr) {
        return compileProject(kHeader + lines, aborted);
    }

    // The message of lines that must fail.
    std::string failure(const std::string& lines) { return failedProject(kHeader + lines); }

    // Compiles the lines as the body of procedure p; returns p.
    PFunction inProcedure(const std::string& lines, std::string* message = nullptr) {
        bool aborted = false;
        const std::string out = compile("procedure p() {\n" + lines + "\n}\n", &aborted);
        if (message) *message = out;
        else EXPECT_FALSE(aborted) << out;
        for (PFunction f : FuncMan->F_List)
            if (tavString(f->Name) == "p") return f;
        return nullptr;
    }

    static PIdent ident(const char* name) { return Idents->findIdent(name); }
    static PVar var(const char* name) {
        PIdent id = ident(name);
        return id && (id->type_ == itGlobalVar || id->type_ == itLocalVar) ? static_cast<PVar>(id->ptr) : nullptr;
    }
    static PVarType type(const char* name) {
        PIdent id = ident(name);
        return id && id->type_ == itType ? static_cast<PVarType>(id->ptr) : nullptr;
    }
    static PConst constant(const char* name) {
        PIdent id = ident(name);
        return id && id->type_ == itConst ? static_cast<PConst>(id->ptr) : nullptr;
    }
    static std::string content(const TVar* v) { return hex(v->content, tavCount(v->content)); }
    static std::string code(const TFunction* f) {
        return enctest::hexBytes(std::string(f->Buffer ? f->Buffer : "", f->BufLen));
    }
};

// Lines that must fail with the message, compiled after the text before.
struct FailCase {
    const char* lines;
    const char* message;
    const char* before = "";
};

using DataFailures = tavtest::Table<DataEnv, FailCase>;

TEST_P(DataFailures, Refused) {
    const FailCase& c = GetParam();
    SCOPED_TRACE(c.lines);
    const std::string out = failure(std::string(c.before) + c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

// ---- type ----

TEST_F(DataEnv, TypeAliasNamesTheSameRecord) {
    compile("type MyInt = dword;\nmyint x;\nTYPE cp = char*;\ncp s;\n");
    PVarType dword = VarMan->F_VarTypes[6];
    ASSERT_EQ(tavString(dword->name), "dword");
    EXPECT_EQ(type("MYINT"), dword);
    EXPECT_EQ(ident("myint")->name, "myint");  // stored lower-cased
    ASSERT_NE(var("x"), nullptr);
    EXPECT_EQ(var("x")->type_, dword);
    EXPECT_EQ(var("x")->content, nullptr);  // no initial value, no content
    // The pointer form of a type name is a type too.
    ASSERT_NE(type("cp"), nullptr);
    EXPECT_EQ(type("cp"), type("char*"));
    EXPECT_TRUE(type("cp")->isPointer);
    EXPECT_EQ(var("s")->type_, type("char*"));
}

const FailCase kTypeAliasFailures[] = {
    {"type dword = byte;", "[2,11]: data type dword redeclared in [project.tav]"},
    {"type if = byte;", "if redeclared"},
    {"type a byte;", "[561] Unexpected data type byte"},
    {"type a = b;", "[64] Unexpected ident b"},
    {"type a = 5;", "[64] Unexpected number 5"},
    {"type a = dword [eax];", "[64] Unexpected"},
    {"type a = dword", "[562] Unexpected EOF"},
    {"type a = dword,", "[562] Unexpected symbol ,"},
};
TAVIK_ROWS(TypeAliasFailures, DataFailures, kTypeAliasFailures, lines);

// ---- global variables ----

namespace global_variables_with_counts_and_contents_rows {
struct Case {
    const char* lines;
    const char* name;
    uint32_t multiplier;
    bool initialised;
    const char* content;
};
const Case cases[] = {
    // Without an initial value a variable holds no content at all.
    {"dword a[4], b;", "a", 4, false, ""},
    {"dword a[4], b;", "b", 1, false, ""},
    {"byte m[2][3];", "m", 6, false, ""},
    {"dword c[];", "c", 1, false, ""},
    {"byte z[0];", "z", 0, false, ""},
    {"dword v[] = [1, 2, 3];", "v", 3, true, "01 00 00 00 02 00 00 00 03 00 00 00"},
    {"dword v[4] = [1];", "v", 4, true, "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"word v[3] = [1,2 , 3 ];", "v", 3, true, "01 00 02 00 03 00"},
    {"byte s[8] = 'abc';", "s", 8, true, "61 62 63 00 00 00 00 00"},
    // A text may fill its room without its zero byte; an open count is
    // what the text and its zero take.
    {"byte t[3] = 'abc';", "t", 3, true, "61 62 63"},
    {"byte l[3] = ['a', 'b', 7];", "l", 3, true, "61 62 07"},
    {"byte s[] = 'hello';", "s", 6, true, "68 65 6c 6c 6f 00"},
    {"char c = 'A';", "c", 1, true, "41"},
    {"dword k = 'abcd';", "k", 1, true, "61 62 63 64"},
    // Elements of two bytes take a text as UTF-16, a wide text anywhere.
    {"wchar w[4] = 'ab';", "w", 4, true, "61 00 62 00 00 00 00 00"},
    {"wchar w[] = 'a\u00e9';", "w", 3, true, "61 00 e9 00 00 00"},
    {"widechar w[] = \"xy\";", "w", 3, true, "78 00 79 00 00 00"},
    {"byte u[] = \"hi\";", "u", 6, true, "68 00 69 00 00 00"},
    {"word p[2] = ['a', 'b'];", "p", 2, true, "61 00 62 00"},
    {"single f = 1.5;", "f", 1, true, "00 00 c0 3f"},
    {"real4 f = -2;", "f", 1, true, "00 00 00 c0"},
    {"double d = 1.5;", "d", 1, true, "00 00 00 00 00 00 f8 3f"},
    {"real10 e = 1.5;", "e", 1, true, "00 00 00 00 00 00 00 c0 ff 3f"},
    {"single g[] = [0.5, 3];", "g", 2, true, "00 00 00 3f 00 00 40 40"},
    {"single h = 1000000000000000000000000000000000000000.0;", "h", 1, true, "00 00 80 7f"},
    {"single h = -1000000000000000000000000000000000000000.0;", "h", 1, true, "00 00 80 ff"},
    {"dword x = 2.0;", "x", 1, true, "02 00 00 00"},
    {"int32 x[] = [-3.0, 1];", "x", 2, true, "fd ff ff ff 01 00 00 00"},
    {"dword a[4] = 5;", "a", 4, true, "05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"dword a[2] = -1;", "a", 2, true, "ff ff ff ff ff ff ff ff"},
    {"word w = 0xFFFF;", "w", 1, true, "ff ff"},
    {"word w = -32768;", "w", 1, true, "00 80"},
    {"byte b[2] = [255, -128];", "b", 2, true, "ff 80"},
    {"dword d = 0xFFFFFFFF;", "d", 1, true, "ff ff ff ff"},
    {"int32 d = -2147483648;", "d", 1, true, "00 00 00 80"},
    {"qword q = -2;", "q", 1, true, "fe ff ff ff ff ff ff ff"},
    {"dword a = 1, b = 2, c;", "b", 1, true, "02 00 00 00"},
    {"dword a = 1, b = 2, c;", "c", 1, false, ""},
    {"dword a, b[2] = [7, 8], c;", "b", 2, true, "07 00 00 00 08 00 00 00"},
};
}  // namespace global_variables_with_counts_and_contents_rows

TAVIK_TABLE(DataEnv, DataGlobalVariables, global_variables_with_counts_and_contents_rows, lines);

TEST_P(DataGlobalVariables, WithCountsAndContents) {
    const global_variables_with_counts_and_contents_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    compile(c.lines);
    PVar v = var(c.name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->mode, vmGlobal);
    EXPECT_EQ(v->address, 0u);
    EXPECT_EQ(v->multiplier, c.multiplier);
    EXPECT_EQ(bool(v->initialised), c.initialised);
    EXPECT_EQ(content(v), c.content);
    EXPECT_EQ(tavString(v->name), c.name);
}

// A list for a block variable fills its members in order; a union takes
// its value in its first member, a text fills an array member.
const char* const blocks =
    "block Item { dword id; word price; }\n"
    "block Rec { byte n; char nm[4]; union { word lo; dword all; } Item it; sbyte s[2]; }\n";

namespace block_variables_take_their_members_from_a_list_rows {
struct Case {
    const char* lines;
    const char* name;
    uint32_t multiplier;
    const char* content;
};
const Case cases[] = {
    {"Item one = [1, 2];", "one", 1, "01 00 00 00 02 00"},
    {"Item one = [7];", "one", 1, "07 00 00 00 00 00"},
    {"Item two[2] = [1, 2, 3];", "two", 2, "01 00 00 00 02 00 03 00 00 00 00 00"},
    {"Item all[] = [1, 2, 3];", "all", 2, "01 00 00 00 02 00 03 00 00 00 00 00"},
    {"Rec r = [5, 'ab', 0xFFFF, 9, 10, -1, -2];", "r", 1, "05 61 62 00 00 ff ff 00 00 09 00 00 00 0a 00 ff fe"},
    {"Rec r = [5, 1, 2, 3, 4];", "r", 1, "05 01 02 03 04 00 00 00 00 00 00 00 00 00 00 00 00"},
    // A single value fills the block's bytes, as for any type.
    {"Item one = 0x0102;", "one", 1, "02 01 00 00 00 00"},
};
}  // namespace block_variables_take_their_members_from_a_list_rows

TAVIK_TABLE(DataEnv, DataBlockVariables, block_variables_take_their_members_from_a_list_rows, lines);

TEST_P(DataBlockVariables, TakeTheirMembersFromAList) {
    const block_variables_take_their_members_from_a_list_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    compile(std::string(blocks) + c.lines);
    PVar v = var(c.name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->multiplier, c.multiplier);
    EXPECT_EQ(content(v), c.content);
}

const FailCase kBlockVariableFailures[] = {
    {"Item one = [1, 2, 3];", "[4,20]: [5327] More values than members of item in one", blocks},
    {"Item two[2] = [1, 2, 3, 4, 5];", "[5327] More values than members of item in two", blocks},
    {"Item one = [1, 70000];", "[4,21]: [5325] Value 70000 out of range -32768..65535 for one.price", blocks},
    {"Item two[2] = [1, 2, 3, 0x10000];", "[5325] Value 65536 out of range -32768..65535 for two[1].price", blocks},
    {"Rec r = [1, 'abcde'];", "[5326] Text 'abcde' takes 5 bytes, more than the 4 of r.nm", blocks},
    {"Rec r = [1, 1, 'abcd'];", "[5326] Text 'abcd' takes 4 bytes, more than the 3 of r.nm", blocks},
    {"Rec r = [1, 'ab', 2, 3, 4, 300, 1];", "[5325] Value 300 out of range -128..255 for r.s[0]", blocks},
    {"Item one = [1, eax];", "[106] Unexpected register eax", blocks},
    {"Item one = [1, 2;", "[6542] Unexpected symbol ;", blocks},
    {"Item one = 0x1000000000000;", "[5325] Value 281474976710656 out of range", blocks},
};
TAVIK_ROWS(BlockVariableFailures, DataFailures, kBlockVariableFailures, lines);

TEST_F(DataEnv, GlobalsLeaveTheMainFrameAlone) {
    compile("dword a, b;\nbyte C[3];\nmov al, c;");
    PFunction main = FuncMan->getFunc(0);
    EXPECT_EQ(main->LocalSize, 0u);
    EXPECT_EQ(main->LocalCount, 0u);
    EXPECT_EQ(tavString(var("c")->name), "C");  // the name as declared
    EXPECT_TRUE(var("c")->active);
    EXPECT_FALSE(var("a")->active);
}

const FailCase kVariableFailures[] = {
    {"dword 5;", "[100] Unexpected number 5"},
    {"dword a;\ndword A;", "[3,8]: global variable a redeclared"},
    {"dword eax;", "[100] Unexpected register eax"},
    {"dword while;", "while redeclared"},
    {"dword a[x];", "[105] Unexpected ident x"},
    {"dword a[4;", "[106] Unexpected symbol ;"},
    {"dword a = [];", "[106] Unexpected symbol ]"},
    {"dword a = [eax];", "[106] Unexpected register eax"},
    {"dword a 5;", "[102] Unexpected number 5"},
    {"dword a:", "[101] Unexpected symbol :"},
    {"dword a = eax;", "[104] Unexpected register eax"},
    {"dword a = ;", "[104] Unexpected symbol ;"},
    {"dword v[] = [1, 2;", "[6542] Unexpected symbol ;"},
    {"dword a = 1 2;", "[63542] Unexpected number 2"},
    {"dword a = [1] 2;", "[63542] Unexpected number 2"},
    {"dword v[2] = [1, 2, 3];",
     "[2,19]: [5322] Array out of bounds in [project.tav]\nCode: \n"
     "dword v[2] = [1, 2, 3];"},
    {"dword v[0] = [1];", "[5322] Array out of bounds"},
    // Values that do not fit their type, by the rule for immediates.
    {"byte b = 300;", "[2,13]: [5325] Value 300 out of range -128..255 for b in [project.tav]"},
    {"byte b = -129;", "[5325] Value -129 out of range -128..255 for b"},
    {"word w[2] = [1, 70000];", "[2,22]: [5325] Value 70000 out of range -32768..65535 for w[1]"},
    {"word w = 0x12345678;", "[5325] Value 305419896 out of range -32768..65535 for w"},
    {"dword d = 0x100000000;", "[5325] Value 4294967296 out of range -2147483648..4294967295"},
    {"byte f = 256.0;", "[5325] Value 256 out of range -128..255 for f"},
    // A float with a fraction is refused by an integer, not cut.
    {"dword x = 2.7;", "[2,14]: [5328] Value 2.7 has a fraction, which the integer x cannot hold"},
    {"byte l[3] = ['x', 2, 3.5];", "[5328] Value 3.5 has a fraction, which the integer l[2] cannot hold"},
    {"dword n = -0.5;", "[5328] Value -0.5 has a fraction"},
    {"dword a, b = 5, c = -3000000000;", "[5325] Value -3000000000 out of range"},
    // A text longer than its room is refused, not cut.
    {"byte t[2] = 'abc';", "[2,18]: [5326] Text 'abc' takes 3 bytes, more than the 2 of t"},
    {"byte l[3] = ['a', 'bc', 7];", "[5326] Text 'bc' takes 2 bytes, more than the 1 of l[1]"},
    {"byte u = 'ab';", "[5326] Text 'ab' takes 2 bytes, more than the 1 of u"},
    {"wchar w[2] = 'abc';", "[5326] Text 'abc' takes 6 bytes as UTF-16, more than the 4 of w"},
    {"wchar w[2] = \"abc\";", "[5326] Text \"abc\" takes 6 bytes as UTF-16"},
    // Counts that do not fit are refused, not wrapped.
    {"byte a[65536][65536];", "[5323] Array size out of range"},
    {"byte a[-1];", "[5323] Array size out of range"},
    {"byte a[0x100000002];", "[5323] Array size out of range"},
    {"dword a[0x20000000];", "[5323] Array size out of range"},
    {"byte a[0x80000000];", "[5323] Array size out of range"},
};
TAVIK_ROWS(VariableFailures, DataFailures, kVariableFailures, lines);

// ---- local variables ----

struct Local {
    const char* const name;
    int32_t address;
};

namespace locals_take_frame_slots_rows {
struct Case {
    const char* lines;
    std::vector<Local> locals;
    uint32_t size, count;
};
const Case cases[] = {
    {"dword a, b;", {{"a", -8}, {"b", -12}}, 8, 2},
    {"byte c; dword d;", {{"c", -5}, {"d", -12}}, 8, 2},
    {"byte m[6]; word w;", {{"m", -10}, {"w", -14}}, 12, 2},
    {"qword q; byte b[2][2];", {{"q", -12}, {"b", -16}}, 12, 2},
    {"byte z[0]; dword y;", {{"z", -4}, {"y", -8}}, 4, 2},
};
}  // namespace locals_take_frame_slots_rows

TAVIK_TABLE(DataEnv, DataLocals, locals_take_frame_slots_rows, lines);

TEST_P(DataLocals, TakeFrameSlots) {
    const locals_take_frame_slots_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    PFunction f = inProcedure(c.lines);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->LocalSize, c.size);
    EXPECT_EQ(f->LocalCount, c.count);
    EXPECT_EQ(f->LocalSize % 4, 0u);
    for (const Local& l : c.locals) {
        SCOPED_TRACE(l.name);
        // The scope of the body is closed: the records stay in the manager.
        PVar v = nullptr;
        for (PVar cand : VarMan->F_Vars)
            if (tavString(cand->name) == l.name) v = cand;
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->mode, vmLocal);
        EXPECT_EQ(int32_t(v->address), l.address);
        EXPECT_FALSE(v->initialised);
    }
}

// Each local lies inside the room the frame reserves, below the ones before it.
TEST_F(DataEnv, LocalsAreAddressedInsideTheFrame) {
    PFunction f = inProcedure("byte c; dword d; word w;\nmov al, c; mov d, 1; mov w, bx; mov eax, [ebp-12];");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(code(f),
              "55 8b ec 90 90 90 90 90 90 "  // frame and the room of the locals
              "8a 45 ff "                    // mov al, [ebp-1]
              "c7 45 f8 01 00 00 00 "        // mov dword [ebp-8], 1
              "66 89 5d f6 "                 // mov [ebp-14], bx
              "8b 45 f4 "
              "83 c4 0c c9 c3");  // the same 12 bytes released before leave
    EXPECT_EQ(f->LocalSize, 12u);
}

namespace local_failures_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"dword y = 1;", "[3,10]: [4891] Local variables can not be initialized in [project.tav]\nCode: \ndword y = 1;"},
    {"dword a, b[] = [1];", "[4891] Local variables can not be initialized"},
    // A frame beyond the signed 32-bit displacements is refused before any room is taken.
    {"byte a[0x7FFFFFFD];", "[5324] Local variables too large"},
};
}  // namespace local_failures_rows

TAVIK_TABLE(DataEnv, DataLocalFailures, local_failures_rows, lines);

TEST_P(DataLocalFailures, Refused) {
    const local_failures_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    std::string out;
    inProcedure(c.lines, &out);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

// ---- block ----

TEST_F(DataEnv, BlockMembersAndUnions) {
    compile("block P { dword x; union { byte b; dword d; } word w; }\nP pt;\n");
    PVarType p = type("p");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(tavString(p->name), "p");
    EXPECT_EQ(p->size, 10u);
    EXPECT_EQ(p->largestfield, 4u);
    ASSERT_EQ(p->fieldcount, 4u);
    struct Member {
        const char* name;
        uint32_t offset;
        PVarType type;
    } want[] = {{"x", 0, type("dword")}, {"b", 4, type("byte")}, {"d", 4, type("dword")}, {"w", 8, type("word")}};
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(want[i].name);
        const TVarField& f = p->fields[i];
        EXPECT_EQ(f.ft, vftType);
        EXPECT_EQ(tavString(f.variable.name), want[i].name);
        EXPECT_EQ(f.variable.address, want[i].offset);
        EXPECT_EQ(f.variable.type_, want[i].type);
        EXPECT_EQ(f.variable.multiplier, 1u);
        EXPECT_EQ(f.variable.mode, vmGlobal);
        EXPECT_EQ(f.variable.content, nullptr);
        EXPECT_EQ(f.func, nullptr);
    }
    EXPECT_EQ(var("pt")->content, nullptr);
    EXPECT_EQ(var("pt")->type_->size, 10u);
    // The members' names left with the block's scope.
    EXPECT_EQ(ident("x"), nullptr);
    EXPECT_EQ(ident("w"), nullptr);
}

namespace block_sizes_and_counts_rows {
struct Case {
    const char* lines;
    uint32_t size, largest, fields;
};
const Case cases[] = {
    {"block B { dword a[2]; byte c; }", 9, 8, 2},
    {"block B { byte m[2][3]; }", 6, 6, 1},
    {"block B { union { byte a[3]; word c; } union { qword q; } }", 11, 8, 3},
    {"block B { union { } byte c; }", 1, 1, 1},
    {"block A { word v; } block B { A x[3]; dword y; }", 10, 6, 2},
};
}  // namespace block_sizes_and_counts_rows

TAVIK_TABLE(DataEnv, DataBlockSizes, block_sizes_and_counts_rows, lines);

TEST_P(DataBlockSizes, SizesAndCounts) {
    const block_sizes_and_counts_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    compile(c.lines);
    PVarType b = type("B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size, c.size);
    EXPECT_EQ(b->largestfield, c.largest);
    EXPECT_EQ(b->fieldcount, c.fields);
}

// Counts of members.
TEST_F(DataEnv, BlockMemberCounts) {
    compile("block B { dword a[2]; byte c; }");
    EXPECT_EQ(type("b")->fields[0].variable.multiplier, 2u);
    EXPECT_EQ(type("b")->fields[1].variable.multiplier, 1u);
    EXPECT_EQ(type("b")->fields[1].variable.address, 8u);
}

namespace empty_block_rows {
struct Case {
    const char* lines;
};
const Case cases[] = {{"block Empty { }"}, {"block Empty {}"}, {"block Empty { byte z[0]; }"}};
}  // namespace empty_block_rows

TAVIK_TABLE(DataEnv, DataEmptyBlock, empty_block_rows, lines);

TEST_P(DataEmptyBlock, HoldsAPointer) {
    const char* lines = GetParam().lines;
    SCOPED_TRACE(lines);
    compile(lines);
    PVarType e = type("empty");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->size, 4u);
    EXPECT_EQ(e->largestfield, 4u);
    ASSERT_GE(e->fieldcount, 1u);
    const TVarField& f = e->fields[e->fieldcount - 1];
    EXPECT_EQ(f.ft, vftType);
    EXPECT_EQ(f.variable.name, nullptr);
    EXPECT_EQ(f.variable.type_, VarMan->F_PtrType);
    EXPECT_EQ(f.variable.multiplier, 1u);
    EXPECT_EQ(f.variable.address, 0u);
}

TEST_F(DataEnv, BlockMemberNamesAreLowerCasedAndFreedAfterwards) {
    compile("block Q { DWORD Xy; }\ndword xy;\nQ q1;\nmov eax, q1.XY;");
    EXPECT_EQ(tavString(type("q")->fields[0].variable.name), "xy");
    ASSERT_NE(var("xy"), nullptr);
    EXPECT_EQ(var("xy")->mode, vmGlobal);
}

TEST_F(DataEnv, BlockMethodsAreMembersNamedAfterTheBlock) {
    compile(
        "block Point { dword x; procedure Move(dword dist); function get(): dword; }\n"
        "procedure Point.move(dword dist) { }\n");
    PVarType p = type("point");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->size, 4u);
    EXPECT_EQ(p->largestfield, 4u);
    ASSERT_EQ(p->fieldcount, 3u);
    const TVarField& move = p->fields[1];
    const TVarField& get = p->fields[2];
    EXPECT_EQ(move.ft, vftFunc);
    EXPECT_EQ(tavString(move.variable.name), "move");
    EXPECT_EQ(move.variable.type_, nullptr);
    EXPECT_EQ(move.variable.address, 0u);
    ASSERT_NE(move.func, nullptr);
    EXPECT_EQ(move.func->Type_, ltProc);
    // The definition took the declared method: "this" and dist.
    EXPECT_FALSE(move.func->DeclareOnly);
    EXPECT_EQ(move.func->ParamCount, 2u);
    EXPECT_EQ(get.ft, vftFunc);
    ASSERT_NE(get.func, nullptr);
    EXPECT_EQ(get.func->Type_, ltFunc);
    EXPECT_EQ(get.func->RetVarType, type("dword"));
    EXPECT_TRUE(get.func->DeclareOnly);
    EXPECT_EQ(tavString(get.func->Name), "Point$get");
    EXPECT_EQ(tavString(get.func->ImportName), "Point$get");
    EXPECT_EQ(get.func->ParamCount, 0u);
    EXPECT_EQ(ident("get"), nullptr);
}

// A block of methods alone still has room for a pointer.
TEST_F(DataEnv, BlockOfMethodsAloneHoldsAPointer) {
    compile("block M { procedure run(); }");
    ASSERT_NE(type("m"), nullptr);
    EXPECT_EQ(type("m")->size, 4u);
    ASSERT_EQ(type("m")->fieldcount, 2u);
    EXPECT_EQ(type("m")->fields[1].variable.type_, VarMan->F_PtrType);
}

const FailCase kBlockFailures[] = {
    {"block dword {", "[60002] Unexpected data type dword"},
    {"block 5 {", "[60002] Unexpected number 5"},
    {"block B dword", "[122] Unexpected data type dword"},
    {"block B { foo x; }", "[342543] Unexpected ident foo"},
    // A member's name is no type.
    {"block B { dword a; a b; }", "[342543] Unexpected"},
    {"block B { dword a; byte A; }", "[586483] Duplicate member \"a\" in block \"B\""},
    {"block B { dword 5; }", "[586483] Unexpected number 5"},
    {"block B { dword a[x]; }", "[60006] Unexpected ident x"},
    {"block B { dword a[]; }", "[60006] Unexpected symbol ]"},
    {"block B { dword a[1; }", "[60007] Unexpected symbol ;"},
    {"block B { dword a }", "[60003] Unexpected symbol }"},
    {"block B { dword a;", "[342543] Unexpected EOF"},
    {"block B { union dword", "[34] Unexpected data type dword"},
    {"block B { union { foo x; } }", "[8490] Unexpected ident foo"},
    {"block B { union { dword 5; } }", "[75345] Unexpected number 5"},
    {"block B { dword a; union { byte a; } }", "[75345] Duplicate member \"a\" in block \"B\""},
    {"block B { union { byte a; word a; } }", "[75345] Duplicate member \"a\""},
    {"block B { union { dword a[x]; } }", "[7558] Unexpected ident x"},
    {"block B { union { dword a[]; } }", "[7558] Unexpected symbol ]"},
    {"block B { union { dword a[2 } }", "[425634] Unexpected symbol }"},
    {"block B { union { dword a } }", "[5845] Unexpected symbol }"},
    // Methods and data share one set of member names.
    {"block B { procedure m(); procedure M(); }", "[586483] Duplicate member \"m\" in block \"B\""},
    {"block B { dword m; function m(): dword; }", "[586483] Duplicate member \"m\""},
    {"block B { procedure m(); dword m; }", "[586483] Duplicate member \"m\""},
    // a name taken outside the block is what it is
    {"dword g; block B { dword g; }", "[586483] Unexpected global variable g"},
    // Sizes that do not fit are refused, not wrapped.
    {"block B { dword a[0x20000000]; }", "[60008] Array size out of range"},
    {"block B { byte a[65536][65536]; }", "[60008] Array size out of range"},
    {"block B { byte a[0x40000000]; byte c[0x40000000]; }", "[60009] Block too large"},
};
TAVIK_ROWS(BlockFailures, DataFailures, kBlockFailures, lines);

// ---- const ----
// Constants that no instruction refers to leave the pool when compilation
// ends, so values are read back through the code that uses them.

namespace constant_values_reach_the_code_rows {
struct Case {
    const char* lines;
    const char* bytes;
};
const Case cases[] = {
    {"const N = 1 + 2;\nmov eax, N;", "b8 03 00 00 00 c3"},
    {"const F = 2.5;\nmov eax, f;", "b8 02 00 00 00 c3"},
    {"const G = 3.5;\nmov eax, G;", "b8 04 00 00 00 c3"},
    {"const Neg = -5;\nmov eax, neg;", "b8 fb ff ff ff c3"},
    {"const Big = 0xFFFFFFFF;\nmov eax, BIG;", "b8 ff ff ff ff c3"},
    {"const N = 3; const M = N * 2 + 1;\nmov eax, m;", "b8 07 00 00 00 c3"},
    // The same name again is its value, not a new constant.
    {"const N = 3;\nconst M = N;\nmov eax, M;", "b8 03 00 00 00 c3"},
};
}  // namespace constant_values_reach_the_code_rows

TAVIK_TABLE(DataEnv, DataConstantValues, constant_values_reach_the_code_rows, lines);

TEST_P(DataConstantValues, ReachTheCode) {
    const constant_values_reach_the_code_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    compile(c.lines);
    EXPECT_EQ(code(FuncMan->getFunc(0)), c.bytes);
}

namespace string_constants_are_pooled_rows {
struct Case {
    const char* lines;
    TConstType kind;
    const char* text;
};
const Case cases[] = {
    {"const S = 'txt';\nmov eax, S;", ctAnsiString, "txt"},
    {"const W = \"wide\";\nmov eax, w;", ctWideString, "wide"},
    {"const S = 'a b';\nconst T = 'a b';\nmov eax, S; mov ebx, T;", ctAnsiString, "a b"},
};
}  // namespace string_constants_are_pooled_rows

TAVIK_TABLE(DataEnv, DataStringConstants, string_constants_are_pooled_rows, lines);

TEST_P(DataStringConstants, ArePooled) {
    const string_constants_are_pooled_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    compile(c.lines);
    // One record for one value, the one the code refers to.
    ASSERT_EQ(Consts->Count(), 1u);
    PConst k = Consts->getConst(0);
    EXPECT_EQ(k->type_, c.kind);
    EXPECT_EQ(tavString(k->str), c.text);
    EXPECT_TRUE(k->active);
}

// A literal whose text equals a constant of another kind is a constant of its
// own kind: the string '5' beside the number 5, 'abc' beside "abc".
TEST_F(DataEnv, EqualTextsOfOtherKindsAreSeparateConstants) {
    compile("const N = 5;\nconst A = 'abc';\npush '5';\nmov eax, N;\npush \"abc\";\npush A;\npush 'abc';\n");
    PFunction main = FuncMan->getFunc(0);
    ASSERT_EQ(FixMan->Count(main), 4u);
    PConst five = static_cast<PConst>(FixMan->getFixup(main, 0)->data);
    PConst wide = static_cast<PConst>(FixMan->getFixup(main, 1)->data);
    PConst ansi = static_cast<PConst>(FixMan->getFixup(main, 2)->data);
    ASSERT_TRUE(five && wide && ansi);
    EXPECT_EQ(five->type_, ctAnsiString);
    EXPECT_EQ(tavString(five->str), "5");
    EXPECT_EQ(wide->type_, ctWideString);
    EXPECT_EQ(tavString(wide->str), "abc");
    EXPECT_EQ(ansi->type_, ctAnsiString);
    EXPECT_EQ(tavString(ansi->str), "abc");
    EXPECT_EQ(FixMan->getFixup(main, 3)->data, ansi);  // the literal joins the named string
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(FixMan->getFixup(main, i)->hint, ftConst);
    // the number stays an immediate; only the three referred strings remain
    EXPECT_NE(code(main).find("b8 05 00 00 00"), std::string::npos) << code(main);
    ASSERT_EQ(Consts->Count(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(Consts->getConst(i)->active);
}

TEST_F(DataEnv, ConstantsInDeclarations) {
    compile("const N = 3;\ndword a[N], b[N][2];\nenum E: byte { X = N }\n");
    EXPECT_EQ(var("a")->multiplier, 3u);
    EXPECT_EQ(var("b")->multiplier, 6u);
}

const FailCase kConstantFailures[] = {
    {"const 5 = 1;", "[2,8]: Unexpected number 5 in"},
    {"const if = 1;", "[2,9]: Unexpected reserved keyword if"},
    {"const A 1;", "[2,10]: Unexpected number 1 in"},
    // A constant's name reads as its value.
    {"const A = 1;\nconst A = 2;", "[3,8]: Unexpected number 1 in"},
    {"const X = abc;", "[5311] Unexpected ident abc"},
    {"const X = eax;", "[5311] Unexpected register eax"},
    {"const X = ;", "[5311] Unexpected symbol ;"},
    {"const X = 1", "]: Unexpected EOF in"},
    {"const X = 1 2;", "]: Unexpected number 2 in"},
};
TAVIK_ROWS(ConstantFailures, DataFailures, kConstantFailures, lines);

// ---- enum ----

namespace enumerations_count_on_rows {
struct Case {
    const char* lines;
    const char* bytes;
};
const Case cases[] = {
    {"enum E: byte { A, B, C }\nmov al, a; mov al, b; mov al, c;", "b0 00 b0 01 b0 02"},
    {"enum E: sbyte { A = -1, B }\nmov al, a; mov al, b;", "b0 ff b0 00"},
    {"enum E: byte { A = 253, B, C }\nmov al, b; mov al, c;", "b0 fe b0 ff"},
    {"enum E: dword { A = 1 shl 4, B, C = 2 }\nmov eax, a; mov eax, b; mov eax, c;",
     "b8 10 00 00 00 b8 11 00 00 00 b8 02 00 00 00"},
    {"enum E: qword { A = -1 }\nmov eax, a;", "b8 ff ff ff ff"},
    {"enum E: int64 { A = -9223372036854775807, B }\nint64 v;\nmov v, b;",
     "c7 05 00 00 00 00 02 00 00 00 c7 05 00 00 00 00 00 00 00 80"},
    {"const N = 40;\nenum E: word { A = N + 2, B }\nmov ax, b;", "66 b8 2b 00"},
    {"enum E: byte {\n  A = 1,\n  B\n}\nmov al, b;", "b0 02"},
    {"enum E: byte { }", ""},
    // The enumeration's own name is not declared.
    {"enum E: byte { A }\ndword e;\nmov eax, e;", "a1 00 00 00 00"},
};
}  // namespace enumerations_count_on_rows

TAVIK_TABLE(DataEnv, DataEnumerations, enumerations_count_on_rows, lines);

TEST_P(DataEnumerations, CountOn) {
    const enumerations_count_on_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    compile(c.lines);
    const std::string want = *c.bytes ? std::string(c.bytes) + " c3" : "c3";
    EXPECT_EQ(code(FuncMan->getFunc(0)), want);
}

const FailCase kEnumerationFailures[] = {
    {"enum dword: byte { }", "[352] Reserved data type dword"},
    {"enum E byte { }", "[43] Unexpected data type byte"},
    {"enum E: foo { }", "[243] Unexpected ident foo"},
    {"enum E: byte ( }", "[12] Unexpected symbol ("},
    {"enum E: byte { A = 254, B, C }",
     "[2,29]: [324] Value is out of bounds in [project.tav]\n"
     "Code: \nenum E: byte { A = 254, B, C }"},
    {"enum E: dword { A = -1 }", "[324] Value is out of bounds"},
    {"enum E: sbyte { A = 128 }", "[324] Value is out of bounds"},
    {"enum E: sbyte { A = -129 }", "[324] Value is out of bounds"},
    {"enum E: byte { A = 1, }", "symbol } redeclared"},
    {"enum E: byte { A, A }", "redeclared"},
    {"enum E: byte { A = x }", "[53421] Unexpected ident x"},
    {"enum E: byte { A = 'a' }", "[53421] Unexpected ansi string 'a'"},
    {"enum E: byte { A B }", "[654] Unexpected ident B"},
    {"enum E: byte { A = 1; }", "[654] Unexpected symbol ;"},
    {"enum E: byte { A", "[654] Unexpected EOF"},
    // Counting on past the end of 64 bits does not wrap.
    {"enum E: int64 { A = 9223372036854775807, B }", "[324] Value is out of bounds"},
    {"enum E: qword { A = -1, B }", "[324] Value is out of bounds"},
};
TAVIK_ROWS(EnumerationFailures, DataFailures, kEnumerationFailures, lines);

// ---- robustness ----

// Every cut of a source full of declarations either compiles or ends in a
// positioned fatal message: never a crash, a hang or another exception.
const std::string kDeclarations =
    "type u = dword;\nconst N = 2 * 3;\nenum E: sbyte { A = -2, B, C = N }\n"
    "block P { u x; union { byte b[2]; word w; } procedure m(dword v); }\n"
    "u a[N][2], z = 5;\nbyte s[4] = 'ab', t[] = ['x', 2, 3.0];\nsingle f = 1.25;\nP pt;\n"
    "procedure q() { byte c; P loc; dword d[2]; mov eax, d; }\n";

// One row for each length of the cut, from none to the whole text.
using DataEveryPrefixOfDeclarations = tavtest::Table<DataEnv, size_t>;

TEST_P(DataEveryPrefixOfDeclarations, EndsCleanly) {
    const size_t n = GetParam();
    SCOPED_TRACE(kDeclarations.substr(0, n));
    bool aborted = false;
    const std::string out = compile(kDeclarations.substr(0, n), &aborted);
    if (aborted) {
        EXPECT_NE(out.find("in [project.tav]"), std::string::npos) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(DataEnv, DataEveryPrefixOfDeclarations, ::testing::Range(size_t(0), kDeclarations.size() + 1));

}  // namespace
