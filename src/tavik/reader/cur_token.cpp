#include "reader/cur_token.h"

#include <cstring>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "reader/word_table.h"

int64_t truncExtended(long double v) {
    constexpr long double two63 = 9223372036854775808.0L;
    if (std::isnan(v) || v >= two63 || v < -two63) return INT64_MIN;  // x87 integer indefinite
    return static_cast<int64_t>(v);
}

std::string mo2str(TMathOp mo) {
    switch (mo) {
    case moAssign: return "=";
    case moIsEqual: return "==";
    case moNotEqual: return "!=";
    case moAdd: return "+";
    case moSub: return "-";
    case moMulU:
    case moMulS: return "*";
    case moDivU:
    case moDivS: return "/";
    case moAddBy: return "+=";
    case moSubBy: return "-=";
    case moMulByU:
    case moMulByS: return "*=";
    case moInc: return "++";
    case moDec: return "--";
    case moLowerS:
    case moLowerU: return "<";
    case moHigherS:
    case moHigherU: return ">";
    case moLowerSEqual:
    case moLowerUEqual: return "=<";
    case moHigherSEqual:
    case moHigherUEqual: return ">=";
    case moShiftLeft: return "<<";
    case moShiftRight: return ">>";
    default: return "";
    }
}

namespace {
int32_t bitsOf(int32_t bytes) { return static_cast<int32_t>(static_cast<uint32_t>(bytes) * 8u); }
}  // namespace

TCurrentToken::TCurrentToken() { setNull(); }

TCurrentToken::~TCurrentToken() { freeOperand(); }

void TCurrentToken::freeOperand() {
    delete F_Operand;
    F_Operand = nullptr;
}

POperand TCurrentToken::newOperand() {
    freeOperand();
    F_Operand = new TOperand;
    return F_Operand;
}

void TCurrentToken::setNull() {
    F_Type = ttEOF;
    F_Keyword = keyNone;
    F_IdentType = itNone;
    F_String.clear();
    F_Word = nullptr;
    F_DefName.clear();
    F_Register = REG_EAX;
    F_Segment = SEG_CS;
    F_Integer = 0;
    F_Extended = 0;
    F_Count = 0;
    F_ByteCount = 0;
    F_BitCount = 0;
    F_Pointer = nullptr;
    F_CastType = nullptr;
    F_Cast = false;
    F_WholeBytes = 0;
    F_Extra.Scale = 0;
    F_Extra.Displacement = 0;
    if (F_Operand) freeOperand();
}

TTavToken TCurrentToken::setInteger(int32_t bytecount, std::string_view str, int64_t int_) {
    return setType(ttNumber, bytecount, str, int_);
}

TTavToken TCurrentToken::setFloat(const std::string& str, long double fl) {
    setNull();
    F_Type = ttFloat;
    F_Extended = fl;
    F_Integer = truncExtended(fl);
    F_String = str;
    F_ByteCount = 10;
    F_BitCount = 80;
    return F_Type;
}

TTavToken TCurrentToken::setType(TTavToken tt, int32_t bytecount, std::string_view str, int64_t int_) {
    setNull();
    F_Type = tt;
    F_Integer = int_;
    F_Extended = static_cast<long double>(int_);
    F_String.append(str.data(), str.size());  // cleared by setNull
    F_ByteCount = bytecount;
    F_BitCount = bitsOf(bytecount);
    return F_Type;
}

TTavToken TCurrentToken::setRegister(TRegister reg, std::string_view str) {
    setNull();
    F_Type = ttRegister;
    F_Register = reg;
    F_Integer = reg;
    F_Extended = reg;
    F_String.append(str.data(), str.size());  // cleared by setNull
    F_ByteCount = regSize(reg);
    F_BitCount = bitsOf(F_ByteCount);
    return F_Type;
}

TTavToken TCurrentToken::setSegment(TSegment seg, const std::string& str) {
    setNull();
    F_Type = ttSegment;
    F_Segment = seg;
    F_Integer = seg;
    F_Extended = seg;
    F_String = str;
    return F_Type;
}

TTavToken TCurrentToken::setText(const std::string& str, TTavToken textType) {
    setNull();
    F_Type = textType;
    F_String = str;
    F_ByteCount = static_cast<int32_t>(static_cast<uint32_t>(str.size()) + 1u);
    F_BitCount = bitsOf(F_ByteCount);
    return F_Type;
}

TTavToken TCurrentToken::setSymbol(char c) {
    setNull();
    F_Type = ttSymbol;
    F_String.assign(1, c);
    F_ByteCount = 1;
    F_BitCount = 8;
    return F_Type;
}

