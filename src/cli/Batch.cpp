#include "Batch.h"

#include "analysis/ResultsWriter.h"
#include "analysis/SpeciesSample.h"
#include "common/Identity.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "intake/DataSheet.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ostream>
#include <stdexcept>

namespace ordana::cli {

using spreadsheet::SpreadsheetHandles;

Options parseArguments(const std::vector<std::string>& arguments) {
    Options o;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            o.workbooks.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "--sheet") {
            if (i + 1 >= arguments.size()) throw std::invalid_argument("--sheet cere numele unei foi");
            o.sheets.push_back(arguments[++i]);
        } else if (a.rfind("--sheet=", 0) == 0) {
            o.sheets.push_back(a.substr(8));
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else {
            throw std::invalid_argument("optiune necunoscuta: " + a);
        }
    }
    if (!o.help && !o.version && o.workbooks.empty())
        throw std::invalid_argument("lipseste fisierul cu datele");
    return o;
}

std::string usageText() {
    return "Utilizare: ordana-cli [OPTIUNI] FISIER...\n"
           "Calculeaza indicii de biodiversitate pentru foile de date ale fiecarui fisier si scrie tabelul\n"
           "de rezultate langa date, salvand fisierul pe loc.\n"
           "\n"
           "  --sheet NUME   doar foaia NUME (se poate repeta); alta foaie decat una de date este o eroare\n"
           "  --list         afiseaza foile de date ale fiecarui fisier, fara a schimba nimic\n"
           "  --dry-run      citeste si calculeaza, afiseaza, nu scrie nimic\n"
           "  --json         un obiect JSON pe linie pentru fiecare foaie prelucrata\n"
           "  --help         acest text\n"
           "  --version      versiunea\n"
           "\n"
           "Cod de iesire: 0 totul prelucrat, 1 cel putin o foaie sau un fisier a esuat, 2 utilizare "
           "gresita.\n";
}

std::string versionText() {
    return std::string(identity::title) + " " + identity::version + "\n";
}

namespace {

// Shortest text that reads back as the same double.
std::string exactNumber(double value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : "null";
}

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            s += buffer;
        } else {
            s += char(c);
        }
    }
    return s + "\"";
}

const char* const kJsonFields[12] = {
    "speciesRichness", "simpsonD",     "simpsonOneMinusD", "simpsonInverse", "shannonH",  "shannonEvenness",
    "brillouin",       "bergerParker", "mcIntosh",         "margalef",       "menhinick", "gleason"};

void printResults(std::ostream& out, bool json, const std::string& workbook, const std::string& sheet,
                  const SpeciesSample& sample, const DiversityResults& results) {
    const auto values = resultValues(results);
    if (json) {
        out << "{\"workbook\":" << jsonString(workbook) << ",\"sheet\":" << jsonString(sheet)
            << ",\"speciesCount\":" << sample.speciesCount()
            << ",\"totalIndividuals\":" << sample.totalIndividuals();
        for (std::size_t k = 0; k < values.size(); ++k)
            out << ",\"" << kJsonFields[k] << "\":" << exactNumber(values[k]);
        out << "}\n";
        return;
    }
    out << workbook << " - foaia \"" << sheet << "\"\n";
    char line[96];
    std::snprintf(line, sizeof line, "  %-24s %14s\n", "Indici", "Valoare");
    out << line;
    for (std::size_t k = 0; k < values.size(); ++k) {
        std::snprintf(line, sizeof line, "  %-24s %14.6f\n", kResultLabels[k], values[k]);
        out << line;
    }
    out << '\n';
}

std::string describe(const RuntimeError& e) {
    return "Eroarea: " + std::to_string(e.number()) + " " + e.description();
}

class WorkbookJob {
  public:
    WorkbookJob(const Options& options, const spreadsheet::ApplicationFactory& start, std::ostream& out,
                std::ostream& err, const std::string& path)
        : options_(options), start_(start), out_(out), err_(err), path_(path) {}

