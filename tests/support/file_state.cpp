#include "support/file_state.h"

#include <filesystem>

#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>

#include <vector>

namespace test {

uint64_t FileStateBits(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool MarkSpecial(const std::wstring& path) {
    return ::SetFileAttributesW(path.c_str(), ::GetFileAttributesW(path.c_str()) | FILE_ATTRIBUTE_HIDDEN) != FALSE;
}

bool SetReadOnly(const std::wstring& path, bool readOnly) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    attributes = readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
    return ::SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

std::shared_ptr<void> HoldOpenLikeAGame(const std::wstring& path) {
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::shared_ptr<void>(handle, [](void* h) { ::CloseHandle(h); });
}

bool MakeDirectoryLink(const std::wstring& target, const std::wstring& link) {
    // 2: SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, for Windows without administrator rights.
    return ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | 2) != FALSE;
}

bool OnlyOwnerMayRead(const std::wstring& path) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    HANDLE token = nullptr;
    std::vector<BYTE> user(256);
    DWORD size = 0;
    bool ok = acl != nullptr && ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
              ::GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size);
    if (token) ::CloseHandle(token);
    PSID self = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    for (DWORD i = 0; ok && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ok = ::GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE;
        PSID sid = ok ? reinterpret_cast<PSID>(&ace->SidStart) : nullptr;
        ok = ok && (::EqualSid(sid, self) || ::IsWellKnownSid(sid, WinLocalSystemSid));
    }
    ::LocalFree(descriptor);
    return ok;
}

// Setting another owner takes SeRestorePrivilege, which a test does not hold.
bool GiveToAnotherUser(const std::wstring&) { return false; }

}  // namespace test

#else
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix_path.h"

namespace test {

uint64_t FileStateBits(const std::wstring& path) {
    struct stat st;
    if (::lstat(platform::NativePath(path).c_str(), &st) != 0) return ~0ull;
    return static_cast<uint64_t>(st.st_mode) | static_cast<uint64_t>(st.st_uid) << 32;
}

bool MarkSpecial(const std::wstring& path) {
    std::error_code ec;
    std::filesystem::permissions(FsPath(path), std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec,
                                 std::filesystem::perm_options::add, ec);
    return !ec;
}

bool SetReadOnly(const std::wstring& path, bool readOnly) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(FsPath(path), readOnly ? write : fs::perms::owner_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
    return !ec;
}

std::shared_ptr<void> HoldOpenLikeAGame(const std::wstring&) { return nullptr; }

bool MakeDirectoryLink(const std::wstring& target, const std::wstring& link) {
    std::error_code ec;
    std::filesystem::create_directory_symlink(FsPath(target), FsPath(link), ec);
    return !ec;
}

bool OnlyOwnerMayRead(const std::wstring& path) {
    struct stat st;
    return ::lstat(platform::NativePath(path).c_str(), &st) == 0 && (st.st_mode & 077) == 0;
}

bool GiveToAnotherUser(const std::wstring& path) {
    constexpr uid_t kNobody = 65534;
    return ::geteuid() == 0 && ::lchown(platform::NativePath(path).c_str(), kNobody, kNobody) == 0;
}

}  // namespace test
#endif
