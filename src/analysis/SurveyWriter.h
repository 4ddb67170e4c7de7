#pragma once

// A survey's summary beside it: a row per sample (its richness, Chao1 with its interval, ACE, Hill numbers
// observed and asymptotic with their intervals, coverage, richness rarefied to the smallest sample and at the
// common coverage), then where the numbers came from. A run replaces the summary an earlier run wrote.

#include "EstimatesWriter.h"
#include "Estimators.h"
#include "spreadsheet/Spreadsheet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ordana {

struct SurveyRow {
    std::string sample;
    std::int64_t individuals = 0;
    const estimators::Analysis* analysis = nullptr;
};

// The headings of the summary's columns for these samples: the levels of the last two come from them.
std::vector<std::string> surveyHeadings(const std::vector<SurveyRow>& rows);

// Writes the table and formats it; returns its marker column.
std::int16_t writeSurveyTable(spreadsheet::Worksheet& worksheet, const std::vector<SurveyRow>& rows,
                              const Provenance& provenance);

} // namespace ordana
