#include "tools/patchtool/patch_apply.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "common/install_language.h"
#include "common/paths.h"
#include "install/install_log.h"
#include "install/install_run.h"
#include "install/journal.h"
#include "install/payload.h"
#include "install/preflight.h"
#include "install/progress.h"
#include "install/verify.h"
#include "manifest/manifest.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "tools/patchtool/definition.h"

namespace {

std::string Narrow(const std::wstring& text) {
    return platform::ConvertWideToUtf8(text);
}

#ifdef _WIN32
constexpr bool kSlashPaths = false;
#else
constexpr bool kSlashPaths = true;
#endif

// A path as the user's shell writes it: the system joins with "\", which POSIX file calls read as
// "/" anyway.
std::string DisplayPath(const std::wstring& path) {
    std::string text = Narrow(path);
    if (kSlashPaths) std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::string RecordName(const std::string& suffix) {
    return suffix.empty() ? "primary file record (RelativePath)" : "alternate file record (RelativePath2)";
}

std::string CheckText(RecordCheck check, const std::string& suffix, const std::wstring& found) {
    std::string relative = Narrow(ManifestGetLocalized(("RelativePath" + suffix).c_str()));
    switch (check) {
        case RecordCheck::Match:
            return "matches " + DisplayPath(found);
        case RecordCheck::KeyMissing:
            return "key missing: RelativePath" + suffix + ", ExpectedHash" + suffix + " and ExpectedSize" + suffix +
                   " must all be set";
        case RecordCheck::FileNotFound:
            return "file not found: '" + relative + "', neither there nor anywhere below by name";
        case RecordCheck::CannotOpen:
            return "file cannot be opened: " + DisplayPath(found);
        case RecordCheck::SizeDiffers:
            return "size differs: " + DisplayPath(found) + " is not " +
                   Narrow(ManifestGetLocalized(("ExpectedSize" + suffix).c_str())) + " bytes";
        case RecordCheck::DigestDiffers:
            return "digest differs: " + DisplayPath(found) + " has the right size but other content";
    }
    return "unknown";
}

// One record checked against the folder: located and hashed once, then both judged and explained
// from this result.
struct RecordOutcome {
    std::string suffix;
    RecordCheck check = RecordCheck::KeyMissing;
    std::wstring found;
    std::wstring relativePath;
};

// Written to the install log as well, when one is open.
RecordOutcome CheckRecord(const std::wstring& gameFolder, const std::string& suffix) {
    RecordOutcome outcome;
    outcome.suffix = suffix;
    RecordFindings findings;
    outcome.check = InspectFileRecord(gameFolder, suffix, findings);
    outcome.found = findings.foundPath;
    outcome.relativePath = findings.relativePath;
    LogRecordCheck(suffix, outcome.check, findings);
    return outcome;
}

// The installer's decision from records already checked: the primary, else the alternate. True
// with the folder the payload goes into when either matches.
bool AcceptedFolder(const std::wstring& chosenFolder, const RecordOutcome& primary, const RecordOutcome& alternate,
                    std::wstring& extractionFolder) {
    for (const RecordOutcome* outcome : {&primary, &alternate}) {
        if (outcome->check != RecordCheck::Match) continue;
        extractionFolder = ExtractionFolderFor(chosenFolder, outcome->found, outcome->relativePath);
        return true;
    }
    return false;
}

void PrintRecord(const std::string& suffix, RecordCheck check, const std::wstring& found, std::ostream& out) {
    out << RecordName(suffix) << ": " << CheckText(check, suffix, found) << "\n";
}

void PrintRecord(const RecordOutcome& outcome, std::ostream& out) {
    PrintRecord(outcome.suffix, outcome.check, outcome.found, out);
}

struct ProgressView {
    std::ostream* out = nullptr;
    bool terminal = false;
    int barWidth = 30;
    std::chrono::steady_clock::time_point lastDraw;
    int lastTenth = -1;
    bool drawn = false;
};

std::string ProgressNumbers(const WorkProgress& progress, double fraction) {
    // KiB for small patches, MiB otherwise, so the numbers move either way.
    bool small = progress.bytesTotal < 10 * 1024 * 1024;
    double unit = small ? 1024.0 : 1024.0 * 1024.0;
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "%3d%%  %.1f/%.1f %s  %lu/%lu files", static_cast<int>(fraction * 100),
                  progress.bytesDone / unit, progress.bytesTotal / unit, small ? "KiB" : "MiB",
                  static_cast<unsigned long>(progress.filesDone), static_cast<unsigned long>(progress.filesTotal));
    return numbers;
}

// Called after every chunk of the extraction: decides cheaply whether to draw before formatting.
void DrawProgress(const WorkProgress& progress, void* context) {
    ProgressView& view = *static_cast<ProgressView*>(context);
    // Only the extraction: hashing the one game file is short next to it.
    if (progress.phase != WorkProgress::Phase::Extracting) return;
    // Bytes count the files made; the last entry's end is the whole way (a patch of removals makes none).
    bool done = progress.filesDone == progress.filesTotal;
    double fraction = done                  ? 1.0
                      : progress.bytesTotal ? static_cast<double>(progress.bytesDone) / progress.bytesTotal
                                            : 0.0;
    if (!view.terminal) {
        // Plain lines for logs: one per tenth of the way, and the last.
        int tenth = static_cast<int>(fraction * 10);
        if (tenth == view.lastTenth && !done) return;
        view.lastTenth = tenth;
        *view.out << "extracting " << ProgressNumbers(progress, fraction) << "\n" << std::flush;
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (view.drawn && !done && now - view.lastDraw < std::chrono::milliseconds(100)) return;
    view.lastDraw = now;
    view.drawn = true;
    int filled = static_cast<int>(fraction * view.barWidth);
    *view.out << "\r[" << std::string(filled, '#') << std::string(view.barWidth - filled, '-') << "] "
              << ProgressNumbers(progress, fraction) << std::flush;
}

}  // namespace

bool ParseLanguageOption(const std::string& text, int& language) {
    language = -1;
    if (text.empty()) return true;
    language = LanguageIndexOf(text);
    if (language < 0 && text.size() == 1 && text[0] >= '0' && text[0] - '0' < kLanguageCount) language = text[0] - '0';
    return language >= 0;
}

bool LoadPatchForInstall(const std::wstring& patchFolder, int language, std::ostream& err) {
    gPatchManifest.clear();
    std::wstring manifestPath = JoinPath(patchFolder, kManifestFileName);
    if (!LoadPatchManifestFile(manifestPath, gPatchManifest) || gPatchManifest.empty()) {
        err << "patch data missing: no usable " << DisplayPath(manifestPath) << "\n";
        return false;
    }
    SettleInstallLanguage();
    if (language >= 0) gInstallLanguage = language;
    return true;
}

namespace {

// The language option, then the manifest; the exit code when either fails, else kExitOk.
int PrepareInstall(const ApplyOptions& options, std::ostream& err) {
    int language = -1;
    if (!ParseLanguageOption(options.language, language)) {
        err << "language '" << options.language << "' is not one of zh-TW, zh-CN, en, ko, ja (or 0 to 4)\n";
        return kExitUsage;
    }
    return LoadPatchForInstall(options.patchFolder, language, err) ? kExitOk : kExitPatchMissing;
}

}  // namespace

namespace {

// Each file a delta of the patch is made from, checked as the installer checks it before writing
// anything; true when every one is the version the patch updates (or the patch has no delta).
bool OldFilesMatch(const std::wstring& patchFolder, const std::wstring& gameFolder, std::ostream& out) {
    std::vector<PayloadEntry> entries;
    ListPayload(JoinPath(patchFolder, kPayloadFileName), entries);
    bool all = true;
    for (const PayloadEntry& entry : entries) {
        if (entry.kind != EntryKind::Delta) continue;
        bool same = false;
        int64_t found = -1;
        FileIsVersion(JoinPath(gameFolder, entry.name), entry.oldSize, entry.oldDigest, same, found);
        all = all && same;
        out << "file a delta is made from, " << entry.rawName << ": "
            << (same        ? std::string("the version this patch updates")
                : found < 0 ? std::string("missing")
                            : "not the version this patch updates (expected " + std::to_string(entry.oldSize) +
                                  " bytes, found " + std::to_string(found) + ")")
            << "\n";
    }
    return all;
}

}  // namespace

int RunVerify(const ApplyOptions& options, std::ostream& out, std::ostream& err) {
    if (int code = PrepareInstall(options, err); code != kExitOk) return code;
    out << "install language: " << LanguageCode(gInstallLanguage) << "\n";
    // Both records are explained, each located and hashed once; the installer's decision follows.
    RecordOutcome primary = CheckRecord(options.gameFolder, "");
    RecordOutcome alternate = CheckRecord(options.gameFolder, "2");
    PrintRecord(primary, out);
    PrintRecord(alternate, out);
    std::wstring extractionFolder;
    bool accepted = AcceptedFolder(options.gameFolder, primary, alternate, extractionFolder);
    out << (accepted ? "the installer accepts this game folder\n"
                     : "wrong folder: the installer refuses this game folder\n");
    if (accepted && extractionFolder != options.gameFolder) {
        out << "the patch goes into " << DisplayPath(extractionFolder) << ", the folder holding the game file's path\n";
    }
    // Where an install left a journal: the chosen folder, or the one the patch goes into.
    std::wstring journalFolder = HasLeftoverJournal(options.gameFolder)             ? options.gameFolder
                                 : accepted && HasLeftoverJournal(extractionFolder) ? extractionFolder
                                                                                    : std::wstring();
    if (!journalFolder.empty()) {
        out << "an interrupted install left " << DisplayPath(JoinPath(journalFolder, kJournalFileName))
            << ": the next install or apply puts the folder back as it was first\n";
    }
    if (!accepted) return kExitWrongFolder;
    return OldFilesMatch(options.patchFolder, extractionFolder, out) ? kExitOk : kExitOldVersion;
}

namespace {

// What the console sees while the sequence works: the log's run begins once the folder is ours,
// the progress once the extraction starts.
struct ApplyRun {
    const ApplyOptions* options = nullptr;
    ProgressView view;
    std::ostream* err = nullptr;
};

void OnStage(InstallStage stage, void* context) {
    ApplyRun& run = *static_cast<ApplyRun*>(context);
    const ApplyOptions& options = *run.options;
    if (stage == InstallStage::Verifying && !options.logPath.empty()) {
        // The same log the installer keeps; one that cannot be written changes nothing.
        std::wstring written;
        if (BeginInstallLog(options.logPath, LanguageCode(gInstallLanguage), options.gameFolder, &written) &&
            written != options.logPath) {
            *run.err << "the log " << DisplayPath(options.logPath) << " is not a plain file of this user, left as it "
                     << "is; this run is logged to " << DisplayPath(written) << "\n";
        }
    }
    if (stage == InstallStage::Extracting && options.progress) SetWorkObserver(DrawProgress, &run.view);
}

void PrintNotRestored(const InstallResult& result, std::ostream& err) {
    err << "not restored: the install failed and " << DisplayPath(result.notRestoredFolder)
        << " could not be put back as it was (" << result.failedEntry << "); not as it was:\n";
    for (const std::wstring& relative : result.leftBehind) {
        err << "  " << DisplayPath(JoinPath(result.notRestoredFolder, relative)) << "\n";
    }
    err << "the journal and the backups stay there: run apply (or the installer) on this folder again to finish "
           "putting it back\n";
}

// The folder a failure concerns: the one the payload goes into once it is known.
std::string FolderOf(const ApplyOptions& options, const InstallResult& result) {
    return DisplayPath(result.extractionFolder.empty() ? options.gameFolder : result.extractionFolder);
}

}  // namespace

int RunApply(const ApplyOptions& options, std::ostream& out, std::ostream& err) {
    if (int code = PrepareInstall(options, err); code != kExitOk) return code;
    InstallRequest request;
    request.manifestPath = JoinPath(options.patchFolder, kManifestFileName);
    request.payloadPath = JoinPath(options.patchFolder, kPayloadFileName);
    request.chosenFolder = options.gameFolder;
    ApplyRun run;
    run.options = &options;
    run.view.out = &out;
    run.view.terminal = options.terminal;
    run.view.barWidth = options.barWidth;
    run.err = &err;
    request.observer = OnStage;
    request.observerContext = &run;
    const InstallResult result = RunInstallSequence(request);
    SetWorkObserver(nullptr, nullptr);
    if (run.view.drawn) out << "\n";
    EndInstallLog();
    switch (result.outcome) {
        case InstallOutcome::Installed:
            out << "patch installed into " << DisplayPath(result.extractionFolder) << "\n";
            return kExitOk;
        case InstallOutcome::PatchDataMissing:
            err << "patch data missing: " << DisplayPath(request.payloadPath) << " is not there\n";
            return kExitPatchMissing;
        case InstallOutcome::FolderBusy:
            err << "folder busy: another install is running in " << FolderOf(options, result)
                << "; nothing of the patch was written. Wait for it to finish, then try again\n";
            return kExitFolderBusy;
        case InstallOutcome::WrongFolder:
            err << "wrong folder: " << DisplayPath(options.gameFolder) << " is not the game's folder\n";
            for (const CheckedRecord& record : result.records) {
                PrintRecord(record.suffix, record.check, record.findings.foundPath, err);
            }
            return kExitWrongFolder;
        case InstallOutcome::DamagedPatch:
            err << "patch refused: a file in patch_payload.dat differs from the signed one; "
                << FolderOf(options, result) << " is left as it was before\n";
            return kExitSignature;
        case InstallOutcome::NotRestored:
            PrintNotRestored(result, err);
            return kExitNotRestored;
        case InstallOutcome::OldVersionDiffers:
            err << "not the version this patch updates: nothing was written to " << FolderOf(options, result)
                << "; these files were changed, or the game is another version:\n";
            for (const std::string& name : result.oldVersionDiffers) err << "  " << name << "\n";
            return kExitOldVersion;
        case InstallOutcome::ExtractionFailed:
            break;
    }
    err << "extraction failed: " << FolderOf(options, result) << " is left as it was before\n";
    return kExitExtractFailed;
}
