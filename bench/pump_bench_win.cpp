// Cost of keeping the installer window answering during an install (Windows build, run under Wine
// by bench/run-pump-bench.sh; not a test). A real top-level window with the banner view's 33 ms
// repaint timer stands in for the installer window; the same hashing and extraction run with the
// install pump on and off in alternating rounds, and the wall and CPU times are compared. In the
// pumped rounds the install's progress bar is shown too, and the time spent in its update path
// (every report of the work) is summed and divided by the number of updates.
//   pump_bench ARCHIVE GAME_FILE OUT_FOLDER ROUNDS
#include <windows.h>
// objbase.h after windows.h, which WIN32_LEAN_AND_MEAN leaves without COM.
#include <objbase.h>
// commctrl.h after windows.h too.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "install/payload.h"
#include "install/verify.h"
#include "ui/install_progress_win.h"
#include "ui/install_pump_win.h"
#include "ui/window_handles_win.h"

namespace {

constexpr UINT_PTR kRepaintTimerId = 2001;
unsigned gTimerTicks = 0;

LRESULT CALLBACK BenchWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            ++gTimerTicks;
            ::InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            ::FillRect(dc, &paint.rcPaint, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
            ::EndPaint(window, &paint);
            return 0;
        }
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return value(kernel) + value(user);
}

// Time inside the progress update, counted over every report of the pumped rounds.
struct UpdateCost {
    LARGE_INTEGER frequency{};
    long long ticks = 0;
    unsigned long long updates = 0;
    unsigned long long moved = 0;  // updates that moved the bar
};
UpdateCost gUpdateCost;

void TimedProgressUpdate(const WorkProgress& progress, void* context) {
    const LRESULT before = ::SendMessageW(InstallProgressBar(), PBM_GETPOS, 0, 0);
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    UpdateInstallProgress(progress, context);
    ::QueryPerformanceCounter(&end);
    gUpdateCost.ticks += end.QuadPart - start.QuadPart;
    ++gUpdateCost.updates;
    gUpdateCost.moved += ::SendMessageW(InstallProgressBar(), PBM_GETPOS, 0, 0) != before;
}

uint64_t FileBytes(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: pump_bench ARCHIVE GAME_FILE OUT_FOLDER ROUNDS\n");
        return 2;
    }
    const std::wstring archive = argv[1], gameFile = argv[2], outFolder = argv[3];
    const int rounds = std::max(1, _wtoi(argv[4]));

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = BenchWndProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PumpBench";
    ::RegisterClassW(&windowClass);
    gInstallerWindow = ::CreateWindowExW(0, L"PumpBench", L"pump bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 758,
                                         520, nullptr, nullptr, windowClass.hInstance, nullptr);
    ::SetTimer(gInstallerWindow, kRepaintTimerId, 33, nullptr);
    // The two controls the progress bar is placed between, where the installer window has them.
    gStatusLine = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 24, 330, 690, 28,
                                    gInstallerWindow, nullptr, windowClass.hInstance, nullptr);
    gInstallButton = ::CreateWindowExW(0, L"BUTTON", L"Install", WS_CHILD | WS_VISIBLE, 434, 390, 132, 34,
                                       gInstallerWindow, nullptr, windowClass.hInstance, nullptr);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::QueryPerformanceFrequency(&gUpdateCost.frequency);

    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> wall[2], cpu[2];
    unsigned ticks[2] = {0, 0};
    std::wstring digest;
    // Round 0 only warms the caches and creates the targets; it is not counted.
    for (int round = 0; round <= 2 * rounds; ++round) {
        const int pumped = round % 2;
        LARGE_INTEGER start, end;
        const double cpuStart = ProcessCpuSeconds();
        const unsigned ticksStart = gTimerTicks;
        ::QueryPerformanceCounter(&start);
        if (pumped) {
            BeginInstallProgress(FileBytes(archive));
            BeginInstallPump(TimedProgressUpdate, nullptr);
        }
        const bool ok = ComputeFileDigest(gameFile, digest) && ExtractPayload(archive, outFolder);
        if (pumped) {
            EndInstallPump();
            CompleteInstallProgress();
            EndInstallProgress();
        }
        ::QueryPerformanceCounter(&end);
        if (!ok) {
            std::fprintf(stderr, "round %d failed\n", round);
            return 1;
        }
        if (round == 0) continue;
        wall[pumped].push_back(Seconds(start, end, frequency));
        cpu[pumped].push_back(ProcessCpuSeconds() - cpuStart);
        ticks[pumped] += gTimerTicks - ticksStart;
    }
    ::DestroyWindow(gInstallerWindow);
    gInstallerWindow = nullptr;
    gStatusLine = nullptr;
    gInstallButton = nullptr;
    ::CoUninitialize();

    const double wallOff = Median(wall[0]), wallOn = Median(wall[1]);
    const double cpuOff = Median(cpu[0]), cpuOn = Median(cpu[1]);
    std::printf("rounds %d each (median)\n", rounds);
    std::printf("without pump: wall %.3f s, cpu %.3f s, timer ticks handled %u\n", wallOff, cpuOff, ticks[0]);
    std::printf("with pump:    wall %.3f s, cpu %.3f s, timer ticks handled %u\n", wallOn, cpuOn, ticks[1]);
    std::printf("pump overhead: wall %+.2f %%, cpu %+.2f %%\n", 100.0 * (wallOn - wallOff) / wallOff,
                100.0 * (cpuOn - cpuOff) / cpuOff);
    // Counted, not compared: every report of every pumped round went through the update.
    const double updateSeconds = static_cast<double>(gUpdateCost.ticks) / static_cast<double>(gUpdateCost.frequency.QuadPart);
    std::printf("progress updates: %llu in the pumped rounds (%llu moved the bar), %.3f ms in all, %.3f us per update\n",
                gUpdateCost.updates, gUpdateCost.moved, updateSeconds * 1e3,
                gUpdateCost.updates ? updateSeconds * 1e6 / static_cast<double>(gUpdateCost.updates) : 0.0);
    return 0;
}
