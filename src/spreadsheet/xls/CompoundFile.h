#pragma once

// The OLE2 compound file that holds an Excel 97-2003 workbook. Anything malformed is RuntimeError 1004 with a
// precise description; every walk and allocation is bounded by what the file can really hold.

#include "spreadsheet/file/FileAccess.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordana::spreadsheet::cfb {

class CompoundFile {
  public:
    enum class EntryType : std::uint8_t { Storage = 1, Stream = 2, Root = 5 };

    // One reachable directory entry, as seen by callers that list the container.
    struct EntryInfo {
        std::string path; // names joined by '/', UTF-8 ("_VBA_PROJECT_CUR/VBA/dir"); empty for the root
        EntryType type;
        std::uint64_t size; // stream bytes (0 for storages)
    };

    // The 8-byte OLE2 signature at the start.
    static bool hasSignature(std::span<const std::uint8_t> bytes);
    static CompoundFile parse(std::vector<std::uint8_t> bytes);
    // The same over bytes shared with the caller (the file as read once), which streams then view in place.
    static CompoundFile parse(std::shared_ptr<const FileBytes> file);
    // A new container holding these top-level streams (names of at most 31 characters), version 3 or 4.
    static CompoundFile create(std::vector<std::pair<std::string, std::vector<std::uint8_t>>> streams,
                               int majorVersion = 3);

    // Top-level streams, by name (compared case-insensitively, as the format does).
    bool hasStream(std::string_view name) const;
    std::vector<std::uint8_t> stream(std::string_view name) const;
    // The same bytes without a copy; valid until the next setStream or the object's end.
    std::span<const std::uint8_t> streamView(std::string_view name) const;
    // Where a stream lies in the file, when its sectors make one run there, before any of it is read (empty
    // otherwise); valid while the file's bytes are, and read through them (FileBytes::view).
    std::span<const std::uint8_t> streamInFile(std::string_view name) const;
    // Replaces the contents of an existing top-level stream.
    void setStream(std::string_view name, std::vector<std::uint8_t> data);
    // The same for contents given as pieces in order (views of the file as read, and the few rewritten
    // parts, which keep owns), so a save writes them without joining them into one copy first.
    struct Pieces {
        std::vector<std::span<const std::uint8_t>> spans;
        std::shared_ptr<const void> keep;
        std::uint64_t size() const;
        std::vector<std::uint8_t> joined() const;
    };
    void setStream(std::string_view name, Pieces pieces);

    // Every storage and stream reachable from the root, in directory order; streams at any depth by path.
    std::vector<EntryInfo> entries() const;
    std::span<const std::uint8_t> streamAtPath(std::string_view path) const;

    int majorVersion() const { return major_; }
    std::uint32_t sectorSize() const { return sectorSize_; }

    // The whole file again: every other stream and storage, and every directory entry's name, CLSID, state
    // bits and timestamps, carried over unchanged.
    std::vector<std::uint8_t> serialize() const;
    // The same bytes handed to sink piece by piece, in file order, without building the whole file in memory.
    void writeTo(const std::function<void(std::span<const std::uint8_t>)>& sink) const;

  private:
    struct Entry {
        std::array<std::uint8_t, 128> raw{}; // as read; start sector and size are rewritten on serialize
        bool reachable = false;
        std::int32_t parent = -1;
        std::size_t depth = 0; // 1 for the root's children
        std::u16string name;
        std::u16string path; // from the root, '/' between names
        std::uint8_t type = 0;
        // A stream's bytes: its own copy, or, when its sectors lie in one run, a place in the file it came
        // from.
        // Joined from pieces when a caller asks for the whole stream, hence mutable.
        mutable std::vector<std::uint8_t> data;
        mutable std::shared_ptr<const Pieces> pieces; // set by setStream(name, Pieces)
        bool inFile = false;
        std::size_t fileOffset = 0;
        std::size_t fileSize = 0;
    };

    using Sink = std::function<void(std::span<const std::uint8_t>)>;
    class Reader;
    struct MiniStream;
    struct Layout;

    CompoundFile() = default;

    // parse, phase by phase (CompoundFile.cpp).
    void readHeader();
    std::vector<std::uint32_t> readFat(Reader& rd) const;
    void readDirectory(Reader& rd);
    void linkTree();
    std::uint64_t declaredSize(const Entry& e) const;
    void checkDeclaredSize(std::uint64_t size, const std::string& what) const;
    MiniStream readMiniStream(Reader& rd) const;
    static void readMiniChain(Entry& e, std::uint64_t size, MiniStream& mini, const std::string& what);
    void readStreams(Reader& rd);

    // writeTo, phase by phase (CompoundFileWriter.cpp).
    static bool isStream(const Entry& e);
    void packMiniStream(Layout& l) const;
    void allocateSectors(Layout& l) const;
    void writeTables(const Layout& l, const Sink& sink) const;
    void writeDirectory(Layout& l, const Sink& sink) const;
    void writeLargeStreams(const Sink& sink) const;

    int findTopLevel(std::string_view name) const;
    int findPath(std::string_view path) const;

    // A pieced stream is joined on first use here; sizeOf and writeTo never join it.
    std::span<const std::uint8_t> bytesOf(const Entry& e) const;
    std::uint64_t sizeOf(const Entry& e) const;

    std::shared_ptr<const FileBytes> file_; // shared by copies, so views stay valid
    std::array<std::uint8_t, 512> header_{};
    int major_ = 3;
    std::uint32_t sectorSize_ = 512;
    std::uint32_t miniCutoff_ = 4096;
    std::vector<Entry> entries_;
};

} // namespace ordana::spreadsheet::cfb
