#if !defined(_WIN32)
#  include <dirent.h>
#  include <dlfcn.h>
#  include <link.h>
#  include <fcntl.h>
#  include <signal.h>
#  include <sys/mman.h>
#  include <sys/resource.h>
#  include <sys/stat.h>
#  include <sys/syscall.h>
#  include <sys/wait.h>
#  include <time.h>
#  include <unistd.h>

#  include <algorithm>
#  include <cerrno>
#  include <chrono>
#  include <cstdlib>
#  include <cstring>
#  include <filesystem>
#  include <system_error>

#  include "classes/record_arena.h"
#  include "platform/elf_check.h"
#  include "platform/platform.h"
#  include "platform/platform_common.h"

#  ifndef TAVIK_VERSION_TEXT
#    define TAVIK_VERSION_TEXT ""
#  endif

namespace platform {

const char PathSeparator = '/';
const char PathSeparators[] = "/";

namespace {

bool g_ColourChanged = false;

int AnsiColourIndex(unsigned rgb) {
    // Windows: 1 blue, 2 green, 4 red; ANSI: 1 red, 2 green, 4 blue.
    return ((rgb & 1) ? 4 : 0) | (rgb & 2) | ((rgb & 4) ? 1 : 0);
}

// Four dot-separated numbers from the build's version text, or "0.0.0.0".
std::string NormaliseVersion(const std::string& text) {
    unsigned part[4] = {0, 0, 0, 0};
    size_t i = 0, n = 0;
    if (text.empty()) return "0.0.0.0";
    while (n < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return "0.0.0.0";
        unsigned long v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v = v * 10 + unsigned(text[i] - '0');
            if (v > 65535) return "0.0.0.0";
            ++i;
        }
        part[n++] = unsigned(v);
        if (i == text.size()) break;
        if (text[i] != '.') return "0.0.0.0";
        ++i;
    }
    if (i < text.size()) return "0.0.0.0";
    return std::to_string(part[0]) + "." + std::to_string(part[1]) + "." + std::to_string(part[2]) + "." +
           std::to_string(part[3]);
}

}  // namespace

// --- console ---------------------------------------------------------------

void ConsoleInit() {
    // The terminal takes UTF-8 bytes as they are; nothing to switch.
}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void SetTextColour(uint16_t attribute) {
    if (!StdoutIsTerminal()) return;
    unsigned fg = attribute & 0x0F, bg = (attribute >> 4) & 0x0F;
    std::string seq = "\x1b[0";
    if (attribute != 7) {
        seq += ";" + std::to_string(((fg & 8) ? 90 : 30) + AnsiColourIndex(fg & 7));
        if (bg != 0) seq += ";" + std::to_string(((bg & 8) ? 100 : 40) + AnsiColourIndex(bg & 7));
    }
    seq += "m";
    std::fwrite(seq.data(), 1, seq.size(), stdout);
    g_ColourChanged = attribute != 7;
}

void ResetTextColour() {
    if (!g_ColourChanged || !StdoutIsTerminal()) return;
    std::fputs("\x1b[0m", stdout);
    g_ColourChanged = false;
}

void SetConsoleTitle(const std::string& title) {
    if (!StdoutIsTerminal()) return;
    std::string seq = "\x1b]0;";
    for (char c : title)
        if (static_cast<unsigned char>(c) >= 32 && c != 0x7F) seq += c;
    seq += "\x07";
    std::fwrite(seq.data(), 1, seq.size(), stdout);
    std::fflush(stdout);
}

void WriteStdout(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void FlushStdout() { std::fflush(stdout); }

bool BatchFileText(const std::string& utf8, std::string& out) {
    out = utf8;
    return true;
}

// --- process and timing ----------------------------------------------------

void RaiseThreadPriority() {
    // Best effort: an unprivileged process may not raise its priority.
    pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -20);
}

int64_t PerformanceCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t PerformanceFrequency() { return 1000000000; }

