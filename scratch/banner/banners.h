#pragma once
#include <vector>
struct BannerEntry {};
extern std::vector<BannerEntry> gBannerList;
extern int gBannerAreaHeight;
void LoadBanners();
void ClearBanners();
