#pragma once

// The one pass over content.xml that opening makes, and the pass over a sheet's own bytes that indexes it
// whole: expat's events (or the plain parser's, for a whole sheet) turned into the elements and automatic
// styles of a Content, each with its byte span. The rows a sheet is read in are taken straight off the bytes
// where they are plain (PlainRows.cpp).

#include "Content.h"
#include "Namespaces.h"
#include "Runs.h"
#include "spreadsheet/xml/PlainParser.h"
#include "spreadsheet/xml/XmlPart.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <expat.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordana::spreadsheet::ods {

struct ContentParser {
    // A name resolved through the namespaces in scope.
    struct Name {
        std::string_view uri, local, prefix;
        // Compared by address first: the reader's own namespaces resolve to their constants.
        bool in(std::string_view ns) const { return uri.data() == ns.data() || uri == ns; }
    };

    enum class Ctx : std::uint8_t { Other, AutoStyles, Style, NumberStyle, Table, Row, Cell, Para, Skip };

    explicit ContentParser(Content& content) : c(content) {}
    Content& c;
    XML_Parser p = nullptr;
    // Reading a whole sheet: its element alone, wrapped in its namespace declarations; positions are shifted
    // back to the part's.
    Table* target = nullptr;
    std::int64_t shift = 0;
    // Names are resolved here rather than by expat, whose namespace processing builds a new string for every
    // name: a third of its time on a sheet.
    xml::NamespaceScope scope;
    // The URIs last found for a prefix, by a hash of it; emptied whenever the scope changes.
    struct Found {
        std::string prefix;
        std::string_view uri;
    };
    std::array<Found, 64> found{};
    // The declarations in force as attributes, for the sheets that start while they hold.
    mutable std::shared_ptr<const std::string> declared;
    // A prefix no declaration binds: the part is not namespace-well-formed. Where the name stands, as expat
    // would say it.
    bool badName = false;
    std::size_t badLine = 0, badByte = 0;
    std::vector<Ctx> stack;
    AutoStyle* style = nullptr;
    std::string numberSig, numberName;
    int numberDepth = 0;
    Table* table = nullptr;
    int tableDepth = 0;
    std::uint64_t nextRow = 0, nextCol = 0, nextColumnEl = 0;
    RowEl* row = nullptr;
    CellEl* cell = nullptr;
    // The open row's cells, moved into it at its end: one exact allocation per row, where growing each
    // row's own vector cell by cell would allocate and move a large sheet's cells several times over.
    std::vector<CellEl> rowCells;
    std::size_t cellsIndexed = 0;
    std::string cellType, cellText, cellString, calcType;
    std::string badNumber; // an office:value that does not read as a number (its start)
    bool cellNumberBad = false;
    bool hasStringValue = false, collect = false, anyPara = false, hasFormula = false;
    double cellNumber = 0;
    bool cellNumberOk = false;
    int paraCount = 0;

    // Opening: the rows of a sheet past its first ones are stepped over unparsed. The handler stops the
    // parser at such a row; the part is scanned to the sheet's end tag, and a new parser takes it up from
    // there, first fed the start tags of the elements still open (replayed, not reported). They are counted
    // off as they come: expat may report a tag only when later bytes arrive (it defers a large token).
    std::size_t pieceBase = 0; // where the bytes being fed start in the part
    std::size_t replay = 0;    // start tags still to come from the replay
    std::size_t skipFrom = 0;
    std::vector<std::string> open; // the open elements' names as written

    // A whole sheet is read by the plain parser while it can; then by expat, p.
    xml::PlainParser* plain = nullptr;

    std::size_t pos() const {
        return std::size_t((plain ? std::int64_t(plain->eventBegin()) : XML_GetCurrentByteIndex(p)) + shift);
    }
    std::size_t count() const { return plain ? plain->eventSize() : std::size_t(XML_GetCurrentByteCount(p)); }

