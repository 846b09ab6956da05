#include "handlers/handlers.h"

#include <string>

#include "reader/afile.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/import_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "global.h"
#include "log.h"

namespace {

// Consumes the next character when it is c (blanks skipped unless direct).
bool takeChar(char c, bool direct = false) {
    if (src()->peekNextRealChar(!direct) != c) return false;
    src()->commitPeekPosition();
    return true;
}

// The word just read as it stands in the source: a declared name comes back
// lower-cased from the tokenizer, but names in import libraries keep their case.
std::string wordAsWritten() {
    const std::string& s = tok()->F_String;
    const TAFile* f = src();
    if (f->CurChar >= s.size() && f->CurChar <= f->F_FileLength) {
        std::string raw(f->F_Buffer.substr(f->CurChar - s.size(), s.size()));
        if (lowerAscii(raw) == lowerAscii(s)) return raw;
    }
    return s;
}

std::string typeName(const TVarType* t) { return t ? tavString(t->name) : std::string(); }

// The function name of a declaration or definition: optional stdcall in front.
void readFunctionName() {
    if (Compiler->ExpectToken({ttIdent}) == ttNone) Log->FatalUnexpectedToken("");
    if (tok()->F_Keyword == keyStdcall) {
        if (Compiler->ExpectToken({ttIdent}) == ttNone) Log->FatalUnexpectedToken("");
        if (tok()->F_Keyword != keyNone) Log->FatalRedeclared();
    } else if (tok()->F_Keyword != keyNone) {
        Log->FatalUnexpectedToken("");
    }
}

// Parameter groups after "(": "type name [, name] [; type name ...] )".
// declaration: a type written with "*" is the plain pointer type; add false:
// the parameters are not recorded (a method's come with its definition).
void readParams(PFunction f, bool declaration, bool add) {
    if (takeChar(')')) return;
    for (;;) {
        if (Compiler->ExpectIdentType({itType}) == itNone) Log->FatalUnexpectedToken("");
        auto* t = static_cast<PVarType>(tok()->F_Pointer);
        const std::string& written = tok()->F_String;
        if (declaration && !written.empty() && written.back() == '*') t = VarMan->F_PtrType;
        for (;;) {
            if (Compiler->ExpectToken({ttIdent}) == ttNone || tok()->F_Keyword != keyNone)
                Log->FatalUnexpectedToken("");
            if (add) addParam(f, t, tok()->F_String, !declaration);
            if (src()->moveNextToken() != ttSymbol) Log->FatalUnexpectedToken("");
            const std::string sep = tok()->F_String;
            if (sep == ")") return;
            if (sep == ";") break;
            if (sep != ",") Log->FatalUnexpectedToken("");
        }
    }
}

// The method of a block type that a definition "Type.member" names.
PFunction methodOf(PVarType t) {
    if (!takeChar('.') && !takeChar(':')) Log->FatalUnexpectedToken("46645");
    if (Compiler->ExpectToken({ttIdent}) == ttNone) Log->FatalUnexpectedToken("3445334");
    const std::string member = tok()->F_String;
    const std::string tn = typeName(t);
    TVarField* fld = findField(t, member);
    if (!fld) Log->FatalError("[35353] The var type \"" + tn + "\" does not have a method \"" + member + "\"");
    if (fld->ft != vftFunc) Log->FatalError("[35354] " + tn + " member \"" + member + "\" is not a method");
    auto* fn = static_cast<PFunction>(fld->func);
    if (!fn || !fn->DeclareOnly)
        Log->FatalError("[35355] " + tn + ":" + member + " has already been declared or is not a valid method");
    return fn;
}

constexpr uint32_t kPage = 4096;

void putLE32(std::string& code, uint32_t v) {
    for (int b = 0; b < 4; ++b) code += static_cast<char>(v >> (8 * b));
}

// A label of f at the given offset of its code.
PFunction codeLabel(PFunction f, const std::string& name, uint32_t offset) {
    PFunction lbl = FuncMan->CreateFunction(ltLabel, f);
    tavAssign(lbl->Name, name);
    Compiler->placeLabel(lbl, f);
    lbl->Address = offset;
    setCalled(lbl, f);  // the linker moves it as the code before it shrinks
    return lbl;
}

// Windows commits a thread's stack a page at a time, as the guard page below
// the committed part is touched: a frame of a page or more is reserved one
// page at a time, each page touched as it is reached. The locals' room then
// jumps to a loop after the procedure's code, which jumps back behind it.
void probeLargeFrame(PFunction f, int32_t localsFixup, uint32_t localsAt) {
    if (f->LocalCount == 0 || CompileFlags.peek_mode) return;
    PFixup fx = FixMan->getFixup(f, static_cast<uint32_t>(localsFixup));
    // 16-bit code has no pages to commit (and its frames stay below 64 KB).
    if (!fx || fx->codebits != 32) return;
    const uint32_t frame = (f->LocalSize + 3u) & ~3u;
    if (frame < kPage) return;
    const uint32_t pages = frame / kPage * kPage, rest = frame - pages;

    PFunction back = codeLabel(f, std::string(funcName(f)) + "$frame", localsAt + 6);
    PFunction loop = codeLabel(f, std::string(funcName(f)) + "$probe", f->BufLen);
    fx->hint = ftLabel;  // e9 rel32, nop
    fx->position = localsAt + 1;
    fx->size = 4;
    fx->index = loop->FuncIndex;
    const char jump[6] = {'\xE9', 0, 0, 0, 0, '\x90'};
    for (uint32_t i = 0; i < 6; ++i) f->Buffer[localsAt + i] = jump[i];

    // EBP equals ESP here: it holds the end of the whole pages meanwhile.
    std::string code = "\x81\xED";  // sub ebp, pages
    putLE32(code, pages);
    code += std::string("\x81\xEC\x00\x10\x00\x00", 6);  // sub esp, 4096
    code += "\x85\x24\x24";                              // test [esp], esp
    code += "\x3B\xE5";                                  // cmp esp, ebp
    code += "\x75\xF3";                                  // jne to the sub
    code += "\x81\xC5";                                  // add ebp, pages
    putLE32(code, pages);
    if (rest) {
        code += "\x81\xEC";  // sub esp, rest
        putLE32(code, rest);
        code += "\x85\x24\x24";  // test [esp], esp
    }
    appendCode(f, code);
    FixMan->addFixup(ftLabel, f, back->FuncIndex, 1, 4, 0, jtJMP);
    appendCode(f, std::string("\xE9\x00\x00\x00\x00", 5));  // jmp back
    Compiler->clearLastRet(f);
}

}  // namespace

