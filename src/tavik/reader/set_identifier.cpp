// TCurrentToken::setIdentifier: what a word read by the tokenizer stands for.
#include <string>

#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "classes/shared_records.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "reader/cur_token.h"
#include "global.h"
#include "log.h"
#include "reader/token_reader.h"
#include "reader/word_table.h"

using namespace tokread;

namespace {

std::string nameOf(const TVarType* t) { return tavString(t->name); }

// "(" token ")" around a built-in's operand; the operand is read into tok.
void openParen(TAFile* f, TCurrentToken* tok, const char* code) {
    if (!readSymbol(f, tok, '(')) unexpected(tok, code);
}
void closeParen(TAFile* f, TCurrentToken* tok, const char* code) {
    if (!readSymbol(f, tok, ')')) unexpected(tok, code);
}

TTavToken setNumber(TCurrentToken* tok, int64_t v) { return tok->setInteger(4, std::to_string(v), v); }

// The type a variable or type token stands for: its cast type first.
PVarType tokenType(const TCurrentToken* tok) {
    if (tok->F_CastType) return tok->F_CastType;
    if (tok->F_IdentType == itGlobalVar || tok->F_IdentType == itLocalVar) {
        auto* v = static_cast<PVar>(tok->F_Pointer);
        return v ? v->type_ : nullptr;
    }
    if (tok->F_IdentType == itType) return static_cast<PVarType>(tok->F_Pointer);
    return nullptr;
}

// isptrtype / issignedtype: (variable or type)
TTavToken typeTest(TAFile* f, TCurrentToken* tok, bool pointer) {
    openParen(f, tok, "6745");
    if (f->setNextToken(tok) != ttIdent ||
        (tok->F_IdentType != itGlobalVar && tok->F_IdentType != itLocalVar && tok->F_IdentType != itType))
        unexpected(tok, "75122");
    PVarType t = tokenType(tok);
    closeParen(f, tok, "6745");
    const bool yes = t && (pointer ? t->isPointer != 0 : t->signed_ != 0);
    return setNumber(tok, yes ? 1 : 0);
}

[[gnu::noinline]] TTavToken keyword(TAFile* f, TCurrentToken* tok, TKeyword key) {
    switch (key) {
    case keySizeOf: {
        // "sizeof name" or "sizeof(name)".
        TTavToken t = f->setNextToken(tok);
        const bool bracketed = t == ttSymbol && tok->F_String == "(";
        if (bracketed) t = f->setNextToken(tok);
        if (t != ttIdent && t != ttAnsiString && t != ttWideString) unexpected(tok, "643434");
        // A variable or a field counts all its elements.
        int64_t bytes =
            t == ttIdent && tok->F_WholeBytes > 0 && (tok->F_IdentType == itGlobalVar || tok->F_IdentType == itLocalVar)
                ? tok->F_WholeBytes
                : tok->F_ByteCount;
        if (t == ttIdent) {
            // A word that names no type or variable has no size: an undeclared
            // name (one declared further on included), a label, a procedure.
            switch (tok->F_IdentType) {
            case itFunc:
            case itProc:
                if (tok->F_Pointer && static_cast<PFunction>(tok->F_Pointer)->CallData) {
                    bytes = ptrSize;  // a pointer variable
                    break;
                }
                [[fallthrough]];
            case itNone:
            case itReservedKeyword:
            case itLabel:
            case itMacro: unexpected(tok, "643434");
            default: break;
            }
        }
        if (bracketed) closeParen(f, tok, "643435");
        return setNumber(tok, bytes);
    }
    case keyOrd: {
        openParen(f, tok, "6745");
        TTavToken t = f->setNextToken(tok);
        if (t != ttAnsiString && t != ttRegister) unexpected(tok, "542");
        const int64_t v = t == ttRegister ? tok->F_Integer : static_cast<int64_t>(StrOrd(tok->F_String));
        closeParen(f, tok, "6746");
        return setNumber(tok, v);
    }
    case keyCastType: {
        openParen(f, tok, "6745");
        TTavToken t = f->setNextToken(tok);
        if (t != ttIdent && t != ttRegister) unexpected(tok, "543");
        PVarType ty = tok->F_CastType;
        if (!ty && t == ttIdent && (tok->F_IdentType == itGlobalVar || tok->F_IdentType == itLocalVar))
            ty = tokenType(tok);
        if (!ty && t == ttRegister && RegMan && tok->F_Register < REG_STATE_COUNT)
            ty = RegMan->Registers[tok->F_Register].assume;
        closeParen(f, tok, "6746");
        if (!ty && VarMan) ty = VarMan->F_UIntType;
        tok->setNull();
        tok->F_Type = ttIdent;
        tok->F_IdentType = itType;
        tok->F_Pointer = ty;
        if (ty) {
            tok->F_ByteCount = static_cast<int32_t>(ty->size);
            tok->F_BitCount = tok->F_ByteCount * 8;
            tok->F_String = nameOf(ty);
        }
        return tok->F_Type;
    }
    case keyIsPtrType: return typeTest(f, tok, true);
    case keyIsSignedType: return typeTest(f, tok, false);
    case keyTokenText: {
        openParen(f, tok, "6745");
        TTavToken t = f->setNextToken(tok);
        const std::string text = tok->F_String;
        closeParen(f, tok, "6746");
        return tok->setText(text, (t == ttAnsiString || t == ttWideString) ? t : ttAnsiString);
    }
    case keyTokenType: {
        openParen(f, tok, "6747");
        const TTavToken t = f->setNextToken(tok);
        closeParen(f, tok, "6748");
        return setNumber(tok, t);
    }
    default: tok->F_IdentType = itReservedKeyword; return tok->F_Type;
    }
}

// "st", "mm", "xmm" alone or with a number 0 to 7; exactly in lower case.
bool fpuRegister(TCurrentToken* tok, std::string_view str) {
    if (str.empty() || (str[0] != 's' && str[0] != 'm' && str[0] != 'x')) return false;
    TTavToken kind = ttSTreg;
    int64_t n = 0;
    if (str == "xmm") {
        kind = ttXMMreg;
    } else if (str != "st" && str != "mm") {
        size_t prefix = 0;
        if (str.size() > 2 && (str.compare(0, 2, "st") == 0 || str.compare(0, 2, "mm") == 0)) prefix = 2;
        if (str.size() > 3 && str.compare(0, 3, "xmm") == 0) {
            prefix = 3;
            kind = ttXMMreg;
        }
        if (prefix == 0) return false;
        for (size_t i = prefix; i < str.size(); ++i) {
            if (!ascii::isDigit(str[i])) return false;
            n = n * 10 + (str[i] - '0');
            if (n > 7) return false;
        }
    }
    const std::string text(str);  // the token is cleared before its text is set
    tok->setType(kind, 0, text, n);
    return true;
}

// Method of a field chain: the token names the method's function.
void setMethod(TCurrentToken* tok, const TVarField* field) {
    auto* fn = static_cast<PFunction>(field->func);
    tok->F_Pointer = fn;
    tok->F_Type = ttIdent;
    tok->F_IdentType = (fn && fn->Type_ == ltFunc) ? itFuncThis : itProcThis;
}

// "[n]" after a member: element n of an array member, counted in elements
// of the member's type and accessed in the element's size; after a member
// of one element, or after an element, byte n of it.
void memberIndex(TAFile* f, TCurrentToken* tok, const TVar* member, uint32_t& offset, int32_t& byteCount) {
    bool element = member->multiplier > 1;
    while (f->peekNextRealChar(true) == '[') {
        f->commitPeekPosition();
        if (f->setNextToken(tok) != ttNumber) unexpected(tok, "65412");
        const int64_t n = tok->F_Integer;
        if (!readSymbol(f, tok, ']')) unexpected(tok, "2344");
        if (element) {
            if (n < 0 || uint64_t(n) >= member->multiplier) fatal("[5322] Array out of bounds");
            const uint32_t elem = member->type_ ? member->type_->size : 0;
            offset += static_cast<uint32_t>(n) * elem;
            byteCount = static_cast<int32_t>(elem);
            element = false;
            continue;
        }
        if (n < 0 || n >= byteCount) fatal("[6523] offset invalid");
        offset += static_cast<uint32_t>(n);
        byteCount = 1;
    }
}

// A register with an assumed record type followed by ".field...".
[[gnu::noinline]] TTavToken registerChain(TAFile* f, TCurrentToken* tok, TRegister r, PVarType assumed) {
    std::string text = regToStr(r);
    uint32_t offset = 0;
    int32_t byteCount = 0;
    PVarType cur = assumed;
    const TVarField* method = nullptr;
    bool member = false;
    tok->setNull();
    while (f->peekNextRealChar(true) == '.') {
        f->commitPeekPosition();
        std::string word;
        char first;
        if (!readRawWord(f, word, first)) unexpectedChar(tok, first, "3244");
        text += "." + word;
        const TVarField* fld = cur ? findField(cur, word) : nullptr;
        if (!fld) {
            tok->setNull();
            tok->F_Type = ttIdent;
            tok->F_String = word;
            unexpected(tok, "12422");
        }
        if (fld->ft == vftFunc) {
            method = fld;
            break;
        }
        offset += fld->variable.address;
        cur = fld->variable.type_;
        member = true;
        byteCount = cur ? static_cast<int32_t>(cur->size) : 0;
        memberIndex(f, tok, &fld->variable, offset, byteCount);
    }
    tok->setNull();
    tok->F_ByteCount = byteCount;
    tok->F_BitCount = byteCount * 8;
    tok->F_Pointer = nullptr;
    tok->F_Count = 1;
    tok->F_Extra.Displacement = static_cast<int32_t>(offset);
    tok->F_Type = ttBaseExp;
    tok->F_Register = r;
    tok->F_IdentType = itNone;
    tok->F_String = text;
    // Read as the member's type, when a member was named.
    if (member) tok->F_CastType = cur;
    if (method) {
        // The object is the member the chain reached: the register plus its offset.
        POperand op = tok->newOperand();
        if (offset) {
            op->setMemory(0, static_cast<int32_t>(offset), 0, {r});
            op->hint = otMemRef;
        } else {
            op->setRegister(r);
        }
        setMethod(tok, method);
    }
    return tok->F_Type;
}

// A variable, with an optional chain of record fields.
[[gnu::noinline]] TTavToken variable(TAFile* f, TCurrentToken* tok, PVar v, TIdentType kind, const std::string& text) {
    const char next = f->peekNextRealChar(true);
    // A name being declared takes no index: "dword a[4];" again is a redeclaration.
    if ((next != '.' && next != '[') || (next == '[' && Compiler && Compiler->F_NameOnly)) {
        tok->F_ByteCount = v->type_ ? static_cast<int32_t>(v->type_->size) : 0;
        tok->F_BitCount = tok->F_ByteCount * 8;
        tok->F_Extra.Displacement = 0;
        tok->F_Pointer = v;
        if (next != '[') tok->F_WholeBytes = int64_t(tok->F_ByteCount) * v->multiplier;
        return tok->F_Type;
    }
    uint32_t offset = 0;
    int32_t byteCount = v->type_ ? static_cast<int32_t>(v->type_->size) : 0;
    std::string lastName = text;
    const TVar* rec = v;
    const TVarField* method = nullptr;
    int64_t whole = int64_t(byteCount) * v->multiplier;
    // An index on the variable itself: an element of an array, a byte of
    // anything else; members of the element may follow.
    if (next == '[') {
        memberIndex(f, tok, v, offset, byteCount);
        whole = byteCount;
    }
    while (f->peekNextRealChar(true) == '.') {
        f->commitPeekPosition();
        std::string word;
        char first;
        if (!readRawWord(f, word, first)) unexpectedChar(tok, first, "324");
        const TVarField* fld = rec->type_ ? findField(rec->type_, word) : nullptr;
        if (!fld) {
            tok->setNull();
            tok->F_Type = ttIdent;
            tok->F_String = word;
            unexpected(tok, "12412");
        }
        if (fld->ft == vftFunc) {
            method = fld;
            break;
        }
        lastName = word;
        offset += fld->variable.address;
        rec = &fld->variable;
        byteCount = rec->type_ ? static_cast<int32_t>(rec->type_->size) : 0;
        const bool indexed = f->peekNextRealChar(true) == '[';
        memberIndex(f, tok, rec, offset, byteCount);
        whole = indexed ? byteCount : int64_t(byteCount) * rec->multiplier;
    }
    tok->setNull();
    tok->F_Type = ttIdent;
    tok->F_String = lastName;
    tok->F_ByteCount = byteCount;
    tok->F_BitCount = byteCount * 8;
    tok->F_Pointer = v;
    tok->F_Extra.Displacement = static_cast<int32_t>(offset);
    tok->F_IdentType = kind;
    tok->F_WholeBytes = whole;
    // The type the token is read as: the member's, when a member was named.
    if (rec != v) tok->F_CastType = rec->type_;
    if (method) {
        // The object of the call is the outer variable at the summed offset
        // of the fields before the method.
        v->active = 1;
        POperand op = tok->newOperand();
        if (v->mode == vmLocal) {
            if (Compiler) Compiler->checkOwnFrame(v);
            if (CompileFlags.stackframe_on) {
                op->setMemory(0, static_cast<int32_t>(v->address + ptrSize + offset), 0, {frameRegister()});
            } else {
                const uint32_t localOffset = Compiler ? Compiler->stackDepth(Compiler->F_CurFunc) : 0;
                op->setMemory(0, static_cast<int32_t>(v->address + localOffset + offset), 0, {REG_ESP});
            }
            op->hint = otMemRef;
        } else {
            op->setPointer(otVarRef, Compiler ? Compiler->F_CurFunc : nullptr, v);
            op->displacement = static_cast<int32_t>(offset);
        }
        setMethod(tok, method);
    }
    return tok->F_Type;
}

// A type name, "name*" for its pointer type; before a memory expression it
// sizes that expression.
[[gnu::noinline]] TTavToken typeName(TAFile* f, TCurrentToken* tok, PVarType t, const std::string& word) {
    if (f->peekNextRealChar(false) == '*') {
        f->commitPeekPosition();
        const std::string name = word + "*";
        PIdent id = Idents->findIdent(name);
        if (id && id->type_ == itType) {
            t = static_cast<PVarType>(id->ptr);
        } else {
            const uint32_t bits = 8 * ptrSize;
            const uint64_t upper = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
            t = VarMan->addType(name, ptrSize, int64_t(0), static_cast<int64_t>(upper), true, true);
        }
        tok->F_String = name;
        tok->F_Type = ttIdent;
        tok->F_IdentType = itType;
    }
    // The look-ahead fills the compiler's peek token, which may be this very
    // token (when the type is itself being peeked): keep both intact.
    TCurrentToken saved;
    saved.setCurToken(*Compiler->F_PeekToken);
    TCurrentToken self;
    self.setCurToken(*tok);
    // Only a memory expression counts here: a variable after the type is
    // not indexed by this look (it may be a name being declared again).
    bool memory;
    {
        const bool nameOnly = Compiler->F_NameOnly;
        Compiler->F_NameOnly = true;
        struct Restore {
            bool old;
            ~Restore() { Compiler->F_NameOnly = old; }
        } restore{nameOnly};
        memory = f->peekNextToken() == ttBaseExp;
    }
    TCurrentToken mem;
    if (memory) {
        mem.setCurToken(*Compiler->F_PeekToken);
        f->commitPeekPosition();
    }
    Compiler->F_PeekToken->setCurToken(saved);
    tok->setCurToken(memory ? mem : self);
    if (memory) tok->F_CastType = t;  // "sbyte [ebx]" is read as a signed byte
    tok->F_Pointer = t;
    tok->F_ByteCount = static_cast<int32_t>(t->size);
    tok->F_BitCount = tok->F_ByteCount * 8;
    return tok->F_Type;
}

[[gnu::noinline]] TTavToken constant(TCurrentToken* tok, const TConst* c) {
    switch (c->type_) {
    case ctAnsiString: tok->setText(tavString(c->str), ttAnsiString); break;
    case ctWideString: tok->setText(tavString(c->str), ttWideString); break;
    case ctValue: tok->setInteger(4, std::to_string(c->int_), c->int_); break;
    case ctFloat: {
        const long double v = fromTavExt(c->ext);
        tok->setFloat(TConstManager::floatText(v), v);
        break;
    }
    default: unexpected(tok, "652222");
    }
    tok->F_IdentType = itNone;
    return tok->F_Type;
}

}  // namespace

