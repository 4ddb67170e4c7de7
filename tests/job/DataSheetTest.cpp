#include "analysis/SpeciesSample.h"
#include "job/SheetReader.h"
#include "job/Sheets.h"
#include "support/ErrorAssert.h"
#include "support/FakeSpreadsheet.h"

using namespace ordana;
using ordana::testing::FakeEngine;
using ordana::testing::FakeSheet;

namespace {

CellValue t(const char* s) {
    return CellValue::text(s);
}
CellValue n(double v) {
    return CellValue::number(v);
}

// Column A and B from row 1 down; an empty CellValue leaves the cell empty.
void fill(FakeSheet& sheet, std::initializer_list<std::pair<CellValue, CellValue>> rows) {
    int r = 1;
    for (const auto& [a, b] : rows) {
        if (!a.isEmpty()) sheet.set(r, 1, a);
        if (!b.isEmpty()) sheet.set(r, 2, b);
        ++r;
    }
}

struct DataSheetTest : ::testing::Test {
    FakeEngine engine;
    spreadsheet::SpreadsheetHandles handles;
    SpeciesSample sample;
    FakeSheet& sheet(const char* name) { return engine.files["/w.xls"].sheet(name); }
    void read(const char* name) { job::readDataSheet(engine.factory(), "/w.xls", name, sample, handles); }
};

} // namespace

TEST_F(DataSheetTest, QualificationIsExactAfterUpperCasing) {
    const struct {
        const char* name;
        CellValue a1, b1, b2;
        bool qualifies;
    } rows[] = {
        {"exact", t("SPECIA"), t("ABUNDENTA"), n(3), true},
        {"lower and mixed case", t("specia"), t("AbUnDeNtA"), n(3), true},
        {"trailing blank", t("SPECIA "), t("ABUNDENTA"), n(3), false},
        {"leading blank", t("SPECIA"), t(" ABUNDENTA"), n(3), false},
        {"misspelt", t("SPECIA"), t("ABUNDENTE"), n(3), false},
        {"B2 blank", t("SPECIA"), t("ABUNDENTA"), CellValue(), false},
        {"B2 empty text", t("SPECIA"), t("ABUNDENTA"), t(""), false},
        {"B2 zero is filled", t("SPECIA"), t("ABUNDENTA"), n(0), true},
    };
    for (const auto& r : rows) {
        FakeEngine local;
        FakeSheet& s = local.files["f"].sheet("s");
        fill(s, {{r.a1, r.b1}, {t("sp"), r.b2}});
        auto book = local.factory()()->open("f");
        EXPECT_EQ(job::isDataSheet(*book->worksheet("s")), r.qualifies) << r.name;
        EXPECT_EQ(local.count("cell"), 3) << r.name << ": all three cells are read";
    }
}

TEST_F(DataSheetTest, ListsTheDataSheetsInWorkbookOrder) {
    fill(sheet("Unu"), {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(1)}});
    fill(sheet("Doi"), {{t("SPECIA"), t("ABUNDENTE")}, {t("a"), n(1)}});
    fill(sheet("Trei"), {{t("specia"), t("abundenta")}, {t("a"), n(1)}});
    EXPECT_EQ(job::listDataSheets(engine.factory(), "/w.xls", handles),
              (std::vector<std::string>{"Unu", "Trei"}));
    EXPECT_EQ(engine.log.back(), "quit");
    EXPECT_EQ(engine.count("close"), 1);
    EXPECT_EQ(engine.openApplications, 0);
}

TEST_F(DataSheetTest, AListingThatFailsKeepsTheNamesFoundBefore) {
    fill(sheet("Unu"), {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(1)}});
    fill(sheet("Doi"), {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(1)}});
    engine.fail("pick", 7, 1);
    std::vector<std::string> found;
    EXPECT_RUNTIME_ERROR(job::listDataSheets(engine.factory(), "/w.xls", handles,
                                             [&](const std::string& s) { found.push_back(s); }),
                         7, "");
    EXPECT_EQ(found, std::vector<std::string>{"Unu"});
    EXPECT_TRUE(handles.workbook) << "the error path drops the references itself";
}

