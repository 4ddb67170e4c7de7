#include "Document.h"
#include "Failures.h"
#include "Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace ordana::spreadsheet {

using namespace file;
using text::quoted;

namespace {

[[noreturn]] void notWritten(const std::string& path, const std::string& why) {
    fail("Fisierul " + quoted(path) + " nu a putut fi scris: " + why);
}

std::string randomCharacters() {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // The system's entropy: getrandom on Linux, the browser's or node's in the WebAssembly build.
    std::random_device random;
    std::string s;
    for (int k = 0; k < 6; ++k)
        s += alphabet[random() % (sizeof alphabet - 1)];
    return s;
}

const char* kindWords(PathKind kind) {
    switch (kind) {
    case PathKind::Link:
        return "este o legatura simbolica";
    case PathKind::Folder:
        return "este un dosar";
    default:
        return "nu este un fisier obisnuit";
    }
}

PathKind kindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISLNK(st.st_mode)) return PathKind::Link;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    return PathKind::Other;
}

} // namespace

PathKind pathKind(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return PathKind::Missing;
    return kindOf(st);
}

void writeDocument(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::string folder = folderOf(path), name = nameOf(path);
    if (name.empty() || name == "." || name == "..") notWritten(path, kindWords(PathKind::Folder));
    requireFolder(folder);
    const NativeFile dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) notWritten(path, reason(errno));
    const int dirFd = int(dir.get());
    struct stat old {};
    const bool exists = ::fstatat(dirFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(old.st_mode)) notWritten(path, kindWords(kindOf(old)));
    std::string temporary;
    NativeFile fd;
    for (int attempt = 0; !fd.valid(); ++attempt) {
        temporary = temporaryStem(name) + randomCharacters() + ".tmp~";
        fd.reset(
            ::openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd.valid() && (errno != EEXIST || attempt == 100)) notWritten(path, reason(errno));
    }
    try {
        writeAll(int(fd.get()), bytes, path);
        // The old file's permissions carry over, as a program saving it would keep them.
        if (exists && ::fchmod(int(fd.get()), old.st_mode & 07777) != 0) notWritten(path, reason(errno));
        if (::fsync(int(fd.get())) != 0) notWritten(path, reason(errno));
        // Renaming replaces the name itself: a link put there meanwhile is replaced, not followed.
        if (::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0) notWritten(path, reason(errno));
    } catch (...) {
        ::unlinkat(dirFd, temporary.c_str(), 0);
        throw;
    }
    ::fsync(dirFd);
}

} // namespace ordana::spreadsheet
