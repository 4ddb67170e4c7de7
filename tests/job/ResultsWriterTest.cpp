#include "analysis/ResultsWriter.h"
#include "job/Run.h"
#include "job/Workbook.h"
#include "support/ErrorAssert.h"
#include "support/FakeSpreadsheet.h"
#include "support/SampleResults.h"

using namespace ordana;
using ordana::testing::dateSheetResults;
using ordana::testing::FakeEngine;
using ordana::testing::FakeSheet;

namespace {

struct Fixture : ::testing::Test {
    FakeEngine engine;
    spreadsheet::SpreadsheetHandles handles;
    FakeSheet& prepare(std::initializer_list<std::pair<int, const char*>> row1) {
        engine.files["/d/a.xls"].sheet("Date");
        engine.files["/d/a.xls"].sheet("Alta");
        FakeSheet& s = engine.files["/d/a.xls"].sheet("Date");
        for (auto [column, text] : row1)
            s.set(1, column, CellValue::text(text));
        return s;
    }
    FakeSheet& saved() { return engine.files["/d/a.xls"].sheets[0]; }
};

} // namespace

TEST_F(Fixture, TableColumnIsTheFirstBlankRowOneCellFromB) {
    const struct {
        const char* name;
        std::vector<CellValue> row1; // columns A, B, C, ...
        int column;
    } rows[] = {
        {"data sheet, C1 empty", {CellValue::text("SPECIA"), CellValue::text("ABUNDENTA")}, 3},
        {"text in C1 and D1",
         {CellValue::text("a"), CellValue::text("b"), CellValue::text("c"), CellValue::text("d")},
         5},
        {"A1 empty never gives A", {CellValue(), CellValue()}, 2},
        {"0 counts as filled, empty text as empty",
         {CellValue(), CellValue::number(0), CellValue::text("")},
         3},
    };
    for (const auto& r : rows) {
        FakeSheet sheet{"s", {}, {}, {}, {}, {}, {}};
        for (std::size_t c = 0; c < r.row1.size(); ++c)
            sheet.set(1, int(c + 1), r.row1[c]);
        FakeEngine local;
        local.files["f"].sheets.push_back(sheet);
        auto app = local.factory()();
        auto book = app->open("f");
        EXPECT_EQ(findTableColumn(*book->worksheet("s")), r.column) << r.name;
    }
}

TEST_F(Fixture, WritesTheTableInOrderAndSavesTheActivatedSheet) {
    prepare({{1, "SPECIA"}, {2, "ABUNDENTA"}});
    saved().set(5, 4, CellValue::text("below row 1 is overwritten"));
    job::saveIndicesTable(engine.factory(), "/d/a.xls", "Date", dateSheetResults(), handles);

    const FakeSheet& s = saved();
    EXPECT_EQ(s.get(1, 3), CellValue::text("."));
    EXPECT_EQ(s.get(1, 4), CellValue::text("Indici"));
    EXPECT_EQ(s.get(1, 5), CellValue::text("Valoare"));
    EXPECT_EQ(s.get(2, 3), CellValue()) << "the marker column holds only the dot";
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(s.get(i + 2, 4), CellValue::text(kResultLabels[std::size_t(i)]));
    const double expected[] = {12,
                               0.3,
                               0.7,
                               3.3333333333333335,
                               1.2798542258336676,
                               0.9232196723355077,
                               1.2132046563990124,
                               0.4,
                               0.5025304916609273,
                               0.6514417228548778,
                               0.4,
                               0.45154499349597177};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(s.get(i + 2, 5), CellValue::number(expected[i]));
    EXPECT_EQ(s.columnWidths, (std::map<int, double>{{3, 6}, {4, 22}, {5, 10}}));
    EXPECT_EQ(s.columnAlignments, (std::map<int, int>{{3, -4108}, {4, -4131}}));
    EXPECT_EQ(s.columnFormats, (std::map<int, std::string>{{3, "0"}, {5, "0.000"}}));
    EXPECT_EQ(s.bold, (std::map<std::pair<int, int>, bool>{{{1, 4}, true}, {{1, 5}, true}}));
    EXPECT_EQ(s.borders, (std::vector<std::vector<int>>{{1, 4, 13, 5, 1, 2}}));
    EXPECT_EQ(engine.files["/d/a.xls"].activeSheet, "Date");

    // 27 writes: row 1, the names top to bottom, the values top to bottom; then the formatting in table
    // order.
    std::vector<std::string> ops;
    for (const auto& e : engine.log)
        if (e.rfind("write", 0) != 0 && e.rfind("cell", 0) != 0) ops.push_back(e);
    EXPECT_EQ(engine.count("write"), 27);
    EXPECT_EQ(
        ops, (std::vector<std::string>{"start", "open /d/a.xls", "pick Date", "width 3", "width 4", "width 5",
                                       "align 3", "align 4", "format 3 0", "format 5 0.000", "bold 1 4",
                                       "bold 1 5", "border", "activate Date", "close save", "quit"}));
    EXPECT_EQ(engine.log[5], "write 1 3 .");
    EXPECT_EQ(engine.log[8], "write 2 4 bogatia de specii");
    EXPECT_EQ(engine.log[20], "write 2 5 12");
    EXPECT_FALSE(handles.application || handles.workbook || handles.worksheet);
    EXPECT_EQ(engine.openApplications, 0);
}

TEST_F(Fixture, ASecondRunGoesThreeColumnsFurther) {
    prepare({{1, "SPECIA"}, {2, "ABUNDENTA"}});
    job::saveIndicesTable(engine.factory(), "/d/a.xls", "Date", dateSheetResults(), handles);
    job::saveIndicesTable(engine.factory(), "/d/a.xls", "Date", dateSheetResults(), handles);
    EXPECT_EQ(saved().get(1, 6), CellValue::text("."));
    EXPECT_EQ(saved().get(1, 8), CellValue::text("Valoare"));
    EXPECT_EQ(saved().get(1, 5), CellValue::text("Valoare")) << "the first table stays";
}

TEST_F(Fixture, AFailureLeavesTheHandlesForTheErrorPathAndSavesNothing) {
    prepare({{1, "SPECIA"}, {2, "ABUNDENTA"}});
    engine.fail("bold", err::Application, 1);
    EXPECT_RUNTIME_ERROR(
        job::saveIndicesTable(engine.factory(), "/d/a.xls", "Date", dateSheetResults(), handles),
        err::Application, "bold 1 5");
    ASSERT_TRUE(handles.workbook && handles.application && handles.worksheet);
    job::abandon(handles);
    EXPECT_EQ(engine.log.back(), "quit");
    EXPECT_EQ(engine.count("close"), 1);
    EXPECT_EQ(engine.files["/d/a.xls"].saves, 0);
    EXPECT_EQ(saved().get(1, 3), CellValue()) << "nothing of the half-written table reached the file";
    EXPECT_FALSE(handles.application || handles.workbook || handles.worksheet);
}

TEST_F(Fixture, TheTableColumnOverflowsPast16Bits) {
    FakeSheet& s = prepare({});
    for (int c = 2; c <= 32767; ++c)
        s.set(1, c, CellValue::number(c));
    EXPECT_RUNTIME_ERROR(
        job::saveIndicesTable(engine.factory(), "/d/a.xls", "Date", dateSheetResults(), handles),
        err::Overflow, "");
}
