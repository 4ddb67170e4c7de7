#include "Batch.h"

#include "Output.h"
#include "analysis/Report.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "job/ReportFile.h"
#include "job/Run.h"
#include "job/Sheets.h"
#include "job/Workbook.h"

#include <ostream>

namespace ordana::cli {

namespace {

// How a workbook's run ended, for the summary of a run over many.
enum class End { Done, Failed, NoDataSheet };

// Between the job and the output: failures and warnings told on standard error in every form, and the sheets
// kept for the comparisons and the report.
class Run : public job::Listener {
  public:
    Run(Output& output, std::ostream& err) : output_(output), err_(err) {}

    void computed(const std::string& workbook, const job::SheetResult& r) override {
        for (const auto& m : r.community.merged) {
            std::string rows;
            for (auto row : m.rows)
                rows += (rows.empty() ? "" : ", ") + std::to_string(row);
            err_ << "ordana-cli: " << text::printable(workbook) << ": foaia " << text::quotedExcerpt(r.name)
                 << ": avertisment: " << text::quotedExcerpt(m.name) << " apare pe randurile " << rows
                 << "; estimatorii o numara o data, cu abundentele adunate\n";
        }
        output_.computed(workbook, r);
        if (r.estimated)
            sheets.push_back({labelWithWorkbook ? workbook + " / " + r.name : r.name, r.community, r.analysis,
                              r.provenance});
    }

    void failed(const std::string& workbook, const job::Failure& f) override {
        err_ << "ordana-cli: " << text::printable(workbook) << ": ";
        if (!f.sheet.empty()) err_ << "foaia " << text::quotedExcerpt(f.sheet) << (f.finding ? " " : ": ");
        if (!f.finding) err_ << "Eroarea: " << f.error.number() << ' ';
        err_ << f.error.description() << '\n';
        output_.failed(workbook, f);
    }

    std::vector<ReportSheet> sheets;
    bool labelWithWorkbook = false;

  private:
    Output& output_;
    std::ostream& err_;
};

End listWorkbook(const spreadsheet::ApplicationFactory& start, const std::string& path, Output& output,
                 Run& run) {
    spreadsheet::SpreadsheetHandles handles;
    bool any = false;
    const auto failure = job::attempt([&] {
        job::listDataSheets(start, path, handles, [&](const std::string& name) {
            output.listed(path, name);
            any = true;
        });
    });
    if (failure) {
        job::abandon(handles);
        run.failed(path, {"", RuntimeError(failure->number(), failure->description() + job::kUnchanged)});
        return End::Failed;
    }
    if (!any) {
        run.failed(path, {"", job::noDataSheet(), true});
        return End::NoDataSheet;
    }
    return End::Done;
}

std::unique_ptr<Output> outputFor(const Options& options, std::ostream& out) {
    if (options.json) return makeJsonOutput(out);
    if (options.csv) return makeCsvOutput(out);
    return makeTextOutput(out);
}

} // namespace

int runBatch(const Options& options, const spreadsheet::ApplicationFactory& start, std::ostream& out,
             std::ostream& err, bool showProgress) {
    if (options.help) {
        out << usageText();
        return ExitDone;
    }
    if (options.version) {
        out << versionText();
        return ExitDone;
    }
    // The report's path is checked before any workbook is read: it must never name one.
    if (!options.report.empty()) {
        if (const auto refused =
                job::attempt([&] { job::checkReportPath(options.report, options.workbooks); })) {
            err << "ordana-cli: --report: " << refused->description() << '\n';
            return ExitUsage;
        }
    }
    const auto output = outputFor(options, out);
    Run run(*output, err);
    const std::size_t total = options.workbooks.size();
    run.labelWithWorkbook = total > 1;
    job::Choices choices;
    choices.sheets = options.sheets;
    choices.save = !options.dryRun;
    choices.estimatesTable = options.estimates;
    choices.estimates = options.estimating();
    choices.seed = options.seed;
    choices.replicates = options.replicates;
    choices.date = job::provenanceDate();
    std::size_t ends[3] = {};
    output->begin();
    for (std::size_t k = 0; k < total; ++k) {
        const std::string& path = options.workbooks[k];
        if (showProgress && total > 1)
            err << "[" << k + 1 << "/" << total << "] " << text::printable(path) << '\n' << std::flush;
        End end;
        if (options.list) {
            end = listWorkbook(start, path, *output, run);
        } else {
            const auto e = job::runWorkbook(start, path, choices, run);
            end = e == job::WorkbookEnd::Done     ? End::Done
                  : e == job::WorkbookEnd::Failed ? End::Failed
                                                  : End::NoDataSheet;
        }
        ++ends[std::size_t(end)];
    }
    if (run.sheets.size() >= 2) output->comparisons(run.sheets);
    bool reportWritten = true;
    if (!options.report.empty() && run.sheets.empty()) {
        // Nothing to show: an older report stays as it was.
        err << "ordana-cli: --report: nicio foaie nu a fost estimata; raportul nu a fost scris\n";
        reportWritten = false;
    } else if (!options.report.empty()) {
        if (const auto failure = job::attempt(
                [&] { job::writeReport(options.report, renderReport(run.sheets, job::kReportTitle)); })) {
            err << "ordana-cli: --report: " << failure->description() << '\n';
            reportWritten = false;
        }
    }
    if (total > 1)
        err << "ordana-cli: " << total << " fisiere: " << ends[0] << " prelucrate, " << ends[1] << " esuate, "
            << ends[2] << " fara foi de date\n";
    return ends[0] == total && reportWritten ? ExitDone : ExitFailures;
}

} // namespace ordana::cli
