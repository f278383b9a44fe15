#pragma once
// Inside the Win32 platform layer only: a path as the Win32 file calls take it, the extended-length
// form for a long one (the current folder asked only for a long relative path). fs_win.cpp owns it.
#include <string>

namespace platform {

std::wstring SystemPath(const std::wstring& path);

}  // namespace platform
