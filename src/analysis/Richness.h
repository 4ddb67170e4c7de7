#pragma once

// How many species the community holds, seen and unseen, and how much of it the sample covers.

#include "Frequencies.h"

#include <cstdint>

namespace ordana::estimators {

Value chao1Classic(const Frequencies& f);             // with (n-1)/n; the bias-corrected form when f2 = 0
Value chao1BiasCorrected(const Frequencies& f);       // with (n-1)/n, f1(f1-1)/(2(f2+1))
double chao1BiasCorrectedPlain(const Frequencies& f); // the same without (n-1)/n
Value ace(const Frequencies& f, std::int64_t rareThreshold = 10);
double jackknife1(const Frequencies& f);
double jackknife2(const Frequencies& f);
Value fisherAlpha(const Frequencies& f);
double coverageChaoJost(const Frequencies& f);
double goodsCoverage(const Frequencies& f);

} // namespace ordana::estimators
