// Signed patches under a stamped installer: a good patch installs; any altered data file is
// refused at start-up with one box and exit code 1, before any window; an altered payload entry is
// refused at install time with the game folder left as it was.
#include <windows.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "e2e/scenarios.h"
#include "e2e/session_win.h"
#include "tools/patchtool/patch_sign.h"
#include "ui/ui_text.h"

namespace e2e {

namespace {

constexpr int kLanguage = 3;  // Korean: the refusal box must speak the manifest's language
const char kBannerName[] = "art/side.bmp";
constexpr uint32_t kAssetId = 7;

std::map<std::wstring, std::string> GameSnapshot(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
        std::string bytes;
        if (entry.is_regular_file()) ReadFileAt(entry.path().wstring(), bytes);
        files[entry.path().wstring()] = bytes;
    }
    return files;
}

// The demo patch with one banner read from a file beside the installer and one from the asset
// archive; `release` changes every
// data file, for the swap cases, and the payload's size with it: a payload of the signed size and
// header passes start-up and is caught entry by entry at install (signed-payload-altered).
DemoPatch SignedDemo(int release) {
    DemoPatch patch = PatchInLanguage(kLanguage);
    SetEntry(patch.manifest, "BannerCount", "2");
    SetEntry(patch.manifest, "Banner1.Source", kBannerName);
    SetEntry(patch.manifest, "Banner2.Mode", "Asset");
    SetEntry(patch.manifest, "Banner2.Source", std::to_string(kAssetId));
    SetEntry(patch.manifest, "WindowTitle", "Signed Demo " + std::to_string(release));
    patch.payload.push_back({"release.txt", std::string(static_cast<size_t>(release), 'r')});
    return patch;
}

struct Keys {
    std::wstring folder;
    platform::P256PublicKey publisher{};
    platform::P256PublicKey other{};
    bool ok = false;
    explicit Keys(const std::wstring& root) : folder(root + L"\\keys") {
        std::string problem;
        ::CreateDirectoryW(folder.c_str(), nullptr);
        ok = GenerateKeyFiles(folder + L"\\publisher", publisher, problem) &&
             GenerateKeyFiles(folder + L"\\other", other, problem);
    }
    std::wstring Private(const wchar_t* name) const { return folder + L"\\" + name + L".key"; }
};

// Signs the staged patch and stamps the staged installer with the publisher's key.
bool SignAndStamp(Checks& checks, Session& session, const Keys& keys, const wchar_t* signer, int release,
                  const DemoPatch& patch) {
    std::string problem;
    platform::P256PublicKey used{};
    const bool staged = session.stage.ok() && session.stage.WritePatch(patch) &&
                        WriteFileAt(session.stage.app() + L"\\" + NativeName(kBannerName),
                                    SolidBmp(690, 120 + release, 0x3366AA)) &&
                        WriteFileAt(session.stage.app() + L"\\patch_assets.dat",
                                    test::AssetArchive({{kAssetId, SolidBmp(690, 100 + release, 0xAA6633)}}));
    if (!checks.Expect(staged, "stage the installer and its data")) return false;
    if (!checks.Expect(SignPatchFolder(session.stage.app(), keys.Private(signer), used, problem), "sign: " + problem))
        return false;
    return checks.Expect(StampInstaller(session.stage.exe(), keys.publisher, session.stage.exe(), problem),
                         "stamp: " + problem);
}

// Starts the installer and expects the refusal: one error box in the install language with the
// default title, no window of its own, exit code 1.
void ExpectRefusedAtStart(Checks& checks, Session& session, const std::string& what) {
    const std::map<std::wstring, std::string> before = GameSnapshot(session.stage.game());
    if (!checks.Expect(session.process.Start(session.stage), what + ": start")) return;
    HWND box = WaitForWindow(session.process.pid(), L"#32770", nullptr, kTimeoutMs);
    if (!checks.Expect(box != nullptr, what + ": error box appears")) return;
    MessageBoxView view;
    WaitFor(
        [&] {
            view = ReadMessageBox(box);
            return view.icon == BoxIcon::Error;
        },
        2000);
    checks.Equal(view.caption, std::wstring(UiText(UiTextRow::InstallerTitle, kLanguage)), what + ": box caption");
    checks.Equal(view.text, std::wstring(UiText(UiTextRow::ErrorDamagedPatch, kLanguage)), what + ": box text");
    checks.Equal(std::string(BoxIconName(view.icon)), std::string("error"), what + ": box icon");
    checks.Expect(::GetWindow(box, GW_OWNER) == nullptr, what + ": the box has no owner window");
    for (const wchar_t* windowClass : {L"PatchNativeLoading", L"PatchNativeInstaller"})
        checks.Expect(WaitForWindow(session.process.pid(), windowClass, nullptr, 0) == nullptr,
                      what + ": no window of the installer's own");
    if (view.okButton) Click(view.okButton);
    DWORD code = 12345;
    checks.Expect(session.process.WaitForExit(kTimeoutMs, code), what + ": process ends");
    checks.Equal(static_cast<long>(code), 1L, what + ": exit code");
    checks.Expect(GameSnapshot(session.stage.game()) == before, what + ": game folder byte-identical");
}

bool FlipByte(const std::wstring& path, size_t at) {
    std::string bytes;
    if (!ReadFileAt(path, bytes) || bytes.empty()) return false;
    bytes[at < bytes.size() ? at : bytes.size() / 2] ^= 0x01;
    return WriteFileAt(path, bytes);
}

bool Truncate(const std::wstring& path) {
    std::string bytes;
    return ReadFileAt(path, bytes) && !bytes.empty() && WriteFileAt(path, bytes.substr(0, bytes.size() - 1));
}

bool CopyFrom(const std::wstring& from, const std::wstring& to) {
    std::string bytes;
    return ReadFileAt(from, bytes) && WriteFileAt(to, bytes);
}

void ExpectPayloadFiles(Checks& checks, const std::wstring& gameFolder, const DemoPatch& patch) {
    for (const PayloadFile& file : patch.payload) {
        std::string bytes;
        checks.Expect(ReadFileAt(gameFolder + L"\\" + NativeName(file.name), bytes) && bytes == file.data,
                      "installed file is byte-identical: " + file.name);
    }
}

}  // namespace

