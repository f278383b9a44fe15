// Temporary files through GetTempPathW and GetTempFileNameW: the system picks a name made of the
// prefix, up to four hexadecimal digits and ".tmp", and creates the file empty.
#include <windows.h>

#include <iterator>

#include "platform/temp.h"

namespace platform {

std::wstring TempDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(static_cast<DWORD>(std::size(buffer)), buffer);
    if (n == 0 || n >= std::size(buffer)) return std::wstring();
    return std::wstring(buffer, n);
}

std::wstring CreateTempFile(const std::wstring& directory, const std::wstring& prefix) {
    if (directory.empty()) return std::wstring();
    wchar_t buffer[MAX_PATH] = {};
    if (::GetTempFileNameW(directory.c_str(), prefix.c_str(), 0, buffer) == 0) return std::wstring();
    return buffer;
}

}  // namespace platform
