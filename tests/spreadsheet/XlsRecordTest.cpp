// The BIFF8 record layer on hand-laid streams: every cell record kind, the string table across CONTINUE
// records, edits that split and replace records, index records, and hostile input.

#include "BiffBuilder.h"
#include "common/Text.h"
#include "spreadsheet/xls/Sheet.h"
#include "spreadsheet/xls/WorkbookStream.h"
#include "support/ErrorAssert.h"

#include <cmath>
#include <functional>

using namespace ordana;
using namespace ordana::spreadsheet::xls;
using namespace ordana::testing;

namespace {

Bytes kindsStream() {
    return buildStream({{"Tipuri", everyCellKind()}}, trickySst());
}

std::string show(const CellValue& v) {
    switch (v.kind()) {
    case CellValue::Kind::Empty:
        return "empty";
    case CellValue::Kind::Number: {
        char b[32];
        std::snprintf(b, sizeof b, "%.17g", v.numberValue());
        return b;
    }
    case CellValue::Kind::Text:
        return "'" + v.textValue() + "'";
    case CellValue::Kind::Boolean:
        return v.booleanValue() ? "true" : "false";
    case CellValue::Kind::Error:
        return errorText(v.errorCode());
    }
    return "?";
}

struct Expected {
    int row, col;
    const char* value;
};

const Expected kKinds[] = {
    {0, 0, "3.25"},     {0, 1, "42"},
    {0, 2, "1.23"},     {0, 3, "1.5"},
    {0, 4, "empty"},    {1, 0, "1"},
    {1, 1, "2"},        {1, 2, "3"},
    {2, 0, "'inline'"}, {2, 1, "'\xC4\x83\xC8\x99'"},
    {2, 2, "'bogat'"},  {2, 3, "'abcdef\xC8\x99\xC8\x9Bxy'"},
    {3, 0, "true"},     {3, 1, "#DIV/0!"},
    {3, 2, "empty"},    {3, 4, "empty"},
    {4, 0, "2.5"},      {4, 1, "'rez'"},
    {4, 2, "true"},     {4, 3, "#N/A"},
    {4, 4, "''"},       {200, 200, "empty"},
};

// The absolute positions INDEX gives for DBCELL records, and what each DBCELL says, agree with the stream.
void expectCellIndexConsistent(const Bytes& s, std::size_t sheetBegin) {
    const auto recs = records(s, sheetBegin);
    std::vector<std::size_t> offsets;
    std::size_t pos = sheetBegin;
    std::vector<std::uint32_t> dbcells;
    std::size_t indexAt = SIZE_MAX;
    for (const auto& r : recs) {
        offsets.push_back(pos);
        if (r.type == rt::Index) indexAt = pos;
        if (r.type == rt::DbCell) dbcells.push_back(std::uint32_t(pos));
        pos += 4 + r.data.size();
        if (r.type == rt::Eof) break;
    }
    if (indexAt != SIZE_MAX) {
        const std::size_t n = (get16(&s[indexAt + 2]) - 16) / 4;
        ASSERT_EQ(n, dbcells.size());
        for (std::size_t k = 0; k < n; ++k)
            EXPECT_EQ(get32(&s[indexAt + 4 + 16 + 4 * k]), dbcells[k]);
    }
    for (std::uint32_t db : dbcells) {
        const std::size_t firstRow = db - get32(&s[db + 4]);
        ASSERT_EQ(get16(&s[firstRow]), rt::Row);
        std::size_t cell = firstRow + 20;
        const std::size_t count = (get16(&s[db + 2]) - 4) / 2;
        for (std::size_t k = 0; k < count; ++k) {
            cell += get16(&s[db + 8 + 2 * k]);
            ASSERT_LT(cell, s.size());
            const std::uint16_t t = get16(&s[cell]);
            EXPECT_TRUE(t == rt::Number || t == rt::Rk || t == rt::MulRk || t == rt::LabelSst ||
                        t == rt::Label || t == rt::RString || t == rt::BoolErr || t == rt::Blank ||
                        t == rt::MulBlank || t == rt::Formula || t == rt::DbCell)
                << "DBCELL offset " << k << " lands on record " << std::hex << t;
        }
    }
}

} // namespace

TEST(XlsRecords, EveryCellKindReads) {
    WorkbookStream book(kindsStream());
    ASSERT_EQ(book.worksheets().size(), 1u);
    Sheet& sheet = book.sheet(book.worksheets()[0]);
    for (const auto& e : kKinds)
        EXPECT_EQ(show(sheet.value(e.row, e.col)), e.value) << "row " << e.row << " col " << e.col;
}

TEST(XlsRecords, StringTableAcrossContinueRecords) {
    WorkbookStream book(kindsStream());
    const auto& sst = book.strings();
    ASSERT_EQ(sst.size(), 4u);
    EXPECT_EQ(sst.text(0), "ab");
    EXPECT_EQ(sst.text(1), "abcdef\xC8\x99\xC8\x9Bxy");
    EXPECT_EQ(sst.text(2), "\xCE\xA9");
    EXPECT_EQ(sst.text(3), "zz");
}

