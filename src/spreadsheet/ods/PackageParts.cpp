#include "PackageParts.h"

#include "spreadsheet/zip/ZipArchive.h"

namespace ordana::spreadsheet::ods {

void scanPart(const zip::Archive& archive, const zip::Entry& entry, xml::Handler& handler) {
    zip::EntryReader reader(archive, entry);
    xml::Scanner scanner(entry.name, handler);
    std::vector<std::uint8_t> buf(xml::kParseSlice);
    for (;;) {
        const std::size_t n = reader.read(buf);
        if (!scanner.feed(std::span(buf).first(n), n == 0) || n == 0) break;
    }
}

std::vector<std::uint8_t> readPart(const zip::Archive& archive, const zip::Entry& entry, Held& held) {
    held.add(std::size_t(entry.uncompressedSize)); // the most inflating gives
    return archive.read(entry);
}

const std::string* attr(const xml::Element& e, std::string_view uri, std::string_view local) {
    return e.attribute(uri, local);
}

bool isEmptyElement(const Node& n) {
    return n.endTag.begin == n.endTag.end;
}

void appendInside(xml::Edits& edits, std::span<const std::uint8_t> bytes, const Node& n,
                  const std::string& text) {
    if (isEmptyElement(n)) {
        const std::string tag(bytes.begin() + std::ptrdiff_t(n.element.begin),
                              bytes.begin() + std::ptrdiff_t(n.element.startEnd));
        const std::size_t slash = tag.rfind('/');
        edits.replace(n.element.begin, n.element.startEnd,
                      tag.substr(0, slash) + ">" + text + "</" + n.element.qualified(n.element.local) + ">");
    } else {
        edits.insert(n.endTag.begin, text);
    }
}

} // namespace ordana::spreadsheet::ods
