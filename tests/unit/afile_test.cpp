// The source reader: characters, comments, lines, peeks and operators.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "front_env.h"

namespace {

struct Read {
    std::string chars;
    uint32_t lastLine = 0;  // line of the last character read
};

Read readAll(TAFile& f, bool skip) {
    Read r;
    for (int i = 0; i < 1000; ++i) {
        char c = f.moveNextChar(skip);
        if (c == '\0') break;
        r.chars += c;
        r.lastLine = f.CurLine;
    }
    return r;
}

std::unique_ptr<TAFile> fromText(const std::string& text) {
    auto f = std::make_unique<TAFile>();
    f->loadBuffer("t.tav", text, nullptr);
    return f;
}

}  // namespace

TEST(SourceReader, CommentsInEveryContext) {
    struct Case {
        const char* text;
        bool skip;
        const char* chars;
        uint32_t lastLine;
    } cases[] = {
        {"a // x\nb", false, "a \nb", 2}, {"a // x\nb", true, "ab", 2}, {"//\nb", false, "\nb", 2},
        {"/**/x", false, "x", 1},         {"/*\n*/c", false, "c", 2},   {"/* a\n b\n*/ c", true, "c", 3},
        {"'//' x", false, "'", 1},   // the reader knows no quotes: the tokenizer reads literals
        {"/**//x", false, "/x", 1},  // no second opening right after a comment
        {"x//", false, "x", 1},           {"a\r\nb", true, "ab", 2},  // CR is a control character
    };
    for (const Case& c : cases) {
        auto f_ = fromText(c.text);
        TAFile& f = *f_;
        Read r = readAll(f, c.skip);
        EXPECT_EQ(r.chars, c.chars) << c.text;
        EXPECT_EQ(r.lastLine, c.lastLine) << c.text;
    }
}

TEST(SourceReader, ColumnsCountBytesAndRestartAtLineFeeds) {
    auto f_ = fromText("ab\ncd/*x\ny*/e");
    TAFile& f = *f_;
    std::vector<std::pair<char, uint32_t>> seen;
    for (char c; (c = f.moveNextChar(false)) != '\0';) seen.push_back({c, f.CurLineChar});
    std::vector<std::pair<char, uint32_t>> want = {{'a', 1}, {'b', 2}, {'\n', 1}, {'c', 2}, {'d', 3}, {'e', 5}};
    EXPECT_EQ(seen, want);
}

TEST(SourceReader, SkippingBlanksEqualsReadingThemOneByOne) {
    // Runs of blanks of every length up to past a word of eight bytes, before
    // words, line feeds, comments and the end: reading with blanks skipped
    // must stop where a plain read passing them byte by byte stops.
    std::vector<std::string> texts;
    for (size_t n = 0; n < 20; ++n) {
        const std::string run(n, ' ');
        texts.push_back(run + "x");
        texts.push_back(run);
        texts.push_back("a" + run + "\t \r\n" + run + "b;");
        texts.push_back("\n" + run + "mov" + run + "eax," + run + "[ebx]");
        texts.push_back(run + "/* c */" + run + "z" + run + "// d\n" + run + "w" + run);
        texts.push_back(run + "\x01\x1f" + run + "\n\n" + run + "q");
    }
    struct State {
        char c;
        uint32_t pos, col, line, total;
        bool operator==(const State&) const = default;
    };
    auto state = [](const TAFile& f, char c) { return State{c, f.CurChar, f.CurLineChar, f.CurLine, f.F_TotalLines}; };
    for (const std::string& text : texts) {
        auto skipping = fromText(text), plain = fromText(text);
        std::vector<State> got, want;
        for (int i = 0; i < 200; ++i) {
            const char c = skipping->moveNextChar(true);
            got.push_back(state(*skipping, c));
            if (c == '\0') break;
        }
        for (int i = 0; i < 400; ++i) {
            const char c = plain->moveNextChar(false);
            const auto u = static_cast<unsigned char>(c);
            if (u >= 1 && u <= 32) continue;
            want.push_back(state(*plain, c));
            if (c == '\0') break;
        }
        ASSERT_EQ(got.size(), want.size()) << text;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_TRUE(got[i] == want[i])
                << text << " #" << i << ": '" << got[i].c << "' at " << got[i].pos << "," << got[i].col << " line "
                << got[i].line << " total " << got[i].total << " instead of " << want[i].pos << "," << want[i].col
                << " line " << want[i].line << " total " << want[i].total;
        }
        // Back over what was skipped last: the same as after the plain read.
        skipping->movePrevChar();
        plain->movePrevChar();
        EXPECT_TRUE(state(*skipping, 0) == state(*plain, 0)) << text;
    }
}

