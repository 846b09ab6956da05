#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "scratch.h"
#include "driver/settings.h"

namespace fs = std::filesystem;

namespace {

using tavtest::readFile;

// A stand-in for an open source file: what the reader would report.
struct FakeSource {
    std::string name;
    std::string text;
    uint32_t line = 1, column = 1, charPos = 1;
};

FakeSource* g_Current = nullptr;
std::string g_Token;

const TAFile* AsFile(FakeSource* s) { return reinterpret_cast<const TAFile*>(s); }

bool Describe(const TAFile* f, TLogSource& out) {
    auto* s = reinterpret_cast<const FakeSource*>(f);
    out.fileName = s->name;
    out.data = s->text.data();
    out.size = s->text.size();
    out.line = s->line;
    out.column = s->column;
    out.charPos = s->charPos;
    return true;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = tavtest::freshScratchDir("tavik_log");
        Settings = new TSettings();
        Settings->SetCompilerPath(dir.string() + "/");
        Log = new TLog();
        LogHooks.currentFile = [] { return g_Current ? AsFile(g_Current) : nullptr; };
        LogHooks.describe = Describe;
        LogHooks.currentTokenText = [] { return g_Token; };
        g_Current = nullptr;
        g_Token.clear();
    }
    void TearDown() override {
        delete Log;
        Log = nullptr;
        delete Settings;
        Settings = nullptr;
        LogHooks = TLogHooks{};
        g_Current = nullptr;
        fs::remove_all(dir);
    }
    // Runs f, which must raise the silent abort; returns what it printed.
    template <class F>
    std::string Fatal(F f) {
        testing::internal::CaptureStdout();
        bool aborted = false;
        try {
            f();
        } catch (const EAbort&) {
            aborted = true;
        }
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(aborted);
        return out;
    }
    template <class F>
    std::string Printed(F f) {
        testing::internal::CaptureStdout();
        f();
        return testing::internal::GetCapturedStdout();
    }
    fs::path dir;
};

TEST_F(LogTest, WarningAndErrorWithoutSource) {
    EXPECT_EQ(Printed([] { Log->Warning("w1"); }), "Warning: w1\n");
    EXPECT_EQ(Printed([] { Log->Error("e1"); }), "e1\n");
    EXPECT_EQ(Printed([] { Log->Error("e2"); }), "e2\n");
    EXPECT_EQ(Log->WarningCount(), 1u);
    EXPECT_EQ(Log->ErrorCount(), 2u);
}

TEST_F(LogTest, WarningAndErrorArePositioned) {
    FakeSource src{"/some/dir/prog.tav", "mov eax, 1\n", 3, 5, 4};
    g_Current = &src;
    EXPECT_EQ(Printed([] { Log->Warning("odd"); }), "[3,5]: Warning: odd in [prog.tav]\n");
    EXPECT_EQ(Printed([] { Log->Error("bad"); }), "[3,5]: Error: bad in [prog.tav]\n");
}

TEST_F(LogTest, FatalWithoutSourceIsTextAloneAndNotCounted) {
    EXPECT_EQ(Fatal([] { Log->FatalError("[001] Input file does not exist x.tav", true); }),
              "[001] Input file does not exist x.tav\n");
    EXPECT_EQ(Log->ErrorCount(), 0u);
}

// The excerpt is the offending line exactly, whatever the line ends are.
TEST_F(LogTest, CodeExcerptIsTheOffendingLine) {
    struct Case {
        const char* what;
        std::string text;
        uint32_t charPos;
        std::string excerpt;
    } cases[] = {
        {"first line, no break before", "mov eax, 1\nmov ebx, 2\n", 5, "mov eax, 1"},
        {"LF file, middle line", "a\n  mov ebx, 2  \nc\n", 6, "mov ebx, 2"},
        {"CRLF file, middle line", "a\r\n\tmov ebx, 2\r\nc\r\n", 7, "mov ebx, 2"},
        {"CR-only file", "a\rmov ebx, 2\rc", 4, "mov ebx, 2"},
        {"line ends in a comment", "x\nmov eax, 1 // load\ny // other\n", 4, "mov eax, 1 // load"},
        {"last line without a break", "a\nret", 4, "ret"},
        {"cursor on the LF of its line", "a\nmov ecx, 3\nb", 13, "mov ecx, 3"},
        {"cursor on the LF of a CRLF", "a\r\nmov ecx, 3\r\nb", 15, "mov ecx, 3"},
        {"cursor past the end", "a\nlast", 99, "last"},
        {"empty line", "a\n\nb", 3, ""},
        {"empty file", "", 1, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TLog::LineExcerpt(c.text.data(), c.text.size(), c.charPos), c.excerpt) << c.what;
    }
}

TEST_F(LogTest, FatalShowsPositionAndCode) {
    FakeSource src{"dir/p.tav", "program x \"y\";\r\n  foo bar;\r\nret\r\n", 2, 3, 19};
    g_Current = &src;
    EXPECT_EQ(Fatal([] { Log->FatalError("[0001] Expected identifier", true); }),
              "[2,3]: [0001] Expected identifier in [p.tav]\nCode: \nfoo bar;\n");
    EXPECT_EQ(Fatal([] { Log->FatalError("no code", false); }), "[2,3]: no code in [p.tav]\n");
}

