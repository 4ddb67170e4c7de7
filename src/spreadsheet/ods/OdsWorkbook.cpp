#include "OdsWorkbook.h"

#include "Content.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <algorithm>
#include <charconv>
#include <expat.h>
#include <map>
#include <optional>
#include <set>
#include <tuple>

namespace ordana::spreadsheet::ods {

namespace {

constexpr std::string_view kSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";
constexpr std::string_view kOdfPrefix = "application/vnd.oasis.opendocument.";

// The elements of a small part (settings, manifest, styles), with their spans, for finding what to edit.
struct Element {
    std::string uri, local, qname;
    std::vector<std::pair<std::string, std::string>> attrs; // "uri local" -> value
    std::size_t begin = 0, tagEnd = 0, innerEnd = 0, end = 0;
    int parent = -1;
    std::string text; // character data directly inside
    const std::string* attr(std::string_view uri, std::string_view local) const {
        for (const auto& [k, v] : attrs)
            if (k.size() == uri.size() + 1 + local.size() && k.compare(0, uri.size(), uri) == 0 &&
                k.compare(uri.size() + 1, std::string::npos, local) == 0)
                return &v;
        return nullptr;
    }
};

struct Scan {
    std::vector<Element> elements;
    std::vector<int> open;
    std::map<std::string, std::string> prefixes;
    XML_Parser p = nullptr;

