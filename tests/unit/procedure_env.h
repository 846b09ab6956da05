#pragma once
// Compiles whole projects through the real compiler with a builder that
// does nothing, and reads back the functions, their code and fixups.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/import_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compile_env.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_manager.h"

#include <functional>

namespace proc_test {
// Runs at the start event, when rtlmain exists: records that a test wants
// in place before the source is compiled.
inline std::function<void()> onStart;
inline TAVBOOL TAV_CALL quietBuilder(TTriggerEvent evt, uint32_t) {
    if (evt == teStart && onStart) onStart();
    return 1;
}
}  // namespace proc_test

// The program's folder stays the executable's.
class ProcEnv : public tavtest::CompileEnv {
public:
    struct Fix {
        TFixupType hint;
        uint32_t position;
        uint32_t index;  // target function, for label kinds
        bool operator==(const Fix&) const = default;
    };

    // A source that must fail, and a text its message holds.
    struct FailRow {
        const char* src;
        const char* text;
    };

protected:
    ProcEnv() {
        builder = proc_test::quietBuilder;
        ownIncludes = false;
    }

    void SetUp() override {
        CompileEnv::SetUp();
        CompileFlags.stackframe_on = 1;
    }

    void TearDown() override {
        proc_test::onStart = nullptr;
        CompileEnv::TearDown();
        CompileFlags.entry_funcid = 0;
    }

    // Compiles the body behind a header; true when no fatal message ended it.
    // The printed text is kept in out.
    bool compile(const std::string& body) {
        bool aborted = false;
        out = compileProject(kHeader + body, &aborted, "prog.tav");
        return !aborted;
    }

    // Compiles and expects success.
    void ok(const std::string& body) { ASSERT_TRUE(compile(body)) << out; }
    // Compiles and expects a fatal message holding text.
    void fails(const std::string& body, const std::string& text) {
        EXPECT_FALSE(compile(body)) << body;
        EXPECT_NE(out.find(text), std::string::npos) << "expected \"" << text << "\" in:\n" << out;
    }
    // A row of a failure table fails as it says.
    void fails(const FailRow& row) {
        SCOPED_TRACE(row.src);
        fails(row.src, row.text);
    }

    static PFunction func(const std::string& name) {
        for (PFunction f : FuncMan->F_List)
            if (f->Name && lowerAscii(f->Name) == lowerAscii(name)) return f;
        return nullptr;
    }
    static PFunction main() { return FuncMan->getFunc(0); }

    // The code as upper-case hex bytes separated by blanks.
    static std::string hex(const PFunction f) {
        std::string r;
        char b[4];
        for (uint32_t i = 0; f && i < f->BufLen; ++i) {
            std::snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(f->Buffer[i]));
            if (!r.empty()) r += ' ';
            r += b;
        }
        return r;
    }
    static std::string code(const std::string& name) { return hex(func(name)); }

    static std::vector<Fix> fixups(const PFunction f) {
        std::vector<Fix> r;
        for (PFixup x : f->FixupList->items) {
            const bool byIndex = x->hint == ftLabel || x->hint == ftLabelAbs || x->hint == ftJmp;
            r.push_back({x->hint, x->position, byIndex ? x->index : 0});
        }
        return r;
    }

    // The variable of that name (the newest).
    static PVar var(const std::string& name) {
        for (auto it = VarMan->F_Vars.rbegin(); it != VarMan->F_Vars.rend(); ++it)
            if ((*it)->name && lowerAscii((*it)->name) == lowerAscii(name)) return *it;
        return nullptr;
    }

    std::string out;
};

inline void PrintTo(const ProcEnv::Fix& f, std::ostream* os) {
    *os << "{" << int(f.hint) << ", " << f.position << ", " << f.index << "}";
}
