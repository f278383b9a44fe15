#include "tools/patchtool/patch_inspect.h"

#include <algorithm>
#include <map>

#include "banner/assets.h"
#include "banner/links.h"
#include "common/install_language.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/payload.h"
#include "manifest/manifest.h"
#include "platform/base64.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "tools/patchtool/image_info.h"
#include "tools/patchtool/patch_build.h"

namespace {

using Warnings = std::vector<std::string>;

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    platform::File file;
    if (!file.OpenRead(path, platform::Share::All)) return false;
    char buffer[65536];
    for (;;) {
        size_t got = 0;
        if (!file.Read(buffer, sizeof buffer, got)) return false;
        bytes.append(buffer, got);
        if (got < sizeof buffer) return true;
    }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The key without a trailing ".<code>", and that code; the key itself when it has none.
std::string SplitLanguage(const std::string& key, std::string& code) {
    for (int language = 0; language < kLanguageCount; ++language) {
        std::string suffix = std::string(".") + LanguageCode(language);
        if (key.size() > suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
            code = LanguageCode(language);
            return key.substr(0, key.size() - suffix.size());
        }
    }
    code.clear();
    return key;
}

bool IsKnownKey(const std::string& key) {
    static const char* const kPlain[] = {"LanguageIndex", "WindowTitle", "Greeting", "BannerCount"};
    static const char* const kRecord[] = {"RelativePath", "ExpectedHash", "ExpectedSize"};
    std::string code;
    std::string base = SplitLanguage(key, code);
    for (const char* name : kPlain)
        if (key == name) return true;
    if (base == "Greeting" && !code.empty()) return true;
    for (const char* name : kRecord)
        if (base == name || base == std::string(name) + "2") return true;
    for (int n = 1; n <= 3; ++n)
        for (const char* field : {".Mode", ".Source", ".Link"})
            if (key == "Banner" + std::to_string(n) + field) return true;
    return false;
}

// Runs each line through the installer's own parser, one line at a time, so the key, the decoded
// value and the skipping rules are exactly the installer's; only the raw Base64 is sliced here.
void ReadManifestLines(const std::string& bytes, InspectReport& report) {
    std::map<std::string, size_t> lastIndex;
    size_t start = 0, lineNumber = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        std::string line = bytes.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        start = lf == std::string::npos ? bytes.size() : lf + 1;
        ++lineNumber;
        PatchManifest one;
        ManifestParser parser(one);
        parser.Feed(line.data(), line.size());
        parser.Finish();
        if (one.empty()) continue;
        ManifestLineInfo info;
        info.line = lineNumber;
        info.key = one.begin()->first;
        info.value = one.begin()->second;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        info.rawValue = line.substr(info.key.size() + 1);
        std::string base = SplitLanguage(info.key, info.language);
        if (base == info.key || !IsKnownKey(info.key)) info.language.clear();
        auto previous = lastIndex.find(info.key);
        if (previous != lastIndex.end()) report.manifest[previous->second].overridden = true;
        lastIndex[info.key] = report.manifest.size();
        report.manifest.push_back(info);
    }
}

void CheckManifestLine(const ManifestLineInfo& info, Warnings& warnings) {
    std::string where = "manifest line " + std::to_string(info.line) + ", key '" + info.key + "': ";
    if (StartsWith(info.key, "\xEF\xBB\xBF"))
        warnings.push_back(where + "begins with a byte-order mark; the installer's lookups never find it");
    if (info.key.find_first_of(" \t") != std::string::npos)
        warnings.push_back(where + "holds blanks or tabs; the installer's lookups never find it");
    else if (!IsKnownKey(info.key))
        warnings.push_back(where + "is not a key the installer reads");
    std::string decoded;
    if (!info.rawValue.empty() && !platform::DecodeBase64(info.rawValue.c_str(), decoded)) {
        warnings.push_back(where + "value is not Base64; the installer reads it as empty");
    } else if (platform::ConvertWideToUtf8(Utf8ToWide(decoded)) != decoded) {
        warnings.push_back(where + "value is not UTF-8 text; the installer shows replacement characters");
    }
    if (info.overridden) warnings.push_back(where + "appears again later; the later value wins");
}

std::wstring Lookup(const InspectReport& report, const std::string& key) {
    std::wstring value;
    for (const ManifestLineInfo& info : report.manifest)
        if (info.key == key) value = info.value;
    return value;
}