TEST(XlsRecords, NewStringsAppendAfterTheLastAndSplitAtTheRecordLimit) {
    WorkbookStream book(kindsStream());
    Sheet& sheet = book.sheet(0);
    const std::string longText(9000, 'q');
    std::string wide;
    for (int i = 0; i < 5000; ++i)
        wide += "\xC8\x99"; // 16-bit characters that must split on a whole character
    sheet.setValue(6, 0, CellValue::text(longText));
    sheet.setValue(6, 1, CellValue::text(wide));
    sheet.setValue(6, 2, CellValue::text("zz")); // already in the table: no new string
    const Bytes saved = book.serialize();
    for (const auto& r : records(saved))
        EXPECT_LE(r.data.size(), kMaxRecordData);
    WorkbookStream again(saved);
    EXPECT_EQ(again.strings().size(), 6u);
    Sheet& s2 = again.sheet(0);
    EXPECT_EQ(s2.value(6, 0).textValue(), longText);
    EXPECT_EQ(s2.value(6, 1).textValue(), wide);
    EXPECT_EQ(s2.value(6, 2).textValue(), "zz");
    for (const auto& e : kKinds)
        EXPECT_EQ(show(s2.value(e.row, e.col)), e.value) << "row " << e.row << " col " << e.col;
}

// A text the table already holds is found there, however its string is stored (with formatting runs, split
// over records with a change of width, with extended data); one of the same length but other characters is
// new. Only the strings of a text's length are read to look, so the length must be counted in characters.
TEST(XlsRecords, AKnownTextReusesItsStringHoweverItIsStored) {
    const struct {
        const char* text;
        std::uint32_t index;
    } cases[] = {
        {"ab", 0}, {"abcdef\xC8\x99\xC8\x9Bxy", 1}, {"\xCE\xA9", 2},
        {"zz", 3}, {"abcdef\xC8\x99\xC8\x9Bxz", 4}, {"\xCE\xA8", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WorkbookStream book(kindsStream());
        book.sheet(0).setValue(7, 0, CellValue::text(c.text));
        const Bytes saved = book.serialize();
        WorkbookStream again(saved);
        EXPECT_EQ(again.strings().size(), std::max<std::size_t>(4, c.index + 1));
        for (const auto& r : records(saved))
            if (r.type == rt::LabelSst && get16(r.data.data()) == 7) {
                EXPECT_EQ(get32(&r.data[6]), c.index);
            }
        EXPECT_EQ(again.sheet(0).value(7, 0).textValue(), c.text);
    }
}

// A table that holds more than it counts: readers stop at the count, so a new string must come right after
// the last counted one, not after the uncounted bytes.
TEST(XlsRecords, NewStringsFollowTheLastCountedOneInATableThatHoldsMore) {
    const struct {
        const char* name;
        std::vector<RecordBytes> sst;
    } cases[] = {
        {"surplus in the SST", {{rt::Sst, cat({le32(1), le32(1), str8("ab"), str8("uncounted")})}}},
        {"surplus in a CONTINUE",
         {{rt::Sst, cat({le32(1), le32(1), str8("ab")})}, {rt::Continue, str8("uncounted")}}},
    };
    for (const auto& c : cases) {
        WorkbookStream book(buildStream({{"Date", {}}}, c.sst));
        book.sheet(0).setValue(0, 3, CellValue::text("Indici"));
        book.sheet(0).setValue(1, 3, CellValue::text("ab"));
        WorkbookStream again(book.serialize());
        EXPECT_EQ(again.strings().size(), 2u) << c.name;
        EXPECT_EQ(show(again.sheet(0).value(0, 3)), show(CellValue::text("Indici"))) << c.name;
        EXPECT_EQ(show(again.sheet(0).value(1, 3)), show(CellValue::text("ab"))) << c.name;
    }
}

TEST(XlsRecords, WritesSplitMultiCellRecordsAndDropAFormulasText) {
    WorkbookStream book(kindsStream());
    Sheet& sheet = book.sheet(0);
    sheet.setValue(1, 1, CellValue::text("nou"));    // middle of a MULRK
    sheet.setValue(3, 4, CellValue::number(7));      // middle of a MULBLANK
    sheet.setValue(4, 1, CellValue::number(0.1));    // a formula with a STRING after it
    sheet.setValue(0, 5, CellValue::boolean(false)); // a new cell at the end of a row
    sheet.setValue(9, 2, CellValue::number(-2.5));   // a new row
    sheet.setValue(0, 0, CellValue());               // cleared: a BLANK keeping the format
    const Bytes saved = book.serialize();
    WorkbookStream again(saved);
    Sheet& s2 = again.sheet(0);
    const Expected after[] = {
        {1, 0, "1"},    {1, 1, "'nou'"},
        {1, 2, "3"},    {3, 3, "empty"},
        {3, 4, "7"},    {3, 5, "empty"},
        {4, 0, "2.5"},  {4, 1, "0.10000000000000001"},
        {4, 2, "true"}, {0, 5, "false"},
        {9, 2, "-2.5"}, {0, 0, "empty"},
        {0, 1, "42"},   {2, 3, "'abcdef\xC8\x99\xC8\x9Bxy'"},
    };
    for (const auto& e : after)
        EXPECT_EQ(show(s2.value(e.row, e.col)), e.value) << "row " << e.row << " col " << e.col;

    std::vector<std::uint16_t> row1, strings;
    for (const auto& r : records(saved)) {
        if (r.type == rt::String) strings.push_back(r.type);
        if ((r.type == rt::Rk || r.type == rt::MulRk || r.type == rt::LabelSst) && get16(r.data.data()) == 1)
            row1.push_back(r.type);
    }
    EXPECT_EQ(row1, (std::vector<std::uint16_t>{rt::Rk, rt::LabelSst, rt::Rk}));
    EXPECT_TRUE(strings.empty()) << "the replaced formula's STRING record stayed";
}

TEST(XlsRecords, DimensionsRowsDbcellAndIndexFollowTheEdits) {
    auto recs = everyCellKind();
    recs.insert(recs.begin(), {rt::Index, cat({le32(0), le32(0), le32(5), le32(0), le32(0)})});
    WorkbookStream book(buildStream({{"S", recs}}, trickySst()));
    Sheet& sheet = book.sheet(0);
    sheet.setValue(0, 7, CellValue::number(1));
    sheet.setValue(12, 9, CellValue::text("x"));
    const Bytes saved = book.serialize();
    WorkbookStream again(saved);
    const std::size_t begin = again.sheets()[0].begin;
    expectCellIndexConsistent(saved, begin);
    for (const auto& r : records(saved, begin)) {
        if (r.type == rt::Dimensions) {
            EXPECT_EQ(get32(&r.data[0]), 0u);
            EXPECT_EQ(get32(&r.data[4]), 13u);
            EXPECT_EQ(get16(&r.data[10]), 10u);
        }
        if (r.type == rt::Index) {
            EXPECT_EQ(get32(&r.data[8]), 13u);
        }
        if (r.type == rt::Row && get16(r.data.data()) == 0) {
            EXPECT_EQ(get16(&r.data[4]), 8u) << "row 0 ends after column 7";
        }
        if (r.type == rt::Row && get16(r.data.data()) == 12) {
            EXPECT_EQ(get16(&r.data[2]), 9u);
        }
        if (r.type == rt::Eof) break;
    }
}

TEST(XlsRecords, ColumnRecordsSplitAndMerge) {
    auto recs = everyCellKind();
    recs.insert(recs.begin(), {rt::ColInfo, cat({le16(0), le16(9), le16(2340), le16(15), le16(0), le16(0)})});
    WorkbookStream book(buildStream({{"S", recs}}, trickySst()));
    Sheet& sheet = book.sheet(0);
    sheet.setColumnWidth(3, 6);
    sheet.setColumnWidth(4, 6); // same as 3: one record for 3..4
    ASSERT_TRUE(sheet.column(2));
    EXPECT_EQ(sheet.column(2)->width, 2340);
    EXPECT_EQ(sheet.column(3)->width, 1718);
    EXPECT_EQ(sheet.column(5)->width, 2340);
    std::vector<std::pair<int, int>> ranges;
    for (const auto& r : records(book.serialize(), 0))
        if (r.type == rt::ColInfo) ranges.emplace_back(get16(&r.data[0]), get16(&r.data[2]));
    EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{0, 2}, {3, 4}, {5, 9}}));
}

