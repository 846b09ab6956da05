#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ascii.h"
#include "reader/cur_token.h"
#include "platform/platform.h"

// Classes of source bytes, one table for the scanner, built from the
// tests of ascii.h.
namespace charclass {
enum : uint8_t {
    NameStart = 0x01,              // ascii::isNameStart
    Digit = 0x02,                  // ascii::isDigit
    Hex = 0x04,                    // ascii::isHexDigit
    Plain = 0x08,                  // read as it is: no blank (1 to 32) and no "/"
    NameChar = NameStart | Digit,  // ascii::isNameChar
};
constexpr std::array<uint8_t, 256> build() {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        uint8_t k = 0;
        if (ascii::isNameStart(ch)) k |= NameStart;
        if (ascii::isDigit(ch)) k |= Digit;
        if (ascii::isHexDigit(ch)) k |= Hex;
        if ((c == 0 || c > 32) && c != '/') k |= Plain;
        t[static_cast<size_t>(c)] = k;
    }
    return t;
}
inline constexpr std::array<uint8_t, 256> table = build();
inline uint8_t of(char c) { return table[static_cast<unsigned char>(c)]; }
}  // namespace charclass

// One source text in memory with its cursor: a project or include file, a
// macro body or a text handed in by a plug-in. Positions are 1-based bytes;
// position 0 stands before the first byte and FileLength + 1 reads as 0.
class TAFile {
public:
    TAFile();  // a free-standing source; see Create
    TAFile(const TAFile&) = delete;
    TAFile& operator=(const TAFile&) = delete;

    // A new empty source registered with the compiler, which owns and frees
    // it (without a compiler the caller owns it).
    static TAFile* Create();
    // Create, then loadFile; the source is returned whether or not it loaded.
    static TAFile* openFile(const std::string& strFile, TAFile* parent);

    bool loadFile(const std::string& strFile, TAFile* par);
    bool loadBuffer(const std::string& name, const std::string& buf, TAFile* par);

    // Drops the text; every further read answers 0, and messages show no line.
    void releaseText();
    // Bytes from the start whose memory was given back (read again from the
    // file when needed).
    uint32_t droppedTo() const { return F_DroppedTo; }

    void save();
    void restore();

    // The next byte, comments passed, and blanks too when skipControlChars;
    // 0 at the end. A byte read as it is takes the inline path.
    char moveNextChar(bool skipControlChars) {
        if (CurChar < F_FileLength) {
            const char ch = F_Buffer[CurChar];
            if (charclass::of(ch) & charclass::Plain) {
                ++CurChar;
                ++CurLineChar;
                return ch;
            }
            // One space before a plain byte, as between the words of a line.
            if (skipControlChars && ch == ' ' && CurChar + 1 < F_FileLength) {
                const char next = F_Buffer[CurChar + 1];
                if (charclass::of(next) & charclass::Plain) {
                    CurChar += 2;
                    CurLineChar += 2;
                    return next;
                }
            }
        }
        return moveNextCharSlow(skipControlChars);
    }
    // The bytes of the quoted literal whose opening quote is current, up to
    // the closing quote, escapes resolved; the cursor ends on that quote. No
    // comment opens inside a literal. A literal the text ends in is fatal.
    std::string readLiteral(char quote);
    char movePrevChar();
    // The bytes from the current one on while pred holds, passed (none of
    // them a line feed or "/"); the cursor ends on the last one. Then
    // stepOverRunEnd reads the byte after and gives it back, which counts
    // a line or the end of the text as reading it one byte at a time does.
    template <class Pred>
    uint32_t passRun(Pred pred) {
        const char* const buf = F_Buffer.data();
        uint32_t p = CurChar;
        while (p < F_FileLength && pred(buf[p])) ++p;
        const uint32_t n = p - CurChar;
        CurChar = p;
        CurLineChar += n;
        return n;
    }
    void stepOverRunEnd() {
        // Any other byte is read and given back without a trace.
        if (CurChar < F_FileLength) {
            const char c = F_Buffer[CurChar];
            if (c != '\n' && c != '/') return;
        }
        stepOverRunEndSlow();
    }
    char movePrevCharEx(bool skipControlChars);
    void moveToChar(char c);
    void moveBackToChar(char c);
    // What moveNextChar would read; the cursor stays, the position reached
    // is kept for commitPeekPosition. A plain next byte takes the inline path.
    [[gnu::always_inline]] char peekNextRealChar(bool skipControlChars) {
        if (CurChar < F_FileLength) {
            const char ch = F_Buffer[CurChar];
            if (charclass::of(ch) & charclass::Plain) {
                notePeek(F_TotalLines, CurChar + 1, CurLineChar + 1, CurLine);
                return ch;
            }
        }
        return peekNextRealCharSlow(skipControlChars);
    }
    void moveLastPeek();
    TTavToken moveNextToken();
    TTavToken peekNextToken();
    TMathOp moveNextIfMathOp(bool signed_);
    TTavToken setNextToken(TCurrentToken* token);