TTavToken TCurrentToken::setIdentifier(std::string_view str) {
    TAFile* f = TAFile::activeReader();
    if (!f) [[unlikely]] {
        static TAFile noSource;  // a word resolved outside any reading sees the end of the text
        f = &noSource;
    }
    setNull();
    F_Type = ttIdent;
    F_String.append(str.data(), str.size());  // cleared by setNull
    F_ByteCount = static_cast<int32_t>(str.size() + 1);
    F_BitCount = F_ByteCount * 8;
    // str may lie in the source text: from here on the copy is used.
    const std::string& word = F_String;
    const TWord* w = words::findIn(word);
    F_Keyword = w ? w->keyword : keyNone;
    if (F_Keyword != keyNone) return keyword(f, this, F_Keyword);

    const TRegister r = words::registerOf(w);
    if (r != REG_NONE) {
        PVarType assumed = (RegMan && r < REG_STATE_COUNT) ? RegMan->Registers[r].assume : nullptr;
        if (!assumed || f->peekNextRealChar(false) != '.') {
            // What setRegister gives; the token is already clear but for its text.
            F_Type = ttRegister;
            F_Register = r;
            F_Integer = r;
            F_Extended = r;
            F_ByteCount = regSize(r);
            F_BitCount = F_ByteCount * 8;
            return F_Type;
        }
        return registerChain(f, this, r, assumed);
    }
    // A mnemonic (none is named like a segment or FPU register) that no
    // identifier was ever declared as: nothing more to resolve.
    if (w && w->mnemonic && !w->declared && w->segment == SEG_NONE) {
        F_IdentType = itNone;
        F_Word = w;
        return F_Type;
    }
    return resolveWord(f, w);
}

