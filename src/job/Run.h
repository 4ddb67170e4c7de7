#pragma once

// One workbook's job: open it, find its data sheets, read each, compute the indices and the estimates, write
// the tables beside the data and save once. The console runs it over each workbook it is given; the windows
// run it over the workbook they show when the estimates are asked for.

#include "analysis/Community.h"
#include "analysis/DiversityIndices.h"
#include "analysis/EstimatesWriter.h"
#include "analysis/Estimators.h"
#include "analysis/SpeciesSample.h"
#include "common/RuntimeError.h"
#include "spreadsheet/Spreadsheet.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ordana::job {

struct Choices {
    std::vector<std::string> sheets; // empty: every data sheet; a name that is none fails the workbook
    bool save = true;                // false: read and compute only, change nothing
    bool estimatesTable = false;     // the estimates' table beside the indices' one
    bool estimates = false;          // compute the estimates (for their table, a report, the output)
    std::uint64_t seed = estimators::kDefaultSeed;
    int replicates = estimators::kDefaultReplicates;
    std::string date; // as the provenance records it
};

// One sheet as the job read and computed it.
struct SheetResult {
    std::string name;
    SpeciesSample sample;
    std::optional<DiversityResults> indices; // none when the classic reading or computation failed
    bool estimated = false;
    Community community;
    estimators::Analysis analysis;
    Provenance provenance;
};

// A failure of a sheet's indices or estimates (the sheet named; what else the sheet has goes on), or of the
// whole workbook (no sheet), which is then left as it was.
struct Failure {
    std::string sheet;
    RuntimeError error;
    // A finding about what was asked (no data sheet, a name that is none), said in words alone.
    bool finding = false;
};

// What a front end hears of the job, as it happens.
class Listener {
  public:
    virtual ~Listener() = default;
    // A sheet read and computed, before its tables are written.
    virtual void computed(const std::string& workbook, const SheetResult& sheet) = 0;
    virtual void failed(const std::string& workbook, const Failure& failure) = 0;
};

enum class WorkbookEnd { Done, Failed, NoDataSheet };

// Never throws: every failure reaches the listener. Done only when every sheet chosen got all it was asked
// for; the workbook is saved once, with every table that could be written, unless writing one failed.
WorkbookEnd runWorkbook(const spreadsheet::ApplicationFactory& start, const std::string& path,
                        const Choices& choices, Listener& listener);

// The date the provenance records: SOURCE_DATE_EPOCH when set (reproducible builds of a report), else now.
std::string provenanceDate();

// The heading of the report a run writes.
inline constexpr char kReportTitle[] = "Ordana - estimatori si curbe";

// The sheet's provenance rows as the estimates table and the outputs show them.
Provenance provenanceOf(const Community& community, const estimators::Frequencies& f, const Choices& choices);

// The indices window's calculation: start, open for writing, pick, write the indices table, activate, save,
// quit. The handles are filled as it goes, so the caller's error path can abandon the workbook.
void saveIndicesTable(const spreadsheet::ApplicationFactory& start, const std::string& path,
                      const std::string& sheetName, const DiversityResults& results,
                      spreadsheet::SpreadsheetHandles& handles);

} // namespace ordana::job