uint32_t TickCount() {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void ExitProcess(int code) {
    ResetTextColour();
    std::fflush(stdout);
    std::fflush(stderr);
    // The finalisers of the plug-ins run now; a damaged one may crash. A
    // sanitized build reports that crash itself.
    // The note lives on past the exit handlers: the finalisers come last.
    if (!kSanitizedBuild) (void)new TCrashNote("PlugSys: a plug-in crashed as the run ended");
    std::exit(code);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

// --- files -------------------------------------------------------------------

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// A mapped source cut short by another program while it is read: the
// process ends with a message instead of the bus error.
void sourceChanged(int) {
    static const char text[] = "Read error: a source file changed while it was read\n";
    const ssize_t n = write(STDOUT_FILENO, text, sizeof text - 1);
    (void)n;
    _exit(1);
}

// Small files are read: their pages are few, and mapping costs more.
constexpr size_t kMapFrom = 256 * 1024;

}  // namespace

TFileText::~TFileText() {
    if (F_Map) munmap(F_Map, F_Size);
}

TFileText::TResult TFileText::Load(const std::string& path) {
    // A source is a regular file; a pipe is not waited for.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return CannotOpen;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return CannotOpen;
    }
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) >= kMapFrom &&
        static_cast<uint64_t>(st.st_size) <= SIZE_MAX) {
        void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
            static bool handler = false;
            if (!handler) {
                struct sigaction sa {};
                sa.sa_handler = sourceChanged;
                sigemptyset(&sa.sa_mask);
                sigaction(SIGBUS, &sa, nullptr);
                handler = true;
            }
            madvise(p, static_cast<size_t>(st.st_size), MADV_SEQUENTIAL);
            close(fd);
            F_Map = p;
            F_Data = static_cast<const char*>(p);
            F_Size = static_cast<size_t>(st.st_size);
            return Loaded;
        }
    }
    std::FILE* in = fdopen(fd, "rb");
    if (!in) {
        close(fd);
        return CannotOpen;
    }
    return ReadAll(in);
}

void TFileText::Drop(size_t from, size_t to) {
    if (!F_Map || to > F_Size) return;
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto base = reinterpret_cast<uintptr_t>(F_Map);
    const uintptr_t a = (base + from + page - 1) & ~(page - 1), b = (base + to) & ~(page - 1);
    if (a < b) madvise(reinterpret_cast<void*>(a), b - a, MADV_DONTNEED);
}

TReadResult ReadRegularFile(const std::string& path, std::string& out, uint64_t limit) {
    // Not blocking: a pipe without a writer would wait in open.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return TReadResult::CannotOpen;
    struct stat st;
    TReadResult r = TReadResult::Read;
    if (fstat(fd, &st) != 0) r = TReadResult::CannotOpen;
    else if (!S_ISREG(st.st_mode)) r = TReadResult::NotRegular;
    else if (static_cast<uint64_t>(st.st_size) > limit) r = TReadResult::TooLarge;
    std::string data;
    if (r == TReadResult::Read) {
        data.reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        // One byte more than the limit tells a file that grew past it.
        while (r == TReadResult::Read) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n == 0) break;
            if (n < 0) {
                if (errno != EINTR) r = TReadResult::ReadFailed;
                continue;
            }
            if (data.size() + static_cast<size_t>(n) > limit) r = TReadResult::TooLarge;
            else data.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    if (r == TReadResult::Read) out.swap(data);
    return r;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool FileReadable(const std::string& path) { return FileExists(path) && access(path.c_str(), R_OK) == 0; }

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (a.empty() || b.empty() || stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return !from.empty() && !to.empty() && std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return !path.empty() && std::remove(path.c_str()) == 0; }

std::string FullPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
    if (ec) return path;
    return p.lexically_normal().string();
}

std::vector<std::string> ListFolder(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (EndsWithNoCase(name, suffix)) names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool SetWorkingFolder(const std::string& folder) { return !folder.empty() && chdir(folder.c_str()) == 0; }

std::string LastErrorText() { return std::strerror(errno); }

bool TOutFile::CreateNew(const std::string& path) {
    Close();
    F_File = std::fopen(path.c_str(), "w+bx");
    return F_File != nullptr;
}

// --- executable --------------------------------------------------------------

std::string ExecutablePath() {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string FileVersion(const std::string& path) {
    // Only the running program's own version is known (set by the build).
    std::error_code ec;
    std::string exe = ExecutablePath();
    if (exe.empty() || !std::filesystem::equivalent(path, exe, ec) || ec) return "0.0.0.0";
    return NormaliseVersion(TAVIK_VERSION_TEXT);
}

// --- dynamic libraries ---------------------------------------------------------

namespace {

// Not 1: a sanitizer ends a crashed process with 1.
constexpr int kChildFailed = 3;

// True when address lies in an executable segment of the loaded library.
bool InCode(void* library, const void* address) {
    link_map* map = nullptr;
    if (!library || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map) return false;
    struct Find {
        const link_map* map;
        uintptr_t at;
        bool found;
    } find{map, reinterpret_cast<uintptr_t>(address), false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* f = static_cast<Find*>(data);
            if (info->dlpi_addr != f->map->l_addr || !info->dlpi_name || !f->map->l_name ||
                std::strcmp(info->dlpi_name, f->map->l_name) != 0)
                return 0;
            for (unsigned i = 0; i < info->dlpi_phnum; ++i) {
                const auto& ph = info->dlpi_phdr[i];
                const uintptr_t from = info->dlpi_addr + ph.p_vaddr;
                if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X) && f->at >= from && f->at - from < ph.p_memsz)
                    f->found = true;
            }
            return 1;
        },
        &find);
    return find.found;
}

}  // namespace

