// The plug-in file check on arbitrary bytes: it reads nothing outside them
// (the sanitizers watch), and what it accepts has its program headers inside.
#include <cstdint>
#include <cstring>

#include "platform/elf_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!platform::IsLoadableElf(data, size)) return 0;
    uint64_t phoff = 0;
    std::memcpy(&phoff, data + (data[4] == 2 ? 32 : 28), data[4] == 2 ? 8 : 4);
    if (phoff >= size) __builtin_trap();
    return 0;
}
