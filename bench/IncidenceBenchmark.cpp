// The incidence analysis at the scale a field season reaches: 500 species over 1,000 sampling units, every
// estimate and the curves at 40 points with 200 bootstrap replicates (the figure asked is 30 s on two cores,
// the per-sample abundance analysis included). The peak resident memory is reported after each run: the
// analysis keeps running sums, so it grows with the matrix, not with the replicates.

#include "analysis/Incidence.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <vector>

using namespace ordana::estimators;

namespace {

constexpr std::size_t kSpecies = 500, kUnits = 1000;

// Detection probabilities logit-normal around 2% (a few species nearly everywhere, many in one unit or none),
// drawn with the project's generator: the same matrix on every machine. The sparse survey, around 0.1%,
// leaves most species in one unit and Q0-hat in the thousands.
std::vector<std::int64_t> draw(double logit) {
    Random r(45, 3);
    auto uniform = [&] { return (double(r.next() >> 11) + 0.5) * 0x1p-53; };
    std::vector<std::int64_t> out(kSpecies * kUnits);
    for (std::size_t s = 0; s < kSpecies; ++s) {
        const double z = std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
        const double p = 1 / (1 + std::exp(-(logit + 1.8 * z)));
        for (std::size_t u = 0; u < kUnits; ++u)
            if (uniform() < p) out[s * kUnits + u] = 1 + std::int64_t(r.next() % 20);
    }
    return out;
}

const std::vector<std::int64_t>& survey(bool sparse = false) {
    static const std::vector<std::int64_t> common = draw(-4), rare = draw(-8);
    return sparse ? rare : common;
}

void reportMemory(benchmark::State& state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024;
}

void BM_IncidenceFromMatrix(benchmark::State& state) {
    const auto& cells = survey();
    for (auto _ : state)
        benchmark::DoNotOptimize(Incidence::fromMatrix(cells, kUnits));
    reportMemory(state);
}
BENCHMARK(BM_IncidenceFromMatrix)->Unit(benchmark::kMillisecond);

void BM_IncidenceAnalysis(benchmark::State& state) {
    const Incidence f = Incidence::fromMatrix(survey(state.range(1) != 0), kUnits);
    Settings settings;
    settings.replicates = int(state.range(0));
    settings.curvePoints = 40;
    for (auto _ : state)
        benchmark::DoNotOptimize(analyse(f, settings));
    state.counters["species"] = double(f.s);
    state.counters["Q1"] = double(f.q(1));
    state.counters["Q2"] = double(f.q(2));
    state.counters["Q0hat"] = undetected(f);
    reportMemory(state);
}
BENCHMARK(BM_IncidenceAnalysis)
    ->ArgNames({"replicates", "sparse"})
    ->Args({20, 0})
    ->Args({200, 0})
    ->Args({200, 1})
    ->Unit(benchmark::kMillisecond);

// Nearly every species in one unit and one in two: Q0-hat about 100,000 undetected species, drawn as a group
// rather than one by one (which would be 10^8 draws a replicate).
void BM_IncidenceManyUndetected(benchmark::State& state) {
    std::vector<std::int64_t> detections(450, 1);
    detections.push_back(2);
    for (std::int64_t y = 3; y < 52; ++y)
        detections.push_back(y);
    const Incidence f = Incidence::fromDetections(detections, std::int64_t(kUnits));
    Settings settings;
    for (auto _ : state)
        benchmark::DoNotOptimize(analyse(f, settings));
    state.counters["Q0hat"] = undetected(f);
    reportMemory(state);
}
BENCHMARK(BM_IncidenceManyUndetected)->Unit(benchmark::kMillisecond);

} // namespace
