#pragma once

// What an engine holds in memory for one open workbook: its sheets' indexes of cells, the texts read from
// cells and string tables, the elements kept of its parts and the parts held whole. One budget per open
// workbook, which everything the engine keeps of it draws on, rather than a bound per sheet or per part: a
// few kilobytes of zip can inflate to millions of cells in each of many sheets. A sheet that is done gives
// back what it took, so a job over many sheets holds one at a time; whatever would go beyond the budget is
// refused, naming the part and the limit.

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace ordana::spreadsheet {

inline constexpr std::size_t kMaxHeldBytes = std::size_t(128) << 20;

// The refusal of what goes beyond the budget: a 1004 like the engines' other refusals, told apart by the
// readers that would otherwise try another way of reading the same part (and meet the same limit again).
class OverBudget : public RuntimeError {
  public:
    using RuntimeError::RuntimeError;
};

class MemoryBudget {
  public:
    explicit MemoryBudget(std::size_t limit = kMaxHeldBytes) : limit_(limit) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // n bytes more, for what the part holds; 1004 naming the part and the limit when they are not left.
    void take(std::size_t n, const std::string& part) {
        if (!tryTake(n)) refuse(part);
    }
    // The same, saying whether they were left, for readers that stop their parser rather than throw.
    bool tryTake(std::size_t n) {
        if (n > limit_ - held_) return false;
        held_ += n;
        return true;
    }
    void give(std::size_t n) { held_ -= n < held_ ? n : held_; }
    std::size_t held() const { return held_; }
    std::size_t limit() const { return limit_; }

    [[noreturn]] void refuse(const std::string& part) const {
        throw OverBudget(err::Application, "partea " + text::quoted(part) + " " + beyond());
    }
    // What the refusal says after the part's name.
    std::string beyond() const {
        return "depaseste limita de " + std::to_string(limit_ >> 20) +
               " MiB de memorie a registrului (celulele, textele si elementele tinute deodata)";
    }

  private:
    std::size_t limit_;
    std::size_t held_ = 0;
};

// What one structure has taken from a budget for a part, given back when it goes (or is cleared).
class Held {
  public:
    Held() = default;
    Held(std::shared_ptr<MemoryBudget> budget, std::string part)
        : budget_(std::move(budget)), part_(std::move(part)) {}
    Held(Held&& o) noexcept : budget_(std::move(o.budget_)), part_(std::move(o.part_)), bytes_(o.bytes_) {
        o.bytes_ = 0;
    }
    Held& operator=(Held&& o) noexcept {
        if (this != &o) {
            clear();
            budget_ = std::move(o.budget_);
            part_ = std::move(o.part_);
            bytes_ = o.bytes_;
            o.bytes_ = 0;
        }
        return *this;
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { clear(); }

    // Without a budget (a part parsed on its own, in tests and tools), nothing is counted.
    void add(std::size_t n) {
        if (!budget_) return;
        budget_->take(n, part_);
        bytes_ += n;
    }
    bool tryAdd(std::size_t n) {
        if (!budget_) return true;
        if (!budget_->tryTake(n)) return false;
        bytes_ += n;
        return true;
    }
    void clear() {
        if (budget_) budget_->give(bytes_);
        bytes_ = 0;
    }
    std::size_t bytes() const { return bytes_; }
    const std::shared_ptr<MemoryBudget>& budget() const { return budget_; }
    const std::string& part() const { return part_; }

  private:
    std::shared_ptr<MemoryBudget> budget_;
    std::string part_;
    std::size_t bytes_ = 0;
};

// Empties a container and gives its memory back (assigning {} keeps a vector's or a string's room).
template <class Container> void release(Container& c) {
    Container().swap(c);
}

// The heap a string holds beyond its own size (none while it is short enough to live inside it).
inline std::size_t heapOf(const std::string& s) {
    return s.capacity() > 15 ? s.capacity() + 1 : 0;
}

} // namespace ordana::spreadsheet
