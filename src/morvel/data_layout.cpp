#include <algorithm>

#include "host.h"
#include "layout.h"

namespace morvel {

uint32_t alignUp(uint32_t value, uint32_t alignment) {
    if (alignment >= value) return alignment;
    uint32_t rest = value % alignment;
    return rest ? value + alignment - rest : value;
}

std::string funcName(PFunction f) {
    std::string name = text(f->Name);
    return name.empty() ? "#" + std::to_string(f->FuncIndex) : name;
}

uint32_t ansiLength(const char* s) {
    uint32_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

std::u16string wideText(const char* utf8) {
    std::u16string out;
    if (!utf8) return out;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    size_t i = 0;
    while (s[i]) {
        unsigned char c = s[i];
        uint32_t cp;
        size_t extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            extra = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            extra = 3;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= extra; ++k) {
            unsigned char d = s[i + k];
            if ((d & 0xC0) != 0x80) break;
            cp = (cp << 6) | (d & 0x3F);
        }
        bool bad = k <= extra || (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                   (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF));
        if (bad) {
            out.push_back(u'\uFFFD');
            i += k <= extra ? k : 1;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

uint32_t layoutConsts() {
    uint32_t size = 0;
    for (uint32_t i = 0, n = host.Const_Count(); i < n; ++i) {
        PConst c = host.Const_Get(i);
        if (c->type_ == ctAnsiString) {
            c->address = size;
            size += ansiLength(c->str) + 1;
        } else if (c->type_ == ctWideString) {
            c->address = size;
            size += 2 * uint32_t(wideText(c->str).size()) + 2;
        } else {
            fatal("ERROR 42334");
        }
    }
    return size;
}

void writeConsts() {
    for (uint32_t i = 0, n = host.Const_Count(); i < n; ++i) {
        PConst c = host.Const_Get(i);
        std::string bytes;
        if (c->type_ == ctAnsiString) {
            bytes.assign(c->str ? c->str : "", ansiLength(c->str));
            bytes.push_back('\0');
        } else if (c->type_ == ctWideString) {
            for (char16_t u : wideText(c->str)) {
                bytes.push_back(char(u & 0xFF));
                bytes.push_back(char(u >> 8));
            }
            bytes.append(2, '\0');
        } else {
            fatal("ERROR 42334");
        }
        host.File_AddBytes(bytes.data(), uint32_t(bytes.size()));
    }
}

void varPastLimit(PVar v, uint64_t end, uint64_t limit) {
    std::string name = text(v->name);
    if (name.empty()) name = "#" + std::to_string(v->ident);
    fatal("Variable " + name + " does not fit in the image: it would end " + std::to_string(end) +
          " bytes into it, past the limit of " + std::to_string(limit) + " bytes");
}

uint32_t layoutVars(bool all, uint64_t base, uint64_t limit) {
    // The block's own offsets are 32-bit.
    const uint64_t room = std::min<uint64_t>(limit > base ? limit - base : 0, 0xFFFFFFFFu);
    uint64_t size = 0;
    uint32_t n = host.Var_Count();
    auto place = [&](PVar v) {
        if (size + varSize(v) > room) varPastLimit(v, base + size + varSize(v), limit);
        v->address = uint32_t(size);
        size += varSize(v);
    };
    for (uint32_t i = 0; i < n; ++i) {
        PVar v = host.Var_Get(i);
        if (isGlobalActive(v) && (all || v->initialised)) place(v);
    }
    if (!all)
        for (uint32_t i = 0; i < n; ++i) {
            PVar v = host.Var_Get(i);
            if (isGlobalActive(v) && !v->initialised) place(v);
        }
    return uint32_t(size);
}

void writeVars(bool all) {
    for (uint32_t i = 0, n = host.Var_Count(); i < n; ++i) {
        PVar v = host.Var_Get(i);
        if (!isGlobalActive(v) || !(all || v->initialised)) continue;
        uint32_t size = uint32_t(varSize(v));  // the layout kept it in range
        // The content holds multiplier * type size bytes; never read past it.
        uint32_t have = v->content ? tav_arrcount(v->content) : 0;
        std::string bytes(size, '\0');
        for (uint32_t k = 0; k < size && k < have; ++k) bytes[k] = char(v->content[k]);
        host.File_AddBytes(bytes.data(), size);
    }
}

}  // namespace morvel
