#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "cur_token.h"

class TAFile;
struct TFunction;

// The compile driver. Until the statement loop exists it only holds the
// project name and refuses to compile; the front end already reads through
// its current file and tokens.
class TCompiler {
public:
    TCompiler();
    ~TCompiler();
    TCompiler(const TCompiler&) = delete;
    TCompiler& operator=(const TCompiler&) = delete;

    void InitCompiler();
    void LoadProject(const std::string& fileName);
    bool Compile();
    uint32_t GetTotalLines() const;

    // Takes ownership of a source buffer (every TAFile::Create lands here).
    void addFile(TAFile* file);

    // Each reads exactly one token from the current file into F_CurToken.
    bool ExpectSymbol(const std::string& expected);
    TTavToken ExpectToken(std::initializer_list<TTavToken> kinds);
    TIdentType ExpectIdentType(std::initializer_list<TIdentType> kinds);
    bool ExpectFreeIdent();
    TKeyword ExpectKeyword(std::initializer_list<TKeyword> keys);

    std::vector<TAFile*> F_ListFiles;  // owned; the macro "master" body first
    TAFile* F_CurFile = nullptr;
    TFunction* F_CurFunc = nullptr;
    TCurrentToken* F_CurToken = nullptr;
    TCurrentToken* F_PeekToken = nullptr;

private:
    std::string F_ProjectFile;
};
