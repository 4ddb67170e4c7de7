#include "XmlPart.h"

#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/xml/PlainParser.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace ordana::spreadsheet::xml {

namespace {

bool isSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::size_t heldBy(const Element& e) {
    const auto heap = [](const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; };
    std::size_t n = sizeof(Element) + heap(e.uri) + heap(e.local) + heap(e.prefix) +
                    e.attributes.capacity() * sizeof(Attribute);
    for (const Attribute& a : e.attributes)
        n += heap(a.uri) + heap(a.local) + heap(a.prefix) + heap(a.value);
    return n;
}

std::string nestedTooDeep() {
    return "are elementele imbricate pe mai mult de " + std::to_string(kMaxDepth) + " niveluri";
}

std::string doctypeRefused() {
    return "contine o declaratie DOCTYPE, pe care acest tip de fisier nu o permite";
}

std::string parserRefusal(int expatError, const std::string& where) {
    // Expat refuses a part whose reading would take memory out of proportion to its bytes: a limit, not a
    // fault of well-formedness.
    const auto code = XML_Error(expatError);
    const std::string what = code == XML_ERROR_NO_MEMORY || code == XML_ERROR_AMPLIFICATION_LIMIT_BREACH
                                 ? "nu poate fi citita: cititorul XML ar avea nevoie de prea multa memorie"
                                 : "nu este XML corect";
    return what + " (" + where + "): " + XML_ErrorString(code);
}

bool NamespaceScope::isDeclaration(const char* name) {
    return name[0] == 'x' && std::strncmp(name, "xmlns", 5) == 0 && (name[5] == '\0' || name[5] == ':');
}

void NamespaceScope::declare(std::string_view prefix, std::string_view uri, std::size_t depth) {
    bindings_.push_back({std::string(prefix), std::string(uri), depth});
    auto it = byPrefix_.find(prefix);
    if (it == byPrefix_.end()) it = byPrefix_.emplace(std::string(prefix), std::vector<std::size_t>()).first;
    it->second.push_back(bindings_.size() - 1);
}

bool NamespaceScope::leave(std::size_t depth) {
    if (bindings_.empty() || bindings_.back().depth <= depth) return false;
    while (!bindings_.empty() && bindings_.back().depth > depth) {
        byPrefix_.find(bindings_.back().prefix)->second.pop_back();
        bindings_.pop_back();
    }
    return true;
}

const std::string* NamespaceScope::find(std::string_view prefix) const {
    static const std::string xmlNamespace = "http://www.w3.org/XML/1998/namespace";
    const auto it = byPrefix_.find(prefix);
    if (it != byPrefix_.end() && !it->second.empty()) {
        const std::string& uri = bindings_[it->second.back()].uri;
        return uri.empty() && !prefix.empty() ? nullptr : &uri;
    }
    if (prefix == "xml") return &xmlNamespace;
    return nullptr;
}

const std::string* Element::attribute(std::string_view name) const {
    for (const Attribute& a : attributes)
        if (a.uri.empty() && a.local == name) return &a.value;
    return nullptr;
}

const std::string* Element::attribute(std::string_view u, std::string_view name) const {
    for (const Attribute& a : attributes)
        if (a.uri == u && a.local == name) return &a.value;
    return nullptr;
}

std::string Element::qualified(std::string_view name) const {
    return prefix.empty() ? std::string(name) : prefix + ":" + std::string(name);
}

struct Scanner::State {
    std::string part;
    Handler& handler;
    XML_Parser parser = nullptr;
    PlainParser* plain = nullptr; // parsing instead of expat, which alone names faults
    std::vector<Element> open;    // the stack of open elements, reused between siblings
    int depth = 0;
    NamespaceScope scope;
    // The names as written from which each depth's element and attributes were last resolved, and the
    // declarations in force then: a sibling with the same names under the same declarations resolves to the
    // same, which is most elements of a large part.
    struct Written {
        std::uint64_t declarations = kNever;
        std::vector<std::string> names; // the element's, then its attributes'
    };
    static constexpr std::uint64_t kNever = ~std::uint64_t(0);
    std::vector<Written> written;
    std::uint64_t declarations = 0; // counts the changes to scope
    bool stopped = false;
    std::string failure;       // set by a handler that refuses the part
    std::exception_ptr thrown; // by a handler, kept until expat has returned

