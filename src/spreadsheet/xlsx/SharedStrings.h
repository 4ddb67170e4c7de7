#pragma once

// The shared string table of an .xlsx workbook: read only as far as its items are asked for, read whole
// when a save needs it; new texts appended after the existing items, which keep their numbers.

#include "Package.h"
#include "SheetRows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::xlsx {

class SharedStrings {
  public:
    // No reader: the workbook has no table yet, and one is made when a text is written. The texts added
    // and the lookup are taken from the budget.
    SharedStrings(std::string part, std::unique_ptr<StringTableReader> reader,
                  std::shared_ptr<MemoryBudget> budget = nullptr)
        : part_(std::move(part)), reader_(std::move(reader)), held_(std::move(budget), part_) {}

    // Read only as far as the item: the listing needs the first few.
    const std::string* at(std::size_t i);
    // The first item that holds s, or a new one at the end.
    std::size_t indexOf(const std::string& s);
    // Cells that point into the table, more or fewer than the file counts.
    void referenced(int delta) { refs_ += delta; }
    bool changed() const { return strings_.size() != original_ || refs_ != 0; }
    bool exists() const { return reader_ != nullptr; }
    const std::string& part() const { return part_; }
    void setPart(std::string part) { part_ = std::move(part); }

    // The part as it is written: the original with the new items, or a new part.
    EditedPart write(const std::string& mainNs);

  private:
    // The whole table: a save appends to it and reuses its items.
    void load();
    std::size_t slotOf(std::string_view s) const;
    void index(std::size_t n);

    std::string part_;
    std::unique_ptr<StringTableReader> reader_;
    bool loaded_ = false;
    BytesPtr bytes_;
    std::vector<std::string> strings_;
    // Where each text first appears: the item's number + 1 (0 for none) in a table open by hash, built once
    // per save over a table of tens of thousands of items without copying them.
    std::vector<std::uint32_t> slots_;
    xml::Element root_;
    xml::EndTag rootEnd_;
    std::size_t original_ = 0;
    int count_ = -1;
    int refs_ = 0;
    Held held_;
};

} // namespace ordana::spreadsheet::xlsx
