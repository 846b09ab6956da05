#include "compiler.h"

#include <algorithm>

#include "afile.h"
#include "common.h"
#include "global.h"
#include "log.h"

TCompiler::TCompiler() { CompileFlags.stackframe_on = 1; }

TCompiler::~TCompiler() {
    for (TAFile* f : F_ListFiles) delete f;
    delete F_CurToken;
    delete F_PeekToken;
}

void TCompiler::InitCompiler() {
    if (!F_CurToken) F_CurToken = new TCurrentToken();
    if (!F_PeekToken) F_PeekToken = new TCurrentToken();
    InstallReaderLogHooks();
}

void TCompiler::LoadProject(const std::string& fileName) { F_ProjectFile = fileName; }

bool TCompiler::Compile() {
    Log->FatalError("Compiling is not available yet: " + F_ProjectFile, false);
}

uint32_t TCompiler::GetTotalLines() const {
    uint32_t total = 0;
    for (const TAFile* f : F_ListFiles) total += f->F_TotalLines;
    return total;
}

void TCompiler::addFile(TAFile* file) { F_ListFiles.push_back(file); }

bool TCompiler::ExpectSymbol(const std::string& expected) {
    return F_CurFile->moveNextToken() == ttSymbol && F_CurToken->F_String == expected;
}

TTavToken TCompiler::ExpectToken(std::initializer_list<TTavToken> kinds) {
    TTavToken t = F_CurFile->moveNextToken();
    return std::find(kinds.begin(), kinds.end(), t) != kinds.end() ? t : ttNone;
}

TIdentType TCompiler::ExpectIdentType(std::initializer_list<TIdentType> kinds) {
    if (F_CurFile->moveNextToken() != ttIdent) return itNone;
    TIdentType it = F_CurToken->F_IdentType;
    return std::find(kinds.begin(), kinds.end(), it) != kinds.end() ? it : itNone;
}

bool TCompiler::ExpectFreeIdent() {
    return F_CurFile->moveNextToken() == ttIdent && F_CurToken->F_IdentType == itNone;
}

TKeyword TCompiler::ExpectKeyword(std::initializer_list<TKeyword> keys) {
    if (F_CurFile->moveNextToken() != ttIdent) return keyNone;
    TKeyword k = F_CurToken->F_Keyword;
    return std::find(keys.begin(), keys.end(), k) != keys.end() ? k : keyNone;
}
