#pragma once

// The automatic styles of content.xml as the .ods engine edits them: each kept whole (attributes and property
// elements) so that a derived cell style starts from its base, and so that a definition already present is
// reused rather than repeated. Also the column widths LibreOffice gives a number of characters.

#include "Elements.h"
#include "spreadsheet/xml/XmlPart.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::zip {
class Archive;
struct Entry;
} // namespace ordana::spreadsheet::zip

namespace ordana::spreadsheet::ods {

// A property element of a style: its name and attributes, as URI + local name and as written.
struct Attr {
    std::string uri, local, qname, value;
};
struct PropertyEl {
    std::string uri, local, qname;
    std::vector<Attr> attrs;
};
struct AutoStyle {
    std::string name, family, parent, dataStyle;
    std::vector<Attr> attrs; // of style:style itself, other than name, family, parent and data style
    std::vector<PropertyEl> props;
    std::vector<Span> other; // other children, copied as they are (conditions)
    bool hidden = false;     // a table style with table:display="false"
};

// What a derived cell style changes.
struct StyleChange {
    std::optional<std::string> textAlign; // fo:text-align; empty: none of the cell's own
    std::optional<std::string> dataStyle; // a number:number-style's name
    std::optional<bool> bold;
    // Edges to frame: left, right, top, bottom.
    bool borders[4] = {false, false, false, false};
    std::string border; // the border value
    bool any() const {
        return textAlign || dataStyle || bold || borders[0] || borders[1] || borders[2] || borders[3];
    }
};

// style:column-width for a width in characters, as LibreOffice stores a column of that many characters of the
// document's default font, whose digit is twipsPerDigit wide (111 for LibreOffice's own Liberation Sans 10).
std::string columnWidthFor(double characters, double twipsPerDigit = 111);
// The digit width of a font family at a size, in twips, as LibreOffice measures it on Debian.
double digitTwips(std::string family, double points);
// What styles.xml says of the cells' font: the text properties of the first "Default" cell style and of the
// first default cell style that have them, and the families of the font faces by name.
struct StylesFont {
    struct Props {
        std::optional<std::string> family, fontName, size;
    };
    std::optional<Props> chosen[2]; // the "Default" style's, the default style's
    std::map<std::string, std::string> faces;
};
// The digit width of the font styles.xml gives the cells by default (the "Default" cell style's, else the
// document's default cell properties', else LibreOffice's own Liberation Sans 10).
double defaultDigitTwips(const StylesFont& font);
// styles.xml read as it is inflated, for that font and the style names (those a new one could take, into
// names); what it keeps is taken into held.
StylesFont readStyles(const zip::Archive& archive, const zip::Entry& entry, std::set<std::string>& names,
                      Held& held);
// Whether a name is one a new automatic style may be given (see Content::newName).
bool mayBeNewStyleName(std::string_view name);

} // namespace ordana::spreadsheet::ods
