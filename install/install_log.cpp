#include "install/install_log.h"

#include <cstdio>
#include <ctime>

#include "common/paths.h"
#include "install/safe_path.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

// Written in pieces of about this size; a failure line and the end of a run are written at once.
constexpr size_t kFlushBytes = 16384;

// The open run, owned here; `open` false between runs.
struct InstallLogRun {
    bool open = false;
    platform::File file;
    std::string pending;
    uint32_t entryLines = 0;
    uint64_t entriesNotListed = 0;
};
InstallLogRun gRun;

std::string Utf8(const std::wstring& text) {
    return platform::ConvertWideToUtf8(text);
}

void Flush() {
    if (!gRun.open || gRun.pending.empty()) return;
    // A log that cannot be written is dropped for the rest of the run, never reported.
    if (!gRun.file.Write(gRun.pending.data(), gRun.pending.size())) {
        gRun.file.Close();
        gRun.open = false;
    }
    gRun.pending.clear();
}

void Line(const std::string& text) {
    if (!gRun.open) return;
    gRun.pending += text;
    gRun.pending += '\n';
    if (gRun.pending.size() >= kFlushBytes) Flush();
}

// The runs already in the file, the oldest dropped whole until what stays fits the bound, so the
// file stays near twice the bound at most.
std::string KeptRuns(const std::wstring& path) {
    platform::File file;
    uint64_t size = 0;
    if (!file.OpenRead(path, platform::Share::All) || !file.GetSize(size) || size == 0) return std::string();
    uint64_t skip = size > kInstallLogKeepBytes ? size - kInstallLogKeepBytes : 0;
    if (skip > 0 && !file.Skip(skip)) return std::string();
    std::string text(static_cast<size_t>(size - skip), '\0');
    size_t got = 0;
    if (!file.Read(&text[0], text.size(), got)) return std::string();
    text.resize(got);
    if (skip > 0) {
        // The first run was cut: start at the next run that is whole.
        size_t marker = text.find(std::string("\n") + kInstallLogRunMarker);
        text = marker == std::string::npos ? std::string() : text.substr(marker + 1);
    }
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
}

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    char text[32] = "unknown time";
    if (utc) std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", utc);
    return text;
}

const char* CheckWord(RecordCheck check) {
    switch (check) {
        case RecordCheck::Match:
            return "match";
        case RecordCheck::KeyMissing:
            return "keys missing";
        case RecordCheck::FileNotFound:
            return "file not found";
        case RecordCheck::CannotOpen:
            return "file cannot be read";
        case RecordCheck::SizeDiffers:
            return "size differs";
        case RecordCheck::DigestDiffers:
            return "digest differs";
    }
    return "unknown";
}

bool IsNameCharacter(wchar_t c) {
    return c >= 0x20 && std::wstring(L"<>:\"/\\|?*").find(c) == std::wstring::npos;
}

}  // namespace

std::wstring InstallLogPath(const std::wstring& directory, const std::wstring& windowTitle) {
    if (directory.empty()) return std::wstring();
    std::wstring name;
    for (wchar_t c : windowTitle) name += IsNameCharacter(c) ? c : L'_';
    // Windows drops trailing dots and spaces, and a device name such as "CON" opens no file.
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    if (name.empty() || !IsSafeRelativePath(name)) name = L"_" + name;
    return JoinPath(directory, name + L".log");
}

bool BeginInstallLog(const std::wstring& path, const char* languageCode, const std::wstring& chosenFolder) {
    if (gRun.open) EndInstallLog();
    gRun = InstallLogRun{};
    if (path.empty()) return false;
    std::string kept = KeptRuns(path);
    if (!gRun.file.OpenWrite(path)) return false;
    gRun.open = true;
    gRun.pending = kept;
    Line(kInstallLogRunMarker + UtcNow() + ", installer " + kInstallerVersion + ", language " + languageCode);
    Line("chosen folder: " + Utf8(chosenFolder));
    Flush();
    return gRun.open;
}

bool InstallLogOpen() {
    return gRun.open;
}

void LogRecordCheck(const std::string& suffix, RecordCheck check, const RecordFindings& findings) {
    if (!gRun.open) return;
    std::string text = "record RelativePath" + suffix + ": expected '" + Utf8(findings.relativePath) + "', " +
                       std::to_string(findings.expectedSize) + " bytes, SHA-256 " + Utf8(findings.expectedHash);
    if (check == RecordCheck::KeyMissing) text = "record RelativePath" + suffix + ": not set in full";
    if (!findings.foundPath.empty()) {
        text += "; found '" + Utf8(findings.foundPath) + "'";
        if (findings.foundSize >= 0) text += ", " + std::to_string(findings.foundSize) + " bytes";
        if (!findings.foundDigest.empty()) text += ", SHA-256 " + Utf8(findings.foundDigest);
    }
    Line(text + ": " + CheckWord(check));
}

void LogExtractionStart(const std::wstring& archivePath, const std::wstring& targetFolder) {
    Line("payload " + Utf8(archivePath) + " into folder: " + Utf8(targetFolder));
}

void LogEntryWritten(const std::string& name, uint64_t size) {
    if (!gRun.open) return;
    if (gRun.entryLines == kInstallLogMaxEntryLines) {
        ++gRun.entriesNotListed;
        return;
    }
    ++gRun.entryLines;
    Line("written " + name + " (" + std::to_string(size) + " bytes)");
}

void LogEntryFailed(const std::string& name, uint32_t systemError) {
    if (!gRun.open) return;
    std::string reason = "no system error reported";
    if (systemError != 0) {
        reason = "system error " + std::to_string(systemError);
        std::string message = platform::SystemErrorMessage(systemError);
        if (!message.empty()) reason += " (" + message + ")";
    }
    Line("FAILED " + name + ": " + reason);
    Flush();
}

void LogEntryRefused(uint32_t entryIndex, const std::string& name) {
    Line("FAILED entry " + std::to_string(entryIndex + 1) + " '" + name +
         "': the archive is damaged here (cut short, a length out of range, or an unsafe name)");
    Flush();
}

void LogFolderRestored(bool restored) {
    Line(std::string("folder restored: ") + (restored ? "yes" : "no"));
}

void LogNothingWritten() {
    Line("nothing written: the folder is as it was");
}

void LogResult(const std::string& result) {
    if (!gRun.open) return;
    if (gRun.entriesNotListed > 0) Line(std::to_string(gRun.entriesNotListed) + " more entries written, not listed");
    Line("result: " + result);
    Flush();
}

bool EndInstallLog() {
    if (!gRun.open) return false;
    Flush();
    bool ok = gRun.open && gRun.file.Close();
    gRun = InstallLogRun{};
    return ok;
}
