// Conditions and the control statements: if/elseif/else, while, repeat,
// continue, break and exitif.
//
// A condition compiles into compares and conditional jumps to labels that
// the handlers make themselves. Within one chain of parenthesised operands
// an operand that decides the chain jumps to where the whole chain goes when
// it holds (T) or fails (F); the others fall through to the next operand.
// T and F of the whole condition are the block's code and else labels; a
// nested chain jumps to the labels of the enclosing level that will follow
// it ("and<level>_<n>", "or<level>_<n>"). Which of those the enclosing level
// really places is known only at its next operator: the other one is then
// tied to the enclosing chain's own T or F and takes over that label's
// place once it is placed.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ascii.h"
#include "reader/afile.h"
#include "classes/block_stack.h"
#include "classes/function_manager.h"
#include "classes/shared_records.h"
#include "compiler.h"
#include "global.h"
#include "handlers/handle_control.h"
#include "handlers/handlers.h"
#include "log.h"
#include "nesting_guard.h"
#include "encoder/tav_assembler.h"

namespace {

constexpr uint32_t kUnplaced = 0xFFFFFFFFu;
// Parentheses nest this deep at most; only and/or need the tables' 24 levels.
constexpr uint32_t kMaxParenDepth = 1000;

// A condition label tied to another label; it takes over that label's place
// once the other is placed.
struct TLabelAlias {
    PFunction label;
    PFunction target;
};
std::vector<TLabelAlias> g_aliases;

PFunction curFunc() { return Compiler->F_CurFunc; }

bool isPlaced(const TFunction* f) { return f->Type_ == ltLabel && f->Address != kUnplaced; }

PFunction statementLabel(const char* name) {
    PFunction f = FuncMan->CreateFunction(ltLabel, curFunc());
    FuncMan->shareText(f->Name, name);
    f->IsCalled = 1;
    return f;
}

void place(PFunction lbl) { Compiler->placeLabel(lbl, curFunc()); }

void expectSymbol(const char* sym, const char* code) {
    if (!Compiler->ExpectSymbol(sym)) Log->FatalUnexpectedToken(code);
}

void jumpTo(const char* mnemonic, PFunction target) {
    TOperand op;
    op.setLabel(curFunc(), target->FuncIndex);
    Compiler->execInstruction(curFunc(), mnemonic, &op);
}

// A body up to its closing "}". Each statement places labels after its
// bodies, so a ret that ends one is never the procedure's last instruction.
void compileBody() {
    Compiler->HandleDeclarations(-1);
    const TCurrentToken* tk = tok();
    if (tk->F_Type != ttSymbol || tk->F_String != "}") Log->FatalUnexpectedToken("70445");
}

void clearTables(PBlockStackItem b) {
    for (uint32_t l = 0; l < b->usedLevels; ++l) {
        b->andS[l] = 0;
        b->orS[l] = 0;
        for (uint32_t i = 0; i < b->usedLabels; ++i) {
            b->andSP[l][i] = nullptr;
            b->orSP[l][i] = nullptr;
        }
    }
    b->usedLevels = 0;
    b->usedLabels = 0;
}

// Widens the bounds of the tables' written part to level and label.
void touchTables(PBlockStackItem b, uint32_t level, uint32_t label) {
    b->usedLevels = std::max(b->usedLevels, level + 1);
    b->usedLabels = std::max(b->usedLabels, label + 1);
}

PBlockStackItem openBlock(TBST type) {
    // Ties left over from a build that was abandoned point nowhere now.
    if (blStack->Count() == 0) g_aliases.clear();
    auto* b = new TBlockStackItem();
    b->type_ = type;
    clearTables(b);
    blStack->push(b);
    return b;
}

void closeBlock() { delete blStack->pop(); }

// Each tied label whose target is placed now takes over its place.
void resolveAliases() {
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t i = g_aliases.size(); i-- > 0;) {
            const TLabelAlias a = g_aliases[i];
            if (!isPlaced(a.target)) continue;
            a.label->Address = a.target->Address;
            a.label->BufLen = a.target->BufLen;
            a.label->Type_ = a.target->Type_;
            a.label->IsCalled = a.target->IsCalled;
            a.label->Parent = a.target->Parent;
            g_aliases.erase(g_aliases.begin() + static_cast<std::ptrdiff_t>(i));
            progress = true;
        }
    }
}

