#include "reader/afile.h"

#include <cstdio>
#include <cstring>

#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "platform/platform.h"

namespace {

bool isSkippable(char ch) {
    auto u = static_cast<unsigned char>(ch);
    return u >= 1 && u <= 32;
}

// Keeps peek_mode for the length of a peek, also when a fatal error unwinds.
class PeekModeScope {
public:
    PeekModeScope() : F_Old(CompileFlags.peek_mode) { CompileFlags.peek_mode = 1; }
    ~PeekModeScope() { CompileFlags.peek_mode = F_Old; }

private:
    TAVBOOL F_Old;
};

}  // namespace

TAFile::TAFile() = default;

TAFile* TAFile::Create() {
    auto* f = new TAFile();
    if (Compiler) Compiler->addFile(f);
    return f;
}

TAFile* TAFile::openFile(const std::string& strFile, TAFile* parent) {
    TAFile* f = Create();
    f->loadFile(strFile, parent);
    return f;
}

namespace {
// Drops happen every this many bytes, and keep this much behind the cursor.
constexpr uint32_t kDropStep = 1u << 20;
constexpr uint32_t kDropKeep = 256u << 10;
}  // namespace

bool TAFile::loadFile(const std::string& strFile, TAFile* par) {
    F_Parent = par;
    // Only a regular file is a source; a folder or a device "does not exist".
    if (!platform::IsRegularFile(strFile)) return false;
    auto text = std::make_unique<platform::TFileText>();
    const platform::TFileText::TResult r = text->Load(strFile);
    if (r == platform::TFileText::CannotOpen) return false;
    if (r == platform::TFileText::ReadFailed) throw EInOutError("Read error in " + strFile);
    if (text->Size() > 0xFFFFFFFEu) throw EInOutError("File too large: " + strFile);
    F_FileName = strFile;
    if (Compiler) {
        Compiler->F_FilesRead.push_back(strFile);
        Compiler->F_SourceChars += text->Size();
    }
    const char* data = text->Data();
    size_t size = text->Size();
    F_TextOffset = 0;
    if (size >= 3 && static_cast<unsigned char>(data[0]) == 0xEF && static_cast<unsigned char>(data[1]) == 0xBB &&
        static_cast<unsigned char>(data[2]) == 0xBF)
        F_TextOffset = 3;
    F_Buffer = std::string_view(data + F_TextOffset, size - F_TextOffset);
    F_FileLength = static_cast<uint32_t>(F_Buffer.size());
    F_DroppedTo = 0;
    F_DropAt = text->Mapped() ? kDropStep : UINT32_MAX;
    F_Text = std::move(text);
    F_Owned.clear();
    ++fileCounter;
    return true;
}

bool TAFile::loadBuffer(const std::string& name, const std::string& buf, TAFile* par) {
    if (buf.size() > 0xFFFFFFFEu) throw EInOutError("Text too large: " + name);  // positions are 32-bit
    F_Parent = par;
    F_FileName = name;
    F_Text.reset();
    F_Owned = buf;
    F_Buffer = F_Owned;
    F_FileLength = static_cast<uint32_t>(F_Buffer.size());
    F_DropAt = UINT32_MAX;
    return true;
}

void TAFile::dropPassed(uint32_t cur) {
    if (cur > kDropKeep && cur - kDropKeep > F_DroppedTo) {
        F_Text->Drop(F_TextOffset + F_DroppedTo, F_TextOffset + cur - kDropKeep);
        F_DroppedTo = cur - kDropKeep;
    }
    F_DropAt = cur + kDropStep;
}

void TAFile::releaseText() {
    F_Buffer = std::string_view();
    F_Text.reset();
    std::string().swap(F_Owned);
    F_FileLength = 0;
    F_DropAt = UINT32_MAX;
}

void TAFile::save() {
    F_SaveCurLine = CurLine;
    F_SaveCurChar = CurChar;
    F_SaveCurLineChar = CurLineChar;
}

void TAFile::restore() {
    CurLine = F_SaveCurLine;
    CurChar = F_SaveCurChar;
    CurLineChar = F_SaveCurLineChar;
}

