#include "Incidence.h"

#include "common/RuntimeError.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace ordana::estimators {

namespace {

constexpr double kZ = 1.959963984540054; // the normal quantile of a two-sided 95% interval
constexpr double kInf = std::numeric_limits<double>::infinity();

double sq(double x) {
    return x * x;
}

// The (T-1)/T factor of the Chao forms.
double shrink(const Incidence& f) {
    return f.t > 0 ? double(f.t - 1) / double(f.t) : 0.0;
}

template <class Count> Incidence fromCells(std::span<const Count> cells, std::size_t units) {
    Incidence f;
    if (units == 0) {
        if (!cells.empty()) throw std::invalid_argument("incidence matrix: cells without units");
        return f;
    }
    if (cells.size() % units != 0) throw std::invalid_argument("incidence matrix: a row is cut short");
    f.t = std::int64_t(units);
    f.uniquesPerUnit.assign(units, 0);
    std::vector<std::int64_t> detections;
    const std::size_t rows = cells.size() / units;
    for (std::size_t r = 0; r < rows; ++r) {
        std::int64_t seen = 0;
        std::size_t where = 0;
        for (std::size_t c = 0; c < units; ++c) {
            const Count v = cells[r * units + c];
            bool valid = v >= 0;
            if constexpr (std::is_floating_point_v<Count>) valid = valid && std::isfinite(v);
            if (!valid) {
                char text[64];
                std::snprintf(text, sizeof text, "%g", double(v));
                throw RuntimeError(err::TypeMismatch, "Tip nepotrivit: valoarea din randul " +
                                                          std::to_string(r + 1) + ", coloana " +
                                                          std::to_string(c + 1) + " a matricei (" + text +
                                                          ") nu este un numar nenegativ");
            }
            if (v > 0) {
                ++seen;
                where = c;
            }
        }
        if (seen == 1) ++f.uniquesPerUnit[where];
        if (seen > 0) detections.push_back(seen);
    }
    const Incidence counted = Incidence::fromDetections(detections, f.t);
    f.classes = counted.classes;
    f.u = counted.u;
    f.s = counted.s;
    return f;
}

// The log-normal interval of Chao (1987) around S_obs + t0. When nothing is estimated unseen, the interval
// runs from S_obs to the richness the exponential detection terms imply (Chao 1987, as SpadeR gives it for
// incidence data), so it holds the estimate.
void richnessInterval(const Incidence& f, double estimate, double variance, Value& v) {
    const double sObs = double(f.s);
    const double t0 = estimate - sObs;
    v.hasInterval = true;
    if (t0 > 0 && variance > 0) {
        const double k = std::exp(kZ * std::sqrt(std::log(1 + variance / (t0 * t0))));
        v.lower = sObs + t0 / k;
        v.upper = sObs + t0 * k;
        return;
    }
    if (t0 > 0) {
        v.lower = v.upper = estimate;
        v.notes |= NoteNoVariance;
        return;
    }
    double p = 0, spread = 0, detected = 0;
    for (const auto& c : f.classes) {
        const double e = std::exp(-double(c.units));
        p += double(c.species) * e;
        spread += double(c.species) * (e - e * e);
        detected += double(c.units) * e * double(c.species);
    }
    p /= sObs;
    const double sd = std::sqrt(std::max(0.0, spread - detected * detected / double(f.t)));
    v.lower = sObs;
    v.upper = std::max(sObs, sObs / (1 - p) + kZ * sd / (1 - p));
}

// What no estimator can say with one unit or none.
bool nothingToEstimate(const Incidence& f, Value& v) {
    if (f.s == 0) {
        v = {0, 0, 0, 0, true, NoteEmptySample};
        return true;
    }
    if (f.t == 1) {
        v = {double(f.s), -1, 0, 0, false, NoteOneUnit};
        return true;
    }
    return false;
}

// ICE from the counts Q_1..Q_k of the infrequent classes, as real numbers so the delta method can
// differentiate it; q2 is Q_2 of the whole survey, which the coverage estimate uses.
double iceOf(const std::vector<double>& q, double t, double frequent) {
    double sInf = 0, uInf = 0, pairs = 0;
    for (std::size_t i = 1; i < q.size(); ++i) {
        sInf += q[i];
        uInf += double(i) * q[i];
        pairs += double(i) * double(i - 1) * q[i];
    }
    if (sInf <= 0) return frequent;
    const double q1 = q[1], q2 = q[2];
    const double a = q1 > 0 && q2 > 0 ? 2 * q2 / ((t - 1) * q1 + 2 * q2)
                     : q1 > 0         ? 2 / ((t - 1) * (q1 - 1) + 2)
                                      : 1;
    const double c = 1 - q1 / uInf * (1 - a);
    const double gamma2 =
        uInf > 1 ? std::max(sInf / c * t / (t - 1) * pairs / (uInf * (uInf - 1)) - 1, 0.0) : 0.0;
    return frequent + sInf / c + q1 / c * gamma2;
}

} // namespace

