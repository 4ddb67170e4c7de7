#include "Failures.h"
#include "Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Opening a workbook in the WebAssembly build: the page's files live in emscripten's memory, put there by the
// page from the file the user chose, and the tests' on the machine's disk through node. One program reads and
// writes them, so there is no lock to take; the rest is the POSIX open: links resolved once, the real file
// opened without following a link, a regular file only, the bytes of one version.

namespace ordana::spreadsheet {

using namespace file;
using text::quoted;

namespace {

void requireRegular(const std::string& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) fail(quoted(path) + " este un dosar, nu un fisier");
    if (!S_ISREG(st.st_mode)) fail(quoted(path) + " nu este un fisier obisnuit");
}

NativeFile::Stamp stampOf(const struct stat& st) {
    return {std::uint64_t(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

} // namespace

std::shared_ptr<const SourceFile> SourceFile::open(const std::string& path, Mode mode, int) {
    requireFolder(folderOf(path));
    const std::string target = resolveTarget(path);
    requireFolder(folderOf(target));
    NativeFile file(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid()) {
        if (errno == ENOENT) fail("Fisierul " + quoted(path) + " nu exista");
        if (errno == ELOOP)
            fail("Fisierul " + quoted(path) + " a fost inlocuit cu o legatura in timp ce era deschis");
        notReadable(path, reason(errno));
    }
    struct stat st {};
    if (::fstat(int(file.get()), &st) != 0) notReadable(path, reason(errno));
    requireRegular(path, st);
    if (std::uint64_t(st.st_size) > kMaxWorkbookBytes) tooLarge(path, std::uint64_t(st.st_size));

    std::shared_ptr<SourceFile> source(new SourceFile());
    source->path_ = path;
    if (mode == Mode::ReadOnDemand) {
        source->data_ = FileBytes::readOnDemand(file, stampOf(st), path);
        source->onDemand_ = true;
    } else {
        // A file written while it is read is read again (a few times), so the bytes match one version.
        for (int attempt = 0;; ++attempt) {
            auto bytes = FileBytes::readWhole(file, std::uint64_t(st.st_size), path);
            struct stat after {};
            if (::fstat(int(file.get()), &after) != 0) notReadable(path, reason(errno));
            if (stampOf(after) == stampOf(st) && bytes->size() == std::uint64_t(st.st_size)) {
                source->data_ = std::move(bytes);
                break;
            }
            if (attempt == 3) fail("Fisierul " + quoted(path) + " este scris de alt program chiar acum");
            st = after;
        }
    }
    source->version_ = {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(st.st_size),
                        st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    source->folder_ = folderOf(target);
    source->name_ = nameOf(target);
    source->file_ = std::move(file);
    return source;
}

} // namespace ordana::spreadsheet