    // True when every sheet asked for was done.
    bool run() {
        try {
            handles_.application = start_();
            // One open serves the listing, the reading and the save; a run that will save holds the workbook
            // for writing from here, so a concurrent run on it waits and then adds its table to this one's.
            const bool willSave = !options_.list && !options_.dryRun;
            handles_.workbook = willSave ? handles_.application->openForWriting(path_)
                                         : handles_.application->openForReading(path_);
            // Sheets named on the command line are the only ones tested; the others are not read at all.
            const std::vector<std::string> dataSheets =
                listDataSheets(options_.list ? std::vector<std::string>() : options_.sheets);
            if (dataSheets.empty() && (options_.list || options_.sheets.empty())) {
                fail("nicio foaie de date: nicio foaie nu are \"SPECIA\" in A1, \"ABUNDENTA\" in B1 si o "
                     "valoare in B2; fisierul nu a fost schimbat");
                abandon(handles_);
                return false;
            }
            if (options_.list) {
                for (const auto& name : dataSheets)
                    out_ << path_ << '\t' << name << '\n';
                finish(false);
                return true;
            }
            std::vector<std::string> chosen =
                options_.sheets.empty() ? dataSheets : std::vector<std::string>();
            for (const auto& name : options_.sheets) {
                if (std::find(dataSheets.begin(), dataSheets.end(), name) == dataSheets.end()) {
                    fail("foaia \"" + name +
                         "\" nu este o foaie de date a fisierului; fisierul nu a fost schimbat");
                    abandon(handles_);
                    return false;
                }
                // A sheet named twice is done once: a second table would land three columns further on.
                if (std::find(chosen.begin(), chosen.end(), name) == chosen.end()) chosen.push_back(name);
            }
            bool allDone = true;
            bool wrote = false;
            for (const auto& name : chosen) {
                const auto outcome = processSheet(name);
                if (outcome == Outcome::Abandoned) {
                    abandon(handles_);
                    return false;
                }
                allDone = allDone && outcome != Outcome::Failed;
                wrote = wrote || outcome == Outcome::Written;
            }
            finish(wrote);
            return allDone;
        } catch (const RuntimeError& e) {
            return abandonWith(describe(e));
        } catch (const std::bad_alloc&) {
            return abandonWith("Eroarea: " + std::to_string(err::OutOfMemory) + " nu este destula memorie");
        } catch (const std::exception& e) {
            return abandonWith("Eroarea: " + std::to_string(err::Internal) + " " + e.what());
        } catch (...) {
            return abandonWith("Eroarea: " + std::to_string(err::Internal) + " eroare interna necunoscuta");
        }
    }

  private:
    enum class Outcome { Written, Computed, Failed, Abandoned };

    // The data sheets, of all (none named) or of those named.
    std::vector<std::string> listDataSheets(const std::vector<std::string>& named) {
        std::vector<std::string> names;
        const std::int16_t count = handles_.workbook->worksheetCount();
        for (std::int16_t i = 1; i <= count; ++i) {
            const std::string name = handles_.workbook->worksheetName(i);
            if (!named.empty() && std::find(named.begin(), named.end(), name) == named.end()) continue;
            if (intake::isDataSheet(*handles_.workbook->worksheet(name))) names.push_back(name);
        }
        return names;
    }

    // A failure in reading or computing skips the sheet; a failure while writing abandons the whole workbook,
    // since a half-written table must never be saved.
    Outcome processSheet(const std::string& name) {
        auto sheet = handles_.workbook->worksheet(name);
        SpeciesSample sample;
        DiversityResults results;
        try {
            sample.reset();
            intake::readSheet(*sheet, sample);
            results = ComputeDiversityIndices(sample);
        } catch (const RuntimeError& e) {
            fail("foaia " + text::quotedExcerpt(name) + ": " + describe(e));
            return Outcome::Failed;
        }
        printResults(out_, options_.json, path_, name, sample, results);
        if (options_.dryRun) return Outcome::Computed;
        try {
            writeResultsTable(*sheet, results);
            sheet->activate();
        } catch (const RuntimeError& e) {
            fail("foaia " + text::quotedExcerpt(name) + ": " + describe(e) + "; fisierul nu a fost schimbat");
            return Outcome::Abandoned;
        }
        return Outcome::Written;
    }

    void finish(bool save) {
        handles_.workbook->close(save);
        handles_.workbook.reset();
        handles_.quit();
    }

    // Every failure ends only this workbook's run, without saving; the batch goes on with the next one.
    bool abandonWith(const std::string& description) {
        fail(description + "; fisierul nu a fost schimbat");
        abandon(handles_);
        return false;
    }

    void fail(const std::string& message) { err_ << "ordana-cli: " << path_ << ": " << message << '\n'; }

    const Options& options_;
    const spreadsheet::ApplicationFactory& start_;
    std::ostream& out_;
    std::ostream& err_;
    std::string path_;
    SpreadsheetHandles handles_;
};

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
    bool allDone = true;
    const std::size_t total = options.workbooks.size();
    for (std::size_t k = 0; k < total; ++k) {
        if (showProgress && total > 1)
            err << "[" << k + 1 << "/" << total << "] " << options.workbooks[k] << '\n' << std::flush;
        allDone = WorkbookJob(options, start, out, err, options.workbooks[k]).run() && allDone;
    }
    return allDone ? ExitDone : ExitFailures;
}

} // namespace ordana::cli
