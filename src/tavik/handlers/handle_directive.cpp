// The "#" directives: settings, defines, conditional and repeated sections,
// compile-time output, the result of a macro and compile-time variables.
#include <cstdint>
#include <string>

#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/macro_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "reader/cur_token.h"
#include "global.h"
#include "handlers/handlers.h"
#include "log.h"
#include "nesting_guard.h"
#include "reader/token_reader.h"

namespace {

// A section is compiled by a nested statement loop; past this depth of
// loops a further section is rejected before it could exhaust the stack.
constexpr uint32_t kMaxSectionDepth = 200;
// Passes of one #repeat, and of all of them together (nested sections
// multiply their counts).
constexpr int64_t kMaxRepeat = int64_t(1) << 20;
constexpr uint64_t kMaxRepeatPasses = uint64_t(1) << 21;

// The directive that ended a statement loop, and that loop's depth. A section
// reads it right after its nested loop returns: a loop that stopped at "}"
// or at the end of the input leaves none at its own depth.
enum class Closer { none, end, else_, elseif, return_ };
Closer g_Closer = Closer::none;
uint32_t g_CloserDepth = 0;

void setCloser(Closer c) {
    g_Closer = c;
    g_CloserDepth = Compiler->loopDepth();
}

const char* closerWord(Closer c) {
    switch (c) {
    case Closer::end: return "end";
    case Closer::else_: return "else";
    case Closer::elseif: return "elseif";
    case Closer::return_: return "return";
    default: return "";
    }
}

Closer compileSection() {
    checkNesting(Compiler->loopDepth(), kMaxSectionDepth, "[7655] Sections nested too deeply");
    const uint32_t depth = Compiler->loopDepth() + 1;
    g_Closer = Closer::none;
    Compiler->HandleDeclarations(-1);
    const Closer c = g_CloserDepth == depth ? g_Closer : Closer::none;
    g_Closer = Closer::none;
    return c;
}

// A section that "}" or the end of the input ended: the current token is that.
[[noreturn]] void sectionNotClosed() { Log->FatalUnexpectedToken("7653"); }

enum class SkipStop { end, else_, elseif };

// Passes over raw text up to the matching #end or, while no section of the
// directive was compiled (ge false), up to an #else (or, withElseif, an
// #elseif) of its own level. Only the word after each "#" or "$" is read,
// as written, so nothing in the text is resolved or expanded.
SkipStop skipSection(bool ge, bool withElseif) {
    TAFile* f = src();
    uint32_t blockCount = 1;
    for (;;) {
        char c;
        for (;;) {
            c = f->moveNextChar(true);
            if (c == '\'' || c == '"') f->readLiteral(c);  // no directive in a literal
            else if (c == '#' || c == '$' || c == '\0') break;
        }
        if (c == '\0') {
            tok()->setNull();
            Log->FatalUnexpectedToken("7652");
        }
        std::string word;
        char first;
        if (!tokread::readRawWord(f, word, first)) continue;
        word = lowerAscii(word);
        if (word == "ifdef" || word == "if" || word == "repeat") {
            ++blockCount;
        } else if (word == "end") {
            if (--blockCount == 0) return SkipStop::end;
        } else if (blockCount == 1 && !ge) {
            if (word == "else") return SkipStop::else_;
            if (withElseif && word == "elseif") return SkipStop::elseif;
        }
    }
}

// ---- #set ----

uint64_t settingValue(const char* code) {
    if (Compiler->ExpectToken({ttNumber}) == ttNone) Log->FatalUnexpectedToken(code);
    return static_cast<uint64_t>(tok()->F_Integer);
}

// A procedure keeps the frame mode of its prologue: its parameters, locals
// and epilogue are all addressed by it.
void setFrameMode(TAVBOOL on) {
    const PFunction cur = Compiler->F_CurFunc;
    if (cur && CompileFlags.stackframe_on != on && FuncMan->hostInfo(cur).bodyScope != 0)
        Log->FatalError("[6392] The frame mode cannot change inside " + std::string(funcName(cur)));
    CompileFlags.stackframe_on = on;
}

void handle_DIRECTIVE_set() {
    src()->moveNextToken();
    std::string setting;
    if (!tok()->F_DefName.empty()) setting = lowerAscii(tok()->F_DefName);
    else if (tok()->F_Type == ttIdent) setting = lowerAscii(tok()->F_String);
    else Log->FatalUnexpectedToken("7757");

    if (setting == "frame") {
        const uint64_t v = settingValue("7756");
        if (v > 1) Log->FatalError("[7758] Valid frame modes 0/1");
        if (CompileFlags.cpu_bits == 16) {
            setFrameMode(1);
            DefMan->addDefine("frame", int64_t(1));
        } else {
            setFrameMode(static_cast<TAVBOOL>(v));
            DefMan->addDefine("frame", static_cast<int64_t>(v));
        }
    } else if (setting == "bits") {
        const uint64_t v = settingValue("7757");
        // The word size follows the bit mode: only these two keep it sound.
        // There are no 64-bit forms to encode, nor a builder for such code.
        if (v != 16 && v != 32) Log->FatalError("[7759] Bit mode must be 16 or 32");
        // Its parameters, locals and epilogue are measured in the word size
        // of its prologue.
        const PFunction in = Compiler->F_CurFunc;
        if (in && CompileFlags.cpu_bits != v && FuncMan->hostInfo(in).bodyScope != 0)
            Log->FatalError("[6395] The bit mode cannot change inside " + std::string(funcName(in)));
        CompileFlags.cpu_bits = static_cast<uint32_t>(v);
        if (v == 16) {
            setFrameMode(1);
            DefMan->addDefine("frame", int64_t(1));
        }
        ptrSize = static_cast<uint32_t>(v / 8);
        VarMan->resizeVarTypes();
        DefMan->addDefine("bits", static_cast<int64_t>(v));
    } else if (setting == "relocations") {
        const uint64_t v = settingValue("777556");
        if (v > 1) Log->FatalError("[4656] Valid relocation switch 0/1");
        CompileFlags.relocations = static_cast<TAVBOOL>(v);
        DefMan->addDefine("relocations", static_cast<int64_t>(v));
    } else {
        Log->FatalError("[7845] Invalid directive operand " + setting);
    }
}

// ---- #define ----

void handle_DIRECTIVE_define() {
    const TTavToken t = src()->moveNextToken();
    // A defined name arrives as its value, with the name beside it.
    if (!tok()->F_DefName.empty()) Log->FatalError("[7719] " + tok()->F_DefName + " is already defined");
    if (t != ttIdent) Log->FatalUnexpectedToken("7717");
    const std::string name = lowerAscii(tok()->F_String);
    if (src()->peekNextRealChar(true) == ';') {
        TCurrentToken one;
        one.setInteger(4, "1", 1);
        DefMan->addDefine(name, &one);
    } else {
        src()->moveNextToken();
        DefMan->addDefine(name, tok());
    }
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("7718");
}

// ---- conditions ----

bool compareIntegers(TMathOp op, int64_t x, int64_t y) {
    const auto ux = static_cast<uint64_t>(x), uy = static_cast<uint64_t>(y);
    switch (op) {
    case moIsEqual: return x == y;
    case moNotEqual: return x != y;
    case moLowerU: return ux < uy;
    case moLowerUEqual: return ux <= uy;
    case moHigherU: return ux > uy;
    case moHigherUEqual: return ux >= uy;
    default: Log->FatalError("[1999] Math operation not valid here");
    }
}

// #ifdef NAME [op number]
bool decideIfdef() {
    src()->moveNextToken();
    if (tok()->F_DefName.empty()) return false;
    TCurrentToken firstOP;
    firstOP.setCurToken(*tok());
    const TMathOp op = src()->moveNextIfMathOp(false);
    if (op == moNone) return true;
    const TTavToken t = Compiler->ExpectToken({ttNumber, ttAnsiString, ttWideString});
    if (t == ttNone) Log->FatalUnexpectedToken("7798");
    if (t != ttNumber) Log->FatalError("[1222] NOT SUPPORTED YET");
    if (op != moIsEqual && op != moNotEqual) Log->FatalError("[1999] Math operation not valid here");
    // A float define is compared as a float, not by its whole part.
    if (firstOP.F_Type == ttFloat)
        return (firstOP.F_Extended == static_cast<long double>(tok()->F_Integer)) == (op == moIsEqual);
    return compareIntegers(op, firstOP.F_Integer, tok()->F_Integer);
}

// #if X [op Y]
bool decideIf() {
    src()->moveNextToken();
    TCurrentToken firstOP;
    firstOP.setCurToken(*tok());
    const TMathOp op = src()->moveNextIfMathOp(false);
    if (op == moNone) return true;
    const TTavToken t = Compiler->ExpectToken({ttNumber, ttFloat, ttAnsiString, ttWideString, ttIdent});
    if (t == ttNone) Log->FatalUnexpectedToken("7798");
    if (t == ttAnsiString || t == ttWideString) Log->FatalError("[1222] NOT SUPPORTED YET");

    int64_t x = firstOP.F_Integer, y = tok()->F_Integer;
    long double yExt = tok()->F_Extended;
    // A float on either side is compared as a float, the other side by the
    // whole number it stands for.
    const bool xFloat = firstOP.F_Type == ttFloat;
    bool yFloat = t == ttFloat;
    if (t == ttIdent) {
        if (tok()->F_IdentType == itType) {
            if (firstOP.F_Type != ttIdent || firstOP.F_IdentType != itType)
                Log->FatalError("[4313] Types can only be compared with each other");
            if (op != moIsEqual && op != moNotEqual) Log->FatalError("[3413] Types can only be compared for equality");
            x = static_cast<int64_t>(reinterpret_cast<intptr_t>(firstOP.F_Pointer));
            y = static_cast<int64_t>(reinterpret_cast<intptr_t>(tok()->F_Pointer));
        } else if (tok()->F_IdentType == itConst) {
            const auto* c = static_cast<const TConst*>(tok()->F_Pointer);
            if (c && c->type_ == ctValue) {
                y = c->int_;
            } else if (c && c->type_ == ctFloat) {
                yExt = fromTavExt(c->ext);
                yFloat = true;
            } else {
                Log->FatalUnexpectedToken("7796");
            }
        } else {
            Log->FatalUnexpectedToken("7797");
        }
    }
    if (xFloat || yFloat) {
        const long double xExt = xFloat ? firstOP.F_Extended : static_cast<long double>(x);
        if (!yFloat) yExt = static_cast<long double>(y);
        if (op == moIsEqual) return xExt == yExt;
        if (op == moNotEqual) return xExt != yExt;
        Log->FatalError("[2000] Math operation not valid here");
    }
    return compareIntegers(op, x, y);
}

// The end of a compiled section that must be "#end"; true when a #return
// ended it (the enclosing macro body ends too).
bool expectEnd(Closer c) {
    if (c == Closer::end) return false;
    if (c == Closer::return_) return true;
    if (c == Closer::none) sectionNotClosed();
    Log->FatalError(std::string("[7654] Unexpected #") + closerWord(c) + " after #else");
}

// #ifdef and #if with their #elseif/#else branches up to the #end; true when
// a #return ended a compiled section.
bool conditional(bool isIf) {
    for (;;) {
        bool ge = false;
        if (isIf ? decideIf() : decideIfdef()) {
            if (!Compiler->ExpectSymbol(":")) Log->FatalUnexpectedToken("7710");
            const Closer c = compileSection();
            if (c == Closer::end) return false;
            if (c == Closer::return_) return true;
            if (c == Closer::none) sectionNotClosed();
            ge = true;  // #else or #elseif: the other branches are passed over
        }
        switch (skipSection(ge, isIf)) {
        case SkipStop::end: return false;
        case SkipStop::elseif: continue;  // its condition is decided afresh
        case SkipStop::else_: return expectEnd(compileSection());
        }
    }
}

// ---- #repeat ----

bool handle_DIRECTIVE_repeat() {
    if (Compiler->ExpectToken({ttNumber}) == ttNone) Log->FatalUnexpectedToken("34323");
    const int64_t n = tok()->F_Integer;
    if (!Compiler->ExpectSymbol(":")) Log->FatalUnexpectedToken("3535");
    if (n > kMaxRepeat) Log->FatalError("[34324] Repeat count above " + std::to_string(kMaxRepeat));
    if (n <= 0) {
        skipSection(true, false);
        return false;
    }
    TAFile* f = src();
    const uint32_t line = f->CurLine, pos = f->CurChar, col = f->CurLineChar;
    for (int64_t pass = 0; pass < n; ++pass) {
        if (++Compiler->F_RepeatPasses > kMaxRepeatPasses)
            Log->FatalError("[34325] Repeated sections run more than " + std::to_string(kMaxRepeatPasses) + " passes");
        Compiler->F_CurFile = f;
        f->CurLine = line;
        f->CurChar = pos;
        f->CurLineChar = col;
        const Closer c = compileSection();
        if (c == Closer::return_) return true;
        if (c == Closer::none) sectionNotClosed();
        if (c != Closer::end)
            Log->FatalError(std::string("[3536] Unexpected #") + closerWord(c) + " in a #repeat section");
        // Each pass rewinds this file: its #end must stand here too.
        if (src() != f) Log->FatalError("[3537] The #end of a #repeat section must stand in its file");
        Compiler->chargeReplay(f->CurChar > pos ? f->CurChar - pos : 1);
    }
    return false;
}

// ---- output, result ----

void handle_DIRECTIVE_echo() {
    src()->moveNextToken();
    Log->Message(tok()->F_String, colMessage);
}

[[noreturn]] void handle_DIRECTIVE_raise() {
    src()->moveNextToken();
    Log->FatalError(tok()->F_String, false);
}

bool handle_DIRECTIVE_return() {
    src()->moveNextToken();
    // A procedure macro (and the top level) keeps no result.
    TMacro* mac = MacMan->F_CurMacro;
    if (mac && mac->result) mac->result->setCurToken(*tok());
    return true;
}

// A #return inside a section ends the loop that holds the directive, too.
bool propagateReturn() {
    Compiler->sectionClosed("#return");
    setCloser(Closer::return_);
    return true;
}

}  // namespace

