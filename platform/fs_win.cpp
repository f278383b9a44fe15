// Win32 file system layer: the calls the installer is specified against, with UTF-16 paths.
#include <windows.h>

#include "platform/fs.h"
#include "platform/owner_state.h"
#include "platform/path_split.h"
#include "platform/file_state_win.h"
#include "platform/system_path_win.h"
#include "platform/fs_fault.h"
#include "platform/long_path.h"
#include "platform/win_handle.h"

namespace platform {

// Long paths go to the system in the extended-length form, so that they work on every Windows
// whatever its long-path setting; the current folder is asked only for a long relative path.
std::wstring SystemPath(const std::wstring& path) {
    if (path.size() < kLongPathFrom) return path;
    DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring current(length, L'\0');
    if (length == 0 || ::GetCurrentDirectoryW(length, &current[0]) >= length) return ToSystemPath(path, L"");
    current.resize(length - 1);
    return ToSystemPath(path, current);
}

PathKind GetPathKind(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

MakeDirResult MakeDirectory(const std::wstring& path) {
    if (::CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return MakeDirResult::Created;
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? MakeDirResult::AlreadyExists : MakeDirResult::Failed;
}

bool DeletePath(const std::wstring& path) {
    return ::DeleteFileW(SystemPath(path).c_str()) != FALSE;
}

bool ReplacePath(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool IsPathTooLong(const std::wstring& path, size_t extra) {
    return SystemPath(path).size() + extra >= 32767;
}

// The probe below opens the file for deletion, which answers for its folder too: `folderChecked`
// changes nothing here.
bool CanReplaceFile(const std::wstring& path, bool& exists, bool /*folderChecked*/, FileFacts* /*facts*/) {
    DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    exists = attributes != INVALID_FILE_ATTRIBUTES;
    // A folder above it missing too is fine: the extraction makes it (a file in its way is
    // refused by the caller's walk).
    if (!exists) return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        // What opening it for writing would report, so the caller can tell the reason.
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // A file another program holds without sharing write access cannot be replaced either, nor
    // one held without delete sharing (it can be written but not renamed aside): find out now
    // rather than after its new content has been written.
    UniqueFile probe(::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return probe.valid();
}

// Windows has no call that exchanges two names; ReplaceFileW, which keeps the target's attributes,
// security descriptor and streams, is the way there.
bool FolderCanSwap(const std::wstring& /*folder*/, uint64_t& /*device*/, bool& /*inMemory*/) {
    return false;
}

bool IsLink(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool PathExists(const std::wstring& path) {
    return ::GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveEmptyDirectory(const std::wstring& path) {
    return ::RemoveDirectoryW(SystemPath(path).c_str()) != FALSE;
}

bool GetFreeBytes(const std::wstring& path, uint64_t& bytes) {
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExW(SystemPath(path).c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

bool NamesIgnoreCase() {
    return true;
}

std::wstring ExecutablePath() {
    // Read the whole path, however long: the buffer grows until the name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768) return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

File::File() : state_(new State) {}
File::~File() = default;
File::File(File&& other) noexcept : state_(std::move(other.state_)) {}
File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        state_.swap(other.state_);
    }
    return *this;
}

bool File::OpenRead(const std::wstring& path, Share share) {
    DWORD shareMode = share == Share::All ? (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) : FILE_SHARE_READ;
    EnsureState(state_);
    state_->handle.reset(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!state_->handle.valid()) return false;
    // Only files on a disk: a name such as CON or a pipe opens a device whose reads can block.
    if (::GetFileType(state_->handle.get()) != FILE_TYPE_DISK) {
        state_->handle.reset();
        return false;
    }
    return true;
}

bool File::OpenWrite(const std::wstring& path) {
    EnsureState(state_);
    state_->handle.reset(::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return state_->handle.valid();
}

bool File::CreateNew(const std::wstring& path) {
    EnsureState(state_);
    state_->handle.reset(::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    return state_->handle.valid();
}

bool File::CreateExclusive(const std::wstring& path) {
    return CreateNew(path);
}

bool File::CreateReplacementFor(const std::wstring& target, std::wstring& tempPath) {
    static unsigned counter = 0;
    EnsureState(state_);
    size_t separator = LastPathSeparator(target);
    std::wstring directory = separator == std::wstring::npos ? std::wstring() : target.substr(0, separator + 1);
    std::wstring prefix = directory + L".pi" + std::to_wstring(::GetCurrentProcessId()) + L"-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = prefix + std::to_wstring(counter++) + L".tmp";
        state_->handle.reset(::CreateFileW(SystemPath(candidate).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (state_->handle.valid()) {
            tempPath = candidate;
            return true;
        }
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool File::IsOpen() const {
    return state_ && state_->handle.valid();
}

bool File::Read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (!IsOpen()) return false;
    char* out = static_cast<char*>(buffer);
    while (got < size) {
        DWORD chunk = static_cast<DWORD>(size - got > 0x40000000 ? 0x40000000 : size - got);
        DWORD n = 0;
        if (!::ReadFile(state_->handle.get(), out + got, chunk, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    return true;
}

bool File::Write(const void* data, size_t size) {
    if (!IsOpen() || WriteFaultStrikes()) return false;
    const char* in = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
        DWORD n = 0;
        if (!::WriteFile(state_->handle.get(), in, chunk, &n, nullptr) || n != chunk) return false;
        in += n;
        size -= n;
    }
    return true;
}

bool File::Skip(uint64_t distance) {
    if (!IsOpen() || distance > static_cast<uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(distance);
    return ::SetFilePointerEx(state_->handle.get(), move, nullptr, FILE_CURRENT) != FALSE;
}

bool File::GetSize(uint64_t& size) {
    LARGE_INTEGER value;
    if (!IsOpen() || !::GetFileSizeEx(state_->handle.get(), &value)) return false;
    size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool File::Flush() {
    return IsOpen() && ::FlushFileBuffers(state_->handle.get()) != FALSE;
}

bool File::FlushData() {
    return Flush();
}

// The Windows build never swaps (see FolderCanSwap); ReplaceFileW has its own order of writes.
bool File::StartFlush() {
    return IsOpen();
}

bool File::Close() {
    if (!state_ || !state_->handle) return true;
    return ::CloseHandle(state_->handle.release()) != FALSE;
}

struct DirectoryReader::State {
    UniqueFind find;
    WIN32_FIND_DATAW pending{};
    bool hasPending = false;
};

DirectoryReader::DirectoryReader() : state_(new State) {}
DirectoryReader::~DirectoryReader() = default;
DirectoryReader::DirectoryReader(DirectoryReader&& other) noexcept : state_(std::move(other.state_)) {}
DirectoryReader& DirectoryReader::operator=(DirectoryReader&& other) noexcept {
    if (this != &other) state_.swap(other.state_);
    return *this;
}

bool DirectoryReader::Open(const std::wstring& directory) {
    std::wstring pattern = directory;
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    EnsureState(state_);
    state_->find.reset(::FindFirstFileW(SystemPath(pattern).c_str(), &state_->pending));
    state_->hasPending = state_->find.valid();
    return state_->hasPending;
}

bool DirectoryReader::Next(DirEntry& entry) {
    if (!state_ || !state_->find) return false;
    if (!state_->hasPending) {
        if (!::FindNextFileW(state_->find.get(), &state_->pending)) return false;
    }
    state_->hasPending = false;
    const WIN32_FIND_DATAW& data = state_->pending;
    entry.name = data.cFileName;
    entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.isFile = !entry.isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    return true;
}

}  // namespace platform
