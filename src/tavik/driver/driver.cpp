#include "driver/driver.h"

#include <cstdio>
#include <istream>
#include <new>

#include "classes/block_stack.h"
#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/record_arena.h"
#include "classes/import_manager.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "classes/resource_manager.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "filetypes/file_writer.h"
#include "global.h"
#include "log.h"
#include "encoder/operand.h"
#include "platform/platform.h"
#include "plugins/plugin_manager.h"
#include "driver/settings.h"

std::string strInRaw;
std::string strInFile;
std::string strOutFile;
int32_t intCount = 0;
bool bPause = true;
std::string strIncludeRaw;
std::string strOutRaw;
int64_t startTime64 = 0, endTime64 = 0;
float elapsedSeconds = 0;
TFileWriter* batFile = nullptr;

namespace {

const size_t kBannerWidth = 58;
const char* const kNotice = "i386 assembler; images are built by plug-ins";

template <class T>
void FreeAndNil(T*& p) {
    delete p;
    p = nullptr;
}

float SecondsBetween(int64_t from, int64_t to) {
    if (frequency64 <= 0) return 0;
    return static_cast<float>(static_cast<double>(to - from) / static_cast<double>(frequency64));
}

std::string Framed(const std::string& text) {
    std::string line = "**     " + text;
    if (line.size() < kBannerWidth - 2) line.append(kBannerWidth - 2 - line.size(), ' ');
    return line + "**";
}

void Say(const std::string& text) {
    if (Log) Log->Message(text, colMessage);
    else platform::WriteStdout(text + "\n");
}

// The source name with its extension (dot included) cut from the end; a
// name that is all extension (".tav") is kept whole.
std::string WithoutExtension(const std::string& path) {
    const size_t ext = platform::ExtractFileExt(path).size();
    if (ext == platform::ExtractFileName(path).size()) return path;
    return path.substr(0, path.size() - ext);
}

}  // namespace

