#include "NativeEngine.h"

#include "common/RuntimeError.h"
#include "common/Text.h"
#include "ods/OdsWorkbook.h"
#include "spreadsheet/zip/ZipArchive.h"
#include "xls/XlsWorkbook.h"

#include <algorithm>

namespace ordana::spreadsheet {

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view magic) {
    return bytes.size() >= magic.size() &&
           std::equal(magic.begin(), magic.end(), bytes.begin(),
                      [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
}

class NativeApplication : public Application {
  public:
    std::shared_ptr<Workbook> open(const std::string& path) override {
        return openNativeWorkbook(SourceFile::read(path));
    }
    void quit() override {}
};

} // namespace

std::shared_ptr<Workbook> openNativeWorkbook(std::shared_ptr<const SourceFile> source) {
    const auto bytes = source->bytes();
    if (startsWith(bytes, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return xls::openWorkbook(std::move(source));
    if (zip::Archive::hasSignature(bytes)) {
        bool openDocument = false;
        try {
            openDocument = ods::isOpenDocument(zip::Archive::parse(source->data()));
        } catch (const RuntimeError&) {
            openDocument = true; // the engine's own open reports what is wrong with the package
        }
        if (openDocument) return ods::openWorkbook(std::move(source));
    }
    throw RuntimeError(err::Application,
                       "Fisierul " + text::quoted(source->path()) +
                           " nu este un registru Excel 97-2003 (.xls) si nu poate fi deschis");
}

ApplicationFactory nativeApplicationFactory() {
    return [] { return std::make_shared<NativeApplication>(); };
}

} // namespace ordana::spreadsheet