    // A handler's exception is not let through expat, which would leak what it holds mid-parse: the parse
    // stops, and feed() throws it once expat has returned.
    template <class F> void deliver(F&& f) {
        if (plain) return f();
        try {
            f();
        } catch (...) {
            thrown = std::current_exception();
            XML_StopParser(parser, XML_FALSE);
        }
    }

    State(std::string p, Handler& h) : part(std::move(p)), handler(h) {}

    static void onStart(void* user, const XML_Char* name, const XML_Char** atts) {
        auto& s = *static_cast<State*>(user);
        if (s.thrown) return;
        if (std::size_t(s.depth) >= kMaxDepth) return s.plain ? s.plain->stop() : s.refuse(nestedTooDeep());
        if (s.open.size() <= std::size_t(s.depth)) s.open.emplace_back(), s.written.emplace_back();
        Element& e = s.open[std::size_t(s.depth)];
        for (const XML_Char** a = atts; *a; a += 2)
            if (NamespaceScope::isDeclaration(a[0])) {
                s.scope.declare(a[0][5] ? a[0] + 6 : "", a[1], std::size_t(s.depth) + 1);
                ++s.declarations;
            }
        // The element at this depth and its attributes are reused from the sibling before, strings and all:
        // most names and values are the same as there, and nothing is allocated for them.
        Written& w = s.written[std::size_t(s.depth)];
        const bool same = w.declarations == s.declarations;
        w.declarations = kNever; // until all is resolved
        auto resolved = [&](std::size_t slot, const char* qn) {
            if (same && slot < w.names.size() && w.names[slot] == qn) return true;
            if (w.names.size() <= slot) w.names.resize(slot + 1);
            w.names[slot] = qn;
            return false;
        };
        if (!resolved(0, name) && !s.resolve(name, true, e.uri, e.local, e.prefix)) return;
        std::size_t count = 0;
        for (const XML_Char** a = atts; *a; a += 2) {
            if (NamespaceScope::isDeclaration(a[0])) continue;
            if (count == e.attributes.size()) e.attributes.emplace_back();
            Attribute& at = e.attributes[count++];
            if (!resolved(count, a[0]) && !s.resolve(a[0], false, at.uri, at.local, at.prefix)) {
                e.attributes.resize(count);
                return;
            }
            keep(at.value, a[1]);
        }
        e.attributes.resize(count);
        w.names.resize(count + 1);
        w.declarations = s.declarations;
        e.begin = s.eventBegin();
        e.startEnd = e.begin + s.eventSize();
        e.depth = s.depth;
        ++s.depth;
        s.deliver([&] { s.handler.start(e); });
    }
    static void onEnd(void* user, const XML_Char*) {
        auto& s = *static_cast<State*>(user);
        if (!s.failure.empty() || s.thrown) return;
        --s.depth;
        if (s.scope.leave(std::size_t(s.depth))) ++s.declarations;
        const Element& e = s.open[std::size_t(s.depth)];
        EndTag t;
        const std::size_t count = s.eventSize();
        if (count == 0) {
            t.begin = t.end = e.startEnd; // <a/>
        } else {
            t.begin = s.eventBegin();
            t.end = t.begin + count;
        }
        s.deliver([&] { s.handler.end(e, t); });
    }
    static void onText(void* user, const XML_Char* text, int len) {
        auto& s = *static_cast<State*>(user);
        if (s.depth > 0 && s.failure.empty() && !s.thrown)
            s.deliver([&] {
                s.handler.text(s.open[std::size_t(s.depth - 1)], std::string_view(text, std::size_t(len)));
            });
    }
    static void onDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<State*>(user)->refuse(doctypeRefused());
    }
    // False, with the part refused as expat refuses it, for a prefix that nothing binds.
    bool resolve(const char* qn, bool element, std::string& uri, std::string& local, std::string& prefix) {
        const auto name = NamespaceScope::split(qn);
        keep(local, name.local);
        keep(prefix, name.prefix);
        if (name.prefix.empty()) {
            // An attribute in no namespace; an element in the default one, if any.
            const std::string* ns = element ? scope.find({}) : nullptr;
            if (ns)
                keep(uri, *ns);
            else
                uri.clear();
            return true;
        }
        if (const std::string* ns = scope.find(name.prefix)) {
            keep(uri, *ns);
            return true;
        }
        if (plain) return plain->stop(), false;
        refuse("nu este XML corect (linia " + std::to_string(XML_GetCurrentLineNumber(parser)) +
               ", coloana " + std::to_string(XML_GetCurrentColumnNumber(parser)) +
               "): " + XML_ErrorString(XML_ERROR_UNBOUND_PREFIX));
        return false;
    }
    std::size_t eventBegin() const {
        return plain ? plain->eventBegin() : std::size_t(XML_GetCurrentByteIndex(parser));
    }
    std::size_t eventSize() const {
        return plain ? plain->eventSize() : std::size_t(XML_GetCurrentByteCount(parser));
    }
    // Assigns only what differs: comparing is cheaper than a string's general replace.
    static void keep(std::string& to, std::string_view from) {
        if (to != from) to.assign(from);
    }
    void refuse(std::string why) {
        if (failure.empty()) failure = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }
};

