#include "encoder/tav_assembler.h"

#include <cstring>
#include <stdexcept>

#include "classes/fixup_manager.h"
#include "classes/register_manager.h"
#include "global.h"
#include "log.h"
#include "reader/word_table.h"

using namespace tavasm;

namespace {
std::string g_RangeText;  // the last immediate refused for its range
}

uint32_t TTavAssembler::checkRange(const TOperand* imm, int64_t lo, int64_t hi) {
    if (imm->value >= lo && imm->value <= hi) return asmOK;
    g_RangeText = rangeText(imm->value, lo, hi);
    return asmValueOutOfRange;
}

uint32_t TTavAssembler::checkImm(const TOperand* imm, uint32_t n) {
    switch (n) {
    case 1: return checkRange(imm, -128, 255);
    case 2: return checkRange(imm, -32768, 65535);
    case 4: return checkRange(imm, INT32_MIN, UINT32_MAX);
    default: return asmOK;
    }
}

std::string TTavAssembler::errorCodeToString(uint32_t code) {
    switch (code) {
    case asmOK: return "Assemble OK!";
    case asmInvalidOperands: return "Invalid operand(s)";
    case asmSizeMismatch: return "Operand size mismatch!";
    case asmExpectedSingleDouble: return "Expected single or double";
    case asmOperand1Invalid: return "Operand 1 is invalid";
    case asmOperand2Invalid: return "Operand 2 is invalid";
    case asmOperand3Invalid: return "Operand 3 is invalid";
    case asmNotEnoughParams: return "Not enough parameters!";
    case asmTooManyParams: return "Too many parameters!";
    case asmTypeMismatch: return "Operand type mismatch!";
    case asmNotInMode: return "Instruction not available in " + std::to_string(bits()) + " bit" + " mode!";
    case asmUnknownInstruction: return "Unknown instruction";
    case asmInstructionRequired: return "Instruction required!";
    case asmUsageNotSupported: return "Instruction usage is not supported!";
    case asmValueOutOfRange: return g_RangeText;
    case asmNoQwordForm: return wideText();
    default: return "";
    }
}

PInstruction TTavAssembler::opcodeLookup(std::string_view mnemonic) {
    // Names match as written: the rows are in lower case.
    bool upper = false;
    const TWord* w = words::find(mnemonic, &upper);
    return w && !upper ? w->mnemonic : nullptr;
}

bool TTavAssembler::addBytes(const uint8_t* bytes, uint32_t len) {
    if (len == 0) return true;
    if (len > 0xFFFFFFFFu - F_curPosition) throw std::length_error("instruction longer than 4 GiB");
    const uint32_t n = F_curPosition + len;
    if (n <= kInline) {
        std::memcpy(F_bytes + F_curPosition, bytes, len);
    } else {
        if (F_curPosition <= kInline) F_spill.assign(F_bytes, F_curPosition);
        F_spill.append(reinterpret_cast<const char*>(bytes), len);
    }
    F_curPosition = n;
    return true;
}

bool TTavAssembler::addBytes(uint32_t bytes, uint32_t len) {
    if (len > 4) len = 4;
    if (F_curPosition + 4 <= kInline) {
        // All four are written; those past len are not counted.
        auto* p = reinterpret_cast<uint8_t*>(F_bytes) + F_curPosition;
        for (uint32_t i = 0; i < 4; ++i) p[i] = uint8_t(bytes >> (8 * i));
        F_curPosition += len;
        return true;
    }
    uint8_t b[4];
    for (uint32_t i = 0; i < 4; ++i) b[i] = uint8_t((bytes >> (8 * i)) & 0xFF);
    return addBytes(b, len);
}

std::string TTavAssembler::popCode() {
    std::string s(code());
    dropCode();
    return s;
}

void TTavAssembler::dropCode() {
    F_spill.clear();
    F_curPosition = 0;
}

uint8_t TTavAssembler::B(uint32_t op, uint32_t n) {
    if (n < 1 || n > 4) Log->FatalError("[124783] Notify developers");
    return uint8_t(op >> (8 * (4 - n)));
}

bool TTavAssembler::isImm8(uint32_t width, int64_t value) {
    switch (width) {
    case 1: return true;
    case 2: {
        int16_t v = int16_t(uint16_t(uint64_t(value)));
        return v >= -128 && v <= 127;
    }
    case 4: {
        int32_t v = int32_t(uint32_t(uint64_t(value)));
        return v >= -128 && v <= 127;
    }
    default: return value >= -128 && value <= 127;
    }
}

void TTavAssembler::emitMOD(uint8_t mod, uint8_t reg, uint8_t rm) {
    addByte(uint8_t((mod << 6) | ((reg << 3) & 0x38) | (rm & 7)));
}

