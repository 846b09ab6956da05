#pragma once
#include <cstdint>
#include <string>

#include "classes/super_string_list.h"

class TCurrentToken;

// The tokens of #define names, matched exactly. Each define is also entered in
// the identifier table (itDefine); defines are never removed from this list.
class TDefineManager {
public:
    TDefineManager() = default;
    ~TDefineManager();
    TDefineManager(const TDefineManager&) = delete;
    TDefineManager& operator=(const TDefineManager&) = delete;

    // The new define's token is a copy of tk (an EOF token when tk is nil).
    TCurrentToken* addDefine(const std::string& strName, const TCurrentToken* tk);
    // The new define's token is the number v (byte count 4).
    TCurrentToken* addDefine(const std::string& strName, int64_t v);
    // Newest define of exactly that name visible at Idents' current scope.
    TCurrentToken* getDefine(const std::string& strName) const;

    uint32_t Count() const { return F_List.Count(); }

private:
    TCurrentToken* append(const std::string& strName, TCurrentToken* tok);
    TSuperStringList F_List;  // key: the name as written; object: owned token
};
