#include "SheetRows.h"

#include "XlsxParts.h"
#include "common/RuntimeError.h"
#include "spreadsheet/xml/PlainParser.h"

#include <charconv>
#include <iterator>
#include <map>

namespace ordana::spreadsheet::xlsx {

namespace {

using namespace std::string_view_literals;

Value valueOf(const std::string_view* s) {
    return s ? Value(*s) : std::nullopt;
}

Value valueOf(const std::string* s) {
    return s ? Value(*s) : std::nullopt;
}

// The start and end tags of a stretch of plain XML, read off the bytes. A start tag's attributes must be in
// no namespace or one bound above, as the general reading resolves them, and declare none: a declaration
// would change what the names below mean.
class PlainTags {
  public:
    PlainTags(std::string_view part, std::size_t from, const std::function<bool(std::string_view)>& bound)
        : cursor_(part, from), bound_(bound) {}
    xml::PlainCursor::Tag tag;

    bool start() {
        if (cursor_.next() != xml::PlainCursor::Next::StartTag || !cursor_.startTag(tag)) return false;
        for (const auto& a : tag.attributes) {
            const std::string_view n = a.name;
            if (n[0] == 'x' && n.substr(0, 5) == "xmlns"sv) return false;
            if (a.colon != std::string_view::npos && (a.colon == 0 || !bound_(n.substr(0, a.colon))))
                return false;
        }
        return true;
    }
    // Whether the end tag of name stands next (begin and end then get its span), or another end tag.
    enum class Close { No, Yes, Other };
    // Offset: std::size_t, or the 32 bits of a Span.
    template <typename Offset> Close end(const std::string& name, Offset& begin, Offset& end) {
        if (cursor_.next() != xml::PlainCursor::Next::EndTag) return Close::No;
        std::size_t at = 0;
        if (!cursor_.endTag(name, at)) return Close::Other;
        begin = Offset(at);
        end = Offset(cursor_.at());
        return Close::Yes;
    }
    // The text of the element just started, up to its end tag.
    bool content(const std::string& name, std::string* into) {
        if (tag.empty) return true;
        std::string_view text;
        if (!cursor_.text(text)) return false;
        if (into) into->append(text);
        std::size_t at = 0;
        return cursor_.endTag(name, at);
    }
    // Nothing but white space to the end of the bytes.
    bool atEnd() { return cursor_.next() == xml::PlainCursor::Next::End; }
    std::size_t at() const { return cursor_.at(); }

