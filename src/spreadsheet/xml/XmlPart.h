#pragma once

// XML parts read with expat and edited in place: the reader reports each element with the exact byte span of
// its start tag, content and end tag, names resolved through their namespaces (so any prefix, and Strict
// OOXML's URIs, read alike) while the prefix is kept for writing new elements the part's own way. An edit
// list then turns the original bytes plus a few new pieces into the edited part: nothing outside the touched
// spans changes. A part that is not well-formed is RuntimeError 1004 naming the part.

#include "spreadsheet/file/FileAccess.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ordana::spreadsheet::xml {

// Expat copies all it is given into a buffer of its own before parsing: a large part handed over whole would
// be held twice, in fresh memory. Parts are fed in slices of this size.
inline constexpr std::size_t kParseSlice = std::size_t(1) << 16;

struct Attribute {
    std::string uri, local, prefix; // uri and prefix empty for an unprefixed attribute
    std::string value;              // decoded
};

struct Element {
    std::string uri, local, prefix;
    std::vector<Attribute> attributes;
    std::size_t begin = 0;    // the '<' of the start tag
    std::size_t startEnd = 0; // one past the start tag's '>'
    int depth = 0;            // the root is 0

    // An attribute without a namespace (the usual kind), or one in the given namespace; nullptr if absent.
    const std::string* attribute(std::string_view local) const;
    const std::string* attribute(std::string_view uri, std::string_view local) const;
    // "prefix:local" or "local", as a new sibling or child would be written.
    std::string qualified(std::string_view local) const;
};

// The memory an element kept takes: itself, its names and its attributes (for the budgets that count it).
std::size_t heldBy(const Element& e);

// Where an element ends: its end tag, or nothing for an empty element (<a/>: endBegin == endEnd == startEnd).
struct EndTag {
    std::size_t begin = 0, end = 0;
};

class Handler {
  public:
    virtual ~Handler() = default;
    virtual void start(const Element&) {}
    virtual void end(const Element&, const EndTag&) {}
    // Character data directly inside the innermost open element, decoded, possibly in several pieces.
    virtual void text(const Element&, std::string_view) {}
};

// The namespace declarations in force while a part is read. Readers resolve prefixes with it rather than
// through expat, whose namespace processing builds a new string for every name. Each prefix keeps its own
// stack of bindings, so a part that declares thousands of prefixes costs no more per name than one that
// declares ten.
class NamespaceScope {
  public:
    struct Binding {
        std::string prefix, uri;
        std::size_t depth; // of the element that declares it
    };
    // "xmlns" or "xmlns:p", the attributes that declare rather than describe.
    static bool isDeclaration(const char* attributeName);
    // A name as written, "p:local" or "local", into its prefix (empty for none) and local name.
    struct QualifiedName {
        std::string_view prefix, local;
    };
    static QualifiedName split(const char* name) {
        const char* colon = name;
        while (*colon && *colon != ':')
            ++colon;
        if (!*colon || colon == name)
            return {{}, std::string_view(name, std::size_t(colon - name) + std::strlen(colon))};
        return {std::string_view(name, std::size_t(colon - name)), std::string_view(colon + 1)};
    }

    void declare(std::string_view prefix, std::string_view uri, std::size_t depth);
    // Drops the declarations of the elements deeper than depth; false when there were none.
    bool leave(std::size_t depth);
    // What the prefix is bound to ("" for the default namespace), or nullptr where nothing binds it. A prefix
    // declared empty (xmlns:p="", which XML 1.0 does not allow) binds nothing; "xml" is always bound.
    const std::string* find(std::string_view prefix) const;
    // Innermost last.
    const std::vector<Binding>& bindings() const { return bindings_; }

  private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<Binding> bindings_;
    std::unordered_map<std::string, std::vector<std::size_t>, Hash, std::equal_to<>> byPrefix_;
};

