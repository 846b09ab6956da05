// The operand parser: the next operand of an instruction, read from the
// current token on.
#include "compiler.h"

#include <memory>
#include <string>

#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "common.h"
#include "global.h"
#include "log.h"

void TCompiler::baseExpMemory(POperand op, const TCurrentToken* tk) const {
    if (tk->F_Count < 1 || tk->F_Count > 2) Log->FatalError("Invalid expression");
    const TRegister regs[2] = {tk->F_Register, tk->F_Extra.Register_2};
    op->setMemory(static_cast<uint32_t>(tk->F_ByteCount), tk->F_Extra.Displacement,
                  static_cast<uint8_t>(tk->F_Extra.Scale), regs, static_cast<size_t>(tk->F_Count));
}

void TCompiler::checkOwnFrame(const TVar* v) const {
    if (!v || v->mode != vmLocal || !F_CurFunc || F_CurFunc->FuncIndex == 0) return;
    const PIdent id = Idents->getIdent(v->ident);
    if (!id || id->ptr != v) return;
    if (id->scope < FuncMan->hostInfo(F_CurFunc).bodyScope)
        Log->FatalError("[6393] " + std::string(v->name ? v->name : "") +
                        " is a local of an enclosing procedure, out of reach in " + funcName(F_CurFunc));
}

void TCompiler::localMemory(POperand op, const TVar* v, int32_t fieldOffset, int32_t byteCount) const {
    checkOwnFrame(v);
    const uint32_t base = CompileFlags.stackframe_on ? ptrSize : stackDepth(F_CurFunc);
    const auto disp = static_cast<int32_t>(v->address + base + static_cast<uint32_t>(fieldOffset));
    op->setMemory(static_cast<uint32_t>(byteCount), disp, 0, {CompileFlags.stackframe_on ? frameRegister() : REG_ESP});
}

void TCompiler::globalIndex(POperand op, const TVar* v) {
    F_CurFile->commitPeekPosition();  // the "["
    if (ExpectToken({ttNumber}) == ttNone) Log->FatalUnexpectedToken("65412");
    const int64_t n = F_CurToken->F_Integer;
    if (!ExpectSymbol("]")) Log->FatalUnexpectedToken("2344");
    const uint64_t elemSize = v->type_ ? v->type_->size : 0;
    if (v->multiplier != 1) {
        // An element of an array; none past its end.
        if (n < 0 || uint64_t(n) >= v->multiplier) Log->FatalError("[5322] Array out of bounds", true);
        op->displacement = static_cast<int32_t>(static_cast<uint32_t>(op->displacement) +
                                                static_cast<uint32_t>(uint64_t(n) * elemSize));
        return;
    }
    // A byte inside one element.
    if (n < 0 || uint64_t(n) >= elemSize) Log->FatalError("[6523] offset invalid");
    op->size = 1;
    op->displacement = static_cast<int32_t>(static_cast<uint32_t>(op->displacement) + static_cast<uint32_t>(n));
}

namespace {
// A cast written before an operand says its type; it cannot change the size
// the instruction reads or writes, nor carry a number its type cannot hold.
void checkCast(const TOperand* op, const TVarType* cast, const std::string& name) {
    if (!cast) return;
    const std::string type = tavString(cast->name);
    if (op->hint == otImm) {
        const bool fits = cast->vt == dtInteger && TTavAssembler::checkImm(op, cast->size) == asmOK;
        if (!fits) Log->FatalError("[5646] Value " + std::to_string(op->value) + " does not fit the cast to " + type);
        return;
    }
    uint32_t bytes = 0;
    if (op->hint == otRegister) bytes = regSize(op->reg_base);
    else if (op->hint == otVar || op->hint == otMem) bytes = op->size;
    else return;
    if (bytes != cast->size)
        Log->FatalError("[5645] A cast to " + type + " (" + byteCount(cast->size) + ") cannot change the size of " +
                        name + " (" + byteCount(bytes) + ")");
}
}  // namespace

POperand TCompiler::moveNextOperand(bool first, bool regLblRef) {
    if (!first && !ExpectSymbol(",")) Log->FatalUnexpectedToken("3123");
    // Any kind the switch below has no case for is refused there.
    const TTavToken t = F_CurFile->moveNextToken();
    TCurrentToken* tk = F_CurToken;
    const TVarType* cast = tk->F_Cast ? tk->F_CastType : nullptr;
    const std::string castName = cast ? tk->F_String : std::string();
    auto op = std::make_unique<TOperand>();
    switch (t) {
    case ttRegister: op->setRegister(tk->F_Register); break;
    case ttSegment: op->setSegment(tk->F_Segment); break;
    case ttSTreg: op->setIntType(otST, tk->F_Integer); break;
    case ttXMMreg: op->setIntType(otXMM, tk->F_Integer); break;
    case ttNumber: {
        const int64_t v = tk->F_Integer;
        if (F_CurFile->peekNextRealChar(true) == ':') return farOperand(op.get(), v);
        op->setImm(0, 4);
        op->value = v;  // whole: the encoder checks it against its field
        break;
    }
    case ttBaseExp: baseExpMemory(op.get(), tk); break;
    case ttAnsiString:
    case ttWideString: {
        PConst c = Consts->addConstItem("", tk->F_String, t == ttAnsiString ? ctAnsiString : ctWideString);
        c->active = 1;
        op->setPointer(otConst, F_CurFunc, c);
        break;
    }
    case ttSymbol: addressOperand(op.get(), tk); break;
    case ttIdent: identOperand(op.get(), tk, regLblRef); break;
    default: Log->FatalUnexpectedToken("1201");
    }
    checkCast(op.get(), cast, castName);
    return op.release();
}

