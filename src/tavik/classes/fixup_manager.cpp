#include "classes/fixup_manager.h"

#include "classes/function_manager.h"
#include "common.h"
#include "exceptions.h"
#include "global.h"

PFixup TFixupManager::newFixup(TFixupType ft, PFunction func, uint32_t pos, uint8_t size, uint32_t ofs, TJmpType jt,
                               int32_t& index) {
    PFunction owner = func ? func : (FuncMan ? FuncMan->getFunc(0) : nullptr);
    if (!owner) throw EInternalError("Fixup without a function to hold it");
    if (FuncMan) FuncMan->ownLists(owner);
    index = static_cast<int32_t>(owner->FixupList->items.size());
    PFixup x = owner->FixupList->items.add();
    x->hint = ft;
    x->offset = ofs;
    x->size = size;
    x->jmp = jt;
    x->codebits = static_cast<uint8_t>(CompileFlags.cpu_bits);  // a near jump takes its width from it
    x->parentfunc = func;
    x->position = func ? pos + func->BufLen : pos;
    return x;
}

int32_t TFixupManager::addFixup(TFixupType ft, PFunction func, uint32_t index, uint32_t pos, uint8_t size, uint32_t ofs,
                                TJmpType jt) {
    int32_t i;
    newFixup(ft, func, pos, size, ofs, jt, i)->index = index;
    return i;
}

int32_t TFixupManager::addFixup(TFixupType ft, PFunction func, void* dt, uint32_t pos, uint8_t size, uint32_t ofs,
                                TJmpType jt) {
    int32_t i;
    newFixup(ft, func, pos, size, ofs, jt, i)->data = dt;
    return i;
}

PFixup TFixupManager::getFixup(PFunction func, uint32_t index) const {
    PFunction owner = func ? func : (FuncMan ? FuncMan->getFunc(0) : nullptr);
    if (!owner || index >= owner->FixupList->items.size()) return nullptr;
    return owner->FixupList->items[index];
}

uint32_t TFixupManager::Count(PFunction func) const {
    PFunction owner = func ? func : (FuncMan ? FuncMan->getFunc(0) : nullptr);
    return owner ? static_cast<uint32_t>(owner->FixupList->items.size()) : 0;
}
