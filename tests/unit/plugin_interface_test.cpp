#include "plugin_env.h"

#include "classes/const_manager.h"
#include "classes/fixup_manager.h"
#include "classes/import_manager.h"
#include "classes/super_string_list.h"
#include "classes/var_manager.h"
#include "plugins/plugin_interface.h"

namespace {

const TPluginInterface& T = funcTable;

// A failing service prints why (the text) and records the stop instead of
// throwing into the plug-in; the host raises it as the silent abort.
#define EXPECT_STOPS(call, text)                                            \
  do {                                                                      \
    std::string out_ = tavtest::captured([&] { (void)(call); });            \
    EXPECT_TRUE(PluginStopPending()) << #call;                              \
    EXPECT_NE(out_.find(text), std::string::npos) << #call << ": " << out_; \
    EXPECT_THROW(RaisePluginStop(), EAbort);                                \
  } while (0)

std::string CodeOf(const TFunction* f) { return std::string(f->Buffer ? f->Buffer : "", f->BufLen); }

// A build under way: the output buffer exists.
class DuringBuild {
public:
    DuringBuild() { fWriter = new TFileWriter("unused"); }
    ~DuringBuild() {
        delete fWriter;
        fWriter = nullptr;
    }
};

TEST_F(PluginEnv, GettersAnswerNilOutOfRange) {
    PFunction main = function("\x90\xC3");
    PFunction empty = function("");
    Consts->addConst("c", std::string("text"), ctAnsiString);
    PVar v = VarMan->addVar(vmGlobal, "v", VarMan->F_IntType, 1, 0);
    FixMan->addFixup(ftLabel, main, 1u, 0, 4, 0);

    EXPECT_EQ(T.Func_Count(), 2u);
    EXPECT_EQ(T.Code_Count(), 2u);
    EXPECT_EQ(T.Func_Get(0), main);
    EXPECT_EQ(T.Func_Get(2), nullptr);
    EXPECT_EQ(T.Func_Get(0xFFFFFFFFu), nullptr);

    uint32_t len = 77;
    EXPECT_EQ(T.Code_Get(2, &len), nullptr);
    EXPECT_EQ(len, 77u);
    uint8_t* code = T.Code_Get(0, &len);
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(code), len), "\x90\xC3");
    // An empty buffer: length 0 and a pointer at a zero byte.
    code = T.Code_Get(1, &len);
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(*code, 0);
    EXPECT_NE(T.Code_Get(0, nullptr), nullptr);

    EXPECT_EQ(T.Const_Count(), 1u);
    ASSERT_NE(T.Const_Get(0), nullptr);
    EXPECT_EQ(std::string(T.Const_Get(0)->str), "text");
    EXPECT_EQ(T.Const_Get(1), nullptr);

    EXPECT_EQ(T.Var_Count(), 1u);
    EXPECT_EQ(T.Var_Get(0), v);
    EXPECT_EQ(T.Var_Get(1), nullptr);

    EXPECT_EQ(T.Fixup_Count(main), 1u);
    EXPECT_NE(T.Fixup_Get(main, 0), nullptr);
    EXPECT_EQ(T.Fixup_Get(main, 1), nullptr);
    EXPECT_EQ(T.Fixup_Count(empty), 0u);
    EXPECT_EQ(T.Fixup_Get(empty, 0), nullptr);

    EXPECT_EQ(T.get_flags(), &CompileFlags);
}

TEST_F(PluginEnv, ImportLibrariesAndTheirReferences) {
    PFunction a = function(""), b = function("");
    Imports->addImportLib("kernel32.dll");
    Imports->addImportLib("user32.dll");
    Imports->addImportRef(0, a);
    Imports->addImportRef(0, b);

    EXPECT_EQ(T.ilib_count(), 2u);
    EXPECT_STREQ(T.ilib_name(0), "kernel32.dll");
    EXPECT_STREQ(T.ilib_name(1), "user32.dll");
    EXPECT_EQ(T.import_count(0), 2u);
    EXPECT_EQ(T.import_count(1), 0u);
    EXPECT_EQ(T.import_count(2), 0u);
    EXPECT_EQ(T.import_get(0, 0), a);
    EXPECT_EQ(T.import_get(0, 1), b);
    // These two expect valid indices: outside them the list's index error
    // stops the build.
    EXPECT_STOPS(T.import_get(0, 2), "EListError: List index out of bounds (2)");
    EXPECT_STOPS(T.import_get(1, 0), "EListError: List index out of bounds (0)");
    EXPECT_STOPS(T.import_get(2, 0), "EListError: List index out of bounds (2)");
    EXPECT_STOPS(T.ilib_name(2), "EListError: List index out of bounds (2)");
}

