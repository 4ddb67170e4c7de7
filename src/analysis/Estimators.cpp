#include "Estimators.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ordana::estimators {

namespace {

constexpr double kZ = 1.959963984540054; // the normal quantile of a two-sided 95% interval
constexpr double kInf = std::numeric_limits<double>::infinity();

double sq(double x) {
    return x * x;
}

// The (n-1)/n factor of the Chao forms.
double shrink(const Frequencies& f) {
    return f.n > 0 ? double(f.n - 1) / double(f.n) : 0.0;
}

// The undetected species of Chao1 as iNEXT and SpadeR use it throughout: f1^2/(2 f2), or f1(f1-1)/2 when
// f2 = 0, both with (n-1)/n.
double f0Hat(const Frequencies& f) {
    const double f1 = double(f.f(1)), f2 = double(f.f(2)), a = shrink(f);
    return f2 > 0 ? a * f1 * f1 / (2 * f2) : a * f1 * (f1 - 1) / 2;
}

// The log-normal interval of Chao (1987) around S_obs + t; when nothing is estimated unseen, the interval
// from the exponential detection terms (as SpadeR gives it).
void chaoInterval(const Frequencies& f, double estimate, double variance, Value& v) {
    const double sObs = double(f.s);
    const double t = estimate - sObs;
    v.hasInterval = true;
    if (t > 0 && variance > 0) {
        const double k = std::exp(kZ * std::sqrt(std::log(1 + variance / (t * t))));
        v.lower = sObs + t / k;
        v.upper = sObs + t * k;
        return;
    }
    if (t > 0) { // no variance to spread
        v.lower = v.upper = estimate;
        v.notes |= NoteNoVariance;
        return;
    }
    double p = 0, spread = 0, detected = 0;
    for (const auto& c : f.classes) {
        const double e = std::exp(-double(c.abundance));
        p += double(c.species) * e;
        spread += double(c.species) * (e - e * e);
        detected += double(c.abundance) * e * double(c.species);
    }
    p = sObs > 0 ? p / sObs : 0;
    double var = f.n > 0 ? spread - detected * detected / double(f.n) : 0;
    if (var < 0) var = 0;
    v.se = std::sqrt(var);
    v.lower = std::max(sObs, sObs / (1 - p) - kZ * v.se / (1 - p));
    v.upper = sObs / (1 - p) + kZ * v.se / (1 - p);
}

double klogk(const Tables& t, std::int64_t k) {
    return double(k) * t.log(k);
}

// E[K ln K] for K hypergeometric (population n, x marked, m drawn): summed outward from the mode by the ratio
// of neighbouring terms, normalised by what was summed, so no factorial is evaluated.
double expectedKLogK(std::int64_t n, std::int64_t x, std::int64_t m, const Tables& t) {
    const std::int64_t lo = std::max<std::int64_t>(0, m - (n - x)), hi = std::min(x, m);
    if (hi <= 1) return 0;
    const double mean = double(m) * double(x) / double(n);
    if (mean >= 30 && double(hi - lo) > 40) {
        // Far from 0 the sum is the Taylor series of k ln k about the mean in the central moments: the
        // terms left out are of the order of 1/mean^2.
        const double nn = double(n), p = double(x) / nn, draws = double(m);
        const double var = draws * p * (1 - p) * (nn - draws) / (nn - 1);
        const double skew =
            nn > 2 ? (nn - 2 * double(x)) * std::sqrt(nn - 1) * (nn - 2 * draws) /
                         (std::sqrt(draws * double(x) * (nn - double(x)) * (nn - draws)) * (nn - 2))
                   : 0;
        const double m3 = skew * var * std::sqrt(var);
        return mean * std::log(mean) + var / (2 * mean) - m3 / (6 * mean * mean) +
               3 * var * var / (12 * mean * mean * mean);
    }
    std::int64_t mode = (m + 1) * (x + 1) / (n + 2);
    mode = std::clamp(mode, lo, hi);
    double total = 1, sum = klogk(t, mode), w = 1;
    const double rest = double(n - x - m);
    for (std::int64_t k = mode; k < hi; ++k) {
        w *= double(x - k) * double(m - k) / (double(k + 1) * (rest + double(k + 1)));
        total += w;
        sum += w * klogk(t, k + 1);
        if (w < 1e-13 * total) break;
    }
    w = 1;
    for (std::int64_t k = mode; k > lo; --k) {
        w *= double(k) * (rest + double(k)) / (double(x - k + 1) * double(m - k + 1));
        total += w;
        sum += w * klogk(t, k - 1);
        if (w < 1e-13 * total) break;
    }
    return sum / total;
}

// C(a, m) / C(n, m), the chance that m draws from n miss a given n - a individuals.
double missRatio(const Tables& t, std::int64_t n, std::int64_t a, std::int64_t m) {
    if (a < m) return 0;
    return std::exp(t.logFactorial(a) - t.logFactorial(a - m) - t.logFactorial(n) + t.logFactorial(n - m));
}

double sumXXMinus1(const Frequencies& f) {
    double s = 0;
    for (const auto& c : f.classes)
        s += double(c.species) * double(c.abundance) * double(c.abundance - 1);
    return s;
}

double observedEntropy(const Frequencies& f) {
    if (f.observedEntropyCache >= 0) return f.observedEntropyCache;
    double h = 0;
    const double n = double(f.n);
    for (const auto& c : f.classes) {
        const double p = double(c.abundance) / n;
        h -= double(c.species) * p * std::log(p);
    }
    f.observedEntropyCache = h;
    return h;
}

// The weight of the unseen in the coverage formulas: n f0 / (n f0 + f1).
double coverageWeight(const Frequencies& f) {
    const double f1 = double(f.f(1));
    if (f1 <= 0) return 1;
    const double nf0 = double(f.n) * f0Hat(f);
    return nf0 / (nf0 + f1);
}

} // namespace