char TAFile::moveNextCharSlow(bool skipControlChars) {
    // Blanks and line feeds before a plain byte; anything else (a comment,
    // the end of the text, a blank given back as it is) goes the full way.
    const char* const buf = F_Buffer.data();
    const uint32_t len = F_FileLength;
    uint32_t cur = CurChar, col = CurLineChar;
    if (skipControlChars) {
        while (cur < len) {
            const char ch = buf[cur];
            if (charclass::of(ch) & charclass::Plain) {
                CurChar = cur + 1;
                CurLineChar = col + 1;
                return ch;
            }
            if (ch == ' ') {
                // A run of spaces, eight bytes at a time.
                uint32_t p = cur + 1;
                for (;;) {
                    if (p + 8 > len) {
                        while (p < len && buf[p] == ' ') ++p;
                        break;
                    }
                    uint64_t w;
                    std::memcpy(&w, buf + p, 8);
                    w ^= 0x2020202020202020ull;
                    if (w) {
                        p += static_cast<uint32_t>(__builtin_ctzll(w)) >> 3;
                        break;
                    }
                    p += 8;
                }
                col += p - cur;
                cur = p;
                continue;
            }
            if (ch == '/') break;
            ++cur;
            ++col;
            if (ch == '\n') {
                passLineFeed(cur, col);
                col = 1;
            }
        }
        CurChar = cur;
        CurLineChar = col;
    }
    return moveNextCharRest(skipControlChars);
}

char TAFile::moveNextCharRest(bool skipControlChars) {
    const char* const buf = F_Buffer.data();
    const uint32_t len = F_FileLength;
    for (;;) {
        // Blanks and plain bytes in locals: a store through the buffer's
        // char pointer would make the compiler reload every member.
        uint32_t cur = CurChar, col = CurLineChar;
        char ch;
        for (;;) {
            // At the end the cursor stays put: every further read answers 0.
            if (cur >= len) {
                if (cur == len) {
                    ++cur;
                    ++col;
                }
                CurChar = cur;
                CurLineChar = col;
                ++F_TotalLines;
                return '\0';
            }
            ++cur;
            ++col;
            ch = buf[cur - 1];
            const uint8_t k = charclass::of(ch);
            if (k & charclass::Plain) {
                CurChar = cur;
                CurLineChar = col;
                return ch;
            }
            if (ch == '/') break;
            if (ch == '\n') {
                passLineFeed(cur, col);
                col = 1;
            }
            if (!skipControlChars) {
                CurChar = cur;
                CurLineChar = col;
                return ch;
            }
        }
        CurChar = cur;
        CurLineChar = col;
        // Comments are skipped here, and only here; literals are read raw.
        bool afterComment = false;  // the column count of the line is lost
        if (ch == '/' && charAt(CurChar + 1) == '/') {
            afterComment = true;
            uint32_t p = CurChar + 2;
            while (p <= F_FileLength && charAt(p) != '\n') ++p;
            CurChar = p;
            CurLineChar = 1;
            if (CurChar > F_FileLength) {
                ++F_TotalLines;
                return '\0';
            }
        } else if (ch == '/' && charAt(CurChar + 1) == '*') {
            const uint32_t openChar = CurChar, openLine = CurLine, openCol = CurLineChar;
            uint32_t p = CurChar + 2;
            CurLineChar += 2;
            bool closed = false;
            for (;;) {
                if (p > F_FileLength) break;
                if (charAt(p) == '*' && charAt(p + 1) == '/') {
                    p += 2;
                    CurLineChar += 2;
                    closed = true;
                    break;
                }
                if (charAt(p) == '\n') {
                    ++CurLine;
                    ++F_TotalLines;
                    CurLineChar = 1;
                }
                ++p;
                ++CurLineChar;
            }
            CurChar = p;
            if (closed && CurChar > F_FileLength) {
                // Closed on the last byte: the end of the text.
                ++F_TotalLines;
                return '\0';
            }
            if (CurChar > F_FileLength) {
                // Whatever follows the opening would be lost without a word.
                CurChar = openChar;
                CurLine = openLine;
                CurLineChar = openCol;
                if (!Log) throw EAbort();
                Log->FatalError("[1142] Comment not closed", true, openChar, openLine, openCol, this);
            }
        }
        ch = charAt(CurChar);
        if (ch == '\n') {
            if (afterComment) {
                F_LFPos = 0;
            } else {
                F_LFPos = CurChar;
                F_LFPrevColumn = CurLineChar > 0 ? CurLineChar - 1 : 0;
            }
            ++CurLine;
            CurLineChar = 1;
            ++F_TotalLines;
        }
        if (skipControlChars && isSkippable(ch)) continue;
        return ch;
    }
}

