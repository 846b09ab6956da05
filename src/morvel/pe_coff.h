#pragma once
// One PE32 image (i386 executable or DLL) written into the host's output
// buffer: headers, .root (resources, imports, exports, base relocations,
// constants), .data (global variables, when there are any) and .code.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "coff_section_header.h"
#include "tavik/plugin_api.h"

namespace morvel {

enum TPECOFFType : uint32_t { petEXE = 0, petDLL = 1, petCOFF = 2, petBOOTLOADER = 3 };

class TPECOFF {
public:
    TPECOFF(const std::string& strFile, uint32_t subSystem, TPECOFFType fileType, uint32_t mach);

    bool build();

private:
    static constexpr uint32_t ImageBase = 0x400000;
    static constexpr uint32_t SectionAlignment = 4096;

    std::vector<std::unique_ptr<TCOFFSectionHeader>> f_sections;
    uint32_t f_resourcesize = 0;
    uint32_t f_importsize = 0;
    uint32_t f_exportsize = 0;
    uint32_t f_relocsize = 0;
    uint32_t f_codesize = 0;
    uint32_t f_initdatasize = 0;
    uint32_t f_uinidatasize = 0;
    uint32_t f_constsize = 0;
    uint32_t f_optheaderoffset = 0;
    uint32_t f_codeoffset = 0;
    uint32_t file_alignment = 512;
    std::string file_name;
    uint32_t sub_system;
    TPECOFFType file_type;
    uint32_t machine;
    TCompilerFlags* flags_ = nullptr;

    TCOFFSectionHeader* addSection(const std::string& strName, uint32_t flags);
    ByteBuffer buildPEHeader() const;
    ByteBuffer buildPEOptHeader() const;
    void padForFileAlignment();
    void reserveRoom();
    void padTo4(uint32_t& size);
    uint32_t rootSize() const;

    void writeImportDLLSect(TCOFFSectionHeader* section);
    void writeExportDLLSect(TCOFFSectionHeader* section);
    void writeRelocDLLSect();
    void writeConstants();
    void writeVariables(uint32_t rva);
    void finalFixup(TCOFFSectionHeader* rootsection, TCOFFSectionHeader* datasection, TCOFFSectionHeader* codesection);
    uint32_t entryAddress(PFunction f, const std::string& what) const;

    // The optional header fields that the end of the build fills in.
    uint32_t sizeOfCode_ = 0, sizeOfImage_ = 0, baseOfCode_ = 0, baseOfData_ = 0, entryPoint_ = 0;
    uint32_t dirs_[16][2] = {};
};

}  // namespace morvel
