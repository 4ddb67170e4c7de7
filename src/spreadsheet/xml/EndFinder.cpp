// Where an element ends, found by looking for '<' and reading only the tags that may be its own.

#include "XmlPart.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>
#include <string>

namespace ordana::spreadsheet::xml {

namespace {

bool isSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The first '>', '"' or '\'' in [p, end), or end.
const std::uint8_t* tagStop(const std::uint8_t* p, const std::uint8_t* end) {
#if defined(__SSE2__)
    const __m128i gt = _mm_set1_epi8('>'), dq = _mm_set1_epi8('"'), sq = _mm_set1_epi8('\'');
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, dq)), _mm_cmpeq_epi8(v, sq));
        if (const int mask = _mm_movemask_epi8(hit)) return p + __builtin_ctz(unsigned(mask));
    }
#endif
    for (; p < end; ++p)
        if (*p == '>' || *p == '"' || *p == '\'') return p;
    return end;
}

// The first '<' in [p, end), or end. Inline: in a sheet they come every forty bytes or so, too close for a
// call to memchr to pay.
const std::uint8_t* nextLt(const std::uint8_t* p, const std::uint8_t* end) {
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<');
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, lt)))
            return p + __builtin_ctz(unsigned(mask));
    }
#endif
    for (; p < end; ++p)
        if (*p == '<') return p;
    return end;
}

} // namespace

std::size_t EndFinder::feed(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* const data = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    // Moves just past the next c; false, at the end, when these bytes hold none.
    auto past = [&](std::uint8_t c) {
        const void* at = std::memchr(data + i, c, n - i);
        i = at ? std::size_t(static_cast<const std::uint8_t*>(at) - data) + 1 : n;
        return at != nullptr;
    };
    while (i < n) {
        switch (state_) {
        case State::Text:
            inText(data, n, i);
            break;
        case State::Open:
            atOpen(data, n, i);
            break;
        case State::Name:
            if (atName(data, i)) {
                scanned_ += n;
                return lt_;
            }
            break;
        case State::Tag:
            inTag(data, n, i);
            break;
        case State::Quoted:
            if (past(quote_)) {
                last_ = quote_;
                state_ = State::Tag;
            }
            break;
        case State::Bang:
            atBang(data, i);
            break;
        case State::Comment:
        case State::CData:
            inComment(data, n, i);
            break;
        case State::Pi:
            inPi(data, n, i);
            break;
        case State::Declaration:
            if (past('>')) state_ = State::Text;
            break;
        }
    }
    scanned_ += n;
    return std::string::npos;
}

// Only '<' can start markup, and none stands in text or in a quoted value: the tags of other elements are
// passed over without being read. Most are ruled out here, by the byte after where the name would end and by
// its first byte, without leaving this loop.
void EndFinder::inText(const std::uint8_t* data, std::size_t n, std::size_t& i) {
    const std::size_t q = name_.size();
    for (;;) {
        i = std::size_t(nextLt(data + i, data + n) - data);
        if (i == n) break;
        const std::size_t at = i++;
        if (i + 1 + q < n && data[i] != '!' && data[i] != '?') {
            const std::size_t name = i + (data[i] == '/');
            const std::uint8_t after = data[name + q];
            if ((!isSpace(after) && after != '>' && after != '/') || data[name] != std::uint8_t(name_[0]))
                continue;
        }
        lt_ = scanned_ + at;
        state_ = State::Open;
        break;
    }
}

// Just after a '<' that may begin one of the element's tags.
void EndFinder::atOpen(const std::uint8_t* data, std::size_t n, std::size_t& i) {
    const std::size_t q = name_.size();
    const std::uint8_t c = data[i];
    run_ = 0;
    if (c == '!') {
        state_ = State::Bang;
        ++i;
        return;
    }
    if (c == '?') {
        state_ = State::Pi;
        last_ = 0;
        ++i;
        return;
    }
    closing_ = c == '/';
    if (closing_) ++i;
    // Most tags: the whole name and the byte after it are at hand.
    if (i + q < n) {
        if (std::memcmp(data + i, name_.data(), q) != 0) {
            state_ = State::Text;
            return;
        }
        i += q;
        run_ = q;
    }
    state_ = State::Name;
}

// The name matched byte by byte where it runs over the end of the bytes fed. True at the end tag sought.
bool EndFinder::atName(const std::uint8_t* data, std::size_t& i) {
    const std::size_t q = name_.size();
    const std::uint8_t c = data[i];
    if (run_ < q) {
        if (c != std::uint8_t(name_[run_])) {
            state_ = State::Text; // not consumed: it may be a '<'
            return false;
        }
        ++run_;
        ++i;
        return false;
    }
    // After the name: one of the element's own tags, or another's whose name only begins the same.
    state_ = State::Text;
    if (!isSpace(c) && c != '>' && (closing_ || c != '/')) return false; // not consumed
    if (closing_) {
        if (depth_ == 0) return true;
        --depth_;
        return false;
    }
    ++i;
    last_ = c;
    if (c == '>')
        ++depth_;
    else
        state_ = State::Tag; // an element of the same name inside: its '>' tells if it holds any
    return false;
}

// Up to the tag's '>', stepping over quoted values (which may hold '>').
void EndFinder::inTag(const std::uint8_t* data, std::size_t n, std::size_t& i) {
    const std::size_t at = std::size_t(tagStop(data + i, data + n) - data);
    if (at == n) {
        if (n > i) last_ = data[n - 1];
        i = n;
        return;
    }
    const std::uint8_t c = data[at], before = at > i ? data[at - 1] : last_;
    i = at + 1;
    if (c == '>') {
        if (before != '/') ++depth_;
        state_ = State::Text;
    } else {
        quote_ = c;
        state_ = State::Quoted;
    }
}

// "<!--" opens a comment, "<![CDATA[" a CDATA section; anything else is read to its '>'.
void EndFinder::atBang(const std::uint8_t* data, std::size_t& i) {
    const std::uint8_t c = data[i];
    if (run_ == 0) quote_ = c; // which of the two it may be
    const std::string_view want = quote_ == '-' ? "--" : "[CDATA[";
    if (c != want[run_]) {
        state_ = State::Declaration;
        return;
    }
    ++i;
    if (++run_ == want.size()) {
        state_ = want.size() == 2 ? State::Comment : State::CData;
        run_ = 0;
    }
}

// A comment or CDATA section, to the "-->" or "]]>" that ends it.
void EndFinder::inComment(const std::uint8_t* data, std::size_t n, std::size_t& i) {
    const std::uint8_t mark = state_ == State::Comment ? '-' : ']';
    for (; i < n; ++i) {
        const std::uint8_t c = data[i];
        if (c == '>' && run_ >= 2) {
            state_ = State::Text;
            ++i;
            break;
        }
        run_ = c == mark ? run_ + 1 : 0;
    }
}

// A processing instruction, to its "?>".
void EndFinder::inPi(const std::uint8_t* data, std::size_t n, std::size_t& i) {
    for (; i < n; ++i) {
        const std::uint8_t c = data[i];
        if (c == '>' && last_ == '?') {
            state_ = State::Text;
            ++i;
            break;
        }
        last_ = c;
    }
}

} // namespace ordana::spreadsheet::xml
