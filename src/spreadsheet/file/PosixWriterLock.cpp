#include "Failures.h"
#include "Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace ordana::spreadsheet::file {

namespace {

// Ordana's own writer lock: an open-file-description lock on one byte far past any real content, so it
// never stands in the way of reading or of other programs' locks on the content, and is told apart from
// them by its place.
constexpr off_t kWriterLockOffset = std::numeric_limits<off_t>::max() - 1;

} // namespace

bool tryWriterLock(int fd) {
    struct flock lk {};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    lk.l_start = kWriterLockOffset;
    lk.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &lk) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) return false;
    return true; // a file system without such locks: nothing to wait for
}

// A record lock (POSIX or OFD) of another program on the file's content.
bool contentLocked(int fd) {
    struct flock lk {};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    lk.l_start = 0;
    lk.l_len = kWriterLockOffset; // the content, not Ordana's own lock byte
    return ::fcntl(fd, F_OFD_GETLK, &lk) == 0 && lk.l_type != F_UNLCK;
}

// Another program's lock on the file's content: a record lock (POSIX or OFD) or an exclusive flock.
// Probing never takes an exclusive lock, so two Ordana runs probing at once do not see each other.
bool lockedByOther(int fd) {
    if (contentLocked(fd)) return true;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK;
    ::flock(fd, LOCK_UN);
    return false;
}

// Waits for Ordana's writer lock on fd, the file st that the folder's name held. Another program's lock on
// the content is refused at once; another Ordana run is waited for until the deadline. Replaced: the name
// now holds another file (the run we waited for saved).
LockWait waitForWriterLock(int fd, int folderFd, const std::string& name, const struct stat& st,
                           const std::string& path, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const bool locked = tryWriterLock(fd);
        struct stat now {};
        if (::fstatat(folderFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(now, st))
            return LockWait::Replaced;
        if (locked) return LockWait::Locked;
        if (contentLocked(fd)) lockedByAnotherProgram(path);
        if (std::chrono::steady_clock::now() > deadline) writerWaitOver(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

} // namespace ordana::spreadsheet::file
