// Every operation of Spreadsheet.h, one table run on the same workbook as .xls, .xlsx and .ods: the three
// engines answer alike, refusals and all, and what they save reads back the same.

#include "XlsTestFiles.h"
#include "spreadsheet/NativeEngine.h"
#include "support/ErrorAssert.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

using namespace ordana;
using namespace ordana::spreadsheet;
using namespace ordana::testing;

namespace ordana {
void PrintTo(const CellValue& v, std::ostream* os) {
    *os << int(v.kind()) << ":" << v.toText();
}
} // namespace ordana

namespace {

using Op = std::function<void(Workbook&, Worksheet&)>; // the worksheet is "Lista"

const char* const kNotFinite = "numar finit si nu poate fi scrisa in celula B2";

std::shared_ptr<Workbook> openFile(const std::string& path) {
    return nativeApplicationFactory()()->open(path);
}

class EngineContract : public ::testing::TestWithParam<const char*> {
  protected:
    std::string fixture() const { return GetParam(); }
};

TEST_P(EngineContract, ListsFindsAndReadsTheSameWorkbook) {
    auto wb = openFile((fixtures() / fixture()).string());
    ASSERT_EQ(wb->worksheetCount(), 6);
    const char* const names[] = {"Date", "Note", "Lista", "Ascunsa", "Grafic", "Plin"};
    for (std::int16_t i = 1; i <= 6; ++i)
        EXPECT_EQ(wb->worksheetName(i), names[i - 1]);
    const struct {
        const char* asked;
        const char* found;
    } lookups[] = {{"Date", "Date"}, {"date", "Date"}, {"NOTE", "Note"}, {"Ascunsa", "Ascunsa"}};
    for (const auto& l : lookups)
        EXPECT_EQ(wb->worksheet(l.asked)->name(), l.found) << l.asked;
    const struct {
        const char* sheet;
        std::int16_t row, column;
        CellValue value;
    } cells[] = {
        {"Date", 1, 1, CellValue::text("SPECIA")}, {"Date", 1, 3, CellValue()},
        {"Note", 1, 2, CellValue::number(3.25)},   {"Note", 2, 2, CellValue::number(-3.75)},
        {"Note", 3, 2, CellValue::text("abcd")},   {"Note", 5, 2, CellValue::error(0x07)},
        {"Ascunsa", 3, 2, CellValue::number(9)},   {"Date", 32767, 256, CellValue()},
    };
    for (const auto& c : cells)
        EXPECT_EQ(wb->worksheet(c.sheet)->cell(c.row, c.column), c.value)
            << c.sheet << " " << c.row << "," << c.column;
    wb->close(false);
}

// Refused with the same number whichever engine is asked, and nothing written.
TEST_P(EngineContract, RefusalsCarryTheSameNumber) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        int number;
        const char* fragment;
        Op op;
    } rows[] = {
        {"index 0", err::SubscriptOutOfRange, "", [](Workbook& b, Worksheet&) { b.worksheetName(0); }},
        {"index -1", err::SubscriptOutOfRange, "", [](Workbook& b, Worksheet&) { b.worksheetName(-1); }},
        {"index past", err::SubscriptOutOfRange, "", [](Workbook& b, Worksheet&) { b.worksheetName(7); }},
        {"absent", err::SubscriptOutOfRange, "", [](Workbook& b, Worksheet&) { b.worksheet("Nu exista"); }},
        {"no name", err::SubscriptOutOfRange, "", [](Workbook& b, Worksheet&) { b.worksheet(""); }},
        {"row 0", err::Application, "in afara foii", [](Workbook&, Worksheet& s) { s.cell(0, 1); }},
        {"column 0", err::Application, "in afara foii", [](Workbook&, Worksheet& s) { s.cell(1, 0); }},
        {"write row -1", err::Application, "in afara foii",
         [](Workbook&, Worksheet& s) { s.setCell(-1, 1, CellValue::number(1)); }},
        {"width of column 0", err::Application, "in afara foii",
         [](Workbook&, Worksheet& s) { s.setColumnWidth(0, 5); }},
        {"infinity", err::Application, kNotFinite,
         [inf](Workbook&, Worksheet& s) { s.setCell(2, 2, CellValue::number(inf)); }},
        {"minus infinity", err::Application, kNotFinite,
         [inf](Workbook&, Worksheet& s) { s.setCell(2, 2, CellValue::number(-inf)); }},
        {"not a number", err::Application, kNotFinite,
         [](Workbook&, Worksheet& s) { s.setCell(2, 2, CellValue::number(std::nan(""))); }},
        {"not UTF-8", err::Application, "nu poate fi scris in celula B2",
         [](Workbook&, Worksheet& s) { s.setCell(2, 2, CellValue::text("a\xff")); }},
        {"alignment", err::Application, "Alinierea",
         [](Workbook&, Worksheet& s) { s.setColumnHorizontalAlignment(3, 12345); }},
        {"line style", err::Application, "chenar",
         [](Workbook&, Worksheet& s) { s.borderAround(1, 1, 2, 2, 12345, WeightThin); }},
        {"weight", err::Application, "chenar",
         [](Workbook&, Worksheet& s) { s.borderAround(1, 1, 2, 2, LineStyleContinuous, 77); }},
        {"weight of a dash", err::Application, "chenar",
         [](Workbook&, Worksheet& s) { s.borderAround(1, 1, 2, 2, LineStyleDash, 0); }},
        {"weight of no line", err::Application, "chenar",
         [](Workbook&, Worksheet& s) { s.borderAround(1, 1, 2, 2, LineStyleNone, 3); }},
        {"width", err::Application, "", [](Workbook&, Worksheet& s) { s.setColumnWidth(3, 256); }},
        {"negative width", err::Application, "", [](Workbook&, Worksheet& s) { s.setColumnWidth(3, -1); }},
    };
    ScratchDir dir;
    const std::string path = dir.copy(fixture());
    const auto before = fileBytes(path);
    auto wb = openFile(path);
    auto ws = wb->worksheet("Lista");
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_RUNTIME_ERROR(r.op(*wb, *ws), r.number, r.fragment);
    }
    EXPECT_EQ(ws->cell(2, 2), CellValue::number(2)) << "a refused value leaves the cell";
    wb->close(true);
    EXPECT_EQ(fileBytes(path), before) << "refusals change nothing";
}

