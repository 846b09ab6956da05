#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// True when data holds a little-endian ELF shared object whose program
// headers, and every segment they describe, lie inside the data. The system
// loader maps segments without looking at the file's size: one cut short
// faults inside the loader instead of failing.
bool IsLoadableElf(const uint8_t* data, size_t size);

}  // namespace platform