uint32_t TAFile::columnBefore(uint32_t lf) {
    if (lf != F_LFPos) {
        // Counted as the forward moves count: the line feed that starts a
        // line is its column 1, the first line starts at column 1.
        uint32_t start = lf - 1;
        while (start >= 1 && charAt(start) != '\n') --start;
        F_LFPos = lf;
        F_LFPrevColumn = start >= 1 ? lf - start : lf - 1;
    }
    return F_LFPrevColumn;
}

void TAFile::stepOverRunEndSlow() {
    moveNextChar(false);
    movePrevChar();
}

char TAFile::moveNextRawChar() {
    if (CurChar > F_FileLength) {
        ++F_TotalLines;
        return '\0';
    }
    ++CurChar;
    ++CurLineChar;
    if (CurChar > F_FileLength) {
        ++F_TotalLines;
        return '\0';
    }
    const char ch = charAt(CurChar);
    if (ch == '\n') {
        ++CurLine;
        CurLineChar = 1;
        ++F_TotalLines;
    }
    return ch;
}

std::string TAFile::readLiteral(char quote) {
    const uint32_t openChar = CurChar, openLine = CurLine, openCol = CurLineChar;
    std::string s;
    for (;;) {
        char c = moveNextRawChar();
        if (c == quote) return s;
        if (c == '\\') {
            c = moveNextRawChar();
            if (c == 'n') c = '\n';
            else if (c == 'r') c = '\r';
            else if (c == 't') c = '\t';
        }
        if (c == '\0' && CurChar > F_FileLength) {
            CurChar = openChar;
            CurLine = openLine;
            CurLineChar = openCol;
            if (!Log) throw EAbort();
            Log->FatalError("[1141] String literal not closed", true, openChar, openLine, openCol, this);
        }
        s += c;
    }
}

char TAFile::movePrevChar() {
    if (CurChar == 0) return '\0';  // nothing before the first byte
    if (curChar() == '\n') {
        // Undo what passing the line feed counted; the byte before it keeps
        // its own column.
        if (CurLine > 1) --CurLine;
        if (F_TotalLines > 0) --F_TotalLines;
        CurLineChar = columnBefore(CurChar);
        --CurChar;
        return charAt(CurChar);
    }
    --CurChar;
    if (CurLineChar > 0) --CurLineChar;
    return charAt(CurChar);
}

char TAFile::movePrevCharEx(bool skipControlChars) {
    for (;;) {
        if (CurChar == 0) return '\0';
        --CurChar;
        if (CurChar == 0) return '\0';
        char ch = charAt(CurChar);
        if (skipControlChars && isSkippable(ch)) continue;
        return ch;
    }
}

void TAFile::moveToChar(char c) {
    for (;;) {
        char ch = moveNextChar(false);
        if (ch == c || ch == '\0') return;
    }
}

void TAFile::moveBackToChar(char c) {
    for (;;) {
        char ch = movePrevChar();
        if (ch == c || ch == '\0') return;
    }
}

void TAFile::recordPeek() { notePeek(F_TotalLines, CurChar, CurLineChar, CurLine); }

char TAFile::peekNextRealCharSlow(bool skipControlChars) {
    if (skipControlChars) {
        // Blanks and line feeds before a plain byte, counted in locals: the
        // cursor is not moved and put back. Anything else goes the full way.
        const char* const buf = F_Buffer.data();
        const uint32_t len = F_FileLength;
        uint32_t cur = CurChar, col = CurLineChar, line = CurLine, total = F_TotalLines;
        while (cur < len) {
            const char ch = buf[cur];
            if (charclass::of(ch) & charclass::Plain) {
                notePeek(total, cur + 1, col + 1, line);
                return ch;
            }
            if (ch == '/') break;
            ++cur;
            ++col;
            if (ch == '\n') {
                if (cur >= F_DropAt) break;
                F_LFPos = cur;
                F_LFPrevColumn = col - 1;
                ++line;
                col = 1;
                ++total;
            }
        }
    }
    const uint32_t pos = CurChar, col = CurLineChar, line = CurLine, total = F_TotalLines;
    char ch = moveNextChar(skipControlChars);
    recordPeek();
    CurChar = pos;
    CurLineChar = col;
    CurLine = line;
    F_TotalLines = total;
    return ch;
}

