#include "classes/super_string_list.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "ascii.h"

uint32_t HashStringA(std::string_view value) {
    uint32_t h = 0;
    for (unsigned char b : value) h = HashStep(h, b);
    return h;
}

TSuperStringList::~TSuperStringList() {
    for (uint32_t at : F_List) item(at)->~TSSLItem();
}

uint32_t TSuperStringList::newItem() {
    uint32_t at;
    if (!F_Free.empty()) {
        at = F_Free.back();
        F_Free.pop_back();
    } else {
        if (F_Room.size() == 0xFFFFFFFFu) throw EInternalError("Too many list items");
        at = static_cast<uint32_t>(F_Room.size());
        F_Room.extend();
    }
    new (item(at)) TSSLItem{};
    return at;
}

void TSuperStringList::freeItem(uint32_t at) {
    item(at)->~TSSLItem();
    F_Free.push_back(at);
}

void TSuperStringList::Add(const std::string& strValue, uint32_t scope_) { Add(strValue, nullptr, scope_); }

int32_t TSuperStringList::Add(const std::string& strValue, void* obj, uint32_t scope_) {
    F_List.push_back(0);
    uint32_t at = 0xFFFFFFFFu;
    try {
        at = newItem();
        TSSLItem* it = item(at);
        it->scope = scope_;
        it->hash = HashStringA(strValue);
        it->text = strValue;
        it->item = obj;
        it->seq = F_NextSeq;
        indexInsert(at);
    } catch (...) {
        if (at != 0xFFFFFFFFu) freeItem(at);
        F_List.pop_back();
        throw;
    }
    ++F_NextSeq;
    F_List.back() = at;
    return static_cast<int32_t>(F_List.size() - 1);
}

size_t TSuperStringList::slotOf(uint32_t hash) const {
    return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> (64 - F_SlotBits));
}

const TSuperStringList::Slot* TSuperStringList::findSlot(uint32_t hash) const {
    if (F_SlotsUsed == 0) return nullptr;
    const size_t mask = F_Slots.size() - 1;
    for (size_t i = slotOf(hash);; i = (i + 1) & mask) {
        const Slot& s = F_Slots[i];
        if (!s.tail) return nullptr;
        if (s.hash == hash) return &s;
    }
}

void TSuperStringList::growIndex() {
    const uint32_t bits = F_SlotBits ? F_SlotBits + 1 : 4;
    std::vector<Slot> grown(size_t{1} << bits);
    F_SlotBits = bits;
    F_Slots.swap(grown);
    const size_t mask = F_Slots.size() - 1;
    for (const Slot& s : grown) {
        if (!s.tail) continue;
        size_t i = slotOf(s.hash);
        while (F_Slots[i].tail) i = (i + 1) & mask;
        F_Slots[i] = s;
    }
}

void TSuperStringList::indexInsert(uint32_t at) {
    TSSLItem* it = item(at);
    if ((F_SlotsUsed + 1) * 2 > F_Slots.size()) growIndex();
    const size_t mask = F_Slots.size() - 1;
    size_t i = slotOf(it->hash);
    while (F_Slots[i].tail && F_Slots[i].hash != it->hash) i = (i + 1) & mask;
    Slot& s = F_Slots[i];
    if (!s.tail) {
        s.hash = it->hash;
        s.tail = at + 1;
        it->prevSame = it->nextSame = 0;
        ++F_SlotsUsed;
        return;
    }
    // keep each chain in order of addition
    uint32_t next = 0, after = s.tail;
    while (after && item(after - 1)->seq > it->seq) {
        next = after;
        after = item(after - 1)->prevSame;
    }
    it->prevSame = after;
    it->nextSame = next;
    if (after) item(after - 1)->nextSame = at + 1;
    if (next) item(next - 1)->prevSame = at + 1;
    else s.tail = at + 1;
}

void TSuperStringList::indexRemove(uint32_t at) {
    if (F_SlotsUsed == 0) return;
    TSSLItem* it = item(at);
    const size_t mask = F_Slots.size() - 1;
    size_t i = slotOf(it->hash);
    while (F_Slots[i].tail && F_Slots[i].hash != it->hash) i = (i + 1) & mask;
    Slot& s = F_Slots[i];
    if (!s.tail) return;
    if (it->prevSame) item(it->prevSame - 1)->nextSame = it->nextSame;
    if (it->nextSame) item(it->nextSame - 1)->prevSame = it->prevSame;
    else s.tail = it->prevSame;
    it->prevSame = it->nextSame = 0;
    if (s.tail) return;
    // free the slot; move later slots of the run back so no probe stops early
    --F_SlotsUsed;
    size_t hole = i;
    for (size_t j = (i + 1) & mask; F_Slots[j].tail; j = (j + 1) & mask) {
        size_t home = slotOf(F_Slots[j].hash);
        // j may move into the hole when its home is not in (hole, j]
        if (((j - home) & mask) >= ((j - hole) & mask)) {
            F_Slots[hole] = F_Slots[j];
            hole = j;
        }
    }
    F_Slots[hole] = Slot{};
}

