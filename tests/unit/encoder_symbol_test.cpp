// Symbol operands: placeholders with their fixup records, and the
// synthesised sequences of push, pop and mov.
#include "../encoder/encoder_fixture.h"

using namespace enctest;

namespace {

struct Fx {
    TFixupType hint;
    uint32_t position;
    uint8_t size;
    uint32_t offset;
    uint16_t jmp;
};

class EncoderSymbols : public EncoderTest {
protected:
    // The bytes, and every fixup recorded for them, in order.
    void expect(const char* mn, std::vector<TOperand> ops, const char* bytes, std::vector<Fx> fixups,
                const void* target = nullptr, int64_t index = -1) {
        uint32_t before = fixupCount();
        EXPECT_EQ(enc(mn, ops), bytes) << mn;
        ASSERT_EQ(fixupCount() - before, fixups.size()) << mn << " " << bytes;
        for (size_t i = 0; i < fixups.size(); ++i) {
            PFixup f = fixup(before + uint32_t(i));
            SCOPED_TRACE(std::string(mn) + " fixup " + std::to_string(i));
            EXPECT_EQ(f->hint, fixups[i].hint);
            EXPECT_EQ(f->position, fixups[i].position);
            EXPECT_EQ(f->size, fixups[i].size);
            EXPECT_EQ(f->offset, fixups[i].offset);
            EXPECT_EQ(f->jmp, fixups[i].jmp);
            EXPECT_EQ(f->parentfunc, fn);
            if (target) {
                EXPECT_EQ(f->data, target);
            }
            if (index >= 0) {
                EXPECT_EQ(f->index, uint32_t(index));
            }
        }
    }
    TOperand label(uint32_t index, TOperandType kind = otLabel) {
        TOperand o;
        o.setLabel(fn, index);
        o.hint = kind;
        return o;
    }
};

}  // namespace

TEST_F(EncoderSymbols, CallsAndJumps) {
    PVar v = addVar("handler", 4);
    expect("call", {label(5)}, "E8 00 00 00 00", {{ftLabel, 1, 4, 0, 16}}, nullptr, 5);
    expect("call", {V(v, 4)}, "FF 15 00 00 00 00", {{ftVar, 2, 4, 0, 16}}, v);
    expect("call", {V(v, 4, 8)}, "FF 15 00 00 00 00", {{ftVar, 2, 4, 8, 16}}, v);
    expect("call", {R(REG_EAX)}, "error 10000002", {});
    expect("jne", {label(3)}, "90 90 90 90 90 90 90", {{ftJmp, 0, 7, 0, 5}}, nullptr, 3);
    expect("jmp", {label(3)}, "90 90 90 90 90 90 90", {{ftJmp, 0, 7, 0, 16}}, nullptr, 3);
    expect("goto", {label(4)}, "90 90 90 90 90 90 90", {{ftJmp, 0, 7, 0, 16}}, nullptr, 4);
    expect("jnae", {label(4)}, "90 90 90 90 90 90 90", {{ftJmp, 0, 7, 0, 2}});
    expect("jmp", {I(0x1234)}, "E9 34 12 00 00", {});
    expect("goto", {I(0x1234)}, "error 10000002", {});
    expect("je", {I(0x1234)}, "error 10000002", {});
    TOperand far = label(6, otSegLabel);
    far.segstart = 8;
    expect("jmp", {far}, "EA 00 00 00 00 08 00", {{ftRelative, 1, 4, 7, 16}}, nullptr, 6);
    TOperand farNum = I(0x12345678);
    farNum.hint = otSegLabel;
    farNum.segstart = 0x10;
    expect("jmp", {farNum}, "EA 78 56 34 12 10 00", {});
    expect("jne", {far}, "error 10000002", {});
    expect("jmp", {R(REG_EAX)}, "error 10000002", {});
}

