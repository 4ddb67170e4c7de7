// How often the incidence estimates' 95% intervals hold the truth: surveys of T units drawn from communities
// of known detection probabilities (each species seen in each unit with its probability), each analysed with
// 200 bootstrap replicates, the share of intervals that contain the true value printed per estimate:
//   bench_incidence_coverage [SURVEYS]    (default 400 per community and T, on two threads)
// Richness estimators aim at the community's species count; Hill numbers at those of the relative detection
// probabilities; the coverage at the detection mass of the species the survey found; the curve at 2T at the
// expected richness and coverage of 2T units. Not a test: the figures are what the methods give.

#include "analysis/Incidence.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace ordana::estimators;

namespace {

struct Community {
    const char* name;
    std::vector<double> p;
};

// Logit-normal detection probabilities from the project's generator.
Community community(const char* name, int species, double logit, double spread, std::uint64_t seed) {
    Random r(seed, 11);
    auto uniform = [&] { return (double(r.next() >> 11) + 0.5) * 0x1p-53; };
    Community c{name, {}};
    for (int s = 0; s < species; ++s) {
        const double z = std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
        c.p.push_back(1 / (1 + std::exp(-(logit + spread * z))));
    }
    return c;
}

struct Target {
    std::string key; // an estimate's key, or "curve.q0@2T", "curve.coverage@2T"
    double truth;    // NAN: per survey (the coverage)
};

// Each worker keeps its own sums; they are added at the end.
struct Sums {
    std::vector<long> held, withInterval;
    std::vector<double> value, width;
    explicit Sums(std::size_t n) : held(n), withInterval(n), value(n), width(n) {}
};

void run(const Community& c, int units, int surveys) {
    double total = 0;
    for (double p : c.p)
        total += p;
    double h = 0, simpson = 0, richness2T = 0, missed2T = 0;
    for (double p : c.p) {
        const double rel = p / total;
        h -= rel * std::log(rel);
        simpson += rel * rel;
        richness2T += 1 - std::pow(1 - p, 2.0 * units);
        missed2T += rel * std::pow(1 - p, 2.0 * units);
    }
    const std::vector<Target> targets = {
        {"chao2", double(c.p.size())},      {"chao2BiasCorrected", double(c.p.size())},
        {"ice", double(c.p.size())},        {"jackknife1", double(c.p.size())},
        {"jackknife2", double(c.p.size())}, {"hill1Asymptotic", std::exp(h)},
        {"hill2Asymptotic", 1 / simpson},   {"coverage", NAN},
        {"curve.q0@2T", richness2T},        {"curve.coverage@2T", 1 - missed2T},
    };
    std::atomic<int> next{0};
    std::vector<Sums> sums(2, Sums(targets.size()));
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w)
        workers.emplace_back([&, w] {
            for (int i; (i = next++) < surveys;) {
                Random r{std::uint64_t(units), std::uint64_t(i)};
                auto uniform = [&] { return (double(r.next() >> 11) + 0.5) * 0x1p-53; };
                std::vector<std::int64_t> cells(c.p.size() * std::size_t(units));
                double found = 0;
                for (std::size_t s = 0; s < c.p.size(); ++s) {
                    bool seen = false;
                    for (int u = 0; u < units; ++u)
                        if (uniform() < c.p[s]) {
                            cells[s * std::size_t(units) + std::size_t(u)] = 1;
                            seen = true;
                        }
                    if (seen) found += c.p[s];
                }
                const Incidence f = Incidence::fromMatrix(cells, std::size_t(units));
                Settings settings;
                settings.stream = std::uint64_t(i);
                const Analysis a = analyse(f, settings);
                for (std::size_t k = 0; k < targets.size(); ++k) {
                    double value = NAN, lower = NAN, upper = NAN;
                    const std::string& key = targets[k].key;
                    if (key.rfind("curve.", 0) == 0) {
                        const CurvePoint& end = a.curve.back(); // at 2T
                        const int q = key == "curve.q0@2T" ? 0 : 3;
                        value = end.value[q];
                        lower = end.lower[q];
                        upper = end.upper[q];
                    } else {
                        for (const auto& e : a.estimates)
                            if (e.key == key && e.hasInterval) {
                                value = e.value;
                                lower = e.lower;
                                upper = e.upper;
                            }
                    }
                    if (std::isnan(value)) continue;
                    const double truth = std::isnan(targets[k].truth) ? found / total : targets[k].truth;
                    Sums& s = sums[std::size_t(w)];
                    ++s.withInterval[k];
                    s.held[k] += lower <= truth && truth <= upper;
                    s.value[k] += value;
                    s.width[k] += upper - lower;
                }
            }
        });
    for (auto& w : workers)
        w.join();
    std::printf("\n%s, %zu species, T = %d, %d surveys\n", c.name, c.p.size(), units, surveys);
    std::printf("  %-20s %10s %10s %10s %9s\n", "estimate", "truth", "mean", "width", "coverage");
    for (std::size_t k = 0; k < targets.size(); ++k) {
        const long n = sums[0].withInterval[k] + sums[1].withInterval[k];
        const long held = sums[0].held[k] + sums[1].held[k];
        const double mean = (sums[0].value[k] + sums[1].value[k]) / double(std::max(1L, n));
        const double width = (sums[0].width[k] + sums[1].width[k]) / double(std::max(1L, n));
        char truth[32];
        if (std::isnan(targets[k].truth))
            std::snprintf(truth, sizeof truth, "%10s", "found");
        else
            std::snprintf(truth, sizeof truth, "%10.3f", targets[k].truth);
        std::printf("  %-20s %s %10.3f %10.3f %8.1f%%", targets[k].key.c_str(), truth, mean, width,
                    100.0 * double(held) / double(std::max(1L, n)));
        if (n < surveys) std::printf("  (%ld without an interval)", surveys - n);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    const int surveys = argc > 1 ? std::atoi(argv[1]) : 400;
    const Community even = community("logit-normal, mean -3, sd 1", 200, -3, 1, 1);
    const Community uneven = community("logit-normal, mean -4, sd 2", 200, -4, 2, 2);
    for (const Community* c : {&even, &uneven})
        for (int units : {20, 50, 100})
            run(*c, units, surveys);
    return 0;
}
