#include "FileAccess.h"

#include "Failures.h"
#include "spreadsheet/LargeBuffer.h"

#include <algorithm>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__) || defined(__has_feature)
#include <sanitizer/asan_interface.h>
#endif

namespace ordana::spreadsheet {

namespace {

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

// What a read on demand takes at least: a sheet's first rows, a directory, without a call for each few bytes.
constexpr std::uint64_t kOnDemandBlock = 64 << 10;

} // namespace

FileBytes::FileBytes(std::vector<std::uint8_t> bytes) : held_(std::move(bytes)) {
    bytes_ = held_.data();
    size_ = held_.size();
    read_ = size_;
}

FileBytes::~FileBytes() {
    if (buffer_ && !complete_) unpoison(buffer_.get(), size_);
}

std::shared_ptr<FileBytes> FileBytes::readWhole(const NativeFile& file, std::uint64_t size,
                                                const std::string& path) {
    if (size > kMaxWorkbookBytes) file::tooLarge(path, size);
    std::shared_ptr<FileBytes> b(new FileBytes());
    // Read straight into memory that was never zeroed: each fresh page is written once, by the kernel's copy.
    b->buffer_.reset(new std::uint8_t[std::max<std::uint64_t>(size, 1)]);
    adviseLarge(b->buffer_.get(), std::size_t(size));
    // Shorter than it was: the caller sees the change in its size.
    const std::int64_t done = file.readAt(b->buffer_.get(), size, 0);
    if (done < 0) file::notReadable(path, reason(lastError()));
    b->bytes_ = b->buffer_.get();
    b->size_ = std::size_t(done);
    b->read_ = std::uint64_t(done);
    return b;
}

std::shared_ptr<FileBytes> FileBytes::readOnDemand(const NativeFile& file, const NativeFile::Stamp& version,
                                                   const std::string& path) {
    std::shared_ptr<FileBytes> b(new FileBytes());
    b->file_ = file.duplicate();
    if (!b->file_.valid()) file::notReadable(path, reason(lastError()));
    b->version_ = version;
    b->unread(std::size_t(version.size), kOnDemandBlock);
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
        if (!file_.valid()) { // onDemandFrom
            std::memcpy(buffer_.get() + at, held_.data() + at, std::size_t(end - at));
            got += end - at;
            continue;
        }
        const std::int64_t n = file_.readAt(buffer_.get() + at, end - at, at);
        if (n < 0) file::fail("fisierul nu mai poate fi citit: " + reason(lastError()));
        if (std::uint64_t(n) < end - at) file::changedSinceOpened(); // shorter than it was
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
    NativeFile::Stamp now;
    if (file_.valid() && (!file_.stamp(now) || now != version_)) file::changedSinceOpened();
}

std::span<const std::uint8_t> FileBytes::passing(std::uint64_t offset, std::size_t atLeast, std::size_t upTo,
                                                 std::vector<std::uint8_t>& buffer) const {
    offset = std::min<std::uint64_t>(offset, size_);
    const std::uint64_t left = size_ - offset;
    if (complete_.load(std::memory_order_acquire)) return {bytes_ + offset, std::size_t(left)};
    // Bytes in memory hand out pieces of a block's size, as small as a fuzzer asks for.
    const std::size_t n = std::size_t(
        std::min<std::uint64_t>(left, !file_.valid() ? std::max(atLeast, block_) : std::max(atLeast, upTo)));
    buffer.resize(n);
    if (!file_.valid()) {
        std::memcpy(buffer.data(), held_.data() + offset, n);
    } else {
        const std::int64_t got = file_.readAt(buffer.data(), n, offset);
        if (got < 0) file::fail("fisierul nu mai poate fi citit: " + reason(lastError()));
        if (std::uint64_t(got) < n) file::changedSinceOpened();
        checkVersion();
    }
    return {buffer.data(), n};
}

} // namespace ordana::spreadsheet
