#pragma once

// Hill numbers and coverage at any sample size: rarefied below the sample, extrapolated above it (Chao et al.
// 2014), and the sizes a curve is drawn at.

#include "Frequencies.h"
#include "SpecialFunctions.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace ordana::estimators {

// ln k! and ln k, tabled up to a bound that does not follow the sample (a sample of a billion individuals
// needs no table of a billion entries) and computed beyond it; shared by every evaluation at one sample size.
class Tables {
  public:
    static constexpr std::int64_t kTabled = std::int64_t(1) << 16;

    explicit Tables(std::int64_t n);
    double logFactorial(std::int64_t k) const {
        return k < tabled_ ? logFactorial_[std::size_t(k)] : estimators::logFactorial(k);
    }
    double log(std::int64_t k) const { return k < tabled_ ? log_[std::size_t(k)] : std::log(double(k)); }
    double harmonic(std::int64_t k) const { return harmonicSum(1, k); }
    // ln [C(n - x, m) / C(n, m)]: the chance that m draws from n individuals miss x given ones; inline, since
    // the curves ask for it per class, per size and per replicate.
    double logMiss(std::int64_t n, std::int64_t x, std::int64_t m) const {
        if (x <= 0 || m <= 0) return 0;
        if (x > n - m) return -std::numeric_limits<double>::infinity();
        if (n < tabled_)
            return logFactorial_[std::size_t(n - x)] - logFactorial_[std::size_t(n - x - m)] -
                   logFactorial_[std::size_t(n)] + logFactorial_[std::size_t(n - m)];
        return logMissRatio(n, x, m);
    }
    // The chance itself.
    double miss(std::int64_t n, std::int64_t x, std::int64_t m) const {
        if (x <= 0 || m <= 0) return 1;
        return x > n - m ? 0 : std::exp(logMiss(n, x, m));
    }
    std::int64_t n() const { return n_; }

  private:
    std::int64_t n_, tabled_;
    std::vector<double> logFactorial_, log_;
};

// Hill number of order q at m individuals: rarefied below n, observed at n, extrapolated above (Chao et al.
// 2014). tables must be made for f.n.
double hillAt(const Frequencies& f, const Tables& tables, int q, double m);
// Sample coverage at m individuals, the same way.
double coverageAt(const Frequencies& f, const Tables& tables, double m);
// The size at which the coverage reaches c: an integer below n, the closed form above.
double sizeForCoverage(const Frequencies& f, const Tables& tables, double c);
// Rarefied richness at m < n individuals with the standard error of Heck et al. (1975).
Value rarefiedRichness(const Frequencies& f, const Tables& tables, std::int64_t m);

// The sizes of the curves: half up to n (n included), half up to 2n.
std::vector<std::int64_t> curveSizes(std::int64_t n, int points);

} // namespace ordana::estimators
