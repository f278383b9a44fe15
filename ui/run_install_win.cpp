#include "ui/run_install_win.h"

#include <windows.h>

#include <iterator>
#include <string>

#include "common/paths.h"
#include "common/text.h"
#include "install/install_log.h"
#include "install/install_run.h"
#include "install/payload.h"
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

void SetStatus(UiTextRow row) {
    SetStatusText(UiText(row));
}

// One install as the window shows it: the Install button disabled, the log's run, the progress bar
// and the pump that keeps the window answering. Begun when the sequence starts on the folder, so
// that an install turned away before that (data missing, folder busy) shows no bar and writes no
// run; ended here, once, whatever the outcome. The box is shown between Stop and the end, so the
// button comes back only once it is closed and a second run cannot start under it.
class InstallScope {
public:
    InstallScope(const std::wstring& chosenFolder, uint64_t archiveBytes)
        : chosenFolder_(chosenFolder), archiveBytes_(archiveBytes) {}
    ~InstallScope() {
        if (!begun_) return;
        Stop(false);
        EndInstallProgress();
        ::EnableWindow(gInstallButton, TRUE);
    }
    InstallScope(const InstallScope&) = delete;
    InstallScope& operator=(const InstallScope&) = delete;

    void Begin() {
        begun_ = true;
        ::EnableWindow(gInstallButton, FALSE);
        // The file written (a fresh one beside the usual name when something else stands there),
        // for the box; empty when the log cannot be written.
        BeginInstallLog(InstallLogPath(platform::TempDirectory(), WindowTitleText()), LanguageCode(gInstallLanguage),
                        chosenFolder_, &logPath_);
        BeginInstallProgress(archiveBytes_);
        BeginInstallPump(UpdateInstallProgress, nullptr);
    }

    // The work is over: the log's run is closed, input flows again, and the bar shows the outcome.
    void Stop(bool installed) {
        if (!begun_ || stopped_) return;
        stopped_ = true;
        if (!EndInstallLog()) logPath_.clear();
        EndInstallPump();
        if (!installed) {
            FailInstallProgress();
            return;
        }
        // The status first: a bar at its end always stands beside the finished status.
        SetStatus(UiTextRow::StatusInstalled);
        CompleteInstallProgress();
    }

    // The log's path when this run reached it whole; else empty.
    const std::wstring& loggedTo() const { return logPath_; }

private:
    const std::wstring chosenFolder_;
    const uint64_t archiveBytes_;
    bool begun_ = false;
    bool stopped_ = false;
    std::wstring logPath_;
};

void OnStage(InstallStage stage, void* context) {
    if (stage == InstallStage::Verifying) {
        static_cast<InstallScope*>(context)->Begin();
        SetStatus(UiTextRow::StatusVerifying);
        return;
    }
    SetStatus(UiTextRow::StatusInstalling);
    SetStatus(UiTextRow::StatusExtracting);
}

UiTextRow ErrorRow(InstallOutcome outcome) {
    switch (outcome) {
        case InstallOutcome::WrongFolder:
            return UiTextRow::ErrorWrongFolder;
        case InstallOutcome::DamagedPatch:
            return UiTextRow::ErrorDamagedPatch;
        case InstallOutcome::NotRestored:
            return UiTextRow::ErrorNotRestored;
        case InstallOutcome::FolderBusy:
            return UiTextRow::ErrorFolderBusy;
        case InstallOutcome::PatchDataMissing:
            return UiTextRow::ErrorNoPayload;
        case InstallOutcome::OldVersionDiffers:
            return UiTextRow::ErrorOldVersion;
        case InstallOutcome::Installed:
        case InstallOutcome::ExtractionFailed:
            break;
    }
    return UiTextRow::ErrorInstall;
}

// The log's path is the box's second line when this run reached the log.
std::wstring ErrorText(const InstallResult& result, const std::wstring& loggedTo) {
    std::wstring text = UiText(ErrorRow(result.outcome));
    // The first file that is not the old version, as the patch names it (the log lists them all).
    if (result.outcome == InstallOutcome::OldVersionDiffers && !result.oldVersionDiffers.empty())
        text += L"\n" + Utf8ToWide(result.oldVersionDiffers.front());
    if (!loggedTo.empty()) text += std::wstring(L"\n") + UiText(UiTextRow::InstallLogNote) + loggedTo;
    return text;
}

}  // namespace

void RunInstall() {
    const std::wstring gameFolder = ReadGameFolder();
    if (gameFolder.empty()) {
        ShowErrorBox(UiText(UiTextRow::ErrorNoFolder));
        return;
    }
    const std::wstring exeDirectory = GetExeDirectory();
    InstallRequest request;
    request.manifestPath = JoinPath(exeDirectory, kManifestFileName);
    request.payloadPath = JoinPath(exeDirectory, kPayloadFileName);
    request.chosenFolder = gameFolder;
    bool installed = false;
    {
        InstallScope scope(gameFolder, FileSize(request.payloadPath));
        request.observer = OnStage;
        request.observerContext = &scope;
        const InstallResult result = RunInstallSequence(request);
        installed = result.outcome == InstallOutcome::Installed;
        scope.Stop(installed);
        if (installed) {
            ::MessageBoxW(gInstallerWindow, UiText(UiTextRow::StatusInstalled), WindowTitleText().c_str(),
                          MB_ICONINFORMATION | MB_OK);
        } else {
            ShowErrorBox(ErrorText(result, scope.loggedTo()));
        }
    }
    if (installed) ::DestroyWindow(gInstallerWindow);
}