void TTavAssembler::emitSIB(uint8_t scale, uint8_t index, uint8_t base) {
    uint8_t ss;
    switch (scale) {
    case 0:
    case 1: ss = 0; break;
    case 2: ss = 1; break;
    case 4: ss = 2; break;
    case 8: ss = 3; break;
    default: Log->FatalError("[124784] Notify developers");
    }
    addByte(uint8_t((ss << 6) | ((index & 7) << 3) | (base & 7)));
}

uint32_t TTavAssembler::emitModRM(uint8_t reg, const TOperand* op, uint32_t immSize) {
    (void)immSize;
    if (op->hint == otRegister) {
        emitModR(reg, op->reg_base > 31 ? 0 : regNum(op->reg_base));
        return asmOK;
    }
    if (op->hint == otMem)
        return emitModM(0, op->reg_count, op->scale, op->displacement, op->reg_index, op->reg_base, reg);
    return asmInvalidOperands;
}

namespace {
// An addressing register must be of the mode's address width: no 67 prefix
// is ever emitted.
bool addressReg(TRegister r) {
    if (bits() == 16) return r >= REG_AX && r <= REG_DI;
    if (bits() == 64) return r >= REG_EAX && r <= REG_RDI;
    return r >= REG_EAX && r <= REG_EDI;
}
}  // namespace

uint32_t TTavAssembler::emitModM(uint8_t offset, uint8_t regCount, uint8_t scale, int64_t displacement, TRegister index,
                                 TRegister base, uint8_t reg) {
    reg = uint8_t(reg + offset);
    if (regCount > 2) return asmInvalidOperands;
    if (regCount >= 1 && !addressReg(base)) return asmInvalidOperands;
    if (regCount == 2 && !addressReg(index)) return asmInvalidOperands;
    uint8_t b = regNum(base), i = regNum(index);

    if (bits() == 16) {
        if (scale > 1) return asmInvalidOperands;
        if (regCount == 0) {  // direct address
            emitMOD(0, reg, 6);
            addBytes(uint32_t(displacement), 2);
            return asmOK;
        }
        uint8_t rm;
        bool bp;
        if (regCount == 1) {
            switch (b) {
            case 3: rm = 7; break;  // bx
            case 5: rm = 6; break;  // bp
            case 6: rm = 4; break;  // si
            case 7: rm = 5; break;  // di
            default: return asmInvalidOperands;
            }
            bp = b == 5;
        } else {
            if ((b != 3 && b != 5) || (i != 6 && i != 7)) return asmInvalidOperands;
            rm = uint8_t((b == 5 ? 2 : 0) + (i == 7 ? 1 : 0));
            bp = false;  // bp+si and bp+di have a mod-0 form
        }
        if (displacement == 0 && !bp) {
            emitMOD(0, reg, rm);
        } else if (isImm8(2, displacement)) {
            emitMOD(1, reg, rm);
            addBytes(uint32_t(displacement), 1);
        } else {
            emitMOD(2, reg, rm);
            addBytes(uint32_t(displacement), 2);
        }
        return asmOK;
    }

    if (scale != 0 && scale != 1 && scale != 2 && scale != 4 && scale != 8) return asmInvalidOperands;
    if (regCount == 0) {  // absolute 32-bit address
        emitMOD(0, reg, 5);
        addBytes(uint32_t(displacement), 4);
        return asmOK;
    }
    if (regCount == 1 && scale > 1) {
        // A scaled register alone is an index without base: SIB base 5, disp32.
        if (b == 4) return asmInvalidOperands;
        emitMOD(0, reg, 4);
        emitSIB(scale, b, 5);
        addBytes(uint32_t(displacement), 4);
        return asmOK;
    }
    if (regCount == 1 && b == 4 && scale > 0) return asmInvalidOperands;
    if (regCount == 2 && i == 4) return asmInvalidOperands;

    uint8_t mod;
    if (displacement == 0 && b != 5) mod = 0;
    else if (isImm8(4, displacement)) mod = 1;
    else mod = 2;
    if (regCount == 1 && b != 4) {
        emitMOD(mod, reg, b);
    } else if (regCount == 1) {
        emitMOD(mod, reg, 4);
        addByte(0x24);
    } else {
        emitMOD(mod, reg, 4);
        emitSIB(scale, i, b);
    }
    if (mod == 1) addBytes(uint32_t(displacement), 1);
    else if (mod == 2) addBytes(uint32_t(displacement), 4);
    return asmOK;
}

void TTavAssembler::addOpcode(uint32_t op) {
    for (uint32_t n = 1; n <= 3; ++n)
        if (B(op, n)) addByte(B(op, n));
    addByte(B(op, 4));
}

void TTavAssembler::addPrefixFor(uint32_t size) {
    if (needs66(size)) addByte(0x66);
}

uint32_t TTavAssembler::emitX86RM(uint32_t opcode, bool opsize, uint32_t immSize, const TOperand* op, uint8_t reg) {
    if (opsize) addByte(0x66);
    addOpcode(opcode);
    return emitModRM(reg, op, immSize);
}

