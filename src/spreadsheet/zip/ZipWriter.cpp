// Writing a zip package: untouched entries copied as they stand, changed ones packed afresh, and an index for
// them all.

#include "ZipArchive.h"

#include "Compression.h"
#include "ZipFormat.h"
#include "common/Bytes.h"
#include "common/Text.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace ordana::spreadsheet::zip {

namespace {

using bytes::get16;
using bytes::get32;

// The most a leading stored entry (a package's media type) is inflated for.
constexpr std::uint64_t kMaxStoredFirst = 256;

std::uint32_t dosDate(std::span<const std::uint8_t> central, std::size_t at, std::uint32_t fallback) {
    return central.empty() ? fallback : get16(&central[at]);
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    bytes::append16(out, v);
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    bytes::append32(out, v);
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A plain stored entry at the start: what a leading entry must be, with no extra field and no descriptor.
bool plainStored(const Entry& e) {
    const std::uint8_t* l = e.record.data();
    return e.method == 0 && e.localOffset == 0 && get16(l + 28) == 0 && !(get16(l + 6) & kFlagDescriptor);
}

// A new entry's bytes: its content run through deflate (or kept) into memory, since a plain local header
// needs the sizes and the CRC before the data.
struct Packed {
    std::vector<std::uint8_t> data;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::uint16_t method = 8;
};

using Ending = Deflater::Ending;

Packed pack(const Producer& content, bool deflate, const std::string& name, std::uint64_t limit,
            Ending ending = Ending::Last) {
    Packed p;
    p.method = deflate ? 8 : 0;
    std::optional<Deflater> z;
    if (deflate) z.emplace();
    content([&](std::span<const std::uint8_t> piece) {
        p.size += piece.size();
        if (p.size > limit) fail(entryName(name) + " ar depasi " + std::to_string(limit) + " de octeti");
        for (std::size_t at = 0; at < piece.size();) {
            const std::size_t n = std::min<std::size_t>(piece.size() - at, 1 << 30);
            p.crc = crc32(p.crc, piece.subspan(at, n));
            if (z)
                z->feed(piece.subspan(at, n), p.data);
            else
                p.data.insert(p.data.end(), piece.begin() + std::ptrdiff_t(at),
                              piece.begin() + std::ptrdiff_t(at + n));
            at += n;
        }
    });
    if (z) z->end(ending, p.data);
    return p;
}

// Where a deflate stream can be taken up as it stands: a block boundary at least a window past `from`, so no
// back-reference after it reaches a byte before `from`. The bytes from `from` to the boundary are kept (up to
// a cap), with the CRC of all bytes before the boundary.
struct Boundary {
    std::uint64_t out = 0; // uncompressed bytes before it
    std::uint64_t bit = 0; // its place in the compressed data, in bits
    std::uint32_t crcBefore = 0;
    std::vector<std::uint8_t> between;
    // With an end: the last block boundary at or before it, where the copied bits stop.
    struct Last {
        std::uint64_t out = 0, bit = 0;
        std::uint32_t crcBefore = 0;
    };
    std::optional<Last> last;
};

// One step of inflating e's data with Z_BLOCK into buf, made bytes so far: what it made, and whether it
// stopped at the end of a block that is not the last (bit 128 without 64), with that end's place in bits (the
// low bits of data_type are those left unread). Not ok at the end of the data, on a fault, or past the size
// the entry declares; stuck when it can go no further.
struct Step {
    bool ok = false, stuck = false, blockEnd = false;
    std::size_t n = 0;
    std::uint64_t bit = 0;
};
Step inflateStep(const Entry& e, z_stream& z, std::uint64_t& consumed, std::span<std::uint8_t> buf,
                 std::uint64_t made) {
    Step s;
    if (z.avail_in == 0) {
        if (consumed >= e.data.size()) return s;
        z.next_in = const_cast<Bytef*>(e.data.data() + consumed);
        z.avail_in = uInt(std::min<std::uint64_t>(e.data.size() - consumed, 1 << 30));
        consumed += z.avail_in;
    }
    z.next_out = buf.data();
    z.avail_out = uInt(buf.size());
    const int rc = inflate(&z, Z_BLOCK);
    s.n = buf.size() - z.avail_out;
    if ((rc != Z_OK && rc != Z_BUF_ERROR) || made + s.n > e.uncompressedSize) return s;
    s.ok = true;
    s.blockEnd = (z.data_type & 128) && !(z.data_type & 64);
    s.bit = (consumed - z.avail_in) * 8 - std::uint64_t(z.data_type & 7);
    s.stuck = rc == Z_BUF_ERROR && s.n == 0 && z.avail_in != 0;
    return s;
}

// The last block boundary at or before `to`, a byte or more past b: inflating on from b (z where it stands).
std::optional<Boundary::Last> findLastBoundary(const Entry& e, z_stream& z, std::uint64_t consumed,
                                               const Boundary& b, std::uint64_t to) {
    std::optional<Boundary::Last> last;
    Boundary::Last at{b.out, b.bit, b.crcBefore};
    std::uint8_t buf[1 << 16];
    while (at.out <= to) {
        const Step s = inflateStep(
            e, z, consumed,
            std::span(buf).first(std::size_t(std::min<std::uint64_t>(sizeof buf, to - at.out + 1))), at.out);
        if (!s.ok) return last;
        at.crcBefore = crc32(at.crcBefore, {buf, s.n});
        at.out += s.n;
        if (s.blockEnd && at.out <= to) {
            at.bit = s.bit;
            if (at.bit / 8 > b.bit / 8) last = at;
        }
        if (s.stuck) return last;
    }
    return last;
}

std::optional<Boundary> findBoundary(const Entry& e, std::uint64_t from, std::uint64_t to = kWholeEntry) {
    constexpr std::uint64_t kWindow = 32768;
    constexpr std::size_t kCap = std::size_t(64) << 20;
    if (e.method != 8 || e.uncompressedSize < from + kWindow) return std::nullopt;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } guard{&z};
    Boundary b;
    std::uint64_t consumed = 0;
    std::uint8_t buf[1 << 16];
    while (true) {
        const Step s = inflateStep(e, z, consumed, buf, b.out);
        if (!s.ok) return std::nullopt;
        const std::size_t n = s.n;
        b.crcBefore = crc32(b.crcBefore, {buf, n});
        if (b.out + n > from) {
            const std::size_t skip = b.out >= from ? 0 : std::size_t(from - b.out);
            b.between.insert(b.between.end(), buf + skip, buf + n);
            if (b.between.size() > kCap) return std::nullopt;
        }
        b.out += n;
        // At a block's end, not the last block's; only where the next block starts an even number of bits
        // into its byte: empty blocks can bring the new stream there (see packHead).
        if (s.blockEnd && b.out >= from + kWindow && s.bit % 2 == 0) {
            b.bit = s.bit;
            if (to != kWholeEntry) {
                b.last = findLastBoundary(e, z, consumed, b, to);
                if (!b.last) return std::nullopt;
            }
            return b;
        }
        if (s.stuck) return std::nullopt;
    }
}

// The entry's new bytes: head's, then the original's from keptFrom. Past a boundary the original's compressed
// blocks are copied byte for byte, so stored blocks among them keep their alignment: the new stream ends in a
// sync flush (on a byte boundary), then empty fixed-code blocks of 10 bits each bring it to the boundary's
// bit within its byte, whose lower bits (the end of the block before) they take.
Packed packHead(const Entry& original, const HeadProducer& head, std::uint64_t keptFrom,
                const std::string& name, std::uint64_t limit, const TailProducer& tail = {},
                std::uint64_t keptTo = kWholeEntry) {
    const std::optional<Boundary> b = findBoundary(original, keptFrom, tail ? keptTo : kWholeEntry);
    if (!b) return pack([&](const ByteSink& sink) { head(sink, kWholeEntry); }, true, name, limit);
    const Boundary& boundary = *b;
    Packed p = pack(
        [&](const ByteSink& sink) {
            head(sink, keptFrom);
            sink(boundary.between);
        },
        true, name, limit, Ending::Flushed);
    // The original's bytes kept: to its end, or to the last boundary before the tail.
    const std::uint64_t keptEnd = boundary.last ? boundary.last->out : original.uncompressedSize;
    const std::uint32_t crcKeptEnd = boundary.last ? boundary.last->crcBefore : original.crc;
    const std::uint64_t kept = keptEnd - boundary.out;
    p.size += kept;
    if (p.size > limit) fail(entryName(name) + " ar depasi " + std::to_string(limit) + " de octeti");
    // crc(A + B) = combine(crc(A), crc(B), |B|), and combine is linear in crc(A): so crc(B) of the kept.
    const auto keptCrc = std::uint32_t(crcKeptEnd ^ crc32_combine(boundary.crcBefore, 0, z_off_t(kept)));
    p.crc = std::uint32_t(crc32_combine(p.crc, keptCrc, z_off_t(kept)));
    const std::span<const std::uint8_t> d = original.data;
    const std::size_t from = std::size_t(boundary.bit / 8);
    const unsigned bit = unsigned(boundary.bit % 8);
    // The kept bits end at a byte's end, or within the byte the tail's stream then begins with.
    const std::size_t to = boundary.last ? std::size_t(boundary.last->bit / 8) : d.size();
    const unsigned toBit = boundary.last ? unsigned(boundary.last->bit % 8) : 0;
    // BFINAL 0, BTYPE 01, end-of-block 0000000, least significant bit first: 2, 0x802, 0x200802 for one, two
    // or three of them; their bits past the last whole byte are zeros.
    static constexpr std::uint8_t kEmptyBlocks[] = {0x02, 0x08, 0x20};
    p.data.insert(p.data.end(), kEmptyBlocks, kEmptyBlocks + bit / 2);
    if (bit == 0) {
        p.data.insert(p.data.end(), d.begin() + std::ptrdiff_t(from), d.begin() + std::ptrdiff_t(to));
    } else {
        p.data.push_back(std::uint8_t(d[from] & ~((1u << bit) - 1)));
        p.data.insert(p.data.end(), d.begin() + std::ptrdiff_t(from) + 1, d.begin() + std::ptrdiff_t(to));
    }
    if (!boundary.last) return p;
    // The kept bits end within a byte: an empty stored block there (three zero bits, then up to its byte's
    // end, then LEN 0 and NLEN) brings the stream to the next byte, where the tail's begins.
    if (toBit > 0) {
        p.data.push_back(std::uint8_t(d[to] & ((1u << toBit) - 1)));
        if (toBit > 5) p.data.push_back(0);
        p.data.insert(p.data.end(), {0x00, 0x00, 0xFF, 0xFF});
    }
    const Packed end = pack([&](const ByteSink& sink) { tail(sink, keptEnd); }, true, name, limit - p.size);
    p.data.insert(p.data.end(), end.data.begin(), end.data.end());
    p.crc = std::uint32_t(crc32_combine(p.crc, end.crc, z_off_t(end.size)));
    p.size += end.size;
    return p;
}

} // namespace

