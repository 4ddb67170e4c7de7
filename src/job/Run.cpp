#include "Run.h"

#include "Parallel.h"
#include "SheetReader.h"
#include "Sheets.h"
#include "Survey.h"
#include "Workbook.h"
#include "analysis/Incidence.h"
#include "analysis/ResultsWriter.h"
#include "analysis/SurveyWriter.h"
#include "common/Identity.h"
#include "common/Text.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

namespace ordana::job {

using spreadsheet::SpreadsheetHandles;

namespace {

std::string mergedText(const Community& c) {
    if (c.merged.empty()) return "niciunul";
    std::string s;
    for (const auto& m : c.merged) {
        s += (s.empty() ? "" : "; ") + text::quotedExcerpt(m.name) + " (randurile ";
        for (std::size_t i = 0; i < m.rows.size(); ++i)
            s += (i ? ", " : "") + std::to_string(m.rows[i]);
        s += ")";
    }
    return s;
}

class WorkbookRun {
  public:
    WorkbookRun(const spreadsheet::ApplicationFactory& start, const std::string& path, const Choices& choices,
                Listener& listener)
        : start_(start), path_(path), choices_(choices), listener_(listener) {}

    WorkbookEnd run() {
        const auto failure = attempt([&] { end_ = body(); });
        if (failure) {
            abandon(handles_);
            fail({"", RuntimeError(failure->number(), failure->description() + kUnchanged)});
            return WorkbookEnd::Failed;
        }
        return end_;
    }

  private:
    enum class Outcome { Written, Computed, Failed };

    WorkbookEnd body() {
        if (choices_.save)
            openForWriting(start_, path_, handles_);
        else
            openForReading(start_, path_, handles_);
        spreadsheet::Workbook& book = *handles_.workbook;
        // A survey is taken only for the estimates or the incidence: the indices are a single sample's.
        const bool takesSurveys = choices_.estimates || choices_.incidence;
        std::vector<std::string> chosen, surveysLeft;
        // Sheets named are the only ones tested; the others are not read at all.
        listSheets(
            book,
            [&](const std::string& name, SheetKind kind) {
                if (kind == SheetKind::Survey && !takesSurveys)
                    surveysLeft.push_back(name);
                else
                    chosen.push_back(name);
                if (kind == SheetKind::Survey) surveys_.insert(name);
            },
            choices_.sheets);
        if (choices_.sheets.empty() && chosen.empty()) {
            abandon(handles_);
            fail({"", surveysLeft.empty() ? noDataSheet() : surveysOnly(surveysLeft), true});
            return WorkbookEnd::NoDataSheet;
        }
        if (!choices_.sheets.empty()) {
            std::vector<std::string> named;
            for (const auto& name : choices_.sheets) {
                if (std::find(chosen.begin(), chosen.end(), name) == chosen.end()) {
                    const bool survey = surveys_.count(name) > 0;
                    const bool exists = survey || hasWorksheet(book, name);
                    abandon(handles_);
                    fail({name,
                          RuntimeError(exists ? err::Application : err::SubscriptOutOfRange,
                                       std::string(survey   ? kSurveyNeedsEstimates
                                                   : exists ? "nu este o foaie de date a fisierului"
                                                            : "nu exista in fisier") +
                                           kUnchanged),
                          true});
                    return WorkbookEnd::Failed;
                }
                // A sheet named twice is done once: a second table would land three columns further on.
                if (std::find(named.begin(), named.end(), name) == named.end()) named.push_back(name);
            }
            chosen = std::move(named);
        }
        if (choices_.estimates) readCommunities(chosen);
        bool allDone = true, wrote = false;
        for (const auto& name : chosen) {
            const Outcome outcome = surveys_.count(name) ? processSurvey(name) : processSheet(name);
            if (!handles_.workbook) return WorkbookEnd::Failed; // a table could not be written
            allDone = allDone && outcome != Outcome::Failed;
            wrote = wrote || outcome == Outcome::Written;
        }
        finish(handles_, wrote);
        return allDone ? WorkbookEnd::Done : WorkbookEnd::Failed;
    }

    // Every chosen sheet's species, read before anything is written, so that the sheets of a workbook are
    // rarefied and extrapolated to one common size and one common coverage.
    void readCommunities(const std::vector<std::string>& chosen) {
        std::vector<estimators::Frequencies> read;
        for (const auto& name : chosen) {
            if (surveys_.count(name)) continue;
            auto& slot = communities_[name];
            slot.failure =
                attempt([&] { slot.community = readCommunity(*handles_.workbook->worksheet(name)); });
            if (!slot.failure) read.push_back(slot.community.frequencies());
        }
        settings_ = levelsOf(read);
    }

