#include "classes/macro_manager.h"

#include "reader/afile.h"
#include "classes/ident_manager.h"
#include "reader/cur_token.h"
#include "global.h"

TMacroCallHandler MacroCallHandler = nullptr;

namespace {

constexpr uint32_t ALL_SCOPES = TSuperStringList::ALL_SCOPES;

}  // namespace

TMacro::TMacro(const std::string& strName, TMacroType tp) : name(strName), type_(tp) {
    if (tp == mtFunc) {
        result = new TCurrentToken();
        result->setSymbol(';');
    }
    code = TAFile::Create();
    F_OwnsCode = Compiler == nullptr;  // Create registers with the compiler when there is one
}

TMacro::~TMacro() {
    for (uint32_t i = 0; i < params.Count(); ++i) delete static_cast<TCurrentToken*>(params.GetItem(i));
    delete result;
    if (F_OwnsCode) delete code;
}

void TMacro::addParam(const std::string& strName) {
    params.Add(lowerAscii(strName), nullptr, 0);
    ++paramcount;
}

void TMacro::setParam(uint32_t id, TCurrentToken* p) {
    if (id < params.Count()) params.SetItem(id, p);
    else params.Add(" ", p, 1);
}

void TMacro::endMacro() {
    for (uint32_t i = params.Count(); i-- > 0;) {
        delete static_cast<TCurrentToken*>(params.GetItem(i));
        if (params.GetSSLItem(i)->scope != 0) params.Delete(i);
        else params.SetItem(i, nullptr);
    }
}

int TMacro::indexOfParam(const std::string& strName) const {
    return params.IndexOf(lowerAscii(strName), true, ALL_SCOPES);
}

TCurrentToken* TMacro::setVariable(const std::string& strName, const TCurrentToken& value) {
    int i = indexOfParam(strName);
    auto* tok = i >= 0 ? static_cast<TCurrentToken*>(params.GetItem(static_cast<uint32_t>(i))) : nullptr;
    if (!tok) {
        tok = new TCurrentToken();
        if (i >= 0) params.SetItem(static_cast<uint32_t>(i), tok);
        else params.Add(lowerAscii(strName), tok, 1);
    }
    tok->setCurToken(value);
    return tok;
}

TMacroManager::TMacroManager() {
    F_Master = new TMacro("master", mtProc);
    F_CurMacro = F_Master;
}

TMacroManager::~TMacroManager() {
    delete F_Master;
    for (TMacro* m : F_List) delete m;
}

TMacro* TMacroManager::newMacro(const std::string& strName, TMacroType tp) {
    auto* m = new TMacro(strName, tp);
    F_List.push_back(m);
    m->ident = static_cast<uint32_t>(Idents->addIdent(itMacro, lowerAscii(strName), m));
    return m;
}
