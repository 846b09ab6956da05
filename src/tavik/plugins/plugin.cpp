#include "plugins/plugin.h"

#include <cstring>

#include "platform/platform.h"

TPlugin::TPlugin(void* hw) : F_Handle(hw) {}

void TPlugin::loadProcAddresses() { DLLExit = reinterpret_cast<TDLLExit>(platform::LibrarySymbol(F_Handle, "onExit")); }

void TPlugin::setPluginName(const char* name) {
    F_Name = name ? std::string(name, strnlen(name, MaxNameLength)) : std::string();
}