TEST(XlsRecords, ColumnWidthsCarryExcelsPadding) {
    // 7-pixel digits (Arial 10): whole pixels of text plus 5 pixels of padding, in 1/256 of a digit.
    const struct {
        double characters;
        int stored;
    } rows[] = {{6, 1718}, {22, 5814}, {10, 2742}, {8.43, 2340}, {0.5, 329}};
    for (const auto& r : rows) {
        WorkbookStream book(kindsStream());
        book.sheet(0).setColumnWidth(20, r.characters);
        EXPECT_EQ(book.sheet(0).column(20)->width, r.stored) << r.characters;
    }
    WorkbookStream book(kindsStream());
    EXPECT_RUNTIME_ERROR(book.sheet(0).setColumnWidth(1, 256), err::Application, "Latimea");
}

TEST(XlsRecords, RkHoldsOnlyWhatItRepresentsExactly) {
    const struct {
        double value;
        bool rk;
    } rows[] = {{0, true},
                {1, true},
                {-1, true},
                {42, true},
                {536870911, true},
                {-536870912, true},
                {1.5, true},
                {0.01, true},
                {1.23, true},
                {-3.75, true},
                {0.1, true},
                {3.141592653589793, false},
                {1e300, false},
                {1234567.890625, false},
                {1234567.5, true},
                {-0.25, true},
                {0.45154499349597177, false},
                {NAN, false},
                {INFINITY, false}};
    for (const auto& r : rows) {
        std::uint32_t rk = 0;
        EXPECT_EQ(encodeRk(r.value, rk), r.rk) << r.value;
        if (r.rk) {
            EXPECT_EQ(decodeRk(rk), r.value) << r.value;
        }
    }
}

TEST(XlsRecords, OnlyWorksheetsAreListedHiddenOnesIncluded) {
    SheetSpec chart{"Grafic", {}, 2, 0x0020};
    SheetSpec macro{"Macro", {}, 1, 0x0040};
    SheetSpec hidden{"Ascunsa", {}, 0, 0x0010, 1};
    SheetSpec dialog{"Dialog", {{rt::WsBool, Bytes{0x10, 0x04}}}, 0, 0x0010};
    WorkbookStream book(buildStream({{"Date", {}}, chart, macro, hidden, dialog, {"Ultima", {}}}));
    std::vector<std::string> names;
    for (std::size_t i : book.worksheets())
        names.push_back(book.sheets()[i].name);
    EXPECT_EQ(names, (std::vector<std::string>{"Date", "Ascunsa", "Ultima"}));
}

