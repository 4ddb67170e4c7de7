#pragma once

// What the Windows file layer's parts share: UTF-8 paths made wide and long, the file's identity, and the
// checks a save makes of other programs' holds. Wide (UTF-16) calls throughout; UTF-8 everywhere above.

#include "FileAccess.h"

#include <string>
#include <windows.h>

namespace ordana::spreadsheet::file {

std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& wide);

// The absolute form of path in the "\\?\" notation, which lifts the 260-character limit of the wide calls.
std::wstring longPath(const std::string& path);
// The folder and the name of a long path.
std::wstring folderOf(const std::wstring& path);
std::wstring nameOf(const std::wstring& path);

// 52 unless the folder can be reached and is a folder (a share gone, a drive ejected or never there).
void requireFolder(const std::wstring& folder, const std::string& shown);

// Opens an existing file for these accesses, sharing it with every other reader and writer (they are told
// apart by the checks below); an invalid handle and GetLastError() on failure.
NativeFile openShared(const std::wstring& path, DWORD access);

// The file's identity on disk, as SourceFile::Version holds it.
bool versionOf(HANDLE h, SourceFile::Version& out);

// Ordana's writer lock: a byte-range lock far past any content, taken without waiting. False when another
// handle holds it.
bool tryWriterLock(HANDLE h);

// The refusals of a save, each with its cause: another program holding the file without sharing it for
// writing (Excel does), Excel's or LibreOffice's lock file beside it, the read-only attribute.
[[noreturn]] void heldByAnotherProgram(const std::string& shown);
void checkLockFiles(const std::wstring& path, const std::string& shown);
void checkNotReadOnly(const std::wstring& path, const std::string& shown);
void checkNotHeld(const std::wstring& path, const std::string& shown);

} // namespace ordana::spreadsheet::file
