#pragma once

// The pieces of the .xlsx engine below the workbook: the package's parts and relationships, and one editor
// per part that gathers attribute changes and new children and turns them into an edit list.

#include "common/Text.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/xml/Escape.h"
#include "spreadsheet/xml/XmlPart.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet::xlsx {

inline constexpr const char* kStrictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";

// The engine's faults in a workbook: an application error, its text for the user.
using spreadsheet::fail;
// "partea "xl/workbook.xml"", as messages name a part.
std::string partText(const std::string& part);
// "x:name", or "name" without a prefix.
std::string qualifiedName(const std::string& prefix, std::string_view local);

struct Relationship {
    std::string id, type, target; // target resolved to a part name ("xl/worksheets/sheet1.xml")
    bool external = false;
};

// "xl/_rels/workbook.xml.rels" for "xl/workbook.xml".
std::string relsPartOf(const std::string& part);
std::string resolveTarget(const std::string& sourcePart, const std::string& target);
// Whether a relationship type is of that kind, in the transitional or the Strict spelling.
bool isType(const std::string& type, std::string_view kind);

// Collects the changes to one XML part. Attribute values and children are given unescaped/escaped as named.
class PartEditor {
  public:
    explicit PartEditor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    void setAttribute(const xml::Element& e, const std::string& qualifiedName, const std::string& value);
    // Text (XML, escaped) added as the element's last children; an empty element is opened for it.
    void appendChild(const xml::Element& e, const xml::EndTag& end, const std::string& text);
    void replace(std::size_t begin, std::size_t end, std::string text);
    void insert(std::size_t at, std::string text);
    bool changed() const { return !tags_.empty() || !raw_.empty(); }
    xml::Edits edits() const;
    std::span<const std::uint8_t> bytes() const { return bytes_; }

  private:
    struct Tag {
        xml::Element element;
        xml::EndTag end;
        std::vector<std::pair<std::string, std::string>> set;
        std::string children;
    };
    struct Raw {
        std::size_t begin, end;
        std::string text;
    };
    std::span<const std::uint8_t> bytes_;
    std::map<std::size_t, Tag> tags_;
    std::vector<Raw> raw_;
};

// A part held as a tree of the elements the engine uses: the root and, below each element kept, the children
// keep() takes. The others are parsed and forgotten, so a part padded with millions of elements costs the
// time of parsing it and the memory of what is kept, which the workbook's budget counts; more than
// kMaxOutlineNodes kept is refused. Offsets and names as in xml::Document.
class Outline {
  public:
    static constexpr std::size_t kMaxOutlineNodes = std::size_t(1) << 18;
    struct Node {
        xml::Element element;
        xml::EndTag endTag;
        int parent = -1;
        std::vector<int> children;
    };
    // Whether a child of a kept element is kept too.
    using Keep = std::function<bool(const xml::Element&)>;

    static Outline parse(std::span<const std::uint8_t> bytes, const std::string& partName, const Keep& keep,
                         std::shared_ptr<MemoryBudget> budget = nullptr);

    const Node& node(int i) const { return nodes_[std::size_t(i)]; }
    const Node& root() const { return nodes_.front(); }
    // Kept children of a node by local name (any namespace); the first, or -1.
    std::vector<int> children(int parent, std::string_view local) const;
    int child(int parent, std::string_view local) const;

  private:
    std::vector<Node> nodes_;
    Held held_;
};

// "B12" to row 12, column 2 (both from 1); false when it is not a cell reference.
bool parseCellRef(std::string_view ref, int& row, int& column);
// A formula in A1 notation as it reads from a cell rows and columns away: its relative references moved,
// absolute ones ($) kept; strings, quoted sheet names, structured references and names untouched. Nothing
// when a reference would leave the sheet.
std::optional<std::string> movedFormula(std::string_view formula, int rows, int columns);
using text::columnName;
using xml::numberText;
// xml::parseNumber, NaN for no number.
double toDouble(std::string_view s);

} // namespace ordana::spreadsheet::xlsx