TEST(XlsRecords, ActivationMovesTheSelectionOnEverySheet) {
    WorkbookStream book(buildStream({{"A", {}}, {"B", {}}, {"C", {}}}));
    book.sheet(1).setValue(0, 0, CellValue::number(1));
    book.setActive(2);
    const Bytes saved = book.serialize();
    WorkbookStream again(saved);
    std::vector<int> flags;
    for (const auto& s : again.sheets())
        flags.push_back(get16(&saved[s.window2.at(0) + 4]) & 0x0600);
    EXPECT_EQ(flags, (std::vector<int>{0, 0, 0x0600}));
    for (const auto& r : records(saved))
        if (r.type == rt::Window1) {
            EXPECT_EQ(get16(&r.data[10]), 2u);
            EXPECT_EQ(get16(&r.data[14]), 1u);
            break;
        }
}

TEST(XlsRecords, NewFormatsGoAfterTheLastAndKeepXfcrcRight) {
    // XFCRC over the XF records, computed bit by bit here independently of the engine's table.
    auto crcOf = [](const std::vector<RecordBytes>& recs) {
        std::uint32_t crc = 0;
        for (const auto& r : recs)
            if (r.type == rt::Xf)
                for (std::uint8_t b : r.data) {
                    crc ^= std::uint32_t(b) << 24;
                    for (int k = 0; k < 8; ++k)
                        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0xAFu : crc << 1;
                }
        return crc;
    };
    Bytes frt = cat({le16(rt::XfCrc), le16(0), le32(0), le32(0), le16(0), le16(16), le32(0)});
    Bytes stream = buildStream({{"A", everyCellKind()}}, trickySst(), {{rt::XfCrc, frt}});
    const std::uint32_t originalCrc = crcOf(records(stream));
    WorkbookStream book(stream);
    Sheet& s = book.sheet(0);
    XfChange bold;
    bold.font = book.boldFont(book.fontOf(s.cellXf(0, 0)), true);
    EXPECT_EQ(*bold.font, 5) << "the sixth font is font 5: there is no font 4";
    s.setCellXf(0, 0, book.deriveXf(s.cellXf(0, 0), bold));
    XfChange centre;
    centre.horizontal = 2;
    centre.format = book.formatIndex("0.000");
    s.formatColumn(1, centre);
    EXPECT_EQ(*centre.format, 164);
    EXPECT_EQ(book.formatIndex("0"), 1);
    const Bytes saved = book.serialize();
    const auto recs = records(saved);
    std::vector<std::uint16_t> order;
    for (const auto& r : recs) {
        if (order.empty() || order.back() != r.type) order.push_back(r.type);
        if (r.type == rt::Eof) break;
        if (r.type == rt::XfCrc) {
            EXPECT_EQ(get16(&r.data[14]), book.xfCount());
            EXPECT_EQ(get32(&r.data[16]), crcOf(recs));
            EXPECT_NE(get32(&r.data[16]), originalCrc);
        }
    }
    EXPECT_EQ(order, (std::vector<std::uint16_t>{rt::Bof, rt::Window1, rt::Font, rt::Format, rt::Xf,
                                                 rt::XfCrc, rt::BoundSheet, rt::Sst, rt::Continue, rt::Eof}));
    WorkbookStream again(saved);
    Sheet& s2 = again.sheet(0);
    EXPECT_EQ(again.fontWeight(again.fontOf(s2.cellXf(0, 0))), 700);
    const auto xf = again.xf(s2.cellXf(1, 1));
    EXPECT_EQ(xf[6] & 0x07, 2);
    EXPECT_EQ(again.formatText(get16(&xf[2])), "0.000");
    EXPECT_EQ(again.xf(s2.column(1)->xf)[6] & 0x07, 2) << "empty cells of the column take it from COLINFO";
}

// What other writers leave out and xlrd reads all the same.
TEST(XlsRecords, AnEmptyTextMayOmitItsFlagsByte) {
    const Bytes stream = buildStream({{"Goale",
                                       {{rt::Label, cat({cellHead(0, 0), le16(0)})},
                                        {rt::Label, cat({cellHead(0, 1), le16(0), Bytes{0}})},
                                        {rt::Label, cat({cellHead(0, 2), str8("dupa")})}}}});
    WorkbookStream book(stream);
    Sheet& sheet = book.sheet(0);
    const Expected cells[] = {{0, 0, "''"}, {0, 1, "''"}, {0, 2, "'dupa'"}};
    for (const auto& e : cells)
        EXPECT_EQ(show(sheet.value(e.row, e.col)), e.value) << "col " << e.col;
    // A written sheet keeps the short record as it was.
    sheet.setValue(1, 0, CellValue::number(1));
    WorkbookStream again(book.serialize());
    EXPECT_EQ(show(again.sheet(0).value(0, 0)), "''");
    EXPECT_EQ(show(again.sheet(0).value(0, 2)), "'dupa'");
}