Frequencies Frequencies::fromCounts(const std::vector<std::int64_t>& counts) {
    std::vector<std::int64_t> sorted;
    sorted.reserve(counts.size());
    for (auto c : counts)
        if (c > 0) sorted.push_back(c);
    std::sort(sorted.begin(), sorted.end());
    Frequencies f;
    for (auto c : sorted) {
        if (f.classes.empty() || f.classes.back().abundance != c)
            f.classes.push_back({c, 1});
        else
            ++f.classes.back().species;
        f.n += c;
        ++f.s;
    }
    return f;
}

std::int64_t Frequencies::f(std::int64_t abundance) const {
    for (const auto& c : classes) {
        if (c.abundance == abundance) return c.species;
        if (c.abundance > abundance) break;
    }
    return 0;
}

std::vector<std::string> noteCodes(unsigned notes) {
    static const char* const codes[] = {"fara_singletoni",  "fara_dubletoni",   "doar_singletoni",
                                        "o_singura_specie", "sub_doi_indivizi", "fara_solutie",
                                        "esantion_gol",     "fara_varianta",    "fara_specii_rare",
                                        "nedefinit",        "peste_2n"};
    std::vector<std::string> out;
    for (unsigned i = 0; i < sizeof codes / sizeof *codes; ++i)
        if (notes & (1u << i)) out.push_back(codes[i]);
    return out;
}

std::string noteText(unsigned notes) {
    static const char* const texts[] = {"fara singletoni (f1 = 0)",
                                        "fara dubletoni (f2 = 0)",
                                        "toate speciile au cate un individ",
                                        "o singura specie",
                                        "mai putin de doi indivizi",
                                        "fara solutie (S = n)",
                                        "esantion gol",
                                        "varianta nepozitiva",
                                        "nicio specie rara (<= 10)",
                                        "formula nedefinita",
                                        "extrapolare peste 2n, nesigura"};
    std::string out;
    for (unsigned i = 0; i < sizeof texts / sizeof *texts; ++i)
        if (notes & (1u << i)) out += (out.empty() ? "" : "; ") + std::string(texts[i]);
    return out;
}

unsigned sampleNotes(const Frequencies& f) {
    unsigned n = NoteNone;
    if (f.n == 0) return NoteEmptySample;
    if (f.f(1) == 0) n |= NoteNoSingletons;
    if (f.f(2) == 0) n |= NoteNoDoubletons;
    if (f.f(1) == f.s) n |= NoteAllSingletons;
    if (f.s == 1) n |= NoteOneSpecies;
    if (f.n < 2) n |= NoteUnderTwoIndividuals;
    return n;
}

Value chao1Classic(const Frequencies& f) {
    Value v;
    if (f.n == 0) return {0, 0, 0, 0, true, NoteEmptySample};
    const double f1 = double(f.f(1)), f2 = double(f.f(2)), a = shrink(f);
    const double est = double(f.s) + f0Hat(f);
    double var;
    if (f2 > 0) {
        const double r = f1 / f2;
        var = f2 * (a * r * r / 2 + a * a * r * r * r + a * a * r * r * r * r / 4);
    } else {
        v.notes |= NoteNoDoubletons;
        var = a * f1 * (f1 - 1) / 2 + a * a * f1 * sq(2 * f1 - 1) / 4 - a * a * sq(f1 * f1) / 4 / est;
    }
    v.value = est;
    v.se = var > 0 ? std::sqrt(var) : 0;
    chaoInterval(f, est, var, v);
    v.notes |=
        sampleNotes(f) & (NoteNoSingletons | NoteAllSingletons | NoteOneSpecies | NoteUnderTwoIndividuals);
    return v;
}

