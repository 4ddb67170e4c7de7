#include "WorkbookStream.h"

#include "Sheet.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/LargeBuffer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace ordana::spreadsheet::xls {

namespace {

// The number formats every reader knows without a FORMAT record.
const std::pair<const char*, std::uint16_t> kBuiltinFormats[] = {
    {"General", 0}, {"0", 1},      {"0.00", 2},      {"#,##0", 3}, {"#,##0.00", 4},
    {"0%", 9},      {"0.00%", 10}, {"0.00E+00", 11}, {"@", 49},
};

std::string formatString(const std::vector<std::uint8_t>& data) {
    std::size_t pos = 2;
    return utf16ToUtf8(readUnicodeString(data, pos, false));
}

} // namespace

WorkbookStream::WorkbookStream(std::vector<std::uint8_t> stream) {
    auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(stream));
    stream_ = *owned;
    owner_ = std::move(owned);
    open();
}

WorkbookStream::WorkbookStream(std::span<const std::uint8_t> stream, std::shared_ptr<const void> owner,
                               const FileBytes* file)
    : owner_(std::move(owner)), stream_(stream), file_(file) {
    open();
}

void WorkbookStream::need(std::size_t from, std::size_t to) const {
    to = std::min(to, stream_.size());
    if (file_ && from < to) (void)file_->view(stream_.subspan(from, to - from));
}

void WorkbookStream::open() {
    need(0, 4 + kMaxRecordData);
    RecordCursor first(stream_, 0, stream_.size());
    const RecordPos bof = first.next();
    if (bof.type != rt::Bof || bof.length < 4) corrupt("fluxul Workbook nu incepe cu o inregistrare BOF");
    const std::uint16_t version = get16(&stream_[bof.dataOffset()]);
    const std::uint16_t kind = get16(&stream_[bof.dataOffset() + 2]);
    if (version != 0x0600) throw RuntimeError(err::Application, kOlderFormat);
    if (kind != 0x0005) corrupt("fluxul Workbook nu incepe cu datele globale ale registrului");
    parseGlobals();
}

WorkbookStream::~WorkbookStream() = default;

void WorkbookStream::parseGlobals() {
    RecordCursor cursor(stream_, 0, stream_.size());
    int depth = 0;
    std::size_t ready = 0; // the stream is readable up to here
    while (true) {
        if (cursor.atEnd()) corrupt("datele globale ale registrului nu se incheie (fisier trunchiat)");
        if (cursor.position() + 4 > ready) {
            ready = cursor.position() + 4 + kMaxRecordData;
            need(cursor.position(), ready);
        }
        const RecordPos r = cursor.next();
        // A record may be longer than the format allows; its length is only bounded by the stream.
        if (r.end() > ready) {
            need(r.offset, r.end());
            ready = r.end();
        }
        if (r.type == rt::Filepass)
            throw RuntimeError(err::Application,
                               "Registrul este protejat cu parola (criptat) si nu poate fi deschis");
        globals_.push_back(
            {r.type, std::vector<std::uint8_t>(stream_.begin() + r.dataOffset(), stream_.begin() + r.end())});
        if (r.type == rt::Bof)
            ++depth;
        else if (r.type == rt::Eof && --depth == 0)
            break;
    }
    globalsEnd_ = std::uint32_t(cursor.position());

    for (std::size_t i = 0; i < globals_.size(); ++i) {
        const GRec& g = globals_[i];
        if (g.type != rt::BoundSheet) continue;
        if (g.data.size() < 8) corrupt("o foaie are o descriere prea scurta");
        SheetInfo s;
        s.begin = get32(g.data.data());
        s.visibility = g.data[4] & 0x03;
        s.boundType = g.data[5];
        s.boundRecord = i;
        std::size_t pos = 6;
        s.name = utf16ToUtf8(readUnicodeString(g.data, pos, true));
        sheets_.push_back(std::move(s));
    }
    // Substreams in stream order, none overlapping another or the globals.
    const std::vector<std::size_t> order = sheetsInStreamOrder();
    std::uint32_t previousEnd = globalsEnd_;
    for (std::size_t k = 0; k < order.size(); ++k) {
        SheetInfo& s = sheets_[order[k]];
        if (s.begin < previousEnd || s.begin >= stream_.size())
            corrupt("foaia " + text::quotedExcerpt(s.name) + " are o pozitie gresita in fisier");
        scanSheet(s, k + 1 < order.size() ? std::max(sheets_[order[k + 1]].begin, s.begin) : stream_.size());
        previousEnd = s.end;
    }
    for (std::size_t i = 0; i < sheets_.size(); ++i)
        if (sheets_[i].isWorksheet()) worksheets_.push_back(i);

    // The string table reads its strings from the records' bytes as they are asked for: moving a record
    // (globals inserted before it) must not move its bytes.
    static_assert(std::is_nothrow_move_constructible_v<GRec>);
    const auto chain = sstChain();
    if (!chain.empty()) sst_.parse(chain);
    for (const GRec& g : globals_)
        if (g.type == rt::Xf && g.data.size() < 20) corrupt("un format de celula este prea scurt");
    xfRecords_.clear();
    fontRecords_.clear();
    for (std::size_t i = 0; i < globals_.size(); ++i) {
        if (globals_[i].type == rt::Xf) xfRecords_.push_back(i);
        if (globals_[i].type == rt::Font) {
            if (globals_[i].data.size() < 16) corrupt("un font este descris prea scurt");
            fontRecords_.push_back(i);
        }
    }
}

