#include "Hill.h"

#include "EstimatorMath.h"
#include "Richness.h"
#include "SpecialFunctions.h"

#include <cmath>
#include <cstdint>

namespace ordana::estimators {

using namespace detail;

namespace detail {

double sumXXMinus1(const Frequencies& f) {
    if (f.sumXXMinus1Cache >= 0) return f.sumXXMinus1Cache;
    double s = 0;
    for (const auto& c : f.classes)
        s += double(c.species) * double(c.abundance) * double(c.abundance - 1);
    f.sumXXMinus1Cache = s;
    return s;
}

double observedEntropy(const Frequencies& f) {
    if (f.observedEntropyCache >= 0) return f.observedEntropyCache;
    double h = 0;
    const double n = double(f.n);
    for (const auto& c : f.classes) {
        const double p = double(c.abundance) / n;
        h -= double(c.species) * p * std::log(p);
    }
    f.observedEntropyCache = h;
    return h;
}

} // namespace detail

namespace {

// Beyond this many terms the tail of the Chao-Shannon entropy is not summed one by one.
constexpr std::int64_t kSummedTail = std::int64_t(1) << 16;

// sum_{j>=1} e^(-alpha j) / (N + j) by Euler-Maclaurin from j = 1: the integral, e^(alpha N) E1(alpha (N+1)),
// half the first term and two derivative corrections. Used where N > 2^16 and alpha < 40/2^16, so that each
// derivative is smaller than the one before by alpha + 1/N < 1e-3: what is left out is below 1e-18 of the
// sum.
double eulerMaclaurinTail(double bigN, double alpha) {
    const double u = bigN + 1, e = std::exp(-alpha);
    const double g = e / u;
    const double g1 = -e * (alpha / u + 1 / (u * u));
    const double g3 = -e * (alpha * alpha * alpha / u + 3 * alpha * alpha / (u * u) +
                            6 * alpha / (u * u * u) + 6 / (u * u * u * u));
    return e * scaledExpIntegral(alpha * u) + g / 2 - g1 / 12 + g3 / 720;
}

} // namespace

double hillObserved(const Frequencies& f, int q) {
    if (f.n == 0) return 0;
    if (q == 0) return double(f.s);
    if (q == 1) return std::exp(observedEntropy(f));
    double d = 0;
    for (const auto& c : f.classes)
        d += double(c.species) * sq(double(c.abundance) / double(f.n));
    return 1 / d;
}

double chaoShannonEntropy(const Frequencies& f) {
    if (f.n == 0) return 0;
    if (f.chaoShannonCache >= 0) return f.chaoShannonCache;
    const std::int64_t n = f.n;
    const double f1 = double(f.f(1)), f2 = double(f.f(2));
    // Harmonic sums from X to n-1 for the observed part.
    double h = 0;
    for (const auto& c : f.classes)
        if (c.abundance <= n - 1)
            h += double(c.species) * double(c.abundance) / double(n) * harmonicSum(c.abundance, n - 1);
    double a;
    if (f2 > 0)
        a = 2 * f2 / (double(n - 1) * f1 + 2 * f2);
    else if (f1 > 0)
        a = 2 / (double(n - 1) * (f1 - 1) + 2);
    else
        a = 1;
    if (f1 > 0 && a < 1) {
        // (1-A)^(1-n) (-ln A - sum_{r<n} (1-A)^r / r) = sum_{j>=1} (1-A)^j / (n-1+j): the tail summed
        // directly when it converges fast, the difference when (1-A)^n is not small.
        const double x = 1 - a, alpha = -std::log1p(-a);
        double tail = 0;
        if (n > kSummedTail && alpha * double(kSummedTail) < 40) {
            tail = eulerMaclaurinTail(double(n - 1), alpha);
        } else if (std::pow(x, double(n)) > 1e-6) {
            double s = 0, p = 1;
            for (std::int64_t r = 1; r < n; ++r) {
                p *= x;
                s += p / double(r);
            }
            tail = std::pow(x, double(1 - n)) * (-std::log(a) - s);
        } else {
            double p = 1;
            for (std::int64_t j = 1;; ++j) {
                p *= x;
                const double term = p / double(n - 1 + j);
                tail += term;
                if (term < 1e-17 * tail) break;
            }
        }
        h += f1 / double(n) * tail;
    }
    f.chaoShannonCache = h;
    return h;
}

Value hillAsymptotic(const Frequencies& f, int q) {
    if (q == 0) return chao1Classic(f);
    Value v;
    if (f.n == 0) {
        v.notes = NoteEmptySample;
        return v;
    }
    if (q == 1) {
        v.value = std::exp(chaoShannonEntropy(f));
        return v;
    }
    const double s = sumXXMinus1(f);
    if (s <= 0) {
        v.value = kInf;
        v.notes |= NoteAllSingletons | NoteUndefined;
        return v;
    }
    v.value = double(f.n) * double(f.n - 1) / s;
    return v;
}
} // namespace ordana::estimators
