#pragma once

// Hill numbers of order 0, 1 and 2 of the sample and of the community it came from.

#include "Frequencies.h"

namespace ordana::estimators {

double hillObserved(const Frequencies& f, int q);
Value hillAsymptotic(const Frequencies& f, int q);
double chaoShannonEntropy(const Frequencies& f); // natural log

} // namespace ordana::estimators
