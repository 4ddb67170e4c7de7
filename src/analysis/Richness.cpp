#include "Richness.h"

#include "EstimatorMath.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ordana::estimators {

using namespace detail;

namespace detail {

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

// The weight of the unseen in the coverage formulas: n f0 / (n f0 + f1).
double coverageWeight(const Frequencies& f) {
    const double f1 = double(f.f(1));
    if (f1 <= 0) return 1;
    const double nf0 = double(f.n) * f0Hat(f);
    return nf0 / (nf0 + f1);
}

} // namespace detail

namespace {

// The log-normal interval of Chao (1987) around S_obs + t. When nothing is estimated unseen, the error and
// interval of the exponential detection terms (as SpadeR gives them), named as such: the analytic formula
// has nothing to spread. The interval starts at S_obs, which the estimate equals and the truth cannot be
// below.
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
    v.seMethod = "detectia Poisson a speciilor observate (SpadeR), fiindca estimarea este S observat";
    v.interval = "de la S observat la S/(1-P) + 1,96 ES/(1-P), P = sum f_k e^-k / S (SpadeR)";
    v.lower = sObs;
    v.upper = std::max(sObs, sObs / (1 - p) + kZ * v.se / (1 - p));
}

// A Chao1 form's value, its analytic error and its interval.
void setChao(const Frequencies& f, double estimate, double variance, Value& v) {
    v.value = estimate;
    v.se = variance > 0 ? std::sqrt(variance) : 0;
    chaoInterval(f, estimate, variance, v);
}

// What of the sample the Chao1 forms say beside their value.
const auto kChaoSampleNotes = NoteNoSingletons | NoteAllSingletons | NoteOneSpecies | NoteUnderTwoIndividuals;

// An empty sample: nothing to estimate, nothing to spread.
Value emptySample() {
    Value v;
    v.notes = NoteEmptySample;
    return v;
}

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

Value chao1Classic(const Frequencies& f) {
    Value v;
    if (f.n == 0) return emptySample();
    const double f1 = double(f.f(1)), f2 = double(f.f(2)), a = shrink(f);
    const double est = double(f.s) + f0Hat(f);
    double var;
    if (f2 > 0) {
        const double r = f1 / f2;
        var = f2 * (a * r * r / 2 + a * a * r * r * r + a * a * r * r * r * r / 4);
    } else {
        v.notes |= NoteNoDoubletons;
        v.variant = "Chao1 in forma corectata S + (n-1)/n f1(f1-1)/2, fiindca f2 = 0 (Chao 2005)";
        v.seMethod = "analitic, forma corectata cu f2 = 0 (Chao 2005)";
        var = a * f1 * (f1 - 1) / 2 + a * a * f1 * sq(2 * f1 - 1) / 4 - a * a * sq(f1 * f1) / 4 / est;
    }
    setChao(f, est, var, v);
    v.notes |= sampleNotes(f) & kChaoSampleNotes;
    return v;
}

Value chao1BiasCorrected(const Frequencies& f) {
    Value v;
    if (f.n == 0) return emptySample();
    const double f1 = double(f.f(1)), f2 = double(f.f(2)), a = shrink(f);
    const double est = double(f.s) + a * f1 * (f1 - 1) / (2 * (f2 + 1));
    double var;
    if (f2 > 0) {
        var = a * f1 * (f1 - 1) / (2 * (f2 + 1)) + a * a * f1 * sq(2 * f1 - 1) / (4 * sq(f2 + 1)) +
              a * a * f1 * f1 * f2 * sq(f1 - 1) / (4 * sq(sq(f2 + 1)));
    } else {
        var = a * f1 * (f1 - 1) / 2 + a * a * f1 * sq(2 * f1 - 1) / 4 - a * a * sq(f1 * f1) / 4 / est;
    }
    setChao(f, est, var, v);
    v.notes |= sampleNotes(f) & ~NoteEmptySample;
    return v;
}

double chao1BiasCorrectedPlain(const Frequencies& f) {
    const double f1 = double(f.f(1)), f2 = double(f.f(2));
    return double(f.s) + f1 * (f1 - 1) / (2 * (f2 + 1));
}

Value ace(const Frequencies& f, std::int64_t k) {
    Value v;
    if (f.n == 0) return emptySample();
    k = std::clamp<std::int64_t>(k, 1, 10);
    double fr[11] = {};
    double abundant = 0;
    for (const auto& c : f.classes) {
        if (c.abundance <= k)
            fr[c.abundance] = double(c.species);
        else
            abundant += double(c.species);
    }
    if (abundant == double(f.s)) { // every species abundant: ACE is what was seen, with nothing to spread
        v.value = double(f.s);
        v.notes |= NoteNoRareSpecies;
        return v;
    }
    bool undefined = false;
    const double est = aceOf(fr, k, abundant, &undefined);
    if (undefined) {
        // Every rare species a singleton: the coverage of the rare part is 0. The bias-corrected Chao1 stands
        // in, and the row says so, with that estimator's error.
        Value c = chao1BiasCorrected(f);
        c.variant = "ACE nedefinit (acoperirea speciilor rare este 0): Chao1 corectat S + (n-1)/n "
                    "f1(f1-1)/(2(f2+1)) in locul lui";
        if (c.seMethod.empty()) c.seMethod = "analitic, al lui Chao1 corectat (Chao 2005)";
        c.notes |= NoteUndefined | (f.f(1) == f.s ? NoteAllSingletons : NoteRareSingletons);
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
    // sum_ij g_i g_j cov(f_i, f_j) with cov = f_i (1 - f_i/est) on the diagonal and -f_i f_j/est off it:
    // sum g_i^2 f_i - (sum g_i f_i)^2 / est, linear in the classes rather than quadratic.
    double squares = 0, weighted = 0;
    for (std::size_t i = 0; i < grad.size(); ++i) {
        squares += grad[i] * grad[i] * freq[i];
        weighted += grad[i] * freq[i];
    }
    const double var = squares - weighted * weighted / est;
    setChao(f, est, var, v);
    v.notes |= sampleNotes(f) & kChaoSampleNotes;
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
    if (f.n == 0) return emptySample();
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
} // namespace ordana::estimators
