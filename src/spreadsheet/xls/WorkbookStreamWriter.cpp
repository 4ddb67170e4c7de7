// Writing the Workbook stream back: the globals with their bound positions brought up to date, then each
// sheet.

#include "WorkbookStream.h"

#include "Sheet.h"
#include "common/RuntimeError.h"
#include "spreadsheet/LargeBuffer.h"

#include <algorithm>
#include <array>

namespace ordana::spreadsheet::xls {

namespace {

// [MS-OSHARED] MsoCrc32Compute: polynomial 0xAF, most significant bit first, starting from 0.
std::uint32_t msoCrc32(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t v = i << 24;
            for (int b = 0; b < 8; ++b)
                v = (v & 0x80000000u) ? (v << 1) ^ 0xAFu : (v << 1);
            t[i] = v;
        }
        return t;
    }();
    for (std::uint8_t byte : bytes)
        crc = (crc << 8) ^ table[((crc >> 24) ^ byte) & 0xFF];
    return crc;
}

} // namespace

void WorkbookStream::writeGlobals(Writer& w, std::vector<std::size_t>& boundPositions) {
    boundPositions.assign(sheets_.size(), 0);
    std::vector<SharedStrings::Written> positions;
    std::uint32_t oldSstPos = 0, newSstPos = 0;
    bool sstWritten = false;
    std::size_t sheet = 0;
    {
        // Where the SST stood in the original stream, to move the original EXTSST entries with it.
        RecordCursor c(stream_, 0, globalsEnd_);
        while (!c.atEnd()) {
            const RecordPos r = c.next();
            if (r.type == rt::Sst) {
                oldSstPos = r.offset;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < globals_.size(); ++i) {
        const GRec& g = globals_[i];
        switch (g.type) {
        case rt::Sst: {
            const auto chain = sstChain();
            newSstPos = std::uint32_t(w.size());
            sst_.write(w, chain, positions);
            sstWritten = true;
            i += chain.size() - 1;
            continue;
        }
        case rt::ExtSst:
            if (sstWritten && g.data.size() >= 2 && get16(g.data.data()) > 0) {
                const std::uint16_t dsst = get16(g.data.data());
                const std::size_t had = (g.data.size() - 2) / 8;
                const std::size_t need = std::min((sst_.size() + dsst - 1) / dsst, (kMaxRecordData - 2) / 8);
                Writer d;
                d.u16(dsst);
                for (std::size_t k = 0; k < std::max(had, need); ++k) {
                    if (k < had) {
                        const std::uint8_t* e = &g.data[2 + 8 * k];
                        d.u32(get32(e) - oldSstPos + newSstPos);
                        d.raw(e + 4, 4);
                    } else {
                        const auto& p = positions[k * dsst];
                        d.u32(p.streamPos);
                        d.u16(p.recordOffset);
                        d.u16(0);
                    }
                }
                w.record(g.type, d.bytes);
                continue;
            }
            break;
        case rt::BoundSheet:
            if (sheet < sheets_.size()) boundPositions[sheet++] = w.size() + 4;
            break;
        case rt::XfCrc:
            if (xfsChanged_ && g.data.size() >= 20) {
                std::vector<std::uint8_t> d = g.data;
                put16(&d[14], std::uint32_t(xfRecords_.size()));
                std::uint32_t crc = 0;
                for (std::size_t x : xfRecords_)
                    crc = msoCrc32(crc, globals_[x].data);
                put32(&d[16], crc);
                w.record(g.type, d);
                continue;
            }
            break;
        default:
            break;
        }
        w.record(g.type, g.data);
    }
}

std::vector<std::uint8_t> WorkbookStream::serialize() {
    const Pieces pieces = serializePieces();
    std::size_t size = 0;
    for (const auto& p : pieces.spans)
        size += p.size();
    std::vector<std::uint8_t> out;
    reserveLarge(out, size);
    for (const auto& p : pieces.spans)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

namespace {

// INDEX holds absolute positions (of DEFCOLWIDTH and each DBCELL): a substream that moved by delta moves
// them with it.
void relocateIndex(std::uint8_t* rec, std::int64_t delta) {
    const std::uint16_t len = get16(rec + 2);
    for (std::size_t off = 12; off + 4 <= len; off += 4)
        if (get32(rec + 4 + off) != 0)
            put32(rec + 4 + off, std::uint32_t(std::int64_t(get32(rec + 4 + off)) + delta));
}

} // namespace

WorkbookStream::Pieces WorkbookStream::serializePieces() {
    auto owned = std::make_shared<std::deque<std::vector<std::uint8_t>>>(); // stable addresses
    Pieces out;
    out.keep = owned;
    std::uint64_t pos = 0;
    auto own = [&](std::vector<std::uint8_t> bytes) -> std::vector<std::uint8_t>& {
        owned->push_back(std::move(bytes));
        out.spans.emplace_back(owned->back());
        pos += owned->back().size();
        return owned->back();
    };
    auto view = [&](std::size_t from, std::size_t n) {
        if (n == 0) return;
        out.spans.push_back(stream_.subspan(from, n));
        pos += n;
    };

    Writer g;
    std::vector<std::size_t> boundPositions;
    writeGlobals(g, boundPositions);
    std::vector<std::uint8_t>& globals = own(std::move(g.bytes));
    const std::vector<std::size_t> order = sheetsInStreamOrder();
    std::uint32_t previousEnd = globalsEnd_;
    for (std::size_t i : order) {
        const SheetInfo& s = sheets_[i];
        view(previousEnd, s.begin - previousEnd);
        const auto start = std::uint32_t(pos);
        std::optional<bool> selected;
        if (active_) selected = *active_ == i;
        if (auto it = parsed_.find(i); it != parsed_.end() && it->second->modified()) {
            // Written from position 0, then moved to where it lands.
            Writer w;
            reserveLarge(w.bytes, s.end - s.begin + 65536); // the table adds little to what was there
            it->second->write(w, selected);
            if (start != 0) {
                RecordCursor c(w.bytes, 0, w.bytes.size());
                int depth = 0;
                while (!c.atEnd() && !c.onlyPaddingLeft()) {
                    const RecordPos r = c.next();
                    if (r.type == rt::Bof) ++depth;
                    if (r.type == rt::Eof && --depth == 0) break;
                    if (depth == 1 && r.type == rt::Index) relocateIndex(w.bytes.data() + r.offset, start);
                }
            }
            own(std::move(w.bytes));
        } else {
            // The original bytes, but for the few records whose content must change: copied and patched.
            std::vector<std::uint32_t> patched;
            if (selected) patched = s.window2;
            if (s.index && start != s.begin) patched.push_back(*s.index);
            std::sort(patched.begin(), patched.end());
            std::uint32_t at = s.begin;
            for (std::uint32_t rec : patched) {
                if (rec < at) continue;
                need(rec, rec + 4);
                const std::uint32_t end = rec + 4 + get16(&stream_[rec + 2]);
                need(rec, end);
                view(at, rec - at);
                std::vector<std::uint8_t>& copy = own({stream_.begin() + rec, stream_.begin() + end});
                if (get16(&stream_[rec]) == rt::Index) {
                    relocateIndex(copy.data(), std::int64_t(start) - std::int64_t(s.begin));
                } else if (get16(copy.data() + 2) >= 2) {
                    std::uint8_t* flags = copy.data() + 4;
                    put16(flags, *selected ? (get16(flags) | 0x0600) : (get16(flags) & ~0x0600));
                }
                at = end;
            }
            view(at, s.end - at);
        }
        if (boundPositions[i]) put32(globals.data() + boundPositions[i], start);
        previousEnd = s.end;
    }
    view(previousEnd, stream_.size() - previousEnd);
    return out;
}

} // namespace ordana::spreadsheet::xls
