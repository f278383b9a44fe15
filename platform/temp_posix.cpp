// Temporary files on POSIX: $TMPDIR or /tmp, and a name of the prefix, eight hexadecimal digits and
// ".tmp" (the shape GetTempFileNameW gives), created with O_EXCL so an existing file is never taken.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/temp.h"
#include "platform/posix_path.h"
#include "platform/text.h"

namespace platform {
namespace {

uint32_t NextCandidate() {
    // Seeded once per process; the counter keeps names of one process apart even when the seed of
    // two processes happens to match, and O_EXCL settles any remaining collision.
    static std::mt19937 generator{std::random_device{}()};
    return static_cast<uint32_t>(generator());
}

}  // namespace

std::wstring TempDirectory() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env != nullptr && env[0] != '\0') ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return ConvertUtf8ToWide(dir.data(), dir.size());
}

std::wstring CreateTempFile(const std::wstring& directory, const std::wstring& prefix) {
    if (directory.empty()) return std::wstring();
    std::wstring base = directory;
    if (base.back() != L'/' && base.back() != L'\\') base += L'/';
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%08X", static_cast<unsigned>(NextCandidate()));
        std::wstring path = base + prefix + ConvertUtf8ToWide(unique, 8) + L".tmp";
        int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST && errno != EINTR) return std::wstring();
    }
    return std::wstring();
}

}  // namespace platform
