// What happens when the user presses Install, Cancel or the close box.
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>
// commctrl.h after windows.h too.
#include <commctrl.h>

#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "ui/install_progress_win.h"
#include "ui/ui_text.h"

namespace e2e {

namespace {

std::wstring Text(UiTextRow row, int language) { return UiText(row, language); }

// Every payload file is in the game folder, byte for byte.
void ExpectPayloadInstalled(Checks& checks, const std::wstring& gameFolder, const DemoPatch& patch) {
    for (const PayloadFile& file : patch.payload) {
        std::string bytes;
        const bool read = ReadFileAt(gameFolder + L"\\" + NativeName(file.name), bytes);
        checks.Expect(read && bytes == file.data, "installed file is byte-identical: " + file.name);
    }
    std::string game;
    checks.Expect(ReadFileAt(gameFolder + L"\\" + NativeName(patch.gameFileName), game) && game == patch.gameFile,
                  "the game's own file is untouched");
}

// Press Install and expect an error box; the button and status line are checked while the box
// is shown and again after it has been closed. Once the work has begun (the button disabled), the
// box names the install log on its second line, and the progress bar stands stopped in its error
// state until the box is closed.
void ExpectInstallError(Checks& checks, Session& session, UiTextRow error, bool disabledMeanwhile,
                        const std::wstring& status) {
    Click(session.control(kInstallButton));
    std::wstring text = Text(error, session.language);
    if (disabledMeanwhile) text += L"\n" + Text(UiTextRow::InstallLogNote, session.language) + InstallLogPathOf(session);
    ExpectBox(checks, session, text, BoxIcon::Error, [&] {
        ExpectButtonAndStatus(checks, session, !disabledMeanwhile, status, "while the box is shown");
        HWND bar = FindProgressBar(session.window);
        if (!disabledMeanwhile) {
            checks.Expect(bar == nullptr, "no progress bar when the work never began");
        } else if (checks.Expect(bar != nullptr, "the progress bar stays while the box is shown")) {
            ExpectProgressBarPlaced(checks, session, bar);
            const int position = ProgressPosition(bar);
            checks.Expect(position >= 0 && position < kInstallProgressRange, "a failed install stops short of the end");
            // Wine's bar keeps no state and answers "normal"; its classic drawing shows the red bar.
            DWORD_PTR state = 0, colour = 0;
            ::SendMessageTimeoutW(bar, PBM_GETSTATE, 0, 0, SMTO_ABORTIFHUNG, 1000, &state);
            ::SendMessageTimeoutW(bar, PBM_GETBARCOLOR, 0, 0, SMTO_ABORTIFHUNG, 1000, &colour);
            std::printf("progress bar on failure: position %d, state %d, bar colour 0x%06lX\n", position,
                        static_cast<int>(state), static_cast<unsigned long>(colour));
            checks.Expect(state == PBST_ERROR || colour == kProgressErrorColour, "the progress bar shows the error state");
        }
    });
    WaitFor([&] { return ::IsWindowEnabled(session.control(kInstallButton)) != FALSE; }, kTimeoutMs);
    ExpectButtonAndStatus(checks, session, true, status, "after the box");
    checks.Expect(FindProgressBar(session.window) == nullptr, "the progress bar is gone after the box");
}

// The log's last run: from the last line that begins a run to the end.
std::string LastLogRun(const std::string& log) {
    const size_t start = log.rfind("\n==== ");
    return start == std::string::npos ? log : log.substr(start + 1);
}

void EndWithCancel(Checks& checks, Session& session) {
    Click(session.control(kCancelButton));
    ExpectExitZero(checks, session);
}

}  // namespace

bool NoFolder() {
    Checks checks("no-folder");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    SetEntry(patch.manifest, "WindowTitle", "Demo Patch 1.1 Setup");
    if (!Launch(checks, session, patch, 2, L"Demo Patch 1.1 Setup")) return checks.Finish();
    checks.Equal(TextOf(session.window), L"Demo Patch 1.1 Setup", "window title from WindowTitle");
    ExpectInstallError(checks, session, UiTextRow::ErrorNoFolder, false, L"Choose the game folder.");
    // Blanks are a folder text like any other: they go on to the checks and fail verification.
    SetText(session.control(kGameFolderBox), L"   ");
    ExpectInstallError(checks, session, UiTextRow::ErrorWrongFolder, true, L"Verifying game files...");
    EndWithCancel(checks, session);
    return checks.Finish();
}

bool NoPayload(const std::string& variant) {
    Checks checks("no-payload-" + variant);
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(3);
    int language = 3;
    const std::wstring manifest = session.stage.app() + L"\\patch_manifest.dat";
    const std::wstring payload = session.stage.app() + L"\\patch_payload.dat";
    // Prepare the stage by hand: the broken data must be in place before the installer starts.
    if (!checks.Expect(session.stage.ok() && session.stage.WritePatch(patch), "stage")) return checks.Finish();
    bool prepared = false;
    if (variant == "no-manifest") {
        prepared = ::DeleteFileW(manifest.c_str()) != 0;
        language = 0;  // nothing to settle the language from
    } else if (variant == "empty-manifest") {
        prepared = WriteFileAt(manifest, "");
        language = 0;
    } else if (variant == "no-payload") {
        prepared = ::DeleteFileW(payload.c_str()) != 0;
    } else if (variant == "payload-dir") {
        prepared = ::DeleteFileW(payload.c_str()) && ::CreateDirectoryW(payload.c_str(), nullptr);
    }
    if (!checks.Expect(prepared, "break the patch data: " + variant)) return checks.Finish();
    session.language = language;
    session.title = Text(UiTextRow::InstallerTitle, language);
    if (!checks.Expect(session.process.Start(session.stage), "start")) return checks.Finish();
    session.window = WaitForWindow(session.process.pid(), L"PatchNativeInstaller", nullptr, kTimeoutMs);
    const std::vector<HWND> children = session.window ? Children(session.window) : std::vector<HWND>();
    if (!checks.Equal(static_cast<int>(children.size()), static_cast<int>(kControlCount), "window with controls")) {
        return checks.Finish();
    }
    for (int i = 0; i < kControlCount; ++i) session.controls[i] = children[i];
    const std::wstring ready = Text(UiTextRow::StatusChooseFolder, language);
    WaitFor([&] { return TextOf(session.control(kStatusLine)) == ready; }, kTimeoutMs);
    SetText(session.control(kGameFolderBox), session.stage.game());
    ExpectInstallError(checks, session, UiTextRow::ErrorNoPayload, false, ready);
    std::string gameFile;
    checks.Expect(!ReadFileAt(session.stage.game() + L"\\readme_patch.txt", gameFile), "nothing was installed");
    EndWithCancel(checks, session);
    return checks.Finish();
}

bool WrongFolder() {
    Checks checks("wrong-folder");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    if (!Launch(checks, session, patch, 2, L"Patch Installer")) return checks.Finish();
    // Right name and size, one byte different.
    std::string changed = patch.gameFile;
    changed[100] ^= 1;
    WriteFileAt(session.stage.game() + L"\\bin\\game.exe", changed);
    SetText(session.control(kGameFolderBox), session.stage.game());
    ExpectInstallError(checks, session, UiTextRow::ErrorWrongFolder, true, L"Verifying game files...");
    std::string bytes;
    checks.Expect(!ReadFileAt(session.stage.game() + L"\\readme_patch.txt", bytes), "nothing was installed");
    // A failed install does not keep Cancel from ending the program at once.
    EndWithCancel(checks, session);
    return checks.Finish();
}

bool InstallError() {
    Checks checks("install-error");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(1);
    patch.payload = {{"first.txt", "would be written before the failure"},
                     {"held.txt", "written once the file is free"},
                     {"../outside.txt", "must never be written"}};
    if (!Launch(checks, session, patch, 1, Text(UiTextRow::InstallerTitle, 1))) return checks.Finish();
    SetText(session.control(kGameFolderBox), session.stage.game());
    const std::wstring extracting = Text(UiTextRow::StatusExtracting, 1);
    // Another program holds held.txt without sharing it: the system refuses to let it be written.
    const std::wstring held = session.stage.game() + L"\\held.txt";
    WriteFileAt(held, "held by another program");
    HANDLE holder = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    checks.Expect(holder != INVALID_HANDLE_VALUE, "hold held.txt open");
    ExpectInstallError(checks, session, UiTextRow::ErrorInstall, true, extracting);
    ::CloseHandle(holder);
    const std::wstring first = session.stage.game() + L"\\first.txt";
    std::string bytes;
    checks.Expect(!ReadFileAt(first, bytes), "all or nothing: no entry before the bad one is written");
    checks.Expect(!ReadFileAt(session.stage.game() + L"\\patch_install.journal", bytes), "no journal stays");
    std::string log;
    checks.Expect(ReadFileAt(InstallLogPathOf(session), log), "the install log is written");
    const std::string failedRun = LastLogRun(log);
    for (const char* line : {"FAILED held.txt: system error 32 (", "result: extraction failed"}) {
        checks.Expect(failedRun.find(line) != std::string::npos, std::string("the failed run records: ") + line);
    }
    checks.Expect(failedRun.find("written first.txt") == std::string::npos, "the failed run wrote nothing");
    // A second press, the file now free, verifies and checks the whole archive again, up to the
    // unsafe name; the user's file stays as it is.
    WriteFileAt(first, "changed by the user");
    ExpectInstallError(checks, session, UiTextRow::ErrorInstall, true, extracting);
    checks.Expect(ReadFileAt(first, bytes) && bytes == "changed by the user", "second press leaves the folder as it was");
    checks.Expect(!ReadFileAt(session.stage.root() + L"\\outside.txt", bytes), "nothing written outside the folder");
    std::string appended;
    checks.Expect(ReadFileAt(InstallLogPathOf(session), appended) && appended.compare(0, log.size(), log) == 0 &&
                      appended.size() > log.size(),
                  "the second install appends to the log");
    checks.Expect(LastLogRun(appended).find("FAILED entry 3 '../outside.txt'") != std::string::npos,
                  "the second run names the refused entry");
    EndWithCancel(checks, session);
    return checks.Finish();
}

bool InstallSucceeds(int language, bool emptyPayload) {
    Checks checks(std::string("install-") + (emptyPayload ? "empty-payload" : LanguageCode(language)));
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(language);
    if (emptyPayload) patch.payload.clear();
    std::wstring gameFolder = session.stage.game();
    if (language == 4) {
        // Only the alternate record matches, and the folder's name is not ASCII.
        SetEntry(patch.manifest, "RelativePath2", patch.gameFileName);
        SetEntry(patch.manifest, "ExpectedHash2", Sha256Hex(patch.gameFile));
        SetEntry(patch.manifest, "ExpectedSize2", std::to_string(patch.gameFile.size()));
        SetEntry(patch.manifest, "ExpectedHash", std::string(64, '0'));
        gameFolder = session.stage.root() + L"\\ゲーム フォルダー";
        WriteFileAt(gameFolder + L"\\" + NativeName(patch.gameFileName), patch.gameFile);
    }
    if (!Launch(checks, session, patch, language, Text(UiTextRow::InstallerTitle, language))) {
        return checks.Finish();
    }
    SetText(session.control(kGameFolderBox), gameFolder);
    Click(session.control(kInstallButton));
    const std::wstring installed = Text(UiTextRow::StatusInstalled, language);
    ExpectBox(checks, session, installed, BoxIcon::Information, [&] {
        ExpectButtonAndStatus(checks, session, false, installed, "while the success box is shown");
        SaveShot(session.window, std::wstring(L"installed-") + NativeName(LanguageCode(language)));
    });
    ExpectExitZero(checks, session);
    ExpectPayloadInstalled(checks, gameFolder, patch);
    if (emptyPayload) {
        WIN32_FIND_DATAW found{};
        HANDLE find = ::FindFirstFileW((gameFolder + L"\\*").c_str(), &found);
        int entries = 0;
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(find, &found)) ++entries;
        if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
        checks.Equal(entries, 3, "game folder holds only \".\", \"..\" and bin");
    }
    return checks.Finish();
}

