#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "support/archive_builders.h"
#include "support/patchtool_support.h"
#include "support/test_support.h"
#include "tools/patchtool/cli.h"
#include "tools/patchtool/image_info.h"
#include "tools/patchtool/patch_build.h"
#include "tools/patchtool/patch_inspect.h"

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

std::string Line(const std::string& key, const std::string& text) { return key + "=" + EncodeBase64(text) + "\n"; }

TEST(PatchtoolInspect, ShowsWhatTheDefinitionSaid) {
    test::PatchSource src;
    src.WriteDefinition(test::PatchSource::Definition());
    test::ScratchDir out;
    std::vector<std::string> problems;
    ASSERT_TRUE(BuildPatch(src.DefinitionPath(), out.path(), problems)) << Joined(problems);

    InspectReport report;
    ASSERT_TRUE(InspectPatch(out.path(), report));
    EXPECT_TRUE(report.warnings.empty()) << Joined(report.warnings);
    std::map<std::string, const ManifestLineInfo*> byKey;
    for (const ManifestLineInfo& info : report.manifest) byKey[info.key] = &info;
    ASSERT_TRUE(byKey.count("WindowTitle"));
    EXPECT_EQ(byKey["WindowTitle"]->value, L"Demo Patch 1.1");
    EXPECT_EQ(byKey["Greeting.ko"]->language, "ko");
    EXPECT_EQ(byKey["RelativePath.ja"]->language, "ja");
    EXPECT_EQ(byKey["Greeting"]->language, "");
    EXPECT_EQ(byKey["Banner1.Source"]->value, L"http://127.0.0.1:8765/url.png");

    ASSERT_EQ(report.payload.size(), src.payload.size());
    auto expected = src.payload.begin();  // std::map: sorted by name bytes, as the build writes them
    for (const PayloadView& entry : report.payload) {
        EXPECT_EQ(entry.name, expected->first);
        EXPECT_EQ(entry.size, expected->second.size());
        ++expected;
    }
    std::ostringstream text;
    PrintInspectReport(report, text);
    EXPECT_NE(text.str().find("Greeting.ko  [ko variant] = "), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("70000\tdata/levels/level1.dat"), std::string::npos) << text.str();
    ASSERT_EQ(report.assets.size(), 1u);
    EXPECT_EQ(report.assets[0].id, 1u);
    EXPECT_EQ(report.assets[0].type, "PNG");
    EXPECT_EQ(report.assets[0].width, 1380u);
    EXPECT_EQ(report.assets[0].height, 400u);
    EXPECT_NE(text.str().find("PNG 1380x400"), std::string::npos) << text.str();
}

struct WarningCase {
    const char* what;
    std::string manifest;
    std::vector<test::PayloadItem> payload;
    const char* expected;
};

TEST(PatchtoolInspect, WarnsAboutWhatTheInstallerWouldGetWrong) {
    const std::string record = Line("RelativePath", "g.exe") + Line("ExpectedHash", std::string(64, 'A')) +
                               Line("ExpectedSize", "1");
    const WarningCase cases[] = {
        {"byte-order mark", "\xEF\xBB\xBF" + Line("LanguageIndex", "2") + record, {}, "begins with a byte-order mark"},
        {"blank before =", "WindowTitle =" + EncodeBase64("x") + "\n" + record, {}, "holds blanks or tabs"},
        {"not Base64", "WindowTitle=@@@@\n" + record, {}, "value is not Base64"},
        {"not UTF-8", Line("WindowTitle", "\xFF\xFEx") + record, {}, "value is not UTF-8"},
        {"unknown key", Line("Greeting.fr", "salut") + record, {}, "'Greeting.fr': is not a key the installer reads"},
        {"duplicate", Line("WindowTitle", "a") + Line("WindowTitle", "b") + record, {}, "appears again later"},
        {"count below banners", Line("BannerCount", "1") + Line("Banner1.Source", "http://x") +
                                    Line("Banner1.Mode", "Url") + Line("Banner2.Source", "http://y") + record,
         {}, "BannerCount is 1 (the installer reads 1) but banners 1 to 2 are defined"},
        {"missing local banner", Line("BannerCount", "1") + Line("Banner1.Source", "side.png") + record, {},
         "Banner1: local banner file 'side.png' is missing"},
        {"asset not packed", Line("BannerCount", "1") + Line("Banner1.Mode", "asset") + Line("Banner1.Source", "3") + record,
         {}, "Banner1: asset 3 is not in the asset archive"},
        {"incomplete record", Line("RelativePath", "g.exe"), {}, "file record: RelativePath, ExpectedHash and ExpectedSize"},
        {"unsafe payload name", record, {{"ok.txt", "a"}, {"..\\evil.dll", "b"}},
         "payload entry 2 (after 'ok.txt'): unsafe name or damaged archive"},
        {"name Windows refuses", record, {{"a\\what?.txt", "a"}}, "'a\\what?.txt': holds a character that Windows"},
        {"link to a share", Line("BannerCount", "1") + Line("Banner1.Source", "http://x") + Line("Banner1.Mode", "Url") +
                                Line("Banner1.Link", "\\\\host\\share\\x.exe") + record,
         {}, "Banner1: link '\\\\host\\share\\x.exe' is not an http:// or https:// address"},
    };
    for (const WarningCase& c : cases) {
        test::ScratchDir dir;
        ASSERT_TRUE(test::WriteFileBytes(dir / L"patch_manifest.dat", c.manifest));
        ASSERT_TRUE(test::WriteFileBytes(dir / L"patch_payload.dat", test::PayloadArchive(c.payload)));
        InspectReport report;
        ASSERT_TRUE(InspectPatch(dir.path(), report)) << c.what;
        EXPECT_NE(Joined(report.warnings).find(c.expected), std::string::npos) << c.what << ":\n" << Joined(report.warnings);
    }
}

