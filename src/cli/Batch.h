#pragma once

// ordana-cli: the workbook job over many workbooks, the same job as the windows run.

#include "Options.h"
#include "spreadsheet/Spreadsheet.h"

#include <iosfwd>

namespace ordana::cli {

// Runs the job; results go to out, failures, warnings and progress to err. Returns the exit status.
int runBatch(const Options& options, const spreadsheet::ApplicationFactory& start, std::ostream& out,
             std::ostream& err, bool showProgress);

} // namespace ordana::cli
