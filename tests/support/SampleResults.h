#pragma once

// Results for writing tests: the values of the fixtures' "Date" sheet (10, 20, 30 and 40 individuals), with a
// two-digit richness so that the "0" column format shows.

#include "analysis/DiversityIndices.h"

namespace ordana::testing {

inline DiversityResults dateSheetResults() {
    DiversityResults r;
    r.speciesRichness = 12;
    r.simpsonD = 0.3;
    r.shannonH = 1.2798542258336676;
    r.shannonEvenness = 0.9232196723355077;
    r.brillouin = 1.2132046563990124;
    r.bergerParker = 0.4;
    r.mcIntosh = 0.5025304916609273;
    r.margalef = 0.6514417228548778;
    r.menhinick = 0.4;
    r.gleason = 0.45154499349597177;
    return r;
}

} // namespace ordana::testing
