#include "support/ErrorAssert.h"

#include "spreadsheet/xml/XmlPart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ordana;
using namespace ordana::spreadsheet;

namespace {

std::span<const std::uint8_t> view(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string cut(const std::string& s, std::size_t begin, std::size_t end) {
    return s.substr(begin, end - begin);
}

constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kStrict = "http://purl.oclc.org/ooxml/spreadsheetml/main";

// --- Each element's exact spans, whatever the producer's spelling
// -------------------------------------------

struct SpanCase {
    const char* what;
    std::string part;
    const char* local; // the first element of that local name
    const char* uri;
    const char* prefix;
    const char* startTag;
    const char* content;
    const char* endTag;
};

void PrintTo(const SpanCase& c, std::ostream* os) {
    *os << c.what;
}

class XmlSpans : public ::testing::TestWithParam<SpanCase> {};

TEST_P(XmlSpans, StartContentAndEndTagAreTheBytesOfThePart) {
    const SpanCase& c = GetParam();
    for (const bool pieceByPiece : {false, true}) {
        // The same spans whether the part arrives whole or a byte at a time (an entry being inflated).
        struct Finder : xml::Handler {
            const char* local;
            bool found = false;
            xml::Element element;
            xml::EndTag endTag;
            void end(const xml::Element& e, const xml::EndTag& t) override {
                if (!found && e.local == local) found = true, element = e, endTag = t;
            }
        } f;
        f.local = c.local;
        if (pieceByPiece) {
            xml::Scanner s("xl/part.xml", f);
            for (std::size_t i = 0; i < c.part.size(); ++i)
                s.feed(view(c.part).subspan(i, 1), false);
            s.feed({}, true);
        } else {
            xml::scan(view(c.part), "xl/part.xml", f);
        }
        ASSERT_TRUE(f.found) << c.what;
        EXPECT_EQ(f.element.uri, c.uri);
        EXPECT_EQ(f.element.prefix, c.prefix);
        EXPECT_EQ(cut(c.part, f.element.begin, f.element.startEnd), c.startTag);
        EXPECT_EQ(cut(c.part, f.element.startEnd, f.endTag.begin), c.content);
        EXPECT_EQ(cut(c.part, f.endTag.begin, f.endTag.end), c.endTag);
    }
}

const std::string kX = std::string("<x:worksheet xmlns:x=\"") + kMain + "\">";

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlSpans,
    ::testing::Values(
        SpanCase{"default namespace",
                 std::string("<worksheet xmlns=\"") + kMain + "\"><row r=\"1\"><c/></row></worksheet>", "row",
                 kMain, "", "<row r=\"1\">", "<c/>", "</row>"},
        SpanCase{"x prefix on every element",
                 kX +
                     "<x:sheetData><x:row><x:c r='A1'><x:v>1</x:v></x:c></x:row></x:sheetData></x:worksheet>",
                 "c", kMain, "x", "<x:c r='A1'>", "<x:v>1</x:v>", "</x:c>"},
        SpanCase{"empty element", kX + "<x:dimension ref=\"A1\" /></x:worksheet>", "dimension", kMain, "x",
                 "<x:dimension ref=\"A1\" />", "", ""},
        SpanCase{"byte-order mark and CRLF declaration",
                 std::string("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" "
                             "standalone=\"yes\"?>\r\n<sst xmlns=\"") +
                     kStrict + "\">\r\n<si><t xml:space=\"preserve\"> a&amp;b </t></si></sst>",
                 "t", kStrict, "", "<t xml:space=\"preserve\">", " a&amp;b ", "</t>"},
        SpanCase{"nested elements of one name", "<a><b id=\"outer\"><b id=\"inner\">x</b></b></a>", "b", "",
                 "", "<b id=\"inner\">", "x", "</b>"},
        SpanCase{"unknown elements and extension lists",
                 kX + "<x:extLst><x:ext uri=\"{1}\"><x14:slicer "
                      "xmlns:x14=\"urn:x14\"/></x:ext></x:extLst></x:worksheet>",
                 "slicer", "urn:x14", "x14", "<x14:slicer xmlns:x14=\"urn:x14\"/>", "", ""},
        SpanCase{"a default namespace taken back inside",
                 std::string("<worksheet xmlns=\"") + kMain +
                     "\"><extLst xmlns=\"\"><c/></extLst></worksheet>",
                 "c", "", "", "<c/>", "", ""},
        SpanCase{"a prefix rebound on a sibling holds only there",
                 kX + "<x:a xmlns:x=\"urn:other\"/><x:c/></x:worksheet>", "c", kMain, "x", "<x:c/>", "", ""},
        SpanCase{"a prefix rebound inside", kX + "<x:a xmlns:x=\"urn:other\"><x:c/></x:a></x:worksheet>", "c",
                 "urn:other", "x", "<x:c/>", "", ""},
        SpanCase{"multi-byte text before the element",
                 "<a><t>\xC8\x98"
                 "coal\xC4\x83</t><v>2</v></a>",
                 "v", "", "", "<v>", "2", "</v>"}));

TEST(XmlNames, PrefixedAttributesResolveThroughTheirNamespace) {
    const std::string part = kX + "<x:sheet xmlns:r=\"urn:rel\" name=\"Date\" r:id=\"rId3\"/></x:worksheet>";
    struct H : xml::Handler {
        xml::Element sheet;
        void start(const xml::Element& e) override {
            if (e.local == "sheet") sheet = e;
        }
    } h;
    xml::scan(view(part), "xl/workbook.xml", h);
    ASSERT_NE(h.sheet.attribute("urn:rel", "id"), nullptr);
    EXPECT_EQ(*h.sheet.attribute("urn:rel", "id"), "rId3");
    EXPECT_EQ(h.sheet.attribute("id"), nullptr) << "a prefixed attribute is not an unprefixed one";
    EXPECT_EQ(*h.sheet.attribute("name"), "Date");
    EXPECT_EQ(h.sheet.qualified("sheet"), "x:sheet");

    xml::AttributeSpan s;
    ASSERT_TRUE(xml::findAttribute(view(part), h.sheet, "r:id", s));
    EXPECT_EQ(cut(part, s.begin, s.end), "r:id=\"rId3\"");
    EXPECT_EQ(cut(part, s.valueBegin, s.valueEnd), "rId3");
    EXPECT_FALSE(xml::findAttribute(view(part), h.sheet, "id", s));
    EXPECT_EQ(cut(part, h.sheet.begin, xml::attributeInsertPoint(h.sheet)), "<x:sheet");
}

TEST(XmlNames, SiblingsOfTheSameSpellingFollowTheirOwnDeclarations) {
    // The same names at the same depth, bound to another namespace by a parent, by themselves, and again
    // by nothing of their own once a declaration went out of scope; and an attribute that a sibling
    // spells with a prefix.
    const std::string part =
        "<r xmlns:a=\"u1\"><p><a:x a:k=\"1\" k=\"1\"/></p><p xmlns:a=\"u2\"><a:x a:k=\"2\" "
        "k=\"2\"/></p><p><a:x xmlns:a=\"u3\" a:k=\"3\" k=\"3\"/><a:x a:k=\"4\" "
        "k=\"4\"/><a:x k=\"5\" a:k=\"5\"/><a:x a:k=\"6\"/><a:x k=\"7\" a:k=\"7\"/></p></r>";
    struct H : xml::Handler {
        std::string seen;
        void start(const xml::Element& e) override {
            if (e.local != "x") return;
            seen += e.uri + ":";
            for (const xml::Attribute& a : e.attributes)
                seen += " " + (a.uri.empty() ? std::string("-") : a.uri) + "/" + a.local + "=" + a.value;
            seen += "\n";
        }
    };
    const std::string expected = "u1: u1/k=1 -/k=1\n"
                                 "u2: u2/k=2 -/k=2\n"
                                 "u3: u3/k=3 -/k=3\n"
                                 "u1: u1/k=4 -/k=4\n"
                                 "u1: -/k=5 u1/k=5\n"
                                 "u1: u1/k=6\n"
                                 "u1: -/k=7 u1/k=7\n";
    H byExpat, plainly;
    xml::scan(view(part), "p.xml", byExpat);
    EXPECT_EQ(byExpat.seen, expected);
    ASSERT_TRUE(xml::scanPlainly(view(part), "p.xml", plainly));
    EXPECT_EQ(plainly.seen, expected);
}

TEST(XmlNames, AttributeSpansInEverySpelling) {
    struct Case {
        std::string tag, name, whole, value;
    };
    for (const Case& c : std::vector<Case>{{"<c r=\"B2\" s='3' t=\"s\">", "s", "s='3'", "3"},
                                           {"<c  r = \"B2\"\n\tt=\"n\"/>", "r", "r = \"B2\"", "B2"},
                                           {"<c rr=\"1\" r=\"2\">", "r", "r=\"2\"", "2"},
                                           {"<c x=\"a&quot;b\" r=\"C3\"/>", "r", "r=\"C3\"", "C3"}}) {
        const std::string part = c.tag + (c.tag.ends_with("/>") ? "" : "</c>");
        struct H : xml::Handler {
            xml::Element c;
            void start(const xml::Element& e) override { c = e; }
        } h;
        xml::scan(view(part), "p.xml", h);
        xml::AttributeSpan s;
        ASSERT_TRUE(xml::findAttribute(view(part), h.c, c.name, s)) << c.tag;
        EXPECT_EQ(cut(part, s.begin, s.end), c.whole);
        EXPECT_EQ(cut(part, s.valueBegin, s.valueEnd), c.value);
    }
}

// --- Edited parts: the original bytes with the new pieces, nothing else
// ---------------------------------------

TEST(XmlEdits, ReplaceAndInsertKeepEveryOtherByte) {
    const std::string part = "<?xml version=\"1.0\"?>\r\n<a><b>1</b><c/></a>";
    const std::size_t b = part.find("<b>"), bEnd = part.find("<c/>"), c = bEnd;
    xml::Edits edits;
    edits.replace(b, bEnd, "<b>2</b>");
    edits.insert(c, "<new/>");    // after the replacement ending here
    edits.insert(b, "<first/>");  // before the replacement starting here
    edits.insert(b, "<second/>"); // insertions at one place keep their order
    const auto out = edits.apply(view(part));
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "<?xml version=\"1.0\"?>\r\n<a><first/><second/><b>2</b><new/><c/></a>");
    EXPECT_EQ(xml::Edits().apply(view(part)), std::vector<std::uint8_t>(part.begin(), part.end()));
}

