// The plug-in file check: damaged copies of the shipped plug-in are refused
// before the system loader maps them (a cut-short file faults inside it).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/elf_check.h"
#include "platform/platform.h"
#include "scratch.h"

namespace {

std::string Morvel() {
    std::string data;
    EXPECT_TRUE(platform::ReadFile(std::string(TAVIK_BIN_DIR) + "/plugins/morvel.dll", data));
    return data;
}

bool Check(const std::string& d) {
    return platform::IsLoadableElf(reinterpret_cast<const uint8_t*>(d.data()), d.size());
}

void Put(std::string& d, size_t at, uint64_t v, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) d[at + i] = char((v >> (8 * i)) & 0xFF);
}

uint64_t Get(const std::string& d, size_t at, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = bytes; i-- > 0;) v = (v << 8) | uint8_t(d[at + i]);
    return v;
}

// Offset of the first program header of the given type (64-bit file).
size_t Header(const std::string& d, uint32_t type) {
    const size_t phoff = Get(d, 32, 8), n = Get(d, 56, 2);
    for (size_t i = 0; i < n; ++i)
        if (Get(d, phoff + i * 56, 4) == type) return phoff + i * 56;
    ADD_FAILURE() << "no program header of type " << type;
    return phoff;
}

TEST(ElfCheck, DamagedCopiesOfThePlugin) {
    const std::string good = Morvel();
    ASSERT_GT(good.size(), 20000u);
    ASSERT_EQ(good[4], 2) << "a 64-bit plug-in expected";
    EXPECT_TRUE(Check(good));

    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"empty", [](std::string& d) { d.clear(); }},
        {"1 byte", [](std::string& d) { d.resize(1); }},
        {"ident only", [](std::string& d) { d.resize(16); }},
        {"header cut", [](std::string& d) { d.resize(63); }},
        {"header only", [](std::string& d) { d.resize(64); }},
        {"1000 bytes", [](std::string& d) { d.resize(1000); }},
        {"20000 bytes", [](std::string& d) { d.resize(20000); }},
        {"last loadable byte missing",
         [](std::string& d) {
             // The end of the last PT_LOAD's bytes in the file.
             size_t end = 0;
             const size_t phoff = Get(d, 32, 8), n = Get(d, 56, 2);
             for (size_t i = 0; i < n; ++i) {
                 const size_t ph = phoff + i * 56;
                 if (Get(d, ph, 4) == 1) end = std::max<size_t>(end, Get(d, ph + 8, 8) + Get(d, ph + 32, 8));
             }
             d.resize(end - 1);
         }},
        {"bad magic", [](std::string& d) { d[1] = 'X'; }},
        {"big-endian", [](std::string& d) { d[5] = 2; }},
        {"unknown class", [](std::string& d) { d[4] = 3; }},
        {"executable, not shared", [](std::string& d) { Put(d, 16, 2, 2); }},
        {"program headers past the end", [](std::string& d) { Put(d, 32, d.size() - 10, 8); }},
        {"program header offset overflows", [](std::string& d) { Put(d, 32, ~uint64_t(0) - 8, 8); }},
        {"no program headers", [](std::string& d) { Put(d, 56, 0, 2); }},
        {"wrong header size", [](std::string& d) { Put(d, 54, 32, 2); }},
        {"too many program headers", [](std::string& d) { Put(d, 56, 0xFFFF, 2); }},
        {"segment past the end", [](std::string& d) { Put(d, Header(d, 1) + 8, d.size(), 8); }},
        {"segment length past the end", [](std::string& d) { Put(d, Header(d, 1) + 32, d.size() + 1, 8); }},
        {"segment end overflows", [](std::string& d) { Put(d, Header(d, 1) + 32, ~uint64_t(0), 8); }},
        {"more file than memory", [](std::string& d) { Put(d, Header(d, 1) + 40, 0, 8); }},
        {"dynamic section past the end", [](std::string& d) { Put(d, Header(d, 2) + 8, d.size(), 8); }},
    };
    const std::filesystem::path dir = tavtest::freshScratchDir("elf_check");
    int n = 0;
    for (const Case& c : cases) {
        std::string d = good;
        c.damage(d);
        EXPECT_FALSE(Check(d)) << c.what;
        // The loader refuses it with a reason; the process goes on.
        const std::string path = (dir / ("damaged" + std::to_string(n++) + ".dll")).string();
        ASSERT_TRUE(platform::WriteFile(path, d));
        std::string err;
        EXPECT_EQ(platform::OpenLibrary(path, &err), nullptr) << c.what;
        EXPECT_FALSE(err.empty()) << c.what;
    }
    EXPECT_FALSE(platform::IsLoadableElf(nullptr, 100));
    std::filesystem::remove_all(dir);
}

}  // namespace
