#pragma once

// Richness estimators, Hill numbers and their rarefaction and extrapolation curves, with bootstrap intervals
// that reproduce bit for bit from a seed. Everything works on the frequency counts of one sample.

#include <cstdint>
#include <string>
#include <vector>

namespace ordana::estimators {

// A sample as its frequency counts: for each abundance X present, the number of species f_X holding it.
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

    // The entropies, kept once found: the curves ask for them at every size.
    mutable double observedEntropyCache = -1, chaoShannonCache = -1;
};

// Why a value is what it is when the sample is degenerate; the codes appear in the JSON, the texts in tables.
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
    NoteUndefined = 1u << 9,     // the formula has no finite value; the fallback is named in the variant
    NoteBeyondDouble = 1u << 10, // extrapolated past twice the sample
};
std::vector<std::string> noteCodes(unsigned notes);
std::string noteText(unsigned notes);

// The notes every estimator of a sample shares: which degenerate shapes the sample has.
unsigned sampleNotes(const Frequencies& f);

struct Value {
    double value = 0;
    double se = -1; // negative: none
    double lower = 0, upper = 0;
    bool hasInterval = false;
    unsigned notes = NoteNone;
};

Value chao1Classic(const Frequencies& f);             // with (n-1)/n; the bias-corrected form when f2 = 0
Value chao1BiasCorrected(const Frequencies& f);       // with (n-1)/n, f1(f1-1)/(2(f2+1))
double chao1BiasCorrectedPlain(const Frequencies& f); // the same without (n-1)/n
Value ace(const Frequencies& f, std::int64_t rareThreshold = 10);
double jackknife1(const Frequencies& f);
double jackknife2(const Frequencies& f);
Value fisherAlpha(const Frequencies& f);
double coverageChaoJost(const Frequencies& f);
double goodsCoverage(const Frequencies& f);
double hillObserved(const Frequencies& f, int q);
Value hillAsymptotic(const Frequencies& f, int q);
double chaoShannonEntropy(const Frequencies& f); // natural log

// Tables of ln k!, ln k and harmonic numbers up to n, shared by every evaluation at one sample size.
class Tables {
  public:
    explicit Tables(std::int64_t n);
    double logFactorial(std::int64_t k) const { return logFactorial_[std::size_t(k)]; }
    double log(std::int64_t k) const { return log_[std::size_t(k)]; }
    double harmonic(std::int64_t k) const { return harmonic_[std::size_t(k)]; }
    std::int64_t n() const { return n_; }

  private:
    std::int64_t n_;
    std::vector<double> logFactorial_, log_, harmonic_;
};

// Hill number of order q at m individuals: rarefied below n, observed at n, extrapolated above (Chao et al.
// 2014). tables must be made for f.n.
double hillAt(const Frequencies& f, const Tables& tables, int q, double m);
// Sample coverage at m individuals, the same way.
double coverageAt(const Frequencies& f, const Tables& tables, double m);
// The size at which the coverage reaches c: an integer below n, the closed form above.
double sizeForCoverage(const Frequencies& f, const Tables& tables, double c);
// Rarefied richness at m < n individuals with the standard error of Heck et al. (1975).
Value rarefiedRichness(const Frequencies& f, const Tables& tables, std::int64_t m);

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

// The bootstrap assemblage of Chao et al. (2014): detected species with adjusted relative abundances and
// ceil(f0) undetected ones sharing the estimated missing mass.
std::vector<double> bootstrapAssemblage(const Frequencies& f);

// The sizes of the curves: half up to n (n included), half up to 2n.
std::vector<std::int64_t> curveSizes(std::int64_t n, int points);

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
};

// Every estimate with its error and interval; the bootstrap keeps running sums only, so memory does not grow
// with the replicates.
Analysis analyse(const Frequencies& f, const Settings& settings);

} // namespace ordana::estimators
