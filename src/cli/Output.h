#pragma once

// What ordana-cli prints of a run on standard output, in one of three forms: text for a person, one JSON
// object a line, or CSV rows. Failures and warnings go to standard error in every form (Batch.cpp); the
// JSON form also carries them among its lines, so a script sees them.

#include "Options.h"
#include "analysis/Report.h"
#include "job/Run.h"

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
    // A data sheet found by --list.
    virtual void listed(const std::string& workbook, const std::string& sheet) = 0;
    virtual void computed(const std::string& workbook, const job::SheetResult& sheet) = 0;
    virtual void failed(const std::string&, const job::Failure&) {}
    // The comparisons between every sheet estimated, once all are done.
    virtual void comparisons(const std::vector<ReportSheet>& sheets) = 0;

  protected:
    std::ostream& out_;
};

std::unique_ptr<Output> makeTextOutput(std::ostream& out);
std::unique_ptr<Output> makeJsonOutput(std::ostream& out);
std::unique_ptr<Output> makeCsvOutput(std::ostream& out);

// Shortest text that reads back as the same double; "null" for what is not finite.
std::string exactNumber(double value);

} // namespace ordana::cli
