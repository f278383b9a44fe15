#include "install/safe_path.h"

#include <cstring>

#include "common/paths.h"

namespace {

bool IsAsciiLetterMatch(const std::wstring& text, size_t at, const wchar_t* upper) {
    for (size_t i = 0; upper[i] != L'\0'; ++i) {
        wchar_t c = text[at + i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != upper[i]) return false;
    }
    return true;
}

// Windows opens a device for these names in any directory, whatever follows the first dot and
// whatever spaces precede it ("nul.txt", "COM1 ", "aux .log"). Leading spaces are skipped too: not
// needed under Wine, but refusing " NUL" costs nothing.
bool IsReservedDeviceName(const std::wstring& text) {
    size_t begin = text.find_first_not_of(L' ');
    if (begin == std::wstring::npos) return false;
    std::wstring segment = text.substr(begin);
    size_t end = segment.find(L'.');
    if (end == std::wstring::npos) end = segment.size();
    while (end > 0 && segment[end - 1] == L' ') --end;
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (std::wcslen(device) == end && IsAsciiLetterMatch(segment, 0, device)) return true;
    }
    if (end != 4 || !(IsAsciiLetterMatch(segment, 0, L"COM") || IsAsciiLetterMatch(segment, 0, L"LPT"))) return false;
    wchar_t digit = segment[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

bool IsSafeSegment(const std::wstring& segment) {
    if (segment.empty() || segment == L"..") return false;
    // Under Windows path rules a dots-only segment never reaches a parent: as the last segment it
    // names the folder itself, elsewhere it becomes a name the file system refuses. Accepted.
    if (segment.find_first_not_of(L'.') == std::wstring::npos) return true;
    // Windows drops trailing dots and spaces (all of them at the end of a path, one dot elsewhere),
    // so "a." or "b " would write "a" or "b", and ".. " would come close to "..".
    if (segment.back() == L'.' || segment.back() == L' ') return false;
    return !IsReservedDeviceName(segment);
}

}  // namespace

bool IsSafeRelativePath(const std::wstring& name) {
    if (name.empty() || IsPathSeparator(name[0])) return false;
    // A colon names a drive or an alternate stream; a NUL ends the name early in every system call.
    if (name.find_first_of(std::wstring(L":\0", 2)) != std::wstring::npos) return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) return IsSafeSegment(name.substr(start));
        if (!IsSafeSegment(name.substr(start, end - start))) return false;
        start = end + 1;
    }
}
