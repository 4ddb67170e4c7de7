#pragma once

// What the POSIX file layer's parts share: paths and links, the writer lock, and the temporary file.

#include "FileAccess.h"
#include "Names.h"

#include <chrono>
#include <span>
#include <string>
#include <sys/stat.h>

namespace ordana::spreadsheet::file {

// Paths and links (PosixPaths.cpp).
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
// 52 unless folder is a folder.
void requireFolder(const std::string& folder);
// The real file behind a chain of symbolic links, even when it does not exist; refuses a path through an
// open descriptor (/proc, /dev/fd).
std::string resolveTarget(const std::string& path);
bool sameFile(const struct stat& a, const struct stat& b);
bool sameVersion(const struct stat& st, const SourceFile::Version& v);
// Write access as a user would judge it: the kernel's answer, and for root, the permission bits too.
bool writableAt(int dirFd, const char* name, const struct stat& st);
// Refuses when LibreOffice's or Office's lock file sits beside the link's name or the real file's.
void checkLockFiles(const std::string& path, const std::string& folder, const std::string& name);
// Refuses another user's file: saving it by rename would make it ours.
void checkOwner(const std::string& path, const struct stat& st);

// Ordana's writer lock and other programs' locks (PosixWriterLock.cpp).
bool tryWriterLock(int fd);
bool contentLocked(int fd);
bool lockedByOther(int fd);
enum class LockWait { Locked, Replaced };
// Waits for the writer lock on fd, the file st that the folder's name held; another program's lock on the
// content is refused at once, another Ordana run waited for until the deadline. Replaced: the name now holds
// another file (the run waited for saved).
LockWait waitForWriterLock(int fd, int folderFd, const std::string& name, const struct stat& st,
                           const std::string& path, std::chrono::steady_clock::time_point deadline);

// The temporary file (PosixTempFile.cpp).
void writeAll(int fd, std::span<const std::uint8_t> bytes, const std::string& path);
// Whether fd holds exactly these bytes now.
bool holdsNow(int fd, std::span<const std::uint8_t> bytes);
// Removes leftovers of our own saves of this workbook that died.
void removeStaleTemps(int folderFd, const std::string& name);
// A new temporary file in the folder, exclusively created, named with its signature, flock'ed while ours.
NativeFile createTemp(int folderFd, const std::string& name, const std::string& path, std::string& tempName);
// Owner, group, extended attributes and mode of the original onto the temporary file.
void carryMetadata(int from, int to, const struct stat& original, const std::string& path);
// Writes what produce hands over into fd: pieces of the original's bytes may be copied from originalFd.
void writeContent(int fd, const SourceFile& source, int originalFd,
                  const std::function<void(const ByteSink&)>& produce);

} // namespace ordana::spreadsheet::file