Incidence Incidence::fromMatrix(std::span<const std::int64_t> cells, std::size_t units) {
    return fromCells(cells, units);
}

Incidence Incidence::fromMatrix(std::span<const double> cells, std::size_t units) {
    return fromCells(cells, units);
}

Incidence Incidence::fromDetections(const std::vector<std::int64_t>& detections, std::int64_t units) {
    std::vector<std::int64_t> sorted;
    for (auto y : detections) {
        if (y > units) throw std::invalid_argument("incidence: a species seen in more units than there are");
        if (y > 0) sorted.push_back(y);
    }
    std::sort(sorted.begin(), sorted.end());
    Incidence f;
    f.t = std::max<std::int64_t>(units, 0);
    for (auto y : sorted) {
        if (f.classes.empty() || f.classes.back().units != y)
            f.classes.push_back({y, 1});
        else
            ++f.classes.back().species;
        f.u += y;
        ++f.s;
    }
    return f;
}

std::int64_t Incidence::q(std::int64_t units) const {
    for (const auto& c : classes) {
        if (c.units == units) return c.species;
        if (c.units > units) break;
    }
    return 0;
}

std::vector<std::string> incidenceNoteCodes(unsigned notes) {
    static const struct {
        unsigned bit;
        const char* code;
    } codes[] = {{NoteNoSingletons, "fara_unice"},
                 {NoteNoDoubletons, "fara_duplicate"},
                 {NoteAllSingletons, "doar_unice"},
                 {NoteOneSpecies, "o_singura_specie"},
                 {NoteOneUnit, "o_singura_unitate"},
                 {NoteEmptySample, "esantion_gol"},
                 {NoteNoVariance, "fara_varianta"},
                 {NoteNoRareSpecies, "fara_specii_infrecvente"},
                 {NoteUndefined, "nedefinit"},
                 {NoteBeyondDouble, "peste_2T"},
                 {NoteNoUniquesPerUnit, "fara_unice_pe_unitati"}};
    std::vector<std::string> out;
    for (const auto& c : codes)
        if (notes & c.bit) out.push_back(c.code);
    return out;
}

std::string incidenceNoteText(unsigned notes) {
    static const struct {
        unsigned bit;
        const char* text;
    } texts[] = {{NoteNoSingletons, "nicio specie intr-o singura unitate (Q1 = 0)"},
                 {NoteNoDoubletons, "nicio specie in exact doua unitati (Q2 = 0)"},
                 {NoteAllSingletons, "toate speciile apar intr-o singura unitate"},
                 {NoteOneSpecies, "o singura specie"},
                 {NoteOneUnit, "o singura unitate de prelevare: nimic de estimat peste ce s-a vazut"},
                 {NoteEmptySample, "nicio detectie"},
                 {NoteNoVariance, "varianta nepozitiva"},
                 {NoteNoRareSpecies, "nicio specie infrecventa (<= 10 unitati)"},
                 {NoteUndefined, "formula nedefinita"},
                 {NoteBeyondDouble, "extrapolare peste 2T, nesigura"},
                 {NoteNoUniquesPerUnit, "unitatile speciilor unice nu sunt cunoscute"}};
    std::string out;
    for (const auto& t : texts)
        if (notes & t.bit) out += (out.empty() ? "" : "; ") + std::string(t.text);
    return out;
}

unsigned sampleNotes(const Incidence& f) {
    if (f.s == 0) return NoteEmptySample;
    unsigned n = NoteNone;
    if (f.q(1) == 0) n |= NoteNoSingletons;
    if (f.q(2) == 0) n |= NoteNoDoubletons;
    if (f.q(1) == f.s) n |= NoteAllSingletons;
    if (f.s == 1) n |= NoteOneSpecies;
    if (f.t == 1) n |= NoteOneUnit;
    return n;
}

double undetected(const Incidence& f) {
    const double q1 = double(f.q(1)), q2 = double(f.q(2)), a = shrink(f);
    return q2 > 0 ? a * q1 * q1 / (2 * q2) : a * q1 * (q1 - 1) / 2;
}

