// Planning half of the build: definition → manifest entries, payload list, assets. Reads file sizes
// and the game file digests, checks every item, writes nothing.
#include <algorithm>
#include <set>

#include "banner/links.h"
#include "common/install_language.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/payload.h"
#include "install/verify.h"
#include "platform/fs.h"
#include "platform/path_split.h"
#include "platform/text.h"
#include "tools/patchtool/patch_build.h"

namespace {

using Problems = std::vector<std::string>;

std::wstring Wide(const std::string& utf8) {
    return Utf8ToWide(utf8);
}

std::string Narrow(const std::wstring& text) {
    return platform::ConvertWideToUtf8(text);
}

std::wstring DefPath(const PatchDefinition& def, const std::string& relative) {
    return JoinPath(def.baseDir, Wide(relative));
}

bool GetFileSize(const std::wstring& path, uint64_t& size) {
    platform::File file;
    return platform::GetPathKind(path) == platform::PathKind::File && file.OpenRead(path, platform::Share::All) &&
           file.GetSize(size);
}

std::string FileNameOf(const std::string& path) {
    size_t slash = platform::LastPathSeparator(path);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void AddValue(PatchPlan& plan, const std::string& key, const std::string& value, const std::string& item,
              Problems& problems) {
    // Base64 carries any byte, but a line break or NUL in a title, greeting or path is text the
    // installer's window and file calls cut short or show wrongly.
    if (value.find_first_of("\r\n") != std::string::npos)
        problems.push_back(item + ": holds a line break, which the installer cannot show or use");
    else if (value.find('\0') != std::string::npos)
        problems.push_back(item + ": holds a NUL character, which ends the text in the installer");
    plan.manifest.push_back({key, value});
}

// RelativePath, ExpectedHash and ExpectedSize of one record (or variant) from the author's copy.
void AddRecord(const PatchDefinition& def, const FileRecordDef& record, const std::string& suffix,
               const std::string& item, PatchPlan& plan, Problems& problems) {
    std::wstring path = DefPath(def, record.file);
    std::wstring digest;
    uint64_t size = 0;
    if (!GetFileSize(path, size) || !ComputeFileDigest(path, digest)) {
        problems.push_back(item + "file: '" + record.file + "' cannot be read");
        return;
    }
    std::string relative = record.path.empty() ? FileNameOf(record.file) : record.path;
    AddValue(plan, "RelativePath" + suffix, relative, item + "path", problems);
    AddValue(plan, "ExpectedHash" + suffix, Narrow(digest), item + "file", problems);
    AddValue(plan, "ExpectedSize" + suffix, std::to_string(size), item + "file", problems);
}

void PlanRecords(const PatchDefinition& def, PatchPlan& plan, Problems& problems) {
    const char* names[2] = {"game", "game2"};
    const char* suffixes[2] = {"", "2"};
    for (int r = 0; r < 2; ++r) {
        const GameRecordDef& record = def.records[r];
        if (!record.present) continue;
        AddRecord(def, record.base, suffixes[r], std::string(names[r]) + ".", plan, problems);
        for (const LanguageVariantDef& variant : record.variants) {
            // A variant that leaves out file or path means the record's own.
            FileRecordDef merged = variant.record;
            if (merged.file.empty()) merged.file = record.base.file;
            if (merged.path.empty())
                merged.path = record.base.path.empty() ? FileNameOf(record.base.file) : record.base.path;
            std::string code = LanguageCode(variant.language);
            AddRecord(def, merged, std::string(suffixes[r]) + "." + code, std::string(names[r]) + "." + code + ".",
                      plan, problems);
        }
    }
}

bool AddAsset(const PatchDefinition& def, int64_t id, const std::string& file, const std::string& item, PatchPlan& plan,
              Problems& problems) {
    if (id < 1 || id > 2147483647) {
        problems.push_back(item + "id " + std::to_string(id) + " is outside 1 to 2147483647");
        return false;
    }
    for (const AssetItem& asset : plan.assets) {
        if (asset.id == id) {
            problems.push_back(item + "id " + std::to_string(id) + " is used twice");
            return false;
        }
    }
    AssetItem asset;
    asset.id = static_cast<uint32_t>(id);
    asset.sourcePath = DefPath(def, file);
    if (!GetFileSize(asset.sourcePath, asset.size)) {
        problems.push_back(item + "file '" + file + "' is missing or cannot be read");
        return false;
    }
    if (asset.size > kMaxAssetSize) {
        problems.push_back(item + "file '" + file + "' is " + std::to_string(asset.size) +
                           " bytes, more than the installer's limit of " + std::to_string(kMaxAssetSize) + " (50 MiB)");
    }
    plan.assets.push_back(asset);
    return true;
}

uint32_t NextFreeAssetId(const PatchPlan& plan) {
    uint32_t id = 1;
    while (std::any_of(plan.assets.begin(), plan.assets.end(), [&](const AssetItem& a) { return a.id == id; })) ++id;
    return id;
}

// Works out the Source of an Asset or File banner; false when the banner cannot be made.
bool PlanBannerSource(const PatchDefinition& def, const BannerDef& banner, const std::wstring& outDir,
                      const std::string& item, PatchPlan& plan, std::string& source, Problems& problems) {
    source = banner.source;
    if (banner.mode == BannerMode::Url) {
        if (!banner.file.empty()) problems.push_back(item + "file: a Url banner is downloaded, it packs no file");
        if (source.empty()) problems.push_back(item + "source: missing (the address to download)");
        return !source.empty();
    }
    if (banner.mode == BannerMode::Asset) {
        if (!banner.file.empty()) {
            int64_t id = source.empty() ? NextFreeAssetId(plan) : ParseLenientInt64(Wide(source));
            if (!AddAsset(def, id, banner.file, item, plan, problems)) return false;
            source = std::to_string(id);
            return true;
        }
        int64_t id = ParseLenientInt64(Wide(source));
        bool known =
            std::any_of(plan.assets.begin(), plan.assets.end(), [&](const AssetItem& a) { return a.id == id; });
        if (!known) problems.push_back(item + "source: asset '" + source + "' is not in the asset list (give file)");
        return known;
    }
    if (source.empty()) source = FileNameOf(banner.file);
    if (source.empty()) {
        problems.push_back(item + "source: missing (the image file beside the installer)");
        return false;
    }
    if (!IsSafeRelativePath(Wide(source))) {
        problems.push_back(item + "source: '" + source + "' does not name a file inside the installer's folder");
        return false;
    }
    if (!banner.file.empty()) {
        std::wstring from = DefPath(def, banner.file);
        if (platform::GetPathKind(from) != platform::PathKind::File) {
            problems.push_back(item + "file: local banner file '" + banner.file + "' is missing");
            return false;
        }
        plan.localBanners.push_back({from, Wide(source)});
    } else if (platform::GetPathKind(JoinPath(outDir, Wide(source))) != platform::PathKind::File) {
        problems.push_back(item + "source: local banner file '" + source +
                           "' is missing beside the installer (give file to copy it there)");
        return false;
    }
    return true;
}

void PlanBanners(const PatchDefinition& def, const std::wstring& outDir, PatchPlan& plan, Problems& problems) {
    for (size_t i = 0; i < def.assets.size(); ++i)
        AddAsset(def, def.assets[i].id, def.assets[i].file, "asset " + std::to_string(i + 1) + ": ", plan, problems);
    if (def.banners.size() > static_cast<size_t>(kMaxBanners)) {
        problems.push_back("banner: " + std::to_string(def.banners.size()) + " banners, the installer shows at most " +
                           std::to_string(kMaxBanners));
        return;
    }
    if (!def.banners.empty()) AddValue(plan, "BannerCount", std::to_string(def.banners.size()), "banner", problems);
    static const char* const kModeNames[] = {"Url", "Asset", "File"};
    for (size_t i = 0; i < def.banners.size(); ++i) {
        const BannerDef& banner = def.banners[i];
        std::string number = std::to_string(i + 1);
        std::string item = "banner " + number + ": ";
        std::string source;
        PlanBannerSource(def, banner, outDir, item, plan, source, problems);
        std::string prefix = "Banner" + number;
        AddValue(plan, prefix + ".Mode", kModeNames[static_cast<int>(banner.mode)], item + "mode", problems);
        AddValue(plan, prefix + ".Source", source, item + "source", problems);
        if (!banner.link.empty()) AddValue(plan, prefix + ".Link", banner.link, item + "link", problems);
        if (!banner.link.empty() && !IsOpenableLink(Utf8ToWide(banner.link)))
            problems.push_back(item + "link '" + banner.link +
                               "' is not an http:// or https:// address; the installer would never open it");
    }
    if (plan.assets.size() > kMaxAssetCount)
        problems.push_back("asset: " + std::to_string(plan.assets.size()) + " assets, the installer reads at most 32");
}

// Every file below `dir`, depth first; directory links are refused rather than followed, so a
// link cannot pull a loop or files from elsewhere into the payload.
void CollectFiles(const std::wstring& dir, const std::string& prefix, std::vector<PayloadItem>& items,
                  Problems& problems) {
    platform::DirectoryReader reader;
    if (!reader.Open(dir)) {
        problems.push_back("payload: folder '" + (prefix.empty() ? Narrow(dir) : prefix) + "' cannot be read");
        return;
    }
    platform::DirEntry entry;
    while (reader.Next(entry)) {
        if (entry.name == L"." || entry.name == L"..") continue;
        std::string name = prefix + Narrow(entry.name);
        std::wstring path = JoinPath(dir, entry.name);
        if (entry.isDirectory && entry.isLink) {
            problems.push_back("payload: '" + name + "' is a link to a folder; the payload holds only files");
        } else if (entry.isDirectory) {
            CollectFiles(path, name + "/", items, problems);
        } else if (!entry.isFile) {
            problems.push_back("payload: '" + name + "' is not a regular file (a FIFO, device, socket or broken link)");
        } else {
            PayloadItem item;
            item.name = name;
            item.sourcePath = path;
            if (!GetFileSize(path, item.size)) problems.push_back("payload: '" + name + "' cannot be read");
            items.push_back(item);
        }
    }
}

}  // namespace

bool PlanPatch(const PatchDefinition& def, const std::wstring& outDir, PatchPlan& plan, Problems& problems) {
    size_t before = problems.size();
    // Chosen by the caller, not by the definition.
    const int level = plan.level;
    std::ostream* progress = plan.progress;
    plan = PatchPlan();
    plan.level = level;
    plan.progress = progress;
    AddValue(plan, "LanguageIndex", std::to_string(def.language), "language", problems);
    if (!def.title.empty()) AddValue(plan, "WindowTitle", def.title, "title", problems);
    if (def.greetingAll) AddValue(plan, "Greeting", *def.greetingAll, "greeting.all", problems);
    for (int language = 0; language < kLanguageCount; ++language) {
        if (!def.greetings[language]) continue;
        std::string code = LanguageCode(language);
        AddValue(plan, GreetingKey(language), *def.greetings[language], "greeting." + code, problems);
    }
    PlanRecords(def, plan, problems);
    PlanBanners(def, outDir, plan, problems);
    std::wstring payloadDir = DefPath(def, def.payload);
    if (platform::GetPathKind(payloadDir) != platform::PathKind::Directory) {
        problems.push_back("payload: folder '" + def.payload + "' is missing");
    } else {
        CollectFiles(payloadDir, "", plan.payload, problems);
        std::sort(plan.payload.begin(), plan.payload.end(),
                  [](const PayloadItem& a, const PayloadItem& b) { return a.name < b.name; });
        CheckPayload(plan.payload, problems, plan.warnings);
    }
    plan.kinds = def.compress || !def.from.empty();
    plan.removals = def.removals;
    if (!def.from.empty()) {
        plan.fromGiven = true;
        std::wstring fromDir = DefPath(def, def.from);
        if (platform::GetPathKind(fromDir) != platform::PathKind::Directory) {
            problems.push_back("from: folder '" + def.from + "' is missing");
        } else {
            CollectFiles(fromDir, "", plan.from, problems);
            std::sort(plan.from.begin(), plan.from.end(),
                      [](const PayloadItem& a, const PayloadItem& b) { return a.name < b.name; });
        }
    }
    return problems.size() == before;
}
