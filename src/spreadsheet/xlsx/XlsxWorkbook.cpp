#include "XlsxWorkbook.h"

#include "Package.h"
#include "SharedStrings.h"
#include "Sheet.h"
#include "Styles.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/SheetLookup.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace ordana::spreadsheet::xlsx {

namespace {

// Names compared as views: their lengths first, where a std::string against a literal measures both.
using namespace std::string_view_literals;
constexpr const char* kInternal =
    "motorul .xlsx a intalnit o eroare interna la citirea lui; raportati fisierul dezvoltatorilor";

// What the engine reads of the workbook part (see Outline).
bool keepWorkbook(const xml::Element& e) {
    if (e.depth == 1) return e.local == "sheets"sv || e.local == "bookViews"sv;
    return e.depth == 2 && (e.local == "sheet"sv || e.local == "workbookView"sv);
}

struct SheetEntry {
    std::string name, part;
    int position = 0; // among all sheets of the workbook, as activeTab counts
    int sheetId = 0;
    bool hidden = false;
};

// The calculation chain read as it goes by, a chain having an entry for every formula of the workbook: the
// entries of the dropped formulas (sheet id, cell) removed.
struct ChainEdits : xml::Handler {
    ChainEdits(const BytesPtr& cc, const std::set<std::pair<int, std::string>>& d) : ed(*cc), dropped(d) {}
    PartEditor ed;
    const std::set<std::pair<int, std::string>>& dropped;
    int current = 0, kept = 0;
    std::optional<std::string> carry;
    void end(const xml::Element& e, const xml::EndTag& t) override {
        if (e.depth != 1 || e.local != "c"sv) return;
        const std::string* i = e.attribute("i");
        if (i) current = toInt(i, current);
        const std::string* r = e.attribute("r");
        if (r && dropped.count({current, *r})) {
            ed.replace(e.begin, t.end, "");
            if (i) carry = *i;
            return;
        }
        ++kept;
        if (!i && carry) ed.setAttribute(e, "i", *carry);
        carry.reset();
    }
};

// What a save gathers, part by part, before the package is written.
struct Save {
    std::vector<EditedPart> parts;
    // Sheets: their edits, written over the original inflated again as the package is written.
    std::vector<std::pair<std::string, xml::Edits>> sheets;
    std::set<std::pair<int, std::string>> dropped; // formulas overwritten: sheet id, cell
    bool newStyles = false, newStrings = false, dropChain = false;
};

class XlsxWorkbook : public Workbook, public std::enable_shared_from_this<XlsxWorkbook> {
  public:
    XlsxWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive, std::size_t budget)
        : pkg_(std::move(source), std::move(archive), budget), path_(pkg_.source()->path()) {}

    void open();

    std::int16_t worksheetCount() override {
        checkOpen();
        return std::int16_t(std::min(sheets_.size(), kMaxWorksheets));
    }
    std::string worksheetName(std::int16_t index) override {
        checkOpen();
        if (index < 1 || std::size_t(index) > sheets_.size())
            throw RuntimeError(err::SubscriptOutOfRange,
                               "Indice in afara intervalului: foaia de calcul " + std::to_string(index) +
                                   " nu exista (fisierul are " + std::to_string(sheets_.size()) + ")");
        return sheets_[std::size_t(index - 1)].name;
    }
    std::shared_ptr<Worksheet> worksheet(const std::string& name) override;
    void close(bool saveChanges) override;
    // The saved package into sink (or, without one, safely over the file); false when nothing changed.
    bool writeChanges(const ByteSink* sink);