  private:
    xml::PlainCursor cursor_;
    const std::function<bool(std::string_view)>& bound_;
};

} // namespace

int toInt(Value s, int fallback) {
    if (!s) return fallback;
    int v = 0;
    const auto r = std::from_chars(s->data(), s->data() + s->size(), v);
    return r.ec == std::errc() && r.ptr == s->data() + s->size() ? v : fallback;
}

int toInt(const std::string* s, int fallback) {
    return toInt(valueOf(s), fallback);
}

Row rowOf(Value ref, Value spans, const std::vector<Row>& rows, bool& ordered) {
    Row r;
    r.hasRef = ref.has_value();
    r.r = ref ? toInt(ref, 0) : (rows.empty() ? 1 : rows.back().r + 1);
    if (r.r < 1 || r.r > 1048576) fail("randul " + std::string(ref ? *ref : "?"sv) + " nu exista");
    if (!rows.empty() && r.r <= rows.back().r) ordered = false;
    if (spans) r.spans = *spans, r.hasSpans = true;
    return r;
}

void countCell(std::size_t& cells, Held* held) {
    if (++cells > kMaxIndexedCells)
        fail("foaia are mai mult de " + std::to_string(kMaxIndexedCells) +
             " de celule, prea multe pentru a fi prelucrata");
    if (held) held->add(sizeof(Cell));
}

void countRow(Held* held, const std::vector<Row>& rows, const Row& row) {
    if (!held) return;
    std::size_t n = heapOf(row.spans);
    if (rows.size() == rows.capacity()) n += (rows.capacity() + 1) * sizeof(Row);
    for (const Cell& c : row.cells)
        n += heapOf(c.value);
    held->add(n);
}

Cell cellOf(Value ref, Value type, Value style, const Cell* before, bool& ordered) {
    Cell c;
    int row = 0, column = 0;
    c.hasRef = ref.has_value();
    if (!ref || !parseCellRef(*ref, row, column)) column = before ? before->column + 1 : 1;
    if (column > kMaxColumns) fail("celula " + std::string(ref ? *ref : "?"sv) + " nu exista");
    c.column = std::int16_t(column);
    if (before && c.column <= before->column) ordered = false;
    if (type) {
        const std::string_view t = *type;
        c.type = t == "s"sv           ? 's'
                 : t == "b"sv         ? 'b'
                 : t == "e"sv         ? 'e'
                 : t == "str"sv       ? 'f'
                 : t == "inlineStr"sv ? 'i'
                 : t == "d"sv         ? 'd'
                                      : 'n';
    }
    c.style = toInt(style, -1);
    return c;
}

bool isGroupMaster(Value type, Value ref) {
    return type && (*type == "shared"sv || *type == "array"sv || *type == "dataTable"sv) && ref &&
           ref->find(':') != std::string_view::npos;
}

std::optional<std::size_t> readRowsPlainly(std::string_view part, std::size_t from, std::string_view prefix,
                                           const std::function<bool(std::string_view)>& bound,
                                           std::vector<Row>& rows, bool& ordered, Held* held) {
    const std::string p = prefix.empty() ? std::string() : std::string(prefix) + ":";
    const std::string sheetData = p + "sheetData", rowName = p + "row", cName = p + "c", vName = p + "v",
                      fName = p + "f";
    PlainTags tags(part, from, bound);
    const xml::PlainCursor::Tag& tag = tags.tag;
    using Close = PlainTags::Close;
    std::size_t at = 0, end = 0;
    std::vector<Cell> cells; // of the row being read, moved into it at its end: no room to spare
    std::size_t indexed = 0;
    while (true) {
        const Close closed = tags.end(sheetData, at, end);
        if (closed == Close::Yes) return at;
        if (closed == Close::Other || !tags.start() || tag.name != rowName) return std::nullopt;
        Row row = rowOf(valueOf(tag.attribute("r")), valueOf(tag.attribute("spans")), rows, ordered);
        Span& rs = row.span;
        rs.begin = tag.begin;
        rs.startEnd = rs.endBegin = rs.end = tag.end;
        const bool rowOpen = !tag.empty; // tag holds the cells' tags from here on
        while (rowOpen) {
            const Close r = tags.end(rowName, rs.endBegin, rs.end);
            if (r == Close::Yes) break;
            if (r == Close::Other || !tags.start() || tag.name != cName) return std::nullopt;
            Cell cell = cellOf(valueOf(tag.attribute("r")), valueOf(tag.attribute("t")),
                               valueOf(tag.attribute("s")), cells.empty() ? nullptr : &cells.back(), ordered);
            Span& cs = cell.span;
            cs.begin = tag.begin;
            cs.startEnd = cs.endBegin = cs.end = tag.end;
            const bool cellOpen = !tag.empty;
            while (cellOpen) {
                const Close k = tags.end(cName, cs.endBegin, cs.end);
                if (k == Close::Yes) break;
                if (k == Close::Other || !tags.start()) return std::nullopt;
                if (tag.name == vName) {
                    if (!tags.content(vName, &cell.value)) return std::nullopt;
                } else if (tag.name == fName) {
                    cell.formula = true;
                    if (isGroupMaster(valueOf(tag.attribute("t")), valueOf(tag.attribute("ref"))))
                        cell.groupMaster = true,
                        cell.sharedMaster = *valueOf(tag.attribute("t")) == "shared"sv;
                    if (!tags.content(fName, nullptr)) return std::nullopt;
                } else {
                    return std::nullopt;
                }
            }
            countCell(indexed, held);
            cells.push_back(std::move(cell));
        }
        row.cells.reserve(cells.size());
        std::move(cells.begin(), cells.end(), std::back_inserter(row.cells));
        cells.clear();
        countRow(held, rows, row);
        rows.push_back(std::move(row));
    }
}

void SheetIndexer::start(const xml::Element& e) {
    if (e.depth == 2 && inSheetData_ && e.local == "row"sv) {
        Row r = rowOf(valueOf(e.attribute("r")), valueOf(e.attribute("spans")), rows_, ordered);
        if (lastRow_ > 0 && r.r > lastRow_) {
            if (scanner_) scanner_->stop();
            stopped_ = true;
            return;
        }
        r.span.begin = e.begin;
        r.span.startEnd = e.startEnd;
        prefix = e.prefix;
        countRow(held_, rows_, r);
        rows_.push_back(std::move(r));
    } else if (e.depth == 3 && inSheetData_ && e.local == "c"sv && !rows_.empty() && !stopped_) {
        const Cell* last = cells_.empty() ? rows_.back().cells.empty() ? nullptr : &rows_.back().cells.back()
                                          : &cells_.back();
        Cell c = cellOf(valueOf(e.attribute("r")), valueOf(e.attribute("t")), valueOf(e.attribute("s")), last,
                        ordered);
        c.span.begin = e.begin;
        c.span.startEnd = e.startEnd;
        countCell(indexed_, held_);
        cells_.push_back(std::move(c));
        inCell_ = true;
    } else if (inCell_ && e.depth == 4) {
        what_ = e.local == "v"sv ? 'v' : e.local == "is"sv ? 'i' : e.local == "f"sv ? 'f' : 0;
        if (what_ == 'f') {
            Cell& c = cells_.back();
            c.formula = true;
            if (isGroupMaster(valueOf(e.attribute("t")), valueOf(e.attribute("ref"))))
                c.groupMaster = true, c.sharedMaster = *e.attribute("t") == "shared"sv;
        }
    } else if (inCell_ && what_ == 'i' && e.local == "rPh"sv) {
        ++phonetic_;
    } else if (inCell_ && what_ == 'i' && e.local == "t"sv && !phonetic_) {
        inT_ = true;
    } else if (e.depth == 1) {
        if (e.local == "sheetData"sv) {
            inSheetData_ = true, prefix = e.prefix;
            sheetDataStart = e;
            if (lastRow_ < 0 && scanner_) scanner_->stop();
            if (lastRow_ < 0) stopped_ = true;
        }
    } else if (e.depth == 2 && e.local == "sheetView"sv) {
        if (held_) held_->add(xml::heldBy(e));
        sheetViewList.push_back(e);
    }
    if (e.depth == 2 && e.local == "col"sv) colStart_ = e;
}

void SheetIndexer::end(const xml::Element& e, const xml::EndTag& t) {
    if (stopped_) return;
    if (e.depth == 2 && inSheetData_ && !cells_.empty()) {
        // A row's cells go into it at its end, in one allocation of the right size.
        std::vector<Cell>& into = rows_.back().cells;
        into.reserve(into.size() + cells_.size());
        std::move(cells_.begin(), cells_.end(), std::back_inserter(into));
        cells_.clear();
    }
    if (e.depth == 1) {
        auto keep = [&](auto& slot) {
            if (!slot) slot = std::make_pair(e, t);
        };
        if (e.local == "dimension"sv) keep(dimension);
        if (e.local == "sheetViews"sv) keep(sheetViews);
        if (e.local == "sheetFormatPr"sv) keep(sheetFormatPr);
        if (e.local == "cols"sv) keep(cols);
        if (e.local == "sheetData"sv) {
            keep(sheetData);
            inSheetData_ = false;
            if (scanner_ && lastRow_ > 0) scanner_->stop();
        }
    } else if (e.depth == 2 && e.local == "col"sv && !inSheetData_) {
        if (held_) held_->add(xml::heldBy(e) + sizeof(xml::EndTag));
        colList.emplace_back(e, t);
    } else if (e.depth == 2 && inSheetData_ && e.local == "row"sv && !rows_.empty()) {
        rows_.back().span.endBegin = t.begin;
        rows_.back().span.end = t.end;
    } else if (e.depth == 3 && inCell_ && e.local == "c"sv) {
        Cell& c = cells_.back();
        c.span.endBegin = t.begin;
        c.span.end = t.end;
        if (held_) held_->add(heapOf(c.value));
        inCell_ = false;
    } else if (inCell_ && e.depth == 4) {
        what_ = 0;
    } else if (inCell_ && e.local == "rPh"sv) {
        --phonetic_;
    } else if (inCell_ && e.local == "t"sv) {
        inT_ = false;
    }
}

void SheetIndexer::text(const xml::Element&, std::string_view s) {
    if (stopped_ || !inCell_) return;
    if (what_ == 'v' || (what_ == 'i' && inT_)) cells_.back().value.append(s);
}

namespace {

// Where plain reading starts: the elements open there, from the root, found by the parser, which stops at
// the last; and the prefixes their declarations bind.
class Head : public xml::Handler {
  public:
    Head(const Head&) = delete;
    Head& operator=(const Head&) = delete;
    // Bytes not complete: the element may yet come in those that follow.
    Head(std::span<const std::uint8_t> bytes, const std::string& partName,
         std::function<bool(const xml::Element&)> last, bool complete = true)
        : last_(std::move(last)) {
        xml::Scanner scanner(partName, *this);
        scanner_ = &scanner;
        scanner.feed(bytes, complete);
        scanner_ = nullptr;
        if (!found_) return;
        for (const xml::Element& e : path_)
            for (const auto& [name, span] : xml::attributeSpans(bytes, e))
                if (name.rfind("xmlns:", 0) == 0) bound_[name.substr(6)] = span.valueEnd > span.valueBegin;
        const xml::Element& at = path_.back();
        open_ = bytes[at.startEnd - 2] != '/';
    }
    // The last element, whose content is to be read plainly, if the part has it and it is not empty.
    const xml::Element* element() const { return found_ && open_ ? &path_.back() : nullptr; }
    const std::map<std::string, bool, std::less<>>& prefixes() const { return bound_; }
    const std::function<bool(std::string_view)> bound = [this](std::string_view prefix) {
        const auto b = bound_.find(prefix);
        return b != bound_.end() && b->second;
    };

