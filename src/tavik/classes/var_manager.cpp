#include "classes/var_manager.h"

#include <stdexcept>

#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "common.h"
#include "global.h"

namespace {
struct TBuiltin {
    const char* name;
    uint32_t size;
    int64_t lower, upper;
    bool isFloat, isPtr, dyn;
};

constexpr int64_t kAllBits = -1;  // qword upper bound: all 64 bits set

const TBuiltin kBuiltins[] = {
    {"byte", 1, 0, 255, false, false, false},
    {"char", 1, 0, 255, false, false, false},
    {"widechar", 2, 0, 65535, false, false, false},
    {"wchar", 2, 0, 65535, false, false, false},
    {"word", 2, 0, 65535, false, false, false},
    {"pointer", 4, 0, 4294967295LL, false, true, true},
    {"dword", 4, 0, 4294967295LL, false, false, false},
    {"qword", 8, 0, kAllBits, false, false, false},
    {"boolean", 4, 0, 4294967295LL, false, false, false},
    {"sbyte", 1, -128, 127, false, false, false},
    {"short", 2, -32768, 32767, false, false, false},
    {"int16", 2, -32768, 32767, false, false, false},
    {"int32", 4, -2147483648LL, 2147483647LL, false, false, false},
    {"int64", 8, INT64_MIN, INT64_MAX, false, false, false},
    {"sysint", 4, -2147483648LL, 2147483647LL, false, false, true},
    {"sysword", 4, 0, 4294967295LL, false, false, true},
    {"real4", 4, 0, 0, true, false, false},
    {"real8", 8, 0, 0, true, false, false},
    {"real10", 10, 0, 0, true, false, false},
    {"single", 4, 0, 0, true, false, false},
    {"double", 8, 0, 0, true, false, false},
    {"extended", 10, 0, 0, true, false, false},
};

void freeVarContents(TVar& v) {
    tavFree(v.name);
    tavArrayFree(v.content);
}
}  // namespace

TVarManager::TVarManager() {
    for (const TBuiltin& b : kBuiltins) {
        PVarType t = b.isFloat ? addType(b.name, b.size, 0.0L, 0.0L, b.dyn, b.isPtr)
                               : addType(b.name, b.size, b.lower, b.upper, b.dyn, b.isPtr);
        const std::string n = b.name;
        if (n == "pointer") F_PtrType = t;
        else if (n == "sysint") F_IntType = t;
        else if (n == "sysword") F_UIntType = t;
    }
}

TVarManager::~TVarManager() {
    for (PVar v : F_Vars) {
        freeVarContents(*v);
        delete v;
    }
    for (PVarType t : F_VarTypes) {
        for (uint32_t i = 0; i < tavCount(t->fields); ++i) freeVarContents(t->fields[i].variable);
        tavArrayFree(t->fields);
        tavFree(t->name);
        delete t;
    }
}

PVarType TVarManager::newType(const std::string& strName, uint32_t intSize, bool dyanamicSize, bool isPtr) {
    auto* t = new TVarType{};
    tavAssign(t->name, strName);
    t->size = intSize;
    t->isPointer = isPtr;
    t->dynSize = dyanamicSize;
    F_VarTypes.push_back(t);
    if (Idents) t->ident = static_cast<uint32_t>(Idents->addIdent(itType, strName, t));
    return t;
}

PVarType TVarManager::addType(const std::string& strName, uint32_t intSize, int64_t lower, int64_t upper,
                              bool dyanamicSize, bool isPtr) {
    PVarType t = newType(strName, intSize, dyanamicSize, isPtr);
    t->int_lower = lower;
    t->int_upper = upper;
    t->signed_ = lower < 0;
    t->vt = dtInteger;
    return t;
}

PVarType TVarManager::addType(const std::string& strName, uint32_t intSize, long double lower, long double upper,
                              bool dyanamicSize, bool isPtr) {
    PVarType t = newType(strName, intSize, dyanamicSize, isPtr);
    t->real_lower = toTavExt(lower);
    t->real_upper = toTavExt(upper);
    t->signed_ = lower < 0;
    t->vt = dtFloat;
    return t;
}

PVar TVarManager::addVar(TVarMode md, const std::string& strName, PVarType tp, uint32_t mult, uint32_t addr) {
    const uint64_t bytes = uint64_t(mult) * (tp ? tp->size : 0);
    if (bytes > 0xFFFFFFFFull) throw std::length_error("variable larger than 4 GiB");
    auto* v = new TVar{};
    v->address = addr;
    tavAssign(v->name, strName);
    v->mode = md;
    v->type_ = tp;
    v->multiplier = mult;
    // No content until an initial value needs it: a large uninitialised
    // array costs nothing here.
    F_Vars.push_back(v);
    if (Idents)
        v->ident =
            static_cast<uint32_t>(Idents->addIdent(md == vmLocal ? itLocalVar : itGlobalVar, lowerAscii(strName), v));
    return v;
}

PVar TVarManager::getVar(uint32_t i) const { return i < F_Vars.size() ? F_Vars[i] : nullptr; }

PVarType TVarManager::getVarType(uint32_t i) const { return i < F_VarTypes.size() ? F_VarTypes[i] : nullptr; }

TVarField* TVarManager::addField(PVarType t, TFieldType ft, const std::string& name, PVarType fieldType, uint32_t mult,
                                 uint32_t offset, PFunction func) {
    TVarField f{};
    f.ft = ft;
    f.func = func;
    TVarField* r = tavArrayAppend(t->fields, f);
    tavAssign(r->variable.name, name);
    r->variable.type_ = fieldType;
    r->variable.multiplier = mult;
    r->variable.address = offset;
    t->fieldcount = tavCount(t->fields);
    return r;
}

void TVarManager::resizeVarTypes() {
    if (ptrSize == 0 || ptrSize > 8) return;  // no word size to follow
    const uint32_t n = 8 * ptrSize;
    for (PVarType t : F_VarTypes) {
        if (!t->dynSize) continue;
        t->size = ptrSize;
        if (t->signed_) {
            t->int_lower = n == 64 ? INT64_MIN : -(int64_t(1) << (n - 1));
            t->int_upper = n == 64 ? INT64_MAX : (int64_t(1) << (n - 1)) - 1;
        } else {
            t->int_lower = 0;
            t->int_upper = n == 64 ? kAllBits : int64_t((uint64_t(1) << n) - 1);
        }
    }
}

TVarField* findField(const TVarType* t, const std::string& strName) {
    if (!t || t->fieldcount == 0 || !t->fields) return nullptr;
    const std::string key = lowerAscii(strName);
    const uint32_t n = std::min(t->fieldcount, tavCount(t->fields));
    for (uint32_t i = 0; i < n; ++i)
        if (tavView(t->fields[i].variable.name) == key) return &t->fields[i];
    return nullptr;
}

long double typeRealLower(const TVarType* t) { return fromTavExt(t->real_lower); }
long double typeRealUpper(const TVarType* t) { return fromTavExt(t->real_upper); }
