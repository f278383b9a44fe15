#include "install/install_run.h"

#include <algorithm>
#include <utility>

#include "install/install_log.h"
#include "install/journal.h"
#include "install/payload.h"
#include "manifest/manifest.h"
#include "platform/error.h"
#include "platform/folder_lock.h"
#include "platform/fs.h"

namespace {

// The folders this install has locked and put back, the chosen one first; unlocked when the
// sequence returns.
struct HeldFolders {
    std::vector<std::wstring> paths;
    std::vector<platform::FolderLock> locks;

    bool Holds(const std::wstring& folder) const {
        return std::find(paths.begin(), paths.end(), folder) != paths.end();
    }
    // False only when another install holds the folder. One that cannot be locked at all (missing,
    // or a file system without locks) goes on unlocked: the verification or the extraction then
    // says what is wrong with it.
    bool Lock(const std::wstring& folder) {
        platform::FolderLock lock;
        if (lock.Acquire(folder) == platform::LockResult::Busy) return false;
        paths.push_back(folder);
        locks.push_back(std::move(lock));
        return true;
    }
};

void Tell(const InstallRequest& request, InstallStage stage) {
    if (request.observer) request.observer(stage, request.observerContext);
}

InstallResult& Finish(InstallResult& result, InstallOutcome outcome) {
    result.outcome = outcome;
    LogResult(InstallOutcomeText(outcome));
    return result;
}

// The journal stays whenever a folder is not restored; the next install finishes from it.
void NameJournalIfLeft(InstallResult& result) {
    const std::wstring journal = kJournalFileName;
    if (!HasLeftoverJournal(result.notRestoredFolder)) return;
    if (std::find(result.leftBehind.begin(), result.leftBehind.end(), journal) == result.leftBehind.end()) {
        result.leftBehind.push_back(journal);
    }
}

// Puts back what a killed install left in the folder; `changed` tells whether it left anything.
// False with the outcome set when that cannot be done.
bool RestoreFolder(const std::wstring& folder, InstallResult& result, bool& changed) {
    changed = HasLeftoverJournal(folder);
    RecoveryReport recovery;
    if (RecoverGameFolder(folder, &recovery)) return true;
    // A refused journal changed nothing, but the folder still holds whatever the install that left
    // it had done: it is not restored either, and the journal's recovery has logged which record it
    // refused and why.
    if (recovery.refused) {
        result.outcome = InstallOutcome::NotRestored;
        result.failedEntry = "journal left by an interrupted install, refused: " + recovery.refusedRecord;
        result.notRestoredFolder = folder;
        result.leftBehind.assign(1, kJournalFileName);
        LogFolderRestored(false);
        return false;
    }
    result.outcome = InstallOutcome::NotRestored;
    result.failedEntry = "folder left by an interrupted install";
    result.systemError = platform::LastSystemError();
    result.notRestoredFolder = folder;
    result.leftBehind = std::move(recovery.leftBehind);
    NameJournalIfLeft(result);
    LogEntryFailed(result.failedEntry, result.systemError);
    LogFolderRestored(false);
    return false;
}

// Verifies the chosen folder until the folder the payload goes into is locked and put back too:
// putting a folder below back may change the file the verification finds. Each pass locks one
// more folder, so it ends. False with the outcome set.
bool SettleExtractionFolder(const std::wstring& chosenFolder, HeldFolders& held, InstallResult& result) {
    for (;;) {
        if (!VerifyGameFolder(chosenFolder, result.extractionFolder, &result.records)) {
            result.extractionFolder.clear();
            result.outcome = InstallOutcome::WrongFolder;
            return false;
        }
        if (held.Holds(result.extractionFolder)) return true;
        if (!held.Lock(result.extractionFolder)) {
            result.outcome = InstallOutcome::FolderBusy;
            return false;
        }
        bool changed = false;
        if (!RestoreFolder(result.extractionFolder, result, changed)) return false;
        if (!changed) return true;
    }
}

InstallResult& Extract(const std::wstring& payloadPath, InstallResult& result) {
    ExtractReport report;
    if (ExtractPayload(payloadPath, result.extractionFolder, &report)) return Finish(result, InstallOutcome::Installed);
    result.failedEntry = std::move(report.entry);
    result.systemError = report.systemError;
    switch (report.failure) {
        case ExtractFailure::NotSigned:
            return Finish(result, InstallOutcome::DamagedPatch);
        case ExtractFailure::NotRestored:
        case ExtractFailure::JournalRefused:
            result.notRestoredFolder = result.extractionFolder;
            result.leftBehind = std::move(report.leftBehind);
            NameJournalIfLeft(result);
            return Finish(result, InstallOutcome::NotRestored);
        case ExtractFailure::OldVersionDiffers:
            result.oldVersionDiffers = std::move(report.oldVersionDiffers);
            return Finish(result, InstallOutcome::OldVersionDiffers);
        case ExtractFailure::None:
        case ExtractFailure::Refused:
        case ExtractFailure::WriteFailed:
            break;
    }
    return Finish(result, InstallOutcome::ExtractionFailed);
}

}  // namespace

bool PatchDataPresent(const std::wstring& manifestPath, const std::wstring& payloadPath) {
    return !gPatchManifest.empty() && platform::GetPathKind(manifestPath) == platform::PathKind::File &&
           platform::GetPathKind(payloadPath) == platform::PathKind::File;
}

InstallResult RunInstallSequence(const InstallRequest& request) {
    InstallResult result;
    if (!PatchDataPresent(request.manifestPath, request.payloadPath))
        return Finish(result, InstallOutcome::PatchDataMissing);
    HeldFolders held;
    if (!held.Lock(request.chosenFolder)) return Finish(result, InstallOutcome::FolderBusy);
    Tell(request, InstallStage::Verifying);
    // A killed run may have replaced the very file the verification looks at: put back first.
    bool changed = false;
    if (!RestoreFolder(request.chosenFolder, result, changed) ||
        !SettleExtractionFolder(request.chosenFolder, held, result)) {
        return Finish(result, result.outcome);
    }
    Tell(request, InstallStage::Extracting);
    return Extract(request.payloadPath, result);
}

const char* InstallOutcomeText(InstallOutcome outcome) {
    switch (outcome) {
        case InstallOutcome::Installed:
            return "installed";
        case InstallOutcome::WrongFolder:
            return "wrong folder";
        case InstallOutcome::DamagedPatch:
            return "damaged patch";
        case InstallOutcome::ExtractionFailed:
            return "extraction failed";
        case InstallOutcome::NotRestored:
            return "not restored";
        case InstallOutcome::FolderBusy:
            return "folder busy";
        case InstallOutcome::PatchDataMissing:
            return "patch data missing";
        case InstallOutcome::OldVersionDiffers:
            return "not the version this patch updates";
    }
    return "unknown";
}
