#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Encoding families; the row's group selects the routine of TTavAssembler::assemble.
enum TInstructionGroup : uint8_t {
    igEMIT = 0,
    igALU,
    igLEA,
    igPUSH,
    igPOP,
    igCALL,
    igGOTO,
    igINCDEC,
    igBT,
    igROT,
    igRM_S,
    igMMU_MOVQ,
    igMOVSX_MOVZX,
    igMOV,
    igTEST,
    igREGMEM,
    igRET,
    igXCHG,
    igIMUL,
    igREG_REGMEM,
    igX87_FPU_S,
    igX87_FPU,
    igX87_MEM_STI,
    igX87_MEM,
    igSSE,
    ig__TOTAL
};

// Row bits of TInstruction::flags (and, on igSSE rows, flags2).
enum : uint32_t {
    IF_EMIT2 = 0x1,   // igEMIT: opcode bytes 1 and 2
    IF_EMIT3 = 0x2,   // igEMIT: opcode bytes 1, 2 and 3
    IF_MODE32 = 0x4,  // tied to the 32- and 64-bit modes
    IF_ONLY64 = 0x8,  // exists only in 64-bit mode
    IF_XMM = 0x10,    // igSSE: an xmm register
    IF_R32 = 0x40,    // igSSE: a 32-bit general register
    IF_R64 = 0x80,    // igSSE: a 64-bit general register
    IF_MMX = 0x100,   // igSSE: an mm register
    IF_IMM8 = 0x200,  // igSSE: an 8-bit immediate
    IF_MEM = 0x800,   // igSSE: a memory operand
    IF_M16 = 0x2000,  // x87 memory forms by operand size; on igSSE flags2,
                      // IF_M32 or IF_M64: the size a scalar row reads
    IF_M32 = 0x4000,
    IF_M64 = 0x8000,
    IF_M80 = 0x10000,
    IF_EMITIMM = 0x20000,  // igEMIT: opcode byte 1 and one immediate byte
    // The operand size of an igEMIT row: a word row carries its 66 in byte 1,
    // which means the other size in 16-bit mode; a dword row needs 66 there.
    IF_OSZ16 = 0x100000,
    IF_OSZ32 = 0x200000,
    IF_DIRECT = 0x400000,  // igGOTO: also takes a number or a far target
};

// One row of the instruction table. Opcode columns are packed most
// significant byte first (byte 1 = bits 31-24).
struct TInstruction {
    std::string_view name;
    TInstructionGroup group;
    uint32_t flags;
    uint32_t flags2;
    uint8_t minpar;
    uint8_t maxpar;
    uint32_t opcode1;
    uint32_t opcode2;
    uint8_t opcode_r;
};
using PInstruction = const TInstruction*;

constexpr size_t instructionCount = 369;
extern const std::array<TInstruction, instructionCount> instructions;

// Names are 2 to 8 letters long.
constexpr size_t minMnemonicLength = 2;
constexpr size_t maxMnemonicLength = 8;
