#include "classes/resource_manager.h"

#include "exceptions.h"

namespace {

constexpr uint32_t kSubdirectory = 0x80000000u;  // the offset leads to a further directory
constexpr uint32_t kDirSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kLanguageSize = kDirSize + kEntrySize + kDataEntrySize;

void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
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

uint32_t TResourceManager::addResource(int32_t rtType, int32_t id, int32_t langID, const std::string& rtName,
                                       const void* data, int32_t dataSize) {
    if (!fits(rtType)) throw ERangeError("No room for a resource of type " + std::to_string(rtType));
    const uint32_t addr = addBytes(rtData, data, dataSize);
    auto* r = new TResource;
    r->rtType = rtType;
    r->id = id;
    r->langID = langID;
    r->rtName = rtName;
    r->dataAddr = addr;
    r->dataSize = static_cast<uint32_t>(dataSize);
    res[rtType][cnt[rtType]] = r;
    if (ttl == 0) arResSize = kDirSize;
    if (cnt[rtType] == 0) {
        ++ttl;
        arResSize += kEntrySize + kDirSize + kEntrySize + kLanguageSize;
    } else {
        arResSize += kEntrySize + kLanguageSize;
    }
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
        TImageResourceDirectory typeDir;
        typeDir.NumberOfIdEntries = static_cast<uint16_t>(n);
        mainOffset = add(typeDir);
        const uint32_t first = mainOffset;
        for (int32_t k = 0; k < n; ++k) {
            res[t][k]->entOffset = mainOffset;
            const uint32_t language = first + uint32_t(n) * kEntrySize + uint32_t(k) * kLanguageSize;
            mainOffset =
                add(TImageResourceDirectoryEntry{static_cast<uint32_t>(res[t][k]->id), language | kSubdirectory});
        }
        for (int32_t k = 0; k < n; ++k) {
            const PResource r = res[t][k];
            TImageResourceDirectory langDir;
            langDir.NumberOfIdEntries = 1;
            mainOffset = add(langDir);
            mainOffset = add(TImageResourceDirectoryEntry{static_cast<uint32_t>(r->langID), mainOffset + kEntrySize});
            mainOffset = add(TImageResourceDataEntry{RVA + arResSize + r->dataAddr, r->dataSize, 0, 0});
        }
    }
    return resStr + dataStr;
}
