// mov, push, pop, call and the jumps: symbol operands with their fixups, and
// the sequences for forms the machine has no single instruction for.
#include "classes/fixup_manager.h"
#include "classes/shared_records.h"
#include "global.h"
#include "log.h"
#include "encoder/tav_assembler.h"

using namespace tavasm;

namespace {

TOperand regOp(TRegister r) {
    TOperand t;
    t.hint = otRegister;
    t.reg_base = r;
    t.reg_count = 0;
    t.size = regClass(r);
    return t;
}

TOperand immOp(int64_t v, uint32_t size) {
    TOperand t;
    t.hint = otImm;
    t.value = v;
    t.size = size;
    return t;
}

// [esp + d] (or [sp + d], never encodable, in 16-bit mode).
TOperand stackOp(int32_t d, uint32_t size) {
    TOperand t;
    t.hint = otMem;
    t.reg_count = 1;
    t.reg_base = bits() == 16 ? REG_SP : REG_ESP;
    t.displacement = d;
    t.size = size;
    return t;
}

// The accumulator the sequences use: the register of the word size.
TRegister acc() { return bits() == 16 ? REG_AX : REG_EAX; }

// Is the stack pointer the base of the memory operand (so that pushes and
// pops made by a sequence move what it addresses)?
bool espBased(const TOperand* op) {
    if (op->reg_count == 0 || (op->reg_count == 1 && op->scale > 1)) return false;
    return op->reg_base == REG_ESP || op->reg_base == REG_RSP;
}

const char* varName(const TOperand* op) {
    const TVar* v = static_cast<const TVar*>(op->data);
    return v && v->name ? v->name : "";
}

}  // namespace

uint32_t TTavAssembler::doCALL(POperand p1) {
    if (p1->hint == otLabel) {
        addByte(0xE8);
        placeholder(ftLabel, p1, uint32_t(p1->value), nullptr, uint8_t(ptrSize), 0);
        return asmOK;
    }
    if (p1->hint == otVar) {
        addByte(0xFF);
        varModRM(2);
        // The field offset counts: a call through a member of a block variable.
        placeholder(ftVar, p1, 0, p1->data, addrSize(), uint32_t(p1->displacement));
        return asmOK;
    }
    if (p1->hint == otMem) {
        // Through a word in memory: a function pointer in a frame slot.
        if (p1->size != 0 && p1->size != ptrSize) return asmSizeMismatch;
        addByte(0xFF);
        return emitModRM(2, p1);
    }
    return asmUsageNotSupported;
}

uint32_t TTavAssembler::doGOTO(PInstruction row, POperand p1) {
    if (p1->hint == otLabel) {
        FixMan->addFixup(ftJmp, static_cast<PFunction>(p1->ptr), uint32_t(p1->value), F_curPosition, 7, 0,
                         TJmpType(row->opcode1));
        static const uint8_t nops[7] = {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90};
        addBytes(nops, 7);
        return asmOK;
    }
    if (!(row->flags & IF_DIRECT)) return asmUsageNotSupported;
    // A number is written in a field of the word size, as any immediate.
    const uint32_t field = ptrSize > 4 ? 4 : ptrSize;
    if (p1->hint == otImm) {
        if (uint32_t r = checkImm(p1, field)) return r;
        addByte(0xE9);
        addBytes(uint32_t(p1->value), ptrSize);
        return asmOK;
    }
    if (p1->hint == otSegLabel) {
        if (!p1->ptr)
            if (uint32_t r = checkImm(p1, field)) return r;
        addByte(0xEA);
        if (p1->ptr) placeholder(ftRelative, p1, uint32_t(p1->value), nullptr, uint8_t(ptrSize), ptrSize + 3);
        else addBytes(uint32_t(p1->value), ptrSize);
        addBytes(p1->segstart, 2);
        return asmOK;
    }
    return asmUsageNotSupported;
}

