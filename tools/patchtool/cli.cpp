#include "tools/patchtool/cli.h"

#include <CLI/CLI.hpp>

#include "common/text.h"
#include "platform/text.h"
#include "tools/patchtool/patch_apply.h"
#include "tools/patchtool/patch_build.h"
#include "tools/patchtool/patch_inspect.h"

namespace {

std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8); }

int RunBuild(const std::string& definition, const std::string& outDir, std::ostream& out, std::ostream& err) {
    std::vector<std::string> problems;
    PatchPlan plan;
    if (!BuildPatch(Wide(definition), Wide(outDir), plan, problems)) {
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
    return kExitOk;
}

int RunInspect(const std::string& folder, std::ostream& out, std::ostream& err) {
    InspectReport report;
    if (!InspectPatch(Wide(folder), report)) {
        err << "patch data missing: " << folder << " holds no readable patch_manifest.dat\n";
        return kExitPatchMissing;
    }
    PrintInspectReport(report, out);
    return kExitOk;
}

const char kExitCodes[] =
    "Exit codes: 0 done, 1 failed, 2 usage, 3 wrong folder, 4 patch data missing, 5 extraction failed.";

}  // namespace

int RunPatchtool(const std::vector<std::string>& args, bool terminal, std::ostream& out, std::ostream& err) {
    CLI::App app("patchtool: makes, inspects, verifies and applies game patches for PatchInstaller.exe", "patchtool");
    // On Windows CLI11 would take "/path" for an option; paths win. Set before the subcommands,
    // which copy it.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.footer(kExitCodes);

    std::string definition, outDir, folder;
    ApplyOptions apply;
    std::string patchFolder, gameFolder;
    bool quiet = false;

    CLI::App* build = app.add_subcommand("build", "Write the installer's data files from a patch definition (TOML).");
    build->add_option("definition", definition, "the patch definition, e.g. patch.toml")->required();
    build->add_option("-o,--out", outDir, "folder for patch_manifest.dat, patch_payload.dat, patch_assets.dat")->required();
    build->footer("Example: patchtool build demo/patch.toml -o dist\n"
                  "Everything the installer would reject or mishandle is refused, naming the item.");

    CLI::App* inspect = app.add_subcommand("inspect", "Show what the installer reads from a patch folder, with warnings.");
    inspect->add_option("folder", folder, "the folder that holds the patch's data files")->required();
    inspect->footer("Example: patchtool inspect dist");

    CLI::App* verify = app.add_subcommand("verify", "Check a game folder with the installer's own verification.");
    CLI::App* applyCmd = app.add_subcommand("apply", "Verify a game folder and install the patch into it, without a window.");
    for (CLI::App* sub : {verify, applyCmd}) {
        sub->add_option("patch", patchFolder, "the folder that holds the patch's data files")->required();
        sub->add_option("game", gameFolder, "the game folder")->required();
        sub->add_option("-l,--language", apply.language, "install language: zh-TW, zh-CN, en, ko or ja (default: the patch's own)");
    }
    applyCmd->add_flag("-q,--quiet", quiet, "no progress output");
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
    if (build->parsed()) return RunBuild(definition, outDir, out, err);
    if (inspect->parsed()) return RunInspect(folder, out, err);
    apply.patchFolder = Wide(patchFolder);
    apply.gameFolder = Wide(gameFolder);
    apply.progress = !quiet;
    apply.terminal = terminal;
    if (verify->parsed()) return RunVerify(apply, out, err);
    return RunApply(apply, out, err);
}
