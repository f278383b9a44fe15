// The banner view under Wine: pixels painted into an off-screen DIB and through a real window
// (scaling to the view's width, vertical centring, background bands, the slide), the hand cursor
// only over a banner with a link, and a click that opens the link through the shell.
#include "ui/banner_view_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "banner/banners.h"
#include "common/paths.h"
#include "platform/fs.h"
#include "support/local_http_server.h"
#include "support/wine_browser_win.h"
#include "support/test_images.h"
#include "support/test_support.h"

namespace {

// Image decoding and drawing need GDI+ in every test of this program, as in the installer.
class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override {
        ClearBanners();
        Gdiplus::GdiplusShutdown(token_);
    }

private:
    ULONG_PTR token_ = 0;
};
::testing::Environment* const gGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

constexpr COLORREF kBackground = RGB(245, 245, 245);
constexpr test::Rgb kRed = {220, 20, 20};
constexpr test::Rgb kBlue = {20, 20, 220};
constexpr test::Rgb kGreen = {20, 200, 20};

// A 32-bit top-down DIB selected into a memory DC: painted into, then read pixel by pixel.
class Canvas {
public:
    Canvas(int width, int height) : width_(width) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = ::CreateCompatibleDC(nullptr);
        bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        old_ = ::SelectObject(dc_, bitmap_);
        for (int i = 0; i < width * height; ++i) bits_[i] = 0x00123456;  // neither colour used below
    }
    ~Canvas() {
        ::SelectObject(dc_, old_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    COLORREF At(int x, int y) const {
        ::GdiFlush();
        uint32_t p = bits_[y * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

private:
    int width_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// Close to `expected` in every channel: bicubic scaling of a flat colour may be off by a little.
::testing::AssertionResult Near(COLORREF got, COLORREF expected) {
    auto close = [](int a, int b) { return a - b <= 3 && b - a <= 3; };
    if (close(GetRValue(got), GetRValue(expected)) && close(GetGValue(got), GetGValue(expected)) &&
        close(GetBValue(got), GetBValue(expected))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got RGB(" << int(GetRValue(got)) << "," << int(GetGValue(got)) << ","
                                         << int(GetBValue(got)) << ") expected RGB(" << int(GetRValue(expected)) << ","
                                         << int(GetGValue(expected)) << "," << int(GetBValue(expected)) << ")";
}

COLORREF Ref(test::Rgb c) {
    return RGB(c.r, c.g, c.b);
}

class BannerViewTest : public ::testing::Test {
protected:
    void TearDown() override { ClearBanners(); }

    // Appends a banner whose image is `bmp`, as LoadBanners would.
    void AddBanner(const std::string& bmp, const std::wstring& link = L"") {
        std::wstring path = dir / (L"banner" + std::to_wstring(gBannerList.size()) + L".bmp");
        ASSERT_TRUE(test::WriteFileBytes(path, bmp));
        BannerEntry entry;
        entry.source = path;
        entry.link = link;
        ASSERT_TRUE(entry.image.Load(path));
        gBannerList.push_back(std::move(entry));
    }

    test::ScratchDir dir;
};

TEST_F(BannerViewTest, ScalesToTheWidthAndCentresVertically) {
    // Left half red, right half blue: a 1380 x 400 image fills a 690 x 200 view exactly.
    AddBanner(test::MakeBmp(1380, 400, [](uint32_t x, uint32_t) { return x < 690 ? kRed : kBlue; }));
    Canvas canvas(690, 200);
    PaintBannerView(canvas.dc(), 690, 200, 0);
    for (int y : {1, 100, 198}) {
        EXPECT_TRUE(Near(canvas.At(5, y), Ref(kRed))) << y;
        EXPECT_TRUE(Near(canvas.At(340, y), Ref(kRed))) << y;
        EXPECT_TRUE(Near(canvas.At(350, y), Ref(kBlue))) << y;
        EXPECT_TRUE(Near(canvas.At(684, y), Ref(kBlue))) << y;
    }

    // A 690 x 100 image in a view 250 high: drawn at y = 75, background bands of 75 above and below.
    ClearBanners();
    AddBanner(test::MakeSolidBmp(690, 100, kGreen));
    Canvas tall(690, 250);
    PaintBannerView(tall.dc(), 690, 250, 0);
    for (int y : {0, 40, 73}) EXPECT_EQ(tall.At(300, y), kBackground) << y;
    for (int y : {77, 125, 172}) EXPECT_TRUE(Near(tall.At(300, y), Ref(kGreen))) << y;
    for (int y : {176, 200, 249}) EXPECT_EQ(tall.At(300, y), kBackground) << y;
}

TEST_F(BannerViewTest, HalfwayThroughASlideBothBannersShowSideBySide) {
    AddBanner(test::MakeSolidBmp(690, 200, kRed));
    AddBanner(test::MakeSolidBmp(690, 200, kBlue));
    AddBanner(test::MakeSolidBmp(690, 200, kGreen));
    struct Case {
        int32_t index;
        uint32_t elapsed;
        int boundary;  // first column of the incoming banner
        test::Rgb out, in;
    } cases[] = {
        {0, 325, 345, kRed, kBlue},
        {2, 325, 345, kGreen, kRed},  // the last banner slides back to the first
        {1, 65, 621, kBlue, kGreen},
    };
    for (const Case& c : cases) {
        const uint32_t start = 0xFFFFFF00u;  // the slide runs across the wrap of the tick count
        gBannerRotation = BannerRotation{c.index, true, start, start};
        Canvas canvas(690, 200);
        PaintBannerView(canvas.dc(), 690, 200, start + c.elapsed);
        EXPECT_TRUE(Near(canvas.At(0, 100), Ref(c.out))) << c.index;
        EXPECT_TRUE(Near(canvas.At(c.boundary - 3, 100), Ref(c.out))) << c.index;
        EXPECT_TRUE(Near(canvas.At(c.boundary + 2, 100), Ref(c.in))) << c.index;
        EXPECT_TRUE(Near(canvas.At(689, 100), Ref(c.in))) << c.index;
    }
}

TEST_F(BannerViewTest, OnlyBackgroundWithoutBannersAndNoSlideWithOne) {
    Canvas empty(690, 120);
    PaintBannerView(empty.dc(), 690, 120, 0);
    for (int x : {0, 345, 689}) EXPECT_EQ(empty.At(x, 60), kBackground);

    // One banner never slides, whatever the rotation state says.
    AddBanner(test::MakeSolidBmp(690, 120, kRed));
    gBannerRotation = BannerRotation{0, true, 1000, 1000};
    Canvas one(690, 120);
    PaintBannerView(one.dc(), 690, 120, 1325);
    for (int x : {2, 345, 687}) EXPECT_TRUE(Near(one.At(x, 60), Ref(kRed))) << x;
}

// A real PatchBannerView window, as the installer window creates it (there a child; a pop-up here
// so the test needs no parent).
class ViewWindow {
public:
    explicit ViewWindow(int height) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = BannerViewProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kBannerViewClassName;
        ::RegisterClassW(&wc);
        window_ = ::CreateWindowExW(WS_EX_TOPMOST, kBannerViewClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, 690, height,
                                    nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~ViewWindow() {
        if (window_) ::DestroyWindow(window_);
    }
    HWND get() const { return window_; }

private:
    HWND window_ = nullptr;
};

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

TEST_F(BannerViewTest, WindowPaintsWithoutErasingAndRotationRepaints) {
    AddBanner(test::MakeSolidBmp(690, 100, kBlue));
    AddBanner(test::MakeSolidBmp(690, 100, kRed));
    ViewWindow view(200);
    ASSERT_NE(view.get(), nullptr);
    EXPECT_EQ(::SendMessageW(view.get(), WM_ERASEBKGND, 0, 0), 1);
    ::UpdateWindow(view.get());
    PumpMessages();

    Canvas screen(690, 200);
    HDC windowDc = ::GetDC(view.get());
    ::BitBlt(screen.dc(), 0, 0, 690, 200, windowDc, 0, 0, SRCCOPY);
    ::ReleaseDC(view.get(), windowDc);
    EXPECT_EQ(screen.At(100, 10), kBackground);
    EXPECT_TRUE(Near(screen.At(100, 100), Ref(kBlue)));
    EXPECT_EQ(screen.At(100, 190), kBackground);

    // Every rotation step asks for a repaint of the whole view, without erasing.
    StartBannerRotation();
    AdvanceBannerRotation(view.get());
    RECT update = {};
    EXPECT_TRUE(::GetUpdateRect(view.get(), &update, FALSE));
    EXPECT_EQ(update.right - update.left, 690);
    EXPECT_EQ(update.bottom - update.top, 200);
}

TEST_F(BannerViewTest, HandCursorOnlyOverABannerWithALink) {
    AddBanner(test::MakeSolidBmp(10, 10, kRed), L"https://example.invalid/");
    AddBanner(test::MakeSolidBmp(10, 10, kBlue));
    AddBanner(test::MakeSolidBmp(10, 10, kGreen), L"\\\\host\\share\\setup.exe");
    ViewWindow view(100);
    ASSERT_NE(view.get(), nullptr);
    HCURSOR hand = ::LoadCursorW(nullptr, IDC_HAND);
    HCURSOR arrow = ::LoadCursorW(nullptr, IDC_ARROW);
    LPARAM hit = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    struct Case {
        int32_t index;
        bool sliding;
        HCURSOR cursor;
    } cases[] = {{0, false, hand}, {1, false, arrow}, {0, true, hand}, {1, true, arrow}, {2, false, arrow}};
    for (const Case& c : cases) {
        gBannerRotation = BannerRotation{c.index, c.sliding, 0, 0};
        ::SetCursor(nullptr);
        LRESULT result = ::SendMessageW(view.get(), WM_SETCURSOR, reinterpret_cast<WPARAM>(view.get()), hit);
        EXPECT_EQ(::GetCursor(), c.cursor) << c.index;
        if (c.cursor == hand) {
            EXPECT_EQ(result, TRUE);
        }
    }
    ClearBanners();
    ::SetCursor(nullptr);
    ::SendMessageW(view.get(), WM_SETCURSOR, reinterpret_cast<WPARAM>(view.get()), hit);
    EXPECT_EQ(::GetCursor(), arrow);
}

bool WaitForFile(const std::wstring& path, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 50) {
        if (platform::GetPathKind(path) == platform::PathKind::File) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return platform::GetPathKind(path) == platform::PathKind::File;
}

bool WaitForRequest(test::LocalHttpServer& server, const std::string& path, int milliseconds) {
    for (int waited = 0;; waited += 50) {
        for (const std::string& seen : server.Requests())
            if (seen == path) return true;
        if (waited >= milliseconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Web links reach the test's server through the browser; a local program given as a link (a small
// one of the test's own that leaves "opened.marker" beside itself) is never started.
TEST_F(BannerViewTest, ReleasingTheButtonOpensTheCurrentBannersLink) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(test::RouteWebLinksToCurl());
    std::wstring probe = JoinPath(GetExeDirectory(), L"banner_link_probe.exe");
    ASSERT_EQ(platform::GetPathKind(probe), platform::PathKind::File);
    std::filesystem::copy_file(test::FsPath(probe), test::FsPath(dir / L"probe.exe"));

    AddBanner(test::MakeSolidBmp(10, 10, kRed), server.Url("/one"));
    AddBanner(test::MakeSolidBmp(10, 10, kBlue));
    AddBanner(test::MakeSolidBmp(10, 10, kGreen), server.Url("/three"));
    AddBanner(test::MakeSolidBmp(10, 10, kGreen), dir / L"probe.exe");
    ViewWindow view(100);
    ASSERT_NE(view.get(), nullptr);

    // A banner without a link, and one whose link is a program: the click does nothing.
    for (int32_t index : {1, 3}) {
        gBannerRotation = BannerRotation{index, false, 0, 0};
        EXPECT_EQ(::SendMessageW(view.get(), WM_LBUTTONUP, 0, MAKELPARAM(10, 10)), 0);
    }
    // During a slide the click belongs to the banner moving out (index 2), not the one coming in.
    gBannerRotation = BannerRotation{2, true, ::GetTickCount(), 0};
    EXPECT_EQ(::SendMessageW(view.get(), WM_LBUTTONUP, 0, MAKELPARAM(10, 10)), 0);
    EXPECT_TRUE(WaitForRequest(server, "/three", 10000));

    gBannerRotation = BannerRotation{0, false, 0, 0};
    ::SendMessageW(view.get(), WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_TRUE(WaitForRequest(server, "/one", 10000));
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/three", "/one"}));
    EXPECT_FALSE(WaitForFile(dir / L"opened.marker", 1000));
}

}  // namespace
