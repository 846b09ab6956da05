// The plug-in service that appends the resource section to the image.
#include "plugin_env.h"

#include "classes/resource_manager.h"
#include "plugins/plugin_interface.h"

namespace {

const TPluginInterface& T = funcTable;

std::string Output() { return std::string(reinterpret_cast<char*>(T.file_getbuf()), T.File_Len()); }

TEST_F(PluginEnv, WriteResourcesAppendsTheSection) {
    ResMan->addResource(10, 1, 0x409, "", "hello", 5);
    ResMan->addResource(3, 2, 0x409, "", "ic", 2);
    // Outside a build nothing is written.
    EXPECT_EQ(T.file_writeresources(0x1000), 0u);

    fWriter = new TFileWriter("unused");
    EXPECT_EQ(T.File_AddBytes("MZ", 2), 1u);
    const uint32_t size = T.file_writeresources(0x1000);
    EXPECT_EQ(size, 16u + 72u + 72u + 10u);  // "hello", 3 bytes to the next boundary, "ic"
    EXPECT_EQ(T.File_Len(), 2u + size);
    const std::string out = Output();
    // The same bytes as the collector builds, after what was there.
    EXPECT_EQ(out.substr(2), ResMan->buildRes(0x1000));
    EXPECT_EQ(out.substr(out.size() - 10), std::string("hello\0\0\0ic", 10));
    // A second call appends the same section again, not a damaged one.
    EXPECT_EQ(T.file_writeresources(0x1000), size);
    EXPECT_EQ(Output().substr(2 + size), out.substr(2));
}

}  // namespace
