#pragma once
// `patchtool verify` and `patchtool apply`: the installer's own verification and extraction, run
// on a patch folder given on the command line instead of the executable's folder.
#include <ostream>
#include <string>

// Exit codes of the tool; scripts tell the failures apart by them.
enum ExitCode {
    kExitOk = 0,
    kExitFailed = 1,         // build refused, inspect found no manifest, output not writable
    kExitUsage = 2,          // command line not understood
    kExitWrongFolder = 3,    // no file record matches the game folder
    kExitPatchMissing = 4,   // patch_manifest.dat or patch_payload.dat missing, or the manifest empty
    kExitExtractFailed = 5,  // extraction stopped; the game folder is left as it was
    kExitSignature = 6,      // --key given and the patch is not signed by it, or altered since
    kExitNotRestored = 7,    // the install failed and could not be undone; a rerun finishes the undo
    kExitFolderBusy = 8,     // another install is running in the game folder; nothing was written
    kExitOldVersion = 9,     // a file the patch updates is not the version it updates; nothing was written
};

struct ApplyOptions {
    std::wstring patchFolder;
    std::wstring gameFolder;
    std::string language;   // a language code; empty: the manifest's LanguageIndex
    bool progress = true;   // false: no progress output at all
    bool terminal = false;  // progress as a redrawn bar rather than plain lines
    int barWidth = 30;
    std::wstring logPath;  // empty: no install log
};

// A language code ("ko") or index ("3") to the install language; empty gives -1 (the manifest's
// own). False for anything else.
bool ParseLanguageOption(const std::string& text, int& language);

// Loads the patch folder's manifest into the installer's process-wide manifest and settles the
// install language as the installer does, then overrides it when `language` is 0..4. False with
// a message when the manifest is missing or empty.
bool LoadPatchForInstall(const std::wstring& patchFolder, int language, std::ostream& err);

// Checks both file records and says for each which file matched or why it did not.
int RunVerify(const ApplyOptions& options, std::ostream& out, std::ostream& err);

// The Install button's sequence (RunInstallSequence), told on the console and by the exit code.
int RunApply(const ApplyOptions& options, std::ostream& out, std::ostream& err);