bool handle_DIRECTIVE() {
    const std::string word = lowerAscii(tok()->F_String);
    if (word == "if") return conditional(true) && propagateReturn();
    if (word == "ifdef") return conditional(false) && propagateReturn();
    if (word == "repeat") return handle_DIRECTIVE_repeat() && propagateReturn();
    if (word == "end") {
        setCloser(Closer::end);
        return true;
    }
    if (word == "else") {
        setCloser(Closer::else_);
        return true;
    }
    if (word == "elseif") {
        setCloser(Closer::elseif);
        return true;
    }
    if (word == "return") {
        handle_DIRECTIVE_return();
        setCloser(Closer::return_);
        return true;
    }
    if (word == "set") handle_DIRECTIVE_set();
    else if (word == "echo") handle_DIRECTIVE_echo();
    else if (word == "raise") handle_DIRECTIVE_raise();
    else if (word == "define") handle_DIRECTIVE_define();
    else if (word == "include") handle_DIRECTIVE_include(false);
    else if (word == "tryinclude") handle_DIRECTIVE_include(true);
    else if (word == "resource") handle_DIRECTIVE_resource();
    else handle_DIRECTIVE_macrovar();
    return false;
}

void handle_DIRECTIVE_macrovar() {
    const std::string name = tok()->F_String;
    if (src()->moveNextIfMathOp(false) != moAssign) Log->FatalUnexpectedToken("19423");
    handle_MACROVAR_tokens();
    MacMan->F_CurMacro->setVariable(name, *tok());
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("435");
}