// A part too large to hold is edited while it is read piece by piece; any cut between pieces (inside a
// replaced span, at an insertion, at either end) gives the bytes of the edit made in memory.
// A large part is read ahead on another thread: every byte comes once and in order, whatever the reader
// hands out at a time; a fault of the reader comes after the bytes before it; a consumer that stops ends
// the reading, and one that throws is heard.
TEST(XmlPieces, ReadAheadKeepsOrderFaultsAndStops) {
    const std::size_t mib = std::size_t(1) << 20;
    struct Case {
        const char* what;
        std::size_t size, chunk; // the part, and the most the reader gives at once
        std::size_t failAt;      // the reader throws once this much is read; 0: never
        std::size_t stopAfter;   // the consumer stops once it has this much; 0: never
        bool consumerThrows;
    } cases[] = {
        {"small, in one piece", 1000, mib, 0, 0, false},
        {"small, in pieces of 7 bytes", 1000, 7, 0, 0, false},
        {"exactly one piece", mib, mib, 0, 0, false},
        {"large, in whole pieces", 5 * mib + 3, mib, 0, 0, false},
        {"large, in odd pieces", 5 * mib + 3, 300001, 0, 0, false},
        {"a fault past the first pieces", 6 * mib, mib, 3 * mib, 0, false},
        {"a fault in the first piece", 6 * mib, mib, 1, 0, false},
        {"stopped early", 50 * mib, mib, 0, 2 * mib, false},
        {"a consumer that throws", 50 * mib, mib, 0, 2 * mib, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t given = 0;
        const xml::PieceReader read = [&](std::span<std::uint8_t> out) -> std::size_t {
            if (c.failAt && given >= c.failAt) throw RuntimeError(err::Application, "citire esuata");
            const std::size_t n = std::min({out.size(), c.chunk, c.size - given});
            for (std::size_t i = 0; i < n; ++i)
                out[i] = std::uint8_t((given + i) * 31 % 251);
            given += n;
            return n;
        };
        std::size_t got = 0;
        bool inOrder = true;
        auto consume = [&](std::size_t offset, std::span<const std::uint8_t> piece) {
            inOrder = inOrder && offset == got;
            for (std::size_t i = 0; i < piece.size(); ++i)
                inOrder = inOrder && piece[i] == std::uint8_t((offset + i) * 31 % 251);
            got += piece.size();
            if (c.stopAfter && got >= c.stopAfter) {
                if (c.consumerThrows) throw RuntimeError(err::Application, "oprit");
                return false;
            }
            return true;
        };
        if (c.failAt) {
            EXPECT_RUNTIME_ERROR(xml::readPieces(read, consume), err::Application, "citire esuata");
            EXPECT_EQ(got, std::max(c.failAt, std::min(c.chunk, mib)))
                << "the bytes before the fault come first";
        } else if (c.consumerThrows) {
            EXPECT_RUNTIME_ERROR(xml::readPieces(read, consume), err::Application, "oprit");
        } else {
            xml::readPieces(read, consume);
            EXPECT_EQ(got, c.stopAfter ? c.stopAfter : c.size);
        }
        EXPECT_TRUE(inOrder);
        if (c.stopAfter) {
            EXPECT_LT(given, 10 * mib) << "reading went on long after the consumer stopped";
        }
    }
}

// Written in two pieces around the longest untouched stretch, the part is the same as written whole.
TEST(XmlEdits, AroundTheLongestGapTheTwoPiecesMakeTheWhole) {
    const std::string part = "0123456789abcdefghijklmnopqrstuvwxyz";
    struct Case {
        const char* what;
        std::vector<std::tuple<std::size_t, std::size_t, const char*>> edits; // begin, end, text
        std::size_t gapBegin, gapEnd;
    } cases[] = {
        {"one edit: no gap", {{3, 5, "X"}}, 0, 0},
        {"at both ends", {{0, 2, "A"}, {34, 36, "Z"}}, 2, 34},
        {"insertions bounding the gap", {{4, 4, "i"}, {30, 30, "j"}, {30, 32, "R"}}, 4, 30},
        {"the longest of three", {{1, 2, "a"}, {5, 6, "b"}, {20, 21, "c"}, {22, 22, "d"}}, 6, 20},
        {"an insertion at the very end", {{2, 3, "x"}, {36, 36, "END"}}, 3, 36},
        {"touching edits only", {{1, 2, "a"}, {2, 3, "b"}}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        xml::Edits edits;
        for (const auto& [begin, end, text] : c.edits) {
            if (begin == end)
                edits.insert(begin, text);
            else
                edits.replace(begin, end, text);
        }
        const auto gap = edits.longestGap();
        EXPECT_EQ(gap, std::pair(c.gapBegin, c.gapEnd));
        const auto whole = edits.apply(view(part));
        std::string pieces;
        const ByteSink sink = [&](std::span<const std::uint8_t> b) { pieces.append(b.begin(), b.end()); };
        edits.writeTo(view(part), 0, gap.first, sink);
        pieces += part.substr(gap.first, gap.second - gap.first);
        edits.writeTo(view(part), gap.second, part.size(), sink);
        EXPECT_EQ(pieces, std::string(whole.begin(), whole.end()));
    }
    // A piece whose end falls inside an edit is a fault of the caller's, not a part cut short.
    xml::Edits straddling;
    straddling.replace(3, 8, "X");
    EXPECT_RUNTIME_ERROR(straddling.writeTo(view(part), 0, 5, [](std::span<const std::uint8_t>) {}),
                         err::Internal, "");
}

TEST(XmlEdits, ReadPieceByPieceTheyGiveTheSameBytes) {
    const std::string part = "<a><b>1</b><c/><d>long text</d></a>";
    xml::Edits edits;
    edits.insert(0, "<!--0-->");
    edits.replace(part.find("<b>"), part.find("<c/>"), "<b>2</b>");
    edits.insert(part.find("<c/>"), "<new/>");
    edits.replace(part.find("<d>"), part.find("</a>"), "");
    edits.insert(part.size(), "<!--end-->");
    const auto whole = edits.apply(view(part));
    for (std::size_t piece = 1; piece <= part.size() + 1; ++piece) {
        std::string out;
        std::size_t at = 0;
        edits.writeTo(
            [&](std::span<std::uint8_t> buf) {
                const std::size_t n = std::min({buf.size(), piece, part.size() - at});
                std::copy_n(part.begin() + std::ptrdiff_t(at), n, buf.begin());
                at += n;
                return n;
            },
            [&](std::span<const std::uint8_t> b) { out.append(b.begin(), b.end()); });
        EXPECT_EQ(out, std::string(whole.begin(), whole.end())) << "pieces of " << piece;
    }
    xml::Edits past;
    past.replace(part.size() - 2, part.size() + 3, "x");
    EXPECT_RUNTIME_ERROR(past.writeTo([](std::span<std::uint8_t>) { return std::size_t(0); },
                                      [](std::span<const std::uint8_t>) {}),
                         err::Internal, "iese din partea");
}

// Stepping over the bulk of a sheet: only the end tag that closes the enclosing element stops the scan,
// wherever the pieces are cut; tags inside comments, CDATA and instructions do not, nor do other elements'
// tags that begin like it, and elements of its name inside it are closed first.
TEST(XmlEndFinder, FindsTheEndOfTheEnclosingElementWhereverPiecesAreCut) {
    struct Case {
        const char* bytes;
        const char* name;
        std::string_view end; // what the end tag found starts with; "" when there is none
    } cases[] = {
        {"<r/><r a=\"x>y\">t</r></t>rest", "t", "</t>rest"},
        {"<r a='/>'><c/></r></t>", "t", "</t>"},
        {"<!-- </t> <r> --><r/></t>", "t", "</t>"},
        {"<!----></t>", "t", "</t>"},
        {"<![CDATA[</t><r>]]></t>", "t", "</t>"},
        {"<?pi </t> ?></t>", "t", "</t>"},
        {"<t><t a='>'><t/></t></t></t>", "t", "</t>"},
        {"<t a=\"/>\"></t></t >", "t", "</t >"},
        {"<c/></g><r/></t>", "t", "</t>"},
        {"<tr></tr><t-x/></tb></t\n>", "t", "</t\n>"},
        {"<x:table-row><x:table/></x:table-row></y:table></x:table>", "x:table", "</x:table>"},
        {"<x:table\ta='1'><x:table\n/></x:table\r></x:tables><y:table></x:table>", "x:table", "</x:table>"},
        {"<x:tablex></x:tablex><x:table-cell/><!--x--></x:table>", "x:table", "</x:table>"},
        {"</t>", "t", "</t>"},
        {"<r>unclosed</t", "t", ""},
        {"<t>inner</t>", "t", ""},
        {"<!-- never closed </t>", "t", ""},
    };
    for (const Case& c : cases) {
        const std::string_view bytes = c.bytes;
        const std::size_t want = c.end.empty() ? std::string::npos : bytes.rfind(c.end);
        for (std::size_t piece = 1; piece <= bytes.size(); ++piece) {
            xml::EndFinder finder(c.name);
            std::size_t got = std::string::npos;
            for (std::size_t at = 0; at < bytes.size() && got == std::string::npos; at += piece)
                got = finder.feed(view(std::string(bytes.substr(at, piece))));
            EXPECT_EQ(got, want) << c.bytes << " in pieces of " << piece;
        }
    }
}

TEST(XmlEdits, OverlappingEditsAreAnInternalFailureNotACorruptPart) {
    const std::string part = "<a><b>1</b></a>";
    xml::Edits edits;
    edits.replace(3, 11, "<b/>");
    edits.replace(6, 7, "2");
    EXPECT_RUNTIME_ERROR(edits.apply(view(part)), err::Internal, "se suprapun");
}

TEST(XmlEdits, EscapesWhatTextAndAttributesCannotHoldAsIs) {
    EXPECT_EQ(xml::escapeText("a<b & c>d"), "a&lt;b &amp; c&gt;d");
    EXPECT_EQ(xml::escapeAttribute("\"x\"\t\n"), "&quot;x&quot;&#9;&#10;");
}

// --- Broken and hostile parts
// ---------------------------------------------------------------------------------

struct BadPart {
    const char* what;
    std::string part;
    const char* fragment;
};

void PrintTo(const BadPart& c, std::ostream* os) {
    *os << c.what;
}

class XmlRejects : public ::testing::TestWithParam<BadPart> {};

TEST_P(XmlRejects, NamingThePart) {
    xml::Handler ignore;
    EXPECT_RUNTIME_ERROR(xml::scan(view(GetParam().part), "xl/worksheets/sheet7.xml", ignore),
                         err::Application,
                         "partea \"xl/worksheets/sheet7.xml\" " + std::string(GetParam().fragment));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlRejects,
    ::testing::Values(
        BadPart{"unclosed", "<a><b></a>", "nu este XML corect (linia 1"},
        BadPart{"truncated", "<a><b>", "nu este XML corect"},
        BadPart{"unbound prefix", "<x:a/>", "nu este XML corect (linia 1, coloana 0): unbound prefix"},
        BadPart{"unbound attribute prefix", "<a>\n <b x:c=\"1\"/></a>",
                "nu este XML corect (linia 2, coloana 1): unbound prefix"},
        BadPart{"a prefix out of its scope", "<a><b xmlns:x=\"urn:x\"/><x:c/></a>",
                "nu este XML corect (linia 1, coloana 23): unbound prefix"},
        BadPart{"a prefix declared empty", "<a xmlns:x=\"\"><x:c/></a>",
                "nu este XML corect (linia 1, coloana 14): unbound prefix"},
        BadPart{"empty", "", "nu este XML corect"},
        BadPart{"entity expansion",
                "<!DOCTYPE a [<!ENTITY e \"xxxxxxxxxx\"><!ENTITY f \"&e;&e;&e;&e;\">]><a>&f;</a>",
                "contine o declaratie DOCTYPE"},
        BadPart{"nested beyond reason",
                std::string(5000 * 3, ' ')
                    .replace(0, 0,
                             [] {
                                 std::string s;
                                 for (int i = 0; i < 5000; ++i)
                                     s += "<a>";
                                 return s;
                             }()),
                "are elementele imbricate"}));

TEST(XmlScanner, StopsWhenTheReaderHasWhatItNeeds) {
    std::string part = "<sheetData>";
    for (int r = 1; r <= 1000; ++r)
        part += "<row r=\"" + std::to_string(r) + "\"/>";
    part += "</sheetData>";
    struct H : xml::Handler {
        xml::Scanner* scanner = nullptr;
        int rows = 0;
        void start(const xml::Element& e) override {
            if (e.local == "row" && ++rows == 3) scanner->stop();
        }
    } h;
    xml::Scanner s("p.xml", h);
    h.scanner = &s;
    EXPECT_FALSE(s.feed(view(part), true));
    EXPECT_EQ(h.rows, 3);
}

TEST(XmlDocument, TreeOfSpansWithText) {
    const std::string part =
        kX + "<x:numFmts count=\"1\"><x:numFmt numFmtId=\"164\" formatCode=\"0.000\"/></x:numFmts>"
             "<x:t>a&lt;b</x:t></x:worksheet>";
    const auto d = xml::Document::parse(view(part), "xl/styles.xml");
    EXPECT_TRUE(d.isUtf8());
    const int numFmts = d.child(0, "numFmts");
    ASSERT_GE(numFmts, 0);
    ASSERT_EQ(d.children(numFmts, "numFmt").size(), 1u);
    EXPECT_EQ(*d.node(d.children(numFmts, "numFmt")[0]).element.attribute("formatCode"), "0.000");
    EXPECT_EQ(d.node(d.child(0, "t")).text, "a<b");
    EXPECT_EQ(d.child(0, "absent"), -1);
    const std::string utf16("\xFF\xFE<\0a\0/\0>\0", 10);
    EXPECT_FALSE(xml::Document::parse(view(utf16), "u.xml").isUtf8());
    EXPECT_FALSE(xml::isUtf8Part(view("<?xml version='1.0' encoding='ISO-8859-1'?><a/>")));
}

} // namespace
