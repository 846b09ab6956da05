#pragma once
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "tavik/plugin_api.h"

// Host side of the texts and dynamic arrays inside the shared records. A
// block is [capacity][count][elements...], the count in the 32-bit word
// right before the first element, as plug-ins expect. Texts keep a
// terminating zero after their bytes. Only the host allocates and frees.

void* tavBlockResize(void* data, size_t elemSize, uint32_t newCount, bool zeroTerm);
// [capacity: 8][unused: 4][count: 4] before the elements
constexpr size_t kTavBlockHeader = 16;
void tavBlockFree(void* data);

inline std::string_view tavView(const char* s) { return s ? std::string_view(s, tav_strlen(s)) : std::string_view(); }
inline std::string tavString(const char* s) { return std::string(tavView(s)); }

inline void tavFree(TAVSTR& field) {
    tavBlockFree(field);
    field = nullptr;
}

// The empty text is nil.
inline void tavAssign(TAVSTR& field, std::string_view s) {
    if (s.empty()) {
        tavFree(field);
        return;
    }
    if (static_cast<uint64_t>(s.size()) >> 32) throw std::length_error("text longer than 4 GiB");
    field = static_cast<char*>(tavBlockResize(field, 1, static_cast<uint32_t>(s.size()), true));
    std::memcpy(field, s.data(), s.size());
}

// The count of a block as the host wrote it (tav_strlen in one load).
inline uint32_t tavBlockCount(const void* data) {
    uint32_t n = 0;
    if (data) std::memcpy(&n, static_cast<const char*>(data) - 4, 4);
    return n;
}

// Elements the block has room for; 0 for nil.
inline uint64_t tavBlockCapacity(const void* data) {
    uint64_t cap = 0;
    if (data) std::memcpy(&cap, static_cast<const char*>(data) - kTavBlockHeader, 8);
    return cap;
}

// Appends bytes; the capacity grows geometrically, so appending is linear.
inline void tavAppend(TAVSTR& field, const void* bytes, size_t len) {
    if (len == 0) return;
    uint32_t old = tavBlockCount(field);
    if (len > 0xFFFFFFFFull - old) throw std::length_error("text longer than 4 GiB");
    const uint32_t n = old + static_cast<uint32_t>(len);
    if (field) {
        // room left in the block: no resize
        uint64_t cap;
        std::memcpy(&cap, field - kTavBlockHeader, 8);
        if (n <= cap) {
            std::memcpy(field + old, bytes, len);
            std::memcpy(field - 4, &n, 4);
            field[n] = 0;
            return;
        }
    }
    field = static_cast<char*>(tavBlockResize(field, 1, n, true));
    std::memcpy(field + old, bytes, len);
}

// The same for at most 16 bytes read from a source with 16 readable bytes:
// with room for all 16 they are copied at once, those past the count being
// overwritten by the next append or the end mark.
inline void tavAppendShort(TAVSTR& field, const void* bytes, size_t len) {
    if (field && len <= 16) {
        const uint32_t old = tavBlockCount(field);
        uint64_t cap;
        std::memcpy(&cap, field - kTavBlockHeader, 8);
        if (uint64_t(old) + 16 <= cap) {
            std::memcpy(field + old, bytes, 16);
            const uint32_t n = old + static_cast<uint32_t>(len);
            std::memcpy(field - 4, &n, 4);
            field[n] = 0;
            return;
        }
    }
    tavAppend(field, bytes, len);
}

template <class T>
inline uint32_t tavCount(const T* arr) {
    return tav_arrcount(arr);
}

// Grows or shrinks an array of plain records; new elements are zero-filled.
template <class T>
inline void tavArrayResize(T*& arr, uint32_t n) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (n == 0) {
        tavBlockFree(arr);
        arr = nullptr;
        return;
    }
    arr = static_cast<T*>(tavBlockResize(arr, sizeof(T), n, false));
}

template <class T>
inline T* tavArrayAppend(T*& arr, const T& v) {
    uint32_t n = tavCount(arr);
    tavArrayResize(arr, n + 1);
    std::memcpy(static_cast<void*>(&arr[n]), &v, sizeof(T));
    return &arr[n];
}

template <class T>
inline void tavArrayFree(T*& arr) {
    tavBlockFree(arr);
    arr = nullptr;
}

// 80-bit values as the records store them.
TAVEXT toTavExt(long double v);
long double fromTavExt(const TAVEXT& e);
