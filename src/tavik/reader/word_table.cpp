#include "reader/word_table.h"

#include <array>
#include <cstring>
#include <stdexcept>

#include "ascii.h"
#include "common.h"

namespace {

// Words of up to 12 bytes (the longest is "issignedtype"), lower-cased into
// two numbers with the length in the top byte, so that a zero byte in a
// word cannot make it another.
constexpr size_t kMaxWord = 12;

struct Key {
    uint64_t lo = 0, hi = 0;
    bool empty() const { return hi == 0; }
    bool operator==(const Key& o) const { return lo == o.lo && hi == o.hi; }
};

inline uint64_t load8(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint64_t load4(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// 0x20 in each byte of x that is A-Z (ascii::isUpper), eight bytes at once.
constexpr uint64_t capitals8(uint64_t x) {
    constexpr uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
    const uint64_t geA = (x | high) - ones * 'A';        // high bit: low seven bits >= 'A'
    const uint64_t gtZ = (x | high) - ones * ('Z' + 1);  // high bit: low seven bits > 'Z'
    return (geA & ~gtZ & ~x & high) >> 2;
}

// The key bytes of word bytes (ascii::isNameChar): a letter of either case
// gives ascii::toLower of it, a digit itself, "_" 0x7F (no other word byte
// gives it). Zero bytes stay.
constexpr uint64_t keyFold8(uint64_t x) { return x | ((x >> 1) & 0x2020202020202020ull); }

// Both against the byte tests they stand for, for every byte.
constexpr bool foldsAsTheByteTests() {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if ((capitals8(uint64_t(b)) != 0) != ascii::isUpper(c)) return false;
        if (ascii::isNameChar(c) && keyFold8(uint64_t(b)) != (c == '_' ? 0x7Fu : uint8_t(ascii::toLower(c))))
            return false;
    }
    return true;
}
static_assert(foldsAsTheByteTests());

// The key of a word (little-endian bytes); false when it is too long or empty
// or holds a byte no word of the table holds.
inline bool packKey(std::string_view w, Key& k, bool& hadUpper) {
    const size_t n = w.size();
    if (n > kMaxWord || n == 0) return false;
    const char* p = w.data();
    for (size_t i = 0; i < n; ++i)
        if (!ascii::isNameChar(p[i])) return false;
    uint64_t lo, hi = 0;
    if (n >= 8) {
        lo = load8(p);
        if (n > 8) hi = load8(p + n - 8) >> (8 * (16 - n));
    } else if (n >= 4) {
        lo = load4(p) | (load4(p + n - 4) << (8 * (n - 4)));
    } else {
        lo = uint64_t(static_cast<unsigned char>(p[0])) |
             uint64_t(static_cast<unsigned char>(p[n / 2])) << (8 * (n / 2)) |
             uint64_t(static_cast<unsigned char>(p[n - 1])) << (8 * (n - 1));
    }
    k.lo = keyFold8(lo);
    k.hi = keyFold8(hi) | uint64_t(n) << 56;
    hadUpper = (capitals8(lo) | (n > 8 ? capitals8(hi) : 0)) != 0;
    return true;
}

// The same key from sixteen readable bytes at p, of which the word is the
// first n (1 to 12), all of them word bytes: two loads and masks instead of
// byte assembly.
inline Key paddedKey(const char* p, size_t n) {
    const uint64_t lo = load8(p) & (n >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * n)) - 1);
    uint64_t hi = 0;
    if (n > 8) hi = keyFold8(load8(p + 8) & ((uint64_t(1) << (8 * (n - 8))) - 1));
    Key k;
    k.lo = keyFold8(lo);
    k.hi = hi | uint64_t(n) << 56;
    return k;
}

// The top bits of one product: every bit of the key reaches them.
inline uint32_t slotOf(const Key& k, uint32_t mask) {
    const uint64_t h = (k.lo ^ k.hi) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 54) & mask;
}

class Table {
public:
    static constexpr uint32_t kSlots = 1024;  // a power of two, about twice the words
    static_assert(kSlots <= 1024, "slotOf gives ten bits");

