#include "analysis/Estimators.h"
#include "analysis/SpecialFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace ordana::estimators;

namespace {

// ln [C(n-x, m) / C(n, m)] factor by factor in long double: slow, but owing nothing to the closed forms.
long double directLogMiss(std::int64_t n, std::int64_t x, std::int64_t m) {
    const std::int64_t k = std::min(x, m), j = std::max(x, m);
    long double s = 0;
    for (std::int64_t i = 0; i < k; ++i)
        s += std::log1p(-static_cast<long double>(j) / static_cast<long double>(n - i));
    return s;
}

// The Chao-Shannon entropy as Chao, Wang and Jost (2013) write it, every sum taken term by term.
long double directChaoShannon(const Frequencies& f) {
    const std::int64_t n = f.n;
    const long double f1 = f.f(1), f2 = f.f(2);
    long double h = 0;
    for (const auto& c : f.classes) {
        long double harmonic = 0;
        for (std::int64_t k = c.abundance; k < n; ++k)
            harmonic += 1.0L / static_cast<long double>(k);
        h += static_cast<long double>(c.species * c.abundance) / static_cast<long double>(n) * harmonic;
    }
    const long double a = 2 * f2 / (static_cast<long double>(n - 1) * f1 + 2 * f2), x = 1 - a;
    long double sum = 0, power = 1;
    for (std::int64_t r = 1; r < n; ++r) {
        power *= x;
        sum += power / static_cast<long double>(r);
    }
    return h + f1 / static_cast<long double>(n) * std::pow(x, static_cast<long double>(1 - n)) *
                   (-std::log(a) - sum);
}

} // namespace

// The chance that m draws miss x individuals where no table of the sample's size exists and where its
// factorials cancel to a small number: against the product of its factors.
TEST(LargeSamples, MissRatioAgreesWithTheProductOfItsFactors) {
    const struct {
        std::int64_t n, x, m;
    } rows[] = {
        {1000, 10, 100},                             // few factors
        {70000, 200, 1000},                          // Stirling's form
        {100000, 50, 30000},                         //
        {1000000000, 1000, 100000},                  // a billion individuals
        {std::int64_t(1) << 52, 100000, 1000000000}, // near 2^53
        {200000, 99000, 100000},                     // almost every individual drawn or missed
        {100, 40, 45},                               // Stirling's form at its smallest argument
        {100, 45, 50},                               // below it: factorials
        {5000000, 4000, 4000},                       //
    };
    for (const auto& r : rows) {
        const double want = double(directLogMiss(r.n, r.x, r.m));
        EXPECT_NEAR(logMissRatio(r.n, r.x, r.m), want, 1e-9 * std::fabs(want) + 1e-12) << r.n << " " << r.x;
        EXPECT_NEAR(Tables(r.n).logMiss(r.n, r.x, r.m), want, 1e-9 * std::fabs(want) + 1e-12)
            << r.n << " " << r.x;
    }
    EXPECT_EQ(logMissRatio(10, 6, 5), -INFINITY);
    EXPECT_EQ(logMissRatio(10, 0, 5), 0);
}

// The entropy's tail summed in closed form once the sample passes 2^16 individuals, and its harmonic sums by
// the digamma function: against the formula summed term by term.
TEST(LargeSamples, ChaoShannonEntropyOfAMillionIndividuals) {
    std::vector<std::int64_t> counts(5, 1);
    counts.insert(counts.end(), 10, 2);
    counts.insert(counts.end(), 20, 50000);
    counts.push_back(3);
    const auto f = Frequencies::fromCounts(counts);
    ASSERT_GT(f.n, Tables::kTabled);
    EXPECT_NEAR(chaoShannonEntropy(f), double(directChaoShannon(f)), 1e-12);
}