uint32_t TTavAssembler::emitMMU(uint32_t opcode, uint32_t immSize, const TOperand* op, uint8_t reg) {
    (void)immSize;
    if (B(opcode, 1)) addByte(B(opcode, 1));
    if (B(opcode, 2)) addByte(B(opcode, 2));
    addByte(B(opcode, 3));
    addByte(B(opcode, 4));
    if (op->hint == otMem)
        return emitModM(0, op->reg_count, op->scale, op->displacement, op->reg_index, op->reg_base, reg);
    if (op->hint == otST || op->hint == otXMM) {
        emitModR(reg, uint8_t(op->value & 7));
        return asmOK;
    }
    Log->FatalError("54452");
}

void TTavAssembler::varModRM(uint8_t reg) { emitMOD(0, reg, bits() == 16 ? 6 : 5); }

void TTavAssembler::placeholder(uint8_t ft, const TOperand* op, uint32_t index, void* data, uint8_t size,
                                uint32_t offset, uint16_t jt) {
    PFunction parent = static_cast<PFunction>(op->ptr);
    if (data) FixMan->addFixup(TFixupType(ft), parent, data, F_curPosition, size, offset, TJmpType(jt));
    else FixMan->addFixup(TFixupType(ft), parent, index, F_curPosition, size, offset, TJmpType(jt));
    addBytes(0u, size);
}

uint32_t TTavAssembler::inner(std::string_view mnemonic, POperand a, POperand b) {
    return assemble(opcodeLookup(mnemonic), a, b, nullptr);
}

uint32_t TTavAssembler::assemble(PInstruction row, POperand opPAR1, POperand opPAR2, POperand opPAR3) {
    for (POperand p : {opPAR1, opPAR2, opPAR3})
        if (p && p->hint == otRegister) takePendingAssumption(p);

    if (!row) return asmInstructionRequired;
    if ((row->flags & IF_ONLY64) && bits() != 64) return asmNotInMode;
    if ((row->flags & IF_MODE32) && bits() != 32 && bits() != 64) return asmNotInMode;

    int count = (opPAR1 != nullptr) + (opPAR2 != nullptr) + (opPAR3 != nullptr);
    if (count > row->maxpar) return asmTooManyParams;
    if (count < row->minpar) return asmNotEnoughParams;
    // Operands are positional: a gap (nil before a given one) is not an instruction.
    if ((!opPAR1 && (opPAR2 || opPAR3)) || (!opPAR2 && opPAR3)) return asmInvalidOperands;
    if (row->group >= ig__TOTAL) return asmUnknownInstruction;

    uint32_t r;
    switch (row->group) {
    case igEMIT: r = doEMIT(row, opPAR1); break;
    case igALU: r = doALU(row, opPAR1, opPAR2); break;
    case igLEA: r = doLEA(opPAR1, opPAR2); break;
    case igPUSH:
    case igPOP: r = doPUSHPOP(row, opPAR1); break;
    case igCALL: r = doCALL(opPAR1); break;
    case igGOTO: r = doGOTO(row, opPAR1); break;
    case igINCDEC: r = doINCDEC(row, opPAR1); break;
    case igBT: r = doBT(row, opPAR1, opPAR2); break;
    case igROT: r = doROT(row, opPAR1, opPAR2); break;
    case igRM_S: r = doRM_S(row, opPAR1); break;
    case igMMU_MOVQ: r = doMOVQ(opPAR1, opPAR2); break;
    case igMOVSX_MOVZX: r = doMOVSX(row, opPAR1, opPAR2); break;
    case igMOV: r = doMOV(opPAR1, opPAR2); break;
    case igTEST: r = doTEST(opPAR1, opPAR2); break;
    case igREGMEM: r = doREGMEM(row, opPAR1); break;
    case igRET: r = doRET(opPAR1); break;
    case igXCHG: r = doXCHG(row, opPAR1, opPAR2); break;
    case igIMUL: r = doIMUL(opPAR1, opPAR2, opPAR3); break;
    case igREG_REGMEM: r = doREG_REGMEM(row, opPAR1, opPAR2); break;
    case igX87_FPU_S:
    case igX87_FPU: r = doX87_FPU(row, opPAR1, opPAR2); break;
    case igX87_MEM_STI:
    case igX87_MEM: r = doX87_MEM(row, opPAR1); break;
    case igSSE: r = doSSE(row, opPAR1, opPAR2); break;
    default: return asmUnknownInstruction;
    }
    return r;
}

void takePendingAssumption(const TOperand* op) {
    if (!RegMan || op->reg_base >= REG_STATE_COUNT) return;
    TRegState& st = RegMan->Registers[op->reg_base];
    if (st.tempAssume) {
        st.assume = st.tempAssume;
        st.tempAssume = nullptr;
    }
}
