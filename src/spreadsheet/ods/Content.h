#pragma once

// content.xml of an OpenDocument spreadsheet: its sheets, their columns, rows and cells placed through the
// repeat counts, and the automatic styles, each with the byte span it occupies in the part. The part can be
// far larger than the file (it compresses well), so it is never held whole: opening reads it once, piece by
// piece, keeping the bytes before the body, each sheet's name and place and its first rows (what a listing
// asks); a sheet is indexed in full, and its bytes kept, only when it is read past those rows or edited.
// Edits split only the elements they touch, and writing streams every other byte of the part as it was. A run
// of repeated rows or cells is one element here, however large its count. Rows and columns count from 0.

#include "common/CellValue.h"
#include "spreadsheet/xml/XmlPart.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::ods {

// The same namespace URIs under whatever prefixes a producer chose.
namespace ns {
inline constexpr std::string_view office = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
inline constexpr std::string_view table = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
inline constexpr std::string_view text = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
inline constexpr std::string_view style = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
inline constexpr std::string_view fo = "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0";
inline constexpr std::string_view number = "urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0";
inline constexpr std::string_view calcext =
    "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0";
inline constexpr std::string_view config = "urn:oasis:names:tc:opendocument:xmlns:config:1.0";
inline constexpr std::string_view manifest = "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";
} // namespace ns

// The largest sheet LibreOffice keeps; positions past it are not placed.
inline constexpr std::uint32_t kMaxRows = 1u << 20;
inline constexpr std::uint32_t kMaxColumns = 1u << 14;

struct Span {
    std::size_t begin = 0, end = 0;
};

// One table:table-cell or table:covered-table-cell element (or a new one).
// A sheet holds one per run of cells, so it is kept small: the style it had is not kept, only whether it
// changed.
struct CellEl {
    std::uint32_t first = 0, repeat = 1;
    std::uint32_t origRepeat = 1;
    bool original = false; // has a span in the part
    bool covered = false;
    bool valueWritten = false;
    bool restyled = false; // style differs from the element's own
    bool notANumber =
        false;              // a number cell whose office:value is none: value holds its text, read is refused
    Span span;              // the whole element
    std::size_t tagEnd = 0; // end of its start tag
    std::size_t innerEnd = 0; // start of its end tag (== span.end for an empty element)
    std::string style;
    CellValue value;
    std::vector<Span> keep; // children other than paragraphs (annotations, frames): kept on an overwrite
};

// One table:table-row element, or a piece of one split around a written row.
struct RowEl {
    std::uint32_t first = 0, repeat = 1, origRepeat = 1;
    bool original = false;
    std::size_t origin = 0; // the original element this piece came from
    Span span;
    std::size_t tagEnd = 0, innerEnd = 0;
    std::string defaultCellStyle;
    bool dirty = false; // its cells changed
    std::vector<CellEl> cells;
};

struct ColEl {
    std::uint32_t first = 0, repeat = 1, origRepeat = 1;
    bool original = false;
    std::size_t origin = 0;
    Span span;
    std::size_t tagEnd = 0;
    std::string style, defaultCellStyle, origStyle, origDefaultCellStyle;
};

// Rows a sheet gets indexed when the part is first read: enough for the data-sheet test of a listing.
inline constexpr std::uint32_t kFirstRows = 2;

struct Table {
    std::string name;
    std::string style;
    Span span;
    bool whole = false; // every row indexed
    // The span's first bytes, read again from the part as far as a save needs them (the table it writes is
    // near the top), and the reader positioned at restAt to go on: a whole sheet's bytes are not held.
    mutable std::string bytes;
    mutable xml::PieceReader rest;
    mutable std::size_t restAt = 0;
    // The namespace declarations in force at its start, as attributes; shared by the sheets under the same.
    std::shared_ptr<const std::string> nsInScope;
    std::vector<ColEl> cols;
    std::vector<RowEl> rows;
    std::size_t columnsEnd = 0; // where new columns go: after the last column element
    std::size_t rowsEnd = 0;    // where new rows go: after the last row element
    std::uint32_t columnCount = 0, rowCount = 0;
    bool rowsInOrder = true;
    std::size_t rowsReadPlainly = 0; // of those, straight off the bytes
    std::size_t lastRead = 0;        // the row element a cell was last read from: reading goes row by row
};

// A property element of a style: its name and attributes, as URI + local name and as written.
struct Attr {
    std::string uri, local, qname, value;
};
struct PropertyEl {
    std::string uri, local, qname;
    std::vector<Attr> attrs;
};
struct AutoStyle {
    std::string name, family, parent, dataStyle;
    std::vector<Attr> attrs; // of style:style itself, other than name, family, parent and data style
    std::vector<PropertyEl> props;
    std::vector<Span> other; // other children, copied as they are (conditions)
    bool hidden = false;     // a table style with table:display="false"
};

// What a derived cell style changes.
struct StyleChange {
    std::optional<std::string> textAlign; // fo:text-align; empty: none of the cell's own
    std::optional<std::string> dataStyle; // a number:number-style's name
    std::optional<bool> bold;
    // Edges to frame: left, right, top, bottom.
    bool borders[4] = {false, false, false, false};
    std::string border; // the border value
    bool any() const {
        return textAlign || dataStyle || bold || borders[0] || borders[1] || borders[2] || borders[3];
    }
};

