// Operator statements compiled from source text: assignments and operators on
// variables, registers, segment registers and memory expressions, and the
// register type assumptions; checked through the code, fixups, assumptions
// and messages.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "../encoder/diff_harness.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/register_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compile_env.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "plugins/plugin_manager.h"

namespace {

std::string hex(const std::string& s) { return enctest::hexBytes(s); }

class OperatorEnv : public tavtest::CompileEnv {
protected:
    void TearDown() override {
        CompileEnv::TearDown();
        ptrSize = 4;
    }

    // The lines after the header; they must compile.
    std::string body(const std::string& lines) { return compileProject(kHeader + lines); }

    // The message of lines that must fail.
    std::string failure(const std::string& lines) { return failedProject(kHeader + lines); }

    static PVarType type(const char* name) { return static_cast<PVarType>(Idents->findIdent(name)->ptr); }
    static PFunction main() { return FuncMan->getFunc(0); }
    // rtlmain's code without the closing ret.
    static std::string mainCode() {
        PFunction f = main();
        std::string s(f->Buffer ? f->Buffer : "", f->BufLen);
        if (!s.empty() && uint8_t(s.back()) == 0xC3) s.pop_back();
        return s;
    }

    // A record type "point" {x: dword at 0, y: dword at 4, b: byte at 8}.
    static PVarType pointType() {
        PVarType t = VarMan->addType("point", 12, 0, 0, false, false);
        VarMan->addField(t, vftType, "x", type("dword"), 1, 0, nullptr);
        VarMan->addField(t, vftType, "y", type("dword"), 1, 4, nullptr);
        VarMan->addField(t, vftType, "b", type("byte"), 1, 8, nullptr);
        return t;
    }