Scanner::Scanner(std::string partName, Handler& handler)
    : state_(std::make_unique<State>(std::move(partName), handler)) {
    State& s = *state_;
    s.parser = XML_ParserCreate(nullptr);
    if (!s.parser) throw std::bad_alloc();
    XML_SetUserData(s.parser, &s);
    XML_SetElementHandler(s.parser, &State::onStart, &State::onEnd);
    XML_SetCharacterDataHandler(s.parser, &State::onText);
    XML_SetStartDoctypeDeclHandler(s.parser, &State::onDoctype);
}

Scanner::~Scanner() {
    if (state_->parser) XML_ParserFree(state_->parser);
}

bool Scanner::feed(std::span<const std::uint8_t> bytes, bool last) {
    State& s = *state_;
    if (s.stopped) return false;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(bytes.size() - at, kParseSlice);
        const bool final = last && at + n == bytes.size();
        const XML_Status rc = XML_Parse(s.parser, reinterpret_cast<const char*>(bytes.data() + at), int(n),
                                        final ? XML_TRUE : XML_FALSE);
        if (s.thrown) {
            s.stopped = true;
            std::rethrow_exception(s.thrown);
        }
        if (!s.failure.empty())
            throw RuntimeError(err::Application, "partea " + text::quoted(s.part) + " " + s.failure);
        if (rc == XML_STATUS_SUSPENDED || s.stopped) {
            s.stopped = true;
            return false;
        }
        if (rc == XML_STATUS_ERROR) {
            if (XML_GetErrorCode(s.parser) == XML_ERROR_ABORTED && s.stopped) return false;
            throw RuntimeError(
                err::Application,
                "partea " + text::quoted(s.part) + " " +
                    parserRefusal(XML_GetErrorCode(s.parser),
                                  "linia " + std::to_string(XML_GetCurrentLineNumber(s.parser)) +
                                      ", coloana " + std::to_string(XML_GetCurrentColumnNumber(s.parser))));
        }
        at += n;
    } while (at < bytes.size());
    return true;
}

void Scanner::stop() {
    State& s = *state_;
    if (s.stopped) return;
    s.stopped = true;
    XML_StopParser(s.parser, XML_FALSE);
}

bool Scanner::stopped() const {
    return state_->stopped;
}

void scan(std::span<const std::uint8_t> part, const std::string& partName, Handler& handler) {
    Scanner scanner(partName, handler);
    scanner.feed(part, true);
}

bool scanPlainly(std::span<const std::uint8_t> part, const std::string& partName, Handler& handler) {
    Scanner::State s(partName, handler);
    PlainParser plain(&s, &Scanner::State::onStart, &Scanner::State::onEnd, &Scanner::State::onText);
    s.plain = &plain;
    return plain.feed({reinterpret_cast<const char*>(part.data()), part.size()}, true);
}

namespace {

class TreeBuilder : public Handler {
  public:
    explicit TreeBuilder(std::vector<Document::Node>& nodes) : nodes_(nodes) {}
    void start(const Element& e) override {
        Document::Node n;
        n.element = e;
        n.parent = stack_.empty() ? -1 : stack_.back();
        const int index = int(nodes_.size());
        if (n.parent >= 0) nodes_[std::size_t(n.parent)].children.push_back(index);
        nodes_.push_back(std::move(n));
        stack_.push_back(index);
    }
    void end(const Element&, const EndTag& t) override {
        nodes_[std::size_t(stack_.back())].endTag = t;
        stack_.pop_back();
    }
    void text(const Element&, std::string_view s) override {
        nodes_[std::size_t(stack_.back())].text.append(s);
    }

  private:
    std::vector<Document::Node>& nodes_;
    std::vector<int> stack_;
};

} // namespace

