#include "Curves.h"

#include "EstimatorMath.h"
#include "Hill.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ordana::estimators {

using namespace detail;

namespace {

double klogk(const Tables& t, std::int64_t k) {
    return double(k) * t.log(k);
}

// E[K ln K] for K hypergeometric (population n, x marked, m drawn): summed outward from the mode by the ratio
// of neighbouring terms, normalised by what was summed, so no factorial is evaluated.
double expectedKLogK(std::int64_t n, std::int64_t x, std::int64_t m, const Tables& t) {
    const std::int64_t lo = std::max<std::int64_t>(0, m - (n - x)), hi = std::min(x, m);
    if (hi <= 1) return 0;
    const double mean = double(m) * double(x) / double(n);
    if (mean >= 30 && double(hi - lo) > 40) {
        // Far from 0 the sum is the Taylor series of k ln k about the mean in the central moments: the
        // terms left out are of the order of 1/mean^2.
        const double nn = double(n), p = double(x) / nn, draws = double(m);
        const double var = draws * p * (1 - p) * (nn - draws) / (nn - 1);
        const double skew =
            nn > 2 ? (nn - 2 * double(x)) * std::sqrt(nn - 1) * (nn - 2 * draws) /
                         (std::sqrt(draws * double(x) * (nn - double(x)) * (nn - draws)) * (nn - 2))
                   : 0;
        const double m3 = skew * var * std::sqrt(var);
        return mean * std::log(mean) + var / (2 * mean) - m3 / (6 * mean * mean) +
               3 * var * var / (12 * mean * mean * mean);
    }
    // In floating point: the product of two counts may pass 2^63, and the mode is only where the sum starts.
    const auto mode = std::clamp(std::int64_t(double(m + 1) * double(x + 1) / double(n + 2)), lo, hi);
    double total = 1, sum = klogk(t, mode), w = 1;
    const double rest = double(n - x - m);
    for (std::int64_t k = mode; k < hi; ++k) {
        w *= double(x - k) * double(m - k) / (double(k + 1) * (rest + double(k + 1)));
        total += w;
        sum += w * klogk(t, k + 1);
        if (w < 1e-13 * total) break;
    }
    w = 1;
    for (std::int64_t k = mode; k > lo; --k) {
        w *= double(k) * (rest + double(k)) / (double(x - k + 1) * double(m - k + 1));
        total += w;
        sum += w * klogk(t, k - 1);
        if (w < 1e-13 * total) break;
    }
    return sum / total;
}

} // namespace

Tables::Tables(std::int64_t n) : n_(n), tabled_(std::clamp<std::int64_t>(n + 1, 2, kTabled)) {
    logFactorial_.assign(std::size_t(tabled_), 0.0);
    log_.assign(std::size_t(tabled_), 0.0);
    for (std::size_t k = 1; k < std::size_t(tabled_); ++k) {
        log_[k] = std::log(double(k));
        logFactorial_[k] = logFactorial_[k - 1] + log_[k];
    }
}

double hillAt(const Frequencies& f, const Tables& t, int q, double m) {
    const std::int64_t n = f.n;
    if (n == 0 || m <= 0) return 0;
    if (m == double(n)) return hillObserved(f, q);
    if (q == 2) {
        if (n < 2) return hillObserved(f, 2);
        const double s = sumXXMinus1(f) / (double(n) * double(n - 1));
        return 1 / (1 / m + (1 - 1 / m) * s);
    }
    if (m < double(n)) {
        const std::int64_t mi = std::int64_t(m);
        if (q == 0) {
            double d = 0;
            for (const auto& c : f.classes)
                d += double(c.species) * (1 - t.miss(n, c.abundance, mi));
            return d;
        }
        double e = 0;
        for (const auto& c : f.classes)
            if (c.abundance > 1) e += double(c.species) * expectedKLogK(n, c.abundance, mi, t);
        return std::exp(t.log(mi) - e / m);
    }
    if (q == 0) {
        const double f1 = double(f.f(1)), f0 = f0Hat(f);
        if (f1 <= 0 || f0 <= 0) return double(f.s);
        return double(f.s) + f0 * (1 - std::pow(1 - f1 / (double(n) * f0 + f1), m - double(n)));
    }
    const double r = double(n) / m;
    return std::exp(r * observedEntropy(f) + (1 - r) * chaoShannonEntropy(f));
}