    // The common size (twice the smallest sample, at least the largest one), the common coverage (the lowest
    // at twice each sample's size) and the smallest sample to rarefy to, over the samples compared.
    estimators::Settings levelsOf(const std::vector<estimators::Frequencies>& samples) const {
        double minDouble = 0, maxN = 0, minCoverage = 0, minN = 0;
        bool any = false;
        for (const auto& f : samples) {
            if (f.n <= 0) continue;
            const estimators::Tables t(f.n);
            const double c = estimators::coverageAt(f, t, 2.0 * double(f.n));
            minDouble = any ? std::min(minDouble, 2.0 * double(f.n)) : 2.0 * double(f.n);
            maxN = std::max(maxN, double(f.n));
            minN = any ? std::min(minN, double(f.n)) : double(f.n);
            minCoverage = any ? std::min(minCoverage, c) : c;
            any = true;
        }
        estimators::Settings settings;
        settings.seed = choices_.seed;
        settings.replicates = choices_.replicates;
        settings.sizeLevel = any ? std::max(minDouble, maxN) : 0;
        settings.coverageLevel = any ? minCoverage : 0;
        settings.rarefyTo = std::int64_t(minN);
        return settings;
    }

    // The indices and the estimates of a sheet stand apart: either failing leaves the other to be written.
    // A failure while writing abandons the whole workbook, since a half-written table must never be saved.
    Outcome processSheet(const std::string& name) {
        SheetResult r;
        r.name = name;
        auto sheet = handles_.workbook->worksheet(name);
        std::optional<RuntimeError> readFailure;
        if (auto failure = attempt([&] {
                r.sample.reset();
                readSample(*sheet, r.sample);
                r.indices = ComputeDiversityIndices(r.sample);
            })) {
            fail({name, *failure});
            readFailure = failure;
        }
        bool failedAny = bool(readFailure);
        if (choices_.estimates) {
            auto& slot = communities_[name];
            if (slot.failure) {
                // The same sheet read twice: a cause already said for the indices is not said again.
                if (!readFailure || readFailure->description() != slot.failure->description())
                    fail({name, *slot.failure});
                failedAny = true;
            } else if (auto failure = attempt([&] { estimate(r, slot.community); })) {
                fail({name, *failure});
                failedAny = true;
            }
            communities_.erase(name);
        }
        if (!r.indices && !r.estimated) return Outcome::Failed;
        listener_.computed(path_, r);
        if (!choices_.save) return failedAny ? Outcome::Failed : Outcome::Computed;
        if (auto failure = attempt([&] {
                if (r.indices) writeResultsTable(*sheet, *r.indices);
                if (r.estimated && choices_.estimatesTable)
                    writeEstimatesTable(*sheet, r.analysis, r.provenance);
                sheet->activate();
            })) {
            sheet.reset();
            abandon(handles_);
            fail({name, RuntimeError(failure->number(), failure->description() + kUnchanged)});
            return Outcome::Failed;
        }
        return failedAny ? Outcome::Failed : Outcome::Written;
    }

    // Each sample of a survey estimated as a data sheet is, the samples brought to one common size and
    // coverage among themselves; and the columns together as sampling units.
    Outcome processSurvey(const std::string& name) {
        auto sheet = handles_.workbook->worksheet(name);
        SurveyResult r;
        r.name = name;
        if (auto failure = attempt([&] {
                const Survey survey = readSurvey(*sheet);
                r.merged = survey.merged;
                r.units = std::int64_t(survey.samples.size());
                Community all;
                all.zeroRows = survey.zeroRows;
                all.merged = survey.merged;
                all.lastRow = survey.lastRow;
                for (const auto& c : survey.columns)
                    all.individuals += c.individuals;
                estimators::Frequencies total;
                total.s = std::int64_t(survey.species);
                total.n = all.individuals;
                r.provenance = provenanceOf(all, total, choices_);
                r.provenance.range = survey.range();
                if (choices_.estimates) estimateSamples(survey, r);
                if (choices_.incidence) {
                    estimators::Settings settings;
                    settings.seed = choices_.seed;
                    settings.replicates = choices_.replicates;
                    settings.stream = estimators::streamOf(name);
                    r.incidenceAnalysis = estimators::analyse(
                        estimators::Incidence::fromMatrix(survey.counts, survey.samples.size()), settings);
                    r.incidence = true;
                }
            })) {
            fail({name, *failure});
            return Outcome::Failed;
        }
        listener_.surveyComputed(path_, r);
        if (!choices_.save) return Outcome::Computed;
        if (auto failure = attempt([&] {
                if (choices_.estimatesTable && !r.samples.empty())
                    writeSurveyTable(*sheet, surveyRows(r), r.provenance);
                if (r.incidence) writeEstimatesTable(*sheet, r.incidenceAnalysis, r.provenance);
                sheet->activate();
            })) {
            sheet.reset();
            abandon(handles_);
            fail({name, RuntimeError(failure->number(), failure->description() + kUnchanged)});
            return Outcome::Failed;
        }
        return Outcome::Written;
    }

