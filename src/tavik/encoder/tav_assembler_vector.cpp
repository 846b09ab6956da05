// x87, MMX and SSE families.
#include "classes/fixup_manager.h"
#include "global.h"
#include "log.h"
#include "encoder/tav_assembler.h"

using namespace tavasm;

namespace {
bool stackReg(const TOperand* p) { return p && p->hint == otST && p->value >= 0 && p->value <= 7; }
}  // namespace

uint32_t TTavAssembler::doX87_FPU(PInstruction row, POperand p1, POperand p2) {
    const uint32_t op = row->opcode1;
    if (p1->hint == otST) {
        if (!stackReg(p1)) return asmOperand1Invalid;
        uint8_t i = uint8_t(p1->value);
        if (row->group == igX87_FPU_S) {  // fcom st(i) is D8 D0+i
            addByte(B(op, 1));
            addByte(uint8_t(B(op, 3) + i));
            return asmOK;
        }
        uint8_t j = 0;
        if (p2) {
            if (!stackReg(p2)) return asmInvalidOperands;
            j = uint8_t(p2->value);
        }
        if (i == 0) {
            addByte(B(op, 1));
            addByte(uint8_t(B(op, 3) + j));
        } else if (j == 0) {
            addByte(B(op, 2));
            addByte(uint8_t(B(op, 4) + i));
        } else {
            return asmInvalidOperands;  // one of the two must be st(0)
        }
        return asmOK;
    }
    if (isMem(p1)) {
        if (p2) return asmOperand2Invalid;
        if (p1->size == 0) p1->size = 4;
        if (p1->size != 4 && p1->size != 8) return asmExpectedSingleDouble;
        addByte(p1->size == 4 ? B(op, 1) : B(op, 2));
        return emitModRM(row->opcode_r, p1);
    }
    return asmUsageNotSupported;
}

uint32_t TTavAssembler::doX87_MEM(PInstruction row, POperand p1) {
    if (row->group == igX87_MEM_STI && p1->hint == otST) {
        if (!stackReg(p1)) return asmOperand1Invalid;
        addByte(B(row->opcode2, 1));
        addByte(uint8_t(B(row->opcode2, 2) + p1->value));
        return asmOK;
    }
    if (p1->hint != otMem && p1->hint != otVarRef) return asmOperand1Invalid;
    uint32_t size;
    if (p1->hint == otVarRef) {
        const TVar* v = static_cast<const TVar*>(p1->data);
        size = v && v->type_ ? v->type_->size : 0;
        if (size == 0) size = 4;
    } else {
        if (p1->size == 0) p1->size = 4;
        size = p1->size;
    }
    uint8_t opc = 0, digit = 0;
    if (size == 2 && (row->flags & IF_M16)) {
        opc = B(row->opcode1, 1), digit = row->opcode_r;
    } else if (size == 4 && (row->flags & IF_M32)) {
        opc = B(row->opcode1, 2), digit = row->opcode_r;
    } else if (size == 8 && (row->flags & IF_M64)) {
        opc = B(row->opcode1, 3), digit = B(row->opcode1, 4);
    } else if (size == 10 && (row->flags & IF_M80)) {  // a wider block is no tbyte
        opc = B(row->opcode2, 3), digit = B(row->opcode2, 4);
    }
    if (opc == 0) return asmOperand1Invalid;
    addByte(opc);
    if (p1->hint == otVarRef) {
        varModRM(digit);
        placeholder(ftVar, p1, 0, p1->data, addrSize(), uint32_t(p1->displacement));
        return asmOK;
    }
    return emitModRM(digit, p1);
}

uint32_t TTavAssembler::doMOVQ(POperand p1, POperand p2) {
    auto mm = [](const TOperand* p) { return p->hint == otST && p->value >= 0 && p->value <= 7; };
    auto xmm = [](const TOperand* p) { return p->hint == otXMM && p->value >= 0 && p->value <= 7; };
    auto num = [](const TOperand* p) { return uint8_t(p->value & 7); };
    // A size keyword on the memory operand must be the qword moved.
    for (const TOperand* p : {p1, p2})
        if (isMem(p) && p->size != 0 && p->size != 8) return asmSizeMismatch;
    if (mm(p1)) {
        if (mm(p2) || isMem(p2)) return emitMMU(0x0F6F, 0, p2, num(p1));
        if (xmm(p2)) return emitMMU(0xF20FD6, 0, p2, num(p1));
    } else if (isMem(p1)) {
        if (mm(p2)) return emitMMU(0x0F7F, 0, p1, num(p2));
        if (xmm(p2)) return emitMMU(0x660FD6, 0, p1, num(p2));
    } else if (xmm(p1)) {
        if (xmm(p2) || isMem(p2)) return emitMMU(0xF30F7E, 0, p2, num(p1));
        if (mm(p2)) return emitMMU(0xF30FD6, 0, p2, num(p1));
    }
    return asmUsageNotSupported;
}

namespace {
// The permission bit an operand needs, 0 when no bit can admit it.
uint32_t permissionOf(const TOperand* p) {
    switch (p->hint) {
    case otST: return p->value >= 0 && p->value <= 7 ? uint32_t(IF_MMX) : 0u;
    case otXMM: return p->value >= 0 && p->value <= 7 ? uint32_t(IF_XMM) : 0u;
    case otRegister: return p->size == 4 ? uint32_t(IF_R32) : p->size == 8 ? uint32_t(IF_R64) : 0u;
    case otMem: return IF_MEM;
    case otImm: return IF_IMM8;
    default: return 0;
    }
}
uint8_t numberOf(const TOperand* p) { return p->hint == otRegister ? regNum(p->reg_base) : uint8_t(p->value & 7); }
}  // namespace

uint32_t TTavAssembler::doSSE(PInstruction row, POperand p1, POperand p2) {
    const uint32_t f = row->flags, g = row->flags2;
    if (f == 0) Log->FatalError("FLAGS NOT SET");
    if (p1->hint != otRegister && p1->hint != otST && p1->hint != otXMM) return asmInvalidOperands;
    uint32_t need1 = permissionOf(p1);
    if (!need1 || !(f & need1)) return asmOperand1Invalid;
    uint32_t need2 = permissionOf(p2);
    if (!need2 || !(g & need2)) return asmOperand2Invalid;

    const uint32_t MX = IF_MMX | IF_XMM;
    // A row that admits both register kinds works on one kind at a time.
    if ((f & MX) == MX && (need2 & MX) && need2 != need1) return asmTypeMismatch;
    uint8_t prefix = 0;
    if ((need1 == IF_XMM && (f & MX) == MX) || (need2 == IF_XMM && (g & MX) == MX)) prefix = 0x66;

    // A size keyword on a memory operand must be the size the row reads.
    if (isMem(p2) && p2->size != 0 && p2->size != vectorMemSize(row, p1)) return asmSizeMismatch;
    const bool imm = need2 == IF_IMM8;
    if (imm)
        if (uint32_t r = checkImm(p2, 1)) return r;
    const uint32_t op = imm ? row->opcode2 : row->opcode1;
    if (uint8_t b1 = B(op, 1) | prefix) addByte(b1);
    addByte(B(op, 2));
    addByte(B(op, 3));
    if (B(op, 4)) addByte(B(op, 4));
    if (imm) {
        emitModR(row->opcode_r, numberOf(p1));
        addBytes(uint32_t(p2->value), 1);
        return asmOK;
    }
    if (p2->hint == otMem) return emitModRM(numberOf(p1), p2);  // the digit belongs to the immediate form
    emitModR(numberOf(p1), numberOf(p2));
    return asmOK;
}
