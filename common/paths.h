#pragma once
// Where the installer's files are and how paths are put together. The system writes "\" and
// accepts both "\" and "/" when it splits a path.
#include <string>

bool IsPathSeparator(wchar_t c);

// The executable's directory without a trailing separator; "." when its path has no separator.
std::wstring GetExeDirectory();

// `directory` + "\" + `name`, without the "\" when the directory is empty or already ends in a
// separator. Nothing is normalised or removed.
std::wstring JoinPath(const std::wstring& directory, const std::wstring& name);

// The directory part of an executable path by the rule above (exposed for tests).
std::wstring DirectoryOfExecutable(const std::wstring& executablePath);
