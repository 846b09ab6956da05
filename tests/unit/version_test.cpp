// The version text of the banner.
#include <gtest/gtest.h>

#include <regex>

#include "platform/platform.h"
#include "driver/version.h"

TEST(Version, OwnExecutableCarriesFourParts) {
    std::string v = GetVersion(platform::ExecutablePath());
    EXPECT_TRUE(std::regex_match(v, std::regex(R"(\d+\.\d+\.\d+\.\d+)"))) << v;
    EXPECT_NE(v, "0.0.0.0");
    EXPECT_EQ(v, TAVIK_VERSION_TEXT);  // the build's four-part version
    EXPECT_EQ(GetVersion("/nonexistent/file.exe"), "0.0.0.0");
}