TEST(SourceReader, NeverReadsOutsideItsText) {
    auto f_ = fromText("ab");
    TAFile& f = *f_;
    EXPECT_EQ(f.movePrevChar(), '\0');  // before the first byte: stays there
    EXPECT_EQ(f.CurChar, 0u);
    EXPECT_EQ(f.movePrevCharEx(true), '\0');
    EXPECT_EQ(f.CurChar, 0u);
    EXPECT_EQ(f.moveNextChar(false), 'a');
    EXPECT_EQ(f.moveNextChar(false), 'b');
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f.moveNextChar(false), '\0');
    EXPECT_EQ(f.CurChar, 3u);  // one past the end, however often it is read
    EXPECT_EQ(f.CurLineChar, 3u);
    EXPECT_EQ(f.F_TotalLines, 5u);  // each read at the end counts a line
    EXPECT_EQ(f.movePrevChar(), 'b');
    EXPECT_EQ(f.movePrevChar(), 'a');
    EXPECT_EQ(f.movePrevChar(), '\0');
    EXPECT_EQ(f.movePrevChar(), '\0');
    EXPECT_EQ(f.CurChar, 0u);

    auto empty_ = fromText("");
    TAFile& empty = *empty_;
    EXPECT_EQ(empty.moveNextChar(true), '\0');
    EXPECT_EQ(empty.moveNextChar(true), '\0');
    EXPECT_EQ(empty.CurChar, 1u);
    EXPECT_EQ(empty.movePrevChar(), '\0');
    EXPECT_EQ(empty.movePrevChar(), '\0');
    EXPECT_EQ(empty.CurChar, 0u);
}

TEST(SourceReader, SteppingBackOverALineFeedKeepsTheLineCount) {
    auto f_ = fromText("a\nb");
    TAFile& f = *f_;
    f.moveNextChar(false);
    EXPECT_EQ(f.moveNextChar(false), '\n');
    EXPECT_EQ(f.CurLine, 2u);
    EXPECT_EQ(f.F_TotalLines, 1u);
    EXPECT_EQ(f.movePrevChar(), 'a');
    EXPECT_EQ(f.CurLine, 1u);
    EXPECT_EQ(f.F_TotalLines, 0u);
    EXPECT_EQ(f.moveNextChar(false), '\n');
    EXPECT_EQ(f.moveNextChar(false), 'b');
    EXPECT_EQ(f.CurLine, 2u);
    EXPECT_EQ(f.F_TotalLines, 1u);
}

TEST(SourceReader, SearchesSaveAndRestore) {
    auto f_ = fromText("one;two\r\nthree");
    TAFile& f = *f_;
    f.moveToChar(';');
    EXPECT_EQ(f.CurChar, 4u);
    f.save();
    f.moveToChar('\r');
    EXPECT_EQ(f.CurChar, 8u);
    f.moveToChar('#');  // not there: stops at the end
    EXPECT_EQ(f.CurChar, f.F_FileLength + 1);
    f.restore();
    EXPECT_EQ(f.CurChar, 4u);
    EXPECT_EQ(f.CurLine, 1u);
    f.moveBackToChar('#');
    EXPECT_EQ(f.CurChar, 0u);

    auto g_ = fromText("a  \t b");
    TAFile& g = *g_;
    g.CurChar = 6;
    EXPECT_EQ(g.movePrevCharEx(true), 'a');
    EXPECT_EQ(g.CurChar, 1u);
}

