#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <algorithm>

#include "platform/fs.h"
#include "platform/text.h"

namespace test {

std::filesystem::path FsPath(const std::wstring& path) {
#ifdef _WIN32
    return std::filesystem::path(path);
#else
    std::string native = platform::ConvertWideToUtf8(path);
    std::replace(native.begin(), native.end(), '\\', '/');
    return std::filesystem::path(native);
#endif
}

namespace {

std::wstring WidePath(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    std::string s = path.string();
    return platform::ConvertUtf8ToWide(s.data(), s.size());
#endif
}

}  // namespace

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        std::filesystem::path candidate =
            base / ("pi-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = WidePath(candidate);
            return;
        }
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::path root = FsPath(path_);
    // Read-only files left by tests would stop the removal on Windows.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(root, ec);
}

std::wstring ScratchDir::operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    platform::File file;
    return file.OpenWrite(path) && file.Write(bytes.data(), bytes.size()) && file.Close();
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    platform::File file;
    uint64_t size = 0;
    if (!file.OpenRead(path, platform::Share::All) || !file.GetSize(size)) return false;
    bytes.assign(static_cast<size_t>(size), '\0');
    size_t got = 0;
    if (!file.Read(&bytes[0], bytes.size(), got)) return false;
    bytes.resize(got);
    return true;
}

std::vector<std::string> ListTree(const std::wstring& root) {
    std::vector<std::string> names;
    std::filesystem::path base = FsPath(root);
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(base, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        names.push_back(std::filesystem::relative(it->path(), base, ec).generic_u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::u32string CodePoints(const std::wstring& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            uint32_t low = static_cast<uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.push_back(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace test
