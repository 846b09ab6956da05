// The integer families without symbol operands.
#include "classes/fixup_manager.h"
#include "global.h"
#include "encoder/tav_assembler.h"

using namespace tavasm;

uint32_t TTavAssembler::doEMIT(PInstruction row, POperand p1) {
    uint32_t op = row->opcode1;
    if (row->flags & IF_EMITIMM) {
        if (!isImm(p1)) return asmOperand1Invalid;
        if (uint32_t r = checkRange(p1, 0, 255)) return r;  // the vector number
        addByte(B(op, 1));
        addByte(uint8_t(p1->value));
        return asmOK;
    }
    uint32_t n = (row->flags & IF_EMIT3) ? 3 : (row->flags & IF_EMIT2) ? 2 : 1;
    uint32_t first = 1;
    if (bits() == 16 && (row->flags & IF_OSZ16)) first = 2;  // the word form is the default there
    if (bits() == 16 && (row->flags & IF_OSZ32)) addByte(0x66);
    for (uint32_t i = first; i <= n; ++i) addByte(B(op, i));
    return asmOK;
}

uint32_t TTavAssembler::doALU(PInstruction row, POperand p1, POperand p2) {
    uint8_t base = B(row->opcode1, 1);
    uint8_t digit = row->opcode_r;
    if (uint32_t wide = wideSize(p1); wide && wide != 8) return refuseWide(wide);
    if ((isMem(p1) || p1->hint == otVar) && p1->size == 8 && isImm(p2)) return aluQword(row, p1, p2);
    if (isReg(p1)) {
        uint32_t sz = regClass(p1->reg_base);
        if (isReg(p2)) {
            if (regClass(p2->reg_base) != sz) return asmSizeMismatch;
            addPrefixFor(sz);
            addByte(uint8_t(base + (sz == 1 ? 2 : 3)));
            emitModR(regNum(p1->reg_base), regNum(p2->reg_base));
            return asmOK;
        }
        if (isImm(p2)) {
            if (uint32_t r = checkImm(p2, sz)) return r;
            if (sz == 1) {
                if (regNum(p1->reg_base) == 0) {
                    addByte(uint8_t(digit * 8 + 4));
                } else {
                    addByte(0x80);
                    emitModR(digit, regNum(p1->reg_base));
                }
                addBytes(uint32_t(p2->value), 1);
                return asmOK;
            }
            addPrefixFor(sz);
            if (isImm8(sz, p2->value)) {
                addByte(0x83);
                emitModR(digit, regNum(p1->reg_base));
                addBytes(uint32_t(p2->value), 1);
                return asmOK;
            }
            if (regNum(p1->reg_base) == 0) {
                addByte(uint8_t(digit * 8 + 5));
            } else {
                addByte(0x81);
                emitModR(digit, regNum(p1->reg_base));
            }
            addBytes(uint32_t(p2->value), sz);
            return asmOK;
        }
        if (isMem(p2)) {
            if (p2->size != 0 && p2->size != sz) return asmSizeMismatch;
            addPrefixFor(sz);
            addByte(uint8_t(base + (sz == 1 ? 2 : 3)));
            return emitModRM(regNum(p1->reg_base), p2);
        }
        return asmSizeMismatch;
    }
    if (isMem(p1)) {
        if (isReg(p2)) {
            uint32_t sz = regClass(p2->reg_base);
            if (p1->size != 0 && p1->size != sz) return asmSizeMismatch;
            addPrefixFor(sz);
            addByte(uint8_t(base + (sz == 1 ? 0 : 1)));
            return emitModRM(regNum(p2->reg_base), p1);
        }
        if (isImm(p2)) {
            // A destination without size is a dword; the immediate is never wider.
            if (p1->size == 0) p1->size = 4;
            uint32_t sz = p1->size > 4 ? 4 : p1->size;
            if (sz == 3) return asmSizeMismatch;
            if (uint32_t r = checkImm(p2, sz)) return r;
            addPrefixFor(sz);
            addByte(sz == 1 ? 0x80 : 0x81);
            uint32_t r = emitModRM(digit, p1);
            if (r) return r;
            addBytes(uint32_t(p2->value), sz);
            return asmOK;
        }
        return asmSizeMismatch;
    }
    if (p1->hint == otVar) {
        if (isImm(p2)) {
            uint32_t vs = p1->size;
            if (vs == 0) return asmSizeMismatch;  // no width for the immediate
            if (uint32_t r = checkImm(p2, vs > 4 ? 4 : vs)) return r;
            uint32_t width = (vs == 1 || isImm8(vs, p2->value)) ? 1 : (vs > 4 ? 4 : vs);
            if (width == 3) return asmSizeMismatch;
            addPrefixFor(vs > 4 ? 4 : vs);
            if (width == 1) addByte(vs == 1 ? 0x80 : 0x83);
            else addByte(0x81);
            varModRM(digit);
            placeholder(ftVar, p1, 0, p1->data, addrSize(), uint32_t(p1->displacement));
            addBytes(uint32_t(p2->value), width);
            return asmOK;
        }
        if (isReg(p2)) return asmUsageNotSupported;
        return asmSizeMismatch;
    }
    return asmUsageNotSupported;
}

