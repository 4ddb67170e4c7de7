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

std::vector<double> bootstrapAssemblage(const Frequencies& f) {
    std::vector<double> p;
    if (f.n == 0) return p;
    const double n = double(f.n), f1 = double(f.f(1));
    const double f0 = f0Hat(f);
    const double a = f1 / n * coverageWeight(f); // the missing mass 1 - C
    double b = 0;
    for (const auto& c : f.classes)
        b += double(c.species) * double(c.abundance) / n * std::pow(1 - double(c.abundance) / n, n);
    const double w = f0 > 0 && b > 0 ? a / b : 0;
    for (const auto& c : f.classes) {
        const double x = double(c.abundance) / n;
        // Never below 0, whatever the rounding: a probability.
        const double adjusted = std::max(0.0, x * (1 - w * std::pow(1 - x, n)));
        for (std::int64_t i = 0; i < c.species; ++i)
            p.push_back(adjusted);
    }
    const std::int64_t unseen = std::int64_t(std::ceil(f0));
    if (unseen > 0 && a > 0)
        for (std::int64_t i = 0; i < unseen; ++i)
            p.push_back(a / double(unseen));
    return p;
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

void forEachReplicate(const Frequencies& f, std::uint64_t seed, std::uint64_t stream, int replicates,
                      const std::function<void(const Frequencies&)>& visit) {
    const std::vector<double> p = f.n > 0 ? bootstrapAssemblage(f) : std::vector<double>();
    double mass = 0;
    for (double x : p)
        mass += x;
    if (mass <= 0 || replicates <= 1) return;
    const AliasTable table(p);
    Random random(seed, stream);
    std::vector<std::int64_t> counts(p.size());
    for (int r = 0; r < replicates; ++r) {
        std::fill(counts.begin(), counts.end(), 0);
        for (std::int64_t i = 0; i < f.n; ++i)
            ++counts[table.draw(random)];
        visit(Frequencies::fromCounts(counts));
    }
}

void Running::add(double x) {
    if (!std::isfinite(x)) {
        ++nonFinite;
        return;
    }
    ++count;
    const double d = x - mean;
    mean += d / double(count);
    m2 += d * (x - mean);
}

double Running::sd() const {
    return count > 1 && nonFinite == 0 ? std::sqrt(m2 / double(count - 1)) : -1;
}

} // namespace ordana::estimators