    static void onStart(void* u, const char* n, const char** a) {
        static_cast<ContentParser*>(u)->start(n, a);
    }
    static void onEnd(void* u, const char* n) { static_cast<ContentParser*>(u)->end(n); }
    static void onText(void* u, const char* s, int len) {
        auto* self = static_cast<ContentParser*>(u);
        if (self->collect && !self->stack.empty() && self->stack.back() == Ctx::Para)
            self->appendText(std::string_view(s, std::size_t(len)));
    }
    // What the elements kept take from the workbook's budget (none: nothing is counted), and what the text
    // of the cell being read takes while it is read.
    Held* held = nullptr;
    Held textHeld;
    // n bytes more for what into holds; beyond the budget the part is refused as for its other faults.
    void count(Held& into, std::size_t n);
    void appendText(std::string_view s) {
        count(textHeld, s.size());
        cellText.append(s);
    }
    void declare(std::string_view prefix, const char* uri);
    // The declarations of the elements closed, down to depth.
    void undeclare(std::size_t depth);
    void changed();
    // The constant of a namespace this reader knows, so that most tests are one comparison of addresses.
    static std::string_view canonical(const std::string& uri);
    std::string_view uriOf(std::string_view prefix);
    // False for a prefix that nothing binds.
    bool resolve(const char* qn, bool element, Name& out);
    // Made once for all the sheets that start under the same declarations: a part may declare thousands.
    const std::shared_ptr<const std::string>& declarationsInScope() const;
    // The part refused by this reader (nested too deep, a DOCTYPE): what is wrong with it.
    std::string failure;
    void refuse(std::string why);
    static void onDoctype(void* u, const char*, const char*, const char*, int);

    // A prefix that nothing binds: the parse stops, with expat's own error for it.
    void refuseName();

    // The element's attributes, split once.
    struct ParsedAttr {
        Name name;
        const char* value;
    };
    std::vector<ParsedAttr> parsed;

    void start(const char* rawName, const char** attrs);
    // The element's name and its attributes' resolved (its declarations made first); false for a prefix that
    // nothing binds.
    bool resolveNames(const char* rawName, const char** attrs, Name& n);
    // An attribute of the element starting, or null.
    const char* parsedAttr(std::string_view uri, std::string_view local) const;
    // What an element starting in parent is, and what it adds there.
    Ctx childContext(const Name& n, Ctx parent);
    Ctx inCell(const Name& n);
    Ctx inPara(const Name& n);
    Ctx inAutoStyles(const Name& n);
    void inStyle(const Name& n);
    void inNumberStyle(const Name& n);
    Ctx elsewhere(const Name& n, Ctx parent);

    std::size_t pendingOther = 0, keepDepth = 0;

    void startStyle();

    Ctx startTableElement(const Name& n, Ctx parent);
    Ctx startTable(Ctx parent);
    // Columns, their groups, row groups and rows, directly in a sheet.
    Ctx inTable(const Name& n);
    void startColumn();

    // A row's or a cell's start and end, read from the parser's events or straight off the bytes: the same
    // elements, the same way. attr gives an attribute's value by its namespace and local name.
    using Value = std::optional<std::string_view>;
    static Value value(const char* v) { return v ? Value(v) : std::nullopt; }

    template <class Attr> void beginRow(Attr attr, std::size_t begin, std::size_t tagEnd) {
        RowEl r;
        r.original = true;
        r.origin = table->rows.size();
        r.first = std::uint32_t(std::min<std::uint64_t>(nextRow, 0xFFFFFFFF));
        if (const Value v = attr("number-rows-repeated")) r.repeat = repeatOf(*v);
        r.origRepeat = r.repeat;
        nextRow += r.repeat;
        if (const Value v = attr("default-cell-style-name")) r.defaultCellStyle = *v;
        r.span.begin = begin;
        r.tagEnd = tagEnd;
        if (held)
            count(*held, heapOf(r.defaultCellStyle) + (table->rows.size() == table->rows.capacity()
                                                           ? (table->rows.capacity() + 1) * sizeof(RowEl)
                                                           : 0));
        table->rows.push_back(std::move(r));
        row = &table->rows.back();
        rowCells.clear();
        nextCol = 0;
    }
    void endRow(std::size_t innerEnd, std::size_t end);