namespace {

// What the walk of a sheet does with a record, by type: most records are cells, so they are told apart by one
// lookup rather than a chain of comparisons. Taken from the same tests as everywhere else; every type they
// accept is below kKindTypes.
constexpr std::uint8_t OtherRecord = 0, CellOrRow = 1, TailOfCell = 2;
constexpr std::size_t kKindTypes = 0x0500;
const std::array<std::uint8_t, kKindTypes> kKinds = [] {
    std::array<std::uint8_t, kKindTypes> k{};
    for (std::size_t t = 0; t < kKindTypes; ++t) {
        const auto type = std::uint16_t(t);
        k[t] = isCellRecord(type) || type == rt::Row ? CellOrRow
               : isFormulaTail(type)                 ? TailOfCell
                                                     : OtherRecord;
    }
    return k;
}();
std::uint8_t kindOf(std::uint16_t type) {
    return type < kKindTypes ? kKinds[type] : OtherRecord;
}

// The records are walked by the million here, so through a bare pointer into a window of the stream: the
// whole stream when it is in memory, a part passing through a small buffer when it is read on demand. A
// window holds a record's header and its first two bytes, unless the stream ends sooner.
struct Window {
    const std::uint8_t* bytes;
    std::size_t from, to; // stream offsets that bytes covers
    std::size_t refill;   // past this offset a header may not be whole in the window
};

Window windowAt(std::span<const std::uint8_t> stream, const FileBytes* file, std::size_t at,
                std::vector<std::uint8_t>& buffer) {
    const std::size_t size = stream.size();
    constexpr std::size_t never = std::numeric_limits<std::size_t>::max();
    if (!file) return Window{stream.data() + at, at, size, never};
    constexpr std::size_t kWindow = std::size_t(256) << 10;
    const auto got = file->passing(std::uint64_t(stream.data() - file->base()) + at, 6, kWindow, buffer);
    const std::size_t to = at + std::min(got.size(), size - at);
    return Window{got.data(), at, to, to < size ? to - 6 : never};
}

// Past the first rows, cells and what follows them pass in a tight loop while the window holds their headers;
// anything else, or a record that does not fit, is left to the caller. Where that is.
std::size_t passCells(const Window& w, std::size_t at, std::size_t size) {
    const std::size_t stop = std::min(w.refill, size - 6);
    while (at <= stop) {
        const std::uint8_t* const p = w.bytes + (at - w.from);
        const std::uint16_t type = get16(p), length = get16(p + 2);
        const std::uint8_t kind = kindOf(type);
        if (kind == OtherRecord || length < 2 || length > size - at - 4 ||
            (kind == CellOrRow && get16(p + 4) < WorkbookStream::kPreviewRows))
            break;
        at += 4 + std::size_t(length);
    }
    return at;
}

} // namespace

