#pragma once

// The species of a data sheet with their names, for the estimators and the comparisons between sheets (read
// by the workbook job, job/SheetReader.h).

#include "Estimators.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ordana {

struct Community {
    struct Species {
        std::string name; // as first written
        std::string key;  // trimmed and case-folded: the same species in another row or sheet
        std::int64_t count = 0;
        std::int32_t row = 0; // where first written
    };
    // A name written on more than one row: one species, counted once with the rows' counts added.
    struct Merge {
        std::string name;
        std::vector<std::int32_t> rows;
    };
    std::string label;            // the sheet, as the comparisons name it
    std::vector<Species> species; // one per key, none of count 0
    std::int32_t lastRow = 1;     // the data are A2:B{lastRow}
    std::int64_t individuals = 0;
    std::int64_t zeroRows = 0; // rows of 0 individuals, left out
    std::vector<Merge> merged;

    std::string range() const;
    estimators::Frequencies frequencies() const;
};

// Hutcheson's (1970) t-test of the difference between two Shannon entropies (natural logarithms).
struct HutchesonTest {
    double h1 = 0, h2 = 0, variance1 = 0, variance2 = 0;
    double t = 0, df = 0, p = 1;
    bool defined = false; // false when both variances are zero
};
HutchesonTest hutcheson(const Community& a, const Community& b);

// Dissimilarities with species matched by key: presence-absence (Jaccard, Sorensen) and counts (Bray-Curtis,
// Morisita-Horn).
struct Dissimilarity {
    double jaccard = 0, sorensen = 0, brayCurtis = 0, morisitaHorn = 0;
    std::int64_t shared = 0;
};
Dissimilarity dissimilarity(const Community& a, const Community& b);

// Whittaker's beta: the species of all sheets together over the mean richness of a sheet, less 1.
double whittakerBeta(const std::vector<Community>& communities);

// The two-sided p of Student's t with df degrees of freedom.
double studentTwoSidedP(double t, double df);

} // namespace ordana
