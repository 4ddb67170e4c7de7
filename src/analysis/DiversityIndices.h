#pragma once

#include <cstdint>

namespace ordana {

class SpeciesSample;

// The values the results table shows, in table order; the writer derives 1 - D and 1 / D itself.
struct DiversityResults {
    std::int16_t speciesRichness = 0;
    double simpsonD = 0;
    double shannonH = 0;
    double shannonEvenness = 0;
    double brillouin = 0;
    double bergerParker = 0;
    double mcIntosh = 0;
    double margalef = 0;
    double menhinick = 0;
    double gleason = 0;
};

// One pass over the species; the first operation that fails raises its RuntimeError (5, 6, 9, 11, 13).
DiversityResults ComputeDiversityIndices(const SpeciesSample& sample);

// log10(n!) by the Stirling series, with the constants the reported values were calibrated with.
double Log10Factorial(std::int16_t n);

} // namespace ordana
