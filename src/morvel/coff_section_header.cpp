#include "coff_section_header.h"

namespace morvel {

TCOFFSectionHeader::TCOFFSectionHeader(const std::string& strName, uint32_t flags, uint32_t curFilePos)
    : FilePosition(curFilePos + 1), Characteristics(flags) {
    for (size_t i = 0; i < 7 && i < strName.size(); ++i) Name[i] = strName[i];
}

ByteBuffer TCOFFSectionHeader::bytes() const {
    ByteBuffer b;
    for (char c : Name) b.u8(uint8_t(c));
    b.u32(VirtualSize);
    b.u32(VirtualAddress);
    b.u32(SizeOfRawData);
    b.u32(PointerToRawData);
    b.u32(0);  // relocations
    b.u32(0);  // line numbers
    b.u16(0);
    b.u16(0);
    b.u32(Characteristics);
    return b;
}

}  // namespace morvel
