#pragma once

// The bootstrap of Chao et al. (2014): samples of the observed size drawn from an assemblage that the sample
// estimates, with a generator that reproduces bit for bit from a seed.

#include "Frequencies.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ordana::estimators {

// xoshiro256** seeded through splitmix64: integer arithmetic only, so every build draws the same numbers.
class Random {
  public:
    Random(std::uint64_t seed, std::uint64_t stream);
    std::uint64_t next();

  private:
    std::uint64_t s_[4];
};
inline constexpr const char* kGeneratorName = "xoshiro256** (splitmix64)";
inline constexpr std::uint64_t kDefaultSeed = 20141201;
inline constexpr int kDefaultReplicates = 200;
// A stable stream number for a name, so a sheet draws the same numbers whatever else the run holds.
std::uint64_t streamOf(const std::string& name);

// The bootstrap assemblage of Chao et al. (2014): each detected species with its adjusted relative abundance,
// and ceil(f0) undetected ones sharing the estimated missing mass, kept as their number and mass: f0 reaches
// hundreds of millions when every species of a large sample is a singleton.
struct Assemblage {
    std::vector<double> detected; // one per species observed, in the order of the classes
    std::int64_t undetected = 0;
    double undetectedMass = 0;
};
Assemblage bootstrapAssemblage(const Frequencies& f);

// A binomial variate: inversion for small means, Hormann's BTRD (1993) otherwise.
std::int64_t binomial(Random& random, std::int64_t n, double p);

// Up to this many individuals a replicate draws them one by one through an alias table, in integer arithmetic
// only, so that every build draws the same; beyond it, by binomials, whose floating point may differ between
// platforms in rare draws.
inline constexpr std::int64_t kDrawnOneByOne = std::int64_t(1) << 20;

// Draws the replicates in order from one generator and hands each to visit; memory follows the species
// observed and the undetected ones a replicate meets, not the individuals nor f0.
void forEachReplicate(const Frequencies& f, std::uint64_t seed, std::uint64_t stream, int replicates,
                      const std::function<void(const Frequencies&)>& visit);

namespace detail {

// Mean and spread of one statistic over the replicates (Welford), finite values only.
struct Running {
    double mean = 0, m2 = 0;
    std::int64_t count = 0, nonFinite = 0;
    void add(double x) {
        if (!std::isfinite(x)) {
            ++nonFinite;
            return;
        }
        ++count;
        const double d = x - mean;
        mean += d / double(count);
        m2 += d * (x - mean);
    }
    double sd() const { return count > 1 && nonFinite == 0 ? std::sqrt(m2 / double(count - 1)) : -1; }
};

} // namespace detail

} // namespace ordana::estimators
