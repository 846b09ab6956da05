// The shared header is plain enough for a C plug-in and a C++ one, and on
// a 32-bit target its records have the offsets the plug-ins rely on.
#include "tavik/plugin_api.h"

#include <gtest/gtest.h>

#include "../require_tool.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {
bool haveTool(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

int compile(const std::string& tool, const std::string& flags, const std::string& lang) {
    // One file per process: runs of the same test elsewhere share the temp folder.
    const std::string src = ::testing::TempDir() + "tavik_plugin_api_check_" + std::to_string(getpid());
    {
        std::ofstream out(src);
        out << "#include \"tavik/plugin_api.h\"\n"
               "int f(PFunction fn, PFixup x, PConst c, PVar v, PVarType t, PImports i) {\n"
               "  return (int)(fn->BufLen + x->position + c->address + v->address + t->size + i->refs\n"
               "               + tav_strlen(fn->Name) + tav_arrcount(fn->Params));\n"
               "}\n";
    }
    const std::string cmd = tool + " " + flags +
                            " -Wall -Wextra -Werror -fsyntax-only -I" TAVIK_SOURCE_DIR "/include -x " + lang + " " +
                            src + " 2>&1";
    const int rc = std::system(cmd.c_str());
    std::remove(src.c_str());
    return rc;
}
}  // namespace

TEST(PluginApi, CompilesAsCAndCxx) {
    REQUIRE_TOOL(haveTool("cc") && haveTool("c++"), "cc or c++");
    EXPECT_EQ(compile("cc", "-std=c11", "c"), 0);
    // the check itself notices a failing build: with the header guard
    // predefined the records are missing
    EXPECT_NE(compile("cc", "-std=c11 -DTAVIK_PLUGIN_API_H", "c"), 0);
    EXPECT_EQ(compile("c++", "-std=c++17", "c++"), 0);
    EXPECT_EQ(compile("c++", "-std=c++20", "c++"), 0);
}

TEST(PluginApi, LayoutOn32BitTarget) {
    // Freestanding C++ needs no i386 C library, and the header's offset
    // checks hold in either language.
    if (!haveTool("c++") ||
        std::system("echo 'int x;' | c++ -m32 -ffreestanding -fsyntax-only -x c++ - >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "compiler cannot target i386";
    EXPECT_EQ(compile("c++", "-m32 -ffreestanding -std=c++20", "c++"), 0);
}

TEST(PluginApi, TextLengthWordPrecedesTheText) {
    alignas(4) unsigned char block[12] = {3, 0, 0, 0, 'a', 'b', 'c', 0};
    EXPECT_EQ(tav_strlen(reinterpret_cast<const char*>(block + 4)), 3u);
    EXPECT_EQ(tav_strlen(nullptr), 0u);
}
