#include "install/install_log.h"

#include <cstdio>
#include <ctime>
#include <cwchar>
#include <iterator>
#include <random>

#include "common/paths.h"
#include "install/safe_path.h"
#include "platform/error.h"
#include "platform/owned_file.h"
#include "platform/text.h"

namespace {

// Written in pieces of about this size; a failure line and the end of a run are written at once.
constexpr size_t kFlushBytes = 16384;

// The open run, owned here; `open` false between runs.
struct InstallLogRun {
    bool open = false;
    platform::OwnedFile file;
    std::string pending;
    uint64_t runBytes = 0;  // of this run, the kept runs before it not counted
    uint32_t entryLines = 0;
    uint64_t entriesNotListed = 0;
    uint32_t undoLines = 0;
    uint64_t undoStepsNotListed = 0;
};
InstallLogRun gRun;

// The code point of the UTF-8 sequence at `at` and its length in bytes; length 0 when the bytes
// there are no valid sequence (cut short, overlong, a surrogate, beyond U+10FFFF).
size_t DecodeUtf8(const std::string& text, size_t at, uint32_t& codePoint) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || text.size() - at < length) return 0;
    codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (byte(at + i) & 0x3F);
    }
    constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kShortest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

// What a viewer may take as the end of a line or as a terminal command: C0 and C1 controls, DEL,
// and the line and paragraph separators.
bool BreaksLines(uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x2028 || codePoint == 0x2029;
}

void AppendHexBytes(const std::string& text, size_t at, size_t length, std::string& out) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = at; i < at + length; ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        out += {'\\', 'x', kDigits[b >> 4], kDigits[b & 15]};
    }
}

// Any name or text as a piece of one line: escaped so that it cannot end the line or fake another
// (a reader undoes \xNN and \\ to get the bytes back), and cut to kInstallLogMaxTextBytes.
std::string Escaped(const std::string& text) {
    std::string out;
    std::string piece;
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        size_t length = DecodeUtf8(text, at, codePoint);
        piece.clear();
        if (length == 0) {
            length = 1;
            AppendHexBytes(text, at, 1, piece);
        } else if (BreaksLines(codePoint)) {
            AppendHexBytes(text, at, length, piece);
        } else if (codePoint == '\\') {
            piece = "\\\\";
        } else {
            piece.assign(text, at, length);
        }
        if (out.size() + piece.size() > kInstallLogMaxTextBytes) return out + "\xE2\x80\xA6";  // "…"
        out += piece;
        at += length;
    }
    return out;
}

std::string Text(const std::wstring& text) {
    return Escaped(platform::ConvertWideToUtf8(text));
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
    gRun.runBytes += text.size() + 1;
    if (gRun.pending.size() >= kFlushBytes) Flush();
}

// The runs already in the file, the oldest dropped whole until what stays fits the bound, so the
// file stays near twice the bound at most. Read through the handle that then rewrites the file.
// The bytes are only cut at a run marker and copied back, never interpreted.
std::string KeptRuns(platform::OwnedFile& file) {
    uint64_t size = 0;
    if (!file.GetSize(size) || size == 0) return std::string();
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

// `path` with "-" and eight random hexadecimal digits before its extension. Random rather than
// counted, so that another program cannot take the names in advance.
std::wstring FreshName(const std::wstring& path) {
    static std::mt19937 generator{std::random_device{}()};
    wchar_t unique[16];
    std::swprintf(unique, std::size(unique), L"-%08X", static_cast<unsigned>(generator()));
    size_t name = path.find_last_of(L"\\/");
    size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || (name != std::wstring::npos && dot < name)) dot = path.size();
    return path.substr(0, dot) + unique + path.substr(dot);
}

