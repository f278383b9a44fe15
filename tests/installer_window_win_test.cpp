// The installer window built inside the test process, where what another process cannot see is
// visible: the styles the controls were created with (before the edit control rewrites its own),
// the fonts each control holds, and the caption-fitting rule.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "banner/banners.h"
#include "manifest/manifest.h"
#include "ui/installer_window_win.h"
#include "ui/loading_window_win.h"
#include "ui/ui_text.h"
#include "ui/window_handles_win.h"

namespace {

struct Creation {
    std::wstring className;
    DWORD style;
    int id;
    RECT rect;  // x, y, x + width, y + height as requested
};

std::vector<Creation>* gCreations = nullptr;

// Records every window creation of this thread with the parameters the program passed.
LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && gCreations) {
        const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if (cs->hwndParent) {  // the controls, not the top-level window itself
            gCreations->push_back({IS_INTRESOURCE(cs->lpszClass) ? L"" : cs->lpszClass, static_cast<DWORD>(cs->style),
                                   static_cast<int>(reinterpret_cast<INT_PTR>(cs->hMenu)),
                                   RECT{cs->x, cs->y, cs->x + cs->cx, cs->y + cs->cy}});
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LOGFONTW FontParameters(HFONT font) {
    LOGFONTW lf{};
    ::GetObjectW(font, sizeof lf, &lf);
    return lf;
}

HFONT FontOf(HWND control) { return reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)); }

int TextWidth(HWND window, HFONT font, const std::wstring& text) {
    HDC dc = ::GetDC(window);
    HGDIOBJ previous = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, previous);
    ::ReleaseDC(window, dc);
    return size.cx;
}

class InstallerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        gInstance = ::GetModuleHandleW(nullptr);
        WNDCLASSW wc{};
        wc.lpfnWndProc = InstallerWndProc;
        wc.hInstance = gInstance;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kInstallerWindowClass;
        ::RegisterClassW(&wc);
    }
    void TearDown() override {
        if (gInstallerWindow) ::DestroyWindow(gInstallerWindow);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {  // the WM_QUIT of WM_DESTROY
        }
        gPatchManifest.clear();
        gInstallLanguage = 0;
    }

    HWND CreateInstallerWindow(std::vector<Creation>* creations = nullptr) {
        gCreations = creations;
        HHOOK hook = ::SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, ::GetCurrentThreadId());
        HWND window = ::CreateWindowExW(0, kInstallerWindowClass, L"", kInstallerWindowStyle, CW_USEDEFAULT,
                                        CW_USEDEFAULT, kInstallerWindowWidth, kInstallerWindowBaseHeight, nullptr,
                                        nullptr, gInstance, nullptr);
        ::UnhookWindowsHookEx(hook);
        gCreations = nullptr;
        return window;
    }
};

// What the fonts are for, measured: the small font must make a caption narrower (the fitting rule
// relies on it), the loading text must fit its box and stand out from the body text, and the
// three fonts live exactly as long as their owner.
TEST_F(InstallerWindowTest, FontsDoTheirJobsAndLiveWithTheirOwner) {
    HWND parent = nullptr;
    {
        UiFonts fonts;
        ASSERT_TRUE(gBodyFont && gButtonFont && gSmallButtonFont);
        EXPECT_NE(gBodyFont, gButtonFont);  // two objects, deleted one by one
        const HFONT body = gBodyFont;
        CreateUiFonts();
        EXPECT_EQ(gBodyFont, body);  // a second call keeps the fonts that exist
        parent = CreateInstallerWindow();
        ASSERT_NE(parent, nullptr);
        const std::wstring caption = L"パッチをインストール";
        EXPECT_LT(TextWidth(parent, gSmallButtonFont, caption), TextWidth(parent, gButtonFont, caption));

        const platform::UniqueGdiObject loading = CreateLoadingFont();
        const HFONT loadingFont = static_cast<HFONT>(loading.get());
        const std::wstring text = L"Loading...";
        EXPECT_GT(TextWidth(parent, loadingFont, text), TextWidth(parent, gBodyFont, text));
        EXPECT_LT(TextWidth(parent, loadingFont, text), kLoadingWindowWidth);
        EXPECT_GE(FontParameters(loadingFont).lfWeight, FW_BOLD);
    }
    // The window still stands, so only the owner can have deleted them.
    EXPECT_TRUE(::IsWindow(parent));
    EXPECT_TRUE(!gBodyFont && !gButtonFont && !gSmallButtonFont);
}

