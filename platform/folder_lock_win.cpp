// The folder lock on Windows: a file of ours in the folder, opened with no sharing at all, so that
// any other open of it fails with a sharing violation while we hold it. Deleted on close, which the
// system also does for a process that is killed, so it is there only while an install runs.
#include <windows.h>

#include "platform/folder_lock.h"
#include "platform/system_path_win.h"
#include "platform/win_handle.h"

namespace platform {
namespace {

std::wstring LockFilePath(const std::wstring& folder) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    return SystemPath(path + kFolderLockFileName);
}

}  // namespace

struct FolderLock::State {
    UniqueFile file;
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
    // DELETE access for the delete on close. A link planted under our name is opened as the link
    // itself, never its target, and refused below (the close then removes the link, not the target).
    UniqueFile file(::CreateFileW(LockFilePath(folder).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!file.valid()) return ::GetLastError() == ERROR_SHARING_VIOLATION ? LockResult::Busy : LockResult::Failed;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) return LockResult::Failed;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return LockResult::Failed;
    }
    state_->file = std::move(file);
    return LockResult::Locked;
}

void FolderLock::Release() {
    if (state_) state_->file.reset();
}

bool FolderLock::held() const {
    return state_ && state_->file.valid();
}

}  // namespace platform
