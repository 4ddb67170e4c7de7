#pragma once

// The parts of an .ods package other than content.xml (the manifest, styles.xml, settings.xml): read as
// they are inflated, each reader keeping only the few elements it needs (a part may hold millions), and
// edited by byte spans that keep the rest of each part as it was.

#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/xml/XmlPart.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::zip {
class Archive;
struct Entry;
} // namespace ordana::spreadsheet::zip

namespace ordana::spreadsheet::ods {

// An element kept with where it ends.
struct Node {
    xml::Element element;
    xml::EndTag endTag;
};

// The part's events, as it is inflated piece by piece; nothing of it is held.
void scanPart(const zip::Archive& archive, const zip::Entry& entry, xml::Handler& handler);
// The part's bytes, taken from the budget into held before they are inflated.
std::vector<std::uint8_t> readPart(const zip::Archive& archive, const zip::Entry& entry, Held& held);

const std::string* attr(const xml::Element& e, std::string_view uri, std::string_view local);
// Written <x/>.
bool isEmptyElement(const Node& n);
// Text inserted as the last content of an element, opening it when it was written <x/>.
void appendInside(xml::Edits& edits, std::span<const std::uint8_t> bytes, const Node& n,
                  const std::string& text);

} // namespace ordana::spreadsheet::ods