    void start(const xml::Element& e) override {
        if (std::size_t(e.depth) != path_.size()) return;
        path_.push_back(e);
        if (last_(e)) {
            found_ = true;
            scanner_->stop();
        }
    }
    void end(const xml::Element& e, const xml::EndTag&) override {
        // An empty element's end comes with its start, even once the scanner has been stopped there.
        if (found_) return;
        if (std::size_t(e.depth) + 1 == path_.size()) path_.pop_back();
    }

  private:
    std::function<bool(const xml::Element&)> last_;
    xml::Scanner* scanner_ = nullptr;
    std::vector<xml::Element> path_;
    bool found_ = false, open_ = false;
    std::map<std::string, bool, std::less<>> bound_{{"xml", true}};
};

// Most of a sheet is its rows. Where they are plain XML they are read straight off the bytes, and the rest of
// the part, without them, by the parser; nothing where anything is otherwise or amiss, the general reading
// then to find it and name it.
std::unique_ptr<SheetIndexer> indexPlainly(std::span<const std::uint8_t> bytes, const std::string& partName,
                                           std::vector<Row>& into, Held* held) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<Row> rows;
    bool ordered = true;
    std::optional<std::size_t> end;
    std::size_t from = 0;
    try {
        const Head head(bytes, partName,
                        [](const xml::Element& e) { return e.depth == 1 && e.local == "sheetData"sv; });
        const xml::Element* data = head.element();
        if (!data) return nullptr;
        from = data->startEnd;
        end = readRowsPlainly(text, from, data->prefix, head.bound, rows, ordered, held);
    } catch (const OverBudget&) {
        throw; // the general reading would hold as much
    } catch (const RuntimeError&) {
        return nullptr;
    }
    if (!end) return nullptr;
    const std::size_t cut = *end - from;
    std::vector<std::uint8_t> rest;
    Held restHeld = held ? Held(held->budget(), partName) : Held();
    restHeld.add(bytes.size() - cut);
    rest.reserve(bytes.size() - cut);
    rest.insert(rest.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(from));
    rest.insert(rest.end(), bytes.begin() + std::ptrdiff_t(*end), bytes.end());
    std::unique_ptr<SheetIndexer> idx;
    try {
        idx = xml::scanEither(rest, partName, [&] {
            into.clear();
            return std::make_unique<SheetIndexer>(into, 0, nullptr, held);
        });
    } catch (const OverBudget&) {
        throw;
    } catch (const RuntimeError&) {
        return nullptr;
    }
    if (!into.empty()) return nullptr; // rows outside the sheetData read: a second one
    // Back to the offsets of the whole part: what begins at the cut or ends past it comes after the rows.
    auto begins = [&](std::size_t& at) { at += at >= from ? cut : 0; };
    auto ends = [&](std::size_t& at) { at += at > from ? cut : 0; };
    auto element = [&](xml::Element& e) { begins(e.begin), ends(e.startEnd); };
    auto spanned = [&](std::pair<xml::Element, xml::EndTag>& p) {
        element(p.first);
        begins(p.second.begin);
        ends(p.second.end);
    };
    for (auto* slot : {&idx->dimension, &idx->sheetViews, &idx->sheetFormatPr, &idx->cols, &idx->sheetData})
        if (*slot) spanned(**slot);
    for (xml::Element& e : idx->sheetViewList)
        element(e);
    for (auto& p : idx->colList)
        spanned(p);
    idx->ordered = idx->ordered && ordered;
    idx->plainRows = true;
    into = std::move(rows);
    return idx;
}

} // namespace

