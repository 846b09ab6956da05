// Whole projects compiled from source text: header, standard include, text
// injected by a builder, instruction lines; checked through the function
// records, their code and fixups, and the messages.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../encoder/diff_harness.h"
#include "compile_env.h"
#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_interface.h"
#include "plugins/plugin_manager.h"

namespace {

// What the test builder hands to the compiler at its start event.
std::string g_inject;
int g_starts = 0;

TAVBOOL TAV_CALL testBuilder(TTriggerEvent evt, uint32_t) {
    if (evt == teStart) {
        ++g_starts;
        if (!g_inject.empty()) funcTable.func_execute(g_inject.data(), uint32_t(g_inject.size()));
    }
    return 1;
}

std::string hex(const std::string& s) { return enctest::hexBytes(s); }

class CompilerEnv : public tavtest::CompileEnv {
protected:
    CompilerEnv() { builder = testBuilder; }

    void SetUp() override {
        g_inject.clear();
        g_starts = 0;
        CompileEnv::SetUp();
        Plugins->registerBuilder("other", testBuilder);
    }

    // Compiles project.tav with the text; the printed text.
    std::string compile(const std::string& text, bool* aborted = nullptr) { return compileProject(text, aborted); }

    // The header and the lines, compiled; it must succeed.
    std::string body(const std::string& lines) { return compile("program test 'x';\n" + lines); }

    // The message of a project that must fail.
    std::string failure(const std::string& text) { return failedProject(text); }

