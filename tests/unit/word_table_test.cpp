// The reserved word table: every way of looking a word up gives the same entry.
#include "reader/word_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Words of every length around the table's limit: reserved ones as written
// and in other letter cases, and near misses of them.
std::vector<std::string> probes() {
    std::vector<std::string> out = {
        "mov", "eax",           "issignedtype", "gp_ax",         "cs",     "st",       "L1", "x",
        "_",   "issignedtypes", "movzx",        "a_b_c_d_e_f_g", "exitif", "tokentext"};
    for (const TInstruction& row : instructions) out.emplace_back(row.name);
    const size_t n = out.size();
    for (size_t i = 0; i < n; ++i) {
        std::string up = out[i], mixed = out[i], longer = out[i] + "q", shorter = out[i], changed = out[i];
        for (size_t j = 0; j < up.size(); ++j) {
            if (up[j] >= 'a' && up[j] <= 'z') up[j] = static_cast<char>(up[j] - 32);
            if (j % 2 && mixed[j] >= 'a' && mixed[j] <= 'z') mixed[j] = static_cast<char>(mixed[j] - 32);
        }
        shorter.pop_back();
        changed.back() = changed.back() == 'z' ? 'y' : static_cast<char>(changed.back() + 1);
        for (const std::string& s : {up, mixed, longer, shorter, changed})
            if (!s.empty()) out.push_back(s);
    }
    out.push_back(std::string("mo\0", 3));  // a zero byte is part of the word
    out.push_back(std::string("\0ov", 3));
    return out;
}

}  // namespace

TEST(WordTable, EveryLookupAgrees) {
    size_t found = 0;
    for (const std::string& w : probes()) {
        const TWord* want = words::find(w);
        if (want) ++found;
        // Sixteen readable bytes: the word followed by bytes that are no part of it.
        for (const char fill : {'\0', 'a', 'Z', '\xff'}) {
            char padded[32];
            std::memset(padded, fill, sizeof padded);
            std::memcpy(padded, w.data(), w.size());
            if (w.size() <= 16) {
                EXPECT_EQ(words::findPadded(padded, w.size()), want) << w;
            }
        }
        // Held in a string, short or not.
        EXPECT_EQ(words::findIn(w), want) << w;
        std::string big = w;
        big.reserve(64);
        EXPECT_EQ(words::findIn(big), want) << w;
        // Lying in a text, far from its end and right at it.
        const std::string text = ";" + w + " and so on, to be sure of sixteen bytes";
        EXPECT_EQ(
            words::findInText(text.data(), static_cast<uint32_t>(text.size()), 1, static_cast<uint32_t>(w.size())),
            want)
            << w;
        const std::string tail = ";" + w;
        EXPECT_EQ(
            words::findInText(tail.data(), static_cast<uint32_t>(tail.size()), 1, static_cast<uint32_t>(w.size())),
            want)
            << w;
    }
    EXPECT_GT(found, instructions.size());  // the mnemonics and their other cases at least
}

TEST(WordTable, EntriesNameWhatTheWordIs) {
    ASSERT_NE(words::find("MOV"), nullptr);
    EXPECT_EQ(words::find("MOV")->mnemonic, words::find("mov")->mnemonic);
    EXPECT_NE(words::find("mov")->mnemonic, nullptr);
    EXPECT_EQ(words::find("IsSignedType")->keyword, keyIsSignedType);
    EXPECT_EQ(words::find("ds")->segment, SEG_DS);
    EXPECT_EQ(words::find(""), nullptr);
    EXPECT_EQ(words::find("issignedtypes"), nullptr);  // longer than any word
    EXPECT_EQ(words::find(std::string("mov\0", 4)), nullptr);
    bool upper = false;
    words::find("Eax", &upper);
    EXPECT_TRUE(upper);
    words::find("eax", &upper);
    EXPECT_FALSE(upper);
}

TEST(WordTable, OnlyLettersDigitsAndUnderscoreMakeAWord) {
    // Bytes one bit away from a word's bytes, in every place of the word.
    const std::string names[] = {"gp_ax", "mov", "eax", "issignedtype"};
    for (const std::string& name : names) {
        ASSERT_NE(words::find(name), nullptr) << name;
        for (size_t i = 0; i < name.size(); ++i) {
            for (const int bit : {0x20, 0x40, 0x80}) {
                std::string w = name;
                w[i] = static_cast<char>(w[i] ^ bit);
                const bool letterCase = bit == 0x20 && ((w[i] >= 'A' && w[i] <= 'Z') || (w[i] >= 'a' && w[i] <= 'z'));
                if (letterCase) {
                    EXPECT_EQ(words::find(w), words::find(name)) << name << " " << i;
                } else {
                    EXPECT_NE(words::find(w), words::find(name)) << name << " " << i << " " << bit;
                }
            }
        }
    }
    EXPECT_EQ(words::find("gp\x7f"
                          "ax"),
              nullptr);
    EXPECT_EQ(words::find("gp_AX"), words::find("gp_ax"));
}