uint32_t TTavAssembler::doPUSHPOP(PInstruction row, POperand p1) {
    bool push = row->group == igPUSH;
    switch (p1->hint) {
    case otRegister:
        if (regClass(p1->reg_base) == 1) return asmInvalidOperands;
        addByte(uint8_t(B(row->opcode1, 4) + regNum(p1->reg_base)));
        return asmOK;
    case otImm:
        if (!push) return asmInvalidOperands;
        if (uint32_t r = checkImm(p1, ptrSize > 4 ? 4 : ptrSize)) return r;
        if (isImm8(ptrSize, p1->value)) {
            addByte(0x6A);
            addBytes(uint32_t(p1->value), 1);
        } else {
            addByte(0x68);
            addBytes(uint32_t(p1->value), ptrSize);
        }
        return asmOK;
    case otVarRef:
    case otLabelRef:
    case otConst:
        if (!push) return asmInvalidOperands;
        addByte(0x68);
        if (p1->hint == otVarRef) placeholder(ftVar, p1, 0, p1->data, uint8_t(ptrSize), uint32_t(p1->displacement));
        else if (p1->hint == otConst) placeholder(ftConst, p1, 0, p1->data, uint8_t(ptrSize), 0);
        else placeholder(ftLabelAbs, p1, uint32_t(p1->value), nullptr, uint8_t(ptrSize), 0);
        return asmOK;
    case otVar: return push ? pushVar(row, p1) : popVar(row, p1);
    case otMem: return push ? pushMem(row, p1) : popMem(row, p1);
    case otMemRef:
        if (!push) return asmInvalidOperands;  // an address is no place to pop into
        return pushMemRef(p1);
    default: return asmUsageNotSupported;
    }
}

// A variable by value: the remainder below a whole word first (zero-extended
// to a word), then the whole words from the highest down, so that the lowest
// word ends on top.
uint32_t TTavAssembler::pushVar(PInstruction row, POperand op) {
    const uint32_t P = ptrSize;
    const uint32_t s = op->size;
    if (s == 0) return asmSizeMismatch;
    const uint32_t rem = s % P;
    const uint8_t A = addrSize();
    const uint32_t d = uint32_t(op->displacement);
    if (rem) {
        Log->Warning(std::string("[666] ") + varName(op) +
                     " passed by value to stack unaligned, consider passing by ref");
        // Every register and the flags stay as they were: an argument pushed
        // before may be the accumulator itself.
        const TRegister a = acc();
        TOperand reg = regOp(a);
        uint32_t r;
        switch (rem) {
        case 1: {
            if ((r = inner("push", &reg))) return r;
            addBytes(0xB60F, 2);  // movzx eax, byte [var + s - 1]
            varModRM(regNum(a));
            placeholder(ftVar, op, 0, op->data, A, s + d - 1);
            if ((r = xchgTop(a))) return r;
            break;
        }
        case 2: {
            static const uint8_t zeroWord[4] = {0x66, 0x68, 0x00, 0x00};
            addBytes(zeroWord, 4);
            addByte(0x66), addByte(0xFF), addByte(0x35);  // push word [var + s - 2]
            placeholder(ftVar, op, 0, op->data, A, s + d - 2);
            break;
        }
        case 3: {
            TOperand zero = immOp(0, 4);
            if ((r = inner("push", &zero))) return r;
            if ((r = inner("push", &reg))) return r;
            addByte(0xA0);  // mov al, [var + s - 1]
            placeholder(ftVar, op, 0, op->data, A, s + d - 1);
            TOperand al = regOp(REG_AL), ax = regOp(REG_AX);
            TOperand byte2 = stackOp(int32_t(P) + 2, 1), word0 = stackOp(int32_t(P), 2);
            if ((r = inner("mov", &byte2, &al))) return r;
            addByte(0x66), addByte(0xA1);  // mov ax, [var + s - 3]
            placeholder(ftVar, op, 0, op->data, A, s + d - 3);
            if ((r = inner("mov", &word0, &ax))) return r;
            if ((r = inner("pop", &reg))) return r;
            break;
        }
        default: Log->FatalError("Unexpected error");
        }
    }
    for (int64_t w = int64_t(s) - rem - P; w >= 0; w -= P) {
        addByte(B(row->opcode2, 4));
        varModRM(row->opcode_r);
        placeholder(ftVar, op, 0, op->data, A, uint32_t(w) + d);
    }
    return asmOK;
}