    static PFunction fn(uint32_t i) { return FuncMan->getFunc(i); }
    static std::string code(uint32_t i) { return tavtest::codeOf(fn(i)); }
};

// ---- code bytes ----

namespace instruction_lines_compile_into_rtlmain_rows {
struct Case {
    const char* lines;
    const char* bytes;
};
const Case cases[] = {
    {"MOV EAX, 1;", "b8 01 00 00 00 c3"},
    {"mov eax, 1; retn;", "b8 01 00 00 00 c3"},
    // The closing ret goes by the last instruction, not the last byte.
    {"xor eax, eax; inc ebx;", "33 c0 43 c3"},
    {"add eax, ebx;", "03 c3 c3"},
    {"", "c3"},
    {"5; ;; nop;", "90 c3"},  // a bare number is skipped
    {"push 5; push eax; pop ecx;", "6a 05 50 59 c3"},
    {"imul eax, ebx, 10;", "6b c3 0a c3"},
    {"mov eax, [esi+8];\nmov [edi+ecx*4-4], edx;", "8b 46 08 89 54 8f fc c3"},
    {"int3; ret 4;", "cc c2 04 00"},
    // An instruction that emits nothing leaves the ret the last one.
    {"retn; mov eax, eax;", "c3"},
    {"retn; nop;", "c3 90 c3"},
    {"jmp 5:0x1000;", "ea 00 10 00 00 05 00 c3"},
};
}  // namespace instruction_lines_compile_into_rtlmain_rows

TAVIK_TABLE(CompilerEnv, InstructionLinesCompileIntoRtlmain, instruction_lines_compile_into_rtlmain_rows, lines);

TEST_P(InstructionLinesCompileIntoRtlmain, Row) {
    using namespace instruction_lines_compile_into_rtlmain_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    body(c.lines);
    EXPECT_EQ(hex(code(0)), c.bytes);
    EXPECT_EQ(std::string(funcName(fn(0))), "rtlmain");
    EXPECT_TRUE(fn(0)->IsCalled);
}

// The code of rtlmain disassembles to what `as` makes of the same lines.
TEST_F(CompilerEnv, CodeMatchesTheGnuAssembler) {
    REQUIRE_TOOL(enctest::toolAvailable("as") && enctest::toolAvailable("objdump"), "as or objdump (binutils)");
    const std::vector<std::string> lines = {
        "mov eax, 1",
        "MOV EBX, [esi+8]",
        "mov [edi+ecx*4-4], edx",
        "add eax, ebx",
        "lea ecx, [eax+ebx*2+16]",
        "push 0x1234",
        "push eax",
        "pop ebx",
        "xor al, cl",
        "imul eax, ebx, 10",
        "shl edx, 3",
        "sub esp, 8",
        "test ecx, ecx",
        "movzx eax, bl",
        "cld",
        "int3",
    };
    std::string src, gas = ".intel_syntax noprefix\n.code32\n";
    for (const std::string& l : lines) {
        src += l + ";\n";
        gas += l + "\n";
    }
    gas += "ret\n";
    body(src);
    std::string theirs;
    ASSERT_TRUE(enctest::gasText(dir, gas, theirs));
    const std::string d = dir.string();
    write("ours.bin", code(0));
    write("theirs.bin", theirs);
    auto decode = [&](const std::string& name) {
        const std::string out = d + "/" + name + ".txt";
        EXPECT_EQ(enctest::runShell("objdump -D -b binary -m i386 -M intel " + d + "/" + name + ".bin >" + out), 0);
        std::vector<std::string> texts;
        for (const auto& [addr, dec] : enctest::parseObjdump(enctest::readFile(out))) texts.push_back(dec.text);
        return texts;
    };
    const std::vector<std::string> ours = decode("ours"), want = decode("theirs");
    EXPECT_EQ(ours, want);
    EXPECT_EQ(ours.size(), lines.size() + 1);
}

// ---- labels and fixups ----

TEST_F(CompilerEnv, ForwardJumpGetsItsFixupAndTheLabelItsAddress) {
    body("jmp done; nop;\ndone: nop;");
    EXPECT_EQ(hex(code(0)), "90 90 90 90 90 90 90 90 90 c3");
    PFunction main = fn(0);
    ASSERT_EQ(FixMan->Count(main), 1u);
    PFixup fx = FixMan->getFixup(main, 0);
    EXPECT_EQ(fx->hint, ftJmp);
    EXPECT_EQ(fx->position, 0u);
    EXPECT_EQ(fx->size, 7);
    EXPECT_EQ(fx->jmp, jtJMP);
    EXPECT_EQ(fx->parentfunc, main);
    PFunction done = fn(fx->index);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(std::string(funcName(done)), "done");
    EXPECT_EQ(done->Type_, ltLabel);
    EXPECT_EQ(done->Address, 8u);
    EXPECT_EQ(done->Parent, main);
    EXPECT_EQ(std::string(done->ImportName), "done");
    EXPECT_TRUE(done->IsCalled);
    EXPECT_EQ(FuncMan->Count(), 2u);  // rtlmain and the one label record
}

TEST_F(CompilerEnv, LabelsBackwardForwardAndConditional) {
    body("top: nop;\njz later; jmp later; call top;\nlater: jmp top;");
    PFunction main = fn(0);
    ASSERT_EQ(FixMan->Count(main), 4u);
    EXPECT_EQ(FuncMan->Count(), 3u);  // both uses of "later" share one record
    const PFixup jz = FixMan->getFixup(main, 0), jmp = FixMan->getFixup(main, 1), call = FixMan->getFixup(main, 2),
                 back = FixMan->getFixup(main, 3);
    EXPECT_EQ(jz->jmp, jtJE);
    EXPECT_EQ(jz->position, 1u);
    EXPECT_EQ(jmp->position, 8u);
    EXPECT_EQ(jz->index, jmp->index);
    EXPECT_EQ(call->hint, ftLabel);
    EXPECT_EQ(call->position, 16u);  // after E8
    EXPECT_EQ(fn(call->index), fn(back->index));
    EXPECT_EQ(std::string(funcName(fn(back->index))), "top");
    EXPECT_EQ(fn(jz->index)->Address, 20u);
    EXPECT_EQ(fn(back->index)->Address, 0u);
    // jmp is the last instruction: rtlmain gets its ret.
    EXPECT_EQ(uint8_t(code(0).back()), 0xC3);
}

TEST_F(CompilerEnv, FarJumpToALabel) {
    body("jmp 0x10:far_lbl;\nfar_lbl:");
    EXPECT_EQ(hex(code(0)), "ea 00 00 00 00 10 00 c3");
    PFunction main = fn(0);
    ASSERT_EQ(FixMan->Count(main), 1u);
    PFixup fx = FixMan->getFixup(main, 0);
    EXPECT_EQ(fx->hint, ftRelative);
    EXPECT_EQ(fx->position, 1u);
    EXPECT_EQ(std::string(funcName(fn(fx->index))), "far_lbl");
    EXPECT_EQ(fn(fx->index)->Address, 7u);
}

TEST_F(CompilerEnv, ALabelAfterTheLastRetKeepsTheClosingRet) {
    body("jmp out; ret 4;\nout:");
    EXPECT_EQ(hex(code(0)), "90 90 90 90 90 90 90 c2 04 00 c3");
}

TEST_F(CompilerEnv, MissingLabelFailsAtItsFirstUse) {
    const std::string out = failure("program test 'x';\nnop;\n  jmp nowhere;\njmp nowhere;\n");
    EXPECT_NE(out.find("[3,14]: [00012] Label nowhere does not exist! in [project.tav]\nCode: \njmp nowhere;"),
              std::string::npos)
        << out;
}

TEST_F(CompilerEnv, MissingLabelInAnIncludeNamesTheInclude) {
    write("tavik.tav", "// standard\n\njmp far_away;\n");
    const std::string out = failure("program test 'x';\nnop;\nnop;\nnop;\n");
    EXPECT_NE(out.find("[3,13]: [00012] Label far_away does not exist! in [tavik.tav]\nCode: \njmp far_away;"),
              std::string::npos)
        << out;
}

// ---- operands ----

TEST_F(CompilerEnv, StringLiteralsArePooledAndKeptWhenReferred) {
    body("push 'hello'; push 'hello'; mov eax, \"wide\";");
    ASSERT_EQ(Consts->Count(), 2u);
    PConst a = Consts->getConst(0), w = Consts->getConst(1);
    EXPECT_EQ(tavString(a->str), "hello");
    EXPECT_EQ(a->type_, ctAnsiString);
    EXPECT_EQ(w->type_, ctWideString);
    EXPECT_TRUE(a->active && w->active);
    PFunction main = fn(0);
    ASSERT_EQ(FixMan->Count(main), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(FixMan->getFixup(main, i)->hint, ftConst);
    EXPECT_EQ(FixMan->getFixup(main, 0)->data, a);
    EXPECT_EQ(FixMan->getFixup(main, 1)->data, a);
    EXPECT_EQ(FixMan->getFixup(main, 2)->data, w);
}

// Each kind of operand from source text: its code and what its fixup names.
namespace operand_kinds_rows {
struct Case {
    const char* lines;
    const char* bytes;  // the code of rtlmain
    int fixup;          // kind of its one fixup, -1 for none
};
const Case cases[] = {
    {"fld st1;", "d9 c1 c3", -1},
    {"addps xmm1, xmm2;", "0f 58 ca c3", -1},
    {"const C = 300;\npush C; push -2;", "68 2c 01 00 00 6a fe c3", -1},
    // Named strings and floats stand for the pooled constant's address.
    {"const S = 'abc';\npush S;", "68 00 00 00 00 c3", ftConst},
    // A constant's value is an integer: a fraction is rounded away.
    {"const F = 1.5;\npush F;", "6a 02 c3", -1},
    // The address of a label or a procedure.
    {"top: push @top;", "68 00 00 00 00 c3", ftLabelAbs},
    {"call rtlmain;", "e8 00 00 00 00 c3", ftLabel},
    // A field of a global variable: its offset goes with the fixup.
    {"block P { dword x; dword y; }\nP pt;\nmov eax, pt.y;", "a1 00 00 00 00 c3", ftVar},
    {"block P { dword x; dword y; }\nP pt;\npush @pt.y;", "68 00 00 00 00 c3", ftVar},
    // The address of a memory expression.
    {"lea eax, [ebx+4]; mov eax, [ebx+ecx*2+8];", "8d 43 04 8b 44 4b 08 c3", -1},
};
}  // namespace operand_kinds_rows

TAVIK_TABLE(CompilerEnv, OperandKinds, operand_kinds_rows, lines);

TEST_P(OperandKinds, Row) {
    using namespace operand_kinds_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    body(c.lines);
    EXPECT_EQ(hex(code(0)), c.bytes);
    PFunction main = fn(0);
    if (c.fixup < 0) {
        EXPECT_EQ(FixMan->Count(main), 0u);
        return;
    }
    ASSERT_EQ(FixMan->Count(main), 1u);
    PFixup fx = FixMan->getFixup(main, 0);
    EXPECT_EQ(int(fx->hint), c.fixup);
    EXPECT_EQ(fx->position, 1u);
    EXPECT_EQ(fx->parentfunc, main);
}

// What the operands refer to is marked used, so it survives to the output.
TEST_F(CompilerEnv, OperandTargetsAreMarkedUsed) {
    body(
        "const S = 'abc';\nconst T = 'unused';\nconst W = \"wide\";\nblock P { dword x; dword y; }\nP pt;\n"
        "done: push S; push W; mov eax, pt.y; push @done;");
    PFunction main = fn(0);
    ASSERT_EQ(FixMan->Count(main), 4u);
    auto* s = static_cast<PConst>(FixMan->getFixup(main, 0)->data);
    auto* w = static_cast<PConst>(FixMan->getFixup(main, 1)->data);
    auto* v = static_cast<PVar>(FixMan->getFixup(main, 2)->data);
    EXPECT_EQ(tavString(s->str), "abc");
    EXPECT_EQ(s->type_, ctAnsiString);
    EXPECT_EQ(w->type_, ctWideString);
    EXPECT_TRUE(s->active && w->active);
    EXPECT_EQ(Consts->Count(), 2u);
    // The constant nothing referred to is dropped at the end.
    for (uint32_t i = 0; i < Consts->Count(); ++i) EXPECT_NE(tavString(Consts->getConst(i)->str), "unused");
    EXPECT_EQ(std::string(tavString(v->name)), "pt");
    EXPECT_TRUE(v->active);
    EXPECT_EQ(FixMan->getFixup(main, 2)->offset, 4u);
    PFunction done = fn(FixMan->getFixup(main, 3)->index);
    EXPECT_EQ(std::string(funcName(done)), "done");
    EXPECT_TRUE(done->IsCalled);
}

// Variables declared by the test: the statements that declare them are
// compiled by their own handlers.
TEST_F(CompilerEnv, GlobalVariablesAndTheIndexForm) {
    PVarType dword = static_cast<PVarType>(Idents->findIdent("dword")->ptr);
    PVarType byte = static_cast<PVarType>(Idents->findIdent("byte")->ptr);
    PVar arr = VarMan->addVar(vmGlobal, "arr", dword, 4, 0);
    PVar one = VarMan->addVar(vmGlobal, "one", dword, 1, 0);
    VarMan->addVar(vmGlobal, "bytes", byte, 3, 0);
    body("mov eax, arr; mov eax, arr[3]; mov al, one[3]; mov edx, arr[0]; mov al, bytes[2]; push @arr;");
    PFunction main = fn(0);
    ASSERT_EQ(FixMan->Count(main), 6u);
    const uint32_t offsets[] = {0, 12, 3, 0, 2, 0};
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        PFixup fx = FixMan->getFixup(main, i);
        EXPECT_EQ(fx->hint, ftVar);
        EXPECT_EQ(fx->offset, offsets[i]);
    }
    EXPECT_EQ(FixMan->getFixup(main, 2)->data, one);
    EXPECT_TRUE(arr->active && one->active);
    // mov al, [one+3] is the one-byte accumulator load A0.
    EXPECT_EQ(uint8_t(code(0)[10]), 0xA0);
}

namespace index_form_bounds_rows {
struct Case {
    const char* line;
    const char* message;
};
const Case cases[] = {
    {"mov al, one[4];", "[6523] offset invalid"},       // past the element
    {"mov al, arr[4];", "[5322] Array out of bounds"},  // past the last element: no byte reading there
    {"mov al, arr[-1];", "[5322] Array out of bounds"},
    {"mov al, one[-1];", "[6523] offset invalid"},
    {"mov al, arr[1][4];", "[6523] offset invalid"},  // past the element's bytes
    {"mov al, one[eax];", "[65412] Unexpected register eax"},
    {"mov al, one[1;", "[2344] Unexpected symbol ;"},
};
}  // namespace index_form_bounds_rows

TAVIK_TABLE(CompilerEnv, IndexFormBounds, index_form_bounds_rows, line);

TEST_P(IndexFormBounds, Row) {
    using namespace index_form_bounds_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.line);
    PVarType dword = static_cast<PVarType>(Idents->findIdent("dword")->ptr);
    VarMan->addVar(vmGlobal, "arr", dword, 4, 0);
    VarMan->addVar(vmGlobal, "one", dword, 1, 0);
    const std::string out = failure(std::string("program test 'x';\n") + c.line);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

TEST_F(CompilerEnv, LocalVariablesFollowTheFrameAndThePushDepth) {
    PVarType dword = static_cast<PVarType>(Idents->findIdent("dword")->ptr);
    VarMan->addVar(vmLocal, "loc", dword, 1, uint32_t(-8));
    body("mov eax, loc; push eax; mov eax, loc; lea ecx, loc;");
    // [ebp-8+4] both times: the frame does not move with pushes.
    EXPECT_EQ(hex(code(0)), "8b 45 fc 50 8b 45 fc 8d 4d fc c3");
    EXPECT_EQ(fn(0)->LocalOffset, 4u);
}

TEST_F(CompilerEnv, LocalVariablesWithoutTheFrameFollowThePushDepth) {
    CompileFlags.stackframe_on = 0;
    PVarType dword = static_cast<PVarType>(Idents->findIdent("dword")->ptr);
    VarMan->addVar(vmLocal, "loc", dword, 1, uint32_t(-8));
    body("mov eax, loc; push eax; mov eax, loc; pop edx; mov eax, loc;");
    // [esp-8], then [esp-8+4] after the push, then [esp-8] again.
    EXPECT_EQ(hex(code(0)), "8b 44 24 f8 50 8b 44 24 fc 5a 8b 44 24 f8 c3");
    EXPECT_EQ(fn(0)->LocalOffset, 0u);
}

// Pushing an address moves the stack by a word, whatever the size of what it
// points to.
TEST_F(CompilerEnv, PushingALocalsAddressMovesTheStackByAWord) {
    CompileFlags.stackframe_on = 0;
    PVarType byte = static_cast<PVarType>(Idents->findIdent("byte")->ptr);
    VarMan->addVar(vmLocal, "flag", byte, 1, uint32_t(-5));
    body("push @flag; mov al, flag;");
    // push esp; sub dword [esp], 5 stands for the address esp-5; then [esp-5+4].
    EXPECT_EQ(hex(code(0)), "54 81 2c 24 05 00 00 00 8a 44 24 ff c3");
    EXPECT_EQ(fn(0)->LocalOffset, 4u);
}

// Without the frame, locals are addressed from ESP past what was pushed:
// the depth counts the bytes each push really moves the stack by.
namespace push_depth_counts_the_bytes_pushed_rows {
struct Case {
    const char* push;
    uint32_t depth;
};
const Case cases[] = {
    {"push eax;", 4},
    {"push ax;", 4},  // pushed as eax
    {"push 5;", 4},
    {"push 0x12345678;", 4},
    {"push [ebx];", 4},
    {"push dword [ebx];", 4},
    {"push word [ebx];", 4},  // zero-extended to a word
    {"push byte [ebx];", 4},
    {"push qword [ebx];", 8},
    {"push flag;", 4},  // a byte variable
    {"push pair;", 8},
    {"push @loc;", 4},
    {"push 'text';", 4},
    {"here: push @here;", 4},
    {"push eax; pop ax;", 0},
    {"push qword [ebx]; pop pair;", 0},
    {"push flag; pop flag;", 0},
    {"push ax; push word [ebx]; push flag; push 1;", 16},
};
}  // namespace push_depth_counts_the_bytes_pushed_rows

TAVIK_TABLE(CompilerEnv, PushDepthCountsTheBytesPushed, push_depth_counts_the_bytes_pushed_rows, push);

TEST_P(PushDepthCountsTheBytesPushed, Row) {
    using namespace push_depth_counts_the_bytes_pushed_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.push);
    CompileFlags.stackframe_on = 0;
    auto type = [](const char* name) { return static_cast<PVarType>(Idents->findIdent(name)->ptr); };
    VarMan->addVar(vmLocal, "loc", type("dword"), 1, uint32_t(-8));
    VarMan->addVar(vmGlobal, "flag", type("byte"), 1, 0);
    VarMan->addVar(vmGlobal, "pair", type("qword"), 1, 0);
    body(std::string(c.push) + "\nmov ecx, loc;");
    EXPECT_EQ(fn(0)->LocalOffset, c.depth);
    // mov ecx, [esp - 8 + depth], then the closing ret
    const int32_t disp = -8 + int32_t(c.depth);
    const std::string mov = disp == 0 ? "8b 0c 24" : "8b 4c 24 " + hex(std::string(1, char(disp)));
    const std::string all = hex(code(0));
    EXPECT_EQ(all.substr(all.size() - mov.size() - 3), mov + " c3");
}

