#include "ui/run_install_win.h"

#include <windows.h>

#include <iterator>
#include <string>

#include "common/paths.h"
#include "install/install_log.h"
#include "install/journal.h"
#include "install/payload.h"
#include "install/signature.h"
#include "install/verify.h"
#include "manifest/manifest.h"
#include "platform/fs.h"
#include "platform/temp.h"
#include "ui/install_progress_win.h"
#include "ui/install_pump_win.h"
#include "ui/ui_text.h"
#include "ui/window_handles_win.h"

namespace {

// The longest folder text taken from the box is one less than this; a longer text is cut.
constexpr int kFolderBufferLength = 1040;

std::wstring ReadGameFolder() {
    wchar_t buffer[kFolderBufferLength] = {};
    ::GetWindowTextW(gGameFolderBox, buffer, static_cast<int>(std::size(buffer)));
    return std::wstring(buffer);
}

uint64_t FileSize(const std::wstring& path) {
    platform::File file;
    uint64_t size = 0;
    return file.OpenRead(path, platform::Share::All) && file.GetSize(size) ? size : 0;
}

bool IsPlainFile(const std::wstring& path) {
    return platform::GetPathKind(path) == platform::PathKind::File;
}

// The manifest must have been read and both data files must lie beside the executable.
bool PatchDataPresent(const std::wstring& exeDirectory) {
    return !gPatchManifest.empty() && IsPlainFile(JoinPath(exeDirectory, kManifestFileName)) &&
           IsPlainFile(JoinPath(exeDirectory, kPayloadFileName));
}

void SetStatus(UiTextRow row) {
    SetStatusText(UiText(row));
}

// Opens this install's run in the log; the file written (a fresh one beside the usual name when
// something else stands there), else empty.
std::wstring BeginLog(const std::wstring& gameFolder) {
    std::wstring written;
    BeginInstallLog(InstallLogPath(platform::TempDirectory(), WindowTitleText()), LanguageCode(gInstallLanguage),
                    gameFolder, &written);
    return written;
}

// The box is closed before the button comes back, so a second run cannot start under it. The
// log's path is the box's second line when this run reached the log.
void FailAndEnable(UiTextRow error, const char* result, const std::wstring& logPath) {
    LogResult(result);
    const bool logged = EndInstallLog() && !logPath.empty();
    EndInstallPump();
    FailInstallProgress();
    std::wstring text = UiText(error);
    if (logged) text += std::wstring(L"\n") + UiText(UiTextRow::InstallLogNote) + logPath;
    ShowErrorBox(text);
    EndInstallProgress();
    ::EnableWindow(gInstallButton, TRUE);
}

}  // namespace

void RunInstall() {
    const std::wstring gameFolder = ReadGameFolder();
    if (gameFolder.empty()) {
        ShowErrorBox(UiText(UiTextRow::ErrorNoFolder));
        return;
    }
    const std::wstring exeDirectory = GetExeDirectory();
    if (!PatchDataPresent(exeDirectory)) {
        ShowErrorBox(UiText(UiTextRow::ErrorNoPayload));
        return;
    }
    ::EnableWindow(gInstallButton, FALSE);
    const std::wstring logPath = BeginLog(gameFolder);
    const std::wstring archivePath = JoinPath(exeDirectory, kPayloadFileName);
    BeginInstallProgress(FileSize(archivePath));
    BeginInstallPump(UpdateInstallProgress, nullptr);
    SetStatus(UiTextRow::StatusVerifying);
    // A run that was killed may have replaced the very file verification looks at: the folder is
    // put back first. Should that fail, the extraction below refuses to start and says so.
    RecoverGameFolder(gameFolder);
    // The alternate record is looked at only when the primary one does not match.
    std::wstring extractionFolder;
    if (!VerifyGameFolder(gameFolder, extractionFolder)) {
        FailAndEnable(UiTextRow::ErrorWrongFolder, "wrong folder", logPath);
        return;
    }
    SetStatus(UiTextRow::StatusInstalling);
    SetStatus(UiTextRow::StatusExtracting);
    // A signed patch's entries are each checked before they are put in place.
    ExtractReport report;
    if (!ExtractPayload(archivePath, extractionFolder, &report)) {
        if (report.failure == ExtractFailure::NotSigned) {
            FailAndEnable(UiTextRow::ErrorDamagedPatch, "damaged patch", logPath);
        } else {
            FailAndEnable(UiTextRow::ErrorInstall, "extraction failed", logPath);
        }
        return;
    }
    LogResult("installed");
    EndInstallLog();
    EndInstallPump();
    // The status first: a bar at its end always stands beside the finished status.
    SetStatus(UiTextRow::StatusInstalled);
    CompleteInstallProgress();
    ::MessageBoxW(gInstallerWindow, UiText(UiTextRow::StatusInstalled), WindowTitleText().c_str(),
                  MB_ICONINFORMATION | MB_OK);
    EndInstallProgress();
    ::DestroyWindow(gInstallerWindow);
}