void ArchiveWriter::replace(const std::string& name, Producer content) {
    put({name,
         archive_.find(name) ? Change::Replace : Change::Add,
         std::move(content),
         true,
         {},
         0,
         {},
         kWholeEntry});
}

// A change in place of any earlier one of the same name, after all the others: found by name through the
// index, so that a save of thousands of parts does not compare every name with every other.
void ArchiveWriter::put(Change change) {
    const std::string key = text::foldCase(change.name);
    if (const auto it = byName_.find(key); it != byName_.end()) changes_[it->second].reset();
    byName_[key] = changes_.size();
    changes_.emplace_back(std::move(change));
}

void ArchiveWriter::replace(const std::string& name, std::vector<std::uint8_t> content) {
    auto data = std::make_shared<std::vector<std::uint8_t>>(std::move(content));
    replace(name, [data](const ByteSink& sink) { sink(*data); });
}

void ArchiveWriter::replaceHead(const std::string& name, HeadProducer head, std::uint64_t keptFrom) {
    replace(name, [head](const ByteSink& sink) { head(sink, kWholeEntry); });
    if (const Entry* e = archive_.find(name)) {
        changes_.back()->head = std::move(head);
        changes_.back()->keptFrom = std::min(keptFrom, e->uncompressedSize);
    }
}

