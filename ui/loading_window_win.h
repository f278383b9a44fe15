#pragma once
// The small topmost "Loading..." box shown while start-up reads the manifest and the banners.
// Windows only.
#include <windows.h>

#include "platform/win_handle.h"

constexpr wchar_t kLoadingWindowClass[] = L"PatchNativeLoading";
constexpr int kLoadingWindowWidth = 220;
constexpr int kLoadingWindowHeight = 72;

// Paints "Loading..." bold and centred; everything else goes to DefWindowProcW.
LRESULT CALLBACK LoadingWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The font of one paint: "Segoe UI" 20 bold, owned by the caller.
platform::UniqueGdiObject CreateLoadingFont();

// Top-left corner that centres a window of the given size on the work area (the screen less the
// taskbar), in 32-bit signed arithmetic truncating toward zero.
POINT CenterOnWorkArea(const RECT& workArea, int width, int height);
