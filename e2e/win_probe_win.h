#pragma once
// Looking at and acting on another process's windows the way a user would: find them by class,
// read their texts, rectangles and styles, press buttons, read message boxes, take screenshots.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

std::string Utf8(const std::wstring& text);

// Waits (polling) up to `timeoutMs` for a visible top-level window of `className` that belongs to
// process `pid` and, when `owner` is given, is owned by it. Null when none appeared.
HWND WaitForWindow(DWORD pid, const wchar_t* className, HWND owner, DWORD timeoutMs);
bool WaitUntilGone(HWND window, DWORD timeoutMs);
// Polls `condition` until it holds or the time is up; returns its last value.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(5);
    }
}

std::wstring ClassOf(HWND window);
// WM_GETTEXT across processes (GetWindowTextW does not read another process's edit boxes).
std::wstring TextOf(HWND window);
bool SetText(HWND window, const std::wstring& text);
// Direct children in z-order, which for controls is their creation order.
std::vector<HWND> Children(HWND parent);
// The child's window rectangle in the parent's client coordinates.
RECT RectInParent(HWND child, HWND parent);
int Width(const RECT& r);
int Height(const RECT& r);

// Posted, not sent: a sent click would block while the handler shows a modal box.
void Click(HWND button);

enum class BoxIcon { None, Error, Information, Warning, Question };
const char* BoxIconName(BoxIcon icon);

struct MessageBoxView {
    std::wstring caption;
    std::wstring text;
    BoxIcon icon = BoxIcon::None;
    int buttonCount = 0;
    HWND okButton = nullptr;
};
// Reads a standard message box (class "#32770"); the icon is told by its pixels on screen.
MessageBoxView ReadMessageBox(HWND box);

// Screen pixels of a rectangle, 0x00RRGGBB, rows top to bottom.
bool CaptureScreen(const RECT& screenRect, std::vector<uint32_t>& pixels);
// Saves the window as it is on screen as a PNG file.
bool SaveWindowPng(HWND window, const std::wstring& path);

}  // namespace e2e
