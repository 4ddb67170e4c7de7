#pragma once

// What a parser reports for a document, written out as one string: each start and end of an element with
// its position and byte count, each start's attributes, the character data between them joined. The same
// bytes must give the same string from expat and from the plain parser, whenever the plain one does not give
// up.

#include "spreadsheet/xml/PlainParser.h"

#include <expat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace ordana::testing {

struct XmlEvents {
    std::string log, text;
    std::size_t (*begin)(void*) = nullptr;
    std::size_t (*size)(void*) = nullptr;
    void* source = nullptr;

    void flush() {
        if (!text.empty()) log += "T[" + text + "]";
        text.clear();
    }
    std::string at() const {
        return "@" + std::to_string(begin(source)) + "+" + std::to_string(size(source));
    }
    static void onStart(void* u, const char* name, const char** attrs) {
        auto* self = static_cast<XmlEvents*>(u);
        self->flush();
        self->log += "<" + std::string(name) + self->at();
        for (const char** a = attrs; *a; a += 2)
            self->log += " " + std::string(a[0]) + "=[" + a[1] + "]";
        self->log += ">";
    }
    static void onEnd(void* u, const char* name) {
        auto* self = static_cast<XmlEvents*>(u);
        self->flush();
        self->log += "</" + std::string(name) + self->at() + ">";
    }
    static void onText(void* u, const char* s, int length) {
        static_cast<XmlEvents*>(u)->text.append(s, std::size_t(length));
    }
};

// expat's events, or nullopt when it finds the document not well-formed.
inline std::optional<std::string> expatEvents(std::string_view doc) {
    XML_Parser p = XML_ParserCreate(nullptr);
    XmlEvents ev;
    ev.source = p;
    ev.begin = [](void* s) { return std::size_t(XML_GetCurrentByteIndex(static_cast<XML_Parser>(s))); };
    ev.size = [](void* s) { return std::size_t(XML_GetCurrentByteCount(static_cast<XML_Parser>(s))); };
    XML_SetUserData(p, &ev);
    XML_SetElementHandler(p, &XmlEvents::onStart, &XmlEvents::onEnd);
    XML_SetCharacterDataHandler(p, &XmlEvents::onText);
    const bool ok = XML_Parse(p, doc.data(), int(doc.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(p);
    if (!ok) return std::nullopt;
    ev.flush();
    return ev.log;
}

// The plain parser's events, the document fed in pieces of the given size; nullopt when it gives up.
inline std::optional<std::string> plainEvents(std::string_view doc, std::size_t piece) {
    XmlEvents ev;
    spreadsheet::xml::PlainParser parser(&ev, &XmlEvents::onStart, &XmlEvents::onEnd, &XmlEvents::onText);
    ev.source = &parser;
    ev.begin = [](void* s) { return static_cast<spreadsheet::xml::PlainParser*>(s)->eventBegin(); };
    ev.size = [](void* s) { return static_cast<spreadsheet::xml::PlainParser*>(s)->eventSize(); };
    piece = std::max<std::size_t>(piece, 1);
    for (std::size_t at = 0;; at += piece) {
        const std::size_t n = std::min(piece, doc.size() - std::min(at, doc.size()));
        const bool last = at + n >= doc.size();
        if (!parser.feed(doc.substr(std::min(at, doc.size()), n), last)) return std::nullopt;
        if (last) break;
    }
    ev.flush();
    return ev.log;
}

} // namespace ordana::testing
