#include "encoder/instructions.h"

#include <utility>
#include <array>

namespace {

using G = TInstructionGroup;

constexpr TInstruction row(std::string_view n, G g, uint32_t f, uint32_t f2, uint8_t mn, uint8_t mx, uint32_t op1,
                           uint32_t op2, uint8_t r) {
    return TInstruction{n, g, f, f2, mn, mx, op1, op2, r};
}

// igEMIT rows: the bytes as written, left aligned; the byte count gives the form bit.
constexpr TInstruction em(std::string_view n, uint32_t op, int bytes, uint32_t extra = 0) {
    uint32_t f = bytes == 3 ? uint32_t(IF_EMIT3) : bytes == 2 ? uint32_t(IF_EMIT2) : 0u;
    return row(n, igEMIT, f | extra, 0, 0, 0, op, 0, 0);
}
constexpr TInstruction e1(std::string_view n, uint32_t b1, uint32_t extra = 0) { return em(n, b1 << 24, 1, extra); }
constexpr TInstruction e2(std::string_view n, uint32_t b1, uint32_t b2, uint32_t extra = 0) {
    return em(n, b1 << 24 | b2 << 16, 2, extra);
}
constexpr TInstruction e3(std::string_view n, uint32_t b1, uint32_t b2, uint32_t b3) {
    return em(n, b1 << 24 | b2 << 16 | b3 << 8, 3);
}
constexpr TInstruction two(std::string_view n, G g, uint32_t op1 = 0, uint8_t r = 0) {
    return row(n, g, 0, 0, 2, 2, op1, 0, r);
}
constexpr TInstruction one(std::string_view n, G g, uint32_t op1 = 0, uint32_t op2 = 0, uint8_t r = 0, uint32_t f = 0) {
    return row(n, g, f, 0, 1, 1, op1, op2, r);
}
constexpr TInstruction sse(std::string_view n, uint32_t op1, uint32_t f = IF_XMM, uint32_t f2 = IF_XMM | IF_MEM,
                           uint32_t op2 = 0, uint8_t r = 0) {
    return row(n, igSSE, f, f2, 2, 2, op1, op2, r);
}
// Rows that admit mm and xmm registers alike (66 is added for xmm).
constexpr uint32_t MX = IF_MMX | IF_XMM;
constexpr uint32_t MXM = IF_MMX | IF_XMM | IF_MEM;
constexpr uint32_t SHIFT2 = IF_MMX | IF_XMM | IF_MEM | IF_IMM8;
// The scalar rows read a single (4 bytes) or a double (8) from memory.
constexpr uint32_t SS = IF_XMM | IF_MEM | IF_M32;
constexpr uint32_t SD = IF_XMM | IF_MEM | IF_M64;

// clang-format off
constexpr TInstruction source[] = {
    // igEMIT
    e1("aaa", 0x37), e2("aad", 0xD5, 0x0A), e2("aam", 0xD4, 0x0A), e1("aas", 0x3F),
    e2("cbw", 0x66, 0x98, IF_OSZ16), e1("clc", 0xF8), e1("cld", 0xFC), e1("cmc", 0xF5),
    e1("daa", 0x27), e1("das", 0x2F), e1("nop", 0x90), e2("ud2", 0x0F, 0x0B), e1("stc", 0xF9),
    e1("std", 0xFD), row("int", igEMIT, IF_EMITIMM, 0, 1, 1, 0xCD000000, 0, 0), e1("cli", 0xFA),
    e1("sti", 0xFB), e1("hlt", 0xF4), e1("rep", 0xF3), e2("cdqe", 0x48, 0x98, IF_ONLY64),
    e1("cwde", 0x98, IF_OSZ32), e2("emms", 0x0F, 0x77), e2("fabs", 0xD9, 0xE1),
    e2("fchs", 0xD9, 0xE0), e2("fcos", 0xD9, 0xFF), e2("fld1", 0xD9, 0xE8), e2("fldz", 0xD9, 0xEE),
    e2("fnop", 0xD9, 0xD0), e2("fsin", 0xD9, 0xFE), e2("ftst", 0xD9, 0xE4), e2("fxam", 0xD9, 0xE5),
    e1("int3", 0xCC), e1("sahf", 0x9E), e1("lock", 0xF0), e1("repn", 0xF2), e1("repe", 0xF3),
    e1("repz", 0xF3), e1("repne", 0xF2), e1("repnz", 0xF2), e1("movsb", 0xA4),
    e2("movsw", 0x66, 0xA5, IF_OSZ16), e1("movsd", 0xA5, IF_OSZ32), e1("scasb", 0xAE),
    e2("scasw", 0x66, 0xAF, IF_OSZ16), e1("scasd", 0xAF, IF_OSZ32), e1("stosb", 0xAA),
    e2("stosw", 0x66, 0xAB, IF_OSZ16), e1("stosd", 0xAB, IF_OSZ32), e1("lodsb", 0xAC),
    e2("lodsw", 0x66, 0xAD, IF_OSZ16), e1("lodsd", 0xAD, IF_OSZ32), e2("cpuid", 0x0F, 0xA2, IF_MODE32),
    e2("f2xm1", 0xD9, 0xF0), e3("fclex", 0x9B, 0xDB, 0xE2), e2("femms", 0x0F, 0x0E),
    e3("finit", 0x9B, 0xDB, 0xE3), e2("fldpi", 0xD9, 0xEB), e2("fprem", 0xD9, 0xF8),
    e2("fptan", 0xD9, 0xF2), e2("fsqrt", 0xD9, 0xFA), e1("fwait", 0x9B), e1("leave", 0xC9),
    e3("mwait", 0x0F, 0x01, 0xC9), e2("pause", 0xF3, 0x90), e1("popad", 0x61, IF_OSZ32),
    e1("popfd", 0x9D, IF_OSZ32), e1("popfq", 0x9D), e2("fyl2x", 0xD9, 0xF1), e2("fcompp", 0xDE, 0xD9),
    e2("fldl2e", 0xD9, 0xEA), e2("fldl2t", 0xD9, 0xE9), e2("fldlg2", 0xD9, 0xEC),
    e2("fldln2", 0xD9, 0xED), e2("fnclex", 0xDB, 0xE2), e2("fninit", 0xDB, 0xE3),
    e2("fpatan", 0xD9, 0xF3), e2("fprem1", 0xD9, 0xF5), e2("fscale", 0xD9, 0xFD),
    e3("lfence", 0x0F, 0xAE, 0xE8), e3("mfence", 0x0F, 0xAE, 0xF0), e3("sfence", 0x0F, 0xAE, 0xF8),
    e1("pushad", 0x60, IF_OSZ32), e1("pushfd", 0x9C, IF_OSZ32), e1("pushfq", 0x9C),
    e2("fdecstp", 0xD9, 0xF6), e2("fincstp", 0xD9, 0xF7), e2("frndint", 0xD9, 0xFC),
    e2("fsincos", 0xD9, 0xFB), e2("fucompp", 0xDA, 0xE9), e2("fyl2xp1", 0xD9, 0xF9),
    e3("monitor", 0x0F, 0x01, 0xC8), e1("cmpsb", 0xA6), e2("cmpsw", 0x66, 0xA7, IF_OSZ16),
    e1("cmpsd", 0xA7, IF_OSZ32),
    // igALU
    two("or", igALU, 0x08800000, 1), two("add", igALU, 0x00800000, 0), two("adc", igALU, 0x10800000, 2),
    two("and", igALU, 0x20800000, 4), two("cmp", igALU, 0x38800000, 7), two("sbb", igALU, 0x18800000, 3),
    two("sub", igALU, 0x28800000, 5), two("xor", igALU, 0x30800000, 6),
    two("lea", igLEA, 0x8D000000),
    one("push", igPUSH, 0x50, 0xFF, 6), one("pop", igPOP, 0x58, 0x8F, 0), one("call", igCALL),
    two("mov", igMOV), two("test", igTEST), two("xchg", igXCHG),
    // r/m, reg like xchg, without its short forms: the opcode of the word forms
    two("xadd", igXCHG, 0x0FC1), two("cmpxchg", igXCHG, 0x0FB1),
    row("imul", igIMUL, 0, 0, 1, 3, 0, 0, 0), two("movq", igMMU_MOVQ),
    one("ret", igRET), row("retn", igRET, 0, 0, 0, 0, 0, 0, 0),
    // igGOTO: the condition code; 16 is unconditional
    one("jo", igGOTO, 0), one("jb", igGOTO, 2), one("jc", igGOTO, 2), one("jz", igGOTO, 4),
    one("je", igGOTO, 4), one("ja", igGOTO, 7), one("js", igGOTO, 8), one("jp", igGOTO, 0xA),
    one("jl", igGOTO, 0xC), one("jg", igGOTO, 0xF), one("jmp", igGOTO, 0x10, 0, 0, IF_DIRECT),
    one("jne", igGOTO, 5), one("jnz", igGOTO, 5), one("jno", igGOTO, 1), one("jae", igGOTO, 3),
    one("jnb", igGOTO, 3), one("jnc", igGOTO, 3), one("jbe", igGOTO, 6), one("jna", igGOTO, 6),
    one("jns", igGOTO, 9), one("jnp", igGOTO, 0xB), one("jpo", igGOTO, 0xB), one("jge", igGOTO, 0xD),
    one("jnl", igGOTO, 0xD), one("jle", igGOTO, 0xE), one("jng", igGOTO, 0xE), one("jpe", igGOTO, 0xA),
    one("goto", igGOTO, 0x10), one("jnae", igGOTO, 2), one("jnbe", igGOTO, 7), one("jnge", igGOTO, 0xC),
    one("jnle", igGOTO, 0xF),
    // igINCDEC
    one("dec", igINCDEC, 0x48, 0xFE, 1), one("inc", igINCDEC, 0x40, 0xFE, 0),
    // igBT
    row("bt", igBT, 0, 0, 2, 2, 0x0FA3, 0x0FBA, 4), row("btc", igBT, 0, 0, 2, 2, 0x0FBB, 0x0FBA, 7),
    row("btr", igBT, 0, 0, 2, 2, 0x0FB3, 0x0FBA, 6), row("bts", igBT, 0, 0, 2, 2, 0x0FAB, 0x0FBA, 5),
    // igROT
    two("shl", igROT, 0, 4), two("rcl", igROT, 0, 2), two("rol", igROT, 0, 0), two("ror", igROT, 0, 1),
    two("sal", igROT, 0, 4), two("sar", igROT, 0, 7), two("shr", igROT, 0, 5), two("rcr", igROT, 0, 3),
    // igRM_S
    one("seta", igRM_S, 0x0F97), one("setb", igRM_S, 0x0F92), one("setc", igRM_S, 0x0F92),
    one("sete", igRM_S, 0x0F94), one("setg", igRM_S, 0x0F9F), one("setl", igRM_S, 0x0F9C),
    one("seto", igRM_S, 0x0F90), one("setp", igRM_S, 0x0F9A), one("sets", igRM_S, 0x0F98),
    one("setz", igRM_S, 0x0F94), one("setae", igRM_S, 0x0F93), one("setbe", igRM_S, 0x0F96),
    one("setge", igRM_S, 0x0F9D), one("setle", igRM_S, 0x0F9E), one("setna", igRM_S, 0x0F96),
    one("setnb", igRM_S, 0x0F93), one("setnc", igRM_S, 0x0F93), one("setne", igRM_S, 0x0F95),
    one("setng", igRM_S, 0x0F9E), one("setnl", igRM_S, 0x0F9D), one("setno", igRM_S, 0x0F91),
    one("setnp", igRM_S, 0x0F9B), one("setns", igRM_S, 0x0F99), one("setnz", igRM_S, 0x0F95),
    one("setpe", igRM_S, 0x0F9A), one("setpo", igRM_S, 0x0F9B), one("setnae", igRM_S, 0x0F92),
    one("setnbe", igRM_S, 0x0F97), one("setnge", igRM_S, 0x0F9C), one("setnle", igRM_S, 0x0F9F),
    // igMOVSX_MOVZX
    two("movsx", igMOVSX_MOVZX, 0x0FBE), two("movzx", igMOVSX_MOVZX, 0x0FB6),
    // igREGMEM
    one("div", igREGMEM, 0xF6, 0, 6), one("mul", igREGMEM, 0xF6, 0, 4), one("neg", igREGMEM, 0xF6, 0, 3),
    one("not", igREGMEM, 0xF6, 0, 2), one("idiv", igREGMEM, 0xF6, 0, 7),
    // igREG_REGMEM
    two("bsf", igREG_REGMEM, 0x0FBC), two("bsr", igREG_REGMEM, 0x0FBD), two("cmova", igREG_REGMEM, 0x0F47),
    two("cmovb", igREG_REGMEM, 0x0F42), two("cmovc", igREG_REGMEM, 0x0F42),
    two("cmove", igREG_REGMEM, 0x0F44), two("cmovg", igREG_REGMEM, 0x0F4F),
    two("cmovl", igREG_REGMEM, 0x0F4C), two("cmovo", igREG_REGMEM, 0x0F40),
    two("cmovp", igREG_REGMEM, 0x0F4A), two("cmovs", igREG_REGMEM, 0x0F48),
    two("cmovz", igREG_REGMEM, 0x0F44), two("cmovae", igREG_REGMEM, 0x0F43),
    two("cmovbe", igREG_REGMEM, 0x0F46), two("cmovge", igREG_REGMEM, 0x0F4D),
    two("cmovle", igREG_REGMEM, 0x0F4E), two("cmovna", igREG_REGMEM, 0x0F46),
    two("cmovnb", igREG_REGMEM, 0x0F43), two("cmovnc", igREG_REGMEM, 0x0F43),
    two("cmovne", igREG_REGMEM, 0x0F45), two("cmovng", igREG_REGMEM, 0x0F4E),
    two("cmovnl", igREG_REGMEM, 0x0F4D), two("cmovno", igREG_REGMEM, 0x0F41),
    two("cmovnp", igREG_REGMEM, 0x0F4B), two("cmovns", igREG_REGMEM, 0x0F49),
    two("cmovnz", igREG_REGMEM, 0x0F45), two("cmovpe", igREG_REGMEM, 0x0F4A),
    two("cmovpo", igREG_REGMEM, 0x0F4B), two("popcnt", igREG_REGMEM, 0xF3000FB8),
    two("cmovnae", igREG_REGMEM, 0x0F42), two("cmovnbe", igREG_REGMEM, 0x0F47),
    two("cmovnge", igREG_REGMEM, 0x0F4C), two("cmovnle", igREG_REGMEM, 0x0F4F),
    // igX87_FPU_S and igX87_FPU
    one("fcom", igX87_FPU_S, 0xD8DCD0D0, 0, 2), one("fcomp", igX87_FPU_S, 0xD8DCD8D8, 0, 3),
    row("fadd", igX87_FPU, 0, 0, 1, 2, 0xD8DCC0C0, 0, 0), row("fmul", igX87_FPU, 0, 0, 1, 2, 0xD8DCC8C8, 0, 1),
    row("fsub", igX87_FPU, 0, 0, 1, 2, 0xD8DCE0E8, 0, 4), row("fsubr", igX87_FPU, 0, 0, 1, 2, 0xD8DCE8E0, 0, 5),
    row("fdiv", igX87_FPU, 0, 0, 1, 2, 0xD8DCF0F8, 0, 6), row("fdivr", igX87_FPU, 0, 0, 1, 2, 0xD8DCF8F0, 0, 7),
    // igX87_MEM_STI and igX87_MEM
    one("fld", igX87_MEM_STI, 0xD9DD00, 0xD9C0DB05, 0, 0x1C000),
    one("fst", igX87_MEM_STI, 0xD9DD02, 0xDDD00000, 2, 0xC000),
    one("fstp", igX87_MEM_STI, 0xD9DD03, 0xDDD8DB07, 3, 0x1C000),
    one("fild", igX87_MEM, 0xDFDBDF05, 0, 0, 0xE000), one("fist", igX87_MEM, 0xDFDB0000, 0, 2, 0x6000),
    one("fiadd", igX87_MEM, 0xDEDA0000, 0, 0, 0x6000), one("ficom", igX87_MEM, 0xDEDA0000, 0, 2, 0x6000),
    one("fidiv", igX87_MEM, 0xDEDA0000, 0, 6, 0x6000), one("fimul", igX87_MEM, 0xDEDA0000, 0, 1, 0x6000),
    one("fistp", igX87_MEM, 0xDFDBDF07, 0, 3, 0xE000), one("fisub", igX87_MEM, 0xDEDA0000, 0, 4, 0x6000),
    one("fisttp", igX87_MEM, 0xDFDBDD01, 0, 1, 0xE000), one("ficomp", igX87_MEM, 0xDEDA0000, 0, 3, 0x6000),
    one("fidivr", igX87_MEM, 0xDEDA0000, 0, 7, 0x6000), one("fisubr", igX87_MEM, 0xDEDA0000, 0, 5, 0x6000),
    // igSSE
    sse("pand", 0x000FDB00, MX, MXM), sse("addpd", 0x660F5800), sse("addps", 0x000F5800),
    sse("addsd", 0xF20F5800, IF_XMM, SD), sse("addss", 0xF30F5800, IF_XMM, SS), sse("andpd", 0x660F5400),
    sse("andps", 0x000F5400),
    sse("pslld", 0x000FF200, MX, SHIFT2, 0x000F7200, 6), sse("psllq", 0x000FF300, MX, SHIFT2, 0x000F7300, 6),
    sse("psllw", 0x000FF100, MX, SHIFT2, 0x000F7100, 6), sse("psrad", 0x000FE200, MX, SHIFT2, 0x000F7200, 4),
    sse("psraw", 0x000FE100, MX, SHIFT2, 0x000F7100, 4), sse("psrld", 0x000FD200, MX, SHIFT2, 0x000F7200, 2),
    sse("psrlq", 0x000FD300, MX, SHIFT2, 0x000F7300, 2), sse("psrlw", 0x000FD100, MX, SHIFT2, 0x000F7100, 2),
    // The XMM-only integer rows without a mandatory prefix admit mm too, so
    // that an xmm operand gets its 66.
    sse("psubb", 0x000FF800, MX, MXM), sse("psubd", 0x000FFA00, MX, MXM), sse("psubq", 0x000FFB00, MX, MXM),
    sse("maxpd", 0x660F5F00), sse("maxps", 0x000F5F00), sse("maxsd", 0xF20F5F00, IF_XMM, SD),
    sse("maxss", 0xF30F5F00, IF_XMM, SS),
    sse("minpd", 0x660F5D00), sse("minps", 0x000F5D00), sse("minsd", 0xF20F5D00, IF_XMM, SD),
    sse("minss", 0xF30F5D00, IF_XMM, SS),
    sse("pabsb", 0x000F381C, MX, MXM), sse("pabsd", 0x000F381E, MX, MXM), sse("pabsw", 0x000F381D, MX, MXM),
    sse("paddb", 0x000FFC00, MX, MXM), sse("paddd", 0x000FFE00, MX, MXM), sse("paddq", 0x000FD400, MX, MXM),
    sse("paddw", 0x000FFD00, MX, MXM), sse("pandn", 0x000FDF00, MX, MXM), sse("pavgb", 0x000FE000, MX, MXM),
    sse("pavgw", 0x000FE300, MX, MXM), sse("psubw", 0x000FF900, MX, MXM), sse("ptest", 0x660F3817),
    sse("divpd", 0x660F5E00), sse("divps", 0x000F5E00), sse("divsd", 0xF20F5E00, IF_XMM, SD),
    sse("divss", 0xF30F5E00, IF_XMM, SS),
    sse("mulpd", 0x660F5900), sse("mulps", 0x000F5900), sse("mulsd", 0xF20F5900, IF_XMM, SD),
    sse("mulss", 0xF30F5900, IF_XMM, SS),
    sse("lddqu", 0xF20FF000, IF_XMM, IF_MEM), sse("subpd", 0x660F5C00), sse("subps", 0x000F5C00),
    sse("subsd", 0xF20F5C00, IF_XMM, SD), sse("subss", 0xF30F5C00, IF_XMM, SS), sse("xorpd", 0x660F5700),
    sse("xorps", 0x000F5700),
    sse("andnpd", 0x660F5500), sse("andnps", 0x000F5500), sse("comisd", 0x660F2F00, IF_XMM, SD),
    sse("comiss", 0x000F2F00, IF_XMM, SS),
    sse("haddpd", 0x660F7C00), sse("haddps", 0xF20F7C00), sse("hsubpd", 0x660F7D00), sse("hsubps", 0xF20F7D00),
    sse("paddsb", 0x000FEC00, MX, MXM), sse("paddsw", 0x000FED00, MX, MXM), sse("phaddw", 0x000F3801, MX, MXM),
    sse("phsubd", 0x000F3806, MX, MXM), sse("phsubw", 0x000F3805, MX, MXM), sse("pmaxsb", 0x660F383C),
    sse("pmaxsd", 0x660F383D), sse("pmaxsw", 0x000FEE00, MX, MXM), sse("pmaxub", 0x000FDE00, MX, MXM),
    sse("pmaxud", 0x660F383F), sse("pmaxuw", 0x660F383E), sse("pminsb", 0x660F3838), sse("pminsd", 0x660F3839),
    sse("pminsw", 0x000FEA00, MX, MXM), sse("pminub", 0x000FDA00, MX, MXM), sse("pminud", 0x660F383B),
    sse("pminuw", 0x660F383A), sse("pmuldq", 0x660F3828), sse("pmulhw", 0x000FE500, MX, MXM),
    sse("pmulld", 0x660F3840), sse("pmullw", 0x000FD500, MX, MXM), sse("psignb", 0x000F3808, MX, MXM),
    sse("psignd", 0x000F380A, MX, MXM), sse("psignw", 0x000F3809, MX, MXM), sse("psubsb", 0x000FE800, MX, MXM),
    sse("psubsw", 0x000FE900, MX, MXM), sse("pslldq", 0, IF_XMM, IF_IMM8, 0x660F7300, 7),
    sse("psrldq", 0, IF_XMM, IF_IMM8, 0x660F7300, 3), sse("sqrtpd", 0x660F5100), sse("sqrtps", 0x000F5100),
    sse("sqrtsd", 0xF20F5100, IF_XMM, SD), sse("sqrtss", 0xF30F5100, IF_XMM, SS),
    // movq2dq: an xmm register from an mm register only.
    sse("movq2dq", 0xF30FD600, IF_XMM, IF_MMX), sse("paddusb", 0x000FDC00, MX, MXM),
    sse("paddusw", 0x000FDD00, MX, MXM), sse("pcmpeqb", 0x000F7400, MX, MXM), sse("pcmpeqd", 0x000F7600, MX, MXM),
    sse("pcmpeqq", 0x660F3829), sse("pcmpeqw", 0x000F7500, MX, MXM), sse("pcmpgtb", 0x000F6400, MX, MXM),
    sse("pcmpgtd", 0x000F6600, MX, MXM), sse("pcmpgtq", 0x660F3837), sse("pcmpgtw", 0x000F6500, MX, MXM),
    sse("phaddsw", 0x000F3803, MX, MXM), sse("phsubsw", 0x000F3807, MX, MXM), sse("pmaddwd", 0x000FF500, MX, MXM),
    sse("pmulhuw", 0x000FE400, MX, MXM), sse("pmuludq", 0x000FF400, MX, MXM), sse("psubusb", 0x000FD800, MX, MXM),
    sse("psubusw", 0x000FD900, MX, MXM), sse("ucomisd", 0x660F2E00, IF_XMM, SD), sse("ucomiss", 0x000F2E00, IF_XMM, SS),
    sse("addsubpd", 0x660FD000), sse("addsubps", 0xF20FD000),
};
// clang-format on
static_assert(std::size(source) == instructionCount, "the table holds 369 mnemonics");

// The table grouped by name length (stable: within a length the rows keep
// their order above), so that a repeated name stands in its own group. The
// lookup goes through the word table, which holds each name's row.
constexpr std::array<TInstruction, instructionCount> byLength() {
    std::array<TInstruction, instructionCount> a{};
    for (size_t i = 0; i < instructionCount; ++i) a[i] = source[i];
    for (size_t i = 1; i < instructionCount; ++i)  // insertion sort keeps it stable
        for (size_t j = i; j > 0 && a[j - 1].name.size() > a[j].name.size(); --j) std::swap(a[j - 1], a[j]);
    return a;
}
constexpr std::array<TInstruction, instructionCount> sorted = byLength();

constexpr bool wellFormed() {
    for (size_t i = 0; i < instructionCount; ++i) {
        size_t len = sorted[i].name.size();
        if (len < minMnemonicLength || len > maxMnemonicLength) return false;
        if (sorted[i].group >= ig__TOTAL) return false;
        if (sorted[i].group == igSSE && sorted[i].flags == 0) return false;
        // rows are grouped by length: a duplicate can only stand in the same group
        for (size_t j = i + 1; j < instructionCount && sorted[j].name.size() == len; ++j)
            if (sorted[j].name == sorted[i].name) return false;
    }
    return true;
}
static_assert(wellFormed(), "names of 2 to 8 letters, each once");

}  // namespace

const std::array<TInstruction, instructionCount> instructions = sorted;