    // The source whose setNextToken runs innermost; else the compiler's current file.
    static TAFile* activeReader();
    // Moves the cursor to the last peek without touching any token.
    void commitPeekPosition();

    // The byte at a 1-based position; 0 outside the text.
    char charAt(uint32_t pos) const { return (pos >= 1 && pos <= F_FileLength) ? F_Buffer[pos - 1] : '\0'; }
    char curChar() const { return charAt(CurChar); }

    uint32_t F_SaveCurLine = 1;  // restore before any save returns to the start
    uint32_t F_SaveCurChar = 0;
    uint32_t F_SaveCurLineChar = 0;
    std::string_view F_Buffer;  // the text: F_Text's bytes or F_Owned
    std::string F_FileName;
    uint32_t F_FileLength = 0;
    TAFile* F_Parent = nullptr;
    uint32_t F_LPCurLine = 0;  // F_TotalLines reached by the last peek
    uint32_t F_LPCurChar = 0;
    uint32_t F_LPCurLineChar = 0;
    uint32_t F_LPLine = 1;  // line reached by the last peek
    uint32_t F_TotalLines = 0;
    uint32_t CurLine = 1;
    uint32_t CurChar = 0;
    uint32_t CurLineChar = 0;

private:
    void recordPeek();
    // The position a peek reached, for commitPeekPosition.
    void notePeek(uint32_t total, uint32_t pos, uint32_t column, uint32_t line) {
        F_LPCurLine = total;
        F_LPCurChar = pos;
        F_LPCurLineChar = column;
        F_LPLine = line;
    }
    // Gives back the memory of the text well behind the cursor (a mapped
    // file only); it is read again from the file when needed.
    void dropPassed(uint32_t cur);
    // A line feed read, ending at pos with the column after it col: the
    // line counts move on (the caller starts the column at 1).
    void passLineFeed(uint32_t pos, uint32_t col) {
        if (pos >= F_DropAt) dropPassed(pos);
        F_LFPos = pos;
        F_LFPrevColumn = col > 0 ? col - 1 : 0;
        ++CurLine;
        ++F_TotalLines;
    }

    std::unique_ptr<platform::TFileText> F_Text;
    std::string F_Owned;
    uint32_t F_TextOffset = 0;  // of F_Buffer in F_Text (a byte order mark skipped)
    uint32_t F_DroppedTo = 0;
    uint32_t F_DropAt = UINT32_MAX;  // the line feed position that drops more
    // Column of the byte before the line feed at position lf.
    uint32_t columnBefore(uint32_t lf);

    // The last line feed passed and the column of the byte before it, so
    // that stepping back over it restores that column without a search.
    uint32_t F_LFPos = 0;
    uint32_t F_LFPrevColumn = 0;

    char moveNextRawChar();
    void stepOverRunEndSlow();
    char moveNextCharSlow(bool skipControlChars);
    [[gnu::noinline]] char moveNextCharRest(bool skipControlChars);
    char peekNextRealCharSlow(bool skipControlChars);
};

// Packs up to four bytes of str into a number, the first in the lowest byte.
uint64_t StrOrd(const std::string& str);

// Points the log's positioned messages and code excerpts at the compiler's
// current source and token.
void InstallReaderLogHooks();
