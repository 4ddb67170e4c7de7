#pragma once

// The styles part of an .xlsx workbook: fonts, borders, number formats and cell formats, new ones appended
// after the existing ones, which keep their numbers.

#include "Package.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordana::spreadsheet::xlsx {

// A styles part with every list a format needs, or nothing when it has them: a workbook without styles, or
// with an empty styleSheet (as some writers leave it), is formatted as any other. Without bytes, a new part.
BytesPtr completedStyles(const BytesPtr& bytes, const std::string& part, const std::string& mainNs,
                         std::shared_ptr<MemoryBudget> budget = nullptr);

// What a cell format changes to: what is not given stays.
struct XfChange {
    std::optional<int> numFmt, font, border;
    std::optional<std::string> horizontal;
};

// The names the part gives an alignment and a border line of the workbook interface; an error for none.
std::string horizontalName(std::int32_t alignment);
std::string borderStyleName(std::int32_t style, std::int32_t weight);

// What it keeps (the part's elements, the cell formats as text, the new items) is taken from the workbook's
// budget: a font or a format of millions of elements is refused when the table would copy it.
class Styles {
  public:
    Styles(std::string part, BytesPtr bytes, std::shared_ptr<MemoryBudget> budget = nullptr);

    std::size_t xfCount() const { return xfs_.size(); }
    int clampXf(int xf) const { return xf >= 0 && std::size_t(xf) < xfs_.size() ? xf : 0; }

    // The font and the border of a cell format.
    int fontOf(int xf);
    int borderOf(int xf);
    // The cell format that is xf with the change: an existing one where one is the same, or a new one.
    int derive(int xf, const XfChange& c);
    // The font that is font, bold or not.
    int boldFont(int font, bool bold);
    // The border that is border with those sides (1 left, 2 right, 4 top, 8 bottom) drawn in style.
    int borderWith(int border, unsigned sides, const std::string& style);
    // The number format of that code: built in, in the part, or new.
    int numFmt(const std::string& code);

    // The widest digit of the default font, in pixels at 96 dpi, as Excel measures column widths.
    int maxDigitWidth() const;

    bool changed() const;
    // The part with the new fonts, borders, number formats and cell formats after the existing ones.
    EditedPart write() const;

  private:
    // A font or border as written, inside an element that declares what the part declares around it: its
    // prefixes then read as they do in the part.
    std::string inScope(const std::string& text) const { return scope_ + text + "</scope>"; }

    struct Xf {
        std::string prefix;
        std::vector<std::pair<std::string, std::string>> attrs, align;
        bool hasAlign = false;
        std::string rest; // protection, extLst: as written
    };
    std::size_t originalXfs() const { return xfs_.size() - newXfs_.size(); }

    Xf parseXf(int node);
    static std::string render(const Xf& x);
    std::string_view nodeText(int node) const;
    std::string fontText(int font) const;
    std::string borderText(int border) const;
    // A font's or border's text inside the part's declarations, and the elements directly in it.
    Outline itemOutline(const std::string& text) const;
    // The length of the text fontText or borderText gives for item i of those.
    std::size_t itemLength(const std::vector<int>& nodes, const std::vector<std::string>& added, int i) const;
    int addFont(const std::string& s);
    int addBorder(const std::string& s);

    std::string part_;
    BytesPtr bytes_;
    std::shared_ptr<MemoryBudget> budget_;
    Held held_;
    Outline doc_;
    std::string prefix_, scope_;
    int numFmts_ = -1, fonts_ = -1, borders_ = -1, cellXfs_ = -1;
    std::vector<int> fontNodes_, borderNodes_;
    std::vector<std::string> xfs_; // rendered, existing then new
    std::vector<Xf> newXfs_;
    std::vector<int> fontOfNew_, borderOfNew_;
    std::vector<std::string> newFonts_, newBorders_, newFmts_;
    std::map<std::string, int> customFmts_;
    int maxFmt_ = 0;
};

} // namespace ordana::spreadsheet::xlsx