// Deeper nesting than any spreadsheet part holds: a guard for the open-element stacks of hostile parts.
inline constexpr std::size_t kMaxDepth = 4096;
// What a reader says of a part it refuses, after "partea "NAME" ": nested too deep; a DOCTYPE (whose entities
// no spreadsheet part needs); expat's own refusal of the part (by expat's error code), a fault of the XML or
// one of its limits.
std::string nestedTooDeep();
std::string doctypeRefused();
// where: "linia 3, coloana 4", or whatever places the fault.
std::string parserRefusal(int expatError, const std::string& where);

// Reads a part piece by piece (an entry being inflated), so a reader can stop once it has what it needs.
class Scanner {
  public:
    Scanner(std::string partName, Handler& handler);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Offsets count from the first byte fed. Returns false once the handler has called stop().
    bool feed(std::span<const std::uint8_t> bytes, bool last);
    void stop();
    bool stopped() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
    friend bool scanPlainly(std::span<const std::uint8_t>, const std::string&, Handler&);
};

void scan(std::span<const std::uint8_t> part, const std::string& partName, Handler& handler);
// The same by the plain parser (PlainParser.h), several times faster: false where that gives up, the events
// reported so far then to be forgotten and the part scanned again. Faults are named only by scan.
bool scanPlainly(std::span<const std::uint8_t> part, const std::string& partName, Handler& handler);
// Scans plainly and, should that give up, with expat: make() gives a fresh handler (a pointer to one) for
// each try, and the one whose scan ended is returned.
template <class Make>
auto scanEither(std::span<const std::uint8_t> part, const std::string& partName, Make make) {
    auto handler = make();
    if (scanPlainly(part, partName, *handler)) return handler;
    handler = make();
    scan(part, partName, *handler);
    return handler;
}

// A small part (workbook, styles, relationships) held as a tree of spans over its bytes.
class Document {
  public:
    struct Node {
        Element element;
        EndTag endTag;
        int parent = -1;
        std::vector<int> children;
        std::string text; // the character data directly inside, decoded
    };

    static Document parse(std::span<const std::uint8_t> bytes, const std::string& partName);

    const std::vector<Node>& nodes() const { return nodes_; }
    const Node& node(int i) const { return nodes_[std::size_t(i)]; }
    const Node& root() const { return nodes_.front(); }
    // Children of a node by local name (any namespace); the first, or -1.
    std::vector<int> children(int parent, std::string_view local) const;
    int child(int parent, std::string_view local) const;
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    // The bytes can take edits written as UTF-8 (no UTF-16, no other declared encoding).
    bool isUtf8() const { return utf8_; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::vector<Node> nodes_;
    bool utf8_ = true;
};

// Where an attribute stands in a start tag: the whole "name="value"" and the value between the quotes.
struct AttributeSpan {
    std::size_t begin = 0, end = 0, valueBegin = 0, valueEnd = 0;
};
// Looks for the attribute by its name as written ("r", "x14ac:dyDescent") in the start tag of element.
bool findAttribute(std::span<const std::uint8_t> part, const Element& element, std::string_view qualifiedName,
                   AttributeSpan& out);
// Every attribute of the start tag, by its name as written, in the tag's order.
std::vector<std::pair<std::string, AttributeSpan>> attributeSpans(std::span<const std::uint8_t> part,
                                                                  const Element& element);
// Where a new attribute goes: just after the element's name, so the tag's own ending stays as it was.
std::size_t attributeInsertPoint(const Element& element);

// Does the part declare an encoding other than UTF-8, or start as UTF-16?
bool isUtf8Part(std::span<const std::uint8_t> part);

// Finds where an element ends without parsing what it holds: the '<' of the end tag "</name" that closes the
// element named name whose content the first byte scanned is in. Elements of the same name inside it are
// counted; comments, CDATA sections and processing instructions are passed over whole; other tags are not
// read at all, since no '<' stands in text or in a quoted value. Nothing is checked for well-formedness:
// bytes passed over this way are parsed properly when they are needed. Lets a reader step over the bulk of
// a large part at the speed of a search for '<'.
class EndFinder {
  public:
    explicit EndFinder(std::string name) : name_(std::move(name)) {}
    // Scans the next bytes; the offset of that '<' counted from the first byte ever scanned, or npos.
    std::size_t feed(std::span<const std::uint8_t> bytes);

