#include "FileAccess.h"

#include "LargeBuffer.h"
#include "common/RuntimeError.h"
#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

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

// Write access as a user would judge it: the kernel's answer, and for root, who may write anything, the
// permission bits, so that a file or folder marked read-only stays read-only.
bool writable(const std::string& path, const struct stat& st) {
    if (::access(path.c_str(), W_OK) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// The real file behind a chain of symbolic links (bounded like the kernel's), even when it does not exist
// yet.
std::string resolveTarget(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
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

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

// Another program's lock on the file itself: POSIX/OFD record locks or flock.
bool lockedByOther(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return false;
    struct flock lk {};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_OFD_GETLK, &lk) == 0 && lk.l_type != F_UNLCK) return true;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
    ::flock(fd.get(), LOCK_UN);
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

// Leftovers of saves that died: every temporary file of this workbook whose writer no longer holds its lock.
void removeStaleTemps(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    const std::string prefix = std::string(kTempPrefix) + name + ".";
    while (const dirent* e = ::readdir(dir)) {
        const std::string entry = e->d_name;
        if (!entry.starts_with(prefix) || entry.size() != prefix.size() + 6) continue;
        Fd fd(::openat(::dirfd(dir), entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(dir), entry.c_str(), 0);
    }
    ::closedir(dir);
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(n < 0 ? errno : ENOSPC));
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

std::vector<std::uint8_t> readWorkbookFile(const std::string& path) {
    requireFolder(folderOf(path));
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ENOENT) fail("Fisierul " + quoted(path) + " nu exista");
        fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
    if (S_ISDIR(st.st_mode)) fail(quoted(path) + " este un dosar, nu un fisier");
    if (!S_ISREG(st.st_mode)) fail(quoted(path) + " nu este un fisier obisnuit");
    auto tooLarge = [&](std::uint64_t size) {
        fail("Fisierul " + quoted(path) + " este prea mare pentru un registru (" + std::to_string(size) +
             " octeti)");
    };
    if (static_cast<std::uint64_t>(st.st_size) > kMaxWorkbookBytes)
        tooLarge(static_cast<std::uint64_t>(st.st_size));
    ::fcntl(fd.get(), F_SETFL, 0); // blocking reads from here on: it is a regular file

    std::vector<std::uint8_t> bytes;
    reserveLarge(bytes, static_cast<std::size_t>(st.st_size));
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t have = 0;
    std::uint8_t more[65536];
    for (;;) {
        // Into the buffer while it has room; past fstat's size (the file grew meanwhile) through a small one.
        const bool room = have < bytes.size();
        const ssize_t n = room ? ::read(fd.get(), bytes.data() + have, bytes.size() - have)
                               : ::read(fd.get(), more, sizeof more);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("Fisierul " + quoted(path) + " nu poate fi citit: " + reason(errno));
        if (n == 0) break;
        if (!room) {
            if (bytes.size() + static_cast<std::size_t>(n) > kMaxWorkbookBytes)
                tooLarge(bytes.size() + static_cast<std::size_t>(n));
            bytes.insert(bytes.end(), more, more + n);
        }
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return bytes;
}

void checkCanSave(const std::string& path) {
    const std::string target = resolveTarget(path);
    const std::string folder = folderOf(target);
    requireFolder(folderOf(path));
    requireFolder(folder);

    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) fail(quoted(path) + " este un dosar, nu un fisier");
        if (!S_ISREG(st.st_mode)) fail(quoted(path) + " nu este un fisier obisnuit");
        if (!writable(target, st)) fail("Fisierul " + quoted(path) + " este protejat la scriere");
    }
    struct stat dst {};
    if (::stat(folder.c_str(), &dst) != 0 || !writable(folder, dst))
        fail("Dosarul " + quoted(folder) + " este protejat la scriere");

    // Lock files sit beside the name the other program opened: the link's or the real file's.
    for (const auto& [dir, name] :
         {std::pair{folderOf(path), nameOf(path)}, std::pair{folder, nameOf(target)}}) {
        const std::string lock = lockFileBeside(dir, name);
        if (!lock.empty())
            fail("Fisierul " + quoted(path) + " este deschis in alt program (exista fisierul de blocare " +
                 quoted(lock) + ")");
    }
    if (exists && lockedByOther(target)) fail("Fisierul " + quoted(path) + " este blocat de alt program");
}

void saveInPlace(const std::string& path, std::span<const std::uint8_t> bytes) {
    saveInPlace(path, [&](const ByteSink& sink) { sink(bytes); });
}

void saveInPlace(const std::string& path, const std::function<void(const ByteSink&)>& produce) {
    checkCanSave(path);
    const std::string target = resolveTarget(path);
    const std::string folder = folderOf(target);
    const std::string name = nameOf(target);
    removeStaleTemps(folder, name);

    struct stat original {};
    const bool exists = ::stat(target.c_str(), &original) == 0;

    // The temporary file, locked for as long as it is ours so that a concurrent cleanup leaves it alone; if a
    // cleanup unlinked it between creation and locking, make another.
    std::string temp;
    Fd fd;
    for (int attempt = 0; attempt < 5 && fd.get() < 0; ++attempt) {
        temp = folder + "/" + kTempPrefix + name + ".XXXXXX";
        const int raw = ::mkostemp(temp.data(), O_CLOEXEC);
        if (raw < 0) fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));
        fd.reset(raw);
        struct stat ts {};
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &ts) != 0 || ts.st_nlink == 0) {
            ::unlink(temp.c_str());
            fd.reset();
        }
    }
    if (fd.get() < 0)
        fail("Fisierul " + quoted(path) + " nu a putut fi salvat: fisierul temporar nu poate fi creat");

    try {
        produce([&](std::span<const std::uint8_t> piece) { writeAll(fd.get(), piece, path); });
        mode_t mode;
        if (exists) {
            // Owner first: a change of owner may clear the set-id bits that the mode then restores.
            if (::fchown(fd.get(), original.st_uid, original.st_gid) != 0)
                (void)::fchown(fd.get(), static_cast<uid_t>(-1), original.st_gid);
            mode = original.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        if (::fchmod(fd.get(), mode) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));
        if (::fsync(fd.get()) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi salvat: " + reason(errno));
        // Still open, so still locked: no cleanup can take the file away before the rename.
        if (::rename(temp.c_str(), target.c_str()) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi inlocuit: " + reason(errno));
        fd.reset();
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }

    // The rename itself must reach the disk; a folder that cannot be synced has the new file all the same.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) (void)::fsync(dir.get());
}

std::shared_ptr<const SourceFile> SourceFile::read(const std::string& path) {
    return std::shared_ptr<const SourceFile>(
        new SourceFile(path, std::make_shared<const std::vector<std::uint8_t>>(readWorkbookFile(path))));
}

std::shared_ptr<const SourceFile> SourceFile::fromBytes(std::vector<std::uint8_t> bytes, std::string path) {
    return std::shared_ptr<const SourceFile>(
        new SourceFile(std::move(path), std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))));
}

void saveInPlace(const SourceFile& source, const std::function<void(const ByteSink&)>& produce) {
    saveInPlace(source.path(), produce);
}

} // namespace ordana::spreadsheet
