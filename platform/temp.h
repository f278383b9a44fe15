#pragma once
// The user's temporary folder and new, uniquely named files in it.
#include <string>

namespace platform {

// The temporary folder, ending in a separator; empty when the system cannot say. Windows asks
// GetTempPathW (TMP, TEMP, then the profile); elsewhere $TMPDIR, or "/tmp" when it is unset.
std::wstring TempDirectory();

// Creates a new, empty file in `directory` whose name begins with `prefix` (three letters) and
// returns its full path; empty when no file could be created. The file exists once this returns,
// so no one else can take the name.
std::wstring CreateTempFile(const std::wstring& directory, const std::wstring& prefix);

}  // namespace platform
