#include "handlers/handlers.h"

#include <memory>
#include <string>
#include <vector>

#include "reader/afile.h"
#include "classes/function_manager.h"
#include "classes/shared_records.h"
#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "nesting_guard.h"

namespace {

using tavasm::regClass;
using tavasm::regNum;

// The arguments of one call statement in source order; a nested call stands
// as EAX (its result), its label, then its own arguments. Each statement has
// its own list, so a call compiled while the arguments are read (a macro)
// cannot disturb it. An argument knows the parameter it fills (callee nil
// for the label of a nested call).
struct Arg {
    std::unique_ptr<TOperand> op;
    PFunction callee = nullptr;
    uint32_t param = 0;
    int64_t value = 0;         // a constant's whole value
    bool signedValue = false;  // a variable of a signed type: widened with its sign
};
using ArgList = std::vector<Arg>;

// Calls standing as arguments are read recursively: past this depth the
// source is refused before it could exhaust the stack.
constexpr uint32_t kMaxCallDepth = 200;
uint32_t g_CallDepth = 0;

PFunction callTarget(const TOperand* op) {
    if (op->hint != otLabel) return nullptr;
    PFunction t = FuncMan->getFunc(static_cast<uint32_t>(op->value));
    return t && (t->Type_ == ltFunc || t->Type_ == ltProc) ? t : nullptr;
}

bool espBased(const TOperand* op) {
    return (op->hint == otMem || op->hint == otMemRef) && op->reg_count >= 1 && op->reg_base == REG_ESP;
}

uint32_t wordSize() { return ptrSize ? ptrSize : 4; }
uint32_t slots(uint32_t bytes) { return (bytes + wordSize() - 1) / wordSize() * wordSize(); }

// Bytes of the value an argument stands for; 0 for a constant, which takes
// the size of its parameter.
uint32_t valueBytes(const TOperand* op) {
    switch (op->hint) {
    case otImm: return 0;
    case otRegister: return regClass(op->reg_base);
    case otMem:
    case otVar: return op->size ? op->size : wordSize();
    default: return wordSize();  // an address, a segment register
    }
}

// Bytes that pushing op puts on the stack: a register takes a word (a
// 16-bit one is pushed without an operand-size prefix).
uint32_t stackBytes(const TOperand* op) {
    return op->hint == otMem || op->hint == otVar ? slots(valueBytes(op)) : wordSize();
}

// The parameter an argument fills, when the callee has a record of it.
const TFuncParam* paramOf(const Arg& a) {
    if (!a.callee || a.param >= tavCount(a.callee->Params)) return nullptr;
    return &a.callee->Params[a.param];
}
uint32_t paramBytes(const TFuncParam* p) { return p->type_ ? p->type_->size : 0; }

// A value wider than its parameter would leave more on the stack than the
// callee removes.
void checkArgumentSize(const Arg& a) {
    const TFuncParam* p = paramOf(a);
    if (!p) return;
    if (a.op->hint == otImm) {
        // A number must fit a byte or word parameter as an immediate would,
        // or the callee would read only its low bytes.
        const uint32_t bytes = paramBytes(p);
        if (bytes != 1 && bytes != 2) return;
        const int64_t lo = bytes == 1 ? -128 : -32768, hi = bytes == 1 ? 255 : 65535;
        if (a.value >= lo && a.value <= hi) return;
        Log->FatalError("[6315] " + rangeText(a.value, lo, hi) + " for parameter \"" + tavString(p->name) + "\" of " +
                        byteCount(bytes));
    }
    const uint32_t have = valueBytes(a.op.get());
    if (slots(have) <= slots(paramBytes(p))) return;
    Log->FatalError("[6313] Argument of " + std::to_string(have) + " bytes for parameter \"" + tavString(p->name) +
                    "\" of " + std::to_string(paramBytes(p)) + " bytes");
}

uint32_t handle_GetParams(ArgList& args, PFunction callee, uint32_t firstParam);

// The token names a variable (or a member, or a cast) of a signed integer type.
bool signedVariable(const TCurrentToken* t) {
    const TVarType* type = t->F_CastType;
    if (!type && t->F_Type == ttIdent && (t->F_IdentType == itGlobalVar || t->F_IdentType == itLocalVar) &&
        t->F_Pointer)
        type = static_cast<const TVar*>(t->F_Pointer)->type_;
    return type && type->signed_ && type->vt == dtInteger;
}

// The signed value of bytes bytes in the slot on top of the stack, widened
// to the slot, and its sign in the words of the parameter above it: in
// place, with no register changed.
void signExtendTop(PFunction cur, uint32_t bytes, uint32_t highWords) {
    if (wordSize() != 4)
        Log->FatalError("[6314] A signed argument of " + byteCount(bytes) +
                        " cannot be widened with its sign in 16-bit code: pass it in a register");
    TOperand top, count;
    top.setMemory(4, 0, 0, {REG_ESP});
    if (bytes < 4) {
        count.setImm(static_cast<int32_t>(32 - 8 * bytes), 1);
        Compiler->execInstruction(cur, "shl", &top, &count);
        Compiler->execInstruction(cur, "sar", &top, &count);
    }
    for (uint32_t w = 1; w <= highWords; ++w) {
        // A copy of the value, turned into its sign, goes to its word.
        TOperand copy = top, sign, slot;
        Compiler->execInstruction(cur, "push", &copy);
        sign.setImm(31, 1);
        Compiler->execInstruction(cur, "sar", &top, &sign);
        slot.setMemory(4, static_cast<int32_t>(4 * w), 0, {REG_ESP});
        Compiler->execInstruction(cur, "pop", &slot);
    }
}

// One argument; a function named as an argument is called in place.
void readArgument(ArgList& args, PFunction callee, uint32_t param) {
    Arg arg;
    arg.op.reset(Compiler->moveNextOperand(true, false));
    arg.callee = callee;
    arg.param = param;
    PFunction target = callTarget(arg.op.get());
    if (!target) {
        if (arg.op->hint == otImm) arg.value = tok()->F_Type == ttNumber ? tok()->F_Integer : arg.op->value;
        if (arg.op->hint == otVar || arg.op->hint == otMem) arg.signedValue = signedVariable(tok());
        checkArgumentSize(arg);
        args.push_back(std::move(arg));
        return;
    }
    if (target->Type_ == ltProc) Log->FatalError("[31354] \"" + std::string(funcName(target)) + "\" is a procedure");
    Arg result{std::make_unique<TOperand>(), callee, param, 0};
    // One push of the result: AX in 16-bit code, where it is all that the
    // push takes.
    result.op->setRegister(wordSize() == 2 ? REG_AX : REG_EAX);
    checkArgumentSize(result);
    args.push_back(std::move(result));
    arg.callee = nullptr;
    args.push_back(std::move(arg));
    const uint32_t expected = target->ParamCount;
    TNestingGuard nest(g_CallDepth, kMaxCallDepth, "[6356] Calls nested too deeply");
    const uint32_t n = handle_GetParams(args, target, 0);
    if (n > expected) Log->FatalError("[6355] Too many parameters");
    if (n < expected) Log->FatalError("[6355] Not enough parameters");
}

// "( arg, ... )" when it follows; the number of arguments of this level,
// which fill the callee's parameters from firstParam on.
uint32_t handle_GetParams(ArgList& args, PFunction callee, uint32_t firstParam) {
    if (src()->peekNextRealChar(true) != '(') return 0;
    src()->commitPeekPosition();
    if (src()->peekNextRealChar(true) == ')') {
        src()->commitPeekPosition();
        return 0;
    }
    for (uint32_t count = 1;; ++count) {
        readArgument(args, callee, firstParam + count - 1);
        if (src()->moveNextToken() != ttSymbol) Log->FatalUnexpectedToken("1127");
        if (tok()->F_String == ")") return count;
        if (tok()->F_String != ",") Log->FatalUnexpectedToken("1127");
    }
}

// Pushes op. An operand addressed through ESP was built before the pushes
// of this statement: it is moved by what they added to the stack.
void pushArgument(PFunction cur, const TOperand* op, uint32_t depth) {
    TOperand arg = *op;
    if (espBased(&arg)) arg.displacement = static_cast<int32_t>(static_cast<uint32_t>(arg.displacement) + depth);
    // An address is one word, whatever it points to.
    if (arg.hint == otMemRef || arg.hint == otVarRef || arg.hint == otLabelRef || arg.hint == otConst)
        arg.size = ptrSize;
    // A byte or word register fills its slot zero-extended, through its own
    // full register, which the exchange restores.
    const uint32_t cls = arg.hint == otRegister ? regClass(arg.reg_base) : 4;
    const uint8_t num = regNum(arg.reg_base);
    if (ptrSize == 4 && cls < 4 && !(cls == 2 && num == 4)) {
        TOperand full, top;
        full.setRegister(static_cast<TRegister>(REG_EAX + (cls == 1 ? num & 3 : num)));
        top.setMemory(4, 0, 0, {REG_ESP});
        Compiler->execInstruction(cur, "push", &full);
        Compiler->execInstruction(cur, "movzx", &full, &arg);
        Compiler->execInstruction(cur, "xchg", &top, &full);
        return;
    }
    if (ptrSize == 2 && cls == 1) {
        // 16-bit addressing has no [sp]: the slot is reached through bp,
        // which is kept meanwhile.
        TOperand full, bp, sp, top;
        full.setRegister(static_cast<TRegister>(REG_AX + (num & 3)));
        bp.setRegister(REG_BP);
        sp.setRegister(REG_SP);
        top.setMemory(2, 2, 0, {REG_BP});
        Compiler->execInstruction(cur, "push", &full);
        Compiler->execInstruction(cur, "movzx", &full, &arg);
        Compiler->execInstruction(cur, "push", &bp);
        Compiler->execInstruction(cur, "mov", &bp, &sp);
        Compiler->execInstruction(cur, "xchg", &top, &full);
        Compiler->execInstruction(cur, "pop", &bp);
        return;
    }
    Compiler->execInstruction(cur, "push", &arg);
}

// Pushes an argument in as many bytes as its parameter takes: the words
// above a narrower value first, a constant's own high words, else zeros.
// The bytes pushed.
uint32_t pushToParameter(PFunction cur, const Arg& a, uint32_t depth) {
    const TFuncParam* p = paramOf(a);
    const uint32_t have = stackBytes(a.op.get());
    const uint32_t want = p ? slots(paramBytes(p)) : have;
    const uint32_t bits = 8 * wordSize();
    for (uint32_t w = want / wordSize(); w-- > have / wordSize();) {
        int64_t v = 0;
        if (a.op->hint == otImm) v = bits * w < 64 ? a.value >> (bits * w) : (a.value < 0 ? -1 : 0);
        if (bits == 16) v = static_cast<int16_t>(static_cast<uint16_t>(v));  // this word alone
        TOperand hi;
        hi.setImm(static_cast<int32_t>(static_cast<uint32_t>(v)), 4);
        Compiler->execInstruction(cur, "push", &hi);
        depth += wordSize();
    }
    if (a.op->hint == otImm && want > wordSize()) {
        // The words above went first: the low word alone remains.
        TOperand low = *a.op;
        low.value = bits < 64 ? static_cast<int64_t>(static_cast<uint64_t>(a.value) & ((1ull << bits) - 1)) : a.value;
        if (bits == 32) low.value = static_cast<int32_t>(static_cast<uint32_t>(low.value));
        if (bits == 16) low.value = static_cast<int16_t>(static_cast<uint16_t>(low.value));
        pushArgument(cur, &low, depth);
        return want > have ? want : have;
    }
    pushArgument(cur, a.op.get(), depth);
    const uint32_t bytes = valueBytes(a.op.get());
    if (a.signedValue && bytes < 8 && (bytes < have || want > have))
        signExtendTop(cur, bytes, want > have ? (want - have) / wordSize() : 0);
    return want > have ? want : have;
}

// Calls f: through its pointer variable when it has one, else by its label.
void callFunction(PFunction cur, PFunction f) {
    TOperand target;
    callOperand(cur, f, target);
    Compiler->F_CountedCall = f->CallData ? f : nullptr;
    Compiler->execInstruction(cur, "call", &target);
    // Only a call by label tells the push depth what the callee removes.
    if (f->CallData) cur->LocalOffset -= f->ParamSize;
}

}  // namespace

