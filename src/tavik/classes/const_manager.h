#pragma once
#include <concepts>
#include <cstdint>
#include <string>

#include "classes/super_string_list.h"
#include "tavik/plugin_api.h"

// The constant pool: one record per kind and value text, the first addition
// fixing its name. Each addition also names the record in Idents (itConst).
class TConstManager {
public:
    TConstManager() = default;
    ~TConstManager();
    TConstManager(const TConstManager&) = delete;
    TConstManager& operator=(const TConstManager&) = delete;

    int32_t addConst(const std::string& strName, const std::string& value, TConstType tt);
    PConst addConstItem(const std::string& strName, const std::string& value, TConstType tt);
    int32_t addConst(const std::string& strName, long double value, TConstType tt);
    int32_t addConst(const std::string& strName, int64_t value, TConstType tt);
    template <std::integral I>
    int32_t addConst(const std::string& strName, I value, TConstType tt) {
        return addConst(strName, static_cast<int64_t>(value), tt);
    }
    int32_t addConst(const std::string& strName, const char* value, TConstType tt) {
        return addConst(strName, std::string(value), tt);
    }

    PConst getConst(uint32_t i) const;  // nil when i >= count
    uint32_t Count() const { return F_List.Count(); }
    // Drops every constant nothing referred to; the rest keep their order.
    void clearInactive();

    // Key text of a number, as the pool forms it.
    static std::string intText(int64_t v);
    static std::string floatText(long double v);

private:
    // The record of kind tt and value text, and its index; created when absent.
    PConst pool(const std::string& strName, const std::string& text, TConstType tt, int32_t& index, bool& created);
    TSuperStringList F_List;  // key: kind and value text
};
