// Conditions and control statements compiled from source text: the code
// bytes, jump fixups and labels they leave, their messages, and what the
// code does, run by a small interpreter of the few instructions a
// condition compiles to.
#include "control_env.h"

#include <functional>
#include <map>
#include <random>

#include "handlers/handle_control.h"

namespace {

using namespace control_test;

// One jump placeholder as the encoder leaves it.
const char* const kJmp = "90 90 90 90 90 90 90";

// ---- single comparisons ----

namespace single_comparisons_and_the_jumps_they_leave_rows {
struct Case {
    const char* cond;
    std::string bytes;  // of the condition, up to the body's nop
    int jumps;          // jump kinds to the else label, -1: none
};
const Case cases[] = {
    {"eax == 0", std::string("85 c0 ") + kJmp, jtJNE},  // test, not cmp with 0
    {"eax == 5", std::string("83 f8 05 ") + kJmp, jtJNE},
    {"ebx != 0x1000", std::string("81 fb 00 10 00 00 ") + kJmp, jtJE},
    {"ecx <> 1", std::string("83 f9 01 ") + kJmp, jtJE},
    {"ecx =! 1", std::string("83 f9 01 ") + kJmp, jtJE},
    // Unsigned: below 0 never holds.
    {"eax < 0", std::string("85 c0 ") + kJmp, jtJAE},
    {"eax <= 3", std::string("83 f8 03 ") + kJmp, jtJA},
    {"eax =< 3", std::string("83 f8 03 ") + kJmp, jtJA},
    {"eax > 3", std::string("83 f8 03 ") + kJmp, jtJBE},
    {"eax >= 3", std::string("83 f8 03 ") + kJmp, jtJB},
    {"eax => 3", std::string("83 f8 03 ") + kJmp, jtJB},
    {"eax == ebx", std::string("3b c3 ") + kJmp, jtJNE},
    {"al == 0", std::string("84 c0 ") + kJmp, jtJNE},
    // Two constants: folded; only a false one jumps.
    {"5 == 5", "", -1},
    {"4 == 5", kJmp, jtJMP},
    {"0xFFFFFFFF < 1", kJmp, jtJMP},
    {"0xFFFFFFFF != 1", "", -1},
    {"2 >= 2", "", -1},
};
}  // namespace single_comparisons_and_the_jumps_they_leave_rows

TAVIK_TABLE(Control, ControlSingleComparisons, single_comparisons_and_the_jumps_they_leave_rows, cond);

TEST_P(ControlSingleComparisons, AndTheJumpsTheyLeave) {
    const single_comparisons_and_the_jumps_they_leave_rows::Case& c = GetParam();
    SCOPED_TRACE(c.cond);
    compile(std::string("if (") + c.cond + ") { nop; }");
    std::string want = c.bytes.empty() ? "90 c3" : c.bytes + " 90 c3";
    EXPECT_EQ(hex(code()), want);
    const std::vector<PFixup> fx = fixups();
    ASSERT_EQ(fx.size(), c.jumps < 0 ? 0u : 1u);
    if (c.jumps < 0) return;
    EXPECT_EQ(fx[0]->hint, ftJmp);
    EXPECT_EQ(fx[0]->size, 7);
    EXPECT_EQ(fx[0]->jmp, c.jumps);
    EXPECT_EQ(fx[0]->parentfunc, main());
    PFunction els = target(fx[0]);
    EXPECT_EQ(std::string(funcName(els)), "else");
    EXPECT_EQ(els->Type_, ltLabel);
    EXPECT_EQ(els->Parent, main());
    EXPECT_TRUE(els->IsCalled);
    EXPECT_EQ(els->Address, code().size() - 1);  // after the body, before the closing ret
}

TEST_F(Control, ConstantComparisonsFoldOnTheirValues) {
    struct Case {
        int64_t a, b;
        TMathOp op;
        bool holds;
    } cases[] = {
        // Unsigned orderings see the low 32 bits; the others all 64.
        {-1, 1, moLowerU, false},
        {-1, 1, moNotEqual, true},
        {-1, 1, moLowerS, true},
        {-1, 1, moHigherS, false},
        {0x100000001, 1, moIsEqual, false},
        {0x100000001, 1, moLowerUEqual, true},
        {0x100000001, 1, moHigherUEqual, true},
        {0x100000002, 1, moHigherU, true},
        {5, 5, moLowerSEqual, true},
        {5, 5, moHigherSEqual, true},
        {-5, 5, moHigherSEqual, false},
        {3, 3, moLowerU, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " " + mo2str(c.op) + " " + std::to_string(c.b));
        TOperand x, y;
        x.setImm(0, 4);
        y.setImm(0, 4);
        x.value = c.a;
        y.value = c.b;
        EXPECT_EQ(handle_CompareConsts(&x, &y, c.op), c.holds ? moATrue : moAFalse);
    }
}

// The chain of the brief's own examples, byte for byte.
TEST_F(Control, AndChainJumpsToElseFromEachOperand) {
    compile("if ((eax == 1) and (ebx == 2)) { nop; }");
    EXPECT_EQ(hex(code()), std::string("83 f8 01 ") + kJmp + " 83 fb 02 " + kJmp + " 90 c3");
    const std::vector<PFixup> fx = fixups();
    ASSERT_EQ(fx.size(), 2u);
    EXPECT_EQ(fx[0]->jmp, jtJNE);
    EXPECT_EQ(fx[1]->jmp, jtJNE);
    EXPECT_EQ(fx[0]->index, fx[1]->index);
    EXPECT_EQ(std::string(funcName(target(fx[0]))), "else");
    EXPECT_EQ(fx[1]->position, 13u);
    // and0_0 is placed before the second compare.
    bool found = false;
    for (PFunction f : FuncMan->F_List)
        if (std::string(funcName(f)) == "and0_0") {
            found = true;
            EXPECT_EQ(f->Type_, ltLabel);
            EXPECT_EQ(f->Address, 10u);
        }
    EXPECT_TRUE(found);
}

TEST_F(Control, OrChainJumpsIntoTheBody) {
    compile("if ((eax == 1) or (ebx == 2)) { int3; } else { nop; }");
    EXPECT_EQ(hex(code()), std::string("83 f8 01 ") + kJmp + " 83 fb 02 " + kJmp + " cc " + kJmp + " 90 c3");
    const std::vector<PFixup> fx = fixups();
    ASSERT_EQ(fx.size(), 3u);
    EXPECT_EQ(fx[0]->jmp, jtJE);
    EXPECT_EQ(std::string(funcName(target(fx[0]))), "ifcode");
    EXPECT_EQ(target(fx[0])->Address, 20u);  // the int3, start of A
    EXPECT_EQ(fx[1]->jmp, jtJNE);
    EXPECT_EQ(std::string(funcName(target(fx[1]))), "else");
    EXPECT_EQ(target(fx[1])->Address, 28u);  // the nop, start of B
    EXPECT_EQ(fx[2]->jmp, jtJMP);
    EXPECT_EQ(std::string(funcName(target(fx[2]))), "endif");
    EXPECT_EQ(target(fx[2])->Address, 29u);
}

// ---- what the code does ----

// Runs the compiled rtlmain from an offset: cmp, test, nop, int3, ret and the
// jump placeholders with their fixups. Counts the int3 met before leaving
// [from, to) or meeting a ret.
struct Machine {
    uint32_t reg[8] = {};
    bool zf = false, cf = false, sf = false, of = false;

