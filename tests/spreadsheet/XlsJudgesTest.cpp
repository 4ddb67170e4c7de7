// Programs we did not write read what the engine saved: LibreOffice (headless conversion to CSV, values as
// shown, so the number formats count) and Gnumeric's ssconvert. Every original value stays, the table is
// there.

#include "BiffBuilder.h"
#include "XlsTestFiles.h"
#include "analysis/ResultsWriter.h"
#include "common/Text.h"
#include "job/Run.h"
#include "spreadsheet/xls/Sheet.h"
#include "spreadsheet/xls/WorkbookStream.h"
#include "support/SampleResults.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace ordana;
using namespace ordana::spreadsheet;
using namespace ordana::testing;

namespace {

const char* const kProducers[] = {"libreoffice", "gnumeric", "xlwt"};

std::vector<std::string> readLines(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

bool have(const char* program) {
    return !commandLines(std::string("command -v ") + program).empty();
}

std::vector<std::string> sheetsOf(const char* producer) {
    std::vector<std::string> s = {"Date", "Note", "Lista", "Ascunsa", "Plin"};
    if (std::string(producer) != "xlwt") s.emplace_back("Grafic");
    return s;
}

} // namespace

TEST(XlsJudges, LibreOfficeAndGnumericReadEveryOriginalValuePlusTheTable) {
    if (!have("soffice") || !have("ssconvert")) GTEST_SKIP() << "LibreOffice or Gnumeric is not installed";
    ScratchDir dir;
    std::string files;
    for (const char* p : kProducers) {
        const std::string fixture = std::string("basic-") + p + ".xls";
        dir.copy(fixture, std::string("orig-") + p + ".xls");
        const std::string saved = dir.copy(fixture, std::string("saved-") + p + ".xls");
        SpreadsheetHandles handles;
        job::saveIndicesTable(nativeApplicationFactory(), saved, "Date", ordana::testing::dateSheetResults(),
                              handles);
        files += " orig-" + std::string(p) + ".xls saved-" + p + ".xls";
    }
    // One LibreOffice start for all files, every sheet, values as shown.
    libreOfficeConvert(dir, "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1",
                       "lo", files);
    const auto values = resultValues(ordana::testing::dateSheetResults());
    for (const char* p : kProducers) {
        for (const std::string& sheet : sheetsOf(p)) {
            const auto before =
                readLines(dir.path() / "lo" / ("orig-" + std::string(p) + "-" + sheet + ".csv"));
            const auto after =
                readLines(dir.path() / "lo" / ("saved-" + std::string(p) + "-" + sheet + ".csv"));
            ASSERT_FALSE(before.empty()) << p << " " << sheet << ": LibreOffice converted nothing";
            if (sheet != "Date") {
                EXPECT_EQ(after, before) << p << " " << sheet;
                continue;
            }
            ASSERT_EQ(after.size(), 13u) << p;
            for (std::size_t r = 0; r < 13; ++r) {
                std::string want = r < before.size() ? before[r] : ",";
                char value[32];
                std::snprintf(value, sizeof value, "%.3f", r == 0 ? 0.0 : values[r - 1]);
                want += r == 0 ? ",.,Indici,Valoare" : std::string(",,") + kResultLabels[r - 1] + "," + value;
                EXPECT_EQ(after[r], want) << p << " row " << r + 1;
            }
            EXPECT_EQ(after[1].substr(after[1].rfind(',') + 1), "12.000")
                << "the value column shows three decimals";
        }
    }
    // Gnumeric: raw values, one CSV per sheet.
    for (const char* p : kProducers) {
        for (const char* which : {"orig", "saved"}) {
            const std::string name = std::string(which) + "-" + p;
            int status = -1;
            commandLines("cd '" + dir.path().string() + "' && timeout 120 ssconvert -S " + name +
                             ".xls 'gn-" + name + "-%s.csv'",
                         &status);
            EXPECT_EQ(status, 0) << "ssconvert refused " << name;
        }
        for (const std::string& sheet : sheetsOf(p)) {
            const auto before = readLines(dir.path() / ("gn-orig-" + std::string(p) + "-" + sheet + ".csv"));
            const auto after = readLines(dir.path() / ("gn-saved-" + std::string(p) + "-" + sheet + ".csv"));
            if (sheet != "Date") {
                EXPECT_EQ(after, before) << p << " " << sheet;
                continue;
            }
            ASSERT_EQ(after.size(), 13u) << p;
            EXPECT_EQ(after[0], before[0] + ",.,Indici,Valoare");
            for (std::size_t r = 1; r < 13; ++r) {
                const std::string label = std::string("\"") + kResultLabels[r - 1] + "\"";
                const auto at = after[r].find(label);
                ASSERT_NE(at, std::string::npos) << p << " row " << r + 1 << ": " << after[r];
                if (r < before.size()) {
                    EXPECT_EQ(after[r].substr(0, before[r].size()), before[r]);
                }
                EXPECT_NEAR(std::stod(after[r].substr(at + label.size() + 1)), values[r - 1], 1e-12);
            }
        }
    }
}

// Gnumeric's own file keeps formulas, so it shows a formula lost where a value alone would not; LibreOffice
// shows a cell whose formula points to a missing host as empty; xlrd reads every cached value. Each must see
// the original sheet with only the written cells changed.
TEST(XlsJudges, FormulasOutsideTheTableSurviveOverwrittenHosts) {
    if (!have("soffice") || !have("ssconvert")) GTEST_SKIP() << "LibreOffice or Gnumeric is not installed";
    ScratchDir dir;
    const Bytes original = buildStream({{"Formule", formulaRanges()}});
    xls::WorkbookStream book(original);
    const std::set<std::string> written = {"E13", "H13", "I14", "F13", "F14"};
    for (const std::string& a1 : written)
        book.sheet(0).setValue(std::stoi(a1.substr(1)) - 1, a1[0] - 'A', CellValue::number(100));
    for (const auto& [name, stream] : {std::pair{"orig", original}, std::pair{"saved", book.serialize()}}) {
        const Bytes file = cfb::CompoundFile::create({{"Workbook", stream}}).serialize();
        std::ofstream(dir.path() / (std::string(name) + ".xls"), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    const std::string cd = "cd '" + dir.path().string() + "' && ";
    using Cells = std::map<std::string, std::string>; // A1 -> what the reader shows
    auto gnumeric = [&](const std::string& name, std::string& xml) {
        commandLines(cd + "timeout 120 ssconvert -T Gnumeric_XmlIO:sax " + name + ".xls " + name +
                     ".gnumeric");
        Cells cells;
        const std::regex cell(R"re(Row="(\d+)" Col="(\d+)"([^>]*?)/?>([^<]*))re");
        for (const auto& line : commandLines(cd + "zcat -f " + name + ".gnumeric | grep '<gnm:Cell '")) {
            std::smatch m;
            if (!std::regex_search(line, m, cell)) continue;
            const std::string a1 = text::cellAddress(std::stoi(m[1]) + 1, std::stoi(m[2]) + 1);
            const bool formula =
                m[3].str().find("ExprID") != std::string::npos || m[4].str().starts_with("=");
            cells[a1] = formula ? "formula" : m[4].str();
            xml += a1 + " " + m[4].str() + "\n";
        }
        return cells;
    };
    auto libreOffice = [&](const std::string& name) {
        libreOfficeConvert(dir, "csv", "lo", name + ".xls");
        Cells cells;
        const auto lines = readLines(dir.path() / "lo" / (name + ".csv"));
        for (std::size_t r = 0; r < lines.size(); ++r) {
            std::stringstream row(lines[r]);
            std::string value;
            for (int c = 1; std::getline(row, value, ','); ++c)
                if (!value.empty()) cells[text::cellAddress(int(r) + 1, c)] = value;
        }
        return cells;
    };
    auto xlrd = [&](const std::string& name) {
        Cells cells;
        for (const auto& line : xlrdLines((dir.path() / (name + ".xls")).string())) {
            std::stringstream in(line);
            std::string kind, where, type, value;
            if (in >> kind >> where >> type >> value && kind == "cell")
                cells[where.substr(where.find('!') + 1)] = value;
        }
        return cells;
    };
    auto expectOnlyTheWrittenChanged = [&](const char* reader, const Cells& before, const Cells& after,
                                           const std::string& writtenShows) {
        ASSERT_FALSE(before.empty()) << reader << " read nothing";
        Cells want = before;
        for (const std::string& a1 : written)
            want[a1] = writtenShows;
        EXPECT_EQ(after, want) << reader;
    };
    std::string origXml, savedXml;
    const Cells gnBefore = gnumeric("orig", origXml), gnAfter = gnumeric("saved", savedXml);
    expectOnlyTheWrittenChanged("Gnumeric", gnBefore, gnAfter, "100");
    // The moved formulas read relative to their new hosts.
    EXPECT_NE(savedXml.find("E14 =C14*2\n"), std::string::npos) << savedXml;
    EXPECT_NE(savedXml.find("I13 =D13+1\n"), std::string::npos) << savedXml;
    expectOnlyTheWrittenChanged("LibreOffice", libreOffice("orig"), libreOffice("saved"), "100");
    expectOnlyTheWrittenChanged("xlrd", xlrd("orig"), xlrd("saved"), "100");
}
