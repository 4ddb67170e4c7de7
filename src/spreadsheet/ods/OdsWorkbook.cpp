#include "OdsWorkbook.h"

#include "Content.h"
#include "Package.h"
#include "PackageParts.h"
#include "Settings.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/SheetLookup.h"
#include "spreadsheet/xml/XmlPart.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <set>
#include <tuple>

namespace ordana::spreadsheet::ods {

namespace {

// content.xml inflated piece by piece, from its start each time: the part may be hundreds of megabytes.
Content::Source partSource(const zip::Archive& archive, const zip::Entry& entry) {
    return [&archive, &entry]() -> xml::PieceReader {
        auto reader = std::make_shared<zip::EntryReader>(archive, entry);
        return [reader](std::span<std::uint8_t> out) { return reader->read(out); };
    };
}

class OdsWorkbook;

class OdsWorksheet : public Worksheet {
  public:
    OdsWorksheet(std::shared_ptr<OdsWorkbook> owner, std::size_t index);
    ~OdsWorksheet() override;
    OdsWorksheet(const OdsWorksheet&) = delete;
    OdsWorksheet& operator=(const OdsWorksheet&) = delete;
    std::string name() const override;
    CellValue cell(std::int16_t row, std::int16_t column) override;
    void setCell(std::int16_t row, std::int16_t column, const CellValue& value) override;
    void setColumnWidth(std::int16_t column, double characters) override;
    void setColumnHorizontalAlignment(std::int16_t column, std::int32_t alignment) override;
    void setColumnNumberFormat(std::int16_t column, const std::string& format) override;
    void setBold(std::int16_t row, std::int16_t column, bool bold) override;
    void borderAround(std::int16_t firstRow, std::int16_t firstColumn, std::int16_t lastRow,
                      std::int16_t lastColumn, std::int32_t lineStyle, std::int32_t weight) override;
    void activate() override;

  private:
    Table& table() const;
    void check(int row, int column) const;
    std::shared_ptr<OdsWorkbook> owner_;
    std::size_t index_;
};

class OdsWorkbook : public Workbook, public std::enable_shared_from_this<OdsWorkbook> {
  public:
    OdsWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive,
                const zip::Entry& contentEntry, bool mimetypeOk, std::size_t budget)
        : source_(std::move(source)), archive_(std::move(archive)), contentName_(contentEntry.name),
          budget_(std::make_shared<MemoryBudget>(budget)), stylesHeld_(budget_, "styles.xml"),
          content_(partSource(archive_, *archive_.find(contentName_)), budget_), mimetypeOk_(mimetypeOk) {
        checkWorksheetCount(content_.tables().size());
    }

    std::int16_t worksheetCount() override {
        checkOpen();
        return std::int16_t(std::min(content_.tables().size(), kMaxWorksheets));
    }
    std::string worksheetName(std::int16_t index) override {
        checkOpen();
        const auto& t = content_.tables();
        if (index < 1 || std::size_t(index) > t.size())
            throw RuntimeError(err::SubscriptOutOfRange,
                               "Indice in afara intervalului: foaia de calcul " + std::to_string(index) +
                                   " nu exista (fisierul are " + std::to_string(t.size()) + ")");
        return t[std::size_t(index - 1)].name;
    }
    std::shared_ptr<Worksheet> worksheet(const std::string& name) override {
        checkOpen();
        const auto& t = content_.tables();
        if (!names_) names_.emplace(t.size(), [&](std::size_t k) -> const std::string& { return t[k].name; });
        return std::make_shared<OdsWorksheet>(shared_from_this(), names_->find(name, source_->path()));
    }
    void close(bool saveChanges) override {
        checkOpen();
        if (saveChanges && (content_.modified() || active_)) save(); // nothing changed: nothing written
        closed_ = true;
    }