Value chao1BiasCorrected(const Frequencies& f) {
    Value v;
    if (f.n == 0) return {0, 0, 0, 0, true, NoteEmptySample};
    const double f1 = double(f.f(1)), f2 = double(f.f(2)), a = shrink(f);
    const double est = double(f.s) + a * f1 * (f1 - 1) / (2 * (f2 + 1));
    double var;
    if (f2 > 0) {
        var = a * f1 * (f1 - 1) / (2 * (f2 + 1)) + a * a * f1 * sq(2 * f1 - 1) / (4 * sq(f2 + 1)) +
              a * a * f1 * f1 * f2 * sq(f1 - 1) / (4 * sq(sq(f2 + 1)));
    } else {
        var = a * f1 * (f1 - 1) / 2 + a * a * f1 * sq(2 * f1 - 1) / 4 - a * a * sq(f1 * f1) / 4 / est;
    }
    v.value = est;
    v.se = var > 0 ? std::sqrt(var) : 0;
    chaoInterval(f, est, var, v);
    v.notes |= sampleNotes(f) & ~NoteEmptySample;
    return v;
}

double chao1BiasCorrectedPlain(const Frequencies& f) {
    const double f1 = double(f.f(1)), f2 = double(f.f(2));
    return double(f.s) + f1 * (f1 - 1) / (2 * (f2 + 1));
}

namespace {

// ACE from the counts f_1..f_k of the rare classes, taken as real numbers so the delta method can
// differentiate it.
double aceOf(const double* fr, std::int64_t k, double abundant, bool* undefined) {
    double sRare = 0, nRare = 0, g = 0;
    for (std::int64_t i = 1; i <= k; ++i) {
        sRare += fr[i];
        nRare += double(i) * fr[i];
        g += double(i) * double(i - 1) * fr[i];
    }
    const double c = nRare > 0 ? 1 - fr[1] / nRare : 0;
    if (c <= 0 || nRare <= 1) {
        if (undefined) *undefined = true;
        return kInf;
    }
    const double gamma2 = std::max(sRare / c * g / (nRare * (nRare - 1)) - 1, 0.0);
    return abundant + sRare / c + fr[1] / c * gamma2;
}

} // namespace

Value ace(const Frequencies& f, std::int64_t k) {
    Value v;
    if (f.n == 0) return {0, 0, 0, 0, true, NoteEmptySample};
    k = std::clamp<std::int64_t>(k, 1, 10);
    double fr[11] = {};
    double abundant = 0;
    for (const auto& c : f.classes) {
        if (c.abundance <= k)
            fr[c.abundance] = double(c.species);
        else
            abundant += double(c.species);
    }
    if (abundant == double(f.s)) {
        v.value = double(f.s);
        v.se = 0;
        v.notes |= NoteNoRareSpecies;
        return v;
    }
    bool undefined = false;
    const double est = aceOf(fr, k, abundant, &undefined);
    if (undefined) {
        // Every rare species a singleton: the coverage of the rare part is 0. The bias-corrected Chao1 stands
        // in.
        Value c = chao1BiasCorrected(f);
        c.notes |= NoteUndefined | NoteAllSingletons;
        return c;
    }
    // The delta method on every f_X present, with their multinomial covariances, as SpadeR does: a rare class
    // by its derivative, an abundant one counting 1.
    std::vector<double> grad, freq;
    for (const auto& c : f.classes) {
        freq.push_back(double(c.species));
        if (c.abundance > k) {
            grad.push_back(1);
            continue;
        }
        const std::int64_t i = c.abundance;
        const double h = 1e-5 * std::max(1.0, fr[i]);
        double up[11], down[11];
        std::copy(fr, fr + 11, up);
        std::copy(fr, fr + 11, down);
        up[i] += h;
        down[i] -= h;
        grad.push_back((aceOf(up, k, abundant, nullptr) - aceOf(down, k, abundant, nullptr)) / (2 * h));
    }
    double var = 0;
    for (std::size_t i = 0; i < grad.size(); ++i)
        for (std::size_t j = 0; j < grad.size(); ++j)
            var += grad[i] * grad[j] * (i == j ? freq[i] * (1 - freq[i] / est) : -freq[i] * freq[j] / est);
    v.value = est;
    v.se = var > 0 ? std::sqrt(var) : 0;
    if (!(var > 0)) v.notes |= NoteNoVariance;
    chaoInterval(f, est, var, v);
    v.notes |=
        sampleNotes(f) & (NoteNoSingletons | NoteAllSingletons | NoteOneSpecies | NoteUnderTwoIndividuals);
    return v;
}

