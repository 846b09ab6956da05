#include "classes/function_manager.h"

#include <memory>
#include <new>

#include "classes/import_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "exceptions.h"
#include "global.h"

TFunctionManager::~TFunctionManager() {
    // The slots, their lists and the fixups go with the arenas.
    for (PFunction f : F_List) {
        for (uint32_t i = 0; i < tavCount(f->Params); ++i) tavFree(f->Params[i].name);
        tavArrayFree(f->Params);
        tavFree(f->Buffer);
        if (f->ImportName != f->Name && !isShared(f->ImportName)) tavFree(f->ImportName);
        if (!isShared(f->Name)) tavFree(f->Name);
    }
    for (auto& [text, block] : F_Shared) tavFree(block);
}

void TFunctionManager::shareText(TAVSTR& field, std::string_view s) {
    if (!isShared(field)) tavFree(field);
    field = nullptr;
    if (s.empty()) return;
    auto it = F_Shared.find(s);
    if (it == F_Shared.end()) {
        TAVSTR block = nullptr;
        tavAssign(block, s);
        it = F_Shared.emplace(std::string(s), block).first;
        F_SharedSet.insert(block);
    }
    field = it->second;
}

void TFunctionManager::importAsNamed(PFunction f) {
    if (f->ImportName == f->Name) return;
    if (!isShared(f->ImportName)) tavFree(f->ImportName);
    f->ImportName = f->Name;
}

void TFunctionManager::assignText(TAVSTR& field, std::string_view s) {
    if (isShared(field)) field = nullptr;
    tavAssign(field, s);
}

PFunction TFunctionManager::CreateFunction(TLabelType lType, PFunction parent) {
    PFunction f = F_Records.make();
    f->Parent = parent;
    f->Address = 0xFFFFFFFFu;
    f->DLLIndex = -1;
    f->Type_ = lType;
    f->CallConvention = ccStdcall;
    f->FixupList = &F_NoLists.fixups;
    f->UsesList = &F_NoLists.uses;
    f->DependFuncs = &F_NoLists.depends;
    f->FuncIndex = static_cast<uint32_t>(F_List.size());
    F_List.push_back(f);
    return f;
}

void TFunctionManager::ownLists(PFunction f) {
    const bool fx = f->FixupList == &F_NoLists.fixups, us = f->UsesList == &F_NoLists.uses,
               dp = f->DependFuncs == &F_NoLists.depends;
    if (!fx && !us && !dp) return;
    TLists* l = F_Lists.make();
    if (fx) f->FixupList = &l->fixups;
    if (us) f->UsesList = &l->uses;
    if (dp) f->DependFuncs = &l->depends;
}

PFunction TFunctionManager::getFunc(uint32_t index) const { return index < F_List.size() ? F_List[index] : nullptr; }

std::string TFunctionManager::Convention2String(TCallingConvention key) { return key == ccStdcall ? "stdcall" : ""; }

TFunctionHostInfo& TFunctionManager::hostInfo(const TFunction* f) {
    if (!f || f->FuncIndex >= F_List.size() || F_List[f->FuncIndex] != f)
        throw EInternalError("Function record not held by the function manager");
    if (f->FuncIndex >= F_HostInfo.size()) F_HostInfo.resize(F_List.size());
    return F_HostInfo[f->FuncIndex];
}

void TFunctionManager::dropHostInfo(const TFunction* f) {
    if (!f || f->FuncIndex >= F_List.size() || F_List[f->FuncIndex] != f)
        throw EInternalError("Function record not held by the function manager");
    if (f->FuncIndex < F_HostInfo.size()) F_HostInfo[f->FuncIndex] = TFunctionHostInfo{};
}

void appendCode(PFunction f, const void* bytes, int32_t len) {
    if (CompileFlags.peek_mode || !f || len <= 0) return;
    tavAppend(f->Buffer, bytes, static_cast<size_t>(len));
    f->BufLen = tavBlockCount(f->Buffer);
}

void appendCode(PFunction f, const uint8_t* bytes, int32_t len) { appendCode(f, static_cast<const void*>(bytes), len); }

void appendCode(PFunction f, const std::string& str) {
    if (str.size() > 0x7FFFFFFFu) throw std::length_error("code longer than 2 GiB");
    appendCode(f, str.data(), static_cast<int32_t>(str.size()));
}

uint32_t addParam(PFunction f, PVarType parType, const std::string& parName, bool addVar) {
    if (CompileFlags.peek_mode) return f->ParamCount;
    // every parameter takes whole stack slots, as the caller pushes it
    const uint32_t size = parType ? parType->size : 0;
    const uint32_t word = ptrSize ? ptrSize : 4;
    const uint32_t slot = (size + word - 1) / word * word;
    f->ParamCount += 1;
    f->ParamSize += slot;
    TFuncParam p{};
    p.type_ = parType;
    TFuncParam* added = tavArrayAppend(f->Params, p);
    tavAssign(added->name, parName);
    // The frame addresses a parameter at its address plus one word, so the
    // address is the slot's start plus a word (for a one-word slot: the
    // block size up to and including it).
    if (addVar && VarMan) VarMan->addVar(vmLocal, parName, parType, 1, f->ParamSize - slot + word);
    return f->ParamCount;
}

namespace {
// Depth-first marking in the order the dependencies were recorded, with an
// explicit stack so long dependency chains cannot exhaust the call stack.
void markReachable(PFunction root) {
    struct Frame {
        PFunction f;
        size_t next;
    };
    if (!root || root->IsCalled) return;
    if (root->DependFuncs->items.empty() && root->DLLIndex == -1) {
        root->IsCalled = 1;  // nothing further to mark
        return;
    }
    std::vector<Frame> stack;
    auto enter = [&stack](PFunction f) {
        if (!f || f->IsCalled) return;
        if (f->DLLIndex != -1 && Imports) Imports->addImportRef(static_cast<uint32_t>(f->DLLIndex), f);
        f->IsCalled = 1;
        stack.push_back({f, 0});
    };
    enter(root);
    while (!stack.empty()) {
        Frame& top = stack.back();
        const auto& deps = top.f->DependFuncs->items;
        if (top.next >= deps.size()) {
            stack.pop_back();
            continue;
        }
        PFunction d = deps[top.next++];
        enter(d);  // may grow the stack: top is not used after this
    }
}
}  // namespace

void setCalled(PFunction f, PFunction from) {
    if (!f) return;
    if (from && !from->IsCalled) {
        if (FuncMan) FuncMan->ownLists(from);
        from->DependFuncs->items.push_back(f);
        return;
    }
    markReachable(f);
}
