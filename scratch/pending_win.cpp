// Temporary stand-ins; see README.md in this folder.
#include <vector>

#include "banner/banner_view_win.h"
#include "banner/banners.h"

std::vector<BannerEntry> gBannerList;
int gBannerAreaHeight = 0;
void LoadBanners() {}
void ClearBanners() {}
LRESULT CALLBACK BannerViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}
void StartBannerRotation() {}
void AdvanceBannerRotation() {}

