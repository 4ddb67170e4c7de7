#include "support/SheetIndex.h"

#include <gtest/gtest.h>

#include <string>

using ordana::testing::sheetIndex;
using ordana::testing::stringTable;

namespace {

const std::string kOpen =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
    R"(xmlns:x14ac="http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac">)"
    R"(<dimension ref="A1:C3"/><sheetViews><sheetView workbookViewId="0"/></sheetViews>)"
    R"(<cols><col min="1" max="2" width="12"/></cols>)";
const std::string kClose = R"(<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75"/></worksheet>)";

struct RowsCase {
    const char* what;
    std::string sheetData; // the element, whole
    bool plain;            // the rows come straight off the bytes, not from the parser
    std::string open = kOpen, close = kClose;
};

void PrintTo(const RowsCase& c, std::ostream* os) {
    *os << c.what;
}

bool readPlainly(const std::string& part) {
    std::vector<ordana::spreadsheet::xlsx::Row> rows;
    try {
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
        return ordana::spreadsheet::xlsx::indexSheet(bytes, "xl/worksheets/sheet1.xml", rows)->plainRows;
    } catch (const ordana::RuntimeError&) {
        return false;
    }
}

class SheetRowsRead : public ::testing::TestWithParam<RowsCase> {};

TEST_P(SheetRowsRead, OffTheBytesAsTheParserReadsThemOrNotAtAll) {
    const RowsCase& c = GetParam();
    const std::string part = c.open + c.sheetData + c.close;
    const std::string byParser = sheetIndex(part, false);
    EXPECT_EQ(sheetIndex(part, true), byParser);
    EXPECT_EQ(readPlainly(part), c.plain) << byParser;
}

