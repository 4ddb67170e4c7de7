#include "FileAccess.h"

namespace ordana::spreadsheet {

std::shared_ptr<const SourceFile> SourceFile::read(const std::string& path) {
    return open(path, Mode::Read, 0);
}

std::shared_ptr<const SourceFile> SourceFile::readOnDemand(const std::string& path) {
    return open(path, Mode::ReadOnDemand, 0);
}

std::shared_ptr<const SourceFile> SourceFile::readForWriting(const std::string& path, int waitMilliseconds) {
    return open(path, Mode::ReadForWriting, waitMilliseconds);
}

std::shared_ptr<const SourceFile> SourceFile::fromBytes(std::vector<std::uint8_t> bytes, std::string path) {
    return fromBytes(std::make_shared<const FileBytes>(std::move(bytes)), std::move(path));
}

std::shared_ptr<const SourceFile> SourceFile::fromBytes(std::shared_ptr<const FileBytes> bytes,
                                                        std::string path) {
    std::shared_ptr<SourceFile> source(new SourceFile());
    source->path_ = std::move(path);
    source->version_.size = bytes->size();
    source->data_ = std::move(bytes);
    return source;
}

} // namespace ordana::spreadsheet
