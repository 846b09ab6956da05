// A builder that writes a known image through the services, with variants
// for the default extension, a false answer and an early commit. At the
// start event it reports what the output services answer there.
#include <cstring>

#include "test_plugin.h"

using namespace test_plugin;

namespace {
int32_t idWriter = -1, idNoExt = -1, idFalse = -1, idCommit = -1;

void reportStart() {
    uint32_t len = 1, add = 1, code = 1, res = 1;
    len = host->File_Len();
    add = host->File_AddBytes("x", 1);
    code = host->File_WriteCode(0);
    res = host->file_writeresources(0x1000);
    uint32_t replaced = host->File_ReplaceBytes(1, "y", 1);
    host->File_Commit();
    host->set_fileext(u"start");
    say("start: len %u add %u code %u res %u replace %u buf %s", len, add, code, res, replaced,
        host->file_getbuf() ? "set" : "nil");
}

// "TW", then every function's code, then the length before it as 4 bytes;
// bytes 3 and 4 become the function count and 0xEE.
void writeImage() {
    uint32_t first = host->File_AddBytes("TW\0\1", 4);
    uint32_t n = host->Func_Count();
    for (uint32_t i = 0; i < n; ++i) host->File_WriteCode(i);
    uint32_t len = host->File_Len();
    uint8_t le[4] = {uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16), uint8_t(len >> 24)};
    host->File_AddBytes(le, 4);
    uint8_t patch[2] = {uint8_t(n), 0xEE};
    uint32_t at = host->File_ReplaceBytes(3, patch, 2);
    const uint8_t* buf = host->file_getbuf();
    say("complete: first %u replace %u len %u buf %c%c", first, at, host->File_Len(), buf[0], buf[1]);
}

TAVBOOL TAV_CALL writerBuilder(TTriggerEvent evt, uint32_t id) {
    if (evt == teStart) {
        reportStart();
        return 1;
    }
    if (int32_t(id) == idCommit) {
        host->File_AddBytes("AB", 2);
        host->File_Commit();
        host->File_AddBytes("C", 1);
        return 1;
    }
    writeImage();
    if (int32_t(id) == idWriter) host->set_fileext(u"out");
    return int32_t(id) == idFalse ? 0 : 1;
}
}  // namespace

TEST_EXPORT const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    idWriter = host->RegisterBuilder("Test_Writer", writerBuilder);
    idNoExt = host->RegisterBuilder("test_noext", writerBuilder);
    idFalse = host->RegisterBuilder("test_false", writerBuilder);
    idCommit = host->RegisterBuilder("test_commit", writerBuilder);
    say("writer ids: %d %d %d %d", idWriter, idNoExt, idFalse, idCommit);
    return "Test Writer";
}