TEST_F(EncoderSymbols, AddressPushes) {
    PVar v = addVar("counter", 4);
    PConst c = new TConst{};
    expect("push", {V(v, 4, 0, otVarRef)}, "68 00 00 00 00", {{ftVar, 1, 4, 0, 16}}, v);
    expect("push", {label(9, otLabelRef)}, "68 00 00 00 00", {{ftLabelAbs, 1, 4, 0, 16}}, nullptr, 9);
    TOperand k;
    k.setPointer(otConst, fn, c);
    expect("push", {k}, "68 00 00 00 00", {{ftConst, 1, 4, 0, 16}}, c);
    expect("pop", {V(v, 4, 0, otVarRef)}, "error 1000", {});
    expect("pop", {k}, "error 1000", {});
    expect("mov", {R(REG_EAX), k}, "B8 00 00 00 00", {{ftConst, 1, 4, 0, 16}}, c);
    expect("mov", {R(REG_ESI), V(v, 4, 0, otVarRef)}, "BE 00 00 00 00", {{ftVar, 1, 4, 0, 16}}, v);
    expect("mov", {R(REG_AH), V(v, 4, 0, otVarRef)}, "error 1001", {});
    expect("mov", {R(REG_AX), k}, "error 1001", {});
    delete c;
}

TEST_F(EncoderSymbols, VariablesByValue) {
    PVar q = addVar("q", 8);
    PVar six = addVar("six", 6);
    PVar one = addVar("one", 1);
    PVar three = addVar("three", 3);
    uint32_t warnings = Log->WarningCount();
    expect("push", {V(q, 8)}, "FF 35 00 00 00 00 FF 35 00 00 00 00", {{ftVar, 2, 4, 4, 16}, {ftVar, 8, 4, 0, 16}}, q);
    EXPECT_EQ(Log->WarningCount(), warnings);
    testing::internal::CaptureStdout();
    expect("push", {V(six, 6)}, "66 68 00 00 66 FF 35 00 00 00 00 FF 35 00 00 00 00",
           {{ftVar, 7, 4, 4, 16}, {ftVar, 13, 4, 0, 16}}, six);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[666] six passed by value to stack unaligned, consider passing by ref"), std::string::npos)
        << out;
    EXPECT_EQ(Log->WarningCount(), warnings + 1);
    expect("push", {V(one, 1)}, "50 0F B6 05 00 00 00 00 87 04 24", {{ftVar, 4, 4, 0, 16}}, one);
    expect("push", {V(three, 3)}, "6A 00 50 A0 00 00 00 00 88 44 24 06 66 A1 00 00 00 00 66 89 44 24 04 58",
           {{ftVar, 4, 4, 2, 16}, {ftVar, 14, 4, 0, 16}}, three);
    expect("push", {V(q, 8, 16)}, "FF 35 00 00 00 00 FF 35 00 00 00 00", {{ftVar, 2, 4, 20, 16}, {ftVar, 8, 4, 16, 16}},
           q);
    // Pops write the lowest word first, then take the remainder's slot whole.
    expect("pop", {V(q, 8)}, "8F 05 00 00 00 00 8F 05 00 00 00 00", {{ftVar, 2, 4, 0, 16}, {ftVar, 8, 4, 4, 16}}, q);
    expect("pop", {V(six, 6)}, "8F 05 00 00 00 00 66 8F 05 00 00 00 00 8D 64 24 02",
           {{ftVar, 2, 4, 0, 16}, {ftVar, 9, 4, 4, 16}}, six);
    expect("pop", {V(one, 1)}, "50 8A 44 24 04 A2 00 00 00 00 58 8D 64 24 04", {{ftVar, 6, 4, 0, 16}}, one);
    expect("pop", {V(three, 3)}, "50 66 8B 44 24 04 66 A3 00 00 00 00 8A 44 24 06 A2 00 00 00 00 58 8D 64 24 04",
           {{ftVar, 8, 4, 0, 16}, {ftVar, 17, 4, 2, 16}}, three);
}