    void estimateSamples(const Survey& survey, SurveyResult& r) {
        const std::size_t count = survey.columns.size();
        std::vector<estimators::Frequencies> frequencies;
        for (const auto& c : survey.columns)
            frequencies.push_back(c.frequencies());
        const estimators::Settings levels = levelsOf(frequencies);
        r.samples.resize(count);
        forEachIndex(count, [&](std::size_t k) {
            const Community& c = survey.columns[k];
            estimators::Settings settings = levels;
            settings.stream = estimators::streamOf(c.label);
            SurveyResult::Sample& sample = r.samples[k];
            sample.name = survey.samples[k];
            sample.community = c;
            sample.analysis = estimators::analyse(frequencies[k], settings);
            sample.provenance = provenanceOf(c, frequencies[k], choices_);
            const std::string column = text::columnName(int(k) + 2);
            sample.provenance.range = column + "2:" + column + std::to_string(survey.lastRow);
        });
    }

    static std::vector<SurveyRow> surveyRows(const SurveyResult& r) {
        std::vector<SurveyRow> rows;
        for (const auto& s : r.samples)
            rows.push_back({s.name, s.community.individuals, &s.analysis});
        return rows;
    }

    void estimate(SheetResult& r, Community& community) {
        estimators::Settings settings = settings_;
        settings.stream = estimators::streamOf(r.name);
        const auto f = community.frequencies();
        r.analysis = estimators::analyse(f, settings);
        r.provenance = provenanceOf(community, f, choices_);
        r.community = std::move(community);
        r.estimated = true;
    }

    void fail(const Failure& failure) { listener_.failed(path_, failure); }

    const spreadsheet::ApplicationFactory& start_;
    const std::string& path_;
    const Choices& choices_;
    Listener& listener_;
    SpreadsheetHandles handles_;
    WorkbookEnd end_ = WorkbookEnd::Failed;
    struct Slot {
        Community community;
        std::optional<RuntimeError> failure;
    };
    std::map<std::string, Slot> communities_;
    std::set<std::string> surveys_;
    estimators::Settings settings_;
};

} // namespace

WorkbookEnd runWorkbook(const spreadsheet::ApplicationFactory& start, const std::string& path,
                        const Choices& choices, Listener& listener) {
    return WorkbookRun(start, path, choices, listener).run();
}

std::string provenanceDate() {
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        long long value = 0;
        const auto [end, ec] = std::from_chars(epoch, epoch + std::strlen(epoch), value);
        if (ec == std::errc() && *end == 0) now = std::time_t(value);
    }
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char b[32];
    std::strftime(b, sizeof b, "%Y-%m-%d %H:%M UTC", &utc);
    return b;
}

Provenance provenanceOf(const Community& community, const estimators::Frequencies& f,
                        const Choices& choices) {
    Provenance p;
    p.version = identity::version;
    p.date = choices.date;
    p.seed = choices.seed;
    p.replicates = choices.replicates;
    p.generator = estimators::kGeneratorName;
    p.range = community.range();
    p.species = f.s;
    p.individuals = f.n;
    p.zeroRows = community.zeroRows;
    p.merged = mergedText(community);
    return p;
}

void saveIndicesTable(const spreadsheet::ApplicationFactory& start, const std::string& path,
                      const std::string& sheetName, const DiversityResults& results,
                      SpreadsheetHandles& handles) {
    openForWriting(start, path, handles);
    handles.worksheet = handles.workbook->worksheet(sheetName);
    writeResultsTable(*handles.worksheet, results);
    handles.worksheet->activate();
    finish(handles, true);
}

} // namespace ordana::job
