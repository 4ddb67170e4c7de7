#include "ui/Desktop.h"

#include "common/Identity.h"

#include <cstdio>
#include <utility>

namespace ordana::ui {

std::string workbookArgument(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 ? arguments[1] : std::string();
}

std::optional<std::string> OpeningWorkbook::take() {
    if (path_.empty()) return std::nullopt;
    return std::exchange(path_, {});
}

Message documentNotOpened(const std::string& path) {
    return {"Documentul nu poate fi deschis:\r\n" + path, identity::title, Buttons::OkOnly, {}};
}

Message dialogFailed(const std::string& title, long code) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08lX", static_cast<unsigned long>(code) & 0xFFFFFFFFul);
    return {std::string("Dialogul de alegere a fisierului nu poate fi afisat (eroarea ") + hex + ").",
            title,
            Buttons::OkOnly,
            {}};
}

Message noFilePath(const std::string& title, const std::string& item) {
    return {"Elementul ales nu este un fisier pe care programul il poate deschide:\r\n" + item,
            title,
            Buttons::OkOnly,
            {}};
}

} // namespace ordana::ui
