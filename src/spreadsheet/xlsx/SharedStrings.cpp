#include "SharedStrings.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace ordana::spreadsheet::xlsx {

const std::string* SharedStrings::at(std::size_t i) {
    if (reader_ && !loaded_) return reader_->item(i);
    return i < strings_.size() ? &strings_[i] : nullptr;
}

std::size_t SharedStrings::indexOf(const std::string& s) {
    load();
    if (slots_.empty()) index(strings_.size() + 16);
    const std::size_t k = slotOf(s);
    if (slots_[k] != 0) return slots_[k] - 1;
    held_.add(sizeof(std::string) + heapOf(s));
    strings_.push_back(s);
    if (strings_.size() * 2 > slots_.size())
        index(strings_.size());
    else
        slots_[k] = std::uint32_t(strings_.size());
    return strings_.size() - 1;
}

EditedPart SharedStrings::write(const std::string& mainNs) {
    load();
    EditedPart out;
    out.name = part_;
    std::string items;
    const std::string p = bytes_ ? root_.prefix : std::string();
    for (std::size_t i = original_; i < strings_.size(); ++i) {
        const std::string& s = strings_[i];
        const bool keepSpaces = !s.empty() && (std::isspace(static_cast<unsigned char>(s.front())) ||
                                               std::isspace(static_cast<unsigned char>(s.back())));
        items += "<" + qualifiedName(p, "si") + "><" + qualifiedName(p, "t") +
                 (keepSpaces ? " xml:space=\"preserve\">" : ">") + xml::escapeText(s) + "</" +
                 qualifiedName(p, "t") + "></" + qualifiedName(p, "si") + ">";
    }
    const std::string counts = " count=\"" + std::to_string(std::max(refs_, 0)) + "\" uniqueCount=\"" +
                               std::to_string(strings_.size()) + "\"";
    if (!bytes_) {
        const std::string xmlText =
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<sst xmlns=\"" + mainNs + "\"" +
            counts + ">" + items + "</sst>";
        out.bytes = std::make_shared<const Bytes>(xmlText.begin(), xmlText.end());
        return out;
    }
    checkEditable(part_, *bytes_);
    out.bytes = bytes_;
    PartEditor ed(*bytes_);
    if (count_ >= 0) ed.setAttribute(root_, "count", std::to_string(std::max(count_ + refs_, 0)));
    if (root_.attribute("uniqueCount") || strings_.size() != original_)
        ed.setAttribute(root_, "uniqueCount", std::to_string(strings_.size()));
    if (!items.empty()) ed.appendChild(root_, rootEnd_, items);
    out.edits = ed.edits();
    return out;
}

void SharedStrings::load() {
    if (loaded_ || !reader_) return;
    StringTable table = reader_->takeAll();
    strings_ = std::move(table.items);
    root_ = std::move(table.root);
    rootEnd_ = table.rootEnd;
    bytes_ = reader_->bytes();
    original_ = strings_.size();
    count_ = toInt(root_.attribute("count"), -1);
    loaded_ = true;
}

std::size_t SharedStrings::slotOf(std::string_view s) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t k = std::hash<std::string_view>{}(s);
    k &= mask;
    while (slots_[k] != 0 && strings_[slots_[k] - 1] != s)
        k = (k + 1) & mask;
    return k;
}

void SharedStrings::index(std::size_t n) {
    std::size_t size = 64;
    while (size < 2 * n)
        size *= 2;
    held_.add((size > slots_.size() ? size - slots_.size() : 0) * sizeof(std::uint32_t));
    slots_.assign(size, 0);
    for (std::size_t i = 0; i < strings_.size(); ++i)
        if (const std::size_t k = slotOf(strings_[i]); slots_[k] == 0) slots_[k] = std::uint32_t(i + 1);
}

} // namespace ordana::spreadsheet::xlsx