// Both ways of drawing a binomial, on both sides of where one gives way to the other: the binomial's mean and
// variance, and its probabilities where they can be counted.
TEST(LargeSamples, BinomialDrawsFollowTheBinomial) {
    const struct {
        std::int64_t n;
        double p;
        bool counted;
    } rows[] = {
        {10, 0.3, true},
        {40, 0.2, true},
        {200, 0.3, true},
        {1000, 0.98, true},
        {1000000, 5e-6, false},
        {std::int64_t(1) << 40, 1e-9, false},
        {std::int64_t(1) << 52, 0.5, false},
    };
    constexpr int kDraws = 20000;
    Random random(20141201, 7);
    for (const auto& r : rows) {
        std::map<std::int64_t, int> seen;
        double sum = 0, sumSq = 0;
        for (int i = 0; i < kDraws; ++i) {
            const std::int64_t k = binomial(random, r.n, r.p);
            ASSERT_GE(k, 0);
            ASSERT_LE(k, r.n);
            const double d = double(k) - double(r.n) * r.p; // centred, so 2^52 draws keep their digits
            sum += d;
            sumSq += d * d;
            if (r.counted) ++seen[k];
        }
        const double variance = double(r.n) * r.p * (1 - r.p), mean = sum / kDraws;
        EXPECT_NEAR(mean, 0, 5 * std::sqrt(variance / kDraws)) << r.n << " " << r.p;
        EXPECT_NEAR((sumSq / kDraws - mean * mean) / variance, 1, 0.08) << r.n << " " << r.p;
        if (!r.counted) continue;
        // Pearson's statistic over the values expected at least 5 times, the rest pooled.
        double chi2 = 0, pooledExpected = 0, pooledSeen = 0;
        int cells = 0;
        for (std::int64_t k = 0; k <= r.n; ++k) {
            const double e = kDraws * std::exp(std::lgamma(double(r.n) + 1) - std::lgamma(double(k) + 1) -
                                               std::lgamma(double(r.n - k) + 1) + double(k) * std::log(r.p) +
                                               double(r.n - k) * std::log1p(-r.p));
            const double o = seen.count(k) ? seen[k] : 0;
            if (e < 5) {
                pooledExpected += e;
                pooledSeen += o;
                continue;
            }
            chi2 += (o - e) * (o - e) / e;
            ++cells;
        }
        if (pooledExpected > 0)
            chi2 += (pooledSeen - pooledExpected) * (pooledSeen - pooledExpected) / pooledExpected;
        EXPECT_LT(chi2, cells + 5 * std::sqrt(2.0 * cells)) << r.n << " " << r.p;
    }
}

// A replicate holds as many individuals as the sample whichever way it is drawn, and the shapes that held
// gigabytes (a billion individuals of one species, 20,000 singletons whose f0 is 200 million) are estimated.
TEST(LargeSamples, ReplicatesKeepTheSampleSize) {
    std::vector<std::int64_t> spread(300);
    for (std::size_t i = 0; i < spread.size(); ++i)
        spread[i] = 1 + std::int64_t(i * 7919 % 1000000);
    spread.insert(spread.end(), {1, 1, 1, 2});
    const struct {
        const char* what;
        std::vector<std::int64_t> counts;
        double chao1;
    } rows[] = {
        {"20,000 singletons", std::vector<std::int64_t>(20000, 1),
         20000 + 19999.0 / 20000 * 20000 * 19999 / 2},
        {"a billion of one species", {1000000000}, 1},
        {"near 2^53", {std::int64_t(1) << 52, (std::int64_t(1) << 52) - 5, 3, 1, 1, 2, 7}, 9},
        {"drawn by binomials, with undetected species", spread, NAN},
    };
    for (const auto& r : rows) {
        const auto f = Frequencies::fromCounts(r.counts);
        int replicates = 0;
        forEachReplicate(f, 1, 2, 3, [&](const Frequencies& b) {
            ++replicates;
            std::int64_t n = 0;
            for (const auto& c : b.classes)
                n += c.abundance * c.species;
            EXPECT_EQ(n, f.n) << r.what;
            EXPECT_EQ(b.n, f.n) << r.what;
        });
        EXPECT_EQ(replicates, 3) << r.what;
        Settings settings;
        settings.replicates = 20;
        const Analysis a = analyse(f, settings);
        for (const auto& e : a.estimates) {
            if (!std::isnan(r.chao1) && e.key == "chao1") {
                EXPECT_NEAR(e.value, r.chao1, 1e-9 * r.chao1) << r.what;
            }
            EXPECT_FALSE(std::isnan(e.value)) << r.what << " " << e.key;
            EXPECT_TRUE(e.se < 0 || std::isfinite(e.se)) << r.what << " " << e.key;
        }
    }
}