PFunction conditionLabel(PBlockStackItem b, bool isAnd, uint32_t level, uint32_t cnt, bool bIsDec) {
    if (level >= BLOCK_COND_LEVELS || cnt >= BLOCK_COND_LABELS)
        Log->FatalError(isAnd ? "[01010] If statement is too complex" : "[01011] If statement is too complex");
    PFunction& slot = isAnd ? b->andSP[level][cnt] : b->orSP[level][cnt];
    touchTables(b, level, cnt);
    if (!slot) {
        slot = FuncMan->CreateFunction(ltRef, curFunc());
        FuncMan->shareText(slot->Name,
                           std::string(isAnd ? "and" : "or") + std::to_string(level) + "_" + std::to_string(cnt));
    }
    if (bIsDec) place(slot);
    else slot->IsCalled = 1;
    return slot;
}

// The else label of a condition compiled for break or exitif is made when
// first needed.
PFunction elseOf(PBlockStackItem b) {
    if (!b->elseLbl) b->elseLbl = statementLabel("else");
    return b->elseLbl;
}

// Where a chain at this level goes when it holds or fails: the block's
// labels for the whole condition, else the enclosing level's next labels.
PFunction chainTarget(PBlockStackItem b, uint32_t level, bool holds) {
    if (level == 0) return holds ? b->codeLbl : elseOf(b);
    return holds ? handle_createANDIfNotExist(b, level - 1, b->andS[level - 1], false)
                 : handle_createORIfNotExist(b, level - 1, b->orS[level - 1], false);
}

// The labels that nested chains asked for at this level and that the
// operator now met (next: 'a', 'o', or 0 at the chain's end) does not place
// are tied to this chain's own target; their slots make room for new ones.
void settleLevel(PBlockStackItem b, uint32_t level, char next) {
    if (level >= BLOCK_COND_LEVELS) return;
    const uint32_t ai = b->andS[level], oi = b->orS[level];
    if (next != 'a' && ai < BLOCK_COND_LABELS && b->andSP[level][ai]) {
        PFunction lbl = b->andSP[level][ai];
        b->andSP[level][ai] = nullptr;
        g_aliases.push_back({lbl, chainTarget(b, level, true)});
    }
    if (next != 'o' && oi < BLOCK_COND_LABELS && b->orSP[level][oi]) {
        PFunction lbl = b->orSP[level][oi];
        b->orSP[level][oi] = nullptr;
        g_aliases.push_back({lbl, chainTarget(b, level, false)});
    }
}

// A condition for break or exitif: where it holds the jump leaves the block
// (target); where it fails the code goes on after the statement.
void exitCondition(PFunction target, const char* closeCode, const char* semicolonCode) {
    auto ctx = std::make_unique<TBlockStackItem>();
    clearTables(ctx.get());
    ctx->type_ = bstIF;
    ctx->codeLbl = target;
    ctx->elseLbl = nullptr;
    const TMathOp r = handle_IFEXPRESSION(ctx.get(), 0);
    expectSymbol(")", closeCode);
    expectSymbol(";", semicolonCode);
    handle_IFJUMP(false, r, target);
    if (ctx->elseLbl) place(ctx->elseLbl);
    updateLabelStack(ctx.get(), target, ctx->elseLbl);
}

}  // namespace

