#pragma once

// The Excel 97-2003 engine behind the workbook operations: a compound file whose Workbook stream holds BIFF8
// records. Everything not touched by the operations is written back as it was.

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet::xls {

// A bare workbook stream of Excel 2.x, 3.0 or 4.0: no compound file, a BOF record of those versions first.
// openWorkbook refuses it with the same advice as an Excel 5.0/95 file.
bool isOlderBareStream(std::span<const std::uint8_t> bytes);

// Opens a workbook from the file as read; close(true) saves over that file. Anything that is not an OLE2 file
// with a BIFF8 Workbook stream is 1004.
std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source);
// The same with the file's container already parsed (the engine that told the formats apart did).
std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source, cfb::CompoundFile container);

// Reads the file (1004 missing or unreadable, 52 folder unreachable), then as above.
std::shared_ptr<Workbook> openWorkbook(const std::string& path);

// The same from bytes alone (tests, fuzzers); path names it in messages and is where close(true) saves.
std::shared_ptr<Workbook> openWorkbookBytes(std::vector<std::uint8_t> bytes, const std::string& path);

} // namespace ordana::spreadsheet::xls
