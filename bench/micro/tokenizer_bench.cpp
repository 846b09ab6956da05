// Tokenizer throughput: the cost per line must stay the same from 1,000 to
// 100,000 lines of source (comments, literals, memory expressions, sized
// operands, numbers and declared names).
#include <benchmark/benchmark.h>

#include <string>

#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/macro_manager.h"
#include "classes/register_manager.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "driver/driver.h"
#include "global.h"
#include "log.h"
#include "driver/settings.h"

namespace {

struct FrontEnd {
    FrontEnd() {
        ptrSize = 4;
        CompileFlags.cpu_bits = 32;
        CreateGlobals();
        Consts->addConst("limit", 100, ctValue);
        VarMan->addVar(vmGlobal, "counter", static_cast<PVarType>(Idents->findIdent("dword")->ptr), 1, 0);
    }
    ~FrontEnd() { FreeGlobals(); }
};

std::string source(int64_t lines) {
    std::string s;
    for (int64_t i = 0; i < lines; ++i) {
        switch (i % 4) {
        case 0: s += "  mov eax, dword [ebx+esi*4+16] // load\r\n"; break;
        case 1: s += "  add counter, limit /* bump */ ; cmp eax, 0x7FFF;\r\n"; break;
        case 2: s += "  push 'a quoted \\t literal' ; push -12345;\r\n"; break;
        default: s += "  label" + std::to_string(i) + ": sub ecx, [edi-8];\r\n"; break;
        }
    }
    return s;
}

void BM_TokenizeLines(benchmark::State& state) {
    FrontEnd env;
    const std::string text = source(state.range(0));
    for (auto _ : state) {
        TAFile f;
        f.loadBuffer("bench.tav", text, nullptr);
        Compiler->F_CurFile = &f;
        int64_t tokens = 0;
        while (f.moveNextToken() != ttEOF) ++tokens;
        Compiler->F_CurFile = nullptr;
        benchmark::DoNotOptimize(tokens);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TokenizeLines)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
