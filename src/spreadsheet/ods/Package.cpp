#include "Package.h"

#include "Namespaces.h"
#include "PackageParts.h"
#include "common/Text.h"
#include "spreadsheet/zip/ZipArchive.h"

namespace ordana::spreadsheet::ods {

namespace {

constexpr std::string_view kOdfPrefix = "application/vnd.oasis.opendocument.";

std::string asString(const std::vector<std::uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t'))
        s.pop_back();
    return s;
}

} // namespace

bool isOpenDocument(const zip::Archive& archive) {
    if (const zip::Entry* m = archive.find("mimetype"); m && m->uncompressedSize <= 256)
        return trimmed(asString(archive.read(*m))).rfind(kOdfPrefix, 0) == 0;
    return archive.find("META-INF/manifest.xml") && !archive.find("[Content_Types].xml");
}

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
        // Read as it is inflated: a manifest lists every file of the package, and may list millions.
        struct Manifest : xml::Handler {
            PackageKind& k;
            explicit Manifest(PackageKind& kind) : k(kind) {}
            void start(const xml::Element& e) override {
                if (e.uri != ns::manifest) return;
                if (e.local == "encryption-data") k.encrypted = true;
                if (e.local == "file-entry" && k.mediaType.empty())
                    if (const std::string* path = attr(e, ns::manifest, "full-path"); path && *path == "/")
                        if (const std::string* type = attr(e, ns::manifest, "media-type"))
                            k.mediaType = *type;
            }
        } manifest(k);
        scanPart(archive, *m, manifest);
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
    return "un pachet de tipul " + text::quotedExcerpt(type) + ", nu un registru de calcul";
}

std::optional<PartEdit> manifestWith(const zip::Archive& archive, std::string_view path,
                                     std::string_view mediaType, Held& held) {
    const zip::Entry* m = archive.find("META-INF/manifest.xml");
    if (!m) return std::nullopt;
    PartEdit out;
    out.original = std::make_shared<const std::vector<std::uint8_t>>(readPart(archive, *m, held));
    struct Root : xml::Handler {
        Node root;
        void start(const xml::Element& e) override {
            if (e.depth == 0) root.element = e;
        }
        void end(const xml::Element& e, const xml::EndTag& t) override {
            if (e.depth == 0) root.endTag = t;
        }
    } found;
    xml::scan(*out.original, "META-INF/manifest.xml", found);
    const xml::Element& root = found.root.element;
    const std::string line = "<" + root.qualified("file-entry") + " " + root.qualified("full-path") + "=\"" +
                             std::string(path) + "\" " + root.qualified("media-type") + "=\"" +
                             std::string(mediaType) + "\"/>";
    appendInside(out.edits, *out.original, found.root, line);
    return out;
}

} // namespace ordana::spreadsheet::ods
