// Data declarations: type aliases, variables, block types, constants and
// enumerations. They emit no code; they fill the identifier table, the
// constant pool and the type and variable manager, and locals reserve room
// in the current function's frame.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "global.h"
#include "handlers/handlers.h"
#include "log.h"

namespace {

// No variable, frame or block may exceed this many bytes: displacements and
// image offsets are signed 32-bit.
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFF;

bool isSymbol(const char* s) { return tok()->F_Type == ttSymbol && tok()->F_String == s; }

// The current token names a type (a keyword never does).
PVarType currentType() {
    TCurrentToken* t = tok();
    if (t->F_Type != ttIdent || t->F_Keyword != keyNone || t->F_IdentType != itType) return nullptr;
    return static_cast<PVarType>(t->F_Pointer);
}

// Takes a peeked character.
void takePeek() { src()->commitPeekPosition(); }

// Reads the token that stands where a character was expected and reports it.
[[noreturn]] void unexpectedNext(const char* code) {
    src()->moveNextToken();
    Log->FatalUnexpectedToken(code);
}

// The name of a variable being declared: a "[" after it starts its count.
TTavToken readName() {
    struct NameOnly {
        NameOnly() { Compiler->F_NameOnly = true; }
        ~NameOnly() { Compiler->F_NameOnly = false; }
    } scope;
    return Compiler->ExpectToken({ttIdent});
}

// "[n]" dimensions after a name; the element count. A "[]" ends the list when
// emptyEnds, else it is refused like any missing number.
uint32_t readDimensions(bool emptyEnds, const char* noNumber, const char* noClose, const char* tooLarge,
                        bool* open = nullptr) {
    uint64_t m = 1;
    while (src()->peekNextRealChar(true) == '[') {
        takePeek();
        if (emptyEnds && src()->peekNextRealChar(true) == ']') {
            takePeek();
            if (open) *open = true;
            break;
        }
        if (Compiler->ExpectToken({ttNumber}) == ttNone) Log->FatalUnexpectedToken(noNumber);
        const int64_t n = tok()->F_Integer;
        // A count must not wrap: a[65536][65536] is no array of 0 elements.
        if (n < 0 || uint64_t(n) > 0xFFFFFFFFull || (n != 0 && m > 0xFFFFFFFFull / uint64_t(n)))
            Log->FatalError(std::string("[") + tooLarge + "] Array size out of range", true);
        m *= uint64_t(n);
        if (!Compiler->ExpectSymbol("]")) Log->FatalUnexpectedToken(noClose);
    }
    return static_cast<uint32_t>(m);
}

// Bytes of count elements of t, refused beyond the data limit.
uint32_t dataBytes(const TVarType* t, uint32_t count, const char* tooLarge) {
    const uint64_t bytes = uint64_t(t ? t->size : 0) * count;
    if (bytes > kMaxDataBytes) Log->FatalError(std::string("[") + tooLarge + "] Array size out of range", true);
    return static_cast<uint32_t>(bytes);
}

// The binary form of a value in a float type of size bytes.
std::string floatBytes(long double v, uint32_t size) {
    std::string out;
    if (size == 4) {
        // Beyond the largest single (and its rounding margin) the value is infinite.
        const long double limit = static_cast<long double>(FLT_MAX) + std::ldexp(1.0L, 103);
        float f = std::isfinite(v) && std::fabs(v) >= limit ? (v < 0 ? -INFINITY : INFINITY) : static_cast<float>(v);
        out.assign(reinterpret_cast<const char*>(&f), 4);
    } else if (size == 8) {
        const long double limit = static_cast<long double>(DBL_MAX) + std::ldexp(1.0L, 970);
        double d = std::isfinite(v) && std::fabs(v) >= limit ? (v < 0 ? -HUGE_VAL : HUGE_VAL) : static_cast<double>(v);
        out.assign(reinterpret_cast<const char*>(&d), 8);
    } else {
        const TAVEXT e = toTavExt(v);
        out.assign(reinterpret_cast<const char*>(e.bytes), sizeof e.bytes);
    }
    return out;
}

// UTF-8 text as UTF-16 code units, little-endian; a malformed byte becomes U+FFFD.
std::string utf16Bytes(const std::string& s) {
    std::string out;
    auto unit = [&out](uint32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else {
            const size_t need = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            bool ok = need != 0 && i + need <= s.size();
            uint32_t v = need == 4 ? c & 0x07 : need == 3 ? c & 0x0F : c & 0x1F;
            for (size_t k = 1; ok && k < need; ++k) {
                const auto d = static_cast<unsigned char>(s[i + k]);
                ok = (d & 0xC0) == 0x80;
                v = (v << 6) | (d & 0x3F);
            }
            const uint32_t least = need == 4 ? 0x10000 : need == 3 ? 0x800 : 0x80;
            if (ok && v >= least && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                cp = v;
                len = need;
            }
        }
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
        i += len;
    }
    return out;
}

bool isText(const TCurrentToken* t) { return t->F_Type == ttAnsiString || t->F_Type == ttWideString; }

// The bytes of the current text token for elements of type tp, with its
// zero: UTF-16 for a wide text and for 2-byte elements, else the bytes.
std::string textBytes(const TVarType* tp) {
    const TCurrentToken* t = tok();
    const bool wide = t->F_Type == ttWideString || (tp && tp->size == 2 && tp->vt != dtFloat);
    std::string bytes = wide ? utf16Bytes(t->F_String) : t->F_String;
    bytes.append(wide ? 2 : 1, '\0');
    return bytes;
}

std::string quoted(const TCurrentToken* t) {
    const char q = t->F_Type == ttWideString ? '"' : '\'';
    return q + t->F_String + q;
}

// A value that does not fit n bytes, by the rule for immediates: signed
// or unsigned, -128..255 for a byte.
void checkFits(int64_t value, uint32_t n, const std::string& what) {
    if (n == 0 || n >= 8) return;
    const int64_t lo = -(int64_t(1) << (8 * n - 1));
    const int64_t hi = (int64_t(1) << (8 * n)) - 1;
    if (value >= lo && value <= hi) return;
    Log->FatalError("[5325] " + rangeText(value, lo, hi) + " for " + what, true);
}

// Stores the current token (number, float or text) as a value of type tp
// into n bytes of v's content from offset on; what the value does not cover
// stays as it is. A number must fit tp, a text (its zero byte may be left
// out) the n bytes.
void storeValue(PVar v, const TVarType* tp, uint32_t offset, uint32_t n, const std::string& what) {
    const TCurrentToken* t = tok();
    std::string bytes;
    if (isText(t)) {
        bytes = textBytes(tp);
        const bool wide = t->F_Type == ttWideString || (tp && tp->size == 2 && tp->vt != dtFloat);
        const size_t need = bytes.size() - (wide ? 2 : 1);
        if (need > n)
            Log->FatalError("[5326] Text " + quoted(t) + " takes " + std::to_string(need) + " bytes" +
                                (wide ? " as UTF-16" : "") + ", more than the " + std::to_string(n) + " of " + what,
                            true);
    } else if (tp && tp->vt == dtFloat) {
        bytes = floatBytes(t->F_Extended, tp->size);
    } else {
        // An integer takes a float only when nothing of it would be lost.
        if (t->F_Type == ttFloat && t->F_Extended != std::trunc(t->F_Extended))
            Log->FatalError(
                "[5328] Value " + t->F_String + " has a fraction, which the integer " + what + " cannot hold", true);
        checkFits(t->F_Integer, tp ? tp->size : 0, what);
        const auto u = static_cast<uint64_t>(t->F_Integer);
        for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<char>(u >> (8 * b)));
    }
    const uint32_t have = tavCount(v->content);
    if (offset >= have) return;
    uint64_t len = std::min<uint64_t>(bytes.size(), n);
    len = std::min<uint64_t>(len, have - offset);
    std::memcpy(v->content + offset, bytes.data(), static_cast<size_t>(len));
}

