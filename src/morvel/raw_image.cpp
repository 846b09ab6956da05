// The raw image builder: code, constants and variables back to back from the
// load origin, every fixup resolved against it.
#include "raw_image.h"

#include <string>
#include <vector>

#include "byte_buffer.h"
#include "host.h"
#include "layout.h"
#include "pe_support.h"

namespace morvel {

namespace {

constexpr uint32_t kBootSignatureAt = 510;
constexpr uint32_t kFloppySize = 0x168000;  // 1,474,560 bytes

std::string hex(uint64_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 15]);
        v >>= 4;
    } while (v);
    return s;
}

// Names joined by ", ": the first five, then how many more.
std::string listed(const std::vector<std::string>& names) {
    std::string s;
    for (size_t i = 0; i < names.size() && i < 5; ++i) s += (i ? ", " : "") + names[i];
    if (names.size() > 5) s += " and " + std::to_string(names.size() - 5) + " more";
    return s;
}

// The image has no import or export table: a call of an import could reach
// nothing and stops the build; declared libraries and exports are left out
// with a word.
void checkImportsAndExports() {
    std::vector<std::string> libs, exported;
    for (uint32_t l = 0, n = host.ilib_count(); l < n; ++l) {
        const std::string lib = text(host.ilib_name(l));
        if (host.import_count(l)) {
            PFunction f = host.import_get(l, 0);
            fatal("Call of " + (f ? funcName(f) : std::string("an import")) + " from \"" + lib +
                  "\": a raw image has no imports");
        }
        libs.push_back("\"" + lib + "\"");
    }
    for (uint32_t i = 0, n = host.Func_Count(); i < n; ++i) {
        PFunction f = host.Func_Get(i);
        if (f && f->IsExported) exported.push_back(funcName(f));
    }
    if (!libs.empty())
        message("Warning: a raw image has no import table: the imports of " + listed(libs) + " are left out");
    if (!exported.empty())
        message("Warning: a raw image has no export table: the exports " + listed(exported) + " are left out");
}

}  // namespace

bool TRawBin::alignFileToSize(uint32_t si) {
    uint32_t len = host.File_Len();
    if (si < len) return false;
    // A floppy's worth of zeros goes in a block at a time.
    static const char zeros[4096] = {};
    while (len < si) {
        const uint32_t n = si - len < sizeof zeros ? si - len : uint32_t(sizeof zeros);
        host.File_AddBytes(zeros, n);
        len += n;
    }
    return true;
}

bool TRawBin::build(uint32_t dofs) {
    const TCompilerFlags* flags = host.get_flags();
    // 16-bit code takes near jumps and the locals allocation with 16-bit values.
    wordSize_ = flags && flags->cpu_bits == 16 ? 2 : 4;
    checkImportsAndExports();

    f_codesize = layoutCode(wordSize_);
    f_constsize = layoutConsts();
    // The variables must fit on the floppy (or below 4 GB from the origin)
    // before any of their bytes are made.
    const uint64_t limit = F_FT == ftRAW_FLOPPY ? kFloppySize : (uint64_t(1) << 32) - dofs;
    f_datasize = layoutVars(true, uint64_t(f_codesize) + f_constsize, limit);

    // A boot image runs from its first byte: an entry point elsewhere would
    // never be reached.
    if (F_RT == rtINTEL_BOOT && flags && flags->entry_funcid != 0) {
        PFunction entry = host.Func_Get(flags->entry_funcid);
        if (!entry) fatal("Entry point does not exist");
        if (!startsCode(entry) || targetAddress(entry) != 0)
            fatal("Entry point " + funcName(entry) + " is not at the start of the boot image");
    }

    uint32_t start = host.File_Len();
    finalFixup(dofs);
    if (host.File_Len() - start != f_codesize) fatal("Code block does not match its layout");
    writeConsts();
    writeVars(true);
    if (host.File_Len() - start != f_codesize + f_constsize + f_datasize) fatal("Image does not match its layout");

    if (F_RT == rtINTEL_BOOT) {
        alignFileToSize(start + kBootSignatureAt);
        static const uint8_t signature[2] = {0x55, 0xAA};
        host.File_AddBytes(signature, 2);
        // The BIOS loads the first sector only and boots it only with the
        // signature at its end; a longer program must carry it there itself.
        const uint8_t* out = host.file_getbuf() + start;
        if (out[kBootSignatureAt] != 0x55 || out[kBootSignatureAt + 1] != 0xAA)
            fatal("Boot program exceeds " + std::to_string(kBootSignatureAt) +
                  " bytes: the first sector has no boot signature");
    }
    if (F_FT == ftRAW_FLOPPY && !alignFileToSize(start + kFloppySize))
        fatal("Size of file exceeds the size of a floppy");
    return true;
}

void TRawBin::finalFixup(uint32_t dofs) {
    const uint32_t constBase = dofs + f_codesize;
    const uint32_t dataBase = dofs + f_codesize + f_constsize;

    for (uint32_t i = 0, n = host.Func_Count(); i < n; ++i) {
        PFunction fn = host.Func_Get(i);
        if (!hasCode(fn)) continue;
        const uint32_t A = fn->Address;
        for (uint32_t k = 0, m = host.Fixup_Count(fn); k < m; ++k) {
            PFixup fx = host.Fixup_Get(fn, k);
            const uint32_t p = fx->position;
            const uint32_t s = fx->size;
            const uint32_t o = fx->offset;
            const FixupSite site{fn, fx};
            // A value field is 16 bits wide when the fixup says 2 bytes.
            auto put = [&](uint32_t at, uint32_t value) {
                if (s == 2) {
                    uint8_t* f = site.field(at, 2);
                    f[0] = uint8_t(value);
                    f[1] = uint8_t(value >> 8);
                } else {
                    set32(site.field(at, 4), value);
                }
            };
            // An address in a 16-bit field must fit it.
            auto putAddress = [&](uint64_t value) {
                if (s == 2 && value > 0xFFFF)
                    fatal("Address 0x" + hex(value) + " does not fit in 16 bits in " + funcName(fn));
                put(p, uint32_t(value));
            };
            switch (fx->hint) {
            case ftLabel: put(p, site.target() + o - (A + p + s)); break;
            case ftRelative:
                // A far jump to a label: the label's address from the origin.
                putAddress(uint64_t(dofs) + site.target());
                break;
            case ftJmp: fatal("Error 1133421");
            case ftJmpShort: site.shortJump(); break;
            case ftJmpFar: {
                const uint32_t w = nearJumpWidth(fx, wordSize_);
                uint8_t* f = site.field(p, 1 + w);
                uint32_t d = site.target() - (A + p + 1 + w);
                if (w == 2) {
                    f[1] = uint8_t(d);
                    f[2] = uint8_t(d >> 8);
                } else {
                    set32(f + 1, d);
                }
                break;
            }
            case ftConst: putAddress(uint64_t(constBase) + site.constant()->address); break;
            case ftVar: putAddress(uint64_t(dataBase) + site.variable()->address + o); break;
            case ftLocals: break;
            case ftLabelAbs: putAddress(uint64_t(dofs) + site.target() + o); break;
            default: message("Warning: Unknown fixup type");
            }
        }
        if (host.File_WriteCode(fn->FuncIndex) == 0) fatal("Code of " + funcName(fn) + " not written");
    }
}

}  // namespace morvel
