#if defined(_WIN32)
#  include <windows.h>
#  include <shellapi.h>
// platform::SetConsoleTitle is ours, not the A/W macro.
#  undef SetConsoleTitle

#  include <fcntl.h>
#  include <io.h>
#  include <sys/stat.h>

#  include <algorithm>
#  include <cerrno>
#  include <cstdlib>
#  include <cstring>

#  include "platform/platform.h"
#  include "platform/platform_common.h"

namespace platform {

const char PathSeparator = '\\';
// Either slash separates folders.
const char PathSeparators[] = "\\/";

namespace {

HANDLE g_Stdout = INVALID_HANDLE_VALUE;
bool g_IsConsole = false;
WORD g_StartAttribute = 7;
bool g_ColourChanged = false;

// Text in the program is UTF-8; the system takes UTF-16.
std::wstring Wide(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
    return w;
}

std::string Narrow(const wchar_t* w, size_t len) {
    if (len == 0) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w, int(len), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w, int(len), &s[0], n, nullptr, nullptr);
    return s;
}

std::string Narrow(const std::wstring& w) { return Narrow(w.data(), w.size()); }

DWORD Attributes(const std::string& path) {
    if (path.empty()) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(Wide(path).c_str());
}

// LastErrorText reads errno: the system's failure in its terms.
void SetErrnoFromLastError() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: errno = EACCES; break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
    }
}

}  // namespace

// --- console ---------------------------------------------------------------

// The console's own code page, given back when the program ends.
static UINT g_StartOutputCP = 0;

static void RestoreOutputCP() {
    if (g_StartOutputCP) SetConsoleOutputCP(g_StartOutputCP);
}

void ConsoleInit() {
    if (!g_StartOutputCP) {
        g_StartOutputCP = GetConsoleOutputCP();
        std::atexit(RestoreOutputCP);
    }
    SetConsoleOutputCP(CP_UTF8);
    g_Stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    g_IsConsole = g_Stdout != INVALID_HANDLE_VALUE && g_Stdout != nullptr && GetConsoleMode(g_Stdout, &mode);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (g_IsConsole && GetConsoleScreenBufferInfo(g_Stdout, &info)) g_StartAttribute = info.wAttributes;
    // Redirected output gets the bytes as they are, "\n" not widened.
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StdoutIsTerminal() { return g_IsConsole; }

void SetTextColour(uint16_t attribute) {
    if (!g_IsConsole) return;
    std::fflush(stdout);
    SetConsoleTextAttribute(g_Stdout, attribute);
    g_ColourChanged = attribute != g_StartAttribute;
}

void ResetTextColour() {
    if (!g_ColourChanged || !g_IsConsole) return;
    SetConsoleTextAttribute(g_Stdout, g_StartAttribute);
    g_ColourChanged = false;
}

void SetConsoleTitle(const std::string& title) { SetConsoleTitleW(Wide(title).c_str()); }

void WriteStdout(const std::string& text) {
    if (!g_IsConsole) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return;
    }
    // The console takes UTF-16 through its own call, whatever its code page.
    std::fflush(stdout);
    std::wstring w = Wide(text);
    const wchar_t* p = w.data();
    size_t left = w.size();
    while (left > 0) {
        DWORD chunk = DWORD(std::min<size_t>(left, 8192)), written = 0;
        if (!WriteConsoleW(g_Stdout, p, chunk, &written, nullptr) || written == 0) break;
        p += written;
        left -= written;
    }
}

void FlushStdout() { std::fflush(stdout); }

bool BatchFileText(const std::string& utf8, std::string& out) {
    out.clear();
    const std::wstring w = Wide(utf8);
    if (w.empty()) return utf8.empty();
    const UINT cp = GetOEMCP();
    // The UTF code pages take no flags and no default character; they have
    // a form for everything.
    const bool utf = cp == CP_UTF8 || cp == CP_UTF7;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lost = FALSE;
    BOOL* lostp = utf ? nullptr : &lost;
    const int n = WideCharToMultiByte(cp, flags, w.data(), int(w.size()), nullptr, 0, nullptr, lostp);
    if (n <= 0 || lost) return false;
    out.assign(size_t(n), '\0');
    WideCharToMultiByte(cp, flags, w.data(), int(w.size()), &out[0], n, nullptr, lostp);
    return !lost;
}

// --- process and timing ----------------------------------------------------

void RaiseThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

int64_t PerformanceCounter() {
    LARGE_INTEGER v;
    return QueryPerformanceCounter(&v) ? int64_t(v.QuadPart) : 0;
}

int64_t PerformanceFrequency() {
    LARGE_INTEGER v;
    return QueryPerformanceFrequency(&v) ? int64_t(v.QuadPart) : 0;
}

uint32_t TickCount() { return GetTickCount(); }

void ExitProcess(int code) {
    ResetTextColour();
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(code);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    // argv holds the ANSI code page's text; the UTF-16 command line has it all.
    int n = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::string> args;
    if (!wargv) {
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
        return args;
    }
    for (int i = 1; i < n; ++i) args.push_back(Narrow(wargv[i], wcslen(wargv[i])));
    LocalFree(wargv);
    return args;
}

// --- files -------------------------------------------------------------------

