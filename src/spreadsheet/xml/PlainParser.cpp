#include "spreadsheet/xml/PlainParser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace ordana::spreadsheet::xml {

namespace {

using Byte = unsigned char;

// Bytes a loop must stop at, by where they stand: in text, in an attribute value; and the name bytes.
struct Classes {
    std::array<bool, 256> text{}, value{}, nameStart{}, name{}, space{}, local{};
};

constexpr Classes makeClasses() {
    Classes k;
    for (int c = 0; c < 256; ++c) {
        const bool control = c < 0x20, high = c >= 0x80;
        k.text[c] = control || high || c == '<' || c == '&' || c == ']';
        k.value[c] = control || high || c == '<' || c == '&' || c == '"' || c == '\'';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        k.nameStart[c] = letter || c == '_' || c == ':';
        k.name[c] = k.nameStart[c] || (c >= '0' && c <= '9') || c == '.' || c == '-';
        k.space[c] = c == ' ' || c == '\t' || c == '\n';
        k.local[c] = k.name[c] && c != ':';
    }
    return k;
}
constexpr Classes kClass = makeClasses();

constexpr std::size_t kLongestToken = std::size_t(1) << 20;

bool space(Byte c) {
    return kClass.space[c];
}

// The length of the UTF-8 sequence at p if it is one XML character, as expat judges it; 0 when it is not;
// -1 when e cuts it short.
int sequence(const Byte* p, const Byte* e) {
    const unsigned c = p[0];
    int n = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0xC2) return 0;
    if (c < 0xE0) {
        n = 2;
    } else if (c < 0xF0) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F; // surrogates
    } else if (c < 0xF5) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (int i = 1; i < n; ++i) {
        if (p + i >= e) return -1;
        const unsigned x = p[i];
        if (x < (i == 1 ? lo : 0x80) || x > (i == 1 ? hi : 0xBF)) return 0;
    }
    if (c == 0xEF && p[1] == 0xBF && p[2] >= 0xBE) return 0; // U+FFFE, U+FFFF
    return n;
}

// The character one of the five predefined entity references at p ('&') stands for, and its length; 0 for
// any other reference; -1 when e cuts it short.
int entity(const char* p, const char* e, std::size_t& length) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    const std::string_view at(p, std::size_t(e - p));
    bool cut = false;
    for (const auto& [name, c] : kEntities) {
        if (at.substr(0, name.size()) == name) {
            length = name.size();
            return Byte(c);
        }
        if (at.size() < name.size() && name.substr(0, at.size()) == at) cut = true;
    }
    return cut ? -1 : 0;
}

} // namespace

bool PlainParser::feed(std::string_view in, bool last) {
    if (gaveUp_ || stopped_) return false;
    std::size_t at = 0;
    if (!carry_.empty()) {
        // The token cut short is completed from the new bytes, taking twice as many each time it still is.
        std::size_t had = carry_.size();
        while (true) {
            const std::size_t more = std::min(in.size() - at, std::max<std::size_t>(carry_.size(), 64));
            carry_.append(in.data() + at, more);
            at += more;
            const std::size_t used =
                parse(carry_.data(), carry_.data() + carry_.size(), carryBase_, last && at == in.size());
            if (gaveUp_ || stopped_) return false;
            if (used >= had) {
                // What follows is read from the new bytes themselves.
                at = used - had;
                carry_.clear();
                break;
            }
            if (carry_.size() - used > kLongestToken) return bool(giveUp());
            carry_.erase(0, used);
            carryBase_ += used;
            had -= used;
            if (at == in.size()) {
                fed_ += in.size();
                return true;
            }
        }
    }
    const char* b = in.data() + at;
    const char* e = in.data() + in.size();
    const std::size_t used = parse(b, e, fed_ + at, last);
    if (gaveUp_ || stopped_) return false;
    if (b + used < e) {
        // A token is read again from its start as each piece comes: one far longer than a piece (a text of
        // megabytes) would be read over and over.
        if (std::size_t(e - (b + used)) > kLongestToken) return bool(giveUp());
        carry_.assign(b + used, e);
        carryBase_ = fed_ + at + used;
    }
    fed_ += in.size();
    return true;
}