Document Document::parse(std::span<const std::uint8_t> bytes, const std::string& partName) {
    Document d;
    d.bytes_ = bytes;
    d.utf8_ = isUtf8Part(bytes);
    TreeBuilder builder(d.nodes_);
    scan(bytes, partName, builder);
    if (d.nodes_.empty())
        throw RuntimeError(err::Application, "partea " + text::quoted(partName) + " nu are niciun element");
    return d;
}

std::vector<int> Document::children(int parent, std::string_view local) const {
    std::vector<int> out;
    for (int c : node(parent).children)
        if (node(c).element.local == local) out.push_back(c);
    return out;
}

int Document::child(int parent, std::string_view local) const {
    for (int c : node(parent).children)
        if (node(c).element.local == local) return c;
    return -1;
}

std::vector<std::pair<std::string, AttributeSpan>> attributeSpans(std::span<const std::uint8_t> part,
                                                                  const Element& element) {
    std::vector<std::pair<std::string, AttributeSpan>> out;
    std::size_t p = attributeInsertPoint(element);
    const std::size_t end = std::min(element.startEnd, part.size());
    while (p < end) {
        while (p < end && isSpace(part[p]))
            ++p;
        const std::size_t nameBegin = p;
        while (p < end && !isSpace(part[p]) && part[p] != '=' && part[p] != '/' && part[p] != '>')
            ++p;
        if (p == nameBegin) break;
        std::string name(reinterpret_cast<const char*>(&part[nameBegin]), p - nameBegin);
        while (p < end && isSpace(part[p]))
            ++p;
        if (p >= end || part[p] != '=') break;
        ++p;
        while (p < end && isSpace(part[p]))
            ++p;
        if (p >= end || (part[p] != '"' && part[p] != '\'')) break;
        const std::uint8_t quote = part[p++];
        const std::size_t valueBegin = p;
        while (p < end && part[p] != quote)
            ++p;
        if (p >= end) break;
        out.emplace_back(std::move(name), AttributeSpan{nameBegin, p + 1, valueBegin, p});
        ++p;
    }
    return out;
}

bool findAttribute(std::span<const std::uint8_t> part, const Element& element, std::string_view name,
                   AttributeSpan& out) {
    for (const auto& [n, span] : attributeSpans(part, element))
        if (n == name) {
            out = span;
            return true;
        }
    return false;
}

std::size_t attributeInsertPoint(const Element& element) {
    return element.begin + 1 + element.prefix.size() + (element.prefix.empty() ? 0 : 1) +
           element.local.size();
}

bool isUtf8Part(std::span<const std::uint8_t> part) {
    if (part.size() >= 2 && ((part[0] == 0xFF && part[1] == 0xFE) || (part[0] == 0xFE && part[1] == 0xFF)))
        return false;
    if (part.size() >= 2 && (part[0] == 0 || part[1] == 0)) return false;
    std::string_view head(reinterpret_cast<const char*>(part.data()),
                          std::min<std::size_t>(part.size(), 200));
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    if (!head.starts_with("<?xml")) return true;
    head = head.substr(0, head.find("?>"));
    const auto at = head.find("encoding");
    if (at == std::string_view::npos) return true;
    const auto q = head.find_first_of("\"'", at);
    if (q == std::string_view::npos) return true;
    const auto e = head.find(head[q], q + 1);
    const std::string enc = text::foldCase(head.substr(q + 1, e == std::string_view::npos ? 0 : e - q - 1));
    return enc == "UTF-8" || enc == "UTF8" || enc == "US-ASCII";
}

bool holdsAsText(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return text::isValidUtf8(s);
}

std::string escapeText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string escapeAttribute(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '"':
            out += "&quot;";
            break;
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        default:
            out += escapeText(std::string_view(&c, 1));
        }
    }
    return out;
}

void Edits::replace(std::size_t begin, std::size_t end, std::string text) {
    edits_.push_back({begin, end, std::move(text), edits_.size()});
}

void Edits::insert(std::size_t at, std::string text) {
    edits_.push_back({at, at, std::move(text), edits_.size()});
}

void Edits::append(const Edits& other) {
    for (const Edit& e : other.edits_)
        edits_.push_back({e.begin, e.end, e.text, edits_.size()});
}

void Edits::append(Edits&& other) {
    for (Edit& e : other.edits_)
        edits_.push_back({e.begin, e.end, std::move(e.text), edits_.size()});
    other.edits_.clear();
}

