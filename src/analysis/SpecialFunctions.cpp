#include "SpecialFunctions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace ordana::estimators {

namespace {

constexpr double kHalfLogTwoPi = 0.91893853320467274178;
constexpr double kEulerGamma = 0.57721566490153286061;
constexpr std::int64_t kStirlingFrom = 16;

// ln Gamma(z) - ((z - 1/2) ln z - z + ln(2 pi)/2): the terms to z^-11 leave under 1e-17 from z = 16 on.
double stirlingSeries(double z) {
    const double r = 1 / z, r2 = r * r;
    return r * (1.0 / 12 -
                r2 * (1.0 / 360 -
                      r2 * (1.0 / 1260 - r2 * (1.0 / 1680 - r2 * (1.0 / 1188 - r2 * (691.0 / 360360))))));
}

const std::array<double, kStirlingFrom>& smallLogFactorials() {
    static const std::array<double, kStirlingFrom> table = [] {
        std::array<double, kStirlingFrom> t{};
        for (std::size_t k = 1; k < t.size(); ++k)
            t[k] = t[k - 1] + std::log(double(k));
        return t;
    }();
    return table;
}

} // namespace

double logFactorial(std::int64_t k) {
    if (k < kStirlingFrom) return smallLogFactorials()[std::size_t(std::max<std::int64_t>(k, 0))];
    const double z = double(k) + 1;
    return (z - 0.5) * std::log(z) - z + kHalfLogTwoPi + stirlingSeries(z);
}

double logMissRatio(std::int64_t n, std::int64_t x, std::int64_t m) {
    if (x <= 0 || m <= 0) return 0;
    if (x > n - m) return -std::numeric_limits<double>::infinity();
    // Symmetric in x and m: the product of the smaller number of factors (1 - j/(n-i)).
    const std::int64_t k = std::min(x, m), j = std::max(x, m);
    if (k <= 32) {
        double s = 0;
        for (std::int64_t i = 0; i < k; ++i)
            s += std::log1p(-double(j) / double(n - i));
        return s;
    }
    if (n - j - k + 1 < kStirlingFrom)
        return logFactorial(n - j) - logFactorial(n - j - k) - logFactorial(n) + logFactorial(n - k);
    // ln G(z2) - ln G(z2-k) - ln G(z1) + ln G(z1-k) with z1 = n+1, z2 = n-j+1, through Stirling's form:
    // (z-1/2) ln z - (z-k-1/2) ln(z-k) = k ln z - (z-k-1/2) log1p(-k/z), whose second part is at most about
    // k, so the difference loses nothing of the size of n ln n.
    const double z1 = double(n) + 1, z2 = double(n - j) + 1, kk = double(k);
    auto rest = [kk](double z) { return (z - kk - 0.5) * std::log1p(-kk / z); };
    return kk * std::log1p(-double(j) / z1) - rest(z2) + rest(z1) + stirlingSeries(z2) -
           stirlingSeries(z2 - kk) - stirlingSeries(z1) + stirlingSeries(z1 - kk);
}

double digamma(double x) {
    double shift = 0;
    for (; x < double(kStirlingFrom); x += 1)
        shift -= 1 / x;
    const double r2 = 1 / (x * x);
    return shift + std::log(x) - 0.5 / x -
           r2 * (1.0 / 12 - r2 * (1.0 / 120 - r2 * (1.0 / 252 - r2 * (1.0 / 240 - r2 * (1.0 / 132)))));
}

double harmonicSum(std::int64_t a, std::int64_t b) {
    if (a > b) return 0;
    if (b - a < 64) {
        double s = 0;
        for (std::int64_t k = a; k <= b; ++k)
            s += 1 / double(k);
        return s;
    }
    return digamma(double(b) + 1) - digamma(double(a));
}

double scaledExpIntegral(double z) {
    if (z < 1) {
        // E1(z) = -gamma - ln z - sum_k (-z)^k / (k k!)
        double sum = 0, term = 1;
        for (int k = 1; k < 60; ++k) {
            term *= -z / k;
            sum += term / k;
            if (std::fabs(term) < 1e-18) break;
        }
        return std::exp(z) * (-kEulerGamma - std::log(z) - sum);
    }
    // The continued fraction of E1 by Lentz's method (as Numerical Recipes' expint), without its e^-z.
    const double tiny = 1e-300;
    double b = z + 1, c = 1 / tiny, d = 1 / b, h = d;
    for (int i = 1; i < 1000; ++i) {
        const double an = -double(i) * double(i);
        b += 2;
        d = 1 / (an * d + b);
        c = b + an / c;
        const double delta = c * d;
        h *= delta;
        if (std::fabs(delta - 1) < 1e-16) break;
    }
    return h;
}

} // namespace ordana::estimators
