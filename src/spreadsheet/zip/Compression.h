#pragma once

// Raw deflate (the zip format's method 8, 32 KiB window) and the zip CRC-32, as the package layer uses them:
// one interface, implemented with ISA-L where Debian has it (CompressionIsal.cpp, several times zlib's
// speed) and with zlib elsewhere (CompressionZlib.cpp). Both read what the other writes; their deflated
// bytes differ.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ordana::spreadsheet::zip {

// The CRC-32 of zip and gzip, continued from crc (0 to begin).
std::uint32_t crc32(std::uint32_t crc, std::span<const std::uint8_t> bytes);

class Inflater {
  public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    enum class Status { More, End, Corrupt };
    // Inflates from in into out, taking from the front of each what it used. End: the stream's last block
    // is done; More: it wants more input or more room.
    Status run(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out);

  private:
    struct State;
    std::unique_ptr<State> s_;
};

// The fastest level: a sheet's XML shrinks about as much as zlib's level 1 makes it.
class Deflater {
  public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Takes in all of the bytes; out gets what is made of them so far.
    void feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);
    // How the stream ends: as the entry's whole stream, or flushed to a byte boundary for an original's
    // blocks to follow.
    enum class Ending { Last, Flushed };
    void end(Ending ending, std::vector<std::uint8_t>& out);

  private:
    struct State;
    std::unique_ptr<State> s_;
};

// Bytes deflated whole, and inflated back to the size they had: what waits in memory for a save, kept small.
std::vector<std::uint8_t> packBytes(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> unpackBytes(std::span<const std::uint8_t> packed, std::size_t size);

} // namespace ordana::spreadsheet::zip
