#include "platform/error.h"

#include <windows.h>

#include <iterator>

#include "platform/text.h"

namespace platform {

uint32_t LastSystemError() {
    return ::GetLastError();
}

void ClearSystemError() {
    ::SetLastError(ERROR_SUCCESS);
}

void SetSystemError(uint32_t code) {
    ::SetLastError(code);
}

std::string SystemErrorMessage(uint32_t code) {
    wchar_t buffer[512];
    // The language of the system: support reads the code, the text is a courtesy.
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                               static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring text(buffer, n);
    while (!text.empty() &&
           (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n') c = L' ';
    }
    return ConvertWideToUtf8(text);
}

}  // namespace platform
