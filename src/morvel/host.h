#pragma once
// The host as the plug-in sees it: the services copied from the table that
// onEntry received, and the log helpers the builders use.
#include <string>

#include "tavik/plugin_api.h"

namespace morvel {

// Copies of the host's services; slot 1 (Log_MessageW) is not used.
extern TPluginInterface host;

void takeServices(const TPluginInterface* table);

// A plain message through the host's log.
void message(const std::string& text);

// A fatal message: the host abandons the build and does not return. Should a
// host return anyway, the build stops with BuildStopped, which the builder
// callback turns into a failed answer.
[[noreturn]] void fatal(const std::string& text);

struct BuildStopped {};

// The text of a host string field ("" for nil).
inline std::string text(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace morvel
