#pragma once

// The shared string table (SST and its CONTINUE records). Strings split across records restart, in each
// CONTINUE, with a flag byte saying whether the rest is 8-bit or 16-bit; rich-text runs and phonetic data
// follow the characters and may be split too. New strings are appended after the last one, so every existing
// string keeps its bytes and its place.

#include "Biff.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace ordana::spreadsheet::xls {

// Reads across a record and its CONTINUE records.
class ContinuedReader {
  public:
    explicit ContinuedReader(std::vector<std::span<const std::uint8_t>> segments)
        : owned_(std::move(segments)), segs_(owned_) {}
    // Over segments kept elsewhere, from an offset in one of them.
    ContinuedReader(const std::vector<std::span<const std::uint8_t>>& segments, std::size_t segment,
                    std::size_t offset)
        : segs_(segments), seg_(segment), pos_(offset) {}
    ContinuedReader(const ContinuedReader&) = delete;
    ContinuedReader& operator=(const ContinuedReader&) = delete;
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    void skip(std::size_t n);
    // Characters, with the flag byte at each record boundary.
    std::u16string chars(std::size_t count, bool wide);
    // XLUnicodeRichExtendedString (SST) when rich is true, XLUnicodeString otherwise.
    std::u16string string(bool rich);
    // The same, as UTF-8; a one-byte string within one record goes straight there.
    std::string utf8String(bool rich);
    // Past such a string without reading its characters; returns how many it has.
    std::uint16_t skipString(bool rich);
    // Moves past exhausted segments; false at the very end.
    bool settle();
    std::size_t segment() const { return seg_; }
    std::size_t offset() const { return pos_; }

  private:
    struct Header {
        std::uint16_t cch = 0;
        bool wide = false;
        std::size_t runs = 0, ext = 0; // formatting runs and extended data after the characters
    };
    // Reads the count and flags; nullopt for the empty text some writers leave without its flags byte.
    std::optional<Header> header(bool rich);
    void skipTail(const Header& h);
    // count characters from the current unit width on, each record boundary restarting with its flag byte;
    // with into, appended there.
    void walkChars(std::size_t count, bool wide, std::u16string* into);
    std::vector<std::span<const std::uint8_t>> owned_;
    const std::vector<std::span<const std::uint8_t>>& segs_;
    std::size_t seg_ = 0;
    std::size_t pos_ = 0;
};

class SharedStrings {
  public:
    // One location per string: which record of the chain (0 = SST) and the offset in its data.
    struct Location {
        std::uint32_t record;
        std::uint32_t offset;
    };

    // Over the records' bytes, which must stay where they are while this table is used: a string is read
    // when it is first asked for, since a listing or a sheet needs few of a large table's strings. Reading
    // one fills a cache, so a table is for one thread at a time, as its workbook is.
    void parse(const std::vector<std::span<const std::uint8_t>>& chain);

    std::size_t size() const { return originalCount_ + added_.size(); }
    const std::string& text(std::size_t i) const;

    // The index of this text, appended when absent.
    std::uint32_t intern(const std::string& utf8);
    void addReferences(int delta) { refDelta_ += delta; }
    bool modified() const { return !added_.empty() || refDelta_ != 0; }
    std::size_t originalCount() const { return originalCount_; }

    // Writes SST and CONTINUE records: the original ones byte for byte (counts updated), then the appended
    // strings. positions receives, for every string, its absolute stream position and its offset from the
    // start of the record (header included) that holds its first byte.
    struct Written {
        std::uint32_t streamPos;
        std::uint16_t recordOffset;
    };
    void write(Writer& w, const std::vector<std::span<const std::uint8_t>>& chain,
               std::vector<Written>& positions) const;

  private:
    std::uint32_t append(const std::string& utf8);
    std::vector<std::span<const std::uint8_t>> chain_;
    std::vector<Location> locations_;
    std::vector<std::uint16_t> lengths_; // characters of each original string
    // Strings read so far, in chunks that never move, made as they are first needed.
    static constexpr std::size_t kChunkBits = 12;
    mutable std::vector<std::unique_ptr<std::string[]>> chunks_;
    mutable std::vector<bool> read_;
    std::vector<std::string> added_;
    Location end_{0, 8}; // just past the last counted string
    std::unordered_map<std::string, std::uint32_t> lookup_;
    bool lookupBuilt_ = false;
    static constexpr int kScansBeforeLookup = 64;
    int scans_ = 0;
    std::size_t originalCount_ = 0;
    std::uint32_t totalRefs_ = 0;
    int refDelta_ = 0;
};

} // namespace ordana::spreadsheet::xls