// The reverse of pushVar: the lowest word first, then the slot of the
// remainder (popRemainder).
uint32_t TTavAssembler::popVar(PInstruction row, POperand op) {
    const uint32_t P = ptrSize;
    const uint32_t s = op->size;
    if (s == 0) return asmSizeMismatch;
    const uint32_t rem = s % P;
    const uint8_t A = addrSize();
    const uint32_t d = uint32_t(op->displacement);
    if (rem > 3) Log->FatalError("Unexpected error");
    for (uint32_t w = 0; w < s - rem; w += P) {
        addByte(B(row->opcode2, 4));
        varModRM(row->opcode_r);
        placeholder(ftVar, op, 0, op->data, A, w + d);
    }
    if (!rem) return asmOK;
    auto part = [&](uint32_t ofs, uint32_t size, uint32_t) {
        TOperand t = *op;
        t.size = size;
        t.displacement = int32_t(d + ofs);
        return t;
    };
    auto popWord = [&]() {
        addByte(0x66);
        addByte(B(row->opcode2, 4));
        varModRM(row->opcode_r);
        placeholder(ftVar, op, 0, op->data, A, s + d - 2);
        return asmOK;
    };
    return popRemainder(op, s, popWord, part);
}

// The slot that holds the last rem (1 to 3) bytes of a pop destination of
// size s, as pushVar and pushMem push it: the value in its low bytes. It is
// taken off the stack whole, and no register or flag changes: a word is
// popped with 66 8F and the other two bytes dropped with lea; a byte or
// three go through a scratch register that is saved and restored around
// them. A 16-bit slot holds a byte only, and 16-bit code has no lea
// through sp: refused there.
uint32_t TTavAssembler::popRemainder(const TOperand* op, uint32_t s, const std::function<uint32_t()>& popWord,
                                     const std::function<TOperand(uint32_t, uint32_t, uint32_t)>& part) {
    const uint32_t rem = s % ptrSize;
    if (bits() == 16) return asmUsageNotSupported;
    uint32_t r;
    TOperand sp = regOp(REG_ESP);
    auto drop = [&](int32_t n) {
        TOperand slot = stackOp(n, 4);
        return inner("lea", &sp, &slot);
    };
    if (rem == 2) {
        if ((r = popWord())) return r;
        return drop(2);
    }
    // The first of eax, ecx, edx, ebx that the destination does not use.
    uint8_t n = 0;
    while (n < 3 && op->hint == otMem && op->addressUses(n)) ++n;
    TOperand save = regOp(TRegister(REG_EAX + n)), low = regOp(TRegister(REG_AL + n)),
             word = regOp(TRegister(REG_AX + n));
    if ((r = inner("push", &save))) return r;
    if (rem == 3) {
        TOperand src = stackOp(4, 2), dst = part(s - 3, 2, 4);
        if ((r = inner("mov", &word, &src)) || (r = inner("mov", &dst, &word))) return r;
    }
    TOperand src = stackOp(rem == 3 ? 6 : 4, 1), dst = part(s - 1, 1, 4);
    if ((r = inner("mov", &low, &src)) || (r = inner("mov", &dst, &low))) return r;
    if ((r = inner("pop", &save))) return r;
    return drop(4);
}

// Exchanges register r with the word on top of the stack. 16-bit addressing
// has no [sp]: the word is reached through bp, which is kept meanwhile.
uint32_t TTavAssembler::xchgTop(TRegister r) {
    TOperand reg = regOp(r);
    if (bits() != 16) {
        TOperand top = stackOp(0, ptrSize);
        return inner("xchg", &top, &reg);
    }
    TOperand bp = regOp(REG_BP), sp = regOp(REG_SP), slot;
    slot.hint = otMem;
    slot.reg_count = 1;
    slot.reg_base = REG_BP;
    slot.displacement = 2;
    slot.size = 2;
    uint32_t e;
    if ((e = inner("push", &bp)) || (e = inner("mov", &bp, &sp)) || (e = inner("xchg", &slot, &reg))) return e;
    return inner("pop", &bp);
}

