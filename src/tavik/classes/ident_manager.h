#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "ascii.h"
#include "classes/super_string_list.h"

// What a name denotes. Only itConst .. itMacro are stored in the table; the
// others classify tokens.
enum TIdentType : uint8_t {
    itNone = 0,
    itReservedKeyword = 1,
    itConst = 2,      // TConst
    itType = 3,       // TVarType
    itGlobalVar = 4,  // TVar
    itLocalVar = 5,   // TVar
    itFunc = 6,       // TFunction
    itProc = 7,       // TFunction
    itLabel = 8,      // TFunction
    itDefine = 9,     // the define's TCurrentToken
    itMacro = 10,     // TMacro
    itMacroParam = 11,
    itFuncThis = 12,
    itProcThis = 13,
    itGlobalVarPtr = 14,
    itLocalVarPtr = 15,
    itBaseExpPtr = 16,
};

struct TIdent {
    TIdentType type_ = itNone;
    uint32_t scope = 0;
    std::string name;     // as written
    void* ptr = nullptr;  // not owned
};
using PIdent = TIdent*;

// Scoped identifier table; names match without regard to ASCII case, the
// innermost declaration wins.
class TIdentManager {
public:
    static constexpr uint32_t CURRENT_SCOPE = 0xFFFFFFFFu;

    TIdentManager() = default;
    ~TIdentManager();
    TIdentManager(const TIdentManager&) = delete;
    TIdentManager& operator=(const TIdentManager&) = delete;

    uint32_t upScope();
    // Removes the identifiers of scope sc and above (-1: the current scope) and
    // leaves the current scope. Leaving the global scope is an internal error.
    void deleteScope(uint32_t sc = CURRENT_SCOPE);
    int32_t addIdent(TIdentType ty, const std::string& strName, void* data);
    PIdent findIdent(std::string_view strName, uint32_t scope_) const;
    PIdent findIdent(std::string_view strName) const { return findIdent(strName, F_CurrentScope); }

    uint32_t Count() const { return F_List.Count(); }
    PIdent getIdent(uint32_t index) const;  // nil out of range

    uint32_t F_CurrentScope = 0;

private:
    TSuperStringList F_List;  // key: lower-cased name
    // The records, in the list's order: a scope leaves from the end of both.
    std::deque<TIdent> F_Idents;
};