    static std::tuple<std::string, std::string, std::string> split(const char* n) {
        std::string s(n);
        const auto a = s.find('\x01');
        if (a == std::string::npos) return {"", s, s};
        const auto b = s.find('\x01', a + 1);
        std::string uri = s.substr(0, a), local = s.substr(a + 1, b == std::string::npos ? b : b - a - 1);
        std::string prefix = b == std::string::npos ? "" : s.substr(b + 1);
        return {uri, local, prefix.empty() ? local : prefix + ":" + local};
    }
    static void onStart(void* u, const char* n, const char** a) {
        auto* s = static_cast<Scan*>(u);
        Element e;
        std::tie(e.uri, e.local, e.qname) = split(n);
        for (; *a; a += 2) {
            auto [uri, local, q] = split(a[0]);
            e.attrs.emplace_back(uri + " " + local, a[1]);
        }
        e.begin = std::size_t(XML_GetCurrentByteIndex(s->p));
        e.tagEnd = e.begin + std::size_t(XML_GetCurrentByteCount(s->p));
        e.parent = s->open.empty() ? -1 : s->open.back();
        s->open.push_back(int(s->elements.size()));
        s->elements.push_back(std::move(e));
    }
    static void onEnd(void* u, const char*) {
        auto* s = static_cast<Scan*>(u);
        Element& e = s->elements[std::size_t(s->open.back())];
        s->open.pop_back();
        const std::size_t at = std::size_t(XML_GetCurrentByteIndex(s->p));
        const std::size_t n = std::size_t(XML_GetCurrentByteCount(s->p));
        e.innerEnd = n == 0 ? e.tagEnd : at;
        e.end = n == 0 ? e.tagEnd : at + n;
    }
    static void onText(void* u, const char* t, int len) {
        auto* s = static_cast<Scan*>(u);
        if (!s->open.empty()) s->elements[std::size_t(s->open.back())].text.append(t, std::size_t(len));
    }
    static void onNs(void* u, const char* prefix, const char* uri) {
        auto* s = static_cast<Scan*>(u);
        if (uri && !s->prefixes.count(uri)) s->prefixes[uri] = prefix ? prefix : "";
    }
};

Scan scanPart(std::string_view xml, const std::string& part) {
    Scan s;
    XML_Parser p = XML_ParserCreateNS(nullptr, '\x01');
    if (!p) throw std::bad_alloc();
    s.p = p;
    XML_SetReturnNSTriplet(p, 1);
    XML_SetUserData(p, &s);
    XML_SetElementHandler(p, &Scan::onStart, &Scan::onEnd);
    XML_SetCharacterDataHandler(p, &Scan::onText);
    XML_SetStartNamespaceDeclHandler(p, &Scan::onNs);
    const bool ok =
        xml.size() < 0x7FFFFFFF && XML_Parse(p, xml.data(), int(xml.size()), XML_TRUE) == XML_STATUS_OK;
    std::string why = ok ? "" : XML_ErrorString(XML_GetErrorCode(p));
    XML_ParserFree(p);
    if (!ok)
        throw RuntimeError(err::Application, "partea " + text::quoted(part) + " nu este XML corect: " + why);
    return s;
}

std::string asString(const std::vector<std::uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t'))
        s.pop_back();
    return s;
}

// What the package says it is: the mimetype entry when it comes first, else the manifest's root entry.
struct PackageKind {
    std::string mediaType;
    bool encrypted = false;
    bool mimetypeFirstAndPlain = false;
};

PackageKind kindOf(const zip::Archive& archive) {
    PackageKind k;
    std::optional<std::string> mimetype;
    if (const zip::Entry* m = archive.find("mimetype"); m && m->uncompressedSize <= 256) {
        mimetype = trimmed(asString(archive.read(*m)));
        k.mimetypeFirstAndPlain = &archive.entries().front() == m && m->method == 0 &&
                                  m->record.size() >= 30 && m->record[28] == 0 && m->record[29] == 0;
    }
    const bool first = mimetype && !archive.entries().empty() && archive.entries().front().name == "mimetype";
    if (first) k.mediaType = *mimetype;
    if (const zip::Entry* m = archive.find("META-INF/manifest.xml")) {
        const std::string xml = asString(archive.read(*m));
        const Scan s = scanPart(xml, "META-INF/manifest.xml");
        for (const Element& e : s.elements) {
            if (e.uri != ns::manifest) continue;
            if (e.local == "encryption-data") k.encrypted = true;
            if (e.local == "file-entry" && k.mediaType.empty())
                if (const std::string* path = e.attr(ns::manifest, "full-path"); path && *path == "/")
                    if (const std::string* type = e.attr(ns::manifest, "media-type")) k.mediaType = *type;
        }
    }
    if (k.mediaType.empty() && mimetype) k.mediaType = *mimetype;
    return k;
}

std::string describeType(const std::string& type) {
    static const std::pair<std::string_view, std::string_view> kinds[] = {
        {"text", "un document text OpenDocument (.odt)"},
        {"text-template", "un sablon de document text OpenDocument (.ott)"},
        {"text-master", "un document principal OpenDocument (.odm)"},
        {"spreadsheet-template", "un sablon de registru OpenDocument (.ots), nu un registru"},
        {"presentation", "o prezentare OpenDocument (.odp)"},
        {"presentation-template", "un sablon de prezentare OpenDocument (.otp)"},
        {"graphics", "un desen OpenDocument (.odg)"},
        {"graphics-template", "un sablon de desen OpenDocument (.otg)"},
        {"chart", "o diagrama OpenDocument (.odc)"},
        {"formula", "o formula OpenDocument (.odf)"},
        {"database", "o baza de date OpenDocument (.odb)"},
        {"image", "o imagine OpenDocument (.odi)"},
    };
    if (type.rfind(kOdfPrefix, 0) == 0) {
        const std::string_view rest = std::string_view(type).substr(kOdfPrefix.size());
        for (const auto& [k, d] : kinds)
            if (rest == k) return std::string(d);
    }
    return "un pachet de tipul " + text::quoted(type) + ", nu un registru de calcul";
}

// The digit width of the font LibreOffice measures column widths by: the "Default" cell style's, else the
// document's default cell properties', else its own Liberation Sans 10.
double defaultDigitTwips(const Scan& s) {
    const Element* chosen = nullptr;
    auto textProps = [&](int parent) -> const Element* {
        for (const Element& e : s.elements)
            if (e.parent == parent && e.uri == ns::style && e.local == "text-properties") return &e;
        return nullptr;
    };
    for (std::size_t i = 0; i < s.elements.size() && !chosen; ++i) {
        const Element& e = s.elements[i];
        const std::string* name = e.attr(ns::style, "name");
        const std::string* family = e.attr(ns::style, "family");
        if (e.uri == ns::style && e.local == "style" && name && *name == "Default" && family &&
            *family == "table-cell")
            chosen = textProps(int(i));
    }
    for (std::size_t i = 0; i < s.elements.size() && !chosen; ++i) {
        const Element& e = s.elements[i];
        const std::string* family = e.attr(ns::style, "family");
        if (e.uri == ns::style && e.local == "default-style" && family && *family == "table-cell")
            chosen = textProps(int(i));
    }
    std::string font = "Liberation Sans";
    double points = 10;
    if (chosen) {
        if (const std::string* f = chosen->attr(ns::fo, "font-family")) {
            font = *f;
        } else if (const std::string* n = chosen->attr(ns::style, "font-name")) {
            font = *n;
            for (const Element& e : s.elements)
                if (e.local == "font-face" && e.uri == ns::style)
                    if (const std::string* fn = e.attr(ns::style, "name"); fn && *fn == *n)
                        if (const std::string* ff = e.attr(
                                "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0", "font-family"))
                            font = *ff;
        }
        if (const std::string* sz = chosen->attr(ns::fo, "font-size");
            sz && sz->size() > 2 && sz->compare(sz->size() - 2, 2, "pt") == 0)
            std::from_chars(sz->data(), sz->data() + sz->size() - 2, points); // not the locale's decimal mark
    }
    font.erase(std::remove(font.begin(), font.end(), '\''), font.end());
    if (const auto comma = font.find(','); comma != std::string::npos) font.erase(comma);
    return digitTwips(font, points);
}

class OdsWorkbook;

class OdsWorksheet : public Worksheet {
  public:
    OdsWorksheet(std::shared_ptr<OdsWorkbook> owner, std::size_t index)
        : owner_(std::move(owner)), index_(index) {}
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
                const zip::Entry& contentEntry, bool mimetypeOk)
        : source_(std::move(source)), archive_(std::move(archive)), contentName_(contentEntry.name),
          contentBytes_(asString(archive_.read(*archive_.find(contentName_)))), content_(contentBytes_),
          mimetypeOk_(mimetypeOk) {}

