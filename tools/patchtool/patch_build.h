#pragma once
// `patchtool build`: a patch definition and the files it names become the installer's three data
// files. Everything the installer would reject or get wrong is refused here, item by item, before
// anything is written. The output depends only on the definition and the files' contents.
#include <cstdint>
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

struct PatchPlan {
    std::vector<ManifestEntry> manifest;  // in file order
    std::vector<PayloadItem> payload;     // sorted by name bytes
    std::vector<AssetItem> assets;        // in definition order
    std::vector<LocalBannerCopy> localBanners;
};

// Why the installer would reject or mishandle a payload entry name, or empty when it is fine.
std::string PayloadNameProblem(const std::string& name);

// The entry limit: empty when `count` files fit in one archive.
std::string PayloadCountProblem(size_t count);

// Checks the entry limit and every name; each problem names the entry.
void CheckPayload(const std::vector<PayloadItem>& items, std::vector<std::string>& problems);

// Works out every manifest entry, payload file and asset of a definition, reading sizes and
// digests of the files it names. `outDir` is only consulted for local banners without `file`.
bool PlanPatch(const PatchDefinition& def, const std::wstring& outDir, PatchPlan& plan,
               std::vector<std::string>& problems);

// Writes patch_manifest.dat, patch_payload.dat and, when there are assets, patch_assets.dat (and
// copies local banners) into `outDir`, creating it when missing. Each file is written beside its final name and then
// put in place, so a failed build leaves no half-written data file.
bool WritePatch(const PatchPlan& plan, const std::wstring& outDir, std::vector<std::string>& problems);

// LoadDefinition + PlanPatch + WritePatch; `plan` is what was (or would have been) written.
bool BuildPatch(const std::wstring& definitionPath, const std::wstring& outDir, PatchPlan& plan,
                std::vector<std::string>& problems);
inline bool BuildPatch(const std::wstring& definitionPath, const std::wstring& outDir,
                       std::vector<std::string>& problems) {
    PatchPlan plan;
    return BuildPatch(definitionPath, outDir, plan, problems);
}
