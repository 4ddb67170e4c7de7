#include "Compression.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>

namespace ordana::spreadsheet::zip {

namespace {
constexpr std::size_t kMaxRun = std::numeric_limits<uInt>::max();
}

std::uint32_t crc32(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), 1 << 30);
        crc = std::uint32_t(::crc32(crc, bytes.data(), uInt(n)));
        bytes = bytes.subspan(n);
    }
    return crc;
}

struct Inflater::State {
    z_stream z{};
    ~State() { inflateEnd(&z); }
};

Inflater::Inflater() : s_(std::make_unique<State>()) {
    if (inflateInit2(&s_->z, -MAX_WBITS) != Z_OK) throw std::bad_alloc(); // raw deflate, 32 KiB window
}

Inflater::~Inflater() = default;

Inflater::Status Inflater::run(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out) {
    z_stream& z = s_->z;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(std::min(in.size(), kMaxRun));
    z.next_out = out.data();
    z.avail_out = uInt(std::min(out.size(), kMaxRun));
    const uInt inBefore = z.avail_in, outBefore = z.avail_out;
    const int rc = inflate(&z, Z_NO_FLUSH);
    in = in.subspan(inBefore - z.avail_in);
    out = out.subspan(outBefore - z.avail_out);
    if (rc == Z_STREAM_END) return Status::End;
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    return rc == Z_OK || rc == Z_BUF_ERROR ? Status::More : Status::Corrupt;
}

struct Deflater::State {
    z_stream z{};
    ~State() { deflateEnd(&z); }

    void run(int flush, std::vector<std::uint8_t>& out) {
        while (true) {
            std::uint8_t buf[1 << 16];
            z.next_out = buf;
            z.avail_out = sizeof buf;
            const int rc = deflate(&z, flush);
            if (rc == Z_STREAM_ERROR) throw std::bad_alloc();
            out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
            // Room left over: all taken in, and with a flush or an end, all of it written out.
            if (z.avail_out == 0 || z.avail_in != 0) continue;
            if (flush == Z_FINISH && rc != Z_STREAM_END) continue;
            return;
        }
    }
};

Deflater::Deflater() : s_(std::make_unique<State>()) {
    if (deflateInit2(&s_->z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
}

Deflater::~Deflater() = default;

void Deflater::feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    s_->z.next_in = const_cast<Bytef*>(bytes.data());
    s_->z.avail_in = uInt(bytes.size());
    s_->run(Z_NO_FLUSH, out);
}

void Deflater::end(Ending ending, std::vector<std::uint8_t>& out) {
    s_->z.next_in = nullptr;
    s_->z.avail_in = 0;
    s_->run(ending == Ending::Last ? Z_FINISH : Z_SYNC_FLUSH, out);
}

} // namespace ordana::spreadsheet::zip