// Every value and every formatting code, saved, read back from the file opened again.
TEST_P(EngineContract, WhatIsWrittenReadsBackAfterTheSave) {
    const struct {
        std::int16_t row, column;
        CellValue written, read; // read: as written when empty and written is not
    } cells[] = {
        {2, 2, CellValue::number(1.5), {}},
        {3, 2, CellValue::number(-1e300), {}},
        {4, 2, CellValue::number(-0.0), CellValue::number(0)},
        {5, 2, CellValue::number(0.1 + 0.2), {}},
        {6, 2, CellValue::number(123456789012345.0), {}},
        {2, 1, CellValue::text("\xC4\x83\xC3\xAE\xC8\x99\xC8\x9B\xC3\xA2 \xE2\x82\xAC"), {}},
        {3, 1, CellValue::text("=1+1"), {}},
        {4, 1, CellValue::text("#N/A"), {}},
        {5, 1, CellValue::text(std::string(300, 'x')), {}},
        {6, 1, CellValue::text(" spatii  "), {}},
        {7, 1, CellValue::boolean(true), {}},
        {7, 2, CellValue::boolean(false), {}},
        {8, 1, CellValue::error(0x2A), {}},
        {8, 2, CellValue::error(0x07), {}},
        {1, 1, CellValue(), CellValue()},
        {1, 5, CellValue::number(7), {}},
        {1, 6, CellValue(), CellValue()},
    };
    const std::int32_t aligns[] = {AlignGeneral,
                                   AlignLeft,
                                   AlignCenter,
                                   AlignRight,
                                   AlignFill,
                                   AlignJustify,
                                   AlignCenterAcrossSelection,
                                   AlignDistributed};
    const std::int32_t lines[] = {LineStyleNone,       LineStyleContinuous,  LineStyleDash,
                                  LineStyleDot,        LineStyleDouble,      LineStyleDashDot,
                                  LineStyleDashDotDot, LineStyleSlantDashDot};
    const std::int32_t weights[] = {WeightHairline, WeightThin, WeightMedium, WeightThick};

    ScratchDir dir;
    const std::string path = dir.copy(fixture());
    auto wb = openFile(path);
    auto ws = wb->worksheet("Lista");
    for (const auto& c : cells)
        ws->setCell(c.row, c.column, c.written);
    std::int16_t column = 10;
    for (std::int32_t a : aligns) {
        SCOPED_TRACE(a);
        ws->setColumnHorizontalAlignment(column++, a);
    }
    // The formats all three write; .ods refuses any other (1004), .xls and .xlsx take any.
    for (const char* format : {"0", "0.000"})
        ws->setColumnNumberFormat(column++, format);
    for (double width : {0.0, 8.43, 255.0})
        ws->setColumnWidth(column++, width);
    ws->setBold(1, 1, true);
    ws->setBold(1, 2, true);
    ws->setBold(1, 2, false);
    std::int16_t row = 20;
    for (std::int32_t line : lines)
        for (std::int32_t weight : weights) {
            SCOPED_TRACE(std::to_string(line) + " " + std::to_string(weight));
            ws->borderAround(row, 2, row + 1, 4, line, weight);
            row = std::int16_t(row + 3);
        }
    // Texts a format may not hold: refused, or read back whole; never a file that does not open again.
    const std::string mayRefuse[] = {"a\x01\x02 b", std::string(40000, 'y')};
    bool kept[std::size(mayRefuse)] = {};
    for (std::size_t i = 0; i < std::size(mayRefuse); ++i)
        try {
            ws->setCell(std::int16_t(9 + i), 1, CellValue::text(mayRefuse[i]));
            kept[i] = true;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), err::Application) << e.description();
        }
    wb->worksheet("Plin")->activate();
    wb->close(true);

    auto again = openFile(path);
    auto back = again->worksheet("Lista");
    for (const auto& c : cells) {
        const CellValue& expected = c.read.isEmpty() && !c.written.isEmpty() ? c.written : c.read;
        EXPECT_EQ(back->cell(c.row, c.column), expected) << c.row << "," << c.column;
    }
    for (std::size_t i = 0; i < std::size(mayRefuse); ++i)
        EXPECT_EQ(back->cell(std::int16_t(9 + i), 1).toText(), kept[i] ? mayRefuse[i] : "") << i;
    EXPECT_EQ(back->cell(20, 2), CellValue()) << "a frame adds no value";
    EXPECT_EQ(again->worksheet("Date")->cell(2, 2), CellValue::number(10)) << "other sheets keep theirs";
    again->close(false);
}

