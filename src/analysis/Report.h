#pragma once

// One self-contained HTML page for a run: a table per sheet, the rank-abundance plot, the rarefaction and
// extrapolation curves with their bands, the coverage curve, the comparisons between sheets and the sheets
// that failed. Pictures are inline SVG; the page loads nothing.

#include "Community.h"
#include "EstimatesWriter.h"
#include "Estimators.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ordana {

struct ReportSheet {
    std::string label; // workbook and sheet
    Community community;
    estimators::Analysis analysis;
    Provenance provenance;
    // A survey's columns taken together (analysis.incidence): its sampling units, where its curves stand.
    std::int64_t units = 0;
};

// A sheet the run could not estimate, listed with its message so that the page does not pass over it.
struct ReportFailure {
    std::string workbook, sheet, message;
};

// Up to this many sheets share each plot, one colour each; beyond, each sheet has its own small plots on
// common scales, since more lines in one plot cannot be told apart.
inline constexpr std::size_t kReportOverlaidSheets = 10;
// Up to this many sheets every pair is shown (a matrix of 12 columns still fits the page); beyond, each sheet
// with its nearest sheet and its mean distance to the others, and the t-tests counted.
inline constexpr std::size_t kReportPairedSheets = 12;

std::string renderReport(const std::vector<ReportSheet>& sheets, const std::string& title,
                         const std::vector<ReportFailure>& failures = {});

} // namespace ordana