// The user picks the folder above the game's: the game file is found by name below it, and the
// payload lands in the folder that holds the record's RelativePath, not in the one picked.
bool InstallIntoParentFolder() {
    Checks checks("install-parent-folder");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    if (!Launch(checks, session, patch, 2, L"Patch Installer")) return checks.Finish();
    SetText(session.control(kGameFolderBox), session.stage.root());
    Click(session.control(kInstallButton));
    ExpectBox(checks, session, L"Patch installed successfully.", BoxIcon::Information, [] {});
    ExpectExitZero(checks, session);
    ExpectPayloadInstalled(checks, session.stage.game(), patch);
    for (const PayloadFile& file : patch.payload) {
        std::string bytes;
        checks.Expect(!ReadFileAt(session.stage.root() + L"\\" + NativeName(file.name), bytes),
                      "nothing lands in the picked folder itself: " + file.name);
    }
    return checks.Finish();
}

bool CloseEndsProcess(const std::string& how) {
    Checks checks(how);
    Session session(gPaths.installerExe);
    if (!Launch(checks, session, PatchInLanguage(2), 2, L"Patch Installer")) return checks.Finish();
    if (how == "cancel") {
        Click(session.control(kCancelButton));
    } else {
        // What the title bar's close box sends.
        ::PostMessageW(session.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    ExpectExitZero(checks, session);
    return checks.Finish();
}

namespace {

// DLLs the installer or the system DLLs it uses may look for; none of them may come from the
// installer's own folder.
const wchar_t* const kPlantedDlls[] = {
    L"shcore",    L"gdiplus",   L"ole32",   L"oleaut32", L"crypt32",  L"urlmon",    L"shell32",
    L"shlwapi",   L"comdlg32",  L"comctl32", L"uxtheme", L"propsys",  L"windowscodecs", L"version",
    L"wininet",   L"winhttp",   L"iertutil", L"dwmapi",  L"msimg32",  L"userenv",   L"profapi",
    L"cryptbase", L"bcrypt",    L"imm32",   L"msctf",    L"sspicli",  L"dbghelp",   L"winmm",
    L"secur32",   L"rsaenh",    L"explorerframe", L"netapi32",
};

std::wstring CanaryPath() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"pi_canary.dll";
}

// Modules of the installer process whose mapped image is the planted canary. Wine reports some of
// its own builtin DLLs under the path of a file of that name in the application folder, even though
// it mapped its builtin and not the file; comparing the image headers with the canary's tells them
// apart.
std::vector<std::wstring> CanaryModules(DWORD pid, const std::string& canaryHeader) {
    std::vector<std::wstring> found;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    HANDLE process = ::OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (snapshot == INVALID_HANDLE_VALUE || !process) found.push_back(L"<cannot list the modules>");
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot != INVALID_HANDLE_VALUE && ::Module32FirstW(snapshot, &entry); more;
         more = ::Module32NextW(snapshot, &entry)) {
        std::string header(canaryHeader.size(), '\0');
        SIZE_T got = 0;
        if (::ReadProcessMemory(process, entry.modBaseAddr, &header[0], header.size(), &got) &&
            got == header.size() && header == canaryHeader) {
            found.push_back(entry.szExePath);
        }
    }
    if (process) ::CloseHandle(process);
    if (snapshot != INVALID_HANDLE_VALUE) ::CloseHandle(snapshot);
    return found;
}

void ExpectNoCanaryMapped(Checks& checks, const Session& session, const std::string& canaryHeader,
                          const std::string& when) {
    for (const std::wstring& module : CanaryModules(session.process.pid(), canaryHeader)) {
        checks.Expect(false, "planted DLL mapped " + when + ": " + Utf8(module));
    }
}

}  // namespace

