#pragma once

// The rows of the estimates table in the order it shows them: each with its key, label, the formula actually
// used and how its error and interval were found.

#include "Analysis.h"
#include "Curves.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace ordana::estimators {

// The statistics the bootstrap follows, one per bootstrapped row.
enum Stat {
    StJack1,
    StJack2,
    StFisher,
    StCoverage,
    StGood,
    StHillObs0,
    StHillObs1,
    StHillObs2,
    StHillAsy1,
    StHillAsy2,
    StSize0,
    StSize1,
    StSize2,
    StCov0,
    StCov1,
    StCov2,
    StCount
};

struct Rows {
    Analysis& a;
    std::vector<std::pair<std::size_t, Stat>> booted; // which statistic gives each bootstrapped row its error

    std::size_t add(std::string key, std::string label, std::string variant, const Value& v,
                    std::string seMethod, std::string interval, std::string logBase = "");
    void addBooted(Stat stat, std::string key, std::string label, std::string variant, const Value& v,
                   std::string logBase = "");
};

// Every row of a sample, the bootstrapped ones without their error yet.
void addRows(Rows& rows, const Frequencies& f, const Tables& t, const Settings& settings, double sizeM,
             double covM);

// A bootstrapped row's error and interval from the spread of its statistic over the replicates.
void setBootstrapped(Estimate& e, Stat stat, double sd, const Frequencies& f, int replicates);

} // namespace ordana::estimators
