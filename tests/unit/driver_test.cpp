#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common.h"
#include "driver/driver.h"
#include "global.h"
#include "log.h"
#include "platform/platform.h"
#include "scratch.h"
#include "driver/settings.h"

namespace fs = std::filesystem;

namespace {

using tavtest::readFile;

TEST(Driver, SecondsFormat) {
    struct Case {
        float seconds;
        const char* text;
    } cases[] = {{0.5f, "0.5"},   {2.0f, "2"},       {1.23456f, "1.2346"}, {0.0f, "0"},      {0.00004f, "0"},
                 {1.99999f, "2"}, {10.25f, "10.25"}, {0.0001f, "0.0001"},  {-0.00001f, "0"}, {123456.0f, "123456"}};
    for (const Case& c : cases) EXPECT_EQ(FormatSeconds(c.seconds), c.text) << c.seconds;
}

TEST(Driver, BannerIs58ColumnsWide) {
    std::vector<std::string> lines = BannerLines("Tavik Assembler 1.2.3.4");
    ASSERT_EQ(lines.size(), 6u);
    for (const std::string& l : lines) EXPECT_EQ(l.size(), 58u) << l;
    EXPECT_EQ(lines[0], std::string(58, '*'));
    EXPECT_EQ(lines[1], "**" + std::string(54, ' ') + "**");
    EXPECT_EQ(lines[2], "**     Tavik Assembler 1.2.3.4" + std::string(49 - 23, ' ') + "**");
    EXPECT_EQ(lines[3].substr(0, 7), "**     ");
    EXPECT_EQ(lines[4], lines[1]);
    EXPECT_EQ(lines[5], lines[0]);
    // A title longer than the frame widens its line, nothing else.
    std::string longTitle(60, 'T');
    lines = BannerLines(longTitle);
    EXPECT_EQ(lines[2], "**     " + longTitle + "**");
    EXPECT_EQ(lines[0].size(), 58u);
}

// Runs the driver's steps with the global objects alive, output swallowed.
class DriverState : public ::testing::Test {
protected:
    void SetUp() override {
        testing::internal::CaptureStdout();
        InitTavik();
        strOutFile.clear();
        bPause = true;
        dir = tavtest::freshScratchDir("tavik_drv");
    }
    void TearDown() override {
        DeinitTavik();
        testing::internal::GetCapturedStdout();
        fs::remove_all(dir);
    }
    fs::path dir;
};

TEST_F(DriverState, InitCreatesEveryObjectAndDeinitFreesThem) {
    EXPECT_TRUE(FuncOps && Settings && Idents && VarMan && FuncMan && FixMan && Imports && RegMan && ResMan &&
                blStack && Compiler && Consts && DefMan && MacMan && Log && Plugins);
    EXPECT_EQ(CompileFlags.cpu_mode, 686u);
    EXPECT_EQ(CompileFlags.cpu_bits, 0u);
    EXPECT_EQ(CompileFlags.fpu_enabled, 1);
    EXPECT_EQ(CompileFlags.sse_version, 1u);
    EXPECT_EQ(CompileFlags.entry_funcid, 0u);
    EXPECT_EQ(CompileFlags.stackframe_on, 1);
    EXPECT_EQ(ptrSize, 4u);
    EXPECT_EQ(fileCounter, 0u);
    EXPECT_EQ(strTAVIK_PATH, platform::ExecutableFolder());
    EXPECT_EQ(strTAVIK_VERSION.rfind("Tavik Assembler ", 0), 0u);
    EXPECT_FALSE(Settings->WriteLog());
    EXPECT_EQ(Settings->IncludePath(), "");
    DeinitTavik();
    EXPECT_TRUE(!FuncOps && !Settings && !Compiler && !Log && !Plugins && !MacMan && !blStack);
    DeinitTavik();  // twice is harmless
    InitTavik();
}

TEST_F(DriverState, CommandLineOptions) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        bool pause;
        std::string include;
    } cases[] = {
        {{"x.tav"}, "", true, ""},
        {{"x.tav", "-nopause"}, "", false, ""},
        {{"x.tav", "-out"}, "", true, ""},                      // value option last: empty value
        {{"x.tav", "-out", "-nopause"}, "-nopause", true, ""},  // the value is taken as it is
        {{"x.tav", "-out", "prog.exe", "-nopause"}, "prog.exe", false, ""},
        {{"x.tav", "-i", "inc1", "-i", "inc2/"}, "", true, "inc2/"},  // the last -i wins
        {{"x.tav", "-i"}, "", true, ""},                              // no folder, not the root
        {{"x.tav", "-x", "-NOPAUSE", "-Out", "y"}, "", true, ""},     // unknown and miscased: ignored
        {{"-nopause", "x.tav"}, "", true, ""},                        // the first argument is never an option
    };
    for (const Case& c : cases) {
        strOutFile.clear();
        bPause = true;
        Settings->SetIncludePath("");
        ReadOptions(c.args);
        std::string line = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : std::string());
        EXPECT_EQ(strOutFile, c.out) << line;
        EXPECT_EQ(bPause, c.pause) << line;
        EXPECT_EQ(Settings->IncludePath(), c.include) << line;
    }
}

