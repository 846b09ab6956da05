#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "plugins/plugin.h"
#include "tavik/plugin_api.h"

// Loads the plug-in libraries, keeps the builders they register and calls
// the selected one. Builder ids count from 0 in registration order over all
// plug-ins; a name (upper-cased) belongs to the first that registers it.
class TPluginManager {
public:
    TPluginManager();
    ~TPluginManager();
    TPluginManager(const TPluginManager&) = delete;
    TPluginManager& operator=(const TPluginManager&) = delete;

    // Loads every "*.dll" of the folder (which ends in a separator), in
    // name order, and enters each once with funcTable.
    void initPlugins(const std::string& pluginDir);
    // The new builder id, or -1 when the name is taken (or rb is nil).
    int32_t registerBuilder(const std::string& strName, TRBCallback rb);
    // Makes the builder of that name (ASCII case ignored) current.
    bool selectBuilder(const std::string& strName);
    // The selected builder's answer to teStart; false without one.
    bool builderStartTrigger();
    // Builds the output file strFile + "." + extension through the selected
    // builder; its answer, false without one. A failure inside the build, or
    // a false answer, leaves no output file behind.
    bool callBuilder(const std::string& strFile);

    // During a build: sets the extension of the output file (no dot).
    void setFileExt(const std::string& ext);
    // The file the build under way writes: its name and extension.
    std::string outputFile() const { return outputName(F_strFile, F_strExt); }
    // A plug-in's commit: nothing, as the host writes the image once.
    void commitOutput();
    // file with ext added, unless it ends in it already; no dot for none.
    static std::string outputName(const std::string& file, const std::string& ext);

    // The registry, for the compiler's list of installed builders.
    uint32_t builderCount() const { return static_cast<uint32_t>(F_Builders.size()); }
    const std::string& builderName(uint32_t id) const { return F_Builders.at(id).name; }
    const std::vector<std::unique_ptr<TPlugin>>& plugList() const { return F_PlugList; }
    int32_t curBuilderID() const { return F_CurBuilderID; }

    std::string F_strFile;         // output name of the build under way, no extension
    std::string F_strExt = "bin";  // its extension

private:
    struct TBuilder {
        std::string name;  // upper-cased
        TRBCallback cb;
    };
    std::string curBuilderName() const { return "builder " + F_Builders[size_t(F_CurBuilderID)].name; }
    void loadPlugin(const std::string& pluginDir, const std::string& name);
    // Fatal when output names a file the compilation read.
    void refuseReadFile(const std::string& output) const;

    std::vector<TBuilder> F_Builders;
    std::unordered_map<std::string, int32_t> F_BuilderIndex;
    TRBCallback F_CurBuilder = nullptr;
    int32_t F_CurBuilderID = -1;
    std::vector<std::unique_ptr<TPlugin>> F_PlugList;
};
