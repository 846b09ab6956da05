#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "exceptions.h"
#include "filetypes/file_writer.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

using tavtest::readFile;

std::string Contents(const TFileWriter& w) { return std::string(reinterpret_cast<const char*>(w.Data()), w.Len()); }

class FileWriterTest : public ::testing::Test {
protected:
    void SetUp() override { dir = tavtest::freshScratchDir("tavik_fw"); }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }
    fs::path dir;
};

TEST_F(FileWriterTest, AppendsReturnOneBasedPositions) {
    TFileWriter w(Path("x"));
    EXPECT_EQ(w.Len(), 0u);
    EXPECT_EQ(w.addFileText("abc"), 1u);
    const uint8_t bytes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(w.addFileBytes(bytes, 4), 4u);  // only the first 4 of the array
    uint32_t dword = 0x11223344;
    EXPECT_EQ(w.addFileBytes(static_cast<const void*>(&dword), 3), 8u);
    EXPECT_EQ(w.addFileData("zz", 2), 11u);
    EXPECT_EQ(w.addFileBytes(std::string("!")), 13u);
    EXPECT_EQ(w.Len(), 13u);
    EXPECT_EQ(Contents(w), std::string("abc\0\1\2\3\x44\x33\x22zz!", 13));
    // Zero bytes: position after the end, length unchanged.
    EXPECT_EQ(w.addFileData(nullptr, 0), 14u);
    EXPECT_EQ(w.addFileText(""), 14u);
    EXPECT_EQ(w.Len(), 13u);
}

TEST_F(FileWriterTest, AlignFileToSize) {
    struct Case {
        uint32_t len, si;
        bool result;
        uint32_t after;
    } cases[] = {{512, 512, true, 512}, {513, 512, false, 513}, {100, 512, true, 512}, {0, 0, true, 0}};
    for (const Case& c : cases) {
        TFileWriter w(Path("x"));
        w.addFileText(std::string(c.len, '\x7f'));
        EXPECT_EQ(w.alignFileToSize(c.si), c.result) << c.len << " to " << c.si;
        EXPECT_EQ(w.Len(), c.after);
        EXPECT_EQ(Contents(w), std::string(c.len, '\x7f') + std::string(c.after - c.len, '\0'));
    }
}

TEST_F(FileWriterTest, ReplaceOverwritesInPlace) {
    TFileWriter w(Path("x"));
    w.addFileText("abcd");
    const uint8_t two[] = {'X', 'Y', 'Z'};
    EXPECT_EQ(w.replaceFileData(1, two, 2), 1u);
    EXPECT_EQ(Contents(w), "XYcd");
    EXPECT_EQ(w.replaceFileBytes(4, two + 2, 1), 4u);
    EXPECT_EQ(Contents(w), "XYcZ");
    EXPECT_EQ(w.Len(), 4u);
}

TEST_F(FileWriterTest, ReplaceOutsideTheBufferIsRejected) {
    TFileWriter w(Path("x"));
    w.addFileText("abcd");
    const uint8_t b[8] = {};
    struct Case {
        uint32_t pos, bytes;
    } cases[] = {{0, 1}, {4, 2}, {5, 1}, {1, 5}, {0xFFFFFFFFu, 2}};
    for (const Case& c : cases) {
        EXPECT_THROW(w.replaceFileData(c.pos, b, c.bytes), ERangeError) << c.pos << "+" << c.bytes;
        EXPECT_EQ(Contents(w), "abcd");
    }
    EXPECT_THROW(w.replaceFileData(1, nullptr, 1), ERangeError);
    EXPECT_THROW(w.addFileData(nullptr, 1), ERangeError);
}

