// Compile-time expressions: the value of "#name = ...", "const" and "enum"
// items. Values are 80-bit extended; the bitwise operators work on integers,
// their right operands read by a 32-bit integer family of rules.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "reader/afile.h"
#include "compiler.h"
#include "reader/cur_token.h"
#include "exceptions.h"
#include "global.h"
#include "handlers/handlers.h"
#include "log.h"
#include "nesting_guard.h"

static_assert(std::numeric_limits<long double>::digits == 64, "80-bit extended arithmetic needed");

namespace {

using Ext = long double;

// Parentheses nest by recursion; past this the value is rejected.
constexpr uint32_t kMaxExprDepth = 200;
uint32_t g_ExprDepth = 0;

// ---- arithmetic with the runtime's exceptions ----

[[noreturn]] void invalidOp() { throw EInvalidOp("Invalid floating point operation"); }

Ext checked(Ext r) {
    if (std::isnan(r)) invalidOp();
    if (std::isinf(r)) throw EOverflow("Floating point overflow");
    return r;
}

Ext extDiv(Ext a, Ext b) {
    if (b == 0) {
        if (a == 0) invalidOp();
        throw EZeroDivide("Floating point division by zero");
    }
    return checked(a / b);
}

// To nearest, ties to even; a value outside the signed 64-bit range fails.
int64_t rounded(Ext v) {
    constexpr Ext two63 = 9223372036854775808.0L;
    const Ext r = std::nearbyint(v);
    if (!(r >= -two63 && r < two63)) invalidOp();
    return static_cast<int64_t>(r);
}

[[noreturn]] void divByZero() { throw EDivByZero("Division by zero"); }

int64_t mod64(int64_t a, int64_t b) {
    if (b == 0) divByZero();
    if (b == -1) return 0;  // the smallest value would overflow the quotient
    return a % b;
}

uint64_t shift64(int64_t v, int32_t count, bool left) {
    const uint32_t n = static_cast<uint32_t>(count) & 0xFFu;
    if (n >= 64) return 0;
    const auto u = static_cast<uint64_t>(v);
    return left ? u << n : u >> n;
}

int32_t mod32(int32_t a, int32_t b) {
    if (b == 0) divByZero();
    if (b == -1) return 0;
    return a % b;
}

int32_t div32(int32_t a, int32_t b) {
    if (b == 0) divByZero();
    if (a == std::numeric_limits<int32_t>::min() && b == -1) throw EIntOverflow("Arithmetic overflow");
    return a / b;
}

int32_t low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

Ext fromInt(int64_t v) { return static_cast<Ext>(v); }

// ---- reading ----

// The next token when it is one of ops (a symbol or a word in lower case),
// consumed; an empty text (nothing read) otherwise.
std::string nextOperator(std::initializer_list<const char*> ops) {
    const TTavToken t = src()->peekNextToken();
    if (t != ttSymbol && t != ttIdent) return std::string();
    const std::string& text = Compiler->F_PeekToken->F_String;
    for (const char* op : ops) {
        if (text == op) {
            std::string found = text;
            src()->moveLastPeek();
            return found;
        }
    }
    return std::string();
}

Ext evalExpression();
Ext evalTerm();
Ext evalFactor();
int32_t evalTermInt();
int32_t evalFactorInt();

// True when the "-" at position minus starts -9223372036854775808: only
// the number token with its sign holds the smallest 64-bit value, the
// digits alone are out of range.
bool smallestInteger(const TAFile* f, uint32_t minus) {
    static const std::string digits = "9223372036854775808";
    uint32_t p = minus + 1;
    while (f->charAt(p) == '0') ++p;
    for (char d : digits)
        if (f->charAt(p++) != d) return false;
    const char next = f->charAt(p);
    return next != '.' && !(next >= '0' && next <= '9');
}

Ext evalExpression() {
    TNestingGuard nest(g_ExprDepth, kMaxExprDepth, "[767] Expression nested too deeply");
    Ext left;
    const char c = src()->peekNextRealChar(true);
    if (c == '+') {
        src()->commitPeekPosition();
        left = evalTerm();
    } else if (c == '-' && !smallestInteger(src(), src()->F_LPCurChar)) {
        src()->commitPeekPosition();
        left = -evalTerm();
    } else {
        left = evalTerm();
    }
    for (;;) {
        const std::string op = nextOperator({"or", "xor", "-", "+"});
        if (op.empty()) return left;
        if (op == "or" || op == "xor") {
            const int64_t l = rounded(left), r = evalTermInt();
            left = fromInt(op == "or" ? (l | r) : (l ^ r));
        } else {
            const Ext r = evalTerm();
            left = checked(op == "-" ? left - r : left + r);
        }
    }
}

Ext evalTerm() {
    Ext left = evalFactor();
    for (;;) {
        const std::string op = nextOperator({"and", "shl", "shr", "mod", "/", "*"});
        if (op.empty()) return left;
        if (op == "/" || op == "*") {
            const Ext r = evalFactor();
            left = op == "/" ? extDiv(left, r) : checked(left * r);
            continue;
        }
        const int64_t l = rounded(left);
        const int32_t r = evalFactorInt();
        if (op == "and") left = fromInt(l & r);
        else if (op == "mod") left = fromInt(mod64(l, r));
        else left = fromInt(static_cast<int64_t>(shift64(l, r, op == "shl")));
    }
}

int32_t evalTermInt() {
    int32_t left = evalFactorInt();
    for (;;) {
        const std::string op = nextOperator({"and", "shl", "shr", "mod", "/", "*"});
        if (op.empty()) return left;
        const int32_t r = evalFactorInt();
        const auto ul = static_cast<uint32_t>(left), ur = static_cast<uint32_t>(r);
        if (op == "and") left = static_cast<int32_t>(ul & ur);
        else if (op == "shl") left = static_cast<int32_t>(ul << (ur & 31u));
        else if (op == "shr") left = static_cast<int32_t>(ul >> (ur & 31u));
        else if (op == "mod") left = mod32(left, r);
        else if (op == "/") left = div32(left, r);
        else left = static_cast<int32_t>(ul * ur);
    }
}

Ext evalFactor() {
    switch (Compiler->ExpectToken({ttNumber, ttSymbol, ttFloat})) {
    case ttNumber: return fromInt(tok()->F_Integer);
    case ttFloat: return tok()->F_Extended;
    case ttSymbol: {
        if (tok()->F_String != "(") Log->FatalUnexpectedToken("723");
        const Ext v = evalExpression();
        if (!Compiler->ExpectSymbol(")")) Log->FatalUnexpectedToken("756");
        return v;
    }
    default: Log->FatalUnexpectedToken("765");
    }
}

int32_t evalFactorInt() {
    switch (Compiler->ExpectToken({ttNumber, ttSymbol})) {
    case ttNumber: return low32(tok()->F_Integer);
    case ttSymbol: {
        if (tok()->F_String != "(") Log->FatalUnexpectedToken("983");
        const int32_t v = low32(rounded(evalExpression()));
        if (!Compiler->ExpectSymbol(")")) Log->FatalUnexpectedToken("876");
        return v;
    }
    default: Log->FatalUnexpectedToken("865");
    }
}

}  // namespace

void handle_MACROVAR_tokens() {
    const TTavToken t = src()->peekNextToken();
    const bool numeric = t == ttNumber || t == ttFloat || (t == ttSymbol && Compiler->F_PeekToken->F_String == "(");
    if (!numeric) {
        src()->moveLastPeek();
        return;
    }
    Ext v;
    int64_t r;
    try {
        v = evalExpression();
        r = rounded(v);
    } catch (const Exception& e) {
        // A fault of the arithmetic keeps its name and text and gains the
        // position where the evaluation stopped.
        if (!dynamic_cast<const EZeroDivide*>(&e) && !dynamic_cast<const EInvalidOp*>(&e) &&
            !dynamic_cast<const EOverflow*>(&e) && !dynamic_cast<const EDivByZero*>(&e) &&
            !dynamic_cast<const EIntOverflow*>(&e))
            throw;
        Log->FatalError(e.ClassName() + ": " + e.Message(), true);
    }
    TCurrentToken* tk = tok();
    tk->F_Type = ttNumber;
    tk->F_Integer = r;
    tk->F_Extended = v;
    tk->F_String = std::to_string(r);
}
