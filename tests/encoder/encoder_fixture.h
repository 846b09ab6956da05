#pragma once
// Shared set-up of the encoder tests: the global managers the encoder reaches,
// operand builders and a byte formatter.
#include "gtest_guard.h"

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/register_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "global.h"
#include "log.h"
#include "encoder/tav_assembler.h"

namespace enctest {

inline std::string hex(const std::string& bytes) {
    std::string s;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", c);
        s += b;
    }
    return s;
}

inline TOperand R(TRegister r) {
    TOperand o;
    o.setRegister(r);
    return o;
}
inline TOperand I(int64_t v, uint32_t size = 4) {
    TOperand o;
    o.setImm(int32_t(v), size);
    return o;
}
// Memory: size, displacement, scale and up to two registers (base, index).
inline TOperand M(uint32_t size, int32_t disp, uint8_t scale, std::initializer_list<TRegister> regs) {
    TOperand o;
    o.setMemory(size, disp, scale, regs);
    return o;
}
inline TOperand ST(int i) {
    TOperand o;
    o.setIntType(otST, i);
    return o;
}
inline TOperand XMM(int i) {
    TOperand o;
    o.setIntType(otXMM, i);
    return o;
}
inline TOperand SEG(TSegment s) {
    TOperand o;
    o.setSegment(s);
    return o;
}

// The globals the encoder uses, fresh for each test; 32-bit mode by default.
class EncoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedFlags = CompileFlags;
        savedPtr = ptrSize;
        setBits(32);
        Log = new TLog();
        Idents = new TIdentManager();
        VarMan = new TVarManager();
        FuncMan = new TFunctionManager();
        FixMan = new TFixupManager();
        RegMan = new TRegisterManager();
        fn = FuncMan->CreateFunction(ltFunc, nullptr);
        asmb = std::make_unique<TTavAssembler>();
    }
    void TearDown() override {
        asmb.reset();
        delete RegMan;
        RegMan = nullptr;
        delete FixMan;
        FixMan = nullptr;
        delete FuncMan;
        FuncMan = nullptr;
        delete VarMan;
        VarMan = nullptr;
        delete Idents;
        Idents = nullptr;
        delete Log;
        Log = nullptr;
        CompileFlags = savedFlags;
        ptrSize = savedPtr;
    }
    static void setBits(uint32_t b) {
        CompileFlags.cpu_bits = b;
        ptrSize = b / 8;
    }

    // Encodes one instruction; the bytes in hex, or "error XXXX".
    std::string enc(const char* mn, std::vector<TOperand> ops = {}) {
        PInstruction row = TTavAssembler::opcodeLookup(mn);
        EXPECT_NE(row, nullptr) << mn;
        if (!row) return "no row";
        POperand p[3] = {nullptr, nullptr, nullptr};
        for (size_t i = 0; i < ops.size() && i < 3; ++i) p[i] = &ops[i];
        lastOps = ops;
        uint32_t r = asmb->assemble(row, p[0], p[1], p[2]);
        std::string code = asmb->popCode();
        if (r) {
            char b[32];
            std::snprintf(b, sizeof b, "error %X", r);
            return b;
        }
        return hex(code);
    }

    PVar addVar(const char* name, uint32_t typeSize) {
        PVarType t = nullptr;
        for (PVarType vt : VarMan->F_VarTypes)
            if (vt->size == typeSize && vt->vt == dtInteger) {
                t = vt;
                break;
            }
        if (!t) t = VarMan->addType(std::string("t") + std::to_string(typeSize), typeSize, 0, 0, false, false);
        return VarMan->addVar(vmGlobal, name, t, 1, 0);
    }
    // A global variable operand of the given size and field offset.
    TOperand V(PVar v, uint32_t size, int32_t disp = 0, TOperandType kind = otVar) {
        TOperand o;
        o.setPointer(kind, fn, v);
        o.size = size;
        o.displacement = disp;
        return o;
    }

    PFixup fixup(uint32_t i) const { return FixMan->getFixup(fn, i); }
    uint32_t fixupCount() const { return FixMan->Count(fn); }

    TCompilerFlags savedFlags{};
    uint32_t savedPtr = 4;
    PFunction fn = nullptr;
    std::unique_ptr<TTavAssembler> asmb;
    std::vector<TOperand> lastOps;
};

}  // namespace enctest
