#include "banner/rotation.h"

#include <climits>

#include "banner/banners.h"

void StartBannerRotationAt(uint32_t now) {
    gBannerRotation.lastSwitchTick = now;
}

void AdvanceBannerRotationAt(uint32_t now, int32_t count) {
    BannerRotation& rotation = gBannerRotation;
    if (!rotation.sliding) {
        if (now - rotation.lastSwitchTick < kBannerHoldMs) return;
        rotation.sliding = true;
        rotation.slideStartTick = now;
    }
    if (now - rotation.slideStartTick >= kBannerSlideMs) {
        rotation.sliding = false;
        rotation.lastSwitchTick = now;
        if (count > 0) rotation.currentIndex = (rotation.currentIndex + 1) % count;
    }
}

int32_t BannerSlideOffset(uint32_t now, uint32_t slideStartTick, int32_t width) {
    uint32_t elapsed = now - slideStartTick;
    double progress = elapsed >= kBannerSlideMs ? 1.0 : elapsed / static_cast<double>(kBannerSlideMs);
    return static_cast<int32_t>(width * progress);
}

bool PlaceBanner(uint32_t imageWidth, uint32_t imageHeight, int32_t width, int32_t height, int32_t x,
                 BannerPlacement& placement, int32_t drawLimit) {
    if (imageWidth == 0 || imageHeight == 0) return false;
    double drawn = static_cast<double>(width) / imageWidth * imageHeight;
    if (drawn > drawLimit && drawLimit >= 0) {
        // Too tall for the screen: the whole image at the limit's height, centred across the width.
        double drawnWidth = static_cast<double>(drawLimit) / imageHeight * imageWidth;
        int32_t narrowed = drawnWidth >= width ? width : static_cast<int32_t>(drawnWidth);
        int64_t left = x + (static_cast<int64_t>(width) - narrowed) / 2;
        int64_t top = (static_cast<int64_t>(height) - drawLimit) / 2;
        placement = BannerPlacement{static_cast<int32_t>(left), static_cast<int32_t>(top), narrowed, drawLimit};
        return true;
    }
    // A view can be no taller than INT32_MAX, so a taller result only means "cut at both edges".
    int32_t drawnHeight = drawn >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(drawn);
    int64_t y = (static_cast<int64_t>(height) - drawnHeight) / 2;
    placement = BannerPlacement{x, static_cast<int32_t>(y), width, drawnHeight};
    return true;
}
