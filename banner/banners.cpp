#include "banner/banners.h"

#include <chrono>
#include <climits>
#include <string>

#include "banner/assets.h"
#include "common/paths.h"
#include "common/text.h"
#include "manifest/manifest.h"
#include "platform/download.h"
#include "platform/fs.h"

BannerList gBannerList;
BannerRotation gBannerRotation = {0, false, 0, 0};
int32_t gBannerAreaHeight = 0;
int32_t gBannerDrawLimit = INT32_MAX;

namespace {

using Clock = std::chrono::steady_clock;

// What is left of the download budget; 0 once it is spent.
uint32_t BudgetLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<uint32_t>(left);
}

int32_t ReadBannerCount() {
    std::wstring text = ManifestGet("BannerCount");
    if (text.empty()) return 0;
    int32_t count = ParseLenientInt32(text);
    if (count < 0) return 0;
    return count > kMaxBanners ? kMaxBanners : count;
}

void DeleteTempFile(const std::wstring& path) {
    if (!path.empty()) platform::DeletePath(path);
}

// Fills `entry.tempPath` (when the mode makes one) and `imageFile`; false when the banner is to be
// skipped, with any temporary file already deleted.
bool ObtainImageFile(BannerEntry& entry, const std::wstring& directory, Clock::time_point deadline,
                     std::wstring& imageFile) {
    if (EqualsIgnoreAsciiCase(entry.mode, L"Url")) {
        entry.tempPath = MakeTempFileName(L"pbn");
        if (entry.tempPath.empty()) return false;
        uint32_t budget = BudgetLeft(deadline);
        // A downloaded image is held to the same size as one from the asset archive.
        if (budget == 0 || !platform::DownloadToFile(entry.source, entry.tempPath, budget, kMaxAssetSize)) {
            DeleteTempFile(entry.tempPath);
            return false;
        }
        imageFile = entry.tempPath;
        return true;
    }
    if (EqualsIgnoreAsciiCase(entry.mode, L"Asset")) {
        int32_t id = ParseLenientInt32(entry.source);
        if (!ExtractAssetFrom(JoinPath(directory, kAssetArchiveName), id, entry.tempPath)) {
            DeleteTempFile(entry.tempPath);
            return false;
        }
        imageFile = entry.tempPath;
        return true;
    }
    imageFile = JoinPath(directory, entry.source);
    return true;
}

void LoadOneBanner(int32_t number, const std::wstring& directory, Clock::time_point deadline) {
    std::string prefix = "Banner" + std::to_string(number);
    BannerEntry entry;
    entry.mode = ManifestGet(prefix + ".Mode");
    entry.source = ManifestGet(prefix + ".Source");
    entry.link = ManifestGet(prefix + ".Link");
    if (entry.source.empty()) return;

    std::wstring imageFile;
    if (!ObtainImageFile(entry, directory, deadline, imageFile)) return;
    if (!entry.image.Load(imageFile)) {
        DeleteTempFile(entry.tempPath);
        return;
    }
    gBannerList.push_back(std::move(entry));
}

}  // namespace

int32_t ScaledBannerHeight(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return 0;
    double value = height * static_cast<double>(kBannerViewWidth) / width + 0.5;
    // Only an absurd image header could get here; keep the conversion defined.
    if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(value);
}

void LoadBanners() {
    LoadBannersFrom(GetExeDirectory(), kBannerDownloadBudgetMs);
}

void LoadBannersFrom(const std::wstring& directory, uint32_t downloadBudgetMs) {
    ClearBanners();
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(downloadBudgetMs);
    int32_t count = ReadBannerCount();
    for (int32_t number = 1; number <= count; ++number) LoadOneBanner(number, directory, deadline);

    int32_t tallest = 0;
    for (const BannerEntry& entry : gBannerList) {
        int32_t height = ScaledBannerHeight(entry.image.Width(), entry.image.Height());
        if (height > tallest) tallest = height;
    }
    gBannerAreaHeight = tallest;
}

void ClearBanners() {
    for (BannerEntry& entry : gBannerList) {
        entry.image.Reset();
        DeleteTempFile(entry.tempPath);
    }
    gBannerList.clear();
    gBannerAreaHeight = 0;
    gBannerDrawLimit = INT32_MAX;
    gBannerRotation = BannerRotation{0, false, 0, 0};
}

int32_t FittedBannerAreaHeight(int32_t areaHeight, int32_t restHeight, int32_t workHeight) {
    int64_t room = static_cast<int64_t>(workHeight) - restHeight;
    if (room <= 0) return 0;
    return areaHeight < room ? areaHeight : static_cast<int32_t>(room);
}

void FitBannerArea(int32_t restHeight, int32_t workHeight) {
    int32_t fitted = FittedBannerAreaHeight(gBannerAreaHeight, restHeight, workHeight);
    if (fitted == gBannerAreaHeight) return;
    gBannerAreaHeight = fitted;
    gBannerDrawLimit = fitted;
}
