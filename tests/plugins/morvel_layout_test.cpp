// The code and data layout driven through the service table of a test host,
// checked against the examples of the layout rules and against a direct
// transcription of the one-pass algorithm that moves every record at every
// removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "layout.h"
#include "host.h"
#include "test_host.h"

using namespace morvel_test;

namespace {

struct Fixture : ::testing::Test {
    TestHost h;
    void SetUp() override { morvel::takeServices(h.table()); }
    uint32_t layout() {
        h.building = true;
        return morvel::layoutCode();
    }
};

std::vector<uint8_t> nops(size_t n) { return std::vector<uint8_t>(n, 0x90); }

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> r;
    for (auto& p : parts) r.insert(r.end(), p.begin(), p.end());
    return r;
}

}  // namespace

TEST(Layout, AlignUp) {
    struct {
        uint32_t v, a, want;
    } cases[] = {
        {0, 512, 512}, {512, 512, 512}, {513, 512, 1024}, {5, 4, 8}, {3, 4, 4}, {4096, 4096, 4096}, {4097, 4096, 8192},
    };
    for (auto& c : cases) EXPECT_EQ(morvel::alignUp(c.v, c.a), c.want) << c.v << "," << c.a;
}

TEST_F(Fixture, LocalsPlaceholderRemovedOrFilled) {
    PFunction main = h.func(0);
    h.setCode(main, cat({{0xC3}}));
    PFunction p = h.addFunction(ltProc, "p");
    p->IsCalled = 1;
    h.setCode(p, cat({{0x55}, nops(6), {0xC3}}));
    h.addFixup(p, ftLocals, 1, 6, 0);
    PFunction q = h.addFunction(ltProc, "q");
    q->IsCalled = 1;
    q->LocalCount = 3;
    q->LocalSize = 5;
    h.setCode(q, cat({{0x55}, nops(6), {0xC3}}));
    h.addFixup(q, ftLocals, 1, 6, 0);
    PFunction r = h.addFunction(ltProc, "r");
    r->IsCalled = 1;
    h.setCode(r, {0xC3});

    EXPECT_EQ(layout(), 1u + 2 + 8 + 1);
    EXPECT_EQ(h.code(p), (std::vector<uint8_t>{0x55, 0xC3}));
    EXPECT_EQ(h.code(q), (std::vector<uint8_t>{0x55, 0x81, 0xEC, 0x08, 0x00, 0x00, 0x00, 0xC3}));
    EXPECT_EQ(p->Address, 1u);
    EXPECT_EQ(q->Address, 3u);
    EXPECT_EQ(r->Address, 11u);
}

TEST_F(Fixture, JumpFormsAndTheirBounds) {
    // One jump per function, over a run of filler to a label behind it, or
    // back to a label at the start, in front of the filler.
    struct Case {
        uint16_t cc;
        uint32_t gap;
        std::vector<uint8_t> head;
        uint32_t len;
        bool back = false;
    };
    // ahead, d = gap + 6 for a label right behind the placeholder; back, d = -(gap + 1)
    Case cases[] = {
        {16, 94, {0xEB}, 2},         // 100 ahead: short
        {4, 294, {0x0F, 0x84}, 6},   // 300 ahead, je: near, position moves up by one
        {16, 119, {0xEB}, 2},        // d = 125: short
        {16, 120, {0xE9}, 5},        // d = 126: near
        {115, 100, {0xE3}, 2},       // jecxz keeps its short form
        {16, 125, {0xEB}, 2, true},  // d = -126: short
        {16, 126, {0xE9}, 5, true},  // d = -127: near
        {4, 125, {0x74}, 2, true},  {4, 126, {0x0F, 0x84}, 6, true}, {4, 119, {0x74}, 2}, {4, 120, {0x0F, 0x84}, 6},
    };
    std::vector<PFunction> fns;
    std::vector<PFixup> fxs;
    std::vector<PFunction> labels;
    for (auto& c : cases) {
        PFunction f = h.addFunction(ltProc, "f");
        f->IsCalled = 1;
        h.setCode(f, cat({nops(7), nops(c.gap), {0xC3}}));
        PFunction l = h.addLabel(f, "l", c.back ? 0 : 7 + c.gap);
        fxs.push_back(h.addFixup(f, ftJmp, c.back ? c.gap : 0, 7, l->FuncIndex, 0, c.cc));
        fns.push_back(f);
        labels.push_back(l);
    }
    layout();
    for (size_t i = 0; i < fns.size(); ++i) {
        const Case& c = cases[i];
        auto code = h.code(fns[i]);
        SCOPED_TRACE(i);
        const uint32_t at = c.back ? c.gap : 0;
        ASSERT_GE(code.size(), at + c.head.size());
        EXPECT_TRUE(std::equal(c.head.begin(), c.head.end(), code.begin() + at));
        EXPECT_EQ(code.size(), c.len + c.gap + 1);
        EXPECT_EQ(labels[i]->Address, c.back ? 0 : c.len + c.gap);
        bool near = c.len > 2;
        EXPECT_EQ(fxs[i]->hint, near ? ftJmpFar : ftJmpShort);
        EXPECT_EQ(fxs[i]->position, at + (c.len == 6 ? 1u : 0u));
    }
}

