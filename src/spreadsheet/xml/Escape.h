#pragma once

// Text written into XML parts by hand, and start tags edited in place, for the engines that keep a part's own
// bytes around their edits.

#include <optional>
#include <string>
#include <string_view>

namespace ordana::spreadsheet::xml {

// Text or an attribute's value escaped, less the control characters XML 1.0 cannot hold.
std::string escapeXml(std::string_view s, bool attribute);
// A start tag with one attribute set (value escaped here) or removed (value nullopt).
std::string setAttribute(std::string_view tag, std::string_view qname,
                         const std::optional<std::string>& value);

} // namespace ordana::spreadsheet::xml
