#pragma once
#include <cstdint>
#include <string>

#include "classes/super_string_list.h"
#include "tavik/plugin_api.h"

// Import libraries by exact name, each with its reachable imported functions
// in order of first marking.
class TImportManager {
public:
    TImportManager() = default;
    ~TImportManager();
    TImportManager(const TImportManager&) = delete;
    TImportManager& operator=(const TImportManager&) = delete;

    int32_t addImportLib(const std::string& name);
    void addImportRef(uint32_t dw, PFunction func);

    uint32_t Count() const { return F_List.Count(); }
    PImports getLib(uint32_t i) const;  // nil when i >= count
    const TSuperStringList& List() const { return F_List; }

private:
    TSuperStringList F_List;  // key: name as written; object: owned TImports
};
