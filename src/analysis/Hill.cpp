#include "Hill.h"

#include "EstimatorMath.h"
#include "Richness.h"

#include <cmath>
#include <vector>

namespace ordana::estimators {

using namespace detail;

namespace detail {

double sumXXMinus1(const Frequencies& f) {
    double s = 0;
    for (const auto& c : f.classes)
        s += double(c.species) * double(c.abundance) * double(c.abundance - 1);
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
    std::vector<double> harmonic(std::size_t(n), 0.0);
    for (std::int64_t k = 1; k < n; ++k)
        harmonic[std::size_t(k)] = harmonic[std::size_t(k - 1)] + 1.0 / double(k);
    const double harmonicN1 = harmonic[std::size_t(n - 1)];
    for (const auto& c : f.classes)
        if (c.abundance <= n - 1)
            h += double(c.species) * double(c.abundance) / double(n) *
                 (harmonicN1 - harmonic[std::size_t(c.abundance - 1)]);
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
        const double x = 1 - a;
        double tail = 0;
        if (std::pow(x, double(n)) > 1e-6) {
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
    if (f.n == 0) return {0, -1, 0, 0, false, NoteEmptySample};
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
