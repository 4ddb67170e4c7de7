#include "Bootstrap.h"

#include "EstimatorMath.h"

#include <algorithm>
#include <cmath>

namespace ordana::estimators {

using namespace detail;

namespace {

std::uint64_t splitmix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

} // namespace

Random::Random(std::uint64_t seed, std::uint64_t stream) {
    std::uint64_t x = seed ^ (stream * 0xd1342543de82ef95ULL);
    for (auto& s : s_)
        s = splitmix64(x);
}

std::uint64_t Random::next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

std::uint64_t streamOf(const std::string& name) {
    std::uint64_t h = 0xcbf29ce484222325ULL; // FNV-1a
    for (unsigned char c : name) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

Assemblage bootstrapAssemblage(const Frequencies& f) {
    Assemblage out;
    if (f.n == 0) return out;
    const double n = double(f.n), f1 = double(f.f(1));
    const double f0 = f0Hat(f);
    const double a = f1 / n * coverageWeight(f); // the missing mass 1 - C
    double b = 0;
    for (const auto& c : f.classes)
        b += double(c.species) * double(c.abundance) / n * std::pow(1 - double(c.abundance) / n, n);
    const double w = f0 > 0 && b > 0 ? a / b : 0;
    out.detected.reserve(std::size_t(f.s));
    for (const auto& c : f.classes) {
        const double x = double(c.abundance) / n;
        // Never below 0, whatever the rounding: a probability.
        const double adjusted = std::max(0.0, x * (1 - w * std::pow(1 - x, n)));
        out.detected.insert(out.detected.end(), std::size_t(c.species), adjusted);
    }
    const double unseen = std::ceil(f0);
    if (unseen > 0 && a > 0) {
        out.undetected = std::int64_t(std::min(unseen, 0x1p62));
        out.undetectedMass = a;
    }
    return out;
}

namespace {

// Walker's alias table with integer thresholds: after it is built, a draw is integer arithmetic only.
class AliasTable {
  public:
    explicit AliasTable(const std::vector<double>& p) : threshold_(p.size()), alias_(p.size()) {
        const std::size_t k = p.size();
        double total = 0;
        for (double x : p)
            total += x;
        std::vector<double> scaled(k);
        std::vector<std::uint32_t> small, large;
        for (std::size_t i = 0; i < k; ++i) {
            scaled[i] = p[i] / total * double(k);
            (scaled[i] < 1 ? small : large).push_back(std::uint32_t(i));
        }
        while (!small.empty() && !large.empty()) {
            const std::uint32_t s = small.back(), l = large.back();
            small.pop_back();
            threshold_[s] = std::uint64_t(std::ldexp(std::clamp(scaled[s], 0.0, 1.0), 32));
            alias_[s] = l;
            scaled[l] = (scaled[l] + scaled[s]) - 1;
            if (scaled[l] < 1) {
                large.pop_back();
                small.push_back(l);
            }
        }
        for (auto i : large) {
            threshold_[i] = std::uint64_t(1) << 32;
            alias_[i] = i;
        }
        for (auto i : small) {
            threshold_[i] = std::uint64_t(1) << 32;
            alias_[i] = i;
        }
    }
    std::uint32_t draw(Random& r) const {
        const std::uint64_t u = r.next();
        const std::uint32_t i = std::uint32_t(((u >> 32) * std::uint64_t(threshold_.size())) >> 32);
        return (u & 0xffffffffULL) < threshold_[i] ? i : alias_[i];
    }

  private:
    std::vector<std::uint64_t> threshold_;
    std::vector<std::uint32_t> alias_;
};

} // namespace

namespace {

double uniform(Random& r) {
    return double(r.next() >> 11) * 0x1p-53;
}

// The high half of a 64 by 64 bit product: a uniform integer below bound from 64 random bits.
std::uint64_t below(Random& r, std::uint64_t bound) {
    const std::uint64_t u = r.next();
    const std::uint64_t uLo = u & 0xffffffffULL, uHi = u >> 32, bLo = bound & 0xffffffffULL,
                        bHi = bound >> 32;
    const std::uint64_t lo = uLo * bLo, mid1 = uLo * bHi, mid2 = uHi * bLo;
    const std::uint64_t carry = ((lo >> 32) + (mid1 & 0xffffffffULL) + (mid2 & 0xffffffffULL)) >> 32;
    return uHi * bHi + (mid1 >> 32) + (mid2 >> 32) + carry;
}

// ln k! - ((k + 1/2) ln(k + 1) - (k + 1) + ln(2 pi)/2), as BTRD uses it.
double stirlingCorrection(std::int64_t k) {
    static const double table[10] = {0.08106146679532726, 0.04134069595540929, 0.02767792568499834,
                                     0.02079067210376509, 0.01664469118982119, 0.01387612882307075,
                                     0.01189670994589177, 0.01041126526197209, 0.009255462182712733,
                                     0.008330563433362871};
    if (k < 10) return table[k];
    const double r = 1 / (double(k) + 1), r2 = r * r;
    return (1.0 / 12 - (1.0 / 360 - r2 / 1260) * r2) * r;
}

// Hormann's BTRD (1993) for p <= 1/2 and a mode of at least 11.
std::int64_t binomialBtrd(Random& random, std::int64_t n, double p) {
    const double nd = double(n), m = std::floor((nd + 1) * p);
    const double r = p / (1 - p), nr = (nd + 1) * r, npq = nd * p * (1 - p), sqrtNpq = std::sqrt(npq);
    const double b = 1.15 + 2.53 * sqrtNpq, a = -0.0873 + 0.0248 * b + 0.01 * p, c = nd * p + 0.5;
    const double alpha = (2.83 + 5.1 / b) * sqrtNpq, vr = 0.92 - 4.2 / b, urvr = 0.86 * vr;
    for (;;) {
        double v = uniform(random), u;
        if (v <= urvr) {
            u = v / vr - 0.43;
            return std::clamp(std::int64_t(std::floor((2 * a / (0.5 - std::fabs(u)) + b) * u + c)),
                              std::int64_t(0), n);
        }
        if (v >= vr) {
            u = uniform(random) - 0.5;
        } else {
            u = v / vr - 0.93;
            u = (u < 0 ? -0.5 : 0.5) - u;
            v = uniform(random) * vr;
        }
        const double us = 0.5 - std::fabs(u);
        const double kd = std::floor((2 * a / us + b) * u + c);
        if (kd < 0 || kd > nd) continue;
        const auto k = std::int64_t(kd);
        v = v * alpha / (a / (us * us) + b);
        const double km = std::fabs(kd - m);
        if (km <= 15) {
            // f(k)/f(m) by the recursion of neighbouring terms.
            double f = 1;
            for (double i = m + 1; i <= kd; ++i)
                f *= nr / i - r;
            for (double i = kd + 1; i <= m; ++i)
                v *= nr / i - r;
            if (v <= f) return k;
            continue;
        }
        v = std::log(v);
        const double rho = (km / npq) * (((km / 3 + 0.625) * km + 1.0 / 6) / npq + 0.5);
        const double t = -km * km / (2 * npq);
        if (v < t - rho) return k;
        if (v > t + rho) continue;
        const double nm = nd - m + 1, nk = nd - kd + 1;
        const double h = (m + 0.5) * std::log((m + 1) / (r * nm)) + stirlingCorrection(std::int64_t(m)) +
                         stirlingCorrection(n - std::int64_t(m));
        if (v <= h + (nd + 1) * std::log(nm / nk) + (kd + 0.5) * std::log(nk * r / (kd + 1)) -
                     stirlingCorrection(k) - stirlingCorrection(n - k))
            return k;
    }
}

// Inversion from 0, for small means.
std::int64_t binomialInversion(Random& random, std::int64_t n, double p) {
    const double s = p / (1 - p), a = (double(n) + 1) * s;
    double r = std::pow(1 - p, double(n)), u = uniform(random);
    std::int64_t x = 0;
    while (u > r && x < n) {
        u -= r;
        ++x;
        const double next = (a / double(x) - s) * r;
        if (next < 1e-300) break; // the rest of the tail is below what a double draws
        r = next;
    }
    return x;
}

// Counts of trials drawn over cells of weights p (summing to total), by binomials conditioned on what is
// left.
void multinomial(Random& random, std::int64_t trials, const std::vector<double>& p, double total,
                 std::vector<std::int64_t>& counts) {
    std::size_t last = p.size();
    while (last > 0 && !(p[last - 1] > 0))
        --last;
    double rest = total;
    for (std::size_t i = 0; i < p.size(); ++i) {
        counts[i] = 0;
        if (trials == 0 || !(p[i] > 0) || i >= last) continue;
        const std::int64_t k = i + 1 == last ? trials : binomial(random, trials, std::min(1.0, p[i] / rest));
        counts[i] = k;
        trials -= k;
        rest -= p[i];
    }
}

// How many undetected species get each count when `drawn` individuals fall among `species` equally likely
// ones: every draw by its index when they are fewer than the species, else a count per species.
void spreadUndetected(Random& random, std::int64_t drawn, std::int64_t species,
                      std::vector<std::int64_t>& out) {
    if (drawn <= 0) return;
    if (drawn < species) {
        std::vector<std::uint64_t> picks(std::size_t(drawn), 0);
        for (auto& x : picks)
            x = below(random, std::uint64_t(species));
        std::sort(picks.begin(), picks.end());
        for (std::size_t i = 0, j; i < picks.size(); i = j) {
            for (j = i + 1; j < picks.size() && picks[j] == picks[i];)
                ++j;
            out.push_back(std::int64_t(j - i));
        }
        return;
    }
    std::vector<std::int64_t> counts(std::size_t(species), 0);
    if (drawn <= kDrawnOneByOne) {
        for (std::int64_t i = 0; i < drawn; ++i)
            ++counts[below(random, std::uint64_t(species))];
    } else {
        multinomial(random, drawn, std::vector<double>(std::size_t(species), 1.0), double(species), counts);
    }
    out.insert(out.end(), counts.begin(), counts.end());
}

} // namespace

std::int64_t binomial(Random& random, std::int64_t n, double p) {
    if (n <= 0 || !(p > 0)) return 0;
    if (p >= 1) return n;
    const bool flip = p > 0.5;
    const double q = flip ? 1 - p : p;
    const std::int64_t k =
        (double(n) + 1) * q < 11 ? binomialInversion(random, n, q) : binomialBtrd(random, n, q);
    return flip ? n - k : k;
}

void forEachReplicate(const Frequencies& f, std::uint64_t seed, std::uint64_t stream, int replicates,
                      const std::function<void(const Frequencies&)>& visit) {
    if (f.n <= 0 || replicates <= 1) return;
    const Assemblage assemblage = bootstrapAssemblage(f);
    // The undetected species are one cell here; each replicate spreads what falls in it among them.
    std::vector<double> p = assemblage.detected;
    const bool undetected = assemblage.undetected > 0;
    if (undetected) p.push_back(assemblage.undetectedMass);
    double mass = 0;
    for (double x : p)
        mass += x;
    if (!(mass > 0)) return;
    const bool oneByOne = f.n <= kDrawnOneByOne;
    const AliasTable table(oneByOne ? p : std::vector<double>());
    Random random(seed, stream);
    std::vector<std::int64_t> counts(p.size()), sample;
    for (int r = 0; r < replicates; ++r) {
        if (oneByOne) {
            std::fill(counts.begin(), counts.end(), 0);
            for (std::int64_t i = 0; i < f.n; ++i)
                ++counts[table.draw(random)];
        } else {
            multinomial(random, f.n, p, mass, counts);
        }
        sample.assign(counts.begin(), counts.end() - (undetected ? 1 : 0));
        if (undetected) spreadUndetected(random, counts.back(), assemblage.undetected, sample);
        visit(Frequencies::fromCounts(sample));
    }
}

} // namespace ordana::estimators
