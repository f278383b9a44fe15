#pragma once
// Everything about an extraction's targets that can be known before the first byte is written:
// a target that would fail later fails here, and then nothing at all is written. The same walk
// plans the journal's records, so that the extraction notes a batch of them in one write instead
// of probing and noting file by file.
#include <array>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "install/journal.h"

// Suffixes of the install's own files beside a target: its new content while it is written, and
// its previous file until the install is complete. The run's tag and the entry's index follow, so
// that the names are free without asking the file system, and two entries of one name differ.
constexpr wchar_t kTempSuffix[] = L".pinew";
constexpr wchar_t kBackupSuffix[] = L".piold";
// The longest such suffix, tag and index included, that the path length check allows for.
constexpr size_t kLongestOwnSuffix = 32;

struct PreflightState {
    std::wstring gameFolder;
    // Eight hex digits that differ from run to run (see NewRunTag).
    std::wstring runTag;
    // Folders below the game folder already found to be plain directories, or missing and planned
    // to be made, keyed as the file system compares names.
    std::unordered_set<std::wstring> folders;
    // The folder part of the previous entry's name, whose folders are all in `folders`.
    std::wstring lastParent;
    bool haveLastParent = false;
    // The last folder holding a target found to allow the renames, so that a folder of many
    // targets is asked once.
    std::wstring renamableFolder;
    bool haveRenamableFolder = false;
    bool renamableFolderPlain = false;  // see platform::FileFacts::plainFolder
    // Targets that nothing stood at, as the file system compares names: a later entry of the same
    // name replaces the file the earlier one made.
    std::unordered_set<std::wstring> newFiles;
    // Whether the game folder's file system exchanges two names in one step, and its volume: a
    // target there is replaced by one swap instead of a backup link and a rename.
    bool canSwap = false;
    uint64_t swapDevice = 0;
    bool swapInMemory = false;
    // The planned steps, in the order they are taken; entry i's are records[firstRecord[i]] up to
    // the next entry's first.
    std::vector<JournalRecord> records;
    std::vector<size_t> firstRecord;
    uint64_t bytesToWrite = 0;
    // The files of delta entries that are missing or not the version the patch updates.
    std::vector<std::string> oldVersionDiffers;
};

// A tag for one run's own file names: random where the system provides it, mixed with the clock.
std::wstring NewRunTag();

// One entry, its name already passed by IsSafeRelativePath. False when its path (with our
// suffixes) is longer than the system allows; when a file or a directory link or other reparse
// point stands where a folder is needed below the game folder; or when the target is a directory,
// read-only, locked, or cannot be renamed or deleted (CanReplaceFile). True with the entry's
// steps planned: the missing folders above it, then either a new file, a swap of the new content
// with the existing file, or a temporary file and the replacement that keeps a backup.
bool PreflightEntry(PreflightState& state, const std::wstring& name, uint64_t size);

// A removal, its name already passed by IsSafeRelativePath: when the file at the name is the old
// version's (`oldSize` bytes with SHA-256 `oldDigest`), it is planned to be moved aside and kept as
// the backup until the install is complete; a file that is not there, or not the old version's
// (`kept` set: the gamer's own), is left as it is and nothing is planned. False when the file is
// there but cannot be moved (see CanReplaceFile) or read.
bool PreflightRemoval(PreflightState& state, const std::wstring& name, uint64_t oldSize,
                      const std::array<uint8_t, 32>& oldDigest, bool& kept);

// Whether the file at `path` is `size` bytes with SHA-256 `digest`; `foundSize` receives its size
// (-1 when there is no readable file). False when it cannot be read.
bool FileIsVersion(const std::wstring& path, uint64_t size, const std::array<uint8_t, 32>& digest, bool& same,
                   int64_t& foundSize);

// True when the game folder's volume has room for every entry's bytes and the journal.
bool PreflightSpace(const PreflightState& state, uint32_t entryCount);
