#include "Failures.h"
#include "Posix.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ordana::spreadsheet::file {

using text::quoted;

namespace {

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

} // namespace

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
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) folderUnreachable(folder);
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

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameVersion(const struct stat& st, const SourceFile::Version& v) {
    return st.st_dev == v.device && st.st_ino == v.inode && std::uint64_t(st.st_size) == v.size &&
           st.st_mtim.tv_sec == v.mtimeSeconds && st.st_mtim.tv_nsec == v.mtimeNanoseconds;
}

// Write access as a user would judge it: the kernel's answer, and for root, who may write anything, the
// permission bits, so that a file or folder marked read-only stays read-only.
bool writableAt(int dirFd, const char* name, const struct stat& st) {
    if (::faccessat(dirFd, name, W_OK, AT_EACCESS) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// The first of the lock files other programs leave beside a document they have open.
static std::string lockFileBeside(const std::string& folder, const std::string& name) {
    for (const auto& c : lockFileNames(name)) {
        struct stat st {};
        if (::lstat((folder + "/" + c).c_str(), &st) == 0) return c;
    }
    return {};
}

void checkLockFiles(const std::string& path, const std::string& folder, const std::string& name) {
    // Lock files sit beside the name the other program opened: the link's or the real file's.
    for (const auto& [dir, base] : {std::pair{folderOf(path), nameOf(path)}, std::pair{folder, name}}) {
        const std::string lock = lockFileBeside(dir, base);
        if (!lock.empty()) lockFilePresent(path, lock);
    }
}

void checkOwner(const std::string& path, const struct stat& st) {
    if (::geteuid() != 0 && st.st_uid != ::geteuid())
        fail("Fisierul " + quoted(path) + " apartine altui utilizator (uid " + std::to_string(st.st_uid) +
             "); salvarea l-ar trece pe numele dumneavoastra, asa ca nu a fost scris nimic");
}

} // namespace ordana::spreadsheet::file
