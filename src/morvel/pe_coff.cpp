#include "pe_coff.h"

#include <algorithm>

#include "host.h"
#include "layout.h"
#include "pe_support.h"

namespace morvel {

namespace {

constexpr uint8_t kDosHeader[26] = {0x4D, 0x5A, 0x90, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0xFF,
                                    0xFF, 0x00, 0x00, 0xB8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00};
constexpr uint8_t kDosStub[14] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};

uint32_t append(const ByteBuffer& b) { return host.File_AddBytes(b.data(), b.size()); }

// Largest image a 32-bit loader maps.
constexpr uint64_t kImageLimit = 0x80000000u;

uint64_t alignUp64(uint64_t value, uint64_t alignment) {
    return value <= alignment ? alignment : (value + alignment - 1) / alignment * alignment;
}

}  // namespace

TPECOFF::TPECOFF(const std::string& strFile, uint32_t subSystem, TPECOFFType fileType, uint32_t mach)
    : file_name(strFile), sub_system(subSystem), file_type(fileType), machine(mach) {}

TCOFFSectionHeader* TPECOFF::addSection(const std::string& strName, uint32_t flags) {
    f_sections.push_back(std::make_unique<TCOFFSectionHeader>(strName, flags, 0));
    return f_sections.back().get();
}

ByteBuffer TPECOFF::buildPEHeader() const {
    ByteBuffer b;
    b.u16(0x14C);
    b.u16(uint16_t(f_sections.size()));
    b.u32(0);  // time stamp
    b.u32(0);  // symbol table
    b.u32(0);  // symbols
    b.u16(224);
    // An executable without relocations says so, so that no loader tries to
    // move it.
    uint16_t characteristics = file_type == petEXE ? 0x818F : file_type == petDLL ? 0x210E : 0;
    if (file_type == petEXE && flags_ && flags_->relocations) characteristics &= ~0x0001;
    b.u16(characteristics);
    return b;
}

ByteBuffer TPECOFF::buildPEOptHeader() const {
    ByteBuffer b;
    b.u16(0x10B);
    b.u8(0);
    b.u8(1);
    b.u32(sizeOfCode_);
    b.u32(512);  // initialised data, whatever its size
    b.u32(0);
    b.u32(entryPoint_);
    b.u32(baseOfCode_);
    b.u32(baseOfData_);
    b.u32(ImageBase);
    b.u32(SectionAlignment);
    b.u32(file_alignment);
    b.u16(4);  // operating system version
    b.u16(0);
    b.u16(0);  // image version
    b.u16(0);
    b.u16(4);  // subsystem version
    b.u16(0);
    b.u32(0);  // win32 version value
    b.u32(sizeOfImage_);
    b.u32(512);  // size of headers
    b.u32(0);    // checksum
    b.u16(uint16_t(sub_system));
    b.u16(0);  // DLL characteristics
    b.u32(0x100000);
    b.u32(0x4000);
    b.u32(0x100000);
    b.u32(4096);
    b.u32(0);  // loader flags
    b.u32(16);
    for (auto& d : dirs_) {
        b.u32(d[0]);
        b.u32(d[1]);
    }
    return b;
}

void TPECOFF::padForFileAlignment() {
    uint32_t pad = file_alignment - host.File_Len() % file_alignment;
    if (pad != file_alignment) {
        ByteBuffer b;
        b.zeros(pad);
        append(b);
    }
}

// A section with nothing in it still takes one file unit of zeros, so that
// its raw data is really there and the next section gets its own address.
void TPECOFF::reserveRoom() {
    ByteBuffer b;
    b.zeros(file_alignment);
    append(b);
}

// Zero bytes up to the next 4-byte boundary, counted in size: every table
// of .root starts 4-byte aligned (.root itself starts on a file unit).
void TPECOFF::padTo4(uint32_t& size) {
    if (uint32_t pad = (4 - host.File_Len() % 4) % 4) {
        ByteBuffer b;
        b.zeros(pad);
        append(b);
        size += pad;
    }
}