    static PFunction declareFunc(TLabelType kind, const char* name) {
        PFunction f = FuncMan->CreateFunction(kind, nullptr);
        tavAssign(f->Name, name);
        tavAssign(f->ImportName, name);
        Idents->addIdent(kind == ltFunc ? itFunc : itProc, name, f);
        return f;
    }
};

// objdump's reading of raw 32-bit code, one text per instruction.
std::vector<std::string> decode(const std::filesystem::path& dir, const std::string& name, const std::string& code) {
    std::ofstream(dir / (name + ".bin"), std::ios::binary) << code;
    const std::string d = dir.string();
    const std::string out = d + "/" + name + ".txt";
    EXPECT_EQ(enctest::runShell("objdump -D -b binary -m i386 -M intel " + d + "/" + name + ".bin >" + out), 0);
    std::vector<std::string> texts;
    for (const auto& [addr, dec] : enctest::parseObjdump(enctest::readFile(out))) {
        if (dec.text.empty()) continue;  // the rest of a long instruction's bytes
        EXPECT_EQ(dec.text.find("(bad)"), std::string::npos) << dec.text;
        texts.push_back(dec.text);
    }
    return texts;
}

// ---- code ----

// Every operator on every kind of target decodes to what `as` makes of the
// instruction it stands for (globals sit at address 0 until the builder
// places them).
TEST_F(OperatorEnv, StatementsMatchTheGnuAssembler) {
    REQUIRE_TOOL(enctest::toolAvailable("as") && enctest::toolAvailable("objdump"), "as or objdump (binutils)");
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"eax = 0", "xor eax, eax"},
        {"al = 0", "xor al, al"},
        {"ax = 0", "xor ax, ax"},
        {"eax = 1", "mov eax, 1"},
        {"ecx = ebx", "mov ecx, ebx"},
        {"edx = [esi+8]", "mov edx, [esi+8]"},
        {"dx = word [esi+2]", "mov dx, word ptr [esi+2]"},
        {"ebx = vd", "mov ebx, dword ptr ds:0"},
        {"eax += 5", "add eax, 5"},
        {"ebx -= ecx", "sub ebx, ecx"},
        {"eax == 5", "cmp eax, 5"},
        {"eax != 5", "cmp eax, 5"},
        {"eax <> 5", "cmp eax, 5"},
        {"eax =! 5", "cmp eax, 5"},
        {"esi++", "inc esi"},
        {"cl--", "dec cl"},
        {"eax << 2", "shl eax, 2"},
        {"edx >> cl", "shr edx, cl"},
        {"eax *= ebx", "imul eax, ebx"},
        {"cx *= [esi]", "imul cx, word ptr [esi]"},
        {"ecx *= 10", "imul ecx, ecx, 10"},
        {"vd = 0", "mov dword ptr ds:0, 0"},
        {"vd = ebx", "mov dword ptr ds:0, ebx"},
        {"vb = 7", "mov byte ptr ds:0, 7"},
        {"vw += 1", "add word ptr ds:0, 1"},
        {"vd == 5", "cmp dword ptr ds:0, 5"},
        {"[esi+8] = ecx", "mov [esi+8], ecx"},
        {"[ebx+esi*4+8] = eax", "mov [ebx+esi*4+8], eax"},
        {"dword [edi] = 5", "mov dword ptr [edi], 5"},
        {"byte [edi+1] += 3", "add byte ptr [edi+1], 3"},
        {"[esi] -= edx", "sub [esi], edx"},
        {"dword [esi] == 0", "cmp dword ptr [esi], 0"},
        {"word [eax] << 1", "shl word ptr [eax], 1"},
        {"es = ebx", "mov es, ebx"},
        {"eax = bl", "movzx eax, bl"},
    };
    VarMan->addVar(vmGlobal, "vd", type("dword"), 1, 0);
    VarMan->addVar(vmGlobal, "vb", type("byte"), 1, 0);
    VarMan->addVar(vmGlobal, "vw", type("word"), 1, 0);
    std::string src, gas = ".intel_syntax noprefix\n.code32\n";
    for (const auto& [stmt, ins] : cases) {
        src += std::string(stmt) + ";\n";
        gas += std::string(ins) + "\n";
    }
    body(src);
    std::string theirs;
    ASSERT_TRUE(enctest::gasText(dir, gas, theirs));
    const std::vector<std::string> ours = decode(dir, "ours", mainCode()), want = decode(dir, "theirs", theirs);
    ASSERT_EQ(want.size(), cases.size()) << ::testing::PrintToString(want);
    ASSERT_EQ(ours.size(), cases.size()) << ::testing::PrintToString(ours);
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(ours[i], want[i]) << cases[i].first;
}

TEST_F(OperatorEnv, ZeroClearsOnlyRegisters) {
    PVar vd = VarMan->addVar(vmGlobal, "vd", type("dword"), 1, 0);
    body("eax = 0; ebx = 0x0; vd = 0;");
    // xor eax,eax; xor ebx,ebx; then a mov with its immediate 0.
    EXPECT_EQ(hex(mainCode()), "33 c0 33 db c7 05 00 00 00 00 00 00 00 00");
    ASSERT_EQ(FixMan->Count(main()), 1u);
    EXPECT_EQ(FixMan->getFixup(main(), 0)->data, vd);
}

// objdump reads 8E with a 16-bit operand as ds,ax only behind 66, which
// `as` leaves out: the bytes are checked instead.
TEST_F(OperatorEnv, SegmentRegisterTakesTheSource) {
    body("ds = ax;\nfs = ecx;");
    EXPECT_EQ(hex(mainCode()), "66 8e d8 8e e1");
}

// A bare variable emits nothing and still counts as referenced; a member
// path reaches the target through the fixup's offset.
TEST_F(OperatorEnv, VariableTargetsAreReferencedAndKeepTheirMemberOffset) {
    PVarType pt = pointType();
    PVar p = VarMan->addVar(vmGlobal, "p", pt, 1, 0);
    PVar idle = VarMan->addVar(vmGlobal, "idle", type("dword"), 1, 0);
    body("idle;\np.y = 5;\np.b += 1;");
    EXPECT_TRUE(idle->active);
    EXPECT_TRUE(p->active);
    // mov dword [p+4], 5; add byte [p+8], 1
    EXPECT_EQ(hex(mainCode()), "c7 05 00 00 00 00 05 00 00 00 80 05 00 00 00 00 01");
    ASSERT_EQ(FixMan->Count(main()), 2u);
    EXPECT_EQ(FixMan->getFixup(main(), 0)->offset, 4u);
    EXPECT_EQ(FixMan->getFixup(main(), 1)->offset, 8u);
    EXPECT_EQ(FixMan->getFixup(main(), 0)->data, p);
}

