#pragma once

// The user's choices remembered between runs in the registry, as DWORD values under HKCU\Software\Ordana.

#include "ui/View.h"

namespace ordana::win32 {

class Preferences : public ui::Preferences {
  public:
    bool flag(const std::string& key, bool fallback) override;
    void setFlag(const std::string& key, bool value) override;
};

} // namespace ordana::win32
