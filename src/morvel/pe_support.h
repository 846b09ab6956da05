#pragma once
// Where functions and labels ended up after the layout.
#include "layout.h"

namespace morvel {

// The address of a function, or of a label within its parent's code.
inline uint32_t targetAddress(PFunction t) { return t->Address + (t->Parent ? t->Parent->Address : 0); }

// A function or label that lies in the code block (a label may sit at the
// very end of its parent's code).
inline bool inCode(PFunction t)
{
    if (isLabel(t)) return t->Parent && hasCode(t->Parent) && t->Address <= t->Parent->BufLen;
    return hasCode(t);
}

// A function or label with at least one byte of code at its address: what an
// entry point or an export must be.
inline bool startsCode(PFunction t)
{
    if (isLabel(t)) return t->Parent && hasCode(t->Parent) && t->Address < t->Parent->BufLen;
    return hasCode(t);
}

}  // namespace morvel
