// Stands in for a banner link in the banner view tests: when the shell starts it, it writes the
// file "opened.marker" beside itself and ends.
#include <windows.h>

#include <iterator>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    if (n == 0 || n >= std::size(self)) return 1;
    std::wstring marker(self, n);
    marker.resize(marker.find_last_of(L"\\/") + 1);
    marker += L"opened.marker";
    HANDLE file =
        ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(file);
    return 0;
}
