// The import, export and base-relocation tables of .root.
#include <algorithm>

#include "host.h"
#include "layout.h"
#include "pe_coff.h"
#include "pe_support.h"

namespace morvel {

namespace {
uint32_t append(const ByteBuffer& b) { return host.File_AddBytes(b.data(), b.size()); }
}  // namespace

void TPECOFF::writeImportDLLSect(TCOFFSectionHeader* section) {
    const uint32_t R = section->RVA + f_resourcesize;
    f_importsize = 0;
    const uint32_t start = host.File_Len();
    const uint32_t libs = host.ilib_count();
    if (libs == 0) return;

    uint32_t u = 0, t = 0;
    for (uint32_t l = 0; l < libs; ++l)
        if (uint32_t c = host.import_count(l)) {
            ++u;
            t += c + 1;
        }
    const uint32_t L = R + 20 * (u + 1);
    const uint32_t A = L + 4 * t;
    const uint32_t N = A + 4 * t;

    ByteBuffer descriptors, thunks, names;
    auto addImportName = [&](bool withHint, const std::string& s) {
        uint32_t rva = N + names.size();
        if (withHint) names.u16(0);
        names.text(s);
        names.u16(0);
        if (names.size() % 2) names.u8(0);  // every hint/name entry at an even address
        return rva;
    };
    uint32_t k = 0;
    for (uint32_t l = 0; l < libs; ++l) {
        uint32_t c = host.import_count(l);
        if (!c) continue;
        descriptors.u32(L + 4 * k);  // lookup table
        descriptors.u32(0);
        descriptors.u32(0);
        descriptors.u32(addImportName(false, text(host.ilib_name(l))));
        descriptors.u32(A + 4 * k);  // address table
        for (uint32_t j = 0; j < c; ++j) {
            PFunction f = host.import_get(l, j);
            thunks.u32(addImportName(true, text(f->ImportName)));
            // The thunk: jmp [slot], the slot's address made absolute at the end.
            host.fixup_add(ftRelative, f, 0, 2, 4, 0);
            ByteBuffer jmp;
            jmp.u8(0xFF);
            jmp.u8(0x25);
            jmp.u32(A + 4 * k);
            uint32_t before = f->BufLen;
            host.func_emit(f, jmp.data(), jmp.size());
            if (f->BufLen != before + jmp.size()) fatal("Import thunk of " + funcName(f) + " not emitted");
            ++k;
        }
        thunks.u32(0);
        ++k;
    }
    descriptors.zeros(20);
    append(descriptors);
    append(thunks);  // lookup table
    append(thunks);  // address table, the same entries until the loader binds them
    append(names);
    f_importsize = host.File_Len() - start;
}

void TPECOFF::writeExportDLLSect(TCOFFSectionHeader* section) {
    const uint32_t E = section->RVA + f_resourcesize + f_importsize;
    f_exportsize = 0;

    std::vector<PFunction> exported;
    for (uint32_t i = 0, n = host.Func_Count(); i < n; ++i) {
        PFunction f = host.Func_Get(i);
        if (f->IsExported) exported.push_back(f);
    }
    const uint32_t n = uint32_t(exported.size());
    if (n == 0) return;

    // The loader finds a name by binary search with a byte comparison: the
    // name table is sorted by bytes; the ordinals map it to the address table,
    // which keeps the order of declaration.
    std::vector<uint32_t> order(n);
    for (uint32_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return text(exported[a]->Name) < text(exported[b]->Name); });

    const uint32_t namesAt = E + 40 + 10 * n;
    ByteBuffer nameBlock, namePointers, ordinals;
    for (uint32_t i : order) {
        std::string name = text(exported[i]->Name);
        if (name.empty()) fatal("Exported function without a name");
        namePointers.u32(namesAt + nameBlock.size());
        ordinals.u16(uint16_t(i));
        nameBlock.text(name);
        nameBlock.u8(0);
    }
    // The file-name part of the image's name. A reader takes it in the ANSI
    // code page of its machine, which the image cannot name.
    std::string dllName = file_name.substr(file_name.find_last_of("\\/") + 1);
    for (const char c : dllName)
        if (static_cast<unsigned char>(c) >= 0x80)
            fatal("Library name \"" + dllName +
                  "\" is not supported in the export directory: library names in ASCII only (-out gives another)");
    const uint32_t dllNameAt = namesAt + nameBlock.size();

    ByteBuffer dir;
    dir.u32(0);  // characteristics
    dir.u32(0);  // time stamp
    dir.u16(0);
    dir.u16(0);
    dir.u32(dllNameAt);
    dir.u32(1);  // ordinal base
    dir.u32(n);
    dir.u32(n);
    dir.u32(E + 40);
    dir.u32(E + 40 + 4 * n);
    dir.u32(E + 40 + 8 * n);

    const uint32_t S = host.File_Len();
    append(dir);
    for (PFunction f : exported) {
        ByteBuffer entry;
        entry.u32(entryAddress(f, "Export"));
        uint32_t pos = append(entry);
        host.fixup_add(ftCodeRVA, nullptr, 0, pos - 1, 4, 0);
    }
    append(namePointers);
    append(ordinals);
    nameBlock.text(dllName);
    nameBlock.u8(0);
    append(nameBlock);
    f_exportsize = host.File_Len() - S;
}

void TPECOFF::writeRelocDLLSect() {
    // One block per 4 KB page of the code: a page-relative 12-bit offset
    // cannot reach further.
    std::vector<uint32_t> sites;
    uint32_t offset = 0;
    for (uint32_t i = 0, n = host.Func_Count(); i < n; ++i) {
        PFunction f = host.Func_Get(i);
        if (!hasCode(f)) continue;
        for (uint32_t k = 0, m = host.Fixup_Count(f); k < m; ++k) {
            PFixup fx = host.Fixup_Get(f, k);
            switch (fx->hint) {
            case ftRelative:
            case ftConst:
            case ftVar:
            case ftLabelAbs: sites.push_back(fx->position + offset); break;
            default:
                if (fx->hint > ftLabelAbs) message("Warning: Unknown fixup type");
            }
        }
        offset += f->BufLen;
    }
    f_relocsize = 0;
    if (sites.empty()) return;
    std::stable_sort(sites.begin(), sites.end());

    const uint32_t S = host.File_Len();
    for (size_t b = 0; b < sites.size();) {
        uint32_t page = sites[b] & ~0xFFFu;
        size_t e = b;
        while (e < sites.size() && (sites[e] & ~0xFFFu) == page) ++e;
        uint32_t entries = uint32_t(e - b);
        uint32_t blockSize = 8 + 2 * entries + (entries & 1) * 2;  // 4-byte aligned
        ByteBuffer block;
        block.u32(page);  // the code section's address is added at the end
        block.u32(blockSize);
        for (size_t i = b; i < e; ++i) block.u16(uint16_t(0x3000 | (sites[i] & 0xFFF)));
        if (entries & 1) block.u16(0);  // padding entry
        uint32_t pos = append(block);
        host.fixup_add(ftCodeRVA, nullptr, 0, pos - 1, 4, 0);
        b = e;
    }
    f_relocsize = host.File_Len() - S;
}

}  // namespace morvel
