#pragma once

// A zip package read as views of the file's bytes and written back entry by entry: untouched entries go out
// as their original bytes (local header, data, data descriptor) with only the offset in their central record
// changed, so a save changes nothing but the parts it edits. Every failure is RuntimeError 1004 whose
// description names the entry at fault (callers add the file's name).

#include "spreadsheet/file/FileAccess.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ordana::spreadsheet::zip {

// What a package may hold before it is taken for a zip bomb or a broken file.
struct Limits {
    std::uint64_t maxEntries = 100000;
    std::uint64_t maxEntryBytes = kMaxWorkbookBytes;     // one inflated entry
    std::uint64_t maxTotalBytes = 4 * kMaxWorkbookBytes; // all entries inflated
    // Deflate cannot shrink data by more than about 1032:1; a larger claim is a bomb or a lie.
    std::uint64_t maxRatio = 1100;
};

struct Entry {
    std::string name; // UTF-8
    std::uint16_t flags = 0;
    std::uint16_t method = 0; // 0 stored, 8 deflated
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localOffset = 0;
    std::span<const std::uint8_t> record;  // local header, data and data descriptor, as in the file
    std::span<const std::uint8_t> data;    // the compressed data alone
    std::span<const std::uint8_t> central; // the central directory record
    std::size_t offsetField = 0; // where the offset sits in central: 42, or inside the zip64 extra field
    bool offsetIs64 = false;
};

class Archive {
  public:
    // Checks the whole index: central directory against every local header, zip64, duplicates, overlaps,
    // encryption, split archives, and the limits.
    static Archive parse(std::shared_ptr<const FileBytes> file, const Limits& limits = {});
    // A zip's first bytes: a local header, or the end record of an empty archive.
    static bool hasSignature(std::span<const std::uint8_t> bytes);

    const std::vector<Entry>& entries() const { return entries_; }
    // By name, compared as zip names are (case-insensitive); nullptr when absent.
    const Entry* find(std::string_view name) const;

    // The whole inflated content, its size and CRC checked.
    std::vector<std::uint8_t> read(const Entry& entry) const;
    const Limits& limits() const { return limits_; }
    std::span<const std::uint8_t> comment() const { return comment_; }
    bool usesZip64() const { return zip64_; }
    // The file's bytes: entries' spans point into them, and are read (when the file is read on demand) only
    // through file()->view.
    const std::shared_ptr<const FileBytes>& file() const { return file_; }

  private:
    std::shared_ptr<const FileBytes> file_;
    std::vector<Entry> entries_;
    std::vector<std::pair<std::string, std::size_t>> byFoldedName_; // sorted
    std::span<const std::uint8_t> comment_;
    Limits limits_;
    bool zip64_ = false;
};

// Inflates one entry piece by piece, for readers that stop early. Never produces more than the declared
// size; the CRC is checked when the end is reached.
class EntryReader {
  public:
    EntryReader(const Archive& archive, const Entry& entry);
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;
    // Fills out with up to out.size() bytes; 0 at the end of the entry.
    std::size_t read(std::span<std::uint8_t> out);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A new content for an entry, handed over piece by piece to the sink when the archive is written.
using Producer = std::function<void(const ByteSink&)>;
// The new content for the original's first upTo bytes (all of them for kWholeEntry); the original's bytes
// from upTo on are to follow unchanged.
using HeadProducer = std::function<void(const ByteSink&, std::uint64_t upTo)>;
inline constexpr std::uint64_t kWholeEntry = ~std::uint64_t(0);
// The new content for the original's bytes from `from` to its end.
using TailProducer = std::function<void(const ByteSink&, std::uint64_t from)>;

// The package as it will be written: the original entries in their order, less the dropped ones, with the
// replaced ones deflated afresh, then the added ones.
class ArchiveWriter {
  public:
    // A package is written from all of the original's bytes, so they are read here if they are not yet.
    explicit ArchiveWriter(Archive archive) : archive_(std::move(archive)) { (void)archive_.file()->data(); }

    // Replaces the entry of that name, keeping its place; adds it at the end when absent.
    void replace(const std::string& name, Producer content);
    void replace(const std::string& name, std::vector<std::uint8_t> content);
    // Replaces the entry with what head writes for the original's bytes up to keptFrom (past which nothing
    // changed), then the original's own bytes. Where the original's deflate stream has a block boundary a
    // window (32 KiB) or more past keptFrom, its compressed bits from there are copied rather than inflated
    // and deflated again: a large part edited near its start costs no more than its start. Otherwise, or for
    // an entry not in the archive, head writes it whole.
    void replaceHead(const std::string& name, HeadProducer head, std::uint64_t keptFrom);
    // The same for an entry edited at both ends: the original's bytes are kept from keptFrom to keptTo,
    // tail writes what follows. Its compressed bits are copied between a boundary past keptFrom (as above)
    // and the last one before keptTo, and tail's deflated after them. head(sink, kWholeEntry) still writes
    // the whole entry, the edits at both ends included.
    void replaceHeadAndTail(const std::string& name, HeadProducer head, std::uint64_t keptFrom,
                            TailProducer tail, std::uint64_t keptTo);
    // Adds a new entry after the existing ones (deflated, or stored when deflate is false).
    void add(const std::string& name, Producer content, bool deflate = true);
    void remove(std::string_view name);
    // That entry is written first, stored, with no extra field (a package's leading "mimetype"); one
    // deflated to more than a media type holds goes first as its original compressed bytes.
    void putFirstStored(const std::string& name);

    void writeTo(const ByteSink& sink) const;

  private:
    struct Change {
        std::string name;
        enum Kind { Replace, Add, Remove } kind;
        Producer content;
        bool deflate = true;
        HeadProducer head; // when set, content is head's whole entry, and the original is kept from keptFrom
        std::uint64_t keptFrom;
        TailProducer tail; // when set, the original is kept up to keptTo only
        std::uint64_t keptTo = kWholeEntry;
    };
    const Change* changeFor(std::string_view name) const;
    void put(Change change);

    // writeTo, phase by phase.
    struct Out;
    bool addLeading(std::vector<Out>& outs) const;
    void addOthers(std::vector<Out>& outs, const std::string& firstKey) const;
    static std::uint64_t writeLocalRecords(std::vector<Out>& outs, const ByteSink& sink);
    std::vector<const Out*> centralOrder(const std::vector<Out>& outs, bool leadingFirst) const;
    static void appendCentralRecord(std::vector<std::uint8_t>& cd, const Out& o);
    std::uint64_t writeCentralDirectory(const std::vector<Out>& outs, bool leadingFirst,
                                        std::uint64_t cdOffset, const ByteSink& sink) const;
    void writeEndRecords(std::uint64_t count, std::uint64_t cdOffset, std::uint64_t offset,
                         const ByteSink& sink) const;

    Archive archive_;                            // a copy: entries are views of the shared file bytes
    std::vector<std::optional<Change>> changes_; // in the order given; those undone by a later one emptied
    std::unordered_map<std::string, std::size_t> byName_; // a name, folded, to its change
    std::optional<std::string> first_;
};

} // namespace ordana::spreadsheet::zip
