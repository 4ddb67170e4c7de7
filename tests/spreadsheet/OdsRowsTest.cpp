#include "support/OdsTables.h"

#include <gtest/gtest.h>

#include <string>

using ordana::testing::odsTables;

namespace {

const std::string kNamespaces =
    R"( xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
    R"( xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0")"
    R"( xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")"
    R"( xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0")"
    R"( xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0")";

std::string document(const std::string& sheets, const std::string& namespaces = kNamespaces) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>)"
           "\n<office:document-content" +
           namespaces +
           R"( office:version="1.3"><office:automatic-styles/><office:body><office:spreadsheet>)" + sheets +
           "</office:spreadsheet></office:body></office:document-content>";
}

std::string sheet(const std::string& content) {
    return R"(<table:table table:name="Date" table:style-name="ta1"><table:table-column table:style-name="co1" )"
           R"(table:number-columns-repeated="2" table:default-cell-style-name="Default"/>)" +
           content + "</table:table>";
}

const std::string kRows =
    R"(<table:table-row table:style-name="ro1"><table:table-cell table:style-name="ce1" office:value-type="string" )"
    R"(calcext:value-type="string"><text:p>SPECIA</text:p></table:table-cell><table:table-cell )"
    R"(office:value-type="string" calcext:value-type="string"><text:p>ABUNDENTA</text:p></table:table-cell>)"
    R"(</table:table-row>)"
    R"(<table:table-row table:style-name="ro1"><table:table-cell office:value-type="string" )"
    R"(calcext:value-type="string"><text:p>Specia 1</text:p></table:table-cell><table:table-cell )"
    R"(office:value-type="float" office:value="12.5" calcext:value-type="float"><text:p>12,5</text:p>)"
    R"(</table:table-cell><table:table-cell table:number-columns-repeated="1022"/></table:table-row>)";

struct OdsRowsCase {
    const char* what;
    std::string xml;
    bool plain; // some rows come straight off the bytes
};

void PrintTo(const OdsRowsCase& c, std::ostream* os) {
    *os << c.what;
}

class OdsRowsRead : public ::testing::TestWithParam<OdsRowsCase> {};

