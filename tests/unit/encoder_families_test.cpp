// Expected bytes of the integer, x87, MMX and SSE families, the refusals with
// their codes, and what the encoder does on purpose differently from `as`.
#include "../encoder/encoder_fixture.h"

using namespace enctest;

namespace {
struct Case {
    const char* mn;
    std::vector<TOperand> ops;
    const char* expect;  // hex bytes or "error XXXX"
};

class EncoderFamilies : public EncoderTest {
protected:
    void check(const std::vector<Case>& cases) {
        for (const Case& c : cases)
            EXPECT_EQ(enc(c.mn, c.ops), c.expect) << c.mn << " (case " << (&c - &cases[0]) << ")";
    }
};
}  // namespace

TEST_F(EncoderFamilies, Integer32) {
    check({
        {"add", {R(REG_EAX), I(1)}, "83 C0 01"},
        {"add", {R(REG_EAX), I(0x1000)}, "05 00 10 00 00"},
        {"add", {R(REG_AL), I(5)}, "04 05"},
        {"add", {R(REG_BL), I(5)}, "80 C3 05"},
        {"add", {R(REG_EAX), R(REG_EBX)}, "03 C3"},  // load direction
        {"add", {R(REG_AX), R(REG_BX)}, "66 03 C3"},
        {"add", {R(REG_AX), I(0x1234)}, "66 05 34 12"},
        {"sub", {R(REG_ECX), I(-1)}, "83 E9 FF"},
        {"cmp", {R(REG_ECX), I(128)}, "81 F9 80 00 00 00"},
        {"add", {M(4, 0, 0, {REG_EBX}), I(0x80)}, "81 03 80 00 00 00"},
        {"add", {M(4, 0, 0, {REG_EBX}), I(5)}, "81 03 05 00 00 00"},  // 81 for memory with any immediate
        {"add", {M(2, 0, 0, {REG_EBX}), I(5)}, "66 81 03 05 00"},     // word destination gets its 66
        {"add", {M(1, 0, 0, {REG_EBX}), I(5)}, "80 03 05"},
        {"add", {M(0, 0, 0, {REG_EBX}), I(5)}, "81 03 05 00 00 00"},
        {"or", {M(4, 8, 0, {REG_EBX}), R(REG_ECX)}, "09 4B 08"},
        {"xor", {R(REG_DL), M(1, 0, 0, {REG_ESI})}, "32 16"},
        {"add", {R(REG_EAX), R(REG_BL)}, "error 1001"},
        {"add", {R(REG_EAX), M(1, 0, 0, {REG_EBX})}, "error 1001"},
        {"add", {M(2, 0, 0, {REG_EBX}), R(REG_EAX)}, "error 1001"},
        {"add", {R(REG_EAX), ST(0)}, "error 1001"},
        {"add", {I(1), I(1)}, "error 10000002"},
        {"test", {R(REG_AL), I(1)}, "A8 01"},
        {"test", {R(REG_ECX), I(1)}, "F7 C1 01 00 00 00"},
        {"test", {R(REG_EAX), R(REG_EBX)}, "85 D8"},
        {"test", {R(REG_AX), I(1)}, "66 A9 01 00"},
        {"test", {M(0, 0, 0, {REG_EBX}), R(REG_CL)}, "84 0B"},
        {"test", {M(2, 0, 0, {REG_EBX}), R(REG_ECX)}, "error 1001"},
        {"test", {M(0, 0, 0, {REG_EBX}), I(7)}, "F7 03 07 00 00 00"},
        {"shl", {R(REG_EAX), I(1)}, "D1 E0"},
        {"shl", {R(REG_EAX), I(4)}, "C1 E0 04"},
        {"shl", {R(REG_EAX), R(REG_CL)}, "D3 E0"},
        {"shl", {R(REG_EAX), R(REG_EBX)}, "error 1000"},
        {"shl", {M(2, 0, 0, {REG_EBX}), I(1)}, "66 D1 23"},
        {"sar", {R(REG_CX), I(3)}, "66 C1 F9 03"},
        {"inc", {R(REG_EAX)}, "40"},
        {"dec", {R(REG_CX)}, "66 49"},
        {"inc", {R(REG_AL)}, "FE C0"},
        {"inc", {M(4, 0, 0, {REG_EAX})}, "FF 00"},
        {"dec", {M(1, 0, 0, {REG_ESI})}, "FE 0E"},
        {"inc", {M(2, 8, 0, {REG_EBX})}, "66 FF 43 08"},
        {"dec", {M(0, 0, 0, {REG_EBX})}, "FF 0B"},  // no size: a dword
        {"inc", {M(8, 0, 0, {REG_EBX})}, "error 1015"},
        {"dec", {M(3, 0, 0, {REG_EBX})}, "error 1001"},
        {"xchg", {R(REG_EAX), R(REG_ECX)}, "91"},
        {"xchg", {R(REG_ECX), R(REG_EDX)}, "87 D1"},
        {"xchg", {M(0, 0, 0, {REG_EAX}), R(REG_BL)}, "86 18"},
        {"xchg", {R(REG_EAX), R(REG_BL)}, "error 1001"},
        {"imul", {R(REG_EAX), R(REG_EBX), I(10)}, "6B C3 0A"},
        {"imul", {R(REG_EAX), I(1000)}, "69 C0 E8 03 00 00"},
        {"imul", {R(REG_AX), R(REG_BX)}, "66 0F AF C3"},
        {"imul", {R(REG_AL), R(REG_BL)}, "error 1003"},
        {"imul", {M(0, 0, 0, {REG_EBX})}, "F7 2B"},
        {"imul", {R(REG_CX), I(300)}, "66 69 C9 2C 01"},
        {"movzx", {R(REG_EAX), M(1, 0, 0, {REG_EBX})}, "0F B6 03"},
        {"movzx", {R(REG_EAX), R(REG_EBX)}, "8B C3"},
        {"movsx", {R(REG_EAX), R(REG_CX)}, "0F BF C1"},
        {"movsx", {R(REG_AX), R(REG_CL)}, "66 0F BE C1"},
        {"movzx", {R(REG_AL), R(REG_CX)}, "error 1003"},
        {"movzx", {R(REG_EAX), I(1)}, "error 10000002"},
        {"lea", {R(REG_EAX), M(0, 8, 0, {REG_EBX})}, "8D 43 08"},
        {"lea", {R(REG_EAX), I(5)}, "error 1004"},
        {"lea", {M(4, 0, 0, {REG_EBX}), M(4, 0, 0, {REG_EBX})}, "error 1012"},
        {"lea", {R(REG_AX), M(0, 0, 0, {REG_EBX})}, "error 1001"},
        {"retn", {}, "C3"},
        {"ret", {I(8)}, "C2 08 00"},
        {"ret", {I(0)}, "C3"},  // not C2 00 00
        {"ret", {}, "error 1010"},
        {"ret", {R(REG_EAX)}, "error 1003"},
        {"ret", {I(0x10000)}, "error 1014"},
        {"ret", {I(-1)}, "error 1014"},
        {"sete", {R(REG_AL)}, "0F 94 C0"},
        {"sete", {R(REG_EAX)}, "error 1003"},
        {"setne", {M(1, 0, 0, {REG_EBX})}, "0F 95 03"},
        {"bt", {R(REG_EAX), R(REG_EBX)}, "0F A3 D8"},
        {"bt", {R(REG_AL), I(1)}, "error 1003"},
        {"bts", {R(REG_AX), I(3)}, "66 0F BA E8 03"},
        {"bt", {R(REG_EAX), R(REG_BX)}, "error 1001"},
        {"btr", {M(0, 0, 0, {REG_EBX}), I(9)}, "0F BA 33 09"},
        {"not", {R(REG_EAX)}, "F7 D0"},
        {"neg", {M(1, 0, 0, {REG_EBX})}, "F6 1B"},
        {"div", {M(0, 0, 0, {REG_EBX})}, "F7 33"},
        {"mul", {R(REG_CX)}, "66 F7 E1"},
        {"not", {I(1)}, "error 1000"},
        {"bsf", {R(REG_EAX), R(REG_EBX)}, "0F BC C3"},
        {"popcnt", {R(REG_EAX), R(REG_EBX)}, "F3 0F B8 C3"},
        {"cmove", {R(REG_AX), M(2, 0, 0, {REG_EBX})}, "66 0F 44 03"},
        {"cmove", {R(REG_EAX), R(REG_BX)}, "error 1001"},
        {"bsr", {R(REG_AL), R(REG_BL)}, "error 1003"},
        {"int", {I(0x21)}, "CD 21"},
        {"cpuid", {}, "0F A2"},
        {"cbw", {}, "66 98"},
        {"cwde", {}, "98"},
        {"fclex", {}, "9B DB E2"},
        {"pushad", {}, "60"},
        {"cdqe", {}, "error 1013"},
        {"nop", {I(1)}, "error 1011"},
        {"add", {R(REG_EAX)}, "error 1010"},
    });
}

