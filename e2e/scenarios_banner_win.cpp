// The banners as a user meets them: taken from a local HTTP server, the asset archive and a file
// beside the installer; painted scaled and centred; sliding to the next one after five seconds (and
// never with one banner); a click opening the link; and a banner server that never answers, which
// may delay the window only by the download time limit. Hostile banners (a server that streams
// without end, links that are not web addresses, an image far taller than wide) leave the window on
// the screen, no file behind and a click without effect. Every run gets a temporary folder of its
// own, so the test sees each "pbn"/"pba" file the installer makes, and that none is left at exit.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "support/local_http_server.h"
#include "support/wine_browser_win.h"

namespace e2e {
namespace {

constexpr uint32_t kBackground = 0xF5F5F5;
constexpr uint32_t kRed = 0xC03020;
constexpr uint32_t kGreen = 0x20A040;
constexpr uint32_t kBlue = 0x2040C0;

// The installer's temporary folder for this run: TMP is inherited by the process it starts.
std::wstring UseOwnTempFolder(const Stage& stage) {
    std::wstring folder = stage.root() + L"\\tmp";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::SetEnvironmentVariableW(L"TMP", folder.c_str());
    return folder;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

int CountWithPrefix(const std::vector<std::wstring>& names, const wchar_t* prefix) {
    int count = 0;
    for (const std::wstring& name : names) count += ::_wcsnicmp(name.c_str(), prefix, 3) == 0;
    return count;
}

// The colour at (x, y) of the banner view's client area, as it is on screen.
uint32_t ViewPixel(HWND view, int x, int y) {
    POINT at{x, y};
    ::ClientToScreen(view, &at);
    std::vector<uint32_t> pixels;
    if (!CaptureScreen(RECT{at.x, at.y, at.x + 1, at.y + 1}, pixels) || pixels.empty()) return 0xFFFFFFFF;
    return pixels[0] & 0xFFFFFF;
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The test's own link target, copied into the stage: started by the shell, it leaves
// "opened.marker" beside itself.
bool StageLinkProbe(const Stage& stage, std::wstring& probe) {
    wchar_t self[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n);
    dir.resize(dir.find_last_of(L'\\'));
    std::wstring built = dir.substr(0, dir.find_last_of(L'\\')) + L"\\banner_link_probe.exe";
    std::wstring folder = stage.root() + L"\\probe";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    probe = folder + L"\\probe.exe";
    return ::CopyFileW(built.c_str(), probe.c_str(), TRUE) != FALSE;
}

int CountRequests(test::LocalHttpServer& server, const std::string& path) {
    int count = 0;
    for (const std::string& seen : server.Requests()) count += seen == path;
    return count;
}

void CloseAndExpectNoTempFiles(Checks& checks, Session& session, const std::wstring& temp) {
    ::PostMessageW(session.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectExitZero(checks, session);
    checks.Equal(static_cast<int>(FilesIn(temp).size()), 0, "temporary files left after exit");
}

}  // namespace

bool BannersFromThreeSources() {
    Checks checks("banner-sources");
    Session session(gPaths.installerExe);
    test::LocalHttpServer server;
    // Banner 1, downloaded: 345 x 50 scales to 690 x 100, centred in the 200-pixel area at y = 50.
    server.Answer("/one.bmp", 200, SolidBmp(345, 50, kRed));
    const std::wstring temp = UseOwnTempFolder(session.stage);
    DemoPatch patch = PatchInLanguage(2);
    const std::string url = Utf8(server.Url("/one.bmp"));
    for (const auto& [key, value] : ManifestEntries{{"BannerCount", "3"},
                                                    {"Banner1.Mode", "Url"},
                                                    {"Banner1.Source", url},
                                                    {"Banner2.Mode", "asset"},
                                                    {"Banner2.Source", "7"},
                                                    {"Banner3.Source", "art\\three.bmp"}}) {
        SetEntry(patch.manifest, key, value);
    }
    const bool staged = server.ok() &&
                        WriteFileAt(session.stage.app() + L"\\patch_assets.dat",
                                    test::AssetArchive({{7, SolidBmp(1380, 400, kGreen)}})) &&
                        WriteFileAt(session.stage.app() + L"\\art\\three.bmp", SolidBmp(690, 150, kBlue));
    SetEntry(patch.manifest, "Banner1.Link", Utf8(server.Url("/clicked")));
    if (!checks.Expect(staged && test::RouteWebLinksToCurl(),
                       "banner server, asset archive, local image, web links to curl") ||
        !Launch(checks, session, patch, 2, L"Patch Installer", BannerView::Present)) {
        return checks.Finish();
    }
    const DWORD shown = ::GetTickCount();
    RECT outer{};
    ::GetWindowRect(session.window, &outer);
    checks.Equal(Height(outer), 200 + 520, "window height with the 200-pixel banner area");
    const std::vector<std::wstring> files = FilesIn(temp);
    checks.Equal(CountWithPrefix(files, L"pbn"), 1, "one downloaded banner file while running");
    checks.Equal(CountWithPrefix(files, L"pba"), 1, "one extracted banner file while running");
    checks.Equal(static_cast<int>(files.size()), 2, "no other temporary file");

    // The downloaded banner first: scaled to the full width, background bands above and below.
    checks.Expect(WaitFor([&] { return ViewPixel(session.bannerView, 345, 100) == kRed; }, 2000),
                  "first banner in the middle of the view");
    checks.Equal(ViewPixel(session.bannerView, 2, 60), kRed, "first banner reaches the left edge");
    checks.Equal(ViewPixel(session.bannerView, 687, 140), kRed, "first banner reaches the right edge");
    checks.Equal(ViewPixel(session.bannerView, 345, 30), kBackground, "band above the first banner");
    checks.Equal(ViewPixel(session.bannerView, 345, 170), kBackground, "band below the first banner");
    SaveShot(session.window, L"banner-first");

    ::PostMessageW(session.bannerView, WM_LBUTTONUP, 0, MAKELPARAM(345, 100));
    checks.Expect(WaitFor([&] { return CountRequests(server, "/clicked") == 1; }, 5000),
                  "a click opens the first banner's link");

    // After five seconds the next banner, the asset, slides in and fills the view.
    checks.Expect(WaitFor([&] { return ViewPixel(session.bannerView, 345, 100) == kGreen; }, 9000),
                  "the second banner is shown after the hold and the slide");
    const DWORD switched = ::GetTickCount() - shown;
    std::printf("banner-sources: second banner in the middle after %lu ms\n", static_cast<unsigned long>(switched));
    checks.Expect(switched >= 4500 && switched <= 7500,
                  "second banner after " + std::to_string(switched) + " ms (hold 5000 + slide 650)");
    checks.Equal(ViewPixel(session.bannerView, 345, 10), kGreen, "1380 x 400 fills the 200-pixel view");
    SaveShot(session.window, L"banner-second");

    // The second banner has no link: a click starts nothing. The middle turns green halfway through
    // the slide, while the first banner is still the current one; wait for the slide's end.
    checks.Expect(WaitFor([&] { return ViewPixel(session.bannerView, 2, 100) == kGreen; }, 2000), "slide ends");
    ::Sleep(200);
    ::PostMessageW(session.bannerView, WM_LBUTTONUP, 0, MAKELPARAM(345, 100));
    ::Sleep(1500);
    checks.Equal(CountRequests(server, "/clicked"), 1, "a click on a banner without a link opens nothing");
    CloseAndExpectNoTempFiles(checks, session, temp);
    return checks.Finish();
}

namespace {

// A share as Wine sees one: \\localhost\share\... is the folder dosdevices\unc\localhost\share of
// the prefix. It holds an internet shortcut to the scenario's server, so a click that opened the
// share's link would show up there as a request.
bool StageShare(const std::string& target, std::wstring& link) {
    wchar_t prefix[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::wstring share = L"Z:" + std::wstring(prefix, n) + L"\\dosdevices\\unc\\localhost\\share";
    for (wchar_t& c : share) {
        if (c == L'/') c = L'\\';
    }
    link = L"\\\\localhost\\share\\news.url";
    return WriteFileAt(share + L"\\news.url", "[InternetShortcut]\r\nURL=" + target + "\r\n");
}

std::string FileUrl(const std::wstring& path) {
    std::string url = "file:///" + Utf8(path);
    for (char& c : url) {
        if (c == '\\') c = '/';
    }
    return url;
}

// On a busy machine Wine's WinHTTP may take longer for 50 MiB than the 15 s download budget: the
// window then appears when the budget is spent.
constexpr DWORD kWindowAfterDownloadsMs = 15000 + 15000;

struct HostileCase {
    const char* name;
    bool endlessFirst;  // banner 1 downloads from the endless server; banner 2 is the local image
    int imageWidth, imageHeight;
    std::string link;  // of the local banner
};

void RunHostileCase(Checks& checks, const HostileCase& c, test::LocalHttpServer& server) {
    Session session(gPaths.installerExe);
    const std::wstring temp = UseOwnTempFolder(session.stage);
    std::wstring probe;
    DemoPatch patch = PatchInLanguage(2);
    const int local = c.endlessFirst ? 2 : 1;
    const std::string prefix = "Banner" + std::to_string(local);
    SetEntry(patch.manifest, "BannerCount", std::to_string(local));
    if (c.endlessFirst) {
        SetEntry(patch.manifest, "Banner1.Mode", "Url");
        SetEntry(patch.manifest, "Banner1.Source", Utf8(server.Url("/endless.bmp")));
    }
    SetEntry(patch.manifest, prefix + ".Source", "local.bmp");
    std::string link = c.link;
    const bool staged = StageLinkProbe(session.stage, probe) &&
                        WriteFileAt(session.stage.app() + L"\\local.bmp", SolidBmp(c.imageWidth, c.imageHeight, kBlue));
    if (link == "<exe>") link = Utf8(probe);
    if (link == "<file>") link = FileUrl(probe);
    if (!link.empty()) SetEntry(patch.manifest, prefix + ".Link", link);
    const std::string what = std::string(c.name) + ": ";
    if (!checks.Expect(staged, what + "staged") ||
        !Launch(checks, session, patch, 2, L"Patch Installer", BannerView::Present, kWindowAfterDownloadsMs)) {
        return;
    }

    // The whole window, Install included, on the work area of its monitor.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(session.window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    RECT outer{};
    ::GetWindowRect(session.window, &outer);
    const int natural = (c.imageHeight * 690 + c.imageWidth / 2) / c.imageWidth;
    const int area = std::min(natural, Height(work) - 520);
    checks.Equal(Height(outer), area + 520, what + "window height");
    checks.Expect(
        outer.left >= work.left && outer.top >= work.top && outer.right <= work.right && outer.bottom <= work.bottom,
        what + "window inside the work area");
    RECT view{};
    ::GetWindowRect(session.bannerView, &view);
    checks.Equal(Height(view), area, what + "banner view height");
    RECT install{};
    ::GetWindowRect(session.control(kInstallButton), &install);
    checks.Expect(install.bottom <= work.bottom, what + "Install button on the screen");
    checks.Equal(static_cast<int>(FilesIn(temp).size()), 0, what + "temporary files while running");
    SaveShot(session.window, std::wstring(L"banner-hostile-") + std::wstring(c.name, c.name + strlen(c.name)));

    const std::wstring marker = session.stage.root() + L"\\probe\\opened.marker";
    const size_t before = server.Requests().size();
    ::PostMessageW(session.bannerView, WM_LBUTTONUP, 0, MAKELPARAM(345, area / 2));
    ::Sleep(2000);
    checks.Expect(!FileExists(marker), what + "the click starts no program");
    checks.Equal(server.Requests().size(), before, what + "the click opens no address");
    CloseAndExpectNoTempFiles(checks, session, temp);
}

}  // namespace

bool HostileBanners() {
    Checks checks("banner-hostile");
    test::LocalHttpServer server;
    server.Endless("/endless.bmp");
    std::wstring shareLink;
    const bool ready = server.ok() && test::RouteWebLinksToCurl() && StageShare(Utf8(server.Url("/share")), shareLink);
    if (!checks.Expect(ready, "endless server, web links to curl, a share with an internet shortcut")) {
        return checks.Finish();
    }
    const HostileCase cases[] = {
        {"endless", true, 690, 100, ""},
        {"file-link", false, 690, 100, "<file>"},
        {"share-link", false, 690, 100, Utf8(shareLink)},
        {"exe-link", false, 690, 100, "<exe>"},
        {"tall", false, 1, 4000, ""},
    };
    // Each case sets TMP to a folder of its own stage, which goes with it; the next stage is made
    // in the real temporary folder again.
    wchar_t tmp[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
    for (const HostileCase& c : cases) {
        RunHostileCase(checks, c, server);
        ::SetEnvironmentVariableW(L"TMP", n > 0 && n < MAX_PATH ? tmp : nullptr);
    }
    // The kernel's buffers between the two ends come on top of the 50 MiB the installer reads.
    const uint64_t sent = server.EndlessBytesSent();
    std::printf("banner-hostile: the endless server sent %llu bytes\n", static_cast<unsigned long long>(sent));
    checks.Expect(sent < (82ull << 20), "the download stopped near 50 MiB, sent " + std::to_string(sent));
    return checks.Finish();
}

bool OneBannerNeverSlides() {
    Checks checks("banner-one");
    Session session(gPaths.installerExe);
    const std::wstring temp = UseOwnTempFolder(session.stage);
    DemoPatch patch = PatchInLanguage(2);
    SetEntry(patch.manifest, "BannerCount", "1");
    SetEntry(patch.manifest, "Banner1.Source", "one.bmp");
    const bool staged = WriteFileAt(session.stage.app() + L"\\one.bmp", SolidBmp(690, 120, kBlue));
    if (!checks.Expect(staged, "banner image beside the installer") ||
        !Launch(checks, session, patch, 2, L"Patch Installer", BannerView::Present)) {
        return checks.Finish();
    }
    checks.Expect(WaitFor([&] { return ViewPixel(session.bannerView, 345, 60) == kBlue; }, 2000),
                  "the banner is shown");
    ::Sleep(6500);
    checks.Equal(ViewPixel(session.bannerView, 345, 60), kBlue, "still shown after 6.5 s");
    checks.Equal(ViewPixel(session.bannerView, 2, 60), kBlue, "still at x = 0 after 6.5 s");
    CloseAndExpectNoTempFiles(checks, session, temp);
    return checks.Finish();
}

bool SilentBannerServerOnlyDelays() {
    Checks checks("banner-silent-server");
    Session session(gPaths.installerExe);
    test::LocalHttpServer server;
    server.NeverAnswer("/silent.bmp");
    const std::wstring temp = UseOwnTempFolder(session.stage);
    DemoPatch patch = PatchInLanguage(2);
    for (const auto& [key, value] : ManifestEntries{{"BannerCount", "2"},
                                                    {"Banner1.Mode", "Url"},
                                                    {"Banner1.Source", Utf8(server.Url("/silent.bmp"))},
                                                    {"Banner2.Source", "two.bmp"}}) {
        SetEntry(patch.manifest, key, value);
    }
    const bool staged = server.ok() && session.stage.ok() && session.stage.WritePatch(patch) &&
                        WriteFileAt(session.stage.app() + L"\\two.bmp", SolidBmp(690, 100, kGreen));
    if (!checks.Expect(staged, "silent banner server and a local banner") ||
        !checks.Expect(session.process.Start(session.stage), "start PatchInstaller.exe")) {
        return checks.Finish();
    }
    const DWORD started = ::GetTickCount();
    session.window = WaitForWindow(session.process.pid(), L"PatchNativeInstaller", nullptr, 30000);
    const DWORD waited = ::GetTickCount() - started;
    std::printf("banner-silent-server: installer window after %lu ms\n", static_cast<unsigned long>(waited));
    if (!checks.Expect(session.window != nullptr, "installer window appears")) return checks.Finish();
    checks.Expect(waited <= 15000 + 4000,
                  "window within the 15 s download limit and a few seconds (" + std::to_string(waited) + " ms)");
    RECT outer{};
    ::GetWindowRect(session.window, &outer);
    checks.Equal(Height(outer), 100 + 520, "only the local banner counts for the banner area");
    checks.Equal(static_cast<int>(FilesIn(temp).size()), 0, "the failed download's file is deleted at once");
    CloseAndExpectNoTempFiles(checks, session, temp);
    return checks.Finish();
}

}  // namespace e2e