void TAFile::commitPeekPosition() {
    F_TotalLines = F_LPCurLine;
    CurLineChar = F_LPCurLineChar;
    CurChar = F_LPCurChar;
    CurLine = F_LPLine;
}

void TAFile::moveLastPeek() {
    commitPeekPosition();
    if (Compiler && Compiler->F_CurToken && Compiler->F_PeekToken)
        Compiler->F_CurToken->setCurToken(*Compiler->F_PeekToken);
}

TTavToken TAFile::moveNextToken() { return setNextToken(Compiler->F_CurToken); }

TTavToken TAFile::peekNextToken() {
    const uint32_t pos = CurChar, col = CurLineChar, line = CurLine, total = F_TotalLines;
    {
        // An inner peek (a type name looks at what follows it) leaves the
        // outer one in peek mode; the outermost peek ends with it off.
        PeekModeScope peeking;
        setNextToken(Compiler->F_PeekToken);
    }
    recordPeek();
    CurChar = pos;
    CurLineChar = col;
    CurLine = line;
    F_TotalLines = total;
    return Compiler->F_PeekToken->F_Type;
}

TMathOp TAFile::moveNextIfMathOp(bool signed_) {
    const uint32_t pos = CurChar, col = CurLineChar, line = CurLine, total = F_TotalLines;
    auto restoreStart = [&] {
        CurChar = pos;
        CurLineChar = col;
        CurLine = line;
        F_TotalLines = total;
    };
    const char first = moveNextChar(true);
    TCurrentToken* tok = Compiler->F_CurToken;
    tok->F_Type = ttSymbol;
    tok->F_String = first ? std::string(1, first) : std::string();
    // The second character must follow directly; it is taken only when it
    // belongs to the operator. Only the cursor moves: the current token keeps
    // the operator's first character.
    auto takeSecond = [&](char want) {
        if (peekNextRealChar(false) != want) return false;
        commitPeekPosition();
        return true;
    };
    switch (first) {
    case '!':
        if (moveNextChar(false) == '=') return moNotEqual;
        restoreStart();
        return moNone;
    case '*':
        if (takeSecond('=')) return signed_ ? moMulByS : moMulByU;
        return signed_ ? moMulS : moMulU;
    case '+':
        if (takeSecond('=')) return moAddBy;
        if (takeSecond('+')) return moInc;
        return moAdd;
    case '-':
        if (takeSecond('=')) return moSubBy;
        if (takeSecond('-')) return moDec;
        return moSub;
    case '/': return signed_ ? moDivS : moDivU;
    case '<':
        if (takeSecond('>')) return moNotEqual;
        if (takeSecond('<')) return moShiftLeft;
        if (takeSecond('=')) return signed_ ? moLowerSEqual : moLowerUEqual;
        return signed_ ? moLowerS : moLowerU;
    case '=':
        if (takeSecond('!')) return moNotEqual;
        if (takeSecond('<')) return signed_ ? moLowerSEqual : moLowerUEqual;
        if (takeSecond('=')) return moIsEqual;
        if (takeSecond('>')) return signed_ ? moHigherSEqual : moHigherUEqual;
        return moAssign;
    case '>':
        if (takeSecond('>')) return moShiftRight;
        if (takeSecond('=')) return signed_ ? moHigherSEqual : moHigherUEqual;
        return signed_ ? moHigherS : moHigherU;
    default:
        recordPeek();
        restoreStart();
        return moNone;
    }
}

namespace {

const TAFile* hookCurrentFile() { return Compiler ? Compiler->F_CurFile : nullptr; }

bool hookDescribe(const TAFile* file, TLogSource& out) {
    if (!file) return false;
    out.fileName = file->F_FileName;
    out.data = file->F_Buffer.data();
    out.size = file->F_FileLength;
    out.line = file->CurLine;
    out.column = file->CurLineChar;
    out.charPos = file->CurChar;
    return true;
}

std::string hookTokenText() {
    return Compiler && Compiler->F_CurToken ? Compiler->F_CurToken->getTokenStr() : std::string();
}

}  // namespace

void InstallReaderLogHooks() {
    LogHooks.currentFile = hookCurrentFile;
    LogHooks.describe = hookDescribe;
    LogHooks.currentTokenText = hookTokenText;
}