uint32_t TPECOFF::rootSize() const { return f_resourcesize + f_importsize + f_exportsize + f_relocsize + f_constsize; }

void TPECOFF::writeConstants() {
    for (uint32_t i = 0, n = host.Const_Count(); i < n; ++i) {
        PConst c = host.Const_Get(i);
        ByteBuffer b;
        if (c->type_ == ctAnsiString) {
            b.text(std::string(c->str ? c->str : "", ansiLength(c->str)));
            b.u8(0);
        } else if (c->type_ == ctWideString) {
            for (char16_t u : wideText(c->str)) b.u16(u);
            b.u16(0);
        } else {
            fatal("ERROR 1232312");
        }
        c->address = f_constsize;
        append(b);
        f_constsize += b.size();
    }
}

void TPECOFF::writeVariables(uint32_t rva) {
    // A 32-bit loader maps at most 2 GB: the variables and the code after
    // them must end there. Checked in 64 bits before any content is written.
    const uint64_t room = kImageLimit - std::min<uint64_t>(kImageLimit, rva + alignUp64(f_codesize, SectionAlignment));
    uint64_t end = 0;
    for (int initialised = 1; initialised >= 0; --initialised)
        for (uint32_t i = 0, n = host.Var_Count(); i < n; ++i) {
            PVar v = host.Var_Get(i);
            if (!isGlobalActive(v) || bool(v->initialised) != bool(initialised)) continue;
            end += varSize(v);
            if (end > room) varPastLimit(v, rva + end, kImageLimit);
        }

    for (uint32_t i = 0, n = host.Var_Count(); i < n; ++i) {
        PVar v = host.Var_Get(i);
        if (!isGlobalActive(v)) continue;
        uint32_t size = uint32_t(varSize(v));
        if (v->initialised) {
            ByteBuffer b;
            uint32_t have = v->content ? tav_arrcount(v->content) : 0;
            for (uint32_t k = 0; k < size; ++k) b.u8(k < have ? v->content[k] : 0);
            v->address = f_initdatasize;
            append(b);
            f_initdatasize += size;
        } else {
            v->address = f_uinidatasize;
            f_uinidatasize += size;
        }
    }
}

uint32_t TPECOFF::entryAddress(PFunction f, const std::string& what) const {
    if (!f) fatal(what + " does not exist");
    if (!startsCode(f)) fatal(what + " " + funcName(f) + " has no code");
    return targetAddress(f);
}

