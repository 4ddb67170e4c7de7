#pragma once

// Incidence-based richness estimators, Hill numbers and their curves by number of sampling units: the columns
// of a survey matrix taken as sampling units of one assemblage, a species counted in a unit when its count
// there is above zero. The results share the abundance estimators' types, so the tables, the JSON and the
// report show both alike; a curve point's m is then a number of units.

#include "Estimators.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ordana::estimators {

// A survey as its incidence frequency counts: for each number of units Y a species was seen in, the number
// of species Q_Y seen in exactly that many.
struct Incidence {
    struct Class {
        std::int64_t units;   // Y
        std::int64_t species; // Q_Y
    };
    std::vector<Class> classes; // ascending Y, no zero
    std::int64_t t = 0;         // sampling units T
    std::int64_t u = 0;         // incidences U, the sum of Y over the species
    std::int64_t s = 0;         // species observed
    // The species seen in that unit alone, unit by unit: the first-order jackknife's variance needs them.
    // Empty when the survey is known only by its frequencies.
    std::vector<std::int64_t> uniquesPerUnit;

    // Cells row by row, a row per species and a column per unit. A species never detected is no part of the
    // survey. A negative or non-finite count is refused, naming its row and column (RuntimeError 13).
    static Incidence fromMatrix(std::span<const std::int64_t> cells, std::size_t units);
    static Incidence fromMatrix(std::span<const double> cells, std::size_t units);
    // From the number of units each species was seen in (zeros dropped): no uniques per unit.
    static Incidence fromDetections(const std::vector<std::int64_t>& detections, std::int64_t units);

    std::int64_t q(std::int64_t units) const; // Q_units
};

// The shapes only incidence data have; the other notes of Estimators.h keep their meaning, with Q in place of
// f and units in place of individuals. High bits, clear of those the abundance notes may take.
enum IncidenceNote : unsigned {
    NoteOneUnit = 1u << 20,          // T = 1: nothing can be extrapolated from one unit
    NoteNoUniquesPerUnit = 1u << 21, // known by its frequencies: the jackknife's variance needs the units
};
// The texts and JSON codes of every note in incidence words (Q1 = 0 is "no uniques", not "no singletons").
std::vector<std::string> incidenceNoteCodes(unsigned notes);
std::string incidenceNoteText(unsigned notes);
unsigned sampleNotes(const Incidence& f);

// Q0-hat, the species no unit detected: (T-1)/T Q1^2/(2 Q2), or (T-1)/T Q1(Q1-1)/2 when Q2 = 0.
double undetected(const Incidence& f);
// The weight of the undetected in the coverage and the extrapolation: T Q0 / (T Q0 + Q1), 1 without Q1.
double undetectedWeight(const Incidence& f);

Value chao2Classic(const Incidence& f);       // with (T-1)/T; the bias-corrected form when Q2 = 0
Value chao2BiasCorrected(const Incidence& f); // with (T-1)/T, Q1(Q1-1)/(2(Q2+1))
Value ice(const Incidence& f, std::int64_t infrequentThreshold = 10);
Value incidenceJackknife1(const Incidence& f); // with the jackknife's own variance over the units
double incidenceJackknife2(const Incidence& f);
double incidenceCoverage(const Incidence& f);
double hillObserved(const Incidence& f, int q);     // of the relative incidences Y/U
Value hillAsymptotic(const Incidence& f, int q);    // q = 0 is Chao2 classic
double incidenceShannonEntropy(const Incidence& f); // the asymptotic entropy, natural log

// The curves by number of units t: rarefied below T, observed at T, extrapolated above (Chao et al. 2014,
// incidence form). tables must be made for f.t.
double hillAt(const Incidence& f, const Tables& tables, int q, double units);
double coverageAt(const Incidence& f, const Tables& tables, double units);

// The bootstrap assemblage of Chao et al. (2014) for incidence data: the detection probability of each
// detected species (one per class of Y), and Q0-hat undetected species sharing what the detected ones leave.
struct DetectionModel {
    std::vector<double> probability; // per class of f, in its order
    std::int64_t undetected = 0;     // ceil(Q0-hat)
    double undetectedProbability = 0;
};
DetectionModel detectionModel(const Incidence& f);

// Every estimate with its error and interval, and the curves at settings.curvePoints numbers of units up to
// 2T; the bootstrap (settings.seed, .replicates, .stream) draws each species' detections over the T units and
// keeps running sums only, so memory follows the matrix, not the replicates. The common size and coverage
// levels of the settings are the abundance side's and are not used.
Analysis analyse(const Incidence& f, const Settings& settings);

} // namespace ordana::estimators