// Whenever -nopause is among the arguments, the program never waits, even
// where it is no option: first, or the value of another option.
TEST(Driver, NoPauseAskedAnywhere) {
    struct Case {
        std::vector<std::string> args;
        bool asked;
    } cases[] = {
        {{}, false},
        {{"x.tav"}, false},
        {{"x.tav", "-nopause"}, true},
        {{"-nopause"}, true},
        {{"-nopause", "x.tav"}, true},
        {{"x.tav", "-out", "-nopause"}, true},
        {{"x.tav", "-NOPAUSE", "nopause", "-nopause2", "--nopause"}, false},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        EXPECT_EQ(NoPauseAsked(c.args), c.asked) << line;
    }
}

// Every argument that is ignored, a value option without its value and an
// option given again are warned about; the options in effect are kept as
// typed for the batch file.
TEST_F(DriverState, OptionWarnings) {
    struct Case {
        std::vector<std::string> args;
        uint32_t warnings;
        std::string includeRaw, outRaw;
    } cases[] = {
        {{"x.tav"}, 0, "", ""},
        {{"x.tav", "-nopause", "-out", "o", "-i", "inc"}, 0, "inc", "o"},
        {{"x.tav", "-o", "other.exe", "-nopause"}, 2, "", ""},  // -o and its value
        {{"x.tav", "-x", "-NOPAUSE", "-Out", "y"}, 4, "", ""},
        {{"x.tav", "-i", "a", "-i", "b"}, 1, "b", ""},
        {{"x.tav", "-out", "a", "-out", "b"}, 1, "", "b"},
        {{"x.tav", "-out"}, 1, "", ""},
        {{"x.tav", "-i", "a", "-i"}, 1, "", ""},  // the empty value at the end: none
        {{"x.tav", "-out", "a", "-out"}, 1, "", ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        strOutFile.clear();
        strOutRaw.clear();
        strIncludeRaw.clear();
        Settings->SetIncludePath("");
        const uint32_t before = Log->WarningCount();
        ReadOptions(c.args);
        EXPECT_EQ(Log->WarningCount() - before, c.warnings) << line;
        EXPECT_EQ(strIncludeRaw, c.includeRaw) << line;
        EXPECT_EQ(strOutRaw, c.outRaw) << line;
    }
}

TEST_F(DriverState, WriteLogOptionOpensTheLogFile) {
    Settings->SetCompilerPath(dir.string() + "/");
    ReadOptions({"x.tav", "-writelog"});
    EXPECT_TRUE(Settings->WriteLog());
    EXPECT_TRUE(Log->LogFileOpen());
    DeinitTavik();
    EXPECT_EQ(readFile(dir / "log.txt"),
              "\r\n" + std::string(30, '-') + "\r\nLOG STARTED\r\n\r\n" + std::string(30, '-') + "\r\n\r\n");
    InitTavik();
}

TEST_F(DriverState, OutputNameFromSource) {
    struct Case {
        const char* source;
        const char* out;
        const char* bat;
    } cases[] = {
        {"/d/prog.tav", "prog", "/d/prog.build.bat"},
        {"/d/prog", "prog", "/d/prog.build.bat"},
        {"/d/my.app.tav", "my.app", "/d/my.app.build.bat"},
        {"/d.x/prog", "prog", "/d.x/prog.build.bat"},
    };
    for (const Case& c : cases) {
        strInFile = c.source;
        strOutFile.clear();
        DeriveOutputName();
        EXPECT_EQ(strOutFile, c.out) << c.source;
        EXPECT_EQ(BatchFileName(c.source), c.bat) << c.source;
    }
    strInFile = "/d/prog.tav";
    strOutFile = "given";
    DeriveOutputName();
    EXPECT_EQ(strOutFile, "given");
}

TEST_F(DriverState, BatchFileWrittenOnlyWhenAbsent) {
    strInFile = (dir / "prog.tav").string();
    strInRaw = "sub/prog.tav";
    strIncludeRaw.clear();
    strOutRaw.clear();
    WriteBatchFile();
    const fs::path bat = dir / "prog.build.bat";
    // The source's full path, not the name as typed: it runs from any folder.
    EXPECT_EQ(readFile(bat), "\"" + platform::ExecutablePath() + "\" \"" + strInFile + "\"");
    EXPECT_EQ(batFile, nullptr);
    std::ofstream(bat, std::ios::trunc) << "mine";
    WriteBatchFile();
    EXPECT_EQ(readFile(bat), "mine");
    // Written beside it and renamed into place: nothing else is left.
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir)) files += e.path().filename() != "prog.build.bat";
    EXPECT_EQ(files, 0u);
}

