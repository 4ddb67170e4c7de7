#include "spreadsheet/xml/PlainParser.h"
#include "support/XmlEvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

using ordana::testing::expatEvents;
using ordana::testing::plainEvents;

namespace {

struct PlainCase {
    const char* what;
    std::string doc;
};

void PrintTo(const PlainCase& c, std::ostream* os) {
    *os << c.what;
}

// --- What rows are made of: the same events as expat, however the bytes arrive --------------------------

class PlainParserReads : public ::testing::TestWithParam<PlainCase> {};

TEST_P(PlainParserReads, AsExpatDoesInPiecesOfEverySize) {
    const std::string& doc = GetParam().doc;
    const auto expected = expatEvents(doc);
    ASSERT_TRUE(expected) << "the case is not well-formed";
    for (std::size_t piece = 1; piece <= doc.size(); ++piece) {
        const auto got = plainEvents(doc, piece);
        ASSERT_TRUE(got) << "gave up, in pieces of " << piece;
        ASSERT_EQ(*got, *expected) << "in pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Plain, PlainParserReads,
    ::testing::Values(
        PlainCase{"an empty element", "<a/>"},
        PlainCase{"a row as producers write it",
                  R"(<w xmlns:table="urn:t" xmlns:text="urn:x"><table:table-row table:style-name="ro1">)"
                  R"(<table:table-cell office:value-type="float" office:value="12.5"><text:p>12,5</text:p>)"
                  R"(</table:table-cell><table:table-cell table:number-columns-repeated="1022"/>)"
                  R"(</table:table-row></w>)"},
        PlainCase{"the five entities in text and in values",
                  R"(<a v="&amp;&lt;&gt;&quot;&apos;">x &amp; y &lt;z&gt; &quot;q&quot; &apos;</a>)"},
        PlainCase{"white space in values reads as spaces, the other quote as itself",
                  "<a v=\"one\ttwo\nthree\" w='it\"s' x=\"it's\"/>"},
        PlainCase{
            "text in UTF-8, up to four bytes a character",
            "<p>Specia \xC4\x83\xC3\xAE\xC8\x99\xC8\x9B \xE6\x97\xA5 \xF0\x9F\x98\x80 \xEF\xBF\xBD</p>"},
        PlainCase{"white space around the element and inside tags",
                  "\n  <a  x = \"1\"\ty\n=\n'2' >\n <b />\n</a  >\n\n"},
        PlainCase{"brackets that do not close a section", "<a>]] ] ]x]]</a>"},
        PlainCase{"names with dots, dashes, digits, colons", "<_a:b.c-1 x:y:z=\"\"><B9/></_a:b.c-1>"},
        PlainCase{"attributes alike in length, first letter or both",
                  "<c r=\"A1\" s=\"1\" t=\"s\" ra=\"\" rb=\"\" sa=\"\"/>"},
        PlainCase{"nested elements of the same name", "<a><a><a>t</a></a>u</a>"},
        PlainCase{"the XML declaration as Excel writes it, lines ended by CR LF",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<a>x</a>\r\n"},
        PlainCase{"a declaration of the version alone", "<?xml version='1.0' ?><a/>"},
        PlainCase{"a long text", "<p>" + std::string(3000, 'x') + "</p>"},
        // Every kind of name byte, in names and values longer than a machine word or a vector register.
        PlainCase{"names and values longer than sixteen bytes",
                  "<Az_:.-09azAZ_:.-09azAZ xmlns:Az_.-09azAZ=\"u\" a0123456789abcdef=\"0123456789abcdef\" "
                  "b0123456789abcdefg='0123456789abcdef&amp;x\"\t\xC4\x83\xF0\x9F\x98\x80'>"
                  "<x0123456789abcde/><x0123456789abcdef/><x0123456789abcdefg y0123456789abcde=\"\"/>"
                  "</Az_:.-09azAZ_:.-09azAZ  >"}));

// --- Anything else is expat's to judge: the plain parser gives up, in pieces of any size ----------------

struct OtherCase {
    const char* what;
    std::string doc;
    bool wellFormed; // expat's verdict
};

void PrintTo(const OtherCase& c, std::ostream* os) {
    *os << c.what;
}

class PlainParserGivesUp : public ::testing::TestWithParam<OtherCase> {};

TEST_P(PlainParserGivesUp, LeavingTheVerdictToExpat) {
    const OtherCase& c = GetParam();
    EXPECT_EQ(expatEvents(c.doc).has_value(), c.wellFormed);
    for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(5), c.doc.size()})
        EXPECT_FALSE(plainEvents(c.doc, piece)) << "in pieces of " << piece;
}

INSTANTIATE_TEST_SUITE_P(
    Other, PlainParserGivesUp,
    ::testing::Values(
        // Well-formed, beyond the plain form.
        OtherCase{"a comment", "<a><!-- c --></a>", true},
        OtherCase{"a CDATA section", "<a><![CDATA[<x>]]></a>", true},
        OtherCase{"a processing instruction", "<a><?pi x?></a>", true},
        OtherCase{"a declaration of another encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
                  true},
        OtherCase{"a declaration past the start", " <?xml version=\"1.0\"?><a/>", false},
        OtherCase{"a character reference in text", "<a>x&#10;y</a>", true},
        OtherCase{"a character reference in a value", "<a v=\"&#x9;\"/>", true},
        OtherCase{"a carriage return", "<a>x\r\ny</a>", true},
        OtherCase{"a carriage return in a tag", "<a\r\nv=\"1\"/>", true},
        OtherCase{"a name beyond ASCII", "<a><\xC4\x83/></a>", true},
        OtherCase{"a byte order mark", "\xEF\xBB\xBF<a/>", true},
        OtherCase{"a long name beyond ASCII", "<a0123456789abcdefgh\xC4\x83xyz0123456789abcdefgh/>", true},
        OtherCase{"a character reference in a long value",
                  "<a v=\"0123456789abcdefgh&#9;0123456789abcdefgh\"/>", true},
        // Not well-formed.
        OtherCase{"a section end in text", "<a>x]]>y</a>", false},
        OtherCase{"an attribute twice", "<a x=\"1\" x=\"2\"/>", false},
        OtherCase{"attributes without space between", "<a x=\"1\"y=\"2\"/>", false},
        OtherCase{"an attribute without a value", "<a x/>", false},
        OtherCase{"an unquoted value", "<a x=1/>", false}, OtherCase{"'<' in a value", "<a x=\"<\"/>", false},
        OtherCase{"'<' in a long value", "<a x=\"0123456789abcdefgh<0123456789abcdefgh\"/>", false},
        OtherCase{"a control character in a long value",
                  "<a x=\"0123456789abcdefgh\x1Fxyz0123456789abcdefgh\"/>", false},
        OtherCase{"'@' in a long name", "<a0123456789abcdefgh@0123456789abcdefgh/>", false},
        OtherCase{"'[' in a long name", "<a0123456789abcdefgh[0123456789abcdefgh/>", false},
        OtherCase{"'`' in a long name", "<a0123456789abcdefgh`0123456789abcdefgh/>", false},
        OtherCase{"'{' in a long name", "<a0123456789abcdefgh{0123456789abcdefgh/>", false},
        OtherCase{"'/' in a long name", "<a0123456789abcdefgh/0123456789abcdefgh/>", false},
        OtherCase{"an end tag of another element", "<a><b></a></b>", false},
        OtherCase{"an end tag with nothing open", "<a/></a>", false},
        OtherCase{"an element left open", "<a><b/>", false},
        OtherCase{"a second document element", "<a/><b/>", false},
        OtherCase{"text before the element", "x<a/>", false},
        OtherCase{"an undefined entity", "<a>&nbsp;</a>", false},
        OtherCase{"an unterminated entity", "<a>&amp</a>", false},
        OtherCase{"a control character", "<a>\x01</a>", false},
        OtherCase{"an overlong sequence", "<a>\xC0\x80</a>", false},
        OtherCase{"a surrogate", "<a>\xED\xA0\x80</a>", false},
        OtherCase{"U+FFFE", "<a>\xEF\xBF\xBE</a>", false},
        OtherCase{"past U+10FFFF", "<a>\xF4\x90\x80\x80</a>", false},
        OtherCase{"a sequence cut short", "<a>\xE6\x97</a>", false},
        OtherCase{"a sequence cut short at the end", "<a/>\xE6", false}, OtherCase{"nothing", "", false},
        OtherCase{"only white space", " \n", false},
        OtherCase{"a tag left open at the end", "<a><b x=\"1\"", false}));

// A token is read again from its start as each piece comes: one of megabytes, cut across pieces, is left to
// expat rather than read over and over. Whole in one piece, it is read.
TEST(PlainParserLimits, ATokenOfMegabytesAcrossPiecesIsExpats) {
    const std::string doc = "<p>" + std::string(std::size_t(3) << 20, 'x') + "</p>";
    EXPECT_FALSE(plainEvents(doc, std::size_t(1) << 16));
    EXPECT_EQ(plainEvents(doc, doc.size()), expatEvents(doc));
}

// A handler that stops the parser (a name it cannot resolve) hears nothing more, not even the end of the
// empty element it stopped at: its stack of open elements must not unwind past what it opened.
TEST(PlainParserLimits, AHandlerThatStopsHearsNothingMore) {
    struct Log {
        ordana::spreadsheet::xml::PlainParser* parser = nullptr;
        std::string events;
    } log;
    ordana::spreadsheet::xml::PlainParser parser(
        &log,
        [](void* u, const char* name, const char**) {
            auto* l = static_cast<Log*>(u);
            l->events += std::string("<") + name;
            if (std::string(name) == "b") l->parser->stop();
        },
        [](void* u, const char* name) { static_cast<Log*>(u)->events += std::string("/") + name; },
        [](void*, const char*, int) {});
    log.parser = &parser;
    EXPECT_FALSE(parser.feed("<a><b/><c/></a>", true));
    EXPECT_FALSE(parser.gaveUp());
    EXPECT_EQ(log.events, "<a<b");
}

// The cursor over bytes that end anywhere in a tag: each stretch copied into a buffer of exactly its size,
// so that a read past its end is a fault the address sanitizer names. A tag cut short is not read.
TEST(PlainCursorReads, ATagOnlyWhenItsBytesAreAllThere) {
    using ordana::spreadsheet::xml::PlainCursor;
    const std::string tags[] = {R"(<c r="A1" note="1>0" s='2'/>)", "<row r=\"1\" spans='a\">b' note=\">\">",
                                "<t x=\"\t&amp;>\n\">"};
    for (const std::string& tag : tags) {
        for (std::size_t size = 0; size <= tag.size(); ++size) {
            const auto bytes = std::make_unique<char[]>(size);
            std::copy_n(tag.data(), size, bytes.get());
            PlainCursor cursor(std::string_view(bytes.get(), size), 0);
            PlainCursor::Tag t;
            const bool read = cursor.startTag(t);
            EXPECT_EQ(read, size == tag.size()) << tag.substr(0, size);
            if (read) {
                EXPECT_EQ(t.end, size) << tag;
            }
        }
    }
}

} // namespace
