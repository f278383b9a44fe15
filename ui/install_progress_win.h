#pragma once
// How far the install is, shown twice: a progress bar between the status line and the buttons,
// and the taskbar button's progress. Weighted by bytes: the game file's bytes hashed, then the
// payload archive's bytes consumed. The bar exists only while an install runs, so the ready
// window keeps exactly its controls. Windows only; the installer window must exist.
#include <windows.h>

#include <cstdint>

#include "install/progress.h"

// The bar's range: fine enough for a smooth bar, coarse enough that most reports move nothing.
constexpr int kInstallProgressRange = 1000;
constexpr int kProgressBarGap = 8;
// A new position reaches the bar and the taskbar at most this often: the bar repaints itself at
// once on every move (5 to 7 ms of wall time under Wine and Xvfb here, little of it CPU), and the
// work reports every 64 to 256 KiB. Four moves a second still read as steady motion.
constexpr DWORD kProgressShowIntervalMs = 250;
// The bar's colour on failure, where the control draws no error state of its own (the classic
// common controls, and Wine's).
constexpr COLORREF kProgressErrorColour =
    RGB(200, 30, 30);  // pixels between the bar and the status line above, the buttons below

// Creates the bar at zero and puts the taskbar button in its normal progress state.
// `archiveBytes` is the payload archive's size, the estimate of the extraction's share of the whole
// until the extraction reports the bytes its entries make.
void BeginInstallProgress(uint64_t archiveBytes);
// A work observer: called for every report of the hashing and the extraction. Monotone, and it
// stops one step short of the end until CompleteInstallProgress.
void UpdateInstallProgress(const WorkProgress& progress, void* context);
// Success: the bar reaches its end.
void CompleteInstallProgress();
// Failure: the bar stops where it was and shows the error state, as does the taskbar button.
void FailInstallProgress();
// The bar is destroyed and the taskbar button shows no progress.
void EndInstallProgress();

// The bar while an install runs, else null.
HWND InstallProgressBar();
