#include "reader/cur_token.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(CurToken, FreshTokenIsEof) {
    TCurrentToken t;
    EXPECT_EQ(t.F_Type, ttEOF);
    EXPECT_EQ(t.F_Register, REG_EAX);
    EXPECT_EQ(t.F_Segment, SEG_CS);
    EXPECT_EQ(t.F_Keyword, keyNone);
    EXPECT_EQ(t.F_IdentType, itNone);
    EXPECT_EQ(t.F_Operand, nullptr);
    EXPECT_EQ(t.getTokenStr(), "EOF");
}

TEST(CurToken, EveryKeywordInAnyLetterCase) {
    for (int k = keyProgram; k < key__TOTAL; ++k) {
        const std::string word = TCurrentToken::Key2String(static_cast<TKeyword>(k));
        ASSERT_FALSE(word.empty()) << k;
        std::string upper = word, mixed = word;
        for (size_t i = 0; i < word.size(); ++i) {
            upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[i])));
            if (i % 2 == 0) mixed[i] = upper[i];
        }
        for (const std::string& w : {word, upper, mixed}) EXPECT_EQ(TCurrentToken::findKeyword(w), k) << w;
    }
    EXPECT_EQ(TCurrentToken::Key2String(keyNone), "");
    EXPECT_EQ(TCurrentToken::Key2String(key__TOTAL), "");
    for (const char* w : {"whiles", "", "x", "iff", "els", "key__total", "procedures", "issignedtypes", "if "})
        EXPECT_EQ(TCurrentToken::findKeyword(w), keyNone) << w;
}

TEST(CurToken, KeywordNumbering) {
    EXPECT_EQ(TCurrentToken::findKeyword("program"), 1);
    EXPECT_EQ(TCurrentToken::findKeyword("tokentype"), 19);
    EXPECT_EQ(TCurrentToken::findKeyword("ORD"), 24);
    EXPECT_EQ(TCurrentToken::findKeyword("ExitIf"), 32);
    EXPECT_EQ(key__TOTAL, 33);
}

TEST(CurToken, KindNamesForMessages) {
    const struct {
        TTavToken id;
        TIdentType vt;
        const char* name;
    } cases[] = {
        {ttNone, itNone, "<ERR 1000>"},
        {ttEOF, itNone, "EOF"},
        {ttSymbol, itNone, "symbol"},
        {ttNumber, itNone, "number"},
        {ttFloat, itNone, "float"},
        {ttSegment, itNone, "segment"},
        {ttRegister, itNone, "register"},
        {ttSTreg, itNone, "x87 register"},
        {ttXMMreg, itNone, "XMM register"},
        {ttBaseExp, itNone, "expression"},
        {ttAnsiString, itNone, "ansi string"},
        {ttWideString, itNone, "wide string"},
        {ttIdent, itNone, "ident"},
        {ttIdent, itReservedKeyword, "reserved keyword"},
        {ttIdent, itConst, "const"},
        {ttIdent, itType, "data type"},
        {ttIdent, itGlobalVar, "global variable"},
        {ttIdent, itLocalVar, "local variable/parameter"},
        {ttIdent, itFunc, "function"},
        {ttIdent, itFuncThis, "function"},
        {ttIdent, itProc, "procedure"},
        {ttIdent, itProcThis, "procedure"},
        {ttIdent, itLabel, "label"},
        {ttIdent, itDefine, "definition"},
        {ttIdent, itMacro, "macro"},
        {ttIdent, itGlobalVarPtr, "var pointer"},
        {ttIdent, itLocalVarPtr, "var pointer"},
        {ttIdent, itMacroParam, "<ERR 2000>"},
        {ttIdent, itBaseExpPtr, "<ERR 2000>"},
    };
    for (const auto& c : cases) EXPECT_EQ(TCurrentToken::Token2String(c.id, c.vt), c.name) << c.id << "/" << +c.vt;
}

TEST(CurToken, TokenTextsInMessages) {
    TCurrentToken t;
    t.setText("abc", ttAnsiString);
    EXPECT_EQ(t.getTokenStr(), "ansi string 'abc'");
    t.setText("abc", ttWideString);
    EXPECT_EQ(t.getTokenStr(), "wide string \"abc\"");
    t.setRegister(REG_EAX, "eax");
    EXPECT_EQ(t.getTokenStr(), "register eax");
    t.setSymbol(';');
    EXPECT_EQ(t.getTokenStr(), "symbol ;");
    t.setInteger(4, "12", 12);
    EXPECT_EQ(t.getTokenStr(), "number 12");
    t.setNull();
    t.F_Type = ttIdent;
    t.F_IdentType = itLabel;
    t.F_String = "start";
    EXPECT_EQ(t.getTokenStr(), "label start");
}

