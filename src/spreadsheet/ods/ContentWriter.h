#pragma once

// content.xml written back, as edits over its original bytes: each original column or row element whose
// pieces changed is replaced by them (a piece as it was keeps its own bytes), new columns and rows go after
// the last, and new automatic styles at the end of office:automatic-styles. Every other byte stays.

#include "Content.h"
#include "spreadsheet/xml/XmlPart.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace ordana::spreadsheet::ods {

class ContentWriter {
  public:
    explicit ContentWriter(const Content& content) : content_(content) {}
    // With the sheets released with edits (withKept), or only those still indexed; and the styles'.
    xml::Edits edits(bool withKept = true) const;
    // The edits of one sheet's columns and rows.
    void tableEdits(const Table& t, xml::Edits& edits) const;

  private:
    void columnEdits(const Table& t, xml::Edits& edits) const;
    void rowEdits(const Table& t, xml::Edits& edits) const;
    void styleEdits(xml::Edits& edits) const;

    std::string writeColumn(const Table& t, const ColEl& c) const;
    std::string writeRow(const Table& t, const RowEl& r) const;
    std::string writeCell(const Table& t, const CellEl& c) const;
    // A cell whose value was not written: its own bytes, with a new repeat count or style.
    std::string keptCell(const Table& t, const CellEl& c) const;
    // The start tag of a cell given a value: its own less the value's attributes, or a new one.
    std::string cellTag(const Table& t, const CellEl& c) const;
    // The value's attributes set on tag; the paragraphs that show it.
    std::string valueBody(const CellValue& value, std::string& tag) const;
    // One text:p of a cell, its blanks and tabs as the elements that keep them.
    std::string paragraph(std::string_view text) const;

    std::string q(std::string_view uri, std::string_view local) const { return content_.q(uri, local); }
    std::string nsDecl(std::string_view uri) const { return content_.nsDecl(uri); }
    std::string prefix(std::string_view uri) const { return content_.prefix(uri); }
    std::string_view original(std::size_t begin, std::size_t end, const Table* t) const {
        return content_.original(begin, end, t);
    }

    const Content& content_;
};

} // namespace ordana::spreadsheet::ods