double jackknife1(const Frequencies& f) {
    return f.n > 0 ? double(f.s) + double(f.f(1)) * shrink(f) : 0;
}

double jackknife2(const Frequencies& f) {
    if (f.n < 2) return jackknife1(f);
    const double n = double(f.n);
    return double(f.s) + double(f.f(1)) * (2 * n - 3) / n - double(f.f(2)) * sq(n - 2) / (n * (n - 1));
}

Value fisherAlpha(const Frequencies& f) {
    Value v;
    const double s = double(f.s), n = double(f.n);
    if (f.n == 0) return {0, -1, 0, 0, false, NoteEmptySample};
    if (s >= n) { // alpha ln(1 + n/alpha) < n for every alpha: no finite alpha fits
        v.value = kInf;
        v.notes |= NoteNoSolution;
        return v;
    }
    auto g = [&](double a) { return a * std::log1p(n / a) - s; };
    double lo = 1e-12, hi = 1.0;
    while (g(hi) < 0)
        hi *= 2;
    for (int i = 0; i < 400 && hi - lo > 1e-15 * hi; ++i) {
        const double mid = i < 60 ? std::sqrt(lo * hi) : (lo + hi) / 2;
        (g(mid) < 0 ? lo : hi) = mid;
    }
    v.value = (lo + hi) / 2;
    return v;
}

double coverageChaoJost(const Frequencies& f) {
    if (f.n == 0) return 0;
    return 1 - double(f.f(1)) / double(f.n) * coverageWeight(f);
}

double goodsCoverage(const Frequencies& f) {
    return f.n > 0 ? 1 - double(f.f(1)) / double(f.n) : 0;
}

double hillObserved(const Frequencies& f, int q) {
    if (f.n == 0) return 0;
    if (q == 0) return double(f.s);
    if (q == 1) return std::exp(observedEntropy(f));
    double d = 0;
    for (const auto& c : f.classes)
        d += double(c.species) * sq(double(c.abundance) / double(f.n));
    return 1 / d;
}

double chaoShannonEntropy(const Frequencies& f) {
    if (f.n == 0) return 0;
    if (f.chaoShannonCache >= 0) return f.chaoShannonCache;
    const std::int64_t n = f.n;
    const double f1 = double(f.f(1)), f2 = double(f.f(2));
    // Harmonic sums from X to n-1 for the observed part.
    double h = 0;
    std::vector<double> harmonic(std::size_t(n), 0.0);
    for (std::int64_t k = 1; k < n; ++k)
        harmonic[std::size_t(k)] = harmonic[std::size_t(k - 1)] + 1.0 / double(k);
    const double harmonicN1 = harmonic[std::size_t(n - 1)];
    for (const auto& c : f.classes)
        if (c.abundance <= n - 1)
            h += double(c.species) * double(c.abundance) / double(n) *
                 (harmonicN1 - harmonic[std::size_t(c.abundance - 1)]);
    double a;
    if (f2 > 0)
        a = 2 * f2 / (double(n - 1) * f1 + 2 * f2);
    else if (f1 > 0)
        a = 2 / (double(n - 1) * (f1 - 1) + 2);
    else
        a = 1;
    if (f1 > 0 && a < 1) {
        // (1-A)^(1-n) (-ln A - sum_{r<n} (1-A)^r / r) = sum_{j>=1} (1-A)^j / (n-1+j): the tail summed
        // directly when it converges fast, the difference when (1-A)^n is not small.
        const double x = 1 - a;
        double tail = 0;
        if (std::pow(x, double(n)) > 1e-6) {
            double s = 0, p = 1;
            for (std::int64_t r = 1; r < n; ++r) {
                p *= x;
                s += p / double(r);
            }
            tail = std::pow(x, double(1 - n)) * (-std::log(a) - s);
        } else {
            double p = 1;
            for (std::int64_t j = 1;; ++j) {
                p *= x;
                const double term = p / double(n - 1 + j);
                tail += term;
                if (term < 1e-17 * tail) break;
            }
        }
        h += f1 / double(n) * tail;
    }
    f.chaoShannonCache = h;
    return h;
}

Value hillAsymptotic(const Frequencies& f, int q) {
    if (q == 0) return chao1Classic(f);
    Value v;
    if (f.n == 0) return {0, -1, 0, 0, false, NoteEmptySample};
    if (q == 1) {
        v.value = std::exp(chaoShannonEntropy(f));
        return v;
    }
    const double s = sumXXMinus1(f);
    if (s <= 0) {
        v.value = kInf;
        v.notes |= NoteAllSingletons | NoteUndefined;
        return v;
    }
    v.value = double(f.n) * double(f.n - 1) / s;
    return v;
}