TEST_F(EncoderSymbols, MovesWithVariables) {
    PVar d = addVar("d", 4);
    PVar w = addVar("w", 2);
    PVar b = addVar("b", 1);
    PVar q = addVar("q", 8);
    const Fx at2{ftVar, 2, 4, 0, 16}, at1{ftVar, 1, 4, 0, 16}, at3{ftVar, 3, 4, 0, 16};
    expect("mov", {V(d, 4), I(7)}, "C7 05 00 00 00 00 07 00 00 00", {at2}, d);
    expect("mov", {V(w, 2), I(7)}, "66 C7 05 00 00 00 00 07 00", {at3}, w);
    expect("mov", {V(b, 1), I(7)}, "C6 05 00 00 00 00 07", {at2}, b);
    expect("mov", {V(q, 8), I(-1)}, "C7 05 00 00 00 00 FF FF FF FF C7 05 00 00 00 00 FF FF FF FF",
           {{ftVar, 2, 4, 0, 16}, {ftVar, 12, 4, 4, 16}}, q);
    expect("mov", {V(addVar("odd", 3), 3), I(7)}, "error 1001", {});
    expect("mov", {V(d, 4), label(2, otLabelRef)}, "C7 05 00 00 00 00 00 00 00 00",
           {{ftVar, 2, 4, 0, 16}, {ftLabelAbs, 6, 4, 0, 16}});
    expect("mov", {V(w, 2), label(2, otLabelRef)}, "error 1001", {});
    expect("mov", {V(d, 4), R(REG_EAX)}, "A3 00 00 00 00", {at1}, d);
    expect("mov", {V(d, 4, 12), R(REG_ECX)}, "89 0D 00 00 00 00", {{ftVar, 2, 4, 12, 16}}, d);
    expect("mov", {V(w, 2), R(REG_BX)}, "66 89 1D 00 00 00 00", {at3}, w);
    // A byte or word variable takes the matching part of a wider register.
    expect("mov", {V(b, 1), R(REG_EAX)}, "A2 00 00 00 00", {at1}, b);
    expect("mov", {V(b, 1), R(REG_EBX)}, "88 1D 00 00 00 00", {at2}, b);
    expect("mov", {V(w, 2), R(REG_ESI)}, "66 89 35 00 00 00 00", {at3}, w);
    expect("mov", {V(b, 1), R(REG_ESI)}, "error 1001", {});
    expect("mov", {V(d, 4), R(REG_BL)}, "error 1001", {});
    expect("mov", {R(REG_EAX), V(d, 4)}, "A1 00 00 00 00", {at1}, d);
    expect("mov", {R(REG_DX), V(w, 2)}, "66 8B 15 00 00 00 00", {at3}, w);
    expect("mov", {R(REG_CL), V(d, 4)}, "8A 0D 00 00 00 00", {at2}, d);
    expect("mov", {R(REG_EAX), V(b, 1)}, "error 1001", {});
    expect("mov", {V(d, 4), M(0, 4, 0, {REG_ESI})}, "FF 76 04 8F 05 00 00 00 00", {{ftVar, 5, 4, 0, 16}}, d);
    expect("mov", {V(d, 4), M(2, 4, 0, {REG_ESI})}, "error 1001", {});
    expect("mov", {V(d, 4), V(d, 4)}, "error 1004", {});
    // Memory from a variable goes through the stack too, in the variable's size.
    expect("mov", {M(4, 0, 0, {REG_EBX}), V(d, 4)}, "FF 35 00 00 00 00 8F 03", {at2}, d);
    expect("mov", {M(0, -4, 0, {REG_EBP}), V(d, 4)}, "FF 35 00 00 00 00 8F 45 FC", {at2}, d);
    expect("mov", {M(4, 0, 0, {REG_ESP}), V(d, 4)}, "FF 35 00 00 00 00 8F 04 24", {at2}, d);
    expect("mov", {M(2, 0, 0, {REG_EBX}), V(d, 4)}, "error 1001", {});
}

TEST_F(EncoderSymbols, ArithmeticOnVariables) {
    PVar d = addVar("d", 4);
    PVar w = addVar("w", 2);
    PVar b = addVar("b", 1);
    const Fx at2{ftVar, 2, 4, 0, 16}, at3{ftVar, 3, 4, 0, 16};
    expect("add", {V(d, 4), I(5)}, "83 05 00 00 00 00 05", {at2}, d);
    expect("add", {V(d, 4), I(0x1000)}, "81 05 00 00 00 00 00 10 00 00", {at2}, d);
    expect("sub", {V(w, 2), I(5)}, "66 83 2D 00 00 00 00 05", {at3}, w);
    expect("cmp", {V(w, 2), I(0x1000)}, "66 81 3D 00 00 00 00 00 10", {at3}, w);
    expect("and", {V(b, 1), I(0xF0)}, "80 25 00 00 00 00 F0", {at2}, b);
    expect("add", {V(d, 4, 8), I(1)}, "83 05 00 00 00 00 01", {{ftVar, 2, 4, 8, 16}}, d);
    // A qword variable: both dwords, the high one with the carry or borrow.
    PVar q = addVar("q", 8);
    expect("add", {V(q, 8), I(0x1000)}, "81 05 00 00 00 00 00 10 00 00 83 15 00 00 00 00 00",
           {at2, {ftVar, 12, 4, 4, 16}}, q);
    expect("sub", {V(q, 8), I(-1)}, "83 2D 00 00 00 00 FF 83 1D 00 00 00 00 FF", {at2, {ftVar, 9, 4, 4, 16}}, q);
    expect("cmp", {V(q, 8), I(1)}, "error 1015", {});
    // A variable without size gives the immediate no width.
    expect("add", {V(addVar("none", 0), 0), I(0x1000)}, "error 1001", {});
    expect("add", {V(d, 4), R(REG_EAX)}, "error 10000002", {});
    expect("add", {V(d, 4), M(4, 0, 0, {REG_EBX})}, "error 1001", {});
}

