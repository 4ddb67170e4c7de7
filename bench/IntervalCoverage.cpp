// How often each 95% interval of the estimates table holds the true value, on communities whose true values
// are known: samples drawn from them, each analysed as a sheet is, the hits counted.
//   bench_interval_coverage [SAMPLES [REPLICATES [THREADS]]]   (default 1000 samples, 200 replicates, 2
//   threads)
// Prints a Markdown table (docs/ESTIMATES.md holds one): the share of samples whose interval holds the truth,
// and, for each community, the mean estimate against the truth. Not a test: the figures are for people to
// read.

#include "analysis/Estimators.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace ordana::estimators;

namespace {

struct Community {
    std::string name;
    std::vector<double> p; // relative abundances
    std::int64_t n;        // individuals per sample
};

// The normal quantile by bisection of erfc: slow, but only for building the communities.
double normalQuantile(double u) {
    double lo = -10, hi = 10;
    for (int i = 0; i < 200; ++i) {
        const double mid = (lo + hi) / 2;
        (0.5 * std::erfc(-mid / std::sqrt(2.0)) < u ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// S species whose abundances are the S quantiles of a log-normal of log-sd sigma: one fixed community.
std::vector<double> logNormal(int s, double sigma) {
    std::vector<double> p;
    double total = 0;
    for (int i = 0; i < s; ++i) {
        p.push_back(std::exp(sigma * normalQuantile((i + 0.5) / s)));
        total += p.back();
    }
    for (double& x : p)
        x /= total;
    return p;
}

std::vector<double> geometric(int s, double k) {
    std::vector<double> p;
    double total = 0;
    for (int i = 0; i < s; ++i) {
        p.push_back(std::pow(k, i));
        total += p.back();
    }
    for (double& x : p)
        x /= total;
    return p;
}

double logBinomialPmf(std::int64_t k, std::int64_t m, double p) {
    return std::lgamma(double(m) + 1) - std::lgamma(double(k) + 1) - std::lgamma(double(m - k) + 1) +
           double(k) * std::log(p) + double(m - k) * std::log1p(-p);
}

// The community's Hill number of order q for samples of m individuals, as the curves estimate it: expected
// richness, the exponential of the expected Shannon entropy, and the inverse of the expected Simpson
// concentration (Chao et al. 2014).
double expectedHill(const std::vector<double>& p, int q, double m) {
    if (q == 0) {
        double s = 0;
        for (double x : p)
            s += 1 - std::pow(1 - x, m);
        return s;
    }
    if (q == 2) {
        double d = 0;
        for (double x : p)
            d += x * x;
        return 1 / (1 / m + (1 - 1 / m) * d);
    }
    const auto mi = std::int64_t(std::llround(m));
    double h = 0;
    for (double x : p)
        for (std::int64_t k = 1; k <= mi; ++k) {
            const double w = std::exp(logBinomialPmf(k, mi, x));
            if (w > 0) h -= w * double(k) / m * std::log(double(k) / m);
        }
    return std::exp(h);
}

double expectedCoverage(const std::vector<double>& p, double m) {
    double s = 0;
    for (double x : p)
        s += x * std::pow(1 - x, m);
    return 1 - s;
}

// The size at which the expected coverage reaches c.
double sizeForExpectedCoverage(const std::vector<double>& p, double c) {
    double lo = 1, hi = 1;
    while (expectedCoverage(p, hi) < c)
        hi *= 2;
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2;
        (expectedCoverage(p, mid) < c ? lo : hi) = mid;
    }
    return std::round((lo + hi) / 2);
}

struct Truths {
    std::map<std::string, double> fixed; // estimate key -> its true value
    double coverageLevel = 0;
};

Truths truths(const Community& c) {
    Truths t;
    const double s = double(c.p.size()), n = double(c.n);
    for (const char* key :
         {"chao1", "chao1BiasCorrected", "ace", "jackknife1", "jackknife2", "hill0Asymptotic"})
        t.fixed[key] = s;
    double shannon = 0, simpson = 0;
    for (double x : c.p) {
        shannon -= x * std::log(x);
        simpson += x * x;
    }
    t.fixed["hill1Asymptotic"] = std::exp(shannon);
    t.fixed["hill2Asymptotic"] = 1 / simpson;
    // The common coverage of a run is fixed here at the community's expected coverage at 2n, so that the
    // estimates at it have one true value.
    t.coverageLevel = expectedCoverage(c.p, 2 * n);
    const double covM = sizeForExpectedCoverage(c.p, t.coverageLevel);
    for (int q = 0; q < 3; ++q) {
        const std::string k = std::to_string(q);
        t.fixed["hill" + k + "Observed"] = expectedHill(c.p, q, n);
        t.fixed["hill" + k + "AtSize"] = expectedHill(c.p, q, 2 * n);
        t.fixed["hill" + k + "AtCoverage"] = expectedHill(c.p, q, covM);
    }
    t.fixed["rarefiedRichness"] = expectedHill(c.p, 0, std::floor(n / 2));
    return t;
}

// One sample: the multinomial by conditional binomials.
std::vector<std::int64_t> draw(const Community& c, Random& r) {
    std::vector<std::int64_t> counts(c.p.size());
    std::int64_t left = c.n;
    double rest = 1;
    for (std::size_t i = 0; i < c.p.size(); ++i) {
        counts[i] = i + 1 == c.p.size() ? left : binomial(r, left, std::min(1.0, c.p[i] / rest));
        left -= counts[i];
        rest -= c.p[i];
    }
    return counts;
}

struct Tally {
    int samples = 0, hits = 0, outside = 0; // outside: the interval does not hold its own value
    double sumEstimate = 0;
};

std::map<std::string, Tally> simulate(const Community& c, const Truths& t, int samples, int replicates,
                                      int threads) {
    std::vector<std::map<std::string, Tally>> parts(static_cast<std::size_t>(threads));
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < threads; ++w)
        workers.emplace_back([&, w] {
            auto& mine = parts[std::size_t(w)];
            for (int i; (i = next++) < samples;) {
                Random r(2024, std::uint64_t(i));
                const auto f = Frequencies::fromCounts(draw(c, r));
                Settings s;
                s.replicates = replicates;
                s.stream = std::uint64_t(i);
                s.coverageLevel = t.coverageLevel;
                s.rarefyTo = c.n / 2;
                for (const auto& e : analyse(f, s).estimates) {
                    Tally& y = mine[e.key];
                    ++y.samples;
                    y.sumEstimate += e.value;
                    if (!e.hasInterval) continue;
                    const auto truth = t.fixed.find(e.key);
                    if (truth != t.fixed.end() && e.lower <= truth->second && truth->second <= e.upper)
                        ++y.hits;
                    if (!(e.lower <= e.value && e.value <= e.upper)) ++y.outside;
                }
            }
        });
    for (auto& w : workers)
        w.join();
    std::map<std::string, Tally> all;
    for (const auto& part : parts)
        for (const auto& [key, y] : part) {
            Tally& a = all[key];
            a.samples += y.samples;
            a.hits += y.hits;
            a.outside += y.outside;
            a.sumEstimate += y.sumEstimate;
        }
    return all;
}

} // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int replicates = argc > 2 ? std::atoi(argv[2]) : 200;
    const int threads = argc > 3 ? std::atoi(argv[3]) : 2;
    const std::vector<Community> communities = {
        {"log-normal S=150, sd 1, n=1000", logNormal(150, 1.0), 1000},
        {"log-normal S=150, sd 1, n=250", logNormal(150, 1.0), 250},
        {"log-normal S=150, sd 1, n=4000", logNormal(150, 1.0), 4000},
        {"log-normal S=500, sd 2, n=1000", logNormal(500, 2.0), 1000},
        {"geometric S=60, k=0.9, n=500", geometric(60, 0.9), 500},
        {"even S=50, n=200", std::vector<double>(50, 1.0 / 50), 200},
    };
    const char* keys[] = {"chao1",           "chao1BiasCorrected", "ace",
                          "jackknife1",      "jackknife2",         "hill0Asymptotic",
                          "hill1Asymptotic", "hill2Asymptotic",    "hill0Observed",
                          "hill1Observed",   "hill2Observed",      "hill0AtSize",
                          "hill1AtSize",     "hill2AtSize",        "hill0AtCoverage",
                          "hill1AtCoverage", "hill2AtCoverage",    "rarefiedRichness"};
    std::vector<Truths> truth;
    std::vector<std::map<std::string, Tally>> tallies;
    for (const auto& c : communities) {
        truth.push_back(truths(c));
        tallies.push_back(simulate(c, truth.back(), samples, replicates, threads));
        std::fprintf(stderr, "%s done\n", c.name.c_str());
    }
    std::printf("%d samples per community, %d bootstrap replicates each; %% of samples whose 95%% interval "
                "holds the true value\n\n| estimate |",
                samples, replicates);
    for (const auto& c : communities)
        std::printf(" %s |", c.name.c_str());
    std::printf("\n|---|");
    for (std::size_t i = 0; i < communities.size(); ++i)
        std::printf("---|");
    std::printf("\n");
    for (const char* key : keys) {
        std::printf("| %s |", key);
        for (std::size_t i = 0; i < communities.size(); ++i) {
            const Tally& y = tallies[i][key];
            std::printf(" %.1f |", y.samples ? 100.0 * y.hits / y.samples : 0.0);
        }
        std::printf("\n");
    }
    std::printf(
        "\nMean estimate / true value, and intervals that do not hold their own value:\n\n| estimate |");
    for (const auto& c : communities)
        std::printf(" %s |", c.name.c_str());
    std::printf("\n|---|");
    for (std::size_t i = 0; i < communities.size(); ++i)
        std::printf("---|");
    std::printf("\n");
    for (const char* key : keys) {
        std::printf("| %s |", key);
        for (std::size_t i = 0; i < communities.size(); ++i) {
            const Tally& y = tallies[i][key];
            std::printf(" %.4g / %.4g%s |", y.samples ? y.sumEstimate / y.samples : 0.0, truth[i].fixed[key],
                        y.outside ? (" (" + std::to_string(y.outside) + " outside)").c_str() : "");
        }
        std::printf("\n");
    }
    return 0;
}