TEST_F(PluginEnv, FixupAddPlacesTheFixup) {
    PFunction main = function("");
    PFunction ten = function(std::string(10, '\x90'));
    T.fixup_add(ftLabelAbs, nullptr, 5, 100, 4, 7);
    T.fixup_add(ftJmpShort, ten, 0, 2, 1, 0);

    ASSERT_EQ(T.Fixup_Count(main), 1u);
    PFixup f = T.Fixup_Get(main, 0);
    EXPECT_EQ(f->hint, ftLabelAbs);
    EXPECT_EQ(f->position, 100u);
    EXPECT_EQ(f->parentfunc, nullptr);
    EXPECT_EQ(f->index, 5u);
    EXPECT_EQ(f->size, 4u);
    EXPECT_EQ(f->offset, 7u);
    EXPECT_EQ(f->jmp, jtJMP);
    // A nil function names rtlmain's list.
    EXPECT_EQ(T.Fixup_Get(nullptr, 0), f);

    ASSERT_EQ(T.Fixup_Count(ten), 1u);
    EXPECT_EQ(T.Fixup_Get(ten, 0)->position, 12u);
    EXPECT_EQ(T.Fixup_Get(ten, 0)->parentfunc, ten);
}

// Records handed in must be the host's own: a copy, a freed record or a nil
// function is refused by name before anything is read through it.
TEST_F(PluginEnv, RecordsHandedInAreChecked) {
    PFunction f = function("AB");
    FixMan->addFixup(ftLabel, f, 0u, 0, 4, 0);
    TFunction copy = *f;
    auto* gone = new TFunction{};
    delete gone;  // only its address is used
    const std::string foreign = "function record not made by the assembler";
    EXPECT_STOPS(T.Fixup_Count(&copy), "PlugSys: Fixup_Count: " + foreign);
    EXPECT_STOPS(T.Fixup_Get(&copy, 0), "PlugSys: Fixup_Get: " + foreign);
    EXPECT_STOPS(T.Fixup_Get(gone, 0), "PlugSys: Fixup_Get: " + foreign);
    EXPECT_STOPS(T.func_emit(&copy, "x", 1), "PlugSys: func_emit: " + foreign);
    EXPECT_STOPS(T.func_rem(gone, 1, 1), "PlugSys: func_rem: " + foreign);
    EXPECT_STOPS(T.fixup_add(ftLabel, &copy, 0, 0, 4, 0), "PlugSys: fixup_add: " + foreign);
    EXPECT_STOPS(T.func_emit(nullptr, "x", 1), "PlugSys: func_emit: no function record given");
    EXPECT_STOPS(T.func_rem(nullptr, 1, 1), "PlugSys: func_rem: no function record given");
    EXPECT_STOPS(T.fixup_add(TFixupType(10), f, 0, 0, 4, 0), "PlugSys: fixup_add: unknown fixup kind 10");
    EXPECT_EQ(CodeOf(f), "AB");
    EXPECT_EQ(f->FixupList->items.size(), 1u);
    // Nil stands for rtlmain (the first record, f here) where the table allows it.
    ASSERT_EQ(T.Func_Get(0), f);
    EXPECT_EQ(T.Fixup_Count(nullptr), 1u);
    EXPECT_EQ(T.Fixup_Count(f), 1u);
    EXPECT_EQ(T.Fixup_Get(f, 1), nullptr);
}

TEST_F(PluginEnv, FuncEmitAndRemoveEditTheCode) {
    PFunction f = function("ABCDEF");
    T.func_emit(f, "GH", 2);
    EXPECT_EQ(CodeOf(f), "ABCDEFGH");
    T.func_emit(f, nullptr, 0);
    EXPECT_EQ(f->BufLen, 8u);
    CompileFlags.peek_mode = 1;
    T.func_emit(f, "XY", 2);
    CompileFlags.peek_mode = 0;
    EXPECT_EQ(CodeOf(f), "ABCDEFGH");

    T.func_rem(f, 2, 3);  // BCD
    EXPECT_EQ(CodeOf(f), "AEFGH");
    EXPECT_EQ(tav_strlen(f->Buffer), 5u);
    T.func_rem(f, 5, 1);
    EXPECT_EQ(CodeOf(f), "AEFG");
    // Outside the code nothing changes: a range error instead of damage.
    EXPECT_STOPS(T.func_rem(f, 0, 1), "ERangeError: func_rem: 1 bytes at position 0");
    EXPECT_STOPS(T.func_rem(f, 4, 2), "ERangeError: func_rem: 2 bytes at position 4");
    EXPECT_STOPS(T.func_rem(f, 0xFFFFFFFFu, 2), "ERangeError: func_rem");
    EXPECT_STOPS(T.func_emit(f, nullptr, 3), "ERangeError: func_emit");
    EXPECT_EQ(CodeOf(f), "AEFG");
    T.func_rem(f, 1, 4);
    EXPECT_EQ(f->BufLen, 0u);
    EXPECT_EQ(tav_strlen(f->Buffer), 0u);
}

TEST_F(PluginEnv, OutputServicesOutsideABuild) {
    function("\x90");
    EXPECT_EQ(T.File_Len(), 0u);
    EXPECT_EQ(T.File_AddBytes("ab", 2), 0u);
    EXPECT_EQ(T.File_ReplaceBytes(1, "a", 1), 0u);
    EXPECT_EQ(T.File_WriteCode(0), 0u);
    EXPECT_EQ(T.file_writeresources(0x1000), 0u);
    EXPECT_EQ(T.file_getbuf(), nullptr);
    T.File_Commit();
    T.set_fileext(u"exe");
    EXPECT_EQ(Plugins->F_strExt, "bin");
    EXPECT_STREQ(T.get_filename(), "");
    EXPECT_EQ(fWriter, nullptr);
}

