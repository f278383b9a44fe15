#include "install/verify.h"

#include <vector>

#include "common/paths.h"
#include "common/text.h"
#include "install/install_log.h"
#include "install/progress.h"
#include "manifest/manifest.h"
#include "platform/digest.h"
#include "platform/fs.h"
#include "platform/path_split.h"

namespace {

constexpr size_t kHashBlock = 65536;
// A drive root holds hundreds of thousands of entries: the window must hear from the search often
// enough to keep answering, and a report costs a call.
constexpr uint32_t kSearchReportEvery = 256;

// One directory's listing, read whole and closed before its subdirectories are searched, so the
// search holds one open directory at a time however deep the tree is.
struct PendingDirectory {
    std::wstring path;
    std::vector<platform::DirEntry> entries;
    size_t next = 0;
};

bool ReadListing(const std::wstring& path, PendingDirectory& out) {
    out.path = path;
    out.entries.clear();
    out.next = 0;
    platform::DirectoryReader reader;
    if (!reader.Open(path)) return false;
    platform::DirEntry entry;
    while (reader.Next(entry)) {
        if (entry.name == L"." || entry.name == L"..") continue;
        out.entries.push_back(entry);
    }
    return true;
}

// The path's segments below nothing, "." and empty ones dropped.
std::vector<std::wstring> Segments(const std::wstring& path) {
    std::vector<std::wstring> segments;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of(L"\\/", start);
        std::wstring segment = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!segment.empty() && segment != L".") segments.push_back(segment);
        if (end == std::wstring::npos) return segments;
        start = end + 1;
    }
}

bool ReadFileSize(const std::wstring& path, uint64_t& size) {
    platform::File file;
    return file.OpenRead(path, platform::Share::ReadOnly) && file.GetSize(size);
}

}  // namespace

