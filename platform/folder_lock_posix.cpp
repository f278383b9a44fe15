// The folder lock natively: flock on a descriptor of the folder itself. The lock belongs to the
// open file description, so it goes with the descriptor's close or the process's end, and a second
// description (another process, or another FolderLock here) is refused with EWOULDBLOCK.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/folder_lock.h"
#include "platform/posix_path.h"

namespace platform {

struct FolderLock::State {
    int fd = -1;
};

FolderLock::FolderLock() : state_(std::make_unique<State>()) {}
FolderLock::~FolderLock() {
    Release();
}
FolderLock::FolderLock(FolderLock&& other) noexcept = default;
FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Release();
        state_ = std::move(other.state_);
    }
    return *this;
}

LockResult FolderLock::Acquire(const std::wstring& folder) {
    Release();
    if (!state_) state_ = std::make_unique<State>();
    int fd;
    do {
        fd = ::open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return LockResult::Failed;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return error == EWOULDBLOCK ? LockResult::Busy : LockResult::Failed;
    }
    state_->fd = fd;
    return LockResult::Locked;
}

void FolderLock::Release() {
    if (!state_ || state_->fd < 0) return;
    ::close(state_->fd);
    state_->fd = -1;
}

bool FolderLock::held() const {
    return state_ && state_->fd >= 0;
}

}  // namespace platform
