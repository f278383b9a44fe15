#include "install/preflight.h"

#include <chrono>
#include <memory>
#include <cstdio>
#include <random>

#include "common/paths.h"
#include "platform/digest.h"
#include "platform/fs.h"

namespace {

// A folder on the way to a target must be a plain directory or not there yet (then made by the
// extraction); a link there could lead the write anywhere on the system.
bool IsPlainOrMissingFolder(const std::wstring& path, bool& missing) {
    if (platform::IsLink(path)) return false;
    platform::PathKind kind = platform::GetPathKind(path);
    missing = kind == platform::PathKind::Missing;
    return kind != platform::PathKind::File;
}

// The name as the file system tells names apart: "Data" and "data" are one folder on Windows.
std::wstring NameKey(const std::wstring& name) {
    static const bool kIgnoreCase = platform::NamesIgnoreCase();
    if (!kIgnoreCase) return name;
    std::wstring key = name;
    for (wchar_t& c : key) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return key;
}

}  // namespace

std::wstring NewRunTag() {
    uint32_t value = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device device;
        value ^= device();
    } catch (...) {
        // The clock alone still differs between runs; a taken name fails the create, never overwrites.
    }
    wchar_t text[9];
    std::swprintf(text, 9, L"%08x", value);
    return text;
}

namespace {

// The name of one of the install's own files beside `name`: the suffix, the run's tag, the entry.
std::wstring OwnName(const std::wstring& name, const wchar_t* suffix, const std::wstring& runTag, uint32_t index) {
    wchar_t digits[11];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + index % 10);
        index /= 10;
    } while (index != 0);
    std::wstring own;
    own.reserve(name.size() + kLongestOwnSuffix);
    own += name;
    own += suffix;
    own += runTag;
    own += L'-';
    while (count > 0) own += digits[--count];
    return own;
}

// True when `name`'s folder part (its first `length` characters) is `folder`.
bool InFolder(const std::wstring& name, size_t length, const std::wstring& folder) {
    return length == folder.size() && name.compare(0, length, folder) == 0;
}

}  // namespace

bool PreflightEntry(PreflightState& state, const std::wstring& name, uint64_t size) {
    std::wstring target = JoinPath(state.gameFolder, name);
    if (platform::IsPathTooLong(target, kLongestOwnSuffix)) return false;
    uint32_t index = static_cast<uint32_t>(state.firstRecord.size());
    state.firstRecord.push_back(state.records.size());
    size_t parentEnd = name.find_last_of(L"\\/");
    if (parentEnd == std::wstring::npos) parentEnd = 0;
    // Most entries share the previous one's folder, whose folders are known already.
    if (!state.haveLastParent || !InFolder(name, parentEnd, state.lastParent)) {
        for (size_t at = name.find_first_of(L"\\/"); at != std::wstring::npos && at <= parentEnd;
             at = name.find_first_of(L"\\/", at + 1)) {
            std::wstring folder = name.substr(0, at);
            if (state.folders.count(NameKey(folder))) continue;
            bool missing = false;
            if (!IsPlainOrMissingFolder(JoinPath(state.gameFolder, folder), missing)) return false;
            if (missing) state.records.push_back(JournalRecord{JournalStep::MadeFolder, folder, std::wstring()});
            state.folders.insert(NameKey(folder));
        }
        state.lastParent.assign(name, 0, parentEnd);
        state.haveLastParent = true;
    }
    bool exists = false;
    bool folderKnown = state.haveRenamableFolder && InFolder(name, parentEnd, state.renamableFolder);
    platform::FileFacts facts;
    facts.plainFolder = folderKnown && state.renamableFolderPlain;
    if (!platform::CanReplaceFile(target, exists, folderKnown, &facts)) return false;
    if (exists && !folderKnown) {
        state.renamableFolder.assign(name, 0, parentEnd);
        state.haveRenamableFolder = true;
        state.renamableFolderPlain = facts.plainFolder;
    }
    if (!exists && state.newFiles.insert(NameKey(name)).second) {
        // Written beside its name and moved there once whole and checked, as a replaced file is.
        state.records.push_back(
            JournalRecord{JournalStep::TempFile, OwnName(name, kTempSuffix, state.runTag, index), std::wstring()});
        state.records.push_back(JournalRecord{JournalStep::NewFile, name, std::wstring()});
    } else if (exists && facts.swappable && state.canSwap && facts.device == state.swapDevice) {
        facts.inMemory = state.swapInMemory;
        // A later entry of the same name swaps with the earlier one's file; the undo, last first,
        // still ends at the file found here.
        state.records.push_back(
            JournalRecord{JournalStep::Swap, name, OwnName(name, kBackupSuffix, state.runTag, index), facts});
    } else {
        state.records.push_back(
            JournalRecord{JournalStep::TempFile, OwnName(name, kTempSuffix, state.runTag, index), std::wstring()});
        state.records.push_back(
            JournalRecord{JournalStep::Replace, name, OwnName(name, kBackupSuffix, state.runTag, index)});
    }
    state.bytesToWrite += size;
    return true;
}

bool FileIsVersion(const std::wstring& path, uint64_t size, const std::array<uint8_t, 32>& digest, bool& same,
                   int64_t& foundSize) {
    same = false;
    foundSize = -1;
    platform::File file;
    uint64_t found = 0;
    if (!file.OpenRead(path, platform::Share::ReadOnly) || !file.GetSize(found)) return false;
    foundSize = static_cast<int64_t>(found);
    // The size first: a file of another size is another version without reading a byte of it.
    if (found != size) return true;
    platform::Sha256 sha;
    std::unique_ptr<char[]> buffer(new char[65536]);
    if (!sha.Begin()) return false;
    for (;;) {
        size_t got = 0;
        if (!file.Read(buffer.get(), 65536, got)) return false;
        if (got == 0) break;
        if (!sha.Update(buffer.get(), got)) return false;
    }
    platform::Sha256Digest actual{};
    if (!sha.Finish(actual)) return false;
    same = actual == digest;
    return true;
}

bool PreflightRemoval(PreflightState& state, const std::wstring& name, uint64_t oldSize,
                      const std::array<uint8_t, 32>& oldDigest, bool& kept) {
    kept = false;
    uint32_t index = static_cast<uint32_t>(state.firstRecord.size());
    state.firstRecord.push_back(state.records.size());
    std::wstring target = JoinPath(state.gameFolder, name);
    if (platform::IsPathTooLong(target, kLongestOwnSuffix)) return false;
    bool exists = false;
    if (!platform::CanReplaceFile(target, exists)) return false;
    if (!exists) return true;
    bool same = false;
    int64_t foundSize = -1;
    if (!FileIsVersion(target, oldSize, oldDigest, same, foundSize)) return false;
    kept = !same;
    if (same) {
        state.records.push_back(
            JournalRecord{JournalStep::Replace, name, OwnName(name, kBackupSuffix, state.runTag, index)});
    }
    return true;
}

bool PreflightSpace(const PreflightState& state, uint32_t entryCount) {
    uint64_t available = 0;
    if (!platform::GetFreeBytes(state.gameFolder, available)) return false;
    // The journal's records, and a block per file that the file system rounds each one up to.
    uint64_t overhead = static_cast<uint64_t>(entryCount) * (4096 + 256);
    return available >= state.bytesToWrite + overhead;
}