    void flagsSub(uint32_t a, uint32_t b) {
        const uint32_t r = a - b;
        zf = r == 0;
        cf = a < b;
        sf = (r >> 31) != 0;
        of = (((a ^ b) & (a ^ r)) >> 31) != 0;
    }
    void flagsAnd(uint32_t r) {
        zf = r == 0;
        sf = (r >> 31) != 0;
        cf = of = false;
    }
    bool taken(uint32_t cc) const {
        switch (cc) {
        case 2: return cf;
        case 3: return !cf;
        case 4: return zf;
        case 5: return !zf;
        case 6: return cf || zf;
        case 7: return !cf && !zf;
        case 12: return sf != of;
        case 13: return sf == of;
        case 14: return zf || sf != of;
        case 15: return !zf && sf == of;
        case 16: return true;
        }
        ADD_FAILURE() << "condition " << cc;
        return false;
    }

    // -1 when the code runs away.
    int run(const std::string& c, const std::map<uint32_t, PFixup>& jumps, uint32_t from, uint32_t to,
            int stopAt = 1000) {
        int traps = 0;
        uint32_t pc = from;
        for (int steps = 0; steps < 10000; ++steps) {
            if (pc < from || pc >= to) return traps;
            auto j = jumps.find(pc);
            if (j != jumps.end()) {
                PFunction t = FuncMan->getFunc(j->second->index);
                EXPECT_TRUE(t && t->Type_ == ltLabel && t->Parent == FuncMan->getFunc(0) && t->IsCalled);
                if (!t || t->Type_ != ltLabel) return -1;
                pc = taken(j->second->jmp) ? t->Address : pc + 7;
                continue;
            }
            const auto b = [&](uint32_t k) { return static_cast<uint8_t>(c.at(pc + k)); };
            const auto imm32 = [&](uint32_t k) {
                return uint32_t(b(k)) | uint32_t(b(k + 1)) << 8 | uint32_t(b(k + 2)) << 16 | uint32_t(b(k + 3)) << 24;
            };
            switch (b(0)) {
            case 0x90: pc += 1; break;
            case 0xC3: return traps;
            case 0xCC:
                if (++traps >= stopAt) return traps;
                pc += 1;
                break;
            case 0x85:  // test r/m32, r32
                flagsAnd(reg[b(1) & 7] & reg[(b(1) >> 3) & 7]);
                pc += 2;
                break;
            case 0x3B:  // cmp r32, r/m32
                flagsSub(reg[(b(1) >> 3) & 7], reg[b(1) & 7]);
                pc += 2;
                break;
            case 0x3D:
                flagsSub(reg[0], imm32(1));
                pc += 5;
                break;
            case 0x83:
                flagsSub(reg[b(1) & 7], uint32_t(int32_t(int8_t(b(2)))));
                pc += 3;
                break;
            case 0x81:
                flagsSub(reg[b(1) & 7], imm32(2));
                pc += 6;
                break;
            default: ADD_FAILURE() << "byte " << std::hex << int(b(0)) << " at " << pc; return -1;
            }
        }
        return -1;
    }
};

// A condition as a tree: a comparison, or a chain of parenthesised operands.
struct Cond {
    int reg = 0;  // eax, ecx, edx, ebx
    int op = 0;
    uint32_t imm = 0;
    std::vector<Cond> kids;
    std::vector<bool> isAnd;  // between kids