Tables::Tables(std::int64_t n) : n_(n) {
    const std::size_t size = std::size_t(std::max<std::int64_t>(n, 1)) + 1;
    logFactorial_.assign(size, 0.0);
    log_.assign(size, 0.0);
    harmonic_.assign(size, 0.0);
    for (std::size_t k = 1; k < size; ++k) {
        log_[k] = std::log(double(k));
        logFactorial_[k] = logFactorial_[k - 1] + log_[k];
        harmonic_[k] = harmonic_[k - 1] + 1.0 / double(k);
    }
}

double hillAt(const Frequencies& f, const Tables& t, int q, double m) {
    const std::int64_t n = f.n;
    if (n == 0 || m <= 0) return 0;
    if (m == double(n)) return hillObserved(f, q);
    if (q == 2) {
        if (n < 2) return hillObserved(f, 2);
        const double s = sumXXMinus1(f) / (double(n) * double(n - 1));
        return 1 / (1 / m + (1 - 1 / m) * s);
    }
    if (m < double(n)) {
        const std::int64_t mi = std::int64_t(m);
        if (q == 0) {
            double d = 0;
            for (const auto& c : f.classes)
                d += double(c.species) * (1 - missRatio(t, n, n - c.abundance, mi));
            return d;
        }
        double e = 0;
        for (const auto& c : f.classes)
            if (c.abundance > 1) e += double(c.species) * expectedKLogK(n, c.abundance, mi, t);
        return std::exp(t.log(mi) - e / m);
    }
    if (q == 0) {
        const double f1 = double(f.f(1)), f0 = f0Hat(f);
        if (f1 <= 0 || f0 <= 0) return double(f.s);
        return double(f.s) + f0 * (1 - std::pow(1 - f1 / (double(n) * f0 + f1), m - double(n)));
    }
    const double r = double(n) / m;
    return std::exp(r * observedEntropy(f) + (1 - r) * chaoShannonEntropy(f));
}

double coverageAt(const Frequencies& f, const Tables& t, double m) {
    const std::int64_t n = f.n;
    if (n == 0 || m <= 0) return 0;
    const double f1 = double(f.f(1));
    if (m < double(n)) {
        const std::int64_t mi = std::int64_t(m);
        double s = 0;
        for (const auto& c : f.classes) {
            if (n - c.abundance < mi) continue;
            s += double(c.species) * double(c.abundance) / double(n) *
                 std::exp(t.logFactorial(n - c.abundance) - t.logFactorial(n - c.abundance - mi) -
                          t.logFactorial(n - 1) + t.logFactorial(n - mi - 1));
        }
        return 1 - s;
    }
    return 1 - f1 / double(n) * std::pow(coverageWeight(f), m - double(n) + 1);
}

double sizeForCoverage(const Frequencies& f, const Tables& t, double c) {
    const std::int64_t n = f.n;
    if (n == 0) return 0;
    const double atN = coverageAt(f, t, double(n));
    if (c <= atN) {
        std::int64_t lo = 1, hi = n; // coverageAt rises with m
        while (lo < hi) {
            const std::int64_t mid = (lo + hi) / 2;
            if (coverageAt(f, t, double(mid)) < c)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo > 1 &&
            std::fabs(coverageAt(f, t, double(lo - 1)) - c) < std::fabs(coverageAt(f, t, double(lo)) - c))
            --lo;
        return double(lo);
    }
    const double w = coverageWeight(f), f1 = double(f.f(1));
    if (c >= 1 || w <= 0 || w >= 1) return double(n);
    // Capped where the size stops meaning anything, so that no text of it runs to hundreds of digits.
    return std::min(1e12, std::round(double(n) - 1 + std::log((1 - c) * double(n) / f1) / std::log(w)));
}

Value rarefiedRichness(const Frequencies& f, const Tables& t, std::int64_t m) {
    Value v;
    const std::int64_t n = f.n;
    if (m >= n || m <= 0) {
        v.value = m <= 0 ? 0 : double(f.s);
        v.se = 0;
        return v;
    }
    std::vector<double> q(f.classes.size());
    double est = 0, var = 0;
    for (std::size_t a = 0; a < f.classes.size(); ++a) {
        q[a] = missRatio(t, n, n - f.classes[a].abundance, m);
        const double fa = double(f.classes[a].species);
        est += fa * (1 - q[a]);
        var += fa * q[a] * (1 - q[a]);
    }
    for (std::size_t a = 0; a < f.classes.size(); ++a) {
        const double fa = double(f.classes[a].species);
        const std::int64_t xa = f.classes[a].abundance;
        var += fa * (fa - 1) * (missRatio(t, n, n - 2 * xa, m) - q[a] * q[a]);
        for (std::size_t b = a + 1; b < f.classes.size(); ++b)
            var += 2 * fa * double(f.classes[b].species) *
                   (missRatio(t, n, n - xa - f.classes[b].abundance, m) - q[a] * q[b]);
    }
    v.value = est;
    v.se = var > 0 ? std::sqrt(var) : 0;
    v.hasInterval = true;
    v.lower = std::max(0.0, est - kZ * v.se);
    v.upper = est + kZ * v.se;
    return v;
}

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

