#include "ui/installer_window_win.h"

#include <algorithm>

#include "ui/banner_view_win.h"
#include "banner/banners.h"
#include "ui/run_install_win.h"
#include "ui/folder_picker_win.h"
#include "ui/gdi_scope_win.h"
#include "ui/install_pump_win.h"
#include "ui/ui_text.h"
#include "ui/window_handles_win.h"

HINSTANCE gInstance = nullptr;
HFONT gBodyFont = nullptr;
HFONT gButtonFont = nullptr;
HFONT gSmallButtonFont = nullptr;

namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kGreetingBoxStyle = kChildStyle | WS_BORDER | WS_VSCROLL | ES_READONLY | ES_MULTILINE;
constexpr DWORD kGameFolderBoxStyle = kChildStyle | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kStatusLineStyle = kChildStyle | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL;

// Left edge and width of the full-width controls: as wide as the banner view, whose width the
// banner core scales the images to.
constexpr int kLeft = 24;
constexpr int kFullWidth = kBannerViewWidth;

HFONT CreateSegoeFont(int height) {
    return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, L"Segoe UI");
}

void SetControlFont(HWND control, HFONT font) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

HWND CreateChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id, int x, int y,
                 int width, int height) {
    return ::CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
}

HWND CreateEditBox(HWND parent, const wchar_t* text, DWORD style, int id, int x, int y, int width, int height) {
    HWND box = CreateChild(parent, L"EDIT", text, style, id, x, y, width, height);
    SetControlFont(box, gBodyFont);
    return box;
}