TEST_F(DataSheetTest, ReadsRowsDownToTheFirstBlankInAOrB) {
    const struct {
        const char* name;
        std::initializer_list<std::pair<CellValue, CellValue>> rows;
        int species, total;
    } cases[] = {
        {"A5 blank ends the list",
         {{t("SPECIA"), t("ABUNDENTA")},
          {t("a"), n(1)},
          {t("b"), n(2)},
          {t("c"), n(3)},
          {CellValue(), n(9)},
          {t("e"), n(9)}},
         3,
         6},
        {"zero is filled", {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(4)}, {t("b"), n(0)}}, 2, 4},
        {"empty text is blank", {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(4)}, {t("b"), t("")}}, 1, 4},
        {"A2 blank gives an empty sample", {{t("SPECIA"), t("ABUNDENTA")}, {CellValue(), n(4)}}, 0, 0},
        {"halves", {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(1.5)}, {t("b"), n(1.5)}}, 2, 4},
        {"text abundance", {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), t("12")}, {t("b"), n(3)}}, 2, 15},
    };
    for (const auto& c : cases) {
        FakeEngine local;
        fill(local.files["/w.xls"].sheet("S"), c.rows);
        SpeciesSample s;
        job::readDataSheet(local.factory(), "/w.xls", "S", s, handles);
        EXPECT_EQ(s.speciesCount(), c.species) << c.name;
        EXPECT_EQ(s.totalIndividuals(), c.total) << c.name;
        EXPECT_EQ(local.count("cell"), 3 * c.species + 2)
            << c.name << ": three reads a data row, two for the last";
        EXPECT_EQ(local.openApplications, 0) << c.name;
        EXPECT_FALSE(handles.application) << c.name;
    }
}

TEST_F(DataSheetTest, AFailedReadingKeepsTheEarlierCountAndNamesTheCell) {
    fill(sheet("Bun"), {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(1)}, {t("b"), n(2)}});
    fill(sheet("Rau"), {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(5)}, {t("b"), t("cinci")}});
    fill(sheet("Mare"), {{t("SPECIA"), t("ABUNDENTA")}, {t("a"), n(32000)}, {t("b"), n(768)}});
    read("Bun");
    EXPECT_RUNTIME_ERROR(read("Rau"), err::TypeMismatch, "celula B3 (\"cinci\")");
    EXPECT_EQ(sample.speciesCount(), 2);
    EXPECT_EQ(sample.totalIndividuals(), 5);
    EXPECT_TRUE(handles.workbook) << "left for the error path";
    handles.release();
    EXPECT_RUNTIME_ERROR(read("Mare"), err::Overflow, "totalul abundentelor depaseste 32767 la celula B3");
    handles.release();

    engine.fail("open", err::Application);
    EXPECT_RUNTIME_ERROR(read("Bun"), err::Application, "");
    EXPECT_EQ(sample.abundances(), std::vector<CellValue>{CellValue()}) << "reset before the workbook opened";
    EXPECT_EQ(sample.totalIndividuals(), 0);
    EXPECT_EQ(sample.speciesCount(), 2);
}

TEST_F(DataSheetTest, TheRowCounterOverflowsEvenForTheEndingRow) {
    FakeSheet& s = sheet("Lung");
    fill(s, {{t("SPECIA"), t("ABUNDENTA")}});
    for (int r = 2; r <= 32767; ++r) {
        s.set(r, 1, t("x"));
        s.set(r, 2, n(r == 2 ? 1 : 0));
    }
    EXPECT_RUNTIME_ERROR(read("Lung"), err::Overflow, "32767");
    EXPECT_EQ(sample.abundances().size(), 32766u);

    s.cells.erase({32767, 1});
    handles.release();
    read("Lung");
    EXPECT_EQ(sample.speciesCount(), 32765);
}
