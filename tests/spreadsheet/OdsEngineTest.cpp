// The .ods engine: content.xml read as a spreadsheet places its cells, edits split only what they touch, and
// whole workbooks of real producers read like their .xls twins and take the results table with nothing else
// in the package changed.

#include "XlsTestFiles.h"
#include "analysis/ResultsWriter.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "job/Run.h"
#include "spreadsheet/NativeEngine.h"
#include "spreadsheet/ods/Content.h"
#include "spreadsheet/ods/OdsWorkbook.h"
#include "spreadsheet/xls/XlsWorkbook.h"
#include "spreadsheet/zip/ZipArchive.h"
#include "support/ErrorAssert.h"
#include "support/SampleResults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

using namespace ordana;
using namespace ordana::spreadsheet;
using namespace ordana::testing;

namespace {

std::string document(const std::string& tables, const std::string& head = "") {
    return R"(<?xml version="1.0" encoding="UTF-8"?>)"
           R"(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
           R"(xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
           R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
           R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
           R"(xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" )"
           R"(xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0" )"
           R"(xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0">)" +
           head + "<office:body><office:spreadsheet>" + tables +
           "</office:spreadsheet></office:body></office:document-content>";
}

std::string sheet(const std::string& rows, const std::string& name = "S") {
    return "<table:table table:name=\"" + name + "\">" + rows + "</table:table>";
}

struct ReadCase {
    const char* name;
    std::string xml; // inside one table, or a whole document when it starts with "<?xml"
    int row, col;    // from 0
    CellValue expected;
};

std::ostream& operator<<(std::ostream& os, const ReadCase& c) {
    return os << c.name;
}

class OdsContentReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(OdsContentReads, PlacesTheCellWhereASpreadsheetShowsIt) {
    const ReadCase& c = GetParam();
    const std::string xml = c.xml.rfind("<?xml", 0) == 0 ? c.xml : document(sheet(c.xml));
    ods::Content content(ods::Content::fromBytes(xml));
    ASSERT_FALSE(content.tables().empty());
    EXPECT_EQ(content.value(content.tables()[0], std::uint32_t(c.row), std::uint32_t(c.col)), c.expected);
}

const std::string kFloat5 =
    R"(<table:table-cell office:value-type="float" office:value="5"><text:p>5</text:p></table:table-cell>)";

