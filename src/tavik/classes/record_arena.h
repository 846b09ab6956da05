#pragma once
#include <algorithm>
#include <bit>
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
#  if __has_feature(address_sanitizer)
constexpr bool kSanitizedBuild = true;
#  else
constexpr bool kSanitizedBuild = false;
#  endif
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
    T* make(A&&... args) {
        if (chunks_.empty() || chunks_.back().used == chunks_.back().size) grow();
        Chunk& c = chunks_.back();
        T* p = new (c.data + c.used) T(std::forward<A>(args)...);
        ++c.used;
        return p;
    }

    // True when p is a record of this arena; p is never read.
    bool contains(const void* p) const {
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

    void clear() {
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
    static bool inChunk(const Chunk& c, uintptr_t a) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(c.data);
        if (a < start) return false;
        const uintptr_t off = a - start;
        return off % sizeof(T) == 0 && off / sizeof(T) < c.used;
    }
    static constexpr size_t kFirst = 16;
    static constexpr size_t kMost = 4096;

    void grow() {
        const size_t n = chunks_.empty() ? kFirst : std::min(chunks_.back().size * 2, kMost);
        chunks_.reserve(chunks_.size() + 1);
        T* d = std::allocator<T>().allocate(n);
        chunks_.push_back({d, 0, n});
        byAddress_.emplace(reinterpret_cast<uintptr_t>(d), chunks_.size() - 1);
    }

    std::vector<Chunk> chunks_;
    std::map<uintptr_t, size_t> byAddress_;  // chunk start -> chunk
    mutable size_t last_ = 0;                // chunk of the last record found
};

// Room for records of one kind reached by place: chunk c holds First << c of
// them, so a place never moves and finds its chunk by arithmetic. Making and
// ending the records is the owner's.
template <class T, size_t First>
class TChunkRoom {
public:
    TChunkRoom() = default;
    ~TChunkRoom() {
        for (size_t c = 0; c < chunks_.size(); ++c) std::allocator<T>().deallocate(chunks_[c], First << c);
    }
    TChunkRoom(const TChunkRoom&) = delete;
    TChunkRoom& operator=(const TChunkRoom&) = delete;

    // Places handed out.
    size_t size() const { return n_; }
    T* operator[](size_t i) const {
        const size_t c = static_cast<size_t>(std::bit_width(i / First + 1)) - 1;
        return chunks_[c] + (i - First * ((size_t{1} << c) - 1));
    }
    // The room of place size(), which is handed out.
    T* extend() {
        if (n_ == First * ((size_t{1} << chunks_.size()) - 1)) {
            chunks_.reserve(chunks_.size() + 1);
            chunks_.push_back(std::allocator<T>().allocate(First << chunks_.size()));
        }
        return (*this)[n_++];
    }

private:
    std::vector<T*> chunks_;
    size_t n_ = 0;
};
