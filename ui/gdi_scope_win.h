#pragma once
// Scopes for the GDI objects of one paint or one measurement, and for GDI+ itself: each puts back
// or releases what it took on every way out. Windows only.
#include <windows.h>
// objidl.h must come before gdiplus.h when WIN32_LEAN_AND_MEAN is set.
#include <objidl.h>
// (kept apart so that include sorting leaves the order alone)
#include <gdiplus.h>

#include "platform/win_handle.h"

namespace ui {

// The window's device context from GetDC, released with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint ... EndPaint.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window) { dc_ = ::BeginPaint(window, &paint_); }
    ~PaintScope() { ::EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Selects an object into a device context and selects the previous one back on exit, so the
// object can be deleted afterwards.
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc ? ::SelectObject(dc, object) : nullptr) {}
    ~SelectScope() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

struct GraphicsTraits {
    using Type = Gdiplus::GpGraphics*;
    static Gdiplus::GpGraphics* Invalid() { return nullptr; }
    static void Close(Gdiplus::GpGraphics* graphics) { Gdiplus::DllExports::GdipDeleteGraphics(graphics); }
};
// A GDI+ drawing surface on a device context, from GdipCreateFromHDC.
using UniqueGraphics = platform::UniqueValue<GraphicsTraits>;

// GDI+ for the whole process: GdiplusShutdown runs on exit only when GdiplusStartup succeeded.
// Every image must be disposed of before the session ends.
class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
    }
    ~GdiplusSession() {
        if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    bool started() const { return token_ != 0; }

private:
    ULONG_PTR token_ = 0;
};

}  // namespace ui