void WorkbookStream::sheetCutShort(const SheetInfo& s, std::size_t at) const {
    const std::size_t size = stream_.size();
    need(at, at + 4 + kMaxRecordData);
    RecordCursor here(stream_, at, size);
    if (here.atEnd()) corrupt("foaia " + text::quotedExcerpt(s.name) + " nu se incheie (fisier trunchiat)");
    here.next();
    corrupt("foaia " + text::quotedExcerpt(s.name) + " nu se incheie (fisier trunchiat)");
}

void WorkbookStream::scanSheet(SheetInfo& s, std::size_t nextSheet) {
    need(s.begin, std::size_t(s.begin) + 4 + kMaxRecordData);
    RecordCursor cursor(stream_, s.begin, stream_.size());
    const RecordPos bof = cursor.next();
    if (bof.type != rt::Bof || bof.length < 4)
        corrupt("foaia " + text::quotedExcerpt(s.name) + " nu incepe cu o inregistrare BOF");
    s.bofType = get16(stream_.data() + bof.dataOffset() + 2);
    s.previewEnd = bof.end();
    bool inPreview = false; // the record before belongs to the first rows
    int depth = 1;
    const std::size_t size = stream_.size();
    std::vector<std::uint8_t> buffer;
    std::size_t at = cursor.position();
    Window w = windowAt(stream_, file_, at, buffer);
    bool passedCellTable = false;
    while (true) {
        if (at > w.refill) w = windowAt(stream_, file_, at, buffer);
        if (!inPreview && size >= 6) {
            at = passCells(w, at, size);
            if (at > w.refill) continue;
        }
        if (size - at < 4) sheetCutShort(s, at);
        const std::uint8_t* const h = w.bytes + (at - w.from);
        const std::uint16_t type = get16(h), length = get16(h + 2);
        if (length > size - at - 4) sheetCutShort(s, at);
        const std::size_t offset = at;
        at += 4 + std::size_t(length);
        const std::uint8_t kind = kindOf(type);
        if (kind == CellOrRow) {
            inPreview = length < 2 || get16(h + 4) < kPreviewRows;
            if (inPreview) s.previewEnd = std::uint32_t(at);
            continue;
        }
        if (kind == TailOfCell) {
            if (inPreview) s.previewEnd = std::uint32_t(at);
            continue;
        }
        inPreview = false;
        if (type == rt::Bof) {
            ++depth;
        } else if (type == rt::Eof) {
            if (--depth == 0) break;
        } else if (depth == 1) {
            if (type == rt::Window2)
                s.window2.push_back(std::uint32_t(offset));
            else if (type == rt::Index)
                s.index = std::uint32_t(offset);
            else if (type == rt::WsBool && length >= 1)
                s.dialog = h[4] & 0x10;
            else if (type == rt::DbCell && !passedCellTable) {
                passedCellTable = true;
                if (const std::size_t past = pastCellTable(s, offset, nextSheet); past != 0) {
                    at = past;
                    w = windowAt(stream_, file_, at, buffer);
                }
            }
        }
    }
    s.end = std::uint32_t(at);
}

