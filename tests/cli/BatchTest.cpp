#include "cli/Batch.h"
#include "analysis/DiversityIndices.h"
#include "analysis/ResultsWriter.h"
#include "analysis/SpeciesSample.h"
#include "support/FakeSpreadsheet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ordana;
using namespace ordana::cli;
using ordana::testing::FakeBook;
using ordana::testing::FakeEngine;
using ordana::testing::FakeSheet;

namespace {

void dataSheet(FakeSheet& s, std::initializer_list<CellValue> abundances) {
    s.set(1, 1, CellValue::text("SPECIA"));
    s.set(1, 2, CellValue::text("ABUNDENTA"));
    int row = 2;
    for (const auto& a : abundances) {
        s.set(row, 1, CellValue::text("sp" + std::to_string(row)));
        s.set(row++, 2, a);
    }
}

CellValue n(double v) {
    return CellValue::number(v);
}

struct BatchTest : ::testing::Test {
    FakeEngine engine;
    std::ostringstream out, err;

    BatchTest() {
        FakeBook& a = engine.files["a.xls"];
        a.sheet("Bun");
        a.sheet("Text");
        a.sheet("Rau");
        dataSheet(a.sheet("Bun"), {n(10), n(20), n(30), n(40)});
        a.sheet("Text").set(1, 1, CellValue::text("observatii"));
        dataSheet(a.sheet("Rau"), {n(5), CellValue::text("cinci")});
        dataSheet(engine.files["b.xls"].sheet("Doar"), {n(2), n(3), n(5)});
    }
    int run(const std::vector<std::string>& args) {
        return runBatch(parseArguments(args), engine.factory(), out, err, true);
    }
};

} // namespace

TEST(ParseArguments, UsageErrorsAndOptions) {
    const struct {
        std::vector<std::string> args;
        bool valid;
    } rows[] = {
        {{"a.xls"}, true},
        {{"--list", "a.xls", "b.xls"}, true},
        {{"--sheet", "S", "--sheet=T", "a.xls"}, true},
        {{"--", "--odd-name.xls"}, true},
        {{"--help"}, true},
        {{"--version"}, true},
        {{}, false},
        {{"--json"}, false},
        {{"--sheet"}, false},
        {{"--bogus", "a.xls"}, false},
        {{"--estimates", "--seed", "7", "--replicates=50", "--report", "r.html", "--csv", "a.xls"}, true},
        {{"--seed", "-1", "a.xls"}, false},
        {{"--seed=12x", "a.xls"}, false},
        {{"--replicates", "100001", "a.xls"}, false},
        {{"--report"}, false},
        {{"--json", "--csv", "a.xls"}, false},
        {{"--list", "--estimates", "a.xls"}, false},
    };
    for (const auto& r : rows) {
        bool valid = true;
        try {
            parseArguments(r.args);
        } catch (const std::invalid_argument&) {
            valid = false;
        }
        EXPECT_EQ(valid, r.valid) << (r.args.empty() ? "(none)" : r.args[0]);
    }
    const Options o = parseArguments({"--sheet", "S", "--sheet=T", "--dry-run", "--", "--x.xls"});
    EXPECT_EQ(o.sheets, (std::vector<std::string>{"S", "T"}));
    EXPECT_TRUE(o.dryRun);
    EXPECT_EQ(o.workbooks, std::vector<std::string>{"--x.xls"});
    EXPECT_FALSE(o.estimates);
    const Options e =
        parseArguments({"--estimates", "--seed=18446744073709551615", "--replicates", "0", "a.xls"});
    EXPECT_EQ(e.seed, UINT64_MAX);
    EXPECT_EQ(e.replicates, 0);
}

