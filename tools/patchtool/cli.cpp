#include "tools/patchtool/cli.h"

#include <CLI/CLI.hpp>

#include "common/text.h"
#include "platform/text.h"
#include "tools/patchtool/patch_apply.h"
#include "tools/patchtool/patch_build.h"
#include "tools/patchtool/payload_pack.h"
#include "tools/patchtool/patch_inspect.h"
#include "tools/patchtool/keys.h"
#include "tools/patchtool/patch_sign.h"
#include "install/signature.h"
#include "platform/fs.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    return Utf8ToWide(utf8);
}

int RunBuild(const std::string& definition, const std::string& outDir, const std::string& signKey, int level,
             std::ostream& out, std::ostream& err) {
    std::vector<std::string> problems;
    PatchPlan plan;
    plan.level = level;
    plan.progress = &out;
    bool built = BuildPatch(Wide(definition), Wide(outDir), plan, problems);
    for (const std::string& warning : plan.warnings) err << definition << ": warning: " << warning << "\n";
    if (!built) {
        err << "build refused, nothing written:\n";
        for (const std::string& problem : problems) err << "  " << definition << ": " << problem << "\n";
        return kExitFailed;
    }
    uint64_t bytes = 0;
    for (const PayloadItem& item : plan.payload) bytes += item.size;
    out << outDir << ": patch_manifest.dat (" << plan.manifest.size() << " keys), patch_payload.dat ("
        << plan.payload.size() << " files, " << bytes << " bytes)";
    if (!plan.assets.empty()) out << ", patch_assets.dat (" << plan.assets.size() << " assets)";

    for (const LocalBannerCopy& copy : plan.localBanners) out << ", " << platform::ConvertWideToUtf8(copy.name);
    out << "\n";
    if (plan.kinds) PrintPackTable(plan, out);
    std::string problem;
    platform::P256PublicKey signer{};
    if (signKey.empty() ? !RemoveStaleSignature(Wide(outDir), problem)
                        : !SignPatchFolder(Wide(outDir), Wide(signKey), signer, problem)) {
        err << "signing failed: " << problem << "\n";
        return kExitFailed;
    }
    if (!signKey.empty()) out << outDir << ": patch_signature.dat (signed by key " << KeyFingerprint(signer) << ")\n";
    return kExitOk;
}

int RunKeygen(const std::string& name, std::ostream& out, std::ostream& err) {
    platform::P256PublicKey key{};
    std::string problem;
    if (!GenerateKeyFiles(Wide(name), key, problem)) {
        err << "keygen failed: " << problem << "\n";
        return kExitFailed;
    }
    out << name << ".key (private: keep it secret), " << name << ".pub (public): key " << KeyFingerprint(key) << "\n";
    return kExitOk;
}

int RunStamp(const std::string& keyPath, const std::string& installer, const std::string& output, std::ostream& out,
             std::ostream& err) {
    platform::P256PublicKey key{};
    std::string problem;
    if (!ReadPublicKeyFile(Wide(keyPath), key)) problem = keyPath + ": not a P-256 public key in PEM";
    if (problem.empty()) StampInstaller(Wide(installer), key, Wide(output), problem);
    if (!problem.empty()) {
        err << "stamp refused, nothing written: " << problem << "\n";
        return kExitFailed;
    }
    out << output << ": stamped with key " << KeyFingerprint(key) << "; code-sign this file now\n";
    return kExitOk;
}

int RunInspect(const std::string& folder, std::ostream& out, std::ostream& err) {
    if (platform::GetPathKind(Wide(folder)) == platform::PathKind::File) {
        out << folder << ": " << DescribeInstaller(Wide(folder)) << "\n";
        return kExitOk;
    }
    InspectReport report;
    if (!InspectPatch(Wide(folder), report)) {
        err << "patch data missing: " << folder << " holds no readable patch_manifest.dat\n";
        return kExitPatchMissing;
    }
    PrintInspectReport(report, out);
    out << "signature: " << DescribeSignature(Wide(folder)) << "\n";
    return kExitOk;
}

const char kExitCodes[] =
    "Exit codes: 0 done, 1 failed, 2 usage, 3 wrong folder, 4 patch data missing, 5 extraction failed,\n"
    "6 patch not signed by the given key or altered, 7 game folder not restored (run apply again),\n"
    "8 another install is running in the game folder.";

}  // namespace

