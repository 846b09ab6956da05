#pragma once
// Projects compiled from source text for the control statement tests: a
// builder that injects nothing, an empty standard include, and readers of
// rtlmain's code, fixups and labels.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "afile.h"
#include "classes/block_stack.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "common.h"
#include "compiler.h"
#include "driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_manager.h"

namespace control_test {

inline TAVBOOL TAV_CALL quietBuilder(TTriggerEvent, uint32_t) { return 1; }

// Bytes as lower-case hex pairs separated by blanks.
inline std::string hex(const std::string& s) {
    static const char* const digits = "0123456789abcdef";
    std::string r;
    for (unsigned char c : s) {
        if (!r.empty()) r += ' ';
        r += digits[c >> 4];
        r += digits[c & 15];
    }
    return r;
}

class Control : public ::testing::Test {
protected:
    void SetUp() override {
        ::testing::internal::CaptureStdout();
        InitTavik();
        std::fflush(stdout);
        ::testing::internal::GetCapturedStdout();
        CompileFlags.cpu_bits = 32;
        char tmpl[] = "/tmp/tavik_ctrl_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        strTAVIK_PATH = dir.string() + "/";
        // An empty standard include keeps the warning about it away.
        std::ofstream(dir / "tavik.tav") << "";
        Plugins->registerBuilder("test", quietBuilder);
    }

    void TearDown() override {
        DeinitTavik();
        CompileFlags.cpu_bits = 0;
        CompileFlags.stackframe_on = 1;
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    void reset() {
        TearDown();
        SetUp();
    }

    // Compiles the lines after a header; the printed text.
    std::string compile(const std::string& lines, bool* aborted = nullptr) {
        std::ofstream(dir / "project.tav", std::ios::binary) << "program test 'x';\n" << lines;
        ::testing::internal::CaptureStdout();
        bool stopped = false;
        try {
            Compiler->LoadProject((dir / "project.tav").string());
            Compiler->Compile();
        } catch (const EAbort&) {
            stopped = true;
        } catch (...) {
            std::fflush(stdout);
            ::testing::internal::GetCapturedStdout();
            throw;
        }
        std::fflush(stdout);
        std::string out = ::testing::internal::GetCapturedStdout();
        if (aborted) *aborted = stopped;
        else EXPECT_FALSE(stopped) << out;
        return out;
    }

    std::string failure(const std::string& lines) {
        bool aborted = false;
        std::string out = compile(lines, &aborted);
        EXPECT_TRUE(aborted) << out;
        return out;
    }

    static PFunction main() { return FuncMan->getFunc(0); }
    static std::string code() {
        PFunction f = main();
        return std::string(f->Buffer ? f->Buffer : "", f->BufLen);
    }
    static std::vector<PFixup> fixups() {
        std::vector<PFixup> r;
        for (uint32_t i = 0; i < FixMan->Count(main()); ++i) r.push_back(FixMan->getFixup(main(), i));
        return r;
    }
    static PFunction target(PFixup fx) { return FuncMan->getFunc(fx->index); }
    static PFunction label(const std::string& name) {
        const TIdent* id = Idents->findIdent(name);
        return id ? static_cast<PFunction>(id->ptr) : nullptr;
    }

    std::filesystem::path dir;
};

}  // namespace control_test
