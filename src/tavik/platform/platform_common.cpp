// The parts of the platform layer that both sides share: they build on the
// side's own OpenFile, ExecutablePath, FullPath and PathSeparators.
#include <cstdio>
#include <string>
#include <string_view>

#include "ascii.h"
#include "platform/platform_common.h"
#include "platform/platform.h"

namespace platform {

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
    return suffix.size() <= s.size() &&
           ascii::equalNoCase(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

// --- path text ---------------------------------------------------------------

namespace {
bool IsSeparator(char c) { return std::string_view(PathSeparators).find(c) != std::string_view::npos; }
}  // namespace

size_t LastSeparator(const std::string& path) { return path.find_last_of(PathSeparators); }

std::string ExtractFilePath(const std::string& path) {
    size_t p = LastSeparator(path);
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path) {
    size_t p = LastSeparator(path);
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileExt(const std::string& path) {
    std::string name = ExtractFileName(path);
    size_t p = name.find_last_of('.');
    return p == std::string::npos ? std::string() : name.substr(p);
}

std::string IncludeTrailingSeparator(const std::string& folder) {
    if (!folder.empty() && IsSeparator(folder.back())) return folder;
    return folder + PathSeparator;
}

std::string ExecutableFolder() {
    std::string exe = ExecutablePath();
    return exe.empty() ? IncludeTrailingSeparator(FullPath(".")) : ExtractFilePath(exe);
}

// --- files -------------------------------------------------------------------

TOutFile::~TOutFile() { Close(); }

bool TOutFile::Create(const std::string& path) {
    Close();
    F_File = OpenFile(path, "w+b");
    return F_File != nullptr;
}

bool TOutFile::OpenAppend(const std::string& path) {
    Close();
    F_File = OpenFile(path, "ab");
    return F_File != nullptr;
}

bool TOutFile::Write(const void* data, size_t size) {
    if (!F_File) return false;
    return size == 0 || std::fwrite(data, 1, size, F_File) == size;
}

bool TOutFile::Flush() { return F_File && std::fflush(F_File) == 0; }

bool TOutFile::Close() {
    if (!F_File) return true;
    bool ok = std::fclose(F_File) == 0;
    F_File = nullptr;
    return ok;
}

bool ReadStream(std::FILE* in, std::string& out) {
    std::string data;
    long size = -1;
    if (std::fseek(in, 0, SEEK_END) == 0) size = std::ftell(in);
    if (std::fseek(in, 0, SEEK_SET) != 0) size = -1;
    if (size > 0) {
        data.resize(static_cast<size_t>(size));
        data.resize(std::fread(data.data(), 1, data.size(), in));
    }
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) data.append(chunk, n);
    if (std::ferror(in)) return false;
    out.swap(data);
    return true;
}

TFileText::TResult TFileText::ReadAll(std::FILE* in) {
    const bool ok = ReadStream(in, F_Read);
    std::fclose(in);
    if (!ok) return ReadFailed;
    F_Data = F_Read.data();
    F_Size = F_Read.size();
    return Loaded;
}

bool ReadFile(const std::string& path, std::string& out) {
    FILE* f = OpenFile(path, "rb");
    if (!f) return false;
    std::string data;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (ok) out.swap(data);
    return ok;
}

bool WriteFile(const std::string& path, const std::string& data) {
    TOutFile f;
    return f.Create(path) && f.Write(data.data(), data.size()) && f.Close();
}

}  // namespace platform
