#include "classes/super_string_list.h"

#include <algorithm>

uint32_t HashStringA(std::string_view value)
{
    uint32_t h = 0;
    for (unsigned char b : value) h = ((h << 7) | (h >> 25)) + b;
    return h;
}

namespace {
bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}
}  // namespace

TSuperStringList::~TSuperStringList()
{
    for (PSSLItem it : F_List) delete it;
}

void TSuperStringList::Add(const std::string& strValue, uint32_t scope_) { Add(strValue, nullptr, scope_); }

int32_t TSuperStringList::Add(const std::string& strValue, void* obj, uint32_t scope_)
{
    auto* it = new TSSLItem{scope_, HashStringA(strValue), strValue, obj, F_NextSeq++};
    F_List.push_back(it);
    indexInsert(it);
    return static_cast<int32_t>(F_List.size() - 1);
}

size_t TSuperStringList::slotOf(uint32_t hash) const
{
    return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> (64 - F_SlotBits));
}

const TSuperStringList::Slot* TSuperStringList::findSlot(uint32_t hash) const
{
    if (F_SlotsUsed == 0) return nullptr;
    const size_t mask = F_Slots.size() - 1;
    for (size_t i = slotOf(hash);; i = (i + 1) & mask) {
        const Slot& s = F_Slots[i];
        if (!s.tail) return nullptr;
        if (s.hash == hash) return &s;
    }
}

void TSuperStringList::growIndex()
{
    std::vector<Slot> old;
    old.swap(F_Slots);
    F_SlotBits = F_SlotBits ? F_SlotBits + 1 : 4;
    F_Slots.assign(size_t{1} << F_SlotBits, Slot{});
    const size_t mask = F_Slots.size() - 1;
    for (const Slot& s : old) {
        if (!s.tail) continue;
        size_t i = slotOf(s.hash);
        while (F_Slots[i].tail) i = (i + 1) & mask;
        F_Slots[i] = s;
    }
}

void TSuperStringList::indexInsert(PSSLItem it)
{
    if ((F_SlotsUsed + 1) * 2 > F_Slots.size()) growIndex();
    const size_t mask = F_Slots.size() - 1;
    size_t i = slotOf(it->hash);
    while (F_Slots[i].tail && F_Slots[i].hash != it->hash) i = (i + 1) & mask;
    Slot& s = F_Slots[i];
    if (!s.tail) {
        s.hash = it->hash;
        s.tail = it;
        it->prevSame = it->nextSame = nullptr;
        ++F_SlotsUsed;
        return;
    }
    // keep each chain in order of addition
    PSSLItem next = nullptr, after = s.tail;
    while (after && after->seq > it->seq) {
        next = after;
        after = after->prevSame;
    }
    it->prevSame = after;
    it->nextSame = next;
    if (after) after->nextSame = it;
    if (next) next->prevSame = it;
    else s.tail = it;
}

void TSuperStringList::indexRemove(PSSLItem it)
{
    if (F_SlotsUsed == 0) return;
    const size_t mask = F_Slots.size() - 1;
    size_t i = slotOf(it->hash);
    while (F_Slots[i].tail && F_Slots[i].hash != it->hash) i = (i + 1) & mask;
    Slot& s = F_Slots[i];
    if (!s.tail) return;
    if (it->prevSame) it->prevSame->nextSame = it->nextSame;
    if (it->nextSame) it->nextSame->prevSame = it->prevSame;
    else s.tail = it->prevSame;
    it->prevSame = it->nextSame = nullptr;
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

PSSLItem TSuperStringList::findNewest(std::string_view key, uint32_t scope_) const
{
    const Slot* s = findSlot(HashStringA(key));
    if (!s) return nullptr;
    for (PSSLItem i = s->tail; i; i = i->prevSame)
        if (i->scope <= scope_ && i->text == key) return i;
    return nullptr;
}

PSSLItem TSuperStringList::findOldest(std::string_view key, uint32_t scope_) const
{
    const Slot* s = findSlot(HashStringA(key));
    if (!s) return nullptr;
    // chains are short: walk from the newest, keep the last match
    PSSLItem found = nullptr;
    for (PSSLItem i = s->tail; i; i = i->prevSame)
        if (i->scope <= scope_ && i->text == key) found = i;
    return found;
}

uint32_t TSuperStringList::positionOf(const TSSLItem* it) const
{
    if (!F_Removed) return static_cast<uint32_t>(it->seq);
    auto pos = std::lower_bound(F_List.begin(), F_List.end(), it->seq,
                                [](const TSSLItem* x, uint64_t s) { return x->seq < s; });
    return static_cast<uint32_t>(pos - F_List.begin());
}

void* TSuperStringList::ItemIndexOf(std::string_view strValue, bool caseSensitive, uint32_t scope_) const
{
    if (!caseSensitive) {
        for (auto i = F_List.rbegin(); i != F_List.rend(); ++i)
            if ((*i)->scope <= scope_ && equalNoCase((*i)->text, strValue)) return (*i)->item;
        return nullptr;
    }
    PSSLItem it = findNewest(strValue, scope_);
    return it ? it->item : nullptr;
}

int32_t TSuperStringList::IndexOf(std::string_view strValue, bool caseSensitive, uint32_t scope_) const
{
    if (!caseSensitive) {
        for (size_t i = 0; i < F_List.size(); ++i)
            if (F_List[i]->scope <= scope_ && equalNoCase(F_List[i]->text, strValue)) return static_cast<int32_t>(i);
        return -1;
    }
    PSSLItem it = findOldest(strValue, scope_);
    return it ? static_cast<int32_t>(positionOf(it)) : -1;
}

void TSuperStringList::checkIndex(uint32_t index) const
{
    if (index >= F_List.size())
        throw EListError("List index out of bounds (" + std::to_string(static_cast<int32_t>(index)) + ")");
}

void TSuperStringList::Delete(uint32_t index)
{
    checkIndex(index);
    PSSLItem it = F_List[index];
    indexRemove(it);
    F_Removed = true;
    F_List.erase(F_List.begin() + index);
    delete it;
}

void TSuperStringList::DeleteIf(const std::function<bool(const TSSLItem&)>& pred)
{
    size_t out = 0;
    for (size_t i = 0; i < F_List.size(); ++i) {
        PSSLItem it = F_List[i];
        if (pred(*it)) {
            indexRemove(it);
            F_Removed = true;
            delete it;
        } else {
            F_List[out++] = it;
        }
    }
    F_List.resize(out);
}

const std::string& TSuperStringList::GetString(uint32_t index) const
{
    checkIndex(index);
    return F_List[index]->text;
}

void TSuperStringList::SetString(uint32_t index, const std::string& value)
{
    checkIndex(index);
    PSSLItem it = F_List[index];
    indexRemove(it);
    it->text = value;
    it->hash = HashStringA(value);
    indexInsert(it);
}

void* TSuperStringList::GetItem(uint32_t index) const
{
    checkIndex(index);
    return F_List[index]->item;
}

void TSuperStringList::SetItem(uint32_t index, void* value)
{
    checkIndex(index);
    F_List[index]->item = value;
}

PSSLItem TSuperStringList::GetSSLItem(uint32_t index) const
{
    checkIndex(index);
    return F_List[index];
}