INSTANTIATE_TEST_SUITE_P(
    Xlsx, SheetRowsRead,
    ::testing::Values(
        RowsCase{
            "rows as Excel writes them",
            R"(<sheetData><row r="1" spans="1:3" x14ac:dyDescent="0.25"><c r="A1" s="1" t="s"><v>0</v></c>)"
            R"(<c r="B1" s="1" t="s"><v>1</v></c><c r="C1" s="2"/></row>)"
            R"(<row r="2" spans="1:3" x14ac:dyDescent="0.25"><c r="A2" t="s"><v>2</v></c><c r="B2">)"
            R"(<v>12.5</v></c><c r="C2" t="b"><v>1</v></c></row></sheetData>)",
            true},
        RowsCase{
            "rows as LibreOffice writes them",
            R"(<sheetData><row r="1" customFormat="false" ht="12.8" hidden="false" customHeight="false" )"
            R"(outlineLevel="0" collapsed="false"><c r="A1" s="0" t="s"><v>0</v></c><c r="B1" s="0" )"
            R"(t="n"><v>3</v></c></row></sheetData>)",
            true},
        RowsCase{
            "formulas, one of them shared by other cells",
            R"(<sheetData><row r="1"><c r="A1"><f>SUM(B1:B3)</f><v>6</v></c><c r="B1"><f t="shared" )"
            R"(ref="B1:B3" si="0">C1*2</f><v>2</v></c><c r="C1" t="str"><f>"a"&amp;"b"</f><v>a&amp;b</v>)"
            R"(</c></row><row r="2"><c r="B2"><f t="shared" si="0"/><v>4</v></c><c r="C2" t="e"><v>#N/A)"
            R"(</v></c></row></sheetData>)",
            true},
        RowsCase{"rows and cells without references, after those with",
                 R"(<sheetData><row><c><v>1</v></c><c><v>2</v></c></row><row r="4"><c r="C4"><v>3</v></c>)"
                 R"(<c><v>4</v></c></row><row><c r="B5"/></row></sheetData>)",
                 true},
        RowsCase{
            "laid out on lines, with tabs and spaces in and between the tags",
            "<sheetData>\n  <row r=\"1\" >\n    <c\tr='A1'\n t = \"s\" ><v>0</v></c >\n    <c r=\"B1\" />\n"
            "  </row  >\n  <row r=\"2\"/>\n</sheetData>",
            true},
        RowsCase{
            "values with entities, white space, UTF-8 and nothing at all",
            R"(<sheetData><row r="1"><c r="A1" t="str"><v> Specia &lt;ăîșț&gt; </v></c><c r="B1" t="str">)"
            "<v>\tone\ntwo</v></c><c r=\"C1\"><v/></c><c r=\"D1\" t=\"str\"><v></v><v>x</v></c></row>"
            "</sheetData>",
            true},
        RowsCase{
            "attribute values with entities and white space",
            "<sheetData><row r=\"1\" spans=\"1:2\tx&amp;y\"><c r=\"A1\" s=\"&#x31;\"/></row></sheetData>",
            false},
        RowsCase{"attribute values with entities and white space, no character reference",
                 "<sheetData><row r=\"1\" spans=\"1:2\tx&amp;y\n\"><c r=\"A1\" s='3'/></row></sheetData>",
                 true},
        RowsCase{
            "a '>' in attribute values",
            R"(<sheetData><row r="1" note=">"><c r="A1" t="s" note="1>0"><v>0</v></c></row></sheetData>)",
            true},
        RowsCase{"rows out of order and cells out of order",
                 R"(<sheetData><row r="3"><c r="B3"/><c r="A3"/></row><row r="2"/></sheetData>)", true},
        RowsCase{"the main namespace under a prefix",
                 R"(<x:sheetData><x:row r="1"><x:c r="A1" t="s"><x:v>0</x:v></x:c></x:row></x:sheetData>)",
                 true, R"(<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)",
                 "</x:worksheet>"},
        RowsCase{"elements after the rows that an edit needs",
                 R"(<sheetData><row r="1"><c r="A1"><v>1</v></c></row></sheetData>)", true, kOpen,
                 R"(<sheetViews><sheetView tabSelected="1" workbookViewId="0"/></sheetViews>)"
                 R"(<cols><col min="3" max="3" width="9"/></cols></worksheet>)"},
        RowsCase{"no rows at all", "<sheetData></sheetData>", true},
        RowsCase{"an empty sheetData element", "<sheetData/>", false},
        // What the plain reading leaves to the parser.
        RowsCase{
            "an inline string",
            R"(<sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>Specia</t></is></c></row></sheetData>)",
            false},
        RowsCase{"a comment between the rows",
                 R"(<sheetData><row r="1"><c r="A1"><v>1</v></c></row><!-- x --><row r="2"/></sheetData>)",
                 false},
        RowsCase{"a character reference in a value",
                 R"(<sheetData><row r="1"><c r="A1" t="str"><v>&#65;</v></c></row></sheetData>)", false},
        RowsCase{"a carriage return inside a row",
                 "<sheetData><row r=\"1\">\r\n<c r=\"A1\"><v>1</v></c></row></sheetData>", false},
        RowsCase{"a namespace declared on a row",
                 R"(<sheetData><row r="1" xmlns:q="urn:q" q:x="1"><c r="A1"><v>1</v></c></row></sheetData>)",
                 false},
        RowsCase{"the default namespace declared again on a row",
                 R"(<sheetData><row r="1" xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
                 R"(<c r="A1"><v>1</v></c></row></sheetData>)",
                 false},
        RowsCase{"rows under another prefix bound to the same namespace",
                 R"(<sheetData><y:row r="1"><y:c r="A1"><y:v>1</y:v></y:c></y:row></sheetData>)", false,
                 R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                 R"(xmlns:y="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)",
                 "</worksheet>"},
        RowsCase{"an element of another kind in a cell and in the rows",
                 R"(<sheetData><row r="1"><c r="A1"><v>1</v><extLst/></c></row><x14ac:any/></sheetData>)",
                 false},
        RowsCase{"text directly in a row",
                 R"(<sheetData><row r="1">x<c r="A1"><v>1</v></c></row></sheetData>)", false},
        // Faults: the same message either way.
        RowsCase{"a row numbered 0", R"(<sheetData><row r="1"/><row r="0"/></sheetData>)", false},
        RowsCase{"a cell past the last column",
                 R"(<sheetData><row r="1"><c r="XFD1"/><c/></row></sheetData>)", false},
        RowsCase{"a cell not closed", R"(<sheetData><row r="1"><c r="A1"></row></sheetData>)", false},
        RowsCase{"the same attribute twice", R"(<sheetData><row r="1"><c r="A1" r="A2"/></row></sheetData>)",
                 false},
        RowsCase{"a byte that is no UTF-8",
                 "<sheetData><row r=\"1\"><c r=\"A1\"><v>\xC3(</v></c></row></sheetData>", false},
        RowsCase{"an attribute under a prefix nothing binds",
                 R"(<sheetData><row r="1" q:x="1"/></sheetData>)", false},
        RowsCase{
            "an attribute under a prefix declared empty", R"(<sheetData><row r="1" q:x="1"/></sheetData>)",
            false,
            R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:q="">)",
            "</worksheet>"},
        RowsCase{"a prefix declared on an element before the rows, not around them",
                 R"(<sheetData><row r="1" q:x="1"/></sheetData>)", false,
                 R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
                 R"(<sheetViews xmlns:q="urn:q"><sheetView/></sheetViews>)",
                 "</worksheet>"},
        RowsCase{"a second sheetData",
                 R"(<sheetData><row r="1"/></sheetData><sheetData><row r="2"/></sheetData>)", false},
        RowsCase{"a fault after the rows", R"(<sheetData><row r="1"/></sheetData>)", false, kOpen,
                 "<pageMargins left=\"0.7\"></worksheet>"}));

// --- The shared string table: its items off the bytes as the parser reads them, or left to the parser ------