// A worksheet whose every call goes through a handle of its own, gone when the call returns: the engine
// gives the sheet's index back in between, and may read it again, but loses nothing that was written.
class AHandlePerCall : public Worksheet {
  public:
    AHandlePerCall(Workbook& book, std::string name) : book_(book), name_(std::move(name)) {}
    std::string name() const override { return book_.worksheet(name_)->name(); }
    CellValue cell(std::int16_t r, std::int16_t c) override { return sheet()->cell(r, c); }
    void setCell(std::int16_t r, std::int16_t c, const CellValue& v) override { sheet()->setCell(r, c, v); }
    void setColumnWidth(std::int16_t c, double w) override { sheet()->setColumnWidth(c, w); }
    void setColumnHorizontalAlignment(std::int16_t c, std::int32_t a) override {
        sheet()->setColumnHorizontalAlignment(c, a);
    }
    void setColumnNumberFormat(std::int16_t c, const std::string& f) override {
        sheet()->setColumnNumberFormat(c, f);
    }
    void setBold(std::int16_t r, std::int16_t c, bool b) override { sheet()->setBold(r, c, b); }
    void borderAround(std::int16_t r1, std::int16_t c1, std::int16_t r2, std::int16_t c2, std::int32_t line,
                      std::int32_t weight) override {
        sheet()->borderAround(r1, c1, r2, c2, line, weight);
    }
    void activate() override { sheet()->activate(); }

  private:
    std::shared_ptr<Worksheet> sheet() const { return book_.worksheet(name_); }
    Workbook& book_;
    std::string name_;
};

// Cells past the first rows, whole columns formatted, a frame and bold text, on two sheets, each read back.
void writeTwoSheets(Workbook& book,
                    const std::function<std::shared_ptr<Worksheet>(const std::string&)>& sheet) {
    for (const char* name : {"Lista", "Date"}) {
        const auto ws = sheet(name);
        for (std::int16_t r = 1; r <= 40; ++r)
            ws->setCell(r, 8, CellValue::number(r / 4.0));
        ws->setCell(1, 9, CellValue::text("Indici"));
        ws->setColumnWidth(8, 12);
        ws->setColumnHorizontalAlignment(9, AlignCenter);
        ws->setColumnNumberFormat(8, "0.000");
        ws->setBold(1, 9, true);
        ws->borderAround(1, 8, 40, 9, LineStyleContinuous, WeightThin);
        EXPECT_EQ(ws->cell(40, 8), CellValue::number(10)) << name;
        EXPECT_EQ(ws->cell(1, 9), CellValue::text("Indici")) << name;
        ws->activate();
    }
    book.worksheet("Lista")->setCell(41, 8, CellValue::text("din nou"));
}

