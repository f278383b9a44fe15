// Win32 FolderTree: every folder on the way is opened without following a reparse point and held
// without delete sharing until the tree is let go, so no folder on the way can be renamed, removed
// or replaced by a junction meanwhile; the path-based calls then act on the folders that were
// checked, and the last segment is checked as each call acts.
#include <windows.h>

#include "platform/folder_tree.h"

#include <unordered_map>

#include "platform/file_state_win.h"
#include "platform/win_handle.h"

namespace platform {
namespace {

// Folders held open at once; a tree of more folders lets them all go and walks again.
constexpr size_t kMaxHeldFolders = 1024;

// Others may read and write in a held folder, never rename or remove it.
constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// "a/./b" is "a\b": the key held folders are found by, with A-Z folded as the file system does.
std::wstring PlainRelative(const std::wstring& path) {
    std::wstring plain;
    plain.reserve(path.size());
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (!(end - start == 1 && path[start] == L'.')) {
            if (!plain.empty()) plain += L'\\';
            plain.append(path, start, end - start);
        }
        start = end + 1;
    }
    return plain;
}

std::wstring Key(const std::wstring& plain) {
    std::wstring key = plain;
    for (wchar_t& c : key) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return key;
}

// Opens a folder itself, not what a reparse point there leads to; only a plain directory is kept.
UniqueFile OpenPlainFolder(const std::wstring& path) {
    UniqueFile folder(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kHeldSharing, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) return folder;
    // Windows opens the reparse point itself and its handle says so. Wine opens what a link leads
    // to and only the name's attributes tell: asked once the folder is held, both are checked.
    BY_HANDLE_FILE_INFORMATION info;
    DWORD named = ::GetFileAttributesW(SystemPath(path).c_str());
    if (!::GetFileInformationByHandle(folder.get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        ((info.dwFileAttributes | named) & FILE_ATTRIBUTE_REPARSE_POINT) || named == INVALID_FILE_ATTRIBUTES) {
        folder.reset();
        ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    }
    return folder;
}

}  // namespace

struct FolderTree::State {
    std::wstring root;
    std::wstring base;  // the root as the system names the folder it holds
    UniqueFile rootHandle;
    uint64_t device = 0;
    uint64_t identity = 0;
    std::unordered_map<std::wstring, UniqueFile> held;

    // True when every folder of `plain` (relative, "\" between segments, empty for the root) is
    // held, walking and checking the ones not held yet. False with the last error set otherwise.
    bool HoldFolders(const std::wstring& plain) {
        if (plain.empty()) return true;
        if (held.count(Key(plain))) return true;
        if (held.size() >= kMaxHeldFolders) held.clear();
        size_t end = 0;
        while (end <= plain.size()) {
            size_t next = plain.find(L'\\', end);
            if (next == std::wstring::npos) next = plain.size();
            std::wstring prefix = plain.substr(0, next);
            std::wstring key = Key(prefix);
            if (!held.count(key)) {
                UniqueFile folder = OpenPlainFolder(base + L"\\" + prefix);
                if (!folder) return false;
                held.emplace(key, std::move(folder));
            }
            end = next + 1;
        }
        return true;
    }

    void Forget(const std::wstring& plain) {
        std::wstring key = Key(plain);
        for (auto it = held.begin(); it != held.end();) {
            const std::wstring& k = it->first;
            if (k == key || (k.size() > key.size() && k.compare(0, key.size(), key) == 0 && k[key.size()] == L'\\')) {
                it = held.erase(it);
            } else {
                ++it;
            }
        }
    }
};

namespace {

// A relative name whose folders are all held: its full path, as the system takes it.
struct Place {
    std::wstring path;
    std::wstring plain;
    bool ok = false;

    Place(FolderTree::State& state, const std::wstring& relative) : plain(PlainRelative(relative)) {
        size_t slash = plain.find_last_of(L'\\');
        if (plain.empty() || slash + 1 == plain.size()) {
            ::SetLastError(ERROR_INVALID_NAME);
            return;
        }
        ok = state.HoldFolders(slash == std::wstring::npos ? std::wstring() : plain.substr(0, slash));
        path = SystemPath(state.base + L"\\" + plain);
    }
};

TreeKind KindAt(const Place& place, DWORD* attributesOut = nullptr) {
    if (!place.ok) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TreeKind::Missing
                                                                              : TreeKind::Unreachable;
    }
    DWORD attributes = ::GetFileAttributesW(place.path.c_str());
    if (attributesOut) *attributesOut = attributes;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TreeKind::Missing
                                                                              : TreeKind::Unreachable;
    }
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) return TreeKind::Other;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TreeKind::Folder : TreeKind::File;
}

bool IsRegularFile(const Place& place) {
    if (KindAt(place) == TreeKind::File) return true;
    if (place.ok) ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return false;
}

}  // namespace

FolderTree::FolderTree() : state_(new State) {}
FolderTree::~FolderTree() = default;

