#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "encoder/instructions.h"
#include "common.h"
#include "encoder/operand.h"

// Error codes of the encoder (0 = success).
enum : uint32_t {
    asmOK = 0,
    asmInvalidOperands = 0x1000,
    asmSizeMismatch = 0x1001,
    asmExpectedSingleDouble = 0x1002,
    asmOperand1Invalid = 0x1003,
    asmOperand2Invalid = 0x1004,
    asmOperand3Invalid = 0x1005,
    asmNotEnoughParams = 0x1010,
    asmTooManyParams = 0x1011,
    asmTypeMismatch = 0x1012,
    asmNotInMode = 0x1013,
    asmValueOutOfRange = 0x1014,  // the text names the value and the range
    asmNoQwordForm = 0x1015,
    asmUnknownInstruction = 0x10000000,
    asmInstructionRequired = 0x10000001,
    asmUsageNotSupported = 0x10000002,
};

// The instruction encoder: appends the bytes of one instruction at a time to
// its buffer and records the fixups of symbol operands.
class TTavAssembler {
public:
    TTavAssembler() = default;
    TTavAssembler(const TTavAssembler&) = delete;
    TTavAssembler& operator=(const TTavAssembler&) = delete;

    static std::string errorCodeToString(uint32_t code);
    static PInstruction opcodeLookup(std::string_view mnemonic);

    bool addBytes(const uint8_t* bytes, uint32_t len);
    bool addBytes(uint32_t bytes, uint32_t len);  // low len bytes, least significant first
    std::string getCode() const { return std::string(code()); }
    std::string popCode();
    // The bytes of the last instruction, valid until the next one; dropCode
    // empties the buffer and keeps its room.
    std::string_view code() const {
        return F_curPosition <= kInline ? std::string_view(F_bytes, F_curPosition) : std::string_view(F_spill);
    }
    // The in-place buffer code() shows while the bytes fit; kInline bytes to read.
    const char* inlineBytes() const { return F_bytes; }
    void dropCode();

    static uint8_t B(uint32_t op, uint32_t n);  // byte n (1 = most significant) of a packed opcode
    static bool isImm8(uint32_t width, int64_t value);
    // asmOK when the immediate lies in lo..hi, else asmValueOutOfRange with
    // the value and the range kept for errorCodeToString.
    static uint32_t checkRange(const TOperand* imm, int64_t lo, int64_t hi);
    // An immediate for a field of n bytes (1, 2 or 4; 8 takes any value),
    // read as a signed or an unsigned number.
    static uint32_t checkImm(const TOperand* imm, uint32_t n);

    void emitMOD(uint8_t mod, uint8_t reg, uint8_t rm);
    void emitSIB(uint8_t scale, uint8_t index, uint8_t base);
    void emitModR(uint8_t reg, uint8_t rm) { emitMOD(3, reg, rm); }
    uint32_t emitModRM(uint8_t reg, const TOperand* op, uint32_t immSize = 0);
    uint32_t emitModM(uint8_t offset, uint8_t regCount, uint8_t scale, int64_t displacement, TRegister index,
                      TRegister base, uint8_t reg);
    // General form: opsize adds the operand-size prefix, then the opcode
    // bytes (1-3 when non-zero, 4 always) and the ModRM of the operand.
    uint32_t emitX86RM(uint32_t opcode, bool opsize, uint32_t immSize, const TOperand* op, uint8_t reg);
    uint32_t emitMMU(uint32_t opcode, uint32_t immSize, const TOperand* op, uint8_t reg);

    uint32_t assemble(PInstruction row, POperand opPAR1 = nullptr, POperand opPAR2 = nullptr,
                      POperand opPAR3 = nullptr);

    uint32_t position() const { return F_curPosition; }

private:
    // The bytes being built: in place up to kInline of them, all in F_spill
    // beyond; F_curPosition counts them.
    static constexpr uint32_t kInline = 48;
    char F_bytes[kInline] = {};
    std::string F_spill;
    uint32_t F_curPosition = 0;

    void addByte(uint8_t b) { addBytes(b, 1); }
    void addOpcode(uint32_t op);       // bytes 1-3 when non-zero, byte 4 always
    void addPrefixFor(uint32_t size);  // 66 when the size differs from the mode's
    uint32_t inner(std::string_view mnemonic, POperand a, POperand b = nullptr);
    void placeholder(uint8_t ft, const TOperand* op, uint32_t indexOrZero, void* data, uint8_t size, uint32_t offset,
                     uint16_t jt = 16);
    void varModRM(uint8_t reg);  // mod 0 and the direct-address rm of the mode

