#pragma once

// The small pieces several estimators share; for analysis/ itself, not for its callers.

#include "Frequencies.h"

#include <limits>

namespace ordana::estimators::detail {

inline constexpr double kZ = 1.959963984540054; // the normal quantile of a two-sided 95% interval
inline constexpr double kInf = std::numeric_limits<double>::infinity();

inline double sq(double x) {
    return x * x;
}

double shrink(const Frequencies& f);          // the (n-1)/n factor of the Chao forms
double f0Hat(const Frequencies& f);           // the undetected species of Chao1
double coverageWeight(const Frequencies& f);  // n f0 / (n f0 + f1)
double sumXXMinus1(const Frequencies& f);     // sum of X(X-1) over the species
double observedEntropy(const Frequencies& f); // natural log, kept in f

} // namespace ordana::estimators::detail
