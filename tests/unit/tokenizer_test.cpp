// The tokenizer on real source text: literals, numbers, memory expressions,
// casts, the dollar forms and their messages.
#include "front_env.h"

namespace {

struct Tok {
    TTavToken kind;
    std::string text;
    bool operator==(const Tok&) const = default;
};
void PrintTo(const Tok& t, std::ostream* os) { *os << t.kind << ":'" << t.text << "'"; }

}  // namespace

class Tokenizer : public FrontEnv {
protected:
    std::vector<Tok> all(const std::string& text) {
        load(text);
        std::vector<Tok> r;
        for (int i = 0; i < 100 && next() != ttEOF; ++i) r.push_back({cur().F_Type, cur().F_String});
        return r;
    }

    // The macro being expanded: parameters as named, bound to the tokens of
    // the text (one token each); curpars is the number bound.
    TMacro* expanding(const std::vector<std::string>& params, const std::string& args, uint32_t paramcount) {
        TMacro* m = MacMan->newMacro("m", mtProc);
        for (const std::string& p : params) m->addParam(p);
        m->paramcount = paramcount;
        load(args);
        uint32_t n = 0;
        while (next() != ttEOF) {
            auto* t = new TCurrentToken();
            t->setCurToken(cur());
            m->setParam(n++, t);
        }
        MacMan->F_CurMacro = m;
        MacMan->curpars = n;
        return m;
    }

    // src reads as one memory expression of these parts, then the end.
    void expectMemory(const char* src, int32_t count, TRegister r1, TRegister r2, int32_t scale, int32_t disp,
                      const char* text = nullptr) {
        load(src);
        ASSERT_EQ(next(), ttBaseExp) << src;
        EXPECT_EQ(cur().F_Count, count) << src;
        EXPECT_EQ(cur().F_Register, r1) << src;
        if (count > 1) {
            EXPECT_EQ(cur().F_Extra.Register_2, r2) << src;
        }
        EXPECT_EQ(cur().F_Extra.Scale, scale) << src;
        EXPECT_EQ(cur().F_Extra.Displacement, disp) << src;
        if (text) {
            EXPECT_EQ(cur().F_String, text) << src;
        }
        EXPECT_EQ(next(), ttEOF) << src;
    }
};