// The -i and -out in effect follow the source, as typed; cmd expands % in a
// batch file, even between quotes, so it is doubled.
TEST_F(DriverState, BatchFileRepeatsTheOptions) {
    const std::string exe = "\"" + platform::ExecutablePath() + "\"";
    struct Case {
        std::vector<std::string> args;
        std::string source, line;
    } cases[] = {
        {{"p.tav"}, "/d/p.tav", exe + " \"/d/p.tav\""},
        {{"p.tav", "-nopause", "-writelog"}, "/d/p.tav", exe + " \"/d/p.tav\""},
        {{"p.tav", "-i", "inc", "-out", "bin/x"}, "/d/p.tav", exe + " \"/d/p.tav\" -i \"inc\" -out \"bin/x\""},
        {{"p.tav", "-out", "x", "-i", "../inc dir/"}, "/d/p.tav", exe + " \"/d/p.tav\" -i \"../inc dir/\" -out \"x\""},
        {{"p.tav", "-i", "a", "-i", "b", "-out", "c", "-out", "d"},
         "/d/p.tav",
         exe + " \"/d/p.tav\" -i \"b\" -out \"d\""},
        {{"p.tav", "-i", "a", "-i"}, "/d/p.tav", exe + " \"/d/p.tav\""},
        {{"p.tav", "-out", "100%"}, "/d/50%/p%x%.tav", exe + " \"/d/50%%/p%%x%%.tav\" -out \"100%%\""},
    };
    for (const Case& c : cases) {
        strOutFile.clear();
        strOutRaw.clear();
        strIncludeRaw.clear();
        Settings->SetIncludePath("");
        ReadOptions(c.args);
        strInFile = c.source;
        EXPECT_EQ(BatchFileLine(), c.line) << c.source;
    }
    // And so the file holds it.
    strInFile = (dir / "q.tav").string();
    strOutFile.clear();
    ReadOptions({"q.tav", "-out", "named", "-i", "lib"});
    WriteBatchFile();
    EXPECT_EQ(readFile(dir / "q.build.bat"), exe + " \"" + strInFile + "\" -i \"lib\" -out \"named\"");
}

// The whole run in-process: the exit code, and the global objects freed or
// left alive for the ending process.
class DriverRun : public ::testing::Test {
protected:
    void SetUp() override {
        cwd = fs::current_path();
        dir = tavtest::freshScratchDir("tavik_run");
    }
    void TearDown() override {
        fs::current_path(cwd);
        fs::remove_all(dir);
    }
    int Run(std::vector<std::string> args, std::string& out) {
        std::istringstream in("");
        testing::internal::CaptureStdout();
        int code = TavikMain(args, in);
        out = testing::internal::GetCapturedStdout();
        return code;
    }
    fs::path cwd, dir;
};

TEST_F(DriverRun, UsageEndsWithZero) {
    std::string out;
    EXPECT_EQ(Run({}, out), 0);
    EXPECT_NE(out.find("usage: tavik.exe c:/file.tav\narguments: -out c:/file.exe -nopause -writelog -i "
                       "\"includepath\"\nPress the [enter] key to exit.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(Log, nullptr);
}

TEST_F(DriverRun, FailureWithPauseStillEndsWithOne) {
    std::string out;
    EXPECT_EQ(Run({"nothere.tav", "-x"}, out), 1);
    EXPECT_NE(out.find("[001] Input file does not exist nothere.tav\nPress the [enter] key to exit.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(Compiler, nullptr);
}

// A missing source is found before the options are read; -nopause, first
// or last, still ends the run at once.
TEST_F(DriverRun, MissingSourceWithNoPauseExitsAtOnce) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"nothere.tav", "-nopause"}, std::vector<std::string>{"-nopause", "nothere.tav"}}) {
        std::string out;
        EXPECT_EQ(Run(args, out), 1) << args[0];
        EXPECT_NE(Compiler, nullptr) << args[0];  // left alive for the ending process
        EXPECT_NE(out.find("[001] Input file does not exist " + args[0] + "\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("Press the [enter]"), std::string::npos) << out;
        DeinitTavik();
    }
}

TEST_F(DriverRun, FailureWithoutPauseExitsAtOnce) {
    std::ofstream(dir / "p.tav") << "program pe32_cui \"p\";\n";
    std::string out;
    EXPECT_EQ(Run({(dir / "p.tav").string(), "-nopause"}, out), 1);
    EXPECT_NE(Compiler, nullptr);  // left alive for the ending process
    EXPECT_EQ(out.find("Compile OK"), std::string::npos) << out;
    EXPECT_EQ(out.find("Press the [enter]"), std::string::npos) << out;
    EXPECT_EQ(fs::current_path(), dir);
    EXPECT_FALSE(fs::exists(dir / "p.build.bat"));
    DeinitTavik();
}

}  // namespace
