#pragma once

// The special functions the curves and entropies need, exact to a few units in the last place for any count
// up to 2^53, with no table that grows with the count.

#include <cstdint>

namespace ordana::estimators {

// ln k!: summed below 16, Stirling's series from there on.
double logFactorial(std::int64_t k);

// ln [C(n - x, m) / C(n, m)], the chance that m draws without replacement from n individuals miss x given
// ones; minus infinity when they cannot. Written so that nothing of the size of n ln n cancels.
double logMissRatio(std::int64_t n, std::int64_t x, std::int64_t m);

// The digamma function, x > 0.
double digamma(double x);

// 1/a + 1/(a+1) + ... + 1/b, 0 when a > b; a >= 1.
double harmonicSum(std::int64_t a, std::int64_t b);

// e^z E1(z), z > 0, with E1 the exponential integral.
double scaledExpIntegral(double z);

} // namespace ordana::estimators
