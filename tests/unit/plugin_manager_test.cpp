#include "plugin_env.h"

#include "reader/afile.h"
#include "classes/define_manager.h"
#include "compiler.h"
#include "plugins/plugin_interface.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

const std::string kNoEntry = "skipped - plugin does not have entry function \"onEntry\"";

TEST_F(PluginEnv, LoadsEveryDllInNameOrderAndReportsTheRest) {
    std::string folder = pluginFolder({{"e_long.dll", "longname.dll"},
                                       {"a_writer.dll", "writer.dll"},
                                       {"c_text.dll", "notlib.dll"},
                                       {"b_noentry.dll", "noentry.dll"},
                                       {"d_twice.dll", "twice.dll"},
                                       {"F_UPPER.DLL", "inject.dll"},
                                       {"g_other.so", "writer.dll"},
                                       {"readme.txt", "notlib.dll"}});
    fs::create_directory(folder + "h_folder.dll");
    const std::string longName = std::string(250, 'L') + std::string(5, 'X');

    EXPECT_EQ(load(folder), (Lines{
                                "PlugSys: Inject plugin was loaded!",
                                "PlugSys: writer ids: 4 5 6 7",
                                "PlugSys: Test Writer plugin was loaded!",
                                "PlugSys: b_noentry.dll " + kNoEntry,
                                "PlugSys: c_text.dll skipped - not a valid plugin",
                                "PlugSys: twice ids: 8 -1 -1 -1",
                                "PlugSys: Twice plugin was loaded!",
                                "PlugSys: " + longName + " plugin was loaded!",
                                "PlugSys: h_folder.dll skipped - not a valid plugin",
                            }));
    // Skipped files are errors that count, and the run goes on.
    EXPECT_EQ(Log->ErrorCount(), 3u);

    const auto& plugs = Plugins->plugList();
    ASSERT_EQ(plugs.size(), 4u);
    EXPECT_EQ(plugs[0]->F_Name, "Inject");
    EXPECT_EQ(plugs[1]->F_Name, "Test Writer");
    EXPECT_EQ(plugs[2]->F_Name, "Twice");
    EXPECT_EQ(plugs[3]->F_Name.size(), 255u);
    for (const auto& p : plugs) {
        EXPECT_NE(p->F_Handle, nullptr);
        EXPECT_NE(p->DLLEntry, nullptr);
        EXPECT_EQ(p->DLLExit, nullptr);
        EXPECT_TRUE(p->F_FileName.empty());
    }

    // Ids in registration order over all plug-ins, names upper-cased; the
    // second "twice", the taken "test_writer" and a nil callback got -1.
    const Lines names{"INJECT",     "INJECT_EMPTY", "INJECT_BAD",  "INJECT_LATE", "TEST_WRITER",
                      "TEST_NOEXT", "TEST_FALSE",   "TEST_COMMIT", "TWICE"};
    ASSERT_EQ(Plugins->builderCount(), names.size());
    for (uint32_t i = 0; i < names.size(); ++i) EXPECT_EQ(Plugins->builderName(i), names[i]);
}

TEST_F(PluginEnv, FirstRegistrationOfANameWins) {
    load(pluginFolder({{"a_twice.dll", "twice.dll"}, {"b_writer.dll", "writer.dll"}}));
    ASSERT_EQ(Plugins->builderCount(), 5u);
    EXPECT_EQ(Plugins->builderName(1), "TEST_WRITER");
    // Written in small letters, the header still finds the twice plug-in's builder.
    ASSERT_TRUE(Plugins->selectBuilder("test_writer"));
    EXPECT_EQ(Plugins->curBuilderID(), 1);
    bool ok = false;
    EXPECT_EQ(capture([&] { ok = Plugins->builderStartTrigger(); }), "PlugSys: twice builder: event 0 id 1\n");
    EXPECT_TRUE(ok);
}

TEST_F(PluginEnv, EmptyOrMissingFolderLoadsNothing) {
    EXPECT_TRUE(load(pluginFolder({})).empty());
    EXPECT_TRUE(load((dir / "missing").string() + "/").empty());
    EXPECT_EQ(Plugins->builderCount(), 0u);
    EXPECT_EQ(Log->ErrorCount(), 0u);
    EXPECT_FALSE(Plugins->selectBuilder("pe32_gui"));
    EXPECT_FALSE(Plugins->builderStartTrigger());
    EXPECT_FALSE(Plugins->callBuilder((dir / "out").string()));
    EXPECT_EQ(Plugins->F_strExt, "bin");
    EXPECT_TRUE(outputs().empty());
}