struct StringsCase {
    const char* what;
    std::string part;
    bool plain;
};

void PrintTo(const StringsCase& c, std::ostream* os) {
    *os << c.what;
}

const std::string kSst =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="4" )"
    R"(uniqueCount="3">)";

class StringTableRead : public ::testing::TestWithParam<StringsCase> {};

TEST_P(StringTableRead, OffTheBytesAsTheParserReadsItOrNotAtAll) {
    const StringsCase& c = GetParam();
    const std::string byParser = stringTable(c.part, false);
    // The first chunk ending with the table's end tag: what follows it is not yet there.
    const std::size_t toEnd = c.part.rfind("</sst>") + 6;
    for (const std::size_t chunk : {std::size_t(1), std::size_t(5), std::size_t(64), toEnd, c.part.size()})
        EXPECT_EQ(stringTable(c.part, true, chunk), byParser) << "in chunks of " << chunk;
    ordana::spreadsheet::xlsx::StringTableReader whole(ordana::testing::inPieces(c.part, c.part.size()),
                                                       "xl/sharedStrings.xml");
    bool plain = false;
    try {
        plain = whole.all().plain;
    } catch (const ordana::RuntimeError&) {
    }
    EXPECT_EQ(plain, c.plain) << byParser;
}

TEST_P(StringTableRead, ItemByItemAsWhole) {
    // Asked for one item after the other, in small chunks: the items of the whole table, as far as it is
    // sound; a broken one fails at the end as a whole one does.
    const StringsCase& c = GetParam();
    ordana::spreadsheet::xlsx::StringTableReader reader(ordana::testing::inPieces(c.part, 3),
                                                        "xl/sharedStrings.xml", true, 3);
    std::vector<std::string> items;
    const std::string byParser = stringTable(c.part, false);
    if (byParser.rfind("fault: ", 0) == 0) {
        // Each item of a broken table fails with its fault, not as an item it seems to lack.
        EXPECT_THROW(while (const std::string* item = reader.item(items.size())) items.push_back(*item),
                     ordana::RuntimeError);
        EXPECT_THROW(reader.all(), ordana::RuntimeError);
        EXPECT_THROW(reader.item(0), ordana::RuntimeError);
        return;
    }
    while (const std::string* item = reader.item(items.size()))
        items.push_back(*item);
    EXPECT_EQ(items, reader.all().items);
    EXPECT_EQ(ordana::testing::describe(reader.all()), byParser);
}

INSTANTIATE_TEST_SUITE_P(
    Xlsx, StringTableRead,
    ::testing::Values(
        StringsCase{"items as Excel writes them",
                    kSst +
                        R"(<si><t>SPECIA</t></si><si><t xml:space="preserve"> Specia ăîșț &amp; co </t></si>)"
                        "<si><t/></si><si/></sst>",
                    true},
        StringsCase{"laid out on lines, text in several t",
                    kSst + "\n  <si>\n <t>a</t><t>b\nc</t> </si>\n</sst>\n", true},
        StringsCase{"the main namespace under a prefix",
                    R"(<x:sst xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
                    R"(<x:si><x:t>a</x:t></x:si></x:sst>)",
                    true},
        StringsCase{"no items", kSst + "</sst>", true},
        StringsCase{"no items, the root written empty", kSst.substr(0, kSst.size() - 1) + "/>", false},
        StringsCase{
            "no items, the prefixed root written empty",
            R"(<x:sst xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="0"/>)",
            false},
        StringsCase{"a DOCTYPE",
                    "<?xml version=\"1.0\"?><!DOCTYPE sst [<!ENTITY a \"b\">]>" +
                        kSst.substr(kSst.find('<', 5)) + "<si><t>&a;</t></si></sst>",
                    false},
        StringsCase{"a '>' in an attribute's value, cut short where a chunk ends",
                    kSst + R"(<si><t note="a>b">x</t></si><si><t note=">>">y</t></si></sst>)", true},
        StringsCase{"rich text runs and phonetic runs",
                    kSst +
                        R"(<si><r><rPr><b/></rPr><t>Spe</t></r><r><t>cia</t></r><rPh sb="0" eb="1"><t>x</t>)"
                        R"(</rPh><phoneticPr fontId="1"/></si><si><t>b</t></si></sst>)",
                    false},
        StringsCase{"a character reference", kSst + "<si><t>&#x41;</t></si></sst>", false},
        StringsCase{"a comment after the table", kSst + "<si><t>a</t></si></sst><!-- x -->", false},
        StringsCase{"text after the table", kSst + "<si><t>a</t></si></sst>\n  x", false},
        StringsCase{"an item not closed", kSst + "<si><t>a</t></sst>", false},
        StringsCase{"a byte that is no UTF-8", kSst + "<si><t>\xC3(</t></si></sst>", false},
        StringsCase{"a second root", kSst + "<si><t>a</t></si></sst><sst/>", false}));

} // namespace