TEST_F(LogTest, FatalTakesGivenPositionAndFile) {
    FakeSource cur{"cur.tav", "one\ntwo\n", 2, 1, 5};
    FakeSource other{"inc/other.tav", "alpha\nbeta\ngamma\n", 9, 9, 1};
    g_Current = &cur;
    // A saved position in the current file.
    EXPECT_EQ(Fatal([] { Log->FatalError("early", true, 2, 1, 2); }), "[1,2]: early in [cur.tav]\nCode: \none\n");
    // Another file with its own position.
    EXPECT_EQ(Fatal([&] { Log->FatalError("label", true, 8, 2, 3, AsFile(&other)); }),
              "[2,3]: label in [other.tav]\nCode: \nbeta\n");
}

TEST_F(LogTest, TokenReporters) {
    FakeSource src{"t.tav", "mov eax, +\n", 1, 10, 10};
    g_Current = &src;
    g_Token = "symbol \"+\"";
    const std::string tail = " in [t.tav]\nCode: \nmov eax, +\n";
    EXPECT_EQ(Fatal([] { Log->FatalUnexpectedToken("9900"); }), "[1,10]: [9900] Unexpected symbol \"+\"" + tail);
    EXPECT_EQ(Fatal([] { Log->FatalUnexpectedToken(""); }), "[1,10]: Unexpected symbol \"+\"" + tail);
    EXPECT_EQ(Fatal([] { Log->FatalReservedToken("12"); }), "[1,10]: [12] Reserved symbol \"+\"" + tail);
    EXPECT_EQ(Fatal([] { Log->FatalReservedToken(""); }), "[1,10]: Reserved symbol \"+\"" + tail);
    g_Token = "foo";
    EXPECT_EQ(Fatal([] { Log->FatalRedeclared(); }), "[1,10]: foo redeclared" + tail);
}

TEST_F(LogTest, LogFileSectionsAcrossTwoRuns) {
    for (int run = 0; run < 2; ++run) {
        delete Log;
        Settings->SetWriteLog(false);
        Log = new TLog();
        Printed([] {
            Log->Message("before");
            Settings->SetWriteLog(true);
            Log->Message("line " + std::string(1, 'A'), 10);
            Log->Warning("w");
            try {
                Log->FatalError("multi", true);
            } catch (const EAbort&) {}
        });
        delete Log;
        Log = nullptr;
    }
    const std::string dashes(30, '-');
    const std::string section =
        "\r\n" + dashes + "\r\nLOG STARTED\r\nline A\r\nWarning: w\r\nmulti\r\n\r\n" + dashes + "\r\n\r\n";
    EXPECT_EQ(readFile(dir / "log.txt"), section + section);
}

TEST_F(LogTest, MultiLineFatalHasCrLfInLogFile) {
    FakeSource src{"p.tav", "a\nbad line\n", 2, 1, 3};
    g_Current = &src;
    Printed([] { Settings->SetWriteLog(true); });
    Fatal([] { Log->FatalError("oops", true); });
    delete Log;
    Log = nullptr;
    std::string log = readFile(dir / "log.txt");
    EXPECT_NE(log.find("[2,1]: oops in [p.tav]\r\nCode: \r\nbad line\r\n"), std::string::npos) << log;
}

TEST_F(LogTest, UnopenableLogFileIsReportedOnce) {
    Settings->SetCompilerPath((dir / "missing" / "").string());
    std::string out = Printed([] {
        Settings->SetWriteLog(true);
        Log->Message("after");
        Settings->SetWriteLog(true);  // a second attempt fails silently
        Log->Message("again");
    });
    EXPECT_EQ(out.find("Log file error"), 0u) << out;
    EXPECT_EQ(out.find("Log file error", 1), std::string::npos) << out;
    EXPECT_NE(out.find("after\nagain\n"), std::string::npos) << out;
    EXPECT_FALSE(Log->LogFileOpen());
    delete Log;  // closing must not fail either
    Log = nullptr;
}

// A log file that opens but cannot take the bytes (a full disk): one report,
// then the messages go on to the console and closing does not fail.
TEST_F(LogTest, UnwritableLogFileIsReportedOnce) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    fs::create_symlink("/dev/full", dir / "log.txt");
    const std::string line(200, 'x');
    std::string out = Printed([&] {
        Settings->SetWriteLog(true);
        for (int i = 0; i < 200; ++i) Log->Message(line);
        Log->Message("still here");
        Log->Flush();
        delete Log;
        Log = nullptr;
    });
    const size_t first = out.find("Log file error");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(out.find("Log file error", first + 1), std::string::npos) << out.substr(first);
    EXPECT_NE(out.find("still here\n"), std::string::npos);
}

TEST_F(LogTest, MakeLogFileTwiceStartsANewSection) {
    Printed([] {
        Settings->SetWriteLog(true);
        Log->Message("one");
        Log->MakeLogFile();
        Log->Message("two");
    });
    delete Log;
    Log = nullptr;
    const std::string head = "\r\n" + std::string(30, '-') + "\r\nLOG STARTED\r\n";
    EXPECT_EQ(readFile(dir / "log.txt"), head + "one\r\n" + head + "two\r\n\r\n" + std::string(30, '-') + "\r\n\r\n");
}

}  // namespace
