#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "common.h"
#include "reader/cur_token.h"
#include "encoder/instructions.h"
#include "encoder/operand.h"

// The reserved words of every kind in one table, built once: keywords,
// general and segment registers, mnemonics. Words match without regard to
// ASCII case and are looked up straight from a slice of the source.
struct TWord {
    // How a general register name reads in the current bit mode.
    enum RegClass : uint8_t {
        rcNone = 0,
        rcAlways,  // 8- and 16-bit registers
        rc32,      // e-registers: 32-bit mode and above
        rc64,      // r-registers: 64-bit mode
        rcGp,      // gp_ names: the register of the mode's width
    };
    TKeyword keyword = keyNone;
    RegClass regClass = rcNone;
    uint8_t reg = 0;  // TRegister for rcAlways, else the number 0..7
    TSegment segment = SEG_NONE;
    PInstruction mnemonic = nullptr;
    // Set once an identifier of this name has been declared (never cleared):
    // until then the identifier table cannot hold the word.
    mutable bool declared = false;
};

namespace words {

// The entry of a word; nullptr when it is none of them. hadUpper (when
// given) tells whether the word held capitals.
const TWord* find(std::string_view word, bool* hadUpper = nullptr);
// The same for the n bytes at p, letters, digits and "_" only, when
// sixteen bytes from p can be read.
const TWord* findPadded(const char* p, size_t n);
// The entry of a word of letters, digits and "_" held in a string (whose
// storage holds sixteen bytes at least when it is short).
inline const TWord* findIn(const std::string& s) {
    return s.size() <= 15 && s.capacity() >= 15 ? findPadded(s.data(), s.size()) : find(s);
}
// The entry of a word of letters, digits and "_" lying at from in a text of length len.
inline const TWord* findInText(const char* text, uint32_t len, uint32_t from, uint32_t n) {
    return uint64_t(from) + 16 <= len ? findPadded(text + from, n) : find(std::string_view(text + from, n));
}

// Notes that an identifier named like a reserved word (if it is one) was declared.
void noteDeclared(std::string_view name);
// Clears every such note, as before the first compilation of the process.
void forgetDeclared();

// The register a word stands for in the current bit mode; REG_NONE if none.
inline TRegister registerOf(const TWord* w) {
    if (!w) return REG_NONE;
    const uint32_t bits = CompileFlags.cpu_bits;
    switch (w->regClass) {
    case TWord::rcAlways: return static_cast<TRegister>(w->reg);
    case TWord::rc32: return bits >= 32 ? static_cast<TRegister>(REG_EAX + w->reg) : REG_NONE;
    case TWord::rc64: return bits >= 64 ? static_cast<TRegister>(REG_RAX + w->reg) : REG_NONE;
    case TWord::rcGp:
        if (bits == 16) return static_cast<TRegister>(REG_AX + w->reg);
        if (bits == 32) return static_cast<TRegister>(REG_EAX + w->reg);
        if (bits == 64) return static_cast<TRegister>(REG_RAX + w->reg);
        return REG_NONE;
    default: return REG_NONE;
    }
}

}  // namespace words
