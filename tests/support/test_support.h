#pragma once
// Scratch folders and small file helpers for the unit tests of both builds.
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_order.h"

namespace test {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The wide path the system builds ("\" separators) as a std::filesystem path of this platform.
std::filesystem::path FsPath(const std::wstring& path);

// A new, empty folder below the temporary folder; removed with everything in it on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::wstring& path() const { return path_; }
    // `path()` joined with a relative name written with "\" separators.
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring path_;
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string& bytes);

// Every file and folder below `root`, as relative paths with "/" separators, sorted.
std::vector<std::string> ListTree(const std::wstring& root);

// Little-endian integers for building archives by hand: the product's own.
using ::AppendU32;
using ::AppendU64;

// Code points of a wide string: UTF-16 surrogate pairs are joined where wchar_t is 16 bits.
std::u32string CodePoints(const std::wstring& text);

}  // namespace test
