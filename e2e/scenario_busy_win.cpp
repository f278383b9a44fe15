// A long install keeps the window answering while the user's input stays blocked.
#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "ui/install_progress_win.h"

namespace e2e {

namespace {

// 3 GiB of zero bytes: written as a sparse file it costs no disk, and hashing it takes over ten
// seconds under Wine here (about 285 MB/s).
constexpr uint64_t kGameSize = 3221225472ull;
constexpr char kGameHash[] = "305b66a59d15b252092fbda9d09711230c429f351897cbd430e7b55a35fd3b97";
constexpr DWORD kProbeIntervalMs = 250;

uint32_t MiddlePixel(HWND view) {
    RECT r{};
    ::GetWindowRect(view, &r);
    const RECT pixel{r.left + 345, r.top + 50, r.left + 346, r.top + 51};
    std::vector<uint32_t> pixels;
    return CaptureScreen(pixel, pixels) ? pixels[0] & 0xFFFFFF : 0;
}

// What the probes saw while the install ran.
struct Observed {
    int probes = 0;
    int answered = 0;
    std::vector<uint32_t> bannerColours;
    bool sawVerifying = false;
    std::vector<int> positions;  // of the progress bar, when there was one
    bool barPlaced = true;
};

void Probe(Checks& checks, Session& session, Observed& seen) {
    ++seen.probes;
    DWORD_PTR result = 0;
    const bool hung = ::IsHungAppWindow(session.window) != FALSE;
    const bool answers = ::SendMessageTimeoutW(session.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
    seen.answered += answers && !hung;
    if (session.bannerView) seen.bannerColours.push_back(MiddlePixel(session.bannerView));
    // The bar before the status: the installer shows the finished status before the bar's end,
    // so a position read before a status that is not yet the finished one was read while working.
    HWND bar = FindProgressBar(session.window);
    const int position = bar ? ProgressPosition(bar) : -1;
    const std::wstring status = TextOf(session.control(kStatusLine));
    seen.sawVerifying = seen.sawVerifying || status == L"Verifying game files...";
    if (bar && status != L"Patch installed successfully.") {
        seen.positions.push_back(position);
        // Placed once: the window does not move its controls during the install.
        if (seen.positions.size() == 1) ExpectProgressBarPlaced(checks, session, bar);
    }
}

// Everything a user could do to stop or restart the work.
void TryToInterrupt(Session& session) {
    Click(session.control(kCancelButton));
    Click(session.control(kBrowseButton));
    Click(session.control(kInstallButton));
    ::PostMessageW(session.window, WM_CLOSE, 0, 0);
    ::PostMessageW(session.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ::PostMessageW(session.window, WM_KEYDOWN, VK_ESCAPE, 0);
}

}  // namespace

bool InstallKeepsAnswering(bool banners) {
    Checks checks(banners ? "install-busy" : "install-busy-plain");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    patch.gameFile.clear();
    SetEntry(patch.manifest, "ExpectedHash", kGameHash);
    SetEntry(patch.manifest, "ExpectedSize", std::to_string(kGameSize));
    patch.payload.push_back({"data/big.pak", PseudoRandomBytes(9, 200u << 20)});
    if (banners) {
        for (const auto& [key, value] : ManifestEntries{
                 {"BannerCount", "2"}, {"Banner1.Source", "banner1.bmp"}, {"Banner2.Source", "banner2.bmp"}}) {
            SetEntry(patch.manifest, key, value);
        }
        WriteFileAt(session.stage.app() + L"\\banner1.bmp", SolidBmp(690, 100, 0xC03020));
        WriteFileAt(session.stage.app() + L"\\banner2.bmp", SolidBmp(690, 100, 0x2040C0));
    }
    if (!Launch(checks, session, patch, 2, L"Patch Installer", banners ? BannerView::AsLoaded : BannerView::Absent)) {
        return checks.Finish();
    }
    checks.Expect(FindProgressBar(session.window) == nullptr, "no progress bar before the install");
    checks.Expect(WriteSparseFile(session.stage.game() + L"\\bin\\game.exe", kGameSize), "sparse 3 GiB game file");
    SetText(session.control(kGameFolderBox), session.stage.game());

    const DWORD start = ::GetTickCount();
    Click(session.control(kInstallButton));
    Observed seen;
    HWND box = nullptr;
    while (!box && ::GetTickCount() - start < 120000) {
        ::Sleep(kProbeIntervalMs);
        Probe(checks, session, seen);
        if (seen.probes == 6) TryToInterrupt(session);
        box = WaitForWindow(session.process.pid(), L"#32770", session.window, 0);
        if (!session.process.Running()) break;
    }
    const DWORD elapsed = ::GetTickCount() - start;
    std::printf("install took %lu ms; the window answered %d of %d probes\n", elapsed, seen.answered, seen.probes);
    checks.Expect(elapsed > 10000, "the install takes over 10 s");
    checks.Equal(seen.answered, seen.probes, "probes answered (IsHungAppWindow false, WM_NULL within 1 s)");
    checks.Expect(seen.sawVerifying, "the status line answered with \"Verifying game files...\" meanwhile");
    // The bar moves forward and never back, and it is not at its end while the work goes on.
    int distinct = 0;
    bool monotone = true;
    for (size_t i = 0; i < seen.positions.size(); ++i) {
        distinct += i == 0 || seen.positions[i] != seen.positions[i - 1];
        monotone = monotone && (i == 0 || seen.positions[i] >= seen.positions[i - 1]);
    }
    std::printf("progress positions read: %zu, distinct %d, last %d\n", seen.positions.size(), distinct,
                seen.positions.empty() ? -1 : seen.positions.back());
    checks.Expect(distinct >= 3, "several different progress positions during the install");
    checks.Expect(monotone, "the progress bar never moves back");
    checks.Expect(!seen.positions.empty() && seen.positions.front() >= 0 && seen.positions.back() < kInstallProgressRange,
                  "the progress bar answers and stops short of the end while working");
    if (session.bannerView) {
        bool slid = false;
        for (uint32_t colour : seen.bannerColours) slid = slid || colour != seen.bannerColours.front();
        checks.Expect(slid, "the banners went on sliding during the install");
    } else {
        std::printf("note: this build loads no banners, so the slide is not checked\n");
    }
    if (checks.Expect(box != nullptr, "a box reports the outcome")) {
        const MessageBoxView view = ReadMessageBox(box);
        checks.Equal(view.text, std::wstring(L"Patch installed successfully."), "it is the success box");
        checks.Equal(TextOf(session.control(kStatusLine)), std::wstring(L"Patch installed successfully."),
                     "the status line reached the end");
        checks.Expect(::IsWindow(session.window) != FALSE, "the clicks and close requests did not end the window");
        HWND bar = FindProgressBar(session.window);
        checks.Expect(bar && ProgressPosition(bar) == kInstallProgressRange, "the progress bar is at its end with the success box");
        Click(view.okButton);
    }
    ExpectExitZero(checks, session);
    std::string big;
    checks.Expect(ReadFileAt(session.stage.game() + L"\\data\\big.pak", big) && big == patch.payload.back().data,
                  "the 200 MiB file is installed byte for byte");
    return checks.Finish();
}

}  // namespace e2e