// segment:offset after the selector v; the offset cannot be a far form again.
POperand TCompiler::farOperand(POperand op, int64_t v) {
    if (F_InFarForm) Log->FatalUnexpectedToken("3434");
    F_CurFile->commitPeekPosition();
    // The selector has two bytes; segstart could not tell a wider value.
    op->setImm(0, 2);
    op->value = v;
    if (const uint32_t r = TTavAssembler::checkImm(op, 2))
        Log->FatalError("[9999] " + TTavAssembler::errorCodeToString(r));
    F_InFarForm = true;
    std::unique_ptr<TOperand> target(moveNextOperand(true, true));
    F_InFarForm = false;
    if (target->hint != otLabel && target->hint != otImm) Log->FatalUnexpectedToken("3434");
    target->hint = otSegLabel;
    target->segstart = static_cast<uint32_t>(v);
    return target.release();
}

// "@" and what follows: a base expression, a variable or a label by address.
void TCompiler::addressOperand(POperand op, TCurrentToken* tk) {
    if (tk->F_String != "@") Log->FatalUnexpectedToken("3321");
    if (F_CurFile->peekNextToken() == ttBaseExp) {
        F_CurFile->moveLastPeek();
        baseExpMemory(op, tk);
        op->hint = otMemRef;
        return;
    }
    const TIdentType k = ExpectIdentType({itGlobalVar, itLocalVar, itProc, itFunc, itLabel});
    if (k == itNone || tk->F_Keyword != keyNone) Log->FatalError("[3333] Invalid pointer reference @" + tk->F_String);
    if (k == itGlobalVar) {
        auto* v = static_cast<PVar>(tk->F_Pointer);
        v->active = 1;
        op->setPointer(otVarRef, F_CurFunc, v);
        op->displacement = tk->F_Extra.Displacement;  // a field's own address
    } else if (k == itLocalVar) {
        auto* v = static_cast<PVar>(tk->F_Pointer);
        v->active = 1;
        localMemory(op, v, tk->F_Extra.Displacement, tk->F_ByteCount);
        op->hint = otMemRef;
    } else {
        auto* target = static_cast<PFunction>(tk->F_Pointer);
        setCalled(target, F_CurFunc);
        op->setLabel(F_CurFunc, target->FuncIndex);
        op->hint = otLabelRef;
    }
}

// A name: what it was declared as decides the operand.
void TCompiler::identOperand(POperand op, TCurrentToken* tk, bool regLblRef) {
    if (tk->F_Keyword != keyNone) Log->FatalUnexpectedToken("1200");
    switch (tk->F_IdentType) {
    case itNone: {
        if (!regLblRef && wideRegisterIn16(tk->F_String))
            Log->FatalError("[1111] " + tk->F_String + " is a 32-bit register, which 16-bit code does not have");
        if (!regLblRef) Log->FatalUnexpectedToken("1111");
        PFunction lbl = addLabelRef(tk->F_String);
        setCalled(lbl, F_CurFunc);
        op->setLabel(F_CurFunc, lbl->FuncIndex);
        break;
    }
    case itFunc:
    case itProc:
    case itLabel: {
        auto* target = static_cast<PFunction>(tk->F_Pointer);
        setCalled(target, F_CurFunc);
        op->setLabel(F_CurFunc, target->FuncIndex);
        break;
    }
    case itConst: {
        auto* c = static_cast<PConst>(tk->F_Pointer);
        if (c->type_ == ctValue) {
            op->setImm(0, ptrSize);
            op->value = c->int_;
        } else {
            c->active = 1;
            op->setPointer(otConst, F_CurFunc, c);
        }
        break;
    }
    case itGlobalVar: {
        auto* v = static_cast<PVar>(tk->F_Pointer);
        v->active = 1;
        op->setPointer(otVar, F_CurFunc, v);
        op->size = static_cast<uint32_t>(tk->F_ByteCount);
        op->displacement = tk->F_Extra.Displacement;
        if (F_CurFile->peekNextRealChar(true) == '[') globalIndex(op, v);
        break;
    }
    case itLocalVar: {
        auto* v = static_cast<PVar>(tk->F_Pointer);
        v->active = 1;
        localMemory(op, v, tk->F_Extra.Displacement, tk->F_ByteCount);
        break;
    }
    case itGlobalVarPtr: {
        auto* v = static_cast<PVar>(tk->F_Pointer);
        v->active = 1;
        op->setPointer(otVarRef, F_CurFunc, v);
        break;
    }
    case itLocalVarPtr: {
        auto* v = static_cast<PVar>(tk->F_Pointer);
        v->active = 1;
        localMemory(op, v, tk->F_Extra.Displacement, tk->F_ByteCount);
        op->hint = otMemRef;
        break;
    }
    case itBaseExpPtr:
        baseExpMemory(op, tk);
        op->hint = otMemRef;
        break;
    case itFuncThis:
    case itProcThis: methodOperandRefused(tk);
    default: Log->FatalUnexpectedToken("1200");
    }
}

// Only a statement of its own calls a method.
void TCompiler::methodOperandRefused(const TCurrentToken* tk) {
    std::string method = funcName(static_cast<const TFunction*>(tk->F_Pointer));
    method = method.substr(method.find('$') + 1);
    std::string call = tk->F_String;
    const std::string tail = lowerAscii("." + method);
    if (call.size() < tail.size() || lowerAscii(call.substr(call.size() - tail.size())) != tail) call += "." + method;
    Log->FatalError("[1200] The method call " + call + " cannot stand as an operand: call it as a statement" +
                        (tk->F_IdentType == itFuncThis ? ", its result is in EAX" : ""),
                    true);
}