std::vector<std::int64_t> curveSizes(std::int64_t n, int points) {
    std::vector<std::int64_t> m;
    if (n <= 0 || points < 2) return m;
    const int half = points / 2;
    for (int i = 0; i < half; ++i)
        m.push_back(std::int64_t(std::llround(1 + double(n - 1) * i / std::max(1, half - 1))));
    for (int i = 1; i <= points - half; ++i)
        m.push_back(std::int64_t(std::llround(double(n) + double(n) * i / (points - half))));
    m.push_back(n);
    std::sort(m.begin(), m.end());
    m.erase(std::unique(m.begin(), m.end()), m.end());
    return m;
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

std::string fmtLevel(double x, int decimals) {
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", decimals, x);
    std::string s = b;
    for (auto& ch : s)
        if (ch == '.') ch = ',';
    return s;
}

} // namespace

namespace {

const std::string kBoot = "bootstrap Chao et al. 2014";
const std::string kBootInterval = "valoarea +/- 1,96 ES bootstrap";
const std::string kLognormal = "log-normal (Chao 1987)";
const char* const kOrderName[3] = {"q=0", "q=1", "q=2"};

Value plain(double x, unsigned notes = NoteNone) {
    Value v;
    v.value = x;
    v.notes = notes;
    return v;
}

// The estimates in the order the table shows them, and which bootstrap statistic gives each bootstrapped
// one its standard error.
struct Rows {
    Analysis& a;
    std::vector<std::pair<std::size_t, Stat>> booted;

