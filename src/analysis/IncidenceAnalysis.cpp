// The incidence estimates as the table shows them, each named with its variant, and the bootstrap that gives
// the estimates without a closed-form variance, and the curves, their errors.

#include "Bootstrap.h"
#include "Incidence.h"
#include "IncidenceBootstrap.h"

#include <algorithm>
#include <cmath>

namespace ordana::estimators {

namespace {

constexpr double kZ = 1.959963984540054;

const std::string kBoot = "bootstrap Chao et al. 2014, incidenta";
const std::string kBootInterval = "valoarea +/- 1,96 ES bootstrap";
const std::string kLognormal = "log-normal (Chao 1987)";
const std::string kExponential =
    "de la S observat la S/(1-P) + 1,96 ES/(1-P), P din termenii exp(-Y) (Chao 1987)";

using detail::Running;

enum Stat {
    StJack2,
    StCoverage,
    StHillObs0,
    StHillObs1,
    StHillObs2,
    StHillAsy1,
    StHillAsy2,
    StCount,
};

// What the bootstrap asks of each replicate, and of the survey itself for the curve.
void statistics(const Incidence& f, double* v) {
    v[StJack2] = incidenceJackknife2(f);
    v[StCoverage] = incidenceCoverage(f);
    for (int q = 0; q < 3; ++q)
        v[StHillObs0 + q] = hillObserved(f, q);
    v[StHillAsy1] = hillAsymptotic(f, 1).value;
    v[StHillAsy2] = hillAsymptotic(f, 2).value;
}

Value plain(double x, unsigned notes = NoteNone) {
    Value v;
    v.value = x;
    v.notes = notes;
    return v;
}

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

// The interval a richness estimate got: log-normal around what it adds, or the exponential terms' when it
// adds nothing.
std::string intervalOf(const Incidence& f, const Value& v) {
    return v.value > double(f.s) ? kLognormal : kExponential;
}

void addCounts(Rows& rows, const Incidence& f, unsigned base) {
    rows.add("sObs", "S observat", "numarul de specii observate in cele T unitati", plain(double(f.s), base),
             "", "");
    rows.add("units", "Unitati de prelevare (T)", "coloanele matricei, fiecare o unitate de prelevare",
             plain(double(f.t), base), "", "");
    rows.add("incidences", "Incidente (U)", "U = suma Y_i, detectiile tuturor speciilor",
             plain(double(f.u), base), "", "");
    rows.add("q1", "Q1 (specii unice)", "specii gasite intr-o singura unitate", plain(double(f.q(1)), base),
             "", "");
    rows.add("q2", "Q2 (specii duplicate)", "specii gasite in exact doua unitati",
             plain(double(f.q(2)), base), "", "");
}

void addRichness(Rows& rows, const Incidence& f, unsigned base) {
    const bool noQ2 = f.q(2) == 0;
    const Value classic = chao2Classic(f);
    rows.add("chao2", "Chao2 clasic",
             noQ2 ? "Q2 = 0: forma corectata S + (T-1)/T Q1(Q1-1)/2 (Chao 1987)"
                  : "Chao2 clasic S + (T-1)/T Q1^2/(2 Q2) (Chao 1987)",
             classic, "analitic (Chao 1987)", intervalOf(f, classic));
    const Value corrected = chao2BiasCorrected(f);
    rows.add("chao2BiasCorrected", "Chao2 corectat", "Chao2 corectat S + (T-1)/T Q1(Q1-1)/(2(Q2+1))",
             corrected, "analitic (metoda delta)", intervalOf(f, corrected));
    const Value infrequent = ice(f, 10);
    rows.add("ice", "ICE (prag 10)",
             "ICE, specii infrecvente in <= 10 unitati (Lee si Chao 1994), acoperirea lor "
             "1 - Q1/U_inf (T-1)Q1/((T-1)Q1 + 2 Q2) (Chao si Chiu 2016)",
             infrequent, "metoda delta", intervalOf(f, infrequent));
    rows.add("jackknife1", "Jackknife 1",
             "jackknife de ordinul 1, incidenta: S + Q1 (T-1)/T (Burnham si Overton 1978)",
             incidenceJackknife1(f), "analitic: varianta jackknife pe unitati (Heltshe si Forrester 1983)",
             "valoarea +/- 1,96 ES, cel putin S observat");
    rows.addBooted(StJack2, "jackknife2", "Jackknife 2",
                   "jackknife de ordinul 2, incidenta: S + Q1 (2T-3)/T - Q2 (T-2)^2/(T(T-1))",
                   plain(incidenceJackknife2(f), base));
    rows.addBooted(StCoverage, "coverage", "Acoperire (incidenta)",
                   noQ2 && f.q(1) > 0 ? "Q2 = 0: 1 - Q1/U (T-1)(Q1-1)/((T-1)(Q1-1) + 2) (Chao et al. 2014)"
                                      : "1 - Q1/U (T-1)Q1/((T-1)Q1 + 2 Q2) (Chao et al. 2014)",
                   plain(incidenceCoverage(f), base));
}

void addHill(Rows& rows, const Incidence& f, unsigned base) {
    const char* what[3] = {"bogatia", "exp(Shannon) al incidentelor relative Y/U",
                           "1/Simpson al incidentelor relative Y/U"};
    for (int q = 0; q < 3; ++q)
        rows.addBooted(Stat(StHillObs0 + q), "hill" + std::to_string(q) + "Observed",
                       "Hill q=" + std::to_string(q) + " observat",
                       std::string("numar Hill observat: ") + what[q], plain(hillObserved(f, q), base),
                       q == 1 ? "e" : "");
    const Value classic = chao2Classic(f);
    rows.add("hill0Asymptotic", "Hill q=0 asimptotic", "Chao2 clasic (Chao et al. 2014)", classic,
             "analitic (Chao 1987)", intervalOf(f, classic));
    rows.addBooted(StHillAsy1, "hill1Asymptotic", "Hill q=1 asimptotic",
                   "exp(entropia Chao-Shannon pentru incidenta, Chao et al. 2014)", hillAsymptotic(f, 1),
                   "e");
    rows.addBooted(StHillAsy2, "hill2Asymptotic", "Hill q=2 asimptotic",
                   "(1 - 1/T) U^2 / suma Y(Y-1) (Chao et al. 2014)", hillAsymptotic(f, 2));
}

// Each bootstrapped estimate's error and an interval that holds it: richness (the second jackknife) never
// below what was seen when it is not itself below it; nothing under zero; coverage no higher than one.
void applyBootstrap(Analysis& a, const Rows& rows, const std::vector<Running>& stats,
                    const std::vector<Running>& curve, const Incidence& f, const Settings& settings) {
    for (const auto& [row, stat] : rows.booted) {
        Estimate& e = a.estimates[row];
        const double sd = stats[std::size_t(stat)].sd();
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
        const double seen = double(f.s);
        const double floor = stat == StJack2 && e.value >= seen ? seen : 0.0;
        e.lower = std::max(floor, e.value - kZ * sd);
        e.upper = e.value + kZ * sd;
        if (stat == StCoverage) e.upper = std::min(1.0, e.upper);
    }
    for (std::size_t i = 0; i < a.curve.size(); ++i)
        for (int k = 0; k < 4; ++k) {
            const double sd = std::max(0.0, curve[i * 4 + std::size_t(k)].sd());
            CurvePoint& c = a.curve[i];
            c.lower[k] = std::max(0.0, c.value[k] - kZ * sd);
            c.upper[k] = c.value[k] + kZ * sd;
            if (k == 3) c.upper[k] = std::min(1.0, c.upper[k]);
        }
}

} // namespace

Analysis analyse(const Incidence& f, const Settings& settings) {
    Analysis a;
    a.incidence = true;
    a.notes = sampleNotes(f);
    const unsigned base = a.notes & (NoteEmptySample | NoteOneSpecies | NoteAllSingletons | NoteOneUnit);
    Rows rows{a, {}};
    addCounts(rows, f, base);
    addRichness(rows, f, base);
    addHill(rows, f, base);

    const Tables tables(f.t);
    const std::vector<std::int64_t> sizes = curveSizes(f.t, settings.curvePoints);
    a.curve.resize(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        a.curve[i].m = double(sizes[i]);
        for (int q = 0; q < 3; ++q)
            a.curve[i].value[q] = hillAt(f, tables, q, double(sizes[i]));
        a.curve[i].value[3] = coverageAt(f, tables, double(sizes[i]));
    }

    std::vector<Running> stats(StCount), curve(sizes.size() * 4);
    if (f.s > 0 && settings.replicates > 1) {
        IncidenceResampler resampler(f);
        Random random(settings.seed, settings.stream);
        double v[StCount];
        for (int r = 0; r < settings.replicates; ++r) {
            const Incidence b = resampler.draw(random);
            statistics(b, v);
            for (int k = 0; k < StCount; ++k)
                stats[std::size_t(k)].add(v[k]);
            for (std::size_t i = 0; i < sizes.size(); ++i) {
                for (int q = 0; q < 3; ++q)
                    curve[i * 4 + std::size_t(q)].add(hillAt(b, tables, q, double(sizes[i])));
                curve[i * 4 + 3].add(coverageAt(b, tables, double(sizes[i])));
            }
        }
    }
    applyBootstrap(a, rows, stats, curve, f, settings);
    return a;
}

} // namespace ordana::estimators