void ArchiveWriter::replaceHeadAndTail(const std::string& name, HeadProducer head, std::uint64_t keptFrom,
                                       TailProducer tail, std::uint64_t keptTo) {
    replaceHead(name, std::move(head), keptFrom);
    if (const Entry* e = archive_.find(name); e && keptTo <= e->uncompressedSize && keptTo > keptFrom) {
        changes_.back()->tail = std::move(tail);
        changes_.back()->keptTo = keptTo;
    }
}

void ArchiveWriter::add(const std::string& name, Producer content, bool deflate) {
    if (archive_.find(name) || changeFor(name)) fail("arhiva zip contine deja " + entryName(name));
    put({name, Change::Add, std::move(content), deflate, {}, 0, {}, kWholeEntry});
}

void ArchiveWriter::remove(std::string_view name) {
    const std::string key = text::foldCase(name);
    if (const auto it = byName_.find(key); it != byName_.end()) {
        changes_[it->second].reset();
        byName_.erase(it);
    }
    if (archive_.find(name)) put({std::string(name), Change::Remove, {}, true, {}, 0, {}, kWholeEntry});
}

void ArchiveWriter::putFirstStored(const std::string& name) {
    first_ = name;
}

const ArchiveWriter::Change* ArchiveWriter::changeFor(std::string_view name) const {
    const auto it = byName_.find(text::foldCase(name));
    return it == byName_.end() ? nullptr : &*changes_[it->second];
}

