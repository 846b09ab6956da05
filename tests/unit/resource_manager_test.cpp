// The resource collector and the resource section it builds: directory
// layout, offsets and the limits of its tables.
#include <gtest/gtest.h>

#include <algorithm>
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
// every leaf, in directory order. Every offset must stay inside the section,
// every level must be strictly ascending (a loader's binary search) and every
// directory and data entry 4-byte aligned.
using Leaf = std::tuple<uint32_t, uint32_t, uint32_t, std::string>;
std::vector<Leaf> walk(const std::string& sec, uint32_t rva) {
    std::vector<Leaf> leaves;
    auto entries = [&](uint32_t dir) {
        std::vector<std::pair<uint32_t, uint32_t>> v;
        EXPECT_EQ(u16(sec, dir + 12), 0u) << "named entries";
        EXPECT_EQ(dir % 4, 0u);
        for (uint32_t i = 0; i < u16(sec, dir + 14); ++i) {
            v.emplace_back(u32(sec, dir + 16 + 8 * i), u32(sec, dir + 20 + 8 * i));
            if (i) {
                EXPECT_LT(v[i - 1].first, v[i].first) << "unsorted level at " << dir;
            }
        }
        return v;
    };
    for (auto [type, tOff] : entries(0)) {
        EXPECT_TRUE(tOff & kHigh);
        for (auto [id, iOff] : entries(tOff & ~kHigh)) {
            EXPECT_TRUE(iOff & kHigh);
            for (auto [lang, dOff] : entries(iOff & ~kHigh)) {
                EXPECT_FALSE(dOff & kHigh);
                EXPECT_EQ(dOff % 4, 0u);
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

// Identifiers ascending whatever the order of addition, their language
// directories one after the other; data 4-byte aligned.
TEST(ResourceManager, IdentifiersSortedAscending) {
    TResourceManager m;
    EXPECT_EQ(m.addResource(10, 9, 1033, "", "abcde", 5), 0u);
    EXPECT_EQ(m.addResource(10, 2, 1033, "", "xyz", 3), 8u);  // after 3 bytes of padding
    const std::string s = m.buildRes(0);
    ASSERT_EQ(s.size(), 136u + 11u);
    EXPECT_EQ(m.arResSize, 136u);
    EXPECT_EQ(u16(s, 38), 2u);
    EXPECT_EQ(u32(s, 40), 2u);
    EXPECT_EQ(u32(s, 48), 9u);
    EXPECT_EQ((u32(s, 52) & ~kHigh) - (u32(s, 44) & ~kHigh), 40u);
    EXPECT_EQ(m.res[10][0]->entOffset, 48u);  // the records keep the order of addition
    EXPECT_EQ(m.res[10][1]->entOffset, 40u);
    EXPECT_EQ(walk(s, 0), (std::vector<Leaf>{{10, 2, 1033, "xyz"}, {10, 9, 1033, "abcde"}}));
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
    EXPECT_EQ(s.size(), m.arResSize + 8u);
    EXPECT_EQ(m.arResSize, 16u + 72u + 72u + 48u);
    EXPECT_EQ(walk(s, 0x1000), (std::vector<Leaf>{{3, 1, 0, "i"}, {14, 1, 0, "icon"}, {14, 2, 7, ""}}));
}

// The languages of one identifier share its entry: one language directory
// that lists them ascending.
TEST(ResourceManager, LanguagesMergedUnderTheirIdentifier) {
    TResourceManager m;
    m.addResource(10, 7, 0x409, "", "en", 2);
    m.addResource(10, 5, 0x409, "", "five", 4);
    m.addResource(10, 7, 0x407, "", "de", 2);
    m.addResource(10, 7, 0, "", "neutral", 7);
    EXPECT_EQ(m.arResSize, 16u + 24u + 2u * 24u + 4u * 24u);
    const std::string s = m.buildRes(0x2000);
    ASSERT_EQ(s.size(), m.arResSize + 4u + 4u + 4u + 7u);
    EXPECT_EQ(u16(s, 24 + 14), 2u);  // two identifiers
    const uint32_t seven = u32(s, 24 + 16 + 8 + 4) & ~kHigh;
    EXPECT_EQ(u16(s, seven + 14), 3u);  // three languages of 7
    EXPECT_EQ(
        walk(s, 0x2000),
        (std::vector<Leaf>{{10, 5, 0x409, "five"}, {10, 7, 0, "neutral"}, {10, 7, 0x407, "de"}, {10, 7, 0x409, "en"}}));
    // Every data entry and every piece of data on a 4-byte boundary.
    for (int k = 0; k < 4; ++k) EXPECT_EQ(m.res[10][k]->dataAddr % 4, 0u);
    EXPECT_EQ(m.res[10][0]->entOffset, m.res[10][2]->entOffset);
}

// Each level sorted and every offset in range for many identifiers and
// languages added in a scrambled order.
TEST(ResourceManager, ScrambledAdditionsComeOutSorted) {
    TResourceManager m;
    std::vector<Leaf> want;
    for (uint32_t i = 0; i < 50; ++i) {
        const uint32_t type = i % 3 ? 10 : 6, id = (i * 37) % 11, lang = (i * 13) % 5 + 0x400;
        if (m.contains(int32_t(type), int32_t(id), int32_t(lang))) continue;
        const std::string data(i % 7, char('a' + i % 26));
        m.addResource(int32_t(type), int32_t(id), int32_t(lang), "", data.data(), int32_t(data.size()));
        want.emplace_back(type, id, lang, data);
    }
    std::sort(want.begin(), want.end());
    const std::string s = m.buildRes(0x1000);
    EXPECT_EQ(s.size(), m.arResSize + m.dataSize);
    EXPECT_EQ(walk(s, 0x1000), want);
}

// Named identifiers come before the numbered ones of their type, ordered by
// their units, in capitals; each entry holds the high bit and the offset of
// its string (a 16-bit length and the UTF-16 units), and the strings lie
// between the directory and the 4-byte aligned data.
TEST(ResourceManager, NamesBeforeNumbersWithTheirStrings) {
    TResourceManager m;
    m.addResource(10, 5, 0x409, "", "five", 4);
    m.addResource(10, 7, 0x409, "b", "bee", 3);  // a name: the number is not used
    m.addResource(10, 0, 0x409, "0AB", "y", 1);
    m.addResource(10, 0, 0x407, "0ab", "x", 1);  // another language of the same name
    m.addResource(6, 1, 0, "Xy", "six", 3);
    EXPECT_TRUE(m.contains(10, 9, 0x409, "0aB"));
    EXPECT_FALSE(m.contains(10, 0, 0x409));  // the number 0 is not the name "0AB"
    EXPECT_FALSE(m.contains(10, 7, 0x409));
    EXPECT_THROW(m.addResource(10, 0, 0x409, "B", "again", 5), ERangeError);
    EXPECT_THROW(m.addResource(10, 0, 0, "d\xC3\xA4t", "x", 1), ERangeError);
    EXPECT_THROW(m.addResource(10, 0, 0, std::string(0x10000, 'N'), "x", 1), ERangeError);
    // Root 16 + 2 types; type 6: one name, one language; type 10: three
    // identifiers, four languages. Names "XY", "0AB", "B": 6 + 8 + 4 bytes.
    const uint32_t dir = 16 + 2 * 24 + 2 * 24 + 3 * 24 + 4 * 24;
    EXPECT_EQ(m.arResSize, dir + 20u);
    const uint32_t rva = 0x5000;
    const std::string s = m.buildRes(rva);
    ASSERT_EQ(s.size(), m.arResSize + m.dataSize);
    EXPECT_EQ(s.substr(dir + 18, 2), std::string(2, '\0'));  // padding before the data

    using Named = std::tuple<uint32_t, std::string, uint32_t, std::string>;
    std::vector<Named> got;
    for (uint32_t t = 0; t < u16(s, 14); ++t) {
        const uint32_t type = u32(s, 16 + 8 * t), tdir = u32(s, 20 + 8 * t) & ~kHigh;
        const uint32_t named = u16(s, tdir + 12), all = named + u16(s, tdir + 14);
        std::string last;
        for (uint32_t i = 0; i < all; ++i) {
            const uint32_t key = u32(s, tdir + 16 + 8 * i), ldir = u32(s, tdir + 20 + 8 * i) & ~kHigh;
            std::string name;
            EXPECT_EQ(bool(key & kHigh), i < named) << type << "/" << i;
            if (key & kHigh) {
                const uint32_t at = key & ~kHigh;
                EXPECT_GE(at, dir);
                EXPECT_EQ(at % 2, 0u);
                for (uint32_t c = 0; c < u16(s, at); ++c) name += char(u16(s, at + 2 + 2 * c));
                EXPECT_LE(at + 2 + 2 * name.size(), m.arResSize);
                if (i) {
                    EXPECT_LT(last, name);
                }
                last = name;
            } else {
                name = "#" + std::to_string(key);
            }
            for (uint32_t l = 0; l < u16(s, ldir + 14); ++l) {
                const uint32_t d = u32(s, ldir + 20 + 8 * l);
                EXPECT_EQ(u32(s, d) % 4, 0u);
                got.emplace_back(type, name, u32(s, ldir + 16 + 8 * l), s.substr(u32(s, d) - rva, u32(s, d + 4)));
            }
        }
    }
    EXPECT_EQ(got, (std::vector<Named>{{6, "XY", 0, "six"},
                                       {10, "0AB", 0x407, "x"},
                                       {10, "0AB", 0x409, "y"},
                                       {10, "B", 0x409, "bee"},
                                       {10, "#5", 0x409, "five"}}));
    EXPECT_EQ(m.buildRes(rva), s);
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
    {
        TResourceManager d;
        d.addResource(3, 1, 0, "", "x", 1);
        EXPECT_TRUE(d.contains(3, 1, 0));
        EXPECT_FALSE(d.contains(3, 1, 1));
        EXPECT_FALSE(d.contains(32, 1, 0));
        EXPECT_THROW(d.addResource(3, 1, 0, "", "y", 1), ERangeError);  // the same type, id and language
        EXPECT_EQ(d.cnt[3], 1);
        EXPECT_EQ(d.dataSize, 1u);
    }
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
    EXPECT_EQ(s.size(), 16u + 72u + 50u * 48u + 50u * 4u + 1u);
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
