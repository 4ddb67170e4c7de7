#pragma once

// Every estimate of one sample with its error and interval, and the curves the report draws.

#include "Bootstrap.h"
#include "Frequencies.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ordana::estimators {

struct Settings {
    std::uint64_t seed = kDefaultSeed;
    int replicates = kDefaultReplicates;
    std::uint64_t stream = 0;
    double sizeLevel = 0;      // common size of the run; 0: 2n
    double coverageLevel = 0;  // common coverage of the run; 0: the coverage at 2n
    std::int64_t rarefyTo = 0; // the smallest sample of the run: richness rarefied to it, when below n
    int curvePoints = 40;
};

// One row of the estimates table.
struct Estimate {
    std::string key;      // JSON field
    std::string label;    // table label
    std::string variant;  // formula and its source
    std::string logBase;  // "e" where a logarithm enters, else empty
    std::string seMethod; // how the standard error was found, empty when none
    std::string interval; // how the interval was found, empty when none
    double value = 0;
    double se = -1;
    double lower = 0, upper = 0;
    bool hasInterval = false;
    unsigned notes = NoteNone;
};

struct CurvePoint {
    double m = 0;
    double value[4] = {}; // q = 0, 1, 2, coverage
    double lower[4] = {}, upper[4] = {};
};

struct Analysis {
    std::vector<Estimate> estimates;
    std::vector<CurvePoint> curve;
    double sizeLevel = 0, coverageLevel = 0;
    unsigned notes = NoteNone;
    // Of a survey's sampling units (Incidence.h): a curve's m counts units, and the notes speak of them.
    bool incidence = false;
};

// Every estimate with its error and interval; the bootstrap keeps running sums only, so memory does not grow
// with the replicates.
Analysis analyse(const Frequencies& f, const Settings& settings);

} // namespace ordana::estimators
