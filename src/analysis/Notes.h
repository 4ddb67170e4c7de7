#pragma once

// Why a value is what it is when the sample is degenerate; the codes appear in the JSON, the texts in tables.

#include <string>
#include <vector>

namespace ordana::estimators {

enum Note : unsigned {
    NoteNone = 0,
    NoteNoSingletons = 1u << 0,        // f1 = 0
    NoteNoDoubletons = 1u << 1,        // f2 = 0
    NoteAllSingletons = 1u << 2,       // every species seen once
    NoteOneSpecies = 1u << 3,          // S = 1
    NoteUnderTwoIndividuals = 1u << 4, // n < 2
    NoteNoSolution = 1u << 5,          // Fisher's alpha: S = n has none
    NoteEmptySample = 1u << 6,         // n = 0
    NoteNoVariance = 1u << 7,          // the variance formula gives no positive value
    NoteNoRareSpecies = 1u << 8,       // ACE: nothing at or below the threshold
    NoteUndefined = 1u << 9,       // the formula has no finite value; the fallback is named in the variant
    NoteBeyondDouble = 1u << 10,   // extrapolated past twice the sample
    NoteBelowObserved = 1u << 11,  // a richness estimate below the species seen
    NoteRareSingletons = 1u << 12, // ACE: every rare species seen once, though not every species
};
std::vector<std::string> noteCodes(unsigned notes);
std::string noteText(unsigned notes);

} // namespace ordana::estimators
