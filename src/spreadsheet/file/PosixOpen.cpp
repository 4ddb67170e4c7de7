#include "Failures.h"
#include "Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

namespace ordana::spreadsheet {

using namespace file;
using text::quoted;

namespace {

struct Opened {
    NativeFile folder;
    NativeFile file;
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
        NativeFile rw(::openat(o.folder.get(), o.name.c_str(),
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

// Reads the whole file now; a file written while it is read is read again (a few times), so the bytes match
// one version. Sets the source's bytes and time of status change, and o.st to the version read.
void readWholeVersion(Opened& o, SourceFile& source, std::shared_ptr<const FileBytes>& data,
                      SourceFile::ChangeTime& changeTime) {
    const std::string& path = source.path();
    for (int attempt = 0;; ++attempt) {
        struct timespec started {};
        const bool clock = ::clock_gettime(CLOCK_REALTIME_COARSE, &started) == 0;
        auto bytes = FileBytes::readWhole(o.file, std::uint64_t(o.st.st_size), path);
        struct stat after {};
        if (::fstat(int(o.file.get()), &after) != 0) notReadable(path, reason(errno));
        data = std::move(bytes);
        if (std::uint64_t(after.st_size) == data->size() && after.st_mtim.tv_sec == o.st.st_mtim.tv_sec &&
            after.st_mtim.tv_nsec == o.st.st_mtim.tv_nsec) {
            // Unmoved across the whole read, the time of status change vouches for these bytes.
            changeTime = {clock && after.st_ctim.tv_sec == o.st.st_ctim.tv_sec &&
                              after.st_ctim.tv_nsec == o.st.st_ctim.tv_nsec &&
                              changeTimeProves(int(o.file.get()), after, started),
                          after.st_ctim.tv_sec, after.st_ctim.tv_nsec};
            return;
        }
        if (attempt == 3) fail("Fisierul " + quoted(path) + " este scris de alt program chiar acum");
        o.st = after;
    }
}

} // namespace

std::shared_ptr<const SourceFile> SourceFile::open(const std::string& path, Mode mode, int waitMilliseconds) {
    Opened o = openReal(path, mode == Mode::ReadForWriting, waitMilliseconds);
    ::fcntl(int(o.file.get()), F_SETFL, 0); // blocking reads from here on: it is a regular file
    std::shared_ptr<SourceFile> source(new SourceFile());
    source->path_ = path;
    // A file to be saved whose time of status change will tell any later write is read as the engines ask,
    // like one only read: the save holds it to that time, and copies what was never read from the file.
    struct timespec now {};
    const bool proven = mode == Mode::ReadForWriting && ::clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0 &&
                        changeTimeProves(int(o.file.get()), o.st, now);
    if (mode != Mode::ReadOnDemand && !proven) {
        readWholeVersion(o, *source, source->data_, source->changeTime_);
    } else {
        // Each part as it is asked for, held to the version opened.
        if (std::uint64_t(o.st.st_size) > kMaxWorkbookBytes) tooLarge(path, std::uint64_t(o.st.st_size));
        source->data_ = FileBytes::readOnDemand(
            o.file, {std::uint64_t(o.st.st_size), o.st.st_mtim.tv_sec, o.st.st_mtim.tv_nsec}, path);
        source->onDemand_ = !proven;
        source->changeTime_ = {proven, o.st.st_ctim.tv_sec, o.st.st_ctim.tv_nsec};
    }
    source->version_ = {std::uint64_t(o.st.st_dev), std::uint64_t(o.st.st_ino),
                        std::uint64_t(source->data_->size()), o.st.st_mtim.tv_sec, o.st.st_mtim.tv_nsec};
    source->folder_ = o.folderPath;
    source->name_ = o.name;
    source->locked_ = o.locked;
    source->folderHandle_ = std::move(o.folder);
    source->file_ = std::move(o.file);
    return source;
}

} // namespace ordana::spreadsheet