    // The attributes of a cell that its place and value come from.
    struct CellAttrs {
        Value repeated, style, type, calcType, formula, stringValue, value, dateValue, timeValue,
            booleanValue;
    };
    template <class Attr> static CellAttrs cellAttrs(Attr attr) {
        return {attr(ns::table, "number-columns-repeated"),
                attr(ns::table, "style-name"),
                attr(ns::office, "value-type"),
                attr(ns::calcext, "value-type"),
                attr(ns::table, "formula"),
                attr(ns::office, "string-value"),
                attr(ns::office, "value"),
                attr(ns::office, "date-value"),
                attr(ns::office, "time-value"),
                attr(ns::office, "boolean-value")};
    }
    void beginCell(const CellAttrs& a, bool covered, std::size_t begin, std::size_t tagEnd);
    // A paragraph of the cell's text begins.
    void beginPara();
    void endCell(std::size_t innerEnd, std::size_t end);

    // Rows of plain cells taken straight off the bytes, in a whole sheet read by the plain parser: each with
    // its cells, their values and their paragraphs of plain text, as the events would give them. A row with
    // anything else in it (an annotation, a span of text, a declaration) or cut short where the bytes at hand
    // end is left to the events, with what follows it.
    bool plainRows = false;
    static std::size_t onTake(void* u, const char* p, const char* e, std::size_t at);
    std::size_t takeRows(std::string_view bytes, std::size_t at);
    bool atRows() const { return !stack.empty() && stack.back() == Ctx::Table && !row; }

    // Names compared by their lengths and first bytes before their bytes: most differ there.
    static bool same(std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               (a.empty() || (a[0] == b[0] && std::memcmp(a.data(), b.data(), a.size()) == 0));
    }
    // The URIs of the few prefixes the rows use, while they are taken: no declaration among them changes a
    // binding.
    std::vector<std::pair<std::string, std::string_view>> prefixMemo_;
    std::string_view uriOfPrefix(std::string_view prefix);

    struct TagAttr {
        std::string_view uri, local, value;
    };
    xml::PlainCursor::Tag tag_;
    std::vector<TagAttr> tagAttrs_;
    // The start tag at the cursor, its attributes resolved as the events resolve them; false for one that
    // declares a namespace or names a prefix nothing binds.
    bool plainTag(xml::PlainCursor& cursor);
    // A cell's attributes in one pass over its tag, rather than a search for each.
    CellAttrs plainCellAttrs() const;
    Value tagAttr(std::string_view uri, std::string_view local) const;
    // Whether an element's name as written is that one: resolved once per spelling while rows are taken.
    struct NamedMemo {
        std::string qn;
        const char *uri, *local;
        bool is;
    };
    std::vector<NamedMemo> namedMemo_;
    bool named(std::string_view qn, std::string_view uri, std::string_view local);
    // Prefixed, or in the default namespace.
    bool resolvesTo(std::string_view qn, std::string_view uri, std::string_view local);
    bool takeRow(xml::PlainCursor& cursor, std::size_t at);
    bool colOpen = false;

    void end(const char* rawName);

    void finishCell();
};

// Expat driving a ContentParser, fed the part in pieces.
struct Parser {
    XML_Parser p;
    const ContentParser& cp;
    explicit Parser(ContentParser& cp) : p(XML_ParserCreate(nullptr)), cp(cp) {
        if (!p) throw std::bad_alloc();
        cp.p = p;
        XML_SetUserData(p, &cp);
        XML_SetElementHandler(p, &ContentParser::onStart, &ContentParser::onEnd);
        XML_SetCharacterDataHandler(p, &ContentParser::onText);
        XML_SetStartDoctypeDeclHandler(p, &ContentParser::onDoctype);
    }
    ~Parser() { XML_ParserFree(p); }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // False when the handler stopped the parser.
    bool feed(std::string_view bytes, bool last);
};

} // namespace ordana::spreadsheet::ods
