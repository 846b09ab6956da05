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

void TSuperStringList::indexInsert(PSSLItem it)
{
    auto& bucket = F_Index[it->hash];
    // keep each bucket in order of addition
    auto pos = std::upper_bound(bucket.begin(), bucket.end(), it->seq,
                                [](uint64_t s, const TSSLItem* x) { return s < x->seq; });
    bucket.insert(pos, it);
}

void TSuperStringList::indexRemove(PSSLItem it)
{
    auto b = F_Index.find(it->hash);
    if (b == F_Index.end()) return;
    auto& bucket = b->second;
    for (size_t i = bucket.size(); i-- > 0;) {
        if (bucket[i] == it) {
            bucket.erase(bucket.begin() + static_cast<ptrdiff_t>(i));
            break;
        }
    }
    if (bucket.empty()) F_Index.erase(b);
}

PSSLItem TSuperStringList::findNewest(std::string_view key, uint32_t scope_) const
{
    if (F_List.empty()) return nullptr;
    auto b = F_Index.find(HashStringA(key));
    if (b == F_Index.end()) return nullptr;
    const auto& bucket = b->second;
    for (auto i = bucket.rbegin(); i != bucket.rend(); ++i)
        if ((*i)->scope <= scope_ && (*i)->text == key) return *i;
    return nullptr;
}

PSSLItem TSuperStringList::findOldest(std::string_view key, uint32_t scope_) const
{
    if (F_List.empty()) return nullptr;
    auto b = F_Index.find(HashStringA(key));
    if (b == F_Index.end()) return nullptr;
    for (PSSLItem it : b->second)
        if (it->scope <= scope_ && it->text == key) return it;
    return nullptr;
}

uint32_t TSuperStringList::positionOf(const TSSLItem* it) const
{
    auto pos = std::lower_bound(F_List.begin(), F_List.end(), it->seq,
                                [](const TSSLItem* x, uint64_t s) { return x->seq < s; });
    return static_cast<uint32_t>(pos - F_List.begin());
}

void* TSuperStringList::ItemIndexOf(const std::string& strValue, bool caseSensitive, uint32_t scope_) const
{
    if (!caseSensitive) {
        for (auto i = F_List.rbegin(); i != F_List.rend(); ++i)
            if ((*i)->scope <= scope_ && equalNoCase((*i)->text, strValue)) return (*i)->item;
        return nullptr;
    }
    PSSLItem it = findNewest(strValue, scope_);
    return it ? it->item : nullptr;
}

int32_t TSuperStringList::IndexOf(const std::string& strValue, bool caseSensitive, uint32_t scope_) const
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