TEST_F(BatchTest, AFailingSheetBesideAGoodOneAndAnUnreadableWorkbook) {
    EXPECT_EQ(run({"a.xls", "lipsa.xls", "b.xls"}), ExitFailures);
    // The good sheets got their tables, each workbook saved once.
    EXPECT_EQ(engine.files["a.xls"].saves, 1);
    EXPECT_EQ(engine.files["a.xls"].sheet("Bun").get(1, 4), CellValue::text("Indici"));
    EXPECT_EQ(engine.files["a.xls"].sheet("Rau").get(1, 4), CellValue());
    EXPECT_EQ(engine.files["b.xls"].sheet("Doar").get(1, 5), CellValue::text("Valoare"));
    EXPECT_EQ(engine.files["a.xls"].activeSheet, "Bun");
    const std::string e = err.str();
    EXPECT_NE(e.find("a.xls: foaia \"Rau\": Eroarea: 13 "), std::string::npos) << e;
    EXPECT_NE(e.find("celula B3"), std::string::npos) << e;
    EXPECT_NE(e.find("lipsa.xls: Eroarea: 1004"), std::string::npos) << e;
    EXPECT_NE(e.find("[2/3] lipsa.xls"), std::string::npos) << "progress line";
    EXPECT_NE(out.str().find("  indicele Shannon         "
                             "      1,279854\n"),
              std::string::npos)
        << out.str();
    EXPECT_EQ(engine.openApplications, 0);
    EXPECT_EQ(engine.openWorkbooks, 0);

    // With the estimates the sheet is read twice; its cause is still said once.
    err.str("");
    EXPECT_EQ(run({"--estimates", "a.xls"}), ExitFailures);
    const std::string twice = err.str();
    const auto first = twice.find("foaia \"Rau\"");
    ASSERT_NE(first, std::string::npos) << twice;
    EXPECT_EQ(twice.find("foaia \"Rau\"", first + 1), std::string::npos) << twice;
}

TEST_F(BatchTest, JsonCarriesEveryValueExactly) {
    EXPECT_EQ(run({"--json", "--sheet", "Bun", "a.xls"}), ExitDone);
    SpeciesSample sample;
    sample.reset();
    for (double v : {10, 20, 30, 40})
        sample.append(n(v));
    sample.complete();
    const auto expected = resultValues(ComputeDiversityIndices(sample));
    const std::string line = out.str();
    ASSERT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_EQ(
        line.rfind("{\"workbook\":\"a.xls\",\"sheet\":\"Bun\",\"speciesCount\":4,\"totalIndividuals\":100,",
                   0),
        0u)
        << line;
    const char* fields[] = {"speciesRichness", "simpsonD",        "simpsonOneMinusD", "simpsonInverse",
                            "shannonH",        "shannonEvenness", "brillouin",        "bergerParker",
                            "mcIntosh",        "margalef",        "menhinick",        "gleason"};
    for (std::size_t k = 0; k < 12; ++k) {
        const std::string key = std::string("\"") + fields[k] + "\":";
        const auto at = line.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_EQ(std::strtod(line.c_str() + at + key.size(), nullptr), expected[k]) << key;
    }
}

// With --json every line of standard output is an object a script can read: a listing, a result, a failure.
TEST_F(BatchTest, JsonListsAndReportsFailuresAsLines) {
    EXPECT_EQ(run({"--json", "--list", "b.xls"}), ExitDone);
    EXPECT_EQ(out.str(), "{\"workbook\":\"b.xls\",\"sheet\":\"Doar\",\"kind\":\"date\"}\n");
    out.str("");
    EXPECT_EQ(run({"--json", "a.xls", "lipsa.xls"}), ExitFailures);
    const std::string o = out.str();
    EXPECT_NE(o.find("{\"workbook\":\"a.xls\",\"sheet\":\"Rau\",\"error\":13,\"message\":\""),
              std::string::npos)
        << o;
    EXPECT_NE(o.find("{\"workbook\":\"lipsa.xls\",\"error\":1004,\"message\":\""), std::string::npos) << o;
    EXPECT_EQ(std::count(o.begin(), o.end(), '\n'), 3) << "Bun's results, Rau's and lipsa's failures: " << o;
}

