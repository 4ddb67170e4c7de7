#pragma once

// Reading a workbook file whole and writing it back in place without ever leaving it half-written.
// Failures: 1004 (missing, unreadable, read-only, in use by another program, any write failure),
// 52 (the file's folder cannot be reached).

#include <cstdint>
#include <functional>
#include <memory>
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

// One version of a workbook file as an open read it: its bytes, read once, and what identifies that version
// on disk. Every engine parses views of these bytes and saves through saveInPlace(source, ...), so all three
// formats share one way of reading and one safe save.
class SourceFile {
  public:
    // Reads the file (1004 missing, unreadable, not a regular file, too large; 52 the folder is unreachable).
    static std::shared_ptr<const SourceFile> read(const std::string& path);
    // Bytes from elsewhere (tests, fuzzers), named path in messages; they have no version on disk to check.
    static std::shared_ptr<const SourceFile> fromBytes(std::vector<std::uint8_t> bytes, std::string path);

    const std::string& path() const { return path_; }
    std::span<const std::uint8_t> bytes() const { return {data_->data(), data_->size()}; }
    // Shared ownership of the bytes, for layers whose views outlive this object.
    const std::shared_ptr<const std::vector<std::uint8_t>>& data() const { return data_; }

  private:
    SourceFile(std::string path, std::shared_ptr<const std::vector<std::uint8_t>> data)
        : path_(std::move(path)), data_(std::move(data)) {}
    std::string path_;
    std::shared_ptr<const std::vector<std::uint8_t>> data_;
};

// Saves the content that produce hands to the sink over the file source was read from, as saveInPlace(path)
// does. Pieces that are views of source.bytes() may be copied from the original file rather than written.
void saveInPlace(const SourceFile& source, const std::function<void(const ByteSink&)>& produce);

} // namespace ordana::spreadsheet