// A local is reached where an instruction operand on it is: from EBP in
// frame mode, from ESP plus the pushes so far without it.
TEST_F(OperatorEnv, LocalTargetsFollowTheFrame) {
    VarMan->addVar(vmLocal, "loc", type("dword"), 1, uint32_t(-8));
    body("loc = 1; push eax; loc = 1; mov loc, 1;");
    // [ebp-4] each time: pushes do not move the frame.
    EXPECT_EQ(hex(mainCode()), "c7 45 fc 01 00 00 00 50 c7 45 fc 01 00 00 00 c7 45 fc 01 00 00 00");
}

TEST_F(OperatorEnv, LocalTargetsFollowThePushDepthWithoutTheFrame) {
    CompileFlags.stackframe_on = 0;
    VarMan->addVar(vmLocal, "loc", type("dword"), 1, uint32_t(-8));
    body("loc = 1; push eax; loc += 2; mov loc, 1; pop edx; loc == 3;");
    // [esp-8], then [esp-4] while eax is pushed, then [esp-8] again.
    EXPECT_EQ(hex(mainCode()),
              "c7 44 24 f8 01 00 00 00 50 81 44 24 fc 02 00 00 00 c7 44 24 fc 01 00 00 00 5a 81 7c 24 f8 03 00 00 00");
}

// With a word size other than 4 the statement and the instruction line
// still address the same frame slot.
TEST_F(OperatorEnv, LocalTargetsAgreeWithInstructionOperandsInAnyWordSize) {
    CompileFlags.cpu_bits = 64;
    ptrSize = 8;
    VarMan->addVar(vmLocal, "loc", type("dword"), 1, uint32_t(-8));
    body("loc = 7;\nmov loc, 7;");
    // [ebp-8+8] both times.
    EXPECT_EQ(hex(mainCode()), "c7 45 00 07 00 00 00 c7 45 00 07 00 00 00");
}

// Variables declared in the source, globals and a procedure's parameter
// and local.
TEST_F(OperatorEnv, DeclaredVariablesAsTargets) {
    body("dword total;\nprocedure q(dword a) { dword loc; loc = 5; a += 1; total = a; }\ntotal -= 3;");
    PFunction q = nullptr;
    for (PFunction f : FuncMan->F_List)
        if (std::string(funcName(f)) == "q") q = f;
    ASSERT_TRUE(q);
    const std::string c(q->Buffer ? q->Buffer : "", q->BufLen);
    // mov dword [ebp-4],5; add dword [ebp+8],1
    EXPECT_NE(hex(c).find("c7 45 fc 05 00 00 00 81 45 08 01 00 00 00"), std::string::npos) << hex(c);
    // sub dword [total],3
    EXPECT_EQ(hex(mainCode()), "83 2d 00 00 00 00 03");
}

// ---- calls on the right ----

namespace call_results_rows {
struct Case {
    const char* lines;
    const char* after;  // the bytes after the call's E8 and its four bytes
};
const Case cases[] = {
    {"vd = f();", "a3 00 00 00 00"}, {"vw = f();", "66 a3 00 00 00 00"},
    {"vb = f();", "a2 00 00 00 00"}, {"eax = f();", ""},  // mov eax, eax: the encoder leaves it out
    {"ebx = f();", "8b d8"},         {"bx = f();", "66 8b d8"},
    {"dl = f();", "8a d0"},          {"[esi+8] = f();", "89 46 08"},
    {"dword [esi] = f();", "89 06"},
};
}  // namespace call_results_rows