bool TPECOFF::build() {
    flags_ = host.get_flags();
    // Every DLL asks for the executable's base and is always moved: without
    // its relocations its code would use the executable's memory.
    if (file_type == petDLL && !flags_->relocations)
        fatal(
            "A DLL is always written with its base relocations: \"#set relocations 0\" is not allowed for "
            "pe32_dll");
    f_resourcesize = f_importsize = f_exportsize = f_relocsize = 0;
    f_codesize = f_initdatasize = f_uinidatasize = f_constsize = 0;
    bool hasData = false;
    for (uint32_t i = 0, n = host.Var_Count(); i < n; ++i)
        if (isGlobalActive(host.Var_Get(i))) hasData = true;

    TCOFFSectionHeader* root = addSection(".root", 0x40000040);
    TCOFFSectionHeader* data = hasData ? addSection(".data", 0xC00000C0) : nullptr;
    TCOFFSectionHeader* code = addSection(".code", 0x60000020);

    // Headers, rewritten at the end.
    ByteBuffer dos;
    for (uint8_t v : kDosHeader) dos.u8(v);
    dos.zeros(0x38 - dos.size());
    dos.text("TAV1");
    dos.u32(0x80);
    for (uint8_t v : kDosStub) dos.u8(v);
    dos.text("This program cannot be run in DOS mode.");
    dos.u8(0x0D);
    dos.u8(0x0D);
    dos.u8(0x0A);
    dos.u8(0x24);
    dos.zeros(7);
    dos.text(std::string("PE\0\0", 4));
    append(dos);
    append(buildPEHeader());
    f_optheaderoffset = append(buildPEOptHeader());
    for (auto& s : f_sections) s->FilePosition = append(s->bytes());
    padForFileAlignment();

    // .root
    root->RVA = 4096;
    f_resourcesize = host.file_writeresources(root->RVA);
    if (f_resourcesize) padTo4(f_resourcesize);
    writeImportDLLSect(root);
    if (f_importsize) padTo4(f_importsize);
    f_codesize = layoutCode();
    writeExportDLLSect(root);
    if (f_exportsize) padTo4(f_exportsize);
    if (flags_->relocations) writeRelocDLLSect();
    writeConstants();
    if (rootSize() == 0) reserveRoom();
    padForFileAlignment();
    uint32_t rootVirtual = rootSize() ? rootSize() : file_alignment;

    // .data
    uint32_t dataVirtual = 0;
    if (data) {
        data->RVA = alignUp(root->RVA + rootVirtual, SectionAlignment);
        writeVariables(data->RVA);
        padForFileAlignment();
        dataVirtual = f_initdatasize + f_uinidatasize ? f_initdatasize + f_uinidatasize : file_alignment;
    }

    // .code
    code->RVA =
        data ? alignUp(data->RVA + dataVirtual, SectionAlignment) : alignUp(root->RVA + rootVirtual, SectionAlignment);
    // The variables were checked against the limit already; this is the code.
    if (uint64_t(code->RVA) + alignUp64(f_codesize, SectionAlignment) > kImageLimit)
        fatal("The code does not fit in the image: it would end past the limit of " + std::to_string(kImageLimit) +
              " bytes");
    f_codeoffset = host.File_Len();
    finalFixup(root, data, code);
    if (host.File_Len() - f_codeoffset != f_codesize) fatal("Code block does not match its layout");
    if (f_codesize == 0) reserveRoom();
    padForFileAlignment();

    // Section headers.
    root->SizeOfRawData = alignUp(rootSize(), file_alignment);
    root->PointerToRawData = 512;
    root->VirtualSize = rootVirtual;
    root->VirtualAddress = root->RVA;
    TCOFFSectionHeader* prev = root;
    if (data) {
        data->SizeOfRawData = f_initdatasize ? alignUp(f_initdatasize, file_alignment) : 0;
        data->PointerToRawData = prev->PointerToRawData + prev->SizeOfRawData;
        data->VirtualSize = dataVirtual;
        data->VirtualAddress = data->RVA;
        prev = data;
    }
    code->SizeOfRawData = alignUp(f_codesize, file_alignment);
    code->PointerToRawData = prev->PointerToRawData + prev->SizeOfRawData;
    code->VirtualSize = f_codesize ? f_codesize : file_alignment;
    code->VirtualAddress = code->RVA;

    // Optional header.
    sizeOfCode_ = alignUp(f_codesize, file_alignment);
    sizeOfImage_ = code->RVA + alignUp(f_codesize, SectionAlignment);
    baseOfCode_ = code->RVA;
    baseOfData_ = data ? data->RVA : 0;
    entryPoint_ = entryAddress(host.Func_Get(flags_->entry_funcid), "Entry point") + code->RVA;
    if (f_exportsize) {
        dirs_[0][0] = root->RVA + f_resourcesize + f_importsize;
        dirs_[0][1] = f_exportsize;
    }
    if (f_importsize) {
        dirs_[1][0] = root->RVA + f_resourcesize;
        dirs_[1][1] = f_importsize;
    }
    if (f_resourcesize) {
        dirs_[2][0] = root->RVA;
        dirs_[2][1] = f_resourcesize;
    }
    if (f_relocsize) {
        dirs_[5][0] = root->RVA + f_resourcesize + f_importsize + f_exportsize;
        dirs_[5][1] = f_relocsize;
    }

    ByteBuffer opt = buildPEOptHeader();
    host.File_ReplaceBytes(f_optheaderoffset, opt.data(), opt.size());
    for (auto& s : f_sections) {
        ByteBuffer b = s->bytes();
        host.File_ReplaceBytes(s->FilePosition, b.data(), b.size());
    }
    return true;
}

