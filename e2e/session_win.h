#pragma once
// One run of the installer from a scenario's point of view: the staged folder, the process, the
// installer window and its controls, and the checks that recur in many scenarios.
#include <windows.h>

#include <functional>
#include <string>

#include "e2e/checks.h"
#include "e2e/stage_win.h"
#include "e2e/win_probe_win.h"

namespace e2e {

constexpr DWORD kTimeoutMs = 10000;

// Where the scenarios find the installer and put their screenshots (set from the command line).
struct DriverPaths {
    std::wstring installerExe;
    std::wstring shotsDir;  // empty: no screenshots
};
extern DriverPaths gPaths;

// The controls in creation order, as a user sees them from top to bottom.
enum ControlIndex {
    kMessageLabel,
    kGreetingBox,
    kGameFolderLabel,
    kGameFolderBox,
    kBrowseButton,
    kNoteLabel,
    kStatusLabel,
    kStatusLine,
    kInstallButton,
    kCancelButton,
    kControlCount
};

struct Session {
    explicit Session(const std::wstring& installerExe) : stage(installerExe) {}
    Stage stage;
    InstallerProcess process;
    HWND window = nullptr;
    HWND controls[kControlCount] = {};
    int language = 0;
    std::wstring title;
    HWND bannerView = nullptr;  // only when the patch has banners  // the title the window is expected to carry

    HWND control(ControlIndex index) const { return controls[index]; }
};

// The demo patch with LanguageIndex set to `language`.
DemoPatch PatchInLanguage(int language);

// Stages `patch`, starts the installer and waits for its window with all ten controls (and the
// banner view first when there is one: `AsLoaded` accepts either). `language` and `title` are what the window is expected
// to show.
enum class BannerView { Absent, Present, AsLoaded };
// `windowTimeoutMs` is how long the window may take to appear (downloads at start-up delay it).
bool Launch(Checks& checks, Session& session, const DemoPatch& patch, int language, const std::wstring& title,
            BannerView bannerView = BannerView::Absent, DWORD windowTimeoutMs = kTimeoutMs);

// Waits for the message box owned by the installer window and checks its caption (the window
// title), text, icon and single OK button; runs `whileShown` and then presses OK.
bool ExpectBox(Checks& checks, Session& session, const std::wstring& text, BoxIcon icon,
               const std::function<void()>& whileShown);

// The window disappears and the process ends with exit code 0.
void ExpectExitZero(Checks& checks, Session& session);

// Install button state and status line text.
void ExpectButtonAndStatus(Checks& checks, const Session& session, bool enabled, const std::wstring& status,
                           const std::string& when);

void SaveShot(HWND window, const std::wstring& name);

// The install's progress bar among the installer window's children; null when there is none.
HWND FindProgressBar(HWND installerWindow);
// The bar's position (PBM_GETPOS), -1 when it does not answer.
int ProgressPosition(HWND bar);
// The bar sits inside the client area, between the status line and the buttons and as wide as the
// status line, and overlaps no other control.
void ExpectProgressBarPlaced(Checks& checks, const Session& session, HWND bar);

// Where the installer keeps its log: the temporary folder, the window title, ".log".
std::wstring InstallLogPathOf(const Session& session);

}  // namespace e2e
