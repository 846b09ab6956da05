// Tokenizes arbitrary bytes as a source text, with a few declared names, a
// typed register and a macro expansion in progress, mixing plain reads,
// peeks with commits and operator reads. A fatal error in the text is a
// normal outcome; a crash, a sanitizer report or a hang is a finding.
#include <cstdint>
#include <cstdio>
#include <string>

#include "reader/afile.h"
#include "classes/block_stack.h"
#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "reader/cur_token.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "log.h"
#include "driver/settings.h"

namespace {

TCurrentToken* numberToken(int64_t v) {
    auto* t = new TCurrentToken();
    t->setInteger(4, std::to_string(v), v);
    return t;
}

void declareNames() {
    PIdent dw = Idents->findIdent("dword");
    auto* dword = static_cast<PVarType>(dw->ptr);
    PVarType point = VarMan->addType("tpoint", 8, 0, 0, false, false);
    VarMan->addField(point, vftType, "x", dword, 1, 0, nullptr);
    VarMan->addField(point, vftType, "y", dword, 1, 4, nullptr);
    VarMan->addField(point, vftFunc, "len", nullptr, 1, 0, FuncMan->CreateFunction(ltFunc, nullptr));
    PVarType rect = VarMan->addType("trect", 16, 0, 0, false, false);
    VarMan->addField(rect, vftType, "a", point, 1, 0, nullptr);
    VarMan->addField(rect, vftType, "b", point, 1, 8, nullptr);
    VarMan->addVar(vmGlobal, "r", rect, 1, 0);
    VarMan->addVar(vmLocal, "lr", rect, 1, 24);
    RegMan->Registers[REG_EBX].assume = rect;
    Consts->addConst("ten", 10, ctValue);
    Consts->addConst("hello", "hello", ctAnsiString);
    Consts->addConst("half", 0.5L, ctFloat);
    DefMan->addDefine("five", 5);
    MacMan->newMacro("mac", mtFunc);
    FuncMan->CreateFunction(ltProc, nullptr);

    TMacro* m = MacMan->newMacro("expanding", mtProc);
    m->addParam("a");
    m->addParam("b");
    m->paramcount = MACRO_UNCOUNTED;
    m->setParam(0, numberToken(1));
    m->setParam(1, numberToken(2));
    m->setParam(2, numberToken(3));
    MacMan->F_CurMacro = m;
    MacMan->curpars = 3;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Fatal messages go to standard output; libFuzzer reports on stderr.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    ptrSize = 4;
    CreateGlobals();
    Compiler->F_CurFunc = FuncMan->CreateFunction(ltProc, nullptr);
    declareNames();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const uint32_t modes[] = {16, 32, 64};
    CompileFlags.cpu_bits = modes[data[0] % 3];
    const uint8_t style = data[0] / 3;
    TAFile f;
    f.loadBuffer("fuzz.tav", std::string(reinterpret_cast<const char*>(data + 1), size - 1), nullptr);
    Compiler->F_CurFile = &f;
    try {
        for (int i = 0; i < 4096; ++i) {
            TTavToken t;
            switch ((i + style) % 4) {
            case 0:
                t = f.peekNextToken();
                f.moveLastPeek();
                break;
            case 1:
                if (f.moveNextIfMathOp(false) != moNone) continue;
                t = f.moveNextToken();
                break;
            default: t = f.moveNextToken();
            }
            if (t == ttEOF) break;
        }
    } catch (const EAbort&) {}
    Compiler->F_CurFile = nullptr;
    Compiler->F_CurToken->setNull();
    Compiler->F_PeekToken->setNull();
    return 0;
}
