#include "Failures.h"
#include "Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The safe save on POSIX, as its steps: take the lock, check the owner, write the temporary file (carrying
// the original's metadata), exchange it with the original.

namespace ordana::spreadsheet {

using namespace file;
using text::quoted;

namespace {

// The name still holds the file that was read, with its size and time of change.
void requireSameFile(const SourceFile& source, int folderFd) {
    struct stat now {};
    if (::fstatat(folderFd, source.name().c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(now.st_mode) ||
        !sameVersion(now, source.version()))
        failChanged(source.path());
}

// And its bytes are the ones read, for a program that puts the time of change back after writing. Where the
// time of status change at the read proves the bytes and has not moved, nothing was written since: the file
// is not read again.
void requireSameContent(const SourceFile& source, int fileFd) {
    const SourceFile::ChangeTime& read = source.changeTime();
    struct stat now {};
    if (read.proves && ::fstat(fileFd, &now) == 0 && now.st_ctim.tv_sec == read.seconds &&
        now.st_ctim.tv_nsec == read.nanoseconds)
        return;
    // What was never read cannot be compared.
    if (source.data()->bytesRead() < source.data()->size() || !holdsNow(fileFd, source.bytes()))
        failChanged(source.path());
}

// What checkCanSave refuses, judged through the folder's descriptor for the real file that was read.
void checkReplaceable(const SourceFile& source, int folderFd, int fileFd) {
    const std::string& path = source.path();
    struct stat st {};
    if (::fstatat(folderFd, source.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        failChanged(path);
    if (!writableAt(folderFd, source.name().c_str(), st)) writeProtected(path);
    struct stat dst {};
    if (::fstat(folderFd, &dst) != 0 || !writableAt(folderFd, ".", dst))
        fail("Dosarul " + quoted(source.folder()) + " este protejat la scriere");
    checkLockFiles(path, source.folder(), source.name());
    if (lockedByOther(fileFd)) lockedByAnotherProgram(path);
}

// Step 1. A source read without the writer lock takes it now (into ownLock), and the version check tells
// whether another run saved meanwhile. The descriptor that holds the lock.
int takeWriterLock(const SourceFile& source, int folderFd, int fileFd, NativeFile& ownLock) {
    if (source.holdsWriterLock()) return fileFd;
    const std::string& path = source.path();
    ownLock.reset(
        ::openat(folderFd, source.name().c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!ownLock.valid()) {
        if (errno == EACCES || errno == EROFS || errno == EPERM) writeProtected(path);
        failChanged(path);
    }
    struct stat st {};
    if (::fstat(int(ownLock.get()), &st) != 0 || !sameVersion(st, source.version())) failChanged(path);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriterWaitMilliseconds);
    if (waitForWriterLock(int(ownLock.get()), folderFd, source.name(), st, path, deadline) ==
        LockWait::Replaced)
        failChanged(path);
    return int(ownLock.get());
}

// Step 2. Nobody else holds the file, it is ours to replace, and the name still holds the version read.
struct stat checkOwnerAndVersion(const SourceFile& source, int folderFd, int fileFd, int lockFd) {
    checkReplaceable(source, folderFd, lockFd);
    struct stat original {};
    if (::fstat(fileFd, &original) != 0) failChanged(source.path());
    checkOwner(source.path(), original);
    // The content is compared once the new file is written, and before anything of it takes the name.
    requireSameFile(source, folderFd);
    return original;
}

// Step 3. The new content in the temporary file, with the original's metadata, on the disk; the original's
// bytes compared with those read meanwhile.
void writeTemporary(const SourceFile& source, int fileFd, int tempFd, const struct stat& original,
                    const std::function<void(const ByteSink&)>& produce) {
    const std::string& path = source.path();
    writeContent(tempFd, source, fileFd, produce);
    carryMetadata(fileFd, tempFd, original, path);
    // The disk writes the new file while the original's bytes are compared with those read; the copy came
    // from them, so the comparison comes after it.
    (void)::sync_file_range(tempFd, 0, 0, SYNC_FILE_RANGE_WRITE);
    requireSameContent(source, fileFd);
    if (::fsync(tempFd) != 0) notSaved(path, reason(errno));
}

// Step 4. At the last moment the checks again, then the exchange. Exchanging rather than renaming shows
// which file left the name; if it was not the one read (changed in the instant since the check), it goes
// back.
void exchange(const SourceFile& source, int folderFd, int lockFd, const std::string& temp) {
    const std::string& path = source.path();
    const std::string& name = source.name();
    checkReplaceable(source, folderFd, lockFd);
    requireSameFile(source, folderFd);
    if (::renameat2(folderFd, temp.c_str(), folderFd, name.c_str(), RENAME_EXCHANGE) == 0) {
        struct stat displaced {};
        if (::fstatat(folderFd, temp.c_str(), &displaced, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameVersion(displaced, source.version())) {
            if (::renameat2(folderFd, temp.c_str(), folderFd, name.c_str(), RENAME_EXCHANGE) == 0)
                failChanged(path);
            fail("Fisierul " + quoted(path) +
                 " a fost schimbat de alt program in timpul salvarii; versiunea acestuia este pastrata ca " +
                 quoted(temp));
        }
        (void)::unlinkat(folderFd, temp.c_str(), 0);
    } else if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
        if (::renameat(folderFd, temp.c_str(), folderFd, name.c_str()) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi inlocuit: " + reason(errno));
    } else {
        fail("Fisierul " + quoted(path) + " nu a putut fi inlocuit: " + reason(errno));
    }
}

// A save that failed takes its temporary file away, if the name still holds that file.
void removeOwnTemp(int folderFd, const NativeFile& fd, const std::string& temp) {
    struct stat left {};
    if (::fstatat(folderFd, temp.c_str(), &left, AT_SYMLINK_NOFOLLOW) != 0) return;
    struct stat mine {};
    if (fd.valid() && ::fstat(int(fd.get()), &mine) == 0 && sameFile(mine, left))
        ::unlinkat(folderFd, temp.c_str(), 0);
}

} // namespace

void checkCanSave(const std::string& path) {
    const std::string target = resolveTarget(path);
    const std::string folder = folderOf(target);
    requireFolder(folderOf(path));
    requireFolder(folder);

    struct stat st {};
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) fail(quoted(path) + " este un dosar, nu un fisier");
        if (!S_ISREG(st.st_mode)) fail(quoted(path) + " nu este un fisier obisnuit");
        if (!writableAt(AT_FDCWD, target.c_str(), st)) writeProtected(path);
    }
    struct stat dst {};
    if (::stat(folder.c_str(), &dst) != 0 || !writableAt(AT_FDCWD, folder.c_str(), dst))
        fail("Dosarul " + quoted(folder) + " este protejat la scriere");
    checkLockFiles(path, folder, nameOf(target));
    if (!exists) return;
    NativeFile fd(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.valid() && lockedByOther(int(fd.get()))) lockedByAnotherProgram(path);
    checkOwner(path, st);
}

void saveInPlace(const SourceFile& source, const std::function<void(const ByteSink&)>& produce) {
    const std::string& path = source.path();
    if (!source.onDisk())
        fail("Registrul " + quoted(path) + " nu a fost citit dintr-un fisier si nu poate fi salvat pe loc");
    // Bytes read later than the open could be another program's, written with the time of change put back;
    // only the comparison of bytes read at the open with the file tells, so such a source is not saved.
    if (source.onDemand_)
        fail("Registrul " + quoted(path) + " a fost deschis doar pentru citire si nu poate fi salvat; " +
             "nu a fost scris nimic");
    requireFolder(source.folder());
    const int folderFd = int(source.folderHandle_.get());
    const int fileFd = int(source.file_.get());

    NativeFile ownLock;
    const int lockFd = takeWriterLock(source, folderFd, fileFd, ownLock);
    const struct stat original = checkOwnerAndVersion(source, folderFd, fileFd, lockFd);
    removeStaleTemps(folderFd, source.name());

    std::string temp;
    NativeFile fd = createTemp(folderFd, source.name(), path, temp);
    // The new file carries the writer lock too, so a run waiting for this one finds it locked once renamed
    // and reads it only after this run has let go of it (and of its flock) altogether.
    (void)tryWriterLock(int(fd.get()));
    try {
        writeTemporary(source, fileFd, int(fd.get()), original, produce);
        exchange(source, folderFd, lockFd, temp);
        fd.reset();
    } catch (...) {
        removeOwnTemp(folderFd, fd, temp);
        throw;
    }
    // The rename itself must reach the disk; a folder that cannot be synced has the new file all the same.
    (void)::fsync(folderFd);
}

} // namespace ordana::spreadsheet
