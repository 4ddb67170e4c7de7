#pragma once

// Byte buffers of many megabytes (a whole workbook, a rewritten stream). Touching fresh memory page by page
// is what costs most in copying a large file, so such buffers ask the kernel for huge pages where it offers
// them on request (transparent huge pages in "madvise" mode); elsewhere this is a plain reserve.

#include <cstdint>
#include <vector>

namespace ordana::spreadsheet {

// Reserves capacity for n bytes and advises huge pages for it, before anything is written there.
void reserveLarge(std::vector<std::uint8_t>& buffer, std::size_t n);

} // namespace ordana::spreadsheet