std::size_t PlainParser::parse(const char* b, const char* e, std::size_t base, bool last) {
    const char* p = b;
    while (p < e && !stopped_) {
        const char* next = *p == '<' ? tag(p, e, base + std::size_t(p - b), last)
                                     : text(p, e, base + std::size_t(p - b), last);
        if (!next) break;
        p = next;
    }
    // The document must have had its element, and closed it.
    if (last && p == e && !gaveUp_ && !stopped_ && (!rootSeen_ || !nameAt_.empty())) gaveUp_ = true;
    return std::size_t(p - b);
}

const char* PlainParser::text(const char* p, const char* e, std::size_t at, bool last) {
    const bool inside = !nameAt_.empty();
    bool decoding = false;
    decoded_.clear();
    const char* run = p;
    const char* q = p;
    while (true) {
        while (q < e && !kClass.text[Byte(*q)])
            ++q;
        if (q == e) {
            if (!last || inside) return cut(last);
            break;
        }
        const Byte c = Byte(*q);
        if (c == '<') break;
        if (c == '&') {
            std::size_t length = 0;
            const int ch = entity(q, e, length);
            if (ch < 0) return cut(last);
            if (ch == 0 || !inside) return giveUp();
            decoded_.append(run, q);
            decoded_ += char(ch);
            q += length;
            run = q;
            decoding = true;
        } else if (c == ']') {
            if (e - q < 3 && !last) return cut(last);
            if (e - q >= 3 && q[1] == ']' && q[2] == '>') return giveUp();
            ++q;
        } else if (c == '\t' || c == '\n') {
            ++q;
        } else if (c == '\r' && !inside) {
            ++q; // white space between the declaration and the element, as Excel writes it
        } else if (c < 0x20) {
            return giveUp(); // a control character, or a carriage return expat would turn into \n
        } else {
            const int n = sequence(reinterpret_cast<const Byte*>(q), reinterpret_cast<const Byte*>(e));
            if (n < 0) return cut(last);
            if (n == 0) return giveUp();
            q += n;
        }
    }
    if (!inside) {
        // Before or after the document's element only white space may stand; expat reports none of it.
        for (const char* s = p; s < q; ++s)
            if (!space(Byte(*s)) && *s != '\r') return giveUp();
        return q;
    }
    if (q - p > (1 << 30)) return giveUp();
    eventBegin_ = at;
    eventSize_ = std::size_t(q - p);
    if (decoding) {
        decoded_.append(run, q);
        text_(user_, decoded_.data(), int(decoded_.size()));
    } else {
        text_(user_, p, int(q - p));
    }
    return q;
}

const char* PlainParser::tag(const char* p, const char* e, std::size_t at, bool last) {
    if (e - p < 2) return cut(last);
    if (p[1] == '/') return endTag(p, e, at, last);
    if (p[1] == '?' && at == 0) return declaration(p, e, last);
    // Comments, CDATA, processing instructions, declarations: expat's.
    if (!kClass.nameStart[Byte(p[1])]) return giveUp();
    if (rootClosed_) return giveUp(); // a second document element
    if (take_ && !nameAt_.empty())
        if (const std::size_t taken = take_(user_, p, e, at)) return p + taken;
    const char* q = p + 1;
    while (q < e && kClass.name[Byte(*q)])
        ++q;
    const std::size_t nameLength = std::size_t(q - (p + 1));
    scratch_.resize(0);
    scratch_.append(p + 1, q);
    scratch_.push('\0');
    offsets_.clear();
    bool empty = false;
    while (true) {
        bool spaced = false;
        while (q < e && space(Byte(*q))) {
            ++q;
            spaced = true;
        }
        if (q == e) return cut(last);
        const Byte c = Byte(*q);
        if (c == '>') {
            ++q;
            break;
        }
        if (c == '/') {
            if (q + 1 == e) return cut(last);
            if (q[1] != '>') return giveUp();
            q += 2;
            empty = true;
            break;
        }
        if (!spaced || !kClass.nameStart[c]) return giveUp();
        q = attribute(q, e, last);
        if (!q) return nullptr;
    }
    return reportStart(p, q, at, nameLength, empty);
}