void CheckBanners(const std::wstring& folder, InspectReport& report) {
    std::wstring countText = Lookup(report, "BannerCount");
    int32_t written = countText.empty() ? 0 : ParseLenientInt32(countText);
    int32_t count = std::min(std::max(written, 0), 3);
    int defined = 0;
    for (const ManifestLineInfo& info : report.manifest) {
        for (int n = 1; n <= 9; ++n)
            if (StartsWith(info.key, "Banner" + std::to_string(n) + ".")) defined = std::max(defined, n);
    }
    if (written != defined) {
        std::string shown = countText.empty() ? std::string("missing") : platform::ConvertWideToUtf8(countText);
        report.warnings.push_back("BannerCount is " + shown + " (the installer reads " + std::to_string(count) +
                                  ") but banners 1 to " + std::to_string(defined) + " are defined");
    }
    for (int n = 1; n <= count; ++n) {
        std::string prefix = "Banner" + std::to_string(n);
        std::wstring mode = Lookup(report, prefix + ".Mode");
        std::wstring source = Lookup(report, prefix + ".Source");
        std::wstring link = Lookup(report, prefix + ".Link");
        if (!link.empty() && !IsOpenableLink(link))
            report.warnings.push_back(prefix + ": link '" + platform::ConvertWideToUtf8(link) +
                                      "' is not an http:// or https:// address; the installer does not open it");
        if (source.empty()) {
            report.warnings.push_back(prefix + ": no Source; the installer skips this banner");
        } else if (EqualsIgnoreAsciiCase(mode, L"Asset")) {
            if (!report.assetsListed) continue;
            int32_t id = ParseLenientInt32(source);
            bool found = std::any_of(report.assets.begin(), report.assets.end(),
                                     [&](const AssetView& a) { return static_cast<int64_t>(a.id) == id && id > 0; });
            if (!found)
                report.warnings.push_back(prefix + ": asset " + std::to_string(id) + " is not in the asset archive");
        } else if (!EqualsIgnoreAsciiCase(mode, L"Url") &&
                   platform::GetPathKind(JoinPath(folder, source)) != platform::PathKind::File) {
            report.warnings.push_back(prefix + ": local banner file '" + platform::ConvertWideToUtf8(source) +
                                      "' is missing beside the installer");
        }
    }
}

void CheckRecords(InspectReport& report) {
    for (const char* suffix : {"", "2"}) {
        bool any = false, all = true;
        for (const char* key : {"RelativePath", "ExpectedHash", "ExpectedSize"}) {
            bool has = !Lookup(report, std::string(key) + suffix).empty();
            any = any || has;
            all = all && has;
        }
        if (any && !all)
            report.warnings.push_back(std::string("file record") + (*suffix ? " 2" : "") +
                                      ": RelativePath, ExpectedHash and ExpectedSize are not all set; it cannot match");
    }
    if (Lookup(report, "RelativePath").empty() && Lookup(report, "RelativePath2").empty())
        report.warnings.push_back("no file record: the installer accepts no game folder");
}

void ReadPayload(const std::wstring& folder, InspectReport& report) {
    std::vector<PayloadEntry> entries;
    std::wstring path = JoinPath(folder, kPayloadFileName);
    report.hasPayload = platform::GetPathKind(path) == platform::PathKind::File;
    if (!report.hasPayload) {
        report.warnings.push_back("patch_payload.dat is missing; the installer refuses to install");
        return;
    }
    bool whole = ListPayload(path, entries);
    PayloadReader layout;
    report.payloadKinds = layout.Open(path) && layout.hasKinds();
    for (const PayloadEntry& entry : entries) {
        report.payload.push_back({entry.rawName, entry.kind == EntryKind::Removal ? entry.oldSize : entry.fileSize,
                                  static_cast<int>(entry.kind), entry.dataSize});
        // Names the reader passed are safe; what is left is what Windows itself refuses.
        std::string slashed = entry.rawName;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        if (std::string problem = PayloadNameProblem(slashed); !problem.empty())
            report.warnings.push_back("payload entry '" + entry.rawName + "': " + problem);
    }
    if (!whole) {
        // The installer's reader stops at the entry it refuses; so does extraction.
        std::string after = entries.empty() ? std::string("the header") : "'" + entries.back().rawName + "'";
        report.warnings.push_back("payload entry " + std::to_string(entries.size() + 1) + " (after " + after +
                                  "): unsafe name or damaged archive; the installer's extraction stops there");
    }
}