// One entry as it will be written.
struct ArchiveWriter::Out {
    const Entry* original = nullptr; // copied as it stands when no packed content
    std::optional<Packed> packed;
    std::string name;
    std::uint64_t offset = 0;
};

void ArchiveWriter::writeTo(const ByteSink& sink) const {
    std::vector<Out> outs;
    // The leading entry's folded name, kept only when it goes first.
    std::string firstKey = first_ ? text::foldCase(*first_) : std::string();
    if (first_ && !addLeading(outs)) firstKey.clear();
    addOthers(outs, firstKey);
    const std::uint64_t cdOffset = writeLocalRecords(outs, sink);
    const std::uint64_t cdEnd = writeCentralDirectory(outs, !firstKey.empty(), cdOffset, sink);
    writeEndRecords(outs.size(), cdOffset, cdEnd, sink);
}

// The leading entry, when asked for: stored and plain, from its new content or its original data. False when
// there is no such entry.
bool ArchiveWriter::addLeading(std::vector<Out>& outs) const {
    const std::uint64_t limit = archive_.limits().maxEntryBytes;
    const Entry* e = archive_.find(*first_);
    const Change* c = changeFor(*first_);
    Out o;
    o.name = e ? e->name : *first_;
    if (c && c->kind != Change::Remove) {
        o.packed = pack(c->content, false, c->name, limit);
        o.original = e;
        outs.push_back(std::move(o));
        return true;
    }
    if (c || !e) return false;
    o.original = e;
    // Stored plain when it is what such an entry holds (a media type: under 256 bytes); a larger one,
    // deflated, goes first as its compressed bytes: inflated and stored it could make a small package
    // huge.
    if (!plainStored(*e) && (e->method == 0 || e->uncompressedSize < kMaxStoredFirst)) {
        auto data = std::make_shared<std::vector<std::uint8_t>>(archive_.read(*e));
        o.packed = pack([data](const ByteSink& s) { s(*data); }, false, e->name, limit);
    }
    outs.push_back(std::move(o));
    return true;
}

