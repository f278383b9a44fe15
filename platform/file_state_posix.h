#pragma once
// Inside the POSIX platform layer only: what a File holds, so that FolderTree can hand it a
// descriptor it opened relative to a folder.
#include "platform/fs.h"
#include "platform/owner_state.h"

namespace platform {

struct File::State {
    int fd = -1;
};

struct FileAccess {
    static int Descriptor(const File& file) { return file.state_ ? file.state_->fd : -1; }
    static void Adopt(File& file, int fd) {
        EnsureState(file.state_);
        file.state_->fd = fd;
    }
};

inline void SetFileDescriptor(File& file, int fd) {
    FileAccess::Adopt(file, fd);
}

}  // namespace platform
