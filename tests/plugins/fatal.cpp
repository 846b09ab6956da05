// Builders that end the build with a fatal message: at the start event, and
// during the build (once with part of the file committed), and one that
// throws what the host does not know. What they hold
// lives in RAII objects, so the unwinding through them frees it.
#include <string>
#include <vector>

#include "test_plugin.h"

using namespace test_plugin;

namespace {
int32_t idStart = -1, idBuild = -1, idCommitted = -1, idWide = -1, idForeign = -1;

TAVBOOL TAV_CALL fatalBuilder(TTriggerEvent evt, uint32_t id) {
    std::vector<uint8_t> scratch(1000, 0x5A);
    std::string note = "fatal plug-in, builder " + std::to_string(id);
    if (evt == teStart) {
        if (int32_t(id) == idStart) host->Log_MessageA("stopped at the start", 1);
        return 1;
    }
    host->File_AddBytes(scratch.data(), uint32_t(scratch.size()));
    host->set_fileext(u"never");
    if (int32_t(id) == idCommitted) host->File_Commit();
    if (int32_t(id) == idWide) host->Log_MessageW(u"stopped in the build \u00e9\u20ac\U0001F600", 1);
    if (int32_t(id) == idForeign) throw 42;  // no exception of the host's
    if (int32_t(id) == idBuild || int32_t(id) == idCommitted) host->Log_MessageA(note.c_str(), 1);
    return 1;
}
}  // namespace

TEST_EXPORT const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    idStart = host->RegisterBuilder("fatal_start", fatalBuilder);
    idBuild = host->RegisterBuilder("fatal_build", fatalBuilder);
    idCommitted = host->RegisterBuilder("fatal_committed", fatalBuilder);
    idWide = host->RegisterBuilder("fatal_wide", fatalBuilder);
    idForeign = host->RegisterBuilder("throws_int", fatalBuilder);
    return "Fatal";
}