TEST_F(Fixture, SixteenBitFormsCarrySixteenBitValues) {
    // f: a near jmp, a near je and a locals allocation, then g behind it.
    h.setCode(h.func(0), {0xC3});
    PFunction f = h.addFunction(ltProc, "f");
    f->IsCalled = 1;
    f->LocalCount = 2;
    f->LocalSize = 0x123;
    h.setCode(f, cat({{0x55}, nops(6), nops(7), nops(7), nops(200), {0xC3}}));
    PFunction l = h.addLabel(f, "l", 21 + 200);
    PFixup loc = h.addFixup(f, ftLocals, 1, 6, 0);
    PFixup jmp = h.addFixup(f, ftJmp, 7, 7, l->FuncIndex, 0, 16);
    PFixup je = h.addFixup(f, ftJmp, 14, 7, l->FuncIndex, 0, 4);
    PFunction g = h.addFunction(ltProc, "g");
    g->IsCalled = 1;
    h.setCode(g, {0xC3});

    h.building = true;
    // 1 + (1 + 4 + 3 + 4 + 200 + 1) + 1
    EXPECT_EQ(morvel::layoutCode(2), 215u);
    auto code = h.code(f);
    ASSERT_EQ(code.size(), 213u);
    EXPECT_EQ(std::vector<uint8_t>(code.begin(), code.begin() + 13),
              (std::vector<uint8_t>{0x55, 0x81, 0xEC, 0x24, 0x01, 0xE9, 0x90, 0x90, 0x0F, 0x84, 0x90, 0x90, 0x90}));
    EXPECT_EQ(loc->position, 1u);
    EXPECT_EQ(jmp->position, 5u);
    EXPECT_EQ(jmp->hint, ftJmpFar);
    EXPECT_EQ(je->position, 9u);
    EXPECT_EQ(je->hint, ftJmpFar);
    EXPECT_EQ(l->Address, 212u);
    EXPECT_EQ(f->Address, 1u);
    EXPECT_EQ(g->Address, 214u);
}

TEST_F(Fixture, UncalledFunctionIsLeftOut) {
    h.setCode(h.func(0), {0xC3});
    PFunction dead = h.addFunction(ltProc, "dead");
    h.setCode(dead, nops(10));
    PFunction live = h.addFunction(ltProc, "live");
    live->IsCalled = 1;
    h.setCode(live, {0xC3});
    EXPECT_EQ(layout(), 2u);
    EXPECT_EQ(dead->Address, 0xFFFFFFFFu);
    EXPECT_EQ(live->Address, 1u);
}

TEST_F(Fixture, FatalOnPlaceholderOutsideCode) {
    h.setCode(h.func(0), nops(5));
    h.addFixup(h.func(0), ftJmp, 0, 7, 0);
    EXPECT_THROW(layout(), HostAbort);
    EXPECT_NE(h.messages.back().find("Placeholder outside the code"), std::string::npos);
}

TEST_F(Fixture, ConstantsAnsiAndWide) {
    PConst a = h.addConst(ctAnsiString, "ab");
    PConst w = h.addConst(ctWideString, "ab");
    PConst u = h.addConst(ctWideString, "\xC3\xA9\xF0\x9F\x98\x80");  // e-acute, one astral character
    EXPECT_EQ(morvel::layoutConsts(), 3u + 6 + 8);
    EXPECT_EQ(a->address, 0u);
    EXPECT_EQ(w->address, 3u);
    EXPECT_EQ(u->address, 9u);
    h.building = true;
    morvel::writeConsts();
    std::vector<uint8_t> want = {'a', 'b', 0, 'a', 0, 'b', 0, 0, 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};
    EXPECT_EQ(h.out, want);
    h.addConst(ctValue, "5");
    EXPECT_THROW(morvel::layoutConsts(), HostAbort);
    EXPECT_EQ(h.messages.back(), "FATAL PlugSys: ERROR 42334");
}

