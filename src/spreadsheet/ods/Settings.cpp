#include "Settings.h"

#include "Corrupt.h"
#include "Namespaces.h"
#include "PackageParts.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::ods {

namespace {

// A part of its own when the package has none: the view settings with the one item.
std::string newSettings(const std::string& value) {
    const std::string cfg(ns::config);
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

// What the part holds that the item is written into, read as it goes by: the config namespace's prefix
// (new elements take it, or declare one), the ActiveTable items, and the places a missing one goes.
struct SettingsOutline : xml::Handler {
    std::string uri{ns::config};
    std::string prefix = "config";
    bool declared = false;
    std::vector<Node> active;
    std::optional<Node> views, entry, viewSet, settings;
    Held& held;

    explicit SettingsOutline(Held& h) : held(h) {}
    std::string qn(const char* local) const {
        return prefix.empty() ? std::string(local) : prefix + ":" + local;
    }
    bool named(const xml::Element& e, std::string_view local, std::string_view name) const {
        const std::string* v = attr(e, uri, "name");
        return e.uri == uri && e.local == local && v && *v == name;
    }
    void start(const xml::Element& e) override {
        if (!declared && e.uri == uri) prefix = e.prefix, declared = true;
        Kept kept = None;
        const auto keep = [&](std::optional<Node>& slot, Kept which) {
            if (slot) return;
            held.add(xml::heldBy(e));
            slot.emplace(Node{e, {}});
            kept = which;
        };
        if (named(e, "config-item", "ActiveTable")) {
            held.add(xml::heldBy(e) + sizeof(Node));
            active.push_back({e, {}});
            kept = Active;
        } else if (named(e, "config-item-map-indexed", "Views")) {
            keep(views, Views);
        } else if (named(e, "config-item-set", "ooo:view-settings")) {
            keep(viewSet, ViewSet);
        } else if (e.local == "settings" && e.uri == "urn:oasis:names:tc:opendocument:xmlns:office:1.0") {
            keep(settings, Settings);
        } else if (e.local == "config-item-map-entry" && !open.empty() && open.back().first == Views) {
            keep(entry, Entry); // the first view's entry
        }
        open.emplace_back(kept, active.size() - 1);
    }
    void end(const xml::Element&, const xml::EndTag& t) override {
        switch (open.back().first) {
        case Active:
            active[open.back().second].endTag = t;
            break;
        case Views:
            views->endTag = t;
            break;
        case Entry:
            entry->endTag = t;
            break;
        case ViewSet:
            viewSet->endTag = t;
            break;
        case Settings:
            settings->endTag = t;
            break;
        case None:
            break;
        }
        open.pop_back();
    }

  private:
    enum Kept { None, Active, Views, Entry, ViewSet, Settings };
    std::vector<std::pair<Kept, std::size_t>> open; // what each open element is (an item: which)
};

// The item added where LibreOffice keeps it: the first view's entry, else new view settings.
void addActiveTable(xml::Edits& edits, const std::vector<std::uint8_t>& bytes, const SettingsOutline& c,
                    const std::string& value) {
    const std::string decl = c.declared ? "" : " xmlns:" + c.prefix + "=\"" + c.uri + "\"";
    const std::string item = "<" + c.qn("config-item") + decl + " " + c.qn("name") + "=\"ActiveTable\" " +
                             c.qn("type") + "=\"string\">" + value + "</" + c.qn("config-item") + ">";
    const std::string entryXml =
        "<" + c.qn("config-item-map-entry") + decl + ">" + item + "</" + c.qn("config-item-map-entry") + ">";
    const std::string viewsXml = "<" + c.qn("config-item-map-indexed") + decl + " " + c.qn("name") +
                                 "=\"Views\">" + entryXml + "</" + c.qn("config-item-map-indexed") + ">";
    if (c.entry)
        appendInside(edits, bytes, *c.entry, item);
    else if (c.views)
        appendInside(edits, bytes, *c.views, entryXml);
    else if (c.viewSet)
        appendInside(edits, bytes, *c.viewSet, viewsXml);
    else if (c.settings)
        appendInside(edits, bytes, *c.settings,
                     "<" + c.qn("config-item-set") + decl + " " + c.qn("name") + "=\"ooo:view-settings\">" +
                         viewsXml + "</" + c.qn("config-item-set") + ">");
    else
        corrupt("settings.xml", "nu are elementul office:settings");
}

} // namespace

SettingsEdit settingsWithActive(const zip::Archive& archive, const std::string& sheet, Held& held) {
    const std::string value = xml::escapeText(sheet);
    SettingsEdit out;
    const zip::Entry* entry = archive.find("settings.xml");
    if (!entry) {
        const std::string text = newSettings(value);
        out.added = true;
        out.original = std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end());
        return out;
    }
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(readPart(archive, *entry, held));
    if (!xml::isUtf8Part(*bytes)) corrupt("settings.xml", "nu este scrisa in UTF-8");
    SettingsOutline c(held);
    xml::scan(*bytes, "settings.xml", c);
    for (const Node& n : c.active) {
        if (isEmptyElement(n))
            appendInside(out.edits, *bytes, n, value);
        else
            out.edits.replace(n.element.startEnd, n.endTag.begin, value);
    }
    if (out.edits.empty()) addActiveTable(out.edits, *bytes, c, value);
    out.original = std::move(bytes);
    return out;
}

} // namespace ordana::spreadsheet::ods
