// One complete install of the demo patch, driven like a user would, with screenshots.
#include "e2e/scenarios.h"
#include "e2e/session_win.h"

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
    HWND box = WaitForWindow(process.pid(), L"#32770", window, 120000);
    if (checks.Expect(box != nullptr, "a message box reports the outcome")) {
        ::Sleep(300);
        SaveShot(window, L"3-after-install");
        SaveShot(box, L"4-outcome-box");
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