void callOperand(PFunction cur, PFunction f, TOperand& target) {
    const PVar v = f->CallData;
    if (v && v->mode == vmGlobal) {
        v->active = 1;
        target.setPointer(otVar, cur, v);
        target.size = ptrSize;
    } else if (v) {
        Compiler->checkOwnFrame(v);
        v->active = 1;
        if (CompileFlags.stackframe_on)
            target.setMemory(ptrSize, static_cast<int32_t>(v->address + ptrSize), 0, {frameRegister()});
        else target.setMemory(ptrSize, static_cast<int32_t>(v->address + Compiler->stackDepth(cur)), 0, {REG_ESP});
    } else {
        target.setLabel(cur, f->FuncIndex);
    }
}

void handle_FUNCCALL(bool first, POperand thisPar) {
    if (!first) return;
    PFunction cur = Compiler->F_CurFunc;
    auto* f = static_cast<PFunction>(tok()->F_Pointer);
    if (!f) throw EInternalError("Call without a function");
    setCalled(f, cur);

    // "fp = value;" assigns the pointer variable.
    if (f->CallData && src()->peekNextRealChar(true) == '=') {
        PVar v = f->CallData;
        TCurrentToken* t = tok();
        t->setNull();
        t->F_Type = ttIdent;
        t->F_IdentType = v->mode == vmGlobal ? itGlobalVar : itLocalVar;
        t->F_Pointer = v;
        t->F_ByteCount = v->type_ ? static_cast<int32_t>(v->type_->size) : 0;
        t->F_BitCount = 8 * t->F_ByteCount;
        t->F_Operand = nullptr;
        handle_VAR();
        return;
    }

    // The object stays the token's; a copy is pushed (the token may be
    // overwritten while the arguments are read).
    std::unique_ptr<TOperand> self;
    if (thisPar) self = std::make_unique<TOperand>(*thisPar);

    ArgList args;
    const uint32_t n = handle_GetParams(args, f, self ? 1 : 0) + (self ? 1 : 0);
    if (n > f->ParamCount) Log->FatalError("[6311] Too many parameters");
    if (n < f->ParamCount) Log->FatalError("[6312] Not enough parameters");

    // Every callee removes its own parameters: after the call the stack is
    // where it was before the first push.
    const uint32_t base = cur->LocalOffset;
    uint32_t depth = 0;
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
        PFunction nested = it->callee ? nullptr : callTarget(it->op.get());
        if (nested) {
            setCalled(nested, f);
            callFunction(cur, nested);
            depth -= nested->ParamSize;
        } else {
            depth += pushToParameter(cur, *it, depth);
        }
        it->op.reset();
    }
    args.clear();
    if (self) pushArgument(cur, self.get(), depth);

    callFunction(cur, f);
    cur->LocalOffset = base;
    // A token after the call on its line would be a statement of its own;
    // "reg = f() as Type" is read by its assignment.
    TAFile* file = src();
    if (file->peekNextToken() != ttIdent || Compiler->F_PeekToken->F_Keyword != keyAs) Compiler->statementEnds(false);
}