    void checkOpen() const {
        if (closed_) fail("Registrul " + text::quoted(path_) + " a fost inchis");
    }
    Sheet& sheet(std::size_t i) {
        auto& s = loaded_[i];
        if (!s)
            s = std::make_unique<Sheet>(sheets_[i].name, sheets_[i].part, sheets_[i].sheetId, pkg_.budget());
        return *s;
    }
    // A handle on a sheet comes and goes: the last one gone, the sheet's index is given back.
    void attach(std::size_t i) { ++handles_[i]; }
    void detach(std::size_t i) noexcept;
    Package& package() { return pkg_; }
    // Nothing is read here: the table is read as its items are asked for, and keeps its own fault.
    SharedStrings& strings() {
        if (!strings_) {
            if (!sstPart_.empty() && pkg_.has(sstPart_)) {
                auto reader = std::make_shared<zip::EntryReader>(pkg_.archive(), *pkg_.entry(sstPart_));
                strings_ = std::make_unique<SharedStrings>(
                    sstPart_,
                    std::make_unique<StringTableReader>(
                        [reader](std::span<std::uint8_t> out) { return reader->read(out); }, sstPart_, true,
                        std::size_t(1) << 16, pkg_.budget()),
                    pkg_.budget());
            } else {
                strings_ = std::make_unique<SharedStrings>(pkg_.freePart("xl/sharedStrings", ".xml"), nullptr,
                                                           pkg_.budget());
            }
        }
        return *strings_;
    }
    Styles& styles() {
        if (!styles_) {
            // Without the part, or lists of it, one made the way Excel reads such a workbook: every cell in
            // the default format.
            BytesPtr bytes;
            if (!stylesPart_.empty() && pkg_.has(stylesPart_)) bytes = pkg_.read(stylesPart_);
            if (stylesPart_.empty()) stylesPart_ = pkg_.freePart("xl/styles", ".xml"), stylesLinked_ = false;
            const BytesPtr completed = completedStyles(bytes, stylesPart_, mainNs_, pkg_.budget());
            stylesWhole_ = completed != nullptr;
            styles_ = std::make_unique<Styles>(stylesPart_, completed ? completed : bytes, pkg_.budget());
        }
        return *styles_;
    }
    void activate(std::size_t i);
    const SheetEntry& entry(std::size_t i) const { return sheets_[i]; }
    const std::string& path() const { return path_; }
    std::string describe(const std::string& sheet, const RuntimeError& e) const {
        return inSheet(sheet, path_, e.description());
    }

  private:
    void writeSheets(Save& save, bool closing);
    void writeStyles(Save& save);
    void writeStrings(Save& save);
    void writeActiveTab(Save& save);
    void writeCalcChain(Save& save);
    void writeLinks(Save& save);
    void writeArchive(Save& save, const ByteSink* sink);

    Package pkg_;
    std::string path_;
    std::string workbookPart_, stylesPart_, sstPart_, calcChainPart_, mainNs_;
    std::vector<SheetEntry> sheets_;
    SheetNames names_;
    int allSheets_ = 0;
    std::map<std::size_t, std::unique_ptr<Sheet>> loaded_;
    std::map<std::size_t, int> handles_;
    // The sheets selected as the workbook now stands (those of the file found when the first sheet is
    // activated): activating another sheet clears them, not every sheet of the workbook.
    std::optional<std::set<std::size_t>> selected_;
    std::unique_ptr<SharedStrings> strings_;
    std::unique_ptr<Styles> styles_;
    bool stylesWhole_ = false, stylesLinked_ = true; // written whole; the workbook names a styles part
    std::optional<int> activeTab_;
    bool closed_ = false;
};

class XlsxWorksheet : public Worksheet {
  public:
    XlsxWorksheet(std::shared_ptr<XlsxWorkbook> owner, std::size_t index)
        : owner_(std::move(owner)), index_(index) {
        owner_->attach(index_);
    }
    ~XlsxWorksheet() override { owner_->detach(index_); }
    XlsxWorksheet(const XlsxWorksheet&) = delete;
    XlsxWorksheet& operator=(const XlsxWorksheet&) = delete;

