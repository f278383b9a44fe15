#pragma once
// `patchtool inspect`: what the installer will read from a patch folder, decoded, and what it
// would silently get wrong.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct ManifestLineInfo {
    size_t line = 0;          // 1-based line number in the file
    std::string key;          // exact bytes
    std::string rawValue;     // the Base64 text as written
    std::wstring value;       // what the installer's reader makes of it
    std::string language;     // language code when the key is a per-language variant, else empty
    bool overridden = false;  // a later line with the same key replaces this one
};

struct PayloadView {
    std::string name;     // UTF-8 as stored
    uint64_t size = 0;    // of the file it makes (a removal: of the file it removes)
    int kind = 0;         // EntryKind
    uint64_t stored = 0;  // bytes the archive holds for it
};

struct AssetView {
    uint32_t id = 0;
    uint64_t size = 0;
    std::string type;  // empty when not recognised
    uint32_t width = 0;
    uint32_t height = 0;
};

struct InspectReport {
    bool hasManifest = false;
    bool hasPayload = false;
    bool payloadKinds = false;  // the layout whose entries have kinds
    bool hasAssets = false;
    bool assetsListed = false;               // the asset archive was read (fully or up to a fault)
    std::vector<ManifestLineInfo> manifest;  // file order
    std::vector<PayloadView> payload;
    std::vector<AssetView> assets;
    std::vector<std::string> warnings;
};

// Reads the three data files in `folder` with the installer's own readers. False only when no
// manifest can be read at all.
bool InspectPatch(const std::wstring& folder, InspectReport& report);

void PrintInspectReport(const InspectReport& report, std::ostream& out);
