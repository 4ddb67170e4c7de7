#include "Comparisons.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace ordana {

namespace {

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

SurveyComparison::SurveyComparison(const std::vector<const Community*>& communities) {
    // Keys numbered in their sorted order, so that every sum runs over the species in the same order
    // whichever pair it is.
    std::vector<std::string_view> keys;
    for (const Community* c : communities)
        for (const auto& s : c->species)
            if (s.count > 0) keys.push_back(s.key);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    keys_ = keys.size();
    auto id = [&](const std::string& key) {
        return std::uint32_t(std::lower_bound(keys.begin(), keys.end(), std::string_view(key)) -
                             keys.begin());
    };
    for (const Community* c : communities) {
        Sheet sheet;
        for (const auto& s : c->species)
            if (s.count > 0) sheet.counts.emplace_back(id(s.key), double(s.count));
        // A name written twice in one sheet is one species.
        std::sort(sheet.counts.begin(), sheet.counts.end());
        std::size_t out = 0;
        for (std::size_t i = 0; i < sheet.counts.size(); ++i) {
            if (out > 0 && sheet.counts[out - 1].first == sheet.counts[i].first)
                sheet.counts[out - 1].second += sheet.counts[i].second;
            else
                sheet.counts[out++] = sheet.counts[i];
        }
        sheet.counts.resize(out);
        sheet.shannon = shannonSide(*c);
        sheets_.push_back(std::move(sheet));
    }
}

Dissimilarity SurveyComparison::dissimilarity(std::size_t i, std::size_t j) const {
    const auto& x = sheets_[i].counts;
    const auto& y = sheets_[j].counts;
    Dissimilarity d;
    double sumX = 0, sumY = 0, absDiff = 0, cross = 0, sqX = 0, sqY = 0;
    std::int64_t onlyX = 0, onlyY = 0;
    for (std::size_t a = 0, b = 0; a < x.size() || b < y.size();) {
        if (b == y.size() || (a < x.size() && x[a].first < y[b].first)) {
            const double v = x[a++].second;
            sumX += v;
            sqX += v * v;
            absDiff += v;
            ++onlyX;
        } else if (a == x.size() || y[b].first < x[a].first) {
            const double w = y[b++].second;
            sumY += w;
            sqY += w * w;
            absDiff += w;
            ++onlyY;
        } else {
            const double v = x[a++].second, w = y[b++].second;
            sumX += v;
            sqX += v * v;
            sumY += w;
            sqY += w * w;
            absDiff += std::fabs(v - w);
            cross += v * w;
            ++d.shared;
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

SurveyComparison::ShannonSide SurveyComparison::shannonSide(const Community& c) {
    ShannonSide side;
    side.n = double(c.individuals);
    double s1 = 0, s2 = 0, species = 0;
    for (const auto& s : c.species) {
        if (s.count <= 0) continue;
        const double p = double(s.count) / side.n;
        s1 += p * std::log(p);
        s2 += p * std::log(p) * std::log(p);
        ++species;
    }
    side.entropy = -s1;
    side.variance = side.n > 0 ? (s2 - s1 * s1) / side.n + (species - 1) / (2 * side.n * side.n) : 0;
    return side;
}

HutchesonTest SurveyComparison::hutcheson(const ShannonSide& a, const ShannonSide& b) {
    HutchesonTest h;
    h.h1 = a.entropy;
    h.h2 = b.entropy;
    h.variance1 = a.variance;
    h.variance2 = b.variance;
    const double v = h.variance1 + h.variance2;
    if (!(v > 0) || a.n <= 0 || b.n <= 0) return h;
    h.defined = true;
    h.t = (h.h1 - h.h2) / std::sqrt(v);
    h.df = v * v / (h.variance1 * h.variance1 / a.n + h.variance2 * h.variance2 / b.n);
    h.p = studentTwoSidedP(h.t, h.df);
    return h;
}

HutchesonTest SurveyComparison::hutcheson(std::size_t i, std::size_t j) const {
    return hutcheson(sheets_[i].shannon, sheets_[j].shannon);
}

double SurveyComparison::whittakerBeta() const {
    if (sheets_.empty()) return 0;
    double richness = 0;
    for (const auto& s : sheets_)
        richness += double(s.counts.size());
    const double mean = richness / double(sheets_.size());
    return mean > 0 ? double(keys_) / mean - 1 : 0;
}

HutchesonTest hutcheson(const Community& a, const Community& b) {
    return SurveyComparison::hutcheson(SurveyComparison::shannonSide(a), SurveyComparison::shannonSide(b));
}

Dissimilarity dissimilarity(const Community& a, const Community& b) {
    return SurveyComparison({&a, &b}).dissimilarity(0, 1);
}

double whittakerBeta(const std::vector<Community>& communities) {
    std::vector<const Community*> all;
    for (const auto& c : communities)
        all.push_back(&c);
    return SurveyComparison(all).whittakerBeta();
}

double studentTwoSidedP(double t, double df) {
    if (!(df > 0)) return 1;
    return incompleteBeta(df / 2, 0.5, df / (df + t * t));
}

PairsSummary summarisePairs(const SurveyComparison& c) {
    const std::size_t n = c.size();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    PairsSummary s;
    s.pairs = n * (n - 1) / 2;
    s.rows.resize(n);
    for (auto& r : s.rows)
        r.jaccard = r.brayCurtis = kInf;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const Dissimilarity d = c.dissimilarity(i, j);
            for (const auto& [a, b] : {std::make_pair(i, j), std::make_pair(j, i)}) {
                PairsSummary::Row& r = s.rows[a];
                r.meanJaccard += d.jaccard;
                r.meanBrayCurtis += d.brayCurtis;
                r.meanMorisitaHorn += d.morisitaHorn;
                if (d.jaccard < r.jaccard) {
                    r.jaccard = d.jaccard;
                    r.nearestJaccard = b;
                }
                if (d.brayCurtis < r.brayCurtis) {
                    r.brayCurtis = d.brayCurtis;
                    r.nearestBrayCurtis = b;
                }
            }
            const HutchesonTest t = c.hutcheson(i, j);
            if (!t.defined) continue;
            ++s.defined;
            if (t.p < 0.05) ++s.below05;
            if (t.p < 0.05 / double(s.pairs)) ++s.belowBonferroni;
        }
    const double others = n > 1 ? double(n - 1) : 1;
    for (auto& r : s.rows) {
        r.meanJaccard /= others;
        r.meanBrayCurtis /= others;
        r.meanMorisitaHorn /= others;
    }
    return s;
}

} // namespace ordana