    std::int16_t worksheetCount() override {
        checkOpen();
        return std::int16_t(std::min<std::size_t>(content_.tables().size(), 32767));
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
        const std::string wanted = text::foldCase(std::string_view(name));
        const auto& t = content_.tables();
        for (std::size_t i = 0; i < t.size(); ++i)
            if (text::foldCase(std::string_view(t[i].name)) == wanted)
                return std::make_shared<OdsWorksheet>(shared_from_this(), i);
        throw RuntimeError(err::SubscriptOutOfRange, "Indice in afara intervalului: foaia de calcul " +
                                                         text::quoted(name) + " nu exista in fisierul " +
                                                         text::quoted(source_->path()));
    }
    void close(bool saveChanges) override {
        checkOpen();
        if (saveChanges) save();
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
                const Scan s = scanPart(asString(archive_.read(*e)), "styles.xml");
                std::set<std::string> names;
                for (const Element& el : s.elements)
                    if (const std::string* n = el.attr(ns::style, "name")) names.insert(*n);
                content_.reserveNames(names);
                digitTwips_ = defaultDigitTwips(s);
            }
        }
        return content_;
    }
    const Content& reader() const { return content_; }
    double digitTwips() {
        content();
        return digitTwips_;
    }
    void setActive(const std::string& name) { active_ = name; }
    const std::string& path() const { return source_->path(); }

  private:
    void save();
    std::optional<std::string> settingsWithActive(bool& added);

    std::shared_ptr<const SourceFile> source_;
    zip::Archive archive_;
    std::string contentName_;
    std::string contentBytes_;
    Content content_;
    bool mimetypeOk_;
    bool stylesRead_ = false;
    double digitTwips_ = 111;
    bool closed_ = false;
    std::optional<std::string> active_;
};