TTavToken TCurrentToken::resolveWord(TAFile* f, const TWord* w) {
    const std::string& word = F_String;
    const TSegment s = w ? w->segment : SEG_NONE;
    if (s != SEG_NONE) return setSegment(s, std::string(word));
    if (fpuRegister(this, word)) return F_Type;

    // A reserved word no identifier was ever declared as cannot be one.
    PIdent id = Idents && (!w || w->declared) ? Idents->findIdent(word) : nullptr;
    if (!id) {
        F_IdentType = itNone;
        F_Word = w;
        return F_Type;
    }
    F_IdentType = id->type_;
    for (char& c : F_String) c = ascii::toLower(c);  // lower-cased in place
    switch (id->type_) {
    case itReservedKeyword: return F_Type;
    case itConst: return constant(this, static_cast<const TConst*>(id->ptr));
    case itType: return typeName(f, this, static_cast<PVarType>(id->ptr), F_String);
    case itGlobalVar:
    case itLocalVar: return variable(f, this, static_cast<PVar>(id->ptr), id->type_, F_String);
    case itFunc:
    case itProc:
    case itLabel: F_Pointer = id->ptr; return F_Type;
    case itDefine: setCurToken(*static_cast<const TCurrentToken*>(id->ptr)); return F_Type;
    case itMacro: {
        auto* mac = static_cast<TMacro*>(id->ptr);
        if (CompileFlags.peek_mode) {
            F_Pointer = mac;
            return F_Type;
        }
        if (!MacroCallHandler) fatal("[000091] Macro calls are not supported yet");
        MacroCallHandler(mac);
        if (mac->result) setCurToken(*mac->result);
        else setSymbol(';');
        return F_Type;
    }
    default: fatal("[000090] Unknown ident type");
    }
}
