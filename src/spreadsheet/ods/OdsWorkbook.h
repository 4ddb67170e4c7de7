#pragma once

// The .ods engine: an OpenDocument spreadsheet package, read from the file's bytes and saved in place with
// only content.xml (and settings.xml, or the manifest when settings.xml must be added) rewritten.

#include "Package.h"
#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/file/FileAccess.h"

#include <cstddef>
#include <memory>
#include <string>

namespace ordana::spreadsheet::ods {

// 1004 with a precise description for anything but a readable, unencrypted OpenDocument spreadsheet.
std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source);
// The same with the package's zip index already read (the engine that told the formats apart did). What the
// engine holds of it in memory at once is bounded by budget (tests give a smaller one).
std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive,
                                       std::size_t budget = kMaxHeldBytes);

// The package as close(true) would save it, handed to sink instead of the file (fuzzing, tests).
void writePackage(Workbook& workbook, const ByteSink& sink);

} // namespace ordana::spreadsheet::ods
