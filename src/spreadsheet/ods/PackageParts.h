#pragma once

// The parts of an .ods package other than content.xml (the manifest, styles.xml, settings.xml): small, so
// read whole into an xml::Document, and edited by byte spans that keep the rest of each part as it was.

#include "spreadsheet/xml/XmlPart.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::ods {

using Node = xml::Document::Node;

xml::Document parsePart(const std::vector<std::uint8_t>& bytes, const std::string& part);
const std::string* attr(const Node& n, std::string_view uri, std::string_view local);
// Written <x/>.
bool isEmptyElement(const Node& n);
// Text inserted as the last content of an element, opening it when it was written <x/>.
void appendInside(xml::Edits& edits, std::span<const std::uint8_t> bytes, const Node& n,
                  const std::string& text);

} // namespace ordana::spreadsheet::ods
