// Operator statements: one operator applied to a variable, a general
// register, a segment register or a memory expression, compiled to one
// instruction; and the register type assumptions ("ebx as Node;").
#include <memory>
#include <string>

#include "reader/afile.h"
#include "classes/function_manager.h"
#include "classes/register_manager.h"
#include "common.h"
#include "compiler.h"
#include "reader/cur_token.h"
#include "exceptions.h"
#include "global.h"
#include "handlers/handlers.h"
#include "log.h"
#include "encoder/tav_assembler.h"

namespace {

using OperandPtr = std::unique_ptr<TOperand>;

// Encodes one instruction into the current function. A refusal of the
// encoder is reported with the statement's own site code, which is why the
// encoder is asked here rather than through execInstruction (that one
// reports every refusal under its own code). The mnemonics used here do not
// push, pop, call or return, so no push depth or epilogue is involved.
void emit(const char* site, const char* name, POperand a, POperand b = nullptr) {
    const PInstruction row = TTavAssembler::opcodeLookup(name);
    if (!row) throw EInternalError(std::string("Instruction ") + name + " does not exist");
    TTavAssembler& enc = Compiler->Assembler();
    const uint32_t code = enc.assemble(row, a, b);
    const std::string bytes = enc.popCode();
    if (code != asmOK) Log->FatalError(std::string("[") + site + "] " + TTavAssembler::errorCodeToString(code));
    PFunction fn = Compiler->F_CurFunc;
    if (bytes.empty() || CompileFlags.peek_mode || !fn) return;
    appendCode(fn, bytes);
    Compiler->clearLastRet(fn);
}

void setAssume(TRegister reg, PVarType type) {
    if (reg < REG_STATE_COUNT) RegMan->Registers[reg].assume = type;
}

// The operator after the target, read in the unsigned mode.
TMathOp readOperator() { return src()->moveNextIfMathOp(false); }

// The operand of a variable token: the variable itself with the access size
// and the offset of a member path; a local one on the frame.
OperandPtr variableOperand(const TCurrentToken* tk) {
    auto* v = static_cast<PVar>(tk->F_Pointer);
    if (!v) throw EInternalError("Variable token without its variable");
    v->active = 1;
    auto op = std::make_unique<TOperand>();
    const auto member = static_cast<uint32_t>(tk->F_Extra.Displacement);
    const auto size = static_cast<uint32_t>(tk->F_ByteCount);
    if (tk->F_IdentType == itLocalVar) {
        Compiler->checkOwnFrame(v);
        // The same frame slot that an instruction operand on the variable
        // reaches: above EBP by the word size, or above ESP by the pushes so far.
        const bool frame = CompileFlags.stackframe_on != 0;
        const uint32_t base = frame ? ptrSize : Compiler->stackDepth(Compiler->F_CurFunc);
        op->setMemory(size, static_cast<int32_t>(v->address + base + member), 0, {frame ? frameRegister() : REG_ESP});
    } else {
        op->setPointer(otVar, Compiler->F_CurFunc, v);
        op->size = size;
        op->displacement = static_cast<int32_t>(member);
    }
    return op;
}

OperandPtr baseExpOperand(const TCurrentToken* tk) {
    if (tk->F_Count < 1 || tk->F_Count > 2) Log->FatalError("Invalid expression");
    auto op = std::make_unique<TOperand>();
    const TRegister regs[2] = {tk->F_Register, tk->F_Extra.Register_2};
    // A scale that does not fit the operand's byte must not wrap into a
    // valid one (258 would read as 2): 255 is one the encoder refuses.
    const int32_t sc = tk->F_Extra.Scale;
    const auto scale = static_cast<uint8_t>(sc < 0 || sc > 255 ? 255 : sc);
    op->setMemory(static_cast<uint32_t>(tk->F_ByteCount), tk->F_Extra.Displacement, scale, regs,
                  static_cast<size_t>(tk->F_Count));
    return op;
}

OperandPtr registerOperand(TRegister reg) {
    auto op = std::make_unique<TOperand>();
    op->setRegister(reg);
    return op;
}

// The operand on the right ends the statement: nothing else may follow on
// its line but "as" after a register's source (takeRegAs).
OperandPtr readSource(bool asMayFollow = false) {
    OperandPtr op(Compiler->moveNextOperand(true, false));
    TAFile* f = src();
    const bool as = asMayFollow && f->peekNextToken() == ttIdent && Compiler->F_PeekToken->F_Keyword == keyAs;
    if (!as) Compiler->statementEnds(false);
    return op;
}

// A function or procedure named right after "=": the call is committed.
// Returns false when something else follows.
bool takeCallOnTheRight(const char* procSite) {
    TAFile* f = src();
    if (f->peekNextToken() != ttIdent || Compiler->F_PeekToken->F_Keyword != keyNone) return false;
    const TIdentType k = Compiler->F_PeekToken->F_IdentType;
    if (k != itFunc && k != itProc) return false;
    f->moveLastPeek();
    if (k == itProc) Log->FatalError(std::string("[") + procSite + "] Procedures do not return values");
    handle_FUNCCALL(true, nullptr);
    return true;
}

// moNone leaves the cursor before whatever follows the target.
void expectEndOfStatement() {
    if (src()->peekNextRealChar(true) != ';') Log->FatalError("[42341] Expected a math operator");
}

[[noreturn]] void invalidOperator(TMathOp mo) {
    Log->FatalError("[42340] Invalid math operator \"" + mo2str(mo) + "\"");
}

// The operators shared by every target but the segment registers, after
// "=" has been dealt with by the caller.
void applyOperator(const char* site, TMathOp mo, POperand target) {
    switch (mo) {
    case moNone: expectEndOfStatement(); return;
    case moInc:
    case moDec:
        Compiler->statementEnds(false);
        emit(site, mo == moInc ? "inc" : "dec", target);
        return;
    case moIsEqual:
    case moNotEqual:
    case moAddBy:
    case moSubBy:
    case moMulByU:
    case moShiftLeft:
    case moShiftRight: break;
    default: invalidOperator(mo);
    }
    OperandPtr src = readSource();
    const char* name = nullptr;
    switch (mo) {
    case moAddBy: name = "add"; break;
    case moSubBy: name = "sub"; break;
    // The low half of a product is the same for signed and unsigned
    // factors, and the two-operand form leaves EDX alone; the encoder takes
    // it with a register target only.
    case moMulByU: name = "imul"; break;
    case moShiftLeft: name = "shl"; break;
    case moShiftRight: name = "shr"; break;
    default: name = "cmp"; break;
    }
    emit(site, name, target, src.get());
}

// The accumulator of a size; REG_NONE for a size that has none.
TRegister accumulatorOf(uint32_t size) {
    switch (size) {
    case 1: return REG_AL;
    case 2: return REG_AX;
    case 4: return REG_EAX;
    case 8: return REG_RAX;
    default: return REG_NONE;
    }
}

void handle_regAs(TRegister reg);

// "as" after a register, when it follows: sets the register's type.
void takeRegAs(TRegister reg) {
    TAFile* f = src();
    if (f->peekNextToken() != ttIdent || Compiler->F_PeekToken->F_Keyword != keyAs) return;
    f->moveLastPeek();
    handle_regAs(reg);
}

void handle_regAs(TRegister reg) {
    TCompiler* c = Compiler;
    const TTavToken t = c->ExpectToken({ttIdent, ttNumber});
    TCurrentToken* tk = tok();
    if (t == ttIdent) {
        if (tk->F_Keyword != keyNone || tk->F_IdentType != itType || !tk->F_Pointer) Log->FatalUnexpectedToken("67453");
        setAssume(reg, static_cast<PVarType>(tk->F_Pointer));
    } else if (t == ttNumber) {
        if (tk->F_Integer != 0) Log->FatalUnexpectedToken("67454");
        setAssume(reg, nullptr);
    } else {
        Log->FatalUnexpectedToken("67452");
    }
    if (!c->ExpectSymbol(";")) Log->FatalError("7645");
}

// "=" and the other operators on a variable or memory target; callSize is
// the size of the accumulator taken after a call on the right.
void assignOrApply(const char* site, const char* procSite, POperand target, uint32_t callSize) {
    const TMathOp mo = readOperator();
    if (mo != moAssign) {
        applyOperator(site, mo, target);
        return;
    }
    if (takeCallOnTheRight(procSite)) {
        const TRegister acc = accumulatorOf(callSize);
        if (acc == REG_NONE) Log->FatalError("[45177] Unknown error");
        OperandPtr a = registerOperand(acc);
        emit(site, "mov", target, a.get());
        return;
    }
    OperandPtr src = readSource();
    emit(site, "mov", target, src.get());
}

}  // namespace

