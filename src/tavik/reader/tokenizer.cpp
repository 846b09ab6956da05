// TAFile::setNextToken: one token from the cursor of a source.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "reader/afile.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "nesting_guard.h"
#include "reader/token_reader.h"
#include "reader/word_table.h"

using namespace tokread;

namespace {

// Nesting bounds: a token may read further tokens (casts, memory
// expressions, built-ins, type look-ahead), and a bracket peeks before it
// reads, which doubles the work per level.
constexpr uint32_t kMaxTokenDepth = 64;
constexpr uint32_t kMaxBracketDepth = 8;

TAFile* g_ActiveReader = nullptr;
uint32_t g_TokenDepth = 0;
uint32_t g_BracketDepth = 0;
const char* const kTooDeep = "[1139] Expression nested too deeply";

class ReaderScope {
public:
    explicit ReaderScope(TAFile* f) : F_Old(g_ActiveReader) { g_ActiveReader = f; }
    ~ReaderScope() { g_ActiveReader = F_Old; }

private:
    TAFile* F_Old;
};

}  // namespace

namespace tokread {

bool readSymbol(TAFile* f, TCurrentToken* tok, char s) {
    return f->setNextToken(tok) == ttSymbol && tok->F_String.size() == 1 && tok->F_String[0] == s;
}

bool readChar(TAFile* f, char c, char& got) {
    got = f->moveNextChar(true);
    return got == c;
}

void unexpected(TCurrentToken* tok, const std::string& code) {
    if (Compiler && Compiler->F_CurToken && tok != Compiler->F_CurToken) Compiler->F_CurToken->setCurToken(*tok);
    if (!Log) throw EAbort();
    Log->FatalUnexpectedToken(code);
}

void unexpectedChar(TCurrentToken* tok, char c, const std::string& code) {
    if (c == '\0') tok->setNull();
    else tok->setSymbol(c);
    unexpected(tok, code);
}

void fatal(const std::string& text) {
    if (!Log) throw EAbort();
    Log->FatalError(text, true);
}

bool readRawWord(TAFile* f, std::string& word, char& first) {
    first = f->moveNextChar(true);
    if (!ascii::isNameStart(first)) {
        if (first != '\0') f->movePrevChar();
        return false;
    }
    word.assign(1, first);
    for (;;) {
        char c = f->moveNextChar(false);
        if (ascii::isNameChar(c)) {
            word += c;
            continue;
        }
        f->movePrevChar();
        return true;
    }
}

}  // namespace tokread

TAFile* TAFile::activeReader() {
    if (g_ActiveReader) return g_ActiveReader;
    return Compiler ? Compiler->F_CurFile : nullptr;
}

uint64_t StrOrd(const std::string& str) {
    uint32_t v = 0;
    for (size_t i = 0; i < str.size() && i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(str[i])) << (8 * i);
    return v;
}

namespace {

// A reading position to come back to: the cursor and the line counts.
struct Spot {
    explicit Spot(const TAFile* f) : pos(f->CurChar), col(f->CurLineChar), line(f->CurLine), total(f->F_TotalLines) {}
    void back(TAFile* f) const {
        f->CurChar = pos;
        f->CurLineChar = col;
        f->CurLine = line;
        f->F_TotalLines = total;
    }
    uint32_t pos, col, line, total;
};

// Byte tests of runs, inlined into them.
template <uint8_t Class>
struct Is {
    bool operator()(char c) const { return (charclass::of(c) & Class) != 0; }
};
constexpr Is<charclass::Digit> digitByte{};
constexpr Is<charclass::Hex> hexByte{};
constexpr Is<charclass::NameChar> wordByte{};

// The bytes of a word or number after position from (those up to the
// cursor already read), passed while pred holds; the byte that ends them is
// given back. A comment right after one of them joins what follows it to
// them, as reading one byte at a time does; joined then holds the text.
template <class Pred>
std::string_view readRun(TAFile* f, uint32_t from, Pred pred, std::string& joined) {
    f->passRun(pred);
    if (f->CurChar < f->F_FileLength && f->F_Buffer[f->CurChar] == '/') {
        joined.assign(f->F_Buffer, from, f->CurChar - from);
        for (;;) {
            const char c = f->moveNextChar(false);
            if (!pred(c)) break;
            joined += c;
        }
        f->movePrevChar();
        return joined;
    }
    f->stepOverRunEnd();
    return std::string_view(f->F_Buffer.data() + from, f->CurChar - from);
}

// The value of decimal digits (one at least); false when it does not fit in
// 64 bits. Up to 19 digits always fit.
inline bool decimalValue(std::string_view digits, uint64_t& u) {
    if (digits.size() <= 19) {
        uint64_t v = 0;
        for (const char c : digits) v = v * 10 + static_cast<uint64_t>(c - '0');
        u = v;
        return true;
    }
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), u);
    return ec == std::errc() && end == digits.data() + digits.size();
}

