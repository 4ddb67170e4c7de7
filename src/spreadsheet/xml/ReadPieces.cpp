// A part read piece by piece, a second thread reading ahead, and edits written over it as it comes.

#include "XmlPart.h"

#include "common/RuntimeError.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace ordana::spreadsheet::xml {

namespace {

// Pieces read ahead on a second thread while the first takes them in order: inflating a large part and
// scanning it then take as long as the slower of the two rather than both.
class ReadAhead {
  public:
    static constexpr std::size_t kPieces = 3;

    ReadAhead(const PieceReader& read, std::size_t pieceSize) : read_(read) {
        for (auto& b : buffers_)
            b.resize(pieceSize);
        for (std::size_t i = 0; i < kPieces; ++i)
            free_.push_back(i);
        thread_ = std::thread([this] { produce(); });
    }
    ~ReadAhead() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    // The next piece, empty at the end; rethrows what reading threw, in its place among the pieces.
    std::span<const std::uint8_t> next() {
        std::unique_lock lock(mutex_);
        if (taken_) free_.push_back(*taken_), taken_.reset();
        changed_.notify_all();
        changed_.wait(lock, [&] { return !filled_.empty() || done_; });
        if (filled_.empty()) {
            if (failure_) std::rethrow_exception(failure_);
            return {};
        }
        const auto [index, size] = filled_.front();
        filled_.pop_front();
        taken_ = index;
        return std::span(buffers_[index]).first(size);
    }

  private:
    void produce() {
        try {
            while (true) {
                std::size_t index;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return !free_.empty() || stopping_; });
                    if (stopping_) return;
                    index = free_.front();
                    free_.pop_front();
                }
                const std::size_t n = read_(buffers_[index]);
                std::lock_guard lock(mutex_);
                if (n == 0) {
                    done_ = true;
                    changed_.notify_all();
                    return;
                }
                filled_.emplace_back(index, n);
                changed_.notify_all();
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            done_ = true;
            changed_.notify_all();
        }
    }

    const PieceReader& read_;
    std::array<std::vector<std::uint8_t>, kPieces> buffers_;
    std::deque<std::size_t> free_;
    std::deque<std::pair<std::size_t, std::size_t>> filled_; // index, size
    std::optional<std::size_t> taken_;                       // the piece the caller holds
    bool done_ = false, stopping_ = false;
    std::exception_ptr failure_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

} // namespace

void readPieces(const PieceReader& read,
                const std::function<bool(std::size_t offset, std::span<const std::uint8_t> piece)>& fn) {
    std::vector<std::uint8_t> buf(std::size_t(1) << 20);
    // A part that fills its first piece goes on being read ahead; a small one is read here alone.
    const std::size_t first = read(buf);
    if (first == 0 || !fn(0, std::span(buf).first(first))) return;
    std::size_t offset = first;
    if (first < buf.size()) {
        for (std::size_t n; (n = read(buf)) > 0; offset += n)
            if (!fn(offset, std::span(buf).first(n))) return;
        return;
    }
    ReadAhead ahead(read, buf.size());
    for (std::span<const std::uint8_t> piece; !(piece = ahead.next()).empty(); offset += piece.size())
        if (!fn(offset, piece)) return;
}

void Edits::writeTo(const PieceReader& original, const ByteSink& sink) const {
    const auto edits = sorted();
    std::size_t next = 0; // the first edit not yet finished
    bool textOut = false; // its text is written (its span may reach into later pieces)
    std::size_t at = 0;   // the first byte not yet written or skipped
    auto text = [&](const Edit& e) {
        if (!textOut) sink({reinterpret_cast<const std::uint8_t*>(e.text.data()), e.text.size()});
        textOut = true;
    };
    readPieces(original, [&](std::size_t offset, std::span<const std::uint8_t> piece) {
        const std::size_t base = offset;
        // An edit at the very end of a piece waits for the next one, so insertions there keep their order.
        const std::size_t end = base + piece.size();
        while (next < edits.size() && edits[next].get().begin < end) {
            const Edit& e = edits[next];
            if (e.begin > at) {
                sink(piece.subspan(at - base, e.begin - at));
                at = e.begin;
            }
            text(e);
            if (e.end > end) {
                at = end; // the replaced span goes on into the next piece
                break;
            }
            at = e.end;
            textOut = false;
            ++next;
        }
        if (end > at) sink(piece.subspan(at - base, end - at));
        at = end;
        return true;
    });
    for (; next < edits.size(); ++next) {
        const Edit& e = edits[next];
        if (e.begin != at || e.end != at)
            throw RuntimeError(err::Internal, "o modificare iese din partea XML");
        text(e);
        textOut = false;
    }
}

} // namespace ordana::spreadsheet::xml