// One attribute at q, its name and decoded value put on scratch_ and their places on offsets_: the byte after
// it, or nullptr.
[[gnu::always_inline]] inline const char* PlainParser::attribute(const char* q, const char* e, bool last) {
    const char* name = q;
    while (q < e && kClass.name[Byte(*q)])
        ++q;
    if (q == e) return cut(last);
    const std::size_t nameAt = scratch_.size(), length = std::size_t(q - name);
    scratch_.append(name, q);
    scratch_.push('\0');
    // An attribute's value follows its name's NUL, which gives the name's length.
    for (std::size_t i = 0; i < offsets_.size(); i += 2)
        if (offsets_[i + 1] - offsets_[i] - 1 == length && scratch_.data()[offsets_[i]] == *name &&
            std::memcmp(scratch_.data() + offsets_[i], name, length) == 0)
            return giveUp(); // the same attribute twice
    if (offsets_.size() >= 128) return giveUp();
    offsets_.push_back(nameAt);
    while (q < e && space(Byte(*q)))
        ++q;
    if (q == e) return cut(last);
    if (*q != '=') return giveUp();
    ++q;
    while (q < e && space(Byte(*q)))
        ++q;
    if (q == e) return cut(last);
    const char quote = *q;
    if (quote != '"' && quote != '\'') return giveUp();
    offsets_.push_back(scratch_.size());
    return attributeValue(q + 1, e, quote, last);
}

// A value from just after its opening quote, decoded onto scratch_ with a NUL after it: the byte after the
// closing quote, or nullptr.
[[gnu::always_inline]] inline const char* PlainParser::attributeValue(const char* q, const char* e,
                                                                      char quote, bool last) {
    const char* run = q;
    while (true) {
        while (q < e && !kClass.value[Byte(*q)])
            ++q;
        if (q == e) return cut(last);
        const Byte v = Byte(*q);
        if (v == Byte(quote)) break;
        if (v == '"' || v == '\'') {
            ++q;
        } else if (v == '<') {
            return giveUp();
        } else if (v == '&') {
            std::size_t length = 0;
            const int ch = entity(q, e, length);
            if (ch < 0) return cut(last);
            if (ch == 0) return giveUp();
            scratch_.append(run, q);
            scratch_.push(char(ch));
            q += length;
            run = q;
        } else if (v == '\t' || v == '\n') {
            // An attribute's white space reads as a space.
            scratch_.append(run, q);
            scratch_.push(' ');
            run = ++q;
        } else if (v < 0x20) {
            return giveUp();
        } else {
            const int n = sequence(reinterpret_cast<const Byte*>(q), reinterpret_cast<const Byte*>(e));
            if (n < 0) return cut(last);
            if (n == 0) return giveUp();
            q += n;
        }
    }
    scratch_.append(run, q);
    scratch_.push('\0');
    return q + 1;
}

// The start tag [p, q) read: reported, then its end at once when it is empty, or its name kept open.
const char* PlainParser::reportStart(const char* p, const char* q, std::size_t at, std::size_t nameLength,
                                     bool empty) {
    attributes_.clear();
    for (std::size_t off : offsets_)
        attributes_.push_back(scratch_.data() + off);
    attributes_.push_back(nullptr);
    rootSeen_ = true;
    eventBegin_ = at;
    eventSize_ = std::size_t(q - p);
    start_(user_, scratch_.data(), attributes_.data());
    if (stopped_) return q; // a handler that stops hears nothing more, not even this element's end
    if (empty) {
        eventBegin_ = at + eventSize_;
        eventSize_ = 0;
        end_(user_, scratch_.data());
        if (nameAt_.empty()) rootClosed_ = true;
    } else {
        nameAt_.push_back(names_.size());
        names_.append(scratch_.data(), scratch_.data() + nameLength + 1);
    }
    return q;
}