TEST_F(EncoderSymbols, FloatVariables) {
    PVar dbl = addVar("dbl", 8);
    PVar sgl = addVar("sgl", 4);
    expect("fld", {V(dbl, 4, 0, otVarRef)}, "DD 05 00 00 00 00", {{ftVar, 2, 4, 0, 16}}, dbl);
    expect("fstp", {V(sgl, 4, 0, otVarRef)}, "D9 1D 00 00 00 00", {{ftVar, 2, 4, 0, 16}}, sgl);
    expect("fild", {V(dbl, 4, 0, otVarRef)}, "DF 2D 00 00 00 00", {{ftVar, 2, 4, 0, 16}}, dbl);
    expect("fld", {V(sgl, 4)}, "error 1003", {});
}

TEST_F(EncoderSymbols, PositionsCountFromTheBufferAndTheFunction) {
    PVar d = addVar("d", 4);
    appendCode(fn, "\x90\x90\x90", 3);
    ASSERT_EQ(asmb->assemble(TTavAssembler::opcodeLookup("nop")), 0u);
    TOperand v = V(d, 4), e = R(REG_EAX);
    ASSERT_EQ(asmb->assemble(TTavAssembler::opcodeLookup("mov"), &v, &e), 0u);
    EXPECT_EQ(hex(asmb->popCode()), "90 A3 00 00 00 00");
    ASSERT_EQ(fixupCount(), 1u);
    EXPECT_EQ(fixup(0)->position, 3u + 2u);
}

TEST_F(EncoderSymbols, SixteenBitVariables) {
    setBits(16);
    PVar w = addVar("w", 2);
    PVar b = addVar("b", 1);
    PConst c = new TConst{};
    TOperand k;
    k.setPointer(otConst, fn, c);
    expect("mov", {R(REG_AX), V(w, 2)}, "A1 00 00", {{ftVar, 1, 2, 0, 16}}, w);
    expect("mov", {R(REG_BX), V(w, 2)}, "8B 1E 00 00", {{ftVar, 2, 2, 0, 16}}, w);
    expect("mov", {V(b, 1), R(REG_DL)}, "88 16 00 00", {{ftVar, 2, 2, 0, 16}}, b);
    expect("mov", {V(w, 2), I(5)}, "C7 06 00 00 05 00", {{ftVar, 2, 2, 0, 16}}, w);
    expect("add", {V(w, 2), I(5)}, "83 06 00 00 05", {{ftVar, 2, 2, 0, 16}}, w);
    expect("push", {V(w, 2)}, "FF 36 00 00", {{ftVar, 2, 2, 0, 16}}, w);
    expect("pop", {V(w, 2)}, "8F 06 00 00", {{ftVar, 2, 2, 0, 16}}, w);
    PVar q = addVar("q", 8);
    expect("mov", {V(q, 8), I(7)}, "66 C7 06 00 00 07 00 00 00 66 C7 06 00 00 00 00 00 00",
           {{ftVar, 3, 2, 0, 16}, {ftVar, 12, 2, 4, 16}}, q);
    expect("mov", {R(REG_SI), k}, "BE 00 00", {{ftConst, 1, 2, 0, 16}}, c);
    expect("mov", {R(REG_SI), V(w, 2, 0, otVarRef)}, "BE 00 00", {{ftVar, 1, 2, 0, 16}}, w);
    expect("push", {k}, "68 00 00", {{ftConst, 1, 2, 0, 16}}, c);
    expect("call", {label(1)}, "E8 00 00", {{ftLabel, 1, 2, 0, 16}});
    delete c;
}
