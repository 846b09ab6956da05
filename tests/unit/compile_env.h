#pragma once
// The global objects as InitTavik makes them around a scratch folder per
// test, and whole projects compiled in that folder with the printed text
// collected.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "classes/shared_records.h"
#include "common.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "plugins/plugin_manager.h"

namespace tavtest {

inline TAVBOOL TAV_CALL quietBuilder(TTriggerEvent, uint32_t) { return 1; }

// Runs f with standard output captured; the printed text. A fatal message
// ends it: aborted tells whether one did, or when null the test expects
// none. Other exceptions pass through.
inline std::string captured(const std::function<void()>& f, bool* aborted = nullptr) {
    ::testing::internal::CaptureStdout();
    bool stopped = false;
    try {
        f();
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

// The code bytes of a function record ("" without one).
inline std::string codeOf(PFunction f) {
    return f ? std::string(f->Buffer ? f->Buffer : "", f->BufLen) : std::string();
}

// Names each row of a parameterized table by its `name` field.
struct RowName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

// Names each row of a table by the words of one of its text fields and its
// place in the table: "mov eax, [esi+8];" as row 3 gives MovEaxEsi8_3.
template <auto Field>
struct TextName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        std::string r;
        bool start = true;
        for (const char* p = textOf(info.param.*Field); p && *p && r.size() < 40; ++p) {
            const unsigned char ch = static_cast<unsigned char>(*p);
            if (!std::isalnum(ch)) {
                start = true;
                continue;
            }
            r += start ? static_cast<char>(std::toupper(ch)) : static_cast<char>(ch);
            start = false;
        }
        return (r.empty() ? "Empty" : r) + "_" + std::to_string(info.index);
    }

private:
    static const char* textOf(const char* s) { return s; }
    static const char* textOf(const std::string& s) { return s.c_str(); }
};

// A fixture whose tests run once for each row of a table.
template <class Fixture, class Row>
class Table : public Fixture, public ::testing::WithParamInterface<Row> {};

// Instantiates the TEST_P tests of Suite as Prefix/Suite, once for each of
// rows (an array or a container), each row named by the text of its field
// `field` (see TextName).
#define TAVIK_ROWS(Prefix, Suite, rows, field) \
  INSTANTIATE_TEST_SUITE_P(Prefix, Suite, ::testing::ValuesIn(rows), ::tavtest::TextName<&Suite::ParamType::field>())

// Suite: a table of Fixture over the array rows::cases of rows::Case,
// instantiated under the fixture's name. Its TEST_P tests follow.
#define TAVIK_TABLE(Fixture, Suite, rows, field)       \
  using Suite = ::tavtest::Table<Fixture, rows::Case>; \
  TAVIK_ROWS(Fixture, Suite, rows::cases, field)

// InitTavik with its banner swallowed, and a fresh scratch folder.
class TavikEnv : public ::testing::Test {
protected:
    void SetUp() override {
        ::testing::internal::CaptureStdout();
        InitTavik();
        std::fflush(stdout);
        ::testing::internal::GetCapturedStdout();
        char tmpl[] = "/tmp/tavik_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }

    void TearDown() override {
        DeinitTavik();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // A file in the scratch folder, with its folders.
    void write(const std::string& name, const std::string& text) {
        std::filesystem::path p = dir / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }

    std::filesystem::path dir;
};

// Projects compiled to 32-bit code with the builder "test" (one that does
// nothing unless a suite picks another). The scratch folder stands for the
// program's folder, so its includes are the test's own, unless a suite keeps
// the program's folder.
class CompileEnv : public TavikEnv {
protected:
    static constexpr const char* kHeader = "program test 'x';\n";

    void SetUp() override {
        TavikEnv::SetUp();
        CompileFlags.cpu_bits = 32;
        if (ownIncludes) strTAVIK_PATH = dir.string() + "/";
        Plugins->registerBuilder("test", builder);
    }

    void TearDown() override {
        TavikEnv::TearDown();
        CompileFlags.cpu_bits = 0;
        CompileFlags.stackframe_on = 1;
    }

    // Writes the project file and compiles it; the printed text (see captured).
    std::string compileProject(const std::string& text, bool* aborted = nullptr,
                               const std::string& name = "project.tav") {
        write(name, text);
        return captured(
            [&] {
                Compiler->LoadProject((dir / name).string());
                Compiler->Compile();
            },
            aborted);
    }

    // The printed text of a project that must end with a fatal message.
    std::string failedProject(const std::string& text) {
        bool aborted = false;
        std::string out = compileProject(text, &aborted);
        EXPECT_TRUE(aborted) << out;
        return out;
    }

    TRBCallback builder = quietBuilder;
    bool ownIncludes = true;
};

}  // namespace tavtest