TEST_F(BatchTest, ListDryRunAndAWrongSheetChangeNothing) {
    EXPECT_EQ(run({"--list", "a.xls", "b.xls"}), ExitDone);
    EXPECT_EQ(out.str(), "a.xls\tBun\tdate\na.xls\tRau\tdate\nb.xls\tDoar\tdate\n");
    EXPECT_EQ(run({"--dry-run", "b.xls"}), ExitDone);
    EXPECT_NE(out.str().find("indicele Margalef"), std::string::npos);
    EXPECT_EQ(run({"--sheet", "Text", "--sheet", "Bun", "a.xls"}), ExitFailures);
    EXPECT_NE(err.str().find("foaia \"Text\" nu este o foaie de date"), std::string::npos) << err.str();
    EXPECT_EQ(run({"--sheet", "Nicaieri", "a.xls"}), ExitFailures);
    EXPECT_NE(err.str().find("foaia \"Nicaieri\" nu exista in fisier"), std::string::npos) << err.str();
    EXPECT_EQ(engine.files["a.xls"].saves + engine.files["b.xls"].saves, 0);
    EXPECT_EQ(engine.count("close save"), 0);
}

// Only the sheets named are read, for their test as for their table: a workbook of many sheets is not read
// through for one of them. A listing still reads every sheet, whatever is named.
TEST_F(BatchTest, OnlyTheSheetsNamedAreRead) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> picked;
    } rows[] = {
        {{"--sheet", "Bun", "a.xls"}, {"pick Bun"}},
        {{"--sheet", "Rau", "--sheet", "Bun", "a.xls"}, {"pick Bun", "pick Rau"}},
        {{"--dry-run", "--sheet", "Text", "a.xls"}, {"pick Text"}},
        {{"--list", "--sheet", "Bun", "a.xls"}, {"pick Bun", "pick Rau", "pick Text"}},
    };
    for (const auto& r : rows) {
        engine.log.clear();
        run(r.args);
        std::set<std::string> picked;
        for (const std::string& line : engine.log)
            if (line.rfind("pick ", 0) == 0) picked.insert(line);
        EXPECT_EQ(std::vector<std::string>(picked.begin(), picked.end()), r.picked)
            << r.args[0] << " " << r.args[1];
    }
}

// Names come from the file: printed, one line stays one sheet and no control character reaches the terminal;
// in CSV, nothing a spreadsheet would run as a formula.
TEST_F(BatchTest, NamesFromTheFileArePrintedInert) {
    dataSheet(engine.files["n.xls"].sheet("a\nb\x1b[31m\xc2\x9b"), {n(2), n(3)});
    dataSheet(engine.files["n.xls"].sheet("=HYPERLINK(1)"), {n(1), n(4)});
    dataSheet(engine.files["n.xls"].sheet("-2.5"), {n(1), n(4)});
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } rows[] = {
        {{"--list", "n.xls"},
         "n.xls\ta\\nb\\x1b[31m\\xc2\\x9b\tdate\nn.xls\t=HYPERLINK(1)\tdate\nn.xls\t-2.5\tdate\n"},
        {{"--dry-run", "--sheet", "a\nb\x1b[31m\xc2\x9b", "n.xls"},
         "n.xls - foaia \"a\\nb\\x1b[31m\\xc2\\x9b\"\n"},
        {{"--csv", "--list", "n.xls"},
         "n.xls,\"a\nb\x1b[31m\xc2\x9b\",tip,date,,,,,,,,,\nn.xls,'=HYPERLINK(1),tip,date,,,,,,,,,\n"
         "n.xls,-2.5,tip,date,,,,,,,,,\n"},
    };
    for (const auto& r : rows) {
        out.str("");
        run(r.args);
        const std::string o = out.str();
        EXPECT_NE(o.find(r.expected), std::string::npos) << o;
    }
}

TEST_F(BatchTest, ASheetNamedTwiceGetsOneTable) {
    EXPECT_EQ(run({"--sheet", "Bun", "--sheet=Bun", "a.xls"}), ExitDone);
    EXPECT_EQ(engine.files["a.xls"].sheet("Bun").get(1, 4), CellValue::text("Indici"));
    EXPECT_EQ(engine.files["a.xls"].sheet("Bun").get(1, 7), CellValue()) << "a second table beside the first";
    EXPECT_EQ(engine.files["a.xls"].saves, 1);
}

