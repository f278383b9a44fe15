#pragma once
// The timing and geometry of the banner view, apart from any drawing, so that both builds test
// them: which banner is on show, how far a slide has run, and where an image lands in the view.
#include <climits>
#include <cstdint>

constexpr uint32_t kBannerHoldMs = 5000;
constexpr uint32_t kBannerSlideMs = 650;

// The rotation operations on gBannerRotation with the tick count given; the banner view's
// StartBannerRotation and AdvanceBannerRotation pass GetTickCount. Tick differences are taken in
// unsigned 32-bit arithmetic, so they stay right across the wrap of the tick count.
void StartBannerRotationAt(uint32_t now);
// One step for `count` banners: hold for 5000 ms, then slide for 650 ms and move to the next
// banner, from the last back to the first. Does nothing to the index when `count` is below 1.
void AdvanceBannerRotationAt(uint32_t now, int32_t count);

// How far the current banner has moved out to the left `now`, for a view `width` pixels wide: the
// width times the share of the slide run so far, truncated; the whole width from 650 ms on.
int32_t BannerSlideOffset(uint32_t now, uint32_t slideStartTick, int32_t width);

// The rectangle an image of iw x ih pixels is drawn into in a view of width x height at horizontal
// offset x: the full width, the aspect ratio kept (height truncated), centred vertically.
struct BannerPlacement {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};
// An image that would be drawn taller than `drawLimit` (gBannerDrawLimit) is instead drawn whole,
// `drawLimit` high and as wide as its aspect ratio gives, centred horizontally in the view.
// False (draw nothing) when either side of the image is 0.
bool PlaceBanner(uint32_t imageWidth, uint32_t imageHeight, int32_t width, int32_t height, int32_t x,
                 BannerPlacement& placement, int32_t drawLimit = INT32_MAX);
