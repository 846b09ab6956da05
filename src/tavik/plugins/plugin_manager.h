#pragma once
#include <string>

// Loads the plug-in libraries and calls the selected builder.
class TPluginManager {
public:
    TPluginManager() = default;
    ~TPluginManager() = default;
    void initPlugins(const std::string& folder);
    bool callBuilder(const std::string& outName);
};
