#pragma once
// POSIX builds only: paths arrive in the Windows form the rest of the system builds ("\" as
// separator), so both separators become "/" before they reach the C library.
#include <string>

#include "platform/text.h"

namespace platform {

inline std::string NativePath(const std::wstring& path) {
    std::string native = ConvertWideToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

}  // namespace platform
