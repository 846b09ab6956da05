#pragma once
// Files for tests: a fresh folder per test and whole files read back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tavtest {

// An empty folder for the running test: <temp>/<prefix>_<pid>_<test name>.
inline std::filesystem::path freshScratchDir(const std::string& prefix) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / (prefix + "_" + std::to_string(::getpid()) + "_" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// The bytes of a file ("" when it cannot be read).
inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace tavtest