TEST(SourceReader, PeekedCharacterCommitsToThePlainReadPosition) {
    auto f_ = fromText("x\n\n  y");
    TAFile& f = *f_;
    f.moveNextChar(false);
    auto g_ = fromText("x\n\n  y");
    TAFile& g = *g_;
    g.moveNextChar(false);

    EXPECT_EQ(f.peekNextRealChar(true), 'y');
    EXPECT_EQ(f.CurChar, 1u);  // nothing moved
    EXPECT_EQ(f.CurLine, 1u);
    f.commitPeekPosition();
    EXPECT_EQ(g.moveNextChar(true), 'y');
    EXPECT_EQ(f.CurChar, g.CurChar);
    EXPECT_EQ(f.CurLine, g.CurLine);
    EXPECT_EQ(f.CurLine, 3u);
    EXPECT_EQ(f.CurLineChar, g.CurLineChar);
    EXPECT_EQ(f.F_TotalLines, g.F_TotalLines);
}

TEST(SourceReader, PeekOverBlanksAndCommentsEndsWhereTheReadEnds) {
    // Blanks, line feeds and comments between the cursor and the next byte:
    // a peek and its commit leave the reader as the read itself does.
    const char* texts[] = {
        "x y", "x\r\n\t y", "x\n\n\n", "x \n", "x  /* c\n */ y", "x // c\n  y", "x\n// c",
        "x/",  "x \n/",     "x ",      "x /",  "x //c\ny",       "x ;",
    };
    for (const char* text : texts) {
        auto f_ = fromText(text);
        TAFile& f = *f_;
        auto g_ = fromText(text);
        TAFile& g = *g_;
        f.moveNextChar(false);
        g.moveNextChar(false);
        const char peeked = f.peekNextRealChar(true);
        EXPECT_EQ(f.CurChar, 1u) << text;
        EXPECT_EQ(f.CurLine, 1u) << text;
        f.commitPeekPosition();
        EXPECT_EQ(g.moveNextChar(true), peeked) << text;
        EXPECT_EQ(f.CurChar, g.CurChar) << text;
        EXPECT_EQ(f.CurLine, g.CurLine) << text;
        EXPECT_EQ(f.CurLineChar, g.CurLineChar) << text;
        EXPECT_EQ(f.F_TotalLines, g.F_TotalLines) << text;
        // Stepping back over what was passed gives the same byte and column.
        EXPECT_EQ(f.movePrevChar(), g.movePrevChar()) << text;
        EXPECT_EQ(f.CurLineChar, g.CurLineChar) << text;
    }
}

TEST(SourceReader, LoadsFilesOfAnySizeAndStripsTheByteOrderMark) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("tavik_afile_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Case {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"", ""}, {"a", "a"}, {"ab", "ab"}, {"\xEF\xBB", "\xEF\xBB"}, {"\xEF\xBB\xBF", ""}, {"\xEF\xBB\xBFmov", "mov"},
    };
    int n = 0;
    for (const Case& c : cases) {
        fs::path p = dir / ("f" + std::to_string(n++) + ".tav");
        std::ofstream(p, std::ios::binary) << c.bytes;
        TAFile parent;
        TAFile f;
        uint32_t before = fileCounter;
        ASSERT_TRUE(f.loadFile(p.string(), &parent));
        EXPECT_EQ(fileCounter, before + 1);
        EXPECT_EQ(f.F_Buffer, c.text);
        EXPECT_EQ(f.F_FileLength, c.text.size());
        EXPECT_EQ(f.F_Parent, &parent);
        EXPECT_EQ(f.F_FileName, p.string());
        EXPECT_EQ(f.CurLine, 1u);
        EXPECT_EQ(f.CurChar, 0u);
        if (!c.text.empty()) {
            EXPECT_EQ(f.moveNextChar(false), c.text[0]);
        }
    }
    TAFile missing;
    uint32_t before = fileCounter;
    EXPECT_FALSE(missing.loadFile((dir / "none.tav").string(), nullptr));
    EXPECT_EQ(fileCounter, before);
    EXPECT_TRUE(missing.F_FileName.empty());
    EXPECT_FALSE(missing.loadFile(dir.string(), nullptr));  // a folder is no source
    EXPECT_EQ(fileCounter, before);
    fs::remove_all(dir);
}

