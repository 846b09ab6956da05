#include "classes/ident_manager.h"

#include "exceptions.h"
#include "reader/word_table.h"

TIdentManager::~TIdentManager() = default;

uint32_t TIdentManager::upScope() {
    if (F_CurrentScope == 0xFFFFFFFEu) throw EInternalError("Too many nested scopes");
    return ++F_CurrentScope;
}

void TIdentManager::deleteScope(uint32_t sc) {
    if (F_CurrentScope == 0) throw EInternalError("The global scope cannot be left");
    if (sc == CURRENT_SCOPE) sc = F_CurrentScope;
    // Scopes never decrease along the list (an item's scope is the current one
    // when it is added, and closing a scope removes everything at or above
    // it), so the identifiers to remove are exactly the tail.
    while (F_List.Count() > 0) {
        uint32_t last = F_List.Count() - 1;
        PSSLItem it = F_List.GetSSLItem(last);
        if (it->scope < sc) break;
        if (F_Idents.empty() || it->item != &F_Idents.back())
            throw EInternalError("Identifier records out of step with their list");
        F_List.Delete(last);
        F_Idents.pop_back();
    }
    --F_CurrentScope;
}

int32_t TIdentManager::addIdent(TIdentType ty, const std::string& strName, void* data) {
    words::noteDeclared(strName);
    TIdent& id = F_Idents.emplace_back(TIdent{ty, F_CurrentScope, strName, data});
    try {
        return F_List.Add(lowerAscii(strName), &id, F_CurrentScope);
    } catch (...) {
        F_Idents.pop_back();
        throw;
    }
}

PIdent TIdentManager::findIdent(std::string_view strName, uint32_t scope_) const {
    // the key lower-cased on the stack; long names take a string
    char buf[64];
    if (strName.size() > sizeof buf) return static_cast<PIdent>(F_List.ItemIndexOf(lowerAscii(strName), true, scope_));
    uint32_t h = 0;  // HashStringA of the lower-cased key, in the same pass
    for (size_t i = 0; i < strName.size(); ++i) {
        const char c = ascii::toLower(strName[i]);
        buf[i] = c;
        h = HashStep(h, static_cast<unsigned char>(c));
    }
    return static_cast<PIdent>(F_List.ItemOfHashed(std::string_view(buf, strName.size()), h, scope_));
}

PIdent TIdentManager::getIdent(uint32_t index) const {
    return index < F_List.Count() ? static_cast<PIdent>(F_List.GetItem(index)) : nullptr;
}