TEST_F(PluginEnv, UnknownNameKeepsTheSelection) {
    load(pluginFolder({{"writer.dll", "writer.dll"}}));
    ASSERT_TRUE(Plugins->selectBuilder("TEST_false"));
    EXPECT_FALSE(Plugins->selectBuilder("nope"));
    EXPECT_FALSE(Plugins->selectBuilder(""));
    EXPECT_EQ(Plugins->curBuilderID(), 2);
}

TEST_F(PluginEnv, OutputServicesAreIdleAtTheStartEvent) {
    load(pluginFolder({{"writer.dll", "writer.dll"}}));
    function("\x90\xC3");
    ASSERT_TRUE(Plugins->selectBuilder("test_writer"));
    EXPECT_EQ(capture([] { Plugins->builderStartTrigger(); }),
              "PlugSys: start: len 0 add 0 code 0 res 0 replace 0 buf nil\n");
    EXPECT_EQ(Plugins->F_strExt, "bin");
    EXPECT_EQ(fWriter, nullptr);
}

// The image the writer plug-in builds from the functions below.
const std::string kImage = std::string("TW\x03\xEE", 4) + "\x90\xC3" + std::string("\xB8\x01\x00\x00\x00", 5) +
                           std::string("\x0B\x00\x00\x00", 4);

TEST_F(PluginEnv, BuildWritesTheBufferUnderTheBuildersExtension) {
    load(pluginFolder({{"writer.dll", "writer.dll"}, {"exts.dll", "exts.dll"}}));
    struct Case {
        const char* builder;
        bool answer;
        const char* file;  // the one file the build leaves
        std::string bytes;
    } cases[] = {
        {"test_writer", true, "out.out", kImage},
        {"test_noext", true, "out.bin", kImage},
        // An empty or nil extension: no dot.
        {"test_emptyext", true, "out", "EX"},
        {"test_nullext", true, "out", "EX"},
        // A false answer leaves no file; the driver reports the failure.
        {"test_false", false, nullptr, ""},
        // A plug-in's own commit writes nothing: the host writes the whole
        // buffer once, under the full name.
        {"test_commit", true, "out.bin", "ABC"},
    };
    function("\x90\xC3");
    function(std::string("\xB8\x01\x00\x00\x00", 5));
    function("");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.builder);
        ASSERT_TRUE(Plugins->selectBuilder(c.builder));
        bool answer = !c.answer;
        std::string out = capture([&] { answer = Plugins->callBuilder((dir / "out").string()); });
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(outputs(), c.file ? Lines{c.file} : Lines{});
        if (c.file) {
            EXPECT_EQ(readFile(dir / c.file), c.bytes);
        }
        EXPECT_EQ(fWriter, nullptr);
        EXPECT_EQ(Plugins->F_strFile, (dir / "out").string());
        if (c.bytes == kImage) {
            EXPECT_EQ(out, "PlugSys: complete: first 1 replace 3 len 15 buf TW\n");
        }
        if (c.file) fs::remove(dir / c.file);
    }
}

TEST(PluginOutputName, ExtensionAddedOnce) {
    struct Case {
        const char *file, *ext, *name;
    } cases[] = {
        {"prog", "exe", "prog.exe"},
        {"prog.exe", "exe", "prog.exe"},
        {"prog.EXE", "exe", "prog.EXE"},
        {"prog.exe", "img", "prog.exe.img"},
        {"prog", "", "prog"},
        {"exe", "exe", "exe.exe"},
        {".exe", "exe", ".exe.exe"},
        {"d/p.x.exe", "exe", "d/p.x.exe"},
        {"progexe", "exe", "progexe.exe"},
    };
    for (const Case& c : cases) EXPECT_EQ(TPluginManager::outputName(c.file, c.ext), c.name) << c.file << " " << c.ext;
}

