// Compile-time expressions read from source text: "#x = <expr>;" then
// "#echo $x" prints the result text.
#include <string>
#include <vector>

#include "classes/macro_manager.h"
#include "reader/cur_token.h"
#include "directive_env.h"

namespace {

using dirtest::DirectiveEnv;
using dirtest::Outcome;

std::string repeatText(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

class ExpressionEnv : public DirectiveEnv {
protected:
    // The value of expr as "#echo" shows it.
    std::string value(const std::string& expr) {
        const std::vector<std::string> lines = echoes("#x = " + expr + ";\n#echo $x\n");
        return lines.empty() ? std::string("<nothing>") : lines.back();
    }
    static const TCurrentToken* variable(const char* name) {
        TMacro* m = MacMan->F_Master;
        const int i = m->indexOfParam(name);
        return i < 0 ? nullptr : static_cast<const TCurrentToken*>(m->params.GetItem(uint32_t(i)));
    }
};

namespace values_of_expressions_rows {
struct Case {
    std::string expr;
    const char* shown;
};
const Case cases[] = {
    {"(2+3)*4", "20"},
    {"2 + 3 * 4", "14"},
    {"2+3 and 1", "3"},  // "and" binds like "*"
    {"1 shl 4 or 1", "17"},
    {"7 mod 2*3", "3"},  // left to right
    {"7/2", "4"},        // 3.5, shown rounded
    {"5 / 2", "2"},      // ties to even
    {"-5 mod 3", "-2"},  // the sign applies to the whole first term
    {"-7 mod 3", "-1"},
    {"7 mod -3", "1"},
    {"-1 shr 1", "0"},
    {"(-1) shr 60", "15"},  // a logical shift of 64 bits
    {"-2*3", "-6"},
    {"(+4) - 1", "3"},
    {"8 - 3", "5"},
    {"(- 5)", "-5"},
    {"1 shl 33", "8589934592"},  // 64-bit shift, count of 8 bits
    {"1 shl 64", "0"},
    {"1 shl 256", "1"},
    {"0 or 1 shl 33", "2"},  // the right of "or" is 32-bit: count of 5 bits
    {"0 or 2 shr 33", "1"},
    {"0 or -7 / 2", "-3"},         // truncated toward zero
    {"0 or 0x80000000 * 2", "0"},  // wraps in 32 bits
    {"0 xor 5 and 6", "4"},
    {"12 xor 10", "6"},
    {"3 and (1.5)", "2"},
    {"1.5 and 1", "0"},
    {"0.5 + 0.25", "1"},
    {"1.5 * 3", "4"},  // 4.5 to even
    {"0x10 + 1", "17"},
    {"(0 - 9223372036854775807 - 1) mod -1", "0"},
    {"0 or -2147483648 mod -1", "0"},
    {repeatText("(", 150) + "7" + repeatText(")", 150), "7"},
};
}  // namespace values_of_expressions_rows

TAVIK_TABLE(ExpressionEnv, ValuesOfExpressions, values_of_expressions_rows, expr);

TEST_P(ValuesOfExpressions, Shown) {
    const values_of_expressions_rows::Case& c = GetParam();
    SCOPED_TRACE(c.expr);
    EXPECT_EQ(value(c.expr), c.shown);
}

TEST_F(ExpressionEnv, ResultIsANumberTokenWithItsFraction) {
    echoes("#half = 7 / 2;\n#even = 5 / 2;\n");
    const TCurrentToken* half = variable("half");
    const TCurrentToken* even = variable("even");
    ASSERT_TRUE(half && even);
    EXPECT_EQ(half->F_Type, ttNumber);
    EXPECT_EQ(half->F_Integer, 4);
    EXPECT_EQ(half->F_Extended, 3.5L);
    EXPECT_EQ(half->F_String, "4");
    EXPECT_EQ(even->F_Integer, 2);
    EXPECT_EQ(even->F_Extended, 2.5L);
}

// What does not begin like a number is taken as the token it is.
TEST_F(ExpressionEnv, ValuesNotEvaluated) {
    EXPECT_EQ(value("'(2+3)'"), "(2+3)");
    EXPECT_EQ(value("name"), "name");
    // Only the symbol "(" opens a value; a string holding it stays a string.
    EXPECT_EQ(value("'('"), "(");
    // "1 AND 1": upper-case words are no operators; the value ends at the first 1.
    EXPECT_NE(failure("#x = 1 AND 1;").find("[435] Unexpected"), std::string::npos);
    // "-3" is a number, not an operator: the value is 8 and "-3" is left over.
    EXPECT_NE(failure("#x = 8 -3;").find("[435] Unexpected number -3"), std::string::npos);
    // A leading "+" does not start a value either.
    EXPECT_NE(failure("#x = +4;").find("[435] Unexpected number 4"), std::string::npos);
    // A sign apart from its digits does not start a value.
    EXPECT_NE(failure("#x = - 5;").find("[435] Unexpected number 5"), std::string::npos);
}

// Defined names and variables stand for their numbers.
TEST_F(ExpressionEnv, NamedNumbersTakePart) {
    EXPECT_EQ(echoes("#define N 5;\n#define F 0.5;\n#a = N * 2 + F;\n#b = $a shl N;\n#echo $a\n#echo $b\n"),
              (std::vector<std::string>{"10", "320"}));
}

// A numeric constant takes part; a string constant is taken as it is.
TEST_F(ExpressionEnv, ConstantsTakePart) {
    EXPECT_EQ(echoes("const K = 6;\nconst T = 'txt';\n#a = K * 2 - 1;\n#b = T;\n#echo $a\n#echo $b\n"),
              (std::vector<std::string>{"11", "txt"}));
}

namespace syntax_errors_rows {
struct Case {
    const char* expr;
    const char* message;
};
const Case cases[] = {
    {"()", "[723] Unexpected symbol )"},
    {"2 * ;", "[723] Unexpected symbol ;"},
    {"(1;", "[756] Unexpected symbol ;"},
    {"(eax)", "[765] Unexpected register eax"},
    {"('a')", "[765] Unexpected"},
    {"3 and +", "[983] Unexpected symbol +"},
    {"3 and (1;", "[876] Unexpected symbol ;"},
    {"3 and 1.5", "[865] Unexpected"},
    {"0 or 'a'", "[865] Unexpected"},
};
}  // namespace syntax_errors_rows

TAVIK_TABLE(ExpressionEnv, SyntaxErrorsWithTheirCodes, syntax_errors_rows, expr);

TEST_P(SyntaxErrorsWithTheirCodes, Refused) {
    const syntax_errors_rows::Case& c = GetParam();
    SCOPED_TRACE(c.expr);
    const std::string out = failure(std::string("#x = ") + c.expr + ";\n");
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_NE(out.find("[2,"), std::string::npos) << out;
}

// Deep parentheses end with a message instead of exhausting the stack.
TEST_F(ExpressionEnv, NestingHasAFixedLimit) {
    const std::string out = failure("#x = " + repeatText("(", 5000) + "1" + repeatText(")", 5000) + ";\n");
    EXPECT_NE(out.find("[767] Expression nested too deeply"), std::string::npos) << out;
}

// Faults of the arithmetic end the build with the runtime exception's name
// and text, positioned where the evaluation stopped, and nothing is stored.
namespace arithmetic_faults_rows {
struct Case {
    std::string expr;
    const char* cls;
    const char* message;
};
const Case cases[] = {
    {"1 / 0", "EZeroDivide", "Floating point division by zero"},
    {"1.5 / (2 - 2)", "EZeroDivide", "Floating point division by zero"},
    {"0 / 0", "EInvalidOp", "Invalid floating point operation"},
    {"5 mod 0", "EDivByZero", "Division by zero"},
    {"0 or 5 mod 0", "EDivByZero", "Division by zero"},
    {"0 or 5 / 0", "EDivByZero", "Division by zero"},
    {"0 or -2147483648 / -1", "EIntOverflow", "Arithmetic overflow"},
    {"9223372036854775807 + 1", "EInvalidOp", "Invalid floating point operation"},  // rounds out of range
    {"9223372036854775807 * 2 and 1", "EInvalidOp", "Invalid floating point operation"},
    {"4294967296" + repeatText(" * 4294967296", 520), "EOverflow", "Floating point overflow"},
};
}  // namespace arithmetic_faults_rows

TAVIK_TABLE(ExpressionEnv, ArithmeticFaultsArePositionedRuntimeExceptions, arithmetic_faults_rows, expr);

TEST_P(ArithmeticFaultsArePositionedRuntimeExceptions, EndTheBuild) {
    const arithmetic_faults_rows::Case& c = GetParam();
    SCOPED_TRACE(c.expr.substr(0, 40));
    const Outcome r = run("#x = " + c.expr + ";\n");
    EXPECT_TRUE(r.aborted) << r.exClass;
    // on line 2, at the column where the failing operation was read
    const std::string text = std::string(c.cls) + ": " + c.message + " in [project.tav]";
    const size_t at = r.out.find("]: " + text);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("[2,", at), r.out.rfind('[', at - 1)) << r.out;
    EXPECT_NE(r.out.find("Code: \n#x = "), std::string::npos) << r.out;
    EXPECT_EQ(MacMan->F_Master->indexOfParam("x"), -1);
}

}  // namespace
