#pragma once
// A flat image without headers: the code, then the constants, then the
// global variables, all addressed from a load origin. As a floppy boot image
// it carries the boot signature at the end of the first sector and is padded
// to the size of a 1.44 MB disk.
#include <cstdint>

namespace morvel {

enum TFileType : uint8_t { ftRAW_PLAIN = 0, ftRAW_FLOPPY = 1 };
enum TRawType : uint8_t { rtPLAIN = 0, rtINTEL_BOOT = 1 };

class TRawBin {
public:
    TRawBin(TFileType ft, TRawType rt) : F_FT(ft), F_RT(rt) {}

    // Lays the program out at origin dofs and appends the whole image.
    bool build(uint32_t dofs);
    // Pads the output with zero bytes to si bytes; false (and nothing
    // appended) when it is longer already.
    bool alignFileToSize(uint32_t si);
    // Resolves the fixups against origin dofs and appends the code.
    void finalFixup(uint32_t dofs);

private:
    TFileType F_FT;
    TRawType F_RT;
    uint32_t f_codesize = 0;
    uint32_t f_constsize = 0;
    uint32_t f_datasize = 0;
    uint32_t wordSize_ = 4;  // 2 when the program runs as 16-bit code
};

}  // namespace morvel
