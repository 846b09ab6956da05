#include "classes/define_manager.h"

#include "classes/ident_manager.h"
#include "reader/cur_token.h"
#include "global.h"

TDefineManager::~TDefineManager() {
    for (uint32_t i = 0; i < F_List.Count(); ++i) delete static_cast<TCurrentToken*>(F_List.GetItem(i));
}

TCurrentToken* TDefineManager::append(const std::string& strName, TCurrentToken* tok) {
    tok->F_DefName = strName;
    const uint32_t scope = Idents ? Idents->F_CurrentScope : 0;
    F_List.Add(strName, tok, scope);
    if (Idents) Idents->addIdent(itDefine, strName, tok);
    return tok;
}

TCurrentToken* TDefineManager::addDefine(const std::string& strName, const TCurrentToken* tk) {
    auto* tok = new TCurrentToken;
    if (tk) tok->setCurToken(*tk);
    return append(strName, tok);
}

TCurrentToken* TDefineManager::addDefine(const std::string& strName, int64_t v) {
    auto* tok = new TCurrentToken;
    tok->setInteger(4, std::to_string(v), v);
    return append(strName, tok);
}

TCurrentToken* TDefineManager::getDefine(const std::string& strName) const {
    const uint32_t scope = Idents ? Idents->F_CurrentScope : 0;
    return static_cast<TCurrentToken*>(F_List.ItemIndexOf(strName, true, scope));
}