std::size_t Edits::bytes() const {
    std::size_t n = edits_.capacity() * sizeof(Edit);
    for (const Edit& e : edits_)
        n += e.text.capacity();
    return n;
}

Edits Edits::shifted(std::size_t from, std::size_t to, bool atTo) const {
    Edits out;
    for (const Edit& e : edits_)
        if (e.begin >= from && e.end <= to && (e.begin < to || atTo))
            out.edits_.push_back({e.begin - from, e.end - from, e.text, e.order});
    return out;
}

std::string Edits::pack() const {
    std::string out;
    const auto put = [&](std::uint64_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); };
    for (const Edit& e : edits_) {
        put(e.begin), put(e.end), put(e.text.size());
        out += e.text;
    }
    return out;
}

Edits Edits::unpack(std::string_view packed) {
    Edits out;
    const auto take = [&] {
        std::uint64_t v = 0;
        if (packed.size() < sizeof v) throw RuntimeError(err::Internal, "modificari pastrate deteriorate");
        std::memcpy(&v, packed.data(), sizeof v);
        packed.remove_prefix(sizeof v);
        return std::size_t(v);
    };
    while (!packed.empty()) {
        const std::size_t begin = take(), end = take(), size = take();
        if (size > packed.size()) throw RuntimeError(err::Internal, "modificari pastrate deteriorate");
        out.edits_.push_back({begin, end, std::string(packed.substr(0, size)), out.edits_.size()});
        packed.remove_prefix(size);
    }
    return out;
}

std::vector<std::reference_wrapper<const Edits::Edit>> Edits::sorted() const {
    // The edits themselves are not copied: a save of thousands of sheets holds megabytes of them.
    std::vector<std::reference_wrapper<const Edit>> s(edits_.begin(), edits_.end());
    // By position; at one position insertions first (in the order given), then the replacement.
    std::stable_sort(s.begin(), s.end(), [](const Edit& a, const Edit& b) {
        if (a.begin != b.begin) return a.begin < b.begin;
        const bool ai = a.begin == a.end, bi = b.begin == b.end;
        if (ai != bi) return ai;
        return a.order < b.order;
    });
    std::size_t reached = 0;
    for (const Edit& e : s) {
        if (e.begin < reached || e.end < e.begin)
            throw RuntimeError(err::Internal, "doua modificari ale aceleiasi parti XML se suprapun");
        reached = e.end;
    }
    return s;
}

std::size_t Edits::end() const {
    std::size_t end = 0;
    for (const Edit& e : edits_)
        end = std::max(end, e.end);
    return end;
}

std::pair<std::size_t, std::size_t> Edits::longestGap() const {
    std::pair<std::size_t, std::size_t> gap{0, 0};
    const auto s = sorted();
    for (std::size_t i = 1; i < s.size(); ++i)
        if (s[i].get().begin > s[i - 1].get().end &&
            s[i].get().begin - s[i - 1].get().end > gap.second - gap.first)
            gap = {s[i - 1].get().end, s[i].get().begin};
    return gap;
}

void Edits::writeTo(std::span<const std::uint8_t> original, std::size_t from, std::size_t to,
                    const ByteSink& sink) const {
    if (from > to || to > original.size())
        throw RuntimeError(err::Internal, "o modificare iese din partea XML");
    std::size_t at = from;
    for (const Edit& e : sorted()) {
        if (e.begin < from && e.end <= from) continue;
        if (e.begin > to) break;
        if (e.begin < from || e.end > to)
            throw RuntimeError(err::Internal,
                               "o modificare trece peste marginea bucatii scrise dintr-o parte XML");
        if (e.begin > at) sink(original.subspan(at, e.begin - at));
        sink({reinterpret_cast<const std::uint8_t*>(e.text.data()), e.text.size()});
        at = e.end;
    }
    if (at < to) sink(original.subspan(at, to - at));
}

void Edits::writeTo(std::span<const std::uint8_t> original, const ByteSink& sink) const {
    if (end() > original.size()) throw RuntimeError(err::Internal, "o modificare iese din partea XML");
    writeTo(original, 0, original.size(), sink);
}

std::vector<std::uint8_t> Edits::apply(std::span<const std::uint8_t> original) const {
    std::vector<std::uint8_t> out;
    writeTo(original,
            [&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    return out;
}

} // namespace ordana::spreadsheet::xml