// A sheet's index given back between calls and read again saves what one handle held through all of them
// saves, byte for byte.
TEST_P(EngineContract, HandlesDroppedBetweenCallsSaveWhatOneHandleSaves) {
    ScratchDir dir;
    const std::string held = dir.copy(fixture()), dropped = (dir.path() / ("each-" + fixture())).string();
    std::filesystem::copy_file(held, dropped);
    auto one = openFile(held);
    std::map<std::string, std::shared_ptr<Worksheet>> handles;
    writeTwoSheets(*one, [&](const std::string& name) { return handles[name] = one->worksheet(name); });
    one->close(true);
    auto each = openFile(dropped);
    writeTwoSheets(*each,
                   [&](const std::string& name) { return std::make_shared<AHandlePerCall>(*each, name); });
    each->close(true);
    EXPECT_EQ(fileBytes(dropped), fileBytes(held));
}

// close(false) writes nothing whatever was changed; after either close the workbook and its sheets refuse.
TEST_P(EngineContract, CloseWithoutSavingWritesNothingAndAClosedBookRefuses) {
    ScratchDir dir;
    const std::string path = dir.copy(fixture());
    const auto before = fileBytes(path);
    auto wb = openFile(path);
    auto ws = wb->worksheet("Date");
    ws->setCell(1, 3, CellValue::text("x"));
    ws->setColumnWidth(3, 30);
    ws->setBold(1, 1, true);
    ws->borderAround(1, 1, 5, 2, LineStyleContinuous, WeightThin);
    wb->worksheet("Lista")->activate();
    wb->close(false);
    EXPECT_EQ(fileBytes(path), before);

    const Op afterClose[] = {
        [](Workbook& b, Worksheet&) { b.worksheetCount(); },
        [](Workbook& b, Worksheet&) { b.worksheetName(1); },
        [](Workbook& b, Worksheet&) { b.worksheet("Date"); },
        [](Workbook& b, Worksheet&) { b.close(false); },
        [](Workbook& b, Worksheet&) { b.close(true); },
        [](Workbook&, Worksheet& s) { s.name(); },
        [](Workbook&, Worksheet& s) { s.cell(1, 1); },
        [](Workbook&, Worksheet& s) { s.setCell(1, 1, CellValue::number(1)); },
        [](Workbook&, Worksheet& s) { s.setColumnWidth(1, 10); },
        [](Workbook&, Worksheet& s) { s.setColumnHorizontalAlignment(1, AlignCenter); },
        [](Workbook&, Worksheet& s) { s.setColumnNumberFormat(1, "0"); },
        [](Workbook&, Worksheet& s) { s.setBold(1, 1, true); },
        [](Workbook&, Worksheet& s) { s.borderAround(1, 1, 2, 2, LineStyleContinuous, WeightThin); },
        [](Workbook&, Worksheet& s) { s.activate(); },
    };
    for (std::size_t i = 0; i < std::size(afterClose); ++i) {
        SCOPED_TRACE(i);
        EXPECT_RUNTIME_ERROR(afterClose[i](*wb, *ws), err::Application, "a fost inchis");
    }
    EXPECT_EQ(fileBytes(path), before);
}

// A save with nothing to change leaves the file alone: its bytes and its time of change.
TEST_P(EngineContract, ASaveThatChangesNothingWritesNothing) {
    ScratchDir dir;
    const std::string path = dir.copy(fixture());
    const auto before = fileBytes(path);
    const auto stamp = std::filesystem::last_write_time(path) - std::chrono::hours(1);
    std::filesystem::last_write_time(path, stamp);
    auto wb = openFile(path);
    for (std::int16_t i = 1; i <= wb->worksheetCount(); ++i)
        (void)wb->worksheet(wb->worksheetName(i))->cell(2, 2);
    wb->worksheet("Ascunsa")->activate(); // a hidden sheet is never the one shown
    wb->close(true);
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
}

INSTANTIATE_TEST_SUITE_P(Formats, EngineContract,
                         ::testing::Values("basic-libreoffice.xls", "basic-libreoffice.xlsx",
                                           "basic-libreoffice.ods"),
                         [](const auto& info) {
                             const std::string f = info.param;
                             return f.substr(f.rfind('.') + 1);
                         });

} // namespace