TEST_F(InstallerWindowTest, LoadingWindowCentredOnWorkArea) {
    struct Case {
        RECT work;
        POINT corner;
    } cases[] = {
        {{0, 0, 1280, 1024}, {530, 476}},
        {{0, 0, 1280, 984}, {530, 456}},        // taskbar at the bottom
        {{100, 40, 1381, 1065}, {630, 516}},    // odd free space: the half is truncated
        {{-1920, 0, 0, 1080}, {-1070, 504}},    // a monitor left of the primary
        {{0, 0, 101, 50}, {-59, -11}},          // smaller than the window: truncated toward zero
    };
    for (const Case& c : cases) {
        const POINT p = CenterOnWorkArea(c.work, kLoadingWindowWidth, kLoadingWindowHeight);
        EXPECT_EQ(p.x, c.corner.x) << c.work.left << "," << c.work.right;
        EXPECT_EQ(p.y, c.corner.y) << c.work.top << "," << c.work.bottom;
    }
}

// What the controls are, in creation order (the tab order), and the rules their rectangles keep;
// the exact coordinates are read from the real window by the end-to-end tests.
TEST_F(InstallerWindowTest, ControlsAreCreatedAsLaidOut) {
    gPatchManifest = {{"Greeting", L"hello"}};
    std::vector<Creation> creations;
    HWND window = CreateInstallerWindow(&creations);
    ASSERT_NE(window, nullptr);
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    struct Want {
        const wchar_t* className;
        DWORD style;
        int id;
        int row;         // top to bottom; controls of one row share it
        bool fullWidth;  // spans the column of the banner view
    } want[] = {
        {L"STATIC", kChild, 0, 0, false},
        {L"EDIT", kChild | WS_BORDER | WS_VSCROLL | ES_READONLY | ES_MULTILINE, 0, 1, true},
        {L"STATIC", kChild, 0, 2, false},
        {L"EDIT", kChild | WS_BORDER | ES_AUTOHSCROLL, kIdGameFolderBox, 2, false},
        {L"BUTTON", kChild, kIdBrowseButton, 2, false},
        {L"STATIC", kChild, 0, 3, true},
        {L"STATIC", kChild, 0, 4, true},
        {L"EDIT", kChild | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, 0, 5, true},
        {L"BUTTON", kChild, kIdInstallButton, 6, false},
        {L"BUTTON", kChild, kIdCancelButton, 6, false},
    };
    ASSERT_EQ(creations.size(), std::size(want));  // no banner view without banners
    RECT client{};
    ::GetClientRect(window, &client);
    const RECT& column = creations[1].rect;  // the greeting box spans the column
    EXPECT_EQ(column.right - column.left, kBannerViewWidth);
    for (size_t i = 0; i < creations.size(); ++i) {
        const RECT& r = creations[i].rect;
        EXPECT_EQ(creations[i].className, want[i].className) << i;
        EXPECT_EQ(creations[i].style, want[i].style) << i;
        EXPECT_EQ(creations[i].id, want[i].id) << i;
        EXPECT_TRUE(r.left >= column.left && r.right <= column.right && r.top >= 0 && r.bottom <= client.bottom)
            << i << " leaves the column or the client area";
        if (want[i].fullWidth) {
            EXPECT_TRUE(r.left == column.left && r.right == column.right) << i;
        }
        for (size_t j = 0; j < i; ++j) {
            RECT overlap{};
            EXPECT_FALSE(::IntersectRect(&overlap, &creations[j].rect, &r)) << j << " overlaps " << i;
            if (want[j].row < want[i].row) {
                EXPECT_LE(creations[j].rect.bottom, r.top) << i << " below " << j;
            } else {
                EXPECT_LE(creations[j].rect.right, r.left) << i << " right of " << j;
            }
        }
    }
    // The right-hand buttons end at the column's right edge; the captions line up on the left.
    for (size_t i : {4u, 9u}) EXPECT_EQ(creations[i].rect.right, column.right) << i;
    for (size_t i : {0u, 2u}) EXPECT_EQ(creations[i].rect.left, column.left) << i;
    EXPECT_EQ(::GetWindowTextLengthW(gGameFolderBox), 0);
}

