#pragma once
#include <cstdint>
#include <vector>

#include "tavik/plugin_api.h"

// Kinds of open control blocks.
enum TBST : uint8_t { bstIF = 0, bstWHILE = 1, bstREPEAT = 2 };

constexpr int BLOCK_COND_LEVELS = 24;  // nesting levels of a condition
constexpr int BLOCK_COND_LABELS = 24;  // pending labels per level

// One open if, while or repeat with its labels and pending and/or jumps.
// The handlers allocate and fill items; the stack frees those left on it.
struct TBlockStackItem {
    TBST type_ = bstIF;
    PFunction startLbl = nullptr;
    PFunction codeLbl = nullptr;
    PFunction elseLbl = nullptr;
    PFunction endLbl = nullptr;
    uint32_t orS[BLOCK_COND_LEVELS] = {};
    uint32_t andS[BLOCK_COND_LEVELS] = {};
    PFunction orSP[BLOCK_COND_LEVELS][BLOCK_COND_LABELS] = {};
    PFunction andSP[BLOCK_COND_LEVELS][BLOCK_COND_LABELS] = {};
    // Past these bounds the tables above hold only zeros.
    uint32_t usedLevels = 0;
    uint32_t usedLabels = 0;
};
using PBlockStackItem = TBlockStackItem*;

// The control blocks open while their bodies compile; the last item is the top.
class TBlockStack {
public:
    TBlockStack() = default;
    ~TBlockStack();
    TBlockStack(const TBlockStack&) = delete;
    TBlockStack& operator=(const TBlockStack&) = delete;

    void push(PBlockStackItem bs);
    PBlockStackItem pop();  // the caller frees the item
    PBlockStackItem getTop() const;
    PBlockStackItem getTopRepType() const;  // innermost while or repeat
    PBlockStackItem getTopIfType() const;   // innermost if
    size_t Count() const { return F_List.size(); }

private:
    std::vector<PBlockStackItem> F_List;
};