    void checkOpen() const {
        if (closed_)
            throw RuntimeError(err::Application,
                               "Registrul " + text::quoted(source_->path()) + " a fost inchis");
    }
    Content& content() {
        // New style names must be unused in styles.xml too; read it once, when the first style is made.
        if (!stylesRead_) {
            stylesRead_ = true;
            if (const zip::Entry* e = archive_.find("styles.xml")) {
                std::set<std::string> names;
                const StylesFont font = readStyles(archive_, *e, names, stylesHeld_);
                content_.reserveNames(names);
                digitTwips_ = defaultDigitTwips(font);
            }
        }
        return content_;
    }
    // A handle on a sheet comes and goes: the last one gone, the sheet's index is given back.
    void attach(std::size_t i) { ++handles_[i]; }
    void detach(std::size_t i) noexcept {
        if (--handles_[i] > 0 || closed_) return;
        handles_.erase(i);
        try {
            content_.release(content_.tables()[i]);
        } catch (...) {
            // Kept whole: the save meets the same fault and says it.
        }
    }
    // Reading needs no styles; a sheet read past its first rows is indexed then.
    Content& reader() { return content_; }
    double digitTwips() {
        content();
        return digitTwips_;
    }
    void setActive(const std::string& name) { active_ = name; }
    const std::string& path() const { return source_->path(); }

    void save();
    void writeTo(const ByteSink& sink);

