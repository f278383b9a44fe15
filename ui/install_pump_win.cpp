#include "ui/install_pump_win.h"

#include "install/progress.h"
#include "ui/window_handles_win.h"

namespace {

bool gPumpActive = false;
DWORD gLastPumpTick = 0;
WorkObserver gView = nullptr;
void* gViewContext = nullptr;

bool IsUserInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) || message == WM_NCMOUSEHOVER ||
           message == WM_NCMOUSELEAVE || message == WM_MOUSEHOVER || message == WM_MOUSELEAVE;
}

bool ForInstallerWindow(HWND window) {
    return window && gInstallerWindow && (window == gInstallerWindow || ::IsChild(gInstallerWindow, window));
}

void PumpPendingMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        // Input and clicks posted to the buttons would start or stop work: dropped, not queued.
        if ((IsUserInput(message.message) || message.message == BM_CLICK) && ForInstallerWindow(message.hwnd)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void OnWork(const WorkProgress& progress, void*) {
    if (gView) gView(progress, gViewContext);
    const DWORD now = ::GetTickCount();
    if (now - gLastPumpTick < kInstallPumpIntervalMs) return;
    gLastPumpTick = now;
    PumpPendingMessages();
}

}  // namespace

void BeginInstallPump(WorkObserver view, void* viewContext) {
    gView = view;
    gViewContext = viewContext;
    gPumpActive = true;
    gLastPumpTick = ::GetTickCount();
    SetWorkObserver(OnWork, nullptr);
}

void EndInstallPump() {
    SetWorkObserver(nullptr, nullptr);
    gView = nullptr;
    gViewContext = nullptr;
    gPumpActive = false;
}

bool InstallPumpActive() {
    return gPumpActive;
}
