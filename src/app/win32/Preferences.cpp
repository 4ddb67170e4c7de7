#include "Preferences.h"

#include "Support.h"

#include <windows.h>

namespace ordana::win32 {

namespace {
constexpr wchar_t kKey[] = L"Software\\Ordana";
}

bool Preferences::flag(const std::string& key, bool fallback) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, wide(key).c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return fallback;
    return value != 0;
}

void Preferences::setFlag(const std::string& key, bool value) {
    // A choice that cannot be written is only not remembered; the run goes on with it.
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS)
        return;
    const DWORD data = value ? 1 : 0;
    RegSetValueExW(opened, wide(key).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                   sizeof(data));
    RegCloseKey(opened);
}

} // namespace ordana::win32