// A number whose first digit is the current byte; "-" before it makes it
// negative. The byte that ends it is given back.
TTavToken readDecimal(TAFile* f, TCurrentToken* tok, bool negative) {
    // The digits, a "." and the digits after it; the reading is the same
    // as one byte at a time, which a comment among them falls back to.
    const uint32_t from = f->CurChar - 1;
    f->passRun(digitByte);
    const char* const buf = f->F_Buffer.data();
    bool isFloat = false;
    bool slow = f->CurChar < f->F_FileLength && buf[f->CurChar] == '/';
    if (!slow && f->CurChar < f->F_FileLength && buf[f->CurChar] == '.') {
        isFloat = true;
        ++f->CurChar;
        ++f->CurLineChar;
        f->passRun(digitByte);
        slow = f->CurChar < f->F_FileLength && buf[f->CurChar] == '/';
    }
    if (!slow && !isFloat) {
        // Digits alone, straight from the text; "-" right before them is
        // part of the text too.
        const std::string_view digits(buf + from, f->CurChar - from);
        f->stepOverRunEnd();
        uint64_t u = 0;
        const uint64_t limit = negative ? uint64_t(1) << 63 : uint64_t(INT64_MAX);
        if (!decimalValue(digits, u) || u > limit)
            fatal("[2498] Number out of range: " + std::string(negative ? "-" : "") + std::string(digits));
        const int64_t v = negative ? static_cast<int64_t>(0 - u) : static_cast<int64_t>(u);
        if (!negative) return tok->setInteger(static_cast<int32_t>(ptrSize), digits, v);
        if (from > 0 && buf[from - 1] == '-')
            return tok->setInteger(static_cast<int32_t>(ptrSize), std::string_view(buf + from - 1, digits.size() + 1),
                                   v);
        return tok->setInteger(static_cast<int32_t>(ptrSize), "-" + std::string(digits), v);
    }
    std::string text;
    if (negative) text += '-';
    text.append(f->F_Buffer, from, f->CurChar - from);
    if (slow) {
        char c = 0;
        while (ascii::isDigit(c = f->moveNextChar(false))) text += c;
        if (!isFloat && c == '.') {
            isFloat = true;
            text += c;
            while (ascii::isDigit(c = f->moveNextChar(false))) text += c;
        }
        f->movePrevChar();
    } else {
        f->stepOverRunEnd();
    }
    if (isFloat) {
        errno = 0;
        long double v = std::strtold(text.c_str(), nullptr);
        if (!std::isfinite(v)) fatal("[2498] Number out of range: " + text);
        return tok->setFloat(text, v);
    }
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) fatal("[2498] Number out of range: " + text);
    return tok->setInteger(static_cast<int32_t>(ptrSize), text, v);
}

