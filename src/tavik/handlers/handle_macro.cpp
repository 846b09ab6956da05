// Inline macros: the declaration keeps the body text, a call binds one token
// per argument and compiles the body in place.
#include <memory>
#include <string>
#include <vector>

#include "reader/afile.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "global.h"
#include "handlers/handlers.h"
#include "log.h"
#include "nesting_guard.h"

namespace {

// Expansions in progress, outermost first: tells when a macro is expanded
// again from inside its own body.
std::vector<TMacro*> g_Expanding;

// Calls being read or expanded; deeper nesting is taken for a runaway
// (usually self-recursive) macro.
uint32_t g_MacroDepth = 0;
constexpr uint32_t kMaxMacroDepth = 32;

bool isExpanding(const TMacro* m) {
    for (const TMacro* e : g_Expanding)
        if (e == m) return true;
    return false;
}

// A character read directly, as the token that the message names.
[[noreturn]] void unexpectedChar(char c, const char* code) {
    if (c == '\0') tok()->setNull();
    else tok()->setSymbol(c);
    Log->FatalUnexpectedToken(code);
}

// Reads one token while peeking, so that a macro name is named rather than
// expanded, and takes it as the current token.
TTavToken readUnexpanded() {
    src()->peekNextToken();
    src()->moveLastPeek();
    return tok()->F_Type;
}

// The next token when it is the symbol s, consumed; else nothing is read.
bool takeSymbol(const char* s) {
    if (src()->peekNextToken() != ttSymbol || Compiler->F_PeekToken->F_String != s) return false;
    src()->moveLastPeek();
    return true;
}

bool takeChar(char c) {
    if (src()->peekNextRealChar(true) != c) return false;
    src()->commitPeekPosition();
    return true;
}

void setUncounted(TMacro* m) {
    if (!m->parens_req) Log->FatalError("[6481] Inline op macros can not have uncounted arguments");
    m->paramcount = MACRO_UNCOUNTED;
}

void readParams(TMacro* m) {
    if (takeChar(';')) {
        setUncounted(m);
        return;
    }
    if (!takeChar('$')) return;
    for (;;) {
        if (readUnexpanded() != ttIdent) Log->FatalUnexpectedToken("234");
        m->addParam(tok()->F_String);
        if (!takeChar(',')) return;
        const char c = src()->moveNextChar(true);
        if (c == ';') {
            setUncounted(m);
            return;
        }
        if (c != '$') unexpectedChar(c, "1432");
    }
}

// The body from its "{" up to the matching "}", which is left current.
std::string readBody() {
    TAFile* f = src();
    const uint32_t start = f->CurChar;  // the "{"
    for (uint32_t depth = 1; depth != 0;) {
        const char c = f->moveNextChar(true);
        if (c == '\0') unexpectedChar(c, "12300");
        if (c == '\'' || c == '"') f->readLiteral(c);  // its braces are text
        else if (c == '}') --depth;
        else if (c == '{') ++depth;
    }
    return std::string(f->F_Buffer.substr(start - 1, f->CurChar - start));
}

// One argument: a token, or "@" and the variable or memory expression whose
// address is passed.
std::unique_ptr<TCurrentToken> readArgument() {
    TCurrentToken* t = tok();
    src()->moveNextToken();
    if (t->F_Type == ttSymbol && t->F_String == "@") {
        if (src()->peekNextToken() == ttBaseExp) {
            src()->moveLastPeek();
            t->F_Type = ttIdent;
            t->F_IdentType = itBaseExpPtr;
            t->F_ByteCount = static_cast<int32_t>(ptrSize);
            t->F_BitCount = static_cast<int32_t>(8 * ptrSize);
        } else {
            // Taken as peeked: a macro name here is no variable, not a call.
            src()->moveLastPeek();
            const TIdentType k = t->F_Type == ttIdent ? t->F_IdentType : itNone;
            if (k != itGlobalVar && k != itLocalVar) Log->FatalUnexpectedToken("7521");
            t->F_IdentType = k == itGlobalVar ? itGlobalVarPtr : itLocalVarPtr;
        }
        t->F_String = "@" + t->F_String;
    }
    auto arg = std::make_unique<TCurrentToken>();
    arg->setCurToken(*t);
    return arg;
}

// Everything an expansion changes, put back however it ends. A macro that
// is expanded again from its own body gets its bindings and its reading
// place back, so the outer expansion goes on where it stood.
class ExpansionScope {
public:
    explicit ExpansionScope(TMacro* m) : F_Macro(m), F_Nested(isExpanding(m)) {
        if (F_Nested) stashOuter();
        F_Pars = MacMan->curpars;
        F_Macro0 = MacMan->F_CurMacro;
        F_File = src();
        RegMan->saveState(F_Regs);
        g_Expanding.push_back(m);
    }

