#include "ui/loading_window_win.h"

#include "platform/win_handle.h"
#include "ui/gdi_scope_win.h"

namespace {

void PaintLoadingWindow(HWND window) {
    ui::PaintScope paint(window);
    RECT client{};
    ::GetClientRect(window, &client);
    // Made for this paint and deleted at its end, so repeated paints hold no GDI objects.
    platform::UniqueGdiObject font = CreateLoadingFont();
    ui::SelectScope select(paint.get(), font.get());
    ::DrawTextW(paint.get(), L"Loading...", -1, &client, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

}  // namespace

platform::UniqueGdiObject CreateLoadingFont() {
    return platform::UniqueGdiObject(::CreateFontW(20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0,
                                                   L"Segoe UI"));
}

LRESULT CALLBACK LoadingWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintLoadingWindow(window);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

POINT CenterOnWorkArea(const RECT& workArea, int width, int height) {
    const LONG x = workArea.left + (workArea.right - workArea.left - width) / 2;
    const LONG y = workArea.top + (workArea.bottom - workArea.top - height) / 2;
    return POINT{x, y};
}