TAVIK_TABLE(OperatorEnv, CallResultsAreTakenFromTheAccumulator, call_results_rows, lines);

TEST_P(CallResultsAreTakenFromTheAccumulator, Stored) {
    const call_results_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    VarMan->addVar(vmGlobal, "vd", type("dword"), 1, 0);
    VarMan->addVar(vmGlobal, "vw", type("word"), 1, 0);
    VarMan->addVar(vmGlobal, "vb", type("byte"), 1, 0);
    body(std::string("function f() { eax = 1; }\n") + c.lines);
    const std::string code = hex(mainCode());
    ASSERT_EQ(code.substr(0, 2), "e8") << code;
    EXPECT_EQ(code.size() > 15 ? code.substr(15) : std::string(), c.after) << code;
}

namespace call_result_failures_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"ext = f();", "[45177] Unknown error"},  // 10 bytes: no accumulator
    {"byte [esi] = f();", "[65156] "},        // EAX into one byte
    {"vd = p();", "[4236] Procedures do not return values"},
    {"ecx = p();", "[423] Procedures do not return values"},
    {"[edi] = p();", "[4234] Procedures do not return values"},
};
}  // namespace call_result_failures_rows

TAVIK_TABLE(OperatorEnv, CallResultFailures, call_result_failures_rows, lines);

