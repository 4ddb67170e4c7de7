#include "Failures.h"
#include "Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

// The safe save in the WebAssembly build: a new file beside the original, written whole, the original's bytes
// compared with those read, then renamed over it. The page hands the saved file on to the user's disk
// itself (a save in place where the browser allows it, a download elsewhere).

namespace ordana::spreadsheet {

namespace file {

bool holdsNow(int fd, std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> block(std::size_t(256) << 10);
    std::uint64_t done = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, block.data(), block.size(), off_t(done));
        if (n < 0) return false;
        if (n == 0) return done == bytes.size();
        if (std::uint64_t(n) > bytes.size() - done ||
            !std::equal(block.begin(), block.begin() + n, bytes.begin() + std::ptrdiff_t(done)))
            return false;
        done += std::uint64_t(n);
    }
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) notSaved(path, reason(n < 0 ? errno : ENOSPC));
        bytes = bytes.subspan(std::size_t(n));
    }
}

} // namespace file

using namespace file;
using text::quoted;

namespace {

constexpr std::size_t kBlock = 1 << 20;

// The name still holds the file that was read, with its size and time of change, and may be written.
void requireSameWritable(const SourceFile& source, const std::string& target) {
    struct stat now {};
    if (::lstat(target.c_str(), &now) != 0 || !S_ISREG(now.st_mode) || !sameVersion(now, source.version()))
        failChanged(source.path());
    if ((now.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) writeProtected(source.path());
}

// A new file beside the original, never one that exists: the temporary name's stem and six random characters.
NativeFile createTemp(const SourceFile& source, std::string& temp) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    const std::string stem = source.folder() + "/" + temporaryStem(source.name());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = stem;
        for (int k = 0; k < 6; ++k)
            temp += alphabet[random() % (sizeof alphabet - 1)];
        temp += kTempSuffix;
        NativeFile fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.valid()) return fd;
        if (errno != EEXIST) notSaved(source.path(), reason(errno));
    }
    temp.clear();
    notSaved(source.path(), "fisierul temporar nu poate fi creat");
}

} // namespace

void checkCanSave(const std::string& path) {
    const std::string target = resolveTarget(path);
    requireFolder(folderOf(path));
    requireFolder(folderOf(target));
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) fail(quoted(path) + " este un dosar, nu un fisier");
        if (!S_ISREG(st.st_mode)) fail(quoted(path) + " nu este un fisier obisnuit");
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) writeProtected(path);
    }
    checkLockFiles(path, folderOf(target), nameOf(target));
}

void saveInPlace(const SourceFile& source, const std::function<void(const ByteSink&)>& produce) {
    const std::string& path = source.path();
    if (!source.onDisk())
        fail("Registrul " + quoted(path) + " nu a fost citit dintr-un fisier si nu poate fi salvat pe loc");
    if (source.onDemand_)
        fail("Registrul " + quoted(path) + " a fost deschis doar pentru citire si nu poate fi salvat; " +
             "nu a fost scris nimic");
    requireFolder(source.folder());
    const std::string target = source.folder() + "/" + source.name();
    requireSameWritable(source, target);
    checkLockFiles(path, source.folder(), source.name());

    std::string temp;
    NativeFile fd = createTemp(source, temp);
    try {
        // The pieces gathered into large writes: a save of many records would otherwise cross into the
        // file system's script once for each.
        // The new file is about the original's size: taken at once, the page's file system does not grow it
        // a little at a time, copying all of it each time.
        const FileBytes& original = *source.data();
        (void)::ftruncate(int(fd.get()), off_t(original.size()));
        std::vector<std::uint8_t> block;
        block.reserve(kBlock);
        produce([&](std::span<const std::uint8_t> piece) {
            const bool inOriginal = piece.data() >= original.base() &&
                                    piece.data() + piece.size() <= original.base() + original.size();
            if (inOriginal) piece = original.view(piece);
            if (block.size() + piece.size() > kBlock) {
                writeAll(int(fd.get()), block, path);
                block.clear();
            }
            if (piece.size() >= kBlock)
                writeAll(int(fd.get()), piece, path);
            else
                block.insert(block.end(), piece.begin(), piece.end());
        });
        writeAll(int(fd.get()), block, path);
        const off_t written = ::lseek(int(fd.get()), 0, SEEK_CUR);
        if (written < 0 || ::ftruncate(int(fd.get()), written) != 0) notSaved(path, reason(errno));
        struct stat st {};
        if (::fstat(int(source.file_.get()), &st) == 0) (void)::fchmod(int(fd.get()), st.st_mode & 07777);
        if (::fsync(int(fd.get())) != 0) notSaved(path, reason(errno));
        if (!holdsNow(int(source.file_.get()), source.bytes())) failChanged(path);
        requireSameWritable(source, target);
        if (::rename(temp.c_str(), target.c_str()) != 0)
            fail("Fisierul " + quoted(path) + " nu a putut fi inlocuit: " + reason(errno));
    } catch (...) {
        fd.reset();
        (void)::unlink(temp.c_str());
        throw;
    }
}

} // namespace ordana::spreadsheet
