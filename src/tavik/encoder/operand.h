#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// glibc's <sys/ucontext.h> (reached through <csignal> under _GNU_SOURCE)
// declares REG_RAX .. REG_RDI at global scope. When it has not been seen yet,
// it is read here with those names moved aside, so the register names below
// stay ours whatever is included later.
#if defined(__linux__) && !defined(REG_RAX)
#  define REG_RAX tavik_ucontext_REG_RAX
#  define REG_RCX tavik_ucontext_REG_RCX
#  define REG_RDX tavik_ucontext_REG_RDX
#  define REG_RBX tavik_ucontext_REG_RBX
#  define REG_RSP tavik_ucontext_REG_RSP
#  define REG_RBP tavik_ucontext_REG_RBP
#  define REG_RSI tavik_ucontext_REG_RSI
#  define REG_RDI tavik_ucontext_REG_RDI
#  include <csignal>
#  undef REG_RAX
#  undef REG_RCX
#  undef REG_RDX
#  undef REG_RBX
#  undef REG_RSP
#  undef REG_RBP
#  undef REG_RSI
#  undef REG_RDI
#endif

// General registers in encoding order: the hardware number is the value
// mod 8, the width class the value div 8.
// clang-format off
enum TRegister : uint8_t {
    REG_AL = 0, REG_CL, REG_DL, REG_BL, REG_AH, REG_CH, REG_DH, REG_BH,
    REG_AX = 8, REG_CX, REG_DX, REG_BX, REG_SP, REG_BP, REG_SI, REG_DI,
    REG_EAX = 16, REG_ECX, REG_EDX, REG_EBX, REG_ESP, REG_EBP, REG_ESI, REG_EDI,
    REG_RAX = 24, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
    REG_NONE = 255
};
// clang-format on

// Segment registers by their x86 number.
enum TSegment : uint8_t { SEG_ES = 0, SEG_CS = 1, SEG_SS = 2, SEG_DS = 3, SEG_FS = 4, SEG_GS = 5, SEG_NONE = 255 };

enum TOperandType : uint8_t {
    otRegister = 0,
    otSegment = 1,
    otImm = 2,
    otVar = 3,
    otVarRef = 4,
    otMemRef = 5,
    otST = 6,
    otXMM = 7,
    otMem = 8,
    otLabel = 9,
    otSegLabel = 10,
    otLabelRef = 11,
    otConst = 12,
};

// One instruction operand. The setters leave some fields as they were;
// readers go by hint and reg_count.
struct TOperand {
    TOperandType hint = otRegister;
    uint32_t size = 0;  // bytes; 0 = not given
    TSegment seg = SEG_ES;
    TRegister reg_base = REG_AL;
    TRegister reg_index = REG_AL;
    uint8_t reg_count = 0;  // registers in use: 0, 1 or 2
    uint8_t scale = 0;      // 0 or 1 (none), 2, 4, 8
    int32_t displacement = 0;
    uint32_t segstart = 0;  // selector of a far target
    void* ptr = nullptr;    // function owning the label, variable or constant
    union {
        int64_t value = 0;  // immediate, st/xmm number, label index
        void* data;         // variable or constant record
    };

    void setNull();
    void setPointer(TOperandType hint_, void* ptr_, void* data_);
    void setLabel(void* ptr_, uint32_t index);
    void setImm(int32_t value_, uint32_t size_);
    void setRegister(TRegister reg);
    void setSegment(TSegment seg_);
    void setIntType(TOperandType hint_, int64_t value_);
    void setMemory(uint32_t size_, int32_t displacement_, uint8_t scale_, std::initializer_list<TRegister> regs);
    void setMemory(uint32_t size_, int32_t displacement_, uint8_t scale_, const TRegister* regs, size_t count);

    bool isRegType() const;
    bool isRegister(uint32_t size_) const;
    // The address is made with the register of number n (0 for eax, ax, al).
    bool addressUses(uint8_t n) const {
        return (reg_count >= 1 && (reg_base & 7) == n) || (reg_count == 2 && (reg_index & 7) == n);
    }

    // Operands come and go with every instruction: freed ones are kept for
    // the next (not in a sanitized build).
    static void* operator new(std::size_t n);
    static void operator delete(void* p) noexcept;
};
using POperand = TOperand*;

// Register names, numbers and sizes; strToReg depends on CompileFlags.cpu_bits.
TRegister strToReg(const std::string& name);
// The word names a 32-bit register while the code is 16-bit, where strToReg
// does not know it.
bool wideRegisterIn16(const std::string& name);
TSegment strToSeg(const std::string& name);
std::string regToStr(TRegister reg);
std::string_view regNameView(TRegister reg);  // as regToStr, without a copy
uint8_t regSize(TRegister reg);
// The frame and stack registers of the bit mode: bp and sp in 16-bit code,
// ebp and esp otherwise.
TRegister frameRegister();
TRegister stackRegister();
