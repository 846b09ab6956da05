#pragma once
// Whole projects compiled from source text for the directive and expression
// tests: the printed lines, the code of rtlmain, or the exception that ended
// the build.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../encoder/diff_harness.h"
#include "classes/function_manager.h"
#include "classes/shared_records.h"
#include "common.h"
#include "compile_env.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_manager.h"

namespace dirtest {

struct Outcome {
    std::string out;       // what was printed
    bool aborted = false;  // a fatal error ended the build
    std::string exClass;   // another exception ended it: its class and message
    std::string exMessage;
    bool ok() const { return !aborted && exClass.empty(); }
};

class DirectiveEnv : public tavtest::CompileEnv {
protected:
    void SetUp() override {
        CompileEnv::SetUp();
        write("includes/tavik.tav", "");
    }

    // Compiles the header and the lines.
    Outcome run(const std::string& lines) {
        write("project.tav", kHeader + lines);
        Outcome r;
        ::testing::internal::CaptureStdout();
        try {
            Compiler->LoadProject((dir / "project.tav").string());
            Compiler->Compile();
        } catch (const EAbort&) {
            r.aborted = true;
        } catch (const Exception& e) {
            r.exClass = e.ClassName();
            r.exMessage = e.Message();
        }
        std::fflush(stdout);
        r.out = ::testing::internal::GetCapturedStdout();
        return r;
    }

    // The lines printed by a build that must succeed.
    std::vector<std::string> echoes(const std::string& lines) {
        const Outcome r = run(lines);
        EXPECT_TRUE(r.ok()) << r.out << r.exClass << ": " << r.exMessage;
        std::vector<std::string> v;
        std::istringstream in(r.out);
        for (std::string l; std::getline(in, l);) v.push_back(l);
        return v;
    }

    // The output of a build that must end with a fatal error.
    std::string failure(const std::string& lines) {
        const Outcome r = run(lines);
        EXPECT_TRUE(r.aborted) << r.out << r.exClass << ": " << r.exMessage;
        return r.out;
    }

    static std::string mainCode() {
        PFunction f = FuncMan->getFunc(0);
        return f ? enctest::hexBytes(tavtest::codeOf(f)) : std::string();
    }
};

}  // namespace dirtest
