#include "classes/const_manager.h"

#include <cstdio>

#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "reader/cur_token.h"
#include "global.h"

namespace {
// Pool key: the kind, then the value text, so equal texts of different kinds
// stay apart.
std::string poolKey(TConstType tt, const std::string& text) {
    std::string key(1, static_cast<char>('0' + tt));
    key += text;
    return key;
}

void freeConst(PConst c) {
    tavFree(c->varname);
    tavFree(c->str);
    delete c;
}
}  // namespace

TConstManager::~TConstManager() {
    for (uint32_t i = 0; i < F_List.Count(); ++i) freeConst(static_cast<PConst>(F_List.GetItem(i)));
}

std::string TConstManager::intText(int64_t v) { return std::to_string(v); }

std::string TConstManager::floatText(long double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15Lg", v);
    return buf;
}

PConst TConstManager::pool(const std::string& strName, const std::string& text, TConstType tt, int32_t& index,
                           bool& created) {
    const std::string key = poolKey(tt, text);
    index = F_List.IndexOf(key, true, TSuperStringList::ALL_SCOPES);
    PConst c;
    created = index < 0;
    if (created) {
        c = new TConst{};
        c->type_ = tt;
        tavAssign(c->varname, strName);
        tavAssign(c->str, text);
        index = F_List.Add(key, c, 0);
    } else {
        c = static_cast<PConst>(F_List.GetItem(static_cast<uint32_t>(index)));
    }
    if (Idents) Idents->addIdent(itConst, strName, c);
    return c;
}

PConst TConstManager::addConstItem(const std::string& strName, const std::string& value, TConstType tt) {
    int32_t index;
    bool created;
    return pool(strName, value, tt, index, created);
}

int32_t TConstManager::addConst(const std::string& strName, const std::string& value, TConstType tt) {
    int32_t index;
    bool created;
    pool(strName, value, tt, index, created);
    return index;
}

int32_t TConstManager::addConst(const std::string& strName, long double value, TConstType tt) {
    int32_t index;
    bool created;
    PConst c = pool(strName, floatText(value), tt, index, created);
    if (created) {
        c->int_ = truncExtended(value);
        c->ext = toTavExt(value);
    }
    return index;
}

int32_t TConstManager::addConst(const std::string& strName, int64_t value, TConstType tt) {
    int32_t index;
    bool created;
    PConst c = pool(strName, intText(value), tt, index, created);
    if (created) {
        c->int_ = value;
        c->ext = toTavExt(static_cast<long double>(value));
    }
    return index;
}

PConst TConstManager::getConst(uint32_t i) const {
    return i < F_List.Count() ? static_cast<PConst>(F_List.GetItem(i)) : nullptr;
}

void TConstManager::clearInactive() {
    F_List.DeleteIf([](const TSSLItem& it) {
        auto* c = static_cast<PConst>(it.item);
        if (c->active == 1) return false;
        freeConst(c);
        return true;
    });
}