TMathOp handle_CompareConsts(const TOperand* o1, const TOperand* o2, TMathOp co) {
    const auto s1 = o1->value, s2 = o2->value;
    const auto u1 = static_cast<uint32_t>(o1->value), u2 = static_cast<uint32_t>(o2->value);
    bool holds = false;
    switch (co) {
    case moIsEqual: holds = s1 == s2; break;
    case moNotEqual: holds = s1 != s2; break;
    case moLowerS: holds = s1 < s2; break;
    case moHigherS: holds = s1 > s2; break;
    case moLowerSEqual: holds = s1 <= s2; break;
    case moHigherSEqual: holds = s1 >= s2; break;
    case moLowerU: holds = u1 < u2; break;
    case moHigherU: holds = u1 > u2; break;
    case moLowerUEqual: holds = u1 <= u2; break;
    case moHigherUEqual: holds = u1 >= u2; break;
    default: Log->FatalUnexpectedToken("48424");
    }
    return holds ? moATrue : moAFalse;
}

namespace {
// A name of code stands for no value a comparison could read.
void refuseCodeOperand(const TOperand* op) {
    if (op->hint != otLabel) return;
    const TFunction* f = FuncMan->getFunc(static_cast<uint32_t>(op->value));
    if (!f) return;
    const std::string name = funcName(f);
    if (f->Type_ == ltFunc)
        Log->FatalError("[1766] \"" + name + "\" is a function and cannot be compared: call it and compare EAX");
    Log->FatalError("[1766] \"" + name + "\" is " + (f->Type_ == ltProc ? "a procedure" : "a label") +
                    " and cannot be compared");
}
// Two constants compare as the dwords a register would hold: -1 and
// 0xFFFFFFFF are one value, and a value no dword holds is refused.
void wholeDword(TOperand* op) {
    if (op->value < INT32_MIN || op->value > int64_t(UINT32_MAX))
        Log->FatalError("[1767] " + rangeText(op->value, INT32_MIN, UINT32_MAX));
    op->value = static_cast<uint32_t>(op->value);
}
}  // namespace

TMathOp handle_DOCMP(uint32_t /*level*/) {
    std::unique_ptr<TOperand> o1(Compiler->moveNextOperand(true, false));
    refuseCodeOperand(o1.get());
    const TMathOp op = src()->moveNextIfMathOp(false);
    if (op == moNone) {
        src()->moveNextToken();
        Log->FatalUnexpectedToken("1765");
    }
    std::unique_ptr<TOperand> o2(Compiler->moveNextOperand(true, false));
    refuseCodeOperand(o2.get());
    if (o1->hint == otImm && o2->hint == otImm) {
        wholeDword(o1.get());
        wholeDword(o2.get());
        return handle_CompareConsts(o1.get(), o2.get(), op);
    }
    if (o1->hint == otRegister && o2->hint == otImm && o2->value == 0)
        Compiler->execInstruction(curFunc(), "test", o1.get(), o1.get());
    else Compiler->execInstruction(curFunc(), "cmp", o1.get(), o2.get());
    return op;
}

void handle_IFJUMP(bool reverse, TMathOp mo, PFunction target) {
    // {jump when it holds, jump when it fails}
    const char* names[2] = {nullptr, nullptr};
    switch (mo) {
    case moNone: return;
    case moATrue: names[0] = "jmp"; break;
    case moAFalse: names[1] = "jmp"; break;
    case moIsEqual: names[0] = "je", names[1] = "jne"; break;
    case moNotEqual: names[0] = "jne", names[1] = "je"; break;
    case moLowerU: names[0] = "jb", names[1] = "jae"; break;
    case moHigherU: names[0] = "ja", names[1] = "jbe"; break;
    case moLowerUEqual: names[0] = "jbe", names[1] = "ja"; break;
    case moHigherUEqual: names[0] = "jae", names[1] = "jb"; break;
    case moLowerS: names[0] = "jl", names[1] = "jge"; break;
    case moHigherS: names[0] = "jg", names[1] = "jle"; break;
    case moLowerSEqual: names[0] = "jle", names[1] = "jg"; break;
    case moHigherSEqual: names[0] = "jge", names[1] = "jl"; break;
    default: Log->FatalError("[1161] Unsupported operator \"" + mo2str(mo) + "\"");
    }
    if (const char* name = names[reverse ? 1 : 0]) jumpTo(name, target);
}

