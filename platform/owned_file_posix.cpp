// Owned files on POSIX: O_NOFOLLOW and O_EXCL keep a planted link from being followed, and the
// opened file itself (fstat of the descriptor, not of the name) is checked before any byte changes.
#include "platform/owned_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/fs_fault.h"
#include "platform/owner_state.h"
#include "platform/posix_path.h"

namespace platform {
namespace {

int OpenNoFollow(const std::wstring& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(NativePath(path).c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A regular file with no other name, of the effective user: only then may we rewrite it. Root
// owns what it is tricked into linking to, so the count of names matters as much as the owner.
bool PlainlyOurs(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
        errno = EPERM;
        return false;
    }
    return true;
}

}  // namespace

struct OwnedFile::State {
    int fd = -1;
};

OwnedFile::OwnedFile() : state_(new State) {}
OwnedFile::~OwnedFile() {
    Close();
}
OwnedFile::OwnedFile(OwnedFile&& other) noexcept : state_(std::move(other.state_)) {}
OwnedFile& OwnedFile::operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
        Close();
        state_.swap(other.state_);
    }
    return *this;
}

bool OwnedFile::OpenForUpdate(const std::wstring& path) {
    Close();
    EnsureState(state_);
    // Without blocking, so that a FIFO in the way cannot hang the open; refused below anyway.
    int fd = OpenNoFollow(path, O_RDWR | O_CREAT | O_NONBLOCK, 0644);
    if (fd < 0) return false;
    int flags = ::fcntl(fd, F_GETFL);
    if (!PlainlyOurs(fd) || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    state_->fd = fd;
    return true;
}

bool OwnedFile::CreateNew(const std::wstring& path, bool ownerOnly) {
    Close();
    EnsureState(state_);
    state_->fd = OpenNoFollow(path, O_RDWR | O_CREAT | O_EXCL, ownerOnly ? 0600 : 0644);
    return state_->fd >= 0;
}

bool OwnedFile::IsOpen() const {
    return state_ && state_->fd >= 0;
}

bool OwnedFile::Read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (!IsOpen()) return false;
    char* out = static_cast<char*>(buffer);
    while (got < size) {
        ssize_t n = ::read(state_->fd, out + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool OwnedFile::Skip(uint64_t distance) {
    if (!IsOpen() || distance > static_cast<uint64_t>(LLONG_MAX)) return false;
    return ::lseek(state_->fd, static_cast<off_t>(distance), SEEK_CUR) >= 0;
}

bool OwnedFile::GetSize(uint64_t& size) {
    struct stat st;
    if (!IsOpen() || ::fstat(state_->fd, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool OwnedFile::Truncate() {
    return IsOpen() && ::ftruncate(state_->fd, 0) == 0 && ::lseek(state_->fd, 0, SEEK_SET) == 0;
}

bool OwnedFile::Write(const void* data, size_t size) {
    if (!IsOpen() || WriteFaultStrikes()) return false;
    const char* in = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(state_->fd, in, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        in += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool OwnedFile::Flush() {
    return IsOpen() && ::fsync(state_->fd) == 0;
}

bool OwnedFile::Close() {
    if (!state_ || state_->fd < 0) return true;
    int fd = state_->fd;
    state_->fd = -1;
    return ::close(fd) == 0;
}

// File systems without RENAME_NOREPLACE (network, FUSE) still refuse a hard link over an existing
// name; should the old name then fail to go, the file is in place and a second name is left.
bool RenameNoReplace(const std::wstring& from, const std::wstring& to) {
    std::string source = NativePath(from);
    std::string target = NativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(source.c_str(), target.c_str()) != 0) return false;
    ::unlink(source.c_str());
    return true;
}

}  // namespace platform