std::unique_ptr<SheetIndexer> indexSheet(std::span<const std::uint8_t> bytes, const std::string& partName,
                                         std::vector<Row>& rows, bool plainRows, Held* held) {
    const auto restart = [&] {
        release(rows);
        if (held) held->clear();
    };
    restart();
    if (plainRows)
        if (auto indexer = indexPlainly(bytes, partName, rows, held)) return indexer;
    return xml::scanEither(bytes, partName, [&] {
        restart();
        return std::make_unique<SheetIndexer>(rows, 0, nullptr, held);
    });
}

void checkItemCount(const StringTable& table) {
    if (table.items.size() >= kMaxStringItems)
        fail("tabela de texte partajate are mai mult de " + std::to_string(kMaxStringItems) +
             " de texte, prea multe pentru a fi prelucrata");
}

namespace {

// The items as the general reading reads them: the texts of their t elements, phonetic runs left out.
struct StringReader : xml::Handler {
    StringTable& out;
    Held& held;
    int phonetic = 0;
    bool inSi = false, inT = false;
    StringReader(StringTable& o, Held& h) : out(o), held(h) {}
    void start(const xml::Element& e) override {
        if (e.depth == 0) out.root = e;
        if (e.depth == 1 && e.local == "si"sv) {
            checkItemCount(out);
            inSi = true;
            if (out.items.size() == out.items.capacity())
                held.add((out.items.capacity() + 1) * sizeof(std::string));
            out.items.emplace_back();
        }
        if (inSi && e.local == "rPh"sv) ++phonetic;
        if (inSi && e.local == "t"sv && !phonetic) inT = true;
    }
    void end(const xml::Element& e, const xml::EndTag& t) override {
        if (e.depth == 0) out.rootEnd = t;
        if (e.local == "t"sv) inT = false;
        if (inSi && e.local == "rPh"sv) --phonetic;
        if (e.depth == 1 && e.local == "si"sv) inSi = false;
    }
    void text(const xml::Element&, std::string_view s) override {
        // An item growing without end is counted as it grows.
        if (inT) held.add(s.size()), out.items.back().append(s);
    }
};

} // namespace

