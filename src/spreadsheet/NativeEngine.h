#pragma once

// The engines that read and write the files in process, behind one entry point that tells the formats apart
// by content, never by the file name.

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/file/FileAccess.h"

#include <memory>

namespace ordana::spreadsheet {

// A compound file goes to the .xls engine, a zip package to the .xlsx or .ods engine; anything else is 1004.
std::shared_ptr<Workbook> openNativeWorkbook(std::shared_ptr<const SourceFile> source);

} // namespace ordana::spreadsheet
