#include "FakeSpreadsheet.h"

#include "common/RuntimeError.h"

namespace ordana::testing {

using namespace spreadsheet;

FakeSheet& FakeBook::sheet(const std::string& name) {
    for (auto& s : sheets)
        if (s.name == name) return s;
    sheets.push_back(FakeSheet{name, {}, {}, {}, {}, {}, {}});
    return sheets.back();
}

void FakeEngine::hit(const std::string& entry) {
    log.push_back(entry);
    const std::string operation = entry.substr(0, entry.find(' '));
    if (failNumber == 0 || operation != failOperation) return;
    if (failAfter > 0) {
        --failAfter;
        return;
    }
    const int number = failNumber;
    if (failOnce) failNumber = 0;
    throw RuntimeError(number, "eroare simulata la " + entry);
}

int FakeEngine::count(const std::string& operation) const {
    int n = 0;
    for (const auto& entry : log)
        if (entry.substr(0, entry.find(' ')) == operation) ++n;
    return n;
}

namespace {

class Sheet : public Worksheet {
  public:
    Sheet(FakeEngine& engine, FakeBook& book, FakeSheet& sheet, std::shared_ptr<FakeBook> working)
        : engine_(engine), book_(book), sheet_(sheet), working_(std::move(working)) {}
    std::string name() const override { return sheet_.name; }
    CellValue cell(std::int16_t row, std::int16_t column) override {
        engine_.hit("cell " + std::to_string(row) + " " + std::to_string(column));
        return sheet_.get(row, column);
    }
    void setCell(std::int16_t row, std::int16_t column, const CellValue& value) override {
        engine_.hit("write " + std::to_string(row) + " " + std::to_string(column) + " " + value.toText());
        sheet_.set(row, column, value);
    }
    void setColumnWidth(std::int16_t column, double characters) override {
        engine_.hit("width " + std::to_string(column));
        sheet_.columnWidths[column] = characters;
    }
    void setColumnHorizontalAlignment(std::int16_t column, std::int32_t alignment) override {
        engine_.hit("align " + std::to_string(column));
        sheet_.columnAlignments[column] = alignment;
    }
    void setColumnNumberFormat(std::int16_t column, const std::string& format) override {
        engine_.hit("format " + std::to_string(column) + " " + format);
        sheet_.columnFormats[column] = format;
    }
    void setBold(std::int16_t row, std::int16_t column, bool bold) override {
        engine_.hit("bold " + std::to_string(row) + " " + std::to_string(column));
        sheet_.bold[{row, column}] = bold;
    }
    void borderAround(std::int16_t r1, std::int16_t c1, std::int16_t r2, std::int16_t c2, std::int32_t style,
                      std::int32_t weight) override {
        engine_.hit("border");
        sheet_.borders.push_back({r1, c1, r2, c2, style, weight});
    }
    void activate() override {
        engine_.hit("activate " + sheet_.name);
        book_.activeSheet = sheet_.name;
    }

  private:
    FakeEngine& engine_;
    FakeBook& book_;
    FakeSheet& sheet_;
    std::shared_ptr<FakeBook> working_;
};

// Works on a copy of the file's workbook; close(true) puts the copy back, as a save would.
class Book : public Workbook, public std::enable_shared_from_this<Book> {
  public:
    Book(FakeEngine& engine, std::string path, FakeBook copy)
        : engine_(engine), path_(std::move(path)), working_(std::make_shared<FakeBook>(std::move(copy))) {
        ++engine_.openWorkbooks;
    }
    ~Book() override {
        if (!closed_) --engine_.openWorkbooks;
    }
    std::int16_t worksheetCount() override {
        engine_.hit("count");
        return std::int16_t(working_->sheets.size());
    }
    std::string worksheetName(std::int16_t index) override {
        engine_.hit("name " + std::to_string(index));
        if (index < 1 || std::size_t(index) > working_->sheets.size())
            throw RuntimeError(err::SubscriptOutOfRange, "Indice in afara listei");
        return working_->sheets[std::size_t(index - 1)].name;
    }
    std::shared_ptr<Worksheet> worksheet(const std::string& name) override {
        engine_.hit("pick " + name);
        for (auto& s : working_->sheets)
            if (s.name == name) return std::make_shared<Sheet>(engine_, *working_, s, working_);
        throw RuntimeError(err::SubscriptOutOfRange,
                           "Indice in afara listei: foaia \"" + name + "\" nu exista");
    }
    void close(bool save) override {
        engine_.hit(save ? "close save" : "close nosave");
        if (save) {
            ++working_->saves;
            engine_.files[path_] = *working_;
        }
        if (!closed_) --engine_.openWorkbooks;
        closed_ = true;
    }

  private:
    FakeEngine& engine_;
    std::string path_;
    std::shared_ptr<FakeBook> working_;
    bool closed_ = false;
};

class App : public Application {
  public:
    explicit App(FakeEngine& engine) : engine_(engine) { ++engine_.openApplications; }
    ~App() override {
        if (!quit_) --engine_.openApplications;
    }
    std::shared_ptr<Workbook> open(const std::string& path) override {
        engine_.hit("open " + path);
        auto it = engine_.files.find(path);
        if (it == engine_.files.end())
            throw RuntimeError(err::Application, "Fisierul \"" + path + "\" nu exista");
        return std::make_shared<Book>(engine_, path, it->second);
    }
    void quit() override {
        engine_.hit("quit");
        if (!quit_) --engine_.openApplications;
        quit_ = true;
    }

  private:
    FakeEngine& engine_;
    bool quit_ = false;
};

} // namespace

ApplicationFactory FakeEngine::factory() {
    return [this]() -> std::shared_ptr<Application> {
        hit("start");
        return std::make_shared<App>(*this);
    };
}

} // namespace ordana::testing