TEST_F(EncoderFamilies, SixteenBitMode) {
    setBits(16);
    check({
        // 66 means the other operand size here: the word rows lose it, the dword rows take it.
        {"cbw", {}, "98"},
        {"movsw", {}, "A5"},
        {"scasw", {}, "AF"},
        {"stosw", {}, "AB"},
        {"lodsw", {}, "AD"},
        {"cwde", {}, "66 98"},
        {"movsd", {}, "66 A5"},
        {"scasd", {}, "66 AF"},
        {"stosd", {}, "66 AB"},
        {"lodsd", {}, "66 AD"},
        {"pushad", {}, "66 60"},
        {"popad", {}, "66 61"},
        {"pushfd", {}, "66 9C"},
        {"popfd", {}, "66 9D"},
        {"movsb", {}, "A4"},
        {"cpuid", {}, "error 1013"},
        {"add", {R(REG_AX), R(REG_BX)}, "03 C3"},
        {"add", {M(2, 0, 0, {REG_BX}), I(5)}, "81 07 05 00"},
        {"add", {M(4, 0, 0, {REG_BX}), I(5)}, "66 81 07 05 00 00 00"},
        {"mov", {R(REG_AX), M(0, 0, 0, {REG_BP})}, "8B 46 00"},
        {"mov", {R(REG_AX), M(0, 0, 0, {REG_BP, REG_SI})}, "8B 02"},
        {"mov", {R(REG_AX), M(0, 0x1234, 0, {REG_BX, REG_DI})}, "8B 81 34 12"},
        {"mov", {R(REG_AX), M(0, -2, 0, {REG_SI})}, "8B 44 FE"},
        {"mov", {R(REG_AX), M(0, 0x100, 0, {})}, "8B 06 00 01"},
        {"mov", {R(REG_AX), M(0, 0, 0, {REG_AX})}, "error 1000"},
        {"mov", {R(REG_AX), M(0, 0, 2, {REG_BX})}, "error 1000"},
        {"mov", {R(REG_AX), M(0, 0, 0, {REG_SI, REG_BX})}, "error 1000"},
        {"mov", {R(REG_AX), M(0, 0, 0, {REG_EBX})}, "error 1000"},
        {"lea", {R(REG_AX), M(0, 0, 0, {REG_BX})}, "error 10000002"},
        {"sete", {R(REG_AL)}, "0F 94 C0"},
        {"push", {I(5)}, "6A 05"},
        {"push", {I(0x1000)}, "68 00 10"},
        // A qword destination is two dword stores, each with its 66.
        {"mov", {M(8, 0, 0, {REG_BX}), I(7)}, "66 C7 07 07 00 00 00 66 C7 47 04 00 00 00 00"},
        {"mov", {M(4, 0, 0, {REG_BX}), I(7)}, "66 C7 07 07 00 00 00"},
    });
}

