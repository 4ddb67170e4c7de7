#include "FileAccess.h"

#include "LargeBuffer.h"
#include "common/RuntimeError.h"
#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <xxhash.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__has_feature)
#include <sanitizer/asan_interface.h>
#endif

namespace ordana::spreadsheet {

namespace {

using text::quoted;

// Romanian words for the failures a user can act on; the rest by number.
std::string reason(int e) {
    switch (e) {
    case EACCES:
    case EPERM:
        return "permisiune refuzata";
    case ENOSPC:
        return "discul este plin";
    case EDQUOT:
        return "cota de disc a fost depasita";
    case EFBIG:
        return "fisierul depaseste dimensiunea permisa";
    case EROFS:
        return "sistemul de fisiere este doar pentru citire";
    case EIO:
        return "eroare de intrare/iesire";
    case ELOOP:
        return "prea multe legaturi simbolice";
    case ENAMETOOLONG:
        return "numele este prea lung";
    case EBUSY:
    case ETXTBSY:
        return "fisierul este in uz";
    case ENOTSUP:
        return "sistemul de fisiere nu il accepta";
    default:
        return "eroarea de sistem " + std::to_string(e);
    }
}

[[noreturn]] void fail(const std::string& description) {
    throw RuntimeError(err::Application, description);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder must be there and be a folder; otherwise the drive or share is gone: 52.
void requireFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw RuntimeError(err::DeviceUnavailable, "Dosarul " + quoted(folder) + " nu este accesibil");
}

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameVersion(const struct stat& st, const SourceFile::Version& v) {
    return st.st_dev == v.device && st.st_ino == v.inode && std::uint64_t(st.st_size) == v.size &&
           st.st_mtim.tv_sec == v.mtimeSeconds && st.st_mtim.tv_nsec == v.mtimeNanoseconds;
}

// A descriptor under /proc names an open file, not a place in a folder: saving "through" it would replace
// whatever name the file had, or make a new one called "NAME (deleted)".
bool throughDescriptor(const std::string& path) {
    if (path.starts_with("/dev/fd/") || path.starts_with("/dev/std") || path.starts_with("/proc/"))
        return true;
    char real[PATH_MAX];
    if (!::realpath(folderOf(path).c_str(), real)) return false;
    const std::string r = real;
    return r == "/proc" || r.starts_with("/proc/");
}

[[noreturn]] void failDescriptor(const std::string& path) {
    fail("Fisierul " + quoted(path) +
         " este numit printr-un descriptor deschis (/dev/fd, /proc/.../fd), nu prin numele lui din dosar; "
         "deschideti fisierul dupa numele lui");
}

// The real file behind a chain of symbolic links (bounded like the kernel's), even when it does not exist.
std::string resolveTarget(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (throughDescriptor(p)) failDescriptor(path);
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
        if (n < 0) fail("Legatura " + quoted(p) + " nu poate fi citita: " + reason(errno));
        link.resize(static_cast<std::size_t>(n));
        p = link.starts_with('/') ? link : folderOf(p) + "/" + link;
    }
    fail("Fisierul " + quoted(path) + " nu poate fi gasit: " + reason(ELOOP));
}

// Write access as a user would judge it: the kernel's answer, and for root, who may write anything, the
// permission bits, so that a file or folder marked read-only stays read-only.
bool writableAt(int dirFd, const char* name, const struct stat& st) {
    if (::faccessat(dirFd, name, W_OK, AT_EACCESS) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Ordana's own writer lock: an open-file-description lock on one byte far past any real content, so it
// never stands in the way of reading or of other programs' locks on the content, and is told apart from
// them by its place.
constexpr off_t kWriterLockOffset = std::numeric_limits<off_t>::max() - 1;

bool contentLocked(int fd);

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

// The lock files that LibreOffice and Office leave beside a document they have open.
std::string lockFileBeside(const std::string& folder, const std::string& name) {
    std::vector<std::string> candidates = {".~lock." + name + "#", "~$" + name};
    if (name.size() > 2) candidates.push_back("~$" + name.substr(2)); // Office's form for longer names
    for (const auto& c : candidates) {
        struct stat st {};
        if (::lstat((folder + "/" + c).c_str(), &st) == 0) return c;
    }
    return {};
}

void checkLockFiles(const std::string& path, const std::string& folder, const std::string& name) {
    // Lock files sit beside the name the other program opened: the link's or the real file's.
    for (const auto& [dir, base] : {std::pair{folderOf(path), nameOf(path)}, std::pair{folder, name}}) {
        const std::string lock = lockFileBeside(dir, base);
        if (!lock.empty())
            fail("Fisierul " + quoted(path) + " este deschis in alt program (exista fisierul de blocare " +
                 quoted(lock) + ")");
    }
}

// Reads fd from its start to its end through a block of 256 KiB, small enough to stay in the cache, handing
// each piece to take, which returns false to stop. False, with errno set, when a read fails.
template <class Take> bool readBlocks(int fd, Take take) {
    std::vector<std::uint8_t> block(std::size_t(256) << 10);
    for (std::size_t done = 0;;) {
        const ssize_t n = ::pread(fd, block.data(), block.size(), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0 || !take(std::span<const std::uint8_t>(block.data(), std::size_t(n)))) return true;
        done += std::size_t(n);
    }
}

// Whether fd holds exactly these bytes now, read in blocks and compared with them.
bool holdsNow(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    bool same = true;
    const bool read = readBlocks(fd, [&](std::span<const std::uint8_t> piece) {
        same = piece.size() <= bytes.size() - done &&
               std::memcmp(piece.data(), bytes.data() + done, piece.size()) == 0;
        done += piece.size();
        return same;
    });
    return read && same && done == bytes.size();
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 8 << 20));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(n < 0 ? errno : ENOSPC));
        done += static_cast<std::size_t>(n);
    }
}

