#include "Content.h"

#include "ContentParser.h"
#include "ContentWriter.h"
#include "Corrupt.h"
#include "Runs.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/PackedValues.h"
#include "spreadsheet/zip/Compression.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ordana::spreadsheet::ods {

namespace {

std::string_view chars(std::span<const std::uint8_t> b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// The first bytes of a sheet kept as it is indexed: those a save reads again, unless it edits further down.
constexpr std::size_t kKeptBytes = std::size_t(16) << 20;

} // namespace

std::string Content::packChanges(const std::vector<Change>& changes) {
    ValueWriter w;
    for (const Change& c : changes) {
        w.u8(std::uint8_t(c.kind));
        w.u32(c.row), w.u32(c.col);
        w.value(c.value);
        w.text(c.columnStyle);
        w.optionalText(c.style.textAlign);
        w.optionalText(c.style.dataStyle);
        w.u8(c.style.bold ? (*c.style.bold ? 2 : 1) : 0);
        w.u8(std::uint8_t(c.style.borders[0] | c.style.borders[1] << 1 | c.style.borders[2] << 2 |
                          c.style.borders[3] << 3));
        w.text(c.style.border);
    }
    return w.take();
}

std::vector<Content::Change> Content::unpackChanges(std::string_view packed) {
    std::vector<Change> out;
    ValueReader r(packed);
    while (!r.done()) {
        Change c;
        c.kind = Change::Kind(r.u8());
        c.row = r.u32(), c.col = r.u32();
        c.value = r.value();
        c.columnStyle = r.text();
        c.style.textAlign = r.optionalText();
        c.style.dataStyle = r.optionalText();
        if (const std::uint8_t b = r.u8()) c.style.bold = b == 2;
        const std::uint8_t sides = r.u8();
        for (int k = 0; k < 4; ++k)
            c.style.borders[k] = (sides >> k) & 1u;
        c.style.border = r.text();
        out.push_back(std::move(c));
    }
    return out;
}

std::size_t Content::heldBy(const Change& c) {
    return sizeof(Change) + heapOf(c.columnStyle) + heapOf(c.style.border) +
           (c.value.kind() == CellValue::Kind::Text ? heapOf(c.value.textValue()) : 0) +
           (c.style.textAlign ? heapOf(*c.style.textAlign) : 0) +
           (c.style.dataStyle ? heapOf(*c.style.dataStyle) : 0);
}

Content::Content(Source source, std::shared_ptr<MemoryBudget> budget)
    : source_(std::move(source)), budget_(std::move(budget)), held_(budget_, "content.xml") {
    ContentParser cp(*this);
    cp.held = &held_;
    cp.textHeld = Held(budget_, "content.xml");
    auto parser = std::make_unique<Parser>(cp);
    std::optional<xml::EndFinder> skipping;
    bool keepHead = true;
    xml::readPieces(source_(), [&](std::size_t offset, std::span<const std::uint8_t> piece) {
        for (std::size_t at = 0; at < piece.size();) {
            if (skipping) {
                const std::size_t found = skipping->feed(piece.subspan(at));
                if (found == std::string::npos) break;
                // The sheet's end tag: a new parser goes on from its '<'. The tag may begin in earlier
                // pieces; the bytes there are "</" and the start of the sheet's name, which the scan matched.
                const std::size_t resume = cp.skipFrom + found;
                const std::size_t carried = resume < offset ? offset - resume : 0;
                skipping.reset();
                // Names only: expat reads them without namespaces, which this reader resolves itself and
                // still holds. A part may declare thousands; replaying them for each sheet stepped over
                // would make expat's work (and its memory accounting) grow with sheets times declarations.
                std::string reopen;
                for (const std::string& name : cp.open)
                    reopen += "<" + name + ">";
                reopen += ("</" + cp.open.back()).substr(0, carried);
                cp.shift = std::int64_t(resume) - std::int64_t(reopen.size()) + std::int64_t(carried);
                parser = std::make_unique<Parser>(cp);
                cp.replay = cp.open.size();
                parser->feed(reopen, false);
                at = carried ? 0 : resume - offset;
            }
            cp.pieceBase = offset + at;
            if (parser->feed(chars(piece.subspan(at)), false)) break;
            // Stopped at a row to step over: the elements inside the sheet are closed by the scan.
            cp.stack.resize(std::size_t(cp.tableDepth) + 1);
            cp.open.resize(std::size_t(cp.tableDepth) + 1);
            cp.undeclare(cp.stack.size());
            cp.row = nullptr;
            cp.cell = nullptr;
            skipping.emplace(cp.open.back()); // the sheet's own name, as written
            at = cp.skipFrom - offset;
        }
        if (keepHead) {
            // Kept piece by piece until the body starts: the automatic styles a save copies from.
            held_.add(piece.size());
            head_.append(chars(piece));
            if (bodyStart_ != std::string::npos) {
                head_.resize(std::min(head_.size(), bodyStart_));
                head_.shrink_to_fit();
                keepHead = false;
            }
        }
        return true;
    });
    if (skipping)
        corrupt("content.xml", "nu este XML corect: foaia " +
                                   text::quotedExcerpt(cp.table ? cp.table->name : std::string()) +
                                   " nu se incheie");
    parser->feed({}, true);
    // Every element the events opened was closed: a part expat took whole was read whole.
    if (!cp.stack.empty() || cp.replay)
        throw RuntimeError(err::Internal, "partea \"content.xml\" nu a fost citita pana la capat");
    for (auto& [name, s] : styles_)
        if (s.family == "table-cell" || s.family == "table-column") bySignature_[signature(s)] = name;
}

void Content::wholeTable(Table& t) {
    if (t.whole) return;
    // The sheet alone, inside an element that declares the namespaces in force where it stands, parsed as
    // it is inflated: by the plain parser, and again by expat should the plain one give up.
    const std::string open = "<w" + (t.nsInScope ? *t.nsInScope : std::string()) + ">";
    const auto parse = [&](bool plainly) {
        Table whole;
        whole.held = Held(budget_, "content.xml");
        ContentParser cp(*this);
        cp.target = &whole;
        cp.held = &whole.held;
        cp.textHeld = Held(budget_, "content.xml");
        cp.shift = std::int64_t(t.span.begin) - std::int64_t(open.size());
        std::optional<xml::PlainParser> plain;
        std::optional<Parser> parser;
        if (plainly) {
            cp.plain =
                &plain.emplace(&cp, &ContentParser::onStart, &ContentParser::onEnd, &ContentParser::onText);
            cp.plainRows = plainRows_;
            plain->setTake(&ContentParser::onTake);
        } else
            parser.emplace(cp);
        const auto feed = [&](std::string_view bytes, bool last) {
            if (plainly) return plain->feed(bytes, last);
            parser->feed(bytes, last); // stops only by throwing: a sheet has no rows to step over
            return true;
        };
        if (!feed(open, false)) return false;
        bool going = true;
        std::string kept; // the first bytes, which a save reads again
        readRange(t.span.begin, t.span.end, [&](std::string_view piece) {
            if (kept.size() < kKeptBytes) {
                const std::string_view k = piece.substr(0, kKeptBytes - kept.size());
                whole.held.add(k.size());
                kept.append(k);
            }
            return going = feed(piece, false);
        });
        if (!going) return false;
        if (!feed("</w>", true)) return false;
        whole.nsInScope = std::move(t.nsInScope);
        whole.bytes = std::move(kept);
        t = std::move(whole);
        return true;
    };
    if (!parse(true)) parse(false);
    // A sheet released and read again: its changes made again, the same way.
    const auto it = kept_.find(&t);
    if (it == kept_.end() || it->second.packed.empty()) return;
    Kept& k = it->second;
    const auto bytes = zip::unpackBytes(k.packed, k.editsSize + k.changesSize);
    k.changes = unpackChanges(chars(std::span(bytes).subspan(k.editsSize)));
    spreadsheet::release(k.packed);
    k.held.clear();
    for (const Change& c : k.changes)
        k.held.add(heldBy(c));
    replaying_ = true;
    try {
        for (const Change& c : k.changes)
            switch (c.kind) {
            case Change::Kind::Value:
                setValue(t, c.row, c.col, c.value);
                break;
            case Change::Kind::ColumnStyle:
                setColumnStyle(t, c.col, c.columnStyle);
                break;
            case Change::Kind::FormatColumn:
                formatColumn(t, c.col, c.style);
                break;
            case Change::Kind::FormatCell:
                formatCell(t, c.row, c.col, c.style);
                break;
            }
    } catch (...) {
        replaying_ = false;
        throw;
    }
    replaying_ = false;
}

Content::Kept& Content::kept(const Table& t) {
    auto [it, fresh] = kept_.try_emplace(&t);
    if (fresh) it->second.held = Held(budget_, "content.xml");
    return it->second;
}

void Content::record(const Table& t, Change change) {
    if (replaying_) return;
    Kept& k = kept(t);
    k.held.add(heldBy(change));
    k.changes.push_back(std::move(change));
}

xml::Edits Content::keptEdits(const Kept& k) const {
    const auto bytes = zip::unpackBytes(k.packed, k.editsSize + k.changesSize);
    return xml::Edits::unpack(chars(std::span(bytes).first(k.editsSize)));
}

void Content::release(Table& t) {
    if (!t.whole) return;
    if (const auto it = kept_.find(&t); it != kept_.end() && !it->second.changes.empty()) {
        Kept& k = it->second;
        xml::Edits edits;
        ContentWriter(*this).tableEdits(t, edits);
        const std::string packedEdits = edits.pack(), packedChanges = packChanges(k.changes);
        std::vector<std::uint8_t> both(packedEdits.begin(), packedEdits.end());
        both.insert(both.end(), packedChanges.begin(), packedChanges.end());
        k.packed = zip::packBytes(both);
        k.editsEnd = edits.end();
        k.editsSize = packedEdits.size();
        k.changesSize = packedChanges.size();
        spreadsheet::release(k.changes);
        k.held.clear();
        k.held.add(k.packed.size());
    }
    // As the open left it: the rows a listing reads, the columns, and no bytes of its own.
    std::size_t keep = 0;
    while (keep < t.rows.size() && t.rows[keep].first < kFirstRows)
        ++keep;
    t.rows.erase(t.rows.begin() + std::ptrdiff_t(keep), t.rows.end());
    t.rows.shrink_to_fit();
    spreadsheet::release(t.bytes);
    t.lastRead = 0;
    t.whole = false;
    t.held.clear();
}

std::string_view Content::original(std::size_t begin, std::size_t end, const Table* t) const {
    if (end <= head_.size()) return std::string_view(head_).substr(begin, end - begin);
    if (!t || !t->whole || begin < t->span.begin || end > t->span.end || begin > end)
        throw RuntimeError(err::Internal, "octetii " + std::to_string(begin) + "-" + std::to_string(end) +
                                              " din \"content.xml\" nu au fost pastrati");
    // On from those kept, as far as asked: the part is inflated once more at most.
    if (t->span.begin + t->bytes.size() < end)
        readRange(t->span.begin + t->bytes.size(),
                  std::min(t->span.end, std::max(end, t->span.begin + t->bytes.size() + (1 << 16))),
                  [&](std::string_view piece) {
                      t->held.add(piece.size());
                      t->bytes.append(piece);
                      return true;
                  });
    return std::string_view(t->bytes).substr(begin - t->span.begin, end - begin);
}

void Content::readRange(std::size_t begin, std::size_t end,
                        const std::function<bool(std::string_view)>& fn) const {
    Cursor& c = cursor_;
    if (!c.read || begin < c.at) c = {source_(), {}, 0};
    while (begin < end) {
        if (begin >= c.at + c.piece.size()) {
            c.at += c.piece.size();
            c.piece.resize(std::size_t(1) << 20);
            c.piece.resize(c.read(c.piece));
            if (c.piece.empty()) corrupt("content.xml", "s-a scurtat de la deschidere");
            continue;
        }
        const std::size_t from = begin - c.at, to = std::min(end - c.at, c.piece.size());
        if (!fn(chars(std::span(c.piece).subspan(from, to - from)))) return;
        begin = c.at + to;
    }
}

bool Content::tableHidden(const Table& t) const {
    const auto it = styles_.find(t.style);
    return it != styles_.end() && it->second.hidden;
}

std::string Content::prefix(std::string_view uri) const {
    const auto it = prefixes_.find(std::string(uri));
    return it == prefixes_.end() ? std::string() : it->second;
}

namespace {
std::string_view fallbackPrefix(std::string_view uri) {
    if (uri == ns::office) return "office";
    if (uri == ns::table) return "table";
    if (uri == ns::text) return "text";
    if (uri == ns::style) return "style";
    if (uri == ns::fo) return "fo";
    if (uri == ns::number) return "number";
    return "x";
}
} // namespace

std::string Content::q(std::string_view uri, std::string_view local) const {
    const auto it = prefixes_.find(std::string(uri));
    std::string p = it == prefixes_.end() ? std::string(fallbackPrefix(uri)) : it->second;
    return p.empty() ? std::string(local) : p + ":" + std::string(local);
}

std::string Content::nsDecl(std::string_view uri) const {
    if (prefixes_.count(std::string(uri))) return {};
    return " xmlns:" + std::string(fallbackPrefix(uri)) + "=\"" + std::string(uri) + "\"";
}

// ---------------------------------------------------------------------------------------------------------
// Reading

CellValue Content::value(Table& t, std::uint32_t row, std::uint32_t col) {
    if (row >= kFirstRows) wholeTable(t);
    auto holds = [&](std::size_t i) { return i < t.rows.size() && covers(t.rows[i], row); };
    if (!holds(t.lastRead) && !holds(++t.lastRead)) {
        const std::size_t k = runAt(t.rows, row);
        if (k == kNoRun) return {};
        t.lastRead = k;
    }
    const RowEl& r = t.rows[t.lastRead];
    const std::size_t k = runAt(r.cells, col);
    if (k == kNoRun) return {};
    const CellEl& c = r.cells[k];
    if (c.notANumber && !c.valueWritten)
        throw RuntimeError(err::Application, "celula " + text::cellAddress(int(row) + 1, int(col) + 1) +
                                                 " are valoarea numerica " +
                                                 text::quotedExcerpt(c.value.toText()) +
                                                 ", care nu este un numar");
    return c.value;
}

// ---------------------------------------------------------------------------------------------------------
// Splitting runs around one row or cell

std::size_t Content::splitRow(Table& t, std::uint32_t row) {
    if (row >= t.rowCount) {
        // New rows after the last one: a filler run, then the row.
        if (row > t.rowCount) {
            RowEl filler;
            filler.first = t.rowCount;
            filler.repeat = filler.origRepeat = row - t.rowCount;
            filler.dirty = true;
            t.rows.push_back(std::move(filler));
        }
        RowEl r;
        r.first = row;
        r.dirty = true;
        t.rows.push_back(std::move(r));
        t.rowCount = row + 1;
        modified_ = true;
        return t.rows.size() - 1;
    }
    std::size_t i = runFrom(t.rows, row);
    RowEl& r = t.rows[i];
    if (r.repeat == 1) return i;
    const std::uint32_t before = row - r.first, after = r.first + r.repeat - row - 1;
    RowEl mid = r;
    mid.first = row;
    mid.repeat = 1;
    if (before > 0) {
        t.rows[i].repeat = before;
        t.rows.insert(t.rows.begin() + std::ptrdiff_t(++i), mid);
    } else {
        t.rows[i] = mid;
    }
    if (after > 0) {
        RowEl tail = t.rows[i];
        tail.first = row + 1;
        tail.repeat = after;
        t.rows.insert(t.rows.begin() + std::ptrdiff_t(i + 1), std::move(tail));
    }
    modified_ = true;
    return i;
}

std::size_t Content::splitCell(RowEl& r, std::uint32_t col) {
    std::uint64_t end = r.cells.empty() ? 0 : std::uint64_t(r.cells.back().first) + r.cells.back().repeat;
    if (col >= end) {
        if (col > end) {
            CellEl filler;
            filler.first = std::uint32_t(end);
            filler.repeat = filler.origRepeat = std::uint32_t(col - end);
            r.cells.push_back(std::move(filler));
        }
        CellEl c;
        c.first = col;
        r.cells.push_back(std::move(c));
        r.dirty = true;
        modified_ = true;
        return r.cells.size() - 1;
    }
    std::size_t i = runFrom(r.cells, col);
    CellEl& c = r.cells[i];
    if (c.repeat == 1) return i;
    const std::uint32_t before = col - c.first, after = c.first + c.repeat - col - 1;
    CellEl mid = c;
    mid.first = col;
    mid.repeat = 1;
    if (before > 0) {
        r.cells[i].repeat = before;
        r.cells.insert(r.cells.begin() + std::ptrdiff_t(++i), mid);
    } else {
        r.cells[i] = mid;
    }
    if (after > 0) {
        CellEl tail = r.cells[i];
        tail.first = col + 1;
        tail.repeat = after;
        r.cells.insert(r.cells.begin() + std::ptrdiff_t(i + 1), std::move(tail));
    }
    r.dirty = true;
    modified_ = true;
    return i;
}

RowEl& Content::rowAt(Table& t, std::uint32_t row) {
    return t.rows[splitRow(t, row)];
}

CellEl& Content::cellAt(RowEl& r, std::uint32_t col) {
    return r.cells[splitCell(r, col)];
}

void Content::setValue(Table& t, std::uint32_t row, std::uint32_t col, const CellValue& v) {
    if (v.kind() == CellValue::Kind::Number && !std::isfinite(v.numberValue()))
        throw RuntimeError(err::Application,
                           "Valoarea nu este un numar finit si nu poate fi scrisa in celula " +
                               text::cellAddress(int(row) + 1, int(col) + 1));
    wholeTable(t);
    RowEl& r = rowAt(t, row);
    CellEl& c = cellAt(r, col);
    c.value = v;
    c.valueWritten = true;
    r.dirty = true;
    modified_ = true;
    record(t, {Change::Kind::Value, row, col, v, {}, {}});
}

namespace {
// The column element covering col, split out of its run (new column elements are added after the last).
std::size_t splitColumn(Table& t, std::uint32_t col) {
    std::uint64_t end = t.cols.empty() ? 0 : std::uint64_t(t.cols.back().first) + t.cols.back().repeat;
    if (col >= end) {
        if (col > end) {
            ColEl filler;
            filler.first = std::uint32_t(end);
            filler.repeat = filler.origRepeat = std::uint32_t(col - end);
            t.cols.push_back(std::move(filler));
        }
        ColEl c;
        c.first = col;
        t.cols.push_back(std::move(c));
        t.columnCount = col + 1;
        return t.cols.size() - 1;
    }
    std::size_t i = runFrom(t.cols, col);
    ColEl& c = t.cols[i];
    if (c.repeat == 1) return i;
    const std::uint32_t before = col - c.first, after = c.first + c.repeat - col - 1;
    ColEl mid = c;
    mid.first = col;
    mid.repeat = 1;
    if (before > 0) {
        t.cols[i].repeat = before;
        t.cols.insert(t.cols.begin() + std::ptrdiff_t(++i), mid);
    } else {
        t.cols[i] = mid;
    }
    if (after > 0) {
        ColEl tail = t.cols[i];
        tail.first = col + 1;
        tail.repeat = after;
        t.cols.insert(t.cols.begin() + std::ptrdiff_t(i + 1), std::move(tail));
    }
    return i;
}
} // namespace

void Content::setColumnStyle(Table& t, std::uint32_t col, const std::string& columnStyle) {
    wholeTable(t);
    ColEl& c = t.cols[splitColumn(t, col)];
    c.style = columnStyle;
    modified_ = true;
    record(t, {Change::Kind::ColumnStyle, 0, col, {}, columnStyle, {}});
}

namespace {

void restyle(CellEl& c, std::string style) {
    if (style == c.style) return;
    c.style = std::move(style);
    c.restyled = true;
}

} // namespace

void Content::formatColumn(Table& t, std::uint32_t col, const StyleChange& change) {
    wholeTable(t);
    ColEl& c = t.cols[splitColumn(t, col)];
    c.defaultCellStyle = derive(c.defaultCellStyle.empty() ? "Default" : c.defaultCellStyle, change);
    // Cells with a style of their own (or their row's) would not show the column's new default.
    for (RowEl& r : t.rows) {
        const std::size_t k = runAt(r.cells, col);
        if (k == kNoRun || (r.cells[k].style.empty() && r.defaultCellStyle.empty())) continue;
        CellEl& cell = r.cells[splitCell(r, col)];
        restyle(cell, derive(cell.style.empty() ? r.defaultCellStyle : cell.style, change));
    }
    modified_ = true;
    record(t, {Change::Kind::FormatColumn, 0, col, {}, {}, change});
}

std::string Content::effectiveStyle(const Table& t, const RowEl& r, const CellEl& c) const {
    if (!c.style.empty()) return c.style;
    if (!r.defaultCellStyle.empty()) return r.defaultCellStyle;
    const std::size_t k = runAt(t.cols, c.first);
    if (k != kNoRun && !t.cols[k].defaultCellStyle.empty()) return t.cols[k].defaultCellStyle;
    return "Default";
}

void Content::formatCell(Table& t, std::uint32_t row, std::uint32_t col, const StyleChange& change) {
    wholeTable(t);
    RowEl& r = rowAt(t, row);
    CellEl& c = cellAt(r, col);
    restyle(c, derive(effectiveStyle(t, r, c), change));
    r.dirty = true;
    modified_ = true;
    record(t, {Change::Kind::FormatCell, row, col, {}, {}, change});
}

Content::Source Content::fromBytes(std::string_view xml, std::size_t piece) {
    return [xml, piece]() -> xml::PieceReader {
        return [xml, piece, at = std::size_t(0)](std::span<std::uint8_t> out) mutable {
            const std::size_t n = std::min({out.size(), piece, xml.size() - at});
            std::memcpy(out.data(), xml.data() + at, n);
            at += n;
            return n;
        };
    };
}

// ---------------------------------------------------------------------------------------------------------
// Writing: the part's bytes with the writer's edits.

xml::Edits Content::edits() const {
    return ContentWriter(*this).edits();
}

xml::Edits Content::liveEdits() const {
    return ContentWriter(*this).edits(false);
}

std::size_t Content::editsEnd(const xml::Edits& live) const {
    std::size_t end = live.end();
    for (const auto& [t, k] : kept_)
        if (!t->whole && !k.packed.empty()) end = std::max(end, k.editsEnd);
    return end;
}

void Content::writeTo(const ByteSink& sink) const {
    edits().writeTo(source_(), sink);
}

void Content::writeTo(const xml::Edits& live, std::size_t upTo, const ByteSink& sink) const {
    xml::PieceReader read = source_();
    std::size_t at = 0;
    // The original from at up to to, with those edits (counted from at).
    const auto stretch = [&](std::size_t to, const xml::Edits& edits) {
        std::size_t left = to - at;
        edits.writeTo(
            [&](std::span<std::uint8_t> out) {
                const std::size_t n = left ? read(out.first(std::min(out.size(), left))) : 0;
                left -= n;
                return n;
            },
            sink);
        at = to;
    };
    // The sheets released with edits, in the part's order: each one's edits unpacked only while it is
    // written.
    for (const Table& t : tables_) {
        const auto it = t.whole ? kept_.end() : kept_.find(&t);
        if (it == kept_.end() || it->second.packed.empty() || t.span.begin >= upTo) continue;
        stretch(t.span.begin, live.shifted(at, t.span.begin, false));
        const std::size_t to = std::min(t.span.end, upTo);
        stretch(to, keptEdits(it->second).shifted(t.span.begin, to, false));
    }
    stretch(upTo, live.shifted(at, upTo, true));
}

std::string Content::write() const {
    std::string out;
    writeTo([&](std::span<const std::uint8_t> piece) { out.append(chars(piece)); });
    return out;
}

} // namespace ordana::spreadsheet::ods
