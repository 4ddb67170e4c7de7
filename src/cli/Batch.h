#pragma once

// ordana-cli: the indices job over many workbooks, with the same window-free logic as the windowed command.

#include "analysis/Estimators.h"
#include "spreadsheet/Spreadsheet.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace ordana::cli {

struct Options {
    std::vector<std::string> workbooks;
    std::vector<std::string> sheets; // empty: every data sheet
    bool list = false;
    bool dryRun = false;
    bool json = false;
    bool csv = false;
    // The estimators: a second table per sheet (estimates), an HTML page for the run (report).
    bool estimates = false;
    std::string report;
    std::uint64_t seed = estimators::kDefaultSeed;
    int replicates = estimators::kDefaultReplicates;
    bool help = false;
    bool version = false;
};

// Exit statuses.
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailures = 1;
inline constexpr int ExitUsage = 2;

// Parses the arguments after the program name; throws std::invalid_argument with a message on a usage error.
Options parseArguments(const std::vector<std::string>& arguments);

std::string usageText();
std::string versionText();

// The date the provenance records: SOURCE_DATE_EPOCH when set (reproducible builds of a report), else now.
std::string provenanceDate();

// Runs the job; results go to out, failures and progress to err. Returns the exit status.
int runBatch(const Options& options, const spreadsheet::ApplicationFactory& start, std::ostream& out,
             std::ostream& err, bool showProgress);

} // namespace ordana::cli
