#pragma once
// The banners: up to three images named by the patch manifest, obtained at start-up by download,
// from the asset archive or from a file beside the executable, and shown by the banner view.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/image.h"

// One loaded banner. `image` is always loaded in a stored entry; `tempPath` names the temporary
// file behind it for the "Url" and "Asset" modes and is empty for a file beside the executable.
struct BannerEntry {
    std::wstring mode;
    std::wstring source;
    std::wstring link;  // empty: not clickable
    std::wstring tempPath;
    platform::Image image;
};
using BannerList = std::vector<BannerEntry>;

// Owned by this module: filled by LoadBanners, emptied by ClearBanners, read by the installer
// window and the banner view. In ascending banner number, without gaps for failed banners.
extern BannerList gBannerList;

// Which banner is on show and whether a slide to the next one runs; written only by the rotation
// operations of the banner view (and reset by ClearBanners).
struct BannerRotation {
    int32_t currentIndex;
    bool sliding;
    uint32_t slideStartTick;  // millisecond tick count when the running slide began
    uint32_t lastSwitchTick;  // when the current banner became current
};
extern BannerRotation gBannerRotation;

// Height of the banner area: the tallest banner scaled to the view's width, 0 without banners;
// lowered by FitBannerArea when the window would not fit its screen.
extern int32_t gBannerAreaHeight;
// The tallest a banner is drawn: INT32_MAX normally; the fitted area height once FitBannerArea had
// to lower it, so that a banner taller than the screen allows is shown whole, scaled down.
extern int32_t gBannerDrawLimit;

constexpr int32_t kMaxBanners = 3;
constexpr int32_t kBannerViewWidth = 690;
// Start-up waits at most this long for all banner downloads together; the loading window is up
// meanwhile, and a banner server that accepts connections but never answers must not hold it.
constexpr uint32_t kBannerDownloadBudgetMs = 15000;

// Reads the banners from the patch manifest beside the executable and loads their images; starts
// with ClearBanners, so a second call replaces the first one's banners. Failures are silent: a
// banner that cannot be obtained or decoded is left out and its temporary file deleted.
void LoadBanners();
// The same with `directory` standing for the executable's folder (asset archive and local files)
// and a download budget of `downloadBudgetMs`.
void LoadBannersFrom(const std::wstring& directory, uint32_t downloadBudgetMs);

// Releases every image, then deletes its temporary file (an image keeps its file open on Windows),
// empties the list and resets the banner area height and the rotation. Must run while the image
// decoder (GDI+) is still started.
void ClearBanners();

// The banner area height that lets a window of `restHeight` plus the banner area fit into
// `workHeight` pixels: `areaHeight` when it fits, else what room there is (0 when there is none).
int32_t FittedBannerAreaHeight(int32_t areaHeight, int32_t restHeight, int32_t workHeight);
// Lowers gBannerAreaHeight to FittedBannerAreaHeight and, when it did, sets gBannerDrawLimit to it.
// Called by the installer window before it lays out anything below the banner area.
void FitBannerArea(int32_t restHeight, int32_t workHeight);

// The height of an iw x ih image scaled to the view's width, rounded half up; 0 when either side
// is 0.
int32_t ScaledBannerHeight(uint32_t width, uint32_t height);