TEST_F(EncoderFamilies, Addressing32) {
    check({
        {"mov", {R(REG_EAX), M(0, 0, 0, {REG_EBP})}, "8B 45 00"},
        {"mov", {R(REG_EAX), M(0, 0, 0, {REG_ESP})}, "8B 04 24"},
        {"mov", {R(REG_EAX), M(0, 8, 0, {REG_ESP})}, "8B 44 24 08"},
        {"mov", {R(REG_EAX), M(0, 0x80, 4, {REG_EAX, REG_EBX})}, "8B 84 98 80 00 00 00"},
        {"mov", {R(REG_EAX), M(0, -0x80, 4, {REG_EAX, REG_EBX})}, "8B 44 98 80"},
        {"mov", {R(REG_EAX), M(0, 0, 0, {REG_EBP, REG_ESI})}, "8B 44 35 00"},
        {"mov", {R(REG_EAX), M(0, 8, 4, {REG_ECX})}, "8B 04 8D 08 00 00 00"},  // scaled index alone
        {"mov", {R(REG_EAX), M(0, 0x1234, 0, {})}, "8B 05 34 12 00 00"},
        // A byte displacement only where the whole 32-bit value fits one.
        {"mov", {R(REG_EAX), M(0, 0x7F, 0, {REG_EBX})}, "8B 43 7F"},
        {"mov", {R(REG_EAX), M(0, -0x81, 0, {REG_EBX})}, "8B 83 7F FF FF FF"},
        {"mov", {R(REG_EAX), M(0, 0x10000, 0, {REG_EBX})}, "8B 83 00 00 01 00"},
        {"mov", {R(REG_EAX), M(0, 0x1007F, 0, {REG_EBX})}, "8B 83 7F 00 01 00"},
        {"mov", {R(REG_EAX), M(0, -0x10000, 0, {REG_EBX})}, "8B 83 00 00 FF FF"},
        {"mov", {R(REG_EAX), M(0, 0xFF80, 0, {REG_EBX})}, "8B 83 80 FF 00 00"},
        {"mov", {R(REG_EAX), M(0, 0x10000, 0, {REG_EBP})}, "8B 85 00 00 01 00"},
        {"mov", {R(REG_EAX), M(0, -0x10000, 4, {REG_ESP, REG_ECX})}, "8B 84 8C 00 00 FF FF"},
        {"mov", {R(REG_EAX), M(0, 0, 0, {REG_ESP, REG_ESP})}, "error 1000"},
        {"mov", {R(REG_EAX), M(0, 0, 0, {REG_EAX, REG_ESP})}, "error 1000"},
        {"mov", {R(REG_EAX), M(0, 0, 3, {REG_EAX, REG_EBX})}, "error 1000"},
        {"mov", {R(REG_EAX), M(0, 0, 2, {REG_ESP})}, "error 1000"},
        {"mov", {R(REG_EAX), M(0, 0, 0, {REG_BX})}, "error 1000"},  // no 67 prefix
        {"mov", {R(REG_EAX), M(0, 0, 0, {REG_EAX, REG_SI})}, "error 1000"},
    });
}

