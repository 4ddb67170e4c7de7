#include "Compression.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>
#include <new>

namespace ordana::spreadsheet::zip {

namespace {
constexpr std::size_t kMaxRun = std::numeric_limits<std::uint32_t>::max();
}

std::uint32_t crc32(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), 1 << 30);
        crc = crc32_gzip_refl(crc, bytes.data(), n);
        bytes = bytes.subspan(n);
    }
    return crc;
}

struct Inflater::State {
    inflate_state z{};
};

Inflater::Inflater() : s_(std::make_unique<State>()) {
    isal_inflate_init(&s_->z); // raw deflate, 32 KiB window
}

Inflater::~Inflater() = default;

Inflater::Status Inflater::run(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out) {
    inflate_state& z = s_->z;
    z.next_in = const_cast<std::uint8_t*>(in.data());
    z.avail_in = std::uint32_t(std::min(in.size(), kMaxRun));
    z.next_out = out.data();
    z.avail_out = std::uint32_t(std::min(out.size(), kMaxRun));
    const std::uint32_t inBefore = z.avail_in, outBefore = z.avail_out;
    const int rc = isal_inflate(&z);
    in = in.subspan(inBefore - z.avail_in);
    out = out.subspan(outBefore - z.avail_out);
    if (rc != ISAL_DECOMP_OK) return Status::Corrupt;
    return z.block_state == ISAL_BLOCK_FINISH ? Status::End : Status::More;
}

struct Deflater::State {
    isal_zstream z;
    std::unique_ptr<std::uint8_t[]> level;

    void run(std::uint16_t flush, bool last, std::vector<std::uint8_t>& out) {
        z.flush = flush;
        z.end_of_stream = last ? 1 : 0;
        while (true) {
            std::uint8_t buf[1 << 16];
            z.next_out = buf;
            z.avail_out = sizeof buf;
            if (isal_deflate(&z) != COMP_OK) throw std::bad_alloc();
            out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
            // Room left over: all taken in, and with a flush or an end, all of it written out.
            if (z.avail_out == 0 || z.avail_in != 0) continue;
            if (last && z.internal_state.state != ZSTATE_END) continue;
            return;
        }
    }
};

Deflater::Deflater() : s_(std::make_unique_for_overwrite<State>()) {
    s_->level = std::make_unique_for_overwrite<std::uint8_t[]>(ISAL_DEF_LVL1_DEFAULT);
    isal_deflate_init(&s_->z);
    s_->z.level = 1;
    s_->z.level_buf = s_->level.get();
    s_->z.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
    s_->z.gzip_flag = IGZIP_DEFLATE;
}

Deflater::~Deflater() = default;

void Deflater::feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    s_->z.next_in = const_cast<std::uint8_t*>(bytes.data());
    s_->z.avail_in = std::uint32_t(bytes.size());
    s_->run(NO_FLUSH, false, out);
}

void Deflater::end(Ending ending, std::vector<std::uint8_t>& out) {
    s_->z.next_in = nullptr;
    s_->z.avail_in = 0;
    s_->run(ending == Ending::Last ? NO_FLUSH : SYNC_FLUSH, ending == Ending::Last, out);
}

} // namespace ordana::spreadsheet::zip
