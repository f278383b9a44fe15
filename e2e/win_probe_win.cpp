#include "e2e/win_probe_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include "platform/text.h"

namespace e2e {

namespace {

constexpr DWORD kSendTimeoutMs = 3000;

struct FindRequest {
    DWORD pid;
    const wchar_t* className;
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<FindRequest*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != request->pid || !::IsWindowVisible(window)) return TRUE;
    if (::lstrcmpiW(ClassOf(window).c_str(), request->className) != 0) return TRUE;
    if (request->owner && ::GetWindow(window, GW_OWNER) != request->owner) return TRUE;
    request->found = window;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<std::pair<HWND, std::vector<HWND>*>*>(param);
    if (::GetParent(window) == request->first) request->second->push_back(window);
    return TRUE;
}

// Draws `icon` the size of the captured area on the captured area's corner colour, so a correct
// icon matches the screen pixel for pixel.
int DifferingPixels(const std::vector<uint32_t>& screen, int width, int height, LPCWSTR iconId) {
    HICON icon = ::LoadIconW(nullptr, iconId);
    HDC screenDc = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screenDc);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screenDc, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    const uint32_t corner = screen[0];
    HBRUSH brush = ::CreateSolidBrush(RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF));
    RECT all{0, 0, width, height};
    ::FillRect(memory, &all, brush);
    ::DeleteObject(brush);
    ::DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB};
    std::vector<uint32_t> drawn(static_cast<size_t>(width) * height);
    ::SelectObject(memory, previous);
    ::GetDIBits(memory, bitmap, 0, height, drawn.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screenDc);
    int differing = 0;
    for (size_t i = 0; i < drawn.size(); ++i) differing += (drawn[i] & 0xFFFFFF) != (screen[i] & 0xFFFFFF);
    return differing;
}

BoxIcon IdentifyIcon(HWND iconStatic) {
    RECT r{};
    ::GetWindowRect(iconStatic, &r);
    std::vector<uint32_t> screen;
    if (Width(r) <= 0 || Height(r) <= 0 || !CaptureScreen(r, screen)) return BoxIcon::None;
    struct Candidate {
        BoxIcon icon;
        LPCWSTR id;
    } candidates[] = {{BoxIcon::Error, IDI_ERROR},
                      {BoxIcon::Information, IDI_INFORMATION},
                      {BoxIcon::Warning, IDI_WARNING},
                      {BoxIcon::Question, IDI_QUESTION}};
    for (const Candidate& c : candidates) {
        if (DifferingPixels(screen, Width(r), Height(r), c.id) == 0) return c.icon;
    }
    return BoxIcon::None;
}

// The PNG encoder of GDI+.
bool EncoderClsid(CLSID& clsid) {
    return ::CLSIDFromString(L"{557CF406-1A04-11D3-9A73-0000F81EF32E}", &clsid) == S_OK;
}

}  // namespace

std::string Utf8(const std::wstring& text) { return platform::ConvertWideToUtf8(text); }

HWND WaitForWindow(DWORD pid, const wchar_t* className, HWND owner, DWORD timeoutMs) {
    FindRequest request{pid, className, owner, nullptr};
    WaitFor(
        [&] {
            request.found = nullptr;
            ::EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&request));
            return request.found != nullptr;
        },
        timeoutMs);
    return request.found;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
    return WaitFor([&] { return !::IsWindow(window); }, timeoutMs);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length)) {
        return L"<no answer>";
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &copied);
    text.resize(copied);
    return text;
}

bool SetText(HWND window, const std::wstring& text) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                                 kSendTimeoutMs, &result) != 0;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    std::pair<HWND, std::vector<HWND>*> request{parent, &children};
    ::EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&request));
    return children;
}

RECT RectInParent(HWND child, HWND parent) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

void Click(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

const char* BoxIconName(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Error:
            return "error";
        case BoxIcon::Information:
            return "information";
        case BoxIcon::Warning:
            return "warning";
        case BoxIcon::Question:
            return "question";
        case BoxIcon::None:
            break;
    }
    return "none";
}

MessageBoxView ReadMessageBox(HWND box) {
    MessageBoxView view;
    view.caption = TextOf(box);
    for (HWND child : Children(box)) {
        const std::wstring cls = ClassOf(child);
        const LONG style = ::GetWindowLongW(child, GWL_STYLE);
        if (::lstrcmpiW(cls.c_str(), L"Button") == 0) {
            ++view.buttonCount;
            if (::GetDlgCtrlID(child) == IDOK) view.okButton = child;
        } else if (::lstrcmpiW(cls.c_str(), L"Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                view.icon = IdentifyIcon(child);
            } else if (::GetDlgCtrlID(child) == 0xFFFF) {
                view.text = TextOf(child);
            }
        }
    }
    return view;
}

bool CaptureScreen(const RECT& r, std::vector<uint32_t>& pixels) {
    const int width = Width(r);
    const int height = Height(r);
    HDC screenDc = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screenDc);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screenDc, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    const bool copied = ::BitBlt(memory, 0, 0, width, height, screenDc, r.left, r.top, SRCCOPY) != 0;
    ::SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB};
    pixels.assign(static_cast<size_t>(width) * height, 0);
    const bool read = ::GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height;
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screenDc);
    return copied && read;
}

bool SaveWindowPng(HWND window, const std::wstring& path) {
    RECT r{};
    ::GetWindowRect(window, &r);
    std::vector<uint32_t> pixels;
    if (!CaptureScreen(r, pixels)) return false;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    bool saved = false;
    {
        Gdiplus::Bitmap image(Width(r), Height(r), Width(r) * 4, PixelFormat32bppRGB,
                              reinterpret_cast<BYTE*>(pixels.data()));
        CLSID png{};
        saved = EncoderClsid(png) && image.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

}  // namespace e2e
