// Owned files on Windows: FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of what it leads
// to, and the opened handle (its attributes, its count of names, its owner) is checked before any
// byte changes. Wine 8 shows a Unix link to a file as the file it leads to, so there only the
// count of names and the owner can refuse.
#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "platform/fs_fault.h"
#include "platform/owned_file.h"
#include "platform/owner_state.h"
#include "platform/system_path_win.h"
#include "platform/win_handle.h"

namespace platform {
namespace {

bool QueryToken(TOKEN_INFORMATION_CLASS kind, std::vector<BYTE>& buffer) {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    ::GetTokenInformation(token.get(), kind, nullptr, 0, &size);
    if (size == 0) return false;
    buffer.resize(size);
    return ::GetTokenInformation(token.get(), kind, buffer.data(), size, &size) != FALSE;
}

// An elevated administrator's new files belong to the Administrators group, not to the user: the
// token's default owner counts as ours too.
bool OwnedByUs(HANDLE file) {
    PSID owner = nullptr;
    UniqueLocalMemory descriptor;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS ||
        !owner) {
        return false;
    }
    std::vector<BYTE> user, defaultOwner;
    if (QueryToken(TokenUser, user) && ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid))
        return true;
    return QueryToken(TokenOwner, defaultOwner) &&
           ::EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner);
}

bool PlainlyOurs(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info)) return false;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        info.nNumberOfLinks != 1 || !OwnedByUs(file)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// A security descriptor whose access list is protected from inheritance and grants the token's
// user alone; the buffers live as long as the object.
struct PrivateAccess {
    std::vector<BYTE> user;
    std::vector<BYTE> acl;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;

    bool Build() {
        if (!QueryToken(TokenUser, user)) return false;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        acl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
        PACL list = reinterpret_cast<PACL>(acl.data());
        attributes = {sizeof attributes, &descriptor, FALSE};
        return ::InitializeAcl(list, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
               ::AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
               ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               ::SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
               ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
};

}  // namespace

struct OwnedFile::State {
    UniqueFile handle;
};

OwnedFile::OwnedFile() : state_(new State) {}
OwnedFile::~OwnedFile() = default;
OwnedFile::OwnedFile(OwnedFile&& other) noexcept : state_(std::move(other.state_)) {}
OwnedFile& OwnedFile::operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
        Close();
        state_.swap(other.state_);
    }
    return *this;
}

bool OwnedFile::OpenForUpdate(const std::wstring& path) {
    EnsureState(state_);
    // READ_CONTROL so that the owner can be read through the same handle.
    UniqueFile file(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                                  FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid() || !PlainlyOurs(file.get())) return false;
    state_->handle = std::move(file);
    return true;
}

bool OwnedFile::CreateNew(const std::wstring& path, bool ownerOnly) {
    EnsureState(state_);
    PrivateAccess access;
    if (ownerOnly && !access.Build()) return false;
    state_->handle.reset(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                       ownerOnly ? &access.attributes : nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return state_->handle.valid();
}

bool OwnedFile::IsOpen() const {
    return state_ && state_->handle.valid();
}

bool OwnedFile::Read(void* buffer, size_t size, size_t& got) {
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

bool OwnedFile::Skip(uint64_t distance) {
    if (!IsOpen() || distance > static_cast<uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(distance);
    return ::SetFilePointerEx(state_->handle.get(), move, nullptr, FILE_CURRENT) != FALSE;
}

bool OwnedFile::GetSize(uint64_t& size) {
    LARGE_INTEGER value;
    if (!IsOpen() || !::GetFileSizeEx(state_->handle.get(), &value)) return false;
    size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool OwnedFile::Truncate() {
    LARGE_INTEGER start{};
    return IsOpen() && ::SetFilePointerEx(state_->handle.get(), start, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(state_->handle.get());
}

bool OwnedFile::Write(const void* data, size_t size) {
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

bool OwnedFile::Flush() {
    return IsOpen() && ::FlushFileBuffers(state_->handle.get()) != FALSE;
}

bool OwnedFile::Close() {
    if (!state_ || !state_->handle) return true;
    return ::CloseHandle(state_->handle.release()) != FALSE;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails on any existing name; a rename within one volume
// keeps the file's own access list.
bool RenameNoReplace(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace platform