bool SignedInstall() {
    Checks checks("signed-install");
    Session session(gPaths.installerExe);
    Keys keys(session.stage.root());
    if (!checks.Expect(keys.ok, "make the publisher's keys")) return checks.Finish();
    const DemoPatch patch = SignedDemo(1);
    if (!SignAndStamp(checks, session, keys, L"publisher", 1, patch)) return checks.Finish();
    // Launch writes the same data files again, byte for byte, so the signature still holds.
    if (!Launch(checks, session, patch, kLanguage, L"Signed Demo 1", BannerView::Present)) return checks.Finish();
    SetText(session.control(kGameFolderBox), session.stage.game());
    Click(session.control(kInstallButton));
    ExpectBox(checks, session, UiText(UiTextRow::StatusInstalled, kLanguage), BoxIcon::Information, nullptr);
    ExpectExitZero(checks, session);
    ExpectPayloadFiles(checks, session.stage.game(), patch);
    return checks.Finish();
}

bool SignedPayloadAltered() {
    Checks checks("signed-payload-altered");
    Session session(gPaths.installerExe);
    Keys keys(session.stage.root());
    if (!checks.Expect(keys.ok, "make the publisher's keys")) return checks.Finish();
    const DemoPatch patch = SignedDemo(1);
    if (!SignAndStamp(checks, session, keys, L"publisher", 1, patch)) return checks.Finish();
    if (!Launch(checks, session, patch, kLanguage, L"Signed Demo 1", BannerView::Present)) return checks.Finish();
    // The last entry's data changes after start-up; only the install-time check can see it.
    const std::wstring payload = session.stage.app() + L"\\patch_payload.dat";
    std::string bytes;
    checks.Expect(ReadFileAt(payload, bytes) && FlipByte(payload, bytes.size() - 1), "alter the payload's last byte");
    const std::map<std::wstring, std::string> before = GameSnapshot(session.stage.game());
    SetText(session.control(kGameFolderBox), session.stage.game());
    Click(session.control(kInstallButton));
    // Found during the install, so the box names the install log on its second line.
    const std::wstring text = std::wstring(UiText(UiTextRow::ErrorDamagedPatch, kLanguage)) + L"\n" +
                              UiText(UiTextRow::InstallLogNote, kLanguage) + InstallLogPathOf(session);
    ExpectBox(checks, session, text, BoxIcon::Error, nullptr);
    checks.Expect(GameSnapshot(session.stage.game()) == before, "game folder byte-identical");
    Click(session.control(kCancelButton));
    ExpectExitZero(checks, session);
    return checks.Finish();
}

bool SignedTamperRefused() {
    Checks checks("signed-tamper");
    Session second(gPaths.installerExe);
    Keys keys(second.stage.root());
    if (!checks.Expect(keys.ok, "make the publisher's keys")) return checks.Finish();
    // The second release of the same patch, signed by the same publisher: the source of the swaps.
    if (!SignAndStamp(checks, second, keys, L"publisher", 2, SignedDemo(2))) return checks.Finish();
    const std::wstring banner = NativeName(kBannerName);
    struct Case {
        std::string what;
        std::function<bool(const std::wstring& app)> tamper;
        const wchar_t* signer;
    };
    std::vector<Case> cases;
    for (const std::wstring& name : {std::wstring(L"patch_manifest.dat"), std::wstring(L"patch_payload.dat"), banner,
                                    std::wstring(L"patch_assets.dat"), std::wstring(L"patch_signature.dat")}) {
        const std::string narrow = Utf8(name);
        // Byte 10 of the payload is its entry count; the entries' data are checked at install.
        cases.push_back({"flip a byte of " + narrow, [name](const std::wstring& app) {
                             return FlipByte(app + L"\\" + name, name == L"patch_payload.dat" ? 10 : ~size_t(0));
                         }, L"publisher"});
        cases.push_back({"truncate " + narrow, [name](const std::wstring& app) { return Truncate(app + L"\\" + name); },
                         L"publisher"});
        cases.push_back({"swap " + narrow + " with the second release's", [&, name](const std::wstring& app) {
                             return CopyFrom(second.stage.app() + L"\\" + name, app + L"\\" + name);
                         }, L"publisher"});
    }
    cases.push_back({"delete patch_signature.dat", [](const std::wstring& app) {
                         return ::DeleteFileW((app + L"\\patch_signature.dat").c_str()) != FALSE;
                     }, L"publisher"});
    cases.push_back({"delete patch_assets.dat", [](const std::wstring& app) {
                         return ::DeleteFileW((app + L"\\patch_assets.dat").c_str()) != FALSE;
                     }, L"publisher"});
    cases.push_back({"signed by another key", [](const std::wstring&) { return true; }, L"other"});
    for (const Case& c : cases) {
        Session session(gPaths.installerExe);
        session.language = kLanguage;
        if (!SignAndStamp(checks, session, keys, c.signer, 1, SignedDemo(1))) continue;
        if (!checks.Expect(c.tamper(session.stage.app()), c.what + ": tamper")) continue;
        ExpectRefusedAtStart(checks, session, c.what);
    }
    return checks.Finish();
}

}  // namespace e2e
