#include "Compression.h"

#include "common/RuntimeError.h"

namespace ordana::spreadsheet::zip {

std::vector<std::uint8_t> packBytes(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out;
    Deflater d;
    d.feed(bytes, out);
    d.end(Deflater::Ending::Last, out);
    out.shrink_to_fit();
    return out;
}

std::vector<std::uint8_t> unpackBytes(std::span<const std::uint8_t> packed, std::size_t size) {
    std::vector<std::uint8_t> out(size);
    Inflater inflater;
    std::span<const std::uint8_t> in = packed;
    std::span<std::uint8_t> room = out;
    if (inflater.run(in, room) != Inflater::Status::End || !room.empty())
        throw RuntimeError(err::Internal, "octetii pastrati comprimati nu se mai pot citi");
    return out;
}

} // namespace ordana::spreadsheet::zip