    static constexpr const char* kRegs[4] = {"eax", "ecx", "edx", "ebx"};
    static constexpr const char* kOps[6] = {"==", "!=", "<", "<=", ">", ">="};

    std::string text() const {
        if (kids.empty()) return std::string(kRegs[reg]) + " " + kOps[op] + " " + std::to_string(imm);
        std::string s;
        for (size_t i = 0; i < kids.size(); ++i) {
            if (i) s += isAnd[i - 1] ? " and " : " OR ";
            s += "(" + kids[i].text() + ")";
        }
        return s;
    }
    // Each operator takes everything to its right.
    bool eval(const uint32_t* r, size_t from = 0) const {
        if (kids.empty()) {
            const uint32_t v = r[reg];
            switch (op) {
            case 0: return v == imm;
            case 1: return v != imm;
            case 2: return v < imm;
            case 3: return v <= imm;
            case 4: return v > imm;
            default: return v >= imm;
            }
        }
        const bool first = kids[from].eval(r);
        if (from + 1 == kids.size()) return first;
        return isAnd[from] ? first && eval(r, from + 1) : first || eval(r, from + 1);
    }

    static Cond random(std::mt19937& rng, int depth) {
        Cond c;
        if (depth == 0 || rng() % 3 == 0) {
            c.reg = int(rng() % 4);
            c.op = int(rng() % 6);
            c.imm = rng() % 3;
            return c;
        }
        const size_t n = 1 + rng() % 4;
        for (size_t i = 0; i < n; ++i) {
            c.kids.push_back(random(rng, depth - 1));
            if (i) c.isAnd.push_back(rng() % 2 == 0);
        }
        return c;
    }
};

class ControlRun : public Control {
protected:
    // Compiles the statements, each with a start label before it, and runs
    // every one of them for every register state of values 0..2.
    void check(const std::vector<std::string>& statements, const std::function<int(size_t, const uint32_t*)>& expected,
               int stopAt = 1000) {
        std::string src;
        for (size_t i = 0; i < statements.size(); ++i) src += "s" + std::to_string(i) + ": " + statements[i] + "\n";
        src += "s_end: nop;\n";
        const std::string out = compile(src);
        for (PFunction f : FuncMan->F_List) ASSERT_NE(f->Type_, ltRef) << funcName(f);
        EXPECT_EQ(blStack->Count(), 0u);
        std::map<uint32_t, PFixup> jumps;
        for (PFixup fx : fixups())
            if (fx->hint == ftJmp) jumps[fx->position] = fx;
        const std::string c = code();
        for (size_t i = 0; i < statements.size(); ++i) {
            const uint32_t from = label("s" + std::to_string(i))->Address;
            const uint32_t to = label(i + 1 < statements.size() ? "s" + std::to_string(i + 1) : "s_end")->Address;
            for (uint32_t v = 0; v < 81; ++v) {
                Machine m;
                const uint32_t r[4] = {v % 3, v / 3 % 3, v / 9 % 3, v / 27 % 3};
                m.reg[0] = r[0];
                m.reg[1] = r[1];
                m.reg[2] = r[2];
                m.reg[3] = r[3];
                const int got = m.run(c, jumps, from, to, stopAt);
                const int want = expected(i, r);
                if (got != want) {
                    ADD_FAILURE() << statements[i] << " with eax=" << r[0] << " ecx=" << r[1] << " edx=" << r[2]
                                  << " ebx=" << r[3] << ": " << got << ", expected " << want;
                    return;
                }
            }
        }
    }
};

std::vector<Cond> randomConds(unsigned seed, size_t n) {
    std::mt19937 rng(seed);
    std::vector<Cond> v;
    for (size_t i = 0; i < n; ++i) v.push_back(Cond::random(rng, 1 + int(i % 4)));
    return v;
}

// Chains that the brief names and the ones whose groups are followed by the
// other operator.
const std::vector<std::string> kNamedConds = {
    "(eax == 1) and (ecx == 2)",
    "(eax == 1) or (ecx == 2)",
    "(eax == 1) and (ecx == 2) or (edx == 0)",
    "(eax == 1) or (ecx == 2) and (edx == 0)",
    "((eax == 1) or (ecx == 2)) or (edx == 0)",
    "((eax == 1) and (ecx == 2)) and (edx == 0)",
    "((eax == 1) or (ecx == 2)) or (edx == 0) and (ebx == 1)",
    "((eax == 1) and (ecx == 2)) and (edx == 0) or (ebx == 1)",
    "((eax == 1) or (ecx == 2)) and ((edx == 0) or (ebx == 1))",
    "((eax == 1) and (ecx == 2)) or ((edx == 0) and (ebx == 1))",
    "(((eax == 1) or (ecx == 2))) and (edx == 0)",
    "(((eax == 1) and (ecx == 2)) or (edx == 1)) and (ebx == 2)",
    "(eax == 1)",
    "((eax == 1))",
};

std::vector<Cond> allConds() {
    std::vector<Cond> v = randomConds(1234, 120);
    return v;
}

TEST_F(ControlRun, IfRunsItsBodyExactlyWhenTheConditionHolds) {
    std::vector<std::string> st;
    std::vector<Cond> conds = allConds();
    for (const Cond& c : conds) st.push_back("if (" + c.text() + ") { int3; }");
    check(st, [&](size_t i, const uint32_t* r) { return conds[i].eval(r) ? 1 : 0; });
}

TEST_F(ControlRun, NamedChains) {
    // The reference: the same chain as a tree, parsed from its text here.
    std::vector<std::string> st;
    for (const std::string& c : kNamedConds) st.push_back("if (" + c + ") { int3; }");
    const auto reg = [](const uint32_t* r, const std::string& n) {
        return n == "eax" ? r[0] : n == "ecx" ? r[1] : n == "edx" ? r[2] : r[3];
    };
    // Hand-written truth of each named chain.
    const std::vector<std::function<bool(const uint32_t*)>> truth = {
        [&](const uint32_t* r) { return reg(r, "eax") == 1 && reg(r, "ecx") == 2; },
        [&](const uint32_t* r) { return reg(r, "eax") == 1 || reg(r, "ecx") == 2; },
        [&](const uint32_t* r) { return reg(r, "eax") == 1 && (reg(r, "ecx") == 2 || reg(r, "edx") == 0); },
        [&](const uint32_t* r) { return reg(r, "eax") == 1 || (reg(r, "ecx") == 2 && reg(r, "edx") == 0); },
        [&](const uint32_t* r) { return reg(r, "eax") == 1 || reg(r, "ecx") == 2 || reg(r, "edx") == 0; },
        [&](const uint32_t* r) { return reg(r, "eax") == 1 && reg(r, "ecx") == 2 && reg(r, "edx") == 0; },
        [&](const uint32_t* r) {
            return (reg(r, "eax") == 1 || reg(r, "ecx") == 2) || (reg(r, "edx") == 0 && reg(r, "ebx") == 1);
        },
        [&](const uint32_t* r) {
            return (reg(r, "eax") == 1 && reg(r, "ecx") == 2) && (reg(r, "edx") == 0 || reg(r, "ebx") == 1);
        },
        [&](const uint32_t* r) {
            return (reg(r, "eax") == 1 || reg(r, "ecx") == 2) && (reg(r, "edx") == 0 || reg(r, "ebx") == 1);
        },
        [&](const uint32_t* r) {
            return (reg(r, "eax") == 1 && reg(r, "ecx") == 2) || (reg(r, "edx") == 0 && reg(r, "ebx") == 1);
        },
        [&](const uint32_t* r) { return (reg(r, "eax") == 1 || reg(r, "ecx") == 2) && reg(r, "edx") == 0; },
        [&](const uint32_t* r) {
            return ((reg(r, "eax") == 1 && reg(r, "ecx") == 2) || reg(r, "edx") == 1) && reg(r, "ebx") == 2;
        },
        [&](const uint32_t* r) { return reg(r, "eax") == 1; },
        [&](const uint32_t* r) { return reg(r, "eax") == 1; },
    };
    ASSERT_EQ(truth.size(), kNamedConds.size());
    check(st, [&](size_t i, const uint32_t* r) { return truth[i](r) ? 1 : 0; });
}

TEST_F(ControlRun, WhileConditions) {
    std::vector<Cond> conds = randomConds(99, 60);
    std::vector<std::string> st;
    for (const Cond& c : conds) st.push_back("while (" + c.text() + ") { int3; }");
    // The body runs when the condition holds; the interpreter stops at it.
    check(
        st, [&](size_t i, const uint32_t* r) { return conds[i].eval(r) ? 1 : 0; }, 1);
}

TEST_F(ControlRun, UntilConditions) {
    std::vector<Cond> conds = randomConds(99, 60);
    std::vector<std::string> st;
    for (const Cond& c : conds) st.push_back("repeat { int3; } until (" + c.text() + ");");
    // Once through the body, then out when it holds, else round again.
    check(
        st, [&](size_t i, const uint32_t* r) { return conds[i].eval(r) ? 1 : 2; }, 2);
}

TEST_F(ControlRun, BreakIfAndExitifLeaveWhenTheConditionHolds) {
    std::vector<Cond> conds = randomConds(7, 60);
    std::vector<std::string> st;
    for (size_t i = 0; i < conds.size(); ++i) {
        const std::string c = conds[i].text();
        switch (i % 4) {
        case 0: st.push_back("repeat { break if (" + c + "); int3; };"); break;
        case 1: st.push_back("while (eax < 3) { if (1 == 1) { break if (" + c + "); } int3; }"); break;
        case 2: st.push_back("if (1 == 1) { exitif (" + c + "); int3; }"); break;
        default: st.push_back("if (1 == 1) { repeat { exitif if (" + c + "); int3; }; }"); break;
        }
    }
    check(
        st, [&](size_t i, const uint32_t* r) { return conds[i].eval(r) ? 0 : 1; }, 1);
}

TEST_F(ControlRun, BranchesOfIfElseifElse) {
    std::vector<Cond> conds = randomConds(42, 40);
    std::vector<std::string> st;
    for (size_t i = 0; i + 1 < conds.size(); i += 2)
        st.push_back("if (" + conds[i].text() + ") { int3; } elseif (" + conds[i + 1].text() +
                     ") { int3; int3; } else { int3; int3; int3; }");
    check(st, [&](size_t k, const uint32_t* r) { return conds[2 * k].eval(r) ? 1 : conds[2 * k + 1].eval(r) ? 2 : 3; });
}

// ---- statement shapes ----

TEST_F(Control, IfWithoutElseHasNoJumpToItsEnd) {
    compile("if (eax == 1) { nop; }");
    ASSERT_EQ(fixups().size(), 1u);
    EXPECT_EQ(blStack->Count(), 0u);
    // Names of the records made, in order: endif, else, ifcode.
    std::vector<std::string> names;
    for (uint32_t i = 1; i < FuncMan->Count(); ++i) names.push_back(funcName(FuncMan->getFunc(i)));
    EXPECT_EQ(names, (std::vector<std::string>{"endif", "else", "ifcode"}));
    for (uint32_t i = 1; i < FuncMan->Count(); ++i) {
        EXPECT_EQ(FuncMan->getFunc(i)->Type_, ltLabel);
        EXPECT_TRUE(FuncMan->getFunc(i)->IsCalled);
    }
}

TEST_F(Control, ElseifChainEndsEachEarlierBranchWithAJump) {
    compile(
        "if (eax == 1) { nop; } elseif (eax == 2) { nop; } /* c */ elseif (eax == 3) { nop; }\n"
        "// a comment between\n else { int3; }");
    std::vector<std::string> kinds;
    for (PFixup fx : fixups()) kinds.push_back(std::string(funcName(target(fx))) + "/" + std::to_string(fx->jmp));
    EXPECT_EQ(kinds, (std::vector<std::string>{"else/5", "endif/16", "else/5", "endif/16", "else/5", "endif/16"}));
    // Every jmp goes to the one end label, after the else body.
    const std::vector<PFixup> fx = fixups();
    EXPECT_EQ(fx[1]->index, fx[5]->index);
    EXPECT_EQ(target(fx[1])->Address, code().size() - 1);
    EXPECT_EQ(uint8_t(code()[code().size() - 2]), 0xCC);
}

namespace else_must_follow_the_brace_and_comes_once_rows {
struct Case {
    const char* text;
    const char* message;
};
const Case cases[] = {
    {"if (eax == 1) { } nop; else { }", "[11000] Unexpected reserved keyword else"},
    {"if (eax == 1) { } else { } else { }", "[11000] Unexpected reserved keyword else"},
    {"if (eax == 1) { } else { } elseif (eax == 2) { }", "[11000] Unexpected reserved keyword elseif"},
    {"until (eax == 1);", "[11000] Unexpected reserved keyword until"},
};
}  // namespace else_must_follow_the_brace_and_comes_once_rows

TAVIK_TABLE(Control, ControlMisplacedElse, else_must_follow_the_brace_and_comes_once_rows, text);

TEST_P(ControlMisplacedElse, Refused) {
    const else_must_follow_the_brace_and_comes_once_rows::Case& c = GetParam();
    SCOPED_TRACE(c.text);
    const std::string out = failure(c.text);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

TEST_F(Control, WhileLoopsBackToItsCondition) {
    compile("nop; while (ecx != 0) { dec ecx; }");
    // nop; cmp ecx, 0 is test; je else; dec ecx; jmp start; ret
    EXPECT_EQ(hex(code()), std::string("90 85 c9 ") + kJmp + " 49 " + kJmp + " c3");
    const std::vector<PFixup> fx = fixups();
    ASSERT_EQ(fx.size(), 2u);
    EXPECT_EQ(fx[0]->jmp, jtJE);
    EXPECT_EQ(target(fx[0])->Address, 18u);
    EXPECT_EQ(std::string(funcName(target(fx[1]))), "start");
    EXPECT_EQ(fx[1]->jmp, jtJMP);
    EXPECT_EQ(target(fx[1])->Address, 1u);
}

TEST_F(Control, RepeatUntilRoundsAgainFromItsTop) {
    compile("repeat { inc edx; } until (edx >= 10);");
    EXPECT_EQ(hex(code()), std::string("42 83 fa 0a ") + kJmp + " c3");
    std::vector<PFixup> fx = fixups();
    ASSERT_EQ(fx.size(), 1u);
    EXPECT_EQ(fx[0]->jmp, jtJB);  // round again while below 10
    EXPECT_EQ(std::string(funcName(target(fx[0]))), "continue");
    EXPECT_EQ(target(fx[0])->Address, 0u);
}

TEST_F(Control, EndlessRepeatJumpsToItsTop) {
    compile("nop; repeat { inc edx; };");
    EXPECT_EQ(hex(code()), std::string("90 42 ") + kJmp + " c3");
    const std::vector<PFixup> fx = fixups();
    ASSERT_EQ(fx.size(), 1u);
    EXPECT_EQ(fx[0]->jmp, jtJMP);
    EXPECT_EQ(target(fx[0])->Address, 1u);
}

namespace break_continue_and_exitif_find_their_blocks_rows {
struct Case {
    const char* text;
    const char* from;    // label before the jump
    const char* target;  // label its jump lands on
};
const Case cases[] = {
    // break in an if in a while leaves the while.
    {"while (eax == 1) { if (ebx == 1) { a: break; } } b: nop;", "a", "b"},
    {"repeat { if (ebx == 1) { a: break; } } until (eax == 1); b: nop;", "a", "b"},
    // exitif in a while in an if leaves the if.
    {"if (eax == 1) { while (ebx == 1) { a: exitif; } } b: nop;", "a", "b"},
    // continue goes to a while's condition.
    {"nop; b: while (eax == 1) { if (ebx == 1) { a: continue; } }", "a", "b"},
    // and to a repeat's until condition.
    {"repeat { if (ebx == 1) { a: continue; } b: } until (eax == 1);", "a", "b"},
    // In an endless repeat to its top.
    {"nop; b: repeat { nop; a: continue; };", "a", "b"},
};
}  // namespace break_continue_and_exitif_find_their_blocks_rows

TAVIK_TABLE(Control, ControlLoopExits, break_continue_and_exitif_find_their_blocks_rows, text);

TEST_P(ControlLoopExits, FindTheirBlocks) {
    const break_continue_and_exitif_find_their_blocks_rows::Case& c = GetParam();
    SCOPED_TRACE(c.text);
    compile(c.text);
    const uint32_t at = label(c.from)->Address;
    PFixup jump = nullptr;
    for (PFixup fx : fixups())
        if (fx->position == at) jump = fx;
    ASSERT_NE(jump, nullptr);
    EXPECT_EQ(jump->jmp, jtJMP);
    EXPECT_EQ(target(jump)->Address, label(c.target)->Address);
    EXPECT_EQ(blStack->Count(), 0u);
}

// A ret that ends a body is not the end of rtlmain: code after the block
// is still reached from its condition.
TEST_F(Control, RetAtTheEndOfABodyKeepsTheClosingRet) {
    compile("if (eax == 1) { retn; }");
    EXPECT_EQ(hex(code()), std::string("83 f8 01 ") + kJmp + " c3 c3");
}

TEST_F(Control, RetAtTheEndOfLoopBodiesKeepsTheClosingRet) {
    compile("while (eax == 1) { retn; } repeat { retn; } until (eax == 2);");
    EXPECT_EQ(uint8_t(code().back()), 0xC3);
    EXPECT_EQ(uint8_t(code()[code().size() - 2]), 0x90);  // the last placeholder, then the ret
}

TEST_F(Control, NestedStatementsShareNothingButTheStack) {
    compile(
        "if (eax == 1) { while (ebx == 2) { repeat { if ((ecx == 1) or (edx == 1)) { break; } } until (eax == 0); } }");
    EXPECT_EQ(blStack->Count(), 0u);
    for (PFunction f : FuncMan->F_List) EXPECT_NE(f->Type_, ltRef) << funcName(f);
}

// 24 levels of and/or hold; an and/or at level 24 is too complex.
std::string nested(int levels, const char* op) {
    std::string s = "eax == 1";
    for (int i = 0; i < levels; ++i) s = "(" + s + ") " + op + " (ebx == 2)";
    return "if (" + s + ") { }";
}

// 24 operators at one level fill its table; a 25th does not fit.
std::string wide(int ops, const char* op) {
    std::string s = "(eax == 1)";
    for (int i = 0; i < ops; ++i) s += std::string(" ") + op + " (ebx == " + std::to_string(i) + ")";
    return "if (" + s + ") { }";
}

TEST_F(Control, AndAt24Levels) {
    compile(nested(24, "and"));
    for (PFunction f : FuncMan->F_List) EXPECT_NE(f->Type_, ltRef) << funcName(f);
}

TEST_F(Control, OrAt24Levels) { compile(nested(24, "or")); }

// Level 24: the innermost chain is the 25th.
TEST_F(Control, AndChainAtLevel24IsTooComplex) {
    const std::string out =
        failure("if (" + std::string(24, '(') + "(eax == 1) and (ebx == 1)" + std::string(24, ')') + ") { }");
    EXPECT_NE(out.find("[01010] If statement is too complex"), std::string::npos) << out;
}

TEST_F(Control, OrChainAtLevel24IsTooComplex) {
    const std::string out =
        failure("if (" + std::string(24, '(') + "(eax == 1) or (ebx == 1)" + std::string(24, ')') + ") { }");
    EXPECT_NE(out.find("[01011] If statement is too complex"), std::string::npos) << out;
}

// Deep parentheses alone are fine; without end they stop with a message.
TEST_F(Control, DeepParenthesesAlone) {
    compile("if (" + std::string(40, '(') + "eax == 1" + std::string(40, ')') + ") { }");
}

TEST_F(Control, ParenthesesWithoutEndAreTooComplex) {
    const std::string out = failure("if (" + std::string(5000, '(') + "eax == 1" + std::string(5000, ')') + ") { }");
    EXPECT_NE(out.find("[01010] If statement is too complex"), std::string::npos) << out;
}

TEST_F(Control, TwentyFourAndsAtOneLevel) { compile(wide(24, "and")); }

TEST_F(Control, TwentyFiveAndsAtOneLevelAreTooComplex) {
    const std::string out = failure(wide(25, "and"));
    EXPECT_NE(out.find("[01010] If statement is too complex"), std::string::npos) << out;
}

TEST_F(Control, TwentyFiveOrsAtOneLevelAreTooComplex) {
    const std::string out = failure(wide(25, "or"));
    EXPECT_NE(out.find("[01011] If statement is too complex"), std::string::npos) << out;
}

namespace messages_rows {
struct Case {
    const char* text;
    const char* message;
};
const Case cases[] = {
    {"if (eax) { }", "[1765] Unexpected symbol )"},
    {"if (1 = 1) { }", "[48424] Unexpected"},
    {"if (2 + 1) { }", "[48424] Unexpected"},
    {"if (eax = 1) { }", "[1161] Unsupported operator \"=\""},
    {"if (eax += 1) { }", "[1161] Unsupported operator \"+=\""},
    {"if (eax << 1) { }", "[1161] Unsupported operator \"<<\""},
    // names of code are no values
    {"function f { } while (eax != f) { }",
     "[1766] \"f\" is a function and cannot be compared: call it and compare EAX"},
    {"procedure p { } if (p == 1) { }", "[1766] \"p\" is a procedure and cannot be compared"},
    {"l: if (eax == l) { }", "[1766] \"l\" is a label and cannot be compared"},
    {"if eax == 1 { }", "[432765] Unexpected register eax"},
    {"if (eax == 1 { }", "[70003] Unexpected symbol {"},
    {"if (eax == 1) nop;", "[70444] Unexpected ident nop"},
    {"if (eax == 1) { } elseif eax == 2 { }", "[432765] Unexpected register eax"},
    {"if (eax == 1) { } elseif (eax == 2 { }", "[70003] Unexpected symbol {"},
    {"if (eax == 1) { } else nop;", "[70444] Unexpected ident nop"},
    {"if ((eax == 1 { }", "[70005] Unexpected symbol {"},
    {"if ((eax == 1) and ebx == 1) { }", "[87] Unexpected register ebx"},
    {"if ((eax == 1) and (ebx == 1 { }", "[769] Unexpected symbol {"},
    {"if ((eax == 1) or ebx == 1) { }", "[75] Unexpected register ebx"},
    {"if ((eax == 1) or (ebx == 1 { }", "[70005] Unexpected symbol {"},
    {"if (((eax == 1) and ebx == 1)) { }", "[987987] Unexpected register ebx"},
    {"if (((eax == 1) and (ebx == 1 { }", "[789] Unexpected symbol {"},
    {"if (((eax == 1) or ebx == 1)) { }", "[123] Unexpected register ebx"},
    {"if (((eax == 1) or (ebx == 1 { }", "[532] Unexpected symbol {"},
    {"while eax { }", "[432765] Unexpected register eax"},
    {"while (eax == 1 { }", "[70003] Unexpected symbol {"},
    {"while (eax == 1) nop;", "[70444] Unexpected ident nop"},
    {"repeat nop;", "[70444] Unexpected ident nop"},
    {"repeat { } while (eax == 1);", "[32213] Unexpected reserved keyword while"},
    {"repeat { } until eax;", "[432765] Unexpected register eax"},
    {"repeat { } until (eax == 1;", "[70003] Unexpected symbol ;"},
    {"continue;", "[4224] Continue is only valid inside a loop block such as while or repeat"},
    {"if (eax == 1) { continue; }", "[4224] Continue is only valid inside a loop block such as while or repeat"},
    {"break;", "[4225] Break is only valid used inside block statements such as while or repeat"},
    {"if (eax == 1) { break; }", "[4225] Break is only valid used inside block statements such as while or repeat"},
    {"exitif;", "[4225] exitif is only valid used inside of if statements"},
    {"while (eax == 1) { exitif; }", "[4225] exitif is only valid used inside of if statements"},
    {"while (eax == 1) { break (eax == 1); }", "[643] Unexpected symbol ("},
    {"while (eax == 1) { break foo; }", "[643] Unexpected ident foo"},
    {"while (eax == 1) { break while (eax == 1); }", "[43557] Unexpected reserved keyword while"},
    {"while (eax == 1) { break if eax == 1; }", "[643456] Unexpected register eax"},
    {"while (eax == 1) { break if (eax == 1; }", "[6445] Unexpected symbol ;"},
    {"while (eax == 1) { break if (eax == 1) nop; }", "[5334] Unexpected ident nop"},
    {"if (eax == 1) { exitif foo (eax == 1); }", "[613] Unexpected ident foo"},
    {"if (eax == 1) { exitif while (eax == 1); }", "[43567] Unexpected reserved keyword while"},
    {"if (eax == 1) { exitif eax == 1; }", "[643456] Unexpected register eax"},
    {"if (eax == 1) { exitif (eax == 1; }", "[6145] Unexpected symbol ;"},
    {"if (eax == 1) { exitif (eax == 1) nop; }", "[5314] Unexpected ident nop"},
    {"if (eax == 1) { nop;", "[70445] Unexpected EOF"},
    {"repeat { nop;", "[70445] Unexpected EOF"},
    {"if (eax == undefined_name) { }", "[1111] Unexpected ident undefined_name"},
    {"if (5 == eax) { }", "[124412] "},
};
}  // namespace messages_rows

TAVIK_TABLE(Control, ControlMessages, messages_rows, text);

TEST_P(ControlMessages, Shown) {
    const messages_rows::Case& c = GetParam();
    SCOPED_TRACE(c.text);
    const std::string out = failure(c.text);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
}

TEST_F(Control, MessagesShowTheSourceLine) {
    const std::string out = failure("nop;\n  if (eax = 1) { }\n");
    EXPECT_NE(out.find("[1161] Unsupported operator \"=\" in [project.tav]\nCode: \nif (eax = 1) { }"),
              std::string::npos)
        << out;
}

// A build abandoned inside open blocks leaves nothing behind for the next.
TEST_F(Control, AbandonedBlocksDoNotReachTheNextBuild) {
    failure("while (eax == 1) { break if ((eax == 1) or (ebx == 1)); if (eax == 1) { foo");
    freshSession();
    compile("while (eax == 1) { break if ((eax == 1) and (ebx == 1)); }");
    for (PFunction f : FuncMan->F_List) EXPECT_NE(f->Type_, ltRef) << funcName(f);
}

}  // namespace
