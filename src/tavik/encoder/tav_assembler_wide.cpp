// Operands wider than the instruction: a qword in memory as two dwords
// where the result is exact, and the refusal of every other form, so that
// no instruction silently acts on the low dword (the low word in 16-bit
// code) alone. Also the size an MMX or SSE memory operand is accessed in.
#include "encoder/tav_assembler.h"

using namespace tavasm;

namespace {

uint32_t g_WideSize = 8;  // the size of the last operand refused for its width

TOperand dwordAt(const TOperand* op, int32_t offset) {
    TOperand t = *op;
    t.size = 4;
    t.displacement = int32_t(uint32_t(op->displacement) + uint32_t(offset));
    return t;
}

TOperand dwordReg(uint8_t n) {
    TOperand t;
    t.setRegister(TRegister(REG_EAX + n));
    return t;
}

bool stackBased(const TOperand* op) {
    if (op->reg_count == 0 || (op->reg_count == 1 && op->scale > 1)) return false;
    return op->reg_base == REG_ESP;
}

}  // namespace

uint32_t TTavAssembler::refuseWide(uint32_t size) {
    g_WideSize = size;
    return asmNoQwordForm;
}

std::string TTavAssembler::wideText() {
    if (g_WideSize == 8) return "No qword form of this instruction!";
    return "No form of this instruction for an operand of " + std::to_string(g_WideSize) + " bytes!";
}

// A qword shifted by a constant 1..31: the half the bits leave by is
// shifted, and the other half takes them from a copy of the first in a
// scratch register (shld, shrd), saved on the stack meanwhile. The carry is
// the last bit shifted out of the qword. Rotations and counts in cl have no
// such sequence.
uint32_t TTavAssembler::rotWide(PInstruction row, POperand p1, POperand p2) {
    const uint32_t size = wideSize(p1);
    const uint8_t digit = row->opcode_r;
    const bool left = digit == 4, right = digit == 5 || digit == 7;
    if (size != 8 || p1->hint != otMem || !(left || right) || !isImm(p2)) return refuseWide(size);
    if (uint32_t r = checkRange(p2, 1, 31)) return r;
    // The first of eax, ecx, edx, ebx the address does not use.
    uint8_t n = 0;
    if (bits() != 16)
        while (p1->addressUses(n)) ++n;
    // An address on esp moves by the saved register.
    const int32_t moved = stackBased(p1) ? 4 : 0;
    TOperand lo = dwordAt(p1, moved), hi = dwordAt(p1, 4 + moved);
    TOperand& first = left ? lo : hi;  // the half shifted alone
    TOperand& second = left ? hi : lo;
    TOperand scratch = dwordReg(n), count = *p2;
    // push and pop of the dword register: in 16-bit code with their 66.
    addPrefixFor(4);
    addByte(uint8_t(0x50 + n));
    uint32_t r;
    if ((r = inner("mov", &scratch, &first)) || (r = doROT(row, &first, &count))) return r;
    addPrefixFor(4);
    addByte(0x0F);
    addByte(left ? 0xA4 : 0xAC);
    if ((r = emitModRM(n, &second))) return r;
    addBytes(uint32_t(p2->value), 1);
    addPrefixFor(4);
    addByte(uint8_t(0x58 + n));
    return asmOK;
}

// not and neg of a qword in memory: not of each dword; neg of the low one,
// its borrow carried into the high one, then neg of that. The product and
// quotient forms use edx:eax for one dword: refused.
uint32_t TTavAssembler::regmemWide(PInstruction row, POperand p1) {
    const uint32_t size = wideSize(p1);
    const uint8_t digit = row->opcode_r;
    if (size != 8 || p1->hint != otMem || (digit != 2 && digit != 3)) return refuseWide(size);
    TOperand lo = dwordAt(p1, 0), hi = dwordAt(p1, 4);
    uint32_t r;
    if ((r = doREGMEM(row, &lo))) return r;
    if (digit == 3) {
        TOperand zero;
        zero.setImm(0, 4);
        if ((r = inner("adc", &hi, &zero))) return r;
    }
    return doREGMEM(row, &hi);
}

uint32_t TTavAssembler::vectorMemSize(PInstruction row, const TOperand* reg) {
    if (row->flags2 & IF_M32) return 4;
    if (row->flags2 & IF_M64) return 8;
    return reg->hint == otXMM ? 16 : 8;
}