INSTANTIATE_TEST_SUITE_P(
    Cases, OdsContentReads,
    ::testing::Values(
        ReadCase{"AfterRepeatedColumns",
                 "<table:table-row><table:table-cell table:number-columns-repeated=\"3\"/>" + kFloat5 +
                     "</table:table-row>",
                 0, 3, CellValue::number(5)},
        ReadCase{
            "InsideARepeatedValue",
            R"(<table:table-row><table:table-cell table:number-columns-repeated="4" office:value-type="string"><text:p>x</text:p></table:table-cell></table:table-row>)",
            0, 2, CellValue::text("x")},
        ReadCase{
            "AfterAMillionRepeatedEmptyRows",
            "<table:table-row table:number-rows-repeated=\"1000000\"><table:table-cell/></table:table-row>"
            "<table:table-row>" +
                kFloat5 + "</table:table-row>",
            1000000, 0, CellValue::number(5)},
        ReadCase{
            "CoveredCellsCountAsColumns",
            R"(<table:table-row><table:table-cell table:number-columns-spanned="2"><text:p>a</text:p></table:table-cell><table:covered-table-cell/>)" +
                kFloat5 + "</table:table-row>",
            0, 2, CellValue::number(5)},
        ReadCase{"RowsInHeaderAndGroupWrappers",
                 "<table:table-header-rows><table:table-row><table:table-cell/></table:table-row></"
                 "table:table-header-rows><table:table-row-group><table:table-row-group><table:table-row>" +
                     kFloat5 + "</table:table-row></table:table-row-group></table:table-row-group>",
                 1, 0, CellValue::number(5)},
        ReadCase{
            "ParagraphsSpacesTabsAndBreaks",
            R"(<table:table-row><table:table-cell office:value-type="string"><text:p>a<text:s text:c="3"/>b<text:tab/>c<text:line-break/>d</text:p><text:p><text:span>e</text:span></text:p></table:table-cell></table:table-row>)",
            0, 0, CellValue::text("a   b\tc\nd\ne")},
        ReadCase{
            "StringValueAttributeWins",
            R"(<table:table-row><table:table-cell office:value-type="string" office:string-value="real"><text:p>shown</text:p></table:table-cell></table:table-row>)",
            0, 0, CellValue::text("real")},
        ReadCase{
            "AnAnnotationIsNotTheText",
            R"(<table:table-row><table:table-cell office:value-type="string"><office:annotation><text:p>note</text:p></office:annotation><text:p>value</text:p></table:table-cell></table:table-row>)",
            0, 0, CellValue::text("value")},
        ReadCase{
            "PercentageAndCurrencyAreNumbers",
            R"(<table:table-row><table:table-cell office:value-type="percentage" office:value="0.25"/><table:table-cell office:value-type="currency" office:currency="RON" office:value="12.5"/></table:table-row>)",
            0, 1, CellValue::number(12.5)},
        ReadCase{
            "BooleanAsTheXlsEngineReadsIt",
            R"(<table:table-row><table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell></table:table-row>)",
            0, 0, CellValue::boolean(true)},
        ReadCase{
            "DateAsItsSerialNumber",
            R"(<table:table-row><table:table-cell office:value-type="date" office:date-value="2024-03-01T12:00:00"/></table:table-row>)",
            0, 0, CellValue::number(45352.5)},
        ReadCase{
            "DateFromTheDocumentsNullDate",
            document(
                sheet(
                    R"(<table:table-row><table:table-cell office:value-type="date" office:date-value="1904-01-03"/></table:table-row>)"),
                "")
                .replace(
                    document("").find("<office:body>") + 13, 0,
                    R"(<table:calculation-settings><table:null-date table:date-value="1904-01-01"/></table:calculation-settings>)"),
            0, 0, CellValue::number(2)},
        ReadCase{
            "TimeAsAFractionOfADay",
            R"(<table:table-row><table:table-cell office:value-type="time" office:time-value="PT18H00M00S"/></table:table-row>)",
            0, 0, CellValue::number(0.75)},
        ReadCase{
            "FormulaErrorAsAnError",
            R"(<table:table-row><table:table-cell table:formula="of:=1/0" office:value-type="string" office:string-value="" calcext:value-type="error"><text:p>#DIV/0!</text:p></table:table-cell></table:table-row>)",
            0, 0, CellValue::error(0x07)},
        ReadCase{
            "PrefixesDeclaredInsideTheBody",
            R"(<?xml version="1.0"?><office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"><office:body xmlns:t="urn:oasis:names:tc:opendocument:xmlns:table:1.0"><office:spreadsheet xmlns:x="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><t:table t:name="S"><t:table-row t:number-rows-repeated="3"/><t:table-row><t:table-cell office:value-type="string"><x:p>deep</x:p></t:table-cell></t:table-row></t:table></office:spreadsheet></office:body></office:document-content>)",
            3, 0, CellValue::text("deep")},
        ReadCase{
            "TheDefaultNamespaceNamesTheSheetsElements",
            document(
                R"(<table xmlns="urn:oasis:names:tc:opendocument:xmlns:table:1.0" table:name="S"><table-row>)"
                R"(<table-cell table:number-columns-repeated="2"/><table-cell office:value-type="float" )"
                R"(office:value="7"/></table-row></table>)"),
            0, 2, CellValue::number(7)},
        ReadCase{
            "APrefixRedeclaredInsideACellHoldsOnlyThere",
            R"(<table:table-row><table:table-cell office:value-type="string"><text:p xmlns:text="urn:x-other">hidden</text:p><text:p>shown</text:p></table:table-cell></table:table-row>)",
            0, 0, CellValue::text("shown")},
        ReadCase{
            "TwoPrefixesForOneNamespace",
            R"(<table:table-row xmlns:tt="urn:oasis:names:tc:opendocument:xmlns:table:1.0"><tt:table-cell tt:number-columns-repeated="2"/>)" +
                kFloat5 + "</table:table-row>",
            0, 2, CellValue::number(5)},
        ReadCase{
            "ANumberWithSpacesAndASign",
            R"(<table:table-row><table:table-cell office:value-type="float" office:value=" +1.5e3 "/></table:table-row>)",
            0, 0, CellValue::number(1500)},
        ReadCase{"PastTheLastCellIsEmpty", "<table:table-row>" + kFloat5 + "</table:table-row>", 0, 1,
                 CellValue()},
        ReadCase{"ATableInsideACellIsNotItsRows",
                 R"(<table:table-row><table:table-cell><table:table table:name="inner"><table:table-row>)" +
                     kFloat5 + "</table:table-row></table:table></table:table-cell>" + kFloat5 +
                     "</table:table-row>",
                 0, 1, CellValue::number(5)}),
    [](const auto& info) { return std::string(info.param.name); });

// Opening steps over every row past a sheet's first ones without parsing it; however the part is cut into
// pieces, each sheet ends where it does and reads whole afterwards, and markup that only looks like a sheet's
// end (in a comment, CDATA, a quoted value, a table inside a cell) does not end it.
TEST(OdsContentReads, RowsSteppedOverAtOpenReadWholeInAnyPieces) {
    auto row = [](const std::string& text) {
        return R"(<table:table-row><table:table-cell office:value-type="string"><text:p>)" + text +
               "</text:p></table:table-cell></table:table-row>";
    };
    const std::string tricky =
        R"(<!-- a > b </table:table> --><table:table-row><table:table-cell office:value-type="string" )"
        R"(office:string-value="a>b&lt;/table:table>"><text:p><![CDATA[</table:table>]]></text:p>)"
        R"(<table:table table:name="inner"><table:table-row/></table:table></table:table-cell></table:table-row>)";
    const std::string xml = document(
        sheet(row("a0") + row("a1") + "<table:table-row-group>" + row("a2") + tricky +
                  "</table:table-row-group><table:table-row/>" + row("a5"),
              "A") +
        R"(<t:table xmlns:t="urn:oasis:names:tc:opendocument:xmlns:table:1.0" t:name="B"><t:table-row/>)"
        R"(<t:table-row/><t:table-row/><t:table-row><t:table-cell office:value-type="float" office:value="3"/>)"
        R"(</t:table-row></t:table>)" +
        sheet(row("c0"), "C"));
    ods::Content once(ods::Content::fromBytes(xml, xml.size()));
    ASSERT_EQ(once.tables().size(), 3u);
    for (std::size_t piece = 1; piece <= xml.size(); ++piece) {
        ods::Content content(ods::Content::fromBytes(xml, piece));
        auto& t = content.tables();
        ASSERT_EQ(t.size(), 3u) << "pieces of " << piece;
        for (std::size_t i = 0; i < t.size(); ++i) {
            EXPECT_EQ(t[i].name, once.tables()[i].name);
            EXPECT_EQ(t[i].span.begin, once.tables()[i].span.begin) << t[i].name << ", pieces of " << piece;
            EXPECT_EQ(t[i].span.end, once.tables()[i].span.end) << t[i].name << ", pieces of " << piece;
        }
        EXPECT_EQ(content.value(t[0], 1, 0), CellValue::text("a1"));
        EXPECT_EQ(content.value(t[0], 3, 0), CellValue::text("a>b</table:table>"));
        EXPECT_EQ(content.value(t[0], 5, 0), CellValue::text("a5"));
        EXPECT_EQ(content.value(t[1], 3, 0), CellValue::number(3));
        EXPECT_EQ(content.value(t[2], 0, 0), CellValue::text("c0"));
    }
    // A part that ends inside a stepped-over sheet is refused, as one cut anywhere else is.
    const std::string cut = xml.substr(0, xml.find("a5"));
    EXPECT_RUNTIME_ERROR(ods::Content(ods::Content::fromBytes(cut, 64)), err::Application,
                         "foaia \"A\" nu se incheie");
    // A fault in rows a listing does not read is found when the sheet is read past them, and placed by its
    // byte in the part (expat points at the end tag's name).
    const std::string late = document(sheet(row("x") + row("y") + row("z") + "<a></b>", "L"));
    ods::Content lateContent(ods::Content::fromBytes(late));
    EXPECT_EQ(lateContent.value(lateContent.tables()[0], 0, 0), CellValue::text("x"));
    EXPECT_RUNTIME_ERROR(lateContent.value(lateContent.tables()[0], 2, 0), err::Application,
                         "nu este XML corect (octetul " + std::to_string(late.find("</b>") + 3) +
                             "): mismatched tag");
}