// The original entries in their order in the file, less the dropped ones and the leading one, then the added
// ones.
void ArchiveWriter::addOthers(std::vector<Out>& outs, const std::string& firstKey) const {
    const std::uint64_t limit = archive_.limits().maxEntryBytes;
    auto packedFor = [&](const Change& c) { return pack(c.content, c.deflate, c.name, limit); };
    std::vector<const Entry*> inFile;
    for (const Entry& e : archive_.entries())
        inFile.push_back(&e);
    std::stable_sort(inFile.begin(), inFile.end(),
                     [](const Entry* x, const Entry* y) { return x->localOffset < y->localOffset; });
    for (const Entry* e : inFile) {
        if (!firstKey.empty() && text::foldCase(e->name) == firstKey) continue;
        const Change* c = changeFor(e->name);
        if (c && c->kind == Change::Remove) continue;
        Out o;
        o.original = e;
        o.name = e->name;
        if (c)
            o.packed = c->head ? packHead(*e, c->head, c->keptFrom, c->name, limit, c->tail, c->keptTo)
                               : packedFor(*c);
        outs.push_back(std::move(o));
    }
    for (const auto& c : changes_) {
        if (!c || c->kind != Change::Add || (!firstKey.empty() && text::foldCase(c->name) == firstKey))
            continue;
        Out o;
        o.name = c->name;
        o.packed = packedFor(*c);
        outs.push_back(std::move(o));
    }
}

// Each entry's local record: the original's bytes, or a new header and the packed data. Returns where they
// end.
std::uint64_t ArchiveWriter::writeLocalRecords(std::vector<Out>& outs, const ByteSink& sink) {
    std::uint64_t offset = 0;
    for (Out& o : outs) {
        o.offset = offset;
        if (!o.packed) {
            sink(o.original->record);
            offset += o.original->record.size();
            continue;
        }
        const Packed& p = *o.packed;
        const std::uint16_t flags = isAscii(o.name) ? 0 : kFlagUtf8;
        std::vector<std::uint8_t> h;
        put32(h, kLocalSig);
        put16(h, p.method == 8 ? 20 : 10);
        put16(h, flags);
        put16(h, p.method);
        const auto& oc = o.original ? o.original->central : std::span<const std::uint8_t>();
        put16(h, dosDate(oc, 12, 0));
        put16(h, dosDate(oc, 14, 0x21));
        put32(h, p.crc);
        put32(h, std::uint32_t(p.data.size()));
        put32(h, std::uint32_t(p.size));
        put16(h, std::uint32_t(o.name.size()));
        put16(h, 0);
        h.insert(h.end(), o.name.begin(), o.name.end());
        sink(h);
        sink(p.data);
        offset += h.size() + p.data.size();
        if (p.data.size() >= kMax32 || p.size >= kMax32)
            fail(entryName(o.name) + " ar depasi 4 GB, cat poate tine o intrare fara zip64");
    }
    return offset;
}

