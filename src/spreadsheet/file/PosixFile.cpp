#include "NativeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ordana::spreadsheet {

void NativeFile::reset(Handle h) {
    if (h_ >= 0) ::close(int(h_));
    h_ = h;
}

bool NativeFile::stamp(Stamp& out) const {
    struct stat st {};
    if (::fstat(int(h_), &st) != 0) return false;
    out = {std::uint64_t(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    return true;
}

std::int64_t NativeFile::readAt(std::uint8_t* buffer, std::uint64_t n, std::uint64_t offset) const {
    std::uint64_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(int(h_), buffer + done, std::size_t(n - done), off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += std::uint64_t(got);
    }
    return std::int64_t(done);
}

NativeFile NativeFile::duplicate() const {
#ifdef __EMSCRIPTEN__
    // One process that never executes another: emscripten has no F_DUPFD_CLOEXEC.
    return NativeFile(::dup(int(h_)));
#else
    return NativeFile(::fcntl(int(h_), F_DUPFD_CLOEXEC, 0));
#endif
}

int lastError() {
    return errno;
}

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

} // namespace ordana::spreadsheet