std::wstring FileNamePart(const std::wstring& path) {
    size_t separator = platform::LastPathSeparator(path);
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool FindFileByName(const std::wstring& directory, const std::wstring& name, std::wstring& foundPath) {
    std::vector<PendingDirectory> stack(1);
    if (!ReadListing(directory, stack.back())) return false;
    uint32_t seen = 0;
    while (!stack.empty()) {
        PendingDirectory& top = stack.back();
        if (top.next == top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const platform::DirEntry& entry = top.entries[top.next++];
        if (++seen % kSearchReportEvery == 0) ReportWork(WorkProgress::Phase::Searching, 0, 0, seen, 0);
        // A FIFO, device or socket of the wanted name is not the game file, and opening it could block.
        if (!entry.isDirectory && !entry.isFile) continue;
        std::wstring fullPath = JoinPath(top.path, entry.name);
        if (entry.isDirectory) {
            if (entry.isLink) continue;
            PendingDirectory child;
            // A subdirectory that cannot be listed holds nothing we can find.
            if (ReadListing(fullPath, child)) stack.push_back(std::move(child));
            continue;
        }
        if (EqualsIgnoreAsciiCase(entry.name, name)) {
            foundPath = fullPath;
            return true;
        }
    }
    return false;
}

std::wstring LocateGameFile(const std::wstring& gameFolder, const std::wstring& relativePath) {
    std::wstring direct = JoinPath(gameFolder, relativePath);
    if (platform::GetPathKind(direct) == platform::PathKind::File) return direct;
    std::wstring name = FileNamePart(relativePath);
    if (name.empty()) return std::wstring();
    std::wstring found;
    if (!FindFileByName(gameFolder, name, found)) return std::wstring();
    return found;
}

bool ComputeFileDigest(const std::wstring& path, std::wstring& digest) {
    platform::File file;
    uint64_t total = 0;
    if (!file.OpenRead(path, platform::Share::ReadOnly)) return false;
    if (!file.GetSize(total)) total = 0;
    platform::Sha256 sha;
    if (!sha.Begin()) return false;
    ReportWork(WorkProgress::Phase::Hashing, 0, total, 0, 1);
    char block[kHashBlock];
    uint64_t done = 0;
    for (;;) {
        size_t got = 0;
        // A read error is not the end of the file: the digest of part of it would be wrong.
        if (!file.Read(block, sizeof(block), got)) return false;
        if (got == 0) break;
        if (!sha.Update(block, got)) return false;
        done += got;
        ReportWork(WorkProgress::Phase::Hashing, done, total, 0, 1);
        if (got < sizeof(block)) break;
    }
    platform::Sha256Digest value{};
    if (!sha.Finish(value)) return false;
    static const wchar_t kHexDigits[] = L"0123456789ABCDEF";
    digest.clear();
    for (uint8_t byte : value) {
        digest.push_back(kHexDigits[byte >> 4]);
        digest.push_back(kHexDigits[byte & 15]);
    }
    ReportWork(WorkProgress::Phase::Hashing, done, total, 1, 1);
    return true;
}

RecordCheck InspectFileRecord(const std::wstring& gameFolder, const std::string& suffix, RecordFindings& findings) {
    findings = RecordFindings{};
    findings.relativePath = ManifestGetLocalized(("RelativePath" + suffix).c_str());
    findings.expectedHash = ManifestGetLocalized(("ExpectedHash" + suffix).c_str());
    std::wstring expectedSize = ManifestGetLocalized(("ExpectedSize" + suffix).c_str());
    if (findings.relativePath.empty() || findings.expectedHash.empty() || expectedSize.empty()) {
        return RecordCheck::KeyMissing;
    }
    findings.expectedSize = ParseLenientInt64(expectedSize);
    std::wstring path = LocateGameFile(gameFolder, findings.relativePath);
    if (path.empty()) return RecordCheck::FileNotFound;
    findings.foundPath = path;
    uint64_t size = 0;
    if (!ReadFileSize(path, size)) return RecordCheck::CannotOpen;
    findings.foundSize = static_cast<int64_t>(size);
    // The size is compared first, so a wrong file of the right name costs no hashing.
    if (findings.foundSize != findings.expectedSize) return RecordCheck::SizeDiffers;
    if (!ComputeFileDigest(path, findings.foundDigest)) return RecordCheck::CannotOpen;
    return EqualsIgnoreAsciiCase(findings.foundDigest, findings.expectedHash) ? RecordCheck::Match
                                                                              : RecordCheck::DigestDiffers;
}

RecordCheck CheckFileRecord(const std::wstring& gameFolder, const std::string& suffix, std::wstring* foundPath) {
    RecordFindings findings;
    RecordCheck check = InspectFileRecord(gameFolder, suffix, findings);
    if (foundPath && !findings.foundPath.empty()) *foundPath = findings.foundPath;
    return check;
}

bool VerifyFileRecord(const std::wstring& gameFolder, const std::string& suffix) {
    return CheckFileRecord(gameFolder, suffix, nullptr) == RecordCheck::Match;
}

std::wstring ExtractionFolderFor(const std::wstring& chosenFolder, const std::wstring& foundPath,
                                 const std::wstring& relativePath) {
    if (foundPath == JoinPath(chosenFolder, relativePath)) return chosenFolder;
    // The search builds every path it finds on the chosen folder's text.
    if (foundPath.compare(0, chosenFolder.size(), chosenFolder) != 0) return chosenFolder;
    std::vector<std::wstring> below = Segments(foundPath.substr(chosenFolder.size()));
    std::vector<std::wstring> relative = Segments(relativePath);
    if (relative.empty() || relative.size() > below.size()) return chosenFolder;
    size_t holder = below.size() - relative.size();
    for (size_t i = 0; i < relative.size(); ++i) {
        if (!EqualsIgnoreAsciiCase(below[holder + i], relative[i])) return chosenFolder;
    }
    std::wstring folder = chosenFolder;
    for (size_t i = 0; i < holder; ++i) folder = JoinPath(folder, below[i]);
    return folder;
}

bool VerifyGameFolder(const std::wstring& chosenFolder, std::wstring& extractionFolder,
                      std::vector<CheckedRecord>* checked) {
    if (checked) checked->clear();
    for (const char* suffix : {"", "2"}) {
        CheckedRecord record;
        record.suffix = suffix;
        record.check = InspectFileRecord(chosenFolder, suffix, record.findings);
        LogRecordCheck(suffix, record.check, record.findings);
        const bool match = record.check == RecordCheck::Match;
        if (match) {
            extractionFolder =
                ExtractionFolderFor(chosenFolder, record.findings.foundPath, record.findings.relativePath);
        }
        if (checked) checked->push_back(std::move(record));
        if (match) return true;
    }
    return false;
}
