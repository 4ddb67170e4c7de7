#pragma once

// Reading a workbook file once and writing it back in place without ever leaving it half-written, without
// overwriting what another program saved meanwhile, and without following a link that changed since the open.
// Failures: 1004 (missing, unreadable, read-only, in use by another program or another Ordana run, changed
// since it was read, any write failure), 52 (the file's folder cannot be reached).
//
// One interface, one implementation per platform beside it (Posix*.cpp, Windows*.cpp); both stand on the
// primitives of NativeFile.h, and share reading on demand (FileBytes.cpp) and the names (Names.cpp).

#include "NativeFile.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet {

// Larger files are refused before reading: an .xls tops out far below this, and the engine holds a copy or
// two.
inline constexpr std::uint64_t kMaxWorkbookBytes = 512ull * 1024 * 1024;

// A save writes ".~ordana-KEY.XXXXXX.saving~" beside the real file and renames it over. KEY is the file's
// name, or for names too long to take the marker, a cut of it and a hash of the whole name. A save killed
// half-way leaves at most that one temporary file; a later save of the same workbook removes such leftovers
// when they are regular files of the same owner, older than kStaleTempSeconds, whose writer is gone (each
// writer holds an flock on its own temporary file while it lives), and whose six characters are the
// signature of that very file (see file/Names.h): a user's file that only looks like one is never removed.
inline constexpr const char* kTempPrefix = ".~ordana-";
inline constexpr const char* kTempSuffix = ".saving~";
inline constexpr int kStaleTempSeconds = 60;

// The temporary name's stem for a workbook named name: kTempPrefix + KEY + "."; what follows is six random
// characters and kTempSuffix. The whole temporary name always fits in 255 bytes.
std::string temporaryStem(const std::string& name);

// How long opening a workbook for writing, or saving it, waits while another Ordana run holds it.
inline constexpr int kWriterWaitMilliseconds = 10000;

// Fails before anything is written when the file could not be replaced: read-only file or folder, a lock
// file of another program beside it (".~lock.NAME#", "~$NAME"), a lock held on the file, a file of another
// user, the folder gone. Read-only means what a user expects from the permission bits, also for root, whom
// the kernel would let write.
void checkCanSave(const std::string& path);

using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

// A workbook file's bytes in one block of memory, as the engines parse them: read whole when opened, or, for
// a command that only reads, as far as the engines look. Then a range is read from the file the first time a
// view of it is asked for, so listing the sheets of a large package reads its directory and the first rows
// of each sheet rather than the whole file.
class FileBytes {
  public:
    // Bytes already in memory (tests, fuzzers), held whole.
    explicit FileBytes(std::vector<std::uint8_t> bytes);
    // The first size bytes of the open file, read now (fewer if it ends sooner); 1004 naming path when they
    // cannot be read.
    static std::shared_ptr<FileBytes> readWhole(const NativeFile& file, std::uint64_t size,
                                                const std::string& path);
    // The version.size bytes read as they are asked for, through a handle of its own. Each read checks that
    // the file still has that size and time of change, and fails (1004) when another program changed it.
    static std::shared_ptr<FileBytes> readOnDemand(const NativeFile& file, const NativeFile::Stamp& version,
                                                   const std::string& path);
    // Bytes in memory handed out as a file read on demand would be, in blocks of that size (fuzzers, tests):
    // what no view asked for holds junk, and under AddressSanitizer may not be touched at all.
    static std::shared_ptr<FileBytes> onDemandFrom(std::vector<std::uint8_t> bytes, std::size_t block);
    ~FileBytes();
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    std::size_t size() const { return size_; }
    // The whole file, read first where it is not yet.
    const std::uint8_t* data() const;
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size_; }
    // The bytes [offset, offset + length), cut at the end of the file, read first where they are not yet.
    std::span<const std::uint8_t> view(std::uint64_t offset, std::uint64_t length) const;
    // The same for a span into these bytes made before they were read (an entry's data, say).
    std::span<const std::uint8_t> view(std::span<const std::uint8_t> inside) const;
    // Where the block starts, for making such spans.
    const std::uint8_t* base() const { return bytes_; }
    // Bytes read from the file and kept so far; all of them for bytes held whole or read whole.
    std::uint64_t bytesRead() const;
    // The bytes from offset on, for a walk that looks at each of them once: in place (all the rest) when the
    // file is read already, otherwise at least atLeast and at most upTo of them read into buffer and not
    // kept, so that walking a large file read on demand holds no more than buffer. Cut at the end of the
    // file; valid until buffer changes.
    std::span<const std::uint8_t> passing(std::uint64_t offset, std::size_t atLeast, std::size_t upTo,
                                          std::vector<std::uint8_t>& buffer) const;

  private:
    FileBytes() = default;
    // A block of size bytes, none of them read yet, to be read in blocks of block bytes (the caller poisons
    // it).
    void unread(std::size_t size, std::size_t block);
    void fill(std::uint64_t from, std::uint64_t to) const;
    // Fails (1004) when the file is no longer the version opened.
    void checkVersion() const;

    const std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
    std::vector<std::uint8_t> held_;         // bytes given whole, or the "file" of onDemandFrom
    std::unique_ptr<std::uint8_t[]> buffer_; // bytes read from the file, not zeroed first
    // Reading on demand: a handle of its own, the version to hold to, and which blocks are in.
    NativeFile file_;
    NativeFile::Stamp version_;
    std::size_t block_ = 1;
    mutable std::mutex mutex_;
    mutable std::vector<bool> have_;
    mutable std::uint64_t read_ = 0;
    mutable std::atomic<bool> complete_{true};
};