TEST_F(InstallerWindowTest, EachControlHoldsItsFont) {
    for (int language = 0; language < kLanguageCount; ++language) {
        gInstallLanguage = language;
        ASSERT_NE(CreateInstallerWindow(), nullptr);
        for (HWND control : {gMessageLabel, gGreetingBox, gGameFolderLabel, gGameFolderBox, gNoteLabel, gStatusLabel,
                             gStatusLine}) {
            EXPECT_EQ(FontOf(control), gBodyFont) << language;
        }
        for (HWND button : {gBrowseButton, gInstallButton, gCancelButton}) {
            RECT client{};
            ::GetClientRect(button, &client);
            wchar_t text[256] = {};
            ::GetWindowTextW(button, text, 256);
            const bool tooWide = TextWidth(button, gButtonFont, text) > client.right - kCaptionMargin;
            EXPECT_EQ(FontOf(button), language == kJapaneseLanguage && tooWide ? gSmallButtonFont : gButtonFont)
                << language << " " << ::GetDlgCtrlID(button);
        }
        ::DestroyWindow(gInstallerWindow);
        EXPECT_EQ(gInstallerWindow, nullptr);
        EXPECT_EQ(gBodyFont, nullptr);  // deleted with the window
    }
}

TEST_F(InstallerWindowTest, OnlyJapaneseCaptionsTooWideSwitchToTheSmallFont) {
    CreateUiFonts();
    HWND parent = CreateInstallerWindow();
    ASSERT_NE(parent, nullptr);
    const std::wstring caption = L"パッチをインストール";
    const int cx = TextWidth(parent, gButtonFont, caption);
    ASSERT_GT(cx, 0);
    struct Case {
        int language;
        int width;           // the button's client width; the rule is cx > width - 18
        HFONT initialFont;   // what the button holds before; measuring must not use it
        HFONT* want;
    } cases[] = {
        {4, cx + kCaptionMargin, gButtonFont, &gButtonFont},           // exactly fits
        {4, cx + kCaptionMargin - 1, gButtonFont, &gSmallButtonFont},  // one pixel too wide
        {4, cx + kCaptionMargin - 1, gSmallButtonFont, &gSmallButtonFont},
        {4, 40, gButtonFont, &gSmallButtonFont},
        {3, cx + kCaptionMargin - 1, gButtonFont, &gButtonFont},  // Korean keeps the font however wide
        {3, 40, gSmallButtonFont, &gButtonFont},
        {2, 40, gSmallButtonFont, &gButtonFont},
    };
    for (const Case& c : cases) {
        gInstallLanguage = c.language;
        HWND button = CreateButton(parent, 4242, 0, 0, c.width, 34);
        ::SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(c.initialFont), FALSE);
        SetFittedCaption(button, caption);
        EXPECT_EQ(FontOf(button), *c.want) << c.language << " width " << c.width << " text " << cx;
        wchar_t text[64] = {};
        ::GetWindowTextW(button, text, 64);
        EXPECT_EQ(std::wstring(text), caption);
        ::DestroyWindow(button);
    }
}

TEST_F(InstallerWindowTest, TextsFollowTheInstallLanguageAndTheManifest) {
    gInstallLanguage = 4;
    gPatchManifest = {{"WindowTitle", L"My Patch"}, {"Greeting.ja", L"ようこそ"}, {"Greeting", L"any"}};
    ASSERT_NE(CreateInstallerWindow(), nullptr);
    auto text = [](HWND window) {
        wchar_t buffer[256] = {};
        ::GetWindowTextW(window, buffer, 256);
        return std::wstring(buffer);
    };
    EXPECT_EQ(text(gInstallerWindow), L"My Patch");
    EXPECT_EQ(text(gGameFolderLabel), L"ゲームフォルダー");
    EXPECT_EQ(text(gInstallButton), L"パッチをインストール");
    EXPECT_EQ(text(gGreetingBox), L"ようこそ");
    EXPECT_EQ(text(gStatusLine), L"ゲームフォルダーを選択してください。");
    EXPECT_EQ(text(gGameFolderBox), L"");
}

}  // namespace