TTavToken TCurrentToken::setBaseExp(int32_t size, int32_t regCount, TRegister reg1, TRegister reg2, int32_t disp,
                                    int32_t scale) {
    setNull();
    F_Type = ttBaseExp;
    F_Count = regCount;
    F_Register = reg1;
    F_Extra.Register_2 = reg2;
    F_Extra.Scale = scale;
    F_Extra.Displacement = disp;
    F_ByteCount = size;
    F_BitCount = bitsOf(size);
    // "(size) [reg1+reg2*scale+disp]", written in place.
    char buf[80];
    char* p = buf;
    auto num = [&](int32_t v) { p = std::to_chars(p, buf + sizeof buf, v).ptr; };
    auto reg = [&](TRegister r) {
        const std::string_view n = regNameView(r);
        const size_t k = std::min<size_t>(n.size(), 8);  // register names are short
        std::memcpy(p, n.data(), k);
        p += k;
    };
    *p++ = '(';
    num(size);
    *p++ = ')';
    *p++ = ' ';
    *p++ = '[';
    reg(reg1);
    if (regCount > 1) {
        *p++ = '+';
        reg(reg2);
    }
    if (scale > 0) {
        *p++ = '*';
        num(scale);
    }
    if (disp > 0) {
        *p++ = '+';
        num(disp);
    }
    F_String.assign(buf, static_cast<size_t>(p - buf));
    F_String += ']';
    return F_Type;
}

void TCurrentToken::setCurToken(const TCurrentToken& tk) {
    if (&tk == this) return;
    F_Type = tk.F_Type;
    F_Keyword = tk.F_Keyword;
    F_IdentType = tk.F_IdentType;
    F_String = tk.F_String;
    F_Word = tk.F_Word;
    F_Register = tk.F_Register;
    F_Segment = tk.F_Segment;
    F_Integer = tk.F_Integer;
    F_Extended = tk.F_Extended;
    F_Count = tk.F_Count;
    F_ByteCount = tk.F_ByteCount;
    F_BitCount = tk.F_BitCount;
    F_Pointer = tk.F_Pointer;
    F_WholeBytes = tk.F_WholeBytes;
    F_DefName = tk.F_DefName;
    // each token owns its operand record: the copy gets a duplicate
    freeOperand();
    if (tk.F_Operand) F_Operand = new TOperand(*tk.F_Operand);
    F_CastType = tk.F_CastType;
    F_Cast = tk.F_Cast;
    F_Extra = tk.F_Extra;
}

TKeyword TCurrentToken::findKeyword(const std::string& key) {
    const TWord* w = words::find(key);
    return w ? w->keyword : keyNone;
}

std::string TCurrentToken::Token2String(TTavToken id, TIdentType vt) {
    switch (id) {
    case ttNone: return "<ERR 1000>";
    case ttEOF: return "EOF";
    case ttSymbol: return "symbol";
    case ttNumber: return "number";
    case ttFloat: return "float";
    case ttSegment: return "segment";
    case ttRegister: return "register";
    case ttSTreg: return "x87 register";
    case ttXMMreg: return "XMM register";
    case ttBaseExp: return "expression";
    case ttAnsiString: return "ansi string";
    case ttWideString: return "wide string";
    case ttIdent:
        switch (vt) {
        case itNone: return "ident";
        case itReservedKeyword: return "reserved keyword";
        case itConst: return "const";
        case itType: return "data type";
        case itGlobalVar: return "global variable";
        case itLocalVar: return "local variable/parameter";
        case itFunc:
        case itFuncThis: return "function";
        case itProc:
        case itProcThis: return "procedure";
        case itLabel: return "label";
        case itDefine: return "definition";
        case itMacro: return "macro";
        case itGlobalVarPtr:
        case itLocalVarPtr: return "var pointer";
        default: return "<ERR 2000>";
        }
    default: return "";
    }
}

std::string TCurrentToken::Key2String(TKeyword key) {
    static const char* const names[] = {
        "",       "program",   "const",    "imports",   "procedure",    "function", "stdcall", "if",      "elseif",
        "else",   "repeat",    "until",    "while",     "continue",     "break",    "block",   "return",  "uses",
        "inline", "tokentype", "type",     "as",        "enum",         "union",    "ord",     "exports", "entry",
        "sizeof", "tokentext", "casttype", "isptrtype", "issignedtype", "exitif",
    };
    static_assert(sizeof(names) / sizeof(names[0]) == key__TOTAL);
    return key < key__TOTAL ? names[key] : "";
}

std::string TCurrentToken::getTokenStr() const {
    const std::string kind = Token2String(F_Type, F_IdentType);
    switch (F_Type) {
    case ttEOF: return "EOF";
    case ttAnsiString: return kind + " '" + F_String + "'";
    case ttWideString: return kind + " \"" + F_String + "\"";
    default: return kind + " " + F_String;
    }
}
