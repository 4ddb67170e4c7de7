#pragma once

// The incidence bootstrap's draws: each species detected in each of T units with its detection probability,
// the detections of a species over the units drawn at once as their binomial count. The tables are built with
// additions, multiplications and divisions only, and a draw is one generator word compared with integer
// thresholds, so a seed gives the same surveys on every build.

#include "Incidence.h"

#include <cstdint>
#include <vector>

namespace ordana::estimators {

// Binomial(trials, p), or conditioned on at least one success, by inversion of a table of 64-bit thresholds.
// The table spans only the counts whose chance is above 1e-20 of the most likely one.
class BinomialTable {
  public:
    BinomialTable(std::int64_t trials, double p, bool atLeastOne = false);
    std::int64_t draw(Random& random) const;
    std::size_t size() const { return thresholds_.size(); }

  private:
    std::int64_t first_ = 0;
    std::vector<std::uint64_t> thresholds_; // ascending, the last the largest word
};

// Bootstrap surveys of T units from the detection model of a survey. The Q0-hat undetected species share one
// probability, so they are drawn as a group: how many are detected at all, then in how many units each, never
// one by one, however large Q0-hat is.
class IncidenceResampler {
  public:
    explicit IncidenceResampler(const Incidence& f);
    Incidence draw(Random& random);

  private:
    std::int64_t units_;
    std::vector<std::int64_t> species_; // per detected class
    std::vector<BinomialTable> detected_;
    bool hasUndetected_ = false;
    BinomialTable seenAtAll_, unitsOfSeen_;
    std::vector<std::int64_t> counts_; // Q*_Y of the draw, Y = 0..T
};

// (1 - p)^n and 1 - (1 - p)^n by squaring: products only, exact to rounding for small p.
double powerOfMiss(double p, std::int64_t n);
double chanceOfAny(double p, std::int64_t n);

} // namespace ordana::estimators