TEST_F(EncoderFamilies, MoveForms) {
    check({
        {"mov", {R(REG_EAX), R(REG_EAX)}, ""},
        {"mov", {R(REG_EAX), R(REG_BL)}, "0F B6 C3"},  // a wider register takes movzx
        {"mov", {R(REG_BL), R(REG_EAX)}, "error 1003"},
        {"mov", {R(REG_EAX), R(REG_EBX)}, "8B C3"},
        {"mov", {R(REG_CL), R(REG_AH)}, "8A CC"},
        {"mov", {R(REG_AX), I(0x1234)}, "66 B8 34 12"},
        {"mov", {R(REG_AH), I(7)}, "B4 07"},
        {"mov", {R(REG_EDI), I(-1)}, "BF FF FF FF FF"},
        {"mov", {M(0, 0, 0, {REG_EBX}), I(7)}, "C7 03 07 00 00 00"},
        {"mov", {M(1, 0, 0, {REG_EBX}), I(7)}, "C6 03 07"},
        {"mov", {M(2, 0, 0, {REG_EBX}), I(7)}, "66 C7 03 07 00"},
        {"mov", {M(8, 0, 0, {REG_EBX}), I(7)}, "C7 03 07 00 00 00 C7 43 04 00 00 00 00"},
        {"mov", {M(3, 0, 0, {REG_EBX}), I(7)}, "error 1001"},
        {"mov", {M(0, 0, 0, {REG_EBX}), R(REG_CX)}, "66 89 0B"},
        {"mov", {M(4, 0, 0, {REG_EBX}), R(REG_CL)}, "error 1001"},
        {"mov", {R(REG_EAX), M(2, 0, 0, {REG_EBX})}, "error 1001"},
        {"mov", {SEG(SEG_DS), R(REG_AX)}, "66 8E D8"},
        {"mov", {SEG(SEG_ES), R(REG_EAX)}, "8E C0"},
        {"mov", {SEG(SEG_CS), R(REG_EAX)}, "error 1003"},
        {"mov", {SEG(SEG_DS), I(0)}, "error 10000002"},
        {"mov", {R(REG_EAX), SEG(SEG_DS)}, "error 10000002"},
        {"mov", {M(4, 0, 0, {REG_EBX}), M(4, 4, 0, {REG_ESI})}, "FF 76 04 8F 03"},
        {"mov", {M(4, 4, 0, {REG_ESP}), M(4, 8, 0, {REG_ESP})}, "FF 74 24 08 8F 44 24 04"},
        {"mov", {M(2, 0, 0, {REG_EBX}), M(4, 0, 0, {REG_ESI})}, "error 1001"},
    });
}

TEST_F(EncoderFamilies, PushPop) {
    check({
        {"push", {I(5)}, "6A 05"},
        {"push", {I(0x1000)}, "68 00 10 00 00"},
        {"push", {I(-1)}, "6A FF"},
        {"pop", {I(5)}, "error 1000"},
        {"push", {R(REG_AL)}, "error 1000"},
        {"push", {R(REG_AX)}, "50"},  // no operand-size prefix
        {"push", {R(REG_EBP)}, "55"},
        {"pop", {R(REG_EDI)}, "5F"},
        {"push", {M(0, 8, 0, {REG_EBP})}, "FF 75 08"},
        {"pop", {M(4, 0, 0, {REG_EBX})}, "8F 03"},
        // The lowest word ends on top and is popped first; ESP-based operands
        // follow the pushes already made.
        {"push", {M(8, 0, 0, {REG_EBX})}, "FF 73 04 FF 33"},
        {"pop", {M(8, 0, 0, {REG_EBX})}, "8F 03 8F 43 04"},
        {"push", {M(8, 8, 0, {REG_ESP})}, "FF 74 24 0C FF 74 24 0C"},
        {"pop", {M(8, 0, 0, {REG_ESP})}, "8F 44 24 04 8F 44 24 04"},
        {"pop", {M(4, 4, 0, {REG_ESP})}, "8F 44 24 04"},
        {"push", {M(2, 0, 0, {REG_EBX})}, "66 68 00 00 66 FF 33"},
        {"push", {M(1, 0, 0, {REG_EBX})}, "50 0F B6 03 87 04 24"},
        {"push", {M(1, 0, 0, {REG_EAX})}, "50 0F B6 00 87 04 24"},
        {"push", {M(3, 0, 0, {REG_EBX})}, "6A 00 50 8A 43 02 88 44 24 06 66 8B 03 66 89 44 24 04 58"},
        {"push", {M(3, 0, 0, {REG_EAX})}, "6A 00 51 8A 48 02 88 4C 24 06 66 8B 08 66 89 4C 24 04 59"},
        {"push", {M(5, 0, 0, {REG_ESP})}, "50 0F B6 44 24 08 87 04 24 FF 74 24 04"},
        // A remainder slot is taken whole; no register or flag changes.
        {"pop", {M(1, 0, 0, {REG_EBX})}, "50 8A 44 24 04 88 03 58 8D 64 24 04"},
        {"pop", {M(1, 0, 0, {REG_EAX})}, "51 8A 4C 24 04 88 08 59 8D 64 24 04"},  // ecx: eax is the address
        {"pop", {M(1, 0, 0, {REG_EAX, REG_ECX})}, "52 8A 54 24 04 88 14 08 5A 8D 64 24 04"},
        {"pop", {M(2, 0, 0, {REG_EBX})}, "66 8F 03 8D 64 24 02"},
        {"pop", {M(3, 0, 0, {REG_EBX})}, "50 66 8B 44 24 04 66 89 03 8A 44 24 06 88 43 02 58 8D 64 24 04"},
        {"pop", {M(6, 0, 0, {REG_ESP})}, "8F 44 24 04 66 8F 44 24 06 8D 64 24 02"},
    });
}

