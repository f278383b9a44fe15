#include "support/wine_browser_win.h"

#include <windows.h>

namespace test {

bool RouteWebLinksToCurl() {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const wchar_t browsers[] = L"/usr/bin/curl,/usr/bin/wget";
    const bool ok = ::RegSetValueExW(key, L"Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browsers),
                                     sizeof browsers) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return ok;
}

}  // namespace test
