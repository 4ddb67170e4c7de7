#pragma once

// What an OpenDocument package is, as its mimetype entry and its manifest (META-INF/manifest.xml) say; and
// the manifest's line for a part a save adds.

#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/xml/XmlPart.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::zip {
class Archive;
}

namespace ordana::spreadsheet::ods {

inline constexpr std::string_view kSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";

// The package is an OpenDocument document of any kind (its mimetype entry or its manifest says so).
bool isOpenDocument(const zip::Archive& archive);

// What the package says it is: the mimetype entry when it comes first, else the manifest's root entry.
struct PackageKind {
    std::string mediaType;
    bool encrypted = false;
    bool mimetypeFirstAndPlain = false;
};

PackageKind kindOf(const zip::Archive& archive);
// A kind of OpenDocument other than a spreadsheet, as the refusal to open it names it.
std::string describeType(const std::string& type);

// A part as a save writes it: its bytes and the edits made in them.
struct PartEdit {
    std::shared_ptr<const std::vector<std::uint8_t>> original;
    xml::Edits edits;
};
// The manifest with a file entry for a new part, or nullopt for a package without one; its bytes taken into
// held.
std::optional<PartEdit> manifestWith(const zip::Archive& archive, std::string_view path,
                                     std::string_view mediaType, Held& held);

} // namespace ordana::spreadsheet::ods