PFunction handle_PROCEDURE(bool isFunc) {
    readFunctionName();
    PFunction f;
    if (tok()->F_IdentType == itType) {
        f = methodOf(static_cast<PVarType>(tok()->F_Pointer));
    } else {
        if (tok()->F_Keyword != keyNone || tok()->F_IdentType != itNone) Log->FatalRedeclared();
        f = FuncMan->CreateFunction(isFunc ? ltFunc : ltProc, nullptr);
        Idents->addIdent(isFunc ? itFunc : itProc, tok()->F_String, f);
    }
    tavAssign(f->Name, tok()->F_String);
    tavAssign(f->ImportName, tok()->F_String);
    f->CallConvention = ccStdcall;

    // Parameters and the body's own names live in the body's scope, which
    // the statement loop closes at the "}".
    FuncMan->hostInfo(f).bodyScope = Idents->upScope();
    if (f->DeclareOnly) addParam(f, VarMan->F_PtrType, "this", true);

    if (Compiler->ExpectToken({ttSymbol}) == ttNone) Log->FatalUnexpectedToken("4533");
    if (tok()->F_String == "(") {
        readParams(f, false, true);
        if (!Compiler->ExpectSymbol("{")) Log->FatalUnexpectedToken("");
    } else if (tok()->F_String != "{") {
        Log->FatalUnexpectedToken("4533");
    }

    const bool frame = CompileFlags.stackframe_on != 0;
    if (frame) {
        TOperand ebp, esp;
        ebp.setRegister(frameRegister());
        esp.setRegister(stackRegister());
        Compiler->execInstruction(f, "push", &ebp);
        Compiler->execInstruction(f, "mov", &ebp, &esp);
    }
    // Room for the locals' allocation, filled in or removed by the linker.
    const int32_t localsFixup = FixMan->addFixup(ftLocals, f, 0u, 0, static_cast<uint8_t>(ptrSize), 0, jtJMP);
    const uint32_t localsAt = f->BufLen;
    appendCode(f, std::string(6, '\x90'));

    Compiler->HandleDeclarations(static_cast<int32_t>(f->FuncIndex));

    // Without the frame a local sits below the stack pointer that every
    // access is measured from, and the parameters move by the allocation.
    if (!frame && f->LocalCount > 0)
        Log->FatalError("[6390] Local variables of " + std::string(funcName(f)) +
                        " need the stack frame (#set frame 1)");

    if (!Compiler->lastWasRet(f)) {
        Compiler->releasePushes(f);
        TOperand imm;
        imm.setImm(static_cast<int32_t>(f->ParamSize), ptrSize);
        Compiler->execInstruction(f, "ret", &imm);
    }
    probeLargeFrame(f, localsFixup, localsAt);
    f->DeclareOnly = 0;
    return f;
}