bool NoDllFromAppFolder() {
    Checks checks("dll-canaries");
    Session session(gPaths.installerExe);
    const std::wstring canary = CanaryPath();
    bool planted = session.stage.ok();
    for (const wchar_t* name : kPlantedDlls) {
        planted = planted && ::CopyFileW(canary.c_str(), (session.stage.app() + L"\\" + name + L".dll").c_str(), FALSE);
    }
    std::string canaryHeader;
    planted = planted && ReadFileAt(canary, canaryHeader) && canaryHeader.size() > 1024;
    if (!checks.Expect(planted, "plant canary DLLs beside the installer")) return checks.Finish();
    canaryHeader.resize(1024);  // the PE headers, mapped unchanged at the module's base
    const DemoPatch patch = PatchInLanguage(2);
    if (!Launch(checks, session, patch, 2, L"Patch Installer")) return checks.Finish();
    ExpectNoCanaryMapped(checks, session, canaryHeader, "once the window is ready");
    // Use everything that loads DLLs: the folder dialog (COM, shell) and a whole install.
    Click(session.control(kBrowseButton));
    HWND dialog = WaitForWindow(session.process.pid(), L"#32770", session.window, kTimeoutMs);
    checks.Expect(dialog != nullptr, "folder dialog opens");
    ExpectNoCanaryMapped(checks, session, canaryHeader, "with the folder dialog open");
    if (dialog) ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    WaitUntilGone(dialog, kTimeoutMs);
    SetText(session.control(kGameFolderBox), session.stage.game());
    Click(session.control(kInstallButton));
    ExpectBox(checks, session, L"Patch installed successfully.", BoxIcon::Information,
              [&] { ExpectNoCanaryMapped(checks, session, canaryHeader, "after the install"); });
    ExpectExitZero(checks, session);
    for (const wchar_t* name : kPlantedDlls) {
        const std::wstring marker = session.stage.app() + L"\\" + name + L".dll.loaded";
        checks.Expect(::GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES,
                      "planted " + Utf8(name) + ".dll was not loaded");
    }
    return checks.Finish();
}

}  // namespace e2e
