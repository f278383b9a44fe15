#include "install/preflight.h"

#include "common/paths.h"
#include "platform/fs.h"

namespace {

// A folder on the way to a target must be a plain directory or not there yet (then made by the
// extraction); a link there could lead the write anywhere on the system.
bool IsPlainOrMissingFolder(const std::wstring& path) {
    if (platform::IsLink(path)) return false;
    return platform::GetPathKind(path) != platform::PathKind::File;
}

}  // namespace

bool PreflightEntry(PreflightState& state, const std::wstring& name, uint64_t size) {
    std::wstring target = JoinPath(state.gameFolder, name);
    if (platform::IsPathTooLong(target + std::wstring(kLongestOwnSuffix, L'x'))) return false;
    for (size_t at = name.find_first_of(L"\\/"); at != std::wstring::npos; at = name.find_first_of(L"\\/", at + 1)) {
        std::wstring folder = name.substr(0, at);
        if (state.checkedFolders.count(folder)) continue;
        if (!IsPlainOrMissingFolder(JoinPath(state.gameFolder, folder))) return false;
        state.checkedFolders.insert(std::move(folder));
    }
    bool exists = false;
    if (!platform::CanReplaceFile(target, exists)) return false;
    state.bytesToWrite += size;
    return true;
}

bool PreflightSpace(const PreflightState& state, uint32_t entryCount) {
    uint64_t available = 0;
    if (!platform::GetFreeBytes(state.gameFolder, available)) return false;
    // The journal's records, and a block per file that the file system rounds each one up to.
    uint64_t overhead = static_cast<uint64_t>(entryCount) * (4096 + 256);
    return available >= state.bytesToWrite + overhead;
}
