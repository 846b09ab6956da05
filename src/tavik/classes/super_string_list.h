#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "classes/record_arena.h"
#include "exceptions.h"

// Raised for an item index outside the list.
class EListError : public Exception {
public:
    explicit EListError(const std::string& m) : Exception("EListError", m) {}
};

// Key hash of every symbol list: rotate left by 7, add the byte.
// One byte into a HashStringA hash.
inline uint32_t HashStep(uint32_t h, unsigned char b) { return ((h << 7) | (h >> 25)) + b; }
uint32_t HashStringA(std::string_view value);

struct TSSLItem {
    uint32_t scope = 0;
    uint32_t hash = 0;  // always HashStringA(text)
    std::string text;
    void* item = nullptr;  // not owned
    uint64_t seq = 0;      // order of addition (for the hash index)
    // Items of the same hash, in order of addition: their places in the
    // list's store plus one, 0 for none.
    uint32_t prevSame = 0;
    uint32_t nextSame = 0;
};
using PSSLItem = TSSLItem*;

// Append-only list of (scope, hash, text, object) items. Newest-first and
// oldest-first lookups with a scope limit; a hash index beside the list keeps
// them from scanning every item while giving the same answers. The list owns
// the items, never the objects they point to.
class TSuperStringList {
public:
    static constexpr uint32_t ALL_SCOPES = 0xFFFFFFFFu;

    TSuperStringList() = default;
    ~TSuperStringList();
    TSuperStringList(const TSuperStringList&) = delete;
    TSuperStringList& operator=(const TSuperStringList&) = delete;

    uint32_t Count() const { return static_cast<uint32_t>(F_List.size()); }
    void Add(const std::string& strValue, uint32_t scope_);
    int32_t Add(const std::string& strValue, void* obj, uint32_t scope_);

    // Newest match's object, nil when none (or when the match holds nil).
    void* ItemIndexOf(std::string_view strValue, bool caseSensitive, uint32_t scope_) const;
    // ItemIndexOf, case-sensitive, for a key whose HashStringA is known.
    void* ItemOfHashed(std::string_view key, uint32_t hash, uint32_t scope_) const;
    // Oldest match's index, -1 when none.
    int32_t IndexOf(std::string_view strValue, bool caseSensitive, uint32_t scope_) const;

    void Delete(uint32_t index);
    // Removes every item for which pred holds, in one pass; the rest keep their order.
    void DeleteIf(const std::function<bool(const TSSLItem&)>& pred);

    const std::string& GetString(uint32_t index) const;
    void SetString(uint32_t index, const std::string& value);
    void* GetItem(uint32_t index) const;
    void SetItem(uint32_t index, void* value);
    // For reading the scope and rebinding item; the text changes only
    // through SetString, which keeps the index right.
    PSSLItem GetSSLItem(uint32_t index) const;

private:
    void checkIndex(uint32_t index) const;
    PSSLItem findNewest(std::string_view key, uint32_t hash, uint32_t scope_) const;
    PSSLItem findOldest(std::string_view key, uint32_t scope_) const;
    uint32_t positionOf(const TSSLItem* it) const;  // index in F_List by seq
    void indexInsert(uint32_t at);
    void indexRemove(uint32_t at);

    // The items live in room that never moves; a place freed by a removal
    // is used again.
    TSSLItem* item(uint32_t at) const { return F_Room[at]; }
    uint32_t newItem();
    void freeItem(uint32_t at);

    // One slot per hash in use: the newest item of that hash.
    struct Slot {
        uint32_t hash = 0;
        uint32_t tail = 0;  // place plus one; 0: the slot is free
    };
    const Slot* findSlot(uint32_t hash) const;
    size_t slotOf(uint32_t hash) const;
    void growIndex();

    std::vector<uint32_t> F_List;  // places of the items; index 0 is the oldest
    TChunkRoom<TSSLItem, 4> F_Room;
    std::vector<uint32_t> F_Free;  // places of removed items
    std::vector<Slot> F_Slots;     // open addressing, linear probing; size a power of two
    uint32_t F_SlotBits = 0;
    size_t F_SlotsUsed = 0;
    uint64_t F_NextSeq = 0;
    bool F_Removed = false;  // once an item is removed, positions no longer equal seq
};
