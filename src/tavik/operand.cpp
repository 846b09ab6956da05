#include "operand.h"

#include <new>

#include "classes/record_arena.h"
#include "common.h"

namespace {
// Freed operands, linked through their first bytes.
struct FreeOperand {
    FreeOperand* next;
};
FreeOperand* g_freeOperands = nullptr;
}  // namespace

void* TOperand::operator new(std::size_t n)
{
    if (!kSanitizedBuild && n == sizeof(TOperand) && g_freeOperands) {
        FreeOperand* f = g_freeOperands;
        g_freeOperands = f->next;
        return f;
    }
    return ::operator new(n);
}

void TOperand::operator delete(void* p) noexcept
{
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
std::string lower(const std::string& s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

const char* const kRegNames[24] = {
    "al", "cl", "dl", "bl", "ah", "ch", "dh", "bh",
    "ax", "cx", "dx", "bx", "sp", "bp", "si", "di",
    "eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi",
};
const char* const kReg64Names[8] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi"};
const char* const kGpNames[8] = {"gp_ax", "gp_cx", "gp_dx", "gp_bx", "gp_sp", "gp_bp", "gp_si", "gp_di"};

int findIn(const char* const* names, int n, const std::string& s)
{
    for (int i = 0; i < n; ++i)
        if (s == names[i]) return i;
    return -1;
}
}  // namespace

TRegister strToReg(const std::string& name)
{
    const std::string s = lower(name);
    const uint32_t bits = CompileFlags.cpu_bits;
    int i;
    switch (s.size()) {
    case 5:
        if ((i = findIn(kGpNames, 8, s)) < 0) return REG_NONE;
        if (bits == 16) return static_cast<TRegister>(REG_AX + i);
        if (bits == 32) return static_cast<TRegister>(REG_EAX + i);
        if (bits == 64) return static_cast<TRegister>(REG_RAX + i);
        return REG_NONE;
    case 3:
        if (bits >= 64 && (i = findIn(kReg64Names, 8, s)) >= 0) return static_cast<TRegister>(REG_RAX + i);
        if (bits >= 32 && (i = findIn(kRegNames + 16, 8, s)) >= 0) return static_cast<TRegister>(REG_EAX + i);
        return REG_NONE;
    case 2:
        if ((i = findIn(kRegNames + 8, 8, s)) >= 0) return static_cast<TRegister>(REG_AX + i);
        if ((i = findIn(kRegNames, 8, s)) >= 0) return static_cast<TRegister>(REG_AL + i);
        return REG_NONE;
    default: return REG_NONE;
    }
}

TSegment strToSeg(const std::string& name)
{
    const std::string s = lower(name);
    if (s.size() != 2) return SEG_NONE;
    if (s == "cs") return SEG_CS;
    if (s == "ss") return SEG_SS;
    if (s == "ds") return SEG_DS;
    if (s == "es") return SEG_ES;
    if (s == "fs") return SEG_FS;
    if (s == "gs") return SEG_GS;
    return SEG_NONE;
}

std::string regToStr(TRegister reg) { return reg < 24 ? kRegNames[reg] : ""; }

TRegister frameRegister() { return CompileFlags.cpu_bits == 16 ? REG_BP : REG_EBP; }

TRegister stackRegister() { return CompileFlags.cpu_bits == 16 ? REG_SP : REG_ESP; }

uint8_t regSize(TRegister reg)
{
    if (reg < 8) return 1;
    if (reg < 16) return 2;
    return 4;
}

void TOperand::setNull()
{
    hint = otRegister;
    ptr = nullptr;
    value = static_cast<int64_t>(static_cast<uint64_t>(value) & 0xFFFFFFFF00000000ull);
}

void TOperand::setPointer(TOperandType hint_, void* ptr_, void* data_)
{
    setNull();
    hint = hint_;
    displacement = 0;
    ptr = ptr_;
    data = data_;
    size = CompileFlags.cpu_bits / 8;
}

void TOperand::setLabel(void* ptr_, uint32_t index)
{
    setNull();
    hint = otLabel;
    displacement = 0;
    ptr = ptr_;
    value = static_cast<int64_t>(index);
    size = CompileFlags.cpu_bits / 8;
}

void TOperand::setImm(int32_t value_, uint32_t size_)
{
    setNull();
    hint = otImm;
    displacement = 0;
    value = value_;
    size = size_;
}

void TOperand::setRegister(TRegister reg)
{
    setNull();
    hint = otRegister;
    displacement = 0;
    size = regSize(reg);
    reg_base = reg;
}

void TOperand::setSegment(TSegment seg_)
{
    setNull();
    hint = otSegment;
    displacement = 0;
    seg = seg_;
}

void TOperand::setIntType(TOperandType hint_, int64_t value_)
{
    setNull();
    hint = hint_;
    displacement = 0;
    size = 0;
    value = value_;
}

void TOperand::setMemory(uint32_t size_, int32_t displacement_, uint8_t scale_, const TRegister* regs, size_t count)
{
    setNull();
    reg_count = static_cast<uint8_t>(count > 2 ? 2 : count);
    if (count >= 1) reg_base = regs[0];
    if (count >= 2) reg_index = regs[1];
    hint = otMem;
    size = size_;
    displacement = displacement_;
    scale = scale_;
}

void TOperand::setMemory(uint32_t size_, int32_t displacement_, uint8_t scale_, std::initializer_list<TRegister> regs)
{
    setMemory(size_, displacement_, scale_, regs.begin(), regs.size());
}

bool TOperand::isRegType() const { return hint == otRegister || hint == otST || hint == otXMM; }

bool TOperand::isRegister(uint32_t size_) const { return hint == otRegister && size == size_; }
