#pragma once
#include <string>

// Paths and switches of one run, taken from the command line and the project.
class TSettings {
public:
    TSettings();

    const std::string& CompilerPath() const { return F_CompilerPath; }
    void SetCompilerPath(const std::string& v) { F_CompilerPath = v; }
    const std::string& ProjectPath() const { return F_ProjectPath; }
    void SetProjectPath(const std::string& v) { F_ProjectPath = v; }
    const std::string& IncludePath() const { return F_IncludePath; }
    void SetIncludePath(const std::string& v) { F_IncludePath = v; }
    bool WriteLog() const { return F_WriteLog; }
    // Switching it on opens the log file; switching it off closes nothing.
    void SetWriteLog(bool value);

private:
    std::string F_CompilerPath;  // folder of the executable, trailing separator
    std::string F_ProjectPath;   // folder of the project file, trailing separator
    std::string F_IncludePath;   // folder of -i, trailing separator; empty by default
    bool F_WriteLog = false;
};