TEST(Layout, WideTextReplacesMalformedBytes) {
    EXPECT_EQ(morvel::wideText("a\xFF"
                               "b"),
              u"a\uFFFD"
              "b");
    EXPECT_EQ(morvel::wideText("\xE2\x82"), u"\uFFFD");                  // a cut sequence is one
    EXPECT_EQ(morvel::wideText("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
}

TEST_F(Fixture, VariablesInitialisedFirst) {
    PVar u1 = h.addVar("u1", 4, 1, false);
    PVar i1 = h.addVar("i1", 2, 3, true, {1, 2, 3, 4, 5, 6});
    h.addVar("local", 4, 1, true, {}, true, vmLocal);
    h.addVar("idle", 4, 1, true, {}, false);
    PVar i2 = h.addVar("i2", 1, 1, true, {9});
    EXPECT_EQ(morvel::layoutVars(false), 11u);
    EXPECT_EQ(i1->address, 0u);
    EXPECT_EQ(i2->address, 6u);
    EXPECT_EQ(u1->address, 7u);
    EXPECT_EQ(morvel::layoutVars(true), 11u);
    EXPECT_EQ(u1->address, 0u);
    EXPECT_EQ(i1->address, 4u);
    h.building = true;
    morvel::writeVars(false);
    EXPECT_EQ(h.out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 9}));
}

// Sizes summed in 64 bits: variables whose total wraps 32 bits, or that pass
// the limit given, are fatal at the first one that passes it.
TEST_F(Fixture, VariablesPastTheLimit) {
    struct Case {
        uint64_t base, limit;
        const char* message;
    };
    Case cases[] = {
        {0, 0xFFFFFFFFu,
         "FATAL PlugSys: Variable c does not fit in the image: it would end 4294967298 bytes into it, "
         "past the limit of 4294967295 bytes"},
        {100, 0x80000000u,
         "FATAL PlugSys: Variable b does not fit in the image: it would end 2863311632 bytes into "
         "it, past the limit of 2147483648 bytes"},
        {0x80000000u, 0x80000000u, "FATAL PlugSys: Variable a does not fit"},
    };
    // 3 x 0x55555556 = 2^32 + 2; the sizes are set after the records are
    // made, so that no content is allocated for them.
    std::vector<PVar> vars;
    for (const char* name : {"a", "b", "c"}) vars.push_back(h.addVar(name, 1, 1, false));
    for (PVar v : vars) v->multiplier = 0x55555556u;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base);
        EXPECT_THROW(morvel::layoutVars(true, c.base, c.limit), HostAbort);
        EXPECT_EQ(h.messages.back().rfind(c.message, 0), 0u) << h.messages.back();
    }
    vars[0]->multiplier = 0x40000000u;
    vars[1]->multiplier = 0x3FFFFFFFu;
    vars[2]->active = 0;
    EXPECT_EQ(morvel::layoutVars(true, 1, 0x80000000u), 0x7FFFFFFFu);  // exactly at the limit
}

// ---- the same results as moving every record at every removal ----

