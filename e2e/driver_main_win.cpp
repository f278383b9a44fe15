// The end-to-end test driver: starts PatchInstaller.exe from scratch folders and checks what a user
// sees and does. Also makes and drives the demo patch.
//
//   e2e_driver SCENARIO INSTALLER.exe [SHOTS-DIR]   one scenario; exit code 0 when it passed
//   e2e_driver list                                 the scenario names
//   e2e_driver make-demo DIR                        writes DIR\app (data files), DIR\game-template
//   e2e_driver drive-demo INSTALLER.exe GAME-DIR SHOTS-DIR
//                                                   one complete install, with screenshots
// Paths may be given in Unix form (/work/...); they are reached through drive Z:.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "e2e/scenarios.h"
#include "e2e/session_win.h"

namespace {

using e2e::gPaths;

std::wstring WindowsPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return path;
    std::wstring windows = L"Z:" + path;
    for (wchar_t& c : windows) {
        if (c == L'/') c = L'\\';
    }
    return windows;
}

std::map<std::string, std::function<bool()>> Scenarios() {
    std::map<std::string, std::function<bool()>> table = {
        {"icon-resource", e2e::IconResource},
        {"loading-window", e2e::LoadingWindow},
        {"banners", e2e::BannersShiftTheLayout},
        {"banner-sources", e2e::BannersFromThreeSources},
        {"banner-one", e2e::OneBannerNeverSlides},
        {"banner-silent-server", e2e::SilentBannerServerOnlyDelays},
        {"banner-hostile", e2e::HostileBanners},
        {"manifest-resource", e2e::ManifestResource},
        {"install-busy", [] { return e2e::InstallKeepsAnswering(true); }},
        {"install-busy-plain", [] { return e2e::InstallKeepsAnswering(false); }},
        {"install-folder-busy", e2e::SecondInstallerIsTurnedAway},
        {"install-not-restored", e2e::FailedUndoIsTold},
        {"install-delta", [] { return e2e::DeltaPatch(false); }},
        {"install-delta-old-changed", [] { return e2e::DeltaPatch(true); }},
        {"browse-pick", e2e::BrowsePick},
        {"no-folder", e2e::NoFolder},
        {"wrong-folder", e2e::WrongFolder},
        {"install-error", e2e::InstallError},
        {"install-parent-folder", e2e::InstallIntoParentFolder},
        {"dll-canaries", e2e::NoDllFromAppFolder},
        {"signed-install", e2e::SignedInstall},
        {"signed-tamper", e2e::SignedTamperRefused},
        {"signed-payload-altered", e2e::SignedPayloadAltered},
        {"install-empty-payload", [] { return e2e::InstallSucceeds(3, true); }},
    };
    const char* codes[] = {"zh-TW", "zh-CN", "en", "ko", "ja"};
    for (int language = 0; language < 5; ++language) {
        table[std::string("ready-") + codes[language]] = [language] { return e2e::ReadyWindow(language); };
    }
    for (int language : {0, 4}) {
        table[std::string("browse-cancel-") + codes[language]] = [language] { return e2e::BrowseCancel(language); };
    }
    for (int language : {2, 4}) {
        table[std::string("install-") + codes[language]] = [language] { return e2e::InstallSucceeds(language, false); };
    }
    for (const char* variant : {"no-manifest", "empty-manifest", "no-payload", "payload-dir"}) {
        table[std::string("no-payload-") + variant] = [variant] { return e2e::NoPayload(variant); };
    }
    for (const char* how : {"cancel", "close-box"}) {
        table[how] = [how] { return e2e::CloseEndsProcess(how); };
    }
    return table;
}

bool MakeDemo(const std::wstring& dir) {
    e2e::DemoPatch patch = e2e::PatchInLanguage(2);
    e2e::SetEntry(patch.manifest, "WindowTitle", "Demo Patch 1.1");
    return e2e::WriteFileAt(dir + L"\\app\\patch_manifest.dat", e2e::BuildManifest(patch.manifest)) &&
           e2e::WriteFileAt(dir + L"\\app\\patch_payload.dat", e2e::BuildPayloadArchive(patch.payload)) &&
           e2e::WriteFileAt(dir + L"\\game-template\\" + e2e::NativeName(patch.gameFileName), patch.gameFile) &&
           e2e::WriteFileAt(dir + L"\\game-template\\data\\maps\\level1.map", "original map");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::string command = argc > 1 ? e2e::Utf8(argv[1]) : "";
    const auto scenarios = Scenarios();
    if (command == "list") {
        for (const auto& entry : scenarios) std::printf("%s\n", entry.first.c_str());
        return 0;
    }
    if (command == "make-demo" && argc == 3) return MakeDemo(WindowsPath(argv[2])) ? 0 : 1;
    if (command == "drive-demo" && argc == 5) {
        gPaths = {WindowsPath(argv[2]), WindowsPath(argv[4])};
        return e2e::DriveDemo(WindowsPath(argv[3])) ? 0 : 1;
    }
    const auto scenario = scenarios.find(command);
    if (scenario == scenarios.end() || argc < 3) {
        std::fprintf(stderr, "usage: e2e_driver SCENARIO INSTALLER.exe [SHOTS-DIR] | list | make-demo DIR\n");
        return 2;
    }
    gPaths = {WindowsPath(argv[2]), argc > 3 ? WindowsPath(argv[3]) : std::wstring()};
    return scenario->second() ? 0 : 1;
}