void TPECOFF::finalFixup(TCOFFSectionHeader* rootsection, TCOFFSectionHeader* datasection,
                         TCOFFSectionHeader* codesection) {
    const uint32_t constBase =
        ImageBase + rootsection->RVA + f_resourcesize + f_importsize + f_exportsize + f_relocsize;
    const uint32_t dataBase = ImageBase + (datasection ? datasection->RVA : 0);

    // Fixups without an owner patch the output itself (export addresses,
    // relocation block addresses); they wait in the first function's list.
    if (PFunction first = host.Func_Get(0)) {
        for (uint32_t k = 0, n = host.Fixup_Count(first); k < n; ++k) {
            PFixup fx = host.Fixup_Get(first, k);
            if (fx->parentfunc || fx->hint != ftCodeRVA) continue;
            if (uint64_t(fx->position) + 4 > host.File_Len()) fatal("Image fixup outside the image");
            uint32_t v = get32(host.file_getbuf() + fx->position) + codesection->RVA;
            uint8_t le[4];
            set32(le, v);
            host.File_ReplaceBytes(fx->position + 1, le, 4);
        }
    }

    for (uint32_t i = 0, n = host.Func_Count(); i < n; ++i) {
        PFunction fn = host.Func_Get(i);
        if (!isReachable(fn)) continue;
        const uint32_t A = fn->Address;
        for (uint32_t k = 0, m = host.Fixup_Count(fn); k < m; ++k) {
            PFixup fx = host.Fixup_Get(fn, k);
            if (!fx->parentfunc && fx->hint == ftCodeRVA) continue;  // patched above
            const uint32_t p = fx->position;
            const FixupSite site{fn, fx};
            switch (fx->hint) {
            case ftLabel: {
                if (fx->size == 2) {  // a call in 16-bit code
                    uint8_t* f = site.field(p, 2);
                    const uint32_t d = site.target() - (A + p + 2);
                    f[0] = uint8_t(d);
                    f[1] = uint8_t(d >> 8);
                    break;
                }
                uint8_t* f = site.field(p, 4);
                set32(f, site.target() - (A + p + 4));
                break;
            }
            case ftRelative: {
                uint8_t* f = site.field(p, 4);
                if (fn->DLLIndex < 0)  // a far jump to a label: the label's address
                    set32(f, ImageBase + codesection->RVA + site.target());
                else  // an import thunk: its slot's RVA made absolute
                    set32(f, get32(f) + ImageBase);
                break;
            }
            case ftJmp: fatal("PE32 Error 2133421");
            case ftJmpShort: site.shortJump(); break;
            case ftJmpFar: {
                if (nearJumpWidth(fx, 4) == 2) {  // in 16-bit code
                    uint8_t* f = site.field(p, 3);
                    const uint32_t d = site.target() - (A + p + 3);
                    f[1] = uint8_t(d);
                    f[2] = uint8_t(d >> 8);
                    break;
                }
                uint8_t* f = site.field(p, 5);
                set32(f + 1, site.target() - (A + p + 5));
                break;
            }
            case ftConst: {
                uint8_t* f = site.field(p, 4);
                set32(f, constBase + site.constant()->address);
                break;
            }
            case ftVar: {
                uint8_t* f = site.field(p, 4);
                PVar v = site.variable();
                set32(f, dataBase + v->address + fx->offset + (v->initialised ? 0 : f_initdatasize));
                break;
            }
            case ftLocals: break;
            case ftCodeRVA: {
                uint8_t* f = site.field(p, 4);
                set32(f, get32(f) + codesection->RVA);
                break;
            }
            case ftLabelAbs: {
                uint8_t* f = site.field(p, 4);
                set32(f, ImageBase + codesection->RVA + site.target());
                break;
            }
            default: message("Warning: Unknown fixup type");
            }
        }
        if (fn->BufLen && host.File_WriteCode(fn->FuncIndex) == 0) fatal("Code of " + funcName(fn) + " not written");
    }
}

}  // namespace morvel