TEST_F(PluginEnv, OutputServicesDuringABuild) {
    function("\x90\xC3");
    PFunction liar = function("\xCC");
    DuringBuild build;
    EXPECT_EQ(T.File_Len(), 0u);
    EXPECT_NE(T.file_getbuf(), nullptr);
    EXPECT_EQ(T.File_AddBytes("ab", 2), 1u);
    EXPECT_EQ(T.File_AddBytes(nullptr, 0), 3u);
    EXPECT_EQ(T.File_WriteCode(0), 3u);
    EXPECT_EQ(T.File_WriteCode(2), 0u);
    EXPECT_EQ(T.File_ReplaceBytes(2, "Z\0", 2), 2u);
    EXPECT_EQ(T.File_Len(), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(T.file_getbuf()), 4), std::string("aZ\0\xC3", 4));
    // Replacing past the end, or a length claiming more code than there is,
    // is refused rather than reading or writing outside the buffers.
    EXPECT_STOPS(T.File_ReplaceBytes(4, "xy", 2), "ERangeError: Output buffer");
    EXPECT_STOPS(T.File_ReplaceBytes(0, "x", 1), "ERangeError: Output buffer");
    liar->BufLen = 5;
    EXPECT_STOPS(T.File_WriteCode(1), "ERangeError: Code of function 1");
    EXPECT_EQ(T.File_Len(), 4u);
    // No resources collected: nothing appended.
    EXPECT_EQ(T.file_writeresources(0x3000), 0u);
    EXPECT_EQ(T.File_Len(), 4u);
    T.set_fileext(u"d\u00fcll");
    EXPECT_EQ(Plugins->F_strExt, "d\xC3\xBCll");
    // The output file as named so far, extension included.
    Plugins->F_strFile = "out/prog";
    EXPECT_STREQ(T.get_filename(), "out/prog.d\xC3\xBCll");
    T.set_fileext(u"dll");
    EXPECT_STREQ(T.get_filename(), "out/prog.dll");
}

TEST_F(PluginEnv, LogMessagesOfAPlugin) {
    EXPECT_EQ(capture([] { T.Log_MessageA("hello", 0); }), "PlugSys: hello\n");
    EXPECT_EQ(capture([] { T.Log_MessageA(nullptr, 0); }), "PlugSys: \n");
    EXPECT_EQ(capture([] { T.Log_MessageW(u"wide \u00e9", 0); }), "PlugSys: wide \xC3\xA9\n");
    EXPECT_EQ(capture([] { T.Log_MessageW(nullptr, 0); }), "PlugSys: \n");
    // A fatal message is printed at once; the stop waits for the host.
    EXPECT_STOPS(T.Log_MessageA("the end", 1), "PlugSys: the end\n");
    EXPECT_STOPS(T.Log_MessageW(u"the end", 2), "PlugSys: the end\n");
    // Once stopped, later services do nothing until the stop is raised.
    EXPECT_EQ(capture([] {
                  T.Log_MessageA("stop", 1);
                  T.Log_MessageA("after", 0);
              }),
              "PlugSys: stop\n");
    EXPECT_EQ(T.RegisterBuilder("late", [](TTriggerEvent, uint32_t) -> TAVBOOL { return 1; }), 0);
    EXPECT_THROW(RaisePluginStop(), EAbort);
    EXPECT_FALSE(PluginStopPending());
    RaisePluginStop();  // nothing left to raise
    // Plug-in messages are not errors.
    EXPECT_EQ(Log->ErrorCount(), 0u);
}

TEST_F(PluginEnv, RegisterBuilderThroughTheTable) {
    auto cb = [](TTriggerEvent, uint32_t) -> TAVBOOL { return 1; };
    EXPECT_EQ(T.RegisterBuilder("pe32_gui", cb), 0);
    EXPECT_EQ(T.RegisterBuilder("Pe32_Gui", cb), -1);
    EXPECT_EQ(T.RegisterBuilder("other", nullptr), -1);
    EXPECT_EQ(T.RegisterBuilder(nullptr, cb), 1);
    EXPECT_EQ(T.RegisterBuilder("", cb), -1);
    EXPECT_EQ(Plugins->builderName(0), "PE32_GUI");
    EXPECT_TRUE(Plugins->selectBuilder("pe32_GUI"));
}

TEST(PluginText, Utf16ToUtf8) {
    struct Case {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"", ""},
        {u"exe", "exe"},
        {u"\u00e9", "\xC3\xA9"},
        {u"\u20ac", "\xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"},  // lone high surrogate
        {std::u16string(1, char16_t(0xDC00)) + u"a",
         "\xEF\xBF\xBD"
         "a"},  // lone low surrogate
    };
    for (const Case& c : cases) EXPECT_EQ(Utf16ToUtf8(c.in.c_str()), c.out);
    EXPECT_EQ(Utf16ToUtf8(nullptr), "");
}

}  // namespace
