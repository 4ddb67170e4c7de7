#include "EstimateRows.h"

#include "EstimatorMath.h"
#include "Hill.h"
#include "NumberText.h"
#include "Richness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ordana::estimators {

using namespace detail;

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

// Richness estimators, the jackknives, Fisher's alpha and coverage.
void addRichness(Rows& rows, const Frequencies& f, unsigned base) {
    rows.add("sObs", "S observat", "numarul de specii observate", plain(double(f.s), base), "", "");
    rows.add("chao1", "Chao1 clasic", "Chao1 clasic S + (n-1)/n f1^2/(2 f2) (Chao 1987)", chao1Classic(f),
             "analitic (Chao 1987)", kLognormal);
    rows.add("chao1BiasCorrected", "Chao1 corectat", "Chao1 corectat S + (n-1)/n f1(f1-1)/(2(f2+1))",
             chao1BiasCorrected(f), "analitic (Chao 2005)", kLognormal);
    rows.add("chao1BiasCorrectedNoFactor", "Chao1 corectat fara (n-1)/n",
             "S + f1(f1-1)/(2(f2+1)), forma din vegan", plain(f.n > 0 ? chao1BiasCorrectedPlain(f) : 0, base),
             "", "");
    rows.add("ace", "ACE (prag 10)", "ACE, specii rare <= 10 (Chao si Lee 1992)", ace(f, 10), "metoda delta",
             kLognormal);
    rows.addBooted(StJack1, "jackknife1", "Jackknife 1", "jackknife de ordinul 1, abundente: S + f1 (n-1)/n",
                   plain(jackknife1(f), base));
    Value jack2 = plain(jackknife2(f), base);
    if (f.n == 1) { // the second-order form divides by n - 1
        jack2.notes |= NoteUndefined;
        jack2.variant = "jackknife de ordinul 2 nedefinit pentru n = 1: jackknife de ordinul 1 in locul lui";
    }
    rows.addBooted(StJack2, "jackknife2", "Jackknife 2",
                   "jackknife de ordinul 2, abundente: S + f1 (2n-3)/n - f2 (n-2)^2/(n(n-1))", jack2);
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
    rows.add("hill0Asymptotic", "Hill q=0 asimptotic",
             "Chao1 clasic S + (n-1)/n f1^2/(2 f2) (Chao 1987; Chao et al. 2014)", hillAsymptotic(f, 0),
             "analitic (Chao 1987)", kLognormal);
    rows.addBooted(StHillAsy1, "hill1Asymptotic", "Hill q=1 asimptotic",
                   "exp(entropia Chao-Shannon, Chao, Wang si Jost 2013)", hillAsymptotic(f, 1), "e");
    rows.addBooted(StHillAsy2, "hill2Asymptotic", "Hill q=2 asimptotic",
                   "Simpson nedeplasat n(n-1)/sum X(X-1)", hillAsymptotic(f, 2));
}

// Hill numbers at the sample size and at the coverage asked for, and richness rarefied to the run's smallest
// sample.
void addAtLevels(Rows& rows, const Frequencies& f, const Tables& t, const Settings& settings, unsigned base,
                 double sizeM, double covM) {
    const std::string sizeText = decimalText(sizeM, 0);
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
    const std::string covText = decimalText(rows.a.coverageLevel, 3);
    for (int q = 0; q < 3; ++q)
        rows.addBooted(Stat(StCov0 + q), "hill" + std::to_string(q) + "AtCoverage",
                       std::string("Hill ") + kOrderName[q] + " la C = " + covText,
                       "la acoperirea C = " + covText + " (m = " + decimalText(covM, 0) +
                           ", Chao si Jost 2012)",
                       plain(hillAt(f, t, q, covM), base | beyondCoverage), q == 1 ? "e" : "");
}

} // namespace

std::size_t Rows::add(std::string key, std::string label, std::string variant, const Value& v,
                      std::string seMethod, std::string interval, std::string logBase) {
    Estimate e;
    // A fallback names itself in the value; otherwise the row's own formula and methods stand.
    e.key = std::move(key);
    e.label = std::move(label);
    e.variant = v.variant.empty() ? std::move(variant) : v.variant;
    e.logBase = std::move(logBase);
    e.value = v.value;
    e.se = v.se;
    e.seMethod = v.se < 0 ? std::string() : v.seMethod.empty() ? std::move(seMethod) : v.seMethod;
    e.lower = v.lower;
    e.upper = v.upper;
    e.hasInterval = v.hasInterval;
    e.interval = !v.hasInterval ? std::string() : v.interval.empty() ? std::move(interval) : v.interval;
    e.notes = v.notes;
    a.estimates.push_back(std::move(e));
    return a.estimates.size() - 1;
}

void Rows::addBooted(Stat stat, std::string key, std::string label, std::string variant, const Value& v,
                     std::string logBase) {
    booted.push_back(
        {add(std::move(key), std::move(label), std::move(variant), v, kBoot, kBootInterval, logBase), stat});
}

void addRows(Rows& rows, const Frequencies& f, const Tables& t, const Settings& settings, double sizeM,
             double covM) {
    const unsigned base =
        rows.a.notes & (NoteEmptySample | NoteUnderTwoIndividuals | NoteOneSpecies | NoteAllSingletons);
    addRichness(rows, f, base);
    addHill(rows, f, base);
    addAtLevels(rows, f, t, settings, base, sizeM, covM);
}

void setBootstrapped(Estimate& e, Stat stat, double sd, const Frequencies& f, int replicates) {
    if (sd < 0 || !std::isfinite(e.value)) {
        e.se = -1;
        e.seMethod.clear();
        e.interval.clear();
        e.hasInterval = false;
        return;
    }
    e.se = sd;
    e.seMethod = kBoot + ", " + std::to_string(replicates) + " replici";
    e.hasInterval = true;
    e.interval = kBootInterval;
    e.lower = e.value - kZ * sd;
    e.upper = e.value + kZ * sd;
    // Only richness is bounded below by what was seen: a community holds at least the species of its sample,
    // but its diversity of order 1 or 2 may well be below the sample's. A jackknife below S_obs keeps its
    // whole interval, so that the interval still holds it, and says why.
    if (stat == StJack1 || stat == StJack2) {
        const double seen = double(f.s);
        if (e.value >= seen)
            e.lower = std::max(e.lower, seen);
        else
            e.notes |= NoteBelowObserved;
    }
    // The rest cannot be negative, and a coverage cannot pass 1; neither bound cuts off the value itself.
    e.lower = std::max(e.lower, 0.0);
    if (stat == StCoverage || stat == StGood) e.upper = std::min(1.0, e.upper);
}

} // namespace ordana::estimators
