// Cost of keeping the installer window answering during an install (Windows build, run under Wine
// by bench/run-pump-bench.sh; not a test). A real top-level window with the banner view's 33 ms
// repaint timer stands in for the installer window; the same hashing and extraction run with the
// install pump on and off in alternating rounds, and the wall and CPU times are compared.
//   pump_bench ARCHIVE GAME_FILE OUT_FOLDER ROUNDS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "install/payload.h"
#include "install/verify.h"
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
        if (pumped) BeginInstallPump();
        const bool ok = ComputeFileDigest(gameFile, digest) && ExtractPayload(archive, outFolder);
        if (pumped) EndInstallPump();
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

    const double wallOff = Median(wall[0]), wallOn = Median(wall[1]);
    const double cpuOff = Median(cpu[0]), cpuOn = Median(cpu[1]);
    std::printf("rounds %d each (median)\n", rounds);
    std::printf("without pump: wall %.3f s, cpu %.3f s, timer ticks handled %u\n", wallOff, cpuOff, ticks[0]);
    std::printf("with pump:    wall %.3f s, cpu %.3f s, timer ticks handled %u\n", wallOn, cpuOn, ticks[1]);
    std::printf("pump overhead: wall %+.2f %%, cpu %+.2f %%\n", 100.0 * (wallOn - wallOff) / wallOff,
                100.0 * (cpuOn - cpuOff) / cpuOff);
    return 0;
}
