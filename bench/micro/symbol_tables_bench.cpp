// Cost of the identifier table as it grows: adding and finding distinct
// names should cost the same per name at 1,000 and at 100,000 names.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "classes/ident_manager.h"

namespace {
std::vector<std::string> names(size_t n) {
    std::vector<std::string> v;
    v.reserve(n);
    for (size_t i = 0; i < n; ++i) v.push_back("Ident_" + std::to_string(i * 7919 % 1000003));
    return v;
}

void BM_AddIdents(benchmark::State& state) {
    const auto ns = names(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        TIdentManager t;
        for (const auto& n : ns) t.addIdent(itLabel, n, nullptr);
        benchmark::DoNotOptimize(t.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AddIdents)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond)->Complexity();

// One lookup per iteration, names taken in turn from a table of n entries.
void BM_FindIdent(benchmark::State& state) {
    const auto ns = names(static_cast<size_t>(state.range(0)));
    TIdentManager t;
    for (const auto& n : ns) t.addIdent(itLabel, n, nullptr);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.findIdent(ns[i], t.F_CurrentScope));
        if (++i == ns.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FindIdent)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

// The same 1,000 names, spread over the table, looked up in tables of n
// entries: the work per lookup, with the cache effects of a large table
// taken out.
void BM_FindHot(benchmark::State& state) {
    const auto ns = names(static_cast<size_t>(state.range(0)));
    TIdentManager t;
    for (const auto& n : ns) t.addIdent(itLabel, n, nullptr);
    std::vector<std::string> hot;
    for (size_t k = 0; k < 1000; ++k) hot.push_back(ns[k * ns.size() / 1000]);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.findIdent(hot[i], t.F_CurrentScope));
        if (++i == hot.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FindHot)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

// A name that is not declared, looked up in a table of n entries.
void BM_FindUnknown(benchmark::State& state) {
    const auto ns = names(static_cast<size_t>(state.range(0)));
    TIdentManager t;
    for (const auto& n : ns) t.addIdent(itLabel, n, nullptr);
    const std::string unknown = "not_declared";
    for (auto _ : state) benchmark::DoNotOptimize(t.findIdent(unknown, t.F_CurrentScope));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FindUnknown)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();
}  // namespace