bool isBlock(const TVarType* t) { return t && t->fieldcount > 0; }

// A data member to be filled by a list: count elements of type at offset.
struct MemberSlot {
    uint32_t offset;
    const TVarType* type;
    uint32_t count;
    std::string name;
};

// The members of a block in order, those of nested blocks in their place;
// a union takes its values in its first member.
void memberSlots(const TVarType* block, uint32_t base, const std::string& path, std::vector<MemberSlot>& out) {
    uint32_t end = 0;
    for (uint32_t i = 0; i < block->fieldcount; ++i) {
        const TVarField& f = block->fields[i];
        if (f.ft != vftType || !f.variable.name || !*f.variable.name) continue;
        const TVar& m = f.variable;
        if (m.address < end) continue;  // a later member of a union
        const std::string name = path + "." + m.name;
        const uint32_t size = m.type_ ? m.type_->size : 0;
        if (isBlock(m.type_)) {
            for (uint32_t e = 0; e < m.multiplier; ++e)
                memberSlots(m.type_, base + m.address + e * size,
                            m.multiplier > 1 ? name + "[" + std::to_string(e) + "]" : name, out);
        } else {
            out.push_back({base + m.address, m.type_, m.multiplier, name});
        }
        end = m.address + size * m.multiplier;
    }
}