// A body compiled for a function index goes into that function, and its
// scope closes with it.
TEST_F(CompilerEnv, BodyOfAFunctionCompilesIntoItAndClosesItsScope) {
    body("nop;");
    PFunction main = fn(0);
    PFunction p = FuncMan->CreateFunction(ltProc, nullptr);
    TAFile* src = TAFile::Create();
    src->loadBuffer("body", "nop; inner: nop; jmp inner; }", nullptr);
    Compiler->F_CurFile = src;
    const uint32_t scope = Idents->upScope();
    Compiler->HandleDeclarations(int32_t(p->FuncIndex));
    EXPECT_EQ(Compiler->F_CurFunc, main);
    EXPECT_EQ(Idents->F_CurrentScope, scope - 1);
    EXPECT_EQ(Idents->findIdent("inner"), nullptr);
    EXPECT_EQ(hex(code(p->FuncIndex)), "90 90 90 90 90 90 90 90 90");
    ASSERT_EQ(FixMan->Count(p), 1u);
    PFunction inner = fn(FixMan->getFixup(p, 0)->index);
    EXPECT_EQ(inner->Parent, p);
    EXPECT_EQ(inner->Address, 1u);
    EXPECT_EQ(hex(code(0)), "90 c3");
}

// ---- the epilogue and the instruction services ----