TEST(XlsRecords, HostileStreamsAreAClearError) {
    using Mutate = std::function<void(Bytes&)>;
    auto at = [](Bytes& s, std::uint16_t type, int nth = 0) -> std::size_t {
        std::size_t pos = 0;
        while (pos + 4 <= s.size()) {
            if (get16(&s[pos]) == type && nth-- == 0) return pos;
            pos += 4 + get16(&s[pos + 2]);
        }
        throw std::logic_error("no such record");
    };
    const struct {
        const char* name;
        Mutate mutate;
        const char* fragment;
    } rows[] = {
        {"empty stream", [](Bytes& s) { s.clear(); }, "trunchiata"},
        {"truncated in the middle", [](Bytes& s) { s.resize(s.size() / 2); }, ""},
        {"truncated before the last EOF", [](Bytes& s) { s.resize(s.size() - 4); }, "trunchiat"},
        {"record longer than the stream", [&](Bytes& s) { put16(&s[at(s, rt::Number) + 2], 0xFFFF); },
         "depaseste"},
        {"not a BOF first", [](Bytes& s) { put16(&s[0], rt::Eof); }, "BOF"},
        {"Excel 5/95 stream", [](Bytes& s) { put16(&s[4], 0x0500); }, "prea vechi"},
        {"encrypted", [&](Bytes& s) { put16(&s[at(s, rt::Window1)], rt::Filepass); }, "parola"},
        {"string index beyond the table", [&](Bytes& s) { put32(&s[at(s, rt::LabelSst) + 10], 99); },
         "tabela de texte"},
        {"string characters beyond the end", [&](Bytes& s) { put16(&s[at(s, rt::Sst) + 12], 60000); },
         "trunchiata"},
        {"column beyond the sheet", [&](Bytes& s) { put16(&s[at(s, rt::Number) + 6], 300); }, "in afara"},
        {"MULRK of a broken length", [&](Bytes& s) { put16(&s[at(s, rt::MulRk) + 2], 23); }, ""},
        {"sheet offset beyond the stream",
         [&](Bytes& s) { put32(&s[at(s, rt::BoundSheet) + 4], 0x7FFFFFF0); }, "pozitie"},
        {"sheet offset inside the globals", [&](Bytes& s) { put32(&s[at(s, rt::BoundSheet) + 4], 0); },
         "pozitie"},
        {"sheet without its BOF", [&](Bytes& s) { put16(&s[at(s, rt::Bof, 1)], rt::Eof); }, "BOF"},
        {"cell record too short",
         [&](Bytes& s) {
             const std::size_t p = at(s, rt::Number);
             put16(&s[p], rt::Formula);
         },
         "prea scurta"},
        {"label running past its record", [&](Bytes& s) { put16(&s[at(s, rt::Label) + 10], 500); },
         "trunchiat"},
        // Numbers a spreadsheet never shows, said as what they are rather than taken for one.
        {"NUMBER of NaN", [&](Bytes& s) { bytes::put64(&s[at(s, rt::Number) + 10], 0x7FF8000000000001); },
         "celula A1 are valoarea numerica \"NaN\", care nu este un numar"},
        {"NUMBER of minus infinity",
         [&](Bytes& s) { bytes::put64(&s[at(s, rt::Number) + 10], 0xFFF0000000000000); },
         "celula A1 are valoarea numerica \"-infinit\", care nu este un numar finit"},
        {"RK of infinity", [&](Bytes& s) { put32(&s[at(s, rt::Rk, 2) + 10], 0x7FF00000); },
         "celula D1 are valoarea numerica \"+infinit\""},
        {"formula result of NaN",
         [&](Bytes& s) { bytes::put64(&s[at(s, rt::Formula) + 10], 0x7FF8000000000000); },
         "celula A5 are valoarea numerica \"NaN\""},
    };
    for (const auto& r : rows) {
        Bytes s = kindsStream();
        r.mutate(s);
        EXPECT_RUNTIME_ERROR(
            {
                WorkbookStream book(s);
                for (std::size_t i : book.worksheets()) {
                    Sheet& sheet = book.sheet(i);
                    for (int row = 0; row < 8; ++row)
                        for (int col = 0; col < 8; ++col)
                            (void)sheet.value(row, col);
                }
            },
            err::Application, r.fragment);
    }
}

// The quick look at a sheet's first rows sees exactly what the whole parse sees there, whatever the order of
// the records: rows in reverse, cells written twice (the later one wins), texts and formula results whose
// records follow the cell.
TEST(XlsRecords, TheFirstRowsReadAloneAsInTheWholeSheet) {
    const struct {
        const char* name;
        int (*row)(int);
    } arrangements[] = {
        {"as laid out", [](int r) { return r; }},
        {"rows in reverse", [](int r) { return 4 - r; }},
        {"every kind in the first two rows, twice over", [](int r) { return r % 2; }},
        {"nothing in the first rows", [](int r) { return r + 2; }},
    };
    for (const auto& a : arrangements) {
        SCOPED_TRACE(a.name);
        auto recs = everyCellKind();
        for (auto& r : recs) {
            const bool rowFirst = r.type == rt::Row || r.type == rt::Number || r.type == rt::Rk ||
                                  r.type == rt::MulRk || r.type == rt::Label || r.type == rt::RString ||
                                  r.type == rt::LabelSst || r.type == rt::BoolErr || r.type == rt::Blank ||
                                  r.type == rt::MulBlank || r.type == rt::Formula;
            if (rowFirst) {
                const int row = a.row(get16(r.data.data()));
                r.data[0] = std::uint8_t(row);
                r.data[1] = std::uint8_t(row >> 8);
            }
        }
        const Bytes stream = buildStream({{"S", recs}}, trickySst());
        WorkbookStream quick(stream), whole(stream);
        const Sheet& preview = quick.preview(0);
        const Sheet& sheet = whole.sheet(0);
        for (int row = 0; row < WorkbookStream::kPreviewRows; ++row)
            for (int col = 0; col < 16; ++col)
                EXPECT_EQ(show(preview.value(row, col)), show(sheet.value(row, col))) << row << "," << col;
        EXPECT_LT(preview.recordCount(), sheet.recordCount());
    }
}