// A qword destination as two dword operations, the low dword first; the
// high one of add and sub takes the carry or borrow (adc, sbb). cmp cannot
// be split: the flags of its high half would ignore the low one.
uint32_t TTavAssembler::aluQword(PInstruction row, POperand p1, POperand p2) {
    const uint8_t digit = row->opcode_r;
    if (digit == 7) return refuseWide(8);
    TOperand lo = *p1, hi = *p1, loImm = *p2, hiImm = *p2;
    lo.size = hi.size = 4;
    hi.displacement = int32_t(uint32_t(p1->displacement) + 4);
    loImm.value = int64_t(uint32_t(p2->value));
    hiImm.value = int64_t(uint32_t(uint64_t(p2->value) >> 32));
    if (uint32_t r = doALU(row, &lo, &loImm)) return r;
    if (digit == 0) return inner("adc", &hi, &hiImm);
    if (digit == 5) return inner("sbb", &hi, &hiImm);
    return doALU(row, &hi, &hiImm);
}

uint32_t TTavAssembler::doLEA(POperand p1, POperand p2) {
    if (bits() == 16) return asmUsageNotSupported;
    if (p1->size != 4 && p2->size != 4) return asmSizeMismatch;
    if (!isReg(p1)) return asmTypeMismatch;
    if (p2->size != 0 && p2->size != p1->size) return asmSizeMismatch;
    if (isImm(p2)) return asmOperand2Invalid;  // an address needs a memory operand
    if (!isMem(p2)) return asmUsageNotSupported;
    p2->size = 4;
    addByte(0x8D);
    return emitModRM(regNum(p1->reg_base), p2);
}

uint32_t TTavAssembler::doRET(POperand p1) {
    if (!p1) {
        addByte(0xC3);
        return asmOK;
    }
    if (!isImm(p1)) return asmOperand1Invalid;
    if (uint32_t r = checkRange(p1, 0, 0xFFFF)) return r;  // the count has two bytes
    uint64_t n = uint64_t(p1->value);
    if (n == 0) {
        addByte(0xC3);
        return asmOK;
    }
    addByte(0xC2);
    addBytes(uint32_t(n), 2);
    return asmOK;
}

uint32_t TTavAssembler::doTEST(POperand p1, POperand p2) {
    // The flags of one dword would not tell the whole value.
    if (uint32_t wide = wideSize(p1)) return refuseWide(wide);
    if (isRM(p1) && isReg(p2)) {
        uint32_t sz = regClass(p2->reg_base);
        if (isMem(p1) && p1->size == 0) p1->size = sz;
        uint32_t s1 = isReg(p1) ? regClass(p1->reg_base) : p1->size;
        if (s1 != sz) return asmSizeMismatch;
        addPrefixFor(sz);
        addByte(sz == 1 ? 0x84 : 0x85);
        return emitModRM(regNum(p2->reg_base), p1);
    }
    if (isReg(p1) && isImm(p2) && regNum(p1->reg_base) == 0) {
        uint32_t sz = regClass(p1->reg_base);
        if (uint32_t r = checkImm(p2, sz)) return r;
        addPrefixFor(sz);
        addByte(sz == 1 ? 0xA8 : 0xA9);
        addBytes(uint32_t(p2->value), sz);
        return asmOK;
    }
    if (isRM(p1) && isImm(p2)) {
        if (isMem(p1) && p1->size == 0) p1->size = 4;
        uint32_t sz = isReg(p1) ? regClass(p1->reg_base) : p1->size;
        if (sz > 4) sz = p1->size = 4;
        if (sz == 3) return asmSizeMismatch;
        if (uint32_t r = checkImm(p2, sz)) return r;
        addPrefixFor(sz);
        addByte(sz == 1 ? 0xF6 : 0xF7);
        uint32_t r = emitModRM(0, p1);
        if (r) return r;
        addBytes(uint32_t(p2->value), sz);
        return asmOK;
    }
    return asmUsageNotSupported;
}

