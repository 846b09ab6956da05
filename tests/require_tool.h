#pragma once
// Tests that need an outside tool (binutils, pefile, wine). CI installs every
// one of them, so there a missing tool fails the test; run by hand, the test
// is skipped from that point on, never passed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace testtools {

inline bool underCI() {
    const char* v = std::getenv("CI");
    return v && *v && std::string(v) != "false" && std::string(v) != "0";
}

inline bool haveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool havePefile() { return std::system("/usr/bin/python3 -c 'import pefile' >/dev/null 2>&1") == 0; }

}  // namespace testtools

// REQUIRE_TOOL(available, what): returns from the test when the tool is missing.
#define REQUIRE_TOOL(available, what)                                                      \
  do {                                                                                     \
    if (!(available)) {                                                                    \
      if (testtools::underCI()) FAIL() << what << " is not installed, and CI installs it"; \
      GTEST_SKIP() << what << " is not installed (scripts/deps.sh test installs it)";      \
    }                                                                                      \
  } while (0)
