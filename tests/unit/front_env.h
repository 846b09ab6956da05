#pragma once
// Global objects of the front end for tests: the symbol managers, a compiler
// with its tokens, the macro manager and the log, and helpers that read
// tokens from a source text.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <string>

#include "reader/afile.h"
#include "classes/block_stack.h"
#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "reader/cur_token.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "driver/settings.h"

class FrontEnv : public ::testing::Test {
protected:
    void SetUp() override {
        ptrSize = 4;
        CompileFlags.cpu_bits = 32;
        CompileFlags.peek_mode = 0;
        fileCounter = 0;
        CreateGlobals();
        Compiler->F_CurFunc = FuncMan->CreateFunction(ltProc, nullptr);
    }

    void TearDown() override {
        FreeGlobals();
        LogHooks = TLogHooks{};
        MacroCallHandler = nullptr;
        CompileFlags.cpu_bits = 0;
    }

    // A source with the text, made the compiler's current file.
    TAFile* load(const std::string& text) {
        TAFile* f = TAFile::Create();
        f->loadBuffer("test.tav", text, nullptr);
        Compiler->F_CurFile = f;
        return f;
    }
    TAFile* file() { return Compiler->F_CurFile; }
    TTavToken next() { return file()->moveNextToken(); }
    TCurrentToken& cur() { return *Compiler->F_CurToken; }
    TCurrentToken& peek() { return *Compiler->F_PeekToken; }

    // Reads every token of the text; the printed fatal message, or "" when
    // the text reads to its end without one.
    std::string fatalOf(const std::string& text) {
        load(text);
        ::testing::internal::CaptureStdout();
        bool aborted = false;
        try {
            for (int i = 0; i < 1000 && next() != ttEOF; ++i) {}
        } catch (const EAbort&) {
            aborted = true;
        }
        std::fflush(stdout);
        std::string out = ::testing::internal::GetCapturedStdout();
        return aborted ? out : std::string();
    }

    PVarType type(const char* name) {
        PIdent id = Idents->findIdent(name);
        return id && id->type_ == itType ? static_cast<PVarType>(id->ptr) : nullptr;
    }
};
