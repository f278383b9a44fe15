// A small patch through the window: a delta rebuilds a game file from the gamer's copy, and a copy
// that is not the version the patch updates is named in its own box with nothing written.
#include <windows.h>

#include <string>

#include "e2e/patch_data.h"
#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "support/archive_builders.h"
#include "ui/ui_text.h"

namespace e2e {

bool DeltaPatch(bool oldFileChanged) {
    Checks checks(oldFileChanged ? "install-delta-old-changed" : "install-delta");
    Session session(gPaths.installerExe);
    DemoPatch patch = PatchInLanguage(2);
    if (!Launch(checks, session, patch, 2, L"Patch Installer")) return checks.Finish();
    const std::wstring game = session.stage.game();
    const std::string level = PseudoRandomBytes(5, 300000);
    std::string newLevel = level;
    newLevel.replace(100000, 16, "harbour at dusk!");
    newLevel += "one more room";
    const std::string readme = std::string(2000, 'r');
    // The payload is read when Install is pressed: written now, in the layout with kinds.
    checks.Expect(WriteFileAt(session.stage.app() + L"\\patch_payload.dat",
                              test::PayloadArchiveKinds({{EntryKind::Delta, "data/level.dat", newLevel, level},
                                                         {EntryKind::Compressed, "readme.txt", readme}})),
                  "a payload of a delta and a compressed file");
    std::string gamersLevel = level;
    if (oldFileChanged) gamersLevel[200000] ^= 1;
    checks.Expect(WriteFileAt(game + L"\\data\\level.dat", gamersLevel), "the gamer's level.dat");
    SetText(session.control(kGameFolderBox), game);
    Click(session.control(kInstallButton));
    std::string bytes;
    if (oldFileChanged) {
        const std::wstring expected = UiText(UiTextRow::ErrorOldVersion, 2) + std::wstring(L"\ndata/level.dat\n") +
                                      UiText(UiTextRow::InstallLogNote, 2) + InstallLogPathOf(session);
        ExpectBox(checks, session, expected, BoxIcon::Error, [] {});
        checks.Expect(ReadFileAt(game + L"\\data\\level.dat", bytes) && bytes == gamersLevel,
                      "the gamer's level.dat is as it was");
        checks.Expect(!ReadFileAt(game + L"\\readme.txt", bytes), "nothing was written");
        Click(session.control(kCancelButton));
        ExpectExitZero(checks, session);
        return checks.Finish();
    }
    ExpectBox(checks, session, UiText(UiTextRow::StatusInstalled, 2), BoxIcon::Information, [] {});
    ExpectExitZero(checks, session);
    checks.Expect(ReadFileAt(game + L"\\data\\level.dat", bytes) && bytes == newLevel,
                  "level.dat rebuilt from the gamer's copy");
    checks.Expect(ReadFileAt(game + L"\\readme.txt", bytes) && bytes == readme, "readme.txt decoded");
    return checks.Finish();
}

}  // namespace e2e