TEST_F(FileWriterTest, NothingOnDiskBeforeCommit) {
    {
        TFileWriter w(Path("out.bin"));
        w.addFileText("data");
    }
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

TEST_F(FileWriterTest, CommitWritesTheWholeBufferEachTime) {
    TFileWriter w(Path("out.bin"));
    w.addFileText(std::string("a\0b", 3));
    w.Commit();
    EXPECT_EQ(readFile(dir / "out.bin"), std::string("a\0b", 3));
    w.file_out = Path("renamed.bin");  // too late: the file is open
    w.Commit();
    EXPECT_EQ(readFile(dir / "out.bin"), std::string("a\0ba\0b", 6));
    EXPECT_FALSE(fs::exists(dir / "renamed.bin"));
}

TEST_F(FileWriterTest, EmptyCommitTruncatesAndRenameBeforeCommitCounts) {
    std::ofstream(dir / "old.bin") << "previous contents";
    {
        TFileWriter w(Path("first"));
        w.file_out = Path("old.bin");
        w.Commit();
    }
    EXPECT_TRUE(fs::exists(dir / "old.bin"));
    EXPECT_EQ(fs::file_size(dir / "old.bin"), 0u);
    EXPECT_FALSE(fs::exists(dir / "first"));
}

TEST_F(FileWriterTest, CommitIntoMissingFolderFails) {
    TFileWriter w(Path("no/such/folder/out.bin"));
    w.addFileText("x");
    try {
        w.Commit();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EFCreateError");
        EXPECT_NE(e.Message().find("out.bin"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(w.Len(), 1u);  // the buffer is kept
}

TEST_F(FileWriterTest, FailedWriteIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TFileWriter w("/dev/full");
    w.addFileText(std::string(100, 'x'));
    try {
        w.Commit();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EWriteError");
    }
}

}  // namespace

namespace {

// The image goes to a new file beside the target, then takes its name: the
// old file is replaced whole, a file the user has under the temporary name
// is left alone, and a failure leaves neither a half file nor the temporary.
TEST_F(FileWriterTest, CommitReplacingWritesBesideAndRenames) {
    std::ofstream(dir / "out.exe") << "old image, longer than the new one";
    std::ofstream(dir / "out.exe.tmp") << "the user's";
    TFileWriter w(Path("out.exe"));
    w.addFileText(std::string("M\0Z", 3));
    w.CommitReplacing();
    EXPECT_EQ(readFile(dir / "out.exe"), std::string("M\0Z", 3));
    EXPECT_EQ(readFile(dir / "out.exe.tmp"), "the user's");
    EXPECT_FALSE(fs::exists(dir / "out.exe.tavik-tmp"));

    // A partial file left by a build stopped while writing is replaced.
    std::ofstream(dir / "out.exe.tavik-tmp") << "partial";
    TFileWriter again(Path("out.exe"));
    again.addFileText("new");
    again.CommitReplacing();
    EXPECT_EQ(readFile(dir / "out.exe"), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    // The target is a folder: the rename fails, the folder stays as it was.
    fs::create_directories(dir / "taken" / "inside");
    TFileWriter f(Path("taken"));
    f.addFileText("x");
    try {
        f.CommitReplacing();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EFCreateError");
    }
    EXPECT_TRUE(fs::exists(dir / "taken" / "inside"));
    EXPECT_FALSE(fs::exists(dir / "taken.tavik-tmp"));

    TFileWriter m(Path("no/such/folder/out.bin"));
    m.addFileText("x");
    EXPECT_THROW(m.CommitReplacing(), EFCreateError);
}

}  // namespace

namespace {

// Names of one folder entry are at most 255 bytes: so is the temporary one,
// fixed for one output and apart for two long names that start alike.
TEST(FileWriterTempName, StaysWithinOneNameAndTheFolder) {
    EXPECT_EQ(TFileWriter::tempName("a/b/out.exe"), "a/b/out.exe.tavik-tmp");
    for (size_t n = 240; n <= 255; ++n) {
        const std::string name(n, 'x');
        const std::string t = TFileWriter::tempName("dir/" + name);
        EXPECT_EQ(t.substr(0, 4), "dir/");
        EXPECT_LE(t.size() - 4, 255u) << n;
        EXPECT_EQ(t, TFileWriter::tempName("dir/" + name));
        EXPECT_NE(t, TFileWriter::tempName("dir/" + name.substr(0, n - 1) + "y"));
        EXPECT_NE(t, "dir/" + name);
    }
    // Cut before a character of two bytes, never inside it.
    const std::string umlauts = std::string(1, 'x') + [] {
        std::string s;
        for (int i = 0; i < 127; ++i) s += "\xC3\xA4";
        return s;
    }();
    const std::string t = TFileWriter::tempName(umlauts);
    const size_t cut = t.find('~');
    ASSERT_NE(cut, std::string::npos);
    EXPECT_EQ((cut - 1) % 2, 0u);
}

// The folder cannot be written to: the message gives that reason, not the
// one of a later call. Root writes anywhere, so it tries as "nobody".
TEST_F(FileWriterTest, ReadOnlyFolderSaysPermissionDenied) {
    fs::create_directories(dir / "ro");
    fs::permissions(dir, fs::perms::all);
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        std::string said = "no error";
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) said = "cannot become nobody";
        else {
            TFileWriter w(Path("ro/out.exe"));
            w.addFileText("x");
            try {
                w.CommitReplacing();
            } catch (const Exception& e) {
                said = e.Message();
            }
        }
        const ssize_t n = write(fds[1], said.data(), said.size());
        _exit(n < 0 ? 2 : 0);
    }
    close(fds[1]);
    std::string said;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) said.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(said, "Cannot create file \"" + Path("ro/out.exe") + "\". Permission denied");
    EXPECT_FALSE(fs::exists(dir / "ro" / "out.exe"));
    fs::permissions(dir / "ro", fs::perms::owner_all);
}

}  // namespace
