#pragma once
// The installer window: its window procedure, the three UI fonts, the control helpers, the
// caption-fitting rule of the push buttons and the texts of the install language. Windows only.
#include <windows.h>

#include <string>

constexpr wchar_t kInstallerWindowClass[] = L"PatchNativeInstaller";

constexpr int kInstallerWindowWidth = 758;  // outer size; the height is the banner area + 520
constexpr int kInstallerWindowBaseHeight = 520;
constexpr DWORD kInstallerWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

constexpr int kIdGameFolderBox = 1002;
constexpr int kIdBrowseButton = 1003;
constexpr int kIdInstallButton = 1004;
constexpr int kIdCancelButton = 1005;

constexpr UINT_PTR kBannerTimerId = 2001;
constexpr UINT kBannerTimerPeriodMs = 33;

// Buttons whose Japanese caption does not fit within the client width less this margin switch to
// the small font.
constexpr int kCaptionMargin = 18;

// The module handle passed to wWinMain; every window and control is created with it.
extern HINSTANCE gInstance;

// Created by CreateUiFonts, deleted (and reset to null) by DeleteUiFonts: at the installer window's
// WM_DESTROY, or at the end of start-up's UiFonts when the window never came to be.
extern HFONT gBodyFont;
extern HFONT gButtonFont;
extern HFONT gSmallButtonFont;

// Creates whichever of the three fonts is still null, so it may be called more than once.
void CreateUiFonts();
// Deletes whichever of the three fonts is not null; again harmless.
void DeleteUiFonts();

// The three fonts for the life of start-up: created by the constructor, deleted by the destructor
// unless the installer window's WM_DESTROY did it first.
class UiFonts {
public:
    UiFonts() { CreateUiFonts(); }
    ~UiFonts() { DeleteUiFonts(); }
    UiFonts(const UiFonts&) = delete;
    UiFonts& operator=(const UiFonts&) = delete;
};

// A push button with an empty caption and ButtonFont.
HWND CreateButton(HWND parent, int id, int x, int y, int width, int height);

// A left-aligned label (id 0) with an empty text and BodyFont.
HWND CreateLabel(HWND parent, int x, int y, int width, int height);

// Sets the caption, then picks ButtonFont, or SmallButtonFont for a Japanese caption that is too
// wide for the button. The width is always measured with ButtonFont.
void SetFittedCaption(HWND button, const std::wstring& text);

// Writes the install language's texts into the title and every control but the status line.
void ApplyLanguageTexts();

LRESULT CALLBACK InstallerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