uint32_t TTavAssembler::pushMem(PInstruction row, POperand op) {
    const uint32_t P = ptrSize;
    if (op->size == 0) op->size = P;
    const uint32_t s = op->size;
    const uint32_t rem = s % P;
    const bool esp = espBased(op);
    uint32_t pushed = 0;  // bytes the sequence has pushed so far
    auto at = [&](int64_t ofs, uint32_t size) {
        TOperand t = *op;
        t.hint = otMem;
        t.size = size;
        t.displacement = int32_t(op->displacement + ofs + (esp ? pushed : 0));
        return t;
    };
    uint32_t r;
    if (rem) {
        // As for a variable, no register or flag changes. The byte goes
        // through the accumulator, which an address that uses it still
        // finds unchanged; three bytes go through a register the address
        // does not use.
        switch (rem) {
        case 1: {
            TOperand a = regOp(acc());
            if ((r = inner("push", &a))) return r;
            pushed += P;
            TOperand src = at(s - 1, 1);
            if ((r = inner("movzx", &a, &src))) return r;
            if ((r = xchgTop(acc()))) return r;
            break;
        }
        case 2: {
            static const uint8_t zeroWord[4] = {0x66, 0x68, 0x00, 0x00};
            addBytes(zeroWord, 4);
            pushed += 2;
            TOperand src = at(s - 2, 2);
            addByte(0x66);
            addByte(B(row->opcode2, 4));
            if ((r = emitModRM(row->opcode_r, &src))) return r;
            pushed += 2;
            break;
        }
        case 3: {
            uint8_t n = 0;
            while (op->addressUses(n)) ++n;
            TOperand full = regOp(TRegister(REG_EAX + n)), low = regOp(TRegister(REG_AL + n)),
                     word = regOp(TRegister(REG_AX + n));
            TOperand zero = immOp(0, 4);
            if ((r = inner("push", &zero))) return r;
            if ((r = inner("push", &full))) return r;
            pushed += 2 * P;
            TOperand src = at(s - 1, 1);
            if ((r = inner("mov", &low, &src))) return r;
            TOperand byte2 = stackOp(int32_t(P) + 2, 1);
            if ((r = inner("mov", &byte2, &low))) return r;
            TOperand srcw = at(s - 3, 2);
            if ((r = inner("mov", &word, &srcw))) return r;
            TOperand word0 = stackOp(int32_t(P), 2);
            if ((r = inner("mov", &word0, &word))) return r;
            if ((r = inner("pop", &full))) return r;
            pushed -= P;
            break;
        }
        default: Log->FatalError("Unexpected error");
        }
    }
    for (int64_t w = int64_t(s) - rem - P; w >= 0; w -= P) {
        TOperand t = at(w, P);
        addByte(B(row->opcode2, 4));
        if ((r = emitModRM(row->opcode_r, &t))) return r;
        pushed += P;
    }
    return asmOK;
}

// Pops as many bytes as pushMem pushes, lowest word first. An ESP-based
// destination addresses the stack as it is after the whole sequence (for one
// word that is what the processor does).
uint32_t TTavAssembler::popMem(PInstruction row, POperand op) {
    const uint32_t P = ptrSize;
    if (op->size == 0) op->size = P;
    const uint32_t s = op->size;
    const uint32_t rem = s % P;
    if (rem > 3) Log->FatalError("Unexpected error");
    const uint32_t total = s - rem + (rem ? P : 0);
    const bool esp = espBased(op);
    uint32_t popped = 0;  // including the pop being encoded
    auto at = [&](int64_t ofs, uint32_t size) {
        TOperand t = *op;
        t.hint = otMem;
        t.size = size;
        t.displacement = int32_t(op->displacement + ofs + (esp ? int64_t(total) - popped : 0));
        return t;
    };
    uint32_t r;
    for (uint32_t w = 0; w < s - rem; w += P) {
        popped += P;
        TOperand t = at(w, P);
        addByte(B(row->opcode2, 4));
        if ((r = emitModRM(row->opcode_r, &t))) return r;
    }
    if (!rem) return asmOK;
    // extra: bytes pushed on top of the slot when the part is written.
    auto part = [&](uint32_t ofs, uint32_t size, uint32_t extra) {
        TOperand t = at(ofs, size);
        if (esp) t.displacement += int32_t(extra);
        return t;
    };
    auto popWord = [&]() {
        popped += 2;
        TOperand t = at(s - 2, 2);
        addByte(0x66);
        addByte(B(row->opcode2, 4));
        return emitModRM(row->opcode_r, &t);
    };
    return popRemainder(op, s, popWord, part);
}

