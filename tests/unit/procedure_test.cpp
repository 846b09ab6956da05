#include "procedure_env.h"

namespace {

using Proc = ProcEnv;

TEST_F(Proc, Smoke) {
    ok("procedure add2(dword a, b) { mov eax, a; add eax, b; }\nadd2(1, 2);\n");
    EXPECT_EQ(code("add2"), "");
    EXPECT_EQ(hex(main()), "");
}

}  // namespace