  private:
    std::shared_ptr<const SourceFile> source_;
    zip::Archive archive_;
    std::string contentName_;
    std::shared_ptr<MemoryBudget> budget_;
    Held stylesHeld_;
    Content content_;
    bool mimetypeOk_;
    bool stylesRead_ = false;
    double digitTwips_ = 111;
    bool closed_ = false;
    std::optional<std::string> active_;
    std::optional<SheetNames> names_;
    std::map<std::size_t, int> handles_;
};

OdsWorksheet::OdsWorksheet(std::shared_ptr<OdsWorkbook> owner, std::size_t index)
    : owner_(std::move(owner)), index_(index) {
    owner_->attach(index_);
}

OdsWorksheet::~OdsWorksheet() {
    owner_->detach(index_);
}

void OdsWorkbook::save() {
    saveInPlace(*source_, [&](const ByteSink& sink) { writeTo(sink); });
}

void OdsWorkbook::writeTo(const ByteSink& sink) {
    zip::ArchiveWriter writer(archive_);
    if (content_.modified()) {
        // Streamed: the original bytes of the part, inflated again, between the edited pieces (those of a
        // released sheet unpacked as its turn comes); past the last edit the original's compressed bytes can
        // serve as they are.
        auto live = std::make_shared<const xml::Edits>(content_.liveEdits());
        writer.replaceHead(
            contentName_,
            [this, live](const ByteSink& sink, std::uint64_t upTo) {
                content_.writeTo(*live, std::size_t(std::min<std::uint64_t>(upTo, ~std::size_t(0))), sink);
            },
            content_.editsEnd(*live));
    }
    // Held until the package is written.
    Held partsHeld(budget_, "settings.xml");
    if (active_) {
        auto settings = std::make_shared<SettingsEdit>(settingsWithActive(archive_, *active_, partsHeld));
        auto producer = [settings](const ByteSink& sink) {
            settings->edits.writeTo(*settings->original, sink);
        };
        if (settings->added) {
            writer.add("settings.xml", producer);
            // The manifest lists every part; a new one gets its line.
            if (auto found = manifestWith(archive_, "settings.xml", "text/xml", partsHeld)) {
                auto manifest = std::make_shared<PartEdit>(std::move(*found));
                writer.replace(
                    archive_.find("META-INF/manifest.xml")->name,
                    [manifest](const ByteSink& sink) { manifest->edits.writeTo(*manifest->original, sink); });
            }
        } else {
            writer.replace(archive_.find("settings.xml")->name, producer);
        }
    }
    if (!mimetypeOk_ && archive_.find("mimetype")) writer.putFirstStored(archive_.find("mimetype")->name);
    writer.writeTo(sink);
}

std::string OdsWorksheet::name() const {
    owner_->checkOpen();
    return table().name;
}

Table& OdsWorksheet::table() const {
    return owner_->content().tables()[index_];
}

void OdsWorksheet::check(int row, int column) const {
    owner_->checkOpen();
    if (row < 1 || std::uint32_t(row) > kMaxRows || column < 1 || std::uint32_t(column) > kMaxColumns)
        cellOutsideSheet(row, column, name(), owner_->path(),
                         "un registru .ods are 1048576 de randuri si 16384 de coloane");
}

CellValue OdsWorksheet::cell(std::int16_t row, std::int16_t column) {
    check(row, column);
    Table& t = owner_->reader().tables()[index_];
    try {
        return owner_->reader().value(t, std::uint32_t(row - 1), std::uint32_t(column - 1));
    } catch (const RuntimeError& e) {
        // A cell refused: which sheet of which file, as the other engines say it.
        if (e.number() != err::Application || e.description().rfind("celula ", 0) != 0) throw;
        throw RuntimeError(e.number(), inSheet(t.name, owner_->path(), e.description()));
    }
}

void OdsWorksheet::setCell(std::int16_t row, std::int16_t column, const CellValue& value) {
    check(row, column);
    if (value.kind() == CellValue::Kind::Text &&
        !xml::holdsAsText(value.textValue())) // content.xml would break
        fail(inSheet(table().name, owner_->path(),
                     "textul are caractere de control sau octeti care nu sunt UTF-8 si nu poate fi scris in "
                     "celula " +
                         text::cellAddress(row, column)));
    owner_->content().setValue(table(), std::uint32_t(row - 1), std::uint32_t(column - 1), value);
}

void OdsWorksheet::setColumnWidth(std::int16_t column, double characters) {
    check(1, column);
    if (!(characters >= 0 && characters <= 255))
        throw RuntimeError(err::Application, "Latimea coloanei trebuie sa fie intre 0 si 255");
    Content& c = owner_->content();
    c.setColumnStyle(table(), std::uint32_t(column - 1),
                     c.columnWidthStyle(columnWidthFor(characters, owner_->digitTwips())));
}

void OdsWorksheet::setColumnHorizontalAlignment(std::int16_t column, std::int32_t alignment) {
    check(1, column);
    StyleChange ch;
    switch (alignment) {
    case AlignCenter:
        ch.textAlign = "center";
        break;
    case AlignLeft:
        ch.textAlign = "start";
        break;
    case AlignRight:
        ch.textAlign = "end";
        break;
    case AlignJustify:
    case AlignDistributed:
        ch.textAlign = "justify";
        break;
    case AlignCenterAcrossSelection: // in one column, centred in it
        ch.textAlign = "center";
        break;
    case AlignFill: // the start LibreOffice gives filled cells; the repeat itself has no ODF property here
        ch.textAlign = "start";
        break;
    case AlignGeneral: // no alignment of its own: the value's type decides
        ch.textAlign = "";
        break;
    default:
        throw RuntimeError(err::Application,
                           "Alinierea orizontala " + std::to_string(alignment) + " nu exista");
    }
    owner_->content().formatColumn(table(), std::uint32_t(column - 1), ch);
}

void OdsWorksheet::setColumnNumberFormat(std::int16_t column, const std::string& format) {
    check(1, column);
    // "0", "0.0", "0.00" and so on: the formats the table uses, and their kin.
    int decimals = -1;
    if (format == "0")
        decimals = 0;
    else if (format.size() > 2 && format.compare(0, 2, "0.") == 0 &&
             format.find_first_not_of('0', 2) == std::string::npos && format.size() - 2 <= 30)
        decimals = int(format.size() - 2);
    if (decimals < 0)
        throw RuntimeError(err::Application, "Formatul numeric " + text::quoted(format) +
                                                 " nu poate fi scris intr-un registru .ods");
    Content& c = owner_->content();
    StyleChange ch;
    ch.dataStyle = c.numberStyle(decimals);
    c.formatColumn(table(), std::uint32_t(column - 1), ch);
}

void OdsWorksheet::setBold(std::int16_t row, std::int16_t column, bool bold) {
    check(row, column);
    StyleChange ch;
    ch.bold = bold;
    owner_->content().formatCell(table(), std::uint32_t(row - 1), std::uint32_t(column - 1), ch);
}

void OdsWorksheet::borderAround(std::int16_t firstRow, std::int16_t firstColumn, std::int16_t lastRow,
                                std::int16_t lastColumn, std::int32_t lineStyle, std::int32_t weight) {
    check(firstRow, firstColumn);
    check(lastRow, lastColumn);
    // LibreOffice's own widths for Excel's hairline, thin, medium and thick lines, and its names for the
    // patterns it gives Excel's line styles.
    const char* width = weight == WeightHairline ? "0.06pt"
                        : weight == WeightThin   ? "0.74pt"
                        : weight == WeightMedium ? "1.76pt"
                        : weight == WeightThick  ? "2.49pt"
                                                 : nullptr;
    const char* pattern = lineStyle == LineStyleContinuous     ? "solid"
                          : lineStyle == LineStyleDash         ? "dashed"
                          : lineStyle == LineStyleDot          ? "dotted"
                          : lineStyle == LineStyleDouble       ? "double-thin"
                          : lineStyle == LineStyleDashDot      ? "dash-dot"
                          : lineStyle == LineStyleDashDotDot   ? "dash-dot-dot"
                          : lineStyle == LineStyleSlantDashDot ? "dash-dot"
                                                               : nullptr;
    if (!width || (!pattern && lineStyle != LineStyleNone))
        throw RuntimeError(err::Application, "Stilul de chenar " + std::to_string(lineStyle) +
                                                 " cu grosimea " + std::to_string(weight) + " nu exista");
    // Excel draws these three in one weight, whichever is asked, as the other engines write them.
    if (lineStyle == LineStyleDot) width = "0.74pt";
    if (lineStyle == LineStyleDouble || lineStyle == LineStyleSlantDashDot) width = "1.76pt";
    const std::string border = pattern ? std::string(width) + " " + pattern + " #000000" : "none";
    Content& content = owner_->content();
    forEachFrameCell(firstRow, firstColumn, lastRow, lastColumn, [&](int r, int c, unsigned sides) {
        StyleChange ch;
        ch.border = border;
        for (int k = 0; k < 4; ++k)
            ch.borders[k] = (sides >> k) & 1u;
        content.formatCell(table(), std::uint32_t(r - 1), std::uint32_t(c - 1), ch);
    });
}

void OdsWorksheet::activate() {
    owner_->checkOpen();
    // A hidden sheet cannot be the one shown; the active sheet stays as it was rather than losing the save.
    if (owner_->reader().tableHidden(owner_->reader().tables()[index_])) return;
    owner_->setActive(owner_->reader().tables()[index_].name);
}

} // namespace

