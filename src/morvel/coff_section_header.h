#pragma once
// One PE section header with its place in the output, rewritten at the end
// once the sizes are known.
#include <cstdint>
#include <string>

#include "byte_buffer.h"

namespace morvel {

class TCOFFSectionHeader {
public:
    TCOFFSectionHeader(const std::string& strName, uint32_t flags, uint32_t curFilePos);

    uint32_t RVA = 4096;
    uint32_t FilePosition;  // 1-based position of the written header

    // The 40-byte header.
    char Name[8] = {};
    uint32_t VirtualSize = 512;
    uint32_t VirtualAddress = 0;
    uint32_t SizeOfRawData = 512;
    uint32_t PointerToRawData = 512;
    uint32_t Characteristics;

    ByteBuffer bytes() const;
};

}  // namespace morvel
