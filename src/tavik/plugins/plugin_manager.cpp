#include "plugins/plugin_manager.h"

#include <cstdio>
#include <optional>

#include "ascii.h"
#include "classes/record_arena.h"

#include "classes/function_manager.h"
#include "classes/resource_manager.h"
#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "filetypes/file_writer.h"
#include "global.h"
#include "log.h"
#include "platform/platform.h"
#include "plugins/plugin_interface.h"
#include "driver/settings.h"

namespace {

// Calls into a plug-in. A stop that a service recorded is raised once the
// plug-in has returned; anything a plug-in throws itself is no exception the
// program knows, and ends the build with a message instead of the process.
template <class F>
auto CallPlugin(const std::string& who, F&& call) {
    try {
        // A plug-in's code crashing (a damaged library may bind its imports
        // wrongly) ends the run with a message. A sanitized build reports
        // the crash itself.
        std::optional<platform::TCrashNote> note;
        if (!kSanitizedBuild) note.emplace("PlugSys: " + who + " crashed; the build stops");
        auto answer = call();
        RaisePluginStop();
        return answer;
    } catch (const std::exception&) {
        throw;
    } catch (...) {
        RaisePluginStop();
        Log->FatalUnpositioned("PlugSys: " + who + " raised an exception the assembler does not know");
    }
}

}  // namespace

TPluginManager::TPluginManager() = default;

// The libraries stay loaded: code of theirs may still be referenced.
TPluginManager::~TPluginManager() = default;

void TPluginManager::initPlugins(const std::string& pluginDir) {
    for (const std::string& name : platform::ListFolder(pluginDir, ".dll")) loadPlugin(pluginDir, name);
}

namespace {

// The trial of a library in a child process: loaded, its entry run, and
// closed again (its finalisers run at the end of every run). One whose
// damaged tables would crash the loader, its entry or its finalisers takes
// only the child with it.
int TryLibrary(void* arg) {
    const std::string& path = *static_cast<const std::string*>(arg);
    // Nothing of the trial goes into the log either.
    if (Settings) Settings->SetWriteLog(false);
    void* handle = platform::OpenLibrary(path);
    if (!handle) return 1;
    if (auto entry = reinterpret_cast<TDLLEntry>(platform::LibrarySymbol(handle, "onEntry"))) {
        try {
            (void)entry(&funcTable);
        } catch (...) {}
    }
    platform::CloseLibrary(handle);
    return 0;
}

}  // namespace

void TPluginManager::loadPlugin(const std::string& pluginDir, const std::string& name) {
    std::string path = pluginDir + name;
    void* handle = nullptr;
    // Loaded here unless the trial crashed; a library the trial could not
    // load fails here too.
    if (platform::RunInChild(TryLibrary, &path) != platform::TChildResult::Crashed) {
        // Where there is no trial, a crash in the loader still ends with a message.
        std::optional<platform::TCrashNote> note;
        if (!kSanitizedBuild) note.emplace("PlugSys: " + name + " crashed the library loader; the run stops");
        handle = platform::OpenLibrary(path);
    }
    if (!handle) {
        Log->Error("PlugSys: " + name + " skipped - not a valid plugin");
        return;
    }
    auto entry = reinterpret_cast<TDLLEntry>(platform::LibrarySymbol(handle, "onEntry"));
    if (!entry) {
        Log->Error("PlugSys: " + name + " skipped - plugin does not have entry function \"onEntry\"");
        return;
    }
    auto plugin = std::make_unique<TPlugin>(handle);
    plugin->DLLEntry = entry;
    plugin->loadProcAddresses();
    // The entry registers its builders through the table while it runs.
    plugin->setPluginName(CallPlugin(name, [&] { return plugin->DLLEntry(&funcTable); }));
    F_PlugList.push_back(std::move(plugin));
    Log->Message("PlugSys: " + F_PlugList.back()->F_Name + " plugin was loaded!", colPlugin);
}

