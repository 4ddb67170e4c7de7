#pragma once

// settings.xml of an .ods package: the view settings' ActiveTable, the sheet shown when the file opens.

#include <optional>
#include <string>

namespace ordana::spreadsheet::zip {
class Archive;
}

namespace ordana::spreadsheet::ods {

// settings.xml with ActiveTable naming the sheet: the item's text replaced, or the item (or the whole view
// settings) added where LibreOffice keeps it; a new part (added set) when the package has none.
std::optional<std::string> settingsWithActive(const zip::Archive& archive, const std::string& sheet,
                                              bool& added);

} // namespace ordana::spreadsheet::ods