PFunction handle_createANDIfNotExist(PBlockStackItem b, uint32_t level, uint32_t cnt, bool bIsDec) {
    return conditionLabel(b, true, level, cnt, bIsDec);
}

PFunction handle_createORIfNotExist(PBlockStackItem b, uint32_t level, uint32_t cnt, bool bIsDec) {
    return conditionLabel(b, false, level, cnt, bIsDec);
}

void updateLabelStack(PBlockStackItem b, PFunction cL, PFunction eL) {
    // Every chain settles its level when it ends; what is still asked for
    // continues where the whole condition goes.
    for (uint32_t l = 0; l < b->usedLevels; ++l) {
        for (uint32_t i = 0; i < b->usedLabels; ++i) {
            PFunction& a = b->andSP[l][i];
            if (a && a->Type_ == ltRef && a->IsCalled && cL) g_aliases.push_back({a, cL});
            PFunction& o = b->orSP[l][i];
            if (o && o->Type_ == ltRef && o->IsCalled && eL) g_aliases.push_back({o, eL});
        }
    }
    clearTables(b);
    resolveAliases();
}

TMathOp handle_IFEXPRESSION(PBlockStackItem b, uint32_t level) {
    TAFile* f = src();
    if (f->peekNextRealChar(true) != '(') return handle_DOCMP(level);
    checkNesting(level + 1, kMaxParenDepth, "[01010] If statement is too complex");
    expectSymbol("(", "70005");
    TMathOp r = handle_IFEXPRESSION(b, level + 1);
    expectSymbol(")", "70005");
    const bool top = level == 0;
    for (;;) {
        f->peekNextToken();
        const std::string word = lowerAscii(Compiler->F_PeekToken->F_String);
        if (word != "and" && word != "or") {
            settleLevel(b, level, 0);
            return r;
        }
        f->moveLastPeek();
        const bool isAnd = word == "and";
        if (level >= BLOCK_COND_LEVELS)
            Log->FatalError(isAnd ? "[01010] If statement is too complex" : "[01011] If statement is too complex");
        settleLevel(b, level, isAnd ? 'a' : 'o');
        if (isAnd) {
            touchTables(b, level, 0);
            const uint32_t k = b->andS[level]++;
            handle_IFJUMP(true, r, chainTarget(b, level, false));
            handle_createANDIfNotExist(b, level, k, true);
            expectSymbol("(", top ? "87" : "987987");
            r = handle_IFEXPRESSION(b, level + 1);
            expectSymbol(")", top ? "769" : "789");
        } else {
            touchTables(b, level, 0);
            const uint32_t k = b->orS[level]++;
            handle_IFJUMP(false, r, chainTarget(b, level, true));
            handle_createORIfNotExist(b, level, k, true);
            expectSymbol("(", top ? "75" : "123");
            r = handle_IFEXPRESSION(b, level + 1);
            expectSymbol(")", top ? "70005" : "532");
        }
    }
}

void handle_IF() {
    PBlockStackItem b = openBlock(bstIF);
    b->endLbl = statementLabel("endif");
    b->elseLbl = statementLabel("else");
    b->codeLbl = statementLabel("ifcode");

    expectSymbol("(", "432765");
    TMathOp r = handle_IFEXPRESSION(b, 0);
    handle_IFJUMP(true, r, b->elseLbl);
    expectSymbol(")", "70003");
    expectSymbol("{", "70444");
    place(b->codeLbl);
    compileBody();

    for (bool more = true; more;) {
        TAFile* f = src();
        const TCurrentToken* peek = Compiler->F_PeekToken;
        if (f->peekNextToken() != ttIdent || (peek->F_Keyword != keyElseif && peek->F_Keyword != keyElse)) break;
        const bool isElse = peek->F_Keyword == keyElse;
        f->moveLastPeek();
        jumpTo("jmp", b->endLbl);
        place(b->elseLbl);
        updateLabelStack(b, b->codeLbl, b->elseLbl);
        b->elseLbl = statementLabel("else");
        b->codeLbl = statementLabel("ifcode");
        clearTables(b);
        if (!isElse) {
            expectSymbol("(", "432765");
            r = handle_IFEXPRESSION(b, 0);
            handle_IFJUMP(true, r, b->elseLbl);
            expectSymbol(")", "70003");
        }
        expectSymbol("{", "70444");
        place(b->codeLbl);
        compileBody();
        more = !isElse;
    }

    place(b->elseLbl);
    place(b->endLbl);
    updateLabelStack(b, b->codeLbl, b->endLbl);
    closeBlock();
}