    std::size_t add(std::string key, std::string label, std::string variant, const Value& v,
                    std::string seMethod, std::string interval, std::string logBase = "") {
        Estimate e;
        e.key = std::move(key);
        e.label = std::move(label);
        e.variant = std::move(variant);
        e.logBase = std::move(logBase);
        e.value = v.value;
        e.se = v.se;
        e.seMethod = v.se >= 0 ? std::move(seMethod) : std::string();
        e.lower = v.lower;
        e.upper = v.upper;
        e.hasInterval = v.hasInterval;
        e.interval = v.hasInterval ? std::move(interval) : std::string();
        e.notes = v.notes;
        a.estimates.push_back(std::move(e));
        return a.estimates.size() - 1;
    }
    void addBooted(Stat stat, std::string key, std::string label, std::string variant, const Value& v,
                   std::string logBase = "") {
        booted.push_back(
            {add(std::move(key), std::move(label), std::move(variant), v, kBoot, kBootInterval, logBase),
             stat});
    }
};

// Richness estimators, the jackknives, Fisher's alpha and coverage.
void addRichness(Rows& rows, const Frequencies& f, unsigned base) {
    rows.add("sObs", "S observat", "numarul de specii observate", plain(double(f.s), base), "", "");
    rows.add("chao1", "Chao1 clasic",
             "Chao1 clasic S + (n-1)/n f1^2/(2 f2) (Chao 1987); forma corectata daca f2 = 0", chao1Classic(f),
             "analitic (Chao 1987)", kLognormal);
    rows.add("chao1BiasCorrected", "Chao1 corectat", "Chao1 corectat S + (n-1)/n f1(f1-1)/(2(f2+1))",
             chao1BiasCorrected(f), "analitic", kLognormal);
    rows.add("chao1BiasCorrectedNoFactor", "Chao1 corectat fara (n-1)/n",
             "S + f1(f1-1)/(2(f2+1)), forma din vegan", plain(f.n > 0 ? chao1BiasCorrectedPlain(f) : 0, base),
             "", "");
    rows.add("ace", "ACE (prag 10)", "ACE, specii rare <= 10 (Chao si Lee 1992)", ace(f, 10), "metoda delta",
             kLognormal);
    rows.addBooted(StJack1, "jackknife1", "Jackknife 1", "jackknife de ordinul 1, abundente: S + f1 (n-1)/n",
                   plain(jackknife1(f), base));
    rows.addBooted(StJack2, "jackknife2", "Jackknife 2", "jackknife de ordinul 2, abundente",
                   plain(jackknife2(f), base | (f.n < 2 && f.n > 0 ? NoteUndefined : NoteNone)));
    rows.addBooted(StFisher, "fisherAlpha", "alfa Fisher", "S = alfa ln(1 + n/alfa)", fisherAlpha(f), "e");
    rows.addBooted(StCoverage, "coverage", "Acoperire (Chao-Jost)",
                   "acoperirea esantionului (Chao si Jost 2012)", plain(coverageChaoJost(f), base));
    rows.addBooted(StGood, "goodCoverage", "Acoperire Good", "1 - f1/n (Good 1953)",
                   plain(goodsCoverage(f), base));
}

// Hill numbers observed and asymptotic.
void addHill(Rows& rows, const Frequencies& f, unsigned base) {
    const char* orderWhat[3] = {"bogatia", "exp(Shannon)", "1/Simpson"};
    for (int q = 0; q < 3; ++q)
        rows.addBooted(Stat(StHillObs0 + q), "hill" + std::to_string(q) + "Observed",
                       std::string("Hill ") + kOrderName[q] + " observat",
                       std::string("numar Hill observat: ") + orderWhat[q], plain(hillObserved(f, q), base),
                       q == 1 ? "e" : "");
    rows.add("hill0Asymptotic", "Hill q=0 asimptotic", "Chao1 clasic (Chao et al. 2014)",
             hillAsymptotic(f, 0), "analitic (Chao 1987)", kLognormal);
    rows.addBooted(StHillAsy1, "hill1Asymptotic", "Hill q=1 asimptotic",
                   "exp(entropia Chao-Shannon, Chao, Wang si Jost 2013)", hillAsymptotic(f, 1), "e");
    rows.addBooted(StHillAsy2, "hill2Asymptotic", "Hill q=2 asimptotic",
                   "Simpson nedeplasat n(n-1)/sum X(X-1)", hillAsymptotic(f, 2));
}

// Hill numbers at the sample size and at the coverage asked for, and richness rarefied to the run's smallest
// sample.
void addAtLevels(Rows& rows, const Frequencies& f, const Tables& t, const Settings& settings, unsigned base,
                 double sizeM, double covM) {
    const std::string sizeText = fmtLevel(sizeM, 0);
    const char* sizeHow = sizeM < double(f.n)   ? "rarefiere"
                          : sizeM > double(f.n) ? "extrapolare"
                                                : "esantionul observat";
    // Beyond twice the sample the extrapolation is no longer reliable (Chao et al. 2014): said, not hidden.
    const unsigned beyond = sizeM > 2.0 * double(f.n) && f.n > 0 ? NoteBeyondDouble : NoteNone;
    for (int q = 0; q < 3; ++q)
        rows.addBooted(Stat(StSize0 + q), "hill" + std::to_string(q) + "AtSize",
                       std::string("Hill ") + kOrderName[q] + " la m = " + sizeText,
                       std::string(sizeHow) + " la m = " + sizeText + " indivizi (Chao et al. 2014)",
                       plain(hillAt(f, t, q, sizeM), base | beyond), q == 1 ? "e" : "");
    const unsigned beyondCoverage = covM > 2.0 * double(f.n) && f.n > 0 ? NoteBeyondDouble : NoteNone;
    if (settings.rarefyTo > 0 && settings.rarefyTo < f.n)
        rows.add("rarefiedRichness", "S rarefiat la m = " + std::to_string(settings.rarefyTo),
                 "rarefiere la cel mai mic esantion al rularii, m = " + std::to_string(settings.rarefyTo) +
                     " (Hurlbert 1971)",
                 rarefiedRichness(f, t, settings.rarefyTo), "analitic (Heck et al. 1975)",
                 "valoarea +/- 1,96 ES");
    const std::string covText = fmtLevel(rows.a.coverageLevel, 3);
    for (int q = 0; q < 3; ++q)
        rows.addBooted(Stat(StCov0 + q), "hill" + std::to_string(q) + "AtCoverage",
                       std::string("Hill ") + kOrderName[q] + " la C = " + covText,
                       "la acoperirea C = " + covText + " (m = " + fmtLevel(covM, 0) + ", Chao si Jost 2012)",
                       plain(hillAt(f, t, q, covM), base | beyondCoverage), q == 1 ? "e" : "");
}

// Running sums of every bootstrapped statistic and of the curve's four values at each size.
struct Replicates {
    std::vector<Running> stats, curve;
};

// The bootstrap: one generator per sample, replicates in order, running sums only.
Replicates bootstrap(const Frequencies& f, const Tables& t, const Settings& settings, double sizeM,
                     double covM, const std::vector<std::int64_t>& sizes) {
    Replicates out{std::vector<Running>(StCount), std::vector<Running>(sizes.size() * 4)};
    const std::vector<double> p = f.n > 0 ? bootstrapAssemblage(f) : std::vector<double>();
    double mass = 0;
    for (double x : p)
        mass += x;
    if (mass <= 0 || settings.replicates <= 1) return out;
    const AliasTable table(p);
    Random random(settings.seed, settings.stream);
    std::vector<std::int64_t> counts(p.size());
    for (int r = 0; r < settings.replicates; ++r) {
        std::fill(counts.begin(), counts.end(), 0);
        for (std::int64_t i = 0; i < f.n; ++i)
            ++counts[table.draw(random)];
        const Frequencies b = Frequencies::fromCounts(counts);
        double v[StCount];
        v[StJack1] = jackknife1(b);
        v[StJack2] = jackknife2(b);
        v[StFisher] = fisherAlpha(b).value;
        v[StCoverage] = coverageChaoJost(b);
        v[StGood] = goodsCoverage(b);
        for (int q = 0; q < 3; ++q) {
            v[StHillObs0 + q] = hillObserved(b, q);
            v[StSize0 + q] = hillAt(b, t, q, sizeM);
            v[StCov0 + q] = hillAt(b, t, q, covM);
        }
        v[StHillAsy1] = hillAsymptotic(b, 1).value;
        v[StHillAsy2] = hillAsymptotic(b, 2).value;
        for (int k = 0; k < StCount; ++k)
            out.stats[std::size_t(k)].add(v[k]);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            for (int q = 0; q < 3; ++q)
                out.curve[i * 4 + std::size_t(q)].add(hillAt(b, t, q, double(sizes[i])));
            out.curve[i * 4 + 3].add(coverageAt(b, t, double(sizes[i])));
        }
    }
    return out;
}