// Leftovers of saves that died: regular files of ours with this workbook's temporary stem, not locked by a
// living writer, and old enough that no save still running can own them.
void removeStaleTemps(int folderFd, const std::string& name) {
    Fd dup(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    if (dup.get() < 0) return;
    DIR* dir = ::fdopendir(dup.get());
    if (!dir) return;
    dup.release();
    ::rewinddir(dir);
    const std::string stem = temporaryStem(name);
    const std::string suffix = kTempSuffix;
    const auto now = std::chrono::system_clock::now();
    while (const dirent* e = ::readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry.size() != stem.size() + 6 + suffix.size() || !entry.starts_with(stem) ||
            !entry.ends_with(suffix))
            continue;
        Fd fd(::openat(folderFd, entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const auto changed = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
        if (now - changed < std::chrono::seconds(kStaleTempSeconds)) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        // Still the file we examined (not swapped for another under the same name) when we unlink it.
        struct stat again {};
        if (::fstatat(folderFd, entry.c_str(), &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(st, again))
            ::unlinkat(folderFd, entry.c_str(), 0);
    }
    ::closedir(dir);
}

// A new temporary file in the folder, exclusively created (never through a link), flock'ed while it is ours.
Fd createTemp(int folderFd, const std::string& name, const std::string& path, std::string& tempName) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::string stem = temporaryStem(name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint8_t random[6];
        if (::getrandom(random, sizeof random, 0) != sizeof random) {
            for (auto& r : random)
                r = std::uint8_t(std::rand());
        }
        tempName = stem;
        for (std::uint8_t r : random)
            tempName += alphabet[r % (sizeof alphabet - 1)];
        tempName += kTempSuffix;
        Fd fd(::openat(folderFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            if (errno == EEXIST) continue;
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return fd;
        ::unlinkat(folderFd, tempName.c_str(), 0);
    }
    fail("Fisierul " + quoted(path) + " nu a putut fi salvat: fisierul temporar nu poate fi creat");
}

// Every extended attribute of the original, POSIX ACLs included (as attributes, so the mask stays what it
// was), onto the temporary file. One that cannot be set fails the save: losing it silently would change who
// may read or write the workbook.
void copyAttributes(int from, int to, const std::string& path) {
    ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize < 0) {
        if (errno == ENOTSUP || errno == ENOSYS) return;
        fail("Atributele extinse ale fisierului " + quoted(path) + " nu pot fi citite: " + reason(errno));
    }
    if (listSize == 0) return;
    std::vector<char> list(std::size_t(listSize) + 1);
    listSize = ::flistxattr(from, list.data(), list.size());
    if (listSize < 0)
        fail("Atributele extinse ale fisierului " + quoted(path) + " nu pot fi citite: " + reason(errno));
    std::vector<char> value, present;
    for (std::size_t at = 0; at < std::size_t(listSize);) {
        const std::string attribute(list.data() + at);
        at += attribute.size() + 1;
        if (attribute.empty()) continue;
        const ssize_t n = ::fgetxattr(from, attribute.c_str(), nullptr, 0);
        if (n < 0) {
            if (errno == ENODATA) continue; // removed meanwhile
            fail("Atributul extins " + quoted(attribute) + " al fisierului " + quoted(path) +
                 " nu poate fi citit: " + reason(errno));
        }
        value.resize(std::size_t(n) + 1);
        const ssize_t got = ::fgetxattr(from, attribute.c_str(), value.data(), value.size());
        if (got < 0) continue;
        if (::fsetxattr(to, attribute.c_str(), value.data(), std::size_t(got), 0) == 0) continue;
        const int e = errno;
        // Set on the new file already, with the same value (a label the system gives every file): kept.
        present.resize(value.size());
        const ssize_t has = ::fgetxattr(to, attribute.c_str(), present.data(), present.size());
        if (has == got && std::equal(value.begin(), value.begin() + got, present.begin())) continue;
        fail("Fisierul " + quoted(path) + " nu a putut fi salvat: atributul extins " + quoted(attribute) +
             " nu poate fi pastrat (" + reason(e) + "); nimic nu a fost scris");
    }
}

enum class LockWait { Locked, Replaced };

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
        if (contentLocked(fd)) fail("Fisierul " + quoted(path) + " este blocat de alt program");
        if (std::chrono::steady_clock::now() > deadline)
            fail(
                "Fisierul " + quoted(path) +
                " este scris chiar acum de alta rulare Ordana; incercati din nou dupa ce aceasta se termina");
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

struct Opened {
    Fd folder;
    Fd file;
    std::string folderPath, name;
    struct stat st {};
    bool locked = false;
};

// Opens the real file through its folder's descriptor, never through a link at the last step, and for a
// writer takes Ordana's writer lock on it, waiting for another run that holds it.
Opened openReal(const std::string& path, bool forWriting, int waitMilliseconds) {
    requireFolder(folderOf(path));
    const std::string target = resolveTarget(path);
    Opened o;
    o.folderPath = folderOf(target);
    o.name = nameOf(target);
    requireFolder(o.folderPath);
    o.folder.reset(::open(o.folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (o.folder.get() < 0) fail("Dosarul " + quoted(o.folderPath) + " nu poate fi citit: " + reason(errno));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    int replaced = 0;
    for (;;) {
        if (forWriting && std::chrono::steady_clock::now() > deadline)
            fail("Fisierul " + quoted(path) + " este inlocuit mereu de alt program si nu poate fi deschis");
        o.file.reset(::openat(o.folder.get(), o.name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (o.file.get() < 0) {
            if (errno == ENOENT) fail("Fisierul " + quoted(path) + " nu exista");
            if (errno == ELOOP)
                fail("Fisierul " + quoted(path) + " a fost inlocuit cu o legatura in timp ce era deschis");
            fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
        }
        if (::fstat(o.file.get(), &o.st) != 0)
            fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
        if (S_ISDIR(o.st.st_mode)) fail(quoted(path) + " este un dosar, nu un fisier");
        if (!S_ISREG(o.st.st_mode)) fail(quoted(path) + " nu este un fisier obisnuit");
        // Unlinked between the open and now: the name has a new file (another save), which is the one to
        // read.
        if (o.st.st_nlink == 0) {
            if (++replaced > 100)
                fail("Fisierul " + quoted(path) + " a fost sters si nu mai are un nume in dosar");
            continue;
        }
        if (!forWriting) return o;

        // The lock needs a descriptor open for writing; one the user may not write is read unlocked, and
        // its save refused as write-protected.
        Fd rw(::openat(o.folder.get(), o.name.c_str(),
                       O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat rst {};
        if (rw.get() < 0) return o;
        if (::fstat(rw.get(), &rst) != 0 || !sameFile(rst, o.st)) continue; // replaced between the two opens
        if (waitForWriterLock(rw.get(), o.folder.get(), o.name, rst, path, deadline) == LockWait::Replaced)
            continue; // the other run saved: its result is what we open now
        o.file.reset(rw.release());
        o.st = rst;
        o.locked = true;
        return o;
    }
}

[[noreturn]] void tooLarge(const std::string& path, std::uint64_t size) {
    fail("Fisierul " + quoted(path) + " este prea mare pentru un registru (" + std::to_string(size) +
         " octeti)");
}

// Bytes not yet read on demand are junk: under AddressSanitizer, touching them is reported.
#if defined(__SANITIZE_ADDRESS__)
#define ORDANA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORDANA_ASAN 1
#endif
#endif
void poison(const void* p, std::size_t n) {
#ifdef ORDANA_ASAN
    ASAN_POISON_MEMORY_REGION(p, n);
#else
    (void)p;
    (void)n;
#endif
}
void unpoison(const void* p, std::size_t n) {
#ifdef ORDANA_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
    (void)p;
    (void)n;
#endif
}

// Reads up to n bytes at offset into buffer, to the end of the file at most: how many were read, or -1 with
// errno set.
std::int64_t preadAll(int fd, std::uint8_t* buffer, std::uint64_t n, std::uint64_t offset) {
    std::uint64_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, buffer + done, std::size_t(n - done), off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += std::uint64_t(got);
    }
    return std::int64_t(done);
}

// What a read on demand takes at least: a sheet's first rows, a directory, without a call for each few bytes.
constexpr std::uint64_t kOnDemandBlock = 64 << 10;

// A read on demand after another program changed the file; the engines put the sheet and the file in front.
[[noreturn]] void changedSinceOpened() {
    fail("fisierul a fost schimbat de alt program dupa ce a fost deschis; deschideti-l din nou");
}

[[noreturn]] void failChanged(const std::string& path) {
    fail("Fisierul " + quoted(path) +
         " a fost schimbat de alt program dupa ce a fost citit; nu a fost scris nimic");
}

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

// Whether a file's time of status change, seen at st before a read that began at the coarse clock's
// readingStarted, tells a later write apart. The kernel stamps a write with that clock (or later), so a
// time already behind it when the read began can never be stamped again; the file system must keep
// nanoseconds (a time with less than whole microseconds) and be a local one, whose stamps come from this
// machine's clock.
bool changeTimeProves(int fd, const struct stat& st, const struct timespec& readingStarted) {
    constexpr std::int64_t microsecond = 1000;
    if (st.st_ctim.tv_nsec % microsecond == 0) return false;
    const std::int64_t changed = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    const std::int64_t started = std::int64_t(readingStarted.tv_sec) * 1000000000 + readingStarted.tv_nsec;
    if (changed + microsecond >= started) return false;
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
        return true;
    default:
        return false;
    }
}

// What checkCanSave refuses, judged through the folder's descriptor for the real file that was read.
void checkReplaceable(const SourceFile& source, int folderFd, int fileFd) {
    const std::string& path = source.path();
    struct stat st {};
    if (::fstatat(folderFd, source.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        failChanged(path);
    if (!writableAt(folderFd, source.name().c_str(), st))
        fail("Fisierul " + quoted(path) + " este protejat la scriere");
    struct stat dst {};
    if (::fstat(folderFd, &dst) != 0 || !writableAt(folderFd, ".", dst))
        fail("Dosarul " + quoted(source.folder()) + " este protejat la scriere");
    checkLockFiles(path, source.folder(), source.name());
    if (lockedByOther(fileFd)) fail("Fisierul " + quoted(path) + " este blocat de alt program");
}

// Writes the pieces in large blocks; long pieces that lie in the original's bytes are copied from the
// original file by the kernel. Every few MiB the disk is set to writing what is there, so that the final
// sync waits for the last stretch rather than for the whole file.
class TempWriter {
  public:
    TempWriter(int fd, const SourceFile& source, int originalFd)
        : fd_(fd), originalFd_(originalFd), source_(source) {
        buffer_.reserve(kBlock);
    }
    void put(std::span<const std::uint8_t> piece) {
        if (piece.size() >= kBlock && copyFromOriginal(piece)) return;
        piece = original(piece);
        if (buffer_.size() + piece.size() > kBlock) flush();
        if (piece.size() >= kBlock) {
            write(piece);
            return;
        }
        buffer_.insert(buffer_.end(), piece.begin(), piece.end());
    }
    void flush() {
        write(buffer_);
        buffer_.clear();
    }

  private:
    static constexpr std::size_t kBlock = 1 << 20;
    static constexpr std::size_t kStretch = 4 << 20;

    void write(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            const auto part = bytes.first(std::min(bytes.size(), kStretch));
            writeAll(fd_, part, source_.path());
            written(part.size());
            bytes = bytes.subspan(part.size());
        }
    }
    void written(std::size_t n) {
        end_ += n;
        if (end_ - started_ < kStretch) return;
        (void)::sync_file_range(fd_, loff_t(started_), loff_t(end_ - started_), SYNC_FILE_RANGE_WRITE);
        started_ = end_;
    }
    bool inOriginal(std::span<const std::uint8_t> piece) const {
        const FileBytes& all = *source_.data();
        return piece.data() >= all.base() && piece.data() + piece.size() <= all.base() + all.size();
    }
    // A piece of the original's bytes, read first where it was not yet (a file read as the engines asked).
    std::span<const std::uint8_t> original(std::span<const std::uint8_t> piece) const {
        return inOriginal(piece) ? source_.data()->view(piece) : piece;
    }
    bool copyFromOriginal(std::span<const std::uint8_t> piece) {
        if (!useCopy_ || !inOriginal(piece)) return false;
        flush();
        loff_t from = piece.data() - source_.data()->base();
        std::size_t left = piece.size();
        while (left > 0) {
            const ssize_t n =
                ::copy_file_range(originalFd_, &from, fd_, nullptr, std::min(left, kStretch), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (left == piece.size() && n < 0 &&
                    (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                     errno == EBADF)) {
                    useCopy_ = false;
                    return false;
                }
                // Part copied: the rest from memory, which holds the same bytes.
                write(original(piece.last(left)));
                return true;
            }
            left -= std::size_t(n);
            written(std::size_t(n));
        }
        return true;
    }
    int fd_;
    int originalFd_;
    const SourceFile& source_;
    std::vector<std::uint8_t> buffer_;
    std::size_t started_ = 0; // the file's bytes before this were set to writing
    std::size_t end_ = 0;
    bool useCopy_ = true;
};

} // namespace

std::string temporaryStem(const std::string& name) {
    // 255 bytes in all: the prefix, KEY, ".", six characters and the suffix.
    const std::size_t overhead = std::strlen(kTempPrefix) + 1 + 6 + std::strlen(kTempSuffix);
    const std::size_t room = NAME_MAX - overhead;
    if (name.size() <= room) return kTempPrefix + name + ".";
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(XXH3_64bits(name.data(), name.size())));
    std::size_t cut = room - 1 - 16;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 sequence
    return kTempPrefix + name.substr(0, cut) + "~" + hash + ".";
}

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
        if (!writableAt(AT_FDCWD, target.c_str(), st))
            fail("Fisierul " + quoted(path) + " este protejat la scriere");
    }
    struct stat dst {};
    if (::stat(folder.c_str(), &dst) != 0 || !writableAt(AT_FDCWD, folder.c_str(), dst))
        fail("Dosarul " + quoted(folder) + " este protejat la scriere");
    checkLockFiles(path, folder, nameOf(target));
    if (exists) {
        Fd fd(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (fd.get() >= 0 && lockedByOther(fd.get()))
            fail("Fisierul " + quoted(path) + " este blocat de alt program");
        // Saving by rename makes the saver the owner; another user's file is refused rather than taken.
        if (::geteuid() != 0 && st.st_uid != ::geteuid())
            fail("Fisierul " + quoted(path) + " apartine altui utilizator (uid " + std::to_string(st.st_uid) +
                 "); salvarea l-ar trece pe numele dumneavoastra, asa ca nu a fost scris nimic");
    }
}

FileBytes::FileBytes(std::vector<std::uint8_t> bytes) : held_(std::move(bytes)) {
    bytes_ = held_.data();
    size_ = held_.size();
    read_ = size_;
}

FileBytes::~FileBytes() {
    if (fd_ >= 0) ::close(fd_);
    if (buffer_ && !complete_) unpoison(buffer_.get(), size_);
}

std::shared_ptr<FileBytes> FileBytes::readWhole(int fd, std::uint64_t size, const std::string& path) {
    if (size > kMaxWorkbookBytes) tooLarge(path, size);
    ::fcntl(fd, F_SETFL, 0); // blocking reads from here on: it is a regular file
    std::shared_ptr<FileBytes> b(new FileBytes());
    // Read straight into memory that was never zeroed: each fresh page is written once, by the kernel's copy.
    b->buffer_.reset(new std::uint8_t[std::max<std::uint64_t>(size, 1)]);
    adviseLarge(b->buffer_.get(), std::size_t(size));
    // Shorter than it was: the caller sees the change in its size.
    const std::int64_t done = preadAll(fd, b->buffer_.get(), size, 0);
    if (done < 0) fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
    b->bytes_ = b->buffer_.get();
    b->size_ = std::size_t(done);
    b->read_ = std::uint64_t(done);
    return b;
}

std::shared_ptr<FileBytes> FileBytes::readOnDemand(int fd, std::uint64_t size, std::int64_t mtimeSeconds,
                                                   std::int64_t mtimeNanoseconds, const std::string& path) {
    std::shared_ptr<FileBytes> b(new FileBytes());
    b->fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (b->fd_ < 0) fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
    ::fcntl(b->fd_, F_SETFL, 0);
    b->mtimeSeconds_ = mtimeSeconds;
    b->mtimeNanoseconds_ = mtimeNanoseconds;
    b->unread(std::size_t(size), kOnDemandBlock);
    poison(b->buffer_.get(), b->size_);
    return b;
}

std::shared_ptr<FileBytes> FileBytes::onDemandFrom(std::vector<std::uint8_t> bytes, std::size_t block) {
    std::shared_ptr<FileBytes> b(new FileBytes());
    b->held_ = std::move(bytes);
    b->unread(b->held_.size(), std::max<std::size_t>(block, 1));
    std::memset(b->buffer_.get(), 0xA5, b->size_);
    poison(b->buffer_.get(), b->size_);
    return b;
}

void FileBytes::unread(std::size_t size, std::size_t block) {
    // Pages of this block are taken from the kernel only as reads reach them.
    buffer_.reset(new std::uint8_t[std::max<std::size_t>(size, 1)]);
    bytes_ = buffer_.get();
    size_ = size;
    block_ = block;
    have_.assign((size + block - 1) / block, false);
    complete_ = size == 0;
}

const std::uint8_t* FileBytes::data() const {
    if (!complete_.load(std::memory_order_acquire)) fill(0, size_);
    return bytes_;
}

std::span<const std::uint8_t> FileBytes::view(std::uint64_t offset, std::uint64_t length) const {
    offset = std::min<std::uint64_t>(offset, size_);
    length = std::min<std::uint64_t>(length, size_ - offset);
    if (!complete_.load(std::memory_order_acquire)) fill(offset, offset + length);
    return {bytes_ + offset, std::size_t(length)};
}

std::span<const std::uint8_t> FileBytes::view(std::span<const std::uint8_t> inside) const {
    if (inside.empty()) return inside;
    return view(std::uint64_t(inside.data() - bytes_), inside.size());
}

std::uint64_t FileBytes::bytesRead() const {
    std::lock_guard lock(mutex_);
    return read_;
}

void FileBytes::fill(std::uint64_t from, std::uint64_t to) const {
    if (from >= to) return;
    std::lock_guard lock(mutex_);
    if (complete_.load(std::memory_order_relaxed)) return;
    const std::size_t first = std::size_t(from / block_), last = std::size_t((to - 1) / block_);
    std::vector<std::pair<std::size_t, std::size_t>> runs; // blocks [a, b) read now
    for (std::size_t k = first; k <= last; ++k) {
        if (have_[k]) continue;
        if (!runs.empty() && runs.back().second == k)
            ++runs.back().second;
        else
            runs.emplace_back(k, k + 1);
    }
    if (runs.empty()) return;
    // A large read (the whole file, for the engines that parse it all) into fresh memory: huge pages, as for
    // a file read whole at the open.
    if (to - from >= (std::uint64_t(4) << 20)) adviseLarge(buffer_.get() + from, std::size_t(to - from));
    std::uint64_t got = 0;
    for (const auto& [a, b] : runs) {
        const std::uint64_t at = std::uint64_t(a) * block_;
        const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t(b) * block_, size_);
        unpoison(buffer_.get() + at, std::size_t(end - at));
        if (fd_ < 0) { // onDemandFrom
            std::memcpy(buffer_.get() + at, held_.data() + at, std::size_t(end - at));
            got += end - at;
            continue;
        }
        const std::int64_t n = preadAll(fd_, buffer_.get() + at, end - at, at);
        if (n < 0) fail("fisierul nu mai poate fi citit: " + reason(errno));
        if (std::uint64_t(n) < end - at) changedSinceOpened(); // shorter than it was
        got += end - at;
    }
    // What was read belongs to the version opened only if the file still is that version.
    checkVersion();
    for (const auto& [a, b] : runs)
        for (std::size_t k = a; k < b; ++k)
            have_[k] = true;
    read_ += got;
    if (read_ == size_) complete_.store(true, std::memory_order_release);
}

void FileBytes::checkVersion() const {
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || std::uint64_t(st.st_size) != size_ ||
                     st.st_mtim.tv_sec != mtimeSeconds_ || st.st_mtim.tv_nsec != mtimeNanoseconds_))
        changedSinceOpened();
}

std::span<const std::uint8_t> FileBytes::passing(std::uint64_t offset, std::size_t atLeast, std::size_t upTo,
                                                 std::vector<std::uint8_t>& buffer) const {
    offset = std::min<std::uint64_t>(offset, size_);
    const std::uint64_t left = size_ - offset;
    if (complete_.load(std::memory_order_acquire)) return {bytes_ + offset, std::size_t(left)};
    // Bytes in memory hand out pieces of a block's size, as small as a fuzzer asks for.
    const std::size_t n = std::size_t(
        std::min<std::uint64_t>(left, fd_ < 0 ? std::max(atLeast, block_) : std::max(atLeast, upTo)));
    buffer.resize(n);
    if (fd_ < 0) {
        std::memcpy(buffer.data(), held_.data() + offset, n);
    } else {
        const std::int64_t got = preadAll(fd_, buffer.data(), n, offset);
        if (got < 0) fail("fisierul nu mai poate fi citit: " + reason(errno));
        if (std::uint64_t(got) < n) changedSinceOpened();
        checkVersion();
    }
    return {buffer.data(), n};
}

std::shared_ptr<const SourceFile> SourceFile::open(const std::string& path, Mode mode, int waitMilliseconds) {
    Opened o = openReal(path, mode == Mode::ReadForWriting, waitMilliseconds);
    std::shared_ptr<SourceFile> source(new SourceFile());
    source->path_ = path;
    // A file to be saved whose time of status change will tell any later write is read as the engines ask,
    // like one only read: the save holds it to that time, and copies what was never read from the file.
    struct timespec now {};
    const bool proven = mode == Mode::ReadForWriting && ::clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0 &&
                        changeTimeProves(o.file.get(), o.st, now);
    if (mode != Mode::ReadOnDemand && !proven) {
        // A file written while we read it is read again (a few times), so the bytes match one version.
        for (int attempt = 0;; ++attempt) {
            struct timespec started {};
            const bool clock = ::clock_gettime(CLOCK_REALTIME_COARSE, &started) == 0;
            auto bytes = FileBytes::readWhole(o.file.get(), std::uint64_t(o.st.st_size), path);
            struct stat after {};
            if (::fstat(o.file.get(), &after) != 0)
                fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
            source->data_ = std::move(bytes);
            if (std::uint64_t(after.st_size) == source->data_->size() &&
                after.st_mtim.tv_sec == o.st.st_mtim.tv_sec &&
                after.st_mtim.tv_nsec == o.st.st_mtim.tv_nsec) {
                // Unmoved across the whole read, the time of status change vouches for these bytes.
                source->changeTime_ = {clock && after.st_ctim.tv_sec == o.st.st_ctim.tv_sec &&
                                           after.st_ctim.tv_nsec == o.st.st_ctim.tv_nsec &&
                                           changeTimeProves(o.file.get(), after, started),
                                       after.st_ctim.tv_sec, after.st_ctim.tv_nsec};
                break;
            }
            if (attempt == 3) fail("Fisierul " + quoted(path) + " este scris de alt program chiar acum");
            o.st = after;
        }
    } else {
        // Each part as it is asked for, held to the version opened.
        if (std::uint64_t(o.st.st_size) > kMaxWorkbookBytes) tooLarge(path, std::uint64_t(o.st.st_size));
        source->data_ = FileBytes::readOnDemand(o.file.get(), std::uint64_t(o.st.st_size),
                                                o.st.st_mtim.tv_sec, o.st.st_mtim.tv_nsec, path);
        source->onDemand_ = !proven;
        source->changeTime_ = {proven, o.st.st_ctim.tv_sec, o.st.st_ctim.tv_nsec};
    }
    source->version_ = {std::uint64_t(o.st.st_dev), std::uint64_t(o.st.st_ino),
                        std::uint64_t(source->data_->size()), o.st.st_mtim.tv_sec, o.st.st_mtim.tv_nsec};
    source->folder_ = o.folderPath;
    source->name_ = o.name;
    source->locked_ = o.locked;
    source->folderFd_ = o.folder.release();
    source->fileFd_ = o.file.release();
    return source;
}

std::shared_ptr<const SourceFile> SourceFile::read(const std::string& path) {
    return open(path, Mode::Read, 0);
}

std::shared_ptr<const SourceFile> SourceFile::readOnDemand(const std::string& path) {
    return open(path, Mode::ReadOnDemand, 0);
}

std::shared_ptr<const SourceFile> SourceFile::readForWriting(const std::string& path, int waitMilliseconds) {
    return open(path, Mode::ReadForWriting, waitMilliseconds);
}

std::shared_ptr<const SourceFile> SourceFile::fromBytes(std::vector<std::uint8_t> bytes, std::string path) {
    return fromBytes(std::make_shared<const FileBytes>(std::move(bytes)), std::move(path));
}

std::shared_ptr<const SourceFile> SourceFile::fromBytes(std::shared_ptr<const FileBytes> bytes,
                                                        std::string path) {
    std::shared_ptr<SourceFile> source(new SourceFile());
    source->path_ = std::move(path);
    source->version_.size = bytes->size();
    source->data_ = std::move(bytes);
    return source;
}

SourceFile::~SourceFile() {
    if (fileFd_ >= 0) ::close(fileFd_); // releases the writer lock with the descriptor
    if (folderFd_ >= 0) ::close(folderFd_);
}

void saveInPlace(const SourceFile& source, const std::function<void(const ByteSink&)>& produce) {
    const std::string& path = source.path();
    if (!source.onDisk())
        fail("Registrul " + quoted(path) + " nu a fost citit dintr-un fisier si nu poate fi salvat pe loc");
    // Bytes read later than the open could be another program's, written with the time of change put back;
    // only the comparison of bytes read at the open with the file tells, so such a source is not saved.
    if (source.onDemand_)
        fail("Registrul " + quoted(path) +
             " a fost deschis doar pentru citire si nu poate fi salvat; "
             "nu a fost scris nimic");
    requireFolder(source.folder());
    const int folderFd = source.folderFd_;
    const std::string& name = source.name();

    // A source read without the writer lock takes it now, and the version check below tells whether another
    // run saved meanwhile.
    Fd ownLock;
    int lockFd = source.fileFd_;
    if (!source.holdsWriterLock()) {
        ownLock.reset(
            ::openat(folderFd, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (ownLock.get() < 0) {
            if (errno == EACCES || errno == EROFS || errno == EPERM)
                fail("Fisierul " + quoted(path) + " este protejat la scriere");
            failChanged(path);
        }
        if (::fstat(ownLock.get(), &st) != 0 || !sameVersion(st, source.version())) failChanged(path);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriterWaitMilliseconds);
        if (waitForWriterLock(ownLock.get(), folderFd, name, st, path, deadline) == LockWait::Replaced)
            failChanged(path);
        lockFd = ownLock.get();
    }

    checkReplaceable(source, folderFd, lockFd);
    struct stat original {};
    if (::fstat(source.fileFd_, &original) != 0) failChanged(path);
    if (::geteuid() != 0 && original.st_uid != ::geteuid())
        fail("Fisierul " + quoted(path) + " apartine altui utilizator (uid " +
             std::to_string(original.st_uid) +
             "); salvarea l-ar trece pe numele dumneavoastra, asa ca nu a fost scris nimic");
    // The content is compared once the new file is written, and before anything of it takes the name.
    requireSameFile(source, folderFd);
    removeStaleTemps(folderFd, name);

    std::string temp;
    Fd fd = createTemp(folderFd, name, path, temp);
    // The new file carries the writer lock too, so a run waiting for this one finds it locked once renamed
    // and reads it only after this run has let go of it (and of its flock) altogether.
    (void)tryWriterLock(fd.get());
    try {
        TempWriter writer(fd.get(), source, source.fileFd_);
        produce([&](std::span<const std::uint8_t> piece) { writer.put(piece); });
        writer.flush();

        // Owner and group first (a change of owner clears set-id bits and file capabilities), then the
        // attributes, then the mode, whose group bits are the ACL's mask the attributes carried.
        struct stat ts {};
        if (::fstat(fd.get(), &ts) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));
        if ((ts.st_uid != original.st_uid || ts.st_gid != original.st_gid) &&
            ::fchown(fd.get(), original.st_uid, original.st_gid) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: proprietarul sau grupul lui (" +
                 std::to_string(original.st_uid) + ":" + std::to_string(original.st_gid) +
                 ") nu pot fi pastrate; nimic nu a fost scris");
        copyAttributes(source.fileFd_, fd.get(), path);
        if (::fstat(fd.get(), &ts) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));
        mode_t mode = original.st_mode & 07777;
        if (ts.st_uid != original.st_uid) mode &= ~mode_t(S_ISUID);
        if (ts.st_gid != original.st_gid) mode &= ~mode_t(S_ISGID);
        if (::fchmod(fd.get(), mode) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));
        // The disk writes the new file while the original's bytes are compared with those read; the copy
        // came from them, so the comparison comes after it.
        (void)::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        requireSameContent(source, source.fileFd_);
        if (::fsync(fd.get()) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));

        // The last moment: other programs' locks, and the name still holding the file read.
        checkReplaceable(source, folderFd, lockFd);
        requireSameFile(source, folderFd);

        // Exchanging rather than renaming shows which file left the name; if it was not the one read (changed
        // in the instant since the check), it goes back.
        if (::renameat2(folderFd, temp.c_str(), folderFd, name.c_str(), RENAME_EXCHANGE) == 0) {
            struct stat displaced {};
            if (::fstatat(folderFd, temp.c_str(), &displaced, AT_SYMLINK_NOFOLLOW) != 0 ||
                !sameVersion(displaced, source.version())) {
                if (::renameat2(folderFd, temp.c_str(), folderFd, name.c_str(), RENAME_EXCHANGE) == 0)
                    failChanged(path);
                fail("Fisierul " + quoted(path) +
                     " a fost schimbat de alt program in timpul salvarii; "
                     "versiunea acestuia este pastrata ca " +
                     quoted(temp));
            }
            (void)::unlinkat(folderFd, temp.c_str(), 0);
        } else if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
            if (::renameat(folderFd, temp.c_str(), folderFd, name.c_str()) != 0)
                fail("Fisierul " + quoted(path) + " nu a putut fi inlocuit: " + reason(errno));
        } else {
            fail("Fisierul " + quoted(path) + " nu a putut fi inlocuit: " + reason(errno));
        }
        fd.reset();
    } catch (...) {
        struct stat left {};
        if (::fstatat(folderFd, temp.c_str(), &left, AT_SYMLINK_NOFOLLOW) == 0) {
            struct stat mine {};
            if (fd.get() >= 0 && ::fstat(fd.get(), &mine) == 0 && sameFile(mine, left))
                ::unlinkat(folderFd, temp.c_str(), 0);
        }
        throw;
    }

    // The rename itself must reach the disk; a folder that cannot be synced has the new file all the same.
    (void)::fsync(folderFd);
}

} // namespace ordana::spreadsheet
