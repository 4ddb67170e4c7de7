// Writing a compound file: a new one from streams, or the whole file again after setStream.

#include "CompoundFile.h"
#include "CompoundFileFormat.h"

#include "common/Bytes.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/LargeBuffer.h"

#include <algorithm>
#include <iterator>

namespace ordana::spreadsheet::cfb {

using bytes::put16;
using bytes::put32;
using bytes::put64;
using text::utf16ToUtf8;
using text::utf8ToUtf16;

CompoundFile CompoundFile::create(std::vector<std::pair<std::string, std::vector<std::uint8_t>>> streams,
                                  int majorVersion) {
    if (majorVersion != 3 && majorVersion != 4)
        throw RuntimeError(err::Application,
                           "Versiunea " + std::to_string(majorVersion) + " nu poate fi scrisa");
    CompoundFile cf;
    cf.major_ = majorVersion;
    cf.sectorSize_ = majorVersion == 4 ? 4096 : 512;
    std::uint8_t* h = cf.header_.data();
    std::copy(std::begin(kSignature), std::end(kSignature), h);
    put16(h + 24, 0x3E);
    put16(h + 26, static_cast<std::uint16_t>(majorVersion));
    put16(h + 28, 0xFFFE);
    put16(h + 30, majorVersion == 4 ? 12 : 9);
    put16(h + 32, 6);
    put32(h + 56, cf.miniCutoff_);

    cf.entries_.resize(streams.size() + 1);
    auto setName = [&](Entry& e, const std::u16string& name) {
        if (name.empty() || name.size() > 31)
            throw RuntimeError(err::Application,
                               "Numele fluxului " + utf16ToUtf8(name) + " nu poate fi scris");
        e.name = name;
        e.path = name;
        for (std::size_t i = 0; i < name.size(); ++i)
            put16(e.raw.data() + 2 * i, name[i]);
        put16(e.raw.data() + 64, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    };
    for (std::size_t i = 0; i < cf.entries_.size(); ++i) {
        Entry& e = cf.entries_[i];
        e.reachable = true;
        e.raw[67] = 1; // black: the format accepts a tree whose nodes are all black
        put32(e.raw.data() + 68, kNoStream);
        put32(e.raw.data() + 72, kNoStream);
        put32(e.raw.data() + 76, kNoStream);
        if (i == 0) {
            setName(e, u"Root Entry");
            e.path.clear();
            e.type = e.raw[66] = static_cast<std::uint8_t>(EntryType::Root);
            continue;
        }
        setName(e, utf8ToUtf16(streams[i - 1].first));
        e.type = e.raw[66] = static_cast<std::uint8_t>(EntryType::Stream);
        e.parent = 0;
        e.depth = 1;
        e.data = std::move(streams[i - 1].second);
    }

    // Siblings ordered as the format compares names (shorter first, then by upper case), as a balanced tree.
    std::vector<std::uint32_t> order(streams.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i + 1);
    auto key = [&](std::uint32_t i) {
        std::u16string u = text::foldCase(cf.entries_[i].name);
        return std::pair{u.size(), u};
    };
    std::sort(order.begin(), order.end(), [&](auto a, auto b) { return key(a) < key(b); });
    for (std::size_t i = 1; i < order.size(); ++i)
        if (key(order[i - 1]) == key(order[i]))
            throw RuntimeError(err::Application,
                               "Fluxul " + utf16ToUtf8(cf.entries_[order[i]].name) + " apare de doua ori");
    auto balanced = [&](auto&& self, std::size_t lo, std::size_t hi) -> std::uint32_t {
        if (lo >= hi) return kNoStream;
        const std::size_t mid = lo + (hi - lo) / 2;
        Entry& e = cf.entries_[order[mid]];
        put32(e.raw.data() + 68, self(self, lo, mid));
        put32(e.raw.data() + 72, self(self, mid + 1, hi));
        return order[mid];
    };
    put32(cf.entries_[0].raw.data() + 76, balanced(balanced, 0, order.size()));
    return cf;
}

std::vector<std::uint8_t> CompoundFile::serialize() const {
    std::vector<std::uint8_t> out;
    std::size_t streams = 0;
    for (const Entry& e : entries_)
        streams += sizeOf(e);
    reserveLarge(out,
                 streams + streams / 64 + entries_.size() * kEntrySize + 16 * sectorSize_); // + FAT, padding
    writeTo([&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    return out;
}

// Where each part of a file being written goes.
struct CompoundFile::Layout {
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint8_t> miniStream;
    std::vector<std::uint32_t> start; // each stream's first sector, or first mini sector
    std::uint64_t bigSectors = 0;
    std::uint64_t miniFatSectors = 0;
    std::uint64_t miniStreamSectors = 0;
    std::uint64_t dirSectors = 0;
    std::uint64_t fatSectors = 0;
    std::uint64_t difatSectors = 0;
    std::vector<std::uint32_t> fat;
    std::uint32_t firstDifat = 0;
    std::uint32_t dirStart = 0;
    std::uint32_t miniFatStart = 0;
    std::uint32_t miniStreamStart = 0;
};

bool CompoundFile::isStream(const Entry& e) {
    return e.reachable && e.type == static_cast<std::uint8_t>(EntryType::Stream);
}

void CompoundFile::writeTo(const Sink& sink) const {
    Layout l;
    packMiniStream(l);
    allocateSectors(l);
    writeTables(l, sink);
    writeDirectory(l, sink);
    writeLargeStreams(sink);
}

// Small streams go to the mini stream, the rest to sectors of their own.
void CompoundFile::packMiniStream(Layout& l) const {
    l.start.assign(entries_.size(), kEndOfChain);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (!isStream(e) || sizeOf(e) == 0) continue;
        if (sizeOf(e) >= miniCutoff_) {
            l.bigSectors += ceilDiv(sizeOf(e), sectorSize_);
            continue;
        }
        const auto data = bytesOf(e);
        const auto first = static_cast<std::uint32_t>(l.miniFat.size());
        const auto n = static_cast<std::uint32_t>(ceilDiv(data.size(), kMiniSectorSize));
        l.start[i] = first;
        for (std::uint32_t k = 0; k < n; ++k)
            l.miniFat.push_back(k + 1 < n ? first + k + 1 : kEndOfChain);
        l.miniStream.insert(l.miniStream.end(), data.begin(), data.end());
        l.miniStream.resize(static_cast<std::size_t>(first + n) * kMiniSectorSize, 0);
    }
}

void CompoundFile::allocateSectors(Layout& l) const {
    const std::uint32_t ss = sectorSize_;
    const std::uint32_t perSector = ss / 4;
    l.miniFatSectors = ceilDiv(l.miniFat.size() * 4, ss);
    l.miniStreamSectors = ceilDiv(l.miniStream.size(), ss);
    l.dirSectors = ceilDiv(entries_.size() * kEntrySize, ss);
    const std::uint64_t dataSectors = l.dirSectors + l.miniFatSectors + l.miniStreamSectors + l.bigSectors;

    // The FAT must also cover its own sectors and the DIFAT's.
    for (;;) {
        const std::uint64_t f = ceilDiv(dataSectors + l.fatSectors + l.difatSectors, perSector);
        const std::uint64_t x = f > kHeaderDifatEntries ? ceilDiv(f - kHeaderDifatEntries, perSector - 1) : 0;
        if (f == l.fatSectors && x == l.difatSectors) break;
        l.fatSectors = f;
        l.difatSectors = x;
    }
    const std::uint64_t total = l.fatSectors + l.difatSectors + dataSectors;
    if (total >= 0xFFFFFFFAull) throw RuntimeError(err::Application, "Fisierul rezultat este prea mare");

    // Sectors in file order: FAT, DIFAT, directory, mini FAT, mini stream, then each large stream.
    l.fat.assign(l.fatSectors * perSector, kFreeSect);
    std::uint32_t next = 0;
    for (std::uint64_t i = 0; i < l.fatSectors; ++i)
        l.fat[next++] = kFatSect;
    l.firstDifat = next;
    for (std::uint64_t i = 0; i < l.difatSectors; ++i)
        l.fat[next++] = kDifSect;
    auto allocate = [&](std::uint64_t count) {
        if (count == 0) return kEndOfChain;
        const std::uint32_t first = next;
        for (std::uint64_t k = 0; k < count; ++k, ++next)
            l.fat[next] = k + 1 < count ? next + 1 : kEndOfChain;
        return first;
    };
    l.dirStart = allocate(l.dirSectors);
    l.miniFatStart = allocate(l.miniFatSectors);
    l.miniStreamStart = allocate(l.miniStreamSectors);
    for (std::size_t i = 1; i < entries_.size(); ++i)
        if (isStream(entries_[i]) && sizeOf(entries_[i]) >= miniCutoff_)
            l.start[i] = allocate(ceilDiv(sizeOf(entries_[i]), ss));
}

// Header: the original's fields, with the layout ones rewritten; the rest of its sector stays zero. Then the
// FAT and the DIFAT.
void CompoundFile::writeTables(const Layout& l, const Sink& sink) const {
    const std::uint32_t ss = sectorSize_;
    const std::uint32_t perSector = ss / 4;
    std::vector<std::uint8_t> head(ss, 0);
    std::uint8_t* h = head.data();
    std::copy(header_.begin(), header_.end(), h);
    put32(h + 40, major_ == 4 ? static_cast<std::uint32_t>(l.dirSectors) : 0);
    put32(h + 44, static_cast<std::uint32_t>(l.fatSectors));
    put32(h + 48, l.dirStart);
    put32(h + 60, l.miniFatStart);
    put32(h + 64, static_cast<std::uint32_t>(l.miniFatSectors));
    put32(h + 68, l.difatSectors ? l.firstDifat : kEndOfChain);
    put32(h + 72, static_cast<std::uint32_t>(l.difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
        put32(h + 76 + 4 * i, i < l.fatSectors ? static_cast<std::uint32_t>(i) : kFreeSect);
    sink(head);

    std::vector<std::uint8_t> table(l.fat.size() * 4);
    for (std::size_t i = 0; i < l.fat.size(); ++i)
        put32(table.data() + 4 * i, l.fat[i]);
    sink(table);

    std::vector<std::uint8_t> difat(l.difatSectors * ss);
    for (std::uint64_t d = 0; d < l.difatSectors; ++d) {
        std::uint8_t* p = difat.data() + d * ss;
        for (std::uint32_t k = 0; k + 1 < perSector; ++k) {
            const std::uint64_t f = kHeaderDifatEntries + d * (perSector - 1) + k;
            put32(p + 4 * k, f < l.fatSectors ? static_cast<std::uint32_t>(f) : kFreeSect);
        }
        put32(p + 4 * (perSector - 1),
              d + 1 < l.difatSectors ? static_cast<std::uint32_t>(l.firstDifat + d + 1) : kEndOfChain);
    }
    sink(difat);
}

// Directory: every entry in its old place, so names, CLSIDs, state bits, times and tree links stay. Then the
// mini FAT and the mini stream.
void CompoundFile::writeDirectory(Layout& l, const Sink& sink) const {
    const std::uint32_t ss = sectorSize_;
    std::vector<std::uint8_t> dir(l.dirSectors * ss, 0);
    for (std::size_t i = 0; i < dir.size() / kEntrySize; ++i) {
        std::uint8_t* p = dir.data() + i * kEntrySize;
        const Entry* e = i < entries_.size() ? &entries_[i] : nullptr;
        if (!e || !e->reachable) {
            put32(p + 68, kNoStream);
            put32(p + 72, kNoStream);
            put32(p + 76, kNoStream);
            continue;
        }
        std::copy(e->raw.begin(), e->raw.end(), p);
        if (i == 0) {
            put32(p + 116, l.miniStream.empty() ? kEndOfChain : l.miniStreamStart);
            put64(p + 120, l.miniStream.size());
        } else if (e->type == static_cast<std::uint8_t>(EntryType::Stream)) {
            put32(p + 116, l.start[i]);
            put64(p + 120, sizeOf(*e));
        }
    }
    sink(dir);

    std::vector<std::uint8_t> miniFatBytes(l.miniFatSectors * ss, 0xFF);
    for (std::size_t i = 0; i < l.miniFat.size(); ++i)
        put32(miniFatBytes.data() + 4 * i, l.miniFat[i]);
    sink(miniFatBytes);
    l.miniStream.resize(l.miniStreamSectors * ss, 0);
    sink(l.miniStream);
}

// Large streams straight from where they are held; only the tail of the last sector is padding.
void CompoundFile::writeLargeStreams(const Sink& sink) const {
    const std::uint32_t ss = sectorSize_;
    const std::vector<std::uint8_t> padding(ss, 0);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        const std::uint64_t size = sizeOf(e);
        if (!isStream(e) || size < miniCutoff_) continue;
        if (e.pieces) {
            for (const auto& piece : e.pieces->spans)
                if (!piece.empty()) sink(piece);
        } else {
            sink(bytesOf(e));
        }
        if (size % ss) sink(std::span(padding).first(ss - size % ss));
    }
}

} // namespace ordana::spreadsheet::cfb