StringTableReader::StringTableReader(xml::PieceReader read, std::string partName, bool plainItems,
                                     std::size_t chunk, std::shared_ptr<MemoryBudget> budget)
    : read_(std::move(read)), part_(std::move(partName)), plain_(plainItems),
      chunk_(std::max<std::size_t>(chunk, 1)), bytesHeld_(budget, part_),
      itemsHeld_(std::move(budget), part_) {}

const std::string* StringTableReader::item(std::size_t i) {
    if (i >= table_.items.size() && !done_ && !failure_) {
        if (!plain_ || !readPlainly(i)) readByParser();
    }
    if (failure_) std::rethrow_exception(failure_);
    return i < table_.items.size() ? &table_.items[i] : nullptr;
}

const StringTable& StringTableReader::all() {
    if (!done_ && !failure_) {
        if (!plain_ || !readPlainly(kAll)) readByParser();
    }
    if (failure_) std::rethrow_exception(failure_);
    return table_;
}

bool StringTableReader::inflateMore() {
    if (complete_) return false;
    const std::size_t had = bytes_->size(), want = std::max(had, chunk_);
    bytesHeld_.add(want);
    bytes_->resize(had + want);
    std::size_t got = 0;
    while (got < want) {
        const std::size_t n = read_(std::span(*bytes_).subspan(had + got, want - got));
        if (n == 0) {
            complete_ = true;
            break;
        }
        got += n;
    }
    bytes_->resize(had + got);
    return true;
}

