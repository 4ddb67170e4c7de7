#pragma once

// The pieces of the .xlsx engine below the workbook: the package's parts and relationships, and one editor
// per part that gathers attribute changes and new children and turns them into an edit list.

#include "spreadsheet/xml/XmlPart.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet::xlsx {

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

// "B12" to row 12, column 2 (both from 1); false when it is not a cell reference.
bool parseCellRef(std::string_view ref, int& row, int& column);
std::string cellRef(int row, int column);
std::string columnName(int column);
// The shortest text that reads back as the same double.
std::string numberText(double value);

} // namespace ordana::spreadsheet::xlsx
