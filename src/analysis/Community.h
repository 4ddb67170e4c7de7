#pragma once

// The species of a data sheet with their names, for the estimators and the comparisons between sheets. The
// indices' sample keeps reading the counts alone; this reading follows the same rows.

#include "Estimators.h"
#include "spreadsheet/Spreadsheet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ordana {

struct Community {
    struct Species {
        std::string name; // as written
        std::string key;  // trimmed and case-folded: the same species in another sheet
        std::int64_t count = 0;
    };
    std::string label; // the sheet, as the comparisons name it
    std::vector<Species> species;
    std::int16_t lastRow = 1; // the data are A2:B{lastRow}
    std::int64_t individuals = 0;

    std::string range() const;
    estimators::Frequencies frequencies() const;
};

// Rows 2.. until column A or B is blank. A count must be a whole number, not negative; otherwise a
// RuntimeError (13) names the cell.
Community readCommunity(spreadsheet::Worksheet& sheet);

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