// The quick look reads no further than the last record of its rows, wherever that is: past it, a sheet of
// many rows is not walked again, and what lies there is not judged until the sheet is read whole.
TEST(XlsRecords, TheFirstRowsEndWithTheirLastRecord) {
    auto row = [](int r) {
        return RecordBytes{rt::Row, cat({le16(std::uint32_t(r)), le16(0), le16(2), le16(255), le16(0),
                                         le16(0), le32(0x100)})};
    };
    auto number = [](int r, int c, double v) {
        return RecordBytes{rt::Number, cat({cellHead(r, c), f64(v)})};
    };
    const RecordBytes dbCell{rt::DbCell, le32(0)};
    const RecordBytes text{rt::Label, cat({cellHead(1, 0), str8("abc")})};
    // A column range that ends before it starts: whoever reads that far refuses the sheet.
    const RecordBytes broken{rt::ColInfo, cat({le16(5), le16(2), le16(0), le16(15), le16(0), le16(0)})};
    const struct {
        const char* name;
        std::vector<RecordBytes> records;
        const char* a2;
    } cases[] = {
        {"row blocks closed by DBCELL",
         {row(0), row(1), number(0, 0, 1), number(1, 1, 3), dbCell, row(40), number(40, 0, 4), dbCell,
          broken},
         ""},
        {"no DBCELL", {row(0), row(1), number(0, 0, 1), number(1, 1, 3), number(40, 0, 4), broken}, ""},
        {"a first-row cell after the others",
         {number(0, 0, 1), number(40, 0, 4), number(1, 1, 3), text, broken},
         "abc"},
        {"a formula's text result last",
         {number(0, 0, 1),
          number(1, 1, 3),
          {rt::Formula, formula(1, 0, Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0xFF})},
          {rt::String, str8("rez")},
          broken},
         "rez"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WorkbookStream book(buildStream({{"S", c.records}}));
        const Sheet& preview = book.preview(0);
        EXPECT_EQ(show(preview.value(0, 0)), show(CellValue::number(1)));
        EXPECT_EQ(show(preview.value(1, 1)), show(CellValue::number(3)));
        EXPECT_EQ(show(preview.value(1, 0)), show(*c.a2 ? CellValue::text(c.a2) : CellValue()));
        EXPECT_THROW((void)book.sheet(0), RuntimeError);
    }
}

// A new cell in a row that has a ROW record but no cells goes into the block of that ROW record.
TEST(XlsRecords, ANewCellJoinsTheBlockOfItsRowRecord) {
    auto row = [](int r) {
        return RecordBytes{rt::Row, cat({le16(std::uint32_t(r)), le16(0), le16(1), le16(255), le16(0),
                                         le16(0), le32(0x100)})};
    };
    auto number = [](int r, double v) { return RecordBytes{rt::Number, cat({cellHead(r, 0), f64(v)})}; };
    const RecordBytes dbCell{rt::DbCell, le32(0)};
    const std::vector<RecordBytes> blocks = {row(0), row(1),  row(2),        number(0, 1), number(1, 2),
                                             dbCell, row(40), row(41),       row(42),      number(40, 4),
                                             dbCell, row(80), number(80, 5), dbCell};
    const struct {
        int row;
        int block; // among the DBCELL-closed blocks of the saved sheet
    } cases[] = {{2, 0}, {41, 1}, {42, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(c.row));
        WorkbookStream book(buildStream({{"S", blocks}}));
        book.sheet(0).setValue(c.row, 3, CellValue::number(7));
        const Bytes saved = book.serialize();
        const std::size_t begin = WorkbookStream(saved).sheets()[0].begin;
        int block = 0, found = -1;
        for (const auto& r : records(saved, begin)) {
            if (r.type == rt::DbCell) ++block;
            if (r.type == rt::Rk && get16(r.data.data()) == c.row && get16(&r.data[2]) == 3) found = block;
            if (r.type == rt::Eof) break;
        }
        EXPECT_EQ(found, c.block);
    }
}

// An empty cell shows its row's format, whatever order a producer left the ROW records in; of two for one
// row, the later one counts, as for a reader going through the records.
TEST(XlsRecords, AnEmptyCellTakesItsRowsFormatFromRowRecordsInAnyOrder) {
    auto formattedRow = [](int r, int xf) {
        return RecordBytes{rt::Row, cat({le16(std::uint32_t(r)), le16(0), le16(1), le16(255), le16(0),
                                         le16(0), le32(0x100 | 0x80 | (std::uint32_t(xf) << 16))})};
    };
    const RecordBytes cell{rt::Number, cat({cellHead(9, 0), f64(1)})};
    WorkbookStream book(buildStream(
        {{"S", {formattedRow(9, 17), formattedRow(5, 18), formattedRow(2, 19), formattedRow(5, 20), cell}}}));
    const Sheet& sheet = book.sheet(0);
    for (const auto& [row, xf] : {std::pair{2, 19}, {5, 20}, {9, 17}})
        EXPECT_EQ(sheet.cellXf(row, 3), xf) << "row " << row;
}