// Central records in the original index order, the leading entry first, the added ones last.
std::vector<const ArchiveWriter::Out*> ArchiveWriter::centralOrder(const std::vector<Out>& outs,
                                                                   bool leadingFirst) const {
    std::vector<std::pair<std::size_t, std::size_t>> keyed;
    for (std::size_t i = 0; i < outs.size(); ++i) {
        std::size_t k = outs[i].original ? std::size_t(outs[i].original - archive_.entries().data()) + 1
                                         : archive_.entries().size() + 1 + i;
        if (i == 0 && leadingFirst) k = 0;
        keyed.emplace_back(k, i);
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<const Out*> order;
    for (auto& [k, i] : keyed)
        order.push_back(&outs[i]);
    return order;
}

// An entry's central record: the original's with only its offset changed, or a new one.
void ArchiveWriter::appendCentralRecord(std::vector<std::uint8_t>& cd, const Out& o) {
    if (!o.packed) {
        const auto& c = o.original->central;
        const std::size_t at = cd.size();
        cd.insert(cd.end(), c.begin(), c.end());
        if (o.original->offsetIs64) {
            bytes::put64(&cd[at + o.original->offsetField], o.offset);
        } else {
            if (o.offset >= kMax32)
                fail(entryName(o.name) + " ar ajunge dincolo de 4 GB in fisier, fara zip64");
            bytes::put32(&cd[at + 42], std::uint32_t(o.offset));
        }
        return;
    }
    const Packed& p = *o.packed;
    const auto& oc = o.original ? o.original->central : std::span<const std::uint8_t>();
    put32(cd, kCentralSig);
    put16(cd, oc.empty() ? 20 : get16(&oc[4]));
    put16(cd, p.method == 8 ? 20 : 10);
    put16(cd, isAscii(o.name) ? 0 : kFlagUtf8);
    put16(cd, p.method);
    put16(cd, dosDate(oc, 12, 0));
    put16(cd, dosDate(oc, 14, 0x21));
    put32(cd, p.crc);
    put32(cd, std::uint32_t(p.data.size()));
    put32(cd, std::uint32_t(p.size));
    put16(cd, std::uint32_t(o.name.size()));
    put16(cd, 0); // extra
    put16(cd, 0); // comment
    put16(cd, 0); // disk
    put16(cd, oc.empty() ? 0 : get16(&oc[36]));
    put32(cd, oc.empty() ? 0 : get32(&oc[38]));
    if (o.offset >= kMax32) fail(entryName(o.name) + " ar ajunge dincolo de 4 GB in fisier, fara zip64");
    put32(cd, std::uint32_t(o.offset));
    cd.insert(cd.end(), o.name.begin(), o.name.end());
}

// The central directory from cdOffset, handed to sink a megabyte or so at a time. Returns where it ends.
std::uint64_t ArchiveWriter::writeCentralDirectory(const std::vector<Out>& outs, bool leadingFirst,
                                                   std::uint64_t cdOffset, const ByteSink& sink) const {
    std::uint64_t offset = cdOffset;
    std::vector<std::uint8_t> cd;
    auto flush = [&] {
        sink(cd);
        offset += cd.size();
        cd.clear();
    };
    for (const Out* o : centralOrder(outs, leadingFirst)) {
        appendCentralRecord(cd, *o);
        if (cd.size() > (1 << 20)) flush();
    }
    flush();
    return offset;
}

// The end record, after the zip64 ones when the original had them or the package needs them.
void ArchiveWriter::writeEndRecords(std::uint64_t count, std::uint64_t cdOffset, std::uint64_t offset,
                                    const ByteSink& sink) const {
    const std::uint64_t cdSize = offset - cdOffset;
    const bool zip64 = archive_.usesZip64() || count >= 0xFFFF || cdOffset >= kMax32 || cdSize >= kMax32;
    std::vector<std::uint8_t> end;
    if (zip64) {
        const std::uint64_t at = offset;
        put32(end, kEnd64Sig);
        bytes::append64(end, 44);
        put16(end, 45);
        put16(end, 45);
        put32(end, 0);
        put32(end, 0);
        bytes::append64(end, count);
        bytes::append64(end, count);
        bytes::append64(end, cdSize);
        bytes::append64(end, cdOffset);
        put32(end, kLocator64Sig);
        put32(end, 0);
        bytes::append64(end, at);
        put32(end, 1);
    }
    put32(end, kEndSig);
    put16(end, 0);
    put16(end, 0);
    put16(end, std::uint32_t(std::min<std::uint64_t>(count, 0xFFFF)));
    put16(end, std::uint32_t(std::min<std::uint64_t>(count, 0xFFFF)));
    put32(end, std::uint32_t(std::min<std::uint64_t>(cdSize, kMax32)));
    put32(end, std::uint32_t(std::min<std::uint64_t>(cdOffset, kMax32)));
    const auto comment = archive_.comment();
    put16(end, std::uint32_t(comment.size()));
    end.insert(end.end(), comment.begin(), comment.end());
    sink(end);
}

} // namespace ordana::spreadsheet::zip