void writePackage(Workbook& workbook, const ByteSink& sink) {
    auto* book = dynamic_cast<OdsWorkbook*>(&workbook);
    if (!book) throw RuntimeError(err::Internal, "registrul nu este unul OpenDocument");
    book->checkOpen();
    book->writeTo(sink);
}

std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source) {
    auto archive = opening(source->path(), [&] { return zip::Archive::parse(source->data()); });
    return openWorkbook(std::move(source), std::move(archive));
}

std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive,
                                       std::size_t budget) {
    const std::string path = source->path();
    return opening(path, [&]() -> std::shared_ptr<Workbook> {
        const PackageKind kind = kindOf(archive);
        if (kind.mediaType != kSpreadsheet) {
            if (kind.mediaType.empty())
                throw RuntimeError(err::Application,
                                   "pachetul nu spune ce fel de document OpenDocument este");
            throw RuntimeError(err::Application, "este " + describeType(kind.mediaType));
        }
        if (kind.encrypted)
            throw RuntimeError(err::Application,
                               "Registrul este protejat cu parola (criptat) si nu poate fi deschis");
        const zip::Entry* content = archive.find("content.xml");
        if (!content) throw RuntimeError(err::Application, "pachetul nu contine partea \"content.xml\"");
        const zip::Entry contentEntry = *content;
        return std::make_shared<OdsWorkbook>(std::move(source), std::move(archive), contentEntry,
                                             kind.mimetypeFirstAndPlain, budget);
    });
}

} // namespace ordana::spreadsheet::ods
