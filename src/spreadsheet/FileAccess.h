#pragma once

// Reading a workbook file whole and writing it back in place without ever leaving it half-written.
// Failures: 1004 (missing, unreadable, read-only, in use by another program, any write failure),
// 52 (the file's folder cannot be reached).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet {

std::vector<std::uint8_t> readWorkbookFile(const std::string& path);

// Fails before anything is written when the file could not be replaced: read-only file or folder, a lock
// file of another program beside it (".~lock.NAME#", "~$NAME"), the folder gone.
void checkCanSave(const std::string& path);

// A temporary file in the same folder, flushed, renamed over the original (the target of a symbolic link),
// keeping the original's permissions. On any failure the original is untouched.
void saveInPlace(const std::string& path, std::span<const std::uint8_t> bytes);

} // namespace ordana::spreadsheet