// What the open needs of a sheet lies before and after its cell table, so the walk need not go through the
// blocks of a large one: the INDEX lists where each block's DBCELL is. It is trusted only when its first
// entry is the DBCELL the walk has just met, the entries rise and stay before the next sheet, and the last is
// a DBCELL whose offset back leads to a ROW record; then the walk goes on past that last block (the offset
// returned), else 0 and it walks on.
std::size_t WorkbookStream::pastCellTable(const SheetInfo& s, std::size_t firstDbCell,
                                          std::size_t limit) const {
    const std::size_t size = std::min(limit, stream_.size());
    if (!s.index || *s.index + 4 > size) return 0;
    need(*s.index, *s.index + 4);
    const std::size_t length = get16(stream_.data() + *s.index + 2);
    if (length < 24 || length > size - *s.index - 4) return 0; // fewer than two blocks: nothing to pass
    need(*s.index + 4, *s.index + 4 + length);
    const std::uint8_t* entries = stream_.data() + *s.index + 4 + 16;
    const std::size_t count = (length - 16) / 4;
    if (get32(entries) != firstDbCell) return 0;
    std::size_t last = firstDbCell;
    for (std::size_t k = 1; k < count; ++k) {
        const std::size_t next = get32(entries + 4 * k);
        if (next <= last || next + 8 > size) return 0;
        last = next;
    }
    need(last, last + 8);
    const std::uint8_t* dbcell = stream_.data() + last;
    const std::size_t dbcellLength = get16(dbcell + 2);
    if (get16(dbcell) != rt::DbCell || dbcellLength < 4 || dbcellLength % 2 != 0 ||
        dbcellLength > 4 + 2 * 32 || dbcellLength > size - last - 4)
        return 0;
    const std::size_t back = get32(dbcell + 4);
    if (back == 0 || back >= last - firstDbCell) return 0;
    need(last - back, last - back + 4);
    const std::uint8_t* row = stream_.data() + last - back;
    if (get16(row) != rt::Row || get16(row + 2) != 16) return 0;
    return last + 4 + dbcellLength;
}

Sheet& WorkbookStream::sheet(std::size_t index) {
    auto it = parsed_.find(index);
    if (it == parsed_.end())
        it = parsed_.emplace(index, std::make_unique<Sheet>(*this, sheets_.at(index))).first;
    return *it->second;
}

const Sheet& WorkbookStream::preview(std::size_t index) {
    if (auto full = parsed_.find(index); full != parsed_.end()) return *full->second;
    auto it = previews_.find(index);
    if (it == previews_.end())
        it = previews_.emplace(index, std::make_unique<Sheet>(*this, sheets_.at(index), kPreviewRows)).first;
    return *it->second;
}

SharedStrings& WorkbookStream::mutableStrings() {
    if (sstChain().empty()) {
        // A workbook without a string table gets one just before the end of its globals.
        GRec sst{rt::Sst, std::vector<std::uint8_t>(8, 0)};
        globals_.insert(globals_.end() - 1, std::move(sst));
        sst_.parse(sstChain());
    }
    return sst_;
}

std::vector<std::size_t> WorkbookStream::sheetsInStreamOrder() const {
    std::vector<std::size_t> order(sheets_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](auto a, auto b) { return sheets_[a].begin < sheets_[b].begin; });
    return order;
}

std::vector<std::span<const std::uint8_t>> WorkbookStream::sstChain() const {
    std::vector<std::span<const std::uint8_t>> chain;
    for (std::size_t i = 0; i < globals_.size(); ++i) {
        if (globals_[i].type != rt::Sst) continue;
        chain.emplace_back(globals_[i].data);
        for (std::size_t k = i + 1; k < globals_.size() && globals_[k].type == rt::Continue; ++k)
            chain.emplace_back(globals_[k].data);
        break;
    }
    return chain;
}

std::array<std::uint8_t, 20> WorkbookStream::xf(std::size_t index) const {
    std::array<std::uint8_t, 20> b{};
    if (index < xfRecords_.size()) std::copy_n(globals_[xfRecords_[index]].data.begin(), 20, b.begin());
    return b;
}

std::uint16_t WorkbookStream::defaultCellXf() const {
    auto isCell = [&](std::size_t i) { return !(globals_[xfRecords_[i]].data[4] & 0x04); };
    if (xfRecords_.size() > 15 && isCell(15)) return 15;
    for (std::size_t i = 0; i < xfRecords_.size(); ++i)
        if (isCell(i)) return std::uint16_t(i);
    return 0;
}

std::size_t WorkbookStream::insertAfterLast(std::uint16_t type,
                                            std::initializer_list<std::uint16_t> fallbackBefore, GRec rec) {
    std::size_t at = globals_.size() - 1; // before the globals' EOF
    bool found = false;
    for (std::size_t i = globals_.size(); i-- > 0;)
        if (globals_[i].type == type) {
            at = i + 1;
            found = true;
            break;
        }
    if (!found)
        for (std::size_t i = 0; i < globals_.size(); ++i)
            if (std::find(fallbackBefore.begin(), fallbackBefore.end(), globals_[i].type) !=
                fallbackBefore.end()) {
                at = i;
                break;
            }
    globals_.insert(globals_.begin() + std::ptrdiff_t(at), std::move(rec));
    for (auto& i : xfRecords_)
        i += i >= at;
    for (auto& i : fontRecords_)
        i += i >= at;
    return at;
}