// "[a, b, ...]" for a block variable (m elements, or as many as the list
// fills when open): the values fill the members in order, each checked
// against its member; a text fills what is left of an array member. (A
// single value fills the block's bytes, as for any other type.)
void readBlockList(PVar v, uint32_t m, bool open) {
    const TVarType* tp = v->type_;
    const std::string name = tavString(v->name);
    std::vector<MemberSlot> slots;
    memberSlots(tp, 0, "", slots);
    uint32_t elements = open ? 1 : m;
    size_t s = 0;    // the member being filled, over all elements
    uint32_t k = 0;  // its next element
    do {
        takePeek();  // "[" or ","
        if (Compiler->ExpectToken({ttNumber, ttFloat, ttAnsiString, ttWideString}) == ttNone)
            Log->FatalUnexpectedToken("106");
        if (slots.empty() || s / slots.size() >= elements) {
            if (!open || slots.empty())
                Log->FatalError("[5327] More values than members of " + tavString(tp->name) + " in " + name, true);
            elements += 1;
            tavArrayResize(v->content, dataBytes(tp, elements, "5323"));
        }
        const uint32_t e = static_cast<uint32_t>(s / slots.size());
        const MemberSlot& slot = slots[s % slots.size()];
        const uint32_t esize = slot.type ? slot.type->size : 0;
        const bool whole = isText(tok()) && k == 0;
        const std::string what = name + (elements > 1 || open ? "[" + std::to_string(e) + "]" : "") + slot.name +
                                 (slot.count > 1 && !whole ? "[" + std::to_string(k) + "]" : "");
        const uint32_t at = e * tp->size + slot.offset + k * esize;
        if (isText(tok())) {
            // A text fills what is left of its member.
            storeValue(v, slot.type, at, (slot.count - k) * esize, what);
            k = slot.count;
        } else {
            storeValue(v, slot.type, at, esize, what);
            ++k;
        }
        if (k >= slot.count) {
            ++s;
            k = 0;
        }
    } while (src()->peekNextRealChar(true) == ',');
    v->multiplier = elements;
    if (src()->peekNextRealChar(true) != ']') unexpectedNext("6542");
    Compiler->ExpectSymbol("]");
}

