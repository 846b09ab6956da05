#pragma once
// encoder/operand.h first: it keeps glibc's register indices clear of ours
#include "encoder/operand.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/import_manager.h"
#include "classes/var_manager.h"
#include "common.h"
#include "global.h"

// The symbol-table globals as InitTavik creates them, for one test.
class SymbolTables : public ::testing::Test {
protected:
    void SetUp() override {
        F_SavedFlags = CompileFlags;
        F_SavedPtrSize = ptrSize;
        CompileFlags = TCompilerFlags{};
        CompileFlags.cpu_bits = 32;
        ptrSize = 4;
        Idents = new TIdentManager;
        VarMan = new TVarManager;
        FuncMan = new TFunctionManager;
        FixMan = new TFixupManager;
        Imports = new TImportManager;
        Consts = new TConstManager;
        DefMan = new TDefineManager;
    }
    void TearDown() override {
        delete DefMan;
        delete Consts;
        delete Imports;
        delete FixMan;
        delete FuncMan;
        delete VarMan;
        delete Idents;
        DefMan = nullptr;
        Consts = nullptr;
        Imports = nullptr;
        FixMan = nullptr;
        FuncMan = nullptr;
        VarMan = nullptr;
        Idents = nullptr;
        CompileFlags = F_SavedFlags;
        ptrSize = F_SavedPtrSize;
    }

private:
    TCompilerFlags F_SavedFlags{};
    uint32_t F_SavedPtrSize = 4;
};
