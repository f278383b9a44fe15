// Writing half of the build: the payload name rules and the three data files.
#include <algorithm>
#include <cstring>
#include <set>

#include "banner/assets.h"
#include "common/byte_order.h"
#include "common/paths.h"
#include "common/text.h"
#include "install/journal.h"
#include "install/payload.h"
#include "install/preflight.h"
#include "manifest/manifest.h"
#include "platform/fs.h"
#include "platform/path_split.h"
#include "platform/text.h"
#include "tools/patchtool/patch_build.h"
#include "tools/patchtool/payload_pack.h"

namespace {

using Problems = std::vector<std::string>;

// The name as Windows compares it, "/" separators kept.
std::wstring FoldedName(const std::string& name) {
    return platform::UpperCaseAsFileNames(Utf8ToWide(name));
}

size_t Utf16Units(const std::wstring& text) {
    // Where wide text holds code points, one above the BMP takes two units; in UTF-16 it already does.
    size_t units = text.size();
    for (wchar_t c : text) units += (static_cast<uint32_t>(c) >> 16) != 0;
    return units;
}

// The longest game folder (its separator not counted) below which the payload name still fits
// Windows' limits; negative when there is none.
long LongestFolderFor(const std::wstring& name) {
    size_t slash = name.find_last_of(L'/');
    long room = static_cast<long>(kMaxWindowsPath) - static_cast<long>(Utf16Units(name));
    if (slash != std::wstring::npos) {
        long folder = static_cast<long>(Utf16Units(name.substr(0, slash)));
        room = std::min(room, static_cast<long>(kMaxWindowsFolderPath) - folder);
    }
    return room - 1;
}

void CheckPathLength(const std::string& name, Problems& problems, Problems& warnings) {
    std::wstring wide = Utf8ToWide(name);
    for (size_t start = 0;;) {
        size_t slash = wide.find(L'/', start);
        std::wstring segment = wide.substr(start, slash == std::wstring::npos ? slash : slash - start);
        if (Utf16Units(segment) > kMaxWindowsNameUnits) {
            problems.push_back("payload: '" + name + "': a name longer than the " +
                               std::to_string(kMaxWindowsNameUnits) + " characters Windows allows");
            return;
        }
        if (slash == std::wstring::npos) break;
        start = slash + 1;
    }
    long longest = LongestFolderFor(wide);
    if (longest < static_cast<long>(kShortestGameFolder)) {
        problems.push_back("payload: '" + name + "': too long for Windows even in a drive's top folder (" +
                           std::to_string(kMaxWindowsPath) + " characters in all, " +
                           std::to_string(kMaxWindowsFolderPath) + " for a folder)");
    } else if (longest < static_cast<long>(kTypicalGameFolder)) {
        warnings.push_back("payload: '" + name + "': fits Windows' path limit only in a game folder of at most " +
                           std::to_string(longest) + " characters; a typical one has " +
                           std::to_string(kTypicalGameFolder));
    }
}

// Copies exactly `size` bytes of `from` into `out`; a file that changed size meanwhile fails.
bool CopyFileInto(const std::wstring& from, uint64_t size, platform::File& out) {
    platform::File in;
    if (!in.OpenRead(from, platform::Share::ReadOnly)) return false;
    std::vector<char> buffer(65536);
    uint64_t remaining = size;
    while (remaining > 0) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
        size_t got = 0;
        if (!in.Read(buffer.data(), chunk, got) || got != chunk) return false;
        if (!out.Write(buffer.data(), chunk)) return false;
        remaining -= chunk;
    }
    size_t extra = 0;
    return in.Read(buffer.data(), 1, extra) && extra == 0;
}

// Writes one output file beside its final name, then puts it in place.
template <typename Fill>
bool WriteOutput(const std::wstring& outDir, const std::wstring& name, Problems& problems, Fill fill) {
    std::wstring target = JoinPath(outDir, name);
    std::wstring part = target + L".part";
    platform::File out;
    std::string narrowName = platform::ConvertWideToUtf8(name);
    if (!out.OpenWrite(part)) {
        problems.push_back(narrowName + ": cannot be written in the output folder");
        return false;
    }
    std::string what;
    bool ok = fill(out, what) && out.Close();
    if (ok && !platform::ReplacePath(part, target)) what = "cannot be put in place";
    if (!ok || !what.empty()) {
        problems.push_back(narrowName + ": " + (what.empty() ? std::string("write failed") : what));
        platform::DeletePath(part);
        return false;
    }
    return true;
}