TEST_F(EncoderFamilies, MemoryReferences) {
    auto ref = [](int32_t d, uint8_t scale, std::initializer_list<TRegister> regs) {
        TOperand o = M(0, d, scale, regs);
        o.hint = otMemRef;
        return o;
    };
    check({
        {"push", {ref(-8, 0, {REG_EBP})}, "55 81 2C 24 08 00 00 00"},
        {"push", {ref(12, 0, {REG_ESP})}, "54 81 04 24 0C 00 00 00"},
        {"push", {ref(0, 0, {REG_EBX})}, "53 81 04 24 00 00 00 00"},
        {"push", {ref(4, 2, {REG_EBX, REG_ECX})}, "8D 44 4B 04 50"},
        {"pop", {ref(-8, 0, {REG_EBP})}, "error 1000"},
        {"mov", {R(REG_ESI), ref(-8, 0, {REG_EBP})}, "8D 75 F8"},
    });
}

TEST_F(EncoderFamilies, FloatAndVector) {
    check({
        {"fadd", {ST(0), ST(3)}, "D8 C3"},
        {"fadd", {ST(3), ST(0)}, "DC C3"},
        {"fmul", {ST(0), ST(1)}, "D8 C9"},
        {"fdiv", {ST(2), ST(0)}, "DC FA"},
        {"fsub", {ST(0), ST(2)}, "D8 E2"},
        {"fsub", {ST(2), ST(0)}, "DC EA"},
        {"fadd", {ST(2)}, "DC C2"},
        {"fadd", {ST(0)}, "D8 C0"},
        {"fadd", {M(8, 0, 0, {REG_EBX})}, "DC 03"},
        {"fadd", {M(0, 0, 0, {REG_EBX})}, "D8 03"},
        {"fadd", {M(2, 0, 0, {REG_EBX})}, "error 1002"},
        {"fadd", {ST(1), ST(2)}, "error 1000"},
        {"fadd", {ST(1), R(REG_EAX)}, "error 1000"},
        {"fadd", {R(REG_EAX)}, "error 10000002"},
        {"fcom", {ST(0)}, "D8 D0"},
        {"fcom", {ST(2)}, "D8 D2"},  // the documented form, not DC D2
        {"fcomp", {ST(2)}, "D8 DA"},
        {"fcomp", {M(8, 0, 0, {REG_EBX})}, "DC 1B"},
        {"fld", {ST(1)}, "D9 C1"},
        {"fld", {M(10, 0, 0, {REG_EBX})}, "DB 2B"},
        {"fld", {M(8, 0, 0, {REG_EBX})}, "DD 03"},
        {"fstp", {ST(3)}, "DD DB"},
        {"fst", {M(10, 0, 0, {REG_EBX})}, "error 1003"},
        {"fild", {M(8, 0, 0, {REG_EBX})}, "DF 2B"},
        {"fild", {M(2, 0, 0, {REG_EBX})}, "DF 03"},
        {"fistp", {M(4, 0, 0, {REG_EBX})}, "DB 1B"},
        {"fist", {M(8, 0, 0, {REG_EBX})}, "error 1003"},
        {"fild", {ST(1)}, "error 1003"},
        {"movq", {ST(0), ST(1)}, "0F 6F C1"},
        {"movq", {XMM(0), ST(1)}, "F3 0F D6 C1"},
        {"movq", {ST(0), XMM(1)}, "F2 0F D6 C1"},
        {"movq", {XMM(2), M(0, 0, 0, {REG_EBX})}, "F3 0F 7E 13"},
        {"movq", {M(0, 0, 0, {REG_EBX}), XMM(2)}, "66 0F D6 13"},
        {"movq", {M(0, 0, 0, {REG_EBX}), ST(2)}, "0F 7F 13"},
        {"movq", {R(REG_EAX), XMM(2)}, "error 10000002"},
        {"addps", {XMM(0), XMM(1)}, "0F 58 C1"},
        {"addpd", {XMM(0), XMM(1)}, "66 0F 58 C1"},
        {"pand", {XMM(0), XMM(1)}, "66 0F DB C1"},
        {"pand", {ST(0), ST(1)}, "0F DB C1"},
        {"pand", {XMM(0), ST(1)}, "error 1012"},
        {"pabsb", {XMM(0), XMM(1)}, "66 0F 38 1C C1"},
        {"psrlw", {XMM(1), I(3)}, "66 0F 71 D1 03"},
        {"psrlw", {ST(1), I(3)}, "0F 71 D1 03"},
        {"pslldq", {XMM(1), I(4)}, "66 0F 73 F9 04"},
        {"pslldq", {XMM(1), XMM(2)}, "error 1004"},
        {"pslld", {XMM(0), M(0, 0, 0, {REG_EAX})}, "66 0F F2 00"},
        {"psubb", {XMM(0), XMM(1)}, "66 0F F8 C1"},
        {"psubb", {ST(0), ST(1)}, "0F F8 C1"},
        {"pcmpeqd", {XMM(3), M(0, 16, 0, {REG_ESI})}, "66 0F 76 5E 10"},
        {"movq2dq", {XMM(0), ST(1)}, "F3 0F D6 C1"},
        {"movq2dq", {XMM(0), XMM(1)}, "error 1004"},
        {"movq2dq", {ST(0), ST(1)}, "error 1003"},
        {"lddqu", {XMM(1), M(0, 0, 0, {REG_EAX})}, "F2 0F F0 08"},
        {"addps", {R(REG_EAX), XMM(1)}, "error 1003"},
        {"addps", {XMM(0), I(5)}, "error 1004"},
        {"addps", {I(5), XMM(0)}, "error 1000"},
        {"ptest", {XMM(1), XMM(2)}, "66 0F 38 17 CA"},
        {"pmaxsd", {XMM(1), XMM(2)}, "66 0F 38 3D CA"},
    });
}