namespace {

// Equal texts; a short one is compared in place, without a call.
inline bool sameText(const std::string& a, std::string_view b) {
    const size_t n = b.size();
    if (a.size() != n) return false;
    const char* p = a.data();
    const char* q = b.data();
    if (n > 16) return std::memcmp(p, q, n) == 0;
    for (size_t i = 0; i < n; ++i)
        if (p[i] != q[i]) return false;
    return true;
}

}  // namespace

PSSLItem TSuperStringList::findNewest(std::string_view key, uint32_t hash, uint32_t scope_) const {
    const Slot* s = findSlot(hash);
    if (!s) return nullptr;
    for (uint32_t at = s->tail; at;) {
        PSSLItem i = item(at - 1);
        if (i->scope <= scope_ && sameText(i->text, key)) return i;
        at = i->prevSame;
    }
    return nullptr;
}

PSSLItem TSuperStringList::findOldest(std::string_view key, uint32_t scope_) const {
    const Slot* s = findSlot(HashStringA(key));
    if (!s) return nullptr;
    // chains are short: walk from the newest, keep the last match
    PSSLItem found = nullptr;
    for (uint32_t at = s->tail; at;) {
        PSSLItem i = item(at - 1);
        if (i->scope <= scope_ && sameText(i->text, key)) found = i;
        at = i->prevSame;
    }
    return found;
}

uint32_t TSuperStringList::positionOf(const TSSLItem* it) const {
    if (!F_Removed) return static_cast<uint32_t>(it->seq);
    auto pos = std::lower_bound(F_List.begin(), F_List.end(), it->seq,
                                [this](uint32_t x, uint64_t s) { return item(x)->seq < s; });
    return static_cast<uint32_t>(pos - F_List.begin());
}

void* TSuperStringList::ItemIndexOf(std::string_view strValue, bool caseSensitive, uint32_t scope_) const {
    if (!caseSensitive) {
        for (auto i = F_List.rbegin(); i != F_List.rend(); ++i) {
            const TSSLItem* it = item(*i);
            if (it->scope <= scope_ && ascii::equalNoCase(it->text, strValue)) return it->item;
        }
        return nullptr;
    }
    PSSLItem it = findNewest(strValue, HashStringA(strValue), scope_);
    return it ? it->item : nullptr;
}

void* TSuperStringList::ItemOfHashed(std::string_view key, uint32_t hash, uint32_t scope_) const {
    PSSLItem it = findNewest(key, hash, scope_);
    return it ? it->item : nullptr;
}

int32_t TSuperStringList::IndexOf(std::string_view strValue, bool caseSensitive, uint32_t scope_) const {
    if (!caseSensitive) {
        for (size_t i = 0; i < F_List.size(); ++i) {
            const TSSLItem* it = item(F_List[i]);
            if (it->scope <= scope_ && ascii::equalNoCase(it->text, strValue)) return static_cast<int32_t>(i);
        }
        return -1;
    }
    PSSLItem it = findOldest(strValue, scope_);
    return it ? static_cast<int32_t>(positionOf(it)) : -1;
}

void TSuperStringList::checkIndex(uint32_t index) const {
    if (index >= F_List.size())
        throw EListError("List index out of bounds (" + std::to_string(static_cast<int32_t>(index)) + ")");
}

void TSuperStringList::Delete(uint32_t index) {
    checkIndex(index);
    const uint32_t at = F_List[index];
    indexRemove(at);
    F_Removed = true;
    F_List.erase(F_List.begin() + index);
    freeItem(at);
}

void TSuperStringList::DeleteIf(const std::function<bool(const TSSLItem&)>& pred) {
    size_t out = 0;
    for (size_t i = 0; i < F_List.size(); ++i) {
        const uint32_t at = F_List[i];
        if (pred(*item(at))) {
            indexRemove(at);
            F_Removed = true;
            freeItem(at);
        } else {
            F_List[out++] = at;
        }
    }
    F_List.resize(out);
}

const std::string& TSuperStringList::GetString(uint32_t index) const {
    checkIndex(index);
    return item(F_List[index])->text;
}

void TSuperStringList::SetString(uint32_t index, const std::string& value) {
    checkIndex(index);
    const uint32_t at = F_List[index];
    indexRemove(at);
    PSSLItem it = item(at);
    it->text = value;
    it->hash = HashStringA(value);
    indexInsert(at);
}

void* TSuperStringList::GetItem(uint32_t index) const {
    checkIndex(index);
    return item(F_List[index])->item;
}

void TSuperStringList::SetItem(uint32_t index, void* value) {
    checkIndex(index);
    item(F_List[index])->item = value;
}

PSSLItem TSuperStringList::GetSSLItem(uint32_t index) const {
    checkIndex(index);
    return item(F_List[index]);
}
