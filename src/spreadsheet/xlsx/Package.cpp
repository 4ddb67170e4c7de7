#include "Package.h"

#include "common/Text.h"

#include <algorithm>
#include <set>

namespace ordana::spreadsheet::xlsx {

namespace {

// Names compared as views: their lengths first, where a std::string against a literal measures both.
using namespace std::string_view_literals;

// What the engine reads of each part it holds as a tree (see Outline).
bool keepTypes(const xml::Element& e) {
    return e.depth == 1 && (e.local == "Override"sv || e.local == "Default"sv);
}
bool keepRelationships(const xml::Element& e) {
    return e.depth == 1 && e.local == "Relationship"sv;
}

} // namespace

void checkEditable(const std::string& part, std::span<const std::uint8_t> bytes) {
    if (!xml::isUtf8Part(bytes))
        fail(partText(part) + " nu este codificata UTF-8 si nu poate fi modificata pe loc");
}

std::string ContentTypes::of(const std::string& part) const {
    const std::string wanted = text::foldCase("/" + part);
    for (int c : doc.node(0).children) {
        const xml::Element& e = doc.node(c).element;
        if (e.local == "Override" && e.attribute("PartName") &&
            text::foldCase(*e.attribute("PartName")) == wanted)
            return e.attribute("ContentType") ? *e.attribute("ContentType") : std::string();
    }
    const auto dot = part.rfind('.');
    const std::string ext = text::foldCase(dot == std::string::npos ? "" : part.substr(dot + 1));
    for (int c : doc.node(0).children) {
        const xml::Element& e = doc.node(c).element;
        if (e.local == "Default" && e.attribute("Extension") &&
            text::foldCase(*e.attribute("Extension")) == ext)
            return e.attribute("ContentType") ? *e.attribute("ContentType") : std::string();
    }
    return {};
}

BytesPtr Package::read(const std::string& part) {
    const zip::Entry* e = archive_.find(part);
    if (!e) fail(partText(part) + " lipseste din pachet");
    auto& slot = cache_[text::foldCase(part)];
    if (!slot.bytes) {
        Held held(budget_, part);
        slot.bytes = std::make_shared<const Bytes>(readHeld(part, held));
        slot.held = std::move(held);
    }
    return slot.bytes;
}

Bytes Package::readHeld(const std::string& part, Held& held) const {
    const zip::Entry* e = archive_.find(part);
    if (!e) fail(partText(part) + " lipseste din pachet");
    // The size the directory declares, which inflating never goes beyond.
    held.add(std::size_t(e->uncompressedSize));
    return archive_.read(*e);
}

std::vector<Relationship> Package::relationships(const std::string& part) {
    std::vector<Relationship> out;
    const std::string rels = relsPartOf(part);
    if (!has(rels)) return out;
    const BytesPtr bytes = read(rels);
    const auto doc = Outline::parse(*bytes, rels, keepRelationships, budget_);
    for (int c : doc.node(0).children) {
        const xml::Element& e = doc.node(c).element;
        if (e.local != "Relationship") continue;
        Relationship r;
        if (const auto* v = e.attribute("Id")) r.id = *v;
        if (const auto* v = e.attribute("Type")) r.type = *v;
        r.external = e.attribute("TargetMode") && *e.attribute("TargetMode") == "External";
        if (const auto* v = e.attribute("Target")) r.target = r.external ? *v : resolveTarget(part, *v);
        out.push_back(std::move(r));
    }
    return out;
}

ContentTypes Package::contentTypes() {
    const std::string typesPart(kContentTypes);
    ContentTypes types;
    types.bytes = read(typesPart);
    types.doc = Outline::parse(*types.bytes, typesPart, keepTypes, budget_);
    return types;
}

std::string Package::freePart(const std::string& stem, const std::string& ext) const {
    for (int i = 0; i < 1000; ++i) {
        std::string name = stem + (i ? std::to_string(i) : "") + ext;
        if (!has(name)) return name;
    }
    fail("nu se gaseste un nume liber pentru o parte noua");
}

PartLinks::PartLinks(Package& pkg, const std::string& workbookPart, bool strict)
    : workbookPart_(workbookPart), relsPart_(relsPartOf(workbookPart)),
      relBase_(strict ? "http://purl.oclc.org/ooxml/officeDocument/relationships/"
                      : "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"),
      rels_(pkg.read(relsPart_)),
      relsDoc_(Outline::parse(*rels_, relsPart_, keepRelationships, pkg.budget())),
      types_(pkg.contentTypes()), relsEditor_(*rels_), typesEditor_(*types_.bytes) {
    checkEditable(relsPart_, *rels_);
    checkEditable(std::string(kContentTypes), *types_.bytes);
}

void PartLinks::relate(const std::string& idStem, const std::string& kind, const std::string& part) {
    std::set<std::string> ids;
    for (int c : relsDoc_.node(0).children)
        if (const auto* id = relsDoc_.node(c).element.attribute("Id")) ids.insert(*id);
    int n = 1;
    while (ids.count(idStem + std::to_string(n)))
        ++n;
    const std::string dir = workbookPart_.substr(0, workbookPart_.rfind('/') + 1);
    const std::string target = part.starts_with(dir) ? part.substr(dir.size()) : "/" + part;
    const xml::Element& root = relsDoc_.root().element;
    relsEditor_.appendChild(root, relsDoc_.root().endTag,
                            "<" + root.qualified("Relationship") + " Id=\"" + idStem + std::to_string(n) +
                                "\" Type=\"" + relBase_ + kind + "\" Target=\"" +
                                xml::escapeAttribute(target) + "\"/>");
}

void PartLinks::declare(const std::string& part, const std::string& contentType) {
    const xml::Element& root = types_.doc.root().element;
    typesEditor_.appendChild(root, types_.doc.root().endTag,
                             "<" + root.qualified("Override") + " PartName=\"/" + xml::escapeAttribute(part) +
                                 "\" ContentType=\"" + contentType + "\"/>");
}

void PartLinks::unlink(const std::string& kind, const std::string& part) {
    for (int c : relsDoc_.node(0).children) {
        const auto& n = relsDoc_.node(c);
        const std::string* t = n.element.attribute("Type");
        const std::string* target = n.element.attribute("Target");
        if (t && isType(*t, kind) && target && resolveTarget(workbookPart_, *target) == part)
            relsEditor_.replace(n.element.begin, n.endTag.end, "");
    }
    for (int c : types_.doc.node(0).children) {
        const auto& n = types_.doc.node(c);
        const std::string* name = n.element.attribute("PartName");
        if (n.element.local == "Override" && name && text::foldCase(*name) == text::foldCase("/" + part))
            typesEditor_.replace(n.element.begin, n.endTag.end, "");
    }
}

void PartLinks::writeTo(std::vector<EditedPart>& parts) const {
    if (relsEditor_.changed()) parts.push_back({relsPart_, rels_, relsEditor_.edits()});
    if (typesEditor_.changed())
        parts.push_back({std::string(kContentTypes), types_.bytes, typesEditor_.edits()});
}

void replacePart(zip::ArchiveWriter& writer, EditedPart part) {
    auto shared = std::make_shared<EditedPart>(std::move(part));
    if (shared->whole) {
        writer.replace(shared->name,
                       [shared](const ByteSink& sink) { shared->edits.writeTo(*shared->bytes, sink); });
        return;
    }
    // Between its edits a part is the original's: a large sheet edited near its top keeps the rest of its
    // compressed bytes, a string table edited at both ends (its counts, its new strings) the middle.
    const std::span<const std::uint8_t> bytes(*shared->bytes);
    auto head = [shared, bytes](const ByteSink& sink, std::uint64_t upTo) {
        if (upTo >= bytes.size()) return shared->edits.writeTo(bytes, sink);
        shared->edits.writeTo(bytes, 0, std::size_t(upTo), sink);
    };
    const auto [gapBegin, gapEnd] = shared->edits.longestGap();
    if (gapEnd - gapBegin > bytes.size() - std::min(bytes.size(), shared->edits.end()))
        writer.replaceHeadAndTail(
            shared->name, head, gapBegin,
            [shared, bytes](const ByteSink& sink, std::uint64_t from) {
                shared->edits.writeTo(bytes, std::size_t(from), bytes.size(), sink);
            },
            gapEnd);
    else
        writer.replaceHead(shared->name, head, shared->edits.end());
}

void replaceStreamed(zip::ArchiveWriter& writer, const zip::Archive& archive, const std::string& part,
                     xml::Edits edits) {
    const zip::Entry* entry = archive.find(part);
    if (!entry) fail(partText(part) + " lipseste din pachet");
    auto shared = std::make_shared<const xml::Edits>(std::move(edits));
    // Up to the original's byte upTo, and from there on what follows is the original's own.
    auto head = [&archive, entry, shared](const ByteSink& sink, std::uint64_t upTo) {
        zip::EntryReader reader(archive, *entry);
        std::uint64_t left = upTo;
        shared->writeTo(
            [&](std::span<std::uint8_t> out) {
                const std::size_t n =
                    left ? reader.read(out.first(std::size_t(std::min<std::uint64_t>(out.size(), left)))) : 0;
                left -= n;
                return n;
            },
            sink);
    };
    writer.replaceHead(entry->name, head, shared->end());
}

} // namespace ordana::spreadsheet::xlsx
