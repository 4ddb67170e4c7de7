#pragma once

// A file the program writes whole that is not a workbook (the report). It goes to a temporary file of a
// random name beside its place, created afresh and never through a link, is flushed, and is renamed over the
// place; so an older file there is either kept whole or replaced whole. The place must be a regular file or
// nothing: a link, a folder, a device is refused. Failures: 1004 with the reason, 52 when the folder cannot
// be reached.

#include <cstdint>
#include <span>
#include <string>

namespace ordana::spreadsheet {

void writeDocument(const std::string& path, std::span<const std::uint8_t> bytes);

// What a path names now, not following a link: nothing, a regular file, a link, a folder, anything else.
enum class PathKind { Missing, Regular, Link, Folder, Other };
PathKind pathKind(const std::string& path);

} // namespace ordana::spreadsheet
