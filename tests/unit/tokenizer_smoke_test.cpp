#include "front_env.h"

TEST_F(FrontEnv, Smoke) {
    load("mov eax, [ebx+4] 'a' 12 x");
    EXPECT_EQ(next(), ttIdent);
    EXPECT_EQ(cur().F_String, "mov");
    EXPECT_EQ(next(), ttRegister);
    EXPECT_EQ(next(), ttSymbol);
    EXPECT_EQ(next(), ttBaseExp);
    EXPECT_EQ(cur().F_String, "(0) [ebx+4]");
    EXPECT_EQ(next(), ttAnsiString);
    EXPECT_EQ(next(), ttNumber);
    EXPECT_EQ(next(), ttIdent);
    EXPECT_EQ(next(), ttEOF);
    EXPECT_EQ(fatalOf("[eax+ebx+ecx]"), "x");
}
