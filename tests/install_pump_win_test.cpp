// The message pump that runs inside the install's work reports: it keeps dispatching what keeps
// windows alive, drops what the user does to the installer window, and runs at most once per
// interval.
#include <gtest/gtest.h>
#include <windows.h>

#include "install/progress.h"
#include "ui/install_pump_win.h"
#include "ui/installer_window_win.h"
#include "ui/window_handles_win.h"

namespace {

int gAppMessages = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) ++gAppMessages;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void ReportSomeWork() { ReportWork(WorkProgress::Phase::Hashing, 1, 2, 0, 1); }

void DrainQueue() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != WM_QUIT) ::DispatchMessageW(&msg);
    }
}

class InstallPumpTest : public ::testing::Test {
protected:
    void SetUp() override {
        gInstance = ::GetModuleHandleW(nullptr);
        WNDCLASSW wc{};
        wc.lpfnWndProc = InstallerWndProc;
        wc.hInstance = gInstance;
        wc.lpszClassName = kInstallerWindowClass;
        ::RegisterClassW(&wc);
        wc.lpfnWndProc = CountingProc;
        wc.lpszClassName = L"PumpTestCounter";
        ::RegisterClassW(&wc);
        installer_ = ::CreateWindowExW(0, kInstallerWindowClass, L"", kInstallerWindowStyle, 0, 0, 758, 520, nullptr,
                                       nullptr, gInstance, nullptr);
        counter_ = ::CreateWindowExW(0, L"PumpTestCounter", L"", 0, 0, 0, 10, 10, nullptr, nullptr, gInstance, nullptr);
        DrainQueue();
        gAppMessages = 0;
    }
    void TearDown() override {
        EndInstallPump();
        if (::IsWindow(installer_)) ::DestroyWindow(installer_);
        ::DestroyWindow(counter_);
        DrainQueue();
    }
    HWND installer_ = nullptr;
    HWND counter_ = nullptr;
};

TEST_F(InstallPumpTest, DispatchesOtherMessagesAndDropsInputToTheInstallerWindow) {
    ASSERT_NE(installer_, nullptr);
    BeginInstallPump();
    ::PostMessageW(counter_, WM_APP, 0, 0);
    ::PostMessageW(gCancelButton, BM_CLICK, 0, 0);
    ::PostMessageW(gBrowseButton, BM_CLICK, 0, 0);
    ::PostMessageW(installer_, WM_CLOSE, 0, 0);
    ::PostMessageW(installer_, WM_SYSCOMMAND, SC_CLOSE, 0);
    ::PostMessageW(gGameFolderBox, WM_CHAR, L'x', 0);
    ::PostMessageW(gGameFolderBox, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ::Sleep(kInstallPumpIntervalMs + 20);
    ReportSomeWork();

    EXPECT_EQ(gAppMessages, 1);  // dispatched from inside the work
    EXPECT_TRUE(::IsWindow(installer_)) << "Cancel or a close request ended the window during the install";
    EXPECT_EQ(::GetWindowTextLengthW(gGameFolderBox), 0) << "typing reached the folder box";
    MSG left;
    EXPECT_FALSE(::PeekMessageW(&left, nullptr, 0, 0, PM_NOREMOVE)) << "input is dropped, not kept for later";

    // Once the install has ended, a close request works again.
    EndInstallPump();
    ::PostMessageW(installer_, WM_CLOSE, 0, 0);
    DrainQueue();
    EXPECT_FALSE(::IsWindow(installer_));
}

TEST_F(InstallPumpTest, PumpsAtMostOncePerInterval) {
    BeginInstallPump();
    ::Sleep(kInstallPumpIntervalMs + 20);
    ReportSomeWork();  // pumps: nothing is waiting yet
    ::PostMessageW(counter_, WM_APP, 0, 0);
    ReportSomeWork();  // too soon after the last pass
    EXPECT_EQ(gAppMessages, 0);
    ::Sleep(kInstallPumpIntervalMs + 20);
    ReportSomeWork();
    EXPECT_EQ(gAppMessages, 1);
}

TEST_F(InstallPumpTest, NothingIsPumpedOutsideAnInstall) {
    ::PostMessageW(counter_, WM_APP, 0, 0);
    ::Sleep(kInstallPumpIntervalMs + 20);
    ReportSomeWork();
    EXPECT_EQ(gAppMessages, 0);
    EXPECT_FALSE(InstallPumpActive());
}

}  // namespace