TEST_F(BatchTest, AFailedWriteLeavesTheWorkbookUnsaved) {
    // The indices table has two bold cells: the third bold is the estimates table's first.
    const struct {
        std::vector<std::string> args;
        int boldsBefore;
        const char* failedAt;
    } cases[] = {{{"b.xls"}, 1, "bold 1 5"},
                 {{"--estimates", "b.xls"}, 2, "bold 1 7"},
                 {{"--estimates", "b.xls"}, 5, "bold 1 10"}};
    for (const auto& c : cases) {
        engine.files["b.xls"] = FakeBook();
        dataSheet(engine.files["b.xls"].sheet("Doar"), {n(2), n(3), n(5)});
        err.str("");
        engine.fail("bold", 1004, c.boldsBefore);
        EXPECT_EQ(run(c.args), ExitFailures) << c.boldsBefore;
        EXPECT_EQ(engine.files["b.xls"].saves, 0) << c.boldsBefore;
        EXPECT_EQ(engine.files["b.xls"].sheet("Doar").get(1, 4), CellValue()) << c.boldsBefore;
        EXPECT_NE(err.str().find("fisierul nu a fost schimbat"), std::string::npos) << c.boldsBefore;
        EXPECT_NE(err.str().find(c.failedAt), std::string::npos) << err.str();
    }
}

// Neither is a silent success: a workbook without a data sheet, and a failure that is not a run-time error.
// Each ends only its own workbook's run; the next workbook is still done.
TEST_F(BatchTest, NoDataSheetAndForeignExceptionsFailOnlyTheirWorkbook) {
    engine.files["gol.xls"].sheet("Note").set(1, 1, CellValue::text("observatii"));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::function<void()> raise; // thrown when the engine for the first workbook starts
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no data sheet", {"gol.xls", "b.xls"}, nullptr, "gol.xls: nicio foaie de date"},
        {"no data sheet, listed", {"--list", "gol.xls", "b.xls"}, nullptr, "gol.xls: nicio foaie de date"},
        {"out of memory", {"a.xls", "b.xls"}, [] { throw std::bad_alloc(); }, "a.xls: Eroarea: 7 "},
        {"a library's exception, its text kept from the user",
         {"a.xls", "b.xls"},
         [] { throw std::out_of_range("vector::at"); },
         "a.xls: Eroarea: 51 Eroare interna a programului"},
        {"anything else", {"a.xls", "b.xls"}, [] { throw 42; }, "a.xls: Eroarea: 51 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        out.str("");
        err.str("");
        const int savesBefore = engine.files["b.xls"].saves;
        int starts = 0;
        const spreadsheet::ApplicationFactory start = [&]() -> std::shared_ptr<spreadsheet::Application> {
            if (starts++ == 0 && c.raise) c.raise();
            return engine.factory()();
        };
        EXPECT_EQ(runBatch(parseArguments(c.args), start, out, err, false), ExitFailures);
        EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
        EXPECT_EQ(err.str().find("vector::at"), std::string::npos) << err.str();
        EXPECT_NE(err.str().find("fisierul nu a fost schimbat"), std::string::npos) << err.str();
        EXPECT_NE(err.str().find("ordana-cli: 2 fisiere: 1 prelucrate, "), std::string::npos) << err.str();
        if (c.args[0] != "--list") {
            EXPECT_EQ(engine.files["b.xls"].saves, savesBefore + 1) << "the next workbook was not done";
        } else {
            EXPECT_NE(out.str().find("b.xls\tDoar"), std::string::npos);
        }
    }
    EXPECT_EQ(engine.files["gol.xls"].saves + engine.files["a.xls"].saves, 0);
}

namespace {

// The native engine, but every open reads the whole file at once, as before files were read as asked for.
class WholeReads : public spreadsheet::Application {
  public:
    std::shared_ptr<spreadsheet::Workbook> open(const std::string& path) override {
        return inner_->open(path);
    }
    std::shared_ptr<spreadsheet::Workbook> openForWriting(const std::string& path) override {
        return inner_->open(path);
    }
    std::shared_ptr<spreadsheet::Workbook> openForReading(const std::string& path) override {
        return inner_->open(path);
    }
    void quit() override { inner_->quit(); }