int RunPatchtool(const std::vector<std::string>& args, bool terminal, std::ostream& out, std::ostream& err) {
    CLI::App app("patchtool: makes, inspects, verifies and applies game patches for PatchInstaller.exe", "patchtool");
    // On Windows CLI11 would take "/path" for an option; paths win. Set before the subcommands,
    // which copy it.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.footer(kExitCodes);

    std::string definition, outDir, folder, signKey, publicKey, keyName, installer, stamped;
    int level = kDefaultCompressionLevel;
    ApplyOptions apply;
    std::string patchFolder, gameFolder;
    bool quiet = false;

    CLI::App* build = app.add_subcommand("build", "Write the installer's data files from a patch definition (TOML).");
    build->add_option("definition", definition, "the patch definition, e.g. patch.toml")->required();
    build->add_option("-o,--out", outDir, "folder for patch_manifest.dat, patch_payload.dat, patch_assets.dat")
        ->required();
    build->add_option("--sign", signKey, "private key (NAME.key): also write patch_signature.dat");
    build->add_option("--level", level, "zstd level for compressed entries")
        ->check(CLI::Range(kMinCompressionLevel, kMaxCompressionLevel))
        ->default_val(kDefaultCompressionLevel);
    build->footer(
        "Example: patchtool build demo/patch.toml -o dist --sign publisher.key\n"
        "Everything the installer would reject or mishandle is refused, naming the item.");

    CLI::App* inspect = app.add_subcommand(
        "inspect",
        "Show what the installer reads from a patch folder, with warnings, or whether an installer is stamped.");
    inspect->add_option("folder", folder, "the folder that holds the patch's data files, or an installer .exe")
        ->required();
    inspect->footer("Example: patchtool inspect dist");

    CLI::App* keygen = app.add_subcommand("keygen", "Make a publisher's key pair: NAME.key (private) and NAME.pub.");
    keygen->add_option("-o,--out", keyName, "NAME: the files NAME.key and NAME.pub are written")->required();
    keygen->footer("Example: patchtool keygen -o publisher");

    CLI::App* stamp = app.add_subcommand(
        "stamp", "Copy PatchInstaller.exe with a public key built in: it then accepts only patches signed by it.");
    stamp->add_option("--key", publicKey, "the public key (NAME.pub)")->required();
    stamp->add_option("installer", installer, "PatchInstaller.exe")->required();
    stamp->add_option("-o,--out", stamped, "the stamped copy to write")->required();
    stamp->footer("Example: patchtool stamp --key publisher.pub PatchInstaller.exe -o MyPatch.exe");

    CLI::App* verify = app.add_subcommand("verify", "Check a game folder with the installer's own verification.");
    CLI::App* applyCmd =
        app.add_subcommand("apply", "Verify a game folder and install the patch into it, without a window.");
    for (CLI::App* sub : {verify, applyCmd}) {
        sub->add_option("patch", patchFolder, "the folder that holds the patch's data files")->required();
        sub->add_option("game", gameFolder, "the game folder")->required();
        sub->add_option("-l,--language", apply.language,
                        "install language: zh-TW, zh-CN, en, ko or ja (default: the patch's own)");
        sub->add_option("--key", publicKey,
                        "public key (NAME.pub): refuse a patch it did not sign, as a stamped installer does");
    }
    applyCmd->add_flag("-q,--quiet", quiet, "no progress output");
    std::string logFile;
    applyCmd->add_option("--log", logFile, "append the installer's install log to this file");
    verify->footer("Example: patchtool verify dist \"/games/Demo Game\" --language ko");
    applyCmd->footer(std::string("Example: patchtool apply dist \"/games/Demo Game\"\n") + kExitCodes);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        // CLI11 reports --help and usage errors by exception; this is the one place they end.
        int code = app.exit(error, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }
    if (build->parsed()) return RunBuild(definition, outDir, signKey, level, out, err);
    if (inspect->parsed()) return RunInspect(folder, out, err);
    if (keygen->parsed()) return RunKeygen(keyName, out, err);
    if (stamp->parsed()) return RunStamp(publicKey, installer, stamped, out, err);
    std::string problem;
    // verify reads every entry now; apply leaves them to the extraction, which reads them once.
    PatchSignature signature;
    const bool applying = !verify->parsed();
    if (!publicKey.empty() &&
        !CheckPatchWithKey(Wide(patchFolder), Wide(publicKey), problem, applying ? &signature : nullptr)) {
        err << "patch refused: " << problem << "\n";
        return kExitSignature;
    }
    gPatchSigned = applying && !publicKey.empty();
    if (gPatchSigned) gPatchSignature = std::move(signature);
    apply.patchFolder = Wide(patchFolder);
    apply.gameFolder = Wide(gameFolder);
    apply.progress = !quiet;
    apply.logPath = Wide(logFile);
    apply.terminal = terminal;
    if (verify->parsed()) return RunVerify(apply, out, err);
    return RunApply(apply, out, err);
}