PFunction handle_FUNCDECL(int32_t dwImport, bool hasThis) {
    const bool bFunction = tok()->F_Keyword == keyFunction;
    const bool isPtr = takeChar('*', true);

    if (Compiler->ExpectToken({ttIdent}) == ttNone) Log->FatalUnexpectedToken("");
    if (tok()->F_Keyword == keyStdcall) {
        if (Compiler->ExpectToken({ttIdent}) == ttNone) Log->FatalUnexpectedToken("");
        if (tok()->F_Keyword != keyNone || tok()->F_IdentType != itNone) Log->FatalRedeclared();
    } else if (tok()->F_Keyword != keyNone) {
        Log->FatalUnexpectedToken("");
    } else if (tok()->F_IdentType != itNone) {
        Log->FatalRedeclared();
    }
    const std::string name = tok()->F_String;
    std::string importName = name;

    PVar ptrVar = nullptr;
    if (isPtr) {
        PFunction cur = Compiler->F_CurFunc;
        if (cur && cur->FuncIndex != 0) {
            if (!CompileFlags.stackframe_on)
                Log->FatalError("[6391] Local function pointer " + name + " needs the stack frame (#set frame 1)");
            const uint32_t addr = 0u - (cur->LocalSize + ptrSize + ptrSize);  // the slot below the locals so far
            ptrVar = VarMan->addVar(vmLocal, name + "$", VarMan->F_PtrType, 1, addr);
            cur->LocalSize += ptrSize;
            cur->LocalCount += 1;
        } else {
            ptrVar = VarMan->addVar(vmGlobal, name + "$", VarMan->F_PtrType, 1, 0);
        }
    }

    if (takeChar('=')) {
        if (Compiler->ExpectToken({ttIdent}) == ttNone) Log->FatalUnexpectedToken("");
        importName = wordAsWritten();
    }

    PFunction f = FuncMan->CreateFunction(bFunction ? ltFunc : ltProc, nullptr);
    tavAssign(f->Name, name);
    tavAssign(f->ImportName, importName);
    f->DLLIndex = dwImport;
    f->CallData = ptrVar;
    f->DeclareOnly = hasThis ? 1 : 0;

    if (takeChar('(')) readParams(f, true, !hasThis);
    if (bFunction) {
        if (!Compiler->ExpectSymbol(":")) Log->FatalUnexpectedToken("");
        if (Compiler->ExpectIdentType({itType}) == itNone) Log->FatalUnexpectedToken("");
        f->RetVarType = static_cast<PVarType>(tok()->F_Pointer);
    }
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("");

    // The old form "...; stdcall;".
    if (src()->peekNextToken() == ttIdent && Compiler->F_PeekToken->F_Keyword == keyStdcall) {
        src()->moveLastPeek();
        if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("");
        Log->Warning("Declaration depreciated, correct syntax: procedure " +
                     TFunctionManager::Convention2String(ccStdcall) + " " + name + "(...");
    }
    f->CallConvention = ccStdcall;

    if (!hasThis) {
        const TIdentType kind = bFunction ? itFunc : itProc;
        Idents->addIdent(kind, name, f);
        if (importName != name) Idents->addIdent(kind, importName, f);
    }
    return f;
}

