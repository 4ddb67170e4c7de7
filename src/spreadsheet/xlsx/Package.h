#pragma once

// The .xlsx package: its parts read once and on demand, their relationships and content types, names for new
// parts, and what a save hands back for each part it edits.

#include "XlsxParts.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ordana::spreadsheet::xlsx {

using Bytes = std::vector<std::uint8_t>;
using BytesPtr = std::shared_ptr<const Bytes>;

inline constexpr std::string_view kContentTypes = "[Content_Types].xml";

// A part to be written back: its original bytes and what changes in them.
struct EditedPart {
    std::string name;
    BytesPtr bytes;
    xml::Edits edits;
    bool whole = false; // bytes are not the entry's own: it is written whole
};

// A part is edited in place only in UTF-8, the encoding the edits are written in.
void checkEditable(const std::string& part, std::span<const std::uint8_t> bytes);

// The content types part as the engine reads it: its Override and Default entries.
struct ContentTypes {
    BytesPtr bytes;
    Outline doc;
    // The part's type, by its name or else its extension; empty when it has none.
    std::string of(const std::string& part) const;
};

class Package {
  public:
    Package(std::shared_ptr<const SourceFile> source, zip::Archive archive,
            std::size_t budget = kMaxHeldBytes)
        : source_(std::move(source)), archive_(std::move(archive)),
          budget_(std::make_shared<MemoryBudget>(budget)) {}

    bool has(const std::string& part) const { return archive_.find(part) != nullptr; }
    // Kept once read, for as long as the workbook is open: the small parts the engine reads more than once.
    BytesPtr read(const std::string& part);
    // Read for the caller alone, the bytes taken from the budget into held before they are inflated.
    Bytes readHeld(const std::string& part, Held& held) const;
    // What the workbook holds in memory, and its limit.
    const std::shared_ptr<MemoryBudget>& budget() const { return budget_; }
    const zip::Entry* entry(const std::string& part) const { return archive_.find(part); }
    const zip::Archive& archive() const { return archive_; }
    const std::shared_ptr<const SourceFile>& source() const { return source_; }

    // The part's relationships, their targets resolved; none when it has no relationships part.
    std::vector<Relationship> relationships(const std::string& part);
    ContentTypes contentTypes();
    // stem + ext, or with the first number that makes a name no part has.
    std::string freePart(const std::string& stem, const std::string& ext) const;

  private:
    std::shared_ptr<const SourceFile> source_;
    zip::Archive archive_;
    std::shared_ptr<MemoryBudget> budget_;
    struct Cached {
        BytesPtr bytes;
        Held held;
    };
    std::unordered_map<std::string, Cached> cache_;
};

// What a save that adds or removes a part changes around it: the workbook part's relationships and the
// content types. The edits are gathered in the order they are asked for.
class PartLinks {
  public:
    PartLinks(Package& pkg, const std::string& workbookPart, bool strict);

    // A relationship from the workbook part to a new part, its Id idStem with the first number no
    // relationship has.
    void relate(const std::string& idStem, const std::string& kind, const std::string& part);
    // An Override giving a new part its content type.
    void declare(const std::string& part, const std::string& contentType);
    bool declared(const std::string& part) const { return !types_.of(part).empty(); }
    // The relationships of that kind to a part that goes, and its Override.
    void unlink(const std::string& kind, const std::string& part);
    // The parts that changed, relationships first.
    void writeTo(std::vector<EditedPart>& parts) const;

  private:
    std::string workbookPart_, relsPart_, relBase_;
    BytesPtr rels_;
    Outline relsDoc_;
    ContentTypes types_;
    PartEditor relsEditor_, typesEditor_;
};

// Puts the edited part into the package being written: between its edits, the original's own bytes.
void replacePart(zip::ArchiveWriter& writer, EditedPart part);
// The same for a part not held in memory: its original is inflated again, piece by piece, as it is written.
void replaceStreamed(zip::ArchiveWriter& writer, const zip::Archive& archive, const std::string& part,
                     xml::Edits edits);

} // namespace ordana::spreadsheet::xlsx
