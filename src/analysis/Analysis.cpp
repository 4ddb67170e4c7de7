#include "Analysis.h"

#include "Bootstrap.h"
#include "Curves.h"
#include "EstimateRows.h"
#include "EstimatorMath.h"
#include "Hill.h"
#include "Richness.h"

#include <algorithm>
#include <cmath>

namespace ordana::estimators {

using namespace detail;

namespace {

// Running sums of every bootstrapped statistic and of the curve's four values at each size.
struct Replicates {
    std::vector<Running> stats, curve;
};

// The bootstrap: one generator per sample, replicates in order, running sums only.
Replicates bootstrap(const Frequencies& f, const Tables& t, const Settings& settings, double sizeM,
                     double covM, const std::vector<std::int64_t>& sizes) {
    Replicates out{std::vector<Running>(StCount), std::vector<Running>(sizes.size() * 4)};
    forEachReplicate(f, settings.seed, settings.stream, settings.replicates, [&](const Frequencies& b) {
        double v[StCount];
        v[StJack1] = jackknife1(b);
        v[StJack2] = jackknife2(b);
        v[StFisher] = fisherAlpha(b).value;
        v[StCoverage] = coverageChaoJost(b);
        v[StGood] = goodsCoverage(b);
        for (int q = 0; q < 3; ++q) {
            v[StHillObs0 + q] = hillObserved(b, q);
            v[StSize0 + q] = hillAt(b, t, q, sizeM);
            v[StCov0 + q] = hillAt(b, t, q, covM);
        }
        v[StHillAsy1] = hillAsymptotic(b, 1).value;
        v[StHillAsy2] = hillAsymptotic(b, 2).value;
        for (int k = 0; k < StCount; ++k)
            out.stats[std::size_t(k)].add(v[k]);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            for (int q = 0; q < 3; ++q)
                out.curve[i * 4 + std::size_t(q)].add(hillAt(b, t, q, double(sizes[i])));
            out.curve[i * 4 + 3].add(coverageAt(b, t, double(sizes[i])));
        }
    });
    return out;
}

} // namespace

Analysis analyse(const Frequencies& f, const Settings& settings) {
    Analysis a;
    a.notes = sampleNotes(f);
    const Tables t(f.n);
    a.sizeLevel = settings.sizeLevel > 0 ? settings.sizeLevel : 2.0 * double(f.n);
    a.coverageLevel =
        settings.coverageLevel > 0 ? settings.coverageLevel : coverageAt(f, t, 2.0 * double(f.n));
    const double sizeM = a.sizeLevel;
    const double covM = sizeForCoverage(f, t, a.coverageLevel);

    Rows rows{a, {}};
    addRows(rows, f, t, settings, sizeM, covM);

    const std::vector<std::int64_t> sizes = curveSizes(f.n, settings.curvePoints);
    a.curve.resize(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        a.curve[i].m = double(sizes[i]);
        for (int q = 0; q < 3; ++q)
            a.curve[i].value[q] = hillAt(f, t, q, double(sizes[i]));
        a.curve[i].value[3] = coverageAt(f, t, double(sizes[i]));
    }
    const Replicates reps = bootstrap(f, t, settings, sizeM, covM, sizes);
    for (const auto& [row, stat] : rows.booted)
        setBootstrapped(a.estimates[row], stat, reps.stats[std::size_t(stat)].sd(), f, settings.replicates);
    for (std::size_t i = 0; i < a.curve.size(); ++i)
        for (int k = 0; k < 4; ++k) {
            const double sd = std::max(0.0, reps.curve[i * 4 + std::size_t(k)].sd());
            CurvePoint& c = a.curve[i];
            c.lower[k] = std::max(0.0, c.value[k] - kZ * sd);
            c.upper[k] = c.value[k] + kZ * sd;
            if (k == 3) c.upper[k] = std::min(1.0, c.upper[k]);
        }
    return a;
}

} // namespace ordana::estimators
