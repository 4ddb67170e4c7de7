#include "Escape.h"

#include "XmlPart.h"
#include "spreadsheet/Failure.h"

#include <charconv>
#include <cmath>

namespace ordana::spreadsheet::xml {

std::string escapeXml(std::string_view s, bool attribute) {
    // XML 1.0 has no place for the other control characters, escaped or not.
    std::string clean;
    clean.reserve(s.size());
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t' || ch == '\n') clean += ch;
    return attribute ? escapeAttribute(clean) : escapeText(clean);
}

std::string setAttribute(std::string_view tag, std::string_view qn, const std::optional<std::string>& value) {
    // The tag is well-formed (expat read it): name, then name="value" pairs, then > or />.
    std::size_t i = 1;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '>' && tag[i] != '/')
        ++i;
    while (true) {
        const std::size_t wsBegin = i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] == '>' || tag[i] == '/') {
            std::size_t close = wsBegin;
            if (!value) return std::string(tag);
            std::string out(tag.substr(0, close));
            out += ' ';
            out += qn;
            out += "=\"" + escapeXml(*value, true) + "\"";
            out += tag.substr(close);
            return out;
        }
        const std::size_t nameBegin = i;
        while (i < tag.size() && tag[i] != '=' && !isSpace(tag[i]))
            ++i;
        const std::string_view name = tag.substr(nameBegin, i - nameBegin);
        while (i < tag.size() && tag[i] != '"' && tag[i] != '\'')
            ++i;
        if (i >= tag.size()) return std::string(tag);
        const char quote = tag[i];
        const std::size_t valueBegin = ++i;
        while (i < tag.size() && tag[i] != quote)
            ++i;
        const std::size_t valueEnd = i++;
        if (name == qn) {
            if (!value) return std::string(tag.substr(0, wsBegin)) + std::string(tag.substr(i));
            return std::string(tag.substr(0, valueBegin)) + escapeXml(*value, true) +
                   std::string(tag.substr(valueEnd));
        }
    }
}

std::string numberText(double value) {
    if (!std::isfinite(value)) fail("Valoarea nu este un numar finit si nu poate fi scrisa in celula");
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, r.ptr);
    if (s == "-0") s = "0";
    return s;
}

} // namespace ordana::spreadsheet::xml
