#pragma once
#include <cstdint>
#include <string>

#include "tavik/plugin_api.h"

// One loaded plug-in library. The library itself stays loaded when the
// object is freed.
class TPlugin {
public:
    explicit TPlugin(void* hw);
    TPlugin(const TPlugin&) = delete;
    TPlugin& operator=(const TPlugin&) = delete;

    // Looks up the optional "onExit" (kept, never called).
    void loadProcAddresses();
    // Keeps the first 255 bytes of the zero-terminated name (nil: empty).
    void setPluginName(const char* name);

    static constexpr size_t MaxNameLength = 255;

    std::string F_Name;
    std::string F_FileName;  // left empty by the loader
    void* F_Handle = nullptr;
    TDLLEntry DLLEntry = nullptr;
    TDLLExit DLLExit = nullptr;
};