// "= init" of a global; returns after the token that ends the item ("," or ";").
// open: the count was written "[]", to be taken from the initial value.
void readInitialiser(PVar v, uint32_t m, bool open) {
    v->initialised = 1;
    const TVarType* tp = v->type_;
    const uint32_t size = tp ? tp->size : 0;
    const std::string name = tavString(v->name);
    tavArrayResize(v->content, dataBytes(tp, m, "5323"));
    if (isBlock(tp) && src()->peekNextRealChar(true) == '[') {
        readBlockList(v, m, open);
    } else if (src()->peekNextRealChar(true) == '[') {
        uint32_t i = 0;
        do {
            if (m != 1 && uint64_t(i) + 1 > m) Log->FatalError("[5322] Array out of bounds", true);
            takePeek();  // "[" or ","
            if (Compiler->ExpectToken({ttNumber, ttFloat, ttAnsiString, ttWideString}) == ttNone)
                Log->FatalUnexpectedToken("106");
            if (m == 1 && i > 0) {
                // An open array grows with its list.
                tavArrayResize(v->content, dataBytes(tp, i + 1, "5323"));
            }
            storeValue(v, tp, i * size, size, name + "[" + std::to_string(i) + "]");
            ++i;
        } while (src()->peekNextRealChar(true) == ',');
        v->multiplier = (m == 1 && i > 1) ? i : m;
        if (src()->peekNextRealChar(true) != ']') unexpectedNext("6542");
        Compiler->ExpectSymbol("]");
    } else {
        if (Compiler->ExpectToken({ttNumber, ttFloat, ttAnsiString, ttWideString}) == ttNone)
            Log->FatalUnexpectedToken("104");
        if (open && isText(tok()) && size > 0) {
            // The count is what the text and its zero take.
            const uint64_t count = (textBytes(tp).size() + size - 1) / size;
            if (count > 0xFFFFFFFFull) Log->FatalError("[5323] Array size out of range", true);
            v->multiplier = static_cast<uint32_t>(count);
            tavArrayResize(v->content, dataBytes(tp, v->multiplier, "5323"));
        }
        storeValue(v, tp, 0, tavCount(v->content), name);
    }
    const char c = src()->peekNextRealChar(true);
    if (c != ',' && c != ';') unexpectedNext("63542");
    src()->moveNextToken();
}

// One data member of a block (or of a union in it) at offset; its size.
uint32_t addDataMember(PVarType block, PVarType type, const std::string& name, uint32_t count, uint32_t offset) {
    const uint32_t bytes = dataBytes(type, count, "60008");
    VarMan->addField(block, vftType, name, type, count, offset, nullptr);
    if (bytes > block->largestfield) block->largestfield = bytes;
    // Only so that a second member of this name is refused; it names nothing.
    Idents->addIdent(itReservedKeyword, name, nullptr);
    return bytes;
}

// A member name that is not free: a second member of the name is said to
// be one, anything else is the unexpected token it is.
[[noreturn]] void memberNameTaken(PVarType block, const std::string& written, const char* code) {
    if (tok()->F_Type == ttIdent && tok()->F_Keyword == keyNone && findField(block, tok()->F_String))
        Log->FatalError(
            "[" + std::string(code) + "] Duplicate member \"" + tok()->F_String + "\" in block \"" + written + "\"",
            true);
    Log->FatalUnexpectedToken(code);
}

// The block's size grown by bytes, refused beyond the data limit.
uint32_t growBlock(PVarType block, uint32_t offset, uint32_t bytes) {
    if (uint64_t(offset) + bytes > kMaxDataBytes) Log->FatalError("[60009] Block too large", true);
    block->size = offset + bytes;
    return offset + bytes;
}

}  // namespace

void handle_TYPE() {
    if (!Compiler->ExpectFreeIdent()) Log->FatalRedeclared();
    const std::string name = lowerAscii(tok()->F_String);
    if (!Compiler->ExpectSymbol("=")) Log->FatalUnexpectedToken("561");
    Compiler->ExpectIdentType({itType});
    PVarType t = currentType();
    if (!t) Log->FatalUnexpectedToken("64");
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("562");
    Idents->addIdent(itType, name, t);
}