// Below the rows the edits reach, a sheet's cell table is copied as it came; whatever the edits bring in
// above still lands in row order, in the right row block, and every cell reads as before.
TEST(XlsRecords, EditsAboveTheRestOfTheCellTableLandInRowOrder) {
    auto row = [](int r) {
        return RecordBytes{rt::Row, cat({le16(std::uint32_t(r)), le16(0), le16(2), le16(255), le16(0),
                                         le16(0), le32(0x100)})};
    };
    auto number = [](int r, int c) {
        return RecordBytes{rt::Number, cat({cellHead(r, c), f64(r * 10 + c)})};
    };
    const std::vector<int> rows = {0, 1, 2, 40, 41, 50, 100};
    std::vector<RecordBytes> rowThenCells, rowsFirst, cellsOnly, blocks;
    for (int r : rows) {
        rowThenCells.push_back(row(r));
        rowsFirst.push_back(row(r));
        for (int c : {0, 1}) {
            rowThenCells.push_back(number(r, c));
            cellsOnly.push_back(number(r, c));
        }
    }
    rowsFirst.insert(rowsFirst.end(), cellsOnly.begin(), cellsOnly.end());
    // Row blocks by 32-row bucket: rows 0-2, then 40-50 (where a new row 35 belongs), then 100.
    for (const std::vector<int>& block : {std::vector<int>{0, 1, 2}, {40, 41, 50}, {100}}) {
        for (int r : block)
            blocks.push_back(row(r));
        for (int r : block)
            for (int c : {0, 1})
                blocks.push_back(number(r, c));
        blocks.push_back({rt::DbCell, cat({le32(0), Bytes(2 * block.size(), 0)})});
    }
    const std::pair<const char*, std::vector<RecordBytes>> layouts[] = {
        {"each ROW before its cells", rowThenCells},
        {"every ROW first", rowsFirst},
        {"no ROW records", cellsOnly},
        {"row blocks closed by DBCELL", blocks},
    };
    const struct {
        const char* what;
        int row, col;
        bool format; // only a new format, else the value 7
    } edits[] = {
        {"a new row between rows", 35, 3, false},     {"a new cell in a row", 41, 3, false},
        {"a value over a cell", 50, 1, false},        {"a format only", 40, 1, true},
        {"a new row below every row", 200, 0, false},
    };
    for (const auto& [layout, laid] : layouts)
        for (const auto& e : edits) {
            SCOPED_TRACE(std::string(layout) + ", " + e.what);
            Bytes stream = buildStream({{"S", laid}});
            fillCellIndex(stream);
            WorkbookStream book(stream);
            if (e.format)
                book.sheet(0).setCellXf(e.row, e.col, 16);
            else
                book.sheet(0).setValue(e.row, e.col, CellValue::number(7));
            const Bytes saved = book.serialize();
            WorkbookStream reread(saved);
            const std::size_t begin = reread.sheets()[0].begin;
            std::vector<int> rowRecords;
            std::pair<int, int> lastCell{-1, -1};
            for (const auto& r : records(saved, begin)) {
                if (r.type == rt::Eof) break;
                if (r.type == rt::Row) rowRecords.push_back(get16(r.data.data()));
                if (r.type != rt::Number && r.type != rt::Rk) continue;
                const std::pair<int, int> cell{int(get16(r.data.data())), int(get16(&r.data[2]))};
                EXPECT_LT(lastCell, cell) << "cell " << cell.first << "," << cell.second;
                lastCell = cell;
            }
            EXPECT_TRUE(std::is_sorted(rowRecords.begin(), rowRecords.end()));
            expectCellIndexConsistent(saved, begin);
            Sheet& sheet = reread.sheet(0);
            for (int r : rows)
                for (int c : {0, 1})
                    if (e.format || r != e.row || c != e.col) {
                        EXPECT_EQ(show(sheet.value(r, c)), show(CellValue::number(r * 10 + c)));
                    }
            EXPECT_EQ(show(sheet.value(e.row, e.col)),
                      show(CellValue::number(e.format ? e.row * 10 + e.col : 7)));
            if (e.format) {
                EXPECT_EQ(sheet.cellXf(e.row, e.col), 16);
            }
        }
}

