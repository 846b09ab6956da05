#pragma once
#include <cstdint>
#include <string>

// Which block addBytes appends to: the data, or the directory (entries and
// directories alike).
enum TResType : uint8_t { rtData = 0, rtEntry = 1, rtDir = 2 };

// The records of the PE resource directory, written little-endian.
struct TImageResourceDirectory {
    uint32_t Characteristics = 0;
    uint32_t TimeDateStamp = 0;
    uint16_t MajorVersion = 0;
    uint16_t MinorVersion = 0;
    uint16_t NumberOfNamedEntries = 0;
    uint16_t NumberOfIdEntries = 0;
};
struct TImageResourceDirectoryEntry {
    uint32_t NameRVAorID = 0;  // a number, or the high bit and the offset of a name
    uint32_t OffsetRVA = 0;
};
struct TImageResourceDataEntry {
    uint32_t OffsetToData = 0;
    uint32_t Size = 0;
    uint32_t CodePage = 0;
    uint32_t Reserved = 0;
};
static_assert(sizeof(TImageResourceDirectory) == 16 && sizeof(TImageResourceDirectoryEntry) == 8 &&
              sizeof(TImageResourceDataEntry) == 16);

// One collected resource.
struct TResource {
    int32_t rtType = 0;
    int32_t id = 0;
    int32_t langID = 0;
    std::string rtName;     // the name in capitals (ASCII); "" for a numeric identifier
    uint32_t dataAddr = 0;  // offset of the data in the data block
    uint32_t dataSize = 0;
    uint32_t entOffset = 0;  // offset of its identifier's entry (shared by its languages), set by buildRes
};
using PResource = TResource*;

// The resources of a compilation and the resource section built from them:
// the PE resource directory (type, identifier, language; types and languages
// are numbers, identifiers numbers or names; each level sorted ascending,
// names before numbers), the name strings, then the raw data.
class TResourceManager {
public:
    static constexpr int32_t MaxTypes = 32;    // type numbers 0 .. 31
    static constexpr int32_t MaxPerType = 51;  // resources of one type number

    TResourceManager() = default;
    ~TResourceManager();
    TResourceManager(const TResourceManager&) = delete;
    TResourceManager& operator=(const TResourceManager&) = delete;

    // rtData: appends to the data block, returns the offset of the bytes;
    // otherwise appends to the directory block, returns its new length.
    uint32_t addBytes(TResType t, const void* X, int32_t Bytes);
    // Records one resource and copies its data, 4-byte aligned; the data's
    // offset. A non-empty rtName names the resource (id is then not used);
    // a loader looks names up in capitals, so its ASCII letters are stored
    // so. A type number or a count the directory cannot hold, a name longer
    // than 65535 characters, or a type, identifier and language added
    // before, is an ERangeError.
    uint32_t addResource(int32_t rtType, int32_t id, int32_t langID, const std::string& rtName, const void* data,
                         int32_t dataSize);
    // Whether a resource of this type, identifier (or name) and language was
    // added.
    bool contains(int32_t rtType, int32_t id, int32_t langID, const std::string& rtName = std::string()) const;
    // Whether one more resource of type rtType fits.
    bool fits(int32_t rtType) const;
    // The section for the virtual address RVA: directory, then data; empty
    // without resources.
    std::string buildRes(uint32_t RVA);

    PResource res[MaxTypes][MaxPerType] = {};
    int32_t cnt[MaxTypes] = {};
    int32_t dirof[MaxTypes] = {};
    int32_t ttl = 0;
    uint32_t mainOffset = 0;
    std::string resStr;
    std::string dataStr;
    uint32_t arResSize = 0;  // everything before the data: directory and names
    uint32_t dirSize = 0;    // the directory alone
    uint32_t nameSize = 0;   // the name strings, unpadded
    std::string firstFile;   // the first resource file read, for messages
    uint32_t files = 0;      // how many were read
    uint32_t resSize = 0;
    uint32_t dataSize = 0;

private:
    uint32_t add(const TImageResourceDirectory& d);
    uint32_t add(const TImageResourceDirectoryEntry& e);
    uint32_t add(const TImageResourceDataEntry& e);
    void patch32(uint32_t at, uint32_t v);
};