    ~ExpansionScope() {
        g_Expanding.pop_back();
        Compiler->F_CurFile = F_File;
        F_Macro->endMacro();
        if (F_Nested) restoreOuter();
        MacMan->F_CurMacro = F_Macro0;
        MacMan->curpars = F_Pars;
        RegMan->restoreState(F_Regs);
    }

    ExpansionScope(const ExpansionScope&) = delete;
    ExpansionScope& operator=(const ExpansionScope&) = delete;

private:
    struct Item {
        std::string text;
        void* obj;
        uint32_t scope;
    };

    void stashOuter() {
        TSuperStringList& p = F_Macro->params;
        for (uint32_t i = 0; i < p.Count(); ++i)
            F_Items.push_back({p.GetString(i), p.GetItem(i), p.GetSSLItem(i)->scope});
        // Unbind without freeing: the tokens stay the outer expansion's.
        for (uint32_t i = p.Count(); i-- > 0;) {
            if (p.GetSSLItem(i)->scope != 0) p.Delete(i);
            else p.SetItem(i, nullptr);
        }
        const TAFile* c = F_Macro->code;
        F_Cursor = {c->CurLine,       c->CurChar,           c->CurLineChar, c->F_LPCurLine,
                    c->F_LPCurChar,   c->F_LPCurLineChar,   c->F_LPLine,    c->F_SaveCurLine,
                    c->F_SaveCurChar, c->F_SaveCurLineChar, c->F_TotalLines};
    }

    void restoreOuter() {
        TSuperStringList& p = F_Macro->params;
        for (size_t i = 0; i < F_Items.size(); ++i) {
            const Item& it = F_Items[i];
            if (i < p.Count()) p.SetItem(static_cast<uint32_t>(i), it.obj);
            else p.Add(it.text, it.obj, it.scope);
        }
        TAFile* c = F_Macro->code;
        const Cursor& s = F_Cursor;
        c->CurLine = s.line;
        c->CurChar = s.pos;
        c->CurLineChar = s.col;
        // Lines read meanwhile still count.
        c->F_LPCurLine = s.lpTotal + (c->F_TotalLines - s.total);
        c->F_LPCurChar = s.lpPos;
        c->F_LPCurLineChar = s.lpCol;
        c->F_LPLine = s.lpLine;
        c->F_SaveCurLine = s.saveLine;
        c->F_SaveCurChar = s.savePos;
        c->F_SaveCurLineChar = s.saveCol;
    }

    struct Cursor {
        uint32_t line, pos, col, lpTotal, lpPos, lpCol, lpLine, saveLine, savePos, saveCol, total;
    };

    TMacro* F_Macro;
    bool F_Nested;
    std::vector<Item> F_Items;
    Cursor F_Cursor{};
    uint32_t F_Pars = 0;
    TMacro* F_Macro0 = nullptr;
    TAFile* F_File = nullptr;
    TRegStates F_Regs{};
};

}  // namespace