std::uint16_t WorkbookStream::deriveXf(std::uint16_t source, const XfChange& c) {
    std::string changeKey;
    changeKey += char(c.horizontal.value_or(0xFF));
    changeKey +=
        std::to_string(c.format ? int(*c.format) : -1) + "/" + std::to_string(c.font ? int(*c.font) : -1);
    changeKey += char(c.borders);
    changeKey += char(c.borderStyle);
    if (auto it = derived_.find({source, changeKey}); it != derived_.end()) return it->second;
    if (source >= xfRecords_.size()) source = defaultCellXf();
    std::array<std::uint8_t, 20> b = xf(source);
    if (b[4] & 0x04) {
        // From a style: a cell format whose parent is that style.
        const std::uint16_t protection = get16(&b[4]) & 0x0003;
        put16(&b[4], std::uint32_t(protection | (source << 4)));
    }
    if (c.horizontal) {
        b[6] = std::uint8_t((b[6] & ~0x07) | *c.horizontal);
        b[9] |= 0x10;
    }
    if (c.format) {
        put16(&b[2], *c.format);
        b[9] |= 0x04;
    }
    if (c.font) {
        put16(&b[0], *c.font);
        b[9] |= 0x08;
    }
    if (c.borders) {
        const std::uint8_t st = c.borderStyle & 0x0F;
        std::uint16_t lines = get16(&b[10]);
        std::uint16_t leftRight = get16(&b[12]);
        std::uint32_t topBottom = get32(&b[14]);
        if (c.borders & 1) {
            lines = std::uint16_t((lines & ~0x000F) | st);
            leftRight = std::uint16_t((leftRight & ~0x007F) | 64);
        }
        if (c.borders & 2) {
            lines = std::uint16_t((lines & ~0x00F0) | (st << 4));
            leftRight = std::uint16_t((leftRight & ~(0x7F << 7)) | (64 << 7));
        }
        if (c.borders & 4) {
            lines = std::uint16_t((lines & ~0x0F00) | (st << 8));
            topBottom = (topBottom & ~0x7Fu) | 64;
        }
        if (c.borders & 8) {
            lines = std::uint16_t((lines & ~0xF000) | (st << 12));
            topBottom = (topBottom & ~(0x7Fu << 7)) | (64u << 7);
        }
        put16(&b[10], lines);
        put16(&b[12], leftRight);
        put32(&b[14], topBottom);
        b[9] |= 0x20;
    }
    // The new format has no XFEXT record of its own.
    b[17] &= std::uint8_t(~0x02);
    std::uint16_t result = 0;
    bool found = false;
    for (std::size_t i = 0; i < xfRecords_.size() && !found; ++i)
        if (std::equal(b.begin(), b.end(), globals_[xfRecords_[i]].data.begin()) &&
            globals_[xfRecords_[i]].data.size() == 20) {
            result = std::uint16_t(i);
            found = true;
        }
    if (!found) {
        if (xfRecords_.size() >= 4050)
            throw RuntimeError(err::Application, "Registrul are prea multe formate de celula");
        const std::size_t at = insertAfterLast(rt::Xf, {rt::Eof}, GRec{rt::Xf, {b.begin(), b.end()}});
        xfRecords_.push_back(at);
        result = std::uint16_t(xfRecords_.size() - 1);
        xfsChanged_ = true;
    }
    derived_[{source, changeKey}] = result;
    return result;
}

std::uint16_t WorkbookStream::fontOf(std::uint16_t xfIndex) const {
    return get16(xf(xfIndex < xfRecords_.size() ? xfIndex : defaultCellXf()).data());
}