  private:
    enum class State : std::uint8_t { Text, Open, Name, Tag, Quoted, Bang, Comment, CData, Pi, Declaration };
    // One step in each state, from data[i] on, i left where the next begins.
    void inText(const std::uint8_t* data, std::size_t n, std::size_t& i);
    void atOpen(const std::uint8_t* data, std::size_t n, std::size_t& i);
    bool atName(const std::uint8_t* data, std::size_t& i);
    void inTag(const std::uint8_t* data, std::size_t n, std::size_t& i);
    void atBang(const std::uint8_t* data, std::size_t& i);
    void inComment(const std::uint8_t* data, std::size_t n, std::size_t& i);
    void inPi(const std::uint8_t* data, std::size_t n, std::size_t& i);
    std::string name_; // as written, prefix and all: an end tag repeats its start tag's name
    State state_ = State::Text;
    std::size_t depth_ = 0;   // elements of the same name open inside
    std::size_t scanned_ = 0; // bytes before those being fed
    std::size_t lt_ = 0;      // where the construct being read began
    std::uint8_t quote_ = 0, last_ = 0;
    bool closing_ = false; // the tag being named is an end tag
    std::size_t run_ = 0;  // '-' or ']' just seen; characters after "<!"; of the name matched
};

std::string escapeText(std::string_view s);
std::string escapeAttribute(std::string_view s);
// Whether a part can hold the text: valid UTF-8 without control characters other than tab, line feed and
// return.
bool holdsAsText(std::string_view s);

// Replacements and insertions over the original bytes of a part. Spans must not overlap; an insertion at the
// start of a replaced span goes before it.
// Hands over the next bytes of a part (up to out.size()); 0 at its end.
using PieceReader = std::function<std::size_t(std::span<std::uint8_t> out)>;
// Reads to the end, or until fn returns false, in pieces of up to 1 MiB; fn gets each piece and its offset.
void readPieces(const PieceReader& read,
                const std::function<bool(std::size_t offset, std::span<const std::uint8_t> piece)>& fn);

class Edits {
  public:
    void replace(std::size_t begin, std::size_t end, std::string text);
    void insert(std::size_t at, std::string text);
    // The other's edits after these: at one position its insertions come after those here.
    void append(const Edits& other);
    void append(Edits&& other);
    bool empty() const { return edits_.empty(); }
    // The memory the edits take.
    std::size_t bytes() const;
    // Those that lie in the original's [from, to) (an insertion at to too, when atTo), counted from from: the
    // edits of one stretch of a part written piece by piece.
    Edits shifted(std::size_t from, std::size_t to, bool atTo) const;
    // The edits as one string, and back, for those kept while a save waits (packed smaller still).
    std::string pack() const;
    static Edits unpack(std::string_view packed);
    // One past the last original byte an edit touches (where the last insertion goes): the bytes from here
    // on are the original's.
    std::size_t end() const;

    // The longest stretch of the original between two edits, [first, second): none touches it, and an
    // insertion at either end belongs to the edits before or after. Empty with fewer than two edits.
    std::pair<std::size_t, std::size_t> longestGap() const;

    void writeTo(std::span<const std::uint8_t> original, const ByteSink& sink) const;
    // The new bytes for the original's [from, to): its bytes there with the edits that begin there, an
    // insertion at to included.
    void writeTo(std::span<const std::uint8_t> original, std::size_t from, std::size_t to,
                 const ByteSink& sink) const;
    // The same, reading the original piece by piece: a part too large to keep whole in memory.
    void writeTo(const PieceReader& original, const ByteSink& sink) const;
    std::vector<std::uint8_t> apply(std::span<const std::uint8_t> original) const;

  private:
    struct Edit {
        std::size_t begin, end;
        std::string text;
        std::size_t order;
    };
    std::vector<std::reference_wrapper<const Edit>> sorted() const;
    std::vector<Edit> edits_;
};

} // namespace ordana::spreadsheet::xml
