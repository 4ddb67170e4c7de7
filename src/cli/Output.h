#pragma once

// What ordana-cli prints of a run on standard output, in one of three forms: text for a person, one JSON
// object a line, or CSV rows. Failures and warnings go to standard error in every form (Batch.cpp); the
// JSON form also carries them among its lines, so a script sees them.

#include "Options.h"
#include "analysis/Comparisons.h"
#include "analysis/Report.h"
#include "job/Run.h"
#include "job/Sheets.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace ordana::cli {

class Output {
  public:
    explicit Output(std::ostream& out) : out_(out) {}
    virtual ~Output() = default;

    virtual void begin() {}
    // A sheet found by --list, with what it holds.
    virtual void listed(const std::string& workbook, const std::string& sheet, job::SheetKind kind) = 0;
    virtual void computed(const std::string& workbook, const job::SheetResult& sheet) = 0;
    virtual void surveyComputed(const std::string& workbook, const job::SurveyResult& survey) = 0;
    virtual void failed(const std::string&, const job::Failure&) {}
    // The comparisons between every sample estimated, once all are done: every pair up to kPairedSheets
    // samples; beyond, each one's nearest and its mean dissimilarities, and the tests counted.
    void comparisons(const std::vector<ReportSheet>& sheets);

  protected:
    virtual void beginComparisons(const std::vector<ReportSheet>& sheets, double whittakerBeta,
                                  bool everyPair) = 0;
    virtual void pair(const ReportSheet& a, const ReportSheet& b, const Dissimilarity& d,
                      const HutchesonTest& h) = 0;
    virtual void summary(const std::vector<ReportSheet>& sheets, const PairsSummary& s) = 0;
    virtual void endComparisons() {}

    std::ostream& out_;
};

// Up to this many samples every pair is printed (4,950 pairs); beyond, their summary: N samples would make
// N(N-1)/2 lines.
inline constexpr std::size_t kPairedSheets = 100;

std::unique_ptr<Output> makeTextOutput(std::ostream& out);
std::unique_ptr<Output> makeJsonOutput(std::ostream& out);
std::unique_ptr<Output> makeCsvOutput(std::ostream& out);

// Shortest text that reads back as the same double; "null" for what is not finite.
std::string exactNumber(double value);

// How --list names what a sheet holds.
const char* kindWord(job::SheetKind kind);

} // namespace ordana::cli
