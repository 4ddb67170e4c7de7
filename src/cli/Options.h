#pragma once

// ordana-cli's command line: what a run is asked to do.

#include "analysis/Estimators.h"

#include <cstdint>
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

    bool estimating() const { return estimates || !report.empty(); }
};

// Exit statuses.
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailures = 1;
inline constexpr int ExitUsage = 2;

// Parses the arguments after the program name; throws std::invalid_argument with a message on a usage error.
Options parseArguments(const std::vector<std::string>& arguments);

std::string usageText();
std::string versionText();

} // namespace ordana::cli
