#include "SharedStrings.h"

#include <algorithm>

namespace ordana::spreadsheet::xls {

bool ContinuedReader::settle() {
    while (seg_ < segs_.size() && pos_ >= segs_[seg_].size()) {
        ++seg_;
        pos_ = 0;
    }
    return seg_ < segs_.size();
}

std::uint8_t ContinuedReader::u8() {
    if (!settle()) corrupt("tabela de texte este trunchiata");
    return segs_[seg_][pos_++];
}

std::uint16_t ContinuedReader::u16() {
    const std::uint16_t lo = u8();
    return std::uint16_t(lo | (u8() << 8));
}

std::uint32_t ContinuedReader::u32() {
    const std::uint32_t lo = u16();
    return lo | (std::uint32_t(u16()) << 16);
}

void ContinuedReader::skip(std::size_t n) {
    while (n > 0) {
        if (!settle()) corrupt("tabela de texte este trunchiata");
        const std::size_t take = std::min(n, segs_[seg_].size() - pos_);
        pos_ += take;
        n -= take;
    }
}

void ContinuedReader::walkChars(std::size_t count, bool wide, std::u16string* into) {
    std::size_t done = 0;
    while (true) {
        if (seg_ < segs_.size()) {
            const auto& d = segs_[seg_];
            const std::size_t unit = wide ? 2 : 1;
            const std::size_t avail = pos_ < d.size() ? (d.size() - pos_) / unit : 0;
            const std::size_t take = std::min(count - done, avail);
            if (into)
                for (std::size_t i = 0; i < take; ++i)
                    *into += wide ? char16_t(get16(&d[pos_ + 2 * i])) : char16_t(d[pos_ + i]);
            pos_ += take * unit;
            done += take;
        }
        if (done == count) return;
        // Split over a record boundary: the next record starts with its own flag byte.
        ++seg_;
        pos_ = 0;
        if (seg_ >= segs_.size() || segs_[seg_].empty()) corrupt("tabela de texte este trunchiata");
        wide = segs_[seg_][pos_++] & 0x01;
    }
}

std::u16string ContinuedReader::chars(std::size_t count, bool wide) {
    std::u16string s;
    s.reserve(std::min<std::size_t>(count, kMaxRecordData));
    walkChars(count, wide, &s);
    return s;
}

std::optional<ContinuedReader::Header> ContinuedReader::header(bool rich) {
    Header h;
    // Count and flags in one record, as they nearly always are: read in place.
    if (settle() && segs_[seg_].size() - pos_ >= 3) {
        const std::uint8_t* d = segs_[seg_].data() + pos_;
        h.cch = get16(d);
        const std::uint8_t flags = d[2];
        pos_ += 3;
        h.wide = flags & 0x01;
        if (rich && (flags & 0x08)) h.runs = u16();
        if (rich && (flags & 0x04)) h.ext = u32();
        return h;
    }
    h.cch = u16();
    // Some writers leave out the flags byte of an empty cell text that ends its record.
    if (h.cch == 0 && !rich && (seg_ >= segs_.size() || pos_ >= segs_[seg_].size())) return std::nullopt;
    const std::uint8_t flags = u8();
    h.wide = flags & 0x01;
    if (rich && (flags & 0x08)) h.runs = u16();
    if (rich && (flags & 0x04)) h.ext = u32();
    return h;
}

void ContinuedReader::skipTail(const Header& h) {
    skip(h.runs * 4);
    skip(h.ext);
}

std::u16string ContinuedReader::string(bool rich) {
    const auto h = header(rich);
    if (!h) return {};
    std::u16string s = chars(h->cch, h->wide);
    skipTail(*h);
    return s;
}

std::string ContinuedReader::utf8String(bool rich) {
    const auto h = header(rich);
    if (!h) return {};
    std::string s;
    if (!h->wide && seg_ < segs_.size() && segs_[seg_].size() - pos_ >= h->cch) {
        // Latin-1, the common case: each byte is one code point, and runs of ASCII are copied as they are.
        const auto units = segs_[seg_].subspan(pos_, h->cch);
        s.reserve(units.size());
        for (std::size_t i = 0; i < units.size();) {
            std::size_t j = i;
            while (j < units.size() && units[j] < 0x80)
                ++j;
            s.append(reinterpret_cast<const char*>(units.data() + i), j - i);
            if (j < units.size()) text::appendUtf8(s, units[j++]);
            i = j;
        }
        pos_ += h->cch;
    } else {
        s = utf16ToUtf8(chars(h->cch, h->wide));
    }
    skipTail(*h);
    return s;
}

std::uint16_t ContinuedReader::skipString(bool rich) {
    // A plain string within one record, as nearly all are: one step.
    if (settle() && segs_[seg_].size() - pos_ >= 3) {
        const std::uint8_t* d = segs_[seg_].data() + pos_;
        const std::uint16_t cch = get16(d);
        const std::size_t bytes = std::size_t(cch) << (d[2] & 0x01);
        if ((!rich || (d[2] & 0x0C) == 0) && segs_[seg_].size() - pos_ - 3 >= bytes) {
            pos_ += 3 + bytes;
            return cch;
        }
    }
    const auto h = header(rich);
    if (!h) return 0;
    walkChars(h->cch, h->wide, nullptr);
    skipTail(*h);
    return h->cch;
}

void SharedStrings::parse(const std::vector<std::span<const std::uint8_t>>& chain) {
    if (chain.empty() || chain[0].size() < 8) corrupt("tabela de texte este trunchiata");
    totalRefs_ = get32(chain[0].data());
    const std::uint32_t unique = get32(chain[0].data() + 4);
    std::size_t totalBytes = 0;
    for (const auto& c : chain)
        totalBytes += c.size();
    // Writers that count wrong announce more strings than the table holds; readers (Excel among them) take
    // the strings that are there, and a cell pointing past them fails when read. Every string takes at
    // least 3 bytes: a count beyond that is no reason to allocate.
    const std::size_t announced = std::min<std::size_t>(unique, totalBytes / 3);
    chain_ = chain;
    locations_.clear();
    lengths_.clear();
    locations_.reserve(announced);
    lengths_.reserve(announced);
    ContinuedReader r(chain_, 0, 0);
    r.skip(8);
    end_ = {0, 8};
    for (std::size_t i = 0; i < announced && r.settle(); ++i) {
        locations_.push_back({std::uint32_t(r.segment()), std::uint32_t(r.offset())});
        lengths_.push_back(r.skipString(true));
        end_ = {std::uint32_t(r.segment()), std::uint32_t(r.offset())}; // settling may step past the last
    }
    originalCount_ = locations_.size();
    chunks_.clear();
    chunks_.resize((originalCount_ >> kChunkBits) + 1);
    read_.assign(originalCount_, false);
}

const std::string& SharedStrings::text(std::size_t i) const {
    if (i >= originalCount_) return added_.at(i - originalCount_);
    auto& chunk = chunks_[i >> kChunkBits];
    if (!chunk) chunk = std::make_unique<std::string[]>(std::size_t(1) << kChunkBits);
    std::string& text = chunk[i & ((std::size_t(1) << kChunkBits) - 1)];
    if (!read_[i]) {
        ContinuedReader r(chain_, locations_[i].record, locations_[i].offset);
        text = r.utf8String(true);
        read_[i] = true;
    }
    return text;
}

std::uint32_t SharedStrings::append(const std::string& utf8) {
    const auto index = std::uint32_t(size());
    added_.push_back(utf8);
    if (lookupBuilt_) lookup_.emplace(utf8, index);
    return index;
}

std::uint32_t SharedStrings::intern(const std::string& utf8) {
    // A table's few labels are looked up one by one, reading only the strings of their length; a hash of
    // every string pays only for many lookups.
    if (!lookupBuilt_ && ++scans_ <= kScansBeforeLookup) {
        const std::size_t units = utf8ToUtf16(utf8).size();
        for (std::size_t i = 0; i < originalCount_; ++i)
            if (lengths_[i] == units && text(i) == utf8) return std::uint32_t(i);
        for (std::size_t a = 0; a < added_.size(); ++a)
            if (added_[a] == utf8) return std::uint32_t(originalCount_ + a);
        return append(utf8);
    }
    if (!lookupBuilt_) {
        lookup_.reserve(size());
        for (std::size_t i = 0; i < size(); ++i)
            lookup_.emplace(text(i), std::uint32_t(i));
        lookupBuilt_ = true;
    }
    if (auto it = lookup_.find(utf8); it != lookup_.end()) return it->second;
    return append(utf8);
}

void SharedStrings::write(Writer& w, const std::vector<std::span<const std::uint8_t>>& chain,
                          std::vector<Written>& positions) const {
    positions.assign(size(), Written{0, 0});
    // Readers take the strings one after another, so an appended string must follow the last counted one:
    // bytes beyond it (a table that holds more than it counts) are dropped then, kept as they are otherwise.
    const std::size_t records = added_.empty() ? chain.size() : std::size_t(end_.record) + 1;
    std::vector<std::uint32_t> recordStart(records);
    // Originals up to the last record, which may grow with the appended strings.
    std::vector<std::uint8_t> current;
    for (std::size_t k = 0; k < records; ++k) {
        std::vector<std::uint8_t> data(chain[k].begin(), chain[k].end());
        if (k == end_.record && !added_.empty()) data.resize(end_.offset);
        if (k == 0) {
            put32(data.data(),
                  std::uint32_t(std::int64_t(totalRefs_) + refDelta_ < 0 ? 0 : totalRefs_ + refDelta_));
            put32(data.data() + 4, std::uint32_t(size()));
        }
        if (k + 1 == records) {
            current = std::move(data);
            recordStart[k] = std::uint32_t(w.size());
        } else {
            recordStart[k] = std::uint32_t(w.size());
            w.record(k == 0 ? rt::Sst : rt::Continue, data);
        }
    }
    for (std::size_t i = 0; i < originalCount_; ++i) {
        const auto& loc = locations_[i];
        positions[i] = {recordStart[loc.record] + 4 + loc.offset, std::uint16_t(4 + loc.offset)};
    }
    std::uint16_t currentType = records == 1 ? rt::Sst : rt::Continue;
    std::uint32_t currentStart = recordStart.back();
    auto flush = [&] {
        w.record(currentType, current);
        current.clear();
        currentType = rt::Continue;
        currentStart = std::uint32_t(w.size());
    };
    for (std::size_t a = 0; a < added_.size(); ++a) {
        const std::u16string s = utf8ToUtf16(added_[a]);
        bool wide = std::any_of(s.begin(), s.end(), [](char16_t c) { return c > 0xFF; });
        const std::size_t unit = wide ? 2 : 1;
        // The header and the first character stay together.
        if (current.size() + 3 + (s.empty() ? 0 : unit) > kMaxRecordData) flush();
        positions[originalCount_ + a] = {currentStart + 4 + std::uint32_t(current.size()),
                                         std::uint16_t(4 + current.size())};
        current.push_back(std::uint8_t(s.size()));
        current.push_back(std::uint8_t(s.size() >> 8));
        current.push_back(wide ? 1 : 0);
        std::size_t i = 0;
        while (i < s.size()) {
            std::size_t room = (kMaxRecordData - current.size()) / unit;
            if (room == 0) {
                flush();
                current.push_back(wide ? 1 : 0);
                continue;
            }
            const std::size_t take = std::min(room, s.size() - i);
            for (std::size_t k = 0; k < take; ++k) {
                current.push_back(std::uint8_t(s[i + k]));
                if (wide) current.push_back(std::uint8_t(s[i + k] >> 8));
            }
            i += take;
        }
    }
    w.record(currentType, current);
}

} // namespace ordana::spreadsheet::xls
