// One complete install of the demo patch, driven like a user would, with screenshots.
#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "ui/install_progress_win.h"

namespace e2e {

bool DriveDemo(const std::wstring& gameFolder) {
    Checks checks("demo");
    InstallerProcess process;
    const std::wstring exe = gPaths.installerExe;
    if (!checks.Expect(process.Start(exe, exe.substr(0, exe.find_last_of(L'\\'))), "start the installer")) {
        return checks.Finish();
    }
    HWND window = WaitForWindow(process.pid(), L"PatchNativeInstaller", nullptr, 60000);
    const std::vector<HWND> controls = window ? Children(window) : std::vector<HWND>();
    if (!checks.Expect(controls.size() >= kControlCount, "installer window with its controls")) return checks.Finish();
    const size_t offset = controls.size() - kControlCount;  // a banner view comes first when there is one
    HWND folderBox = controls[offset + kGameFolderBox];
    HWND statusLine = controls[offset + kStatusLine];
    WaitFor([&] { return !TextOf(statusLine).empty(); }, kTimeoutMs);
    ::Sleep(300);  // let the controls finish painting
    SaveShot(window, L"1-ready");
    SetText(folderBox, gameFolder);
    SaveShot(window, L"2-folder-chosen");
    Click(controls[offset + kInstallButton]);
    // The demo's payload carries a large file, so the bar is caught on its way.
    HWND box = nullptr;
    int shotPosition = 0;  // of the saved "installing" shot; 0 while there is none
    const DWORD start = ::GetTickCount();
    while (!box && ::GetTickCount() - start < 120000) {
        HWND bar = FindProgressBar(window);
        const int position = bar ? ProgressPosition(bar) : -1;
        // Short of the end (a full bar is the finished install); a later shot with a tenth or more
        // of the bar replaces one taken at the very start.
        const int tenth = kInstallProgressRange / 10;
        if (position > 0 && position < kInstallProgressRange &&
            (shotPosition == 0 || (shotPosition < tenth && position >= tenth))) {
            SaveShot(window, L"3-installing");
            shotPosition = position;
        }
        box = WaitForWindow(process.pid(), L"#32770", window, 0);
        ::Sleep(5);
    }
    std::printf("progress while installing: %d of %d\n", shotPosition, kInstallProgressRange);
    checks.Expect(shotPosition > 0, "the progress bar was seen short of its end during the install");
    if (checks.Expect(box != nullptr, "a message box reports the outcome")) {
        ::Sleep(300);
        SaveShot(window, L"4-after-install");
        SaveShot(box, L"5-outcome-box");
        const MessageBoxView view = ReadMessageBox(box);
        std::printf("status: %s\nbox: %s\n", Utf8(TextOf(statusLine)).c_str(), Utf8(view.text).c_str());
        checks.Equal(std::string(BoxIconName(view.icon)), std::string("information"), "the install succeeded");
        if (view.okButton) Click(view.okButton);
    }
    DWORD code = 1;
    checks.Expect(process.WaitForExit(kTimeoutMs, code) && code == 0, "installer ends with exit code 0");
    return checks.Finish();
}

}  // namespace e2e