TEST_F(CompilerEnv, EpilogueRestoresUsesThenLocalsThenLeave) {
    body("");
    PFunction p = FuncMan->CreateFunction(ltProc, nullptr);
    FuncMan->ownLists(p);
    p->UsesList->items = {"ebx", "esi"};
    p->LocalSize = 6;
    p->LocalOffset = 12;
    TOperand imm;
    imm.setImm(8, 2);
    Compiler->F_CurFunc = p;
    EXPECT_EQ(Compiler->execInstruction(p, "ret", &imm), 0u);
    // pop esi, pop ebx, add esp, 8 (6 aligned), leave, ret 8
    EXPECT_EQ(hex(code(p->FuncIndex)), "5e 5b 83 c4 08 c9 c2 08 00");
    EXPECT_EQ(p->LocalOffset, 12u);  // the code after the ret keeps its depth
    EXPECT_TRUE(Compiler->lastWasRet(p));

    // rtlmain gets no leave.
    PFunction main = fn(0);
    const size_t before = code(0).size();
    Compiler->retTriggered(main);
    EXPECT_EQ(code(0).size(), before);

    // buildInstruction hands the bytes back and leaves the code alone.
    TOperand eax;
    eax.setRegister(REG_EAX);
    const uint32_t len = p->BufLen;
    EXPECT_EQ(hex(Compiler->buildInstruction(p, "push", &eax)), "50");
    EXPECT_EQ(p->BufLen, len);
    EXPECT_EQ(p->LocalOffset, 16u);
    EXPECT_EQ(Compiler->buildInstruction(p, "nosuch", &eax), "");
    EXPECT_EQ(Compiler->buildInstruction(p, "mov", &eax), "");

    // An unknown mnemonic from a handler is an internal error, never silence.
    EXPECT_THROW(Compiler->execInstruction(p, "nosuch", &eax), EInternalError);
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(Compiler->execInstruction(p, "mov", &eax), EAbort);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[124412] "), std::string::npos) << out;
}

