#pragma once
// How the Windows file layer hands long paths to the system. Portable text work, so that both
// builds test it; only fs_win.cpp calls it.
#include <cstddef>
#include <string>

namespace platform {

// From this length on, a plain path fails on Windows without long-path support (CreateDirectoryW
// allows 248 characters, the rest of the file calls 259).
constexpr size_t kLongPathFrom = 248;

// The path in the extended-length form the Win32 file calls accept up to 32767 characters:
// "\\?\C:\dir\file" for a drive path, "\\?\UNC\server\share\dir\file" for a share. That form is
// taken literally, so the path is normalised first as the system would: "/" becomes "\", empty and
// "." segments go, ".." removes the segment before it (never the drive or the share), and trailing
// dots and spaces of a segment are dropped. A relative path is taken below `currentDirectory`,
// a path rooted without a drive ("\dir") on its drive or share. Paths shorter than kLongPathFrom,
// paths already in the "\\?\" or "\\.\" form, and drive-relative paths ("C:dir", whose base only
// the system knows) come back unchanged.
std::wstring ToSystemPath(const std::wstring& path, const std::wstring& currentDirectory);

}  // namespace platform
