#pragma once

// The Workbook stream of a BIFF8 file as records: the globals substream held as a record list, each sheet's
// substream kept as the original bytes until it is picked. Saving writes every record that was not changed
// byte for byte, and fixes what depends on positions (sheet offsets, EXTSST, INDEX and DBCELL).

#include "Biff.h"
#include "SharedStrings.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/file/FileAccess.h"

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet::xls {

class Sheet;

struct SheetInfo {
    std::string name;
    std::uint8_t visibility = 0; // 0 visible, 1 hidden, 2 very hidden
    std::uint8_t boundType = 0;  // BOUNDSHEET dt: 0 worksheet or dialog, 1 macro, 2 chart, 6 module
    std::uint16_t bofType = 0;   // BOF dt of the substream
    bool dialog = false;
    std::size_t boundRecord = 0; // index of its BOUNDSHEET in the globals
    std::uint32_t begin = 0;     // substream [begin, end) in the original stream
    std::uint32_t end = 0;
    // Just past the last record of a cell (or row) in the first kPreviewRows rows, or one that cannot say
    // its row, with the records that belong to it: as far as a quick look at those rows reads.
    std::uint32_t previewEnd = 0;
    std::vector<std::uint32_t> window2; // WINDOW2 records of the substream itself
    std::optional<std::uint32_t> index; // its INDEX record
    bool isWorksheet() const { return boundType == 0 && bofType == 0x0010 && !dialog; }
};

// One change to a cell format; unset fields stay as they were.
struct XfChange {
    std::optional<std::uint8_t> horizontal; // 1 left, 2 centre
    std::optional<std::uint16_t> format;
    std::optional<std::uint16_t> font;
    std::uint8_t borders = 0; // 1 left, 2 right, 4 top, 8 bottom
    std::uint8_t borderStyle = 1;
};

class WorkbookStream {
  public:
    explicit WorkbookStream(std::vector<std::uint8_t> stream);
    // Over bytes that owner keeps alive (the file as read once): nothing is copied. With file, the stream
    // lies in those bytes of a file read on demand: each part is read as it is needed, and the walk over
    // the sheets at the open passes through the file without keeping what it walks.
    WorkbookStream(std::span<const std::uint8_t> stream, std::shared_ptr<const void> owner,
                   const FileBytes* file = nullptr);
    ~WorkbookStream();
    WorkbookStream(const WorkbookStream&) = delete;
    WorkbookStream& operator=(const WorkbookStream&) = delete;

    const std::vector<SheetInfo>& sheets() const { return sheets_; }
    // Sheet indices (into sheets()) of the worksheets, in workbook order.
    const std::vector<std::size_t>& worksheets() const { return worksheets_; }
    // Parsed on first use and kept.
    Sheet& sheet(std::size_t index);
    bool sheetParsed(std::size_t index) const { return parsed_.contains(index); }
    // The cells of the first kPreviewRows rows only, for a quick look (the data-sheet test); kept too.
    static constexpr int kPreviewRows = spreadsheet::kPreviewRows;
    const Sheet& preview(std::size_t index);

    const SharedStrings& strings() const { return sst_; }
    SharedStrings& mutableStrings();

    // Formats.
    std::size_t xfCount() const { return xfRecords_.size(); }
    std::array<std::uint8_t, 20> xf(std::size_t index) const;
    std::uint16_t defaultCellXf() const;
    std::uint16_t deriveXf(std::uint16_t xf, const XfChange& change);
    std::uint16_t fontOf(std::uint16_t xf) const;
    std::uint16_t boldFont(std::uint16_t font, bool bold);
    std::uint16_t formatIndex(const std::string& format);
    // What a format index and a font index stand for, as a reader sees them.
    std::string formatText(std::uint16_t format) const;
    std::uint16_t fontWeight(std::uint16_t font) const;
    // Pixels of the widest digit of the Normal style's font.
    int digitWidth() const;

    void setActive(std::size_t sheetIndex);
    std::optional<std::size_t> activeSheet() const { return active_; }

    std::vector<std::uint8_t> serialize();
    // The same stream as pieces in order: views of the original bytes for everything unchanged, and owned
    // buffers (kept alive by keep) for the globals, changed sheets and patched records.
    struct Pieces {
        std::vector<std::span<const std::uint8_t>> spans;
        std::shared_ptr<const void> keep;
    };
    Pieces serializePieces();

    std::span<const std::uint8_t> bytes() const { return stream_; }
    // Makes bytes()[from, to) readable (cut at the end).
    void need(std::size_t from, std::size_t to) const;

  private:
    struct GRec {
        std::uint16_t type;
        std::vector<std::uint8_t> data;
    };
    void open();
    void parseGlobals();
    // nextSheet: where the next substream in the stream begins, or the stream's end.
    void scanSheet(SheetInfo& info, std::size_t nextSheet);
    // 1004: the sheet's records run past the end of the stream.
    [[noreturn]] void sheetCutShort(const SheetInfo& info, std::size_t at) const;
    std::size_t pastCellTable(const SheetInfo& info, std::size_t firstDbCell, std::size_t limit) const;
    std::size_t insertAfterLast(std::uint16_t type, std::initializer_list<std::uint16_t> fallbackBefore,
                                GRec rec);
    std::vector<std::span<const std::uint8_t>> sstChain() const;
    // Indices into sheets_ by where each substream stands in the stream.
    std::vector<std::size_t> sheetsInStreamOrder() const;
    void writeGlobals(Writer& w, std::vector<std::size_t>& boundPositions);

    std::shared_ptr<const void> owner_;
    std::span<const std::uint8_t> stream_;
    const FileBytes* file_ = nullptr;
    std::vector<GRec> globals_;
    std::uint32_t globalsEnd_ = 0;
    std::vector<SheetInfo> sheets_;
    std::vector<std::size_t> worksheets_;
    std::map<std::size_t, std::unique_ptr<Sheet>> parsed_;
    std::map<std::size_t, std::unique_ptr<Sheet>> previews_;
    SharedStrings sst_;
    std::vector<std::size_t> xfRecords_;   // indices into globals_, kept current on insertion
    std::vector<std::size_t> fontRecords_; // likewise
    std::map<std::pair<std::uint16_t, std::string>, std::uint16_t> derived_;
    bool xfsChanged_ = false;
    std::optional<std::size_t> active_;
};

} // namespace ordana::spreadsheet::xls