TEST_F(PluginEnv, FatalMessageDuringTheBuildLeavesNoFile) {
    load(pluginFolder({{"fatal.dll", "fatal.dll"}}));
    struct Case {
        const char* builder;
        const char* message;
    } cases[] = {
        {"fatal_build", "PlugSys: fatal plug-in, builder 1\n"},
        // Part of the image was on disk already; it goes again.
        {"fatal_committed", "PlugSys: fatal plug-in, builder 2\n"},
        {"fatal_wide", "PlugSys: stopped in the build \u00e9\u20ac\U0001F600\n"},
        // A foreign exception ends the build the same way, not the process.
        {"throws_int", "PlugSys: builder THROWS_INT raised an exception the assembler does not know\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.builder);
        ASSERT_TRUE(Plugins->selectBuilder(c.builder));
        bool aborted = false;
        std::string out = capture([&] { Plugins->callBuilder((dir / "out").string()); }, &aborted);
        EXPECT_TRUE(aborted);
        EXPECT_EQ(out, c.message);
        EXPECT_TRUE(outputs().empty());
        EXPECT_EQ(fWriter, nullptr);
    }
}

TEST_F(PluginEnv, FatalMessageAtTheStartEventUnwindsToTheCaller) {
    load(pluginFolder({{"fatal.dll", "fatal.dll"}}));
    ASSERT_TRUE(Plugins->selectBuilder("FATAL_START"));
    bool aborted = false;
    EXPECT_EQ(capture([] { Plugins->builderStartTrigger(); }, &aborted), "PlugSys: stopped at the start\n");
    EXPECT_TRUE(aborted);
    // The other builders of the plug-in do nothing at the start.
    ASSERT_TRUE(Plugins->selectBuilder("fatal_build"));
    EXPECT_EQ(capture([] { EXPECT_TRUE(Plugins->builderStartTrigger()); }), "");
}

TEST_F(PluginEnv, FileThatCannotBeCreatedPropagatesAndFreesTheWriter) {
    load(pluginFolder({{"writer.dll", "writer.dll"}}));
    ASSERT_TRUE(Plugins->selectBuilder("test_writer"));
    function("\x90");
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(Plugins->callBuilder((dir / "no" / "such" / "out").string()), EFCreateError);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(fWriter, nullptr);
    EXPECT_TRUE(outputs().empty());
}

// At the start event the text becomes a source whose parent is the file
// the compiler is in; the statement loop compiles it, then that parent.
TEST_F(PluginEnv, InjectedTextCompilesBeforeItsParent) {
    load(pluginFolder({{"inject.dll", "inject.dll"}}));
    struct Case {
        const char* builder;
        const char* text;
    } cases[] = {{"inject_empty", ""}, {"inject", "#define INJECTED; #set bits 32;"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.builder);
        CompileFlags.cpu_bits = 0;
        Compiler->F_CurFunc = function("");
        TAFile* include = TAFile::Create();
        include->loadBuffer("tavik.tav", "#set frame 0;", nullptr);
        Compiler->F_CurFile = include;
        CompileFlags.stackframe_on = 1;
        ASSERT_TRUE(Plugins->selectBuilder(c.builder));
        std::string out = capture([] { EXPECT_TRUE(Plugins->builderStartTrigger()); });
        EXPECT_EQ(out, "PlugSys: func_execute answered 1\n");
        TAFile* buffer = Compiler->F_ListFiles.back();
        EXPECT_EQ(buffer->F_FileName, PluginBufferName);
        EXPECT_EQ(buffer->F_Buffer, c.text);
        EXPECT_EQ(buffer->F_Parent, include);
        // The parent ran to its end inside the same call.
        EXPECT_EQ(CompileFlags.stackframe_on, 0);
        const bool injected = *c.text != 0;
        EXPECT_EQ(DefMan->getDefine("injected") != nullptr, injected);
        EXPECT_EQ(CompileFlags.cpu_bits, injected ? 32 : 0);
    }
    CompileFlags.cpu_bits = 0;
    CompileFlags.stackframe_on = 1;
}

TEST_F(PluginEnv, ErrorInInjectedTextNamesThePluginBuffer) {
    load(pluginFolder({{"inject.dll", "inject.dll"}}));
    Compiler->F_CurFunc = function("");
    TAFile* include = TAFile::Create();
    include->loadBuffer("tavik.tav", "", nullptr);
    Compiler->F_CurFile = include;
    ASSERT_TRUE(Plugins->selectBuilder("inject_bad"));
    bool aborted = false;
    std::string out = capture([] { Plugins->builderStartTrigger(); }, &aborted);
    EXPECT_TRUE(aborted);
    EXPECT_NE(out.find("[2,"), std::string::npos) << out;
    EXPECT_NE(out.find(" in [plugin buffer]"), std::string::npos) << out;
    EXPECT_EQ(out.find("func_execute answered"), std::string::npos) << out;
}

TEST_F(PluginEnv, SourceTextOutsideACompilationIsRefused) {
    TAVBOOL answer = 1;
    std::string out = capture([&] { answer = funcTable.func_execute("nop;", 4); });
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(out, "PlugSys: source text handed in outside a compilation\n");
    EXPECT_THROW(RaisePluginStop(), EAbort);
}

}  // namespace