    std::string name() const override {
        owner_->checkOpen();
        return owner_->entry(index_).name;
    }
    CellValue cell(std::int16_t row, std::int16_t column) override {
        check(row, column);
        return guard([&] {
            Sheet& s = sheet();
            SharedStrings* strings = nullptr;
            try {
                strings = &owner_->strings();
            } catch (const RuntimeError&) {
                strings = nullptr; // no table to be had fails only the cells that need one
            }
            return s.value(owner_->package(), strings, row, column);
        });
    }
    void setCell(std::int16_t row, std::int16_t column, const CellValue& value) override {
        check(row, column);
        guard([&] {
            if (value.kind() == CellValue::Kind::Number && !std::isfinite(value.numberValue()))
                fail("valoarea nu este un numar finit si nu poate fi scrisa in celula " +
                     text::cellAddress(row, column));
            // The part would not be XML, and Excel keeps no more than 32767 characters in a cell.
            if (value.kind() == CellValue::Kind::Text && !xml::holdsAsText(value.textValue()))
                fail("textul are caractere de control sau octeti care nu sunt UTF-8 si nu poate fi scris in "
                     "celula " +
                     text::cellAddress(row, column));
            if (value.kind() == CellValue::Kind::Text && text::utf8ToUtf16(value.textValue()).size() > 32767)
                fail("textul are mai mult de 32767 de caractere si nu poate fi scris in celula " +
                     text::cellAddress(row, column));
            Sheet& s = loadedSheet();
            s.write(row, column, value, owner_->strings());
            return 0;
        });
    }
    void setColumnWidth(std::int16_t column, double characters) override {
        check(1, column);
        guard([&] {
            Sheet& s = loadedSheet();
            const int mdw = owner_->styles().maxDigitWidth();
            if (!(characters >= 0 && characters <= 255))
                fail("Latimea coloanei trebuie sa fie intre 0 si 255 de caractere");
            // Characters of the default font's widest digit plus 5 pixels of padding, in 1/256 of a
            // character.
            const double width = std::trunc((characters * mdw + 5) / mdw * 256) / 256;
            ColRange& c = s.isolate(column, numberText(s.defaultWidth(mdw)));
            c.set("width", numberText(characters == 0 ? 0 : width));
            c.set("customWidth", "1");
            c.dirty = true;
            return 0;
        });
    }
    void setColumnHorizontalAlignment(std::int16_t column, std::int32_t alignment) override {
        check(1, column);
        XfChange c;
        c.horizontal = horizontalName(alignment);
        formatColumn(column, c);
    }
    void setColumnNumberFormat(std::int16_t column, const std::string& format) override {
        check(1, column);
        guard([&] {
            XfChange c;
            c.numFmt = owner_->styles().numFmt(format);
            formatColumn(column, c);
            return 0;
        });
    }
    void setBold(std::int16_t row, std::int16_t column, bool bold) override {
        check(row, column);
        guard([&] {
            Sheet& s = loadedSheet();
            Styles& st = owner_->styles();
            const int xf = s.styleOf(row, column);
            XfChange c;
            c.font = st.boldFont(st.fontOf(xf), bold);
            if (*c.font != st.fontOf(xf)) s.setStyle(row, column, st.derive(xf, c));
            return 0;
        });
    }
    void borderAround(std::int16_t firstRow, std::int16_t firstColumn, std::int16_t lastRow,
                      std::int16_t lastColumn, std::int32_t lineStyle, std::int32_t weight) override {
        check(firstRow, firstColumn);
        check(lastRow, lastColumn);
        const std::string style = borderStyleName(lineStyle, weight);
        guard([&] {
            Sheet& s = loadedSheet();
            Styles& st = owner_->styles();
            forEachFrameCell(firstRow, firstColumn, lastRow, lastColumn, [&](int r, int c, unsigned sides) {
                const int xf = s.styleOf(r, c);
                XfChange ch;
                ch.border = st.borderWith(st.borderOf(xf), sides, style);
                s.setStyle(r, c, st.derive(xf, ch));
            });
            return 0;
        });
    }
    void activate() override {
        owner_->checkOpen();
        guard([&] {
            owner_->activate(index_);
            return 0;
        });
    }

  private:
    void check(int row, int column) const {
        owner_->checkOpen();
        if (row < 1 || column < 1 || column > kMaxColumns)
            cellOutsideSheet(row, column, name(), owner_->path(),
                             "un registru .xlsx are 1048576 de randuri si 16384 de coloane");
    }
    Sheet& sheet() { return owner_->sheet(index_); }
    Sheet& loadedSheet() {
        Sheet& s = sheet();
        s.load(owner_->package());
        return s;
    }
    void formatColumn(int column, const XfChange& change) {
        guard([&] {
            Sheet& s = loadedSheet();
            Styles& st = owner_->styles();
            const int mdw = st.maxDigitWidth();
            ColRange& c = s.isolate(column, numberText(s.defaultWidth(mdw)));
            const int xf = st.derive(toInt(c.get("style"), 0), change);
            c.set("style", std::to_string(xf));
            c.dirty = true;
            for (int r : s.rowsWithCellsIn(column))
                s.setStyle(r, column, st.derive(s.styleOf(r, column), change));
            return 0;
        });
    }
    template <class F> auto guard(F&& f) -> decltype(f()) {
        try {
            return f();
        } catch (const RuntimeError& e) {
            if (e.number() != err::Application) throw;
            throw RuntimeError(e.number(), owner_->describe(owner_->entry(index_).name, e));
        } catch (const std::bad_alloc&) {
            fail(owner_->describe(owner_->entry(index_).name,
                                  RuntimeError(err::Application, "nu este destula memorie")));
        } catch (const std::exception&) {
            // A fault of the engine itself: said in the user's words, never a library's text.
            throw RuntimeError(err::Internal, owner_->describe(owner_->entry(index_).name,
                                                               RuntimeError(err::Internal, kInternal)));
        }
    }

