// Pruning the ordered problem list: one key problem with very many records
// below it (a big vendor key whose every value is broken). The one-pass
// compaction is set against removing the covered records one by one, where
// every removal moves the whole tail of the list.
#include "engine/hivemender.h"
#include "scan/scan_driver.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

// Sorted already: the key, `below` values of it, then one unrelated value.
ProblemList KeyWithRecordsBelow(int below) {
    ProblemList problems;
    ProblemRecord key;
    key.keyPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor";
    key.id = "hkey_local_machine\\software\\vendor\\";
    key.kind = ProblemDeleteKey;
    problems.push_back(key);
    char name[32];
    for (int i = 0; i < below; ++i) {
        ProblemRecord value = key;
        std::snprintf(name, sizeof(name), "value%07d", i);
        value.valueName = name;
        value.id = key.id + name;
        value.kind = ProblemDeleteValue;
        problems.push_back(value);
    }
    ProblemRecord after = key;
    after.id = "hkey_local_machine\\software\\zvendor\\v";
    after.kind = ProblemDeleteValue;
    problems.push_back(after);
    return problems;
}

void PruneOneByOne(ProblemList& problems) {
    for (size_t i = 0; i < problems.size(); ++i) {
        if (problems[i].kind != ProblemDeleteKey)
            continue;
        const std::string prefix = problems[i].id;
        while (i + 1 < problems.size() && problems[i + 1].id.compare(0, prefix.size(), prefix) == 0)
            problems.erase(problems.begin() + static_cast<std::ptrdiff_t>(i + 1));
    }
}

template <void (*Prune)(ProblemList&)> void BM_Prune(benchmark::State& state) {
    const ProblemList source = KeyWithRecordsBelow(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        ProblemList problems = source;
        state.ResumeTiming();
        Prune(problems);
        if (problems.size() != 2)
            state.SkipWithError("wrong result");
        benchmark::DoNotOptimize(problems.data());
    }
    state.SetComplexityN(state.range(0));
}

void BM_OrderProblems(benchmark::State& state) {
    const ProblemList source = KeyWithRecordsBelow(static_cast<int>(state.range(0)));
    CHivemender engine;
    for (auto _ : state) {
        state.PauseTiming();
        engine.m_problems = source;
        state.ResumeTiming();
        OrderProblems(engine);
        benchmark::DoNotOptimize(engine.m_problems.data());
    }
}

} // namespace

BENCHMARK(BM_Prune<PruneCoveredProblems>)
    ->Name("OnePassPrune")
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
// Quadratic: 100,000 would take minutes, so the reference stops at 30,000.
BENCHMARK(BM_Prune<PruneOneByOne>)
    ->Name("OneByOnePrune")
    ->Arg(10000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(BM_OrderProblems)->Arg(100000)->Unit(benchmark::kMillisecond);
