// Memory operands wider than a dword, and MMX/SSE memory operands whose size
// keyword is not the size the row reads: the two-dword sequences against
// `as` and objdump, the refusals against `as` (see refusal_harness.h).
#include "../encoder/encoder_fixture.h"
#include "../encoder/refusal_harness.h"

using namespace enctest;

namespace {

Opnd m(uint32_t size, int32_t d, std::initializer_list<TRegister> regs, const std::string& text, uint8_t scale = 0) {
    return Opnd{M(size, d, scale, regs), text};
}
Opnd i(int64_t v) { return Opnd{I(v), std::to_string(v)}; }
Opnd r(TRegister x, const char* text) { return Opnd{R(x), text}; }
Opnd mm(int n) { return Opnd{ST(n), "mm" + std::to_string(n)}; }
Opnd xmm(int n) { return Opnd{XMM(n), "xmm" + std::to_string(n)}; }

class EncoderWide : public EncoderTest {
protected:
    void same(uint32_t bits, const std::vector<DiffCase>& cases) {
        REQUIRE_TOOL(toolAvailable("as") && toolAvailable("objdump"), "as or objdump (binutils)");
        DiffReport rep = runDiffBatch(bits, cases, *asmb, 5);
        for (const std::string& f : rep.failures) ADD_FAILURE() << bits << ": " << f;
        EXPECT_EQ(rep.sameBytes + rep.sameText, cases.size());
    }
    void refused(uint32_t bits, const std::vector<RefusalCase>& cases) {
        REQUIRE_TOOL(toolAvailable("as"), "as (binutils)");
        for (const std::string& f : checkRefusals(bits, cases, *asmb)) ADD_FAILURE() << bits << ": " << f;
    }
};

}  // namespace

// not, neg and the shifts by a constant act on both dwords; a shift saves
// a scratch register the address does not use, and an address on esp
// allows for it.
TEST_F(EncoderWide, QwordSequencesAgainstBinutils) {
    same(32,
         {
             {"not", {m(8, 0, {REG_EBX}, "")}, "not DWORD PTR [ebx]; not DWORD PTR [ebx+4]"},
             // adc takes its zero in the 81 form, as in every memory ALU form.
             {"neg",
              {m(8, -8, {REG_EBP}, "")},
              "neg DWORD PTR [ebp-8]; adc DWORD PTR [ebp-4], 0; neg DWORD PTR [ebp-4]",
              true},
             {"shl",
              {m(8, 0, {REG_EBX}, ""), i(3)},
              "push eax; mov eax, DWORD PTR [ebx]; shl DWORD PTR [ebx], 3; shld DWORD PTR [ebx+4], eax, 3; pop eax"},
             {"sal",
              {m(8, 0, {REG_EAX}, ""), i(1)},
              "push ecx; mov ecx, DWORD PTR [eax]; shl DWORD PTR [eax], 1; shld DWORD PTR [eax+4], ecx, 1; pop ecx"},
             {"shr",
              {m(8, 4, {REG_ESP}, ""), i(31)},
              "push eax; mov eax, DWORD PTR [esp+12]; shr DWORD PTR [esp+12], 31; shrd DWORD PTR [esp+8], eax, 31; "
              "pop eax"},
             {"sar",
              {m(8, 0, {REG_EAX, REG_ECX}, "", 4), i(7)},
              "push edx; mov edx, DWORD PTR [eax+ecx*4+4]; sar DWORD PTR [eax+ecx*4+4], 7; "
              "shrd DWORD PTR [eax+ecx*4], edx, 7; pop edx"},
             {"shl",
              {m(8, 0, {REG_EAX, REG_EDX}, ""), i(2)},
              "push ecx; mov ecx, DWORD PTR [eax+edx]; shl DWORD PTR [eax+edx], 2; shld DWORD PTR [eax+edx+4], ecx, 2; "
              "pop ecx"},
         });
    same(16,
         {
             {"not", {m(8, 0, {REG_BX}, "")}, "not DWORD PTR [bx]; not DWORD PTR [bx+4]"},
             {"neg",
              {m(8, 2, {REG_BP, REG_SI}, "")},
              "neg DWORD PTR [bp+si+2]; adc DWORD PTR [bp+si+6], 0; neg DWORD PTR [bp+si+6]",
              true},
             {"shl",
              {m(8, 0, {REG_DI}, ""), i(4)},
              "push eax; mov eax, DWORD PTR [di]; shl DWORD PTR [di], 4; shld DWORD PTR [di+4], eax, 4; pop eax"},
             {"shr",
              {m(8, 0x10, {REG_BX}, ""), i(1)},
              "push eax; mov eax, DWORD PTR [bx+0x14]; shr DWORD PTR [bx+0x14], 1; shrd DWORD PTR [bx+0x10], eax, 1; "
              "pop eax"},
             {"sar",
              {m(8, -4, {REG_BP}, ""), i(9)},
              "push eax; mov eax, DWORD PTR [bp+0]; sar DWORD PTR [bp+0], 9; shrd DWORD PTR [bp-4], eax, 9; pop eax"},
         });
}

