#include "platform/long_path.h"

#include <vector>

namespace platform {
namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsDriveAbsolute(const std::wstring& path) {
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]);
}

bool IsUnc(const std::wstring& path) {
    return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// Splits after `root` chars of `path` and resolves the segments; ".." stops at the root.
void AppendSegments(const std::wstring& path, size_t start, std::vector<std::wstring>& segments) {
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::wstring segment = path.substr(start, end - start);
        start = end + 1;
        if (segment == L"..") {
            if (!segments.empty()) segments.pop_back();
            continue;
        }
        if (segment != L".") {
            while (!segment.empty() && (segment.back() == L'.' || segment.back() == L' ')) segment.pop_back();
        }
        if (!segment.empty() && segment != L".") segments.push_back(segment);
    }
}

// "\\?\C:" or "\\?\UNC\server\share" for an absolute path, and where its segments begin.
bool SplitRoot(const std::wstring& path, std::wstring& root, size_t& rest) {
    if (IsDriveAbsolute(path)) {
        root = L"\\\\?\\" + path.substr(0, 2);
        rest = 3;
        return true;
    }
    if (!IsUnc(path)) return false;
    size_t server = path.find_first_of(L"\\/", 2);
    if (server == std::wstring::npos) return false;
    size_t share = path.find_first_of(L"\\/", server + 1);
    if (share == std::wstring::npos) share = path.size();
    root = L"\\\\?\\UNC\\" + path.substr(2, server - 2) + L"\\" + path.substr(server + 1, share - server - 1);
    rest = share + 1;
    return true;
}

}  // namespace

std::wstring ToSystemPath(const std::wstring& path, const std::wstring& currentDirectory) {
    if (path.size() < kLongPathFrom) return path;
    if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) return path;
    std::wstring full = path;
    if (!IsDriveAbsolute(path) && !IsUnc(path)) {
        if (path.size() >= 2 && path[1] == L':') return path;
        std::wstring base = currentDirectory;
        if (!path.empty() && IsSeparator(path[0])) {
            std::wstring root;
            size_t rest = 0;
            if (!SplitRoot(currentDirectory, root, rest)) return path;
            base = currentDirectory.substr(0, rest > 0 ? rest - 1 : 0);
        }
        full = base + L"\\" + path;
    }
    std::wstring root;
    size_t rest = 0;
    if (!SplitRoot(full, root, rest)) return path;
    std::vector<std::wstring> segments;
    AppendSegments(full, rest, segments);
    std::wstring result = root;
    for (const std::wstring& segment : segments) result += L"\\" + segment;
    if (segments.empty()) result += L"\\";
    return result;
}

}  // namespace platform
