// Cost of compiling a project as it grows: instruction lines with labels and
// forward jumps should cost the same per line at 1,000 and at 100,000 lines.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common.h"
#include "compiler.h"
#include "driver/driver.h"
#include "global.h"
#include "plugins/plugin_manager.h"

namespace {

TAVBOOL TAV_CALL benchBuilder(TTriggerEvent, uint32_t) { return 1; }

std::string project(size_t lines) {
    std::string s = "program bench 'x';\n";
    for (size_t i = 0; i < lines; ++i)
        s += "l" + std::to_string(i) + ": mov eax, [esi+8]; add eax, ebx; push 'text'; jmp l" + std::to_string(i + 1) +
             ";\n";
    s += "l" + std::to_string(lines) + ": retn;\n";
    return s;
}

// Standard output goes to /dev/null while it lives: the banner and warnings.
struct Quiet {
    Quiet() {
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~Quiet() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    int saved;
};

void BM_CompileProject(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / ("tavik_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "p.tav").string();
    std::ofstream(file, std::ios::binary) << project(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        Quiet quiet;
        state.PauseTiming();
        InitTavik();
        CompileFlags.cpu_bits = 32;
        strTAVIK_PATH = dir.string() + "/";
        Plugins->registerBuilder("bench", benchBuilder);
        state.ResumeTiming();
        Compiler->LoadProject(file);
        Compiler->Compile();
        benchmark::DoNotOptimize(Compiler->GetTotalLines());
        state.PauseTiming();
        DeinitTavik();
        state.ResumeTiming();
    }
    std::filesystem::remove_all(dir);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
// Several runs at each size: a single run of a large project is dominated by
// first touches of fresh memory.
BENCHMARK(BM_CompileProject)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Complexity();

}  // namespace