uint32_t TTavAssembler::pushMemRef(POperand op) {
    uint32_t r;
    if (op->reg_count == 1 && op->scale <= 1 && bits() == 16) {
        // 16-bit addressing has no [sp]: the pushed word is reached through
        // bp, which is kept meanwhile.
        TOperand base = regOp(op->reg_base), bp = regOp(REG_BP), sp = regOp(REG_SP), slot;
        slot.hint = otMem;
        slot.reg_count = 1;
        slot.reg_base = REG_BP;
        slot.displacement = 2;
        slot.size = 2;
        const int64_t d = op->displacement;
        TOperand amount = immOp(d < 0 ? -d : d, 2);
        if ((r = inner("push", &base)) || (r = inner("push", &bp)) || (r = inner("mov", &bp, &sp)) ||
            (r = inner(d < 0 ? "sub" : "add", &slot, &amount)))
            return r;
        return inner("pop", &bp);
    }
    if (op->reg_count == 1 && op->scale <= 1) {
        TOperand base = regOp(op->reg_base);
        if ((r = inner("push", &base))) return r;
        TOperand top = stackOp(0, 4);
        int64_t d = op->displacement;
        TOperand amount = immOp(d < 0 ? -d : d, 4);
        return inner(d < 0 ? "sub" : "add", &top, &amount);
    }
    TOperand t = *op;
    t.hint = otMem;
    t.size = ptrSize;
    TOperand a = regOp(acc());
    if ((r = inner("lea", &a, &t))) return r;
    return inner("push", &a);
}

uint32_t TTavAssembler::moveThroughStack(POperand dst, POperand src) {
    if (src->size == 0) src->size = dst->size;
    if (dst->hint == otMem && dst->size == 0) dst->size = src->size;
    if (src->size == 0) src->size = dst->size = ptrSize;
    if (src->size != dst->size) return asmSizeMismatch;
    uint32_t r = inner("push", src);
    if (r) return r;
    return inner("pop", dst);
}

uint32_t TTavAssembler::movVarImm(POperand var, POperand imm) {
    uint32_t vs = var->size;
    uint32_t d = uint32_t(var->displacement);
    if (vs == 8) {  // two dword stores, the low one first
        for (uint32_t half = 0; half < 2; ++half) {
            addPrefixFor(4);
            addByte(0xC7);
            varModRM(0);
            placeholder(ftVar, var, 0, var->data, addrSize(), d + 4 * half);
            addBytes(uint32_t(uint64_t(imm->value) >> (32 * half)), 4);
        }
        return asmOK;
    }
    if (vs != 1 && vs != 2 && vs != 4) return asmSizeMismatch;
    if (uint32_t r = checkImm(imm, vs)) return r;
    addPrefixFor(vs);
    addByte(vs == 1 ? 0xC6 : 0xC7);
    varModRM(0);
    placeholder(ftVar, var, 0, var->data, addrSize(), d);
    addBytes(uint32_t(imm->value), vs);
    return asmOK;
}

uint32_t TTavAssembler::movVarReg(POperand var, POperand reg) {
    uint32_t vs = var->size;
    uint32_t rs = regClass(reg->reg_base);
    uint8_t n = regNum(reg->reg_base);
    if (rs < vs) return asmSizeMismatch;
    if (rs > vs) {
        // Store the part of the register that fits the variable.
        if (vs == 1 && n >= 4) return asmSizeMismatch;  // no byte form of esp..edi
        if (vs != 1 && vs != 2) return asmSizeMismatch;
        rs = vs;
    }
    return movRegAndVar(0xA2, 0x88, rs, n, var);
}

uint32_t TTavAssembler::movRegVar(POperand reg, POperand var) {
    uint32_t rs = regClass(reg->reg_base);
    uint8_t n = regNum(reg->reg_base);
    if (var->size < rs) return asmSizeMismatch;
    return movRegAndVar(0xA0, 0x8A, rs, n, var);
}

// A move between register n of size rs and a variable: the short
// accumulator form with the address alone, else ModRM; +1 for word sizes.
uint32_t TTavAssembler::movRegAndVar(uint8_t accOpcode, uint8_t opcode, uint32_t rs, uint8_t n, POperand var) {
    const uint8_t wide = rs == 1 ? 0 : 1;
    addPrefixFor(rs);
    if (n == 0) {
        addByte(uint8_t(accOpcode + wide));
    } else {
        addByte(uint8_t(opcode + wide));
        varModRM(n);
    }
    placeholder(ftVar, var, 0, var->data, addrSize(), uint32_t(var->displacement));
    return asmOK;
}

