#include "Community.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace ordana {

namespace {

// Counts by key; a name written twice in one sheet is one species.
std::map<std::string, double> byKey(const Community& c) {
    std::map<std::string, double> m;
    for (const auto& s : c.species)
        if (s.count > 0) m[s.key] += double(s.count);
    return m;
}

// The regularised incomplete beta function by Lentz's continued fraction.
double incompleteBeta(double a, double b, double x) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    if (x > (a + 1) / (a + b + 2)) return 1 - incompleteBeta(b, a, 1 - x);
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) +
                                  b * std::log1p(-x)) /
                         a;
    const double tiny = 1e-300;
    double f = 1, c = 1, d = 0;
    for (int i = 0; i <= 400; ++i) {
        const int m = i / 2;
        double numerator;
        if (i == 0)
            numerator = 1;
        else if (i % 2 == 0)
            numerator = (m * (b - m) * x) / ((a + 2.0 * m - 1) * (a + 2.0 * m));
        else
            numerator = -((a + m) * (a + b + m) * x) / ((a + 2.0 * m) * (a + 2.0 * m + 1));
        d = 1 + numerator * d;
        if (std::fabs(d) < tiny) d = tiny;
        d = 1 / d;
        c = 1 + numerator / c;
        if (std::fabs(c) < tiny) c = tiny;
        const double cd = c * d;
        f *= cd;
        if (std::fabs(1 - cd) < 1e-15) break;
    }
    return front * (f - 1);
}

} // namespace

std::string Community::range() const {
    return "A2:B" + std::to_string(lastRow);
}

estimators::Frequencies Community::frequencies() const {
    std::vector<std::int64_t> counts;
    counts.reserve(species.size());
    for (const auto& s : species)
        counts.push_back(s.count);
    return estimators::Frequencies::fromCounts(counts);
}

HutchesonTest hutcheson(const Community& a, const Community& b) {
    HutchesonTest h;
    auto side = [](const Community& c, double& entropy, double& variance, double& n) {
        n = double(c.individuals);
        double s1 = 0, s2 = 0, species = 0;
        for (const auto& s : c.species) {
            if (s.count <= 0) continue;
            const double p = double(s.count) / n;
            s1 += p * std::log(p);
            s2 += p * std::log(p) * std::log(p);
            ++species;
        }
        entropy = -s1;
        variance = n > 0 ? (s2 - s1 * s1) / n + (species - 1) / (2 * n * n) : 0;
    };
    double n1 = 0, n2 = 0;
    side(a, h.h1, h.variance1, n1);
    side(b, h.h2, h.variance2, n2);
    const double v = h.variance1 + h.variance2;
    if (!(v > 0) || n1 <= 0 || n2 <= 0) return h;
    h.defined = true;
    h.t = (h.h1 - h.h2) / std::sqrt(v);
    h.df = v * v / (h.variance1 * h.variance1 / n1 + h.variance2 * h.variance2 / n2);
    h.p = studentTwoSidedP(h.t, h.df);
    return h;
}

double studentTwoSidedP(double t, double df) {
    if (!(df > 0)) return 1;
    return incompleteBeta(df / 2, 0.5, df / (df + t * t));
}

Dissimilarity dissimilarity(const Community& a, const Community& b) {
    const auto x = byKey(a), y = byKey(b);
    Dissimilarity d;
    double sumX = 0, sumY = 0, absDiff = 0, cross = 0, sqX = 0, sqY = 0;
    std::int64_t onlyX = 0, onlyY = 0;
    for (const auto& [key, v] : x) {
        sumX += v;
        sqX += v * v;
        const auto it = y.find(key);
        const double w = it == y.end() ? 0 : it->second;
        absDiff += std::fabs(v - w);
        cross += v * w;
        if (w > 0)
            ++d.shared;
        else
            ++onlyX;
    }
    for (const auto& [key, w] : y) {
        sumY += w;
        sqY += w * w;
        if (x.find(key) == x.end()) {
            absDiff += w;
            ++onlyY;
        }
    }
    const double shared = double(d.shared);
    const double all = shared + double(onlyX + onlyY);
    d.jaccard = all > 0 ? 1 - shared / all : 0;
    d.sorensen = all > 0 ? 1 - 2 * shared / (2 * shared + double(onlyX + onlyY)) : 0;
    d.brayCurtis = sumX + sumY > 0 ? absDiff / (sumX + sumY) : 0;
    const double lx = sumX > 0 ? sqX / (sumX * sumX) : 0, ly = sumY > 0 ? sqY / (sumY * sumY) : 0;
    d.morisitaHorn = sumX > 0 && sumY > 0 ? 1 - 2 * cross / ((lx + ly) * sumX * sumY) : 0;
    return d;
}

double whittakerBeta(const std::vector<Community>& communities) {
    if (communities.empty()) return 0;
    std::set<std::string> all;
    double richness = 0;
    for (const auto& c : communities) {
        const auto m = byKey(c);
        richness += double(m.size());
        for (const auto& kv : m)
            all.insert(kv.first);
    }
    const double mean = richness / double(communities.size());
    return mean > 0 ? double(all.size()) / mean - 1 : 0;
}

} // namespace ordana
