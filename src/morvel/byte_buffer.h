#pragma once
// Little-endian byte assembly for headers and tables.
#include <cstdint>
#include <string>
#include <vector>

namespace morvel {

class ByteBuffer {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    void text(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
    void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
    void raw(const std::vector<uint8_t>& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
    void put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[at + i] = uint8_t(v >> (8 * i));
    }
    uint32_t size() const { return uint32_t(bytes_.size()); }
    const uint8_t* data() const { return bytes_.data(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

inline uint32_t get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
inline void set32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace morvel
