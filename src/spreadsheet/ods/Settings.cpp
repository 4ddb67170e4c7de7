#include "Settings.h"

#include "Corrupt.h"
#include "Namespaces.h"
#include "PackageParts.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <string_view>

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

// The config namespace as the part writes it: new elements take its prefix, or declare one.
struct ConfigNames {
    std::string uri{ns::config};
    std::string prefix = "config";
    bool declared = false;

    explicit ConfigNames(const xml::Document& d) {
        for (const Node& n : d.nodes())
            if (n.element.uri == uri) {
                prefix = n.element.prefix;
                declared = true;
                break;
            }
    }
    std::string qn(const char* local) const {
        return prefix.empty() ? std::string(local) : prefix + ":" + local;
    }
    bool named(const Node& n, std::string_view local, std::string_view name) const {
        const std::string* v = attr(n, uri, "name");
        return n.element.uri == uri && n.element.local == local && v && *v == name;
    }
};

// The item added where LibreOffice keeps it: the first view's entry, else new view settings.
void addActiveTable(xml::Edits& edits, const std::vector<std::uint8_t>& bytes, const xml::Document& d,
                    const ConfigNames& c, const std::string& value) {
    // Added where LibreOffice keeps it: the first view's entry, else new view settings.
    const std::string decl = c.declared ? "" : " xmlns:" + c.prefix + "=\"" + c.uri + "\"";
    const std::string item = "<" + c.qn("config-item") + decl + " " + c.qn("name") + "=\"ActiveTable\" " +
                             c.qn("type") + "=\"string\">" + value + "</" + c.qn("config-item") + ">";
    int views = -1, viewSet = -1, settings = -1;
    for (std::size_t i = 0; i < d.nodes().size(); ++i) {
        const Node& n = d.nodes()[i];
        if (views < 0 && c.named(n, "config-item-map-indexed", "Views")) views = int(i);
        if (viewSet < 0 && c.named(n, "config-item-set", "ooo:view-settings")) viewSet = int(i);
        if (settings < 0 && n.element.local == "settings" &&
            n.element.uri == "urn:oasis:names:tc:opendocument:xmlns:office:1.0")
            settings = int(i);
    }
    const int entryNode = views >= 0 ? d.child(views, "config-item-map-entry") : -1;
    const std::string entryXml =
        "<" + c.qn("config-item-map-entry") + decl + ">" + item + "</" + c.qn("config-item-map-entry") + ">";
    const std::string viewsXml = "<" + c.qn("config-item-map-indexed") + decl + " " + c.qn("name") +
                                 "=\"Views\">" + entryXml + "</" + c.qn("config-item-map-indexed") + ">";
    if (entryNode >= 0)
        appendInside(edits, bytes, d.node(entryNode), item);
    else if (views >= 0)
        appendInside(edits, bytes, d.node(views), entryXml);
    else if (viewSet >= 0)
        appendInside(edits, bytes, d.node(viewSet), viewsXml);
    else if (settings >= 0)
        appendInside(edits, bytes, d.node(settings),
                     "<" + c.qn("config-item-set") + decl + " " + c.qn("name") + "=\"ooo:view-settings\">" +
                         viewsXml + "</" + c.qn("config-item-set") + ">");
    else
        corrupt("settings.xml", "nu are elementul office:settings");
}

} // namespace

std::optional<std::string> settingsWithActive(const zip::Archive& archive, const std::string& sheet,
                                              bool& added) {
    const std::string value = xml::escapeText(sheet);
    const zip::Entry* entry = archive.find("settings.xml");
    if (!entry) {
        added = true;
        return newSettings(value);
    }
    const auto bytes = archive.read(*entry);
    const xml::Document d = parsePart(bytes, "settings.xml");
    if (!d.isUtf8()) corrupt("settings.xml", "nu este scrisa in UTF-8");
    const ConfigNames c(d);
    xml::Edits edits;
    for (const Node& n : d.nodes())
        if (c.named(n, "config-item", "ActiveTable")) {
            if (isEmptyElement(n))
                appendInside(edits, bytes, n, value);
            else
                edits.replace(n.element.startEnd, n.endTag.begin, value);
        }
    if (edits.empty()) addActiveTable(edits, bytes, d, c, value);
    const auto out = edits.apply(bytes);
    return std::string(out.begin(), out.end());
}

} // namespace ordana::spreadsheet::ods
