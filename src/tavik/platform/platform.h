#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The operating-system layer. Everything the assembler needs from the OS goes
// through these calls; one implementation per platform (POSIX, Win32), and
// the parts both share in platform_common.cpp.
namespace platform {

// Path separator of this platform; folder names end in it.
extern const char PathSeparator;

// --- console ---------------------------------------------------------------
// Prepares standard output for UTF-8 text.
void ConsoleInit();
// True when standard output is a terminal (colours and title only then).
bool StdoutIsTerminal();
// Sets the text colour (Windows attribute number: 7, 10, 12, 14, 6, ...).
void SetTextColour(uint16_t attribute);
// Puts the terminal colours back to their defaults, when they were changed.
void ResetTextColour();
void SetConsoleTitle(const std::string& title);
// Writes bytes to standard output as they are.
void WriteStdout(const std::string& text);
void FlushStdout();
// UTF-8 text in the code page cmd reads batch files in: the console's OEM
// code page on Windows, UTF-8 as it is elsewhere. False (out undefined)
// when a character has no form there.
bool BatchFileText(const std::string& utf8, std::string& out);

// --- process and timing ----------------------------------------------------
// Raises the current thread's priority; failure is ignored.
void RaiseThreadPriority();
// High-resolution counter and its ticks per second.
int64_t PerformanceCounter();
int64_t PerformanceFrequency();
// Milliseconds since some fixed point.
uint32_t TickCount();
// Ends the process at once with the exit code, after flushing standard output.
[[noreturn]] void ExitProcess(int code);
// The command-line arguments after the program name, as UTF-8 text.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// --- files -------------------------------------------------------------------
// True for an existing file that is not a folder.
bool FileExists(const std::string& path);
// True for an existing regular file (not a folder or a device).
bool IsRegularFile(const std::string& path);
// std::fopen for a UTF-8 path.
std::FILE* OpenFile(const std::string& path, const char* mode);
bool FolderExists(const std::string& path);
// True for an existing file that this process may open for reading.
bool FileReadable(const std::string& path);
// True when both paths name one existing file (links and other spellings
// of the path included).
bool SameFile(const std::string& a, const std::string& b);
// Renames from to to, replacing a file named to; false on failure.
bool RenameFile(const std::string& from, const std::string& to);
// Deletes a file; false on failure.
bool RemoveFile(const std::string& path);
// Absolute, normalised form of a path (relative to the working directory).
std::string FullPath(const std::string& path);
// Reads a whole file; false (and out untouched) when it cannot be read.
bool ReadFile(const std::string& path, std::string& out);
// Reads a whole file that must be a regular one (no device, pipe or folder,
// which could be endless or never answer) of at most limit bytes.
enum class TReadResult { Read, CannotOpen, NotRegular, TooLarge, ReadFailed };
TReadResult ReadRegularFile(const std::string& path, std::string& out, uint64_t limit);
// Creates or truncates a file and writes data to it; false on any failure.
bool WriteFile(const std::string& path, const std::string& data);
// Names (not paths) of the entries of a folder whose name ends in suffix,
// compared without regard to ASCII case, sorted by name. Missing folder: none.
std::vector<std::string> ListFolder(const std::string& folder, const std::string& suffix);
bool SetWorkingFolder(const std::string& folder);
// Text of the last OS error of a failed call.
std::string LastErrorText();

// The bytes of a whole file, read-only. A regular file may be mapped rather
// than read; then Drop gives back the memory of bytes already used, and the
// file brings them back when they are read again.
class TFileText {
public:
    enum TResult { Loaded, CannotOpen, ReadFailed };

    TFileText() = default;
    ~TFileText();
    TFileText(const TFileText&) = delete;
    TFileText& operator=(const TFileText&) = delete;

    TResult Load(const std::string& path);
    const char* Data() const { return F_Data; }
    size_t Size() const { return F_Size; }
    bool Mapped() const { return F_Map != nullptr; }
    // The memory of the whole pages inside bytes [from, to) is given back;
    // the bytes stay readable. Nothing happens to a text that was read.
    void Drop(size_t from, size_t to);

private:
    // Reads the open stream into F_Read and closes it.
    TResult ReadAll(std::FILE* in);

    const char* F_Data = nullptr;
    size_t F_Size = 0;
    void* F_Map = nullptr;
    std::string F_Read;
};

// Reads a regular file's stream from its start: all of it when its size is
// known, and on while it grows. False on a read error.
bool ReadStream(std::FILE* in, std::string& out);

// An open file for writing; closed by Close or the destructor.
class TOutFile {
public:
    TOutFile() = default;
    ~TOutFile();
    TOutFile(const TOutFile&) = delete;
    TOutFile& operator=(const TOutFile&) = delete;

    // New file or truncated existing one, open for reading and writing.
    bool Create(const std::string& path);
    // A new file only: fails when the name exists.
    bool CreateNew(const std::string& path);
    // Appends to an existing file, else creates it.
    bool OpenAppend(const std::string& path);
    bool IsOpen() const { return F_File != nullptr; }
    bool Write(const void* data, size_t size);
    bool Flush();
    bool Close();

private:
    FILE* F_File = nullptr;
};

// --- path text ---------------------------------------------------------------
// Folder part with its trailing separator ("" when there is none).
std::string ExtractFilePath(const std::string& path);
// Name part after the last separator.
std::string ExtractFileName(const std::string& path);
// Extension of the name part, dot included ("" when there is none).
std::string ExtractFileExt(const std::string& path);
// The path with one trailing separator.
std::string IncludeTrailingSeparator(const std::string& folder);

// --- executable --------------------------------------------------------------
// Full path of the running executable.
std::string ExecutablePath();
// Its folder, with the trailing separator.
std::string ExecutableFolder();
// Four-part version "a.b.c.d" of an executable; "0.0.0.0" when unknown.
std::string FileVersion(const std::string& path);

// --- dynamic libraries ---------------------------------------------------------
// Loads a library; nullptr on failure (error then holds why). A file named
// by its path must be a regular file whose headers are sound.
void* OpenLibrary(const std::string& path, std::string* error = nullptr);
// The address of a function the library exports; nullptr when there is
// none, or when the address lies outside the library's code.
void* LibrarySymbol(void* library, const char* name);
// Unloads a library (a trial load only: plug-ins stay loaded).
void CloseLibrary(void* library);

// While one lives, a crash (a bad address, an illegal instruction, a
// division fault) prints its note and ends the process with exit code 1:
// for calls into plug-in code. The innermost note is printed.
class TCrashNote {
public:
    explicit TCrashNote(const std::string& note);
    ~TCrashNote();
    TCrashNote(const TCrashNote&) = delete;
    TCrashNote& operator=(const TCrashNote&) = delete;

private:
    const char* F_Previous;
    std::string F_Note;
};

// --- trial runs ----------------------------------------------------------------
// How body ran in a child process: its answer 0, another answer, a crash
// (a signal, a sanitizer's stop, or more than a minute), or no child at all
// (the platform has none, or none could be made).
enum class TChildResult { Succeeded, Failed, Crashed, NoChild };
// Runs body(arg) in a copy of this process whose output goes nowhere; the
// copy ends after it, without running this process's exit handlers.
TChildResult RunInChild(int (*body)(void*), void* arg);

}  // namespace platform
