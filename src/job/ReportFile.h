#pragma once

// The HTML page a run writes with the estimates: where the user names it (the console) or beside the
// workbook (the windows). Its path is input like a workbook's: it must never name a workbook, a folder or a
// link, and writing it never touches another file.

#include <string>
#include <vector>

namespace ordana::job {

// Refuses (1004, saying why) a report path that names one of the run's workbooks, any workbook (by its first
// bytes, or by a workbook's extension), a folder, a link or anything but a regular file. Called before the
// run reads or writes anything.
void checkReportPath(const std::string& report, const std::vector<std::string>& workbooks);

// "NAME - estimari.html" in the workbook's folder, NAME its file name without the extension.
std::string reportBeside(const std::string& workbook);

// Writes the page whole, or leaves an older one as it was (1004 with the reason).
void writeReport(const std::string& path, const std::string& html);

} // namespace ordana::job
