// Builders that set an empty and a nil extension: the output then has none.
#include "test_plugin.h"

using namespace test_plugin;

namespace {
int32_t idEmpty = -1;

TAVBOOL TAV_CALL extBuilder(TTriggerEvent evt, uint32_t id) {
    if (evt != teComplete) return 1;
    host->File_AddBytes("EX", 2);
    host->set_fileext(int32_t(id) == idEmpty ? u"" : nullptr);
    return 1;
}
}  // namespace

TEST_EXPORT const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    idEmpty = host->RegisterBuilder("test_emptyext", extBuilder);
    host->RegisterBuilder("test_nullext", extBuilder);
    return "Extensions";
}