// Whether a function already ends in its ret is known per function: one
// that ended with a ret takes nothing from another, and a label after a ret
// starts reachable code again.
const std::string kFrame = "55 8b ec 90 90 90 90 90 90";

struct ClosingRetRow {
    const char* name;
    const char* lines;
    const char* fn;  // the function looked at
    std::string code;
};
using EachFunctionKeepsItsOwnClosingRet = tavtest::Table<CompilerEnv, ClosingRetRow>;

TEST_P(EachFunctionKeepsItsOwnClosingRet, Row) {
    const ClosingRetRow& c = GetParam();
    SCOPED_TRACE(std::string(c.lines) + " / " + c.fn);
    body(c.lines);
    PFunction f = nullptr;
    for (PFunction g : FuncMan->F_List)
        if (!f && funcName(g) == std::string(c.fn)) f = g;
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(hex(code(f->FuncIndex)), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    CompilerEnv, EachFunctionKeepsItsOwnClosingRet,
    ::testing::Values(
        ClosingRetRow{"RetOfTheFirstProcedureLeavesTheNext", "procedure p { retn; }\nprocedure q { nop; }", "q",
                      kFrame + " 90 c9 c3"},
        ClosingRetRow{"RetOfTheFirstProcedureIsItsEpilogue", "procedure p { retn; }\nprocedure q { nop; }", "p",
                      kFrame + " c9 c3"},
        ClosingRetRow{"RetAtTheTopLeavesTheProcedure", "retn;\nprocedure p { nop; }", "p", kFrame + " 90 c9 c3"},
        ClosingRetRow{"RetAtTheTopBeforeAProcedure", "retn;\nprocedure p { nop; }", "rtlmain", "c3"},
        ClosingRetRow{"RetInAProcedureLeavesTheTop", "procedure p { retn; }", "rtlmain", "c3"},
        ClosingRetRow{"TopCodeBeforeAProcedureWithRet", "nop;\nprocedure p { retn; }", "rtlmain", "90 c3"},
        ClosingRetRow{"RetOfAnInnerProcedureLeavesTheOuter", "procedure outer { procedure inner { retn; } nop; }",
                      "outer", kFrame + " 90 c9 c3"},
        ClosingRetRow{"RetOfAnInnerProcedureIsItsEpilogue", "procedure outer { procedure inner { retn; } nop; }",
                      "inner", kFrame + " c9 c3"},
        ClosingRetRow{"RetAtTheTopAfterAProcedure", "procedure p { nop; retn; }\nretn;", "rtlmain", "c3"},
        ClosingRetRow{"LabelAfterTheRetOfAProcedure", "procedure p { retn; later: }", "p", kFrame + " c9 c3 c9 c3"},
        ClosingRetRow{"LabelAfterTheRetAtTheTop", "retn; again: nop;", "rtlmain", "c3 90 c3"}),
    tavtest::RowName());

// Each check reads exactly one token, whatever it finds.
TEST_F(CompilerEnv, ExpectOperationsReadOneTokenEach) {
    body("");
    TAFile* src = TAFile::Create();
    src->loadBuffer("tokens", "; , 5 eax newname rtlmain dword program if ;", nullptr);
    Compiler->F_CurFile = src;
    TCompiler& c = *Compiler;
    EXPECT_TRUE(c.ExpectSymbol(";"));
    EXPECT_FALSE(c.ExpectSymbol(";"));  // the ","
    EXPECT_EQ(c.F_CurToken->F_String, ",");
    EXPECT_EQ(c.ExpectToken({ttRegister, ttIdent}), ttNone);  // the 5
    EXPECT_EQ(c.F_CurToken->F_Integer, 5);
    EXPECT_EQ(c.ExpectToken({ttNumber, ttRegister}), ttRegister);
    EXPECT_TRUE(c.ExpectFreeIdent());                        // newname
    EXPECT_FALSE(c.ExpectFreeIdent());                       // rtlmain is declared
    EXPECT_EQ(c.ExpectIdentType({itProc, itType}), itType);  // dword
    EXPECT_EQ(c.ExpectKeyword({keyIf}), keyNone);            // program
    EXPECT_EQ(c.F_CurToken->F_Keyword, keyProgram);
    EXPECT_EQ(c.ExpectKeyword({keyProgram, keyIf}), keyIf);
    EXPECT_EQ(c.ExpectIdentType({itProc}), itNone);  // the ";"
    EXPECT_EQ(c.ExpectToken({ttEOF}), ttEOF);
}

// ---- messages of the statement loop and the header ----

namespace statement_errors_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"foo eax;", "[9000] Unexpected ident foo"},
    {"# 5;", "[9902] Unexpected symbol \"#\""},
    {"$;", "[9902] Unexpected symbol \"$\""},
    {"#eax;", "Unknown directive: #eax"},
    {"nop; , eax;", "[9900] Unexpected symbol \",\""},
    {"imul eax, ebx, 5, 6;", "[9900] Unexpected symbol \",\""},
    {"}", "[9900] Unexpected symbol \"}\""},
    {"cdqe;", "[9998] "},
    {"mov eax;", "[9999] "},
    {"l: l: nop;", "[3001] Reserved label l"},
    {"jmp l; l nop;", "[1212] Unexpected ident nop"},
    {"else;", "[11000] Unexpected reserved keyword else"},
    {"stdcall;", "[11000] Unexpected reserved keyword stdcall"},
    {"elseif (eax == 1) { }", "[11000] Unexpected reserved keyword elseif"},
    {"until (eax == 1);", "[11000] Unexpected reserved keyword until"},
    {"as dword;", "[11000] Unexpected reserved keyword as"},
    {"union { }", "[11000] Unexpected reserved keyword union"},
    {"program test 'y';", "[10000] Unexpected reserved keyword program"},
    {"'text';", "[12000] Unexpected ansi string 'text'"},
    // a named value is no place to store into
    {"const N = 3; N = 5;", "[3002] \"N\" is a constant and cannot be assigned"},
    {"const N = 3; n += 5;", "[3002] \"n\" is a constant and cannot be assigned"},
    {"const S = 'x'; S = 5;", "[3002] \"S\" is a constant and cannot be assigned"},
    {"enum E: byte { A, B } B = 1;", "[3002] \"B\" is a constant and cannot be assigned"},
    {"#define D 4; D = 5;", "[3002] \"D\" is a define and cannot be assigned"},
    {"5 = 3;", "[9900] Unexpected symbol \"=\""},
    // a method is called only as a statement of its own
    {"block P { function get(): dword; } function P.get() { } P pt; dword r; r = pt.get();",
     "[1200] The method call pt.get cannot stand as an operand: call it as a statement, its result is in EAX"},
    {"block P { procedure put(); } procedure P.put() { } P pt; mov eax, pt.put;",
     "[1200] The method call pt.put cannot stand as an operand: call it as a statement in"},
    {"st0;", "[12000] Unexpected"},
    {"mov eax, undefined_name;", "[1111] Unexpected ident undefined_name"},
    {"ret;", "[3321] Unexpected symbol ;"},
    {"mov eax, 1.5;", "[1201] Unexpected float 1.5"},
    {"mov eax, if;", "[1200] Unexpected reserved keyword if"},
    {"mov eax, dword;", "[1200] Unexpected"},
    {"push @ebx;", "[3333] Invalid pointer reference @ebx"},
    {"push @5;", "[3333] Invalid pointer reference @5"},
    {"jmp 5:eax;", "[3434] Unexpected register eax"},
    {"jmp 5:6:7;", "[3434] Unexpected number 6"},
    // A body that the end of the input cuts off is no body.
    {"procedure p { nop;", "[9904] Unexpected EOF"},
    {"procedure p { procedure q { nop; }", "[9904] Unexpected EOF"},
};
}  // namespace statement_errors_rows

