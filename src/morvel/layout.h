#pragma once
// Layout of the code, constant and variable blocks. Addresses written here
// are offsets: a function's in the code block, a label's in its parent's
// code, a constant's or variable's in its block.
#include <cstdint>
#include <string>

#include "tavik/plugin_api.h"

namespace morvel {

// value rounded up to a multiple of alignment; every value up to the
// alignment itself gives the alignment (an empty block is one full unit).
uint32_t alignUp(uint32_t value, uint32_t alignment);

// Addresses for the reachable functions, locals placeholders filled or
// removed, jump placeholders shrunk to short or near jumps. Returns the size
// of the code block. Runs once per build. wordSize 2 lays out 16-bit code:
// near jumps and the locals allocation then carry 16-bit values.
uint32_t layoutCode(uint32_t wordSize = 4);

// The constant block: offsets, and its bytes appended to the output.
uint32_t layoutConsts();
void writeConsts();

// The variable block of the active globals (initialised ones first unless
// all is set), and its contents appended to the output. With the block at
// byte base of the image, a variable that would end past byte limit is
// fatal, before anything is written; sizes are summed in 64 bits.
uint32_t layoutVars(bool all, uint64_t base = 0, uint64_t limit = 0xFFFFFFFFu);
void writeVars(bool all);

// A string constant's text as UTF-16 code units (the pool holds UTF-8);
// a malformed byte becomes U+FFFD.
std::u16string wideText(const char* utf8);

// Bytes of an ansi constant: its text up to the first zero byte.
uint32_t ansiLength(const char* s);

// Bytes of the displacement of a near jump: those of the code it sits in
// (16-bit code takes 2), or the build's when the fixup does not tell.
inline uint32_t nearJumpWidth(const TFixup* fx, uint32_t buildWidth) {
    return fx->codebits == 16 ? 2 : fx->codebits != 0 ? 4 : buildWidth;
}

inline bool isLabel(PFunction f) { return f->Type_ == ltLabel; }
inline bool isReachable(PFunction f) { return f->IsCalled && f->Type_ != ltLabel; }
inline bool hasCode(PFunction f) { return isReachable(f) && f->BufLen != 0; }
inline bool isGlobalActive(PVar v) { return v->mode == vmGlobal && v->active; }
inline uint64_t varSize(PVar v) { return uint64_t(v->type_ ? v->type_->size : 0) * v->multiplier; }

// Fatal for variable v, which would end at byte `end` of an image that holds
// limit bytes.
[[noreturn]] void varPastLimit(PVar v, uint64_t end, uint64_t limit);

std::string funcName(PFunction f);

}  // namespace morvel