void handle_VARTYPE() {
    const PVarType tp = static_cast<PVarType>(tok()->F_Pointer);
    if (!tp) throw EInternalError("Variable declaration without a type");
    PFunction fn = Compiler->F_CurFunc;
    const bool local = fn && fn->FuncIndex != 0;
    for (;;) {
        if (readName() == ttNone) Log->FatalUnexpectedToken("100");
        if (tok()->F_IdentType != itNone || tok()->F_Keyword != keyNone) Log->FatalRedeclared();
        const std::string name = tok()->F_String;
        bool open = false;
        const uint32_t m = readDimensions(true, "105", "106", "5323", &open);
        const uint32_t bytes = dataBytes(tp, m, "5323");
        src()->moveNextToken();

        PVar v;
        if (local) {
            // Every local takes whole stack slots, so the frame stays aligned
            // with what the prologue reserves and the epilogue releases.
            const uint32_t word = ptrSize ? ptrSize : 4;
            const uint64_t slots = (uint64_t(bytes) + word - 1) / word * word;
            if (uint64_t(fn->LocalSize) + slots + 4 > kMaxDataBytes)
                Log->FatalError("[5324] Local variables too large", true);
            // Addressed as frame register + address + word size: it ends
            // where the locals before it begin.
            v = VarMan->addVar(vmLocal, name, tp, m, static_cast<uint32_t>(-int64_t(fn->LocalSize + bytes + word)));
            fn->LocalSize += static_cast<uint32_t>(slots);
            fn->LocalCount += 1;
        } else {
            v = VarMan->addVar(vmGlobal, name, tp, m, 0);
        }

        if (tok()->F_Type != ttSymbol) Log->FatalUnexpectedToken("102");
        const char c = tok()->F_String.empty() ? '\0' : tok()->F_String[0];
        if (c == ',') continue;
        if (c == ';') return;
        if (c != '=') Log->FatalUnexpectedToken("101");
        if (local) Log->FatalError("[4891] Local variables can not be initialized", true);
        readInitialiser(v, m, open && m == 1);
        if (isSymbol(";")) return;
    }
}

void handle_BLOCK() {
    if (!Compiler->ExpectFreeIdent()) Log->FatalUnexpectedToken("60002");
    const std::string written = tok()->F_String;
    PVarType block = VarMan->addType(lowerAscii(written), 0, int64_t(0), int64_t(0), false, false);
    if (!Compiler->ExpectSymbol("{")) Log->FatalUnexpectedToken("122");
    uint32_t offset = 0;

    src()->moveNextToken();
    if (!isSymbol("}")) {
        Idents->upScope();
        while (!isSymbol("}")) {
            const TKeyword key = tok()->F_Keyword;
            if (key == keyProcedure || key == keyFunction) {
                if (src()->peekNextToken() == ttIdent && Compiler->F_PeekToken->F_Keyword == keyNone &&
                    findField(block, Compiler->F_PeekToken->F_String)) {
                    src()->moveLastPeek();
                    memberNameTaken(block, written, "586483");
                }
                PFunction f = handle_FUNCDECL(-1, true);
                const std::string member = lowerAscii(tavView(f->Name));
                VarMan->addField(block, vftFunc, member, nullptr, 0, 0, f);
                Idents->addIdent(itReservedKeyword, member, nullptr);
                tavAssign(f->Name, written + "$" + tavString(f->Name));
                tavAssign(f->ImportName, written + "$" + tavString(f->ImportName));
                src()->moveNextToken();
            } else if (key == keyUnion) {
                if (!Compiler->ExpectSymbol("{")) Log->FatalUnexpectedToken("34");
                uint32_t u = 0;
                src()->moveNextToken();
                while (!isSymbol("}")) {
                    PVarType type = currentType();
                    if (!type) Log->FatalUnexpectedToken("8490");
                    if (!Compiler->ExpectFreeIdent()) memberNameTaken(block, written, "75345");
                    const std::string name = lowerAscii(tok()->F_String);
                    const uint32_t count = readDimensions(false, "7558", "425634", "60008");
                    u = std::max(u, addDataMember(block, type, name, count, offset));
                    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("5845");
                    src()->moveNextToken();
                }
                offset = growBlock(block, offset, u);
                src()->moveNextToken();
            } else {
                PVarType type = currentType();
                if (!type) Log->FatalUnexpectedToken("342543");
                if (!Compiler->ExpectFreeIdent()) memberNameTaken(block, written, "586483");
                const std::string name = lowerAscii(tok()->F_String);
                const uint32_t count = readDimensions(false, "60006", "60007", "60008");
                offset = growBlock(block, offset, addDataMember(block, type, name, count, offset));
                if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("60003");
                src()->moveNextToken();
            }
        }
        Idents->deleteScope();
    }

    if (offset == 0) {
        // A block always has room for at least a pointer.
        VarMan->addField(block, vftType, "", VarMan->F_PtrType, 1, 0, nullptr);
        block->largestfield = ptrSize;
        block->size = ptrSize;
    }
}

