#include "e2e/session_win.h"

#include <commctrl.h>

#include "ui/ui_text.h"

namespace e2e {

DriverPaths gPaths;

DemoPatch PatchInLanguage(int language) {
    DemoPatch patch = MakeDemoPatch();
    SetEntry(patch.manifest, "LanguageIndex", std::to_string(language));
    return patch;
}

bool Launch(Checks& checks, Session& session, const DemoPatch& patch, int language, const std::wstring& title,
            BannerView bannerView, DWORD windowTimeoutMs) {
    session.language = language;
    session.title = title;
    if (!checks.Expect(session.stage.ok() && session.stage.WritePatch(patch), "stage the installer and its data")) {
        return false;
    }
    if (!checks.Expect(session.process.Start(session.stage), "start PatchInstaller.exe")) return false;
    session.window = WaitForWindow(session.process.pid(), L"PatchNativeInstaller", nullptr, windowTimeoutMs);
    if (!checks.Expect(session.window != nullptr, "installer window appears")) return false;
    const std::vector<HWND> children = Children(session.window);
    const bool withBannerView = bannerView == BannerView::Present ||
                                (bannerView == BannerView::AsLoaded && children.size() == kControlCount + 1);
    const int first = withBannerView ? 1 : 0;
    if (!checks.Equal(static_cast<int>(children.size()), first + kControlCount,
                      withBannerView ? "banner view and controls" : "controls (no banner view without banners)")) {
        return false;
    }
    if (withBannerView) session.bannerView = children[0];
    for (int i = 0; i < kControlCount; ++i) session.controls[i] = children[first + i];
    // The status line is written last in WM_CREATE; once it shows, the window is ready.
    const std::wstring ready = UiText(UiTextRow::StatusChooseFolder, language);
    return checks.Expect(WaitFor([&] { return TextOf(session.control(kStatusLine)) == ready; }, kTimeoutMs),
                         "window reaches the ready state");
}

bool ExpectBox(Checks& checks, Session& session, const std::wstring& text, BoxIcon icon,
               const std::function<void()>& whileShown) {
    HWND box = WaitForWindow(session.process.pid(), L"#32770", session.window, kTimeoutMs);
    if (!checks.Expect(box != nullptr, "message box owned by the installer window appears")) return false;
    MessageBoxView view;
    // The icon is read from the screen, so wait until the box has been painted.
    WaitFor(
        [&] {
            view = ReadMessageBox(box);
            return view.icon == icon;
        },
        2000);
    checks.Equal(view.caption, session.title, "message box caption");
    checks.Equal(view.text, text, "message box text");
    checks.Equal(std::string(BoxIconName(view.icon)), std::string(BoxIconName(icon)), "message box icon");
    checks.Equal(view.buttonCount, 1, "message box buttons");
    checks.Expect(!::IsWindowEnabled(session.window), "installer window disabled while the box is shown");
    if (whileShown) whileShown();
    if (!checks.Expect(view.okButton != nullptr, "message box has an OK button")) return false;
    Click(view.okButton);
    return checks.Expect(WaitUntilGone(box, kTimeoutMs), "message box closes on OK");
}

void ExpectExitZero(Checks& checks, Session& session) {
    checks.Expect(WaitUntilGone(session.window, kTimeoutMs), "installer window is destroyed");
    DWORD code = 12345;
    checks.Expect(session.process.WaitForExit(kTimeoutMs, code), "process ends");
    checks.Equal(static_cast<long>(code), 0L, "exit code");
}

void ExpectButtonAndStatus(Checks& checks, const Session& session, bool enabled, const std::wstring& status,
                           const std::string& when) {
    checks.Equal(::IsWindowEnabled(session.control(kInstallButton)) != FALSE, enabled,
                 "install button enabled " + when);
    checks.Equal(TextOf(session.control(kStatusLine)), status, "status line " + when);
}

void SaveShot(HWND window, const std::wstring& name) {
    if (gPaths.shotsDir.empty()) return;
    ::CreateDirectoryW(gPaths.shotsDir.c_str(), nullptr);
    const std::wstring path = gPaths.shotsDir + L"\\" + name + L".png";
    if (!SaveWindowPng(window, path)) std::printf("note: could not save %s\n", Utf8(path).c_str());
}

HWND FindProgressBar(HWND installerWindow) {
    for (HWND child : Children(installerWindow)) {
        if (_wcsicmp(ClassOf(child).c_str(), L"msctls_progress32") == 0) return child;
    }
    return nullptr;
}

int ProgressPosition(HWND bar) {
    DWORD_PTR position = 0;
    if (!::SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position)) return -1;
    return static_cast<int>(position);
}

void ExpectProgressBarPlaced(Checks& checks, const Session& session, HWND bar) {
    const RECT r = RectInParent(bar, session.window);
    const RECT status = RectInParent(session.control(kStatusLine), session.window);
    const RECT button = RectInParent(session.control(kInstallButton), session.window);
    RECT client{};
    ::GetClientRect(session.window, &client);
    checks.Expect(::IsWindowVisible(bar) != FALSE, "progress bar visible");
    checks.Expect(r.left >= client.left && r.top >= client.top && r.right <= client.right && r.bottom <= client.bottom,
                  "progress bar inside the client area");
    checks.Equal(r.left, status.left, "progress bar aligned with the status line (left)");
    checks.Equal(r.right, status.right, "progress bar aligned with the status line (right)");
    checks.Expect(r.top >= status.bottom && r.bottom <= button.top && Height(r) > 0,
                  "progress bar between the status line and the buttons");
    for (HWND child : Children(session.window)) {
        if (child == bar) continue;
        RECT other = RectInParent(child, session.window), overlap{};
        checks.Expect(!::IntersectRect(&overlap, &r, &other), "progress bar overlaps no control: " + Utf8(ClassOf(child)));
    }
}

std::wstring InstallLogPathOf(const Session& session) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + session.title + L".log";
}

}  // namespace e2e