std::uint16_t WorkbookStream::boldFont(std::uint16_t font, bool bold) {
    // There is no font 4: the fifth FONT record is font 5.
    auto recordOf = [](std::uint16_t f) -> std::size_t { return f < 4 ? f : f == 4 ? 0 : f - 1; };
    auto indexOf = [](std::size_t k) { return std::uint16_t(k < 4 ? k : k + 1); };
    if (fontRecords_.empty()) corrupt("registrul nu are niciun font");
    std::size_t k = recordOf(font);
    if (k >= fontRecords_.size()) k = 0;
    std::vector<std::uint8_t> data = globals_[fontRecords_[k]].data;
    put16(&data[6], bold ? 700 : 400);
    for (std::size_t i = 0; i < fontRecords_.size(); ++i)
        if (globals_[fontRecords_[i]].data == data) return indexOf(i);
    if (fontRecords_.size() >= 510) throw RuntimeError(err::Application, "Registrul are prea multe fonturi");
    const std::size_t at = insertAfterLast(rt::Font, {rt::Format, rt::Xf}, GRec{rt::Font, std::move(data)});
    fontRecords_.push_back(at);
    return indexOf(fontRecords_.size() - 1);
}

std::uint16_t WorkbookStream::formatIndex(const std::string& format) {
    std::uint16_t highest = 163;
    std::vector<std::uint16_t> redefined;
    for (const GRec& g : globals_) {
        if (g.type != rt::Format || g.data.size() < 5) continue;
        const std::uint16_t id = get16(g.data.data());
        if (formatString(g.data) == format) return id;
        highest = std::max(highest, id);
        redefined.push_back(id);
    }
    for (const auto& [text, id] : kBuiltinFormats)
        if (format == text && std::find(redefined.begin(), redefined.end(), id) == redefined.end()) return id;
    if (highest >= 0xFFFF) throw RuntimeError(err::Application, "Registrul are prea multe formate de numar");
    Writer w;
    w.u16(std::uint32_t(highest + 1));
    writeUnicodeString(w, utf8ToUtf16(format), false);
    insertAfterLast(rt::Format, {rt::Xf}, GRec{rt::Format, std::move(w.bytes)});
    return std::uint16_t(highest + 1);
}

std::string WorkbookStream::formatText(std::uint16_t format) const {
    for (const GRec& g : globals_)
        if (g.type == rt::Format && g.data.size() >= 5 && get16(g.data.data()) == format)
            return formatString(g.data);
    for (const auto& [text, id] : kBuiltinFormats)
        if (id == format) return text;
    return {};
}

std::uint16_t WorkbookStream::fontWeight(std::uint16_t font) const {
    const std::size_t k = font < 4 ? font : font == 4 ? 0 : font - 1u;
    return k < fontRecords_.size() ? get16(&globals_[fontRecords_[k]].data[6]) : 0;
}

int WorkbookStream::digitWidth() const {
    if (fontRecords_.empty()) return 7;
    const std::vector<std::uint8_t>& f = globals_[fontRecords_[0]].data;
    const double pixels = get16(f.data()) / 20.0 * 96.0 / 72.0;
    std::string name;
    if (f.size() > 14) {
        std::size_t pos = 14;
        try {
            name = utf16ToUtf8(readUnicodeString(f, pos, true));
        } catch (const RuntimeError&) {
        }
    }
    // Width of the digits in ems for the common faces; the rest are taken as Arial-like.
    double em = 0.556;
    if (name.find("Calibri") != std::string::npos || name.find("Carlito") != std::string::npos)
        em = 0.507;
    else if (name.find("Times") != std::string::npos || name.find("Serif") != std::string::npos)
        em = 0.5;
    else if (name.find("Courier") != std::string::npos || name.find("Mono") != std::string::npos)
        em = 0.6;
    return std::max(1, int(std::lround(pixels * em)));
}

void WorkbookStream::setActive(std::size_t sheetIndex) {
    active_ = sheetIndex;
    for (GRec& g : globals_) {
        if (g.type != rt::Window1 || g.data.size() < 16) continue;
        put16(&g.data[10], std::uint32_t(sheetIndex));
        if (get16(&g.data[12]) > sheetIndex) put16(&g.data[12], std::uint32_t(sheetIndex));
        put16(&g.data[14], 1);
    }
}

} // namespace ordana::spreadsheet::xls