    std::shared_ptr<XlsxWorkbook> owner_;
    std::size_t index_;
};

std::shared_ptr<Worksheet> XlsxWorkbook::worksheet(const std::string& name) {
    checkOpen();
    return std::make_shared<XlsxWorksheet>(shared_from_this(), names_.find(name, path_));
}

void XlsxWorkbook::detach(std::size_t i) noexcept {
    if (--handles_[i] > 0 || closed_) return;
    handles_.erase(i);
    const auto it = loaded_.find(i);
    if (it == loaded_.end() || !it->second) return;
    try {
        // Unchanged, nothing of it is kept; changed, its edits are.
        if (it->second->changed())
            it->second->release(strings());
        else
            loaded_.erase(it);
    } catch (...) {
        // Kept whole: the save meets the same fault and says it.
    }
}

void XlsxWorkbook::activate(std::size_t i) {
    // A hidden sheet cannot be the one shown; the selection stays where it was.
    if (sheets_[i].hidden) return;
    activeTab_ = sheets_[i].position;
    if (!selected_) {
        // Once: which sheets the file selects (the views come before the cells, so only that much is read).
        selected_.emplace();
        for (std::size_t k = 0; k < sheets_.size(); ++k) {
            const auto it = loaded_.find(k);
            const bool on = it != loaded_.end() && it->second ? it->second->isSelected(pkg_)
                            : pkg_.has(sheets_[k].part)
                                ? Sheet(sheets_[k].name, sheets_[k].part, sheets_[k].sheetId, pkg_.budget())
                                      .isSelected(pkg_)
                                : false;
            if (on) selected_->insert(k);
        }
    }
    for (std::size_t k : *selected_)
        if (k != i) sheet(k).select(false);
    Sheet& s = sheet(i);
    if (!s.isSelected(pkg_)) s.select(true);
    *selected_ = {i};
}

void XlsxWorkbook::open() {
    const ContentTypes types = pkg_.contentTypes();

    for (const Relationship& r : pkg_.relationships(""))
        if (!r.external && isType(r.type, "officeDocument")) {
            workbookPart_ = r.target;
            break;
        }
    if (workbookPart_.empty())
        fail("pachetul nu are relatia catre documentul principal (_rels/.rels), deci nu este un document "
             "Office");
    if (!pkg_.has(workbookPart_))
        fail("documentul principal " + partText(workbookPart_) + " lipseste din pachet");

    const std::string type = types.of(workbookPart_);
    static const std::pair<std::string_view, std::string_view> refused[] = {
        {"application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
         "un sablon Excel (.xltx)"},
        {"application/vnd.ms-excel.template.macroEnabled.main+xml",
         "un sablon Excel cu macrocomenzi (.xltm)"},
        {"application/vnd.ms-excel.addin.macroEnabled.main+xml", "un supliment Excel (.xlam)"},
        {"application/vnd.ms-excel.sheet.binary.macroEnabled.main", "un registru Excel binar (.xlsb)"},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml",
         "un document Word"},
        {"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml",
         "o prezentare PowerPoint"}};
    for (const auto& [t, what] : refused)
        if (type == t)
            fail("este " + std::string(what) +
                 ", nu un registru .xlsx sau .xlsm; salvati-l ca registru Excel "
                 "pentru a-l prelucra");
    if (type != "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml" &&
        type != "application/vnd.ms-excel.sheet.macroEnabled.main+xml")
        fail("nu este un registru de calcul: documentul principal are tipul " + text::quotedExcerpt(type));

    const BytesPtr wb = pkg_.read(workbookPart_);
    const auto doc = Outline::parse(*wb, workbookPart_, keepWorkbook, pkg_.budget());
    mainNs_ = doc.root().element.uri;
    std::map<std::string, Relationship> rels;
    for (Relationship& r : pkg_.relationships(workbookPart_)) {
        if (r.external) continue;
        if (isType(r.type, "styles")) stylesPart_ = r.target;
        if (isType(r.type, "sharedStrings")) sstPart_ = r.target;
        if (isType(r.type, "calcChain")) calcChainPart_ = r.target;
        rels.emplace(r.id, std::move(r));
    }
    const int sheetsNode = doc.child(0, "sheets");
    if (sheetsNode < 0) fail(partText(workbookPart_) + " nu are lista foilor (sheets)");
    for (int s : doc.children(sheetsNode, "sheet")) {
        const xml::Element& e = doc.node(s).element;
        const int position = allSheets_++;
        const std::string* id = nullptr;
        for (const auto& a : e.attributes)
            if (a.local == "id" && !a.uri.empty()) id = &a.value;
        if (!id) continue;
        auto it = rels.find(*id);
        if (it == rels.end() || !isType(it->second.type, "worksheet"))
            continue; // chart, dialog, macro sheets
        SheetEntry en;
        en.name = e.attribute("name") ? *e.attribute("name") : std::string();
        en.part = it->second.target;
        en.position = position;
        en.sheetId = toInt(e.attribute("sheetId"), 0);
        const std::string* state = e.attribute("state");
        en.hidden = state && *state != "visible";
        sheets_.push_back(std::move(en));
    }
    checkWorksheetCount(sheets_.size());
    // Each sheet is a part of its own: two sheets written into one part would each undo the other's edits.
    std::map<std::string, const SheetEntry*> parts;
    for (const SheetEntry& en : sheets_)
        if (const auto [at, fresh] = parts.emplace(text::foldCase(en.part), &en); !fresh)
            fail("foile " + text::quoted(at->second->name) + " si " + text::quoted(en.name) +
                 " trimit la aceeasi parte " + text::quoted(en.part) + ", ceea ce un registru nu poate avea");
    names_ = SheetNames(sheets_.size(), [&](std::size_t k) -> const std::string& { return sheets_[k].name; });
}

