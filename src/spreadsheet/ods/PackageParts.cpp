#include "PackageParts.h"

namespace ordana::spreadsheet::ods {

xml::Document parsePart(const std::vector<std::uint8_t>& bytes, const std::string& part) {
    return xml::Document::parse(bytes, part);
}

const std::string* attr(const Node& n, std::string_view uri, std::string_view local) {
    return n.element.attribute(uri, local);
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
