#pragma once

// Reading a workbook file whole and writing it back in place without ever leaving it half-written.
// Failures: 1004 (missing, unreadable, read-only, in use by another program, any write failure),
// 52 (the file's folder cannot be reached).

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet {

// Larger files are refused before reading: an .xls tops out far below this, and the engine holds a copy or
// two.
inline constexpr std::uint64_t kMaxWorkbookBytes = 512ull * 1024 * 1024;

// A save writes ".~ordana.NAME.XXXXXX" beside the real file and renames it over. A save killed half-way
// leaves at most that one temporary file; the next save of the same workbook removes every such leftover
// whose writer is gone (each writer holds an flock on its own temporary file while it lives).
inline constexpr const char* kTempPrefix = ".~ordana.";

std::vector<std::uint8_t> readWorkbookFile(const std::string& path);

// Fails before anything is written when the file could not be replaced: read-only file or folder, a lock
// file of another program beside it (".~lock.NAME#", "~$NAME"), a lock held on the file, the folder gone.
// Read-only means what a user expects from the permission bits, also for root, whom the kernel would let
// write.
void checkCanSave(const std::string& path);

// A temporary file in the same folder, flushed, renamed over the original (the target of a symbolic link),
// keeping the original's permissions and, where allowed, its owner. On any failure the original is untouched.
// Runs checkCanSave first.
void saveInPlace(const std::string& path, std::span<const std::uint8_t> bytes);

// The same, for content produced piece by piece (CompoundFile::writeTo), so no whole copy of the file is
// built in memory. An exception thrown by produce aborts the save like a write failure, with the original
// untouched.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;
void saveInPlace(const std::string& path, const std::function<void(const ByteSink&)>& produce);

} // namespace ordana::spreadsheet
