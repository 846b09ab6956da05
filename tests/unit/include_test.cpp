// #include, #tryinclude and #resource compiled from source text: the search
// order, the include-once rule, cycles and deep nesting, and compiled
// resource files read into the resource collector.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "reader/afile.h"
#include "classes/define_manager.h"
#include "classes/ident_manager.h"
#include "classes/resource_manager.h"
#include "directive_env.h"
#include "driver/settings.h"

namespace {

using dirtest::DirectiveEnv;
using dirtest::Outcome;
namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(TAVIK_TEST_DIR) / "fixtures" / "res";

std::string fixture(const std::string& name) {
    std::ifstream in(kFixtures / name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string le16(uint32_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// One entry of a compiled resource file: header, data, padding to 4.
std::string resEntry(uint32_t type, uint32_t id, uint32_t lang, const std::string& data, uint32_t typeMarker = 0xFFFF,
                     uint32_t nameMarker = 0xFFFF) {
    std::string e = le32(uint32_t(data.size())) + le32(32) + le16(typeMarker) + le16(type) + le16(nameMarker) +
                    le16(id) + le32(0) + le16(0x1030) + le16(lang) + le32(0) + le32(0) + data;
    while (e.size() % 4) e += '\0';
    return e;
}
const std::string kLeading = resEntry(0, 0, 0, "");

// An entry whose name is the text `name` (UTF-16 units), of numeric type;
// headerSize 0 gives the true size.
std::string resNamed(uint32_t type, const std::u16string& name, uint32_t lang, const std::string& data,
                     uint32_t headerSize = 0) {
    std::string key;
    for (char16_t u : name) key += le16(u);
    key += le16(0);
    std::string head = le16(0xFFFF) + le16(type) + key;
    while (head.size() % 4) head += '\0';
    head += le32(0) + le16(0x1030) + le16(lang) + le32(0) + le32(0);
    std::string e =
        le32(uint32_t(data.size())) + le32(headerSize ? headerSize : uint32_t(head.size() + 8)) + head + data;
    while (e.size() % 4) e += '\0';
    return e;
}

// (type, id, language, data) of every collected resource, by type, then order.
using Res = std::tuple<int32_t, int32_t, int32_t, std::string>;
std::vector<Res> collected() {
    std::vector<Res> v;
    for (int32_t t = 0; t < TResourceManager::MaxTypes; ++t)
        for (int32_t k = 0; k < ResMan->cnt[t]; ++k) {
            const PResource r = ResMan->res[t][k];
            v.emplace_back(r->rtType, r->id, r->langID, ResMan->dataStr.substr(r->dataAddr, r->dataSize));
        }
    return v;
}

class IncludeTest : public DirectiveEnv {
protected:
    std::string code(const std::string& lines) {
        const Outcome r = run(lines);
        EXPECT_TRUE(r.ok()) << r.out << r.exClass << ": " << r.exMessage;
        return mainCode();
    }
};

// ---- #include and #tryinclude ----

TEST_F(IncludeTest, IncludedTextCompilesInPlace) {
    write("a.tav", "cld;");
    write("b.tav", "std;\n");
    write("c.tav", "int3; // no line feed at the end");
    EXPECT_EQ(code("nop;\n#include \"a.tav\"\nclc;\n#tryinclude 'b.tav';\n#include \"c.tav\" stc;\n"),
              "90 fc f8 fd cc f9 c3");
    EXPECT_EQ(fileCounter, 5u);  // the project, the standard include and three
    EXPECT_EQ(Log->WarningCount(), 0u);
    EXPECT_EQ(DefMan->getDefine("a.tav"), nullptr);  // the include record is no define
    EXPECT_EQ(Compiler->F_CurFile->F_FileName, (dir / "project.tav").string());
}

// A defined name stands for its string.
TEST_F(IncludeTest, NameFromADefine) {
    write("lib.tav", "cld;");
    EXPECT_EQ(code("#define LIB \"Lib.tav\";\n#include LIB\nnop;\n"), "fc 90 c3");
    EXPECT_EQ(DefMan->getDefine("lib.tav"), nullptr);
}

TEST_F(IncludeTest, NestedIncludesReturnToTheirParents) {
    write("a.tav", "cld;\n#include \"b.tav\"\nstd;\n");
    write("b.tav", "#include \"c.tav\"\nclc;\n");
    write("c.tav", "");
    EXPECT_EQ(code("nop;\n#include \"a.tav\"\nnop;\n"), "90 fc f8 fd 90 c3");
}

// An error deep inside names its own file and line.
TEST_F(IncludeTest, ErrorInANestedIncludeNamesItsFile) {
    write("a.tav", "cld;\n#include \"b.tav\"\n");
    write("b.tav", "\n  bogus 1;\n");
    const std::string out = failure("#include \"a.tav\"\n");
    EXPECT_NE(out.find("[2,8]: [9000] Unexpected ident bogus in [b.tav]"), std::string::npos) << out;
}

TEST_F(IncludeTest, EachNameIsIncludedOnce) {
    write("a.tav", "cld;");
    const Outcome r = run("#include \"a.tav\"\n#include \"A.TAV\"\n#tryinclude 'a.tav'\nnop;\n");
    EXPECT_TRUE(r.ok()) << r.out;
    EXPECT_EQ(r.out, "");  // the repeats do nothing and print nothing
    EXPECT_EQ(mainCode(), "fc 90 c3");
}

// The name is lower-cased before the search too.
TEST_F(IncludeTest, NameIsLowerCasedForTheSearch) {
    write("upper.tav", "std;");
    EXPECT_EQ(code("#include \"UPPER.Tav\"\n"), "fd c3");
}

// Files and folders are found whatever the case of their names, as
// Windows finds them; the name as written is tried first.
TEST_F(IncludeTest, FilesAndFoldersFoundWhateverTheirCase) {
    write("Lib/MyLib.tav", "cld;");
    write("includes/Std/Extra.TAV", "std;");
    write("Both.tav", "clc;");
    write("both.tav", "stc;");
    EXPECT_EQ(code("#include \"lib/mylib.tav\"\n#include \"std/extra.tav\"\n#include \"BOTH.TAV\"\n"), "fc fd f9 c3");
}

TEST_F(IncludeTest, FileTakenForAFolderIsNotFound) {
    write("Lib/MyLib.tav", "cld;");
    EXPECT_NE(failure("#include \"lib/mylib.tav/x\"\n").find("[1448]"), std::string::npos);
}

// A name without a dot is no define: the same word later in the source is
// still an ordinary word, not the end of the file.
TEST_F(IncludeTest, RecordedNameIsNoWordOfTheSource) {
    write("nop", "cld;");
    EXPECT_EQ(code("#include \"nop\"\nclc;\nnop; stc;\nNOP;\nstd;\n#include \"nop\"\n"), "fc f8 90 f9 90 fd c3");
    EXPECT_EQ(DefMan->getDefine("nop"), nullptr);
    EXPECT_EQ(Idents->findIdent("nop"), nullptr);
}

// The project's folder before the includes beside the program.
TEST_F(IncludeTest, SearchOrderProjectFolderFirst) {
    write("includes/x.tav", "cld;");
    write("x.tav", "std;");
    EXPECT_EQ(code("#include \"x.tav\"\n"), "fd c3");
}

// The includes beside the program before the -i folder.
TEST_F(IncludeTest, SearchOrderIncludesBeforeTheIncludeFolder) {
    write("includes/y.tav", "cld;");
    write("inc/y.tav", "std;");
    write("inc/z.tav", "clc;");
    Settings->SetIncludePath((dir / "inc").string() + "/");
    EXPECT_EQ(code("#include \"y.tav\"\n#include \"z.tav\"\n"), "fc f8 c3");
}

// Folders in a name, written with either separator.
TEST_F(IncludeTest, FoldersInANameWithEitherSeparator) {
    write("sub/deep/w.tav", "stc;");
    write("sub/v.tav", "cmc;");
    // A backslash is written twice in a literal.
    EXPECT_EQ(code("#include \"sub\\\\deep\\\\w.tav\"\n#include 'sub/v.tav'\n"), "f9 f5 c3");
}

TEST_F(IncludeTest, TryincludeOfAMissingFile) {
    // tryinclude warns at each directive and records nothing: a missing
    // file stays missing for a later include.
    Outcome r = run("nop;\n  #tryinclude \"gone.tav\";\n#tryinclude \"gone.tav\"\nnop;\n");
    EXPECT_TRUE(r.ok()) << r.out;
    EXPECT_EQ(r.out,
              "[3,25]: Warning: [0010] Include file not found \"gone.tav\" in [project.tav]\n"
              "[4,23]: Warning: [0010] Include file not found \"gone.tav\" in [project.tav]\n");
    EXPECT_EQ(Log->WarningCount(), 2u);
    EXPECT_EQ(mainCode(), "90 90 c3");
}

namespace missing_files_rows {
struct Case {
    const char* lines;
    bool includeFolder;
    const char* message;
};
const Case cases[] = {
    {"nop;\n#include \"gone.tav\"\n", false, "[3,20]: [1448] Included file not found \"gone.tav\" in [project.tav]"},
    {"nop;\n#include \"gone.tav\"\n", true, "[3,20]: [1447] Included file not found \"gone.tav\" in [project.tav]"},
    {"#tryinclude \"gone.tav\"\n#include \"gone.tav\"\n", false, "[1448] Included file not found \"gone.tav\""},
    // A define of the name is no record of an include.
    {"#define gone;\n#include \"gone\"\n", false, "[1448] Included file not found \"gone\""},
    // A folder of that name is no file.
    {"#include \"folder.tav\"\n", false, "[1448] Included file not found \"folder.tav\""},
    {"#include gone.tav\n", false, "[7767] Unexpected ident gone"},
    {"#include 5\n", false, "[7767] Unexpected number 5"},
    {"#include;\n", false, "[7767] Unexpected symbol ;"},
    {"#tryinclude\n", false, "[7767] Unexpected "},
};
}  // namespace missing_files_rows

TAVIK_TABLE(IncludeTest, MissingFiles, missing_files_rows, lines);

TEST_P(MissingFiles, Refused) {
    const missing_files_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    fs::create_directories(dir / "folder.tav");
    if (c.includeFolder) Settings->SetIncludePath((dir / "inc").string() + "/");
    const std::string out = failure(c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(out.find("Compile OK"), std::string::npos);
}

// Cycles end by the include-once rule; nothing recurses, so a long chain of
// nested files compiles as well.
TEST_F(IncludeTest, FileIncludingItself) {
    write("self.tav", "cld;\n#include \"self.tav\"\nstd;\n");
    EXPECT_EQ(code("#include \"self.tav\"\n"), "fc fd c3");
}

TEST_F(IncludeTest, TwoFilesIncludingEachOther) {
    write("a.tav", "#include \"b.tav\"\ncld;\n");
    write("b.tav", "#include \"a.tav\"\nstd;\n");
    EXPECT_EQ(code("#include \"a.tav\"\nnop;\n"), "fd fc 90 c3");
}

// Another spelling of the same file is the same file.
TEST_F(IncludeTest, AnotherSpellingIsTheSameFile) {
    write("dot.tav", "#include \"./dot.tav\"\nnop;\n");
    write("sub/x.tav", "#include \"../dot.tav\"\nstd;\n");
    EXPECT_EQ(code("#include \"dot.tav\"\n#include \"sub/x.tav\"\n#include \"sub/../dot.tav\"\n"), "90 fd c3");
}

// A project that includes itself meets its own header again.
TEST_F(IncludeTest, ProjectIncludingItself) {
    const std::string out = failure("#include \"project.tav\"\n");
    EXPECT_NE(out.find("[1,7]: [10000] Unexpected reserved keyword program in [project.tav]"), std::string::npos)
        << out;
}

TEST_F(IncludeTest, LongChainOfNestedFiles) {
    const int depth = 3000;
    for (int i = 0; i < depth; ++i)
        write("chain/f" + std::to_string(i) + ".tav",
              i + 1 < depth ? "#include \"chain/f" + std::to_string(i + 1) + ".tav\"\nnop;\n" : "int3;\n");
    std::string expected = "cc";
    for (int i = 1; i < depth; ++i) expected += " 90";
    EXPECT_EQ(code("#include \"chain/f0.tav\"\n"), expected + " c3");
    EXPECT_EQ(fileCounter, uint32_t(depth) + 2u);
}

// Each file opening a section around the next nests statement loops:
// too deep ends in a positioned error in the file where it happened.
TEST_F(IncludeTest, SectionsNestedThroughFilesHaveALimit) {
    for (int i = 0; i < 400; ++i)
        write("sect/s" + std::to_string(i) + ".tav",
              "#if 1: #include \"sect/s" + std::to_string(i + 1) + ".tav\" #end\n");
    const std::string deep = failure("#include \"sect/s0.tav\"\n");
    EXPECT_NE(deep.find("[7655] Sections nested too deeply in [s19"), std::string::npos) << deep;
}

TEST_F(IncludeTest, IncludeInsideSections) {
    write("a.tav", "cld;");
    write("b.tav", "std;");
    EXPECT_EQ(code("#if 1 == 1: #include \"a.tav\" #else #include \"b.tav\" #end\n"
                   "#repeat 3: #include \"b.tav\" nop; #end\n"),
              "fc fd 90 90 90 c3");
}

// A file is taken once in the whole compilation, inside a body or not.
TEST_F(IncludeTest, IncludeInsideABody) {
    write("a.tav", "cld;");
    EXPECT_EQ(code("procedure p() { #include \"a.tav\" #include \"a.tav\" }\n#include \"a.tav\"\n"
                   "procedure q() { #include \"a.tav\" }\nentry p;\n"),
              "c3");
    auto body = [](const char* name) {
        const PIdent id = Idents->findIdent(name);
        if (!id) return std::string("none");
        const auto* f = static_cast<PFunction>(id->ptr);
        return std::string(f->Buffer ? f->Buffer : "", f->BufLen);
    };
    const std::string p = body("p");
    EXPECT_EQ(std::count(p.begin(), p.end(), '\xFC'), 1);  // once in p
    EXPECT_EQ(body("q").find('\xFC'), std::string::npos);
}

// ---- #resource ----

class ResourceTest : public IncludeTest {
protected:
    void copyFixture(const std::string& name) { write(name, fixture(name)); }
};

namespace compiled_resource_files_rows {
struct Case {
    const char* file;
    std::vector<Res> resources;
};
const Case cases[] = {
    {"one.res", {{10, 1, 0x409, "hello"}}},
    {"unsorted.res", {{10, 1, 0x409, "one"}, {10, 2, 0x409, "two"}, {10, 3, 0x409, "three"}, {10, 5, 0x409, "five"}}},
    {"langs.res", {{10, 7, 0x407, "deutsch"}, {10, 7, 0x409, "english"}, {10, 8, 0x409, "eight"}}},
    {"empty.res", {}},
};
}  // namespace compiled_resource_files_rows

TAVIK_TABLE(ResourceTest, CompiledResourceFiles, compiled_resource_files_rows, file);

TEST_P(CompiledResourceFiles, Collected) {
    const compiled_resource_files_rows::Case& c = GetParam();
    SCOPED_TRACE(c.file);
    copyFixture(c.file);
    const Outcome r = run(std::string("#resource '") + c.file + "';\nnop;\n");
    EXPECT_TRUE(r.ok()) << r.out << r.exClass << ": " << r.exMessage;
    EXPECT_EQ(collected(), c.resources);
    EXPECT_EQ(mainCode(), "90 c3");
}

// A string table of 82 bytes is padded to 84 before the next entry.
TEST_F(ResourceTest, StringTableIsPaddedBeforeTheNextEntry) {
    copyFixture("mixed.res");
    code("#resource 'mixed.res';");
    const std::vector<Res> got = collected();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(std::get<0>(got[0]), 6);
    EXPECT_EQ(std::get<1>(got[0]), 1);
    EXPECT_EQ(std::get<3>(got[0]).size(), 82u);
    EXPECT_EQ(got[1], (Res{10, 10, 0x409, "ten"}));
}

TEST_F(ResourceTest, EntriesAndPadding) {
    // Data of 5 bytes and 3 padding bytes: the next entry starts at 32 + 8.
    write("pad.res", kLeading + resEntry(10, 1, 9, "abcde") + resEntry(3, 2, 9, "fg"));
    // Only the leading empty entry.
    write("lead.res", kLeading);
    // A single byte left over after the last entry is not read.
    write("odd.res", kLeading + resEntry(10, 4, 0, "x") + "\x01");
    // Entries are taken in file order, not sorted.
    write("order.res", kLeading + resEntry(10, 5, 0, "5") + resEntry(10, 1, 0, "1") + resEntry(10, 3, 0, "3"));
    // The one-character name "0" is a name, not the identifier 0.
    write("zero.res", resEntry(10, 0, 0, "z", 0xFFFF, 0x0030));
    code(
        "#resource 'pad.res';\n#resource 'lead.res';\n#resource 'odd.res';\n#resource 'zero.res';\n"
        "#resource 'order.res';\n");
    EXPECT_EQ(collected(), (std::vector<Res>{{3, 2, 9, "fg"},
                                             {10, 1, 9, "abcde"},
                                             {10, 4, 0, "x"},
                                             {10, 0, 0, "z"},
                                             {10, 5, 0, "5"},
                                             {10, 1, 0, "1"},
                                             {10, 3, 0, "3"}}));
    EXPECT_EQ(ResMan->res[10][2]->rtName, "0");
    for (int k : {0, 1, 3, 4, 5}) EXPECT_EQ(ResMan->res[10][k]->rtName, "") << k;
    // Each resource's data starts on a 4-byte boundary of the data block.
    EXPECT_EQ(ResMan->dataStr, std::string("abcde\0\0\0fg\0\0x\0\0\0z\0\0\0"
                                           "5\0\0\0"
                                           "1\0\0\0"
                                           "3",
                                           29));
}

// Names are read by the format: a text of UTF-16 units up to a zero unit,
// the header padded to 4 bytes. A loader looks names up in capitals.
TEST_F(ResourceTest, NamedResources) {
    copyFixture("named.res");
    write("names.res", kLeading + resNamed(10, u"0", 0x409, "zero") + resNamed(10, u"0AB", 0x409, "oab") +
                           resNamed(10, u"ab_c", 0x407, "abc") + resNamed(10, u"0", 0x407, "null") +
                           resEntry(10, 0, 0x409, "id0") + resNamed(3, u"X", 0, "") + resNamed(3, u"Xy", 0, "five!"));
    code("#resource 'names.res';\n#resource 'named.res';\n");
    struct Want {
        int32_t type;
        std::string name;
        int32_t id, lang;
        std::string data;
    };
    const std::vector<Want> want = {
        {3, "XY", 0, 0, "five!"},  // the empty "X" is skipped as an empty entry
        {10, "0", 0, 0x409, "zero"}, {10, "0AB", 0, 0x409, "oab"}, {10, "AB_C", 0, 0x407, "abc"},
        {10, "0", 0, 0x407, "null"}, {10, "", 0, 0x409, "id0"},    {10, "HELLO", 0, 0x409, "named"},
    };
    std::vector<Want> got;
    for (int32_t t = 0; t < TResourceManager::MaxTypes; ++t)
        for (int32_t k = 0; k < ResMan->cnt[t]; ++k) {
            const PResource r = ResMan->res[t][k];
            got.push_back({r->rtType, r->rtName, r->id, r->langID, ResMan->dataStr.substr(r->dataAddr, r->dataSize)});
        }
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].type, want[i].type);
        EXPECT_EQ(got[i].name, want[i].name);
        EXPECT_EQ(got[i].id, want[i].id);
        EXPECT_EQ(got[i].lang, want[i].lang);
        EXPECT_EQ(got[i].data, want[i].data);
    }
}

// Names the image cannot hold as the loader reads them, and headers that do
// not add up, end in a positioned error.
namespace names_that_cannot_be_held_rows {
struct Case {
    std::string bytes;
    const char* message;
};
std::vector<Case> cases() {
    std::u16string longName(0x10000, u'N');
    return {
        {kLeading + resNamed(10, u"d\u00e4t", 0, "x"),
         "[442] Resource name \"d\xC3\xA4t\" in \"bad.res\" is not supported: resource names in ASCII only"},
        {kLeading + resNamed(10, u"", 0, "x"),
         "[443] Resource name of 0 characters in \"bad.res\" is not supported: 1 to 65535 characters only"},
        {kLeading + resNamed(10, longName, 0, "x"), "[443] Resource name of 65536 characters in \"bad.res\""},
        {kLeading + resNamed(10, u"abc", 9, "1") + resNamed(10, u"ABC", 9, "2"),
         "[441] Resource of type 10, name \"ABC\" and language 9 in \"bad.res\" is already defined"},
        // The header size must be the header's: 32 for the name "0AB" is short.
        {kLeading + resNamed(10, u"0AB", 0, "x", 32),
         "[437] Resource file \"bad.res\" is damaged: the entry at offset 32 gives its header 32 bytes, not 36"},
        // A name whose zero unit is missing.
        {kLeading + le32(1) + le32(40) + le16(0xFFFF) + le16(10) + le16('A') + le16('B'),
         "[437] Resource file \"bad.res\" is damaged: the entry at offset 32 has no complete header"},
    };
}
}  // namespace names_that_cannot_be_held_rows

using NamesThatCannotBeHeld = tavtest::Table<ResourceTest, names_that_cannot_be_held_rows::Case>;
TAVIK_ROWS(ResourceTest, NamesThatCannotBeHeld, names_that_cannot_be_held_rows::cases(), message);

TEST_P(NamesThatCannotBeHeld, Refused) {
    const names_that_cannot_be_held_rows::Case& c = GetParam();
    SCOPED_TRACE(c.message);
    write("bad.res", c.bytes);
    const std::string out = failure("nop;\n#resource 'bad.res';\n");
    EXPECT_NE(out.find(std::string("[3,21]: ") + c.message), std::string::npos) << out;
}

// The same type, identifier and language twice, from one file or two, is
// refused where the second comes in: a loader would only ever find one.
TEST_F(ResourceTest, SameResourceTwiceIsRefused) {
    copyFixture("one.res");
    std::string out = failure("#resource 'one.res';\n#resource 'one.res';\n");
    EXPECT_NE(out.find("[3,21]: [441] Resource of type 10, id 1 and language 1033 in \"one.res\" is already defined"),
              std::string::npos)
        << out;
}

// Another language of an identifier is no duplicate.
TEST_F(ResourceTest, AnotherLanguageIsNoDuplicate) {
    copyFixture("one.res");
    copyFixture("langs.res");
    write("de.res", kLeading + resEntry(10, 1, 0x407, "hallo"));
    code("#resource 'one.res';\n#resource 'langs.res';\n#resource 'de.res';\n");
    EXPECT_EQ(collected().size(), 5u);
}

// The project's folder, folders written with either separator.
TEST_F(ResourceTest, FileFoundInTheProjectFolder) {
    write("res/one.res", fixture("one.res"));
    write("res/langs.res", fixture("langs.res"));
    code("#resource 'res\\\\one.res';\n#resource 'res/langs.res';\n");
    EXPECT_EQ(collected().size(), 4u);
}

// Else the name as written: an absolute path.
TEST_F(ResourceTest, FileFoundByAnAbsolutePath) {
    const fs::path elsewhere = dir / "elsewhere";
    write("elsewhere/one.res", fixture("one.res"));
    code("#resource '" + (elsewhere / "one.res").string() + "';\n");
    EXPECT_EQ(collected(), (std::vector<Res>{{10, 1, 0x409, "hello"}}));
}

namespace resource_directive_errors_rows {
struct Case {
    const char* lines;
    const char* message;
};
const Case cases[] = {
    {"nop;\n#resource 'none.res';", "[3,21]: [432] Resource file \"none.res\" does not exist in [project.tav]"},
    {"#resource 'dir.res';", "[432] Resource file \"dir.res\" does not exist"},
    {"#resource \"one.res\";", "[43535] Unexpected "},
    {"#resource 5;", "[43535] Unexpected number 5"},
    {"#resource;", "[43535] Unexpected symbol ;"},
    {"#resource 'one.res' nop;", "[5354] Unexpected ident nop"},
    {"#resource 'one.res'", "[5354] Unexpected "},
};
}  // namespace resource_directive_errors_rows

TAVIK_TABLE(ResourceTest, ResourceDirectiveErrors, resource_directive_errors_rows, lines);

TEST_P(ResourceDirectiveErrors, Refused) {
    const resource_directive_errors_rows::Case& c = GetParam();
    SCOPED_TRACE(c.lines);
    copyFixture("one.res");
    fs::create_directories(dir / "dir.res");
    const std::string out = failure(c.lines);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(ResMan->ttl, 0);
}

// Named types are refused as the runtime's exception, without a position.
namespace named_types_rows {
struct Case {
    std::string file;
    std::string bytes;
    const char* message;
};
std::vector<Case> cases() {
    return {
        {"strtype.res", fixture("strtype.res"),
         "This type of resource id is not supported yet, please ask a developer for details."},
        // The type is the text "0", the name the number 1.
        {"t.res",
         kLeading + le32(1) + le32(32) + le16(0x30) + le16(0) + le16(0xFFFF) + le16(1) + std::string(16, '\0') +
             "x\0\0\0",
         "This type of resource id is not supported yet"},
    };
}
}  // namespace named_types_rows

using NamedTypesAreRefused = tavtest::Table<ResourceTest, named_types_rows::Case>;
TAVIK_ROWS(ResourceTest, NamedTypesAreRefused, named_types_rows::cases(), file);

TEST_P(NamedTypesAreRefused, Refused) {
    const named_types_rows::Case& c = GetParam();
    SCOPED_TRACE(c.file);
    write(c.file, c.bytes);
    const Outcome r = run("#resource '" + c.file + "';\n");
    EXPECT_EQ(r.exClass, "Exception");
    EXPECT_EQ(r.exMessage.rfind(c.message, 0), 0u) << r.exMessage;
    EXPECT_EQ(ResMan->ttl, 0);
}

// Damaged files and resources the directory cannot hold end in a positioned
// error; nothing is read outside the file.
namespace damaged_files_rows {
struct Case {
    std::string bytes;
    const char* message;
};
std::vector<Case> cases() {
    const std::string one = fixture("one.res");
    std::string huge = kLeading + resEntry(10, 1, 0, "abcd");
    huge.replace(32, 4, le32(0xFFFFFFFFu));
    std::string many = kLeading;
    for (int i = 0; i < 52; ++i) many += resEntry(10, uint32_t(i), 0, "r");
    return {
        {fixture("truncated.res"),
         "[437] Resource file \"bad.res\" is damaged: the entry at offset 32 has no complete header"},
        {one.substr(0, 2), "[437] Resource file \"bad.res\" is damaged: the entry at offset 0 has no complete header"},
        {one + "\x01\x02", "[437] Resource file \"bad.res\" is damaged: the entry at offset 72 has no complete header"},
        {one.substr(0, 68),
         "[438] Resource file \"bad.res\" is damaged: the data of the entry at offset 32 runs past the end of the "
         "file"},
        {huge, "[438] Resource file \"bad.res\" is damaged: the data of the entry at offset 32 runs past the end"},
        {kLeading + resEntry(32, 1, 0, "x"),
         "[439] Resource type 32 in \"bad.res\" is not supported: type numbers 0 to 31 only"},
        {kLeading + resEntry(0xFFFF, 1, 0, "x"), "[439] Resource type 65535 in \"bad.res\""},
        {many, "[440] Too many resources of type 10: 51 at most"},
        {kLeading + resEntry(10, 1, 9, "a") + resEntry(3, 1, 9, "b") + resEntry(10, 1, 9, "c"),
         "[441] Resource of type 10, id 1 and language 9 in \"bad.res\" is already defined"},
    };
}
}  // namespace damaged_files_rows

using DamagedFilesAndLimits = tavtest::Table<ResourceTest, damaged_files_rows::Case>;
TAVIK_ROWS(ResourceTest, DamagedFilesAndLimits, damaged_files_rows::cases(), message);

TEST_P(DamagedFilesAndLimits, Refused) {
    const damaged_files_rows::Case& c = GetParam();
    SCOPED_TRACE(c.message);
    write("bad.res", c.bytes);
    const std::string out = failure("nop;\n#resource 'bad.res';\n");
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_NE(out.find("[3,21]: "), std::string::npos) << out;
    EXPECT_NE(out.find("in [project.tav]"), std::string::npos) << out;
}

// Every cut of a valid file either reads whole entries or stops at the first
// incomplete one; nothing is read past the end. One row for each length.
using EveryPrefixOfAFile = tavtest::Table<ResourceTest, size_t>;

TEST_P(EveryPrefixOfAFile, ReadsWholeEntriesOrStops) {
    const std::string full = fixture("mixed.res");
    const size_t n = GetParam();
    write("cut.res", full.substr(0, n));
    const Outcome r = run("#resource 'cut.res';\n");
    // The leading entry ends at 32, the string table at 146 (148 with
    // its padding), the last entry at 183 (184); one byte more is not read.
    if (n <= 1 || n == 32 || n == 33) {
        EXPECT_TRUE(r.ok()) << r.out;
        EXPECT_EQ(ResMan->ttl, 0);
    } else if (n >= 146 && n <= 149) {
        EXPECT_TRUE(r.ok()) << r.out;
        EXPECT_EQ(collected().size(), 1u);
    } else if (n >= 183) {
        EXPECT_TRUE(r.ok()) << r.out;
        EXPECT_EQ(collected().size(), 2u);
    } else {
        EXPECT_TRUE(r.aborted) << r.out << r.exClass << r.exMessage;
        EXPECT_TRUE(r.out.find("[437]") != std::string::npos || r.out.find("[438]") != std::string::npos) << r.out;
    }
}

INSTANTIATE_TEST_SUITE_P(ResourceTest, EveryPrefixOfAFile, ::testing::Range<size_t>(0, fixture("mixed.res").size() + 1),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return "FirstBytes" + std::to_string(info.param);
                         });

// Damaged copies of a valid file, with header fields and data overwritten at
// random (fixed seed): each ends as a build or a clear failure, and whatever
// was collected builds into a section that covers all its data. One row for
// each copy, the copies made once in one random sequence.
const std::vector<std::string>& randomlyDamagedCopies() {
    static const std::vector<std::string> copies = [] {
        const std::string full = fixture("mixed.res");
        std::mt19937 rng(20261210);
        std::vector<std::string> v;
        for (int round = 0; round < 300; ++round) {
            std::string bytes = full;
            const int changes = 1 + int(rng() % 4);
            for (int i = 0; i < changes; ++i) {
                const size_t at = rng() % bytes.size();
                // Mostly a header byte of one of the three entries.
                const size_t pos = rng() % 2 ? (at / 32 % 3 == 0 ? 0 : at / 32 % 3 == 1 ? 32 : 148) + at % 32 : at;
                bytes[pos] = char(rng() % 3 == 0 ? 0xFF : rng());
            }
            if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
            v.push_back(bytes);
        }
        return v;
    }();
    return copies;
}

using RandomlyDamagedFiles = tavtest::Table<ResourceTest, size_t>;

TEST_P(RandomlyDamagedFiles, BuildOrFailClearly) {
    const std::string& bytes = randomlyDamagedCopies()[GetParam()];
    write("rnd.res", bytes);
    const Outcome r = run("#resource 'rnd.res';\n");
    if (r.aborted) {
        EXPECT_TRUE(r.out.find("[437]") != std::string::npos || r.out.find("[438]") != std::string::npos ||
                    r.out.find("[439]") != std::string::npos || r.out.find("[441]") != std::string::npos ||
                    r.out.find("[442]") != std::string::npos || r.out.find("[443]") != std::string::npos)
            << r.out;
    } else if (!r.exClass.empty()) {
        EXPECT_EQ(r.exClass, "Exception") << r.exMessage;
    }
    const std::string section = ResMan->buildRes(0x1000);
    EXPECT_EQ(section.size(), ResMan->ttl ? ResMan->arResSize + ResMan->dataSize : 0u);
}

INSTANTIATE_TEST_SUITE_P(ResourceTest, RandomlyDamagedFiles, ::testing::Range<size_t>(0, 300),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return "Copy" + std::to_string(info.param);
                         });

// The section that the plug-in service builds from the collected resources.
TEST_F(ResourceTest, SectionFromTheCollectedResources) {
    copyFixture("unsorted.res");
    copyFixture("mixed.res");
    code("#resource 'unsorted.res';\n#resource 'mixed.res';\n");
    const std::string s = ResMan->buildRes(0x1000);
    // Root: types 6 and 10; type 10 has five identifiers of one language each.
    ASSERT_GE(s.size(), ResMan->arResSize);
    EXPECT_EQ(s.size(), ResMan->arResSize + ResMan->dataSize);
    EXPECT_EQ(ResMan->arResSize, 16u + 72u + 72u + 4u * 48u);
    EXPECT_EQ(s.substr(ResMan->arResSize), ResMan->dataStr);
}

}  // namespace
