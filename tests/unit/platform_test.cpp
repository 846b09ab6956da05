#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

class PlatformFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = tavtest::freshScratchDir("tavik_pf"); }
    void TearDown() override { fs::remove_all(dir); }
    std::string P(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

// Whole-file texts: small files are read, large ones may be mapped; the
// bytes whose memory was given back read the same afterwards.
TEST_F(PlatformFiles, FileTextsReadTheSameAfterDrops) {
    for (size_t size : {size_t(0), size_t(1), size_t(4096), size_t(3u << 20) + 5}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
        const std::string name = P("text" + std::to_string(size));
        std::ofstream(name, std::ios::binary) << bytes;
        platform::TFileText text;
        ASSERT_EQ(text.Load(name), platform::TFileText::Loaded) << size;
        ASSERT_EQ(std::string(text.Data(), text.Size()), bytes) << size;
        text.Drop(0, size / 2);
        text.Drop(size / 3, size);
        text.Drop(size, size + 9999);  // outside the text: nothing
        EXPECT_EQ(std::string(text.Data(), text.Size()), bytes) << size;
    }
    platform::TFileText missing, folder;
    EXPECT_EQ(missing.Load(P("none.tav")), platform::TFileText::CannotOpen);
    fs::create_directory(dir / "sub");
    EXPECT_NE(folder.Load(P("sub")), platform::TFileText::Loaded);
}

#ifndef _WIN32
// A mapped text cut short by another program: the process ends with a
// message and exit code 1, not with a bus error.
TEST_F(PlatformFiles, MappedTextCutShortEndsWithAMessage) {
    const std::string name = P("cut.tav");
    std::ofstream(name, std::ios::binary) << std::string(1u << 20, 'x');
    EXPECT_EXIT(
        {
            platform::TFileText text;
            if (text.Load(name) != platform::TFileText::Loaded || !text.Mapped()) std::exit(2);
            fs::resize_file(name, 0);
            volatile char c = text.Data()[(1u << 20) - 1];
            (void)c;
            std::exit(3);
        },
        ::testing::ExitedWithCode(1), "");
}
#endif

TEST_F(PlatformFiles, FolderListingBySuffix) {
    for (const char* n : {"b.dll", "A.DLL", "c.Dll", "notdll", "d.dll.txt", "x.so"}) std::ofstream(dir / n) << "x";
    fs::create_directory(dir / "folder.dll");  // folders are entries too
    std::vector<std::string> want = {"A.DLL", "b.dll", "c.Dll", "folder.dll"};
    EXPECT_EQ(platform::ListFolder(dir.string() + "/", ".dll"), want);
    EXPECT_EQ(platform::ListFolder(dir.string() + "//", ".dll"), want);  // doubled separator
    EXPECT_TRUE(platform::ListFolder(P("missing/"), ".dll").empty());
}

TEST_F(PlatformFiles, ExistsReadWrite) {
    const std::string f = P("data.bin");
    EXPECT_FALSE(platform::FileExists(f));
    EXPECT_FALSE(platform::FileExists(""));
    std::string bytes("a\0\r\nb", 5);
    ASSERT_TRUE(platform::WriteFile(f, bytes));
    EXPECT_TRUE(platform::FileExists(f));
    EXPECT_FALSE(platform::FileExists(dir.string()));  // a folder is not a file
    EXPECT_TRUE(platform::FolderExists(dir.string()));
    std::string back = "untouched";
    ASSERT_TRUE(platform::ReadFile(f, back));
    EXPECT_EQ(back, bytes);
    back = "untouched";
    EXPECT_FALSE(platform::ReadFile(P("none"), back));
    EXPECT_EQ(back, "untouched");
    EXPECT_FALSE(platform::WriteFile(P("no/such/file"), "x"));
}

TEST_F(PlatformFiles, AppendKeepsWhatIsThere) {
    platform::TOutFile f;
    ASSERT_TRUE(f.OpenAppend(P("log")));
    ASSERT_TRUE(f.Write("one", 3));
    ASSERT_TRUE(f.Close());
    ASSERT_TRUE(f.OpenAppend(P("log")));
    ASSERT_TRUE(f.Write("two", 3));
    ASSERT_TRUE(f.Close());
    std::string s;
    ASSERT_TRUE(platform::ReadFile(P("log"), s));
    EXPECT_EQ(s, "onetwo");
    EXPECT_FALSE(f.Write("x", 1));  // closed
}

TEST(Platform, PathText) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
        const char* ext;
    } cases[] = {
        {"/a/b/prog.tav", "/a/b/", "prog.tav", ".tav"},
        {"prog", "", "prog", ""},
        {"/a.b/prog", "/a.b/", "prog", ""},
        {"x.y.z", "", "x.y.z", ".z"},
        {"/a/", "/a/", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::ExtractFilePath(c.path), c.folder) << c.path;
        EXPECT_EQ(platform::ExtractFileName(c.path), c.name) << c.path;
        EXPECT_EQ(platform::ExtractFileExt(c.path), c.ext) << c.path;
    }
    EXPECT_EQ(platform::IncludeTrailingSeparator("inc"), "inc/");
    EXPECT_EQ(platform::IncludeTrailingSeparator("inc/"), "inc/");
    EXPECT_EQ(platform::FullPath("/a/./b/../c.tav"), "/a/c.tav");
    EXPECT_EQ(platform::FullPath("c.tav"), (fs::current_path() / "c.tav").string());
}

TEST(Platform, ExecutableAndVersion) {
    std::string exe = platform::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(platform::ExtractFileName(exe), "tavik_tests");
    EXPECT_EQ(platform::ExecutableFolder(), platform::ExtractFilePath(exe));
    EXPECT_EQ(platform::ExecutableFolder().back(), '/');
    std::string v = platform::FileVersion(exe);
    EXPECT_EQ(std::count(v.begin(), v.end(), '.'), 3) << v;
    EXPECT_EQ(v.rfind(TAVIK_VERSION_TEXT, 0), 0u) << v;      // the build's version, four parts
    EXPECT_EQ(platform::FileVersion("/bin/sh"), "0.0.0.0");  // not ours: unknown
    EXPECT_EQ(platform::FileVersion("/no/such/file"), "0.0.0.0");
}

TEST(Platform, Counter) {
    EXPECT_EQ(platform::PerformanceFrequency(), 1000000000);
    int64_t a = platform::PerformanceCounter();
    int64_t b = platform::PerformanceCounter();
    EXPECT_LE(a, b);
}

TEST_F(PlatformFiles, Libraries) {
    std::string err;
    EXPECT_EQ(platform::OpenLibrary(P("missing.dll"), &err), nullptr);
    EXPECT_FALSE(err.empty());
    std::ofstream(dir / "junk.dll") << "not a library";
    err.clear();
    EXPECT_EQ(platform::OpenLibrary(P("junk.dll"), &err), nullptr);
    EXPECT_FALSE(err.empty());
    void* m = platform::OpenLibrary("libm.so.6", &err);
    ASSERT_NE(m, nullptr) << err;
    EXPECT_NE(platform::LibrarySymbol(m, "cos"), nullptr);
    EXPECT_EQ(platform::LibrarySymbol(m, "no_such_symbol_here"), nullptr);
    EXPECT_EQ(platform::LibrarySymbol(nullptr, "cos"), nullptr);
}

}  // namespace