TEST_F(EncoderFamilies, ErrorTexts) {
    struct T {
        uint32_t code;
        const char* text;
    } texts[] = {{0, "Assemble OK!"},
                 {0x1000, "Invalid operand(s)"},
                 {0x1001, "Operand size mismatch!"},
                 {0x1002, "Expected single or double"},
                 {0x1003, "Operand 1 is invalid"},
                 {0x1004, "Operand 2 is invalid"},
                 {0x1005, "Operand 3 is invalid"},
                 {0x1010, "Not enough parameters!"},
                 {0x1011, "Too many parameters!"},
                 {0x1012, "Operand type mismatch!"},
                 {0x1013, "Instruction not available in 32 bit mode!"},
                 {0x10000000, "Unknown instruction"},
                 {0x10000001, "Instruction required!"},
                 {0x10000002, "Instruction usage is not supported!"},
                 {0x1006, ""},
                 {0x10000003, ""}};
    for (const T& t : texts) EXPECT_EQ(TTavAssembler::errorCodeToString(t.code), t.text) << std::hex << t.code;
    setBits(64);
    EXPECT_EQ(TTavAssembler::errorCodeToString(0x1013), "Instruction not available in 64 bit mode!");
    EXPECT_EQ(enc("cdqe"), "48 98");
}

TEST_F(EncoderFamilies, EntryChecks) {
    TOperand a = R(REG_EAX);
    EXPECT_EQ(asmb->assemble(nullptr, &a), 0x10000001u);
    TInstruction bogus = *TTavAssembler::opcodeLookup("nop");
    bogus.group = TInstructionGroup(25);
    EXPECT_EQ(asmb->assemble(&bogus), 0x10000000u);
    // Operands are positional: nothing may follow an absent one.
    TOperand b = R(REG_EBX);
    EXPECT_EQ(asmb->assemble(TTavAssembler::opcodeLookup("imul"), &a, nullptr, &b), 0x1000u);
}

