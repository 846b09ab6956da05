#pragma once
#include <concepts>
#include <cstdint>

#include "tavik/plugin_api.h"

// Creates fixups inside a function's list; the position gets the function's
// current code length added, so fixups are added before the instruction's
// bytes are appended. Without a function the fixup joins rtlmain's list with
// its position unchanged and no owner.
class TFixupManager {
public:
    TFixupManager() = default;

    int32_t addFixup(TFixupType ft, PFunction func, uint32_t index, uint32_t pos, uint8_t size, uint32_t ofs,
                     TJmpType jt = jtJMP);
    int32_t addFixup(TFixupType ft, PFunction func, void* dt, uint32_t pos, uint8_t size, uint32_t ofs,
                     TJmpType jt = jtJMP);
    template <std::integral I>
    int32_t addFixup(TFixupType ft, PFunction func, I index, uint32_t pos, uint8_t size, uint32_t ofs,
                     TJmpType jt = jtJMP) {
        return addFixup(ft, func, static_cast<uint32_t>(index), pos, size, ofs, jt);
    }
    // The fixup at index in func's list (rtlmain's when func is nil); nil out of range.
    PFixup getFixup(PFunction func, uint32_t index) const;
    uint32_t Count(PFunction func) const;

private:
    PFixup newFixup(TFixupType ft, PFunction func, uint32_t pos, uint8_t size, uint32_t ofs, TJmpType jt,
                    int32_t& index);
};