    Table() {
        static const char* const keywords[] = {
            "program", "const",  "imports",   "procedure", "function", "stdcall",   "if",           "elseif",
            "else",    "repeat", "until",     "while",     "continue", "break",     "block",        "return",
            "uses",    "inline", "tokentype", "type",      "as",       "enum",      "union",        "ord",
            "exports", "entry",  "sizeof",    "tokentext", "casttype", "isptrtype", "issignedtype", "exitif",
        };
        static_assert(sizeof(keywords) / sizeof(keywords[0]) + 1 == key__TOTAL);
        for (size_t i = 0; i < std::size(keywords); ++i) at(keywords[i]).keyword = static_cast<TKeyword>(i + 1);

        static const char* const r8[] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
        static const char* const r16[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
        static const char* const r32[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
        static const char* const r64[] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi"};
        static const char* const gp[] = {"gp_ax", "gp_cx", "gp_dx", "gp_bx", "gp_sp", "gp_bp", "gp_si", "gp_di"};
        for (uint8_t i = 0; i < 8; ++i) {
            setReg(r8[i], TWord::rcAlways, static_cast<uint8_t>(REG_AL + i));
            setReg(r16[i], TWord::rcAlways, static_cast<uint8_t>(REG_AX + i));
            setReg(r32[i], TWord::rc32, i);
            setReg(r64[i], TWord::rc64, i);
            setReg(gp[i], TWord::rcGp, i);
        }
        static const std::pair<const char*, TSegment> segs[] = {
            {"cs", SEG_CS}, {"ss", SEG_SS}, {"ds", SEG_DS}, {"es", SEG_ES}, {"fs", SEG_FS}, {"gs", SEG_GS},
        };
        for (const auto& [n, s] : segs) at(n).segment = s;
        for (const TInstruction& row : instructions) at(row.name).mnemonic = &row;
    }

    const TWord* find(std::string_view w, bool* hadUpper) const {
        Key k;
        bool upper = false;
        if (!packKey(w, k, upper)) return nullptr;
        if (hadUpper) *hadUpper = upper;
        return probe(k);
    }

    const TWord* findPadded(const char* p, size_t n) const {
        if (n > kMaxWord || n == 0) return nullptr;
        return probe(paddedKey(p, n));
    }

    void forgetDeclared() const {
        for (const Slot& e : F_Slots) e.word.declared = false;
    }

private:
    const TWord* probe(const Key& k) const {
        for (uint32_t s = slotOf(k, kSlots - 1);; s = (s + 1) & (kSlots - 1)) {
            const Slot& e = F_Slots[s];
            if (e.key == k) return &e.word;
            if (e.key.empty()) return nullptr;
        }
    }

    // A word and what it is share one cache line.
    struct alignas(32) Slot {
        Key key;  // zero: a free slot
        TWord word;
    };

    TWord& at(std::string_view name) {
        Key k;
        bool upper;
        if (!packKey(name, k, upper)) throw std::length_error("not a word for the table");
        for (uint32_t s = slotOf(k, kSlots - 1);; s = (s + 1) & (kSlots - 1)) {
            Slot& e = F_Slots[s];
            if (e.key == k) return e.word;
            if (e.key.empty()) {
                if (++F_Count > kSlots / 2) throw std::length_error("word table full");
                e.key = k;
                return e.word;
            }
        }
    }
    void setReg(const char* name, TWord::RegClass c, uint8_t reg) {
        TWord& w = at(name);
        w.regClass = c;
        w.reg = reg;
    }

    std::array<Slot, kSlots> F_Slots{};
    uint32_t F_Count = 0;
};

[[gnu::noinline]] const Table& buildTable() {
    static const Table t;
    return t;
}

// Set before main; a lookup from an earlier static initializer builds the table.
const Table* g_Table = nullptr;

inline const Table& table() {
    if (!g_Table) [[unlikely]]
        g_Table = &buildTable();
    return *g_Table;
}

}  // namespace

namespace words {

const TWord* find(std::string_view word, bool* hadUpper) { return table().find(word, hadUpper); }

const TWord* findPadded(const char* p, size_t n) { return table().findPadded(p, n); }

void noteDeclared(std::string_view name) {
    if (const TWord* w = find(name)) w->declared = true;
}

void forgetDeclared() { table().forgetDeclared(); }

}  // namespace words

// Built before main: the first word read finds the table ready.
namespace {
[[maybe_unused]] const Table& g_Built = table();
}