std::string FormatSeconds(float seconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4f", static_cast<double>(seconds));
    std::string s = buf;
    size_t dot = s.find('.');
    if (dot != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

std::vector<std::string> BannerLines(const std::string& title) {
    std::string stars(kBannerWidth, '*');
    std::string empty = "**" + std::string(kBannerWidth - 4, ' ') + "**";
    return {stars, empty, Framed(title), Framed(kNotice), empty, stars};
}

void InitTavik() {
    fileCounter = 0;
    ptrSize = 4;
    CompileFlags.entry_funcid = 0;
    CompileFlags.cpu_mode = 686;
    CompileFlags.fpu_enabled = 1;
    CompileFlags.sse_version = 1;
    CompileFlags.peek_mode = 0;
    CompileFlags.relocations = 0;

    strTAVIK_PATH = platform::ExecutableFolder();
    strTAVIK_VERSION = "Tavik Assembler " + platform::FileVersion(platform::ExecutablePath());
    platform::SetConsoleTitle(strTAVIK_VERSION);

    CreateGlobals();

    for (const std::string& line : BannerLines(strTAVIK_VERSION)) Log->Message(line, colBanner);

    Plugins = new TPluginManager();
}

void DeinitTavik() {
    FreeAndNil(Plugins);
    FreeGlobals();
}

void CreateGlobals() {
    FuncOps = new std::vector<TOperand*>();
    Settings = new TSettings();
    Idents = new TIdentManager();
    VarMan = new TVarManager();
    FuncMan = new TFunctionManager();
    FixMan = new TFixupManager();
    Imports = new TImportManager();
    RegMan = new TRegisterManager();
    ResMan = new TResourceManager();
    blStack = new TBlockStack();
    Compiler = new TCompiler();
    Consts = new TConstManager();
    DefMan = new TDefineManager();
    Compiler->InitCompiler();
    // After InitCompiler: the outermost macro's buffer must be the compiler's first file.
    MacMan = new TMacroManager();
    Log = new TLog();
}

void FreeGlobals() {
    FreeAndNil(Compiler);
    FreeAndNil(Log);
    FreeAndNil(Settings);
    FreeAndNil(Consts);
    FreeAndNil(DefMan);
    FreeAndNil(Idents);
    FreeAndNil(VarMan);
    FreeAndNil(FuncMan);
    FreeAndNil(FixMan);
    FreeAndNil(Imports);
    FreeAndNil(MacMan);
    FreeAndNil(RegMan);
    FreeAndNil(ResMan);
    FreeAndNil(blStack);
    if (FuncOps) {
        for (TOperand* op : *FuncOps) delete op;
        FreeAndNil(FuncOps);
    }
}

bool NoPauseAsked(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "-nopause") return true;
    return false;
}

void ReadOptions(const std::vector<std::string>& args) {
    const int32_t count = static_cast<int32_t>(args.size());
    // A value-taking option that stands last takes an empty value.
    auto value = [&](const std::string& option, const char* without) -> std::string {
        ++intCount;
        if (intCount <= count) return args[intCount - 1];
        Log->WarningUnpositioned("[006] " + option + " stands last, without a value: " + without);
        return std::string();
    };
    bool outGiven = false, includeGiven = false;
    intCount = 2;
    while (intCount <= count) {
        const std::string& arg = args[intCount - 1];
        if (arg == "-out") {
            std::string name = value(arg, "the output is named after the source");
            if (outGiven && !name.empty())
                Log->WarningUnpositioned("[007] A second -out: \"" + name + "\" replaces \"" + strOutRaw + "\"");
            if (!name.empty()) {
                outGiven = true;
                strOutRaw = name;
            }
            strOutFile = name;
        } else if (arg == "-i") {
            std::string folder = value(arg, "no include folder is used");
            if (includeGiven && !folder.empty())
                Log->WarningUnpositioned("[007] A second -i: \"" + folder + "\" replaces \"" + strIncludeRaw + "\"");
            if (!folder.empty()) {
                includeGiven = true;
                strIncludeRaw = folder;
            }
            // An empty folder means none, not the root folder.
            Settings->SetIncludePath(folder.empty() ? std::string() : platform::IncludeTrailingSeparator(folder));
        } else if (arg == "-nopause") {
            bPause = false;
        } else if (arg == "-writelog") {
            Settings->SetWriteLog(true);
        } else {
            Log->WarningUnpositioned("[005] Unknown argument \"" + arg + "\" is ignored");
        }
        ++intCount;
    }
    // An empty value at the end undoes an earlier one.
    if (strOutFile.empty()) strOutRaw.clear();
    if (Settings->IncludePath().empty()) strIncludeRaw.clear();
}

void DeriveOutputName() {
    if (strOutFile.empty()) strOutFile = WithoutExtension(platform::ExtractFileName(strInFile));
}

std::string PluginFolder() { return strTAVIK_PATH + "plugins" + platform::PathSeparator; }

std::string BatchFileName(const std::string& source) { return WithoutExtension(source) + ".build.bat"; }

namespace {

// A double-quoted argument of a batch file; cmd expands % even inside quotes.
std::string BatchQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '%') out += '%';
    }
    return out + "\"";
}

}  // namespace

std::string BatchFileLine() {
    // Full paths for the program and the source: the batch file runs from any
    // folder. The options stay as typed: they are read from the source's folder.
    std::string line = BatchQuoted(platform::ExecutablePath()) + " " + BatchQuoted(strInFile);
    if (!strIncludeRaw.empty()) line += " -i " + BatchQuoted(strIncludeRaw);
    if (!strOutRaw.empty()) line += " -out " + BatchQuoted(strOutRaw);
    return line;
}

void WriteBatchFile() {
    std::string name = BatchFileName(strInFile);
    if (platform::FileExists(name)) return;
    std::string text;
    if (!platform::BatchFileText(BatchFileLine(), text)) {
        Log->WarningUnpositioned("[008] No batch file " + name +
                                 ": its command has characters the console's code page lacks");
        return;
    }
    batFile = new TFileWriter(name);
    try {
        batFile->addFileText(text);
        // Written beside it and renamed: a failed write leaves no empty batch file.
        batFile->CommitReplacing();
    } catch (...) {
        FreeAndNil(batFile);
        throw;
    }
    FreeAndNil(batFile);
}

