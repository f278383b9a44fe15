#include "ui/install_progress_win.h"

#include <commctrl.h>
#include <shobjidl.h>

#include "platform/win_handle.h"
#include "ui/window_handles_win.h"

namespace {

using UniqueTaskbarList = platform::UniqueCom<ITaskbarList3>;

// The install's progress, owned here from BeginInstallProgress to EndInstallProgress.
struct ProgressState {
    HWND bar = nullptr;
    UniqueTaskbarList taskbar;  // stays empty where the shell offers no taskbar list
    // The extraction's share: the archive's size until the extraction's first report tells the
    // bytes its entries make (a compressed patch makes more than it holds).
    uint64_t extractionBytes = 0;
    uint64_t hashedBefore = 0;  // bytes of the game files hashed completely (the alternate record may hash a second)
    uint64_t hashingTotal = 0;  // size of the file being hashed
    uint64_t done = 0;
    int position = 0;  // last shown
    DWORD shownTick = 0;
};
ProgressState gProgress;

RECT ChildRect(HWND child) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, gInstallerWindow, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Between the status line and the buttons, as wide as the status line: the same in both layouts,
// because the banner area moves every row down alike.
HWND CreateBar() {
    const RECT status = ChildRect(gStatusLine);
    const RECT button = ChildRect(gInstallButton);
    const int top = status.bottom + kProgressBarGap;
    const int height = button.top - kProgressBarGap - top;
    HWND bar =
        ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, status.left, top, status.right - status.left,
                          height, gInstallerWindow, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!bar) return nullptr;
    ::SendMessageW(bar, PBM_SETRANGE32, 0, kInstallProgressRange);
    ::SendMessageW(bar, PBM_SETPOS, 0, 0);
    return bar;
}

// A missing interface, or one that refuses, is no taskbar: the install never depends on it.
UniqueTaskbarList OpenTaskbar() {
    UniqueTaskbarList taskbar;
    if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                  reinterpret_cast<void**>(taskbar.put())))) {
        return UniqueTaskbarList();
    }
    if (!taskbar || FAILED(taskbar.get()->HrInit())) return UniqueTaskbarList();
    if (FAILED(taskbar.get()->SetProgressState(gInstallerWindow, TBPF_NORMAL))) return UniqueTaskbarList();
    return taskbar;
}

// A taskbar call that fails leaves no taskbar for the rest of the install.
void CheckTaskbar(HRESULT result) {
    if (FAILED(result)) gProgress.taskbar.reset();
}

void ShowPosition(int position) {
    gProgress.position = position;
    gProgress.shownTick = ::GetTickCount();
    if (gProgress.bar) ::SendMessageW(gProgress.bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    if (gProgress.taskbar) {
        CheckTaskbar(gProgress.taskbar.get()->SetProgressValue(gInstallerWindow, position, kInstallProgressRange));
    }
}

}  // namespace

void BeginInstallProgress(uint64_t archiveBytes) {
    EndInstallProgress();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    gProgress.extractionBytes = archiveBytes;
    gProgress.bar = CreateBar();
    gProgress.taskbar = OpenTaskbar();
    // The first step forward shows at once, so even a short install is seen moving.
    gProgress.shownTick = ::GetTickCount() - kProgressShowIntervalMs;
}

void UpdateInstallProgress(const WorkProgress& progress, void*) {
    if (progress.phase == WorkProgress::Phase::Hashing) {
        // A file's first report: the one before it, if any, is hashed completely.
        if (progress.bytesDone == 0 && progress.filesDone == 0) {
            gProgress.hashedBefore += gProgress.hashingTotal;
            gProgress.hashingTotal = progress.bytesTotal;
        }
        gProgress.done = gProgress.hashedBefore + progress.bytesDone;
    } else {
        gProgress.extractionBytes = progress.bytesTotal;
        gProgress.done = gProgress.hashedBefore + gProgress.hashingTotal + progress.bytesDone;
    }
    const uint64_t total = gProgress.hashedBefore + gProgress.hashingTotal + gProgress.extractionBytes;
    if (total == 0) return;
    uint64_t scaled = gProgress.done >= total ? kInstallProgressRange : gProgress.done * kInstallProgressRange / total;
    // The end is shown only for a finished install; a second hashing may make the total grow.
    const int position = static_cast<int>(scaled < kInstallProgressRange ? scaled : kInstallProgressRange - 1);
    if (position > gProgress.position && ::GetTickCount() - gProgress.shownTick >= kProgressShowIntervalMs) {
        ShowPosition(position);
    }
}

void CompleteInstallProgress() {
    ShowPosition(kInstallProgressRange);
    if (gProgress.bar) ::UpdateWindow(gProgress.bar);
}

void FailInstallProgress() {
    if (gProgress.bar) {
        // The error state needs the common controls 6; the red bar is what the classic bar shows.
        ::SendMessageW(gProgress.bar, PBM_SETSTATE, PBST_ERROR, 0);
        ::SendMessageW(gProgress.bar, PBM_SETBARCOLOR, 0, kProgressErrorColour);
        ::UpdateWindow(gProgress.bar);
    }
    if (gProgress.taskbar) CheckTaskbar(gProgress.taskbar.get()->SetProgressState(gInstallerWindow, TBPF_ERROR));
}

void EndInstallProgress() {
    if (gProgress.bar) ::DestroyWindow(gProgress.bar);
    if (gProgress.taskbar) CheckTaskbar(gProgress.taskbar.get()->SetProgressState(gInstallerWindow, TBPF_NOPROGRESS));
    gProgress = ProgressState{};
}

HWND InstallProgressBar() {
    return gProgress.bar;
}