// One version of a workbook file as an open read it: its bytes, read once, and what identifies that version
// on disk. Every engine parses views of these bytes and saves through saveInPlace(source, ...), so all three
// formats share one way of reading and one safe save.
class SourceFile {
  public:
    // What identifies the version read: the file, its size and time of change; and the bytes themselves,
    // which a save compares with what the file holds then.
    struct Version {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t size = 0;
        std::int64_t mtimeSeconds = 0;
        std::int64_t mtimeNanoseconds = 0;
        bool operator==(const Version&) const = default;
    };
    // The file's time of status change when it was read, if that time alone shows whether the bytes are
    // still the ones read: no program can set it, and every write moves it on (see the read).
    struct ChangeTime {
        bool proves = false;
        std::int64_t seconds = 0;
        std::int64_t nanoseconds = 0;
    };

    // Resolves links once, then reads the real file (1004 missing, unreadable, not a regular file, too large,
    // reached through a descriptor under /proc or /dev/fd, deleted; 52 the folder is unreachable).
    static std::shared_ptr<const SourceFile> read(const std::string& path);
    // The same read as the engines ask for the bytes (see FileBytes), for a command that only reads: a read
    // after another program changed the file fails. saveInPlace refuses such a source: what it did not read
    // at the open, it cannot hold to the version it opened.
    static std::shared_ptr<const SourceFile> readOnDemand(const std::string& path);
    // The same for a command that will save: first waits (up to kWriterWaitMilliseconds) for the exclusive
    // lock that Ordana runs take on a workbook they write, and holds it while this object lives, so that a
    // second run reads the first run's result. A file that cannot be opened for writing is read without the
    // lock; its save is refused anyway. A file whose time of status change will tell any later write
    // (ChangeTime) is read as the engines ask for its bytes; its save copies what was never read from the
    // file, and is refused if that time moved, since those parts cannot be compared.
    static std::shared_ptr<const SourceFile> readForWriting(const std::string& path,
                                                            int waitMilliseconds = kWriterWaitMilliseconds);
    // Bytes from elsewhere (tests, fuzzers), named path in messages; they have no version on disk, and
    // saving them is refused.
    static std::shared_ptr<const SourceFile> fromBytes(std::vector<std::uint8_t> bytes, std::string path);
    // The same over bytes handed out as a file read on demand would be (FileBytes::onDemandFrom).
    static std::shared_ptr<const SourceFile> fromBytes(std::shared_ptr<const FileBytes> bytes,
                                                       std::string path);

    ~SourceFile() = default;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const std::string& path() const { return path_; }
    // All the bytes, read first where they are not yet.
    std::span<const std::uint8_t> bytes() const { return {data_->data(), data_->size()}; }
    // Shared ownership of the bytes, for layers whose views outlive this object or read only some of them.
    const std::shared_ptr<const FileBytes>& data() const { return data_; }

    bool onDisk() const { return file_.valid(); }
    const Version& version() const { return version_; }
    const ChangeTime& changeTime() const { return changeTime_; }
    // The real file behind the links, as resolved at the open.
    const std::string& folder() const { return folder_; }
    const std::string& name() const { return name_; }
    bool holdsWriterLock() const { return locked_; }

  private:
    SourceFile() = default;
    enum class Mode { Read, ReadOnDemand, ReadForWriting };
    static std::shared_ptr<const SourceFile> open(const std::string& path, Mode mode, int waitMilliseconds);
    friend void saveInPlace(const SourceFile&, const std::function<void(const ByteSink&)>&);

    std::string path_;
    std::shared_ptr<const FileBytes> data_;
    std::string folder_, name_;
    NativeFile folderHandle_; // where the platform opens the folder (POSIX)
    NativeFile file_;         // the file read from; open for writing and locked when locked_
    bool locked_ = false;
    bool onDemand_ = false;
    Version version_;
    ChangeTime changeTime_;
};

// Saves the content that produce hands to the sink over the file source was read from: a temporary file in
// the real file's folder, flushed, carrying the original's permissions, owner, group and extended attributes
// (ACLs included), renamed over the name only if that name still holds the very version that was read, and
// no other program holds the file or its lock file at that moment. On any failure the original is untouched.
// Pieces that are views of source.bytes() may be copied from the original file rather than written. An
// exception thrown by produce aborts the save like a write failure.
void saveInPlace(const SourceFile& source, const std::function<void(const ByteSink&)>& produce);

} // namespace ordana::spreadsheet