void handle_INLINE() {
    // Macros are expanded where identifier resolution meets their names.
    MacroCallHandler = handle_MACROCALL;

    bool parens = true;
    if (src()->peekNextToken() == ttIdent && lowerAscii(Compiler->F_PeekToken->F_String) == "op") {
        src()->moveLastPeek();
        parens = false;
    }
    const TKeyword k = Compiler->ExpectKeyword({keyProcedure, keyFunction});
    if (k == keyNone) Log->FatalUnexpectedToken("12456");
    // Read unexpanded: the name of a macro declared before is redeclared.
    if (readUnexpanded() != ttIdent || tok()->F_IdentType != itNone || tok()->F_Keyword != keyNone)
        Log->FatalRedeclared();
    TMacro* m = MacMan->newMacro(tok()->F_String, k == keyFunction ? mtFunc : mtProc);
    m->parens_req = parens;

    if (!Compiler->ExpectSymbol("(")) Log->FatalUnexpectedToken("123442");
    readParams(m);
    if (!Compiler->ExpectSymbol(")")) Log->FatalUnexpectedToken("123443");
    if (!Compiler->ExpectSymbol("{")) Log->FatalUnexpectedToken("123444");
    m->code->loadBuffer(m->name, readBody(), nullptr);
}

void handle_MACROCALL(TMacro* mac) {
    TMacro* m = mac ? mac : static_cast<TMacro*>(tok()->F_Pointer);
    // Named first in its statement, not as an argument or operand.
    const bool statement = !mac || Compiler->F_StatementStart;
    Compiler->F_StatementStart = false;
    if (!m) throw EInternalError("Macro call without a macro");
    TNestingGuard depth(g_MacroDepth, kMaxMacroDepth, [m] {
        return "[32235] Macro \"" + m->name + "\" nested too deeply: more than " + std::to_string(kMaxMacroDepth) +
               " calls";
    });
    const bool counted = m->paramcount != MACRO_UNCOUNTED;
    const bool fixedArgs = counted && m->paramcount != 0;

    bool opened = false;
    if (m->parens_req) {
        if (fixedArgs) {
            if (!Compiler->ExpectSymbol("(")) Log->FatalUnexpectedToken("312");
            opened = true;
        } else {
            opened = takeSymbol("(");
        }
    }

    // Bound only once the whole call is read: the arguments may name the
    // parameters of an expansion of this same macro that is in progress.
    std::vector<std::unique_ptr<TCurrentToken>> args;
    bool closed = false;
    // Without parentheses a macro of no or uncounted parameters takes no
    // arguments: the call ends at its name.
    const bool readArgs = m->parens_req ? opened : m->paramcount != 0;
    if (readArgs) {
        // "()" is an empty list, whatever follows it.
        if (m->parens_req && takeSymbol(")")) {
            closed = true;
        } else {
            do args.push_back(readArgument());
            while (takeChar(','));
        }
    }
    // An opened list must be closed, also where the "(" was optional.
    if (opened && !closed && !Compiler->ExpectSymbol(")")) Log->FatalUnexpectedToken("313");

    const auto count = static_cast<uint32_t>(args.size());
    if (counted && count != m->paramcount)
        Log->FatalError("[32234] Macro \"" + m->name + "\" expected " + std::to_string(m->paramcount) + " params");
    // A procedure macro is a statement: nothing may follow it on its line.
    if (m->type_ == mtProc && statement) Compiler->statementEnds(false);

    ExpansionScope scope(m);
    for (uint32_t i = 0; i < count; ++i) m->setParam(i, args[i].release());
    MacMan->curpars = count;
    MacMan->F_CurMacro = m;

    TAFile* body = m->code;
    Compiler->chargeReplay(uint64_t(body->F_FileLength) + 1);
    body->CurLine = 1;
    body->CurLineChar = 1;
    body->CurChar = 1;
    Compiler->F_CurFile = body;
    Compiler->HandleDeclarations(-1);
}
