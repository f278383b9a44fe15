#pragma once
// Text conversion done by the platform.
#include <cstddef>
#include <string>

namespace platform {

// UTF-8 to the system's wide text (UTF-16 on Windows, code points elsewhere). Ill-formed input does
// not fail: each maximal ill-formed subpart becomes one U+FFFD. NUL bytes convert to NUL units.
std::wstring ConvertUtf8ToWide(const char* bytes, size_t length);

// Wide text back to UTF-8 (for POSIX paths and tool output); unpaired surrogates become U+FFFD.
std::string ConvertWideToUtf8(const std::wstring& text);

// Each character of the BMP mapped to its simple upper case, one to one ("ß" stays, it does
// not become "SS"), the rest unchanged: the way Windows folds file names, with an upper-case table
// of one entry per UTF-16 unit that leaves out mappings which do not lead back to the same lower
// case. Two names are one file on Windows when these are equal.
std::wstring UpperCaseAsFileNames(const std::wstring& text);

}  // namespace platform
