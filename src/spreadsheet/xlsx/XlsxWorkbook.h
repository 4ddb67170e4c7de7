#pragma once

// The .xlsx / .xlsm engine: a zip package of XML parts, read through its relationships and written back with
// only the parts the table touches edited in place.

#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <cstddef>
#include <memory>

namespace ordana::spreadsheet::xlsx {

// Is this package an Office Open XML document (it has "[Content_Types].xml")?
bool isOfficePackage(const zip::Archive& archive);

// Opens a package that isOfficePackage accepted; 1004 with a precise description when it is not a workbook
// Ordana can write (a template, an add-in, a binary workbook, another kind of document) or is broken. What
// the engine holds of it in memory at once is bounded by budget (tests give a smaller one).
std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive,
                                       std::size_t budget = kMaxHeldBytes);

// What close(true) would save, written to sink instead of the file (fuzzing, benchmarks); false when nothing
// changed and nothing was written. The workbook stays open.
bool writePackage(Workbook& workbook, const ByteSink& sink);

} // namespace ordana::spreadsheet::xlsx
