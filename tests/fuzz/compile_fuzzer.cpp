// Compiles arbitrary bytes as the body of a project, after a fixed header,
// through the whole compiler with a builder that does nothing. Every run
// starts from fresh globals and frees them all again. A fatal error or one
// of the program's exceptions is a normal outcome (the driver reports it);
// a crash, a sanitizer report, a leak or a hang is a finding.
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
#include "plugins/plugin_manager.h"
#include "settings.h"

namespace {

const char* const kHeader = "program test 'x';\n";

// An empty folder stands for the project's folder; the standard include
// comes from the source tree's includes folder.
std::string projectFolder;

TAVBOOL TAV_CALL quietBuilder(TTriggerEvent, uint32_t) { return 1; }

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
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetFlags();
    CreateGlobals();
    Plugins = new TPluginManager();
    Plugins->registerBuilder("test", quietBuilder);
    try {
        Settings->SetCompilerPath(strTAVIK_PATH);
        Settings->SetProjectPath(projectFolder);
        TAFile* f = TAFile::Create();
        f->loadBuffer(projectFolder + "project.tav",
                      kHeader + std::string(reinterpret_cast<const char*>(data), size), nullptr);
        Compiler->F_CurFile = f;
        Compiler->Compile();
    } catch (const Exception&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::exception&) {
    }
    delete Plugins;
    Plugins = nullptr;
    FreeGlobals();
    return 0;
}
