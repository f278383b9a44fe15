// Two installers on one game folder, and an install whose undo fails: what the user is told.
#include <windows.h>

#include <string>

#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "ui/ui_text.h"

namespace e2e {

namespace {

// 1 GiB of zero bytes, written sparse: hashing it keeps an install busy for a few seconds under Wine.
constexpr uint64_t kSlowGameSize = 1073741824ull;
constexpr char kSlowGameHash[] = "49bc20df15e412a64472421e13fe86ff1c5165e18b2afccf160d4dc19fe68a14";

std::wstring Text(UiTextRow row) {
    return UiText(row, 2);
}

// Runs in the log file: lines that begin one.
int LogRuns(const std::string& log) {
    int runs = log.rfind("==== ", 0) == 0 ? 1 : 0;
    for (size_t at = log.find("\n==== "); at != std::string::npos; at = log.find("\n==== ", at + 1)) ++runs;
    return runs;
}

std::string LastLogRun(const std::string& log) {
    const size_t start = log.rfind("\n==== ");
    return start == std::string::npos ? log : log.substr(start + 1);
}

bool IsFile(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool AnyFileLike(const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    ::FindClose(find);
    return true;
}

// Opens a file as a running game holds its data: others may read and write it, not rename it,
// replace it or delete it.
HANDLE HoldLikeAGame(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool SecondInstallerIsTurnedAway() {
    Checks checks("install-folder-busy");
    Session first(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    patch.gameFile.clear();
    SetEntry(patch.manifest, "ExpectedHash", kSlowGameHash);
    SetEntry(patch.manifest, "ExpectedSize", std::to_string(kSlowGameSize));
    if (!Launch(checks, first, patch, 2, L"Patch Installer")) return checks.Finish();
    const std::wstring game = first.stage.game();
    checks.Expect(WriteSparseFile(game + L"\\bin\\game.exe", kSlowGameSize), "sparse 1 GiB game file");
    std::string log;
    ReadFileAt(InstallLogPathOf(first), log);
    const int runsBefore = LogRuns(log);

    SetText(first.control(kGameFolderBox), game);
    Click(first.control(kInstallButton));
    const std::wstring verifying = Text(UiTextRow::StatusVerifying);
    checks.Expect(WaitFor([&] { return TextOf(first.control(kStatusLine)) == verifying; }, kTimeoutMs),
                  "the first installer is verifying the folder");

    Session second(gPaths.installerExe);
    // The same patch: were it let in, it would install over the first.
    if (!Launch(checks, second, patch, 2, L"Patch Installer")) return checks.Finish();
    SetText(second.control(kGameFolderBox), game);
    Click(second.control(kInstallButton));
    ExpectBox(checks, second, Text(UiTextRow::ErrorFolderBusy), BoxIcon::Error, [&] {
        ExpectButtonAndStatus(checks, second, true, Text(UiTextRow::StatusChooseFolder), "while the busy box is shown");
        checks.Expect(FindProgressBar(second.window) == nullptr, "no progress bar for an install turned away");
        checks.Expect(WaitForWindow(first.process.pid(), L"#32770", first.window, 0) == nullptr,
                      "the first install is still at work");
    });
    Click(second.control(kCancelButton));
    ExpectExitZero(checks, second);

    HWND done = WaitForWindow(first.process.pid(), L"#32770", first.window, 120000);
    checks.Expect(done != nullptr, "the first install comes to its end");
    ExpectBox(checks, first, Text(UiTextRow::StatusInstalled), BoxIcon::Information, [] {});
    ExpectExitZero(checks, first);
    for (const PayloadFile& file : patch.payload) {
        std::string bytes;
        checks.Expect(ReadFileAt(game + L"\\" + NativeName(file.name), bytes) && bytes == file.data,
                      "the first install wrote " + file.name);
    }
    checks.Expect(!IsFile(game + L"\\patch_install.lock"), "no lock file stays");
    checks.Expect(ReadFileAt(InstallLogPathOf(first), log), "the install log is there");
    checks.Equal(LogRuns(log), runsBefore + 1, "one run in the log: the installer turned away wrote none");
    checks.Expect(LastLogRun(log).find("result: installed") != std::string::npos, "the run is the first install's");
    return checks.Finish();
}

bool FailedUndoIsTold() {
    Checks checks("install-not-restored");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    // a.txt and b.txt replace files of the game; big.pak between them takes a while to write.
    const std::string big = PseudoRandomBytes(9, 200u << 20);
    patch.payload = {{"a.txt", "new a"}, {"big.pak", big}, {"b.txt", "new b"}};
    if (!Launch(checks, session, patch, 2, L"Patch Installer")) return checks.Finish();
    const std::wstring game = session.stage.game();
    checks.Expect(WriteFileAt(game + L"\\a.txt", "old a") && WriteFileAt(game + L"\\b.txt", "old b"),
                  "the game's a.txt and b.txt");
    SetText(session.control(kGameFolderBox), game);
    Click(session.control(kInstallButton));
    // Once big.pak is being written (beside its name, until it is whole), a.txt has been replaced.
    // A program that now holds both files, as a game holds its data, keeps b.txt from being
    // replaced and a.txt from being put back.
    checks.Expect(WaitFor([&] { return AnyFileLike(game + L"\\big.pak.*"); }, 30000), "the install reaches big.pak");
    HANDLE heldA = HoldLikeAGame(game + L"\\a.txt");
    HANDLE heldB = HoldLikeAGame(game + L"\\b.txt");
    checks.Expect(heldA != INVALID_HANDLE_VALUE && heldB != INVALID_HANDLE_VALUE, "hold a.txt and b.txt open");
    const std::wstring expected =
        Text(UiTextRow::ErrorNotRestored) + L"\n" + Text(UiTextRow::InstallLogNote) + InstallLogPathOf(session);
    HWND box = WaitForWindow(session.process.pid(), L"#32770", session.window, 60000);
    checks.Expect(box != nullptr, "the failed install comes to its end");
    ExpectBox(checks, session, expected, BoxIcon::Error, [&] {
        ExpectButtonAndStatus(checks, session, false, Text(UiTextRow::StatusExtracting), "while the box is shown");
        std::string a;
        checks.Expect(ReadFileAt(game + L"\\a.txt", a) && a == "new a", "a.txt could not be put back");
        checks.Expect(IsFile(game + L"\\patch_install.journal"), "the journal stays for the next run");
    });
    if (heldA != INVALID_HANDLE_VALUE) ::CloseHandle(heldA);
    if (heldB != INVALID_HANDLE_VALUE) ::CloseHandle(heldB);
    std::string log;
    checks.Expect(
        ReadFileAt(InstallLogPathOf(session), log) && LastLogRun(log).find("result: not restored") != std::string::npos,
        "the log's run ends \"result: not restored\"");
    WaitFor([&] { return ::IsWindowEnabled(session.control(kInstallButton)) != FALSE; }, kTimeoutMs);

    // The files let go, the same installer run again finishes the undo, then installs.
    Click(session.control(kInstallButton));
    ExpectBox(checks, session, Text(UiTextRow::StatusInstalled), BoxIcon::Information, [] {});
    ExpectExitZero(checks, session);
    for (const PayloadFile& file : patch.payload) {
        std::string bytes;
        checks.Expect(ReadFileAt(game + L"\\" + NativeName(file.name), bytes) && bytes == file.data,
                      "installed after the rerun: " + file.name);
    }
    checks.Expect(!IsFile(game + L"\\patch_install.journal"), "no journal stays after the rerun");
    return checks.Finish();
}

}  // namespace e2e
