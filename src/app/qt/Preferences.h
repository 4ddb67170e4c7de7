#pragma once

// The user's choices remembered between runs in QSettings, under the organisation and application "Ordana"
// (~/.config/Ordana/Ordana.conf on Linux).

#include "ui/View.h"

#include <QSettings>

namespace ordana::qt {

class Preferences : public ui::Preferences {
  public:
    Preferences();
    bool flag(const std::string& key, bool fallback) override;
    void setFlag(const std::string& key, bool value) override;

  private:
    QSettings settings_;
};

} // namespace ordana::qt
