#include "classes/resource_manager.h"

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

#include "ascii.h"
#include "exceptions.h"

namespace {

constexpr uint32_t kSubdirectory = 0x80000000u;  // the offset leads to a further directory
constexpr uint32_t kNamed = 0x80000000u;         // the entry holds the offset of a name
constexpr uint32_t kMaxName = 0xFFFF;            // a name's length is 16-bit
constexpr uint32_t kDirSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
// A directory with the entry that leads to it.
constexpr uint32_t kLevelSize = kEntrySize + kDirSize;
// One language of an identifier: its entry and its data entry.
constexpr uint32_t kLanguageSize = kEntrySize + kDataEntrySize;
// Resource data starts on 4-byte boundaries.
constexpr uint32_t kDataAlignment = 4;

void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t align4(uint32_t v) { return (v + kDataAlignment - 1) & ~(kDataAlignment - 1); }

// Whether r has this identifier: the name when there is one, else the number.
bool sameId(const TResource* r, int32_t id, const std::string& name) {
    return name.empty() ? r->rtName.empty() && r->id == id : r->rtName == name;
}

}  // namespace

TResourceManager::~TResourceManager() {
    for (int32_t t = 0; t < MaxTypes; ++t)
        for (int32_t k = 0; k < cnt[t]; ++k) delete res[t][k];
}

uint32_t TResourceManager::addBytes(TResType t, const void* X, int32_t Bytes) {
    if (Bytes < 0 || (Bytes > 0 && !X)) throw ERangeError("Resource bytes out of range");
    std::string& block = t == rtData ? dataStr : resStr;
    // Offsets in the directory are 32-bit.
    if (block.size() + uint64_t(Bytes) > 0xFFFFFFFFu) throw ERangeError("Resource data too large");
    const auto before = static_cast<uint32_t>(block.size());
    if (Bytes > 0) block.append(static_cast<const char*>(X), static_cast<size_t>(Bytes));
    if (t == rtData) {
        dataSize = static_cast<uint32_t>(dataStr.size());
        return before;
    }
    resSize = static_cast<uint32_t>(resStr.size());
    return resSize;
}

bool TResourceManager::fits(int32_t rtType) const {
    return rtType >= 0 && rtType < MaxTypes && cnt[rtType] < MaxPerType;
}

bool TResourceManager::contains(int32_t rtType, int32_t id, int32_t langID, const std::string& rtName) const {
    if (rtType < 0 || rtType >= MaxTypes) return false;
    const std::string name = upperAscii(rtName);
    for (int32_t k = 0; k < cnt[rtType]; ++k)
        if (sameId(res[rtType][k], id, name) && res[rtType][k]->langID == langID) return true;
    return false;
}

uint32_t TResourceManager::addResource(int32_t rtType, int32_t id, int32_t langID, const std::string& rtName,
                                       const void* data, int32_t dataSize) {
    if (!fits(rtType)) throw ERangeError("No room for a resource of type " + std::to_string(rtType));
    const std::string name = upperAscii(rtName);
    // The directory holds names as UTF-16 with a 16-bit length.
    if (name.size() > kMaxName) throw ERangeError("Resource name too long");
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) throw ERangeError("Resource name outside ASCII");
    if (contains(rtType, id, langID, name))
        throw ERangeError("Resource of type " + std::to_string(rtType) + ", " +
                          (name.empty() ? "id " + std::to_string(id) : "name " + name) + " and language " +
                          std::to_string(langID) + " added twice");
    if (dataSize < 0 || (dataSize > 0 && !data)) throw ERangeError("Resource bytes out of range");
    if (const uint32_t pad = (kDataAlignment - dataStr.size() % kDataAlignment) % kDataAlignment) {
        static const char zeros[kDataAlignment] = {};
        addBytes(rtData, zeros, static_cast<int32_t>(pad));
    }
    const uint32_t addr = addBytes(rtData, data, dataSize);
    bool newId = true;
    for (int32_t k = 0; k < cnt[rtType]; ++k)
        if (sameId(res[rtType][k], id, name)) newId = false;
    auto* r = new TResource;
    r->rtType = rtType;
    r->id = name.empty() ? id : 0;
    r->langID = langID;
    r->rtName = name;
    r->dataAddr = addr;
    r->dataSize = static_cast<uint32_t>(dataSize);
    res[rtType][cnt[rtType]] = r;
    if (ttl == 0) dirSize = kDirSize;
    if (cnt[rtType] == 0) {
        ++ttl;
        dirSize += kLevelSize;
    }
    if (newId) {
        dirSize += kLevelSize;
        if (!name.empty()) nameSize += 2 + 2 * static_cast<uint32_t>(name.size());
    }
    dirSize += kLanguageSize;
    // The data starts on a 4-byte boundary after the names.
    arResSize = dirSize + align4(nameSize);
    ++cnt[rtType];
    return addr;
}

