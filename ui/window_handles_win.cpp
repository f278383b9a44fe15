#include "ui/window_handles_win.h"

#include "ui/ui_text.h"

HWND gInstallerWindow = nullptr;
HWND gBannerView = nullptr;
HWND gMessageLabel = nullptr;
HWND gGreetingBox = nullptr;
HWND gGameFolderLabel = nullptr;
HWND gGameFolderBox = nullptr;
HWND gBrowseButton = nullptr;
HWND gNoteLabel = nullptr;
HWND gStatusLabel = nullptr;
HWND gStatusLine = nullptr;
HWND gInstallButton = nullptr;
HWND gCancelButton = nullptr;

void ShowErrorBox(const std::wstring& text) {
    ::MessageBoxW(gInstallerWindow, text.c_str(), WindowTitleText().c_str(), MB_ICONERROR | MB_OK);
}

void SetStatusText(const std::wstring& text) {
    ::SetWindowTextW(gStatusLine, text.c_str());
    // Painted now: the install runs inside a message handler and the loop does not get to it.
    ::UpdateWindow(gStatusLine);
}
