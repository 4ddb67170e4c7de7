#include "analysis/DiversityIndices.h"
#include "analysis/SpeciesSample.h"

#include <benchmark/benchmark.h>

namespace {

// The largest sample a sheet can hold: 32765 species whose total stays within 16 bits.
void BM_ComputeDiversityIndices(benchmark::State& state) {
    ordana::SpeciesSample sample;
    sample.reset();
    for (int i = 0; i < state.range(0); ++i)
        sample.append(ordana::CellValue::number(1));
    sample.complete();
    for (auto _ : state)
        benchmark::DoNotOptimize(ordana::ComputeDiversityIndices(sample));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ComputeDiversityIndices)->Arg(20)->Arg(32765)->Unit(benchmark::kMicrosecond);

} // namespace
