#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace platform {

std::wstring ConvertUtf8ToWide(const char* bytes, size_t length) {
    if (length == 0 || length > INT_MAX) return std::wstring();
    // Without MB_ERR_INVALID_CHARS ill-formed input is replaced, not refused.
    int count = ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(count), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(length), &out[0], count);
    return out;
}

std::string ConvertWideToUtf8(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) return std::string();
    int size = static_cast<int>(text.size());
    int count = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return std::string();
    std::string out(static_cast<size_t>(count), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &out[0], count, nullptr, nullptr);
    return out;
}

std::wstring UpperCaseAsFileNames(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) return text;
    // The invariant locale's upper case maps each UTF-16 unit to one unit, as file names fold.
    std::wstring upper(text.size(), L'\0');
    int size = static_cast<int>(text.size());
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), size, &upper[0], size, nullptr, nullptr,
                        0) != size)
        return text;
    return upper;
}

}  // namespace platform