namespace {

// The layout pass as a direct transcription: every removal walks all
// records. False when a placeholder does not fit in its function's code.
// word 2: near jumps and the locals allocation carry 16-bit values.
bool referenceLayout(TestHost& h, uint32_t word) {
    auto shiftCode = [&](PFunction fn, uint32_t at, uint32_t count) {
        for (uint32_t i = 0; i < h.funcCount(); ++i) {
            PFunction p = h.func(i);
            if (!p->IsCalled) continue;
            if (p->Type_ == ltLabel) {
                if (p->Parent == fn && p->Address > at) p->Address -= count;
            } else if (p->Address > fn->Address) {
                p->Address -= count;
            }
            if (p == fn)
                for (PFixup fx : h.fixups(fn))
                    if (fx->position > at) fx->position -= count;
        }
    };
    auto rem = [&](PFunction fn, uint32_t start0, uint32_t n) {
        auto c = h.code(fn);
        c.erase(c.begin() + start0, c.begin() + start0 + n);
        h.setCode(fn, c);
    };
    uint32_t size = 0;
    for (uint32_t i = 0; i < h.funcCount(); ++i) {
        PFunction f = h.func(i);
        if (f->IsCalled && f->Type_ != ltLabel && f->BufLen) {
            f->Address = size;
            size += f->BufLen;
        }
    }
    for (uint32_t i = 0; i < h.funcCount(); ++i) {
        PFunction fn = h.func(i);
        if (!fn->IsCalled || fn->Type_ == ltLabel) continue;
        auto list = h.fixups(fn);
        for (PFixup fx : list) {
            uint32_t pos = fx->position;
            if (fx->hint == ftLocals) {
                if (uint64_t(pos) + 6 > fn->BufLen) return false;
                if (fn->LocalCount > 0) {
                    uint8_t* c = reinterpret_cast<uint8_t*>(fn->Buffer) + pos;
                    uint32_t v = morvel::alignUp(fn->LocalSize, 4);
                    c[0] = 0x81;
                    c[1] = 0xEC;
                    for (uint32_t b = 0; b < word; ++b) c[2 + b] = uint8_t(v >> (8 * b));
                    if (word == 2) {
                        rem(fn, pos + 4, 2);
                        size -= 2;
                        shiftCode(fn, pos, 2);
                    }
                } else {
                    rem(fn, pos, 6);
                    size -= 6;
                    shiftCode(fn, pos, 6);
                }
            } else if (fx->hint == ftJmp) {
                if (uint64_t(pos) + 7 > fn->BufLen) return false;
                PFunction t = h.func(fx->index);
                uint32_t T = t->Address + (t->Parent ? t->Parent->Address : 0);
                int32_t d = int32_t(T - (fn->Address + pos + 1));
                uint8_t* c = reinterpret_cast<uint8_t*>(fn->Buffer) + pos;
                uint32_t cut;
                if (int64_t(d) - 2 < -128 || int64_t(d) + 2 > 127) {
                    fx->hint = ftJmpFar;
                    if (fx->jmp == 16) {
                        c[0] = 0xE9;
                        cut = 6 - word;
                        rem(fn, pos + 1, cut);
                    } else {
                        c[0] = 0x0F;
                        c[1] = uint8_t(0x80 + fx->jmp);
                        cut = 5 - word;
                        rem(fn, pos + 2, cut);
                        fx->position += 1;
                    }
                } else {
                    fx->hint = ftJmpShort;
                    c[0] = fx->jmp == 16 ? 0xEB : uint8_t(0x70 + fx->jmp);
                    rem(fn, pos + 2, 5);
                    cut = 5;
                }
                size -= cut;
                shiftCode(fn, fx->position, cut);
            }
        }
    }
    return true;
}

// A random program, built the same way into any host. Well-formed programs
// keep placeholders in code order with nothing inside them; the others
// shuffle fixup lists and put labels and fixups inside placeholders.
void randomProgram(TestHost& h, uint32_t seed, bool wellFormed) {
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    uint32_t nf = 1 + pick(7);
    struct Plan {
        PFunction f;
        std::vector<uint8_t> code;
        std::vector<std::tuple<uint8_t, uint32_t, uint16_t>> fx;
    };
    std::vector<Plan> plans;
    plans.push_back({h.func(0), {}, {}});
    for (uint32_t i = 1; i < nf; ++i) {
        PFunction f = h.addFunction(ltProc, "f" + std::to_string(i));
        f->IsCalled = pick(10) < 8;
        plans.push_back({f, {}, {}});
    }
    // The code: filler runs between placeholders (7-byte jumps, 6-byte
    // locals, 4-byte fields of other kinds).
    for (auto& p : plans) {
        if (p.f != h.func(0) && pick(10) == 0) {
            // Stays without code, at an address that removals below it move.
            p.f->Address = pick(4) == 0 ? pick(8) : pick(3000);
            continue;
        }
        p.f->LocalCount = pick(2);
        p.f->LocalSize = pick(20);
        // now and then a long function: many removals before a label or target
        uint32_t pieces = pick(8) == 0 ? pick(150) : pick(12);
        for (uint32_t k = 0; k < pieces; ++k) {
            uint32_t run = pick(4) == 0 ? pick(300) : pick(40);
            for (uint32_t b = 0; b < run; ++b) p.code.push_back(uint8_t(rng()));
            uint32_t kind = pick(5);
            uint32_t at = uint32_t(p.code.size());
            if (kind <= 2) {
                p.fx.emplace_back(ftJmp, at, uint16_t(pick(18) == 17 ? uint32_t(jtJECXZ) : pick(17)));
                for (int b = 0; b < 7; ++b) p.code.push_back(0x90);
            } else if (kind == 3) {
                p.fx.emplace_back(ftLocals, at, jtJMP);
                for (int b = 0; b < 6; ++b) p.code.push_back(0x90);
            } else {
                p.fx.emplace_back(ftLabel, at, jtJMP);
                for (int b = 0; b < 4; ++b) p.code.push_back(0);
            }
        }
        p.code.push_back(0xC3);
        h.setCode(p.f, p.code);
    }
    // Labels, some inside placeholders when malformed.
    std::vector<uint32_t> targets;
    for (uint32_t i = 0; i < h.funcCount(); ++i) targets.push_back(i);
    for (auto& p : plans) {
        uint32_t n = p.code.empty() ? 0 : pick(6);
        for (uint32_t k = 0; k < n; ++k) {
            uint32_t off = pick(uint32_t(p.code.size()) + 1);
            if (wellFormed)
                for (auto& [kind, at, cc] : p.fx) {
                    uint32_t len = kind == ftJmp ? 7u : kind == ftLocals ? 6u : 0u;
                    if (off > at && off < at + len) off = at;
                }
            PFunction l = h.addLabel(p.f, "l", off);
            l->IsCalled = pick(10) != 0;
            targets.push_back(l->FuncIndex);
        }
    }
    for (auto& p : plans) {
        std::vector<PFixup> added;
        for (auto& [kind, at, cc] : p.fx) {
            uint32_t pos = at;
            if (!wellFormed && kind == ftLabel && pick(3) == 0 && !p.fx.empty()) {
                auto& [k2, at2, cc2] = p.fx[pick(uint32_t(p.fx.size()))];
                if (k2 == ftJmp) pos = at2 + 1 + pick(3);
            }
            added.push_back(h.addFixup(p.f, TFixupType(kind), pos,
                                       uint8_t(kind == ftJmp      ? 7
                                               : kind == ftLocals ? 6
                                                                  : 4),
                                       targets[pick(uint32_t(targets.size()))], 0, cc));
        }
        if (!wellFormed && pick(2) == 0) std::shuffle(p.f->FixupList->items.begin(), p.f->FixupList->items.end(), rng);
    }
}

}  // namespace

