#include "classes/register_manager.h"

#include <algorithm>
#include <iterator>

void TRegisterManager::saveState(PRegStates ptr) const { std::copy(std::begin(Registers), std::end(Registers), ptr); }

void TRegisterManager::restoreState(const TRegState* ptr) {
    std::copy(ptr, ptr + REG_STATE_COUNT, std::begin(Registers));
}