void handle_CONST() {
    if (Compiler->ExpectToken({ttIdent}) == ttNone || tok()->F_Keyword != keyNone) Log->FatalUnexpectedToken("");
    const std::string name = tok()->F_String;
    if (!Compiler->ExpectSymbol("=")) Log->FatalUnexpectedToken("");
    handle_MACROVAR_tokens();
    TCurrentToken* t = tok();
    switch (t->F_Type) {
    case ttNumber: Consts->addConst(name, t->F_Integer, ctValue); break;
    case ttAnsiString: Consts->addConst(name, t->F_String, ctAnsiString); break;
    case ttWideString: Consts->addConst(name, t->F_String, ctWideString); break;
    default: Log->FatalUnexpectedToken("5311");
    }
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("");
}

void handle_ENUM() {
    if (!Compiler->ExpectFreeIdent()) Log->FatalReservedToken("352");
    if (!Compiler->ExpectSymbol(":")) Log->FatalUnexpectedToken("43");
    Compiler->ExpectIdentType({itType});
    const PVarType tp = currentType();
    if (!tp) Log->FatalUnexpectedToken("243");
    if (!Compiler->ExpectSymbol("{")) Log->FatalUnexpectedToken("12");

    // An item without a value follows the previous one; the first starts at 0.
    uint64_t value = 0;
    bool first = true;
    if (src()->peekNextRealChar(true) != '}') {
        for (;;) {
            if (!Compiler->ExpectFreeIdent()) Log->FatalRedeclared();
            const std::string name = tok()->F_String;
            if (src()->peekNextRealChar(true) == '=') {
                if (!Compiler->ExpectSymbol("=")) Log->FatalUnexpectedToken("64");
                handle_MACROVAR_tokens();
                if (tok()->F_Type != ttNumber) Log->FatalUnexpectedToken("53421");
                value = static_cast<uint64_t>(tok()->F_Integer);
            } else if (!first) {
                // Counting on past the 64-bit end would wrap to the other end of the range.
                if (value == (tp->signed_ ? uint64_t(INT64_MAX) : UINT64_MAX))
                    Log->FatalError("[324] Value is out of bounds", true);
                value += 1;
            }
            first = false;
            const bool out = tp->signed_ ? (int64_t(value) < tp->int_lower || int64_t(value) > tp->int_upper)
                                         : (value < uint64_t(tp->int_lower) || value > uint64_t(tp->int_upper));
            if (out) Log->FatalError("[324] Value is out of bounds", true);
            Consts->addConst(name, int64_t(value), ctValue);
            const char c = src()->peekNextRealChar(true);
            if (c == ',') {
                takePeek();
                continue;
            }
            if (c == '}') break;
            unexpectedNext("654");
        }
    }
    if (!Compiler->ExpectSymbol("}")) Log->FatalUnexpectedToken("13");
}
