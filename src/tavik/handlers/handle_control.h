#pragma once
// The condition compiler behind if, while, repeat, break and exitif. Each
// works on the block item b: its code and else labels are where the whole
// condition goes when it holds or fails, its tables hold the and/or labels.
#include <cstdint>

#include "classes/block_stack.h"
#include "reader/cur_token.h"
#include "encoder/operand.h"

// A condition at a nesting level (0: the whole one); the operator of its
// last comparison, whose jump the caller emits.
TMathOp handle_IFEXPRESSION(PBlockStackItem b, uint32_t level);
// One comparison; moATrue or moAFalse when both operands are constants.
TMathOp handle_DOCMP(uint32_t level);
TMathOp handle_CompareConsts(const TOperand* o1, const TOperand* o2, TMathOp co);
// A jump to target when the comparison fails (reverse) or holds.
void handle_IFJUMP(bool reverse, TMathOp mo, PFunction target);
// The and/or label of a level and index, made when first asked for; bIsDec
// places it here, else it is marked as a jump target.
PFunction handle_createANDIfNotExist(PBlockStackItem b, uint32_t level, uint32_t cnt, bool bIsDec);
PFunction handle_createORIfNotExist(PBlockStackItem b, uint32_t level, uint32_t cnt, bool bIsDec);
// After cL (where a holding condition goes) and eL (where a failing one
// goes) are placed: labels still asked for continue there; the tables are
// cleared.
void updateLabelStack(PBlockStackItem b, PFunction cL, PFunction eL);