void XlsxWorkbook::close(bool saveChanges) {
    checkOpen();
    if (saveChanges) writeChanges(nullptr);
    closed_ = true;
}

bool XlsxWorkbook::writeChanges(const ByteSink* sink) {
    checkOpen();
    try {
        Save save;
        writeSheets(save, sink == nullptr);
        writeStyles(save);
        writeStrings(save);
        writeActiveTab(save);
        writeCalcChain(save);
        if (save.parts.empty() && save.sheets.empty() && !save.newStrings && !save.dropChain) return false;
        // Relationships and content types, only when a part comes or goes.
        if (save.newStrings || save.dropChain || save.newStyles) writeLinks(save);
        writeArchive(save, sink);
    } catch (const RuntimeError& e) {
        if (e.number() != err::Application) throw;
        throw RuntimeError(e.number(),
                           "Registrul " + text::quoted(path_) + " nu poate fi salvat: " + e.description());
    } catch (const std::bad_alloc&) {
        fail("Registrul " + text::quoted(path_) + " nu poate fi salvat: nu este destula memorie");
    } catch (const std::exception&) {
        throw RuntimeError(err::Internal,
                           "Registrul " + text::quoted(path_) + " nu poate fi salvat: " + kInternal);
    }
    return true;
}

// Each changed sheet's edits, one sheet indexed at a time: a workbook that is being closed needs no index
// any more, and one written elsewhere keeps those it had.
void XlsxWorkbook::writeSheets(Save& save, bool closing) {
    for (auto& [i, s] : loaded_)
        if (s && s->changed()) {
            const bool wasIndexed = s->loaded();
            xml::Edits edits = s->edits(pkg_, strings());
            if (closing || !wasIndexed) s->release(strings());
            if (!edits.empty()) save.sheets.emplace_back(s->part(), std::move(edits));
            for (const auto& ref : s->formulasDropped())
                save.dropped.emplace(s->sheetId(), ref);
        }
}

void XlsxWorkbook::writeStyles(Save& save) {
    if (styles_ && styles_->changed()) {
        save.parts.push_back(styles_->write());
        save.parts.back().whole = stylesWhole_;
    }
    save.newStyles = styles_ && styles_->changed() && !pkg_.has(stylesPart_);
}

// An existing table is edited with the other parts; a new one is added last.
void XlsxWorkbook::writeStrings(Save& save) {
    save.newStrings = strings_ && strings_->changed() && !strings_->exists();
    if (strings_ && strings_->changed() && strings_->exists()) save.parts.push_back(strings_->write(mainNs_));
}

