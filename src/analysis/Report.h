#pragma once

// One self-contained HTML page for a run: a table per sheet, the rank-abundance plot, the rarefaction and
// extrapolation curves with their bands, the coverage curve and the comparisons between sheets. Pictures are
// inline SVG; the page loads nothing.

#include "Community.h"
#include "EstimatesWriter.h"
#include "Estimators.h"

#include <string>
#include <vector>

namespace ordana {

struct ReportSheet {
    std::string label; // workbook and sheet
    Community community;
    estimators::Analysis analysis;
    Provenance provenance;
};

std::string renderReport(const std::vector<ReportSheet>& sheets, const std::string& title);

} // namespace ordana