TAVIK_TABLE(CompilerEnv, StatementErrors, statement_errors_rows, lines);

TEST_P(StatementErrors, Row) {
    using namespace statement_errors_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    const std::string out = failure(std::string("program test 'x';\n") + c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(out.find("Compile OK"), std::string::npos);
}

// A closing directive or "}" outside any body or section is an error, never
// a quiet end of the project that drops the rest of it.
TEST_F(CompilerEnv, ClosingDirectiveAtTheOutermostLevelCalledDirectly) {
    compile("program test 'x';");
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(Compiler->sectionClosed("#end"), EAbort);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Unexpected directive #end outside of a section"), std::string::npos) << out;
}

namespace closing_directive_at_the_outermost_level_rows {
struct Case {
    const char* include;  // the standard include
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"", "nop;\n#end\nnop;", "[3,5]: Unexpected directive #end outside of a section in [project.tav]"},
    {"", "nop;\n#else nop;", "[3,6]: Unexpected directive #else outside of a section in [project.tav]"},
    {"", "#elseif 1 == 1: nop;", "[2,8]: Unexpected directive #elseif outside of a section in [project.tav]"},
    {"", "#if 1 == 1: nop; #end #end nop;", "Unexpected directive #end outside of a section"},
    {"", "$END nop;", "Unexpected directive $end outside of a section"},
    {"", "nop; } nop;", "[2,7]: [9900] Unexpected symbol \"}\" in [project.tav]"},
    {"", "procedure p { nop; } } nop;", "[9900] Unexpected symbol \"}\""},
    // Nor does a source nested in the project end it early.
    {"cld;\n}\n", "nop;", "[2,2]: [9900] Unexpected symbol \"}\" in [tavik.tav]"},
    {"cld; #end\n", "nop;", "Unexpected directive #end outside of a section in [tavik.tav]"},
    // A procedure's body ends at its "}" only.
    {"", "procedure p { nop; #end }", "[2,24]: Unexpected directive #end in the body of p in [project.tav]"},
    {"", "procedure o { procedure p { #else } }", "Unexpected directive #else in the body of p"},
    {"", "procedure p { #if 1: #return 1; #end }", "Unexpected directive #return in the body of p"},
};
}  // namespace closing_directive_at_the_outermost_level_rows

