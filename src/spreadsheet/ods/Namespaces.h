#pragma once

// The OpenDocument namespaces the .ods engine reads and writes: the same URIs under whatever prefixes a
// producer chose.

#include <string_view>

namespace ordana::spreadsheet::ods::ns {

inline constexpr std::string_view office = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
inline constexpr std::string_view table = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
inline constexpr std::string_view text = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
inline constexpr std::string_view style = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
inline constexpr std::string_view fo = "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0";
inline constexpr std::string_view number = "urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0";
inline constexpr std::string_view calcext =
    "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0";
inline constexpr std::string_view config = "urn:oasis:names:tc:opendocument:xmlns:config:1.0";
inline constexpr std::string_view manifest = "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";

} // namespace ordana::spreadsheet::ods::ns