uint32_t TTavAssembler::doREGMEM(PInstruction row, POperand p1) {
    if (wideSize(p1)) return regmemWide(row, p1);
    if (!isRM(p1)) return asmInvalidOperands;
    if (isMem(p1) && p1->size == 0) p1->size = 4;
    uint32_t sz = isReg(p1) ? regClass(p1->reg_base) : p1->size;
    return emitX86RM(sz == 1 ? row->opcode1 : row->opcode1 + 1, needs66(sz), 0, p1, row->opcode_r);
}

uint32_t TTavAssembler::doROT(PInstruction row, POperand p1, POperand p2) {
    if (wideSize(p1)) return rotWide(row, p1, p2);
    bool byCL = isReg(p2) && p2->reg_base == REG_CL;
    if (!isRM(p1) || !(isImm(p2) || byCL)) return asmInvalidOperands;
    if (isImm(p2))
        if (uint32_t r = checkImm(p2, 1)) return r;  // the count has one byte
    uint32_t sz = isReg(p1) ? regClass(p1->reg_base) : p1->size;
    bool one = isImm(p2) && p2->value == 1;
    uint8_t op = (isImm(p2) && !one) ? 0xC0 : 0xD0;
    if (sz != 1) op += 1;
    if (byCL) op += 2;
    addPrefixFor(sz);  // word memory destinations too
    addByte(op);
    uint32_t r = emitModRM(row->opcode_r, p1);
    if (r) return r;
    if (op == 0xC0 || op == 0xC1) addBytes(uint32_t(p2->value), 1);
    return asmOK;
}

uint32_t TTavAssembler::doBT(PInstruction row, POperand p1, POperand p2) {
    if (!isRM(p1)) return asmOperand1Invalid;
    if (isMem(p1) && p1->size == 0) p1->size = isReg(p2) ? regClass(p2->reg_base) : 4;
    uint32_t sz = isReg(p1) ? regClass(p1->reg_base) : p1->size;
    if (sz == 1) return asmOperand1Invalid;
    if (isReg(p2)) {
        // The immediate's size says nothing about the operand: only a register is compared.
        if (regClass(p2->reg_base) != sz) return asmSizeMismatch;
        addPrefixFor(sz);
        addOpcode(row->opcode1);
        return emitModRM(regNum(p2->reg_base), p1);
    }
    if (isImm(p2)) {
        if (sz != 2 && sz != 4) return asmSizeMismatch;
        if (uint32_t r = checkImm(p2, 1)) return r;  // the bit number has one byte
        addPrefixFor(sz);
        addOpcode(row->opcode2);
        uint32_t r = emitModRM(row->opcode_r, p1);
        if (r) return r;
        addBytes(uint32_t(p2->value), 1);
        return asmOK;
    }
    return asmOperand2Invalid;
}

uint32_t TTavAssembler::doRM_S(PInstruction row, POperand p1) {
    if (!isRM(p1)) return asmInvalidOperands;
    // setcc writes one byte.
    if (isReg(p1) ? regClass(p1->reg_base) != 1 : (p1->size != 0 && p1->size != 1)) return asmOperand1Invalid;
    addOpcode(row->opcode1);
    return emitModRM(0, p1);
}

uint32_t TTavAssembler::doINCDEC(PInstruction row, POperand p1) {
    if (isMem(p1) || p1->hint == otVar) {
        // FE /digit for a byte, FF /digit for a word or dword.
        if (isMem(p1) && p1->size == 0) p1->size = 4;
        const uint32_t sz = p1->size;
        if (sz > 4) return refuseWide(sz);  // the carry out of the low dword would be lost
        if (sz != 1 && sz != 2 && sz != 4) return asmSizeMismatch;
        addPrefixFor(sz);
        addByte(uint8_t(B(row->opcode2, 4) + (sz == 1 ? 0 : 1)));
        if (isMem(p1)) return emitModRM(row->opcode_r, p1);
        varModRM(row->opcode_r);
        placeholder(ftVar, p1, 0, p1->data, addrSize(), uint32_t(p1->displacement));
        return asmOK;
    }
    if (!isReg(p1)) return asmInvalidOperands;
    uint32_t sz = regClass(p1->reg_base);
    addPrefixFor(sz);
    if (sz != 1) {
        for (uint32_t n = 1; n <= 3; ++n)
            if (B(row->opcode1, n)) addByte(B(row->opcode1, n));
        addByte(uint8_t(B(row->opcode1, 4) + regNum(p1->reg_base)));
        return asmOK;
    }
    addByte(B(row->opcode2, 4));
    emitModR(row->opcode_r, regNum(p1->reg_base));
    return asmOK;
}