// The digits after "0x", the "x" being current.
[[gnu::noinline]] TTavToken readHex(TAFile* f, TCurrentToken* tok) {
    std::string joined;
    const std::string digits(readRun(f, f->CurChar, hexByte, joined));
    std::string text = "0x" + digits;
    if (digits.empty() || digits.size() > 16) fatal("[2497] Invalid hexadecimal number " + text);
    uint64_t v = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
    return tok->setInteger(static_cast<int32_t>(ptrSize), text, static_cast<int64_t>(v));
}

TTavToken literalToken(TAFile* f, TCurrentToken* tok, char quote) {
    std::string s = f->readLiteral(quote);
    return tok->setText(s, quote == '\'' ? ttAnsiString : ttWideString);
}

// One operand of a dollar form, read as a token of one of two kinds.
void expectKinds(TAFile* f, TCurrentToken* tok, TTavToken a, TTavToken b, const char* code) {
    TTavToken t = f->setNextToken(tok);
    if (t != a && t != b) unexpected(tok, code);
}

void expectSep(TAFile* f, TCurrentToken* tok, char c, const char* code) {
    char got;
    if (!readChar(f, c, got)) unexpectedChar(tok, got, code);
}

TTavToken dollarForm(TAFile* f, TCurrentToken* tok) {
    if (!ascii::isNameStart(f->peekNextRealChar(false))) return tok->setSymbol('$');
    // The word is taken as written: resolving it could read on (a built-in)
    // or turn a parameter named like a constant or define into its value.
    const Spot spot(f);
    std::string word;
    char first;
    readRawWord(f, word, first);
    const std::string w = lowerAscii(word);
    // Not a dollar form: "$" alone, and the word is read again next.
    auto plainDollar = [&] {
        spot.back(f);
        return tok->setSymbol('$');
    };
    TMacro* mac = MacMan ? MacMan->F_CurMacro : nullptr;
    const uint32_t curpars = MacMan ? MacMan->curpars : 0;

    if (w == "argc") {
        return tok->setInteger(4, std::to_string(curpars), curpars);
    }
    if (w == "arg") {
        expectSep(f, tok, '[', "346163");
        if (f->setNextToken(tok) != ttNumber) unexpected(tok, "5353");
        const int64_t n = tok->F_Integer;
        expectSep(f, tok, ']', "346164");
        // Only arguments bound by the call being expanded can be read.
        uint32_t bound = curpars;
        if (!mac || mac->params.Count() < bound) bound = mac ? mac->params.Count() : 0;
        if (n < 0 || n >= static_cast<int64_t>(bound))
            fatal("[53341] Arg " + std::to_string(n) + " out of bounds [" + std::to_string(bound) + "]");
        const auto i = static_cast<uint32_t>(n);
        if (auto* bt = static_cast<TCurrentToken*>(mac->params.GetItem(i))) {
            tok->setCurToken(*bt);
            tok->F_DefName = "$arg[" + std::to_string(n) + "]";
            return tok->F_Type;
        }
        return tok->setText("$" + mac->params.GetString(i) + " missing parameter", ttAnsiString);
    }
    if (w == "substr") {
        expectSep(f, tok, '(', "346163");
        expectKinds(f, tok, ttAnsiString, ttWideString, "5353");
        const std::string s = tok->F_String;
        const TTavToken k = tok->F_Type;
        expectSep(f, tok, ',', "346164");
        if (f->setNextToken(tok) != ttNumber) unexpected(tok, "5353");
        const int64_t from = tok->F_Integer;
        expectSep(f, tok, ',', "346164");
        if (f->setNextToken(tok) != ttNumber) unexpected(tok, "5353");
        const int64_t count = tok->F_Integer;
        expectSep(f, tok, ')', "346167");
        std::string r;
        const uint64_t start = from < 1 ? 0 : static_cast<uint64_t>(from) - 1;
        if (count > 0 && start < s.size()) r = s.substr(start, static_cast<uint64_t>(count));
        return tok->setText(r, k);
    }
    if (w == "strindex") {
        expectSep(f, tok, '(', "346163");
        expectKinds(f, tok, ttAnsiString, ttWideString, "5353");
        const std::string s1 = tok->F_String;
        expectSep(f, tok, ',', "346164");
        expectKinds(f, tok, ttAnsiString, ttWideString, "5353");
        const std::string s2 = tok->F_String;
        expectSep(f, tok, ')', "346167");
        size_t p = s2.empty() ? std::string::npos : s1.find(s2);
        const int64_t v = p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1;
        return tok->setInteger(4, std::to_string(v), v);
    }
    const int idx = mac ? mac->indexOfParam(w) : -1;
    if (idx < 0) return plainDollar();
    const auto i = static_cast<uint32_t>(idx);
    if (auto* bt = static_cast<TCurrentToken*>(mac->params.GetItem(i))) {
        tok->setCurToken(*bt);
        tok->F_DefName = "$" + w;
        return tok->F_Type;
    }
    return tok->setText("$" + mac->params.GetString(i) + " missing parameter", ttAnsiString);
}