    uint32_t doEMIT(PInstruction row, POperand p1);
    uint32_t doALU(PInstruction row, POperand p1, POperand p2);
    uint32_t aluQword(PInstruction row, POperand p1, POperand p2);
    // Operands wider than a dword: the exact two-dword sequences, or refusal.
    static uint32_t refuseWide(uint32_t size);
    static std::string wideText();
    uint32_t rotWide(PInstruction row, POperand p1, POperand p2);
    uint32_t regmemWide(PInstruction row, POperand p1);
    // The size a memory operand of an MMX or SSE row is read or written in.
    static uint32_t vectorMemSize(PInstruction row, const TOperand* reg);
    uint32_t doLEA(POperand p1, POperand p2);
    uint32_t doPUSHPOP(PInstruction row, POperand p1);
    uint32_t doCALL(POperand p1);
    uint32_t doGOTO(PInstruction row, POperand p1);
    uint32_t doINCDEC(PInstruction row, POperand p1);
    uint32_t doBT(PInstruction row, POperand p1, POperand p2);
    uint32_t doROT(PInstruction row, POperand p1, POperand p2);
    uint32_t doRM_S(PInstruction row, POperand p1);
    uint32_t doMOVQ(POperand p1, POperand p2);
    uint32_t doMOVSX(PInstruction row, POperand p1, POperand p2);
    uint32_t doMOV(POperand p1, POperand p2);
    uint32_t doTEST(POperand p1, POperand p2);
    uint32_t doREGMEM(PInstruction row, POperand p1);
    uint32_t doRET(POperand p1);
    uint32_t doXCHG(PInstruction row, POperand p1, POperand p2);
    uint32_t doIMUL(POperand p1, POperand p2, POperand p3);
    uint32_t doREG_REGMEM(PInstruction row, POperand p1, POperand p2);
    uint32_t doX87_FPU(PInstruction row, POperand p1, POperand p2);
    uint32_t doX87_MEM(PInstruction row, POperand p1);
    uint32_t doSSE(PInstruction row, POperand p1, POperand p2);

    // Synthesised sequences.
    uint32_t pushVar(PInstruction row, POperand op);
    uint32_t popVar(PInstruction row, POperand op);
    uint32_t pushMem(PInstruction row, POperand op);
    uint32_t popMem(PInstruction row, POperand op);
    uint32_t popRemainder(const TOperand* op, uint32_t s, const std::function<uint32_t()>& popWord,
                          const std::function<TOperand(uint32_t, uint32_t, uint32_t)>& part);
    uint32_t pushMemRef(POperand op);
    uint32_t xchgTop(TRegister r);
    uint32_t movVarImm(POperand var, POperand imm);
    uint32_t movVarReg(POperand var, POperand reg);
    uint32_t movRegVar(POperand reg, POperand var);
    uint32_t movRegAndVar(uint8_t accOpcode, uint8_t opcode, uint32_t rs, uint8_t n, POperand var);
    uint32_t movMemImm(POperand mem, POperand imm);
    uint32_t moveThroughStack(POperand dst, POperand src);
};

// Small helpers shared by the family routines.
namespace tavasm {
inline uint32_t bits() { return CompileFlags.cpu_bits; }
inline uint8_t regNum(uint8_t r) { return r & 7; }
inline uint32_t regClass(uint8_t r) { return r < 8 ? 1 : r < 16 ? 2 : 4; }
// Bytes of an absolute address operand in the mode.
inline uint8_t addrSize() { return bits() == 16 ? 2 : 4; }
// The operand-size prefix is needed for a size other than the mode's own.
inline bool needs66(uint32_t size) { return bits() == 16 ? size == 4 : size == 2; }
inline bool isReg(const TOperand* p) { return p && p->hint == otRegister; }
inline bool isMem(const TOperand* p) { return p && p->hint == otMem; }
inline bool isRM(const TOperand* p) { return isReg(p) || isMem(p); }
inline bool isImm(const TOperand* p) { return p && p->hint == otImm; }
// The size of a value in memory wider than a dword, else 0.
inline uint32_t wideSize(const TOperand* p) {
    return p && (p->hint == otMem || p->hint == otVar) && p->size > 4 ? p->size : 0;
}
}  // namespace tavasm

// Hands a register operand's pending type assumption over before encoding.
void takePendingAssumption(const TOperand* op);