TEST(PatchtoolInspect, RecognisesImageHeaders) {
    std::string bmp = "BM" + std::string(16, '\0');
    test::AppendU32(bmp, 640);
    test::AppendU32(bmp, static_cast<uint32_t>(-480));  // top-down rows
    std::string jpeg = "\xFF\xD8";
    jpeg += std::string("\xFF\xE0\x00\x04\x00\x00", 6);                         // APP0, skipped
    jpeg += std::string("\xFF\xC2\x00\x11\x08\x01\x90\x05\x64\x03", 10) + "pad";  // progressive: 1380x400
    std::string gif = "GIF89a";
    gif += std::string("\x64\x05\x90\x01", 4);
    const struct {
        const char* what;
        std::string bytes;
        const char* type;
        uint32_t width, height;
    } cases[] = {
        {"png", test::FakePng(1380, 400), "PNG", 1380, 400},
        {"bmp", bmp, "BMP", 640, 480},
        {"jpeg", jpeg, "JPEG", 1380, 400},
        {"jpeg cut before its frame", jpeg.substr(0, 9), "JPEG", 0, 0},
        {"gif", gif, "GIF", 1380, 400},
        {"html error page", "<html>404</html>", "", 0, 0},
        {"png cut short", test::FakePng(5, 5).substr(0, 20), "", 0, 0},
    };
    for (const auto& c : cases) {
        ImageInfo info = SniffImage(c.bytes);
        EXPECT_EQ(info.type, c.type) << c.what;
        EXPECT_EQ(info.width, c.width) << c.what;
        EXPECT_EQ(info.height, c.height) << c.what;
    }
}

TEST(PatchtoolCommandLine, HelpExamplesAndUsageErrors) {
    const struct {
        std::vector<std::string> args;
        int code;
        const char* expected;  // in standard output or error
    } cases[] = {
        {{"--help"}, 0, "build"},
        {{"build", "--help"}, 0, "Example: patchtool build demo/patch.toml -o dist"},
        {{"inspect", "--help"}, 0, "Example: patchtool inspect dist"},
        {{"verify", "--help"}, 0, "Example: patchtool verify"},
        {{"apply", "--help"}, 0, "5 extraction failed"},
        {{"frobnicate"}, 2, "subcommand is required"},
        {{"build", "x.toml"}, 2, "--out"},
        {{"inspect", "/nonexistent/patch"}, 4, "patch data missing"},
        {{"build", "/nonexistent/patch.toml", "-o", "/nonexistent/out"}, 1, "cannot open the definition file"},
    };
    for (const auto& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(RunPatchtool(c.args, false, out, err), c.code) << c.args[0];
        EXPECT_NE((out.str() + err.str()).find(c.expected), std::string::npos) << c.args[0] << ": " << out.str() << err.str();
    }
}

}  // namespace
