#include "platform/elf_check.h"

namespace platform {

namespace {

uint64_t Read(const uint8_t* p, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = bytes; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

// offset .. offset + length inside size, without overflow.
bool Inside(uint64_t offset, uint64_t length, size_t size) { return offset <= size && length <= size - offset; }

}  // namespace

bool IsLoadableElf(const uint8_t* data, size_t size) {
    if (!data || size < 16) return false;
    if (data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F') return false;
    const bool wide = data[4] == 2;  // ELFCLASS64
    if ((data[4] != 1 && !wide) || data[5] != 1 /* little-endian */ || data[6] != 1 /* version */) return false;

    // Header fields by class: offsets and widths.
    const size_t headerSize = wide ? 64 : 52;
    const unsigned word = wide ? 8 : 4;
    if (size < headerSize) return false;
    if (Read(data + 16, 2) != 3) return false;  // ET_DYN
    const uint64_t phoff = Read(data + (wide ? 32 : 28), word);
    const uint64_t phentsize = Read(data + (wide ? 54 : 42), 2);
    const uint64_t phnum = Read(data + (wide ? 56 : 44), 2);
    if (phentsize != (wide ? 56u : 32u) || phnum == 0) return false;
    if (!Inside(phoff, phentsize * phnum, size)) return false;

    bool loadable = false;
    for (uint64_t i = 0; i < phnum; ++i) {
        const uint8_t* ph = data + phoff + i * phentsize;
        const uint64_t type = Read(ph, 4);
        const uint64_t offset = Read(ph + (wide ? 8 : 4), word);
        const uint64_t filesz = Read(ph + (wide ? 32 : 16), word);
        const uint64_t memsz = Read(ph + (wide ? 40 : 20), word);
        // Every segment's bytes come from the file, not only the loadable ones.
        if (!Inside(offset, filesz, size)) return false;
        if (type == 1 /* PT_LOAD */) {
            if (filesz > memsz) return false;
            loadable = true;
        }
    }
    return loadable;
}

}  // namespace platform