TEST_F(EncoderFamilies, Buffer) {
    EXPECT_EQ(asmb->popCode(), "");
    EXPECT_EQ(asmb->position(), 0u);
    PInstruction nop = TTavAssembler::opcodeLookup("nop");
    ASSERT_EQ(asmb->assemble(nop), 0u);
    EXPECT_EQ(asmb->position(), 1u);
    EXPECT_EQ(asmb->getCode(), "\x90");
    EXPECT_EQ(asmb->position(), 1u);
    asmb->popCode();
    // mov eax, eax emits nothing; movzx with equal sizes ends as a mov.
    EXPECT_EQ(enc("mov", {R(REG_EAX), R(REG_EAX)}), "");
    EXPECT_EQ(enc("add", {R(REG_EAX), R(REG_BL)}), "error 1001");
    EXPECT_EQ(enc("movzx", {R(REG_EAX), R(REG_EBX)}), "8B C3");
    EXPECT_EQ(enc("ret", {I(4)}), "C2 04 00");

    uint8_t raw[3] = {1, 2, 3};
    asmb->addBytes(raw, 2);
    asmb->addBytes(0x11223344u, 4);
    asmb->addBytes(0xAABBu, 2);
    EXPECT_EQ(asmb->position(), 8u);
    EXPECT_EQ(hex(asmb->popCode()), "01 02 44 33 22 11 BB AA");
    EXPECT_EQ(asmb->position(), 0u);
}

TEST_F(EncoderFamilies, PackedBytesAndImm8) {
    EXPECT_EQ(TTavAssembler::B(0x11223344, 1), 0x11);
    EXPECT_EQ(TTavAssembler::B(0x11223344, 4), 0x44);
    EXPECT_THROW(TTavAssembler::B(0x11223344, 5), EAbort);
    EXPECT_THROW(asmb->emitSIB(3, 0, 0), EAbort);
    EXPECT_TRUE(TTavAssembler::isImm8(1, 1000));
    EXPECT_TRUE(TTavAssembler::isImm8(2, 0xFFFF));
    EXPECT_FALSE(TTavAssembler::isImm8(2, 0x80));
    EXPECT_TRUE(TTavAssembler::isImm8(4, 0xFFFFFF80));
    EXPECT_FALSE(TTavAssembler::isImm8(4, 0xFFFFFF7F));
    EXPECT_FALSE(TTavAssembler::isImm8(8, 0xFFFFFFFF));
    EXPECT_TRUE(TTavAssembler::isImm8(8, -128));
}

// The internal errors end the compilation through the log with their texts.
TEST_F(EncoderFamilies, InternalErrorsAreFatal) {
    auto fatal = [&](auto&& f) {
        testing::internal::CaptureStdout();
        bool thrown = false;
        try {
            f();
        } catch (const EAbort&) {
            thrown = true;
        }
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(thrown);
        return out;
    };
    EXPECT_NE(fatal([] { TTavAssembler::B(1, 0); }).find("[124783] Notify developers"), std::string::npos);
    EXPECT_NE(fatal([&] { asmb->emitSIB(5, 0, 0); }).find("[124784] Notify developers"), std::string::npos);
    TOperand e = R(REG_EAX);
    EXPECT_NE(fatal([&] { asmb->emitMMU(0x0F6F, 0, &e, 0); }).find("54452"), std::string::npos);
    TInstruction noFlags = *TTavAssembler::opcodeLookup("pand");
    noFlags.flags = 0;
    TOperand x0 = XMM(0), x1 = XMM(1);
    EXPECT_NE(fatal([&] { asmb->assemble(&noFlags, &x0, &x1); }).find("FLAGS NOT SET"), std::string::npos);
    // A remainder of five bytes exists only with an 8-byte word.
    setBits(64);
    TOperand m = M(5, 0, 0, {REG_EBX});
    EXPECT_NE(fatal([&] { asmb->assemble(TTavAssembler::opcodeLookup("push"), &m); }).find("Unexpected error"),
              std::string::npos);
}

// The rows that admit mm and xmm alike: an xmm operand gets 66, an mm one none.
TEST_F(EncoderFamilies, PrefixlessXmmRowsTakeTheirPrefix) {
    const char* const rows[] = {"psubb",   "psubd",   "psubq",   "paddusb", "paddusw", "pcmpeqb",
                                "pcmpeqd", "pcmpeqw", "pcmpgtb", "pcmpgtd", "pcmpgtw", "phaddsw",
                                "phsubsw", "pmaddwd", "pmulhuw", "pmuludq", "psubusb", "psubusw"};
    for (const char* n : rows) {
        SCOPED_TRACE(n);
        PInstruction r = TTavAssembler::opcodeLookup(n);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->flags, 0x110u);
        EXPECT_EQ(r->flags2, 0x910u);
        EXPECT_EQ(TTavAssembler::B(r->opcode1, 1), 0);
        std::string op = hex(std::string(1, char(TTavAssembler::B(r->opcode1, 3))));
        if (TTavAssembler::B(r->opcode1, 4)) op += " " + hex(std::string(1, char(TTavAssembler::B(r->opcode1, 4))));
        EXPECT_EQ(enc(n, {XMM(0), XMM(1)}), "66 0F " + op + " C1");
        EXPECT_EQ(enc(n, {ST(0), ST(1)}), "0F " + op + " C1");
        EXPECT_EQ(enc(n, {XMM(2), M(0, 0, 0, {REG_EAX})}), "66 0F " + op + " 10");
        EXPECT_EQ(enc(n, {XMM(0), ST(1)}), "error 1012");
    }
}