// A large file read through to its end, with blanks skipped and without:
// every byte comes as written, and the memory behind the reader is given
// back on the way (a mapped file only).
TEST(SourceReader, LargeFilesReadWhileTheirPassedTextIsGivenBack) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("tavik_afile_big_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string text;
    for (int i = 0; text.size() < (6u << 20); ++i)
        text += (i % 3 ? "    mov eax, [ebx+ecx*4+8];   \n" : "\tadd eax, 1; // note\r\n");
    const fs::path p = dir / "big.tav";
    std::ofstream(p, std::ios::binary) << text;
    for (bool skip : {false, true}) {
        TAFile f;
        ASSERT_TRUE(f.loadFile(p.string(), nullptr));
        std::string got, want;
        for (char c; (c = f.moveNextChar(skip)) != '\0';) got += c;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "//") == 0) {
                while (i < text.size() && text[i] != '\n') ++i;
                if (!skip) want += '\n';
                continue;
            }
            const auto u = static_cast<unsigned char>(text[i]);
            if (!(skip && u >= 1 && u <= 32)) want += text[i];
        }
        EXPECT_TRUE(got == want) << "skip " << skip << ": " << got.size() << " bytes, expected " << want.size();
        EXPECT_EQ(f.CurLine, 1 + std::count(text.begin(), text.end(), '\n'));
#ifndef _WIN32
        EXPECT_GT(f.droppedTo(), text.size() - (2u << 20)) << "skip " << skip;
#endif
    }
    fs::remove_all(dir);
}

TEST_F(FrontEnv, FilesEnterTheCompilerList) {
    // The macro "master" body is the compiler's first file.
    ASSERT_EQ(Compiler->F_ListFiles.size(), 1u);
    EXPECT_EQ(Compiler->F_ListFiles[0], MacMan->F_Master->code);
    TAFile* f = TAFile::openFile("/nonexistent/x.tav", nullptr);
    ASSERT_EQ(Compiler->F_ListFiles.size(), 2u);
    EXPECT_EQ(Compiler->F_ListFiles[1], f);
    EXPECT_EQ(f->F_FileLength, 0u);
    load("a\nb\nc");
    while (next() != ttEOF) {}
    // Two line feeds and two reads at the end (after the last word, then EOF).
    EXPECT_EQ(Compiler->GetTotalLines(), 4u);
}

TEST_F(FrontEnv, OperatorTable) {
    struct Case {
        const char* text;
        bool signed_;
        TMathOp op;
        uint32_t pos;  // cursor afterwards
    } cases[] = {
        {" =< 5", true, moLowerSEqual, 3},
        {" =< 5", false, moLowerUEqual, 3},
        {"= 5", true, moAssign, 1},
        {"!x", true, moNone, 0},
        {"!=", false, moNotEqual, 2},
        {"! =", false, moNone, 0},
        {"*=", true, moMulByS, 2},
        {"*=", false, moMulByU, 2},
        {"* =", false, moMulU, 1},
        {"*", true, moMulS, 1},
        {"+=", false, moAddBy, 2},
        {"++", false, moInc, 2},
        {"+ +", false, moAdd, 1},
        {"-=", false, moSubBy, 2},
        {"--", false, moDec, 2},
        {"-x", false, moSub, 1},
        {"/ 2", true, moDivS, 1},
        {"/", false, moDivU, 1},
        {"<>", false, moNotEqual, 2},
        {"<<", false, moShiftLeft, 2},
        {"<=", true, moLowerSEqual, 2},
        {"<", true, moLowerS, 1},
        {"<", false, moLowerU, 1},
        {"=!", false, moNotEqual, 2},
        {"==", false, moIsEqual, 2},
        {"=>", true, moHigherSEqual, 2},
        {"=>", false, moHigherUEqual, 2},
        {">>", false, moShiftRight, 2},
        {">=", false, moHigherUEqual, 2},
        {">", true, moHigherS, 1},
        {">", false, moHigherU, 1},
        {"x", false, moNone, 0},
        {"", false, moNone, 0},
    };
    for (const Case& c : cases) {
        TAFile* f = load(c.text);
        EXPECT_EQ(f->moveNextIfMathOp(c.signed_), c.op) << c.text;
        EXPECT_EQ(f->CurChar, c.pos) << c.text;
    }
    // The current token holds the operator's first character.
    TAFile* f = load("+=");
    f->moveNextIfMathOp(false);
    EXPECT_EQ(cur().F_Type, ttSymbol);
    EXPECT_EQ(cur().F_String, "+");
}