TEST_P(OdsRowsRead, OffTheBytesAsFromTheEventsInPiecesOfEverySize) {
    const OdsRowsCase& c = GetParam();
    for (const std::size_t piece :
         {std::size_t(1), std::size_t(7), std::size_t(64), std::size_t(333), c.xml.size()}) {
        const std::string byEvents = odsTables(c.xml, false, piece);
        std::size_t plainly = 0;
        EXPECT_EQ(odsTables(c.xml, true, piece, &plainly), byEvents) << "in pieces of " << piece;
        if (piece == c.xml.size()) {
            EXPECT_EQ(plainly > 0, c.plain) << byEvents;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ods, OdsRowsRead,
    ::testing::Values(
        OdsRowsCase{"rows as LibreOffice writes them",
                    document(sheet(kRows + R"(<table:table-row table:number-rows-repeated="1048574">)"
                                           R"(<table:table-cell table:number-columns-repeated="1024"/>)"
                                           R"(</table:table-row>)")),
                    true},
        OdsRowsCase{
            "every kind of value",
            document(sheet(
                kRows +
                R"(<table:table-row><table:table-cell office:value-type="percentage" office:value="0.25">)"
                R"(<text:p>25%</text:p></table:table-cell><table:table-cell office:value-type="currency" )"
                R"(office:value="3"/><table:table-cell office:value-type="date" )"
                R"(office:date-value="2026-12-08T10:30:00"/><table:table-cell office:value-type="time" )"
                R"(office:time-value="PT12H30M"/><table:table-cell office:value-type="boolean" )"
                R"(office:boolean-value="true"/><table:table-cell office:value-type="string" )"
                R"(office:string-value="din atribut"><text:p>altceva</text:p></table:table-cell>)"
                R"(<table:table-cell table:formula="of:=1/0" office:value-type="float" office:value="0" )"
                R"(calcext:value-type="error"><text:p>#DIV/0!</text:p></table:table-cell>)"
                R"(<table:table-cell table:formula="of:=[.Z9]" office:value-type="string"><text:p>#N/A)"
                R"(</text:p></table:table-cell></table:table-row>)"
                R"(<table:table-row><table:table-cell><text:p>fara tip</text:p><text:p/><text:h>titlu)"
                R"(</text:h></table:table-cell><table:table-cell><text:p/></table:table-cell>)"
                R"(<table:table-cell office:value-type="float" office:value="nu"/></table:table-row>)")),
            true},
        OdsRowsCase{"covered cells, row groups and header rows",
                    document(sheet(R"(<table:table-header-rows>)" + kRows +
                                   R"(</table:table-header-rows><table:table-row-group><table:table-row>)"
                                   R"(<table:table-cell table:number-columns-spanned="2"><text:p>a</text:p>)"
                                   R"(</table:table-cell><table:covered-table-cell/></table:table-row>)"
                                   R"(<table:table-row table:default-cell-style-name="ce2" )"
                                   R"(table:number-rows-repeated="3"/></table:table-row-group>)")),
                    true},
        OdsRowsCase{
            "laid out on lines, entities in text and values",
            document(sheet("\n " + kRows +
                           "\n <table:table-row >\n  <table:table-cell\n office:value-type = 'string' >\n"
                           "   <text:p>a &amp; b &lt;c&gt;\t</text:p>\n  </table:table-cell >\n"
                           " </table:table-row>\n")),
            true},
        OdsRowsCase{"prefixes of the producer's own choosing, and the default namespace",
                    "<o:document-content xmlns:o=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                    "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                    "xmlns:p=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><o:body><o:spreadsheet>"
                    "<table name=\"Date\"><table-row><table-cell o:value-type=\"string\"><p:p>SPECIA</p:p>"
                    "</table-cell></table-row><table-row><table-cell o:value-type=\"float\" o:value=\"2\"/>"
                    "<table-cell number-columns-repeated=\"2\"/></table-row></table></o:spreadsheet></o:body>"
                    "</o:document-content>",
                    true},
        OdsRowsCase{"two sheets", document(sheet(kRows) + sheet(kRows)), true},
        OdsRowsCase{
            "a '>' in attribute values, the last of a piece among them",
            document(sheet(kRows + R"(<table:table-row table:style-name="r>1"><table:table-cell )"
                                   R"(office:value-type="string" office:string-value="a > b">)"
                                   R"(<text:p>a &gt; b</text:p></table:table-cell></table:table-row>)")),
            true},
        OdsRowsCase{
            "an attribute under two prefixes of one namespace: the first one counts",
            document(sheet(kRows +
                           R"(<table:table-row><table:table-cell t:style-name="ce7" )"
                           R"(table:style-name="ce8" office:value-type="float" )"
                           R"(office:value="1" o:value="2" o:value-type="string"/></table:table-row>)"),
                     kNamespaces + R"( xmlns:t="urn:oasis:names:tc:opendocument:xmlns:table:1.0")"
                                   R"( xmlns:o="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"),
            true},
        // What the events read, with the rows around them off the bytes.
        OdsRowsCase{"an annotation in a cell",
                    document(sheet(kRows +
                                   R"(<table:table-row><table:table-cell><office:annotation>)"
                                   R"(<text:p>nota</text:p></office:annotation><text:p>x</text:p>)"
                                   R"(</table:table-cell></table:table-row>)" +
                                   kRows)),
                    true},
        OdsRowsCase{
            "spaces, spans and breaks in a paragraph",
            document(sheet(kRows +
                           R"(<table:table-row><table:table-cell><text:p>a<text:s text:c="2"/>b)"
                           R"(<text:span text:style-name="T1">c</text:span><text:tab/><text:line-break/>)"
                           R"(</text:p></table:table-cell></table:table-row>)")),
            true},
        OdsRowsCase{"a soft page break between the rows",
                    document(sheet(kRows + "<text:soft-page-break/>" + kRows)), true},
        OdsRowsCase{"a namespace declared on a row",
                    document(sheet(R"(<table:table-row xmlns:q="urn:q" q:x="1"><table:table-cell/>)"
                                   R"(</table:table-row>)")),
                    false},
        OdsRowsCase{"text directly in a row",
                    document(sheet(R"(<table:table-row>x<table:table-cell/></table:table-row>)")), false},
        OdsRowsCase{"a carriage return in a row, which the plain parser leaves to expat",
                    document(sheet(kRows + "<table:table-row>\r\n<table:table-cell/></table:table-row>")),
                    false},
        // Faults: the same message either way.
        OdsRowsCase{"an attribute under a prefix nothing binds",
                    document(sheet(kRows + R"(<table:table-row q:x="1"/>)")), false},
        OdsRowsCase{"a cell not closed",
                    document(sheet(R"(<table:table-row><table:table-cell></table:table-row>)")), false},
        OdsRowsCase{"the same attribute twice",
                    document(sheet(R"(<table:table-row><table:table-cell table:style-name="a" )"
                                   R"(table:style-name="b"/></table:table-row>)")),
                    false}));

} // namespace
