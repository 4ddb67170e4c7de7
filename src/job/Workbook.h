#pragma once

// Opening a workbook for a command and ending it. Every front end (the windows, the console, the page) goes
// through these, so that a workbook is opened, saved and abandoned one way, and whatever a command's body
// throws becomes one of the program's numbered errors in one place.

#include "common/RuntimeError.h"
#include "spreadsheet/Spreadsheet.h"

#include <exception>
#include <optional>
#include <string>

namespace ordana::job {

using spreadsheet::ApplicationFactory;
using spreadsheet::SpreadsheetHandles;

// Start an application and open the workbook. The handles are filled as it goes, so that after a failure
// the caller's error path finds them as the failing step left them. A command that only reads may be
// served from as little of the file as it looks at; one that will save holds the workbook from the open, so
// another run on it waits and then reads what this one saved.
void openForReading(const ApplicationFactory& start, const std::string& path, SpreadsheetHandles& handles);
void openForWriting(const ApplicationFactory& start, const std::string& path, SpreadsheetHandles& handles);

// Close (saving when asked), quit and drop the references; after a save the error path has nothing left to
// close.
void finish(SpreadsheetHandles& handles, bool save);

// The error path's cleanup: close whatever workbook is open without saving, quit, drop the references.
// Failures while cleaning up are swallowed: the first failure is the one reported.
void abandon(SpreadsheetHandles& handles) noexcept;

// The program's error for what a command's body threw: a run-time error as it is, exhausted memory as 7,
// anything else (a library's own exception) as 51.
RuntimeError failureOf(const std::exception_ptr& thrown);

// Runs body and returns its failure, if any, as the program's error.
template <class Body> std::optional<RuntimeError> attempt(Body&& body) {
    try {
        body();
    } catch (...) {
        return failureOf(std::current_exception());
    }
    return std::nullopt;
}

} // namespace ordana::job