TEST_F(FrontEnv, FailedOperatorReadRestoresTheLine) {
    TAFile* f = load("a\n\n  x");
    f->moveNextChar(false);
    const uint32_t total = f->F_TotalLines;
    EXPECT_EQ(f->moveNextIfMathOp(false), moNone);
    EXPECT_EQ(f->CurChar, 1u);
    EXPECT_EQ(f->CurLineChar, 1u);
    EXPECT_EQ(f->CurLine, 1u);
    EXPECT_EQ(f->F_TotalLines, total);

    f = load("a\n!\n");
    f->moveNextChar(false);
    EXPECT_EQ(f->moveNextIfMathOp(false), moNone);
    EXPECT_EQ(f->CurLine, 1u);
    EXPECT_EQ(f->CurChar, 1u);
}

TEST_F(FrontEnv, PeekThenCommitEqualsAPlainRead) {
    const char* texts[] = {"x\n\n  dword [eax+4] y", "  \r\n 0x1F", "'ab\\n' z", "[dword] 5", "$argc", "eax"};
    for (const char* text : texts) {
        TAFile* f = load(text);
        const TTavToken kind = f->peekNextToken();
        EXPECT_EQ(CompileFlags.peek_mode, 0);
        EXPECT_EQ(f->CurChar, 0u);
        f->moveLastPeek();
        const uint32_t pos = f->CurChar, line = f->CurLine, col = f->CurLineChar, total = f->F_TotalLines;
        const std::string text1 = cur().F_String;

        TAFile* g = load(text);
        EXPECT_EQ(g->moveNextToken(), kind) << text;
        EXPECT_EQ(g->CurChar, pos) << text;
        EXPECT_EQ(g->CurLine, line) << text;
        EXPECT_EQ(g->CurLineChar, col) << text;
        EXPECT_EQ(g->F_TotalLines, total) << text;
        EXPECT_EQ(cur().F_String, text1) << text;
    }
}

TEST_F(FrontEnv, CrLfAndLfGiveTheSameLines) {
    auto lines = [&](const std::string& text) {
        load(text);
        std::vector<std::pair<std::string, uint32_t>> r;
        while (next() != ttEOF) r.push_back({cur().F_String, file()->CurLine});
        return r;
    };
    const std::string lf = "mov eax, 1 // one\n/* two\nthree */ nop\n\n  ret\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    auto a = lines(lf), b = lines(crlf);
    EXPECT_EQ(a, b);
    ASSERT_EQ(a.size(), 6u);
    EXPECT_EQ(a.back(), (std::pair<std::string, uint32_t>{"ret", 5}));
}

TEST_F(FrontEnv, FatalMessagesShowTheReaderPositionAndLine) {
    std::string out = fatalOf("mov eax, 1\r\n  mov [eax+ebx+ecx], 2\r\nret\r\n");
    EXPECT_EQ(out, "[2,19]: [1133] Unexpected register ecx in [test.tav]\nCode: \nmov [eax+ebx+ecx], 2\n");
}