int32_t TPluginManager::registerBuilder(const std::string& strName, TRBCallback rb) {
    if (!rb) return -1;  // nothing to call
    std::string key = upperAscii(strName);
    if (F_BuilderIndex.count(key)) return -1;
    const auto id = static_cast<int32_t>(F_Builders.size());
    F_Builders.push_back({key, rb});
    F_BuilderIndex.emplace(std::move(key), id);
    return id;
}

bool TPluginManager::selectBuilder(const std::string& strName) {
    auto it = F_BuilderIndex.find(upperAscii(strName));
    if (it == F_BuilderIndex.end()) return false;
    F_CurBuilderID = it->second;
    F_CurBuilder = F_Builders[static_cast<size_t>(it->second)].cb;
    return true;
}

bool TPluginManager::builderStartTrigger() {
    if (!F_CurBuilder) return false;
    return CallPlugin(curBuilderName(), [&] { return F_CurBuilder(teStart, uint32_t(F_CurBuilderID)); }) != 0;
}

void TPluginManager::setFileExt(const std::string& ext) {
    if (fWriter) F_strExt = ext;
}

// The image is written once, when the builder has returned: a plug-in's own
// commit writes nothing, so no file appears under a name without extension.
void TPluginManager::commitOutput() {}

// The output file name: an extension the name already ends in is not added
// again (ASCII case ignored), and an empty one adds no dot.
std::string TPluginManager::outputName(const std::string& file, const std::string& ext) {
    if (ext.empty()) return file;
    const std::string suffix = "." + ext;
    if (file.size() > suffix.size() &&
        ascii::equalNoCase(std::string_view(file).substr(file.size() - suffix.size()), suffix))
        return file;
    return file + suffix;
}

void TPluginManager::refuseReadFile(const std::string& output) const {
    if (!Compiler) return;
    for (const std::string& read : Compiler->F_FilesRead)
        if (platform::SameFile(output, read))
            Log->FatalUnpositioned("[002] The output file \"" + output + "\" would replace \"" + read +
                                   "\", which the compilation read");
}

namespace {
// More than the image is likely to take: all code as compiled, and a
// megabyte for the headers, constants and data.
size_t imageEstimate() {
    size_t bytes = size_t(1) << 20;
    if (FuncMan)
        for (uint32_t i = 0; i < FuncMan->Count(); ++i) bytes += FuncMan->getFunc(i)->BufLen;
    return bytes;
}
}  // namespace

bool TPluginManager::callBuilder(const std::string& strFile) {
    F_strFile = strFile;
    F_strExt = "bin";
    if (!F_CurBuilder) return false;

    bool accessible = false;
    bool answer = false;
    try {
        fWriter = new TFileWriter(strFile);
        accessible = true;
        fWriter->reserve(imageEstimate());
        ClearResourcesAskedFor();
        answer = CallPlugin(curBuilderName(), [&] { return F_CurBuilder(teComplete, uint32_t(F_CurBuilderID)); }) != 0;
        // A builder that failed leaves no file.
        if (answer) {
            // A builder that never asked for the resources left them out;
            // the word belongs to the whole build, not to a place in the source.
            if (ResMan && ResMan->ttl > 0 && !ResourcesAskedFor())
                Log->Message("Warning: [0011] The " + curBuilderName() + " left out the resources of \"" +
                                 ResMan->firstFile + "\"" + (ResMan->files > 1 ? " and the other resource files" : "") +
                                 ": its image has no place for them",
                             colWarning);
            fWriter->file_out = outputName(F_strFile, F_strExt);
            refuseReadFile(fWriter->file_out);
            fWriter->CommitReplacing();
        }
    } catch (...) {
        delete fWriter;
        fWriter = nullptr;
        if (!accessible) Log->FatalUnpositioned("Unable to access file \"" + strFile + "\"");
        throw;
    }
    delete fWriter;
    fWriter = nullptr;
    return answer;
}
