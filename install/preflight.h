#pragma once
// Everything about an extraction's targets that can be known before the first byte is written:
// a target that would fail later fails here, and then nothing at all is written.
#include <cstdint>
#include <string>
#include <unordered_set>

// Suffixes of the install's own files beside a target: its new content while it is written, and
// its previous file until the install is complete. A number follows when the name is taken.
constexpr wchar_t kTempSuffix[] = L".pinew";
constexpr wchar_t kBackupSuffix[] = L".piold";
// The longest such suffix, number included, that the path length check allows for.
constexpr size_t kLongestOwnSuffix = 16;

struct PreflightState {
    std::wstring gameFolder;
    // Folders below the game folder already found to be plain directories (or missing).
    std::unordered_set<std::wstring> checkedFolders;
    uint64_t bytesToWrite = 0;
};

// One entry, its name already passed by IsSafeRelativePath. False when its path (with our
// suffixes) is longer than the system allows; when a file or a directory link or other reparse
// point stands where a folder is needed below the game folder; or when the target is a directory,
// read-only, locked, or cannot be renamed or deleted (CanReplaceFile).
bool PreflightEntry(PreflightState& state, const std::wstring& name, uint64_t size);

// True when the game folder's volume has room for every entry's bytes and the journal.
bool PreflightSpace(const PreflightState& state, uint32_t entryCount);
