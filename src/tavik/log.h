#pragma once
#include <cstdint>
#include <string>

#include "platform/platform.h"

class TAFile;

// What the log reads of a source file: its name, its bytes and the cursor.
struct TLogSource {
    std::string fileName;
    const char* data = nullptr;
    size_t size = 0;
    uint32_t line = 0;  // 1-based
    uint32_t column = 0;
    uint32_t charPos = 0;  // 1-based byte position
};

// The narrow view of the compiler the log needs; installed by the compiler
// (and by tests). Unset hooks mean "no source open"; currentFile must answer
// nullptr also while the compiler does not exist (before InitTavik, after
// DeinitTavik freed it).
struct TLogHooks {
    const TAFile* (*currentFile)() = nullptr;
    bool (*describe)(const TAFile* file, TLogSource& out) = nullptr;
    std::string (*currentTokenText)() = nullptr;
};
extern TLogHooks LogHooks;

// Console colours (Windows attribute numbers).
enum : uint16_t {
    colMessage = 7,
    colPlugin = 10,
    colPluginMessage = 6,
    colBanner = 14,
    colWarning = 14,
    colError = 12,
};

class TLog {
public:
    TLog();
    ~TLog();

    void MakeLogFile();
    void WriteFile(const std::string& str);
    void Message(const std::string& str, uint16_t col = colMessage);
    void Debug(const std::string& str, uint16_t col = colMessage);
    void Warning(const std::string& strError);
    // A warning that belongs to no place in the source: the text alone.
    void WarningUnpositioned(const std::string& strError);
    void Error(const std::string& strError);
    [[noreturn]] void FatalError(const std::string& strError, bool showCode = true, uint32_t cC = 0, uint32_t cL = 0,
                                 uint32_t cLc = 0, const TAFile* fn = nullptr);
    // A fatal error that belongs to no place in the source: the text alone.
    [[noreturn]] void FatalUnpositioned(const std::string& strError);
    [[noreturn]] void FatalUnexpectedToken(const std::string& errCode);
    [[noreturn]] void FatalReservedToken(const std::string& errCode);
    [[noreturn]] void FatalRedeclared();

    uint32_t ErrorCount() const { return F_ErrorCount; }
    uint32_t WarningCount() const { return F_WarningCount; }
    bool LogFileOpen() const { return F_LogFile.IsOpen(); }
    // Pushes the log file and standard output out (before an immediate exit).
    void Flush();

    // The excerpt of the line holding byte position charPos (1-based) of data:
    // the bytes between the line breaks around it, trimmed of blanks and controls.
    static std::string LineExcerpt(const char* data, size_t size, uint32_t charPos);

private:
    void LogFileFailed(const std::string& what);

    platform::TOutFile F_LogFile;
    bool F_LogFailed = false;  // reported once, then logging stays off
    uint32_t F_ErrorCount = 0;
    uint32_t F_WarningCount = 0;
};
