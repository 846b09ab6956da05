#include "classes/block_stack.h"

TBlockStack::~TBlockStack() {
    while (!F_List.empty()) {
        delete F_List.back();
        F_List.pop_back();
    }
}

void TBlockStack::push(PBlockStackItem bs) { F_List.push_back(bs); }

PBlockStackItem TBlockStack::pop() {
    if (F_List.empty()) return nullptr;
    PBlockStackItem top = F_List.back();
    F_List.pop_back();
    return top;
}

PBlockStackItem TBlockStack::getTop() const { return F_List.empty() ? nullptr : F_List.back(); }

PBlockStackItem TBlockStack::getTopRepType() const {
    for (auto it = F_List.rbegin(); it != F_List.rend(); ++it)
        if ((*it)->type_ == bstWHILE || (*it)->type_ == bstREPEAT) return *it;
    return nullptr;
}

PBlockStackItem TBlockStack::getTopIfType() const {
    for (auto it = F_List.rbegin(); it != F_List.rend(); ++it)
        if ((*it)->type_ == bstIF) return *it;
    return nullptr;
}
