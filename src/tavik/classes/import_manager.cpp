#include "classes/import_manager.h"

#include "classes/function_manager.h"
#include "classes/shared_records.h"
#include "exceptions.h"

TImportManager::~TImportManager() {
    for (uint32_t i = 0; i < F_List.Count(); ++i) {
        auto* lib = static_cast<PImports>(F_List.GetItem(i));
        tavFree(lib->name);
        delete lib->funcs;
        delete lib;
    }
}

int32_t TImportManager::addImportLib(const std::string& name) {
    int32_t i = F_List.IndexOf(name, true, TSuperStringList::ALL_SCOPES);
    if (i >= 0) return i;
    auto* lib = new TImports{};
    tavAssign(lib->name, name);
    lib->funcs = new TFuncList;
    return F_List.Add(name, lib, 0);
}

void TImportManager::addImportRef(uint32_t dw, PFunction func) {
    PImports lib = getLib(dw);
    if (!lib) throw EInternalError("Import library index " + std::to_string(dw) + " out of range");
    lib->funcs->items.push_back(func);
}

PImports TImportManager::getLib(uint32_t i) const {
    return i < F_List.Count() ? static_cast<PImports>(F_List.GetItem(i)) : nullptr;
}
