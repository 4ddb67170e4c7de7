#include "Spreadsheet.h"

#include "common/RuntimeError.h"

namespace ordana::spreadsheet {

namespace {

class NativeApplication : public Application {
public:
    std::shared_ptr<Workbook> open(const std::string& path) override {
        throw RuntimeError(err::Application, "Fisierul \"" + path + "\" nu poate fi deschis");
    }
    void quit() override {}
};

} // namespace

ApplicationFactory nativeApplicationFactory() {
    return [] { return std::make_shared<NativeApplication>(); };
}

} // namespace ordana::spreadsheet
