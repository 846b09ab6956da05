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

#include "afile.h"
#include "classes/const_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "classes/super_string_list.h"
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

TCurrentToken* tok() { return Compiler->F_CurToken; }
TAFile* src() { return Compiler->F_CurFile; }

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

// "[n]" dimensions after a name; the element count. A "[]" ends the list when
// emptyEnds, else it is refused like any missing number.
uint32_t readDimensions(bool emptyEnds, const char* noNumber, const char* noClose, const char* tooLarge) {
    uint64_t m = 1;
    while (src()->peekNextRealChar(true) == '[') {
        takePeek();
        if (emptyEnds && src()->peekNextRealChar(true) == ']') {
            takePeek();
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

// Stores the current token (number, float or ansi string) into n bytes of v's
// content from offset on; what the value does not cover stays as it is.
void storeValue(PVar v, uint32_t offset, uint32_t n) {
    const TCurrentToken* t = tok();
    const TVarType* tp = v->type_;
    std::string bytes;
    if (t->F_Type == ttAnsiString) {
        bytes = t->F_String;
        bytes.push_back('\0');
    } else if (tp && tp->vt == dtFloat) {
        bytes = floatBytes(t->F_Extended, tp->size);
    } else {
        const auto u = static_cast<uint64_t>(t->F_Integer);
        for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<char>(u >> (8 * b)));
    }
    const uint32_t have = tavCount(v->content);
    if (offset >= have) return;
    uint64_t len = std::min<uint64_t>(bytes.size(), n);
    len = std::min<uint64_t>(len, have - offset);
    std::memcpy(v->content + offset, bytes.data(), static_cast<size_t>(len));
}

// "= init" of a global; returns after the token that ends the item ("," or ";").
void readInitialiser(PVar v, uint32_t m) {
    v->initialised = 1;
    const uint32_t size = v->type_ ? v->type_->size : 0;
    tavArrayResize(v->content, dataBytes(v->type_, m, "5323"));
    if (src()->peekNextRealChar(true) == '[') {
        uint32_t i = 0;
        do {
            if (m != 1 && uint64_t(i) + 1 > m) Log->FatalError("[5322] Array out of bounds", true);
            takePeek();  // "[" or ","
            if (Compiler->ExpectToken({ttNumber, ttFloat, ttAnsiString}) == ttNone) Log->FatalUnexpectedToken("106");
            if (m == 1 && i > 0) {
                // An open array grows with its list.
                tavArrayResize(v->content, dataBytes(v->type_, i + 1, "5323"));
            }
            storeValue(v, i * size, size);
            ++i;
        } while (src()->peekNextRealChar(true) == ',');
        v->multiplier = (m == 1 && i > 1) ? i : m;
        if (src()->peekNextRealChar(true) != ']') unexpectedNext("6542");
        Compiler->ExpectSymbol("]");
    } else {
        if (Compiler->ExpectToken({ttNumber, ttFloat, ttAnsiString}) == ttNone) Log->FatalUnexpectedToken("104");
        storeValue(v, 0, tavCount(v->content));
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
        Log->FatalError("[" + std::string(code) + "] Duplicate member \"" + tok()->F_String + "\" in block \"" +
                            written + "\"",
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
        if (Compiler->ExpectToken({ttIdent}) == ttNone) Log->FatalUnexpectedToken("100");
        if (tok()->F_IdentType != itNone || tok()->F_Keyword != keyNone) Log->FatalRedeclared();
        const std::string name = tok()->F_String;
        const uint32_t m = readDimensions(true, "105", "106", "5323");
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
        readInitialiser(v, m);
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
    case ttNumber:
        Consts->addConst(name, t->F_Integer, ctValue);
        break;
    case ttAnsiString:
        Consts->addConst(name, t->F_String, ctAnsiString);
        break;
    case ttWideString:
        Consts->addConst(name, t->F_String, ctWideString);
        break;
    default:
        Log->FatalUnexpectedToken("5311");
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