TEST(LayoutEquivalence, SameAddressesPositionsAndBytes) {
    int compared = 0;
    for (uint32_t seed = 1; seed <= 2500; ++seed)
        for (uint32_t word : {4u, 2u}) {
            bool wellFormed = seed % 3 != 0;
            SCOPED_TRACE("seed " + std::to_string(seed) + ", word " + std::to_string(word));
            TestHost ref;
            randomProgram(ref, seed, wellFormed);
            bool refOk = referenceLayout(ref, word);

            TestHost h;
            randomProgram(h, seed, wellFormed);
            morvel::takeServices(h.table());
            bool ok = true;
            try {
                morvel::layoutCode(word);
            } catch (const HostAbort&) {
                ok = false;
            }
            // The only refusals are placeholders that do not fit, or a jecxz
            // whose target is out of its reach.
            if (!ok && h.messages.back().find("jecxz") != std::string::npos) continue;
            ASSERT_EQ(ok, refOk) << (h.messages.empty() ? "" : h.messages.back());
            if (!ok) continue;
            ASSERT_EQ(h.funcCount(), ref.funcCount());
            for (uint32_t i = 0; i < h.funcCount(); ++i) {
                PFunction a = h.func(i), b = ref.func(i);
                ASSERT_EQ(a->Address, b->Address) << "record " << i;
                ASSERT_EQ(h.code(a), ref.code(b)) << "record " << i;
                auto fa = h.fixups(a), fb = ref.fixups(b);
                ASSERT_EQ(fa.size(), fb.size());
                for (size_t k = 0; k < fa.size(); ++k) {
                    ASSERT_EQ(fa[k]->hint, fb[k]->hint) << "record " << i << " fixup " << k;
                    ASSERT_EQ(fa[k]->position, fb[k]->position) << "record " << i << " fixup " << k;
                }
            }
            ++compared;
        }
    EXPECT_GT(compared, 2000) << compared;
}