bool FolderTree::Open(const std::wstring& root) {
    state_.reset(new State);
    std::wstring base = root;
    while (!base.empty() && IsSeparator(base.back()) && base.size() > 3) base.pop_back();
    state_->root = base;
    state_->rootHandle.reset(::CreateFileW(SystemPath(base).c_str(), FILE_READ_ATTRIBUTES, kHeldSharing, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!state_->rootHandle || !::GetFileInformationByHandle(state_->rootHandle.get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        state_->rootHandle.reset();
        return false;
    }
    // Every later call names its path from the folder the handle holds, so that a junction on the
    // way to the root changed meanwhile cannot send them elsewhere.
    std::wstring named(32768, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(state_->rootHandle.get(), &named[0], 32768, FILE_NAME_NORMALIZED);
    state_->base = length > 0 && length < 32768 ? named.substr(0, length) : base;
    state_->device = info.dwVolumeSerialNumber;
    state_->identity = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool FolderTree::IsOpen() const {
    return state_->rootHandle.valid();
}
const std::wstring& FolderTree::root() const {
    return state_->root;
}
uint64_t FolderTree::device() const {
    return state_->device;
}
uint64_t FolderTree::identity() const {
    return state_->identity;
}

TreeKind FolderTree::KindOf(const std::wstring& relative, FileFacts* facts) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    TreeKind kind = KindAt(place);
    if (kind != TreeKind::File || !facts) return kind;
    UniqueFile file(::CreateFileW(place.path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (file && ::GetFileInformationByHandle(file.get(), &info)) {
        facts->device = info.dwVolumeSerialNumber;
        facts->identity = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    return kind;
}

bool FolderTree::IsSameFile(const std::wstring& relative, const FileFacts& facts) {
    FileFacts found;
    return KindOf(relative, &found) == TreeKind::File && found.device == facts.device &&
           found.identity == facts.identity;
}

MakeDirResult FolderTree::MakeFolder(const std::wstring& relative) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    if (!place.ok) return MakeDirResult::Failed;
    if (::CreateDirectoryW(place.path.c_str(), nullptr)) return MakeDirResult::Created;
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? MakeDirResult::AlreadyExists : MakeDirResult::Failed;
}

bool FolderTree::RemoveEmptyFolder(const std::wstring& relative) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    // Our own handle would keep it from going.
    state_->Forget(place.plain);
    return place.ok && KindAt(place) == TreeKind::Folder && ::RemoveDirectoryW(place.path.c_str()) != FALSE;
}

bool FolderTree::Remove(const std::wstring& relative) {
    FireTreeActHook(relative);
    Place place(*state_, relative);
    // DeleteFileW removes a link itself, never what it leads to, and never a folder.
    return place.ok && ::DeleteFileW(place.path.c_str()) != FALSE;
}

bool FolderTree::Move(const std::wstring& from, const std::wstring& to, bool replace) {
    FireTreeActHook(from);
    if (MoveFaultStrikes()) {
        ::SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    Place source(*state_, from);
    Place target(*state_, to);
    if (!IsRegularFile(source) || !target.ok) return false;
    TreeKind kind = KindAt(target);
    if (kind != TreeKind::Missing && (!replace || kind != TreeKind::File)) {
        ::SetLastError(replace ? ERROR_CANT_RESOLVE_FILENAME : ERROR_ALREADY_EXISTS);
        return false;
    }
    return ::MoveFileExW(source.path.c_str(), target.path.c_str(),
                         (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// Windows has no call that exchanges two names (FolderCanSwap says so); never planned there.
bool FolderTree::SwapFiles(const std::wstring& /*first*/, const std::wstring& /*second*/) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool FolderTree::CreateNew(File& file, const std::wstring& relative, const FileFacts* /*like*/) {
    FireTreeActHook(relative);
    file.Close();
    Place place(*state_, relative);
    if (!place.ok) return false;
    // CREATE_NEW fails on anything at the name, a link included.
    HANDLE handle = ::CreateFileW(place.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    SetFileHandle(file, handle);
    return true;
}

// Windows has no file without a name to give one later: the extraction writes a temporary name.
bool FolderTree::CreateUnnamed(File& /*file*/, const std::wstring& /*relative*/) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool FolderTree::LinkUnnamed(File& /*file*/, const std::wstring& /*relative*/) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool FolderTree::OpenFileRead(File& file, const std::wstring& relative) {
    FireTreeActHook(relative);
    file.Close();
    Place place(*state_, relative);
    // The name's attributes too: Wine opens what a link leads to and its handle does not say so.
    if (!IsRegularFile(place)) return false;
    HANDLE handle = ::CreateFileW(place.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    UniqueFile owned(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return false;
    }
    SetFileHandle(file, owned.release());
    return true;
}

// ReplaceFileW carries the target's attributes, security descriptor and streams over to the new
// file and keeps the previous file itself (not a copy) as the backup.
bool FolderTree::ReplaceKeepingBackup(const std::wstring& replacement, const std::wstring& target,
                                      const std::wstring& backup) {
    FireTreeActHook(replacement);
    if (MoveFaultStrikes()) {
        ::SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    Place from(*state_, replacement);
    Place to(*state_, target);
    Place aside(*state_, backup);
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (!IsRegularFile(from) || !aside.ok || KindAt(to, &attributes) != TreeKind::File) {
        ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return false;
    }
    if (!::ReplaceFileW(to.path.c_str(), from.path.c_str(), aside.path.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr)) {
        return false;
    }
    // Wine 8 keeps the security and streams but drops attributes such as hidden: set them again.
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD now = ::GetFileAttributesW(to.path.c_str());
    if (now == INVALID_FILE_ATTRIBUTES || (now & kKept) == (attributes & kKept)) return true;
    return ::SetFileAttributesW(to.path.c_str(), (now & ~kKept) | (attributes & kKept)) != FALSE;
}

void FolderTree::LetFoldersGo() {
    state_->held.clear();
}

}  // namespace platform