double coverageAt(const Frequencies& f, const Tables& t, double m) {
    const std::int64_t n = f.n;
    if (n == 0 || m <= 0) return 0;
    const double f1 = double(f.f(1));
    if (m < double(n)) {
        const std::int64_t mi = std::int64_t(m);
        double s = 0;
        for (const auto& c : f.classes) {
            if (n - c.abundance < mi) continue;
            s += double(c.species) * double(c.abundance) / double(n) * t.miss(n - 1, c.abundance - 1, mi);
        }
        return 1 - s;
    }
    return 1 - f1 / double(n) * std::pow(coverageWeight(f), m - double(n) + 1);
}

double sizeForCoverage(const Frequencies& f, const Tables& t, double c) {
    const std::int64_t n = f.n;
    if (n == 0) return 0;
    const double atN = coverageAt(f, t, double(n));
    if (c <= atN) {
        std::int64_t lo = 1, hi = n; // coverageAt rises with m
        while (lo < hi) {
            const std::int64_t mid = (lo + hi) / 2;
            if (coverageAt(f, t, double(mid)) < c)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo > 1 &&
            std::fabs(coverageAt(f, t, double(lo - 1)) - c) < std::fabs(coverageAt(f, t, double(lo)) - c))
            --lo;
        return double(lo);
    }
    const double w = coverageWeight(f), f1 = double(f.f(1));
    if (c >= 1 || w <= 0 || w >= 1) return double(n);
    // Capped where the size stops meaning anything, so that no text of it runs to hundreds of digits.
    return std::min(1e12, std::round(double(n) - 1 + std::log((1 - c) * double(n) / f1) / std::log(w)));
}

Value rarefiedRichness(const Frequencies& f, const Tables& t, std::int64_t m) {
    Value v;
    const std::int64_t n = f.n;
    if (m >= n || m <= 0) {
        v.value = m <= 0 ? 0 : double(f.s);
        v.se = 0;
        return v;
    }
    std::vector<double> q(f.classes.size());
    double est = 0, var = 0;
    for (std::size_t a = 0; a < f.classes.size(); ++a) {
        q[a] = t.miss(n, f.classes[a].abundance, m);
        const double fa = double(f.classes[a].species);
        est += fa * (1 - q[a]);
        var += fa * q[a] * (1 - q[a]);
    }
    for (std::size_t a = 0; a < f.classes.size(); ++a) {
        const double fa = double(f.classes[a].species);
        const std::int64_t xa = f.classes[a].abundance;
        var += fa * (fa - 1) * (t.miss(n, 2 * xa, m) - q[a] * q[a]);
        for (std::size_t b = a + 1; b < f.classes.size(); ++b)
            var += 2 * fa * double(f.classes[b].species) *
                   (t.miss(n, xa + f.classes[b].abundance, m) - q[a] * q[b]);
    }
    v.value = est;
    v.se = var > 0 ? std::sqrt(var) : 0;
    v.hasInterval = true;
    v.lower = std::max(0.0, est - kZ * v.se);
    v.upper = est + kZ * v.se;
    return v;
}
std::vector<std::int64_t> curveSizes(std::int64_t n, int points) {
    std::vector<std::int64_t> m;
    if (n <= 0 || points < 2) return m;
    const int half = points / 2;
    for (int i = 0; i < half; ++i)
        m.push_back(std::int64_t(std::llround(1 + double(n - 1) * i / std::max(1, half - 1))));
    for (int i = 1; i <= points - half; ++i)
        m.push_back(std::int64_t(std::llround(double(n) + double(n) * i / (points - half))));
    m.push_back(n);
    std::sort(m.begin(), m.end());
    m.erase(std::unique(m.begin(), m.end()), m.end());
    return m;
}
} // namespace ordana::estimators