TEST_F(Tokenizer, LiteralsAndEscapes) {
    struct Case {
        const char* src;
        TTavToken kind;
        std::string bytes;
    } cases[] = {
        {R"('a\'b')", ttAnsiString, "a'b"},
        {R"("x\ny")", ttWideString, "x\ny"},
        {R"('\t\r\\\q')", ttAnsiString, "\t\r\\q"},
        {R"('it"s')", ttAnsiString, "it\"s"},
        {"'see http://example.com'", ttAnsiString, "see http://example.com"},  // no comment inside
        {"'a /* b */ c'", ttAnsiString, "a /* b */ c"},
        {"\"*/ x\"", ttWideString, "*/ x"},
        {"'a//\nb'", ttAnsiString, "a//\nb"},  // a literal may span lines
        {"''", ttAnsiString, ""},
        {"'\xC3\xA9'", ttAnsiString, "\xC3\xA9"},
    };
    for (const Case& c : cases) {
        load(c.src);
        EXPECT_EQ(next(), c.kind) << c.src;
        EXPECT_EQ(cur().F_String, c.bytes) << c.src;
        EXPECT_EQ(cur().F_ByteCount, static_cast<int32_t>(c.bytes.size() + 1)) << c.src;
    }
}

// Unclosed literals and comments stop at the place where they open, with
// the line of the opening shown.
TEST_F(Tokenizer, UnclosedLiteralsAndComments) {
    struct Case {
        const char* src;
        const char* message;
    } cases[] = {
        {"nop\n  x = 'abc;\nnop", "[2,8]: [1141] String literal not closed in [test.tav]\nCode: \nx = 'abc;"},
        {"\"a\\\"", "[1,1]: [1141] String literal not closed in [test.tav]"},  // the quote escaped
        {"'", "[1,1]: [1141] String literal not closed"},
        {"nop /* never closed\n ret", "[1,5]: [1142] Comment not closed in [test.tav]\nCode: \nnop /* never closed"},
        {"nop\n/*", "[2,2]: [1142] Comment not closed"},
    };
    for (const Case& c : cases) EXPECT_NE(fatalOf(c.src).find(c.message), std::string::npos) << c.src;
    // A comment closed on the last byte of the text is closed.
    for (const char* src : {"nop /* c */", "/**/", "nop\n/* a\nb */"}) {
        EXPECT_EQ(fatalOf(src), "") << src;
        EXPECT_EQ(all(src).size(), std::string(src).rfind("nop", 0) == 0 ? 1u : 0u) << src;
    }
}

TEST_F(Tokenizer, Numbers) {
    struct Case {
        const char* src;
        std::vector<Tok> toks;
    } cases[] = {
        {"0xFF", {{ttNumber, "0xFF"}}},
        {"0X10", {{ttNumber, "0"}, {ttIdent, "X10"}}},
        {"12ab", {{ttNumber, "12"}, {ttIdent, "ab"}}},
        {"1.5", {{ttFloat, "1.5"}}},
        {"-7", {{ttNumber, "-7"}}},
        {"- 7", {{ttSymbol, "-"}, {ttNumber, "7"}}},
        {"eax-1", {{ttRegister, "eax"}, {ttNumber, "-1"}}},
        {"-0x10", {{ttNumber, "-0"}, {ttIdent, "x10"}}},
        {"-2.25;", {{ttFloat, "-2.25"}, {ttSymbol, ";"}}},
        {"3.", {{ttFloat, "3."}}},
        {"7//c\n8", {{ttNumber, "7"}, {ttNumber, "8"}}},
        {"-/* c */42;", {{ttNumber, "-42"}, {ttSymbol, ";"}}},
        {"4/* c */2", {{ttNumber, "42"}}},
        {"-0", {{ttNumber, "-0"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(all(c.src), c.toks) << c.src;

    struct Value {
        const char* src;
        int64_t value;
        long double fl;
        int32_t bytes;
    } values[] = {
        {"0xFF", 255, 255, 4},
        {"0xffffffffffffffff", -1, -1, 4},
        {"9223372036854775807", INT64_MAX, 9223372036854775807.0L, 4},
        {"-9223372036854775808", INT64_MIN, -9223372036854775808.0L, 4},
        {"1.5", 1, 1.5L, 10},
        {"-2.7", -2, -2.7L, 10},
        {"00012", 12, 12, 4},
        {"-/**/9223372036854775808", INT64_MIN, -9223372036854775808.0L, 4},
        {"-0", 0, 0, 4},
    };
    for (const Value& v : values) {
        load(v.src);
        next();
        EXPECT_EQ(cur().F_Integer, v.value) << v.src;
        EXPECT_EQ(cur().F_Extended, v.fl) << v.src;
        EXPECT_EQ(cur().F_ByteCount, v.bytes) << v.src;
    }
    ptrSize = 2;
    load("5 0x5");
    next();
    EXPECT_EQ(cur().F_ByteCount, 2);
    next();
    EXPECT_EQ(cur().F_ByteCount, 2);
}

TEST_F(Tokenizer, NumberErrorsNameTheLiteral) {
    EXPECT_NE(fatalOf("x = 99999999999999999999;").find("[2498] Number out of range: 99999999999999999999"),
              std::string::npos);
    EXPECT_NE(fatalOf("-9223372036854775809").find("[2498] Number out of range: -9223372036854775809"),
              std::string::npos);
    EXPECT_NE(fatalOf("9223372036854775808").find("[2498] Number out of range: 9223372036854775808"),
              std::string::npos);
    EXPECT_NE(fatalOf("-/**/18446744073709551616").find("[2498] Number out of range: -18446744073709551616"),
              std::string::npos);
    EXPECT_NE(fatalOf("9999999999999999999").find("[2498] Number out of range: 9999999999999999999"),
              std::string::npos);
    EXPECT_NE(fatalOf("18446744073709551615").find("[2498] Number out of range: 18446744073709551615"),
              std::string::npos);
    EXPECT_NE(fatalOf("0x;").find("[2497] Invalid hexadecimal number 0x"), std::string::npos);
    EXPECT_NE(fatalOf("0x12345678901234567").find("[2497] Invalid hexadecimal number 0x12345678901234567"),
              std::string::npos);
    EXPECT_NE(fatalOf(std::string(5000, '9') + ".5").find("[2498] Number out of range: 9999"), std::string::npos);
}

TEST_F(Tokenizer, SymbolsAndWords) {
    EXPECT_EQ(all("a_1 _b; {}@\x80"), (std::vector<Tok>{{ttIdent, "a_1"},
                                                        {ttIdent, "_b"},
                                                        {ttSymbol, ";"},
                                                        {ttSymbol, "{"},
                                                        {ttSymbol, "}"},
                                                        {ttSymbol, "@"},
                                                        {ttSymbol, "\x80"}}));
}

TEST_F(Tokenizer, MemoryExpressions) {
    struct Case {
        const char* src;
        int32_t count;
        TRegister r1, r2;
        int32_t scale, disp;
        const char* text;
    } cases[] = {
        {"[eax+ebx*4+8]", 2, REG_EAX, REG_EBX, 4, 8, "(0) [eax+ebx*4+8]"},
        {"[eax-4]", 1, REG_EAX, REG_AL, 0, -4, "(0) [eax]"},
        {"[4*eax]", 1, REG_EAX, REG_AL, 4, 0, "(0) [eax*4]"},
        {"[eax*4+ebx]", 2, REG_EBX, REG_EAX, 4, 0, "(0) [ebx+eax*4]"},  // the scaled register is the index
        {"[8+2*esi+edi]", 2, REG_EDI, REG_ESI, 2, 8, "(0) [edi+esi*2+8]"},
        {"[eax+4+8]", 1, REG_EAX, REG_AL, 0, 12, "(0) [eax+12]"},  // displacements add up
        {"[8+eax-2]", 1, REG_EAX, REG_AL, 0, 6, "(0) [eax+6]"},
        {"[ebx+2*2*eax]", 2, REG_EBX, REG_EAX, 4, 0, "(0) [ebx+eax*4]"},
        {"[ eax + ebx ]", 2, REG_EAX, REG_EBX, 0, 0, "(0) [eax+ebx]"},
        {"[ebp-0x8]", 1, REG_EBP, REG_AL, 0, -8, "(0) [ebp]"},
        {"[eax+-4]", 1, REG_EAX, REG_AL, 0, -4, "(0) [eax]"},
        {"[esi+0xFFFFFFFF]", 1, REG_ESI, REG_AL, 0, -1, "(0) [esi]"},
        {"[/*c*/bx+si]", 2, REG_BX, REG_SI, 0, 0, "(0) [bx+si]"},
    };
    for (const Case& c : cases) expectMemory(c.src, c.count, c.r1, c.r2, c.scale, c.disp, c.text);
}

TEST_F(Tokenizer, MemoryExpressionErrors) {
    struct Case {
        const char* src;
        const char* message;
    } cases[] = {
        {"[8]", "[1,3]: [2494] Unexpected number 8 in [test.tav]"},
        {"[4*2]", "[2494] Unexpected number 2"},
        {"[eax/2]", "[2494] Unexpected symbol /"},
        {"[eax", "[2494] Unexpected EOF"},
        {"[eax+ebx+ecx]", "[1133] Unexpected register ecx"},
        {"[eax+'a']", "[1134] Unexpected ansi string 'a'"},
        {"[]", "[1134] Unexpected symbol ]"},
        {"[eax+1.5]", "[1134] Unexpected float 1.5"},
        {"[eax*ebx]", "[4655] Unexpected register ebx"},
        {"[2*x]", "[4655] Unexpected ident x"},
        {"[ebx+eax*0]", "[4655] Unexpected number 0"},
        {"[ebx+0*eax]", "[4655] Unexpected register eax"},
        {"[eax+4/2]", "[2495] Unexpected symbol /"},
        {"[eax+4", "[2495] Unexpected EOF"},
        {"[eax-ebx]", "[2496] Unexpected register ebx"},  // never silently [eax+ebx]
        {"[ebx-2*eax]", "[2496] Unexpected register eax"},
        {"[eax*2+ebx*4]", "[1135] Unexpected register ebx"},
        // The register as written, also right after its scale.
        {"[eax+ebx+ECX*2]", "[1133] Unexpected register ECX"},
        {"[Eax*2+Ebx*4]", "[1135] Unexpected register Ebx"},
        {"[eax-EBX*2]", "[2496] Unexpected register EBX"},
        {"[EBX*0]", "[4655] Unexpected number 0"},
        {"[eax+99999999999999999999]", "[2498] Number out of range: 99999999999999999999"},
        {"[eax+8.]", "[1134] Unexpected float 8."},
    };
    for (const Case& c : cases)
        EXPECT_NE(fatalOf(c.src).find(c.message), std::string::npos) << c.src << "\n" << fatalOf(c.src);
}

TEST_F(Tokenizer, MemoryExpressionItemsOfEveryKind) {
    // Registers and numbers among constants, defines and hexadecimal
    // numbers, in every order: the same sums and the same messages.
    Consts->addConst("Two", 2, ctValue);
    DefMan->addDefine("Base", 16);
    struct Case {
        const char* src;
        int32_t count;
        TRegister r1, r2;
        int32_t scale, disp;
    } cases[] = {
        {"[eax+ebx*Two+Two]", 2, REG_EAX, REG_EBX, 2, 2},
        {"[Two*ebx+0x10+eax]", 2, REG_EAX, REG_EBX, 2, 16},
        {"[esi+Base-4]", 1, REG_ESI, REG_AL, 0, 12},
        {"[0*Two+edi+9223372036854775807]", 1, REG_EDI, REG_AL, 0, -1},
        {"[ ebx\n+\t8 ]", 1, REG_EBX, REG_AL, 0, 8},
        {"[ebx/*a*/+/*b*/8]", 1, REG_EBX, REG_AL, 0, 8},
        {"[8+ebx*4]", 1, REG_EBX, REG_AL, 4, 8},
        {"[4*ebx+eax-1]", 2, REG_EAX, REG_EBX, 4, -1},
        {"[ \n 3 + esi ]", 1, REG_ESI, REG_AL, 0, 3},
        {"[0+edx]", 1, REG_EDX, REG_AL, 0, 0},
    };
    for (const Case& c : cases) expectMemory(c.src, c.count, c.r1, c.r2, c.scale, c.disp);
    struct Error {
        const char* src;
        const char* message;
    } errors[] = {
        {"[eax-ebx*Two]", "[2496] Unexpected register ebx"},
        {"[ebx*Two+eax*Two]", "[1135] Unexpected register eax"},
        {"[Two*0]", "[2494] Unexpected number 0"},
        {"[Two+3*Base]", "[2494] Unexpected number 16"},
        {"[eax+ebx+Two*ecx]", "[1133] Unexpected register ecx"},
        {"[ebx*Base/2]", "[2494] Unexpected symbol /"},
        {"[ecx*Two*2]", "[2494] Unexpected symbol *"},
        {"[9999999999999999999+eax]", "[2498] Number out of range: 9999999999999999999"},
        {"[7]", "[2494] Unexpected number 7"},
    };
    for (const Error& e : errors)
        EXPECT_NE(fatalOf(e.src).find(e.message), std::string::npos) << e.src << "\n" << fatalOf(e.src);
}

TEST_F(Tokenizer, TypeNameSizesAMemoryExpression) {
    load("dword [eax+4] word x");
    ASSERT_EQ(next(), ttBaseExp);
    EXPECT_EQ(cur().F_ByteCount, 4);
    EXPECT_EQ(cur().F_BitCount, 32);
    EXPECT_EQ(cur().F_Pointer, type("dword"));
    EXPECT_EQ(cur().F_Extra.Displacement, 4);
    ASSERT_EQ(next(), ttIdent);  // a type before anything else stays the type
    EXPECT_EQ(cur().F_IdentType, itType);
    EXPECT_EQ(cur().F_Pointer, type("word"));
    EXPECT_EQ(next(), ttIdent);
    EXPECT_EQ(cur().F_String, "x");
}

TEST_F(Tokenizer, PeekingATypeLeavesTheCurrentTokenAlone) {
    load("; dword [eax] nop");
    ASSERT_EQ(next(), ttSymbol);
    EXPECT_EQ(file()->peekNextToken(), ttBaseExp);
    EXPECT_EQ(cur().F_Type, ttSymbol);  // still the ";"
    EXPECT_EQ(cur().F_String, ";");
    EXPECT_EQ(peek().F_ByteCount, 4);
    EXPECT_EQ(peek().F_Pointer, type("dword"));
    EXPECT_EQ(file()->CurChar, 1u);
    file()->moveLastPeek();
    EXPECT_EQ(cur().F_Type, ttBaseExp);
    EXPECT_EQ(next(), ttIdent);
    EXPECT_EQ(cur().F_String, "nop");

    // Nor do other words and brackets that read further tokens.
    expanding({"p"}, "ebx", 1);
    for (const char* text :
         {"; [dword] 5", "; [dword*] p", "; $arg[0]", "; $substr('ab', 1, 1)", "; sizeof dword", "; tokentype(eax)"}) {
        load(text);
        ASSERT_EQ(next(), ttSymbol) << text;
        file()->peekNextToken();
        EXPECT_EQ(cur().F_Type, ttSymbol) << text;
        EXPECT_EQ(cur().F_String, ";") << text;
        EXPECT_EQ(cur().F_CastType, nullptr) << text;
        EXPECT_EQ(file()->CurChar, 1u) << text;
    }
}

TEST_F(Tokenizer, Casts) {
    struct Case {
        const char* src;
        TTavToken kind;
        const char* type;
    } cases[] = {
        {"[dword] 5", ttNumber, "dword"},
        {"[byte] eax", ttRegister, "byte"},
        {"[ word ] x", ttIdent, "word"},
        {"[dword*] p", ttIdent, "dword*"},
    };
    for (const Case& c : cases) {
        load(c.src);
        EXPECT_EQ(next(), c.kind) << c.src;
        ASSERT_NE(cur().F_CastType, nullptr) << c.src;
        EXPECT_EQ(cur().F_CastType, type(c.type)) << c.src;
    }
    EXPECT_NE(fatalOf("[dword 5]").find("[5643] Unexpected number 5"), std::string::npos);
    EXPECT_NE(fatalOf("[dword] 'a'").find("[6545] Unexpected ansi string 'a'"), std::string::npos);
    EXPECT_NE(fatalOf("[dword] [eax]").find("[6545] Unexpected expression"), std::string::npos);
}

TEST_F(Tokenizer, NestingIsBounded) {
    EXPECT_NE(fatalOf(std::string(200, '[') + "eax").find("[1139] Expression nested too deeply"), std::string::npos);
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += "sizeof ";
    EXPECT_NE(fatalOf(deep + "x").find("[1139] Expression nested too deeply"), std::string::npos);
    // After the abort the next text reads normally.
    EXPECT_EQ(all("[eax]").size(), 1u);
    EXPECT_EQ(CompileFlags.peek_mode, 0);
}

TEST_F(Tokenizer, DollarSymbol) {
    EXPECT_EQ(all("$ x"), (std::vector<Tok>{{ttSymbol, "$"}, {ttIdent, "x"}}));
    EXPECT_EQ(all("$5"), (std::vector<Tok>{{ttSymbol, "$"}, {ttNumber, "5"}}));
    EXPECT_EQ(all("$"), (std::vector<Tok>{{ttSymbol, "$"}}));
    EXPECT_EQ(all("$unknown"), (std::vector<Tok>{{ttSymbol, "$"}, {ttIdent, "unknown"}}));
    EXPECT_EQ(all("$eax"), (std::vector<Tok>{{ttSymbol, "$"}, {ttRegister, "eax"}}));
}

TEST_F(Tokenizer, DollarParametersAndArguments) {
    TMacro* m = expanding({"Reg", "n"}, "eax 7", 2);
    EXPECT_EQ(m->params.GetString(0), "reg");  // kept lower-cased
    load("$reg $REG $Reg");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(next(), ttRegister);
        EXPECT_EQ(cur().F_Register, REG_EAX);
        EXPECT_EQ(cur().F_DefName, "$reg");
    }
    load("$ArgC $arg[1] $arg [ 0 ]");
    ASSERT_EQ(next(), ttNumber);
    EXPECT_EQ(cur().F_Integer, 2);
    EXPECT_EQ(cur().F_ByteCount, 4);
    ASSERT_EQ(next(), ttNumber);
    EXPECT_EQ(cur().F_Integer, 7);
    EXPECT_EQ(cur().F_DefName, "$arg[1]");
    ASSERT_EQ(next(), ttRegister);
    EXPECT_EQ(cur().F_DefName, "$arg[0]");

    EXPECT_NE(fatalOf("$arg[2]").find("[53341] Arg 2 out of bounds [2]"), std::string::npos);
    EXPECT_NE(fatalOf("$arg[-1]").find("[53341] Arg -1 out of bounds [2]"), std::string::npos);
}

TEST_F(Tokenizer, DollarMissingParameter) {
    expanding({"a", "b"}, "5", 2);  // one argument bound, two declared
    load("$b");
    ASSERT_EQ(next(), ttAnsiString);
    EXPECT_EQ(cur().F_String, "$b missing parameter");
    EXPECT_NE(fatalOf("$arg[1]").find("[53341] Arg 1 out of bounds [1]"), std::string::npos);
}

TEST_F(Tokenizer, ArgIsBoundedByTheArgumentsOfAnUncountedMacro) {
    TMacro* m = expanding({}, "1 2 3", MACRO_UNCOUNTED);
    TCurrentToken v;
    v.setInteger(4, "9", 9);
    m->setVariable("Later", v);  // a compile-time variable sits after the arguments
    load("$arg[2] $later");
    ASSERT_EQ(next(), ttNumber);
    EXPECT_EQ(cur().F_Integer, 3);
    ASSERT_EQ(next(), ttNumber);
    EXPECT_EQ(cur().F_Integer, 9);
    EXPECT_NE(fatalOf("$arg[3]").find("[53341] Arg 3 out of bounds [3]"), std::string::npos);

    MacMan->F_CurMacro = MacMan->F_Master;  // outside any expansion
    MacMan->curpars = 0;
    EXPECT_NE(fatalOf("$arg[0]").find("[53341] Arg 0 out of bounds [0]"), std::string::npos);
}

TEST_F(Tokenizer, CompileTimeVariablesMatchWithoutCase) {
    TCurrentToken v;
    v.setInteger(4, "5", 5);
    MacMan->F_Master->setVariable("Count", v);
    load("$count $COUNT");
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(next(), ttNumber);
        EXPECT_EQ(cur().F_Integer, 5);
        EXPECT_EQ(cur().F_DefName, "$count");
    }
    v.setInteger(4, "6", 6);
    MacMan->F_Master->setVariable("COUNT", v);  // the same variable
    EXPECT_EQ(MacMan->F_Master->params.Count(), 1u);
    load("$Count");
    next();
    EXPECT_EQ(cur().F_Integer, 6);
}

TEST_F(Tokenizer, SubstrAndStrindex) {
    struct Case {
        const char* src;
        TTavToken kind;
        std::string text;
    } cases[] = {
        {"$substr('hello', 2, 3)", ttAnsiString, "ell"}, {"$SubStr(\"hello\", 0, 2)", ttWideString, "he"},
        {"$substr('hi', 5, 1)", ttAnsiString, ""},       {"$substr('hi', 2, 9)", ttAnsiString, "i"},
        {"$substr('hi', 1, 0)", ttAnsiString, ""},       {"$substr('hi', 1, -3)", ttAnsiString, ""},
        {"$strindex('hello', 'll')", ttNumber, "3"},     {"$strindex('hello', 'x')", ttNumber, "0"},
        {"$strindex('hello', '')", ttNumber, "0"},       {"$strindex(\"ab\", 'a')", ttNumber, "1"},
    };
    for (const Case& c : cases) {
        load(c.src);
        EXPECT_EQ(next(), c.kind) << c.src;
        EXPECT_EQ(cur().F_String, c.text) << c.src;
        EXPECT_EQ(next(), ttEOF) << c.src;
    }
}

TEST_F(Tokenizer, DollarFormErrors) {
    struct Case {
        const char* src;
        const char* message;
    } cases[] = {
        {"$arg 1", "[346163] Unexpected symbol 1"},
        {"$arg[x]", "[5353] Unexpected ident x"},
        {"$arg[0 x", "[346164] Unexpected symbol x"},
        {"$substr 'a'", "[346163] Unexpected symbol '"},
        {"$substr(5", "[5353] Unexpected number 5"},
        {"$substr('a' 1", "[346164] Unexpected symbol 1"},
        {"$substr('a', x", "[5353] Unexpected ident x"},
        {"$substr('a', 1 1", "[346164] Unexpected symbol 1"},
        {"$substr('a', 1, 'b'", "[5353] Unexpected ansi string 'b'"},
        {"$substr('a', 1, 1]", "[346167] Unexpected symbol ]"},
        {"$strindex['a'", "[346163] Unexpected symbol ["},
        {"$strindex(1", "[5353] Unexpected number 1"},
        {"$strindex('a';", "[346164] Unexpected symbol ;"},
        {"$strindex('a', 2", "[5353] Unexpected number 2"},
        {"$strindex('a','b'", "[346167] Unexpected EOF"},
    };
    for (const Case& c : cases)
        EXPECT_NE(fatalOf(c.src).find(c.message), std::string::npos) << c.src << "\n" << fatalOf(c.src);
}

TEST_F(Tokenizer, DollarWordsAreReadAsWritten) {
    // Names a parameter shares with a constant, a define, a variable with
    // fields and a built-in: "$" and the word still find the parameter.
    PVarType dw = type("dword");
    PVarType rec = VarMan->addType("trec", 4, 0, 0, false, false);
    VarMan->addField(rec, vftType, "x", dw, 1, 0, nullptr);
    VarMan->addVar(vmGlobal, "v", rec, 1, 0);
    Consts->addConst("n", 3, ctValue);
    DefMan->addDefine("argc", 9);
    expanding({"n", "v", "ord", "dword"}, "eax ebx ecx edx", 4);
    EXPECT_EQ(all("$n $v.x $ord) $DWORD*2 $argc"), (std::vector<Tok>{{ttRegister, "eax"},
                                                                     {ttRegister, "ebx"},
                                                                     {ttSymbol, "."},
                                                                     {ttIdent, "x"},
                                                                     {ttRegister, "ecx"},
                                                                     {ttSymbol, ")"},
                                                                     {ttRegister, "edx"},
                                                                     {ttSymbol, "*"},
                                                                     {ttNumber, "2"},
                                                                     {ttNumber, "4"}}));
    // A word that names no parameter is read again, resolved as usual.
    EXPECT_EQ(all("$x n $sizeof dword"),
              (std::vector<Tok>{{ttSymbol, "$"}, {ttIdent, "x"}, {ttNumber, "3"}, {ttSymbol, "$"}, {ttNumber, "4"}}));
}

// A word or number read as one run of bytes ends where reading it byte by
// byte ends: the byte after it is given back, and a comment right inside it
// joins its two parts.
TEST_F(Tokenizer, WordsAndNumbersEndOnTheirLastByte) {
    struct Case {
        const char* src;
        std::vector<Tok> toks;
        uint32_t line, column, total;  // the cursor after the first token
    } cases[] = {
        {"abc", {{ttIdent, "abc"}}, 1, 3, 1},  // the end of the text counts a line
        {"abc\nd", {{ttIdent, "abc"}, {ttIdent, "d"}}, 1, 3, 0},
        {"ab c", {{ttIdent, "ab"}, {ttIdent, "c"}}, 1, 2, 0},
        {"ab//c\nd", {{ttIdent, "ab"}, {ttIdent, "d"}}, 1, 5, 0},  // on the comment's last byte
        {"ab/**/c d", {{ttIdent, "abc"}, {ttIdent, "d"}}, 1, 7, 0},
        {"12/**/34;", {{ttNumber, "1234"}, {ttSymbol, ";"}}, 1, 8, 0},
        {"1/**/.5", {{ttFloat, "1.5"}}, 1, 7, 1},
        {"2./**/5", {{ttFloat, "2.5"}}, 1, 7, 1},
        {"0x1/**/f;", {{ttNumber, "0x1f"}, {ttSymbol, ";"}}, 1, 8, 0},
        {"-4\n", {{ttNumber, "-4"}}, 1, 2, 0},
        {"EAX\n", {{ttRegister, "EAX"}}, 1, 3, 0},
    };
    for (const Case& c : cases) {
        load(c.src);
        next();
        EXPECT_EQ(file()->CurLine, c.line) << c.src;
        EXPECT_EQ(file()->CurLineChar, c.column) << c.src;
        EXPECT_EQ(file()->F_TotalLines, c.total) << c.src;
        EXPECT_EQ(all(c.src), c.toks) << c.src;
    }
}

TEST_F(Tokenizer, CommentsBetweenTokens) {
    struct Case {
        const char* src;
        std::vector<Tok> toks;
        uint32_t endLine;  // line of the cursor at the end of the text
    } cases[] = {
        {"mov/* x */ eax// y\n", {{ttIdent, "mov"}, {ttRegister, "eax"}}, 2},
        {"nop // ret", {{ttIdent, "nop"}}, 1},
        {"'a' /* 'b' */ \"c\"", {{ttAnsiString, "a"}, {ttWideString, "c"}}, 1},
        {"/* one\n two */ -3 /**/ ;\n// last", {{ttNumber, "-3"}, {ttSymbol, ";"}}, 3},
        {"push [eax /* base */ + // displacement\n 4]", {{ttIdent, "push"}, {ttBaseExp, "(0) [eax+4]"}}, 2},
        {"/*/ x */ y", {{ttIdent, "y"}}, 1},  // "/*/" does not close itself
    };
    for (const Case& c : cases) {
        EXPECT_EQ(all(c.src), c.toks) << c.src;
        EXPECT_EQ(file()->CurLine, c.endLine) << c.src;
    }
}
