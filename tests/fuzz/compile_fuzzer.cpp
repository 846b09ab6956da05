// Compiles arbitrary bytes as the body of a project, after a fixed header,
// through the whole compiler with a builder that does nothing. Every run
// starts from fresh globals and frees them all again, so that nothing of one
// input reaches the next. A fatal error or one of the program's exceptions
// is a normal outcome (the driver reports it); a crash, a sanitizer report,
// a leak or a hang is a finding.
// The standard include declares constants only: it is compiled for a body
// that names one of them, and an empty one stands in for it in any other
// body (which could reach them only through a name it builds; its budget
// for repeated text is smaller by the include's length). The include is
// looked for in the project's folder first: a copy there (or the empty one)
// is found at once.
// Built with TAVIK_FUZZ_LINK (link_fuzzer), the linker is compiled in; the
// input's last byte picks one of its four builders and the bytes before it
// are the body. Every program that compiles is then built, its image kept
// in memory.
// With TAVIK_FUZZ_DIGEST=<file> set, a line for each input is added to the
// file: a hash of the input and one of its outcome (the message of the
// error that ended it, the counts of errors and warnings, the code of every
// function and the image), to show that an input gives the same outcome
// however many inputs ran before it (run.sh checks this).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "reader/afile.h"
#include "classes/function_manager.h"
#include "common.h"
#include "compiler.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "filetypes/file_writer.h"
#include "log.h"
#include "plugins/plugin_interface.h"
#include "plugins/plugin_manager.h"
#include "driver/settings.h"
#include "reader/word_table.h"

#ifdef TAVIK_FUZZ_LINK
extern "C" const char* TAV_CALL onEntry(const TPluginInterface* funcTable);
#endif

namespace {

#ifdef TAVIK_FUZZ_LINK
const char* const kBuilders[4] = {"pe32_cui", "pe32_gui", "pe32_dll", "raw_image"};
#else
const char* const kBuilders[] = {"test"};
#endif

// Folders of our own stand for the project's: each holds nothing but a
// tavik.tav, the standard include or an empty file.
std::string tempFolder;
std::string withStandard, withoutStandard;
std::vector<std::string> standardNames;  // lower case

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// The names after "const" in the standard include.
void readStandardNames() {
    std::ifstream in(TAVIK_FUZZ_SOURCE_DIR "/includes/tavik.tav");
    const std::string text = lower(std::string(std::istreambuf_iterator<char>(in), {}));
    auto word = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; };
    for (size_t at = text.find("const "); at != std::string::npos; at = text.find("const ", at + 1)) {
        if (at > 0 && word(text[at - 1])) continue;
        size_t from = at + 6, to;
        while (from < text.size() && text[from] == ' ') ++from;
        for (to = from; to < text.size() && word(text[to]); ++to) {}
        if (to > from) standardNames.push_back(text.substr(from, to - from));
    }
    if (standardNames.empty()) {
        std::fprintf(stderr, "compile_fuzzer: no constants found in includes/tavik.tav\n");
        std::abort();
    }
}

bool namesStandard(const std::string& body) {
    const std::string text = lower(body);
    for (const std::string& name : standardNames)
        if (text.find(name) != std::string::npos) return true;
    return false;
}

// FNV-1a, 64 bits.
struct Digest {
    uint64_t h = 0xcbf29ce484222325ull;
    void add(const void* p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const uint8_t*>(p)[i]) * 0x100000001b3ull;
    }
    void add(const std::string& s) {
        add(s.data(), s.size());
        add(uint64_t(s.size()));
    }
    void add(uint64_t v) { add(&v, sizeof v); }
};
FILE* digestFile = nullptr;
Digest outcome;

void addCode() {
    if (!FuncMan) return;
    outcome.add(uint64_t(FuncMan->Count()));
    for (uint32_t i = 0; i < FuncMan->Count(); ++i) {
        const PFunction fn = FuncMan->getFunc(i);
        outcome.add(uint64_t(fn->BufLen));
        if (fn->Buffer) outcome.add(fn->Buffer, fn->BufLen);
    }
}

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

