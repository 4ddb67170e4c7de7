#pragma once

// A parser for the plain XML a large sheet is made of: elements, attributes, text and the five predefined
// entities, in UTF-8, as every producer writes its rows. It reports what an expat parser without namespace
// processing reports for the same bytes (the same calls, names, decoded values, positions), at several times
// expat's speed, which spends most of a sheet's time on work a sheet never needs (attribute tables,
// buffering, hooks). It decides nothing on its own: on any byte outside that plain form (a comment, CDATA, a
// processing instruction, a character reference, a carriage return inside the element, a name beyond ASCII,
// any XML declaration but the usual one for UTF-8) or any fault of
// well-formedness, it gives up, and the caller parses the same bytes with expat, which has the last word.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::xml {

class PlainParser {
  public:
    // As expat's handlers: names and attribute values NUL-terminated, attributes as name, value, ...,
    // nullptr.
    using StartFn = void (*)(void* user, const char* name, const char** attributes);
    using EndFn = void (*)(void* user, const char* name);
    using TextFn = void (*)(void* user, const char* text, int length);

    PlainParser(void* user, StartFn start, EndFn end, TextFn text)
        : user_(user), start_(start), end_(end), text_(text) {}

    // Parses the next bytes (last: the document ends with them). False once the parser has given up or a
    // handler has stopped it; the document is then the caller's to parse another way.
    bool feed(std::string_view bytes, bool last);
    // From a handler: no more calls.
    void stop() { stopped_ = true; }
    // Before each start tag inside the document's element, the handler may take the elements that begin
    // there as its own: whole elements, read off the bytes at hand [p, e) (p's offset: at). It returns how
    // many bytes it took (0: none), and the parser goes on after them as though they were not there; the
    // positions it reports count them.
    using TakeFn = std::size_t (*)(void* user, const char* p, const char* e, std::size_t at);
    void setTake(TakeFn take) { take_ = take; }
    bool gaveUp() const { return gaveUp_; }

    // During a call: where the event's bytes begin, counted from the first byte fed, and how many they are
    // (0 for the end of an empty element, reported where its tag ends), as expat's XML_GetCurrentByteIndex
    // and XML_GetCurrentByteCount say.
    std::size_t eventBegin() const { return eventBegin_; }
    std::size_t eventSize() const { return eventSize_; }

  private:
    // Handles the whole tokens of [b, e), whose first byte is at offset base; the bytes it used.
    std::size_t parse(const char* b, const char* e, std::size_t base, bool last);
    // One token at p: the byte after it, or nullptr when it does not end before e (or the parser gave up).
    // at: p's offset.
    const char* text(const char* p, const char* e, std::size_t at, bool last);
    const char* tag(const char* p, const char* e, std::size_t at, bool last);
    const char* endTag(const char* p, const char* e, std::size_t at, bool last);
    const char* declaration(const char* p, const char* e, bool last);
    const char* attribute(const char* q, const char* e, bool last);
    const char* attributeValue(const char* q, const char* e, char quote, bool last);
    const char* reportStart(const char* p, const char* q, std::size_t at, std::size_t nameLength, bool empty);
    const char* giveUp() {
        gaveUp_ = true;
        return nullptr;
    }
    // A token cut short: wait for more bytes, unless there are none.
    const char* cut(bool last) {
        if (last) gaveUp_ = true;
        return nullptr;
    }

    void* user_;
    StartFn start_;
    EndFn end_;
    TextFn text_;
    TakeFn take_ = nullptr;
    bool gaveUp_ = false, stopped_ = false;
    bool rootSeen_ = false, rootClosed_ = false;
    std::size_t eventBegin_ = 0, eventSize_ = 0;
    std::size_t fed_ = 0;       // bytes fed before the current call
    std::string carry_;         // the start of a token the last bytes fed cut short
    std::size_t carryBase_ = 0; // its offset
    // Grows and never shrinks: copying a tag's bytes in costs a memcpy, not a string's general replace.
    struct Buffer {
        std::vector<char> bytes;
        std::size_t used = 0;
        std::size_t size() const { return used; }
        const char* data() const { return bytes.data(); }
        void resize(std::size_t n) {
            reserve(n);
            used = n;
        }
        void append(const char* b, const char* e) {
            const std::size_t n = std::size_t(e - b);
            reserve(used + n);
            if (n) std::memcpy(bytes.data() + used, b, n);
            used += n;
        }
        void push(char c) {
            reserve(used + 1);
            bytes[used++] = c;
        }
        void reserve(std::size_t n) {
            if (n > bytes.size()) bytes.resize(std::max(2 * bytes.size(), n + 256));
        }
    };
    // The open elements' names, each ending in NUL, one after the other.
    Buffer names_;
    std::vector<std::size_t> nameAt_;
    // The start tag being reported: its name and decoded attributes, and pointers to them.
    Buffer scratch_;
    std::vector<std::size_t> offsets_;
    std::vector<const char*> attributes_;
    std::string decoded_; // text with entities replaced
};

// The same plain form read at a reader's own pace, token by token, from anywhere in a part held whole: for a
// reader that knows what a stretch of a part holds (a sheet's rows) and wants no events for it. Every call
// checks what it reads as the parser above does and returns false on anything else, the stretch then to be
// parsed the general way; names are as written, with no namespace resolved.
class PlainCursor {
  public:
    struct Attribute {
        std::string_view name, value;               // value decoded
        std::size_t colon = std::string_view::npos; // in the name: where its prefix ends
    };
    struct Tag {
        std::string_view name;
        std::size_t begin = 0, end = 0; // the '<' and one past the '>'
        bool empty = false;             // <a/>
        std::vector<Attribute> attributes;
        const std::string_view* attribute(std::string_view name) const {
            for (const Attribute& a : attributes)
                if (a.name == name) return &a.value;
            return nullptr;
        }
    };

    PlainCursor(std::string_view bytes, std::size_t at);
    std::size_t at() const { return std::size_t(p_ - b_); }

    // Passes white space; then what stands next: a start tag, an end tag, other text, or the end of the
    // bytes.
    enum class Next { StartTag, EndTag, Text, End };
    Next next();
    // The start tag at the cursor; its decoded values stay valid until the next call.
    bool startTag(Tag& tag);
    // The end tag of the element named so; begin gets its '<'.
    bool endTag(std::string_view name, std::size_t& begin);
    // The character data up to the next '<', decoded; valid until the next call.
    bool text(std::string_view& out);

  private:
    const char* attribute(const char* q, Tag& t);
    const char* attributeValue(const char* q, char quote, std::string& decoded, std::string_view& out);

    const char *b_, *p_, *e_;
    std::vector<std::string> decoded_; // one per attribute, never moved: values point into them
    std::string text_;
};

} // namespace ordana::spreadsheet::xml
