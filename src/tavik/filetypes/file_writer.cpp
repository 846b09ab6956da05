#include "filetypes/file_writer.h"

#include <cstring>
#include <limits>

#include "exceptions.h"

TFileWriter::TFileWriter(const std::string& output) : file_out(output) {}

TFileWriter::~TFileWriter() = default;

uint32_t TFileWriter::Append(const void* x, uint32_t bytes) {
    uint32_t pos = Len() + 1;
    if (bytes == 0) return pos;
    if (!x) throw ERangeError("Output buffer: no data for " + std::to_string(bytes) + " bytes");
    if (bytes > std::numeric_limits<uint32_t>::max() - Len())
        throw ERangeError("Output buffer: image larger than 4 GiB");
    file_data.append(static_cast<const char*>(x), bytes);
    return pos;
}

uint32_t TFileWriter::Replace(uint32_t pos, const void* x, uint32_t bytes) {
    // pos .. pos + bytes - 1 must lie inside 1 .. Len.
    if (bytes == 0) return pos;
    if (pos == 0 || !x || uint64_t(pos) - 1 + bytes > Len())
        throw ERangeError("Output buffer: replace of " + std::to_string(bytes) + " bytes at position " +
                          std::to_string(pos) + " outside a buffer of " + std::to_string(Len()) + " bytes");
    std::memcpy(&file_data[pos - 1], x, bytes);
    return pos;
}

void TFileWriter::Commit() {
    if (!file_stream.IsOpen() && !file_stream.Create(file_out))
        throw EFCreateError("Cannot create file \"" + file_out + "\". " + platform::LastErrorText());
    if (!file_stream.Write(file_data.data(), file_data.size()) || !file_stream.Flush())
        throw EWriteError("Stream write error \"" + file_out + "\". " + platform::LastErrorText());
}

void TFileWriter::CommitReplacing() {
    platform::TOutFile tmp;
    std::string tmpName;
    for (unsigned n = 0; n < 1000; ++n) {
        tmpName = file_out + ".tmp" + (n ? std::to_string(n) : std::string());
        if (tmp.CreateNew(tmpName)) break;
        if (!platform::FileExists(tmpName)) break;  // not a name clash: no use trying others
    }
    if (!tmp.IsOpen()) throw EFCreateError("Cannot create file \"" + file_out + "\". " + platform::LastErrorText());
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
    if (s.size() > std::numeric_limits<uint32_t>::max())
        throw ERangeError("Output buffer: image larger than 4 GiB");
    return Append(s.data(), static_cast<uint32_t>(s.size()));
}

uint32_t TFileWriter::addFileBytes(const void* X, uint32_t Bytes) { return Append(X, Bytes); }
uint32_t TFileWriter::addFileData(const void* x, uint32_t Bytes) { return Append(x, Bytes); }
uint32_t TFileWriter::addFileBytes(const uint8_t* X, uint32_t Bytes) { return Append(X, Bytes); }
uint32_t TFileWriter::addFileBytes(const std::string& s) { return addFileText(s); }

uint32_t TFileWriter::replaceFileBytes(uint32_t pos, const uint8_t* x, uint32_t bytes) {
    return Replace(pos, x, bytes);
}

uint32_t TFileWriter::replaceFileData(uint32_t pos, const void* x, uint32_t bytes) {
    return Replace(pos, x, bytes);
}