void handle_VAR() {
    OperandPtr target = variableOperand(tok());
    assignOrApply("65158", "4236", target.get(), target->size);
}

void handle_BASEEXP() {
    OperandPtr target = baseExpOperand(tok());
    // A call result is taken from EAX whatever the memory operand's size.
    assignOrApply("65156", "4234", target.get(), 4);
}

void handle_REGISTER() {
    const TRegister reg = tok()->F_Register;
    TAFile* f = src();
    if (f->peekNextToken() == ttIdent && Compiler->F_PeekToken->F_Keyword == keyAs) {
        f->moveLastPeek();
        handle_regAs(reg);
        return;
    }
    const TMathOp mo = readOperator();
    OperandPtr target = registerOperand(reg);
    if (mo != moAssign) {
        applyOperator("65156", mo, target.get());
        return;
    }
    if (takeCallOnTheRight("423")) {
        setAssume(reg, nullptr);
        OperandPtr a = registerOperand(accumulatorOf(regSize(reg)));
        emit("65156", "mov", target.get(), a.get());
    } else {
        OperandPtr src = readSource(true);
        const bool isVar = src->hint == otVar || src->hint == otVarRef;
        setAssume(reg, isVar && src->data ? static_cast<PVar>(src->data)->type_ : nullptr);
        if (src->hint == otImm && src->value == 0) {
            OperandPtr same = registerOperand(reg);
            emit("65156", "xor", target.get(), same.get());
        } else {
            emit("65156", "mov", target.get(), src.get());
        }
    }
    takeRegAs(reg);
}

void handle_SEGMENT() {
    TAFile* f = src();
    if (f->peekNextRealChar(true) != '=') Log->FatalUnexpectedToken("64211");
    f->commitPeekPosition();
    OperandPtr target = std::make_unique<TOperand>();
    target->setSegment(tok()->F_Segment);
    OperandPtr src = readSource();
    emit("45422", "mov", target.get(), src.get());
}
