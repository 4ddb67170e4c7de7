#pragma once

// Hill numbers and coverage at any sample size: rarefied below the sample, extrapolated above it (Chao et al.
// 2014), and the sizes a curve is drawn at.

#include "Frequencies.h"

#include <cstdint>
#include <vector>

namespace ordana::estimators {

// Tables of ln k!, ln k and harmonic numbers up to n, shared by every evaluation at one sample size.
class Tables {
  public:
    explicit Tables(std::int64_t n);
    double logFactorial(std::int64_t k) const { return logFactorial_[std::size_t(k)]; }
    double log(std::int64_t k) const { return log_[std::size_t(k)]; }
    double harmonic(std::int64_t k) const { return harmonic_[std::size_t(k)]; }
    std::int64_t n() const { return n_; }

  private:
    std::int64_t n_;
    std::vector<double> logFactorial_, log_, harmonic_;
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