void handle_ENTRY() {
    if (src()->peekNextRealChar(false) == ':') {
        PFunction cur = Compiler->F_CurFunc;
        const std::string text = tok()->F_String;
        PFunction lbl = FuncMan->CreateFunction(ltLabel, cur);
        tavAssign(lbl->Name, text);
        Compiler->placeLabel(lbl, cur);
        setCalled(lbl, nullptr);
        Idents->addIdent(itLabel, text, lbl);
        CompileFlags.entry_funcid = lbl->FuncIndex;
        src()->commitPeekPosition();
        return;
    }
    if (src()->moveNextToken() != ttIdent) Log->FatalUnexpectedToken("643534");
    PFunction f = nullptr;
    if (tok()->F_Keyword != keyNone) {
        if (tok()->F_Keyword != keyProcedure && tok()->F_Keyword != keyFunction) Log->FatalUnexpectedToken("64343");
        f = handle_PROCEDURE(tok()->F_Keyword == keyFunction);
        setCalled(f, nullptr);
        CompileFlags.entry_funcid = f->FuncIndex;
        return;
    }
    const TIdentType k = tok()->F_IdentType;
    if (k != itLabel && k != itProc && k != itFunc) Log->FatalUnexpectedToken("643534");
    f = static_cast<PFunction>(tok()->F_Pointer);
    setCalled(f, nullptr);
    CompileFlags.entry_funcid = f->FuncIndex;
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("453");
}

void handle_USES() {
    PFunction cur = Compiler->F_CurFunc;
    TOperand reg;
    for (;;) {
        if (Compiler->ExpectToken({ttRegister}) == ttNone) {
            if (tok()->F_Type == ttIdent && wideRegisterIn16(tok()->F_String))
                Log->FatalError("[423] " + tok()->F_String + " is a 32-bit register, which 16-bit code does not have");
            Log->FatalUnexpectedToken("423");
        }
        reg.setRegister(tok()->F_Register);
        Compiler->execInstruction(cur, "push", &reg);
        FuncMan->ownLists(cur);
        cur->UsesList->items.push_back(tok()->F_String);
        if (src()->peekNextToken() == ttRegister) continue;
        if (src()->moveNextToken() != ttSymbol) Log->FatalUnexpectedToken("421");
        if (tok()->F_String == ";") return;
        if (tok()->F_String != ",") Log->FatalUnexpectedToken("421");
    }
}

void handle_IMPORTS() {
    if (!Compiler->ExpectSymbol("(")) Log->FatalUnexpectedToken("");
    if (Compiler->ExpectToken({ttAnsiString}) == ttNone) Log->FatalUnexpectedToken("");
    // The loader cannot load a library without a name.
    if (tok()->F_String.empty()) Log->FatalError("[46545] Import library without a name", true);
    // The loader reads the name in the ANSI code page of the machine it runs
    // on, which an image cannot name: only ASCII means the same everywhere.
    for (const char c : tok()->F_String)
        if (static_cast<unsigned char>(c) >= 0x80)
            Log->FatalError(
                "[46546] Import library name \"" + tok()->F_String + "\" is not supported: library names in ASCII only",
                true);
    const int32_t lib = Imports->addImportLib(tok()->F_String);
    if (!Compiler->ExpectSymbol(")")) Log->FatalUnexpectedToken("");
    if (!Compiler->ExpectSymbol("{")) Log->FatalUnexpectedToken("");
    for (;;) {
        const TTavToken t = src()->moveNextToken();
        if (t == ttSymbol && tok()->F_String == "}") return;
        if (t == ttSymbol && tok()->F_String == "/" && src()->peekNextRealChar(false) == '/') {
            src()->moveToChar('\n');
            continue;
        }
        if (t == ttIdent && (tok()->F_Keyword == keyProcedure || tok()->F_Keyword == keyFunction)) {
            handle_FUNCDECL(lib, false);
            continue;
        }
        Log->FatalUnexpectedToken("");
    }
}

namespace {
constexpr uint32_t kMaxExports = 65535;
}

void handle_EXPORTS() {
    const char* code = "46542";
    for (;;) {
        if (Compiler->ExpectIdentType({itFunc, itProc}) == itNone || tok()->F_Keyword != keyNone)
            Log->FatalUnexpectedToken(code);
        auto* f = static_cast<PFunction>(tok()->F_Pointer);
        if (!f->IsExported) {
            // Export ordinals are 16-bit.
            if (FuncMan->ExportedCount == kMaxExports)
                Log->FatalError("[46544] Too many exports: " + std::to_string(kMaxExports) + " at most", true);
            ++FuncMan->ExportedCount;
        }
        f->IsExported = 1;
        setCalled(f, nullptr);
        if (!takeChar(',')) break;
        code = "46543";
    }
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("42343");
}
