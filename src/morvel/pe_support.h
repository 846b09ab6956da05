#pragma once
// Where functions and labels ended up after the layout.
#include "byte_buffer.h"
#include "host.h"
#include "layout.h"

namespace morvel {

// The address of a function, or of a label within its parent's code.
inline uint32_t targetAddress(PFunction t) { return t->Address + (t->Parent ? t->Parent->Address : 0); }

// A function or label that lies in the code block (a label may sit at the
// very end of its parent's code).
inline bool inCode(PFunction t) {
    if (isLabel(t)) return t->Parent && hasCode(t->Parent) && t->Address <= t->Parent->BufLen;
    return hasCode(t);
}

// A function or label with at least one byte of code at its address: what an
// entry point or an export must be.
inline bool startsCode(PFunction t) {
    if (isLabel(t)) return t->Parent && hasCode(t->Parent) && t->Address < t->Parent->BufLen;
    return hasCode(t);
}

// A fixup in the code of fn, with the checks both image builders make.
struct FixupSite {
    PFunction fn;
    PFixup fx;

    // The len bytes at `at` in fn's code; beyond its end is fatal.
    uint8_t* field(uint32_t at, uint32_t len) const {
        if (uint64_t(at) + len > fn->BufLen) fatal("Fixup outside the code of " + funcName(fn));
        return reinterpret_cast<uint8_t*>(fn->Buffer) + at;
    }

    // The address of the function referred to, which must be in the code.
    uint32_t target() const {
        PFunction t = host.Func_Get(fx->index);
        if (!t) fatal("Reference from " + funcName(fn) + " to a function that does not exist");
        if (!inCode(t)) fatal("Reference from " + funcName(fn) + " to " + funcName(t) + ", which has no code");
        return targetAddress(t);
    }

    // The displacement byte of a two-byte jump at the fixup's position.
    void shortJump() const {
        const uint32_t p = fx->position;
        uint8_t* f = field(p, 2);
        int32_t d = int32_t(target() - (fn->Address + p + 2));
        if (d < -128 || d > 127) fatal("Short jump out of range in " + funcName(fn));
        f[1] = uint8_t(d);
    }

    PConst constant() const {
        auto* c = static_cast<PConst>(fx->data);
        if (!c) fatal("Constant reference without a constant in " + funcName(fn));
        return c;
    }

    // The variable referred to, which must be a global one in the image.
    PVar variable() const {
        auto* v = static_cast<PVar>(fx->data);
        if (!v || !isGlobalActive(v))
            fatal("Reference from " + funcName(fn) + " to a variable that is not in the image");
        return v;
    }
};

}  // namespace morvel