bool WriteManifestFile(const PatchPlan& plan, const std::wstring& outDir, Problems& problems) {
    return WriteOutput(outDir, kManifestFileName, problems, [&](platform::File& out, std::string&) {
        std::string text;
        for (const ManifestEntry& entry : plan.manifest) text += entry.key + "=" + EncodeBase64(entry.value) + "\n";
        return out.Write(text.data(), text.size());
    });
}

bool WritePayloadFile(PatchPlan& plan, const std::wstring& outDir, Problems& problems) {
    return WriteOutput(outDir, kPayloadFileName, problems, [&](platform::File& out, std::string& what) {
        // Only a definition that asks for more gets the layout with kinds: every other patch stays
        // one that every installer reads.
        if (plan.kinds) return WriteKindsPayload(plan, out, plan.progress, what);
        std::string header(kPayloadMagic, sizeof kPayloadMagic);
        AppendU32(header, static_cast<uint32_t>(plan.payload.size()));
        if (!out.Write(header.data(), header.size())) return false;
        for (const PayloadItem& item : plan.payload) {
            std::string head;
            AppendU32(head, static_cast<uint32_t>(item.name.size()));
            head += item.name;
            AppendU64(head, item.size);
            if (!out.Write(head.data(), head.size())) return false;
            if (!CopyFileInto(item.sourcePath, item.size, out)) {
                what = "payload file '" + item.name + "' changed or could not be read while building";
                return false;
            }
        }
        return true;
    });
}

bool WriteAssetFile(const PatchPlan& plan, const std::wstring& outDir, Problems& problems) {
    return WriteOutput(outDir, kAssetArchiveName, problems, [&](platform::File& out, std::string& what) {
        std::string header(kAssetMagic, sizeof kAssetMagic);
        AppendU32(header, static_cast<uint32_t>(plan.assets.size()));
        if (!out.Write(header.data(), header.size())) return false;
        for (const AssetItem& asset : plan.assets) {
            std::string head;
            AppendU32(head, asset.id);
            AppendU64(head, asset.size);
            if (!out.Write(head.data(), head.size())) return false;
            if (!CopyFileInto(asset.sourcePath, asset.size, out)) {
                what = "asset " + std::to_string(asset.id) + " changed or could not be read while building";
                return false;
            }
        }
        return true;
    });
}

bool CopyLocalBanner(const LocalBannerCopy& copy, const std::wstring& outDir, Problems& problems) {
    uint64_t size = 0;
    platform::File probe;
    if (!probe.OpenRead(copy.from, platform::Share::All) || !probe.GetSize(size)) {
        problems.push_back(platform::ConvertWideToUtf8(copy.name) + ": local banner cannot be read");
        return false;
    }
    probe.Close();
    std::wstring target = JoinPath(outDir, copy.name);
    size_t slash = platform::LastPathSeparator(target);
    if (slash != std::wstring::npos && !CreateDirectoryTree(target.substr(0, slash))) {
        problems.push_back(platform::ConvertWideToUtf8(copy.name) + ": its folder cannot be made");
        return false;
    }
    return WriteOutput(outDir, copy.name, problems,
                       [&](platform::File& out, std::string&) { return CopyFileInto(copy.from, size, out); });
}

}  // namespace

std::string PayloadNameProblem(const std::string& name) {
    if (name.size() > kMaxPayloadNameLength)
        return "name of " + std::to_string(name.size()) + " bytes, longer than the installer's limit of " +
               std::to_string(kMaxPayloadNameLength);
    if (name.find('\\') != std::string::npos) return "holds '\\', which the installer takes as a folder separator";
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr)
            return "holds a character that Windows refuses in file names";
    }
    std::wstring wide = Utf8ToWide(name);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    // The installer's own test: also trailing dots and blanks, and Windows device names.
    if (!IsSafeRelativePath(wide))
        return "unsafe name for the installer: absolute, a drive or ':', '..', an empty segment, a segment "
               "ending in a dot or blank, or a Windows device name";
    return std::string();
}

