#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// A sanitized build frees every record on its own, so that leaks and stale
// uses show.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

// Records of one kind made in chunks: addresses stay put, and the chunks go
// back all at once when the arena ends.
template <class T>
class TRecordArena {
public:
    TRecordArena() = default;
    ~TRecordArena() { clear(); }
    TRecordArena(const TRecordArena&) = delete;
    TRecordArena& operator=(const TRecordArena&) = delete;

    template <class... A>
    T* make(A&&... args)
    {
        if (chunks_.empty() || chunks_.back().used == chunks_.back().size) grow();
        Chunk& c = chunks_.back();
        T* p = new (c.data + c.used) T(std::forward<A>(args)...);
        ++c.used;
        return p;
    }

    // True when p is a record of this arena; p is never read.
    bool contains(const void* p) const
    {
        const uintptr_t a = reinterpret_cast<uintptr_t>(p);
        // most asks are for the chunk of the one before
        if (last_ < chunks_.size() && inChunk(chunks_[last_], a)) return true;
        auto it = byAddress_.upper_bound(a);
        if (it == byAddress_.begin()) return false;
        --it;
        if (!inChunk(chunks_[it->second], a)) return false;
        last_ = it->second;
        return true;
    }

    void clear()
    {
        for (Chunk& c : chunks_) {
            if constexpr (!std::is_trivially_destructible_v<T>)
                for (size_t i = 0; i < c.used; ++i) c.data[i].~T();
            std::allocator<T>().deallocate(c.data, c.size);
        }
        chunks_.clear();
        byAddress_.clear();
        last_ = 0;
    }

private:
    struct Chunk {
        T* data;
        size_t used;
        size_t size;
    };
    static bool inChunk(const Chunk& c, uintptr_t a)
    {
        const uintptr_t start = reinterpret_cast<uintptr_t>(c.data);
        if (a < start) return false;
        const uintptr_t off = a - start;
        return off % sizeof(T) == 0 && off / sizeof(T) < c.used;
    }
    static constexpr size_t kFirst = 16;
    static constexpr size_t kMost = 4096;

    void grow()
    {
        const size_t n = chunks_.empty() ? kFirst : std::min(chunks_.back().size * 2, kMost);
        chunks_.reserve(chunks_.size() + 1);
        T* d = std::allocator<T>().allocate(n);
        chunks_.push_back({d, 0, n});
        byAddress_.emplace(reinterpret_cast<uintptr_t>(d), chunks_.size() - 1);
    }

    std::vector<Chunk> chunks_;
    std::map<uintptr_t, size_t> byAddress_;  // chunk start -> chunk
    mutable size_t last_ = 0;                 // chunk of the last record found
};
