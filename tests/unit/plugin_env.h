#pragma once
// The global objects as InitTavik makes them, a scratch folder per test and
// helpers to assemble a plug-in folder from the test plug-ins.
#include "sys_regs_shim.h"
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "classes/function_manager.h"
#include "common.h"
#include "compile_env.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "filetypes/file_writer.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_interface.h"
#include "plugins/plugin_manager.h"
#include "scratch.h"

class PluginEnv : public tavtest::TavikEnv {
protected:
    void TearDown() override {
        delete fWriter;
        fWriter = nullptr;
        // A stop a test left unraised must not reach the next test.
        EXPECT_FALSE(PluginStopPending());
        try {
            RaisePluginStop();
        } catch (const EAbort&) {}
        TavikEnv::TearDown();
    }

    // A plug-in folder in the scratch folder: each pair is the name in the
    // folder and the test plug-in (file name in the build) copied there.
    std::string pluginFolder(const std::vector<std::pair<std::string, std::string>>& files) {
        std::filesystem::path folder = dir / "plugins";
        std::filesystem::create_directories(folder);
        for (const auto& [name, from] : files)
            std::filesystem::copy_file(std::filesystem::path(TAVIK_TEST_PLUGIN_DIR) / from, folder / name,
                                       std::filesystem::copy_options::overwrite_existing);
        return folder.string() + "/";
    }

    // Runs f with standard output captured; the text printed. aborted tells
    // whether a fatal message ended it.
    std::string capture(const std::function<void()>& f, bool* aborted = nullptr) {
        return tavtest::captured(f, aborted);
    }

    // Loads the folder; the printed lines.
    std::vector<std::string> load(const std::string& folder) {
        return lines(capture([&] { Plugins->initPlugins(folder); }));
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> r;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) r.push_back(l);
        return r;
    }

    static std::string readFile(const std::filesystem::path& p) { return tavtest::readFile(p); }

    // Names of the files in the scratch folder, plug-in folder aside.
    std::vector<std::string> outputs() const {
        std::vector<std::string> r;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().filename() != "plugins") r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    }

    // A function record with its code.
    static PFunction function(const std::string& code) {
        PFunction f = FuncMan->CreateFunction(ltProc, nullptr);
        appendCode(f, code);
        return f;
    }
};
