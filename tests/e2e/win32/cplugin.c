/* A plug-in in plain C: the builder "c_image" feeds a define in on its start
 * event and writes "CPLG", the function count and the first function's code. */
#include <uchar.h>

#include "tavik/plugin_api.h"

static const TPluginInterface* host;

static TAVBOOL TAV_CALL build(TTriggerEvent evt, uint32_t id) {
    static const char defines[] = "#define C_PLUGIN;";
    static const char16_t ext[] = u"cim";
    uint32_t count, len = 0;
    uint8_t* code;

    (void)id;
    if (evt == teStart) return host->func_execute(defines, sizeof defines - 1);
    count = host->Code_Count();
    code = count ? host->Code_Get(0, &len) : NULL;
    host->set_fileext(ext);
    host->File_AddBytes("CPLG", 4);
    host->File_AddBytes(&count, 4);
    host->File_AddBytes(code, len);
    host->Log_MessageA("C plug-in: image written", 0);
    return 1;
}

__declspec(dllexport) const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    host->RegisterBuilder("c_image", build);
    return "C Test";
}