uint32_t TResourceManager::add(const TImageResourceDirectory& d) {
    std::string b;
    put32(b, d.Characteristics);
    put32(b, d.TimeDateStamp);
    put16(b, d.MajorVersion);
    put16(b, d.MinorVersion);
    put16(b, d.NumberOfNamedEntries);
    put16(b, d.NumberOfIdEntries);
    return addBytes(rtDir, b.data(), static_cast<int32_t>(b.size()));
}

uint32_t TResourceManager::add(const TImageResourceDirectoryEntry& e) {
    std::string b;
    put32(b, e.NameRVAorID);
    put32(b, e.OffsetRVA);
    return addBytes(rtEntry, b.data(), static_cast<int32_t>(b.size()));
}

uint32_t TResourceManager::add(const TImageResourceDataEntry& e) {
    std::string b;
    put32(b, e.OffsetToData);
    put32(b, e.Size);
    put32(b, e.CodePage);
    put32(b, e.Reserved);
    return addBytes(rtEntry, b.data(), static_cast<int32_t>(b.size()));
}

void TResourceManager::patch32(uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) resStr[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string TResourceManager::buildRes(uint32_t RVA) {
    if (ttl == 0) return std::string();
    // Built afresh on every call, so a second call gives the same section.
    resStr.clear();
    resSize = 0;
    // A loader finds an entry by binary search on every level: types, then
    // identifiers, then languages, each ascending; one identifier entry holds
    // all the languages of its identifier. Named identifiers come first,
    // ordered by their UTF-16 units; their strings follow the directory.
    std::string names;
    TImageResourceDirectory root;
    root.NumberOfIdEntries = static_cast<uint16_t>(ttl);
    mainOffset = add(root);
    for (int32_t t = 0; t < MaxTypes; ++t) {
        if (cnt[t] == 0) continue;
        dirof[t] = static_cast<int32_t>(mainOffset);
        mainOffset = add(TImageResourceDirectoryEntry{static_cast<uint32_t>(t), 0});
    }
    for (int32_t t = 0; t < MaxTypes; ++t) {
        const int32_t n = cnt[t];
        if (n == 0) continue;
        patch32(static_cast<uint32_t>(dirof[t]) + 4, mainOffset | kSubdirectory);
        std::vector<PResource> sorted(res[t], res[t] + n);
        std::stable_sort(sorted.begin(), sorted.end(), [](PResource a, PResource b) {
            return std::tuple(a->rtName.empty(), a->rtName, uint32_t(a->id), uint32_t(a->langID)) <
                   std::tuple(b->rtName.empty(), b->rtName, uint32_t(b->id), uint32_t(b->langID));
        });
        // Runs of one identifier: [begin, end) in sorted.
        std::vector<std::pair<size_t, size_t>> ids;
        uint16_t named = 0;
        for (size_t k = 0; k < sorted.size(); ++k)
            if (ids.empty() || !sameId(sorted[ids.back().first], sorted[k]->id, sorted[k]->rtName)) {
                ids.emplace_back(k, k + 1);
                if (!sorted[k]->rtName.empty()) ++named;
            } else {
                ids.back().second = k + 1;
            }
        TImageResourceDirectory typeDir;
        typeDir.NumberOfNamedEntries = named;
        typeDir.NumberOfIdEntries = static_cast<uint16_t>(ids.size() - named);
        mainOffset = add(typeDir);
        const uint32_t firstEntry = mainOffset;
        for (const auto& run : ids) {
            const std::string& name = sorted[run.first]->rtName;
            if (name.empty()) {
                mainOffset = add(TImageResourceDirectoryEntry{static_cast<uint32_t>(sorted[run.first]->id), 0});
                continue;
            }
            mainOffset = add(TImageResourceDirectoryEntry{kNamed | (dirSize + static_cast<uint32_t>(names.size())), 0});
            put16(names, static_cast<uint16_t>(name.size()));
            for (char c : name) put16(names, static_cast<unsigned char>(c));
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            const auto [b, e] = ids[i];
            const uint32_t entry = firstEntry + uint32_t(i) * kEntrySize;
            patch32(entry + 4, mainOffset | kSubdirectory);
            TImageResourceDirectory langDir;
            langDir.NumberOfIdEntries = static_cast<uint16_t>(e - b);
            mainOffset = add(langDir);
            const uint32_t dataEntries = mainOffset + uint32_t(e - b) * kEntrySize;
            for (size_t k = b; k < e; ++k) {
                sorted[k]->entOffset = entry;
                mainOffset = add(TImageResourceDirectoryEntry{static_cast<uint32_t>(sorted[k]->langID),
                                                              dataEntries + uint32_t(k - b) * kDataEntrySize});
            }
            for (size_t k = b; k < e; ++k) {
                const PResource r = sorted[k];
                mainOffset = add(TImageResourceDataEntry{RVA + arResSize + r->dataAddr, r->dataSize, 0, 0});
            }
        }
    }
    if (resStr.size() != dirSize || names.size() != nameSize)
        throw ERangeError("Resource directory does not match its layout");
    names.resize(align4(nameSize), '\0');
    return resStr + names + dataStr;
}