// Every other form on a qword, anything on 10 bytes, and vector operands
// with a size keyword the row does not read. `as` refuses each of them too.
TEST_F(EncoderWide, WideAndMisSizedOperandsAreRefused) {
    for (uint32_t bits : {32u, 16u}) {
        const bool b16 = bits == 16;
        const TRegister base = b16 ? REG_BX : REG_EBX;
        const std::string at = b16 ? "[bx]" : "[ebx]";
        auto q = [&] { return m(8, 0, {base}, "QWORD PTR " + at); };
        auto t = [&] { return m(10, 0, {base}, "TBYTE PTR " + at); };
        auto sized = [&](uint32_t size, const char* word) { return m(size, 0, {base}, std::string(word) + at); };
        std::vector<RefusalCase> cases;
        auto add = [&](const char* mn, std::vector<Opnd> ops) {
            cases.push_back({DiffCase{mn, std::move(ops), ""}, false});
        };
        for (const char* mn : {"shl", "shr", "sar", "rol", "ror", "rcl", "rcr"}) add(mn, {q(), r(REG_CL, "cl")});
        for (const char* mn : {"rol", "ror", "rcl", "rcr"}) add(mn, {q(), i(1)});
        add("shl", {q(), i(0)});
        add("shr", {q(), i(32)});
        for (const char* mn : {"mul", "div", "idiv", "imul"}) add(mn, {q()});
        add("test", {q(), i(-1)});
        add("cmp", {q(), i(5)});
        add("inc", {q()});
        for (const char* mn : {"add", "or", "and", "sub", "xor", "cmp", "adc", "sbb"}) add(mn, {t(), i(1)});
        for (const char* mn : {"not", "neg", "mul", "inc"}) add(mn, {t()});
        add("shl", {t(), i(1)});
        add("test", {t(), i(1)});
        add("movq", {sized(4, "DWORD PTR "), mm(1)});
        add("movq", {xmm(1), sized(4, "DWORD PTR ")});
        add("movq", {mm(2), sized(1, "BYTE PTR ")});
        add("pand", {xmm(2), sized(1, "BYTE PTR ")});
        add("pand", {xmm(2), sized(8, "QWORD PTR ")});
        add("pand", {mm(2), sized(4, "DWORD PTR ")});
        add("addss", {xmm(1), sized(8, "QWORD PTR ")});
        add("addsd", {xmm(1), sized(4, "DWORD PTR ")});
        add("comiss", {xmm(1), sized(2, "WORD PTR ")});
        add("sqrtpd", {xmm(1), sized(8, "QWORD PTR ")});
        add("psllw", {mm(1), sized(4, "DWORD PTR ")});
        refused(bits, cases);
    }
}

// The same vector rows with the size they read, or no size at all, build.
TEST_F(EncoderWide, VectorSizeKeywordsThatFit) {
    EXPECT_EQ(enc("movq", {M(8, 0, 0, {REG_EBX}), ST(1)}), enc("movq", {M(0, 0, 0, {REG_EBX}), ST(1)}));
    EXPECT_EQ(enc("movq", {XMM(1), M(8, 0, 0, {REG_EBX})}), "F3 0F 7E 0B");
    EXPECT_EQ(enc("pand", {ST(1), M(8, 0, 0, {REG_EBX})}), "0F DB 0B");
    EXPECT_EQ(enc("pand", {XMM(1), M(16, 0, 0, {REG_EBX})}), "66 0F DB 0B");
    EXPECT_EQ(enc("addss", {XMM(1), M(4, 0, 0, {REG_EBX})}), "F3 0F 58 0B");
    EXPECT_EQ(enc("addsd", {XMM(1), M(8, 0, 0, {REG_EBX})}), "F2 0F 58 0B");
    EXPECT_EQ(enc("ucomisd", {XMM(1), M(8, 0, 0, {REG_EBX})}), "66 0F 2E 0B");
    EXPECT_EQ(enc("psllw", {XMM(1), M(16, 0, 0, {REG_EBX})}), "66 0F F1 0B");
    EXPECT_EQ(enc("pand", {XMM(1), M(0, 0, 0, {REG_EBX})}), "66 0F DB 0B");
}
