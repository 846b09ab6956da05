#include "classes/shared_records.h"

#include <bit>
#include <cstdlib>
#include <limits>
#include <new>

static_assert(std::numeric_limits<long double>::digits == 64, "long double must be the x87 80-bit format");
static_assert(std::endian::native == std::endian::little, "block counts are read as plug-ins read them");

namespace {
// elements 16-aligned
constexpr size_t kHeader = kTavBlockHeader;

unsigned char* baseOf(void* data) { return data ? static_cast<unsigned char*>(data) - kHeader : nullptr; }
}  // namespace

void* tavBlockResize(void* data, size_t elemSize, uint32_t newCount, bool zeroTerm) {
    const size_t term = zeroTerm ? 1 : 0;
    unsigned char* base = baseOf(data);
    uint64_t cap = 0;
    uint32_t count = 0;
    if (base) {
        std::memcpy(&cap, base, 8);
        std::memcpy(&count, base + 12, 4);
    }
    if (newCount > cap) {
        uint64_t ncap = cap * 2;
        if (ncap < newCount) ncap = newCount;
        if (ncap < 8) ncap = 8;
        if (ncap > 0xFFFFFFFFull) ncap = 0xFFFFFFFFull;
        if (elemSize != 0 && ncap > (std::numeric_limits<size_t>::max() - kHeader - term) / elemSize)
            throw std::bad_alloc();
        void* p = std::realloc(base, kHeader + ncap * elemSize + term);
        if (!p) throw std::bad_alloc();
        if (!base) std::memset(p, 0, kHeader);
        base = static_cast<unsigned char*>(p);
        cap = ncap;
    }
    if (newCount > count)
        std::memset(base + kHeader + size_t(count) * elemSize, 0, size_t(newCount - count) * elemSize);
    count = newCount;
    std::memcpy(base, &cap, 8);
    std::memcpy(base + 12, &count, 4);
    if (zeroTerm) base[kHeader + size_t(count) * elemSize] = 0;
    return base + kHeader;
}

void tavBlockFree(void* data) { std::free(baseOf(data)); }

TAVEXT toTavExt(long double v) {
    TAVEXT e;
    std::memcpy(e.bytes, &v, sizeof e.bytes);
    return e;
}

long double fromTavExt(const TAVEXT& e) {
    long double v = 0;
    std::memcpy(&v, e.bytes, sizeof e.bytes);
    return v;
}