double undetectedWeight(const Incidence& f) {
    const double q1 = double(f.q(1));
    if (q1 <= 0) return 1;
    const double tq0 = double(f.t) * undetected(f);
    return tq0 / (tq0 + q1);
}

Value chao2Classic(const Incidence& f) {
    Value v;
    if (nothingToEstimate(f, v)) return v;
    const double q1 = double(f.q(1)), q2 = double(f.q(2)), a = shrink(f);
    const double est = double(f.s) + undetected(f);
    double var;
    if (q2 > 0) {
        const double r = q1 / q2;
        var = q2 * (a * r * r / 2 + a * a * r * r * r + a * a * r * r * r * r / 4);
    } else {
        var = a * q1 * (q1 - 1) / 2 + a * a * q1 * sq(2 * q1 - 1) / 4 - a * a * sq(q1 * q1) / 4 / est;
    }
    v.value = est;
    v.se = std::sqrt(std::max(var, 0.0));
    richnessInterval(f, est, var, v);
    v.notes |= sampleNotes(f) & (NoteNoSingletons | NoteNoDoubletons | NoteAllSingletons | NoteOneSpecies);
    return v;
}

Value chao2BiasCorrected(const Incidence& f) {
    Value v;
    if (nothingToEstimate(f, v)) return v;
    const double q1 = double(f.q(1)), q2 = double(f.q(2)), a = shrink(f);
    const double added = a * q1 * (q1 - 1) / (2 * (q2 + 1));
    // The delta-method variance of this form, Q2 = 0 included (as SpadeR has it).
    const double var = added + a * a * q1 * sq(2 * q1 - 1) / (4 * sq(q2 + 1)) +
                       a * a * q1 * q1 * q2 * sq(q1 - 1) / (4 * sq(sq(q2 + 1)));
    v.value = double(f.s) + added;
    v.se = std::sqrt(var);
    richnessInterval(f, v.value, var, v);
    v.notes |= sampleNotes(f) & (NoteNoSingletons | NoteAllSingletons | NoteOneSpecies);
    return v;
}

Value ice(const Incidence& f, std::int64_t k) {
    Value v;
    if (nothingToEstimate(f, v)) return v;
    k = std::max<std::int64_t>(k, 2);
    std::vector<double> q(std::size_t(k) + 1, 0.0);
    double frequent = 0;
    for (const auto& c : f.classes) {
        if (c.units <= k)
            q[std::size_t(c.units)] = double(c.species);
        else
            frequent += double(c.species);
    }
    const double t = double(f.t);
    if (frequent == double(f.s)) { // every species in more than k units: nothing unseen to infer
        v.value = double(f.s);
        v.se = 0;
        richnessInterval(f, v.value, 0, v);
        v.notes |= NoteNoRareSpecies;
        return v;
    }
    const double est = iceOf(q, t, frequent);
    // The delta method on every Q_Y present, with their multinomial covariances (as SpadeR does): an
    // infrequent class by its derivative, a frequent one counting 1. The sum over i, j of g_i g_j cov(Q_i,
    // Q_j), cov = Q_i (1 - Q_i/S) on the diagonal and -Q_i Q_j/S off it, is sum g^2 Q - (sum g Q)^2 / S;
    // taken as sum Q (g - mean)^2 + mean^2 S_obs (S - S_obs)/S, it keeps no rounding when every g is near 1.
    std::vector<double> gradient;
    double mean = 0;
    for (const auto& c : f.classes) {
        const double qi = double(c.species);
        double g = 1;
        if (c.units <= k) {
            const std::size_t i = std::size_t(c.units);
            const double h = 1e-5 * std::max(1.0, q[i]);
            std::vector<double> up = q, down = q;
            up[i] += h;
            down[i] -= h;
            g = (iceOf(up, t, frequent) - iceOf(down, t, frequent)) / (2 * h);
        }
        gradient.push_back(g);
        mean += g * qi;
    }
    mean /= double(f.s);
    double var = mean * mean * double(f.s) * (est - double(f.s)) / est;
    for (std::size_t i = 0; i < gradient.size(); ++i)
        var += double(f.classes[i].species) * sq(gradient[i] - mean);
    v.value = est;
    v.se = std::sqrt(std::max(var, 0.0));
    if (!(var > 0)) v.notes |= NoteNoVariance;
    richnessInterval(f, est, var, v);
    v.notes |= sampleNotes(f) & (NoteNoSingletons | NoteAllSingletons | NoteOneSpecies);
    return v;
}

