#pragma once
#include <windows.h>
LRESULT CALLBACK BannerViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void StartBannerRotation();
void AdvanceBannerRotation();