// settings.xml with ActiveTable naming the sheet: the item's text replaced, or the item (or the whole view
// settings) added where LibreOffice keeps it.
std::optional<std::string> OdsWorkbook::settingsWithActive(bool& added) {
    const std::string value = escapeXml(*active_, false);
    const zip::Entry* entry = archive_.find("settings.xml");
    const std::string cfg = "urn:oasis:names:tc:opendocument:xmlns:config:1.0";
    if (!entry) {
        added = true;
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-settings "
               "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" xmlns:config=\"" +
               cfg +
               "\" xmlns:ooo=\"http://openoffice.org/2004/office\" office:version=\"1.2\"><office:settings>"
               "<config:config-item-set config:name=\"ooo:view-settings\"><config:config-item-map-indexed "
               "config:name=\"Views\"><config:config-item-map-entry><config:config-item "
               "config:name=\"ViewId\" "
               "config:type=\"string\">view1</config:config-item><config:config-item "
               "config:name=\"ActiveTable\" "
               "config:type=\"string\">" +
               value +
               "</config:config-item></config:config-item-map-entry></config:config-item-map-indexed>"
               "</config:config-item-set></office:settings></office:document-settings>";
    }
    const std::string xml = asString(archive_.read(*entry));
    const Scan s = scanPart(xml, "settings.xml");
    auto pfx = [&](std::string_view uri, const char* fallback) {
        const auto it = s.prefixes.find(std::string(uri));
        return it == s.prefixes.end() ? std::string(fallback) : it->second;
    };
    const std::string c = pfx(cfg, "config");
    auto qn = [&](const char* local) { return c.empty() ? std::string(local) : c + ":" + local; };
    auto named = [&](const Element& e, std::string_view local, std::string_view name) {
        const std::string* n = e.attr(cfg, "name");
        return e.uri == cfg && e.local == local && n && *n == name;
    };
    struct Edit {
        std::size_t begin, end;
        std::string text;
    };
    std::vector<Edit> edits;
    for (const Element& e : s.elements)
        if (named(e, "config-item", "ActiveTable")) {
            if (e.innerEnd == e.tagEnd && e.end == e.tagEnd) // <config:config-item .../>
                edits.push_back({e.begin, e.end,
                                 std::string(xml.substr(e.begin, e.tagEnd - e.begin - 2)) + ">" + value +
                                     "</" + e.qname + ">"});
            else
                edits.push_back({e.tagEnd, e.innerEnd, value});
        }
    const std::string item = "<" + qn("config-item") + " " + qn("name") + "=\"ActiveTable\" " + qn("type") +
                             "=\"string\">" + value + "</" + qn("config-item") + ">";
    if (edits.empty()) {
        // The first view's entry, else the view settings, else the settings root.
        int views = -1, viewSet = -1, settings = -1;
        for (std::size_t i = 0; i < s.elements.size(); ++i) {
            const Element& e = s.elements[i];
            if (views < 0 && named(e, "config-item-map-indexed", "Views")) views = int(i);
            if (viewSet < 0 && named(e, "config-item-set", "ooo:view-settings")) viewSet = int(i);
            if (settings < 0 && e.local == "settings" &&
                e.uri == "urn:oasis:names:tc:opendocument:xmlns:office:1.0")
                settings = int(i);
        }
        int entryEl = -1;
        for (std::size_t i = 0; views >= 0 && i < s.elements.size(); ++i)
            if (s.elements[i].parent == views && s.elements[i].local == "config-item-map-entry") {
                entryEl = int(i);
                break;
            }
        const std::string viewsXml = "<" + qn("config-item-map-indexed") + " " + qn("name") + "=\"Views\"><" +
                                     qn("config-item-map-entry") + ">" + item + "</" +
                                     qn("config-item-map-entry") + "></" + qn("config-item-map-indexed") +
                                     ">";
        auto insertBeforeEnd = [&](const Element& e, const std::string& text) {
            if (e.end == e.tagEnd) // an empty element written as <x/>
                edits.push_back({e.begin, e.end,
                                 std::string(xml.substr(e.begin, e.tagEnd - e.begin - 2)) + ">" + text +
                                     "</" + e.qname + ">"});
            else
                edits.push_back({e.innerEnd, e.innerEnd, text});
        };
        if (entryEl >= 0)
            insertBeforeEnd(s.elements[std::size_t(entryEl)], item);
        else if (views >= 0)
            insertBeforeEnd(s.elements[std::size_t(views)], "<" + qn("config-item-map-entry") + ">" + item +
                                                                "</" + qn("config-item-map-entry") + ">");
        else if (viewSet >= 0)
            insertBeforeEnd(s.elements[std::size_t(viewSet)], viewsXml);
        else if (settings >= 0)
            insertBeforeEnd(s.elements[std::size_t(settings)],
                            "<" + qn("config-item-set") + " " + qn("name") + "=\"ooo:view-settings\">" +
                                viewsXml + "</" + qn("config-item-set") + ">");
        else
            throw RuntimeError(err::Application, "partea \"settings.xml\" nu are elementul office:settings");
        if (s.prefixes.find(cfg) == s.prefixes.end()) {
            // Declare the prefix on what is added.
            Edit& e = edits.back();
            const auto gt = e.text.find_first_of(" >", 1);
            e.text.insert(gt, " xmlns:config=\"" + cfg + "\"");
        }
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    std::string out;
    std::size_t at = 0;
    for (const Edit& e : edits) {
        out.append(xml, at, e.begin - at);
        out += e.text;
        at = e.end;
    }
    out.append(xml, at, std::string::npos);
    return out;
}

void OdsWorkbook::save() {
    zip::ArchiveWriter writer(archive_);
    if (content_.modified()) {
        auto text = std::make_shared<std::string>(content_.write());
        writer.replace(contentName_, [text](const ByteSink& sink) {
            sink({reinterpret_cast<const std::uint8_t*>(text->data()), text->size()});
        });
    }
    if (active_) {
        bool added = false;
        auto settings = settingsWithActive(added);
        if (settings) {
            auto text = std::make_shared<std::string>(std::move(*settings));
            auto producer = [text](const ByteSink& sink) {
                sink({reinterpret_cast<const std::uint8_t*>(text->data()), text->size()});
            };
            if (added) {
                writer.add("settings.xml", producer);
                // The manifest lists every part; a new one gets its line.
                if (const zip::Entry* m = archive_.find("META-INF/manifest.xml")) {
                    const std::string xml = asString(archive_.read(*m));
                    const Scan s = scanPart(xml, "META-INF/manifest.xml");
                    const auto it = s.prefixes.find(std::string(ns::manifest));
                    const std::string p =
                        it == s.prefixes.end() || it->second.empty() ? "" : it->second + ":";
                    const Element& root = s.elements.front();
                    const std::string line = "<" + p + "file-entry " + p + "full-path=\"settings.xml\" " + p +
                                             "media-type=\"text/xml\"/>";
                    auto out = std::make_shared<std::string>(
                        root.end == root.tagEnd
                            ? xml.substr(0, root.tagEnd - 2) + ">" + line + "</" + root.qname + ">" +
                                  xml.substr(root.end)
                            : xml.substr(0, root.innerEnd) + line + xml.substr(root.innerEnd));
                    writer.replace(m->name, [out](const ByteSink& sink) {
                        sink({reinterpret_cast<const std::uint8_t*>(out->data()), out->size()});
                    });
                }
            } else {
                writer.replace(archive_.find("settings.xml")->name, producer);
            }
        }
    }
    if (!mimetypeOk_ && archive_.find("mimetype")) writer.putFirstStored(archive_.find("mimetype")->name);
    saveInPlace(*source_, [&](const ByteSink& sink) { writer.writeTo(sink); });
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
        throw RuntimeError(err::Application,
                           "Celula (" + std::to_string(row) + ", " + std::to_string(column) +
                               ") este in afara foii: un registru .ods are 1048576 de randuri "
                               "si 16384 de coloane");
}

CellValue OdsWorksheet::cell(std::int16_t row, std::int16_t column) {
    check(row, column);
    return owner_->reader().value(owner_->reader().tables()[index_], std::uint32_t(row - 1),
                                  std::uint32_t(column - 1));
}

void OdsWorksheet::setCell(std::int16_t row, std::int16_t column, const CellValue& value) {
    check(row, column);
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
    case -4152:
        ch.textAlign = "end";
        break;
    case -4130:
        ch.textAlign = "justify";
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
    // LibreOffice's own widths for Excel's hairline, thin, medium and thick lines.
    std::string border;
    if (lineStyle == -4142) {
        border = "none";
    } else if (lineStyle == LineStyleContinuous) {
        switch (weight) {
        case 1:
            border = "0.06pt solid #000000";
            break;
        case WeightThin:
            border = "0.74pt solid #000000";
            break;
        case -4138:
            border = "1.76pt solid #000000";
            break;
        case 4:
            border = "2.49pt solid #000000";
            break;
        default:
            break;
        }
    }
    if (border.empty())
        throw RuntimeError(err::Application, "Stilul de chenar " + std::to_string(lineStyle) +
                                                 " cu grosimea " + std::to_string(weight) + " nu exista");
    const int r1 = std::min(firstRow, lastRow) - 1, r2 = std::max(firstRow, lastRow) - 1;
    const int c1 = std::min(firstColumn, lastColumn) - 1, c2 = std::max(firstColumn, lastColumn) - 1;
    Content& content = owner_->content();
    auto apply = [&](int r, int c) {
        StyleChange ch;
        ch.border = border;
        ch.borders[0] = c == c1;
        ch.borders[1] = c == c2;
        ch.borders[2] = r == r1;
        ch.borders[3] = r == r2;
        content.formatCell(table(), std::uint32_t(r), std::uint32_t(c), ch);
    };
    // The outer edges only: walk the frame, not the inside of the block.
    for (int r = r1; r <= r2; ++r) {
        if (r == r1 || r == r2) {
            for (int c = c1; c <= c2; ++c)
                apply(r, c);
        } else {
            apply(r, c1);
            if (c2 != c1) apply(r, c2);
        }
    }
}

void OdsWorksheet::activate() {
    owner_->checkOpen();
    // A hidden sheet cannot be the one shown; the active sheet stays as it was rather than losing the save.
    if (owner_->reader().tableHidden(owner_->reader().tables()[index_])) return;
    owner_->setActive(owner_->reader().tables()[index_].name);
}

} // namespace

bool isOpenDocument(const zip::Archive& archive) {
    if (const zip::Entry* m = archive.find("mimetype"); m && m->uncompressedSize <= 256)
        return trimmed(asString(archive.read(*m))).rfind(kOdfPrefix, 0) == 0;
    return archive.find("META-INF/manifest.xml") && !archive.find("[Content_Types].xml");
}

std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source) {
    const std::string name = text::quoted(source->path());
    try {
        zip::Archive archive = zip::Archive::parse(source->data());
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
                                             kind.mimetypeFirstAndPlain);
    } catch (const RuntimeError& e) {
        throw RuntimeError(e.number(), "Fisierul " + name + " nu poate fi deschis: " + e.description());
    } catch (const std::bad_alloc&) {
        throw RuntimeError(err::Application,
                           "Fisierul " + name + " nu poate fi deschis: nu este destula memorie");
    }
}

} // namespace ordana::spreadsheet::ods
