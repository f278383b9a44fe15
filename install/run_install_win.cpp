#include "install/run_install_win.h"

#include <windows.h>

#include <iterator>
#include <string>

#include "common/paths.h"
#include "install/journal.h"
#include "install/payload.h"
#include "install/verify.h"
#include "manifest/manifest.h"
#include "platform/fs.h"
#include "ui/install_pump_win.h"
#include "ui/ui_text.h"
#include "ui/window_handles.h"

namespace {

constexpr wchar_t kPayloadFileName[] = L"patch_payload.dat";

// The longest folder text taken from the box is one less than this; a longer text is cut.
constexpr int kFolderBufferLength = 1040;

std::wstring ReadGameFolder() {
    wchar_t buffer[kFolderBufferLength] = {};
    ::GetWindowTextW(gGameFolderBox, buffer, static_cast<int>(std::size(buffer)));
    return std::wstring(buffer);
}

bool IsPlainFile(const std::wstring& path) { return platform::GetPathKind(path) == platform::PathKind::File; }

// The manifest must have been read and both data files must lie beside the executable.
bool PatchDataPresent(const std::wstring& exeDirectory) {
    return !gPatchManifest.empty() && IsPlainFile(JoinPath(exeDirectory, kManifestFileName)) &&
           IsPlainFile(JoinPath(exeDirectory, kPayloadFileName));
}

void SetStatus(UiTextRow row) { SetStatusText(UiText(row)); }

// The box is closed before the button comes back, so a second run cannot start under it.
void FailAndEnable(UiTextRow error) {
    EndInstallPump();
    ShowErrorBox(UiText(error));
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
    BeginInstallPump();
    SetStatus(UiTextRow::StatusVerifying);
    // A run that was killed may have replaced the very file verification looks at: the folder is
    // put back first. Should that fail, the extraction below refuses to start and says so.
    RecoverGameFolder(gameFolder);
    // The alternate record is looked at only when the primary one does not match.
    std::wstring extractionFolder;
    if (!VerifyGameFolder(gameFolder, extractionFolder)) {
        FailAndEnable(UiTextRow::ErrorWrongFolder);
        return;
    }
    SetStatus(UiTextRow::StatusInstalling);
    SetStatus(UiTextRow::StatusExtracting);
    if (!ExtractPayload(JoinPath(exeDirectory, kPayloadFileName), extractionFolder)) {
        FailAndEnable(UiTextRow::ErrorInstall);
        return;
    }
    EndInstallPump();
    SetStatus(UiTextRow::StatusInstalled);
    ::MessageBoxW(gInstallerWindow, UiText(UiTextRow::StatusInstalled), WindowTitleText().c_str(),
                  MB_ICONINFORMATION | MB_OK);
    ::DestroyWindow(gInstallerWindow);
}
