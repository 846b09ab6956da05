#pragma once
#include <cstdint>
#include <string>

#include "platform/platform.h"

// The in-memory image of one output file. Positions are 1-based; every append
// returns the position its first byte received. Nothing reaches the disk
// before Commit.
class TFileWriter {
public:
    explicit TFileWriter(const std::string& output);
    ~TFileWriter();
    TFileWriter(const TFileWriter&) = delete;
    TFileWriter& operator=(const TFileWriter&) = delete;

    uint32_t Len() const { return static_cast<uint32_t>(file_data.size()); }
    // Room for bytes in all, taken at once (the image then grows without
    // copying up to there); memory not written to stays untouched.
    void reserve(size_t bytes) { file_data.reserve(bytes); }
    // Empties the image and keeps its room, for another image of that name.
    void clear() { file_data.clear(); }
    // Bytes of the image; valid until the next append.
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(file_data.data()); }
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(file_data.data()); }

    // Creates (or truncates) the file on the first call, then writes the
    // whole buffer at the end of what was written before. Throws
    // EFCreateError / EWriteError.
    void Commit();
    // Writes the whole buffer to a new file beside file_out and renames it
    // into place: a failed write leaves no half file under the real name.
    // Throws EFCreateError / EWriteError.
    void CommitReplacing();
    // The name CommitReplacing writes to first: fixed for an output name, and
    // no longer than a file name may be.
    static std::string tempName(const std::string& output);
    // Pads with zero bytes up to si; false (and nothing changed) when the
    // buffer is longer already.
    bool alignFileToSize(uint32_t si);

    uint32_t addFileText(const std::string& s);
    uint32_t addFileBytes(const void* X, uint32_t Bytes);
    uint32_t addFileData(const void* x, uint32_t Bytes);
    uint32_t addFileBytes(const uint8_t* X, uint32_t Bytes);
    uint32_t addFileBytes(const std::string& s);
    // Overwrite bytes from pos on; a range outside the buffer throws
    // ERangeError and changes nothing.
    uint32_t replaceFileBytes(uint32_t pos, const uint8_t* x, uint32_t bytes);
    uint32_t replaceFileData(uint32_t pos, const void* x, uint32_t bytes);

    std::string file_out;  // may be renamed until the first Commit

private:
    uint32_t Append(const void* x, uint32_t bytes);
    uint32_t Replace(uint32_t pos, const void* x, uint32_t bytes);
    void checkInside(const void* x, uint32_t bytes) const;

    platform::TOutFile file_stream;
    std::string file_data;
};