namespace {

// A sanitized build frees every record at the end, so that leaks show; any
// other leaves the records of a finished build to the ending process.
constexpr bool kFreeRecordsAtEnd = kSanitizedBuild;

// The run from the banner to the batch file; the usage branch returns early.
void Run(const std::vector<std::string>& args) {
    InitTavik();

    strInFile = args.empty() ? std::string() : args[0];
    strInRaw = strInFile;
    if (strInFile.empty()) {
        Log->Message("usage: tavik.exe c:/file.tav", colMessage);
        Log->Message("arguments: -out c:/file.exe -nopause -writelog -i \"includepath\"", colMessage);
        return;
    }
    if (!platform::FileExists(strInFile)) Log->FatalError("[001] Input file does not exist " + strInRaw, true);
    if (!platform::FileReadable(strInFile))
        Log->FatalError("[001] Input file cannot be read " + strInRaw + ": " + platform::LastErrorText(), true);
    strInFile = platform::FullPath(strInFile);
    platform::SetWorkingFolder(platform::ExtractFilePath(strInFile));

    ReadOptions(args);
    DeriveOutputName();
    const std::string includes = Settings->IncludePath();
    if (!includes.empty() && !platform::FolderExists(includes))
        Log->FatalUnpositioned("[004] Include folder does not exist " + includes);
    // A name ending in a separator is a folder: there is no file name to give the output.
    if (strOutFile.back() == '/' || strOutFile.back() == platform::PathSeparator)
        Log->FatalUnpositioned("[003] The output name \"" + strOutFile + "\" names a folder, not a file");

    Plugins->initPlugins(PluginFolder());
    Compiler->LoadProject(strInFile);

    startTime64 = platform::PerformanceCounter();
    Compiler->Compile();
    endTime64 = platform::PerformanceCounter();
    elapsedSeconds = SecondsBetween(startTime64, endTime64);
    const float compileSeconds = elapsedSeconds;
    Log->Message("Compile OK - " + std::to_string(Compiler->GetTotalLines()) + " lines, " +
                     std::to_string(fileCounter) + " files, " + FormatSeconds(elapsedSeconds) + " second(s)",
                 colMessage);
    Compiler->releaseSources();

    if (!Plugins->callBuilder(strOutFile)) Log->FatalUnpositioned("An unknown error occured whilst building the file");

    endTime64 = platform::PerformanceCounter();
    elapsedSeconds = SecondsBetween(startTime64, endTime64) - compileSeconds;
    Log->Message("Link OK - " + FormatSeconds(elapsedSeconds) + " second(s)", colMessage);
    elapsedSeconds = SecondsBetween(startTime64, endTime64);
    Log->Message("Build Complete - " + FormatSeconds(elapsedSeconds) + " second(s)", colMessage);

    WriteBatchFile();
}

void ReportException(const std::string& className, const std::string& message) {
    if (className == "EAbort") return;  // its message was printed already
    platform::WriteStdout(className + ": " + message + "\n");
}

}  // namespace

int TavikMain(const std::vector<std::string>& args, std::istream& input) {
    platform::ConsoleInit();
    platform::RaiseThreadPriority();
    // Asked for anywhere, even where it is no option: a script never waits.
    bPause = !NoPauseAsked(args);
    strOutFile.clear();
    strOutRaw.clear();
    strIncludeRaw.clear();
    strInFile.clear();
    strInRaw.clear();

    bool failed = false;
    try {
        frequency64 = platform::PerformanceFrequency();
        Run(args);
    } catch (const Exception& e) {
        failed = true;
        ReportException(e.ClassName(), e.Message());
    } catch (const std::bad_alloc&) {
        failed = true;
        ReportException("EOutOfMemory", "Out of memory");
    } catch (const std::exception& e) {
        failed = true;
        ReportException("Exception", e.what());
    }
    if (failed && !bPause) {
        // Ends at once, without DeinitTavik; nothing printed may be lost.
        if (Log) Log->Flush();
        platform::FlushStdout();
        return 1;
    }

    if (bPause) {
        Say("Press the [enter] key to exit.");
        DeinitTavik();
        platform::FlushStdout();
        std::string line;
        std::getline(input, line);
    } else if (kFreeRecordsAtEnd) {
        DeinitTavik();
    } else {
        // The process ends at once: the plug-ins are released and the log
        // closed, the compilation's records are not freed one by one.
        FreeAndNil(Plugins);
        FreeAndNil(Log);
    }
    platform::FlushStdout();
    // A failed build is never reported as success, pause or not.
    return failed ? 1 : 0;
}
