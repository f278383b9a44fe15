#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "support/patchtool_support.h"
#include "support/test_support.h"
#include "tools/patchtool/patch_apply.h"
#include "tools/patchtool/patch_build.h"
#include "ui/ui_text.h"

namespace {

const std::string kGameFile = std::string("MZ stand-in game binary\n") + std::string(3000, 'g');

// A built demo patch and a stand-in game folder that holds the identifying file.
class PatchtoolApply : public ::testing::Test {
protected:
    void SetUp() override {
        src.WriteDefinition(test::PatchSource::Definition());
        std::vector<std::string> problems;
        ASSERT_TRUE(BuildPatch(src.DefinitionPath(), patch.path(), problems)) << problems.front();
        std::filesystem::create_directories(test::FsPath(game / L"bin"));
        ASSERT_TRUE(test::WriteFileBytes(game / L"bin\\DemoGame.exe", kGameFile));
        ASSERT_TRUE(test::WriteFileBytes(game / L"save.dat", "keep me"));
    }
    void TearDown() override {
        gPatchManifest.clear();
        gInstallLanguage = 0;
    }
    ApplyOptions Options(const std::wstring& gameFolder) const {
        ApplyOptions options;
        options.patchFolder = patch.path();
        options.gameFolder = gameFolder;
        options.progress = true;
        return options;
    }

    test::PatchSource src;
    test::ScratchDir patch;
    test::ScratchDir game;
};

TEST_F(PatchtoolApply, WritesExactlyThePayloadFiles) {
    std::ostringstream out, err;
    ASSERT_EQ(RunApply(Options(game.path()), out, err), kExitOk) << err.str();
    std::vector<std::string> expected = {"bin", "data", "data/empty.bin", "data/levels", "data/levels/level1.dat",
                                         "readme.txt", "save.dat"};
    expected.push_back("bin/DemoGame.exe");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::ListTree(game.path()), expected);
    for (const auto& [name, content] : src.payload) {
        std::wstring wide(name.begin(), name.end());
        std::string written;
        ASSERT_TRUE(test::ReadFileBytes(game / wide, written)) << name;
        EXPECT_EQ(written, content) << name;
    }
    std::string kept;
    ASSERT_TRUE(test::ReadFileBytes(game / L"save.dat", kept));
    EXPECT_EQ(kept, "keep me");
    // Not a terminal: plain lines, the last one complete.
    EXPECT_NE(out.str().find("extracting 100%"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("4/4 files"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find('\r'), std::string::npos);
}

TEST_F(PatchtoolApply, DrawsABarOnATerminal) {
    ApplyOptions options = Options(game.path());
    options.terminal = true;
    std::ostringstream out, err;
    ASSERT_EQ(RunApply(options, out, err), kExitOk) << err.str();
    EXPECT_NE(out.str().find("\r[##############################] 100%"), std::string::npos) << out.str();
}

TEST_F(PatchtoolApply, ExitCodesTellFailuresApart) {
    test::ScratchDir wrong;
    test::ScratchDir empty;
    std::ostringstream out, err;
    EXPECT_EQ(RunApply(Options(wrong.path()), out, err), kExitWrongFolder);
    EXPECT_NE(err.str().find("primary file record (RelativePath): file not found"), std::string::npos) << err.str();
    EXPECT_TRUE(test::ListTree(wrong.path()).empty());

    ApplyOptions noPatch = Options(game.path());
    noPatch.patchFolder = empty.path();
    EXPECT_EQ(RunApply(noPatch, out, err), kExitPatchMissing);

    // A folder standing where a payload file goes: the installer's extraction stops there.
    std::filesystem::create_directories(test::FsPath(game / L"readme.txt"));
    EXPECT_EQ(RunApply(Options(game.path()), out, err), kExitExtractFailed);
    EXPECT_NE(err.str().find("extraction failed"), std::string::npos) << err.str();

    // The failed run above already replaced the game file (bin/DemoGame.exe comes first): put it back.
    ASSERT_TRUE(test::WriteFileBytes(game / L"bin\\DemoGame.exe", kGameFile));
    ASSERT_TRUE(test::WriteFileBytes(patch / L"patch_payload.dat", "PTPAYLD1"));  // cut inside its header
    std::filesystem::remove(test::FsPath(game / L"readme.txt"));
    EXPECT_EQ(RunApply(Options(game.path()), out, err), kExitExtractFailed);
    std::filesystem::remove(test::FsPath(patch / L"patch_payload.dat"));
    EXPECT_EQ(RunApply(Options(game.path()), out, err), kExitPatchMissing);
}

TEST_F(PatchtoolApply, VerifyNamesTheReasonForEachRecord) {
    const struct {
        const char* what;
        std::string content;  // of bin/DemoGame.exe; empty: no such file
        int code;
        const char* expected;
        bool journal = false;  // an interrupted install's journal lies in the folder
    } cases[] = {
        {"right file", kGameFile, kExitOk, "primary file record (RelativePath): matches "},
        {"no file", "", kExitWrongFolder, "primary file record (RelativePath): file not found: 'bin/DemoGame.exe'"},
        {"other size", kGameFile + "x", kExitWrongFolder, "size differs"},
        {"same size, other bytes", "X" + kGameFile.substr(1), kExitWrongFolder, "digest differs"},
        {"journal left", kGameFile, kExitOk, "an interrupted install left ", true},
    };
    for (const auto& c : cases) {
        test::ScratchDir folder;
        if (c.journal) {
            ASSERT_TRUE(test::WriteFileBytes(folder / L"patch_install.journal", "PTJRNL01"));
        }
        if (!c.content.empty()) {
            // Found by name below the folder even away from its stated place.
            std::filesystem::create_directories(test::FsPath(folder / L"old"));
            ASSERT_TRUE(test::WriteFileBytes(folder / L"old\\DemoGame.exe", c.content));
        }
        std::ostringstream out, err;
        EXPECT_EQ(RunVerify(Options(folder.path()), out, err), c.code) << c.what << err.str();
        EXPECT_NE(out.str().find(c.expected), std::string::npos) << c.what << ":\n" << out.str();
        EXPECT_EQ(out.str().find("interrupted install") != std::string::npos, c.journal) << c.what;
        // The definition has no [game2]: the alternate record always lacks its keys.
        EXPECT_NE(out.str().find("alternate file record (RelativePath2): key missing"), std::string::npos) << c.what;
    }
}

TEST_F(PatchtoolApply, VerifyTakesTheGivenLanguage) {
    ApplyOptions options = Options(game.path());
    options.language = "ja";  // RelativePath.ja = jp/DemoGame.exe: still found by name
    std::ostringstream out, err;
    EXPECT_EQ(RunVerify(options, out, err), kExitOk) << err.str();
    EXPECT_NE(out.str().find("install language: ja"), std::string::npos);
    options.language = "fr";
    EXPECT_EQ(RunVerify(options, out, err), kExitUsage);
    EXPECT_NE(err.str().find("language 'fr'"), std::string::npos);
}

}  // namespace
