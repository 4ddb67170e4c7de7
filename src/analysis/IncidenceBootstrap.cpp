#include "IncidenceBootstrap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ordana::estimators {

double powerOfMiss(double p, std::int64_t n) {
    double result = 1, base = 1 - p;
    for (; n > 0; n >>= 1) {
        if (n & 1) result *= base;
        base *= base;
    }
    return result;
}

double chanceOfAny(double p, std::int64_t n) {
    // Two groups of trials miss together: any(a + b) = any(a) + any(b) - any(a) any(b), no 1 - x of a tiny x.
    auto join = [](double a, double b) { return a + b - a * b; };
    double result = 0, base = p;
    for (; n > 0; n >>= 1) {
        if (n & 1) result = join(result, base);
        base = join(base, base);
    }
    return result;
}

BinomialTable::BinomialTable(std::int64_t trials, double p, bool atLeastOne) {
    const std::int64_t lowest = atLeastOne ? 1 : 0;
    if (trials < lowest || !(p > 0) || p >= 1) {
        first_ = p >= 1 ? trials : lowest;
        thresholds_.assign(1, std::numeric_limits<std::uint64_t>::max());
        return;
    }
    const double odds = p / (1 - p);
    const std::int64_t mode = std::clamp(std::int64_t(std::floor(double(trials + 1) * p)), lowest, trials);
    constexpr double kNegligible = 1e-20;
    std::vector<double> above, below; // the weights beside the mode's 1
    double w = 1;
    for (std::int64_t k = mode; k < trials; ++k) {
        w *= double(trials - k) / double(k + 1) * odds;
        if (w < kNegligible) break;
        above.push_back(w);
    }
    w = 1;
    for (std::int64_t k = mode; k > lowest; --k) {
        w *= double(k) / (double(trials - k + 1) * odds);
        if (w < kNegligible) break;
        below.push_back(w);
    }
    first_ = mode - std::int64_t(below.size());
    std::vector<double> weights(below.rbegin(), below.rend());
    weights.push_back(1);
    weights.insert(weights.end(), above.begin(), above.end());
    double total = 0;
    for (double x : weights)
        total += x;
    thresholds_.reserve(weights.size());
    double cumulative = 0;
    for (double x : weights) {
        cumulative += x;
        const double scaled = std::ldexp(cumulative / total, 64);
        thresholds_.push_back(scaled >= 0x1p64 ? std::numeric_limits<std::uint64_t>::max()
                                               : std::uint64_t(scaled));
    }
    thresholds_.back() = std::numeric_limits<std::uint64_t>::max();
}

std::int64_t BinomialTable::draw(Random& random) const {
    const std::uint64_t u = random.next();
    const auto at = std::upper_bound(thresholds_.begin(), thresholds_.end(), u);
    const auto index =
        std::min<std::ptrdiff_t>(at - thresholds_.begin(), std::ptrdiff_t(thresholds_.size()) - 1);
    return first_ + index;
}

DetectionModel detectionModel(const Incidence& f) {
    DetectionModel m;
    if (f.s == 0 || f.t == 0) return m;
    const double t = double(f.t), q0 = undetected(f);
    const double missing = double(f.q(1)) / t * undetectedWeight(f); // the detection mass of the undetected
    double b = 0;
    for (const auto& c : f.classes)
        b += double(c.species) * double(c.units) / t * powerOfMiss(double(c.units) / t, f.t);
    const double lambda = q0 > 0 && b > 0 ? missing / b : 0;
    for (const auto& c : f.classes) {
        const double p = double(c.units) / t;
        m.probability.push_back(std::clamp(p * (1 - lambda * powerOfMiss(p, f.t)), 0.0, 1.0));
    }
    if (q0 > 0 && missing > 0) {
        m.undetected = std::int64_t(std::ceil(q0));
        m.undetectedProbability = missing / double(m.undetected);
    }
    return m;
}

IncidenceResampler::IncidenceResampler(const Incidence& f)
    : units_(f.t), seenAtAll_(0, 0), unitsOfSeen_(0, 0),
      counts_(std::size_t(std::max<std::int64_t>(f.t, 0)) + 1) {
    const DetectionModel m = detectionModel(f);
    for (std::size_t i = 0; i < f.classes.size(); ++i) {
        species_.push_back(f.classes[i].species);
        detected_.emplace_back(units_, m.probability[i]);
    }
    if (m.undetected > 0 && m.undetectedProbability > 0) {
        hasUndetected_ = true;
        seenAtAll_ = BinomialTable(m.undetected, chanceOfAny(m.undetectedProbability, units_));
        unitsOfSeen_ = BinomialTable(units_, m.undetectedProbability, true);
    }
}

Incidence IncidenceResampler::draw(Random& random) {
    std::fill(counts_.begin(), counts_.end(), 0);
    for (std::size_t c = 0; c < detected_.size(); ++c)
        for (std::int64_t i = 0; i < species_[c]; ++i)
            ++counts_[std::size_t(detected_[c].draw(random))];
    if (hasUndetected_)
        for (std::int64_t i = seenAtAll_.draw(random); i > 0; --i)
            ++counts_[std::size_t(unitsOfSeen_.draw(random))];
    Incidence b;
    b.t = units_;
    for (std::int64_t y = 1; y <= units_; ++y) {
        const std::int64_t q = counts_[std::size_t(y)];
        if (q == 0) continue;
        b.classes.push_back({y, q});
        b.s += q;
        b.u += q * y;
    }
    return b;
}

} // namespace ordana::estimators
