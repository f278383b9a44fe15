#pragma once
// The install behind the Install button and `patchtool apply`, from the chosen folder to one
// outcome, so that the window and the tool only tell the outcome in their own way:
//   1. the patch data is there (PatchDataPresent);
//   2. the chosen folder is locked for this install (FolderLock), before anything is touched;
//   3. what a killed install left in it is put back (RecoverGameFolder), once;
//   4. the folder is verified (VerifyGameFolder), which may send the payload into a folder below;
//   5. that folder is locked and put back too, and verified again when its putting back changed
//      anything;
//   6. the payload is extracted (ExtractPayload).
// The locks are held until the outcome is known. The caller loads the manifest into gPatchManifest
// (and the signature, when there is one) and settles the install language first; it opens the
// install log's run, if it keeps one, when told the verification starts, since a run begun while
// another install holds the folder would only describe that the folder is busy. The result line
// is written to the open run here.
#include <cstdint>
#include <string>
#include <vector>

#include "install/verify.h"

enum class InstallOutcome {
    Installed,
    WrongFolder,        // no file record matches the chosen folder
    DamagedPatch,       // a signed patch's entry is not the signed content; nothing was changed
    ExtractionFailed,   // the extraction stopped and the folder is as it was
    NotRestored,        // a failed install, this one or a killed one, could not be undone (or its journal
                        // was refused: failedEntry says why): leftBehind
    FolderBusy,         // another install holds the chosen folder or the one the payload goes into
    PatchDataMissing,   // no manifest loaded, or a data file is not there
    OldVersionDiffers,  // a file the patch updates is not the version it updates: oldVersionDiffers
};

// What the caller is told while the sequence works (progress goes to the work observer).
enum class InstallStage {
    Verifying,   // the folder is locked: from here on the install works on the folder
    Extracting,  // the folder is verified; the payload is written now
};
using InstallStageObserver = void (*)(InstallStage stage, void* context);

struct InstallRequest {
    std::wstring manifestPath;  // the manifest already loaded into gPatchManifest
    std::wstring payloadPath;
    std::wstring chosenFolder;
    InstallStageObserver observer = nullptr;  // may be null
    void* observerContext = nullptr;
};

struct InstallResult {
    InstallOutcome outcome = InstallOutcome::PatchDataMissing;
    // Where the payload goes, once the verification accepted the folder; else empty.
    std::wstring extractionFolder;
    // What failed (an archive entry's name or a step of ours) and the system's error code, 0 when
    // no system call failed: for ExtractionFailed, DamagedPatch and NotRestored.
    std::string failedEntry;
    uint32_t systemError = 0;
    // The records of the last verification, in the order checked (both of them on WrongFolder).
    std::vector<CheckedRecord> records;
    // NotRestored: the folder that is not as it was, and what in it is not, relative to it ("\"
    // between folders). The journal and the backups stay there for the next install to finish.
    std::wstring notRestoredFolder;
    std::vector<std::wstring> leftBehind;
    std::vector<std::string> oldVersionDiffers;  // as the archive names them
};

// True when a manifest was loaded and both data files are plain files.
bool PatchDataPresent(const std::wstring& manifestPath, const std::wstring& payloadPath);

// Runs the whole sequence on one thread; never throws, never shows anything.
InstallResult RunInstallSequence(const InstallRequest& request);

// The outcome as the install log's result line says it ("installed", "wrong folder", ...).
const char* InstallOutcomeText(InstallOutcome outcome);
