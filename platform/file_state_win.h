#pragma once
// Inside the Win32 platform layer only: what a File holds, so that FolderTree can hand it a handle
// it opened after checking the folders on the way.
#include "platform/fs.h"
#include "platform/owner_state.h"
#include "platform/system_path_win.h"
#include "platform/win_handle.h"

namespace platform {

struct File::State {
    UniqueFile handle;
};

struct FileAccess {
    static void Adopt(File& file, HANDLE handle) {
        EnsureState(file.state_);
        file.state_->handle.reset(handle);
    }
};

inline void SetFileHandle(File& file, HANDLE handle) {
    FileAccess::Adopt(file, handle);
}

}  // namespace platform
