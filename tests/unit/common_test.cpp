#include <gtest/gtest.h>

#include "common.h"

TEST(CompilerFlags, DefaultWordSize) { EXPECT_EQ(ptrSize, 4u); }
