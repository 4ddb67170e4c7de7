#include "Failures.h"
#include "Posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace ordana::spreadsheet::file {

using text::quoted;

namespace {

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

// Where the file system allows, the temporary file is made without a name and then linked under its signed
// name, so that no save, however killed, leaves a file of ours that a later one cannot recognise.
NativeFile unnamedTemp(int folderFd) {
    return NativeFile(::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
}

bool linkUnder(const NativeFile& fd, int folderFd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    return ::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Elsewhere it is made under a random name and renamed to its signed one.
NativeFile namedTemp(int folderFd, const std::string& stem, std::string& provisional) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uint8_t random[6];
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
        for (auto& r : random)
            r = std::uint8_t(std::rand());
    }
    provisional = stem;
    for (std::uint8_t r : random)
        provisional += alphabet[r % (sizeof alphabet - 1)];
    provisional += kTempSuffix;
    return NativeFile(
        ::openat(folderFd, provisional.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

TempIdentity identityOf(const struct stat& st) {
    return {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(st.st_uid)};
}

enum class Named { Yes, Taken, NotLinkable };

// Gives the new file fd its signed name in the folder. Taken: another file has that name (try another file);
// NotLinkable: an unnamed file cannot be given a name here (no /proc).
Named nameTemp(const NativeFile& fd, int folderFd, const std::string& stem, const std::string& provisional,
               std::string& tempName, const std::string& path) {
    struct stat st {};
    if (::fstat(int(fd.get()), &st) != 0) notSaved(path, reason(errno));
    tempName = signedTempName(stem, identityOf(st));
    const bool named = provisional.empty() ? linkUnder(fd, folderFd, tempName)
                                           : ::renameat2(folderFd, provisional.c_str(), folderFd,
                                                         tempName.c_str(), RENAME_NOREPLACE) == 0;
    if (named) return Named::Yes;
    const int e = errno;
    if (!provisional.empty()) ::unlinkat(folderFd, provisional.c_str(), 0);
    if (e == EEXIST) return Named::Taken;
    if (provisional.empty()) return Named::NotLinkable;
    notSaved(path, reason(e));
}

} // namespace

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

// Leftovers of saves that died: regular files of ours with this workbook's temporary stem and the signature
// of the very file, not locked by a living writer, and old enough that no save still running can own them.
void removeStaleTemps(int folderFd, const std::string& name) {
    NativeFile dup(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    if (dup.get() < 0) return;
    DIR* dir = ::fdopendir(dup.get());
    if (!dir) return;
    dup.release();
    ::rewinddir(dir);
    const std::string stem = temporaryStem(name);
    // The names first, the removals after: what readdir returns once entries go is unspecified.
    std::vector<std::string> candidates;
    while (const dirent* e = ::readdir(dir))
        if (looksLikeTemp(e->d_name, stem)) candidates.emplace_back(e->d_name);
    ::closedir(dir);
    const auto now = std::chrono::system_clock::now();
    for (const std::string& entry : candidates) {
        NativeFile fd(
            ::openat(folderFd, entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (!fd.valid() || ::fstat(int(fd.get()), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || !isOurTemp(entry, stem, identityOf(st)))
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
}

NativeFile createTemp(int folderFd, const std::string& name, const std::string& path, std::string& tempName) {
    const std::string stem = temporaryStem(name);
    bool unnamed = true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string provisional;
        NativeFile fd;
        if (unnamed) fd = unnamedTemp(folderFd);
        if (!fd.valid()) {
            unnamed = false;
            fd = namedTemp(folderFd, stem, provisional);
        }
        if (!fd.valid()) {
            if (errno == EEXIST) continue;
            notSaved(path, reason(errno));
        }
        const Named named = nameTemp(fd, folderFd, stem, provisional, tempName, path);
        if (named == Named::NotLinkable) unnamed = false;
        if (named != Named::Yes) continue;
        if (::flock(int(fd.get()), LOCK_EX | LOCK_NB) == 0) return fd;
        ::unlinkat(folderFd, tempName.c_str(), 0);
    }
    notSaved(path, "fisierul temporar nu poate fi creat");
}

// Owner and group first (a change of owner clears set-id bits and file capabilities), then the attributes,
// then the mode, whose group bits are the ACL's mask the attributes carried.
void carryMetadata(int from, int to, const struct stat& original, const std::string& path) {
    struct stat ts {};
    if (::fstat(to, &ts) != 0) notSaved(path, reason(errno));
    if ((ts.st_uid != original.st_uid || ts.st_gid != original.st_gid) &&
        ::fchown(to, original.st_uid, original.st_gid) != 0)
        notSaved(path, "proprietarul sau grupul lui (" + std::to_string(original.st_uid) + ":" +
                           std::to_string(original.st_gid) + ") nu pot fi pastrate; nimic nu a fost scris");
    copyAttributes(from, to, path);
    if (::fstat(to, &ts) != 0) notSaved(path, reason(errno));
    mode_t mode = original.st_mode & 07777;
    if (ts.st_uid != original.st_uid) mode &= ~mode_t(S_ISUID);
    if (ts.st_gid != original.st_gid) mode &= ~mode_t(S_ISGID);
    if (::fchmod(to, mode) != 0) notSaved(path, reason(errno));
}

void writeContent(int fd, const SourceFile& source, int originalFd,
                  const std::function<void(const ByteSink&)>& produce) {
    TempWriter writer(fd, source, originalFd);
    produce([&](std::span<const std::uint8_t> piece) { writer.put(piece); });
    writer.flush();
}

} // namespace ordana::spreadsheet::file