TEST(CurToken, Setters) {
    TCurrentToken t;
    t.setText("", ttAnsiString);
    EXPECT_EQ(t.F_ByteCount, 1);
    EXPECT_EQ(t.F_BitCount, 8);

    t.setInteger(4, "-3", -3);
    EXPECT_EQ(t.F_Type, ttNumber);
    EXPECT_EQ(t.F_Extended, -3.0L);
    EXPECT_EQ(t.F_BitCount, 32);

    t.setRegister(REG_AX, "AX");
    EXPECT_EQ(t.F_Type, ttRegister);
    EXPECT_EQ(t.F_ByteCount, 2);
    EXPECT_EQ(t.F_Integer, REG_AX);

    t.setSegment(SEG_FS, "fs");
    EXPECT_EQ(t.F_Segment, SEG_FS);
    EXPECT_EQ(t.F_Integer, 4);
    EXPECT_EQ(t.F_ByteCount, 0);

    t.setType(ttSTreg, 0, "st3", 3);
    EXPECT_EQ(t.F_Type, ttSTreg);
    EXPECT_EQ(t.F_Integer, 3);
}

// Out-of-range floats give the x87 integer indefinite instead of undefined behaviour.
TEST(CurToken, FloatTruncation) {
    const long double inf = std::numeric_limits<long double>::infinity();
    const struct {
        long double v;
        int64_t i;
    } cases[] = {
        {-2.7L, -2},
        {2.7L, 2},
        {9223372036854775807.0L, INT64_MAX},  // exact in 64 mantissa bits
        {9223372036854775808.0L, INT64_MIN},
        {9223372036854774784.0L, 9223372036854774784LL},
        {-9223372036854775808.0L, INT64_MIN},
        {1e30L, INT64_MIN},
        {-1e30L, INT64_MIN},
        {inf, INT64_MIN},
        {-inf, INT64_MIN},
        {std::numeric_limits<long double>::quiet_NaN(), INT64_MIN},
    };
    TCurrentToken t;
    for (const auto& c : cases) {
        EXPECT_EQ(t.setFloat("f", c.v), ttFloat);
        EXPECT_EQ(t.F_Integer, c.i) << static_cast<double>(c.v);
        EXPECT_EQ(t.F_ByteCount, 10);
        EXPECT_EQ(t.F_BitCount, 80);
    }
}

TEST(CurToken, BaseExpressionText) {
    TCurrentToken t;
    t.setBaseExp(0, 2, REG_EAX, REG_EBX, 8, 4);
    EXPECT_EQ(t.F_String, "(0) [eax+ebx*4+8]");
    t.setBaseExp(0, 1, REG_EAX, REG_EAX, -4, 0);
    EXPECT_EQ(t.F_String, "(0) [eax]");
    EXPECT_EQ(t.F_Extra.Displacement, -4);
    t.setBaseExp(4, 1, REG_EBP, REG_EAX, 0, 0);
    EXPECT_EQ(t.F_String, "(4) [ebp]");
    EXPECT_EQ(t.F_BitCount, 32);
}

TEST(CurToken, ResetKeepsTheSecondRegister) {
    TCurrentToken t;
    t.setBaseExp(0, 2, REG_EAX, REG_ESI, 4, 2);
    t.setSymbol('x');
    EXPECT_EQ(t.F_Extra.Register_2, REG_ESI);
    EXPECT_EQ(t.F_Extra.Scale, 0);
    EXPECT_EQ(t.F_Extra.Displacement, 0);
}

TEST(CurToken, CopyDuplicatesTheOperandRecord) {
    TCurrentToken a, b;
    a.setBaseExp(2, 2, REG_EBX, REG_ECX, 16, 8);
    a.F_DefName = "$p";
    a.newOperand()->setRegister(REG_ECX);
    b.setCurToken(a);
    EXPECT_EQ(b.F_String, a.F_String);
    EXPECT_EQ(b.F_Extra.Register_2, REG_ECX);
    EXPECT_EQ(b.F_Extra.Scale, 8);
    EXPECT_EQ(b.F_DefName, "$p");
    ASSERT_NE(b.F_Operand, nullptr);
    EXPECT_NE(b.F_Operand, a.F_Operand);
    EXPECT_EQ(b.F_Operand->reg_base, REG_ECX);
    // copying a token without an operand drops the one held
    TCurrentToken c;
    b.setCurToken(c);
    EXPECT_EQ(b.F_Operand, nullptr);
    b.setCurToken(b);
}

TEST(CurToken, OperatorTexts) {
    const struct {
        TMathOp mo;
        const char* text;
    } cases[] = {
        {moNone, ""},
        {moATrue, ""},
        {moAFalse, ""},
        {moAssign, "="},
        {moIsEqual, "=="},
        {moNotEqual, "!="},
        {moAdd, "+"},
        {moSub, "-"},
        {moMulU, "*"},
        {moMulS, "*"},
        {moDivU, "/"},
        {moDivS, "/"},
        {moAddBy, "+="},
        {moSubBy, "-="},
        {moMulByU, "*="},
        {moMulByS, "*="},
        {moInc, "++"},
        {moDec, "--"},
        {moLowerS, "<"},
        {moHigherS, ">"},
        {moLowerSEqual, "=<"},
        {moHigherSEqual, ">="},
        {moLowerU, "<"},
        {moHigherU, ">"},
        {moLowerUEqual, "=<"},
        {moHigherUEqual, ">="},
        {moShiftLeft, "<<"},
        {moShiftRight, ">>"},
        {static_cast<TMathOp>(28), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(mo2str(c.mo), c.text) << +c.mo;
}