namespace {

const char* g_CrashNote = nullptr;
struct sigaction g_OldCrashAction[3];
const int kCrashSignals[3] = {SIGSEGV, SIGILL, SIGFPE};

void crashed(int sig) {
    if (const char* note = g_CrashNote) {
        const ssize_t n = write(STDOUT_FILENO, note, std::strlen(note));
        (void)n;
        _exit(1);
    }
    // Outside a note the crash is the one it would have been: the fault
    // comes again under the former handler.
    for (int i = 0; i < 3; ++i)
        if (kCrashSignals[i] == sig) sigaction(sig, &g_OldCrashAction[i], nullptr);
}

}  // namespace

TCrashNote::TCrashNote(const std::string& note) : F_Previous(g_CrashNote), F_Note(note + "\n") {
    static bool installed = false;
    if (!installed) {
        installed = true;
        // Its own stack: a plug-in may have overrun its own.
        static char stack[64 * 1024];
        stack_t ss{};
        ss.ss_sp = stack;
        ss.ss_size = sizeof stack;
        sigaltstack(&ss, nullptr);
        struct sigaction sa {};
        sa.sa_handler = crashed;
        sa.sa_flags = SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < 3; ++i) sigaction(kCrashSignals[i], &sa, &g_OldCrashAction[i]);
    }
    g_CrashNote = F_Note.c_str();
}

TCrashNote::~TCrashNote() { g_CrashNote = F_Previous; }

TChildResult RunInChild(int (*body)(void*), void* arg) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return TChildResult::NoChild;
    if (child == 0) {
        // Nothing of the child reaches the console.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        _exit(body(arg) == 0 ? 0 : kChildFailed);
    }
    // A minute is far more than a trial may take.
    constexpr int64_t kLimitNs = int64_t(60) * 1000000000;
    const int64_t start = PerformanceCounter();
    int status = 0;
    for (long pause = 50000;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return TChildResult::Crashed;
        if (PerformanceCounter() - start > kLimitNs) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
            return TChildResult::Crashed;
        }
        const timespec ts{0, pause};
        nanosleep(&ts, nullptr);
        if (pause < 10000000) pause *= 2;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return TChildResult::Succeeded;
    // Anything else, a signal or a sanitizer's exit code 1 included, is a crash.
    return WIFEXITED(status) && WEXITSTATUS(status) == kChildFailed ? TChildResult::Failed : TChildResult::Crashed;
}

void CloseLibrary(void* library) {
    if (library) dlclose(library);
}

void* OpenLibrary(const std::string& path, std::string* error) {
    auto fail = [&](const char* why) -> void* {
        if (error) *error = why;
        return nullptr;
    };
    // The loader faults on a damaged file rather than failing: look first at
    // a file named by its path (a bare name is the loader's own search).
    if (path.find('/') != std::string::npos) {
        std::string image;
        switch (ReadRegularFile(path, image, kMaxLibraryFile)) {
        case TReadResult::Read: break;
        case TReadResult::NotRegular: return fail("not a regular file");
        case TReadResult::TooLarge: return fail("larger than a library may be");
        default: return fail("cannot be read");
        }
        if (!IsLoadableElf(reinterpret_cast<const uint8_t*>(image.data()), image.size()))
            return fail("not a loadable ELF shared object");
    }
    dlerror();
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h && error) {
        const char* e = dlerror();
        *error = e ? e : "unknown error";
    }
    return h;
}

void* LibrarySymbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    // An entry whose symbol was damaged would lead anywhere.
    void* at = dlsym(library, name);
    return at && InCode(library, at) ? at : nullptr;
}

}  // namespace platform
#endif