std::string PayloadCountProblem(size_t count) {
    if (count <= kMaxPayloadEntries) return std::string();
    return "payload: " + std::to_string(count) + " files, more than the installer's limit of " +
           std::to_string(kMaxPayloadEntries);
}

// The journal an install of these items needs where every file is replaced (a temporary file and a
// backup per entry) and every folder made: the most it can be.
uint64_t WorstJournalBytes(const std::vector<PayloadItem>& items, const std::set<std::wstring>& folders) {
    uint64_t bytes = JournalHeaderBytes() + 1;
    std::wstring own(kLongestOwnSuffix, L'x');
    for (const PayloadItem& item : items) {
        std::wstring name = Utf8ToWide(item.name);
        bytes += JournalRecordBytes(JournalRecord{JournalStep::TempFile, name + own, std::wstring()});
        bytes += JournalRecordBytes(JournalRecord{JournalStep::Replace, name, name + own});
    }
    for (const std::wstring& folder : folders)
        bytes += JournalRecordBytes(JournalRecord{JournalStep::MadeFolder, folder, std::wstring()});
    return bytes;
}

void CheckPayload(const std::vector<PayloadItem>& items, Problems& problems, Problems& warnings) {
    std::string countProblem = PayloadCountProblem(items.size());
    if (!countProblem.empty()) problems.push_back(countProblem);
    // Windows file names ignore letter case: two such names would land in one file, and a file
    // cannot stand where a folder of its name (in any case) is needed.
    std::set<std::wstring> folders;
    for (const PayloadItem& item : items) {
        std::wstring folded = FoldedName(item.name);
        for (size_t slash = folded.find(L'/'); slash != std::wstring::npos; slash = folded.find(L'/', slash + 1))
            folders.insert(folded.substr(0, slash));
    }
    std::set<std::wstring> files;
    for (const PayloadItem& item : items) {
        std::string problem = PayloadNameProblem(item.name);
        if (!problem.empty()) problems.push_back("payload: '" + item.name + "': " + problem);
        std::wstring folded = FoldedName(item.name);
        if (!files.insert(folded).second)
            problems.push_back("payload: '" + item.name + "': another file differs from it only in letter case");
        if (folders.count(folded))
            problems.push_back("payload: '" + item.name + "': a folder of the same name on Windows holds other files");
        CheckPathLength(item.name, problems, warnings);
    }
    uint64_t journal = WorstJournalBytes(items, folders);
    if (journal > kMaxJournalBytes)
        warnings.push_back(
            "payload: installing it over a game that has most of these files needs an install journal of " +
            std::to_string(journal >> 20) + " MiB, more than the installer's limit of " +
            std::to_string(kMaxJournalBytes >> 20) + " MiB; such an install is refused before it starts");
}

bool WritePatch(PatchPlan& plan, const std::wstring& outDir, Problems& problems) {
    if (!CreateDirectoryTree(outDir)) {
        problems.push_back("output folder cannot be made");
        return false;
    }
    if (!WriteManifestFile(plan, outDir, problems)) return false;
    if (!WritePayloadFile(plan, outDir, problems)) return false;
    // The installer's asset reader takes an archive without assets for a damaged one; a patch
    // without Asset banners ships no archive, and a stale one from an earlier build goes.
    if (plan.assets.empty()) {
        std::wstring stale = JoinPath(outDir, kAssetArchiveName);
        if (platform::GetPathKind(stale) == platform::PathKind::File && !platform::DeletePath(stale)) {
            problems.push_back("patch_assets.dat: an old one in the output folder cannot be removed");
            return false;
        }
    } else if (!WriteAssetFile(plan, outDir, problems)) {
        return false;
    }
    for (const LocalBannerCopy& copy : plan.localBanners)
        if (!CopyLocalBanner(copy, outDir, problems)) return false;
    return true;
}

bool BuildPatch(const std::wstring& definitionPath, const std::wstring& outDir, PatchPlan& plan, Problems& problems) {
    PatchDefinition def;
    if (!LoadDefinition(definitionPath, def, problems)) return false;
    if (!PlanPatch(def, outDir, plan, problems)) return false;
    return WritePatch(plan, outDir, problems);
}
