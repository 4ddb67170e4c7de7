#pragma once

// Byte buffers of many megabytes (a whole workbook, a rewritten stream). Touching fresh memory page by page
// is what costs most in copying a large file, so such buffers ask the kernel for huge pages where it offers
// them on request (transparent huge pages in "madvise" mode); elsewhere this is a plain reserve.

#include <cstdint>
#include <vector>

namespace ordana::spreadsheet {

// Advises huge pages for the n bytes at data, before anything is written there.
void adviseLarge(void* data, std::size_t n);

// Reserves capacity for n bytes and advises huge pages for it, before anything is written there.
void reserveLarge(std::vector<std::uint8_t>& buffer, std::size_t n);

// For a process that runs one job and ends: malloc keeps what is freed instead of giving it back, and the
// next n bytes of the heap are faulted in by huge pages. A page fault costs about as much for 4 KiB as for
// 2 MiB, and a job faults in tens of megabytes of heap for the workbook's parts and indexes. Call it once,
// first thing.
void prepareHeapForAJob(std::size_t n);

} // namespace ordana::spreadsheet
