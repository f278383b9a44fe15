#pragma once
// One install at a time per game folder. Two installers writing into one folder would each take the
// other's files for the game's and undo or overwrite them; the second is turned away instead.
// The system drops the lock when its holder ends, however it ends, so a killed install never
// leaves a folder locked for the next one.
//   POSIX: flock on the folder itself, opened read-only; nothing is written into the folder.
//   Windows: kFolderLockFileName in the folder, opened without any sharing and deleted when it is
//   closed. A link of that name is never followed.
// Locks are not re-entrant: a second FolderLock on the same folder in the same process is Busy too.
#include <memory>
#include <string>

namespace platform {

// Windows only; hidden while it exists.
constexpr wchar_t kFolderLockFileName[] = L"patch_install.lock";

enum class LockResult {
    Locked,
    Busy,    // another holder has the folder
    Failed,  // no such folder, or the lock cannot be taken there (LastSystemError says why)
};

class FolderLock {
public:
    FolderLock();
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;

    // Takes the folder's lock without waiting; a lock held before is released first.
    LockResult Acquire(const std::wstring& folder);
    void Release();
    bool held() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