// Each bootstrapped estimate's standard error and interval, bounded below by what was observed.
void applyBootstrap(Analysis& a, const Rows& rows, const Replicates& reps, const Frequencies& f,
                    const Settings& settings) {
    for (const auto& [row, stat] : rows.booted) {
        Estimate& e = a.estimates[row];
        const double sd = reps.stats[std::size_t(stat)].sd();
        if (sd < 0 || !std::isfinite(e.value)) {
            e.se = -1;
            e.seMethod.clear();
            e.interval.clear();
            e.hasInterval = false;
            continue;
        }
        e.se = sd;
        e.seMethod = kBoot + ", " + std::to_string(settings.replicates) + " replici";
        e.hasInterval = true;
        e.interval = kBootInterval;
        const bool isCoverage = stat == StCoverage || stat == StGood;
        const double floor = stat == StHillAsy1 || stat == StHillAsy2 || stat == StJack1 || stat == StJack2
                                 ? hillObserved(f, stat == StHillAsy2   ? 2
                                                   : stat == StHillAsy1 ? 1
                                                                        : 0)
                                 : 0.0;
        e.lower = std::max(floor, e.value - kZ * sd);
        e.upper = e.value + kZ * sd;
        if (isCoverage) e.upper = std::min(1.0, e.upper);
    }
    for (std::size_t i = 0; i < a.curve.size(); ++i)
        for (int k = 0; k < 4; ++k) {
            const double sd = std::max(0.0, reps.curve[i * 4 + std::size_t(k)].sd());
            CurvePoint& c = a.curve[i];
            c.lower[k] = std::max(0.0, c.value[k] - kZ * sd);
            c.upper[k] = c.value[k] + kZ * sd;
            if (k == 3) c.upper[k] = std::min(1.0, c.upper[k]);
        }
}

} // namespace

Analysis analyse(const Frequencies& f, const Settings& settings) {
    Analysis a;
    a.notes = sampleNotes(f);
    const Tables t(f.n);
    a.sizeLevel = settings.sizeLevel > 0 ? settings.sizeLevel : 2.0 * double(f.n);
    a.coverageLevel =
        settings.coverageLevel > 0 ? settings.coverageLevel : coverageAt(f, t, 2.0 * double(f.n));
    const double sizeM = a.sizeLevel;
    const double covM = sizeForCoverage(f, t, a.coverageLevel);
    const unsigned base =
        a.notes & (NoteEmptySample | NoteUnderTwoIndividuals | NoteOneSpecies | NoteAllSingletons);

    Rows rows{a, {}};
    addRichness(rows, f, base);
    addHill(rows, f, base);
    addAtLevels(rows, f, t, settings, base, sizeM, covM);

    const std::vector<std::int64_t> sizes = curveSizes(f.n, settings.curvePoints);
    a.curve.resize(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        a.curve[i].m = double(sizes[i]);
        for (int q = 0; q < 3; ++q)
            a.curve[i].value[q] = hillAt(f, t, q, double(sizes[i]));
        a.curve[i].value[3] = coverageAt(f, t, double(sizes[i]));
    }
    applyBootstrap(a, rows, bootstrap(f, t, settings, sizeM, covM, sizes), f, settings);
    return a;
}

} // namespace ordana::estimators
