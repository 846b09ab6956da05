#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "classes/super_string_list.h"

class TAFile;
class TCurrentToken;

enum TMacroType : uint8_t { mtProc = 0, mtFunc = 1 };

// paramcount of a macro that takes any number of arguments.
constexpr uint32_t MACRO_UNCOUNTED = 0xFFFFFFFFu;

// An inline macro: parameter names, the tokens bound during one expansion,
// the result token of a function macro and the body text.
class TMacro {
public:
    TMacro(const std::string& strName, TMacroType tp);
    ~TMacro();
    TMacro(const TMacro&) = delete;
    TMacro& operator=(const TMacro&) = delete;

    // Declares a parameter; names are kept lower-cased, as "$name" finds them.
    void addParam(const std::string& strName);
    // Binds argument id (the macro takes ownership of p).
    void setParam(uint32_t id, TCurrentToken* p);
    // Frees the bound tokens and drops everything appended during the expansion.
    void endMacro();

    // Index of a parameter or compile-time variable, any letter case; -1 if none.
    int indexOfParam(const std::string& strName) const;
    // Sets the compile-time variable strName (any letter case) to a copy of
    // value, adding it when absent; returns the stored token.
    TCurrentToken* setVariable(const std::string& strName, const TCurrentToken& value);

    uint32_t ident = 0;
    std::string name;
    uint32_t paramcount = 0;
    TSuperStringList params;  // objects: owned TCurrentToken* or nil
    TMacroType type_;
    bool parens_req = true;
    TCurrentToken* result = nullptr;  // owned; nil for mtProc
    TAFile* code = nullptr;           // owned by the compiler when one exists

private:
    bool F_OwnsCode = false;
};

// Every macro the source defines, and "master", the state of being in none.
class TMacroManager {
public:
    TMacroManager();
    ~TMacroManager();
    TMacroManager(const TMacroManager&) = delete;
    TMacroManager& operator=(const TMacroManager&) = delete;

    TMacro* newMacro(const std::string& strName, TMacroType tp);

    std::vector<TMacro*> F_List;
    TMacro* F_CurMacro = nullptr;
    TMacro* F_Master = nullptr;
    uint32_t curpars = 0;
};

// Expands a macro call met while reading a word (set by the macro call
// handler); without it a macro call cannot be compiled.
using TMacroCallHandler = void (*)(TMacro* mac);
extern TMacroCallHandler MacroCallHandler;