// The output file is made once and emptied for each build: a boot image
// fills a floppy's 1.4 MB, and memory taken anew for it each time would
// cost more than the build.
TFileWriter* image = nullptr;

// The build of the selected builder into the in-memory output file.
void buildInMemory(const std::string& builder) {
    for (uint32_t i = 0; i < registeredCount; ++i) {
        if (registered[i].name != builder) continue;
        if (!image) image = new TFileWriter(tempFolder + "image");
        image->clear();
        image->file_out = tempFolder + "image";
        fWriter = image;
        try {
            const bool built = registered[i].cb(teComplete, uint32_t(registered[i].id)) != 0;
            // As the plug-in manager does: a stop that a service recorded
            // during the build is raised once the builder has returned.
            RaisePluginStop();
            outcome.add(uint64_t(built));
            if (built && digestFile) outcome.add(fWriter->Data(), fWriter->Len());
        } catch (...) {
            fWriter = nullptr;
            throw;
        }
        fWriter = nullptr;
    }
}
#endif

void removeTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(tempFolder, ec);
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
    words::forgetDeclared();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Messages go to standard output; libFuzzer reports on stderr.
    // TAVIK_FUZZ_SHOW=1 keeps them, to see what an input does.
    if (!std::getenv("TAVIK_FUZZ_SHOW") && !std::freopen("/dev/null", "w", stdout)) return 0;
    if (const char* path = std::getenv("TAVIK_FUZZ_DIGEST")) digestFile = std::fopen(path, "a");
    char tmpl[] = "/tmp/tavik_fuzz_XXXXXX";
    if (!mkdtemp(tmpl)) return 0;
    tempFolder = std::string(tmpl) + "/";
    std::atexit(removeTempFolder);
    withStandard = tempFolder + "with/";
    withoutStandard = tempFolder + "without/";
    std::error_code ec;
    std::filesystem::create_directories(withStandard, ec);
    std::filesystem::create_directories(withoutStandard, ec);
    std::filesystem::copy_file(TAVIK_FUZZ_SOURCE_DIR "/includes/tavik.tav", withStandard + "tavik.tav", ec);
    std::ofstream(withoutStandard + "tavik.tav").flush();
    readStandardNames();
#ifdef TAVIK_FUZZ_LINK
    linkerTable = funcTable;
    linkerTable.RegisterBuilder = keepBuilder;
#endif
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Digest input;
    input.add(data, size);
#ifdef TAVIK_FUZZ_LINK
    const char* builder = size ? kBuilders[data[size - 1] % 4] : kBuilders[0];
    if (size) --size;
#else
    const char* builder = kBuilders[0];
#endif
    const std::string body(reinterpret_cast<const char*>(data), size);
    outcome = Digest{};
    const std::string& project = namesStandard(body) ? withStandard : withoutStandard;
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
        Settings->SetProjectPath(project);
        TAFile* f = TAFile::Create();
        f->loadBuffer(project + "project.tav", "program " + std::string(builder) + " 'x';\n" + body, nullptr);
        Compiler->F_CurFile = f;
        Compiler->Compile();
        if (digestFile) addCode();
#ifdef TAVIK_FUZZ_LINK
        buildInMemory(builder);
#endif
    } catch (const Exception& e) {
        outcome.add(e.ClassName() + ": " + e.Message());
    } catch (const std::bad_alloc&) {
        outcome.add(std::string("bad_alloc"));
    } catch (const std::exception& e) {
        outcome.add(std::string("exception: ") + e.what());
    }
    outcome.add(uint64_t(Log->ErrorCount()));
    outcome.add(uint64_t(Log->WarningCount()));
    delete Plugins;
    Plugins = nullptr;
    FreeGlobals();
    // Whatever a plug-in service recorded was raised within the input.
    if (PluginStopPending()) {
        std::fprintf(stderr, "compile_fuzzer: a plug-in stop outlived its input\n");
        std::abort();
    }
    if (digestFile) {
        std::fprintf(digestFile, "%016llx %016llx\n", static_cast<unsigned long long>(input.h),
                     static_cast<unsigned long long>(outcome.h));
        std::fflush(digestFile);
    }
    return 0;
}