// ---- the cost grows with the program, not with its square ----

namespace {

// Service calls the layout makes, counted through a copy of the test host's
// table: a walk over every record per removal, or one removal call per
// placeholder (each moving the rest of the code), shows up here.
struct Counted {
    static inline const TPluginInterface* real = nullptr;
    static inline uint64_t reads = 0, removals = 0;
    static PFunction TAV_CALL funcGet(uint32_t i) {
        ++reads;
        return real->Func_Get(i);
    }
    static PFixup TAV_CALL fixupGet(PFunction f, uint32_t i) {
        ++reads;
        return real->Fixup_Get(f, i);
    }
    static uint32_t TAV_CALL fixupCount(PFunction f) {
        ++reads;
        return real->Fixup_Count(f);
    }
    static void TAV_CALL rem(PFunction f, uint32_t start, uint32_t len) {
        ++removals;
        real->func_rem(f, start, len);
    }
};

// Layout of a program made by make(h, n): the reads and removals it took.
template <class Make>
std::pair<uint64_t, uint64_t> cost(Make make, uint32_t n) {
    TestHost h;
    make(h, n);
    TPluginInterface t = *h.table();
    Counted::real = h.table();
    t.Func_Get = Counted::funcGet;
    t.Fixup_Get = Counted::fixupGet;
    t.Fixup_Count = Counted::fixupCount;
    t.func_rem = Counted::rem;
    morvel::takeServices(&t);
    Counted::reads = Counted::removals = 0;
    h.building = true;
    morvel::layoutCode();
    return {Counted::reads, Counted::removals};
}

// n functions, each losing its locals placeholder and shrinking a short and
// a near jump, some reachable records without code among them.
void manyFunctions(TestHost& h, uint32_t n) {
    auto code =
        cat({nops(9), nops(7), std::vector<uint8_t>(10, 0xCC), nops(7), std::vector<uint8_t>(200, 0xCC), {0xC3}});
    for (uint32_t i = 0; i < n; ++i) {
        PFunction f = h.addFunction(ltProc, "f");
        f->IsCalled = 1;
        h.setCode(f, code);
        PFunction a = h.addLabel(f, "a", 26);
        PFunction b = h.addLabel(f, "b", 233);
        h.addFixup(f, ftLocals, 3, 6, 0);
        h.addFixup(f, ftJmp, 9, 7, a->FuncIndex);
        h.addFixup(f, ftJmp, 26, 7, b->FuncIndex, 0, jtJNE);
        if (i % 4 == 0) {
            PFunction empty = h.addFunction(ltProc, "e");
            empty->IsCalled = 1;
            empty->Address = 240 * (n - i);
        }
    }
}

// One function holding n jumps to labels all over it.
void oneLongFunction(TestHost& h, uint32_t n) {
    std::vector<uint8_t> code;
    std::vector<uint32_t> at;
    for (uint32_t i = 0; i < n; ++i) {
        at.push_back(uint32_t(code.size()));
        code.insert(code.end(), 7, 0x90);
        code.insert(code.end(), 20, 0xCC);
    }
    code.push_back(0xC3);
    h.setCode(h.func(0), code);
    for (uint32_t i = 0; i < n; ++i) {
        PFunction l = h.addLabel(h.func(0), "l", at[(i * 7919u) % n]);
        h.addFixup(h.func(0), ftJmp, at[i], 7, l->FuncIndex, 0, uint16_t(i % 16));
    }
}

}  // namespace

TEST(LayoutCost, ProportionalToTheProgram) {
    auto [reads1, rem1] = cost(manyFunctions, 500);
    auto [reads4, rem4] = cost(manyFunctions, 2000);
    // Four times the functions: four times the work, give or take the constant.
    EXPECT_LE(reads4, 4 * reads1 + 64) << reads1 << " " << reads4;
    EXPECT_LE(rem4, 4 * rem1 + 4) << rem1 << " " << rem4;
    // One closing-up per function, not one per placeholder.
    EXPECT_LE(rem4, 2000u + 1);

    auto [lreads1, lrem1] = cost(oneLongFunction, 1000);
    auto [lreads4, lrem4] = cost(oneLongFunction, 4000);
    EXPECT_LE(lreads4, 4 * lreads1 + 64) << lreads1 << " " << lreads4;
    EXPECT_LE(lrem1, 1u);
    EXPECT_LE(lrem4, 1u);
}
