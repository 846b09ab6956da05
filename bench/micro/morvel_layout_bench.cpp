// Cost of the code layout against the size of the program: functions with a
// locals placeholder, a short and a near jump each, plus one long function
// full of jumps. The time per function and per jump should stay flat.
#include <benchmark/benchmark.h>

#include "host.h"
#include "layout.h"
#include "test_host.h"

using namespace morvel_test;

namespace {

void manyFunctions(TestHost& h, uint32_t n) {
    std::vector<uint8_t> code(3, 0x90);
    code.insert(code.end(), 6, 0x90);  // locals at 3
    code.insert(code.end(), 7, 0x90);  // jmp at 9
    code.insert(code.end(), 10, 0xCC);
    code.insert(code.end(), 7, 0x90);  // jne at 26
    code.insert(code.end(), 200, 0xCC);
    code.push_back(0xC3);
    for (uint32_t i = 0; i < n; ++i) {
        PFunction f = h.addFunction(ltProc, "f");
        f->IsCalled = 1;
        h.setCode(f, code);
        PFunction near = h.addLabel(f, "a", 26);
        PFunction far = h.addLabel(f, "b", 233);
        h.addFixup(f, ftLocals, 3, 6, 0);
        h.addFixup(f, ftJmp, 9, 7, near->FuncIndex);
        h.addFixup(f, ftJmp, 26, 7, far->FuncIndex, 0, jtJNE);
    }
}

void oneLongFunction(TestHost& h, uint32_t jumps) {
    PFunction f = h.func(0);
    std::vector<uint8_t> code;
    std::vector<uint32_t> at;
    for (uint32_t i = 0; i < jumps; ++i) {
        at.push_back(uint32_t(code.size()));
        code.insert(code.end(), 7, 0x90);
        code.insert(code.end(), 20, 0xCC);
    }
    code.push_back(0xC3);
    h.setCode(f, code);
    for (uint32_t i = 0; i < jumps; ++i) {
        PFunction l = h.addLabel(f, "l", at[(i * 7919u) % jumps]);
        h.addFixup(f, ftJmp, at[i], 7, l->FuncIndex, 0, uint16_t(i % 17));
    }
}

// Lays out, each iteration, what fill puts into a fresh host for the
// argument; only the layout is timed.
void timeLayout(benchmark::State& state, void (*fill)(TestHost&, uint32_t)) {
    uint32_t n = uint32_t(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto h = std::make_unique<TestHost>();
        fill(*h, n);
        morvel::takeServices(h->table());
        state.ResumeTiming();
        benchmark::DoNotOptimize(morvel::layoutCode());
        state.PauseTiming();
        h.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_LayoutManyFunctions(benchmark::State& state) { timeLayout(state, manyFunctions); }
void BM_LayoutOneLongFunction(benchmark::State& state) { timeLayout(state, oneLongFunction); }

}  // namespace

BENCHMARK(BM_LayoutManyFunctions)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayoutOneLongFunction)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
