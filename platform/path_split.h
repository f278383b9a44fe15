#pragma once
// Where a path is taken apart: both "\" and "/" separate (the system writes "\"). The one statement
// of that rule for every module that splits a path, the file-system layer included.
#include <string>

namespace platform {

// Position of the last separator in `path` at or before `before` (the whole path by default), or
// npos when there is none. For wide paths and for UTF-8 names alike.
template <typename Char>
size_t LastPathSeparator(const std::basic_string<Char>& path, size_t before = std::basic_string<Char>::npos) {
    static constexpr Char kSeparators[] = {Char('\\'), Char('/'), Char(0)};
    return path.find_last_of(kSeparators, before);
}

}  // namespace platform
