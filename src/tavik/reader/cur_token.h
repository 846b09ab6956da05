#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "classes/ident_manager.h"
#include "encoder/operand.h"
#include "tavik/plugin_api.h"

struct TWord;
class TAFile;

// Token kinds (fixed values with gaps).
enum TTavToken : uint16_t {
    ttNone = 1,
    ttEOF = 2,
    ttSymbol = 3,
    ttIdent = 100,
    ttNumber = 200,
    ttFloat = 201,
    ttSegment = 204,
    ttRegister = 205,
    ttSTreg = 206,
    ttXMMreg = 207,
    ttBaseExp = 210,
    ttAnsiString = 300,
    ttWideString = 301,
};

// Reserved words.
// clang-format off
enum TKeyword : uint8_t {
    keyNone = 0,
    keyProgram, keyConst, keyImports, keyProcedure, keyFunction, keyStdcall,
    keyIf, keyElseif, keyElse, keyRepeat, keyUntil, keyWhile, keyContinue,
    keyBreak, keyBlock, keyReturn, keyUses, keyInline, keyTokenType, keyType,
    keyAs, keyEnum, keyUnion, keyOrd, keyExports, keyEntry, keySizeOf,
    keyTokenText, keyCastType, keyIsPtrType, keyIsSignedType, keyExitIf,
    key__TOTAL  // 33: the count, never a token's keyword
};
// clang-format on

// Operator codes; U/S: unsigned or signed form.
// clang-format off
enum TMathOp : uint8_t {
    moNone = 0, moATrue, moAFalse, moAssign, moIsEqual, moNotEqual, moAdd, moSub,
    moMulU, moMulS, moDivU, moDivS, moAddBy, moSubBy, moMulByU, moMulByS,
    moInc, moDec, moLowerS, moHigherS, moLowerSEqual, moHigherSEqual,
    moLowerU, moHigherU, moLowerUEqual, moHigherUEqual, moShiftLeft, moShiftRight,
};
// clang-format on

// The operator's source text; empty for codes without one.
std::string mo2str(TMathOp mo);

// Tail of a base-expression token.
struct TTokenExtra {
    TRegister Register_2 = REG_EAX;
    int32_t Scale = 0;
    int32_t Displacement = 0;
};

// An 80-bit value truncated toward zero; values outside the 64-bit range and
// NaN give the x87 integer indefinite, 0x8000000000000000.
int64_t truncExtended(long double v);

// One token: what the tokenizer reads, what defines and macro parameters keep.
class TCurrentToken {
public:
    TCurrentToken();
    ~TCurrentToken();
    TCurrentToken(const TCurrentToken&) = delete;
    TCurrentToken& operator=(const TCurrentToken&) = delete;

    void setNull();
    TTavToken setInteger(int32_t bytecount, std::string_view str, int64_t int_);
    TTavToken setFloat(const std::string& str, long double fl);
    TTavToken setType(TTavToken tt, int32_t bytecount, std::string_view str, int64_t int_);
    TTavToken setRegister(TRegister reg, std::string_view str);
    TTavToken setSegment(TSegment seg, const std::string& str);
    TTavToken setText(const std::string& str, TTavToken textType);
    TTavToken setSymbol(char c);
    TTavToken setBaseExp(int32_t size, int32_t regCount, TRegister reg1, TRegister reg2, int32_t disp, int32_t scale);
    // Copies every field of tk; the operand record is duplicated.
    void setCurToken(const TCurrentToken& tk);

    // Resolves a word read by the tokenizer (implemented with the tokenizer).
    TTavToken setIdentifier(std::string_view str);

    static TKeyword findKeyword(const std::string& key);
    std::string getTokenStr() const;
    static std::string Token2String(TTavToken id, TIdentType vt);
    static std::string Key2String(TKeyword key);

    // Gives the token an operand record of its own (replacing any) and returns it.
    POperand newOperand();
    void freeOperand();

    TTavToken F_Type = ttEOF;
    TIdentType F_IdentType = itNone;
    TKeyword F_Keyword = keyNone;
    std::string F_String;
    const TWord* F_Word = nullptr;  // a word that names no identifier: its reserved entry, if any
    TRegister F_Register = REG_EAX;
    TSegment F_Segment = SEG_CS;
    int64_t F_Integer = 0;
    int32_t F_Count = 0;
    long double F_Extended = 0;
    void* F_Pointer = nullptr;     // TConst, TVarType, TVar, TFunction or TMacro; not owned
    POperand F_Operand = nullptr;  // owned
    std::string F_DefName;
    int32_t F_ByteCount = 0;
    int32_t F_BitCount = 0;
    PVarType F_CastType = nullptr;
    bool F_Cast = false;  // F_CastType written in the source, "[type] x"
    TTokenExtra F_Extra;
    int64_t F_WholeBytes = 0;  // a variable or field as named, all its elements

private:
    // setIdentifier past the reserved words that need nothing more.
    [[gnu::noinline]] TTavToken resolveWord(TAFile* f, const TWord* w);
};
using PCurrentToken = TCurrentToken*;
