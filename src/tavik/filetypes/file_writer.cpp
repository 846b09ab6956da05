#include "filetypes/file_writer.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "exceptions.h"

TFileWriter::TFileWriter(const std::string& output) : file_out(output) {}

TFileWriter::~TFileWriter() = default;

// Bytes handed in from inside the buffer itself (a plug-in holds its address
// from file_getbuf) must lie inside the image written so far.
void TFileWriter::checkInside(const void* x, uint32_t bytes) const {
    const auto p = reinterpret_cast<uintptr_t>(x), base = reinterpret_cast<uintptr_t>(file_data.data());
    if (p < base || p > base + file_data.capacity()) return;
    if (bytes > base + file_data.size() - p || p > base + file_data.size())
        throw ERangeError("Output buffer: " + std::to_string(bytes) + " bytes from position " +
                          std::to_string(p - base + 1) + " of the buffer run past its " + std::to_string(Len()) +
                          " bytes");
}

uint32_t TFileWriter::Append(const void* x, uint32_t bytes) {
    uint32_t pos = Len() + 1;
    if (bytes == 0) return pos;
    if (!x) throw ERangeError("Output buffer: no data for " + std::to_string(bytes) + " bytes");
    if (bytes > std::numeric_limits<uint32_t>::max() - Len())
        throw ERangeError("Output buffer: image larger than 4 GiB");
    checkInside(x, bytes);
    // append copies bytes of the string itself before it grows
    file_data.append(static_cast<const char*>(x), bytes);
    return pos;
}

uint32_t TFileWriter::Replace(uint32_t pos, const void* x, uint32_t bytes) {
    // pos .. pos + bytes - 1 must lie inside 1 .. Len.
    if (bytes == 0) return pos;
    if (pos == 0 || !x || uint64_t(pos) - 1 + bytes > Len())
        throw ERangeError("Output buffer: replace of " + std::to_string(bytes) + " bytes at position " +
                          std::to_string(pos) + " outside a buffer of " + std::to_string(Len()) + " bytes");
    checkInside(x, bytes);
    // The bytes may come from the buffer itself and overlap the place.
    std::memmove(&file_data[pos - 1], x, bytes);
    return pos;
}

void TFileWriter::Commit() {
    if (!file_stream.IsOpen() && !file_stream.Create(file_out))
        throw EFCreateError("Cannot create file \"" + file_out + "\". " + platform::LastErrorText());
    if (!file_stream.Write(file_data.data(), file_data.size()) || !file_stream.Flush())
        throw EWriteError("Stream write error \"" + file_out + "\". " + platform::LastErrorText());
}

std::string TFileWriter::tempName(const std::string& output) {
    constexpr size_t kMaxName = 255;  // bytes of one name in a folder
    const std::string folder = platform::ExtractFilePath(output), name = platform::ExtractFileName(output);
    static const char kTail[] = ".tavik-tmp";  // not a name a user would give a file of theirs
    if (name.size() + std::strlen(kTail) <= kMaxName) return output + kTail;
    // A long name is cut; a hash of the whole name keeps names that start
    // alike apart.
    uint32_t h = 2166136261u;
    for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    char tail[32];
    std::snprintf(tail, sizeof tail, "~%08x%s", static_cast<unsigned>(h), kTail);
    size_t keep = kMaxName - std::strlen(tail);
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;  // whole UTF-8 characters
    return folder + name.substr(0, keep) + tail;
}

void TFileWriter::CommitReplacing() {
    // One fixed name per output: what a build stopped while writing left
    // there is removed, so no partial files pile up.
    const std::string tmpName = tempName(file_out);
    platform::RemoveFile(tmpName);
    platform::TOutFile tmp;
    if (!tmp.CreateNew(tmpName))
        throw EFCreateError("Cannot create file \"" + file_out + "\". " + platform::LastErrorText());
    if (!tmp.Write(file_data.data(), file_data.size()) || !tmp.Close()) {
        const std::string why = platform::LastErrorText();
        tmp.Close();
        platform::RemoveFile(tmpName);
        throw EWriteError("Stream write error \"" + file_out + "\". " + why);
    }
    if (!platform::RenameFile(tmpName, file_out)) {
        const std::string why = platform::LastErrorText();
        platform::RemoveFile(tmpName);
        throw EFCreateError("Cannot create file \"" + file_out + "\". " + why);
    }
}

bool TFileWriter::alignFileToSize(uint32_t si) {
    if (Len() > si) return false;
    file_data.append(si - Len(), '\0');
    return true;
}

uint32_t TFileWriter::addFileText(const std::string& s) {
    if (s.size() > std::numeric_limits<uint32_t>::max()) throw ERangeError("Output buffer: image larger than 4 GiB");
    return Append(s.data(), static_cast<uint32_t>(s.size()));
}

uint32_t TFileWriter::addFileBytes(const void* X, uint32_t Bytes) { return Append(X, Bytes); }
uint32_t TFileWriter::addFileData(const void* x, uint32_t Bytes) { return Append(x, Bytes); }
uint32_t TFileWriter::addFileBytes(const uint8_t* X, uint32_t Bytes) { return Append(X, Bytes); }
uint32_t TFileWriter::addFileBytes(const std::string& s) { return addFileText(s); }

uint32_t TFileWriter::replaceFileBytes(uint32_t pos, const uint8_t* x, uint32_t bytes) {
    return Replace(pos, x, bytes);
}

uint32_t TFileWriter::replaceFileData(uint32_t pos, const void* x, uint32_t bytes) { return Replace(pos, x, bytes); }