// The active sheet, in the workbook part's first view.
void XlsxWorkbook::writeActiveTab(Save& save) {
    if (!activeTab_) return;
    const BytesPtr wb = pkg_.read(workbookPart_);
    const auto doc = Outline::parse(*wb, workbookPart_, keepWorkbook, pkg_.budget());
    PartEditor ed(*wb);
    const int views = doc.child(0, "bookViews");
    const int view = views >= 0 ? doc.child(views, "workbookView") : -1;
    if (view >= 0) {
        const xml::Element& e = doc.node(view).element;
        if (toInt(e.attribute("activeTab"), 0) != *activeTab_)
            ed.setAttribute(e, "activeTab", std::to_string(*activeTab_));
        if (toInt(e.attribute("firstSheet"), 0) > *activeTab_)
            ed.setAttribute(e, "firstSheet", std::to_string(*activeTab_));
    } else if (*activeTab_ != 0) {
        const int sheetsNode = doc.child(0, "sheets");
        const xml::Element& s = doc.node(sheetsNode).element;
        ed.insert(s.begin, "<" + s.qualified("bookViews") + "><" + s.qualified("workbookView") +
                               " activeTab=\"" + std::to_string(*activeTab_) + "\"/></" +
                               s.qualified("bookViews") + ">");
    }
    if (ed.changed()) {
        checkEditable(workbookPart_, *wb);
        save.parts.push_back({workbookPart_, wb, ed.edits()});
    }
}

// Overwritten formulas leave the calculation chain; an empty chain goes with its relationship.
void XlsxWorkbook::writeCalcChain(Save& save) {
    if (save.dropped.empty() || calcChainPart_.empty() || !pkg_.has(calcChainPart_)) return;
    const BytesPtr cc = pkg_.read(calcChainPart_);
    const auto chain =
        xml::scanEither(*cc, calcChainPart_, [&] { return std::make_unique<ChainEdits>(cc, save.dropped); });
    if (chain->kept == 0)
        save.dropChain = true;
    else if (chain->ed.changed())
        save.parts.push_back({calcChainPart_, cc, chain->ed.edits()});
}

void XlsxWorkbook::writeLinks(Save& save) {
    PartLinks links(pkg_, workbookPart_, mainNs_ == kStrictMain);
    if (save.newStyles) {
        if (!stylesLinked_) links.relate("rStyles", "styles", stylesPart_);
        if (!links.declared(stylesPart_))
            links.declare(stylesPart_,
                          "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml");
    }
    if (save.newStrings) {
        links.relate("rId", "sharedStrings", strings_->part());
        links.declare(strings_->part(),
                      "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml");
    }
    if (save.dropChain) links.unlink("calcChain", calcChainPart_);
    links.writeTo(save.parts);
}

// The package with the edited parts, into sink or, without one, safely over the file.
void XlsxWorkbook::writeArchive(Save& save, const ByteSink* sink) {
    zip::ArchiveWriter writer(pkg_.archive());
    for (auto& [part, edits] : save.sheets)
        replaceStreamed(writer, pkg_.archive(), part, std::move(edits));
    for (EditedPart& p : save.parts)
        replacePart(writer, std::move(p));
    if (save.newStrings) {
        auto sst = std::make_shared<EditedPart>(strings_->write(mainNs_));
        writer.add(sst->name, [sst](const ByteSink& sink) { sink(*sst->bytes); });
    }
    if (save.dropChain) writer.remove(calcChainPart_);
    if (sink)
        writer.writeTo(*sink);
    else
        saveInPlace(*pkg_.source(), [&](const ByteSink& out) { writer.writeTo(out); });
}

} // namespace

bool writePackage(Workbook& workbook, const ByteSink& sink) {
    auto* wb = dynamic_cast<XlsxWorkbook*>(&workbook);
    if (!wb) throw RuntimeError(err::Internal, "registrul nu este un pachet .xlsx");
    return wb->writeChanges(&sink);
}

bool isOfficePackage(const zip::Archive& archive) {
    return archive.find(kContentTypes) != nullptr;
}

std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive,
                                       std::size_t budget) {
    const std::string path = source->path(), name = text::quoted(path);
    try {
        return opening(path, [&]() -> std::shared_ptr<Workbook> {
            auto wb = std::make_shared<XlsxWorkbook>(std::move(source), std::move(archive), budget);
            wb->open();
            return wb;
        });
    } catch (const RuntimeError&) {
        throw;
    } catch (const std::exception&) {
        throw RuntimeError(err::Internal, "Fisierul " + name + " nu poate fi deschis: " + kInternal);
    }
}

} // namespace ordana::spreadsheet::xlsx
