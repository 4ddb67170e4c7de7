#pragma once

// content.xml of an OpenDocument spreadsheet: its sheets, their columns, rows and cells placed through the
// repeat counts, and the automatic styles, each with the byte span it occupies in the part. The part can be
// far larger than the file (it compresses well), so it is never held whole: opening reads it once, piece by
// piece, keeping the bytes before the body, each sheet's name and place and its first rows (what a listing
// asks); a sheet is indexed in full, and its bytes kept, only when it is read past those rows or edited, and
// until it is released: a changed sheet then keeps its edits of the part and the changes made to it, which
// a sheet indexed again gets again. Everything kept is taken from the workbook's memory budget. Edits split
// only the elements they touch, and writing streams every other byte of the part as it was. A run of
// repeated rows or cells is one element here, however large its count. Rows and columns count from 0.
//
// The elements are in Elements.h, the automatic styles in AutoStyles.h; the part is read by ContentParser and
// written by ContentWriter.

#include "AutoStyles.h"
#include "Elements.h"
#include "Namespaces.h"
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

class Content {
  public:
    // Reads the part from its start, each time it is called.
    using Source = std::function<xml::PieceReader()>;
    // Reads the part once (1004 naming it when it is not well-formed, or when it would hold more than the
    // budget allows).
    explicit Content(Source source, std::shared_ptr<MemoryBudget> budget = nullptr);
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
    // The sheet's index given back, as when the part was opened: its first rows kept, its edits made.
    void release(Table& t);
    // The part with the edits: the original bytes outside every touched element, read again from the source.
    xml::Edits edits() const;
    // The edits of the sheets still indexed and of the automatic styles: those of the sheets released are
    // kept packed until the writing reaches them.
    xml::Edits liveEdits() const;
    // One past the last original byte any edit touches.
    std::size_t editsEnd(const xml::Edits& live) const;
    void writeTo(const ByteSink& sink) const;
    // The part with the live edits and those of the released sheets, each unpacked as the writing reaches its
    // sheet, up to the original byte upTo (what follows is the original's own).
    void writeTo(const xml::Edits& live, std::size_t upTo, const ByteSink& sink) const;
    std::string write() const;

    // The prefix the part uses for a namespace ("" when it declares none).
    std::string prefix(std::string_view uri) const;
    // Rows of plain cells read straight off the bytes when a whole sheet is read (the default), or all from
    // the parser's events: the two readings give the same.
    void readRowsPlainly(bool on) { plainRows_ = on; }

  private:
    friend struct ContentParser;
    friend class ContentWriter;
    // A change made to a sheet, as it was asked for.
    struct Change {
        enum class Kind { Value, ColumnStyle, FormatColumn, FormatCell } kind;
        std::uint32_t row = 0, col = 0;
        CellValue value;
        std::string columnStyle;
        StyleChange style;
    };
    // What a changed sheet keeps: its changes while it is indexed; released, those and the part's edits
    // they make, packed (a job over thousands of sheets keeps a few kilobytes of each).
    struct Kept {
        std::vector<Change> changes;
        std::vector<std::uint8_t> packed;
        std::size_t editsSize = 0, changesSize = 0;
        std::size_t editsEnd = 0; // one past the last original byte the packed edits touch
        Held held;
    };
    Kept& kept(const Table& t);
    void record(const Table& t, Change change);
    // The edits a released sheet keeps, unpacked.
    xml::Edits keptEdits(const Kept& k) const;
    static std::string packChanges(const std::vector<Change>& changes);
    static std::vector<Change> unpackChanges(std::string_view packed);
    static std::size_t heldBy(const Change& c);
    // Indexes every row of the sheet, the first time it is needed (again after a release, with its changes
    // made again).
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
    std::string styleXml(const AutoStyle& s) const;
    std::string signature(const AutoStyle& s) const;

    // The part read on from where the last reading of a sheet stopped, so that sheets read in order inflate
    // it once; a sheet before it is read from the start again.
    struct Cursor {
        xml::PieceReader read;
        std::vector<std::uint8_t> piece; // the last piece read, from the part's byte at
        std::size_t at = 0;
    };
    // The part's bytes [begin, end) handed to fn in order, piece by piece; false from fn stops.
    void readRange(std::size_t begin, std::size_t end, const std::function<bool(std::string_view)>& fn) const;

    Source source_;
    mutable Cursor cursor_;
    std::shared_ptr<MemoryBudget> budget_;
    Held held_;        // the head, the automatic styles, the sheets' names and first rows
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
    std::map<const Table*, Kept> kept_;
    bool replaying_ = false;
};

} // namespace ordana::spreadsheet::ods
