#pragma once

// The operations Ordana performs on a workbook. Every operation reports failure by throwing
// ordana::RuntimeError: 429 when the engine cannot start, 1004 for the engine's own failures (file missing,
// not a workbook, corrupt, encrypted, in use, write-protected), 52 when the file's folder cannot be reached,
// 9 for a worksheet name or index outside the list.

#include "common/CellValue.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ordana::spreadsheet {

// The rows the data-sheet test reads (the names in row 1, the first abundance in row 2): an engine answers
// them from a quick look at the sheet, without indexing all its cells.
inline constexpr int kPreviewRows = 2;

// The memory one index of a sheet's cells may take, whatever else is held: the counts of cells and texts an
// index refuses beyond, naming the count, are made of it. An open workbook's engine also holds everything it
// keeps, that index included, within one budget of as much (MemoryBudget.h), which a sheet reaches first.
inline constexpr std::size_t kMaxIndexBytes = std::size_t(128) << 20;

// HorizontalAlignment codes, as the automation model numbers them; each engine maps these and no others.
inline constexpr std::int32_t AlignGeneral = 1;
inline constexpr std::int32_t AlignLeft = -4131;
inline constexpr std::int32_t AlignCenter = -4108;
inline constexpr std::int32_t AlignRight = -4152;
inline constexpr std::int32_t AlignFill = 5;
inline constexpr std::int32_t AlignJustify = -4130;
inline constexpr std::int32_t AlignCenterAcrossSelection = 7;
inline constexpr std::int32_t AlignDistributed = -4117;
// BorderAround's line styles and weights.
inline constexpr std::int32_t LineStyleNone = -4142;
inline constexpr std::int32_t LineStyleContinuous = 1;
inline constexpr std::int32_t LineStyleDash = -4115;
inline constexpr std::int32_t LineStyleDot = -4118;
inline constexpr std::int32_t LineStyleDouble = -4119;
inline constexpr std::int32_t LineStyleDashDot = 4;
inline constexpr std::int32_t LineStyleDashDotDot = 5;
inline constexpr std::int32_t LineStyleSlantDashDot = 13;
inline constexpr std::int32_t WeightHairline = 1;
inline constexpr std::int32_t WeightThin = 2;
inline constexpr std::int32_t WeightMedium = -4138;
inline constexpr std::int32_t WeightThick = 4;

// The cells on the outer edges of a block, in rows from the top, each with the sides of the block it lies on
// (1 left, 2 right, 4 top, 8 bottom); the corners are given in any order. The engines' borderAround walks
// this.
template <typename Visit>
void forEachFrameCell(int firstRow, int firstColumn, int lastRow, int lastColumn, Visit visit) {
    const int r1 = std::min(firstRow, lastRow), r2 = std::max(firstRow, lastRow);
    const int c1 = std::min(firstColumn, lastColumn), c2 = std::max(firstColumn, lastColumn);
    for (int r = r1; r <= r2; ++r)
        for (int c = c1; c <= c2; c = (r == r1 || r == r2 || c == c2) ? c + 1 : c2) {
            const unsigned sides =
                (c == c1 ? 1u : 0u) | (c == c2 ? 2u : 0u) | (r == r1 ? 4u : 0u) | (r == r2 ? 8u : 0u);
            visit(r, c, sides);
        }
}

class Worksheet {
  public:
    virtual ~Worksheet() = default;
    virtual std::string name() const = 0;

    // Rows and columns count from 1.
    virtual CellValue cell(std::int16_t row, std::int16_t column) = 0;
    virtual void setCell(std::int16_t row, std::int16_t column, const CellValue& value) = 0;

    // Whole-column formatting, reaching the column's empty cells and every cell already in it.
    virtual void setColumnWidth(std::int16_t column, double characters) = 0;
    virtual void setColumnHorizontalAlignment(std::int16_t column, std::int32_t alignment) = 0;
    virtual void setColumnNumberFormat(std::int16_t column, const std::string& format) = 0;

    virtual void setBold(std::int16_t row, std::int16_t column, bool bold) = 0;
    // A frame on the outer edges of the block only.
    virtual void borderAround(std::int16_t firstRow, std::int16_t firstColumn, std::int16_t lastRow,
                              std::int16_t lastColumn, std::int32_t lineStyle, std::int32_t weight) = 0;
    // The sheet becomes the workbook's active (and only selected) sheet when the file is next opened.
    virtual void activate() = 0;
};

class Workbook {
  public:
    virtual ~Workbook() = default;
    // Worksheets only (chart and macro sheets are not listed), in workbook order, hidden ones included.
    virtual std::int16_t worksheetCount() = 0;
    virtual std::string worksheetName(std::int16_t index) = 0;                 // from 1; error 9 outside
    virtual std::shared_ptr<Worksheet> worksheet(const std::string& name) = 0; // error 9 if absent
    // saveChanges: written back safely into its own file, same format. false: nothing is written.
    virtual void close(bool saveChanges) = 0;
};

class Application {
  public:
    virtual ~Application() = default;
    virtual std::shared_ptr<Workbook> open(const std::string& path) = 0;
    // The same, for a command that will save: the workbook is held for writing from the open, so another
    // Ordana run on it waits and then reads what this one saved. Engines without such a hold just open.
    virtual std::shared_ptr<Workbook> openForWriting(const std::string& path) { return open(path); }
    // The same, for a command that only reads: an engine may then read no more of the file than it is asked
    // for, and such a workbook is never saved. Engines without that just open.
    virtual std::shared_ptr<Workbook> openForReading(const std::string& path) { return open(path); }
    virtual void quit() = 0;
};

// Starts an application; throws 429 when none can be started. Tests substitute their own.
using ApplicationFactory = std::function<std::shared_ptr<Application>()>;

// The engine that reads and writes the files itself.
ApplicationFactory nativeApplicationFactory();

// The three references a command holds while it works.
struct SpreadsheetHandles {
    std::shared_ptr<Application> application;
    std::shared_ptr<Workbook> workbook;
    std::shared_ptr<Worksheet> worksheet;

    // Drops the three references, worksheet first; closes and quits nothing.
    void release() {
        worksheet.reset();
        workbook.reset();
        application.reset();
    }
    // Quit the application and drop all three references.
    void quit() {
        if (application) application->quit();
        release();
    }
};

} // namespace ordana::spreadsheet
