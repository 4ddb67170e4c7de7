#include "Text.h"

#include <algorithm>

namespace ordana::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

char16_t upper(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return char16_t(c - 0x20);
    return c;
}

// The code point at s[i], advancing i past it; an ill-formed sequence yields U+FFFD and advances past its
// maximal valid prefix (at least one byte), as Unicode's conversion guidelines recommend.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i++]);
    if (b0 < 0x80) return b0;
    int extra;
    char32_t c;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        extra = 1;
        c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        extra = 2;
        c = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0; // no overlong forms
        if (b0 == 0xED) hi = 0x9F; // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        extra = 3;
        c = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F; // nothing past U+10FFFF
    } else {
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size()) return kReplacement;
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < lo || b > hi) return kReplacement;
        lo = 0x80;
        hi = 0xBF;
        c = (c << 6) | (b & 0x3F);
        ++i;
    }
    return c;
}

} // namespace

void appendUtf8(std::string& out, char32_t c) {
    if (isSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, c); // a lone surrogate becomes U+FFFD there
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const char32_t c = decodeUtf8(s, i);
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

std::string latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s)
        appendUtf8(out, c);
    return out;
}

bool isValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        if (decodeUtf8(s, i) == kReplacement && !(i - start == 3 && s.substr(start, 3) == "\xEF\xBF\xBD"))
            return false;
    }
    return true;
}

std::u16string foldCase(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
        c = upper(c);
    return out;
}

std::string foldCase(std::string_view utf8) {
    return utf16ToUtf8(foldCase(utf8ToUtf16(utf8)));
}

std::string quoted(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    out += s;
    out += '"';
    return out;
}

namespace {

// The length of the well-formed UTF-8 character at s[i], or 0.
std::size_t characterLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    const std::size_t n = lead < 0x80                   ? 1
                          : lead >= 0xC2 && lead < 0xE0 ? 2
                          : lead >= 0xE0 && lead < 0xF0 ? 3
                          : lead >= 0xF0 && lead < 0xF5 ? 4
                                                        : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    // Overlong, surrogate and out-of-range forms.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) >= 0xA0) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) >= 0x90))
        return 0;
    return n;
}

// C0, DEL, and C1 (U+0080..U+009F, two bytes in UTF-8): what a terminal may act on.
bool isControl(std::string_view s, std::size_t i, std::size_t n) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (n == 1) return lead < 0x20 || lead == 0x7F;
    return n == 2 && lead == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0;
}

} // namespace

std::string printable(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = characterLength(s, i);
        if (n > 0 && !isControl(s, i, n)) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (n == 1 && c == '\n')
            out += "\\n";
        else if (n == 1 && c == '\t')
            out += "\\t";
        else if (n == 1 && c == '\r')
            out += "\\r";
        else {
            // The bytes of the character (or the one stray byte), each as \xHH.
            for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k) {
                static constexpr char hex[] = "0123456789abcdef";
                const auto b = static_cast<unsigned char>(s[i + k]);
                out += "\\x";
                out += hex[b >> 4];
                out += hex[b & 15];
            }
        }
        i += std::max<std::size_t>(n, 1);
    }
    return out;
}

std::string quotedExcerpt(std::string_view s) {
    std::string out = "\"";
    std::size_t characters = 0, i = 0;
    while (i < s.size() && characters < kQuotedCharacters) {
        // One character: a lead byte and its continuation bytes (whatever they are: the text is only shown).
        std::size_t n = 1;
        while (i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80 && n < 4)
            ++n;
        if (isControl(s, i, n))
            out += ' ';
        else
            out.append(s.substr(i, n));
        i += n;
        ++characters;
    }
    if (i < s.size()) out += "...";
    out += '"';
    return out;
}

std::string columnName(int column) {
    std::string letters;
    for (; column > 0; column = (column - 1) / 26)
        letters.insert(letters.begin(), char('A' + (column - 1) % 26));
    return letters;
}

std::string cellAddress(int row, int column) {
    return columnName(column) + std::to_string(row);
}

} // namespace ordana::text
