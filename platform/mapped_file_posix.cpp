// Mapped files on POSIX: one mmap of the whole file; the descriptor is closed at once, the
// mapping keeps the file alive.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "platform/mapped_file.h"
#include "platform/posix_path.h"

namespace platform {

void MappedFile::Close() {
    if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::Open(const std::wstring& path) {
    Close();
    int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<uint64_t>(st.st_size) <= SIZE_MAX;
    if (ok && st.st_size > 0) {
        void* view = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        ok = view != MAP_FAILED;
        if (ok) {
            data_ = static_cast<const uint8_t*>(view);
            size_ = static_cast<uint64_t>(st.st_size);
            // The decoder reads the old file mostly front to back.
            ::madvise(view, static_cast<size_t>(st.st_size), MADV_SEQUENTIAL);
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace platform
