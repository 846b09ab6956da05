#pragma once
#include <cstddef>

#include "tavik/plugin_api.h"

// The record type a register is assumed to point to, and the pending one
// that takes effect at the register's next use as an operand.
struct TRegState {
    PVarType assume = nullptr;
    PVarType tempAssume = nullptr;
};

constexpr size_t REG_STATE_COUNT = 32;  // REG_AL .. REG_RDI
using TRegStates = TRegState[REG_STATE_COUNT];
using PRegStates = TRegState*;

class TRegisterManager {
public:
    TRegisterManager() = default;

    void saveState(PRegStates ptr) const;     // copies all entries out
    void restoreState(const TRegState* ptr);  // copies all entries back

    TRegStates Registers{};
};
