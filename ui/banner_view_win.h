#pragma once
// The banner view: a child window of class "PatchBannerView" that shows gBannerList one banner at
// a time, scaled to its width, slides to the next banner on the rotation steps of the installer
// window's timer, and opens a banner's link on a click. It keeps no state of its own. Windows only.
#include <windows.h>
// objidl.h must come before gdiplus.h when WIN32_LEAN_AND_MEAN is set.
#include <objidl.h>
// (kept apart so that include sorting leaves the order alone)
#include <gdiplus.h>

#include <cstdint>

extern const wchar_t kBannerViewClassName[];  // "PatchBannerView"

LRESULT CALLBACK BannerViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws `image` (nothing when null or of zero size) scaled to `width` with its aspect ratio kept,
// centred vertically in a band `height` high, with its left edge at `x`.
void DrawBanner(Gdiplus::GpGraphics* graphics, Gdiplus::GpImage* image, int width, int height, int x);

// The whole view as it looks at tick `now`, drawn off-screen and copied to `target` at (0, 0) in one
// BitBlt: the background colour, then the current banner (and the next one during a slide).
void PaintBannerView(HDC target, int width, int height, uint32_t now);

// Called by the installer window right after it created the view: the first banner is held from now.
void StartBannerRotation();
// Called on every tick of the installer window's banner timer: advances gBannerRotation and
// repaints `view` (nothing to repaint when it is null). The window passes its own handle in, so the
// view knows nothing of the window that holds it.
void AdvanceBannerRotation(HWND view);
