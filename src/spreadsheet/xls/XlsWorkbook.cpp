#include "XlsWorkbook.h"

#include "Sheet.h"
#include "WorkbookStream.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/SheetLookup.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace ordana::spreadsheet::xls {

namespace {

using text::quoted;

// HorizontalAlignment codes to the XF's alc field.
std::uint8_t horizontalCode(std::int32_t alignment) {
    switch (alignment) {
    case AlignGeneral:
        return 0;
    case AlignLeft:
        return 1;
    case AlignCenter:
        return 2;
    case AlignRight:
        return 3;
    case AlignFill:
        return 4;
    case AlignJustify:
        return 5;
    case AlignCenterAcrossSelection:
        return 6;
    case AlignDistributed:
        return 7;
    default:
        throw RuntimeError(err::Application,
                           "Alinierea orizontala " + std::to_string(alignment) + " nu exista");
    }
}

// BorderAround's line style and weight to the XF's line code.
std::uint8_t borderCode(std::int32_t style, std::int32_t weight) {
    const bool heavy = weight == WeightMedium || weight == WeightThick;
    const bool known = heavy || weight == WeightHairline || weight == WeightThin;
    switch (known ? style : 0) { // an unknown weight is refused whatever the style
    case LineStyleNone:
        return 0;
    case LineStyleContinuous:
        switch (weight) {
        case WeightHairline:
            return 7;
        case WeightThin:
            return 1;
        case WeightMedium:
            return 2;
        case WeightThick:
            return 5;
        default:
            break;
        }
        break;
    case LineStyleDash:
        return heavy ? 8 : 3;
    case LineStyleDot:
        return 4;
    case LineStyleDouble:
        return 6;
    case LineStyleDashDot:
        return heavy ? 10 : 9;
    case LineStyleDashDotDot:
        return heavy ? 12 : 11;
    case LineStyleSlantDashDot:
        return 13;
    default:
        break;
    }
    throw RuntimeError(err::Application, "Stilul de chenar " + std::to_string(style) + " cu grosimea " +
                                             std::to_string(weight) + " nu exista");
}

class XlsWorkbook;

class XlsWorksheet : public Worksheet {
  public:
    XlsWorksheet(std::shared_ptr<XlsWorkbook> owner, std::size_t index)
        : owner_(std::move(owner)), index_(index) {}

    std::string name() const override;
    // The first rows are read from a quick look at the sheet, so testing many sheets for data does not index
    // all their cells; anything further, or any change, parses the sheet once.
    CellValue cell(std::int16_t row, std::int16_t column) override {
        check(row, column);
        if (!sheet_ && row <= WorkbookStream::kPreviewRows && !book().sheetParsed(index_))
            return reading([&] { return book().preview(index_).value(row - 1, column - 1); });
        // A cell's text is read from the string table when first asked for: its faults surface here.
        return reading([&] { return sheet().value(row - 1, column - 1); });
    }
    void setCell(std::int16_t row, std::int16_t column, const CellValue& value) override {
        check(row, column);
        checkWritable(row, column, value);
        reading([&] { sheet().setValue(row - 1, column - 1, value); });
    }
    void setColumnWidth(std::int16_t column, double characters) override {
        check(1, column);
        sheet().setColumnWidth(column - 1, characters);
    }
    void setColumnHorizontalAlignment(std::int16_t column, std::int32_t alignment) override {
        check(1, column);
        XfChange c;
        c.horizontal = horizontalCode(alignment);
        sheet().formatColumn(column - 1, c);
    }
    void setColumnNumberFormat(std::int16_t column, const std::string& format) override;
    void setBold(std::int16_t row, std::int16_t column, bool bold) override;
    void borderAround(std::int16_t firstRow, std::int16_t firstColumn, std::int16_t lastRow,
                      std::int16_t lastColumn, std::int32_t lineStyle, std::int32_t weight) override;
    void activate() override;

  private:
    void check(int row, int column) const;
    void checkWritable(int row, int column, const CellValue& value) const;
    WorkbookStream& book() const;
    Sheet& sheet() {
        if (!sheet_) sheet_ = reading([&] { return &book().sheet(index_); });
        return *sheet_;
    }
    // A sheet that cannot be parsed is named in the failure, with its workbook.
    template <class F> auto reading(F&& f) const -> decltype(f());

