#include "ui/banner_view_win.h"

#include <shellapi.h>

#include "banner/banners.h"
#include "banner/links.h"
#include "banner/rotation.h"
#include "platform/image_win.h"
#include "platform/win_handle.h"
#include "ui/gdi_scope_win.h"

const wchar_t kBannerViewClassName[] = L"PatchBannerView";

namespace {

constexpr COLORREF kBannerBackground = RGB(245, 245, 245);

// The banner on show (the one moving out during a slide), or null when there is none.
const BannerEntry* CurrentBanner() {
    int32_t index = gBannerRotation.currentIndex;
    if (index < 0 || static_cast<size_t>(index) >= gBannerList.size()) return nullptr;
    return &gBannerList[static_cast<size_t>(index)];
}

// Only a web address counts as a link: any other text would let the manifest start a program or
// reach a network share through the shell.
bool CurrentBannerHasLink() {
    const BannerEntry* banner = CurrentBanner();
    return banner != nullptr && IsOpenableLink(banner->link);
}

void DrawBanners(HDC dc, int width, int height, uint32_t now) {
    const BannerEntry* current = CurrentBanner();
    if (current == nullptr || !current->image.IsLoaded()) return;
    Gdiplus::GpGraphics* created = nullptr;
    if (Gdiplus::DllExports::GdipCreateFromHDC(dc, &created) != Gdiplus::Ok) return;
    ui::UniqueGraphics graphics(created);
    Gdiplus::DllExports::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    Gdiplus::GpImage* image = platform::GdiplusImageOf(current->image);
    size_t count = gBannerList.size();
    if (gBannerRotation.sliding && count > 1) {
        int offset = BannerSlideOffset(now, gBannerRotation.slideStartTick, width);
        const BannerEntry& next = gBannerList[(static_cast<size_t>(gBannerRotation.currentIndex) + 1) % count];
        DrawBanner(graphics.get(), image, width, height, -offset);
        DrawBanner(graphics.get(), platform::GdiplusImageOf(next.image), width, height, width - offset);
    } else {
        DrawBanner(graphics.get(), image, width, height, 0);
    }
}

void OnPaint(HWND window) {
    ui::PaintScope paint(window);
    if (paint.get() == nullptr) return;
    RECT client = {};
    ::GetClientRect(window, &client);
    PaintBannerView(paint.get(), client.right - client.left, client.bottom - client.top, ::GetTickCount());
}

void OpenCurrentLink(HWND window) {
    if (!CurrentBannerHasLink()) return;
    // The shell decides what "open" starts; its result is of no use to the user here.
    ::ShellExecuteW(window, L"open", CurrentBanner()->link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

void DrawBanner(Gdiplus::GpGraphics* graphics, Gdiplus::GpImage* image, int width, int height, int x) {
    if (graphics == nullptr || image == nullptr) return;
    UINT imageWidth = 0;
    UINT imageHeight = 0;
    if (Gdiplus::DllExports::GdipGetImageWidth(image, &imageWidth) != Gdiplus::Ok) return;
    if (Gdiplus::DllExports::GdipGetImageHeight(image, &imageHeight) != Gdiplus::Ok) return;
    BannerPlacement place{};
    if (!PlaceBanner(imageWidth, imageHeight, width, height, x, place, gBannerDrawLimit)) return;
    Gdiplus::DllExports::GdipDrawImageRectI(graphics, image, place.x, place.y, place.width, place.height);
}

void PaintBannerView(HDC target, int width, int height, uint32_t now) {
    if (width <= 0 || height <= 0) return;
    platform::UniqueMemoryDc memory(::CreateCompatibleDC(target));
    if (!memory) return;
    platform::UniqueGdiObject bitmap(::CreateCompatibleBitmap(target, width, height));
    if (!bitmap) return;
    ui::SelectScope select(memory.get(), bitmap.get());

    RECT area = {0, 0, width, height};
    platform::UniqueGdiObject brush(::CreateSolidBrush(kBannerBackground));
    ::FillRect(memory.get(), &area, static_cast<HBRUSH>(brush.get()));
    DrawBanners(memory.get(), width, height, now);
    ::BitBlt(target, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
}

LRESULT CALLBACK BannerViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            OnPaint(window);
            return 0;
        case WM_ERASEBKGND:
            // The paint covers every pixel; erasing first would flicker at 30 repaints a second.
            return 1;
        case WM_SETCURSOR:
            if (!CurrentBannerHasLink()) break;
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        case WM_LBUTTONUP:
            OpenCurrentLink(window);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void StartBannerRotation() {
    StartBannerRotationAt(::GetTickCount());
}

void AdvanceBannerRotation(HWND view) {
    AdvanceBannerRotationAt(::GetTickCount(), static_cast<int32_t>(gBannerList.size()));
    if (view != nullptr) ::InvalidateRect(view, nullptr, FALSE);
}
