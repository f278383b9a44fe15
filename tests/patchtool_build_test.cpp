#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "install/verify.h"
#include "manifest/manifest.h"
#include "support/patchtool_support.h"
#include "support/test_support.h"
#include "tools/patchtool/patch_build.h"

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

TEST(PatchtoolBuild, ManifestReadsBackThroughTheInstallersReader) {
    test::PatchSource src;
    src.WriteDefinition(test::PatchSource::Definition());
    test::ScratchDir out;
    std::vector<std::string> problems;
    ASSERT_TRUE(BuildPatch(src.DefinitionPath(), out.path(), problems)) << Joined(problems);

    PatchManifest manifest;
    ASSERT_TRUE(LoadPatchManifestFile(out / L"patch_manifest.dat", manifest));
    std::wstring digest;
    ASSERT_TRUE(ComputeFileDigest(src.Path("game/DemoGame.exe"), digest));
    const std::pair<const char*, std::wstring> expected[] = {
        {"LanguageIndex", L"3"},
        {"WindowTitle", L"Demo Patch 1.1"},
        {"Greeting", L"Hello"},
        {"Greeting.ko", Utf8ToWide("\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94")},
        {"Greeting.en", L"Welcome"},
        {"RelativePath", L"bin/DemoGame.exe"},
        {"ExpectedHash", digest},
        {"ExpectedSize", L"3024"},
        // The Japanese variant names another place for the same file.
        {"RelativePath.ja", L"jp/DemoGame.exe"},
        {"ExpectedHash.ja", digest},
        {"BannerCount", L"3"},
        {"Banner1.Mode", L"Url"},
        {"Banner1.Source", L"http://127.0.0.1:8765/url.png"},
        {"Banner1.Link", L"https://example.org/news"},
        {"Banner2.Mode", L"Asset"},
        {"Banner2.Source", L"1"},  // the first packed asset
        {"Banner3.Mode", L"File"},
        {"Banner3.Source", L"art/local.png"},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(manifest[key], value) << key;
    // Nothing the definition did not ask for: no empty link, no alternate record.
    EXPECT_EQ(manifest.count("Banner2.Link"), 0u);
    EXPECT_EQ(manifest.count("RelativePath2"), 0u);
    EXPECT_EQ(manifest.size(), 19u);

    std::string local;
    ASSERT_TRUE(test::ReadFileBytes(out / L"art\\local.png", local));
    EXPECT_EQ(local, test::FakePng(690, 250));
}

TEST(PatchtoolBuild, SameDefinitionGivesTheSameBytes) {
    test::PatchSource src;
    src.WriteDefinition(test::PatchSource::Definition());
    test::ScratchDir first, second;
    std::vector<std::string> problems;
    ASSERT_TRUE(BuildPatch(src.DefinitionPath(), first.path(), problems)) << Joined(problems);
    ASSERT_TRUE(BuildPatch(src.DefinitionPath(), second.path(), problems)) << Joined(problems);
    for (const wchar_t* name : {L"patch_manifest.dat", L"patch_payload.dat", L"patch_assets.dat"}) {
        std::string a, b;
        ASSERT_TRUE(test::ReadFileBytes(first / name, a));
        ASSERT_TRUE(test::ReadFileBytes(second / name, b));
        EXPECT_EQ(a, b);
        EXPECT_FALSE(a.empty());
    }
    EXPECT_EQ(test::ListTree(first.path()), test::ListTree(second.path()));  // no .part left behind
}

struct RefusalCase {
    const char* what;
    std::string definition;
    const char* expected;  // part of the problem line that names the item
};

TEST(PatchtoolBuild, RefusesEachInvalidItemNamingIt) {
    const std::string base = test::PatchSource::Definition();
    const std::string banner = "[[banner]]\nmode = \"Url\"\nsource = \"http://127.0.0.1/x.png\"\n";
    std::string manyAssets;
    for (int i = 1; i <= 33; ++i) manyAssets += "[[asset]]\nid = " + std::to_string(i) + "\nfile = \"banners/asset.png\"\n";
    const RefusalCase cases[] = {
        {"language", "language = \"fr\"\npayload = \"payload\"\n[game]\nfile = \"game/DemoGame.exe\"\n",
         "language: 'fr' is not one of"},
        {"greeting language", base + "[greeting2]\n", "greeting2: unknown item"},
        {"title line break", "language = \"en\"\ntitle = \"a\\nb\"\npayload = \"payload\"\n"
                             "[game]\nfile = \"game/DemoGame.exe\"\n",
         "title: holds a line break"},
        {"four banners", base + banner, "banner: 4 banners"},
        {"missing local banner", base + "[[asset]]\nid = 9\nfile = \"banners/gone.png\"\n",
         "asset 1: file 'banners/gone.png' is missing"},
        {"33 assets", base + manyAssets, "asset: 34 assets"},
        {"unknown mode", "language = \"en\"\npayload = \"payload\"\n[game]\nfile = \"game/DemoGame.exe\"\n"
                         "[[banner]]\nmode = \"Web\"\nsource = \"x\"\n",
         "banner 1: mode 'Web'"},
        {"asset banner without asset", "language = \"en\"\npayload = \"payload\"\n[game]\nfile = \"game/DemoGame.exe\"\n"
                                       "[[banner]]\nmode = \"Asset\"\nsource = \"4\"\n",
         "banner 1: source: asset '4' is not in the asset list"},
        {"game file missing", "language = \"en\"\npayload = \"payload\"\n[game]\nfile = \"game/Nope.exe\"\n",
         "game.file: 'game/Nope.exe' cannot be read"},
        {"no game record", "language = \"en\"\npayload = \"payload\"\n", "game: missing"},
        {"link line break", "language = \"en\"\npayload = \"payload\"\n[game]\nfile = \"game/DemoGame.exe\"\n"
                            "[[banner]]\nmode = \"Url\"\nsource = \"x\"\nlink = \"http://a\\r\\nb\"\n",
         "banner 1: link: holds a line break"},
        {"local banner beside exe missing", "language = \"en\"\npayload = \"payload\"\n[game]\nfile = \"game/DemoGame.exe\"\n"
                                            "[[banner]]\nmode = \"File\"\nsource = \"side.png\"\n",
         "banner 1: source: local banner file 'side.png' is missing"},
        {"local banner source outside", "language = \"en\"\npayload = \"payload\"\n[game]\nfile = \"game/DemoGame.exe\"\n"
                                        "[[banner]]\nmode = \"File\"\nfile = \"banners/local.png\"\nsource = \"../x.png\"\n",
         "banner 1: source: '../x.png' does not name a file"},
        {"toml syntax", "language = \n", "line 1:"},
        {"link to a program", "language = \"en\"\npayload = \"payload\"\n[game]\nfile = \"game/DemoGame.exe\"\n"
                              "[[banner]]\nmode = \"Url\"\nsource = \"x\"\nlink = \"file:///C:/Windows/notepad.exe\"\n",
         "banner 1: link 'file:///C:/Windows/notepad.exe' is not an http:// or https:// address"},
    };
    for (const RefusalCase& c : cases) {
        test::PatchSource src;
        src.WriteDefinition(c.definition);
        test::ScratchDir out;
        std::vector<std::string> problems;
        EXPECT_FALSE(BuildPatch(src.DefinitionPath(), out.path(), problems)) << c.what;
        EXPECT_NE(Joined(problems).find(c.expected), std::string::npos) << c.what << ":\n" << Joined(problems);
        EXPECT_TRUE(test::ListTree(out.path()).empty()) << c.what << ": nothing is written";
    }
}

TEST(PatchtoolBuild, RefusesAnAssetOverFiftyMebibytes) {
    test::PatchSource src;
    src.WriteDefinition(test::PatchSource::Definition("[[asset]]\nid = 5\nfile = \"big.png\"\n"
                                                      "[[asset]]\nid = 6\nfile = \"edge.png\"\n"));
    // Sparse files: only the size matters, the build refuses before reading them.
    std::filesystem::resize_file((src.Put("big.png", ""), test::FsPath(src.Path("big.png"))), 52428801);
    std::filesystem::resize_file((src.Put("edge.png", ""), test::FsPath(src.Path("edge.png"))), 52428800);
    test::ScratchDir out;
    std::vector<std::string> problems;
    EXPECT_FALSE(BuildPatch(src.DefinitionPath(), out.path(), problems));
    ASSERT_EQ(problems.size(), 1u) << Joined(problems);
    EXPECT_NE(problems[0].find("asset 1: file 'big.png' is 52428801 bytes"), std::string::npos) << problems[0];
}

TEST(PatchtoolBuild, PayloadNameRules) {
    const struct {
        std::string name;
        bool ok;
    } cases[] = {
        {"a/b/c.txt", true},
        {"./x", true},      // a single-dot segment is accepted by the installer
        {".cfg", true},
        {"...", true},
        {"../x.dll", false},
        {"a/../b", false},
        {"C:x", false},
        {"x:stream", false},
        {"/x", false},
        {"a//b", false},
        {"a/", false},
        {"a\\b", false},    // a POSIX file name with a backslash would land in folder a
        {"what?.txt", false},
        {"tab\there", false},
        {"data/con.txt", false},
        {"COM1", false},
        {"com10", true},
        {"dir./x", false},  // Windows drops the dot: another name than the author's
        {"name ", false},
        {std::string(32768, 'n'), true},
        {std::string(32769, 'n'), false},
    };
    for (const auto& c : cases) {
        std::string problem = PayloadNameProblem(c.name);
        EXPECT_EQ(problem.empty(), c.ok) << c.name.substr(0, 40) << ": " << problem;
    }
}

TEST(PatchtoolBuild, PayloadLimitsAndCaseClashes) {
    EXPECT_EQ(PayloadCountProblem(0), "");
    EXPECT_EQ(PayloadCountProblem(200000), "");
    EXPECT_NE(PayloadCountProblem(200001).find("payload: 200001 files"), std::string::npos);


    const std::string n178(178, 'n'), f244(244, 'f');
    std::string emoji;  // two UTF-16 units each: 89 of them and one letter are 179 units
    for (int i = 0; i < 89; ++i) emoji += "\xF0\x9F\x98\x80";
    const struct {
        const char* what;
        std::vector<std::string> names;  // in the build's order, sorted by bytes
        std::vector<std::string> problems;  // a piece of each problem, in order
        std::vector<std::string> warnings;
    } cases[] = {
        {"A-Z twins", {"Data/A.txt", "data/a.TXT", "data/b.txt"}, {"'data/a.TXT': another file"}, {}},
        {"twins beyond A-Z", {"\xC3\x89.txt", "\xC3\xA9.txt", "\xCE\xA9/\xD1\x8F", "\xCF\x89/\xD0\xAF"},
         {"'\xC3\xA9.txt': another file", "'\xCF\x89/\xD0\xAF': another file"}, {}},
        // Windows keeps these apart: dotless i and I, sharp s and SS, micro sign and capital mu.
        {"letters whose upper case leads elsewhere", {"I", "SS", "\xC2\xB5", "\xC3\x9F", "\xC4\xB1", "\xCE\x9C"},
         {}, {}},
        {"file named like a folder", {"Data/x.txt", "data"}, {"'data': a folder of the same name"}, {}},
        {"deeper file named like a folder", {"A/b/c.txt", "a/B"}, {"'a/B': a folder of the same name"}, {}},
        {"folders that differ in case merge", {"Data/x.txt", "data/y.txt"}, {}, {}},
        {"fits below a typical game folder", {n178}, {}, {}},
        {"one character more: a warning", {n178 + "n"}, {}, {"a game folder of at most 79 characters"}},
        {"UTF-16 units are counted", {emoji + "x"}, {}, {"at most 79 characters"}},
        {"a name Windows refuses", {std::string(256, 'n')}, {"longer than the 255 characters"}, {}},
        {"a folder fits only in a drive's top folder", {f244 + "/x"}, {}, {"at most 2 characters"}},
        {"a folder fits nowhere", {f244 + "f/x"}, {"even in a drive's top folder"}, {}},
    };
    for (const auto& c : cases) {
        std::vector<PayloadItem> items;
        for (const std::string& name : c.names) items.push_back({name, L"", 1});
        std::vector<std::string> problems, warnings;
        CheckPayload(items, problems, warnings);
        for (auto [expected, actual] : {std::pair{&c.problems, &problems}, std::pair{&c.warnings, &warnings}}) {
            ASSERT_EQ(actual->size(), expected->size()) << c.what << ":\n" << Joined(*actual);
            for (size_t i = 0; i < expected->size(); ++i)
                EXPECT_NE((*actual)[i].find((*expected)[i]), std::string::npos) << c.what << ": " << (*actual)[i];
        }
    }
}

}  // namespace

