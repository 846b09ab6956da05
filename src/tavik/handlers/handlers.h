#pragma once
// The statement handlers. The statement loop calls each with the first token
// of its statement current; a handler reads the rest of the statement from
// src() and emits code through Compiler->execInstruction.
#include <cstdint>
#include <string>

#include "compiler.h"
#include "encoder/operand.h"
#include "global.h"
#include "tavik/plugin_api.h"

class TMacro;

// The source being read and its current token.
inline TAFile* src() { return Compiler->F_CurFile; }
inline TCurrentToken* tok() { return Compiler->F_CurToken; }

// Procedures, declarations, entry, uses, imports and exports.
PFunction handle_PROCEDURE(bool isFunc);
PFunction handle_FUNCDECL(int32_t dwImport, bool hasThis);
void handle_ENTRY();
void handle_USES();
void handle_IMPORTS();
void handle_EXPORTS();

// Calls and return.
void handle_FUNCCALL(bool first, POperand thisPar);
// The operand that calls f from cur: its pointer variable when f has one,
// else its label.
void callOperand(PFunction cur, PFunction f, TOperand& target);
void handle_RETURN();

// Operator statements.
void handle_VAR();
void handle_REGISTER();
void handle_SEGMENT();
void handle_BASEEXP();

// Compile-time expressions: leaves the value in the current token.
void handle_MACROVAR_tokens();

// Data declarations.
void handle_TYPE();
void handle_VARTYPE();
void handle_BLOCK();
void handle_CONST();
void handle_ENUM();

// Conditions and control flow.
void handle_IF();
void handle_WHILE();
void handle_REPEAT();
void handle_CONTINUE();
void handle_BREAK();
void handle_EXITIF();

// Inline macros; mac nil: the macro of the current token.
void handle_INLINE();
void handle_MACROCALL(TMacro* mac);

// Directives: true ends the calling statement loop (end, else, elseif, return).
bool handle_DIRECTIVE();
void handle_DIRECTIVE_macrovar();

// Include and resource directives.
void handle_DIRECTIVE_include(bool _tryonly);
void handle_DIRECTIVE_doinclude(const std::string& s, bool _tryonly);
void handle_DIRECTIVE_resource();