Value incidenceJackknife1(const Incidence& f) {
    Value v;
    if (nothingToEstimate(f, v)) return v;
    const double q1 = double(f.q(1)), t = double(f.t);
    v.value = double(f.s) + q1 * shrink(f);
    if (f.uniquesPerUnit.size() != std::size_t(f.t)) {
        v.notes |= NoteNoUniquesPerUnit;
        return v;
    }
    // The jackknife's variance (T-1)/T sum_j (S_(-j) - mean)^2: leaving unit j out loses its r_j uniques,
    // so it is (T-1)/T (sum r_j^2 - Q1^2/T) (Heltshe and Forrester 1983).
    double sum2 = 0;
    for (auto r : f.uniquesPerUnit)
        sum2 += sq(double(r));
    const double var = std::max(0.0, shrink(f) * (sum2 - q1 * q1 / t));
    v.se = std::sqrt(var);
    v.hasInterval = true;
    v.lower = std::max(double(f.s), v.value - kZ * v.se);
    v.upper = v.value + kZ * v.se;
    return v;
}

double incidenceJackknife2(const Incidence& f) {
    if (f.t < 2) return double(f.s);
    const double t = double(f.t);
    return double(f.s) + double(f.q(1)) * (2 * t - 3) / t - double(f.q(2)) * sq(t - 2) / (t * (t - 1));
}

double incidenceCoverage(const Incidence& f) {
    if (f.u == 0) return 0;
    return 1 - double(f.q(1)) / double(f.u) * undetectedWeight(f);
}

double hillObserved(const Incidence& f, int q) {
    if (f.u == 0) return 0;
    if (q == 0) return double(f.s);
    const double u = double(f.u);
    double sum = 0;
    for (const auto& c : f.classes) {
        const double p = double(c.units) / u;
        sum += double(c.species) * (q == 1 ? -p * std::log(p) : p * p);
    }
    return q == 1 ? std::exp(sum) : 1 / sum;
}

double incidenceShannonEntropy(const Incidence& f) {
    if (f.u == 0) return 0;
    const std::int64_t t = f.t;
    const double q1 = double(f.q(1)), q2 = double(f.q(2));
    // sum over Y < T of Q_Y Y/T (H_{T-1} - H_{Y-1}): the harmonic tail walked down once from T-1.
    double h = 0, tail = 0;
    std::int64_t k = t - 1;
    for (auto c = f.classes.rbegin(); c != f.classes.rend(); ++c) {
        if (c->units >= t) continue;
        for (; k >= c->units; --k)
            tail += 1.0 / double(k);
        h += double(c->species) * double(c->units) / double(t) * tail;
    }
    const double a = q2 > 0   ? 2 * q2 / (double(t - 1) * q1 + 2 * q2)
                     : q1 > 0 ? 2 / (double(t - 1) * (q1 - 1) + 2)
                              : 1;
    if (q1 > 0 && a < 1) {
        // (1-A)^(1-T) (-ln A - sum_{r<T} (1-A)^r / r) = sum_{j>=1} (1-A)^j / (T-1+j): the series when it
        // converges fast, the difference when (1-A)^T is not small.
        const double x = 1 - a;
        double rest = 0;
        if (std::pow(x, double(t)) > 1e-6) {
            double s = 0, p = 1;
            for (std::int64_t r = 1; r < t; ++r) {
                p *= x;
                s += p / double(r);
            }
            rest = std::pow(x, double(1 - t)) * (-std::log(a) - s);
        } else {
            double p = 1;
            for (std::int64_t j = 1;; ++j) {
                p *= x;
                const double term = p / double(t - 1 + j);
                rest += term;
                if (term < 1e-17 * rest) break;
            }
        }
        h += q1 / double(t) * rest;
    }
    // The entropy of the relative incidences: the estimate of -sum pi ln pi rescaled by U/T.
    return double(t) / double(f.u) * h + std::log(double(f.u) / double(t));
}

Value hillAsymptotic(const Incidence& f, int q) {
    if (q == 0) return chao2Classic(f);
    Value v;
    if (f.u == 0) return {0, -1, 0, 0, false, NoteEmptySample};
    if (q == 1) {
        v.value = std::exp(incidenceShannonEntropy(f));
        v.notes |= sampleNotes(f) & NoteOneUnit;
        return v;
    }
    double pairs = 0;
    for (const auto& c : f.classes)
        pairs += double(c.species) * double(c.units) * double(c.units - 1);
    if (pairs <= 0) {
        v.value = kInf;
        v.notes |= NoteAllSingletons | NoteUndefined | (sampleNotes(f) & NoteOneUnit);
        return v;
    }
    v.value = (1 - 1 / double(f.t)) * sq(double(f.u)) / pairs;
    return v;
}

} // namespace ordana::estimators