class Content {
  public:
    // Reads the part from its start, each time it is called.
    using Source = std::function<xml::PieceReader()>;
    // Reads the part once (1004 naming it when it is not well-formed).
    explicit Content(Source source);
    // A part already in memory (it must outlive the content), handed over at most piece bytes at a time.
    static Source fromBytes(std::string_view xml, std::size_t piece = std::size_t(1) << 20);

    std::vector<Table>& tables() { return tables_; }
    const std::vector<Table>& tables() const { return tables_; }
    bool tableHidden(const Table& t) const;

    CellValue value(Table& t, std::uint32_t row, std::uint32_t col);

    void setValue(Table& t, std::uint32_t row, std::uint32_t col, const CellValue& v);
    void setColumnStyle(Table& t, std::uint32_t col, const std::string& columnStyle);
    // The column's default cell style and every styled cell already in it get the change.
    void formatColumn(Table& t, std::uint32_t col, const StyleChange& change);
    // One cell's style gets the change (its own, or the one it shows from its row or column).
    void formatCell(Table& t, std::uint32_t row, std::uint32_t col, const StyleChange& change);

    // Names of new automatic styles, reusing one of the same definition.
    std::string columnWidthStyle(const std::string& width);
    std::string numberStyle(int decimals);

    // Every style name in the part, for picking unused ones.
    void reserveNames(const std::set<std::string>& names) { usedNames_.insert(names.begin(), names.end()); }

    bool modified() const { return modified_; }
    // The part with the edits: the original bytes outside every touched element, read again from the source.
    xml::Edits edits() const;
    void writeTo(const ByteSink& sink) const;
    // The part with those edits up to the original byte upTo (what follows is the original's own).
    void writeTo(const xml::Edits& edits, std::size_t upTo, const ByteSink& sink) const;
    std::string write() const;

    // The prefix the part uses for a namespace ("" when it declares none).
    std::string prefix(std::string_view uri) const;
    // Rows of plain cells read straight off the bytes when a whole sheet is read (the default), or all from
    // the parser's events: the two readings give the same.
    void readRowsPlainly(bool on) { plainRows_ = on; }

  private:
    friend struct ContentParser;
    // Indexes every row of the sheet, the first time it is needed.
    void wholeTable(Table& t);
    // Original bytes of the part: before the body, or inside a whole sheet. Valid until the next call.
    std::string_view original(std::size_t begin, std::size_t end, const Table* t) const;
    RowEl& rowAt(Table& t, std::uint32_t row);
    CellEl& cellAt(RowEl& r, std::uint32_t col);
    std::size_t splitRow(Table& t, std::uint32_t row);
    std::size_t splitCell(RowEl& r, std::uint32_t col);
    std::string effectiveStyle(const Table& t, const RowEl& r, const CellEl& c) const;
    std::string derive(const std::string& base, const StyleChange& change);
    std::string newName(const std::string& stem);
    std::string q(std::string_view uri, std::string_view local) const;
    std::string nsDecl(std::string_view uri) const;
    std::string writeRow(const Table& t, const RowEl& r) const;
    std::string writeCell(const Table& t, const CellEl& c) const;
    std::string writeColumn(const Table& t, const ColEl& c) const;
    std::string styleXml(const AutoStyle& s) const;
    std::string signature(const AutoStyle& s) const;

    Source source_;
    std::string head_; // the part's bytes before <office:body>
    std::vector<Table> tables_;
    std::map<std::string, std::string> prefixes_; // URI -> prefix, as the root declares them
    std::map<std::string, AutoStyle> styles_;     // automatic styles of content.xml by name
    std::map<std::string, std::string> bySignature_;
    std::map<std::string, std::string> numberStyles_; // signature -> name
    std::map<std::string, std::string> derived_;      // base + change -> name
    std::set<std::string> usedNames_;
    std::vector<AutoStyle> newStyles_;
    std::vector<std::string> newNumberStyles_;
    std::size_t autoStylesEnd_ = std::string::npos; // start of </office:automatic-styles>
    Span autoStylesTag_;                            // its start tag
    bool autoStylesEmpty_ = false;                  // written <office:automatic-styles/>
    std::size_t bodyStart_ = std::string::npos;     // start of <office:body>
    double nullDate_ = 0;                           // days from 1899-12-30 to the document's null date
    bool modified_ = false;
    bool plainRows_ = true;
};

// style:column-width for a width in characters, as LibreOffice stores a column of that many characters of the
// document's default font, whose digit is twipsPerDigit wide (111 for LibreOffice's own Liberation Sans 10).
std::string columnWidthFor(double characters, double twipsPerDigit = 111);
// The digit width of a font family at a size, in twips, as LibreOffice measures it on Debian.
double digitTwips(std::string family, double points);

// Text helpers the package parts share.
std::string escapeXml(std::string_view s, bool attribute);
// A start tag with one attribute set (value escaped here) or removed (value nullopt).
std::string setAttribute(std::string_view tag, std::string_view qname,
                         const std::optional<std::string>& value);

} // namespace ordana::spreadsheet::ods
