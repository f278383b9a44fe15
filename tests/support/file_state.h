#pragma once
// What a replaced game file must keep besides its bytes, and a game holding its files open.
#include <cstdint>
#include <memory>
#include <string>

namespace test {

// Windows: the file attributes (hidden, read-only, ...). POSIX: the mode bits and the owner.
uint64_t FileStateBits(const std::wstring& path);

// Makes a file special in the way a game file may be: hidden on Windows, executable natively.
bool MarkSpecial(const std::wstring& path);

// Read-only attribute (Windows) or no write permission (POSIX) on or off.
bool SetReadOnly(const std::wstring& path, bool readOnly);

// Opens a file as a running game holds its data: others may read and write, not delete or rename.
// Windows only; natively there is no such lock and the result is null.
std::shared_ptr<void> HoldOpenLikeAGame(const std::wstring& path);

// Makes `link` a directory symbolic link to `target`: CreateSymbolicLinkW on Windows (under Wine a
// Unix symbolic link, seen as a reparse point), symlink(2) natively.
bool MakeDirectoryLink(const std::wstring& target, const std::wstring& link);

// True when no one but the file's owner may read it: natively no group or other permission bits;
// Windows an access list that allows only the current user (and SYSTEM, which Wine always lists).
bool OnlyOwnerMayRead(const std::wstring& path);

// Gives the file to another user, as a file planted by another account would be: natively when
// running as root (lchown, a link not followed); false where this process cannot.
bool GiveToAnotherUser(const std::wstring& path);

}  // namespace test
