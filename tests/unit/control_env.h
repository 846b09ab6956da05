#pragma once
// Projects compiled from source text for the control statement tests: a
// builder that injects nothing, an empty standard include, and readers of
// rtlmain's code, fixups and labels.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "reader/afile.h"
#include "classes/block_stack.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "common.h"
#include "compile_env.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_manager.h"

namespace control_test {

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

class Control : public tavtest::CompileEnv {
protected:
    void SetUp() override {
        CompileEnv::SetUp();
        // An empty standard include keeps the warning about it away.
        std::ofstream(dir / "tavik.tav") << "";
    }

    // A new session, as a second build in the same process gets; the line
    // harnesses compile each line alone in one and hand the batch to `as` once.
    void freshSession() {
        TearDown();
        SetUp();
    }

    // Compiles the lines after a header; the printed text.
    std::string compile(const std::string& lines, bool* aborted = nullptr) {
        return compileProject(kHeader + lines, aborted);
    }

    std::string failure(const std::string& lines) { return failedProject(kHeader + lines); }

    static PFunction main() { return FuncMan->getFunc(0); }
    static std::string code() { return tavtest::codeOf(main()); }
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
};

}  // namespace control_test
