#include "Failures.h"
#include "WinFile.h"

#include <chrono>
#include <thread>

namespace ordana::spreadsheet {

using namespace file;
using text::quoted;

namespace {

struct Opened {
    NativeFile file;
    std::wstring path;
    SourceFile::Version version;
    bool locked = false;
};

[[noreturn]] void failOpen(const std::string& path, DWORD e) {
    if (e == ERROR_FILE_NOT_FOUND) fail("Fisierul " + quoted(path) + " nu exista");
    notReadable(path, reason(int(e)));
}

// The folder of a path as the user wrote it, for messages.
std::string shownFolder(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

enum class LockWait { Locked, Replaced };

// Waits for the writer lock on h, the file of version v; another Ordana run is waited for until the
// deadline. Replaced: the name now holds another file (the run waited for saved).
LockWait waitForWriterLock(HANDLE h, const Opened& o, const std::string& shown,
                           std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const bool locked = tryWriterLock(h);
        NativeFile now = openShared(o.path, FILE_READ_ATTRIBUTES);
        SourceFile::Version v;
        if (!now.valid() || !versionOf(reinterpret_cast<HANDLE>(now.get()), v) ||
            v.device != o.version.device || v.inode != o.version.inode)
            return LockWait::Replaced;
        if (locked) return LockWait::Locked;
        if (std::chrono::steady_clock::now() > deadline) writerWaitOver(shown);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

// Opens the file for reading, shared with other readers and writers; a writer opens it for writing too and
// takes Ordana's writer lock, waiting for another run that holds it. A file that cannot be opened for
// writing (read-only, held by another program) is read without the lock; its save is refused.
Opened openReal(const std::string& path, bool forWriting, int waitMilliseconds) {
    Opened o;
    o.path = longPath(path);
    requireFolder(folderOf(o.path), shownFolder(path));
    const DWORD attributes = ::GetFileAttributesW(o.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        fail(quoted(path) + " este un dosar, nu un fisier");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    for (int replaced = 0; forWriting && replaced < 100; ++replaced) {
        NativeFile rw = openShared(o.path, GENERIC_READ | GENERIC_WRITE);
        if (!rw.valid() || !versionOf(reinterpret_cast<HANDLE>(rw.get()), o.version)) break;
        if (waitForWriterLock(reinterpret_cast<HANDLE>(rw.get()), o, path, deadline) == LockWait::Replaced)
            continue; // the other run saved: its result is what we open now
        o.file = std::move(rw);
        o.locked = true;
        return o;
    }
    o.file = openShared(o.path, GENERIC_READ);
    if (!o.file.valid()) failOpen(path, ::GetLastError());
    if (::GetFileType(reinterpret_cast<HANDLE>(o.file.get())) != FILE_TYPE_DISK)
        fail(quoted(path) + " nu este un fisier obisnuit");
    if (!versionOf(reinterpret_cast<HANDLE>(o.file.get()), o.version)) notReadable(path, reason(lastError()));
    return o;
}

// Reads the whole file now; a file written while it is read is read again (a few times), so the bytes match
// one version.
std::shared_ptr<const FileBytes> readWholeVersion(Opened& o, const std::string& path) {
    for (int attempt = 0;; ++attempt) {
        auto bytes = FileBytes::readWhole(o.file, o.version.size, path);
        SourceFile::Version after;
        if (!versionOf(reinterpret_cast<HANDLE>(o.file.get()), after)) notReadable(path, reason(lastError()));
        if (after.size == bytes->size() && after == o.version) return bytes;
        if (attempt == 3) fail("Fisierul " + quoted(path) + " este scris de alt program chiar acum");
        o.version = after;
    }
}

} // namespace

std::shared_ptr<const SourceFile> SourceFile::open(const std::string& path, Mode mode, int waitMilliseconds) {
    Opened o = openReal(path, mode == Mode::ReadForWriting, waitMilliseconds);
    if (o.version.size > kMaxWorkbookBytes) tooLarge(path, o.version.size);
    std::shared_ptr<SourceFile> source(new SourceFile());
    source->path_ = path;
    if (mode != Mode::ReadOnDemand) {
        source->data_ = readWholeVersion(o, path);
    } else {
        // Each part as it is asked for, held to the version opened; such a source is never saved.
        source->data_ = FileBytes::readOnDemand(
            o.file, {o.version.size, o.version.mtimeSeconds, o.version.mtimeNanoseconds}, path);
        source->onDemand_ = true;
    }
    source->version_ = o.version;
    // Kept without the "\\?\" prefix: the save makes the long form again; messages show the plain one.
    const std::wstring folder = folderOf(o.path);
    const bool unc = folder.starts_with(L"\\\\?\\UNC\\");
    source->folder_ = unc ? "\\\\" + utf8(folder.substr(8)) : utf8(folder.substr(4));
    source->name_ = utf8(nameOf(o.path));
    source->locked_ = o.locked;
    source->file_ = std::move(o.file);
    return source;
}

} // namespace ordana::spreadsheet