TEST_F(EncoderFamilies, SetccInEveryMode) {
    for (uint32_t b : {16u, 32u, 64u}) {
        setBits(b);
        EXPECT_EQ(enc("sete", {R(REG_AL)}), "0F 94 C0") << b;
        EXPECT_EQ(enc("setne", {R(REG_AX)}), "error 1003") << b;
    }
}

// A destination wider than a dword: two dword operations, or a refusal.
TEST_F(EncoderFamilies, NoImmediateWiderThanTheOpcodeForm) {
    check({
        {"add", {M(8, 0, 0, {REG_EBX}), I(5)}, "81 03 05 00 00 00 81 53 04 00 00 00 00"},
        // The flags of one dword would not tell the qword.
        {"test", {M(8, 0, 0, {REG_EBX}), I(5)}, "error 1015"},
        {"mov", {M(8, 4, 0, {REG_EBX}), I(-2)}, "C7 43 04 FE FF FF FF C7 43 08 FF FF FF FF"},
        {"mov", {M(10, 0, 0, {REG_EBX}), I(5)}, "error 1001"},
    });
}

TEST_F(EncoderFamilies, RegisterAssumptionIsHandedOver) {
    PVarType t = VarMan->F_PtrType;
    RegMan->Registers[REG_EBX].tempAssume = t;
    RegMan->Registers[REG_ECX].tempAssume = t;
    // Refused instructions hand over too.
    EXPECT_EQ(enc("add", {R(REG_EAX), R(REG_BL)}), "error 1001");
    EXPECT_EQ(RegMan->Registers[REG_EBX].assume, nullptr);
    EXPECT_EQ(enc("add", {R(REG_EBX), R(REG_CL)}), "error 1001");
    EXPECT_EQ(RegMan->Registers[REG_EBX].assume, t);
    EXPECT_EQ(RegMan->Registers[REG_EBX].tempAssume, nullptr);
    EXPECT_EQ(RegMan->Registers[REG_ECX].assume, nullptr);
    EXPECT_EQ(RegMan->Registers[REG_ECX].tempAssume, t);
}

// The buffer holds any number of bytes in order, however many instructions
// are built into it before it is taken, and is empty again after.
TEST_F(EncoderFamilies, BufferHoldsLongRunsOfBytes) {
    PInstruction nop = TTavAssembler::opcodeLookup("nop");
    std::string want;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(asmb->assemble(nop), 0u);
        want += '\x90';
        const uint8_t b[3] = {uint8_t(i), 0x00, 0xFF};
        asmb->addBytes(b, 3);
        want.append(reinterpret_cast<const char*>(b), 3);
        asmb->addBytes(0x04030201u + uint32_t(i), 4);
        for (int k = 0; k < 4; ++k) want += char((0x04030201u + uint32_t(i)) >> (8 * k));
        EXPECT_EQ(asmb->position(), want.size());
        ASSERT_EQ(asmb->code(), want) << i;
    }
    EXPECT_EQ(asmb->getCode(), want);
    EXPECT_EQ(asmb->popCode(), want);
    EXPECT_EQ(asmb->position(), 0u);
    EXPECT_EQ(asmb->code(), "");
    ASSERT_EQ(asmb->assemble(nop), 0u);
    EXPECT_EQ(asmb->popCode(), "\x90");
}

// Values of 1 to 4 bytes added at every offset around the end of the room
// kept in place: each keeps its own bytes and no more, before and after the
// bytes move out.
TEST_F(EncoderFamilies, ValuesOfEveryWidthAroundTheInPlaceRoom) {
    for (uint32_t start = 36; start <= 52; ++start) {
        for (uint32_t len = 1; len <= 4; ++len) {
            std::string want(start, '\x5A');
            asmb->addBytes(reinterpret_cast<const uint8_t*>(want.data()), start);
            for (uint32_t k = 0; k < 3; ++k) {
                const uint32_t v = 0xC4C3C2C1u + k * 0x10101010u;
                asmb->addBytes(v, len);
                for (uint32_t b = 0; b < len; ++b) want += char(v >> (8 * b));
            }
            asmb->addBytes(0x90u, 1);
            want += '\x90';
            ASSERT_EQ(asmb->position(), want.size()) << start << "+" << len;
            ASSERT_EQ(asmb->popCode(), want) << start << "+" << len;
        }
    }
}