uint32_t TTavAssembler::doREG_REGMEM(PInstruction row, POperand p1, POperand p2) {
    if (!isReg(p1) || !isRM(p2)) return asmInvalidOperands;
    uint32_t sz = regClass(p1->reg_base);
    if (sz == 1) return asmOperand1Invalid;
    uint32_t s2 = isReg(p2) ? regClass(p2->reg_base) : p2->size;
    if (s2 != 0 && s2 != sz) return asmSizeMismatch;
    addPrefixFor(sz);
    addOpcode(row->opcode1);
    return emitModRM(regNum(p1->reg_base), p2);
}

uint32_t TTavAssembler::doMOVSX(PInstruction row, POperand p1, POperand p2) {
    if (!isReg(p1) || !isRM(p2)) return asmUsageNotSupported;
    uint32_t s1 = regClass(p1->reg_base);
    uint32_t s2 = isReg(p2) ? regClass(p2->reg_base) : p2->size;
    if (s1 == s2) return inner("mov", p1, p2);
    if (s1 == 1) return asmOperand1Invalid;
    if (s2 == 1 || (s2 == 2 && s1 == 4)) {
        return emitX86RM(s2 == 1 ? row->opcode1 : row->opcode1 + 1, needs66(s1), 0, p2, regNum(p1->reg_base));
    }
    return asmOperand2Invalid;
}

uint32_t TTavAssembler::doXCHG(PInstruction row, POperand p1, POperand p2) {
    if (!isRM(p1) || !isReg(p2)) return asmUsageNotSupported;
    uint32_t sz = regClass(p2->reg_base);
    uint32_t s1 = isReg(p1) ? regClass(p1->reg_base) : p1->size;
    if (s1 != 0 && s1 != sz) return asmSizeMismatch;
    if (row->opcode1) {
        // xadd and cmpxchg: the byte form's opcode is one below the word form's.
        return emitX86RM(sz == 1 ? row->opcode1 - 1 : row->opcode1, needs66(sz), 0, p1, regNum(p2->reg_base));
    }
    addPrefixFor(sz);
    if (isReg(p1) && sz >= 2 && (regNum(p1->reg_base) == 0 || regNum(p2->reg_base) == 0)) {
        uint8_t other = regNum(p1->reg_base) == 0 ? regNum(p2->reg_base) : regNum(p1->reg_base);
        addByte(uint8_t(0x90 + other));
        return asmOK;
    }
    addByte(sz == 1 ? 0x86 : 0x87);
    return emitModRM(regNum(p2->reg_base), p1);
}

uint32_t TTavAssembler::doIMUL(POperand p1, POperand p2, POperand p3) {
    if (!p2) {
        if (uint32_t wide = wideSize(p1)) return refuseWide(wide);  // the product of one dword
        if (!isRM(p1)) return asmUsageNotSupported;
        if (isMem(p1) && p1->size == 0) p1->size = ptrSize;
        uint32_t sz = isReg(p1) ? regClass(p1->reg_base) : p1->size;
        return emitX86RM(sz == 1 ? 0xF6 : 0xF7, needs66(sz), 0, p1, 5);
    }
    if (!isReg(p1)) return asmUsageNotSupported;
    uint32_t sz = regClass(p1->reg_base);
    uint8_t r1 = regNum(p1->reg_base);
    POperand rm = nullptr, imm = nullptr;
    if (!p3) {
        if (isRM(p2)) {
            if (sz == 1) return asmOperand1Invalid;
            uint32_t s2 = isReg(p2) ? regClass(p2->reg_base) : p2->size;
            if (s2 != 0 && s2 != sz) return asmSizeMismatch;
            return emitX86RM(0x0FAF, needs66(sz), 0, p2, r1);
        }
        if (!isImm(p2)) return asmUsageNotSupported;
        rm = p1;
        imm = p2;
    } else {
        if (!isRM(p2) || !isImm(p3)) return asmUsageNotSupported;
        rm = p2;
        imm = p3;
    }
    if (sz == 1) return asmOperand1Invalid;
    uint32_t s2 = isReg(rm) ? regClass(rm->reg_base) : rm->size;
    if (s2 != 0 && s2 != sz) return asmSizeMismatch;
    if (uint32_t r = checkImm(imm, sz)) return r;
    bool short8 = isImm8(sz, imm->value);
    uint32_t r = emitX86RM(short8 ? 0x6B : 0x69, needs66(sz), 0, rm, r1);
    if (r) return r;
    addBytes(uint32_t(imm->value), short8 ? 1 : sz);
    return asmOK;
}
