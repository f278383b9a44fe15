#include "common/paths.h"

#include "platform/fs.h"
#include "platform/path_split.h"

bool IsPathSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::wstring DirectoryOfExecutable(const std::wstring& executablePath) {
    size_t end = executablePath.find(L'\0');
    std::wstring path = executablePath.substr(0, end);
    size_t separator = platform::LastPathSeparator(path);
    if (separator == std::wstring::npos) return L".";
    return path.substr(0, separator);
}

std::wstring GetExeDirectory() {
    return DirectoryOfExecutable(platform::ExecutablePath());
}

std::wstring JoinPath(const std::wstring& directory, const std::wstring& name) {
    if (directory.empty()) return name;
    // One allocation: the joins run once or twice for every file an extraction writes.
    std::wstring path;
    path.reserve(directory.size() + 1 + name.size());
    path += directory;
    if (!IsPathSeparator(directory.back())) path += L'\\';
    path += name;
    return path;
}