const char* PlainParser::declaration(const char* p, const char* e, bool last) {
    // <?xml version="1.0" encoding="UTF-8" standalone="yes"?>, the last two optional; anything else is
    // expat's (another version, another encoding, which it reads or refuses).
    const std::string_view rest(p, std::size_t(e - p));
    const std::size_t close = rest.find("?>");
    if (close == std::string_view::npos) {
        if (last || rest.size() > 256) return giveUp();
        return nullptr;
    }
    std::string_view d = rest.substr(0, close);
    if (d.substr(0, 5) != "<?xml" || d.size() < 6 || !space(Byte(d[5]))) return giveUp();
    d.remove_prefix(5);
    const auto skip = [&] {
        std::size_t n = 0;
        while (n < d.size() && space(Byte(d[n])))
            ++n;
        d.remove_prefix(n);
        return n > 0;
    };
    const auto pseudo = [&](std::string_view name, auto accept) {
        const std::string_view before = d;
        if (!skip() || d.substr(0, name.size()) != name) return (d = before), false;
        d.remove_prefix(name.size());
        skip();
        if (d.empty() || d[0] != '=') return (d = before), false;
        d.remove_prefix(1);
        skip();
        if (d.empty() || (d[0] != '"' && d[0] != '\'')) return (d = before), false;
        const std::size_t end = d.find(d[0], 1);
        if (end == std::string_view::npos || !accept(d.substr(1, end - 1))) return (d = before), false;
        d.remove_prefix(end + 1);
        return true;
    };
    if (!pseudo("version", [](std::string_view v) { return v == "1.0"; })) return giveUp();
    pseudo("encoding", [](std::string_view v) {
        return v.size() == 5 && (v[0] | 0x20) == 'u' && (v[1] | 0x20) == 't' && (v[2] | 0x20) == 'f' &&
               v[3] == '-' && v[4] == '8';
    });
    pseudo("standalone", [](std::string_view v) { return v == "yes" || v == "no"; });
    skip();
    if (!d.empty()) return giveUp();
    return p + close + 2;
}

const char* PlainParser::endTag(const char* p, const char* e, std::size_t at, bool last) {
    const char* name = p + 2;
    const char* q = name;
    while (q < e && kClass.name[Byte(*q)])
        ++q;
    if (q == e) return cut(last);
    if (q == name || !kClass.nameStart[Byte(*name)]) return giveUp();
    const char* nameEnd = q;
    while (q < e && space(Byte(*q)))
        ++q;
    if (q == e) return cut(last);
    if (*q != '>') return giveUp();
    ++q;
    if (nameAt_.empty()) return giveUp();
    const char* open = names_.data() + nameAt_.back();
    const std::size_t length = std::size_t(nameEnd - name);
    if (names_.size() - nameAt_.back() != length + 1 || std::memcmp(open, name, length) != 0)
        return giveUp(); // not the open element's end
    eventBegin_ = at;
    eventSize_ = std::size_t(q - p);
    end_(user_, open);
    names_.resize(nameAt_.back());
    nameAt_.pop_back();
    if (nameAt_.empty()) rootClosed_ = true;
    return q;
}

PlainCursor::PlainCursor(std::string_view bytes, std::size_t at)
    : b_(bytes.data()), p_(bytes.data() + std::min(at, bytes.size())), e_(bytes.data() + bytes.size()),
      decoded_(128) {}

PlainCursor::Next PlainCursor::next() {
    while (p_ < e_ && space(Byte(*p_)))
        ++p_;
    if (p_ == e_) return Next::End;
    if (*p_ != '<') return Next::Text;
    return p_ + 1 < e_ && p_[1] == '/' ? Next::EndTag : Next::StartTag;
}

bool PlainCursor::startTag(Tag& t) {
    const char* p = p_;
    if (e_ - p < 2 || *p != '<' || !kClass.nameStart[Byte(p[1])]) return false;
    const char* q = p + 1;
    while (q < e_ && kClass.name[Byte(*q)])
        ++q;
    t.name = std::string_view(p + 1, std::size_t(q - (p + 1)));
    t.attributes.clear();
    t.empty = false;
    while (true) {
        bool spaced = false;
        while (q < e_ && space(Byte(*q))) {
            ++q;
            spaced = true;
        }
        if (q == e_) return false;
        const Byte c = Byte(*q);
        if (c == '>') {
            ++q;
            break;
        }
        if (c == '/') {
            if (q + 1 == e_ || q[1] != '>') return false;
            q += 2;
            t.empty = true;
            break;
        }
        if (!spaced || !kClass.nameStart[c]) return false;
        q = attribute(q, t);
        if (!q) return false;
    }
    t.begin = at();
    t.end = std::size_t(q - b_);
    p_ = q;
    return true;
}

