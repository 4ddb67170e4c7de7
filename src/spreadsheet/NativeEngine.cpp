#include "NativeEngine.h"

#include "common/RuntimeError.h"
#include "common/Text.h"
#include "ods/OdsWorkbook.h"
#include "spreadsheet/Failure.h"
#include "xls/CompoundFile.h"
#include "xls/XlsWorkbook.h"
#include "xlsx/XlsxWorkbook.h"
#include "zip/ZipArchive.h"

#include <algorithm>
#include <optional>

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
    std::shared_ptr<Workbook> openForReading(const std::string& path) override {
        return openNativeWorkbook(SourceFile::readOnDemand(path));
    }
    std::shared_ptr<Workbook> openForWriting(const std::string& path) override {
        return openNativeWorkbook(SourceFile::readForWriting(path));
    }
    void quit() override {}
};

} // namespace

std::shared_ptr<Workbook> openNativeWorkbook(std::shared_ptr<const SourceFile> source) {
    const auto bytes = source->data()->view(0, 8); // what tells the formats apart
    const std::string name = text::quoted(source->path());
    if (startsWith(bytes, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        // A password-protected .xlsx is a compound file holding the encrypted package.
        std::optional<cfb::CompoundFile> container;
        try {
            container = cfb::CompoundFile::parse(source->data());
        } catch (const RuntimeError&) {
            return xls::openWorkbook(std::move(source)); // which names what is wrong with the container
        }
        if (container->hasStream("EncryptionInfo") && container->hasStream("EncryptedPackage"))
            throw RuntimeError(err::Application, "Fisierul " + name +
                                                     " nu poate fi deschis: Registrul este protejat "
                                                     "cu parola (criptat) si nu poate fi deschis");
        return xls::openWorkbook(std::move(source), std::move(*container));
    }
    if (xls::isOlderBareStream(bytes)) return xls::openWorkbook(std::move(source));
    if (zip::Archive::hasSignature(bytes)) {
        zip::Archive archive = opening(source->path(), [&] { return zip::Archive::parse(source->data()); });
        if (xlsx::isOfficePackage(archive)) return xlsx::openWorkbook(std::move(source), std::move(archive));
        if (ods::isOpenDocument(archive)) return ods::openWorkbook(std::move(source), std::move(archive));
        throw RuntimeError(err::Application,
                           "Fisierul " + name +
                               " este o arhiva zip, dar nu un registru de calcul (nu are partea "
                               "[Content_Types].xml) si nu poate fi deschis");
    }
    throw RuntimeError(
        err::Application,
        "Fisierul " + text::quoted(source->path()) +
            " nu este un registru de calcul (.xls, .xlsx, .xlsm, .ods) si nu poate fi deschis");
}

ApplicationFactory nativeApplicationFactory() {
    return [] { return std::make_shared<NativeApplication>(); };
}

} // namespace ordana::spreadsheet