uint32_t TTavAssembler::movMemImm(POperand mem, POperand imm) {
    if (mem->size == 0) mem->size = 4;
    uint32_t s = mem->size;
    uint32_t r;
    if (s == 8) {  // two dword stores, the low one first
        for (uint32_t half = 0; half < 2; ++half) {
            TOperand t = *mem;
            t.size = 4;
            t.displacement = mem->displacement + int32_t(4 * half);
            addPrefixFor(4);
            addByte(0xC7);
            if ((r = emitModRM(0, &t))) return r;
            addBytes(uint32_t(uint64_t(imm->value) >> (32 * half)), 4);
        }
        return asmOK;
    }
    if (s != 1 && s != 2 && s != 4) return asmSizeMismatch;
    if (uint32_t r = checkImm(imm, s)) return r;
    addPrefixFor(s);
    addByte(s == 1 ? 0xC6 : 0xC7);
    if ((r = emitModRM(0, mem))) return r;
    addBytes(uint32_t(imm->value), s);
    return asmOK;
}

uint32_t TTavAssembler::doMOV(POperand p1, POperand p2) {
    switch (p1->hint) {
    case otSegment: {
        if (p1->seg == SEG_CS || p1->seg > SEG_GS) return asmOperand1Invalid;  // cs is loaded by far jumps only
        if (!isReg(p2) || regClass(p2->reg_base) == 1) return asmUsageNotSupported;
        addPrefixFor(regClass(p2->reg_base));
        addByte(0x8E);
        emitModR(p1->seg, regNum(p2->reg_base));
        return asmOK;
    }
    case otVar:
        switch (p2->hint) {
        case otImm: return movVarImm(p1, p2);
        case otLabelRef:
            if (p1->size != addrSize()) return asmSizeMismatch;
            addByte(0xC7);
            varModRM(0);
            placeholder(ftVar, p1, 0, p1->data, addrSize(), uint32_t(p1->displacement));
            placeholder(ftLabelAbs, p2, uint32_t(p2->value), nullptr, addrSize(), 0);
            return asmOK;
        case otMem: return moveThroughStack(p1, p2);
        case otRegister: return movVarReg(p1, p2);
        default: return asmOperand2Invalid;
        }
    case otMem:
        switch (p2->hint) {
        case otImm: return movMemImm(p1, p2);
        case otRegister: {
            uint32_t rs = regClass(p2->reg_base);
            if (p1->size != 0 && p1->size != rs) return asmSizeMismatch;
            addPrefixFor(rs);
            addByte(rs == 1 ? 0x88 : 0x89);
            return emitModRM(regNum(p2->reg_base), p1);
        }
        case otMem:
        case otVar: return moveThroughStack(p1, p2);  // a global into a local, as the other way round
        default: return asmOperand2Invalid;
        }
    case otRegister: {
        uint32_t rs = regClass(p1->reg_base);
        uint8_t n = regNum(p1->reg_base);
        switch (p2->hint) {
        case otRegister:
            if (p2->reg_base == p1->reg_base) return asmOK;  // nothing to emit
            if (regClass(p2->reg_base) != rs) return inner("movzx", p1, p2);
            addPrefixFor(rs);
            addByte(rs == 1 ? 0x8A : 0x8B);
            emitModR(n, regNum(p2->reg_base));
            return asmOK;
        case otMem:
            if (p2->size == 0) p2->size = rs;
            if (p2->size != rs) return asmSizeMismatch;
            addPrefixFor(rs);
            addByte(rs == 1 ? 0x8A : 0x8B);
            return emitModRM(n, p2);
        case otImm:
            if (uint32_t r = checkImm(p2, rs)) return r;
            addPrefixFor(rs);
            addByte(uint8_t((rs == 1 ? 0xB0 : 0xB8) + n));
            addBytes(uint32_t(p2->value), rs);
            return asmOK;
        case otConst:
        case otVarRef:
            // An address fills a register of the address size only.
            if (rs != addrSize()) return asmSizeMismatch;
            addByte(uint8_t(0xB8 + n));
            placeholder(p2->hint == otConst ? ftConst : ftVar, p2, 0, p2->data, addrSize(), uint32_t(p2->displacement));
            return asmOK;
        case otVar: return movRegVar(p1, p2);
        case otMemRef: {
            TOperand t = *p2;
            t.hint = otMem;
            t.size = ptrSize;
            return inner("lea", p1, &t);
        }
        default: return asmUsageNotSupported;
        }
    }
    default: return asmUsageNotSupported;
    }
}
