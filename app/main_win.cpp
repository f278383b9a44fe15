// The process's graphical entry point: start-up, the message loop and shutdown on the one thread.
#include <windows.h>

#include <cstring>
#include <string>

#include "banner/banners.h"
#include "common/paths.h"
#include "install/signature.h"
#include "manifest/manifest.h"
#include "platform/win_handle.h"
#include "ui/banner_view_win.h"
#include "ui/gdi_scope_win.h"
#include "ui/installer_window_win.h"
#include "ui/loading_window_win.h"
#include "ui/ui_text.h"
#include "resource.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// The installer is shipped beside user-supplied files, often in a Downloads folder: a DLL there
// named like a system DLL must never be loaded in its place. Only kernel32, user32, gdi32 and
// advapi32 are imported directly; every other DLL is delay-loaded, so it is first looked up after
// this call has limited the search to the system folder. Looked up by name because systems
// without the loader update lack the function; they keep the default search.
void RestrictDllSearchToSystemFolder() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (!proc) return;
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(proc));
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, const wchar_t* cursor, int colorIndex) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = gInstance;
    windowClass.hCursor = cursor ? ::LoadCursorW(nullptr, cursor) : nullptr;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(colorIndex + 1));
    windowClass.lpszClassName = name;
    ::RegisterClassW(&windowClass);
}

// Shown topmost in the middle of the work area and painted once: no messages are pumped while
// the manifest and the banners load, so it is never repainted.
HWND ShowLoadingWindow() {
    HWND loading = ::CreateWindowExW(WS_EX_TOPMOST, kLoadingWindowClass, L"Loading", WS_POPUP | WS_BORDER,
                                     CW_USEDEFAULT, CW_USEDEFAULT, kLoadingWindowWidth, kLoadingWindowHeight, nullptr,
                                     nullptr, gInstance, nullptr);
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const POINT corner = CenterOnWorkArea(workArea, kLoadingWindowWidth, kLoadingWindowHeight);
    ::SetWindowPos(loading, HWND_TOPMOST, corner.x, corner.y, kLoadingWindowWidth, kLoadingWindowHeight,
                   SWP_SHOWWINDOW);
    ::UpdateWindow(loading);
    return loading;
}

// The publisher's key from the key slot. False when the slot holds no key: not stamped.
bool ReadStampedKey(platform::P256PublicKey& key) {
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(KEY_SLOT_RESOURCE), RT_RCDATA);
    HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes || ::SizeofResource(nullptr, found) < KEY_SLOT_MARKER_SIZE + KEY_SLOT_KEY_SIZE) return false;
    std::memcpy(key.data(), static_cast<const char*>(bytes) + KEY_SLOT_MARKER_SIZE, key.size());
    for (uint8_t b : key)
        if (b != 0) return true;
    return false;
}

// A stamped installer uses nothing of its data files before they are proven to be the
// publisher's: on any difference one box in the install language, with the default title.
bool SignedPatchAccepted(const platform::P256PublicKey& key) {
    if (LoadSignedPatch(GetExeDirectory(), key) == SignatureCheck::Ok) return true;
    SettleInstallLanguage();
    ::MessageBoxW(nullptr, UiText(UiTextRow::ErrorDamagedPatch), UiText(UiTextRow::InstallerTitle),
                  MB_ICONERROR | MB_OK);
    return false;
}

HWND CreateInstallerWindow() {
    const std::wstring title = WindowTitleText();
    return ::CreateWindowExW(0, kInstallerWindowClass, title.c_str(), kInstallerWindowStyle, CW_USEDEFAULT,
                             CW_USEDEFAULT, kInstallerWindowWidth, gBannerAreaHeight + kInstallerWindowBaseHeight,
                             nullptr, nullptr, gInstance, nullptr);
}

void RunMessageLoop() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystemFolder();
    gInstance = instance;
    // Before anything else starts: a refused patch ends with the box alone, nothing to shut down.
    platform::P256PublicKey key{};
    const bool stamped = ReadStampedKey(key);
    if (stamped && !SignedPatchAccepted(key)) return 1;
    // Each ends only what its own start-up began, in reverse order, after ClearBanners below.
    platform::ComApartment com(COINIT_APARTMENTTHREADED);
    ui::GdiplusSession gdiplus;
    UiFonts fonts;

    RegisterWindowClass(kLoadingWindowClass, LoadingWndProc, nullptr, COLOR_WINDOW);
    HWND loading = ShowLoadingWindow();
    // A stamped installer has read the manifest already, from the bytes it checked.
    if (!stamped) LoadPatchManifest();
    SettleInstallLanguage();
    LoadBanners();
    ::DestroyWindow(loading);

    RegisterWindowClass(kBannerViewClassName, BannerViewProc, IDC_ARROW, COLOR_WINDOW);
    RegisterWindowClass(kInstallerWindowClass, InstallerWndProc, IDC_ARROW, COLOR_BTNFACE);
    HWND installer = CreateInstallerWindow();
    // Without the window nothing could ever end the loop: go straight to shutdown.
    if (installer) {
        ::ShowWindow(installer, SW_SHOW);
        ::UpdateWindow(installer);
        RunMessageLoop();
    }

    ClearBanners();  // the images belong to GDI+, so before it shuts down
    return 0;
}
