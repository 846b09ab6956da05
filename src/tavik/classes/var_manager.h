#pragma once
#include <concepts>
#include <cstdint>
#include <string>
#include <vector>

#include "tavik/plugin_api.h"

// Built-in and declared types, global and local variables. The manager owns
// every record (with its texts, fields and content).
class TVarManager {
public:
    TVarManager();  // needs Idents: the built-ins get identifiers
    ~TVarManager();
    TVarManager(const TVarManager&) = delete;
    TVarManager& operator=(const TVarManager&) = delete;

    // Integer type (range in int_lower/int_upper).
    PVarType addType(const std::string& strName, uint32_t intSize, int64_t lower, int64_t upper, bool dyanamicSize,
                     bool isPtr);
    // Float type (range in real_lower/real_upper).
    PVarType addType(const std::string& strName, uint32_t intSize, long double lower, long double upper,
                     bool dyanamicSize, bool isPtr);
    // Integer bounds of any integral type pick the integer form.
    template <std::integral L, std::integral U>
    PVarType addType(const std::string& strName, uint32_t intSize, L lower, U upper, bool dyanamicSize, bool isPtr) {
        return addType(strName, intSize, static_cast<int64_t>(lower), static_cast<int64_t>(upper), dyanamicSize, isPtr);
    }

    // The variable holds no content until an initial value is given.
    PVar addVar(TVarMode md, const std::string& strName, PVarType tp, uint32_t mult, uint32_t addr);
    PVar getVar(uint32_t i) const;  // nil when i >= count
    uint32_t VarCount() const { return static_cast<uint32_t>(F_Vars.size()); }
    PVarType getVarType(uint32_t i) const;  // nil when i >= count
    uint32_t VarTypeCount() const { return static_cast<uint32_t>(F_VarTypes.size()); }

    // Appends a member to a structured type (fieldcount follows). For a data
    // member the embedded variable gets name, type, multiplier and offset
    // (address); its content stays empty. Pointers to earlier members of t may
    // move.
    TVarField* addField(PVarType t, TFieldType ft, const std::string& name, PVarType fieldType, uint32_t mult,
                        uint32_t offset, PFunction func);

    // Every word-sized type follows ptrSize.
    void resizeVarTypes();

    std::vector<PVarType> F_VarTypes;  // built-ins first
    std::vector<PVar> F_Vars;
    PVarType F_PtrType = nullptr;   // pointer
    PVarType F_IntType = nullptr;   // sysint
    PVarType F_UIntType = nullptr;  // sysword

private:
    PVarType newType(const std::string& strName, uint32_t intSize, bool dyanamicSize, bool isPtr);
};

// TVarType.findField: the member of that name (ASCII case ignored), or nil.
TVarField* findField(const TVarType* t, const std::string& strName);

// The float range of a type as long double.
long double typeRealLower(const TVarType* t);
long double typeRealUpper(const TVarType* t);
