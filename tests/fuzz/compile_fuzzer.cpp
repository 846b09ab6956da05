// Compiles arbitrary bytes as the body of a project, after a fixed header,
// through the whole compiler with a builder that does nothing. Every run
// starts from fresh globals and frees them all again. A fatal error or one
// of the program's exceptions is a normal outcome (the driver reports it);
// a crash, a sanitizer report, a leak or a hang is a finding.
// Built with TAVIK_FUZZ_LINK (link_fuzzer), the linker is compiled in and
// the body is compiled once for each of its four builders; every program
// that compiles is then built, its image kept in memory.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

#include "afile.h"
#include "common.h"
#include "compiler.h"
#include "driver.h"
#include "exceptions.h"
#include "global.h"
#include "filetypes/file_writer.h"
#include "plugins/plugin_interface.h"
#include "plugins/plugin_manager.h"
#include "settings.h"

#ifdef TAVIK_FUZZ_LINK
extern "C" const char* TAV_CALL onEntry(const TPluginInterface* funcTable);
#endif

namespace {

#ifdef TAVIK_FUZZ_LINK
const char* const kBuilders[] = {"pe32_cui", "pe32_gui", "pe32_dll", "raw_image"};
#else
const char* const kBuilders[] = {"test"};
#endif

// An empty folder stands for the project's folder; the standard include
// comes from the source tree's includes folder.
std::string projectFolder;

#ifndef TAVIK_FUZZ_LINK
TAVBOOL TAV_CALL quietBuilder(TTriggerEvent, uint32_t) { return 1; }
#else
// The linker registers its builders through a copy of the service table
// that also keeps their callbacks, so that a build can run without the
// output file being written.
struct Registered {
    std::string name;
    TRBCallback cb;
    int32_t id;
};
Registered registered[4];
uint32_t registeredCount = 0;

int32_t TAV_CALL keepBuilder(const char* name, TRBCallback cb) {
    int32_t id = funcTable.RegisterBuilder(name, cb);
    if (id >= 0 && registeredCount < 4) registered[registeredCount++] = {name, cb, id};
    return id;
}

TPluginInterface linkerTable;

// The build of the selected builder into the in-memory output file.
void buildInMemory(const std::string& builder) {
    for (uint32_t i = 0; i < registeredCount; ++i) {
        if (registered[i].name != builder) continue;
        fWriter = new TFileWriter(projectFolder + "image");
        try {
            registered[i].cb(teComplete, uint32_t(registered[i].id));
        } catch (...) {
            delete fWriter;
            fWriter = nullptr;
            throw;
        }
        delete fWriter;
        fWriter = nullptr;
    }
}
#endif

void removeProjectFolder() {
    std::error_code ec;
    std::filesystem::remove_all(projectFolder, ec);
}

// The settings InitTavik makes, without its banner.
void resetFlags() {
    fileCounter = 0;
    ptrSize = 4;
    CompileFlags = TCompilerFlags{};
    CompileFlags.cpu_mode = 686;
    CompileFlags.cpu_bits = 32;
    CompileFlags.fpu_enabled = 1;
    CompileFlags.sse_version = 1;
    strTAVIK_PATH = TAVIK_FUZZ_SOURCE_DIR "/";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Messages go to standard output; libFuzzer reports on stderr.
    // TAVIK_FUZZ_SHOW=1 keeps them, to see what an input does.
    if (!std::getenv("TAVIK_FUZZ_SHOW") && !std::freopen("/dev/null", "w", stdout)) return 0;
    char tmpl[] = "/tmp/tavik_fuzz_XXXXXX";
    if (!mkdtemp(tmpl)) return 0;
    projectFolder = std::string(tmpl) + "/";
    std::atexit(removeProjectFolder);
#ifdef TAVIK_FUZZ_LINK
    linkerTable = funcTable;
    linkerTable.RegisterBuilder = keepBuilder;
#endif
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    for (const char* builder : kBuilders) {
        resetFlags();
        CreateGlobals();
        Plugins = new TPluginManager();
#ifdef TAVIK_FUZZ_LINK
        registeredCount = 0;
        onEntry(&linkerTable);
#else
        Plugins->registerBuilder(builder, quietBuilder);
#endif
        try {
            Settings->SetCompilerPath(strTAVIK_PATH);
            Settings->SetProjectPath(projectFolder);
            TAFile* f = TAFile::Create();
            f->loadBuffer(projectFolder + "project.tav", "program " + std::string(builder) + " 'x';\n" + body,
                          nullptr);
            Compiler->F_CurFile = f;
            Compiler->Compile();
#ifdef TAVIK_FUZZ_LINK
            buildInMemory(builder);
#endif
        } catch (const Exception&) {
        } catch (const std::bad_alloc&) {
        } catch (const std::exception&) {
        }
        delete Plugins;
        Plugins = nullptr;
        FreeGlobals();
    }
    return 0;
}
