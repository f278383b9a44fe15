#pragma once
// The installer window and its controls, shared by the window procedure, the install sequence and
// the banner view. All are set by the installer window's WM_CREATE and valid until it is destroyed;
// null before and after. Windows build only.
#include <windows.h>

#include <string>

extern HWND gInstallerWindow;
extern HWND gBannerView;  // stays null when no banner view is created
extern HWND gMessageLabel;
extern HWND gGreetingBox;
extern HWND gGameFolderLabel;
extern HWND gGameFolderBox;
extern HWND gBrowseButton;
extern HWND gNoteLabel;
extern HWND gStatusLabel;
extern HWND gStatusLine;
extern HWND gInstallButton;
extern HWND gCancelButton;

// Modal error box owned by the installer window, with the window title as caption.
void ShowErrorBox(const std::wstring& text);

// Writes the status line and paints it at once, also while the thread is busy.
void SetStatusText(const std::wstring& text);
