#include "encoder/operand.h"

#include <new>

#include "ascii.h"
#include "classes/record_arena.h"
#include "common.h"
#include "reader/word_table.h"

namespace {
// Freed operands, linked through their first bytes.
struct FreeOperand {
    FreeOperand* next;
};
FreeOperand* g_freeOperands = nullptr;
}  // namespace

void* TOperand::operator new(std::size_t n) {
    if (!kSanitizedBuild && n == sizeof(TOperand) && g_freeOperands) {
        FreeOperand* f = g_freeOperands;
        g_freeOperands = f->next;
        return f;
    }
    return ::operator new(n);
}

void TOperand::operator delete(void* p) noexcept {
    if (!p) return;
    if (kSanitizedBuild) {
        ::operator delete(p);
        return;
    }
    auto* f = static_cast<FreeOperand*>(p);
    f->next = g_freeOperands;
    g_freeOperands = f;
}

namespace {
const char* const kRegNames[24] = {
    "al", "cl", "dl", "bl", "ah",  "ch",  "dh",  "bh",  "ax",  "cx",  "dx",  "bx",
    "sp", "bp", "si", "di", "eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi",
};
}  // namespace

TRegister strToReg(const std::string& name) { return words::registerOf(words::find(name)); }

bool wideRegisterIn16(const std::string& name) {
    if (CompileFlags.cpu_bits != 16 || name.size() != 3) return false;
    const std::string low = lowerAscii(name);
    for (int r = 16; r < 24; ++r)
        if (low == kRegNames[r]) return true;
    return false;
}

TSegment strToSeg(const std::string& name) {
    const TWord* w = words::find(name);
    return w ? w->segment : SEG_NONE;
}

std::string regToStr(TRegister reg) { return reg < 24 ? kRegNames[reg] : ""; }
std::string_view regNameView(TRegister reg) { return reg < 24 ? kRegNames[reg] : ""; }

TRegister frameRegister() { return CompileFlags.cpu_bits == 16 ? REG_BP : REG_EBP; }

TRegister stackRegister() { return CompileFlags.cpu_bits == 16 ? REG_SP : REG_ESP; }

uint8_t regSize(TRegister reg) {
    if (reg < 8) return 1;
    if (reg < 16) return 2;
    return 4;
}

void TOperand::setNull() {
    hint = otRegister;
    ptr = nullptr;
    value = static_cast<int64_t>(static_cast<uint64_t>(value) & 0xFFFFFFFF00000000ull);
}

void TOperand::setPointer(TOperandType hint_, void* ptr_, void* data_) {
    setNull();
    hint = hint_;
    displacement = 0;
    ptr = ptr_;
    data = data_;
    size = CompileFlags.cpu_bits / 8;
}

void TOperand::setLabel(void* ptr_, uint32_t index) {
    setNull();
    hint = otLabel;
    displacement = 0;
    ptr = ptr_;
    value = static_cast<int64_t>(index);
    size = CompileFlags.cpu_bits / 8;
}

void TOperand::setImm(int32_t value_, uint32_t size_) {
    setNull();
    hint = otImm;
    displacement = 0;
    value = value_;
    size = size_;
}

void TOperand::setRegister(TRegister reg) {
    setNull();
    hint = otRegister;
    displacement = 0;
    size = regSize(reg);
    reg_base = reg;
}

void TOperand::setSegment(TSegment seg_) {
    setNull();
    hint = otSegment;
    displacement = 0;
    seg = seg_;
}

void TOperand::setIntType(TOperandType hint_, int64_t value_) {
    setNull();
    hint = hint_;
    displacement = 0;
    size = 0;
    value = value_;
}

void TOperand::setMemory(uint32_t size_, int32_t displacement_, uint8_t scale_, const TRegister* regs, size_t count) {
    setNull();
    reg_count = static_cast<uint8_t>(count > 2 ? 2 : count);
    if (count >= 1) reg_base = regs[0];
    if (count >= 2) reg_index = regs[1];
    hint = otMem;
    size = size_;
    displacement = displacement_;
    scale = scale_;
}

void TOperand::setMemory(uint32_t size_, int32_t displacement_, uint8_t scale_, std::initializer_list<TRegister> regs) {
    setMemory(size_, displacement_, scale_, regs.begin(), regs.size());
}

bool TOperand::isRegType() const { return hint == otRegister || hint == otST || hint == otXMM; }

bool TOperand::isRegister(uint32_t size_) const { return hint == otRegister && size == size_; }
