#pragma once
// `patchtool build`: a patch definition and the files it names become the installer's three data
// files. Everything the installer would reject or get wrong is refused here, item by item, before
// anything is written. The output depends only on the definition and the files' contents.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "banner/assets.h"
#include "banner/banners.h"
#include "install/payload.h"
#include "tools/patchtool/definition.h"

struct ManifestEntry {
    std::string key;
    std::string value;  // UTF-8 text; written as Base64
};

struct PayloadItem {
    std::string name;  // UTF-8, "/" separators, relative to the payload folder
    std::wstring sourcePath;
    uint64_t size = 0;
};

struct AssetItem {
    uint32_t id = 0;
    std::wstring sourcePath;
    uint64_t size = 0;
};

struct LocalBannerCopy {
    std::wstring from;
    std::wstring name;  // relative to the output folder
};

// The zstd level `patchtool build` compresses with unless --level says otherwise: high enough to
// come close to the best ratio, low enough that a game folder of 1 GiB packs in about a minute on
// two cores.
constexpr int kDefaultCompressionLevel = 15;
constexpr int kMinCompressionLevel = 1;
constexpr int kMaxCompressionLevel = 19;

// One entry as the payload writer stored it.
struct PackedEntry {
    std::string name;
    int kind = 0;  // EntryKind
    uint64_t fileSize = 0;
    uint64_t storedSize = 0;
};

struct PatchPlan {
    // What the installer will do, but not in every folder: said, not refused.
    std::vector<std::string> warnings;
    std::vector<ManifestEntry> manifest;  // in file order
    std::vector<PayloadItem> payload;     // sorted by name bytes
    std::vector<AssetItem> assets;        // in definition order
    std::vector<LocalBannerCopy> localBanners;
    // The payload with kinds (PTPAYLD2): asked for by `compress`, or by `from` (the previous
    // version's files, sorted by name bytes, against which unchanged files are left out).
    bool kinds = false;
    bool fromGiven = false;
    std::vector<PayloadItem> from;
    bool removals = false;
    int level = kDefaultCompressionLevel;
    // What the payload writer did with each entry, for the build's table; where it says which file
    // it is at (may be null).
    std::vector<PackedEntry> packed;
    std::ostream* progress = nullptr;
};

// Why the installer would reject or mishandle a payload entry name, or empty when it is fine.
std::string PayloadNameProblem(const std::string& name);

// The entry limit: empty when `count` files fit in one archive.
std::string PayloadCountProblem(size_t count);

// Windows' limits on the plain paths the installer writes, in UTF-16 units: a whole path of
// MAX_PATH less its NUL, a folder that CreateDirectoryW still takes (room left for an 8.3 name),
// one name on NTFS.
constexpr size_t kMaxWindowsPath = 259;
constexpr size_t kMaxWindowsFolderPath = 247;
constexpr size_t kMaxWindowsNameUnits = 255;
// Game folders the payload's paths are measured below, without the separator after them: the
// shortest there is ("C:"), and a typical one ("C:\Program Files (x86)\Steam\steamapps\common\"
// and a game's name of about 30 characters).
constexpr size_t kShortestGameFolder = 2;
constexpr size_t kTypicalGameFolder = 80;

// Checks the entry limit and every name; each problem names the entry. Names that one Windows
// folder cannot hold apart (letter case as Windows folds it; a file and a folder of one name) are
// problems. A path too long for Windows below any game folder is a problem, one too long below a
// typical game folder a warning.
void CheckPayload(const std::vector<PayloadItem>& items, std::vector<std::string>& problems,
                  std::vector<std::string>& warnings);

// Works out every manifest entry, payload file and asset of a definition, reading sizes and
// digests of the files it names. `outDir` is only consulted for local banners without `file`.
bool PlanPatch(const PatchDefinition& def, const std::wstring& outDir, PatchPlan& plan,
               std::vector<std::string>& problems);

// Writes patch_manifest.dat, patch_payload.dat and, when there are assets, patch_assets.dat (and
// copies local banners) into `outDir`, creating it when missing. Each file is written beside its final name and then
// put in place, so a failed build leaves no half-written data file.
bool WritePatch(PatchPlan& plan, const std::wstring& outDir, std::vector<std::string>& problems);

// LoadDefinition + PlanPatch + WritePatch; `plan` is what was (or would have been) written.
bool BuildPatch(const std::wstring& definitionPath, const std::wstring& outDir, PatchPlan& plan,
                std::vector<std::string>& problems);
inline bool BuildPatch(const std::wstring& definitionPath, const std::wstring& outDir,
                       std::vector<std::string>& problems) {
    PatchPlan plan;
    return BuildPatch(definitionPath, outDir, plan, problems);
}