    std::shared_ptr<XlsWorkbook> owner_;
    std::size_t index_;
    Sheet* sheet_ = nullptr;
};

class XlsWorkbook : public Workbook, public std::enable_shared_from_this<XlsWorkbook> {
  public:
    XlsWorkbook(std::shared_ptr<const SourceFile> source, cfb::CompoundFile container, std::string streamName,
                std::unique_ptr<WorkbookStream> book)
        : source_(std::move(source)), path_(source_->path()), container_(std::move(container)),
          streamName_(std::move(streamName)), book_(std::move(book)) {}

    std::int16_t worksheetCount() override {
        checkOpen();
        return std::int16_t(std::min(book_->worksheets().size(), kMaxWorksheets));
    }
    std::string worksheetName(std::int16_t index) override {
        checkOpen();
        if (index < 1 || std::size_t(index) > book_->worksheets().size())
            throw RuntimeError(err::SubscriptOutOfRange,
                               "Indice in afara intervalului: foaia de calcul " + std::to_string(index) +
                                   " nu exista (fisierul are " + std::to_string(book_->worksheets().size()) +
                                   ")");
        return book_->sheets()[book_->worksheets()[std::size_t(index - 1)]].name;
    }
    std::shared_ptr<Worksheet> worksheet(const std::string& name) override {
        checkOpen();
        const auto& list = book_->worksheets();
        if (!names_)
            names_.emplace(list.size(), [&](std::size_t k) -> const std::string& {
                return book_->sheets()[list[k]].name;
            });
        return std::make_shared<XlsWorksheet>(shared_from_this(), list[names_->find(name, path_)]);
    }
    void close(bool saveChanges) override {
        checkOpen();
        if (saveChanges && changed()) {
            // Unchanged parts go to the file as views of the bytes read, never joined into a copy.
            auto pieces = book_->serializePieces();
            container_.setStream(streamName_,
                                 cfb::CompoundFile::Pieces{std::move(pieces.spans), std::move(pieces.keep)});
            saveInPlace(*source_, [&](const ByteSink& sink) { container_.writeTo(sink); });
        }
        closed_ = true;
    }

    void checkOpen() const {
        if (closed_) throw RuntimeError(err::Application, "Registrul " + quoted(path_) + " a fost inchis");
    }
    WorkbookStream& book() { return *book_; }
    const std::string& path() const { return path_; }

  private:
    // Anything to save: a cell or column of a sheet, the string table or the active sheet.
    bool changed() {
        if (book_->activeSheet() || book_->strings().modified()) return true;
        for (std::size_t i = 0; i < book_->sheets().size(); ++i)
            if (book_->sheetParsed(i) && book_->sheet(i).modified()) return true;
        return false;
    }

    std::shared_ptr<const SourceFile> source_;
    std::string path_;
    cfb::CompoundFile container_;
    std::string streamName_; // "Workbook", or "Book" when an Excel 95 name holds BIFF8 records
    std::unique_ptr<WorkbookStream> book_;
    std::optional<SheetNames> names_;
    bool closed_ = false;
};

std::string XlsWorksheet::name() const {
    owner_->checkOpen();
    return owner_->book().sheets()[index_].name;
}

WorkbookStream& XlsWorksheet::book() const {
    return owner_->book();
}

template <class F> auto XlsWorksheet::reading(F&& f) const -> decltype(f()) {
    try {
        return f();
    } catch (const RuntimeError& e) {
        throw RuntimeError(e.number(), "Foaia " + text::quotedExcerpt(owner_->book().sheets()[index_].name) +
                                           " din fisierul " + quoted(owner_->path()) +
                                           " nu poate fi citita: " + e.description());
    }
}

void XlsWorksheet::check(int row, int column) const {
    owner_->checkOpen();
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
        cellOutsideSheet(row, column, name(), owner_->path(),
                         "un registru .xls are 65536 de randuri si 256 de coloane");
}

// A NUMBER record holds no infinity or NaN a reader would accept; a text must be UTF-8 to be converted.
void XlsWorksheet::checkWritable(int row, int column, const CellValue& value) const {
    if (value.kind() == CellValue::Kind::Number && !std::isfinite(value.numberValue()))
        fail(inSheet(name(), owner_->path(),
                     "valoarea nu este un numar finit si nu poate fi scrisa in celula " +
                         text::cellAddress(row, column)));
    if (value.kind() == CellValue::Kind::Text && !text::isValidUtf8(value.textValue()))
        fail(inSheet(name(), owner_->path(),
                     "textul are octeti care nu sunt UTF-8 si nu poate fi scris in celula " +
                         text::cellAddress(row, column)));
}

void XlsWorksheet::setColumnNumberFormat(std::int16_t column, const std::string& format) {
    check(1, column);
    XfChange c;
    c.format = reading([&] { return book().formatIndex(format); });
    sheet().formatColumn(column - 1, c);
}

void XlsWorksheet::setBold(std::int16_t row, std::int16_t column, bool bold) {
    check(row, column);
    const std::uint16_t xf = sheet().cellXf(row - 1, column - 1);
    const std::uint16_t font = book().fontOf(xf);
    XfChange c;
    c.font = book().boldFont(font, bold);
    if (*c.font != font) sheet().setCellXf(row - 1, column - 1, book().deriveXf(xf, c));
}

void XlsWorksheet::borderAround(std::int16_t firstRow, std::int16_t firstColumn, std::int16_t lastRow,
                                std::int16_t lastColumn, std::int32_t lineStyle, std::int32_t weight) {
    check(firstRow, firstColumn);
    check(lastRow, lastColumn);
    const std::uint8_t code = borderCode(lineStyle, weight);
    forEachFrameCell(firstRow, firstColumn, lastRow, lastColumn, [&](int r, int c, unsigned sides) {
        XfChange ch;
        ch.borderStyle = code;
        ch.borders = std::uint8_t(sides);
        sheet().setCellXf(r - 1, c - 1, book().deriveXf(sheet().cellXf(r - 1, c - 1), ch));
    });
}

void XlsWorksheet::activate() {
    owner_->checkOpen();
    // A hidden sheet cannot be the one shown; the selection stays where it was rather than losing the save.
    if (book().sheets()[index_].visibility != 0) return;
    book().setActive(index_);
}

} // namespace

