#pragma once

// A sample as the estimators see it: its frequency counts, and what an estimator makes of them.

#include "Notes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ordana::estimators {

// For each abundance X present, the number of species f_X holding it.
struct Frequencies {
    struct Class {
        std::int64_t abundance;
        std::int64_t species;
    };
    std::vector<Class> classes; // ascending abundance, no zero abundance
    std::int64_t n = 0;         // individuals
    std::int64_t s = 0;         // species observed

    // Zeros are dropped: a species not seen is no part of the sample.
    static Frequencies fromCounts(const std::vector<std::int64_t>& counts);
    std::int64_t f(std::int64_t abundance) const;

    // The entropies and sum X(X-1), kept once found: the curves ask for them at every size.
    mutable double observedEntropyCache = -1, chaoShannonCache = -1, sumXXMinus1Cache = -1;
};

// The notes every estimator of a sample shares: which degenerate shapes the sample has.
unsigned sampleNotes(const Frequencies& f);

struct Value {
    double value = 0;
    double se = -1; // negative: none
    double lower = 0, upper = 0;
    bool hasInterval = false;
    unsigned notes = NoteNone;
    // Set when the formula, the error or the interval is not the estimator's usual one (a fallback): what
    // was used instead, for the table to name. Initialised here, so that a Value written as its first six
    // members stays complete.
    std::string variant = {}, seMethod = {}, interval = {};
};

} // namespace ordana::estimators