// Items of plain text only, in one t or several; anything else (rich text runs, phonetic runs, extensions)
// is left to the parser. Each item is taken once its end tag is in the bytes at hand; one cut short is read
// again when more have come.
bool StringTableReader::readPlainly(std::size_t wanted) {
    while (true) {
        if (step(wanted)) return true;
        if (!inflateMore()) return false; // all the bytes were there: not plain
    }
}

bool StringTableReader::step(std::size_t wanted) {
    const std::span<const std::uint8_t> bytes(*bytes_);
    // All the items the bytes at hand hold are read, each once: as far as the one wanted, or further.
    const auto enough = [&] { return wanted != kAll && table_.items.size() > wanted; };
    try {
        if (rootName_.empty()) {
            const Head head(
                bytes, part_, [](const xml::Element& e) { return e.depth == 0; }, complete_);
            const xml::Element* root = head.element();
            if (!root) return false;
            table_.root = *root;
            prefixes_ = head.prefixes();
            const std::string p = root->prefix.empty() ? std::string() : root->prefix + ":";
            rootName_ = p + root->local, si_ = p + "si", t_ = p + "t";
            next_ = root->startEnd;
        }
        PlainTags tags(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), next_,
                       bound_);
        using Close = PlainTags::Close;
        std::size_t begin = 0, end = 0;
        while (true) {
            const Close closed = tags.end(rootName_, begin, end);
            if (closed == Close::Yes) {
                if (!complete_ || !tags.atEnd()) return enough();
                table_.rootEnd = {begin, end};
                table_.plain = done_ = true;
                return true;
            }
            if (closed == Close::Other || !tags.start() || tags.tag.name != si_) return enough();
            std::string item;
            const bool open = !tags.tag.empty;
            while (open) {
                const Close k = tags.end(si_, begin, end);
                if (k == Close::Yes) break;
                if (k == Close::Other || !tags.start() || tags.tag.name != t_ || !tags.content(t_, &item))
                    return enough();
            }
            if (table_.items.size() >= kMaxStringItems) break;
            itemsHeld_.add(heapOf(item) + (table_.items.size() == table_.items.capacity()
                                               ? (table_.items.capacity() + 1) * sizeof(std::string)
                                               : 0));
            table_.items.push_back(std::move(item));
            next_ = tags.at();
        }
    } catch (const OverBudget&) {
        throw;
    } catch (const RuntimeError&) {
        return enough();
    }
    checkItemCount(table_); // a table too large to hold, refused outside the fall back to the parser
    return false;
}

void StringTableReader::readByParser() {
    try {
        while (inflateMore()) {
        }
        StringTable table;
        xml::scanEither(*bytes_, part_, [&] {
            table = {};
            itemsHeld_.clear();
            return std::make_unique<StringReader>(table, itemsHeld_);
        });
        table_ = std::move(table);
        done_ = true;
    } catch (const RuntimeError&) {
        failure_ = std::current_exception();
    }
}

} // namespace ordana::spreadsheet::xlsx