// The log at `path` with its kept runs when it is plainly ours; else a new file beside it, so
// that what stands at `path` is never written through.
bool OpenLogFile(const std::wstring& path, std::string& kept, std::wstring& written) {
    if (gRun.file.OpenForUpdate(path)) {
        kept = KeptRuns(gRun.file);
        written = path;
        return gRun.file.Truncate();
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        written = FreshName(path);
        if (gRun.file.CreateNew(written, false)) return true;
    }
    return false;
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

// The system's code and its message, as the system words it.
std::string Reason(uint32_t systemError) {
    if (systemError == 0) return "no system error reported";
    std::string reason = "system error " + std::to_string(systemError);
    std::string message = platform::SystemErrorMessage(systemError);
    if (!message.empty()) reason += " (" + Escaped(message) + ")";
    return reason;
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

bool BeginInstallLog(const std::wstring& path, const char* languageCode, const std::wstring& chosenFolder,
                     std::wstring* writtenPath) {
    if (gRun.open) EndInstallLog();
    gRun = InstallLogRun{};
    if (writtenPath) writtenPath->clear();
    std::string kept;
    std::wstring written;
    if (path.empty() || !OpenLogFile(path, kept, written)) {
        gRun = InstallLogRun{};
        return false;
    }
    gRun.open = true;
    gRun.pending = kept;
    Line(kInstallLogRunMarker + UtcNow() + ", installer " + kInstallerVersion + ", language " + Escaped(languageCode));
    Line("chosen folder: " + Text(chosenFolder));
    Flush();
    if (gRun.open && writtenPath) *writtenPath = written;
    return gRun.open;
}

bool InstallLogOpen() {
    return gRun.open;
}

void LogRecordCheck(const std::string& suffix, RecordCheck check, const RecordFindings& findings) {
    if (!gRun.open) return;
    std::string text = "record RelativePath" + suffix + ": expected '" + Text(findings.relativePath) + "', " +
                       std::to_string(findings.expectedSize) + " bytes, SHA-256 " + Text(findings.expectedHash);
    if (check == RecordCheck::KeyMissing) text = "record RelativePath" + suffix + ": not set in full";
    if (!findings.foundPath.empty()) {
        text += "; found '" + Text(findings.foundPath) + "'";
        if (findings.foundSize >= 0) text += ", " + std::to_string(findings.foundSize) + " bytes";
        if (!findings.foundDigest.empty()) text += ", SHA-256 " + Text(findings.foundDigest);
    }
    Line(text + ": " + CheckWord(check));
}

void LogExtractionStart(const std::wstring& archivePath, const std::wstring& targetFolder) {
    Line("payload " + Text(archivePath) + " into folder: " + Text(targetFolder));
}

void LogEntryWritten(const std::string& name, uint64_t size) {
    if (!gRun.open) return;
    if (gRun.entryLines == kInstallLogMaxEntryLines || gRun.runBytes >= kInstallLogListBytes) {
        ++gRun.entriesNotListed;
        return;
    }
    ++gRun.entryLines;
    Line("written " + Escaped(name) + " (" + std::to_string(size) + " bytes)");
}

void LogEntryFailed(const std::string& name, uint32_t systemError) {
    if (!gRun.open) return;
    Line("FAILED " + Escaped(name) + ": " + Reason(systemError));
    Flush();
}

void LogEntryRefused(uint32_t entryIndex, const std::string& name) {
    Line("FAILED entry " + std::to_string(entryIndex + 1) + " '" + Escaped(name) +
         "': the archive is damaged here (cut short, a length out of range, or an unsafe name)");
    Flush();
}

void LogUndoStepFailed(const std::string& what, uint32_t systemError) {
    if (!gRun.open) return;
    if (gRun.undoLines == kInstallLogMaxUndoLines) {
        ++gRun.undoStepsNotListed;
        return;
    }
    ++gRun.undoLines;
    Line("UNDO FAILED " + Escaped(what) + ": " + Reason(systemError));
    Flush();
}

void LogJournalRefused(const std::string& record) {
    Line("journal record refused: " + Escaped(record));
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
    if (gRun.undoStepsNotListed > 0)
        Line(std::to_string(gRun.undoStepsNotListed) + " more undo steps failed, not listed");
    Line("result: " + Escaped(result));
    Flush();
}

bool EndInstallLog() {
    if (!gRun.open) return false;
    Flush();
    bool ok = gRun.open && gRun.file.Close();
    gRun = InstallLogRun{};
    return ok;
}