void handle_WHILE() {
    PBlockStackItem b = openBlock(bstWHILE);
    b->endLbl = statementLabel("endif");
    b->elseLbl = statementLabel("else");
    b->codeLbl = statementLabel("ifcode");
    b->startLbl = statementLabel("start");

    expectSymbol("(", "432765");
    place(b->startLbl);
    const TMathOp r = handle_IFEXPRESSION(b, 0);
    handle_IFJUMP(true, r, b->elseLbl);
    expectSymbol(")", "70003");
    expectSymbol("{", "70444");
    place(b->codeLbl);
    compileBody();
    jumpTo("jmp", b->startLbl);

    place(b->elseLbl);
    place(b->endLbl);
    updateLabelStack(b, b->codeLbl, b->endLbl);
    closeBlock();
}

void handle_REPEAT() {
    PBlockStackItem b = openBlock(bstREPEAT);
    b->endLbl = statementLabel("endrep");
    b->elseLbl = statementLabel("continue");
    b->codeLbl = statementLabel("repcode");
    b->startLbl = statementLabel("start");

    expectSymbol("{", "70444");
    place(b->startLbl);
    place(b->elseLbl);
    compileBody();

    if (src()->peekNextRealChar(true) == ';') {
        jumpTo("jmp", b->elseLbl);
    } else {
        if (Compiler->ExpectKeyword({keyUntil}) == keyNone) Log->FatalUnexpectedToken("32213");
        // continue goes round through the condition, like the end of the body.
        place(b->startLbl);
        expectSymbol("(", "432765");
        const TMathOp r = handle_IFEXPRESSION(b, 0);
        handle_IFJUMP(true, r, b->elseLbl);
        expectSymbol(")", "70003");
    }

    place(b->codeLbl);
    place(b->endLbl);
    updateLabelStack(b, b->codeLbl, b->elseLbl);
    closeBlock();
}

void handle_CONTINUE() {
    PBlockStackItem b = blStack->getTopRepType();
    if (!b) Log->FatalError("[4224] Continue is only valid inside a loop block such as while or repeat");
    jumpTo("jmp", b->startLbl);
}

void handle_BREAK() {
    PBlockStackItem b = blStack->getTopRepType();
    if (!b) Log->FatalError("[4225] Break is only valid used inside block statements such as while or repeat");
    if (src()->peekNextRealChar(true) == ';') {
        jumpTo("jmp", b->endLbl);
        return;
    }
    if (Compiler->ExpectIdentType({itReservedKeyword}) == itNone) Log->FatalUnexpectedToken("643");
    if (tok()->F_Keyword != keyIf) Log->FatalUnexpectedToken("43557");
    expectSymbol("(", "643456");
    exitCondition(b->endLbl, "6445", "5334");
}

void handle_EXITIF() {
    PBlockStackItem b = blStack->getTopIfType();
    if (!b) Log->FatalError("[4225] exitif is only valid used inside of if statements");
    TAFile* f = src();
    if (f->peekNextRealChar(true) == ';') {
        jumpTo("jmp", b->endLbl);
        return;
    }
    if (f->peekNextToken() == ttIdent) {
        f->moveLastPeek();
        if (tok()->F_IdentType != itReservedKeyword) Log->FatalUnexpectedToken("613");
        if (tok()->F_Keyword != keyIf) Log->FatalUnexpectedToken("43567");
    }
    expectSymbol("(", "643456");
    exitCondition(b->endLbl, "6145", "5314");
}