// The character after an item (blanks and comments skipped) when it is c;
// consumed then.
bool nextCharIs(TAFile* f, char c) {
    if (f->peekNextRealChar(true) != c) return false;
    f->commitPeekPosition();
    return true;
}

// Whether the token after "[" may name a type, which only a peek tells; a
// number or a register (with no type assumed for it) cannot. The cursor
// stays where it is.
bool mayBeType(TAFile* f) {
    const Spot spot(f);
    const char c = f->moveNextChar(true);
    bool may = !ascii::isDigit(c);
    if (ascii::isNameStart(c)) {
        const uint32_t from = f->CurChar - 1;
        f->passRun(wordByte);
        // A comment right after it would join more to the word.
        if (f->CurChar >= f->F_FileLength || f->F_Buffer[f->CurChar] != '/') {
            const TWord* w = words::findInText(f->F_Buffer.data(), f->F_FileLength, from, f->CurChar - from);
            const TRegister r = words::registerOf(w);
            if (r != REG_NONE && w->keyword == keyNone)
                may = RegMan && r < REG_STATE_COUNT && RegMan->Registers[r].assume != nullptr;
        }
    }
    spot.back(f);
    return may;
}

// An item of a memory expression as the token reader would make it, when it
// is a register word (no keyword, no type assumed for it) or decimal digits
// that fit, with nothing joined to them by a comment.
struct PlainItem {
    TTavToken kind = ttNone;  // ttRegister, ttNumber; ttNone: none held
    TRegister reg = REG_EAX;
    int64_t value = 0;
    std::string_view text;  // in the source text
};

// Reads such an item as setNextToken would; anything else leaves the
// cursor where it was and gives false.
bool readPlainItem(TAFile* f, PlainItem& item) {
    if (g_TokenDepth >= kMaxTokenDepth) return false;  // the full read reports it
    const Spot spot(f);
    const char c = f->moveNextChar(true);
    const uint8_t k = charclass::of(c);
    const uint32_t from = f->CurChar - 1;
    const char* const buf = f->F_Buffer.data();
    if (k & charclass::NameStart) {
        f->passRun(wordByte);
        if (f->CurChar >= f->F_FileLength || buf[f->CurChar] != '/') {
            const std::string_view word(buf + from, f->CurChar - from);
            const TWord* w = words::findInText(buf, f->F_FileLength, from, f->CurChar - from);
            const TRegister r = words::registerOf(w);
            if (r != REG_NONE && w->keyword == keyNone &&
                !(RegMan && r < REG_STATE_COUNT && RegMan->Registers[r].assume)) {
                f->stepOverRunEnd();
                item.kind = ttRegister;
                item.reg = r;
                item.text = word;
                return true;
            }
        }
    } else if ((k & charclass::Digit) && c != '0') {
        f->passRun(digitByte);
        if (f->CurChar >= f->F_FileLength || (buf[f->CurChar] != '/' && buf[f->CurChar] != '.')) {
            const std::string_view digits(buf + from, f->CurChar - from);
            uint64_t u = 0;
            if (decimalValue(digits, u) && u <= uint64_t(INT64_MAX)) {
                f->stepOverRunEnd();
                item.kind = ttNumber;
                item.value = static_cast<int64_t>(u);
                item.text = digits;
                return true;
            }
        }
    }
    spot.back(f);
    return false;
}

