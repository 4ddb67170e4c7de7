// The rarefaction and extrapolation of Hill numbers and coverage by number of sampling units (Chao et al.
// 2014, incidence-frequency form). Rarefying t of T units leaves a species seen in Y of them in K units, K
// hypergeometric; extrapolating adds units drawn from the estimated undetected part.

#include "Incidence.h"

#include <algorithm>
#include <cmath>

namespace ordana::estimators {

namespace {

double klogk(const Tables& t, std::int64_t k) {
    return double(k) * t.log(k);
}

// E[K ln K] for K hypergeometric (T units, y holding the species, m drawn), summed outward from the mode by
// the ratio of neighbouring terms and normalised by what was summed, so no factorial is evaluated.
double expectedKLogK(std::int64_t units, std::int64_t y, std::int64_t m, const Tables& t) {
    const std::int64_t lo = std::max<std::int64_t>(0, m - (units - y)), hi = std::min(y, m);
    if (hi <= 1) return 0;
    if (lo == hi) return klogk(t, lo);
    const std::int64_t mode = std::clamp((m + 1) * (y + 1) / (units + 2), lo, hi);
    const double rest = double(units - y - m);
    double total = 1, sum = klogk(t, mode), w = 1;
    for (std::int64_t k = mode; k < hi; ++k) {
        w *= double(y - k) * double(m - k) / (double(k + 1) * (rest + double(k + 1)));
        total += w;
        sum += w * klogk(t, k + 1);
        if (w < 1e-15 * total) break;
    }
    w = 1;
    for (std::int64_t k = mode; k > lo; --k) {
        w *= double(k) * (rest + double(k)) / (double(y - k + 1) * double(m - k + 1));
        total += w;
        sum += w * klogk(t, k - 1);
        if (w < 1e-15 * total) break;
    }
    return sum / total;
}

// C(T-y, m) / C(T, m): the chance that m units drawn from T miss the y holding a species.
double missRatio(const Tables& t, std::int64_t units, std::int64_t y, std::int64_t m) {
    if (units - y < m) return 0;
    return std::exp(t.logFactorial(units - y) - t.logFactorial(units - y - m) - t.logFactorial(units) +
                    t.logFactorial(units - m));
}

} // namespace

double hillAt(const Incidence& f, const Tables& t, int q, double m) {
    const std::int64_t units = f.t;
    if (f.u == 0 || m < 1) return 0;
    if (m == double(units)) return hillObserved(f, q);
    const double u = double(f.u), total = double(units);
    if (q == 2) {
        // 1 / E[sum Y_i(m)^2] * E[U(m)]^2: exact below T, the same form above (Chao et al. 2014).
        double pairs = 0;
        for (const auto& c : f.classes)
            pairs += double(c.species) * double(c.units) * double(c.units - 1);
        const double between = units > 1 ? (m - 1) / m * total * pairs / ((total - 1) * u * u) : 0;
        return 1 / (total / (m * u) + between);
    }
    if (m < total) {
        const std::int64_t mi = std::int64_t(m);
        if (q == 0) {
            double d = 0;
            for (const auto& c : f.classes)
                d += double(c.species) * (1 - missRatio(t, units, c.units, mi));
            return d;
        }
        // The entropy of the rarefied relative incidences, with U(m) at its mean m U / T.
        const double um = double(mi) * u / total;
        double e = 0;
        for (const auto& c : f.classes)
            if (c.units > 1) e += double(c.species) * expectedKLogK(units, c.units, mi, t);
        return std::exp(std::log(um) - e / um);
    }
    if (q == 0) {
        const double q1 = double(f.q(1)), q0 = undetected(f);
        if (q1 <= 0 || q0 <= 0) return double(f.s);
        return double(f.s) + q0 * (1 - std::pow(1 - q1 / (total * q0 + q1), m - total));
    }
    const double r = total / m;
    return std::exp(r * std::log(hillObserved(f, 1)) + (1 - r) * incidenceShannonEntropy(f));
}

double coverageAt(const Incidence& f, const Tables& t, double m) {
    const std::int64_t units = f.t;
    if (f.u == 0 || m < 1) return 0;
    const double u = double(f.u);
    if (m < double(units)) {
        const std::int64_t mi = std::int64_t(m);
        double missed = 0;
        for (const auto& c : f.classes) {
            if (units - c.units < mi) continue;
            missed += double(c.species) * double(c.units) / u *
                      std::exp(t.logFactorial(units - c.units) - t.logFactorial(units - c.units - mi) -
                               t.logFactorial(units - 1) + t.logFactorial(units - 1 - mi));
        }
        return 1 - missed;
    }
    return 1 - double(f.q(1)) / u * std::pow(undetectedWeight(f), m - double(units) + 1);
}

} // namespace ordana::estimators