  private:
    std::shared_ptr<spreadsheet::Application> inner_ = spreadsheet::nativeApplicationFactory()();
};

std::vector<char> fileContent(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

// A workbook written a while ago is read for the job as the engines ask for its parts, and saved with what
// was never read copied from the file: each format's result is byte for byte the one of a whole read.
TEST(BatchOnFiles, AWorkbookReadAsAskedSavesAsOneReadWhole) {
    const char* dir = std::getenv("ORDANA_FIXTURES");
    const std::filesystem::path fixtures = dir ? dir : "tests/fixtures";
    const auto scratch =
        std::filesystem::temp_directory_path() / ("ordana-batch-" + std::to_string(::getpid()));
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);
    for (const char* name :
         {"basic-libreoffice.xls", "basic-xlwt.xls", "basic-gnumeric.xls", "basic-v4-libgsf.xls",
          "basic-libreoffice.xlsx", "basic-source.xlsx", "basic-gnumeric.xlsx", "basic-libreoffice.ods",
          "basic-gnumeric.ods", "basic-odfpy.ods"}) {
        SCOPED_TRACE(name);
        const auto asked = scratch / ("asked-" + std::string(name));
        const auto whole = scratch / ("whole-" + std::string(name));
        std::filesystem::copy_file(fixtures / name, asked);
        std::filesystem::copy_file(fixtures / name, whole);
        std::this_thread::sleep_for(std::chrono::milliseconds(30)); // past the kernel's clock tick
        std::ostringstream out, err;
        EXPECT_EQ(runBatch(parseArguments({"--sheet", "Date", asked.string()}),
                           spreadsheet::nativeApplicationFactory(), out, err, false),
                  ExitDone)
            << err.str();
        EXPECT_EQ(runBatch(
                      parseArguments({"--sheet", "Date", whole.string()}),
                      [] { return std::make_shared<WholeReads>(); }, out, err, false),
                  ExitDone)
            << err.str();
        EXPECT_EQ(fileContent(asked), fileContent(whole));
        EXPECT_NE(fileContent(asked), fileContent(fixtures / name));
    }
    std::filesystem::remove_all(scratch);
}

// The report's path is input too: refused before anything is read or written when it names a workbook of the
// run or any other, a folder, a link or a device; a run that estimates nothing leaves an older report whole.
TEST(BatchOnFiles, TheReportWritesOnlyTheReport) {
    const auto scratch =
        std::filesystem::temp_directory_path() / ("ordana-report-" + std::to_string(::getpid()));
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch / "dosar");
    const auto write = [&](const char* name, const std::string& content) {
        std::ofstream(scratch / name, std::ios::binary) << content;
        return (scratch / name).string();
    };
    FakeEngine engine;
    const std::string book = (scratch / "w.xls").string();
    dataSheet(engine.files[book].sheet("Date"), {n(2), n(3), n(5)});
    const std::string other = write("alt.xlsx", std::string("PK\x03\x04", 4) + "rest");
    const std::string disguised = write("alt.html", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    const std::string old = write("vechi.html", "<p>raportul de ieri</p>");
    const std::string userTemp = write("r.html.tmp", "al utilizatorului");
    // Windows lets only some users make links: without one, that row has nothing to show.
    std::error_code noLink;
    std::filesystem::create_symlink(old, scratch / "legatura.html", noLink);
    const struct {
        const char* name;
        std::string report;
        int exit;
        const char* message;
    } rows[] = {
        {"the run's workbook", book, ExitUsage, "este registrul"},
        {"the run's workbook by another name", (scratch / "dosar" / ".." / "w.xls").string(), ExitUsage,
         "este registrul"},
        {"another workbook", other, ExitUsage, "este un registru de calcul"},
        {"a workbook by its bytes", disguised, ExitUsage, "este un registru de calcul"},
        {"a workbook's name", (scratch / "nou.ods").string(), ExitUsage, "extensia unui registru"},
        {"a folder", (scratch / "dosar").string(), ExitUsage, "este un dosar"},
        {"a link", (scratch / "legatura.html").string(), ExitUsage, "legatura simbolica"},
#ifdef _WIN32
        {"a device", "NUL", ExitUsage, "nu este un fisier obisnuit"},
#else
        {"a device", "/dev/null", ExitUsage, "nu este un fisier obisnuit"},
#endif
        {"a new page", (scratch / "r.html").string(), ExitDone, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        if (noLink && std::string(r.name) == "a link") continue;
        std::ostringstream out, err;
        const int saves = engine.files[book].saves;
        EXPECT_EQ(runBatch(parseArguments({"--estimates", "--report", r.report, book}), engine.factory(), out,
                           err, false),
                  r.exit)
            << err.str();
        EXPECT_NE(err.str().find(r.message), std::string::npos) << err.str();
        EXPECT_EQ(engine.files[book].saves, saves + (r.exit == ExitDone ? 1 : 0));
    }
    const auto kept = [](const std::string& path) {
        const auto bytes = fileContent(path);
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(kept(other), std::string("PK\x03\x04", 4) + "rest");
    EXPECT_EQ(kept(old), "<p>raportul de ieri</p>");
    EXPECT_EQ(kept(userTemp), "al utilizatorului") << "a file of the temporary's old name is the user's";
    EXPECT_GT(fileContent(scratch / "r.html").size(), 1000u);

    // Nothing estimated: the older page stays as it was.
    dataSheet(engine.files[book].sheet("Date"), {n(2), n(1.5)});
    std::ostringstream out, err;
    EXPECT_EQ(runBatch(parseArguments({"--report", old, "--sheet", "Date", book}), engine.factory(), out, err,
                       false),
              ExitFailures);
    EXPECT_EQ(kept(old), "<p>raportul de ieri</p>");
    EXPECT_NE(err.str().find("raportul nu a fost scris"), std::string::npos) << err.str();
    std::filesystem::remove_all(scratch);
}

// A survey is taken only with the estimates or the incidence: each sample gets a row of the summary beside
// the matrix and a JSON line of its own, the columns together an incidence table and line; a second run
// replaces both tables; without either option the survey is left, and said to be left.
TEST(BatchSurvey, SamplesAndUnitsBesideTheMatrix) {
    FakeEngine engine;
    FakeSheet& s = engine.files["s.xls"].sheet("Parcele");
    const char* samples[] = {"P1", "P2", "P3"};
    const int counts[4][3] = {{5, 0, 2}, {1, 1, 0}, {0, 3, 1}, {2, 1, 1}};
    s.set(1, 1, CellValue::text("SPECIA"));
    for (int k = 0; k < 3; ++k)
        s.set(1, k + 2, CellValue::text(samples[k]));
    for (int r = 0; r < 4; ++r) {
        s.set(r + 2, 1, CellValue::text("sp" + std::to_string(r)));
        for (int k = 0; k < 3; ++k)
            if (counts[r][k]) s.set(r + 2, k + 2, n(counts[r][k]));
    }
    std::ostringstream out, err;
    const auto run = [&](std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.push_back("s.xls");
        return runBatch(parseArguments(args), engine.factory(), out, err, false);
    };
    EXPECT_EQ(run({}), ExitFailures);
    EXPECT_NE(err.str().find("matrice de probe"), std::string::npos) << err.str();
    EXPECT_EQ(run({"--sheet", "Parcele"}), ExitFailures);
    EXPECT_NE(err.str().find("foaia \"Parcele\" este o matrice"), std::string::npos) << err.str();
    EXPECT_EQ(engine.files["s.xls"].saves, 0);

    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(run({"--json", "--estimates", "--incidence"}), ExitDone) << err.str();
        std::vector<std::string> headings;
        for (int c = 5; c <= 40; ++c)
            headings.push_back(s.get(1, c).toText());
        EXPECT_EQ(headings[0], ".") << "the summary starts in the first free column";
        EXPECT_EQ(headings[1], "Proba");
        EXPECT_EQ(std::count(headings.begin(), headings.end(), "Proba"), 1) << "one summary";
        EXPECT_EQ(std::count(headings.begin(), headings.end(), "Estimator"), 1) << "one incidence table";
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(s.get(k + 2, 6).toText(), samples[k]);
        const std::string o = out.str();
        EXPECT_EQ(std::count(o.begin(), o.end(), '\n'), 5)
            << "three samples, the units, the comparison: " << o;
        EXPECT_NE(o.find("\"sample\":\"P2\""), std::string::npos);
        EXPECT_NE(o.find("\"incidence\":{\"units\":3}"), std::string::npos);
        EXPECT_NE(o.find("\"key\":\"chao2\""), std::string::npos);
    }
    EXPECT_EQ(engine.files["s.xls"].saves, 2);
}