// "[" already read: a cast "[type] x" or a memory expression up to "]".
[[gnu::noinline]] TTavToken bracket(TAFile* f, TCurrentToken* tok) {
    TNestingGuard nest(g_BracketDepth, kMaxBracketDepth, kTooDeep);
    // A plain register or number first cannot name a type: it is the first
    // item, read once.
    PlainItem item;
    bool pending = readPlainItem(f, item);
    if (!pending && mayBeType(f) && f->peekNextToken() == ttIdent && Compiler->F_PeekToken->F_IdentType == itType) {
        auto* castType = static_cast<PVarType>(Compiler->F_PeekToken->F_Pointer);
        f->commitPeekPosition();
        if (!readSymbol(f, tok, ']')) unexpected(tok, "5643");
        TTavToken t = f->setNextToken(tok);
        if (t != ttIdent && t != ttRegister && t != ttNumber) unexpected(tok, "6545");
        tok->F_CastType = castType;
        tok->F_Cast = true;
        return tok->F_Type;
    }

    // Items joined by "+" or "-": registers (at most two, one of them scaled,
    // which is the index) and numbers, whose sum is the displacement.
    struct Reg {
        TRegister reg;
        int64_t scale;  // 0: not scaled
    };
    Reg regs[2];
    size_t regCount = 0;
    uint64_t disp = 0;  // wraps like the 32-bit displacement it becomes
    bool negative = false;
    bool first = true;
    // A plain register or decimal number is read straight from the text;
    // the token it would have made is written only where it can be seen
    // (a message, or the next read starting from it).
    auto settle = [&] {
        if (item.kind == ttRegister) tok->setRegister(item.reg, item.text);
        else if (item.kind == ttNumber) tok->setInteger(static_cast<int32_t>(ptrSize), item.text, item.value);
        item.kind = ttNone;
    };
    auto next = [&]() -> TTavToken {
        if (pending) {
            pending = false;
            return item.kind;
        }
        if (readPlainItem(f, item)) return item.kind;
        settle();
        return f->setNextToken(tok);
    };
    auto fail = [&](const char* code) {
        settle();
        unexpected(tok, code);
    };
    auto regOf = [&] { return item.kind == ttRegister ? item.reg : tok->F_Register; };
    auto intOf = [&] { return item.kind == ttNumber ? item.value : tok->F_Integer; };
    auto addReg = [&](TRegister r, int64_t scale) {
        if (negative) fail("2496");  // a register cannot be subtracted
        if (regCount >= 2) fail("1133");
        if (scale != 0 && regCount != 0 && regs[0].scale != 0) fail("1135");
        regs[regCount++] = {r, scale};
    };
    std::string name;
    for (;;) {
        TTavToken t = next();
        if (t == ttRegister) {
            const TRegister r = regOf();
            int64_t scale = 0;
            if (nextCharIs(f, '*')) {
                // What a message about it names: the register as written.
                const bool plain = item.kind == ttRegister;
                const std::string_view written = item.text;
                if (!plain) name = tok->F_String;
                if (next() != ttNumber) fail("4655");
                scale = intOf();
                if (scale == 0) fail("4655");  // an index scaled by nothing
                if (plain) {
                    item.kind = ttRegister;
                    item.reg = r;
                    item.text = written;
                } else {
                    settle();
                    tok->setRegister(r, name);
                }
            }
            addReg(r, scale);
        } else if (t == ttNumber) {
            uint64_t v = static_cast<uint64_t>(intOf());
            bool regFollowed = false;
            while (nextCharIs(f, '*')) {
                TTavToken t2 = next();
                if (t2 == ttNumber) {
                    v *= static_cast<uint64_t>(intOf());
                } else if (t2 == ttRegister) {
                    if (v == 0) fail("4655");
                    addReg(regOf(), static_cast<int64_t>(v));
                    regFollowed = true;
                    break;
                } else {
                    fail("4655");
                }
            }
            if (!regFollowed) disp = negative ? disp - v : disp + v;
        } else {
            if (t == ttIdent && wideRegisterIn16(tok->F_String)) {
                settle();
                Log->FatalError("[1134] " + tok->F_String + " is a 32-bit register, which 16-bit code does not have");
            }
            fail("1134");
        }
        const char op = f->moveNextChar(true);
        if (op == ']') break;
        if (op == '+' || op == '-') {
            negative = op == '-';
            first = false;
            continue;
        }
        item.kind = ttNone;  // the token is the character now
        unexpectedChar(tok, op, first ? "2494" : "2495");
    }
    if (regCount == 0) fail("2494");  // a number alone is no memory expression
    if (regCount == 2 && regs[0].scale != 0) std::swap(regs[0], regs[1]);
    const Reg& r1 = regs[0];
    const TRegister r2 = regCount > 1 ? regs[1].reg : REG_AL;
    const int64_t scale = regCount > 1 ? regs[1].scale : r1.scale;
    const int32_t scale32 = (scale < 0 || scale > INT32_MAX) ? INT32_MAX : static_cast<int32_t>(scale);
    return tok->setBaseExp(0, static_cast<int32_t>(regCount), r1.reg, r2,
                           static_cast<int32_t>(static_cast<uint32_t>(disp)), scale32);
}

}  // namespace