// One attribute at q, added to t's: the byte after it, or nullptr where it is not in the plain form.
[[gnu::always_inline]] inline const char* PlainCursor::attribute(const char* q, Tag& t) {
    const char* name = q;
    while (q < e_ && kClass.local[Byte(*q)])
        ++q;
    std::size_t colon = std::string_view::npos;
    if (q < e_ && *q == ':') {
        colon = std::size_t(q - name);
        while (q < e_ && kClass.name[Byte(*q)])
            ++q;
    }
    const std::string_view n(name, std::size_t(q - name));
    for (const Attribute& a : t.attributes)
        if (a.name.size() == n.size() && a.name[0] == n[0] && std::memcmp(a.name.data(), name, n.size()) == 0)
            return nullptr; // the same attribute twice
    if (t.attributes.size() >= decoded_.size()) return nullptr;
    while (q < e_ && space(Byte(*q)))
        ++q;
    if (q == e_ || *q != '=') return nullptr;
    ++q;
    while (q < e_ && space(Byte(*q)))
        ++q;
    if (q == e_ || (*q != '"' && *q != '\'')) return nullptr;
    const char quote = *q++;
    std::string_view value;
    q = attributeValue(q, quote, decoded_[t.attributes.size()], value);
    if (!q) return nullptr;
    t.attributes.push_back({n, value, colon});
    return q + 1;
}

// A value from just after its opening quote to the closing one, where it returns (nullptr where the value is
// not in the plain form). Decoded into decoded only when it has an entity or white space to turn into a
// space.
[[gnu::always_inline]] inline const char*
PlainCursor::attributeValue(const char* q, char quote, std::string& decoded, std::string_view& out) {
    const char* run = q;
    std::string* into = nullptr;
    while (true) {
        while (q < e_ && !kClass.value[Byte(*q)])
            ++q;
        if (q == e_) return nullptr;
        const Byte v = Byte(*q);
        if (v == Byte(quote)) break;
        if (v == '"' || v == '\'') {
            ++q;
            continue;
        }
        if (v == '<' || (v < 0x20 && v != '\t' && v != '\n')) return nullptr;
        if (v >= 0x80) {
            const int k = sequence(reinterpret_cast<const Byte*>(q), reinterpret_cast<const Byte*>(e_));
            if (k <= 0) return nullptr;
            q += k;
            continue;
        }
        if (!into) {
            into = &decoded;
            into->clear();
        }
        into->append(run, q);
        if (v == '&') {
            std::size_t length = 0;
            const int ch = entity(q, e_, length);
            if (ch <= 0) return nullptr;
            into->push_back(char(ch));
            q += length;
        } else {
            into->push_back(' ');
            ++q;
        }
        run = q;
    }
    out = std::string_view(run, std::size_t(q - run));
    if (into) out = into->append(run, q);
    return q;
}

bool PlainCursor::endTag(std::string_view name, std::size_t& begin) {
    const char* p = p_;
    if (std::size_t(e_ - p) < name.size() + 3 || p[0] != '<' || p[1] != '/' ||
        std::memcmp(p + 2, name.data(), name.size()) != 0)
        return false;
    const char* q = p + 2 + name.size();
    while (q < e_ && space(Byte(*q)))
        ++q;
    if (q == e_ || *q != '>') return false;
    begin = at();
    p_ = q + 1;
    return true;
}

bool PlainCursor::text(std::string_view& out) {
    const char* p = p_;
    const char* q = p;
    const char* run = p;
    bool decoding = false;
    while (true) {
        while (q < e_ && !kClass.text[Byte(*q)])
            ++q;
        if (q == e_) return false; // no element ends before the bytes do
        const Byte c = Byte(*q);
        if (c == '<') break;
        if (c == '&') {
            std::size_t length = 0;
            const int ch = entity(q, e_, length);
            if (ch <= 0) return false;
            if (!decoding) text_.clear();
            text_.append(run, q);
            text_ += char(ch);
            q += length;
            run = q;
            decoding = true;
        } else if (c == ']') {
            if (e_ - q >= 3 && q[1] == ']' && q[2] == '>') return false;
            ++q;
        } else if (c == '\t' || c == '\n') {
            ++q;
        } else if (c < 0x20) {
            return false;
        } else {
            const int n = sequence(reinterpret_cast<const Byte*>(q), reinterpret_cast<const Byte*>(e_));
            if (n <= 0) return false;
            q += n;
        }
    }
    if (decoding)
        out = text_.append(run, q);
    else
        out = std::string_view(p, std::size_t(q - p));
    p_ = q;
    return true;
}

} // namespace ordana::spreadsheet::xml