TEST_P(CallResultFailures, Refused) {
    const call_result_failures_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    VarMan->addVar(vmGlobal, "vd", type("dword"), 1, 0);
    VarMan->addVar(vmGlobal, "ext", type("extended"), 1, 0);
    const std::string out = failure(std::string("function f() { eax = 1; }\nprocedure p() { }\n") + c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

TEST_F(OperatorEnv, CallOnTheRightClearsTheRegistersType) {
    pointType();
    body("function f() { eax = 1; }\nebx as point;\nebx = f();\nesi as point;\nesi = f() as point;");
    EXPECT_EQ(RegMan->Registers[REG_EBX].assume, nullptr);
    EXPECT_EQ(RegMan->Registers[REG_ESI].assume, type("point"));
}

// The call handler hands "fp = value;" over for a function pointer's variable.
TEST_F(OperatorEnv, FunctionPointerIsAssigned) {
    body("procedure* fp(dword x);\nfp = eax;\nfp = 0;");
    PVar v = nullptr;
    for (PVar x : VarMan->F_Vars)
        if (std::string(x->name) == "fp$") v = x;
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->active);
    EXPECT_EQ(hex(mainCode()), "a3 00 00 00 00 c7 05 00 00 00 00 00 00 00 00");
    ASSERT_EQ(FixMan->Count(main()), 2u);
    EXPECT_EQ(FixMan->getFixup(main(), 0)->data, v);
    EXPECT_EQ(FixMan->getFixup(main(), 1)->data, v);
}

// ---- register assumptions ----

namespace register_assumptions_rows {
struct Case {
    const char* lines;
    TRegister reg;
    const char* expect;  // the type's name; nullptr: none
};
const Case cases[] = {
    {"ebx as point;", REG_EBX, "point"},
    {"ebx as point; ebx as 0;", REG_EBX, nullptr},
    {"ebx = p;", REG_EBX, "point"},
    {"ebx = @p;", REG_EBX, "point"},
    {"ebx = p; ebx = 5;", REG_EBX, nullptr},
    {"ebx as point; ebx = ecx;", REG_EBX, nullptr},
    {"ebx as point; ebx = [esi];", REG_EBX, nullptr},
    {"ebx as point; ebx = loc.x;", REG_EBX, nullptr},  // a local is a memory operand
    {"ebx as point; ebx++; ebx += 4; ebx == 0; ebx << 1;", REG_EBX, "point"},
    {"ebx = p as word;", REG_EBX, "word"},
    {"esi = 0 as point;", REG_ESI, "point"},
    {"ebx as point; bx = n;", REG_EBX, "point"},  // bx has its own entry
    {"ebx as point; bx = n;", REG_BX, "word"},
    {"ebx as point; ax = n;", REG_EBX, "point"},
};
}  // namespace register_assumptions_rows

TAVIK_TABLE(OperatorEnv, RegisterAssumptionsFollowTheStatements, register_assumptions_rows, lines);

TEST_P(RegisterAssumptionsFollowTheStatements, Assumed) {
    const register_assumptions_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    PVarType pt = pointType();
    PVarType word = type("word");
    VarMan->addVar(vmGlobal, "p", pt, 1, 0);
    VarMan->addVar(vmGlobal, "n", word, 1, 0);
    VarMan->addVar(vmLocal, "loc", pt, 1, uint32_t(-12));
    body(c.lines);
    EXPECT_EQ(RegMan->Registers[c.reg].assume, c.expect ? type(c.expect) : nullptr);
}

// The assumed type lets the register be followed by field names.
TEST_F(OperatorEnv, AnAssumedRegisterReachesFields) {
    pointType();
    body("ebx as point;\nebx.y = 5;\nesi = ebx as point;\nesi.x += eax;\neax = ebx.y;\nebx.b == 1;");
    // mov dword [ebx+4],5; mov esi,ebx; add [esi],eax; mov eax,[ebx+4]; cmp byte [ebx+8],1
    EXPECT_EQ(hex(mainCode()), "c7 43 04 05 00 00 00 8b f3 01 06 8b 43 04 80 7b 08 01");
}

// ---- failures ----

namespace failures_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"vd 5;", "[42341] Expected a math operator"},
    {"eax ecx;", "[42341] Expected a math operator"},
    {"[esi] 5;", "[42341] Expected a math operator"},
    {"vd + 1;", "[42340] Invalid math operator \"+\""},
    {"vd / 2;", "[42340] Invalid math operator \"/\""},
    {"eax - 1;", "[42340] Invalid math operator \"-\""},
    {"eax * 2;", "[42340] Invalid math operator \"*\""},
    {"eax < 1;", "[42340] Invalid math operator \"<\""},
    {"[esi] >= 1;", "[42340] Invalid math operator \">=\""},
    {"vd <= 1;", "[42340] Invalid math operator \"=<\""},  // the operator's own spelling
    {"vd = p();", "[4236] Procedures do not return values"},
    {"eax = p();", "[423] Procedures do not return values"},
    {"[esi] = p();", "[4234] Procedures do not return values"},
    {"vd = 'abc';", "[65158] Operand 2 is invalid"},
    {"vd *= 2;", "[65158] Instruction usage is not supported!"},
    {"eax = xmm0;", "[65156] Instruction usage is not supported!"},
    {"al *= bl;", "[65156] Operand 1 is invalid"},
    {"[esi] *= 2;", "[65156] Instruction usage is not supported!"},
    {"[ebx+esi*258] = eax;", "[65156] Invalid operand(s)"},  // no wrap-around into *2
    {"ds = 5;", "[45422] Instruction usage is not supported!"},
    {"ds += 1;", "[64211] Unexpected segment ds"},
    {"ebx as vd;", "[67453] Unexpected global variable vd"},
    {"ebx as eax;", "[67452] Unexpected register eax"},
    {"ebx as 1;", "[67454] Unexpected number 1"},
    {"ebx as 'x';", "[67452] Unexpected ansi string 'x'"},
    {"ebx as point nop;", "]: 7645 in ["},  // the whole text,
    {"ebx = vd as point", "]: 7645 in ["},
};
}  // namespace failures_rows

TAVIK_TABLE(OperatorEnv, OperatorFailuresCarryTheirCodes, failures_rows, lines);

TEST_P(OperatorFailuresCarryTheirCodes, Refused) {
    const failures_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    pointType();
    VarMan->addVar(vmGlobal, "vd", type("dword"), 1, 0);
    declareFunc(ltProc, "p");
    const std::string out = failure(c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_NE(out.find("Code: \n" + std::string(c.lines)), std::string::npos) << out;  // the source line
}

}  // namespace
