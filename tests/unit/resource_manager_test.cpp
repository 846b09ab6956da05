// The resource collector and the resource section it builds: directory
// layout, offsets and the limits of its tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "classes/resource_manager.h"
#include "exceptions.h"

namespace {

uint32_t u16(const std::string& s, uint32_t at) {
    return static_cast<unsigned char>(s.at(at)) | static_cast<unsigned char>(s.at(at + 1)) << 8;
}
uint32_t u32(const std::string& s, uint32_t at) { return u16(s, at) | u16(s, at + 2) << 16; }

constexpr uint32_t kHigh = 0x80000000u;

// Walks the three levels like a loader does: (type, id, language, data) of
// every leaf, in directory order. Every offset must stay inside the section.
using Leaf = std::tuple<uint32_t, uint32_t, uint32_t, std::string>;
std::vector<Leaf> walk(const std::string& sec, uint32_t rva) {
    std::vector<Leaf> leaves;
    auto entries = [&](uint32_t dir) {
        std::vector<std::pair<uint32_t, uint32_t>> v;
        EXPECT_EQ(u16(sec, dir + 12), 0u) << "named entries";
        for (uint32_t i = 0; i < u16(sec, dir + 14); ++i)
            v.emplace_back(u32(sec, dir + 16 + 8 * i), u32(sec, dir + 20 + 8 * i));
        return v;
    };
    for (auto [type, tOff] : entries(0)) {
        EXPECT_TRUE(tOff & kHigh);
        for (auto [id, iOff] : entries(tOff & ~kHigh)) {
            EXPECT_TRUE(iOff & kHigh);
            for (auto [lang, dOff] : entries(iOff & ~kHigh)) {
                EXPECT_FALSE(dOff & kHigh);
                const uint32_t at = u32(sec, dOff) - rva, size = u32(sec, dOff + 4);
                EXPECT_EQ(u32(sec, dOff + 8), 0u);
                EXPECT_EQ(u32(sec, dOff + 12), 0u);
                leaves.emplace_back(type, id, lang, sec.substr(at, size));
                EXPECT_LE(uint64_t(at) + size, sec.size());
            }
        }
    }
    return leaves;
}

TEST(ResourceManager, NothingCollectedGivesNoSection) {
    TResourceManager m;
    EXPECT_EQ(m.buildRes(0x1000), "");
    EXPECT_EQ(m.ttl, 0);
    EXPECT_EQ(m.arResSize, 0u);
}

TEST(ResourceManager, OneResourceLaidOut) {
    TResourceManager m;
    const std::string data = "0123456789";
    EXPECT_EQ(m.addResource(3, 1, 1033, "", data.data(), 10), 0u);
    EXPECT_EQ(m.arResSize, 88u);
    const std::string s = m.buildRes(0x3000);
    ASSERT_EQ(s.size(), 98u);
    // Root: one numeric entry, type 3, leading to the type's directory at 24.
    EXPECT_EQ(u32(s, 0), 0u);
    EXPECT_EQ(u32(s, 4), 0u);
    EXPECT_EQ(u32(s, 8), 0u);
    EXPECT_EQ(u16(s, 12), 0u);
    EXPECT_EQ(u16(s, 14), 1u);
    EXPECT_EQ(u32(s, 16), 3u);
    EXPECT_EQ(u32(s, 20), 24u | kHigh);
    // Type directory: identifier 1, leading to its language directory at 48.
    EXPECT_EQ(u16(s, 38), 1u);
    EXPECT_EQ(u32(s, 40), 1u);
    EXPECT_EQ(u32(s, 44), 48u | kHigh);
    // Language directory: 1033, leading to the data entry at 72 (a leaf).
    EXPECT_EQ(u16(s, 62), 1u);
    EXPECT_EQ(u32(s, 64), 1033u);
    EXPECT_EQ(u32(s, 68), 72u);
    EXPECT_EQ(u32(s, 72), 0x3000u + 88u);
    EXPECT_EQ(u32(s, 76), 10u);
    EXPECT_EQ(s.substr(88), data);
    EXPECT_EQ(m.res[3][0]->entOffset, 40u);
    EXPECT_EQ(m.dirof[3], 16);
}

TEST(ResourceManager, TwoOfOneTypeKeepTheirOrder) {
    TResourceManager m;
    EXPECT_EQ(m.addResource(10, 9, 1033, "", "abcde", 5), 0u);
    EXPECT_EQ(m.addResource(10, 2, 1033, "", "xyz", 3), 5u);  // no padding between data
    const std::string s = m.buildRes(0);
    ASSERT_EQ(s.size(), 136u + 8u);
    EXPECT_EQ(m.arResSize, 136u);
    EXPECT_EQ(u16(s, 38), 2u);
    // Identifiers as added, not sorted; their language directories 40 apart.
    EXPECT_EQ(u32(s, 40), 9u);
    EXPECT_EQ(u32(s, 48), 2u);
    EXPECT_EQ((u32(s, 52) & ~kHigh) - (u32(s, 44) & ~kHigh), 40u);
    EXPECT_EQ(walk(s, 0), (std::vector<Leaf>{{10, 9, 1033, "abcde"}, {10, 2, 1033, "xyz"}}));
}

TEST(ResourceManager, TypesInAscendingOrder) {
    TResourceManager m;
    m.addResource(14, 1, 0, "", "icon", 4);
    m.addResource(3, 1, 0, "", "i", 1);
    m.addResource(14, 2, 7, "", "", 0);
    const std::string s = m.buildRes(0x1000);
    EXPECT_EQ(u16(s, 14), 2u);
    EXPECT_EQ(u32(s, 16), 3u);
    EXPECT_EQ(u32(s, 24), 14u);
    EXPECT_EQ(s.size(), m.arResSize + 5u);
    EXPECT_EQ(m.arResSize, 16u + 72u + 72u + 48u);
    EXPECT_EQ(walk(s, 0x1000), (std::vector<Leaf>{{3, 1, 0, "i"}, {14, 1, 0, "icon"}, {14, 2, 7, ""}}));
}

// One identifier in two languages: two identifier entries of one language each.
TEST(ResourceManager, SameIdentifierTwoLanguages) {
    TResourceManager m;
    m.addResource(10, 7, 0x409, "", "en", 2);
    m.addResource(10, 7, 0x407, "", "de", 2);
    const std::string s = m.buildRes(0x2000);
    EXPECT_EQ(walk(s, 0x2000), (std::vector<Leaf>{{10, 7, 0x409, "en"}, {10, 7, 0x407, "de"}}));
}

// A second build gives the same section instead of a directory twice as long.
TEST(ResourceManager, BuildingTwiceGivesTheSameSection) {
    TResourceManager m;
    m.addResource(10, 1, 0, "", "one", 3);
    m.addResource(6, 1, 0, "", "six", 3);
    const std::string first = m.buildRes(0x1000);
    const std::string second = m.buildRes(0x1000);
    EXPECT_EQ(second, first);
    EXPECT_EQ(m.resSize, m.arResSize);
    EXPECT_EQ(m.buildRes(0x4000).size(), first.size());
}

// Type numbers and counts outside the tables are refused, leaving the
// collection as it was.
TEST(ResourceManager, LimitsOfTheTables) {
    TResourceManager m;
    EXPECT_FALSE(m.fits(32));
    EXPECT_FALSE(m.fits(-1));
    EXPECT_THROW(m.addResource(32, 1, 0, "", "x", 1), ERangeError);
    EXPECT_THROW(m.addResource(-1, 1, 0, "", "x", 1), ERangeError);
    EXPECT_THROW(m.addResource(3, 1, 0, "", nullptr, 4), ERangeError);
    EXPECT_THROW(m.addResource(3, 1, 0, "", "x", -1), ERangeError);
    EXPECT_EQ(m.ttl, 0);
    EXPECT_EQ(m.dataSize, 0u);
    for (int i = 0; i < TResourceManager::MaxPerType; ++i) {
        ASSERT_TRUE(m.fits(31));
        m.addResource(31, i, 0, "", "r", 1);
    }
    EXPECT_FALSE(m.fits(31));
    EXPECT_THROW(m.addResource(31, 99, 0, "", "r", 1), ERangeError);
    EXPECT_EQ(m.cnt[31], 51);
    const std::string s = m.buildRes(0);
    EXPECT_EQ(walk(s, 0).size(), 51u);
    EXPECT_EQ(s.size(), 16u + 72u + 50u * 48u + 51u);
}

TEST(ResourceManager, AddBytesResults) {
    TResourceManager m;
    EXPECT_EQ(m.addBytes(rtData, "abc", 3), 0u);
    EXPECT_EQ(m.addBytes(rtData, "de", 2), 3u);   // offset of the new bytes
    EXPECT_EQ(m.addBytes(rtDir, "0123", 4), 4u);  // length after them
    EXPECT_EQ(m.addBytes(rtEntry, "45", 2), 6u);
    EXPECT_EQ(m.dataStr, "abcde");
    EXPECT_EQ(m.resStr, "012345");
    EXPECT_EQ(m.dataSize, 5u);
    EXPECT_EQ(m.resSize, 6u);
}

}  // namespace
