#include "Spreadsheet.h"

#include "xls/XlsWorkbook.h"

namespace ordana::spreadsheet {

namespace {

// The engine that reads and writes the files itself; the format is recognised by content.
class NativeApplication : public Application {
  public:
    std::shared_ptr<Workbook> open(const std::string& path) override { return xls::openWorkbook(path); }
    void quit() override {}
};

} // namespace

ApplicationFactory nativeApplicationFactory() {
    return [] { return std::make_shared<NativeApplication>(); };
}

} // namespace ordana::spreadsheet