bool isOlderBareStream(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8) return false;
    const std::uint16_t type = get16(bytes.data()), length = get16(bytes.data() + 2);
    // BOF of BIFF2 (0x0009), BIFF3 (0x0209) and BIFF4 (0x0409), with the lengths those versions write.
    return (type == 0x0009 || type == 0x0209 || type == 0x0409) && length >= 4 && length <= 16;
}

std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source) {
    const std::string name = quoted(source->path());
    // Only the first bytes: a workbook read on demand is read as far as its parts are asked for.
    const auto head = source->data()->view(0, 8);
    if (isOlderBareStream(head))
        throw RuntimeError(err::Application, "Fisierul " + name + " nu poate fi deschis: " + kOlderFormat);
    if (!cfb::CompoundFile::hasSignature(head))
        throw RuntimeError(err::Application,
                           "Fisierul " + name +
                               " nu este un registru Excel 97-2003 (.xls) si nu poate fi deschis");
    auto container = opening(source->path(), [&] { return cfb::CompoundFile::parse(source->data()); });
    return openWorkbook(std::move(source), std::move(container));
}

std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source,
                                       cfb::CompoundFile container) {
    const std::string path = source->path();
    return opening(path, [&]() -> std::shared_ptr<Workbook> {
        // The stream's name only says where the records are; their BOF says which version they are.
        const char* streamName = container.hasStream("Workbook") ? "Workbook" : "Book";
        if (!container.hasStream(streamName))
            throw RuntimeError(err::Application, "nu contine un registru Excel");
        // The stream as a view of the file's bytes when its sectors lie in one run (as most producers write
        // them), read as it is needed; a scattered one is gathered once.
        const auto inFile = container.streamInFile(streamName);
        std::unique_ptr<WorkbookStream> book;
        if (!inFile.empty()) {
            book = std::make_unique<WorkbookStream>(inFile, source->data(), source->data().get());
        } else {
            const auto view = container.streamView(streamName);
            book = std::make_unique<WorkbookStream>(std::vector<std::uint8_t>(view.begin(), view.end()));
        }
        checkWorksheetCount(book->worksheets().size());
        return std::make_shared<XlsWorkbook>(std::move(source), std::move(container), streamName,
                                             std::move(book));
    });
}

std::shared_ptr<Workbook> openWorkbook(const std::string& path) {
    return openWorkbook(SourceFile::read(path));
}

std::shared_ptr<Workbook> openWorkbookBytes(std::vector<std::uint8_t> bytes, const std::string& path) {
    return openWorkbook(SourceFile::fromBytes(std::move(bytes), path));
}

} // namespace ordana::spreadsheet::xls