TAVIK_TABLE(CompilerEnv, ClosingDirectiveAtTheOutermostLevel, closing_directive_at_the_outermost_level_rows, lines);

TEST_P(ClosingDirectiveAtTheOutermostLevel, Row) {
    using namespace closing_directive_at_the_outermost_level_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    if (*c.include) write("tavik.tav", c.include);
    const std::string msg = failure(std::string("program test 'x';\n") + c.lines);
    EXPECT_NE(msg.find(c.message), std::string::npos) << msg;
    EXPECT_NE(msg.find("\nCode: \n"), std::string::npos) << msg;
}

// Deeply nested bodies end with a message at a fixed depth, not a stack
// overflow; a deep but bounded nesting compiles.
// 100000 opened bodies of one kind: procedures, ifs, or the two mixed.
std::string openBodies(const std::string& kind) {
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        if (kind == "procedures") text += "procedure p" + std::to_string(i) + " { ";
        else if (kind == "ifs") text += "if (eax == 1) { ";
        else text += i % 2 ? "while (ecx != 0) { " : "procedure q" + std::to_string(i) + " { ";
    }
    return text;
}

using BodiesNestedTooDeeply = tavtest::Table<CompilerEnv, const char*>;

TEST_P(BodiesNestedTooDeeply, AreRefused) {
    const std::string out = failure("program test 'x';\n" + openBodies(GetParam()));
    EXPECT_NE(out.find("[9903] Statements nested too deeply"), std::string::npos) << out.substr(0, 300);
}

INSTANTIATE_TEST_SUITE_P(CompilerEnv, BodiesNestedTooDeeply, ::testing::Values("procedures", "ifs", "mixed"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST_F(CompilerEnv, BodiesNestToAFixedDepth) {
    std::string deep;
    for (int i = 0; i < 400; ++i) deep += "procedure p" + std::to_string(i) + " { ";
    deep += "nop;";
    for (int i = 0; i < 400; ++i) deep += " }";
    body(deep);
    PFunction innermost = nullptr;
    for (PFunction f : FuncMan->F_List)
        if (std::string(funcName(f)) == "p399") innermost = f;
    ASSERT_NE(innermost, nullptr);
    EXPECT_EQ(hex(code(innermost->FuncIndex)), "55 8b ec 90 90 90 90 90 90 90 c9 c3");
}

// A statement may not begin with a name that stands for no statement: the
// members of a block are such names while the block is read.
TEST_F(CompilerEnv, NameOfNoStatementIsReserved) {
    Idents->addIdent(itReservedKeyword, "member", nullptr);
    const std::string out = failure("program test 'x';\nnop;\nmember;");
    EXPECT_NE(out.find("[3,7]: [3002] Reserved reserved keyword member in [project.tav]"), std::string::npos) << out;
}

// The checks that the statement loop never lets through from source text:
// an operand after the first without its ",", and a memory expression whose
// register count the tokenizer has not bounded.
TEST_F(CompilerEnv, OperandChecksBehindTheTokenizer) {
    compile("program test 'x';");
    TAFile* src = TAFile::Create();
    src->loadBuffer("operands", "eax ebx", nullptr);
    Compiler->F_CurFile = src;
    std::unique_ptr<TOperand> first(Compiler->moveNextOperand(true, false));
    EXPECT_EQ(first->hint, otRegister);
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(Compiler->moveNextOperand(false, false), EAbort);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[3123] Unexpected register ebx"), std::string::npos) << out;
}

// A define holding a memory expression with no register or with three.
using MemoryExpressionOfUnboundedRegisters = tavtest::Table<CompilerEnv, int32_t>;

TEST_P(MemoryExpressionOfUnboundedRegisters, IsRefused) {
    TCurrentToken mem;
    mem.setBaseExp(4, GetParam(), REG_EAX, REG_EBX, 8, 1);
    DefMan->addDefine("mem", &mem);
    const std::string msg = failure("program test 'x';\nmov eax, mem;\n");
    EXPECT_NE(msg.find("[2,13]: Invalid expression in [project.tav]"), std::string::npos) << msg;
}

INSTANTIATE_TEST_SUITE_P(CompilerEnv, MemoryExpressionOfUnboundedRegisters, ::testing::Values(0, 3),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return std::to_string(info.param) + "Registers";
                         });

TEST_F(CompilerEnv, PositionedMessageWithItsCodeLine) {
    const std::string out = failure("program test 'x';\nnop;\n   foo eax, 1;   \n");
    EXPECT_NE(out.find("[3,7]: [9000] Unexpected ident foo in [project.tav]\nCode: \nfoo eax, 1;\n"), std::string::npos)
        << out;
}

namespace header_errors_rows {
struct Case {
    const char* text;
    const char* message;
};
const Case cases[] = {
    {"", "[0000] Expected keyword \"program\""},
    {"nop;", "[0000] Expected keyword \"program\""},
    {"program;", "[0001] Expected identifier"},
    {"program 'x';", "[0001] Expected identifier"},
    {"program nope 'x';", "[0002] Unknown application type NOPE, installed: TEST, OTHER in [project.tav]"},
    {"program test;", "[1311] Unexpected symbol ;"},
    {"program test \"wide\";", "[1311] Unexpected wide string"},
    {"program test 'x' nop;", "[1312] Unexpected ident nop"},
    {"program test 'x'", "[1312] Unexpected"},
};
}  // namespace header_errors_rows

TAVIK_TABLE(CompilerEnv, HeaderErrors, header_errors_rows, text);

TEST_P(HeaderErrors, Row) {
    using namespace header_errors_rows;
    const Case& c = GetParam();
    SCOPED_TRACE(c.text);
    const std::string out = failure(c.text);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(g_starts, 0);
}

TEST_F(CompilerEnv, HeaderSelectsTheBuilderInAnyCase) {
    body("");
    EXPECT_EQ(Plugins->curBuilderID(), 0);
    EXPECT_EQ(g_starts, 1);
    ASSERT_NE(DefMan->getDefine("MMX_SUPPORT"), nullptr);
    EXPECT_EQ(DefMan->getDefine("MMX_SUPPORT")->F_Integer, 1);
    PIdent main = Idents->findIdent("RTLMAIN");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->type_, itProc);
    EXPECT_EQ(main->ptr, fn(0));
}

