#include "Workbook.h"

#include <new>

namespace ordana::job {

void openForReading(const ApplicationFactory& start, const std::string& path, SpreadsheetHandles& handles) {
    handles.application = start();
    handles.workbook = handles.application->openForReading(path);
}

void openForWriting(const ApplicationFactory& start, const std::string& path, SpreadsheetHandles& handles) {
    handles.application = start();
    handles.workbook = handles.application->openForWriting(path);
}

void finish(SpreadsheetHandles& handles, bool save) {
    handles.worksheet.reset();
    handles.workbook->close(save);
    // Closed (and saved): the error path must not close it again.
    handles.workbook.reset();
    handles.quit();
}

void abandon(SpreadsheetHandles& handles) noexcept {
    try {
        if (handles.workbook) handles.workbook->close(false);
    } catch (...) {
    }
    try {
        if (handles.application) handles.application->quit();
    } catch (...) {
    }
    handles.release();
}

RuntimeError failureOf(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const RuntimeError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return {err::OutOfMemory, "Memorie insuficienta"};
    } catch (...) {
        // A library's own words mean nothing to the user; the number says the failure is ours to mend.
        return {err::Internal, "Eroare interna a programului"};
    }
}

} // namespace ordana::job