namespace {

// How the formula cells of a written sheet hang together, in record order: "E14>E13" for a FORMULA that
// points to the host E13, "SHRFMLA[E14:E16]@E14" for a range record and the cell whose FORMULA it follows.
std::string formulaLinks(const Bytes& stream) {
    auto at = [](const Bytes& d, std::size_t o) {
        return text::cellAddress(get16(&d[o]) + 1, get16(&d[o + 2]) + 1);
    };
    std::string out, previous;
    for (const auto& r : records(stream)) {
        const Bytes& d = r.data;
        if (r.type == rt::Formula && d.size() >= 27 && (d[22] == 0x01 || d[22] == 0x02))
            out += at(d, 0) + ">" + at(d, 23) + " ";
        if (r.type == rt::ShrFmla || r.type == rt::Array || r.type == rt::Table) {
            const char* name = r.type == rt::ShrFmla ? "SHRFMLA" : r.type == rt::Array ? "ARRAY" : "TABLE";
            out += std::string(name) + "[" + text::cellAddress(get16(&d[0]) + 1, d[4] + 1) + ":" +
                   text::cellAddress(get16(&d[2]) + 1, d[5] + 1) + "]@" + previous + " ";
        }
        previous = r.type == rt::Formula ? at(d, 0) : "-";
    }
    if (!out.empty()) out.pop_back();
    return out;
}

std::pair<int, int> cellOf(const std::string& a1) {
    return {std::stoi(a1.substr(1)) - 1, a1[0] - 'A'};
}

struct FormulaRangeCase {
    const char* name;
    std::vector<std::string> written; // cells the table writes
    std::string links;                // formulaLinks of the saved sheet, or the fragment of the refusal
    bool refused = false;
};

const char* const kUntouched =
    "F13>F13 ARRAY[F13:F14]@F13 G13>G13 TABLE[G13:G14]@G13 H13>H13 SHRFMLA[H13:I14]@H13 "
    "I13>H13";

} // namespace

// Writing over the host of a shared formula moves the formula to a cell that keeps it; an array formula or a
// data table goes only whole, and a write over part of one is refused before anything is saved.
TEST(XlsRecords, WritingOverAFormulaHostKeepsTheOtherFormulaCells) {
    const std::string untouched = kUntouched;
    const FormulaRangeCase cases[] = {
        {"nothing written",
         {},
         "E13>E13 SHRFMLA[E13:E16]@E13 " + std::string(kUntouched) +
             " E14>E13 F14>F13 G14>G13 H14>H13 I14>H13 E15>E13 E16>E13"},
        {"host E13",
         {"E13"},
         untouched + " E14>E14 SHRFMLA[E14:E16]@E14 F14>F13 G14>G13 H14>H13 I14>H13 E15>E14 E16>E14"},
        {"host and the next",
         {"E13", "E14"},
         untouched + " F14>F13 G14>G13 H14>H13 I14>H13 E15>E15 SHRFMLA[E15:E16]@E15 E16>E15"},
        {"the whole shared range",
         {"E13", "E14", "E15", "E16"},
         untouched + " F14>F13 G14>G13 H14>H13 I14>H13"},
        {"a member only",
         {"E14"},
         "E13>E13 SHRFMLA[E13:E16]@E13 " + untouched + " F14>F13 G14>G13 H14>H13 I14>H13 E15>E13 E16>E13"},
        {"host and the far corner of a block",
         {"H13", "I14"},
         "E13>E13 SHRFMLA[E13:E16]@E13 F13>F13 ARRAY[F13:F14]@F13 G13>G13 TABLE[G13:G14]@G13 I13>I13 "
         "SHRFMLA[I13:I13]@I13 E14>E13 F14>F13 G14>G13 H14>H14 SHRFMLA[H14:H14]@H14 E15>E13 E16>E13"},
        {"the top row of a block",
         {"H13", "I13"},
         "E13>E13 SHRFMLA[E13:E16]@E13 F13>F13 ARRAY[F13:F14]@F13 G13>G13 TABLE[G13:G14]@G13 E14>E13 F14>F13 "
         "G14>G13 H14>H14 SHRFMLA[H14:I14]@H14 I14>H14 E15>E13 E16>E13"},
        {"a whole array formula and data table",
         {"F13", "F14", "G13", "G14"},
         "E13>E13 SHRFMLA[E13:E16]@E13 H13>H13 SHRFMLA[H13:I14]@H13 I13>H13 E14>E13 H14>H13 I14>H13 E15>E13 "
         "E16>E13"},
        {"part of an array formula", {"F14"}, "F13:F14", true},
        {"the host of an array formula", {"F13"}, "formula matriceala", true},
        {"part of a data table", {"G13", "E13"}, "G13:G14", true},
    };
    const Bytes original = buildStream({{"Formule", formulaRanges()}});
    for (const auto& c : cases) {
        WorkbookStream book(original);
        Sheet& sheet = book.sheet(0);
        for (const auto& a1 : c.written)
            sheet.setValue(cellOf(a1).first, cellOf(a1).second, CellValue::number(100));
        if (c.refused) {
            EXPECT_RUNTIME_ERROR(book.serialize(), err::Application, c.links);
            EXPECT_RUNTIME_ERROR(book.serialize(), err::Application, "\"Formule\"");
            continue;
        }
        const Bytes saved = book.serialize();
        EXPECT_EQ(formulaLinks(saved), c.links) << c.name;
        // Every cell the table does not write keeps its cached value.
        WorkbookStream again(saved);
        WorkbookStream before(original);
        for (int row = 12; row < 16; ++row)
            for (int col = 2; col < 9; ++col) {
                const bool written = std::find(c.written.begin(), c.written.end(),
                                               text::cellAddress(row + 1, col + 1)) != c.written.end();
                EXPECT_EQ(show(again.sheet(0).value(row, col)),
                          written ? "100" : show(before.sheet(0).value(row, col)))
                    << c.name << " " << text::cellAddress(row + 1, col + 1);
            }
    }
}