// A banner far taller than wide would push every control, Install included, below the screen. The
// banner area is lowered so that the window fits the work area of its monitor, and the window is
// moved inside that area when its default place would still cut it off. Nothing changes for a
// window that fits.
void FitIntoMonitor(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    const RECT& work = monitor.rcWork;
    FitBannerArea(kInstallerWindowBaseHeight, work.bottom - work.top);
    RECT outer{};
    if (!::GetWindowRect(window, &outer)) return;
    const int height = gBannerAreaHeight + kInstallerWindowBaseHeight;
    const int x = std::max<int>(work.left, std::min<int>(outer.left, work.right - kInstallerWindowWidth));
    const int y = std::max<int>(work.top, std::min<int>(outer.top, work.bottom - height));
    if (x == outer.left && y == outer.top && height == outer.bottom - outer.top) return;
    ::SetWindowPos(window, nullptr, x, y, kInstallerWindowWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The banner view and its timer exist only when there is something to show. Returns the y of the
// first control row below the banner area.
int CreateBannerArea(HWND window) {
    if (gBannerList.empty() || gBannerAreaHeight <= 0) return 24;
    gBannerView =
        CreateChild(window, kBannerViewClassName, L"", kChildStyle, 0, kLeft, 24, kFullWidth, gBannerAreaHeight);
    StartBannerRotation();
    if (gBannerList.size() > 1) ::SetTimer(window, kBannerTimerId, kBannerTimerPeriodMs, nullptr);
    return gBannerAreaHeight + 44;
}

void CreateControls(HWND window, int top) {
    gMessageLabel = CreateLabel(window, kLeft, top, 680, 24);
    gGreetingBox =
        CreateEditBox(window, GreetingText().c_str(), kGreetingBoxStyle, 0, kLeft, top + 26, kFullWidth, 130);
    gGameFolderLabel = CreateLabel(window, kLeft, top + 181, 140, 24);
    gGameFolderBox = CreateEditBox(window, L"", kGameFolderBoxStyle, kIdGameFolderBox, 170, top + 178, 402, 24);
    gBrowseButton = CreateButton(window, kIdBrowseButton, 590, top + 175, 124, 30);
    gNoteLabel = CreateLabel(window, kLeft, top + 224, kFullWidth, 42);
    gStatusLabel = CreateLabel(window, kLeft, top + 278, kFullWidth, 24);
    gStatusLine = CreateEditBox(window, L"", kStatusLineStyle, 0, kLeft, top + 306, kFullWidth, 28);
    gInstallButton = CreateButton(window, kIdInstallButton, 434, top + 366, 132, 34);
    gCancelButton = CreateButton(window, kIdCancelButton, 582, top + 366, 132, 34);
}

LRESULT OnCreate(HWND window) {
    gInstallerWindow = window;  // first, so that it is valid while the controls are built
    CreateUiFonts();
    FitIntoMonitor(window);
    const int top = CreateBannerArea(window);
    CreateControls(window, top);
    ApplyLanguageTexts();
    SetStatusText(UiText(UiTextRow::StatusChooseFolder));
    return 0;
}

void OnBrowse(HWND window) {
    const std::wstring folder = PickGameFolder(window);
    if (!folder.empty()) ::SetWindowTextW(gGameFolderBox, folder.c_str());
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
    if (InstallPumpActive()) return 0;  // Browse, Install and Cancel do nothing while the install works
    switch (LOWORD(wParam)) {
        case kIdBrowseButton:
            OnBrowse(window);
            break;
        case kIdInstallButton:
            RunInstall();
            break;
        case kIdCancelButton:
            ::DestroyWindow(window);
            break;
        default:
            break;
    }
    return 0;
}

LRESULT OnTimer(WPARAM timerId) {
    if (timerId == kBannerTimerId && gBannerList.size() > 1) AdvanceBannerRotation(gBannerView);
    return 0;
}

void DeleteFont(HFONT& font) {
    if (font) ::DeleteObject(font);
    font = nullptr;
}

LRESULT OnDestroy(HWND window) {
    ::KillTimer(window, kBannerTimerId);
    DeleteUiFonts();
    ::PostQuitMessage(0);
    return 0;
}

// The last message the window receives: the handles are null again from here on.
void ForgetWindowHandles() {
    for (HWND* handle :
         {&gInstallerWindow, &gBannerView, &gMessageLabel, &gGreetingBox, &gGameFolderLabel, &gGameFolderBox,
          &gBrowseButton, &gNoteLabel, &gStatusLabel, &gStatusLine, &gInstallButton, &gCancelButton}) {
        *handle = nullptr;
    }
}

}  // namespace

void CreateUiFonts() {
    if (!gBodyFont) gBodyFont = CreateSegoeFont(18);
    if (!gButtonFont) gButtonFont = CreateSegoeFont(18);
    if (!gSmallButtonFont) gSmallButtonFont = CreateSegoeFont(14);
}

void DeleteUiFonts() {
    DeleteFont(gBodyFont);
    DeleteFont(gButtonFont);
    DeleteFont(gSmallButtonFont);
}

HWND CreateButton(HWND parent, int id, int x, int y, int width, int height) {
    HWND button = CreateChild(parent, L"BUTTON", L"", kChildStyle, id, x, y, width, height);
    SetControlFont(button, gButtonFont);
    return button;
}

HWND CreateLabel(HWND parent, int x, int y, int width, int height) {
    HWND label = CreateChild(parent, L"STATIC", L"", kChildStyle, 0, x, y, width, height);
    SetControlFont(label, gBodyFont);
    return label;
}

void SetFittedCaption(HWND button, const std::wstring& text) {
    ::SetWindowTextW(button, text.c_str());
    RECT client{};
    ::GetClientRect(button, &client);
    const int width = client.right - client.left;
    SIZE extent{};
    {
        ui::WindowDc dc(button);
        ui::SelectScope font(dc.get(), gButtonFont);
        ::GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    const bool tooWideJapanese = gInstallLanguage == kJapaneseLanguage && extent.cx > width - kCaptionMargin;
    SetControlFont(button, tooWideJapanese ? gSmallButtonFont : gButtonFont);
}

void ApplyLanguageTexts() {
    ::SetWindowTextW(gInstallerWindow, WindowTitleText().c_str());
    ::SetWindowTextW(gMessageLabel, UiText(UiTextRow::MessageCaption));
    ::SetWindowTextW(gGameFolderLabel, UiText(UiTextRow::GameFolderCaption));
    SetFittedCaption(gBrowseButton, UiText(UiTextRow::BrowseCaption));
    SetFittedCaption(gInstallButton, UiText(UiTextRow::InstallCaption));
    SetFittedCaption(gCancelButton, UiText(UiTextRow::CancelCaption));
    ::SetWindowTextW(gNoteLabel, UiText(UiTextRow::InstallNote));
    ::SetWindowTextW(gStatusLabel, UiText(UiTextRow::StatusCaption));
    ::SetWindowTextW(gGreetingBox, GreetingText().c_str());
}

LRESULT CALLBACK InstallerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_COMMAND:
            return OnCommand(window, wParam);
        case WM_TIMER:
            return OnTimer(wParam);
        case WM_DESTROY:
            return OnDestroy(window);
        case WM_CLOSE:
            if (InstallPumpActive()) return 0;  // a close request during the install is dropped, not queued
            break;
        case WM_SYSCOMMAND:
            if (InstallPumpActive() && (wParam & 0xFFF0) == SC_CLOSE) return 0;
            break;
        case WM_NCDESTROY:
            ForgetWindowHandles();
            break;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}