TEST_F(CompilerEnv, HeaderSelectsTheBuilderWrittenInAnotherCase) {
    compile("PROGRAM OtHeR 'any text at all';");
    EXPECT_EQ(Plugins->curBuilderID(), 1);
}

TEST_F(CompilerEnv, NoBuilderInstalled) {
    DeinitTavik();
    ::testing::internal::CaptureStdout();
    InitTavik();
    ::testing::internal::GetCapturedStdout();
    CompileFlags.cpu_bits = 32;
    // The message names the folder searched and what was missing there.
    strTAVIK_PATH = dir.string() + "/";
    const std::string folder = dir.string() + "/plugins/";
    std::string out = failure("program test 'x';");
    EXPECT_NE(out.find("[1,12]: [0002] Unknown application type TEST: no plug-in was found, as there is no folder " +
                       folder + " in [project.tav]"),
              std::string::npos)
        << out;
    std::filesystem::create_directories(folder);
    out = failure("program test 'x';");
    EXPECT_NE(out.find("[0002] Unknown application type TEST: no plug-in was found in " + folder + " in [project.tav]"),
              std::string::npos)
        << out;
}

TEST_F(CompilerEnv, MissingProject) {
    bool stopped = false;
    ::testing::internal::CaptureStdout();
    try {
        Compiler->LoadProject((dir / "none.tav").string());
    } catch (const EAbort&) {
        stopped = true;
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(stopped);
    EXPECT_NE(out.find((dir / "none.tav").string() + " does not exist"), std::string::npos) << out;
}

// ---- the standard include and nested sources ----

TEST_F(CompilerEnv, StandardIncludeMissingOnlyWarns) {
    const std::string out = body("nop;");
    EXPECT_NE(out.find("Warning: [0010] Include file not found \"tavik.tav\""), std::string::npos) << out;
    EXPECT_EQ(Log->WarningCount(), 1u);
    EXPECT_EQ(hex(code(0)), "90 c3");
    EXPECT_EQ(fileCounter, 1u);
}

TEST_F(CompilerEnv, StandardIncludeSearchOrder) {
    write("includes/tavik.tav", "cld;");
    std::string out = body("nop;");
    EXPECT_EQ(out.find("[0010]"), std::string::npos) << out;
    EXPECT_EQ(hex(code(0)), "fc 90 c3");
}

TEST_F(CompilerEnv, StandardIncludeOfTheProjectsFolderComesFirst) {
    write("includes/tavik.tav", "cld;");
    write("tavik.tav", "std;");  // the project's folder comes first
    body("nop;");
    EXPECT_EQ(hex(code(0)), "fd 90 c3");
}

TEST_F(CompilerEnv, SourcesNestAndReturnToTheirParents) {
    g_inject = "int3;\nint3;";
    write("tavik.tav", "// the standard include\ncld;\n\nstd;\n");
    body("nop;\n\nnop;\n");
    // The builder's text, then the standard include, then the project.
    EXPECT_EQ(hex(code(0)), "cc cc fc fd 90 90 c3");
    EXPECT_EQ(fileCounter, 2u);                   // the project and its include; injected text is no file
    EXPECT_EQ(Compiler->F_ListFiles.size(), 4u);  // with the macro master and the plug-in buffer
    // Each source counts its line feeds and its reads at the end: the text
    // once; the include once; the project twice, since the loop that the
    // builder's text started ran to its end and the outer loop then met it.
    std::map<std::string, uint32_t> lines;
    for (const TAFile* f : Compiler->F_ListFiles)
        lines[std::filesystem::path(f->F_FileName).filename().string()] = f->F_TotalLines;
    EXPECT_EQ(lines["plugin buffer"], 1u + 1u);
    EXPECT_EQ(lines["tavik.tav"], 4u + 1u);
    EXPECT_EQ(lines["project.tav"], 4u + 2u);
    EXPECT_EQ(Compiler->GetTotalLines(), 13u);
    EXPECT_EQ(Compiler->F_CurFile->F_FileName, (dir / "project.tav").string());
    EXPECT_EQ(Compiler->F_CurFile->F_Parent, nullptr);
}

// The shipped standard include compiles before the project and gives it
// the console constants.
TEST_F(CompilerEnv, ShippedStandardInclude) {
    strTAVIK_PATH = std::string(TAVIK_BIN_DIR) + "/";
    bool aborted = false;
    const std::string out = compile("program test 'x';\npush STD_OUTPUT_HANDLE; push GENERIC_READ;", &aborted);
    ASSERT_FALSE(aborted) << out;
    EXPECT_EQ(out.find("[0010]"), std::string::npos) << out;
    EXPECT_EQ(hex(code(0)), "6a f5 68 00 00 00 80 c3");
}

}  // namespace