bool FileExists(const std::string& path) {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

TReadResult ReadRegularFile(const std::string& path, std::string& out, uint64_t limit) {
    if (Attributes(path) & FILE_ATTRIBUTE_DIRECTORY) return TReadResult::NotRegular;
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return TReadResult::CannotOpen;
    }
    TReadResult r = TReadResult::Read;
    LARGE_INTEGER size{};
    // A device ("nul", "con") or a pipe is no file on disk.
    if (GetFileType(h) != FILE_TYPE_DISK) r = TReadResult::NotRegular;
    else if (!GetFileSizeEx(h, &size)) r = TReadResult::ReadFailed;
    else if (static_cast<uint64_t>(size.QuadPart) > limit) r = TReadResult::TooLarge;
    std::string data;
    if (r == TReadResult::Read) {
        data.reserve(static_cast<size_t>(size.QuadPart));
        char buf[65536];
        for (DWORD n = 0; r == TReadResult::Read;) {
            if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) r = TReadResult::ReadFailed;
            else if (n == 0) break;
            else if (data.size() + n > limit) r = TReadResult::TooLarge;
            else data.append(buf, n);
        }
    }
    CloseHandle(h);
    if (r == TReadResult::Read) out.swap(data);
    return r;
}

bool IsRegularFile(const std::string& path) {
    if (!FileExists(path)) return false;
    // Device names ("nul", "con") have attributes too; a source is on disk.
    HANDLE h = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return true;  // the open that follows reports it
    bool disk = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    return disk;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

TFileText::~TFileText() = default;

TFileText::TResult TFileText::Load(const std::string& path) {
    std::FILE* in = OpenFile(path, "rb");
    return in ? ReadAll(in) : CannotOpen;
}

void TFileText::Drop(size_t, size_t) {}

bool FileReadable(const std::string& path) {
    if (!FileExists(path)) return false;
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        if (path.empty()) return false;
        HANDLE h = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return identity(a, ia) && identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    SetErrnoFromLastError();
    return false;
}

bool RemoveFile(const std::string& path) { return !path.empty() && _wremove(Wide(path).c_str()) == 0; }

bool FolderExists(const std::string& path) {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FullPath(const std::string& path) {
    std::wstring w = Wide(path);
    DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (path.empty() || n == 0) return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(w.c_str(), n, &full[0], nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    return Narrow(full);
}

std::vector<std::string> ListFolder(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    std::string pattern = (folder.empty() ? std::string() : IncludeTrailingSeparator(folder)) + "*" + suffix;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Wide(pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = Narrow(fd.cFileName, wcslen(fd.cFileName));
        if (name == "." || name == "..") continue;
        // The pattern also matches short 8.3 names; the long name decides.
        if (EndsWithNoCase(name, suffix)) names.push_back(name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

bool SetWorkingFolder(const std::string& folder) {
    return !folder.empty() && SetCurrentDirectoryW(Wide(folder).c_str());
}

// The file calls go through the C runtime, which keeps errno.
std::string LastErrorText() { return std::strerror(errno); }

bool TOutFile::CreateNew(const std::string& path) {
    Close();
    int fd = _wopen(Wide(path).c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return false;
    F_File = _fdopen(fd, "w+b");
    if (!F_File) _close(fd);
    return F_File != nullptr;
}

// --- executable --------------------------------------------------------------

std::string ExecutablePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &buf[0], DWORD(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) {
            buf.resize(n);
            return Narrow(buf);
        }
        if (buf.size() >= 32768) return std::string();
        buf.resize(buf.size() * 2);
    }
}

std::string FileVersion(const std::string& path) {
    std::wstring w = Wide(path);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(w.c_str(), &ignored);
    if (size == 0) return "0.0.0.0";
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(w.c_str(), 0, size, &data[0])) return "0.0.0.0";
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD)
        return "0.0.0.0";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

// --- dynamic libraries ---------------------------------------------------------

void* OpenLibrary(const std::string& path, std::string* error) {
    if (LastSeparator(path) != std::string::npos) {
        std::string image;
        const TReadResult r = ReadRegularFile(path, image, kMaxLibraryFile);
        if (r != TReadResult::Read) {
            if (error)
                *error = r == TReadResult::NotRegular ? "not a regular file"
                         : r == TReadResult::TooLarge ? "larger than a library may be"
                                                      : "cannot be read";
            return nullptr;
        }
    }
    // No dialog box for a file that is no library: the caller reports it.
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE h = LoadLibraryW(Wide(path).c_str());
    DWORD err = GetLastError();
    SetThreadErrorMode(oldMode, nullptr);
    if (!h && error) {
        wchar_t* msg = nullptr;
        DWORD n =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, err, 0, reinterpret_cast<LPWSTR>(&msg), 0, nullptr);
        std::string text = n && msg ? Narrow(msg, n) : "error " + std::to_string(err);
        if (msg) LocalFree(msg);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        *error = text;
    }
    return reinterpret_cast<void*>(h);
}

void CloseLibrary(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

namespace {
const char* g_CrashNote = nullptr;

LONG WINAPI crashed(EXCEPTION_POINTERS*) {
    if (!g_CrashNote) return EXCEPTION_CONTINUE_SEARCH;
    WriteStdout(g_CrashNote);
    FlushStdout();
    TerminateProcess(GetCurrentProcess(), 1);
    return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

TCrashNote::TCrashNote(const std::string& note) : F_Previous(g_CrashNote), F_Note(note + "\n") {
    static bool installed = false;
    if (!installed) {
        installed = true;
        SetUnhandledExceptionFilter(crashed);
    }
    g_CrashNote = F_Note.c_str();
}

TCrashNote::~TCrashNote() { g_CrashNote = F_Previous; }

// No fork here: the trial is left out and the library loaded directly.
TChildResult RunInChild(int (*)(void*), void*) { return TChildResult::NoChild; }

void* LibrarySymbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace platform
#endif