namespace {

TEST(PatchtoolBuild, OtherDefinitionForms) {
    const struct {
        const char* what;
        std::string extra;  // after a minimal definition
        std::vector<std::pair<std::string, std::wstring>> expected;
    } cases[] = {
        {"one greeting for all", "greeting = \"Hi\"\n", {{"Greeting", L"Hi"}}},
        {"asset by id", "[[banner]]\nmode = \"Asset\"\nsource = 7\n[[asset]]\nid = 7\nfile = \"banners/asset.png\"\n",
         {{"Banner1.Source", L"7"}, {"BannerCount", L"1"}}},
        {"packed asset with its own id", "[[banner]]\nmode = \"Asset\"\nsource = \"5\"\nfile = \"banners/asset.png\"\n",
         {{"Banner1.Source", L"5"}}},
        // No path: the game file's own name; the alternate record gets the suffix 2.
        {"alternate record", "[game2]\nfile = \"banners/local.png\"\n[game2.ko]\nfile = \"game/DemoGame.exe\"\n",
         {{"RelativePath2", L"local.png"}, {"ExpectedSize2", L"33"}, {"RelativePath2.ko", L"local.png"},
          {"ExpectedSize2.ko", L"3024"}}},
    };
    for (const auto& c : cases) {
        test::PatchSource src;
        src.WriteDefinition("language = \"zh-TW\"\npayload = \"payload\"\n" + c.extra +
                            "[game]\nfile = \"game/DemoGame.exe\"\n");
        test::ScratchDir out;
        std::vector<std::string> problems;
        ASSERT_TRUE(BuildPatch(src.DefinitionPath(), out.path(), problems)) << c.what << "\n" << Joined(problems);
        PatchManifest manifest;
        ASSERT_TRUE(LoadPatchManifestFile(out / L"patch_manifest.dat", manifest));
        EXPECT_EQ(manifest["LanguageIndex"], L"0") << c.what;
        for (const auto& [key, value] : c.expected) EXPECT_EQ(manifest[key], value) << c.what << ": " << key;
    }
}

}  // namespace
