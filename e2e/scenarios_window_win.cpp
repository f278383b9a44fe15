// What the user sees before pressing Install: the icon, the loading window, the installer window's
// layout and texts in each language, and the folder dialog.
#include <cstdlib>
#include <cstring>

#include "app/resource.h"
#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "ui/ui_text.h"

namespace e2e {

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

struct ExpectedControl {
    const char* name;
    const wchar_t* className;
    int id;
    RECT rect;  // left, top, right, bottom in the window's client area, without banners
    DWORD style;
};

constexpr ExpectedControl kControls[kControlCount] = {
    {"MessageLabel", L"Static", 0, {24, 24, 704, 48}, kChild},
    {"GreetingBox", L"Edit", 0, {24, 50, 714, 180}, kChild | WS_BORDER | WS_VSCROLL | ES_READONLY | ES_MULTILINE},
    {"GameFolderLabel", L"Static", 0, {24, 205, 164, 229}, kChild},
    {"GameFolderBox", L"Edit", 1002, {170, 202, 572, 226}, kChild | WS_BORDER | ES_AUTOHSCROLL},
    {"BrowseButton", L"Button", 1003, {590, 199, 714, 229}, kChild},
    {"NoteLabel", L"Static", 0, {24, 248, 714, 290}, kChild},
    {"StatusLabel", L"Static", 0, {24, 302, 714, 326}, kChild},
    {"StatusLine", L"Edit", 0, {24, 330, 714, 358}, kChild | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL},
    {"InstallButton", L"Button", 1004, {434, 390, 566, 424}, kChild},
    {"CancelButton", L"Button", 1005, {582, 390, 714, 424}, kChild},
};

std::wstring ManifestGreeting(const DemoPatch& patch, int language) {
    const std::string key = std::string("Greeting.") + LanguageCode(language);
    for (const auto& [k, v] : patch.manifest) {
        if (k == key) return NativeName(v);  // UTF-8 to wide; greetings hold no "/"
    }
    return std::wstring();
}

std::wstring ExpectedText(int index, int language, const DemoPatch& patch) {
    switch (index) {
        case kMessageLabel:
            return UiText(UiTextRow::MessageCaption, language);
        case kGreetingBox:
            return ManifestGreeting(patch, language);
        case kGameFolderLabel:
            return UiText(UiTextRow::GameFolderCaption, language);
        case kBrowseButton:
            return UiText(UiTextRow::BrowseCaption, language);
        case kNoteLabel:
            return UiText(UiTextRow::InstallNote, language);
        case kStatusLabel:
            return UiText(UiTextRow::StatusCaption, language);
        case kStatusLine:
            return UiText(UiTextRow::StatusChooseFolder, language);
        case kInstallButton:
            return UiText(UiTextRow::InstallCaption, language);
        case kCancelButton:
            return UiText(UiTextRow::CancelCaption, language);
        default:
            return std::wstring();
    }
}

// The label or button shows its text on screen: some pixels in its rectangle are dark.
bool ShowsDarkPixels(HWND control) {
    RECT r{};
    ::GetWindowRect(control, &r);
    std::vector<uint32_t> pixels;
    if (!CaptureScreen(r, pixels)) return false;
    for (uint32_t p : pixels) {
        if (((p >> 16) & 0xFF) < 0x60 && ((p >> 8) & 0xFF) < 0x60 && (p & 0xFF) < 0x60) return true;
    }
    return false;
}

// The edit control takes WS_BORDER out of its style and draws the border itself, and a multi-line
// edit with a vertical scroll bar adds ES_AUTOVSCROLL: what another process reads back.
DWORD StyleAsReadBack(const ExpectedControl& control) {
    if (::lstrcmpiW(control.className, L"Edit") != 0) return control.style;
    DWORD style = control.style & ~static_cast<DWORD>(WS_BORDER);
    if ((style & ES_MULTILINE) && (style & WS_VSCROLL)) style |= ES_AUTOVSCROLL;
    return style;
}

// Height in pixels of the dark text drawn inside a button, its frame left out.
int CaptionInkHeight(HWND button) {
    RECT r{};
    ::GetWindowRect(button, &r);
    ::InflateRect(&r, -4, -4);
    std::vector<uint32_t> pixels;
    if (!CaptureScreen(r, pixels)) return -1;
    int first = -1;
    int last = -1;
    for (int y = 0; y < Height(r); ++y) {
        for (int x = 0; x < Width(r); ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * Width(r) + x];
            if (((p >> 16) & 0xFF) < 0x80 && ((p >> 8) & 0xFF) < 0x80 && (p & 0xFF) < 0x80) {
                if (first < 0) first = y;
                last = y;
                break;
            }
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

// `shift`: how far the banner area pushes every control down.
void CheckControl(Checks& checks, const Session& session, int index, const DemoPatch& patch, int shift = 0) {
    ExpectedControl want = kControls[index];
    ::OffsetRect(&want.rect, 0, shift);
    HWND control = session.control(static_cast<ControlIndex>(index));
    const std::string name = want.name;
    checks.Expect(::lstrcmpiW(ClassOf(control).c_str(), want.className) == 0,
                  name + " class: got " + Utf8(ClassOf(control)) + ", want " + Utf8(want.className));
    checks.Equal(::GetDlgCtrlID(control), want.id, name + " id");
    const RECT r = RectInParent(control, session.window);
    checks.Expect(std::memcmp(&r, &want.rect, sizeof r) == 0,
                  name + " rectangle: got " + std::to_string(r.left) + "," + std::to_string(r.top) + " " +
                      std::to_string(Width(r)) + "x" + std::to_string(Height(r)));
    checks.Equal(static_cast<DWORD>(::GetWindowLongW(control, GWL_STYLE)), StyleAsReadBack(want), name + " style");
    checks.Equal(static_cast<DWORD>(::GetWindowLongW(control, GWL_EXSTYLE)) & ~WS_EX_NOPARENTNOTIFY, DWORD{0},
                 name + " extended style");
    checks.Equal(TextOf(control), ExpectedText(index, session.language, patch), name + " text");
}

}  // namespace

bool IconResource() {
    Checks checks("icon-resource");
    HMODULE exe = ::LoadLibraryExW(gPaths.installerExe.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!checks.Expect(exe != nullptr, "open PatchInstaller.exe as a resource file")) return checks.Finish();
    HRSRC group = ::FindResourceW(exe, MAKEINTRESOURCEW(IDI_ICON1), RT_GROUP_ICON);
    const BYTE* dir = group ? static_cast<const BYTE*>(::LockResource(::LoadResource(exe, group))) : nullptr;
    if (checks.Expect(dir != nullptr, "icon group IDI_ICON1 exists")) {
        // GRPICONDIR: reserved, type, count; then 14-byte entries: width, height, colours,
        // reserved, planes, bit count, bytes, id.
        const int count = dir[4] | (dir[5] << 8);
        checks.Equal(count, 6, "images in the icon group");
        const int sizes[] = {16, 32, 48, 64, 128, 256};
        for (int i = 0; i < count && i < 6; ++i) {
            const BYTE* entry = dir + 6 + 14 * i;
            const int edge = entry[0] == 0 ? 256 : entry[0];
            const int bits = entry[6] | (entry[7] << 8);
            const int id = entry[12] | (entry[13] << 8);
            checks.Equal(edge, sizes[i], "icon image " + std::to_string(i) + " size");
            checks.Equal(bits, 32, "icon image " + std::to_string(i) + " bits per pixel");
            HRSRC image = ::FindResourceW(exe, MAKEINTRESOURCEW(id), RT_ICON);
            HICON icon = nullptr;
            if (image) {
                auto* bytes = static_cast<BYTE*>(::LockResource(::LoadResource(exe, image)));
                icon = ::CreateIconFromResourceEx(bytes, ::SizeofResource(exe, image), TRUE, 0x00030000, edge, edge,
                                                  LR_DEFAULTCOLOR);
            }
            checks.Expect(icon != nullptr, "icon image " + std::to_string(i) + " decodes");
            if (icon) ::DestroyIcon(icon);
        }
    }
    ::FreeLibrary(exe);
    return checks.Finish();
}

// The application manifest that the loader reads: resource type 24, id 1.
bool ManifestResource() {
    Checks checks("manifest-resource");
    HMODULE exe = ::LoadLibraryExW(gPaths.installerExe.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!checks.Expect(exe != nullptr, "open PatchInstaller.exe as a resource file")) return checks.Finish();
    HRSRC found = ::FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
    const char* bytes = found ? static_cast<const char*>(::LockResource(::LoadResource(exe, found))) : nullptr;
    if (checks.Expect(bytes != nullptr, "RT_MANIFEST 1 exists")) {
        // Blanks folded, so the checks read attributes, not the file's layout.
        std::string xml;
        for (const char* c = bytes; c < bytes + ::SizeofResource(exe, found); ++c) {
            const bool blank = *c == ' ' || *c == '\n' || *c == '\r' || *c == '\t';
            if (!blank || (!xml.empty() && xml.back() != ' ')) xml += blank ? ' ' : *c;
        }
        const struct {
            const char* what;
            const char* text;
            bool present;
        } declarations[] = {
            {"execution level", "<requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>", true},
            {"Windows 10 and 11", "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", true},
            {"common controls 6", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", true},
            // The layout is in fixed pixels: the system must keep scaling the window.
            {"no DPI awareness", "dpiAware", false},
        };
        for (const auto& d : declarations) {
            checks.Equal(xml.find(d.text) != std::string::npos, d.present, std::string("manifest declares ") + d.what);
        }
    }
    ::FreeLibrary(exe);
    return checks.Finish();
}

bool LoadingWindow() {
    Checks checks("loading-window");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    // A long manifest keeps the loading window up long enough to look at it: about 0.7 s beyond
    // the checks under Wine here.
    for (int i = 0; i < 600000; ++i) patch.manifest.emplace_back("Filler" + std::to_string(i), "x");
    if (!checks.Expect(session.stage.WritePatch(patch) && session.process.Start(session.stage), "start")) {
        return checks.Finish();
    }
    HWND loading = WaitForWindow(session.process.pid(), L"PatchNativeLoading", nullptr, kTimeoutMs);
    if (checks.Expect(loading != nullptr, "loading window appears")) {
        RECT r{};
        ::GetWindowRect(loading, &r);
        RECT work{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        checks.Equal(Width(r), 220, "loading window width");
        checks.Equal(Height(r), 72, "loading window height");
        checks.Equal(static_cast<int>(r.left), static_cast<int>(work.left + (Width(work) - 220) / 2), "centred: x");
        checks.Equal(static_cast<int>(r.top), static_cast<int>(work.top + (Height(work) - 72) / 2), "centred: y");
        checks.Equal(static_cast<DWORD>(::GetWindowLongW(loading, GWL_STYLE)),
                     static_cast<DWORD>(WS_POPUP | WS_BORDER | WS_VISIBLE | WS_CLIPSIBLINGS),
                     "loading window style (the system adds WS_CLIPSIBLINGS to top-level windows)");
        checks.Expect((::GetWindowLongW(loading, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "loading window is topmost");
        checks.Expect(ShowsDarkPixels(loading), "\"Loading...\" is drawn");
        SaveShot(loading, L"loading");
    }
    HWND installer = WaitForWindow(session.process.pid(), L"PatchNativeInstaller", nullptr, 30000);
    checks.Expect(installer != nullptr, "installer window follows");
    checks.Expect(!loading || !::IsWindow(loading), "loading window is gone once the installer window shows");
    return checks.Finish();
}

bool ReadyWindow(int language) {
    Checks checks(std::string("ready-") + LanguageCode(language));
    Session session(gPaths.installerExe);
    const DemoPatch patch = PatchInLanguage(language);
    if (!Launch(checks, session, patch, language, UiText(UiTextRow::InstallerTitle, language))) {
        return checks.Finish();
    }
    RECT outer{};
    ::GetWindowRect(session.window, &outer);
    checks.Equal(Width(outer), 758, "window outer width");
    checks.Equal(Height(outer), 520, "window outer height (no banner area)");
    checks.Equal(TextOf(session.window), session.title, "window title");
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(session.window, GWL_STYLE));
    checks.Equal(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_POPUP),
                 static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), "window style: fixed frame");
    for (int i = 0; i < kControlCount; ++i) CheckControl(checks, session, i, patch);
    for (int i : {kMessageLabel, kGameFolderLabel, kBrowseButton, kNoteLabel, kStatusLabel, kInstallButton,
                  kCancelButton}) {
        checks.Expect(ShowsDarkPixels(session.control(static_cast<ControlIndex>(i))),
                      std::string(kControls[i].name) + " text is drawn");
    }
    // The caption-fitting rule as the user sees it: only the Japanese Install caption is too wide
    // for its button and drawn with the 14-pixel font, so its glyphs are visibly smaller than those
    // of Cancel; in every other language both use the 18-pixel font.
    const int installInk = CaptionInkHeight(session.control(kInstallButton));
    const int cancelInk = CaptionInkHeight(session.control(kCancelButton));
    const std::string inks = ": install " + std::to_string(installInk) + ", cancel " + std::to_string(cancelInk);
    checks.Expect(installInk > 0 && cancelInk > 0, "button captions are drawn" + inks);
    if (language == 4) {
        checks.Expect(installInk <= cancelInk - 2, "Install caption drawn smaller than Cancel" + inks);
    } else {
        checks.Expect(std::abs(installInk - cancelInk) <= 1, "Install and Cancel captions drawn alike" + inks);
    }
    SaveShot(session.window, std::wstring(L"ready-") + NativeName(LanguageCode(language)));
    Click(session.control(kCancelButton));
    ExpectExitZero(checks, session);
    return checks.Finish();
}

bool BannersShiftTheLayout() {
    Checks checks("banners");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    // Scaled to the view's width of 690: 1380 x 400 gives 200, 690 x 150 stays 150; the area is 200.
    for (const auto& [key, value] : ManifestEntries{{"BannerCount", "2"},
                                                    {"Banner1.Source", "banner1.bmp"},
                                                    {"Banner2.Source", "art\\banner2.bmp"}}) {
        SetEntry(patch.manifest, key, value);
    }
    const bool written = WriteFileAt(session.stage.app() + L"\\banner1.bmp", SolidBmp(1380, 400, 0xC03020)) &&
                         WriteFileAt(session.stage.app() + L"\\art\\banner2.bmp", SolidBmp(690, 150, 0x2040C0));
    if (!checks.Expect(written, "banner images beside the installer") ||
        !Launch(checks, session, patch, 2, L"Patch Installer", BannerView::Present)) {
        return checks.Finish();
    }
    constexpr int kArea = 200;
    RECT outer{};
    ::GetWindowRect(session.window, &outer);
    checks.Equal(Width(outer), 758, "window outer width");
    checks.Equal(Height(outer), kArea + 520, "window outer height grows by the banner area");
    checks.Expect(::lstrcmpiW(ClassOf(session.bannerView).c_str(), L"PatchBannerView") == 0, "banner view class");
    checks.Equal(::GetDlgCtrlID(session.bannerView), 0, "banner view id");
    const RECT view = RectInParent(session.bannerView, session.window);
    const RECT wantView{24, 24, 714, 24 + kArea};
    checks.Expect(::EqualRect(&view, &wantView) != FALSE, "banner view spans 24,24 690 x 200");
    checks.Equal(static_cast<DWORD>(::GetWindowLongW(session.bannerView, GWL_STYLE)),
                 static_cast<DWORD>(WS_CHILD | WS_VISIBLE), "banner view style");
    for (int i = 0; i < kControlCount; ++i) CheckControl(checks, session, i, patch, kArea + 20);
    // The first banner is on show: the middle of the view has its colour.
    RECT middle{};
    ::GetWindowRect(session.bannerView, &middle);
    middle = RECT{middle.left + 340, middle.top + 95, middle.left + 350, middle.top + 105};
    std::vector<uint32_t> pixels;
    checks.Expect(WaitFor([&] { return CaptureScreen(middle, pixels) && (pixels[0] & 0xFFFFFF) == 0xC03020; }, 2000),
                  "the first banner is drawn in the view");
    SaveShot(session.window, L"ready-banners");
    ::PostMessageW(session.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectExitZero(checks, session);
    return checks.Finish();
}

bool BrowseCancel(int language) {
    Checks checks(std::string("browse-cancel-") + LanguageCode(language));
    Session session(gPaths.installerExe);
    if (!Launch(checks, session, PatchInLanguage(language), language,
                UiText(UiTextRow::InstallerTitle, language))) {
        return checks.Finish();
    }
    const std::wstring typed = L"D:\\Games\\typed before browsing";
    SetText(session.control(kGameFolderBox), typed);
    Click(session.control(kBrowseButton));
    HWND dialog = WaitForWindow(session.process.pid(), L"#32770", session.window, kTimeoutMs);
    if (checks.Expect(dialog != nullptr, "folder dialog owned by the installer window opens")) {
        checks.Equal(TextOf(dialog), UiText(UiTextRow::GameFolderCaption, language), "folder dialog title");
        checks.Expect(!::IsWindowEnabled(session.window), "installer window disabled while the dialog is open");
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        checks.Expect(WaitUntilGone(dialog, kTimeoutMs), "folder dialog closes on Cancel");
    }
    checks.Expect(WaitFor([&] { return ::IsWindowEnabled(session.window) != FALSE; }, kTimeoutMs),
                  "installer window enabled again");
    checks.Equal(TextOf(session.control(kGameFolderBox)), typed, "folder box unchanged after Cancel");
    Click(session.control(kCancelButton));
    ExpectExitZero(checks, session);
    return checks.Finish();
}

bool BrowsePick() {
    Checks checks("browse-pick");
    Session session(gPaths.installerExe);
    if (!Launch(checks, session, PatchInLanguage(2), 2, L"Patch Installer")) return checks.Finish();
    SetText(session.control(kGameFolderBox), L"old text");
    Click(session.control(kBrowseButton));
    HWND dialog = WaitForWindow(session.process.pid(), L"#32770", session.window, kTimeoutMs);
    if (checks.Expect(dialog != nullptr, "folder dialog opens")) {
        checks.Equal(TextOf(dialog), L"Game folder", "folder dialog title");
        HWND name = ::GetDlgItem(dialog, 1152);
        checks.Expect(name != nullptr && SetText(name, session.stage.game()), "type the folder into the dialog");
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        checks.Expect(WaitUntilGone(dialog, kTimeoutMs), "folder dialog closes on OK");
    }
    const std::wstring want = session.stage.game();
    checks.Expect(WaitFor([&] { return TextOf(session.control(kGameFolderBox)) == want; }, kTimeoutMs),
                  "folder box shows the chosen folder: got " + Utf8(TextOf(session.control(kGameFolderBox))) +
                      ", want " + Utf8(want));
    Click(session.control(kCancelButton));
    ExpectExitZero(checks, session);
    return checks.Finish();
}

}  // namespace e2e