namespace {

// A word a comment runs into (what follows the comment joins it).
[[gnu::noinline]] TTavToken joinedWord(TAFile* f, TCurrentToken* tok, uint32_t from) {
    std::string joined;
    return tok->setIdentifier(readRun(f, from, wordByte, joined));
}

// The first byte of anything but a word, a number or a symbol.
[[gnu::noinline]] TTavToken rareToken(TAFile* f, TCurrentToken* tok, char ch) {
    if (ch == '\0') {
        tok->setNull();
        return tok->F_Type;
    }
    if (ch == '\'' || ch == '"') return literalToken(f, tok, ch);
    if (ch == '$') return dollarForm(f, tok);
    // "-"
    if (!ascii::isDigit(f->peekNextRealChar(false))) return tok->setSymbol('-');
    f->moveNextChar(false);  // the first digit, a comment between passed
    return readDecimal(f, tok, true);
}

}  // namespace

TTavToken TAFile::setNextToken(TCurrentToken* token) {
    TNestingGuard depth(g_TokenDepth, kMaxTokenDepth, kTooDeep);
    ReaderScope reading(this);
    const char ch = moveNextChar(true);
    const uint8_t k = charclass::of(ch);
    if (k & charclass::NameStart) {
        const uint32_t from = CurChar - 1;
        passRun(wordByte);
        if (CurChar < F_FileLength && F_Buffer[CurChar] == '/') return joinedWord(this, token, from);
        stepOverRunEnd();
        return token->setIdentifier(std::string_view(F_Buffer.data() + from, CurChar - from));
    }
    if (k & charclass::Digit) {
        if (ch == '0' && peekNextRealChar(false) == 'x') {
            commitPeekPosition();
            return readHex(this, token);
        }
        return readDecimal(this, token, false);
    }
    if (ch == '[') return bracket(this, token);
    if (ch == '\0' || ch == '\'' || ch == '"' || ch == '$' || ch == '-') return rareToken(this, token, ch);
    return token->setSymbol(ch);
}