void ReadAssets(const std::wstring& folder, InspectReport& report) {
    std::wstring path = JoinPath(folder, kAssetArchiveName);
    report.hasAssets = platform::GetPathKind(path) == platform::PathKind::File;
    report.assetsListed = !report.hasAssets;  // no archive: certainly no assets
    if (!report.hasAssets) return;
    std::vector<AssetInfo> assets;
    bool whole = ListAssets(path, assets);
    report.assetsListed = true;
    for (const AssetInfo& asset : assets) {
        AssetView view;
        view.id = asset.id;
        view.size = asset.size;
        platform::File file;
        std::string head(static_cast<size_t>(std::min<uint64_t>(asset.size, 65536)), '\0');
        size_t got = 0;
        if (file.OpenRead(path, platform::Share::All) && file.Skip(asset.offset) &&
            file.Read(&head[0], head.size(), got)) {
            head.resize(got);
            ImageInfo image = SniffImage(head);
            view.type = image.type;
            view.width = image.width;
            view.height = image.height;
        }
        report.assets.push_back(view);
    }
    if (!whole) report.warnings.push_back("patch_assets.dat is damaged after the assets listed");
}

}  // namespace

bool InspectPatch(const std::wstring& folder, InspectReport& report) {
    report = InspectReport();
    std::string bytes;
    report.hasManifest = ReadWholeFile(JoinPath(folder, kManifestFileName), bytes);
    if (!report.hasManifest) return false;
    ReadManifestLines(bytes, report);
    for (const ManifestLineInfo& info : report.manifest) CheckManifestLine(info, report.warnings);
    CheckRecords(report);
    ReadPayload(folder, report);
    ReadAssets(folder, report);
    CheckBanners(folder, report);
    return true;
}

namespace {

// Text for one output line: control characters shown as escapes so a value cannot break the layout.
std::string Printable(const std::string& utf8) {
    std::string out;
    for (unsigned char c : utf8) {
        if (c >= 0x20 && c != 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

}  // namespace

void PrintInspectReport(const InspectReport& report, std::ostream& out) {
    out << "patch_manifest.dat: " << report.manifest.size() << " entries\n";
    for (const ManifestLineInfo& info : report.manifest) {
        out << "  " << Printable(info.key);
        if (!info.language.empty()) out << "  [" << info.language << " variant]";
        out << " = " << Printable(platform::ConvertWideToUtf8(info.value));
        if (info.key == "LanguageIndex") {
            int32_t index = ParseLenientInt32(info.value);
            out << "  (" << LanguageCode(index) << ")";
        }
        if (info.overridden) out << "  (replaced by a later line)";
        out << "\n";
    }
    uint64_t total = 0;
    for (const PayloadView& entry : report.payload) total += entry.size;
    if (report.hasPayload) {
        out << "patch_payload.dat: " << report.payload.size() << " entries, " << total << " bytes\n";
        static const char* const kKinds[] = {"stored", "compressed", "delta", "removal"};
        for (const PayloadView& entry : report.payload) {
            out << "  " << entry.size << "\t";
            // Kinds and stored sizes only for the layout that has them: older output stays as it was.
            if (report.payloadKinds) out << kKinds[entry.kind & 3] << "\t" << entry.stored << "\t";
            out << Printable(entry.name) << "\n";
        }
    }
    if (report.hasAssets) {
        out << "patch_assets.dat: " << report.assets.size() << " assets\n";
        for (const AssetView& asset : report.assets) {
            out << "  id " << asset.id << "\t" << asset.size << " bytes\t";
            if (asset.type.empty())
                out << "not a recognised image";
            else
                out << asset.type;
            if (asset.width && asset.height) out << " " << asset.width << "x" << asset.height;
            out << "\n";
        }
    } else {
        out << "patch_assets.dat: none\n";
    }
    if (report.warnings.empty()) {
        out << "no warnings\n";
        return;
    }
    out << report.warnings.size() << " warning(s):\n";
    for (const std::string& warning : report.warnings) out << "  warning: " << Printable(warning) << "\n";
}