// A name whose prefix nothing binds where it stands is a fault of the part, found in the rows read at open or
// in those read later, as expat finds it.
TEST(OdsContentReads, APrefixNothingBindsIsAFault) {
    auto row = [](const std::string& text) {
        return R"(<table:table-row><table:table-cell office:value-type="string"><text:p>)" + text +
               "</text:p></table:table-cell></table:table-row>";
    };
    struct Case {
        const char* name;
        std::string rows;
        int readRow; // -1: refused at open
    };
    const std::vector<Case> cases = {
        {"an element", "<table:table-row><q:x/></table:table-row>", -1},
        {"an attribute", R"(<table:table-row q:a="1"/>)", -1},
        {"a prefix declared on a sibling",
         R"(<table:table-row><table:table-cell xmlns:q="urn:q"/><table:table-cell q:a="1"/></table:table-row>)",
         -1},
        {"a prefix declared empty", R"(<table:table-row xmlns:q=""><q:x/></table:table-row>)", -1},
        {"in rows stepped over at open", row("x") + row("y") + "<table:table-row><q:x/></table:table-row>",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string xml = document(sheet(c.rows));
        if (c.readRow < 0) {
            EXPECT_RUNTIME_ERROR(ods::Content(ods::Content::fromBytes(xml)), err::Application,
                                 "nu este XML corect (linia 1): unbound prefix");
            continue;
        }
        ods::Content content(ods::Content::fromBytes(xml));
        EXPECT_RUNTIME_ERROR(
            content.value(content.tables()[0], std::uint32_t(c.readRow), 0), err::Application,
            "nu este XML corect (octetul " + std::to_string(xml.find("<q:x") + 1) + "): unbound prefix");
    }
}

// content.xml is refused as every other part is, naming it, wherever the fault stands: in what opening reads
// or in rows it steps over, read later.
TEST(OdsContentReads, RefusedAsEveryOtherPartIs) {
    std::string deep;
    for (std::size_t i = 0; i < xml::kMaxDepth; ++i)
        deep += "<text:span>";
    const std::string firstRow = "<table:table-row>" + kFloat5 + "</table:table-row>";
    struct Case {
        const char* name;
        std::string xml;
        bool atOpen;
        std::string fragment;
    };
    const std::string laughs = R"(<!DOCTYPE office:document-content [<!ENTITY e "xxxxxxxxxx">)"
                               R"(<!ENTITY f "&e;&e;&e;&e;&e;&e;&e;&e;">]>)";
    const std::string doc = document(sheet(firstRow + firstRow +
                                           "<table:table-row><table:table-cell>&f;"
                                           "</table:table-cell></table:table-row>"));
    const std::vector<Case> cases = {
        {"internal entities", std::string(doc).insert(doc.find("<office:document-content"), laughs), true,
         xml::doctypeRefused()},
        {"a DOCTYPE alone", std::string(document(sheet(firstRow))).insert(38, "<!DOCTYPE x>"), true,
         xml::doctypeRefused()},
        {"nested beyond reason in the first rows",
         document(sheet("<table:table-row><table:table-cell><text:p>" + deep)), true, xml::nestedTooDeep()},
        {"nested beyond reason in rows stepped over",
         document(sheet(firstRow + firstRow + "<table:table-row><table:table-cell><text:p>" + deep)), false,
         xml::nestedTooDeep()},
        {"cut short", document(sheet(firstRow)).substr(0, 400), true, "nu este XML corect (linia 1): "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = "partea \"content.xml\" " + c.fragment;
        if (c.atOpen) {
            EXPECT_RUNTIME_ERROR(ods::Content(ods::Content::fromBytes(c.xml)), err::Application, expected);
            continue;
        }
        ods::Content content(ods::Content::fromBytes(c.xml));
        EXPECT_RUNTIME_ERROR(content.value(content.tables()[0], 2, 0), err::Application, expected);
    }
}

// A number cell's value is read as .xlsx reads one: all of it a finite number, or the cell is refused when
// read (not when the sheet is opened), named.
TEST(OdsContentReads, ANumberThatIsNoneIsRefusedNamingTheCell) {
    for (const std::string& v : std::vector<std::string>{"NaN", "inf", "-Infinity", "12abc", "0x10", "1e999",
                                                         "1 2", std::string(5000, '9') + "x"}) {
        SCOPED_TRACE(v);
        const std::string xml = document(sheet(
            "<table:table-row>" + kFloat5 + R"(<table:table-cell office:value-type="float" office:value=")" +
            v + R"("><text:p>)" + v + "</text:p></table:table-cell></table:table-row>"));
        ods::Content content(ods::Content::fromBytes(xml));
        ods::Table& t = content.tables()[0];
        EXPECT_EQ(content.value(t, 0, 0), CellValue::number(5));
        EXPECT_RUNTIME_ERROR(content.value(t, 0, 1), err::Application,
                             "celula B1 are valoarea numerica " + text::quotedExcerpt(v) +
                                 ", care nu este un numar");
        content.setValue(t, 0, 1, CellValue::number(7));
        EXPECT_EQ(content.value(t, 0, 1), CellValue::number(7));
    }
}

// A part may declare thousands of prefixes, hold thousands of sheets and use every prefix: opening it costs
// no more per sheet and per name than a plain part does (each sheet once kept its own copy of every
// declaration: 17 s and 1.5 GB for a 0.6 MB package).
TEST(OdsContentReads, ThousandsOfDeclarationsAndSheetsStayCheap) {
    constexpr int kPrefixes = 4000, kSheets = 3000;
    std::string decl;
    for (int i = 0; i < kPrefixes; ++i)
        decl += " xmlns:p" + std::to_string(i) + "=\"urn:p" + std::to_string(i) + "\"";
    std::string names;
    for (int i = 0; i < 4 * kPrefixes; ++i)
        names += "<p" + std::to_string(i % kPrefixes) + ":x/>";
    std::string sheets =
        sheet("<table:table-row><table:table-cell>" + names + "</table:table-cell>" + kFloat5 +
                  "</table:table-row><table:table-row/><table:table-row>" + kFloat5 + "</table:table-row>",
              "S0");
    for (int i = 1; i < kSheets; ++i)
        sheets += sheet("<table:table-row/>", "S" + std::to_string(i));
    std::string xml = document(sheets);
    xml.insert(xml.find("><office:body>"), decl);
    ods::Content content(ods::Content::fromBytes(xml));
    auto& t = content.tables();
    ASSERT_EQ(t.size(), std::size_t(kSheets));
    // The declarations in force are held once for all the sheets that start under them.
    EXPECT_EQ(t.front().nsInScope, t.back().nsInScope);
    EXPECT_EQ(content.value(t[0], 0, 1), CellValue::number(5));
    EXPECT_EQ(content.value(t[0], 2, 0), CellValue::number(5));
}

// Writes inside and past repeated runs; every other position keeps its value, and the rewritten part reads
// back the same.
TEST(OdsContentEdits, WritesSplitRunsAndKeepEveryOtherPlace) {
    const std::string xml = document(
        sheet(
            R"(<table:table-column table:number-columns-repeated="5"/>)"
            R"(<table:table-row table:number-rows-repeated="3"><table:table-cell table:number-columns-repeated="2" office:value-type="float" office:value="7"/><table:table-cell table:number-columns-repeated="3"/></table:table-row>)"
            R"(<table:table-row><table:covered-table-cell table:number-columns-repeated="2"/><table:table-cell office:value-type="string"><office:annotation><text:p>n</text:p></office:annotation><text:p>old</text:p></table:table-cell></table:table-row>)") +
        sheet("<table:table-row>" + kFloat5 + "</table:table-row>", "Other"));
    ods::Content content(ods::Content::fromBytes(xml));
    ods::Table& t = content.tables()[0];
    std::map<std::pair<int, int>, CellValue> expected;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c)
            expected[{r, c}] = CellValue::number(7);
    expected[{3, 2}] = CellValue::text("old");
    const std::pair<std::pair<int, int>, CellValue> writes[] = {
        {{1, 1}, CellValue::text("mid")},
        {{1, 3}, CellValue::number(2.5)},
        {{0, 0}, CellValue::text("  lead")},
        {{3, 2}, CellValue::number(9)},
        {{3, 0}, CellValue::text("on a covered cell")},
        {{9, 7}, CellValue::text("far\nout")},
        {{2, 4}, CellValue::text("end")}};
    for (const auto& [at, v] : writes) {
        content.setValue(t, std::uint32_t(at.first), std::uint32_t(at.second), v);
        expected[at] = v;
    }
    const std::string saved = content.write();
    EXPECT_NE(saved.find(sheet("<table:table-row>" + kFloat5 + "</table:table-row>", "Other")),
              std::string::npos)
        << "the other sheet is carried over byte for byte";
    EXPECT_NE(saved.find("<office:annotation><text:p>n</text:p></office:annotation>"), std::string::npos)
        << "an overwritten cell keeps its comment";
    // Read back whole, and in pieces of a few bytes (the part is read piece by piece, and a sheet's later
    // rows indexed only when asked for).
    for (const std::size_t piece : {std::size_t(1) << 20, std::size_t(5)}) {
        ods::Content reread(ods::Content::fromBytes(saved, piece));
        ods::Table& back = reread.tables()[0];
        for (int r = 0; r < 11; ++r)
            for (int c = 0; c < 9; ++c) {
                const auto it = expected.find({r, c});
                EXPECT_EQ(reread.value(back, std::uint32_t(r), std::uint32_t(c)),
                          it == expected.end() ? CellValue() : it->second)
                    << "row " << r << " column " << c << ", pieces of " << piece;
            }
        EXPECT_EQ(back.rowCount, 10u);
    }
    ods::Content inPieces(ods::Content::fromBytes(xml, 3));
    for (const auto& [at, v] : writes)
        inPieces.setValue(inPieces.tables()[0], std::uint32_t(at.first), std::uint32_t(at.second), v);
    EXPECT_EQ(inPieces.write(), saved) << "the same edits of the part read in pieces of 3 bytes";
}

// A sheet far larger than the pieces the part is read in, behind another one, edited deep down and near the
// top in no order: the bytes the save needs are read again from the part, wherever the pieces fall, and only
// the written rows change.
TEST(OdsContentEdits, EditsDeepInALargeSheetChangeOnlyTheirRows) {
    auto row = [](int r) {
        return R"(<table:table-row><table:table-cell office:value-type="string"><text:p>row )" +
               std::to_string(r) + "</text:p></table:table-cell>" + kFloat5 + "</table:table-row>";
    };
    std::string rows;
    for (int r = 0; r < 6000; ++r)
        rows += row(r);
    const std::string xml = document(sheet(row(0), "Before") + sheet(rows, "Big"));
    const int written[] = {5000, 1, 3000};
    std::string first;
    for (const std::size_t piece :
         {std::size_t(1) << 20, std::size_t(65536), std::size_t(4097), std::size_t(7)}) {
        ods::Content content(ods::Content::fromBytes(xml, piece));
        ods::Table& t = content.tables()[1];
        for (const int r : written)
            content.setValue(t, std::uint32_t(r), 1, CellValue::number(r + 0.5));
        const std::string saved = content.write();
        if (first.empty()) first = saved;
        EXPECT_EQ(saved, first) << "pieces of " << piece;
    }
    ods::Content back(ods::Content::fromBytes(first));
    ods::Table& t = back.tables()[1];
    for (const int r : {0, 1, 2, 2999, 3000, 5000, 5999}) {
        const bool isWritten = r == 1 || r == 3000 || r == 5000;
        EXPECT_EQ(back.value(t, std::uint32_t(r), 0), CellValue::text("row " + std::to_string(r)));
        EXPECT_EQ(back.value(t, std::uint32_t(r), 1), CellValue::number(isWritten ? r + 0.5 : 5))
            << "row " << r;
    }
    // Everything before the first written row and after the last is the original's, byte for byte.
    const std::size_t before = xml.find(row(1)), after = xml.find(row(5000)) + row(5000).size();
    EXPECT_EQ(first.substr(0, before), xml.substr(0, before));
    EXPECT_EQ(first.substr(first.size() - (xml.size() - after)), xml.substr(after));
}

TEST(OdsContentEdits, ColumnFormatsReachStyledCellsAndStylesAreReused) {
    const std::string xml = document(
        sheet(
            R"(<table:table-column table:number-columns-repeated="3" table:default-cell-style-name="ce1"/>)"
            R"(<table:table-row table:number-rows-repeated="4"><table:table-cell table:style-name="ce1" table:number-columns-repeated="3"/></table:table-row>)"),
        R"(<office:automatic-styles><style:style style:name="ce1" style:family="table-cell" style:parent-style-name="Default"><style:text-properties fo:color="#ff0000"/></style:style></office:automatic-styles>)");
    ods::Content content(ods::Content::fromBytes(xml));
    ods::Table& t = content.tables()[0];
    ods::StyleChange centre;
    centre.textAlign = "center";
    content.formatColumn(t, 1, centre);
    content.formatColumn(t, 1, centre);
    const std::string saved = content.write();
    // One derived style, keeping the red text, given to the column and to the run's middle cell.
    EXPECT_EQ(saved.find("fo:text-align=\"center\""), saved.rfind("fo:text-align=\"center\""));
    EXPECT_NE(saved.find("style:name=\"ce2\""), std::string::npos);
    EXPECT_NE(saved.find(R"(<style:text-properties fo:color="#ff0000"/>)"),
              saved.rfind(R"(<style:text-properties fo:color="#ff0000"/>)"));
    EXPECT_NE(
        saved.find(
            R"(<table:table-row table:number-rows-repeated="4"><table:table-cell table:style-name="ce1"/><table:table-cell table:style-name="ce2"/><table:table-cell table:style-name="ce1"/></table:table-row>)"),
        std::string::npos)
        << saved;
    EXPECT_EQ(saved.find(R"(table:number-columns-repeated="1")"), std::string::npos) << "no run of one";
    EXPECT_EQ(content.numberStyle(3), content.numberStyle(3));
}

TEST(OdsContentEdits, ColumnWidthsAreWhatLibreOfficeGivesThoseCharacters) {
    // Measured: LibreOffice 7.4 on Debian converting .xlsx columns of 6, 22 and 10 characters of each default
    // font (Calibri drawn in DejaVu Sans, as on a system without Carlito).
    const std::tuple<const char*, double, const char*, const char*, const char*> cases[] = {
        {"Liberation Sans", 10, "0.4626in", "1.6957in", "0.7709in"},
        {"Arial", 11, "0.5083in", "1.8638in", "0.8472in"},
        {"Liberation Sans", 12, "0.5543in", "2.0319in", "0.9236in"},
        {"DejaVu Sans", 10, "0.5291in", "1.9402in", "0.8819in"},
        {"Calibri", 11, "0.5835in", "2.139in", "0.972in"},
        {"Calibri", 10, "0.5291in", "1.9402in", "0.8819in"}};
    for (const auto& [font, points, six, twentyTwo, ten] : cases) {
        const double digit = ods::digitTwips(font, points);
        EXPECT_EQ(ods::columnWidthFor(6, digit), six) << font << " " << points;
        EXPECT_EQ(ods::columnWidthFor(22, digit), twentyTwo) << font << " " << points;
        EXPECT_EQ(ods::columnWidthFor(10, digit), ten) << font << " " << points;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Whole workbooks

std::shared_ptr<Workbook> openOds(const std::string& path) {
    return openNativeWorkbook(SourceFile::read(path));
}

struct Twin {
    const char* ods;
    const char* xls;
};

class OdsTwins : public ::testing::TestWithParam<Twin> {};

TEST_P(OdsTwins, ReadLikeTheirXlsTwins) {
    auto ods = openOds((fixtures() / GetParam().ods).string());
    auto xls = xls::openWorkbook((fixtures() / GetParam().xls).string());
    ASSERT_EQ(ods->worksheetCount(), xls->worksheetCount());
    for (std::int16_t i = 1; i <= xls->worksheetCount(); ++i) {
        const std::string name = xls->worksheetName(i);
        EXPECT_EQ(ods->worksheetName(i), name);
        auto a = ods->worksheet(name);
        auto b = xls->worksheet(name);
        for (std::int16_t r = 1; r <= 12; ++r)
            for (std::int16_t c = 1; c <= 6; ++c) {
                const CellValue x = a->cell(r, c), y = b->cell(r, c);
                // LibreOffice stores the formula =TRUE() as the number 1 in .ods.
                if (y.kind() == CellValue::Kind::Boolean && x.kind() == CellValue::Kind::Number) continue;
                EXPECT_EQ(x, y) << name << " row " << r << " column " << c << ": " << x.toText() << " / "
                                << y.toText();
            }
    }
    ods->close(false);
}

INSTANTIATE_TEST_SUITE_P(Producers, OdsTwins,
                         ::testing::Values(Twin{"basic-libreoffice.ods", "basic-libreoffice.xls"},
                                           Twin{"basic-gnumeric.ods", "basic-gnumeric.xls"},
                                           Twin{"mimetype-last.ods", "basic-libreoffice.xls"}),
                         [](const auto& info) { return std::to_string(info.index); });

struct Refusal {
    const char* file;
    const char* fragment;
    int row = 0, column = 0; // the cell whose reading is refused; none: the opening is
};

class OdsRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(OdsRefusals, AreA1004NamingWhatIsWrong) {
    const auto open = [] {
        return ods::openWorkbook(SourceFile::read((fixtures() / GetParam().file).string()));
    };
    if (GetParam().row == 0) {
        EXPECT_RUNTIME_ERROR(open(), err::Application, GetParam().fragment);
        return;
    }
    auto book = open();
    auto sheet = book->worksheet(book->worksheetName(1));
    EXPECT_RUNTIME_ERROR(sheet->cell(std::int16_t(GetParam().row), std::int16_t(GetParam().column)),
                         err::Application, GetParam().fragment);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OdsRefusals,
    ::testing::Values(
        Refusal{"password-libreoffice.ods", "protejat cu parola"},
        Refusal{"text-odfpy.odt", "un document text OpenDocument (.odt)"},
        Refusal{"elsewhere-roo-rb__test_files_type_excelx.ods", "nu spune ce fel de document"},
        Refusal{"hostile-o_entity_content.ods", "partea \"content.xml\" contine o declaratie DOCTYPE"},
        Refusal{"hostile-o_value_nan.ods", ": celula B2 are valoarea numerica \"nan\", care nu este un numar",
                2, 2},
        Refusal{"hostile-cells_bomb.ods",
                "partea \"content.xml\" depaseste limita de 128 MiB de memorie a registrului", 3, 1}),
    [](const auto& info) { return std::to_string(info.index); });

// A package of the fixture with one part replaced.
std::shared_ptr<const SourceFile> withPart(const std::string& fixture, const std::string& part,
                                           const std::string& text) {
    auto file = std::make_shared<const FileBytes>(fileBytes((fixtures() / fixture).string()));
    zip::Archive archive = zip::Archive::parse(file);
    zip::ArchiveWriter w(archive);
    w.replace(part, std::vector<std::uint8_t>(text.begin(), text.end()));
    std::vector<std::uint8_t> out;
    w.writeTo([&](std::span<const std::uint8_t> s) { out.insert(out.end(), s.begin(), s.end()); });
    return SourceFile::fromBytes(std::move(out), "/work/" + fixture);
}

TEST(OdsRefusals, ABrokenContentPartIsNamed) {
    EXPECT_RUNTIME_ERROR(
        ods::openWorkbook(withPart("basic-odfpy.ods", "content.xml", "<office:document-content")),
        err::Application, "\"content.xml\" nu este XML corect");
    // More sheets than the operations can number: refused, not listed short.
    std::string tables;
    for (int i = 0; i < 32768; ++i)
        tables += sheet("", "S" + std::to_string(i));
    EXPECT_RUNTIME_ERROR(ods::openWorkbook(withPart("basic-odfpy.ods", "content.xml", document(tables))),
                         err::Application, "are 32768 de foi de calcul, peste limita de 32767");
}

std::string entryText(const zip::Archive& a, const std::string& name) {
    const zip::Entry* e = a.find(name);
    if (!e) return {};
    const auto v = a.read(*e);
    return {v.begin(), v.end()};
}

// What the engine holds of a workbook is bounded once for the whole workbook: a sheet done gives its index
// back, so sheets read one after the other each fit, and a sheet or a cell's text beyond the budget is
// refused naming content.xml and the limit; the other parts, however many elements they hold, are read as
// they go by and keep only what the save edits.
TEST(OdsBudget, WhatAWorkbookHoldsAtOnceIsBoundedAndRefusedNamingThePart) {
    const std::size_t budget = std::size_t(8) << 20;
    const auto emptyCells = [](int cells) {
        std::string rows;
        for (int done = 0; done < cells; done += 1000) {
            rows += "<table:table-row>";
            for (int k = 0; k < std::min(1000, cells - done); ++k)
                rows += "<table:table-cell/>";
            rows += "</table:table-row>";
        }
        return rows;
    };
    const std::string header = "<table:table-row><table:table-cell "
                               "office:value-type=\"string\"><text:p>SPECIA</text:p></table:table-cell>"
                               "</table:table-row>";
    const std::string twoLarge =
        document(sheet(header + emptyCells(30000), "Date") + sheet(header + emptyCells(30000), "Lista"));
    const auto repeated = [](const std::string& element, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += element;
        return out;
    };
    const std::string manifest = entryText(zip::Archive::parse(std::make_shared<const FileBytes>(
                                               fileBytes((fixtures() / "basic-odfpy.ods").string()))),
                                           "META-INF/manifest.xml");
    const std::string settings =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-settings "
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:config=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\"><office:settings>" +
        repeated("<a/>", 500000) + "</office:settings></office:document-settings>";
    const std::string styles =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-styles "
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\"><office:styles>" +
        repeated("<style:style style:name=\"x\"/>", 200000) + "</office:styles></office:document-styles>";
    const auto saved = [](Workbook& b) {
        std::vector<std::uint8_t> out;
        ods::writePackage(
            b, [&](std::span<const std::uint8_t> p) { out.insert(out.end(), p.begin(), p.end()); });
        return zip::Archive::parse(std::make_shared<const FileBytes>(std::move(out)));
    };
    using Job = std::function<void(Workbook&)>;
    const Job readBoth = [](Workbook& b) {
        for (const char* name : {"Date", "Lista"})
            (void)b.worksheet(name)->cell(20, 1);
    };
    const Job writeAndSave = [&](Workbook& b) {
        for (const char* name : {"Date", "Lista"}) {
            auto ws = b.worksheet(name);
            ws->setCell(20, 3, CellValue::text(name));
            ws->setColumnWidth(3, 12);
            ws->activate();
        }
        const zip::Archive a = saved(b);
        EXPECT_NE(entryText(a, "content.xml").find(">Lista</text:p>"), std::string::npos);
        EXPECT_NE(entryText(a, "settings.xml").find(">Lista</config:config-item>"), std::string::npos);
    };
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> parts;
        Job job;
        const char* refusal; // nullptr: done
    } cases[] = {
        {"two large sheets, one after the other", {{"content.xml", twoLarge}}, readBoth, nullptr},
        {"two large sheets written one after the other, then saved",
         {{"content.xml", twoLarge}},
         writeAndSave,
         nullptr},
        {"two large sheets held at once",
         {{"content.xml", twoLarge}},
         [](Workbook& b) {
             auto date = b.worksheet("Date"), lista = b.worksheet("Lista");
             (void)date->cell(20, 1);
             (void)lista->cell(20, 1);
         },
         "partea \"content.xml\" depaseste limita de 8 MiB de memorie a registrului"},
        {"a cell of spaces repeated past the budget",
         {{"content.xml",
           document(sheet(header +
                              "<table:table-row><table:table-cell office:value-type=\"string\">"
                              "<text:p>" +
                              repeated("<text:s text:c=\"65536\"/>", 200) +
                              "</text:p></table:table-cell></table:table-row>" + emptyCells(10),
                          "Date"))}},
         [](Workbook& b) { (void)b.worksheet("Date")->cell(20, 1); },
         "partea \"content.xml\" depaseste limita"},
        {"settings of half a million elements",
         {{"content.xml", twoLarge}, {"settings.xml", settings}},
         writeAndSave,
         nullptr},
        {"a manifest of half a million elements",
         {{"content.xml", twoLarge},
          {"META-INF/manifest.xml",
           manifest.substr(0, manifest.rfind("</")) + repeated("<a/>", 500000) + "</manifest:manifest>"}},
         writeAndSave,
         nullptr},
        {"styles of two hundred thousand named styles",
         {{"content.xml", twoLarge}, {"styles.xml", styles}},
         writeAndSave,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto file = std::make_shared<const FileBytes>(fileBytes((fixtures() / "basic-odfpy.ods").string()));
        zip::ArchiveWriter w(zip::Archive::parse(file));
        for (const auto& [part, text] : c.parts)
            w.replace(part, std::vector<std::uint8_t>(text.begin(), text.end()));
        std::vector<std::uint8_t> bytes;
        w.writeTo([&](std::span<const std::uint8_t> p) { bytes.insert(bytes.end(), p.begin(), p.end()); });
        auto made = std::make_shared<const FileBytes>(bytes);
        const auto open = [&] {
            return ods::openWorkbook(SourceFile::fromBytes(std::move(bytes), "/test/carte.ods"),
                                     zip::Archive::parse(made), budget);
        };
        if (c.refusal) {
            EXPECT_RUNTIME_ERROR(c.job(*open()), err::Application, c.refusal);
        } else {
            auto wb = open();
            c.job(*wb);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// The results table written and saved

struct Target {
    const char* file;
    const char* sheet;
    int markerColumn;
};

class OdsWrites : public ::testing::TestWithParam<Target> {};

TEST_P(OdsWrites, TheTableLandsAndNothingElseChanges) {
    ScratchDir dir;
    const std::string path = dir.copy(GetParam().file);
    const auto before = std::make_shared<const FileBytes>(fileBytes(path));
    CellValue b2;
    {
        auto book = openOds(path);
        b2 = book->worksheet(GetParam().sheet)->cell(2, 2);
        book->close(false);
    }
    {
        SpreadsheetHandles handles;
        job::saveIndicesTable(nativeApplicationFactory(), path, GetParam().sheet, dateSheetResults(),
                              handles);
    }
    const auto after = std::make_shared<const FileBytes>(fileBytes(path));
    const zip::Archive a = zip::Archive::parse(before), b = zip::Archive::parse(after);

    // The values, read back by this engine.
    auto book = openOds(path);
    auto ws = book->worksheet(GetParam().sheet);
    const int m = GetParam().markerColumn;
    EXPECT_EQ(ws->cell(1, std::int16_t(m)), CellValue::text("."));
    EXPECT_EQ(ws->cell(1, std::int16_t(m + 1)), CellValue::text("Indici"));
    const auto values = resultValues(dateSheetResults());
    for (int r = 2; r <= 13; ++r) {
        EXPECT_EQ(ws->cell(std::int16_t(r), std::int16_t(m + 1)),
                  CellValue::text(kResultLabels[std::size_t(r - 2)]));
        EXPECT_EQ(ws->cell(std::int16_t(r), std::int16_t(m + 2)),
                  CellValue::number(values[std::size_t(r - 2)]));
    }
    EXPECT_EQ(ws->cell(2, 2), b2) << "the data stay";
    book->close(false);

    // The package: mimetype first, stored, without an extra field; every other untouched entry identical.
    ASSERT_FALSE(b.entries().empty());
    const zip::Entry& first = b.entries().front();
    EXPECT_EQ(first.name, "mimetype");
    EXPECT_EQ(first.method, 0);
    EXPECT_EQ(first.record[28] | first.record[29], 0);
    const bool settingsAdded = !a.find("settings.xml");
    for (const zip::Entry& e : a.entries()) {
        const zip::Entry* n = b.find(e.name);
        ASSERT_NE(n, nullptr) << e.name << " survives";
        if (e.name == "content.xml" || e.name == "settings.xml" || e.name == "mimetype" ||
            (settingsAdded && e.name == "META-INF/manifest.xml"))
            continue;
        EXPECT_TRUE(std::equal(e.record.begin(), e.record.end(), n->record.begin(), n->record.end()))
            << e.name;
        std::vector<std::uint8_t> c1(e.central.begin(), e.central.end()),
            c2(n->central.begin(), n->central.end());
        ASSERT_EQ(c1.size(), c2.size()) << e.name;
        for (std::size_t i = 0; i < (e.offsetIs64 ? 8u : 4u); ++i)
            c1[e.offsetField + i] = c2[n->offsetField + i] = 0;
        EXPECT_EQ(c1, c2) << e.name << ": the central record differs beyond its offset";
    }
    // The sheet is the active one; other sheets of content.xml are byte-identical.
    const std::string settings = entryText(b, "settings.xml");
    EXPECT_NE(settings.find(std::string(">") + GetParam().sheet + "</config:config-item>"),
              std::string::npos);
    if (settingsAdded) {
        EXPECT_NE(entryText(b, "META-INF/manifest.xml").find("settings.xml"), std::string::npos);
    }
    const std::string oldContent = entryText(a, "content.xml"), newContent = entryText(b, "content.xml");
    ods::Content parsed(ods::Content::fromBytes(oldContent));
    for (ods::Table& t : parsed.tables()) {
        if (t.name == GetParam().sheet) continue;
        EXPECT_NE(newContent.find(oldContent.substr(t.span.begin, t.span.end - t.span.begin)),
                  std::string::npos)
            << t.name;
    }
    EXPECT_EQ(newContent.substr(0, 200), oldContent.substr(0, 200));
}

INSTANTIATE_TEST_SUITE_P(
    Producers, OdsWrites,
    ::testing::Values(Target{"basic-libreoffice.ods", "Date", 3}, Target{"basic-gnumeric.ods", "Date", 3},
                      Target{"basic-odfpy.ods", "Date", 3}, Target{"mimetype-last.ods", "Plin", 5},
                      Target{"no-settings.ods", "Lista", 3},
                      Target{"elsewhere-GNOME__samples_slicers_groups-ooo.ods", "Data", 7},
                      Target{"elsewhere-PHPOffice__tests_data_Reader_Ods_RepeatedDataCells.ods", "Sheet1", 2},
                      Target{"elsewhere-roo-rb__test_files_comments.ods", "Sheet1", 2}),
    [](const auto& info) { return std::to_string(info.index); });

} // namespace