void handle_RETURN() {
    PFunction cur = Compiler->F_CurFunc;
    const TTavToken t = src()->peekNextToken();
    const TCurrentToken* pk = Compiler->F_PeekToken;
    if (t == ttIdent && pk->F_Keyword == keyNone && pk->F_IdentType == itProc)
        Log->FatalError("Procedures do not return values");
    if (t == ttSymbol && pk->F_String == ";") {
        // "return;": out through the epilogue, the parameters removed.
    } else if (t == ttIdent && pk->F_Keyword == keyNone && pk->F_IdentType == itFunc) {
        src()->moveLastPeek();
        handle_FUNCCALL(true, nullptr);  // the result is in EAX
    } else {
        std::unique_ptr<TOperand> op(Compiler->moveNextOperand(true, true));
        TRegister reg;
        switch (op->size) {
        case 1: reg = REG_AL; break;
        case 2: reg = REG_AX; break;
        case 4: reg = REG_EAX; break;
        case 8:
            // A qword in memory comes back in EDX:EAX, the low dword in EAX.
            if (op->hint == otVar || op->hint == otMem) {
                reg = REG_EAX;
                break;
            }
            [[fallthrough]];
        default: Log->FatalError("[32423] Return operand invalid size");
        }
        TOperand dst;
        dst.setRegister(reg);
        if (op->size == 8) {
            TOperand high = *op;
            op->size = high.size = 4;
            high.displacement = static_cast<int32_t>(static_cast<uint32_t>(op->displacement) + 4);
            TOperand edx;
            edx.setRegister(REG_EDX);
            // The register of the address that the first load would
            // overwrite goes last; with both, the high dword waits on the
            // stack.
            const bool mem = op->hint == otMem;
            const bool viaEax = mem && op->addressUses(regNum(REG_EAX)),
                       viaEdx = mem && op->addressUses(regNum(REG_EDX));
            if (viaEax && viaEdx) {
                Compiler->execInstruction(cur, "push", &high);
                Compiler->execInstruction(cur, "mov", &dst, op.get());
                Compiler->execInstruction(cur, "pop", &edx);
            } else if (viaEax) {
                Compiler->execInstruction(cur, "mov", &edx, &high);
                Compiler->execInstruction(cur, "mov", &dst, op.get());
            } else {
                Compiler->execInstruction(cur, "mov", &dst, op.get());
                Compiler->execInstruction(cur, "mov", &edx, &high);
            }
        } else {
            Compiler->execInstruction(cur, "mov", &dst, op.get());
        }
    }
    Compiler->releasePushes(cur);
    TOperand imm;
    imm.setImm(static_cast<int32_t>(cur->ParamSize), 4);
    Compiler->execInstruction(cur, "ret", &imm);
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("7532");
}
