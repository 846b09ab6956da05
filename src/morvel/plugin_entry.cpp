// The library's one export: onEntry registers the four builders.
#include <string>

#include "host.h"
#include "pe_coff.h"
#include "raw_image.h"

namespace morvel {
namespace {

int32_t idGui = -1, idCui = -1, idDll = -1, idRaw = -1;

bool is(uint32_t id, int32_t builder) { return builder >= 0 && id == uint32_t(builder); }

void execute(const std::string& text) { host.func_execute(text.data(), uint32_t(text.size())); }

void buildPE(uint32_t subSystem, TPECOFFType type, const char16_t* ext, const char* banner) {
    host.set_fileext(ext);
    // The export directory names the image by its file name.
    TPECOFF pe(host.get_filename ? text(host.get_filename()) : std::string(), subSystem, type, 0x14C);
    message(banner);
    pe.build();
}

TAVBOOL TAV_CALL peBuilderCallback(TTriggerEvent evt, uint32_t id) {
    try {
        if (evt == teStart) {
            std::string text = "#define WIN32; #set bits 32;";
            if (is(id, idCui)) text += " #define APPTYPE_CUI;";
            else if (is(id, idDll)) text += " #define APPTYPE_DLL; #set relocations 1;";
            else if (is(id, idGui)) text += " #define APPTYPE_GUI;";
            execute(text);
        } else if (evt == teComplete) {
            if (is(id, idCui)) buildPE(3, petEXE, u"exe", "Building Executable File!");
            else if (is(id, idGui)) buildPE(2, petEXE, u"exe", "Building Executable File!");
            else if (is(id, idDll)) buildPE(2, petDLL, u"dll", "Building Dynamic Link Library!");
            else fatal("Unknown linker format");
        }
    } catch (const BuildStopped&) {
        return 0;
    }
    return 1;
}

TAVBOOL TAV_CALL rawBuilderCallback(TTriggerEvent evt, uint32_t) {
    try {
        if (evt == teStart) {
            execute("#define RAW_IMAGE; #set bits 16;");
        } else if (evt == teComplete) {
            host.set_fileext(u"img");
            TRawBin raw(ftRAW_FLOPPY, rtINTEL_BOOT);
            message("Building Raw Image!");
            raw.build(0x7C00);
        }
    } catch (const BuildStopped&) {
        return 0;
    }
    return 1;
}

}  // namespace
}  // namespace morvel

extern "C" __attribute__((visibility("default"))) const char* TAV_CALL onEntry(const TPluginInterface* funcTable) {
    using namespace morvel;
    takeServices(funcTable);
    idGui = host.RegisterBuilder("pe32_gui", peBuilderCallback);
    idCui = host.RegisterBuilder("pe32_cui", peBuilderCallback);
    idDll = host.RegisterBuilder("pe32_dll", peBuilderCallback);
    idRaw = host.RegisterBuilder("raw_image", rawBuilderCallback);
    return "Tavik Linker";
}
