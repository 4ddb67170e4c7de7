#pragma once

// The few file primitives that differ between platforms, with the words for their failures: an open file is
// a descriptor on POSIX and a HANDLE on Windows. Everything above them (reading on demand, the safe save's
// steps) is written once against this.

#include <cstdint>
#include <string>
#include <utility>

namespace ordana::spreadsheet {

class NativeFile {
  public:
    // Wide enough for a descriptor and for a HANDLE; -1 is "none" on both (INVALID_HANDLE_VALUE).
    using Handle = std::intptr_t;
    static constexpr Handle kNone = -1;

    NativeFile() = default;
    explicit NativeFile(Handle h) : h_(h) {}
    ~NativeFile() { reset(); }
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;
    NativeFile(NativeFile&& other) noexcept : h_(other.release()) {}
    NativeFile& operator=(NativeFile&& other) noexcept {
        reset(other.release());
        return *this;
    }

    Handle get() const { return h_; }
    bool valid() const { return h_ != kNone; }
    Handle release() { return std::exchange(h_, kNone); }
    void reset(Handle h = kNone);

    // Size and time of last write: what a read on demand holds the file to.
    struct Stamp {
        std::uint64_t size = 0;
        std::int64_t seconds = 0;
        std::int64_t nanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };
    bool stamp(Stamp& out) const;
    // Up to n bytes at offset, fewer only where the file ends: how many, or -1 (lastError() says why).
    std::int64_t readAt(std::uint8_t* buffer, std::uint64_t n, std::uint64_t offset) const;
    // A handle of its own on the same file, for reading while this one is used elsewhere; invalid on failure.
    NativeFile duplicate() const;

  private:
    Handle h_ = kNone;
};

// The last failure of a file call on this thread (errno, GetLastError()).
int lastError();
// Romanian words for a failure a user can act on; the rest by number.
std::string reason(int error);

} // namespace ordana::spreadsheet
