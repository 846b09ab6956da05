#include "plugins/plugin_manager.h"

void TPluginManager::initPlugins(const std::string&) {}
bool TPluginManager::callBuilder(const std::string&) { return false; }
