#include "app/qt/Preferences.h"

namespace ordana::qt {

// Not the application's name, which is the title with its version: the choices outlive a version.
Preferences::Preferences() : settings_(QStringLiteral("Ordana"), QStringLiteral("Ordana")) {}

bool Preferences::flag(const std::string& key, bool fallback) {
    return settings_.value(QString::fromStdString(key), fallback).toBool();
}

void Preferences::setFlag(const std::string& key, bool value) {
    settings_.setValue(QString::fromStdString(key), value);
    // Written at once: a run that ends abruptly keeps the choice.
    settings_.sync();
}

} // namespace ordana::qt
