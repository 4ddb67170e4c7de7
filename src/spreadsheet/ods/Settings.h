#pragma once

// settings.xml of an .ods package: the view settings' ActiveTable, the sheet shown when the file opens.

#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/xml/XmlPart.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ordana::spreadsheet::zip {
class Archive;
}

namespace ordana::spreadsheet::ods {

// settings.xml with ActiveTable naming the sheet: the part and the edits that replace the item's text, or
// add the item (or the whole view settings) where LibreOffice keeps it; a new part (added set, no edits) when
// the package has none. The part is read whole, its bytes taken into held, and only those few elements kept.
struct SettingsEdit {
    std::shared_ptr<const std::vector<std::uint8_t>> original;
    xml::Edits edits;
    bool added = false;
};
SettingsEdit settingsWithActive(const zip::Archive& archive, const std::string& sheet, Held& held);

} // namespace ordana::spreadsheet::ods
