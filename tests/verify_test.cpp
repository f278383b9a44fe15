// Game-folder verification on both builds: the file record keys, where the game file is found,
// the size check before any hashing, and the digest text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "install/progress.h"
#include "install/verify.h"
#include "manifest/manifest.h"
#include "support/test_support.h"
#include "ui/ui_text.h"

namespace {

const wchar_t kAbcDigest[] = L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
const wchar_t kAbcDigestLower[] = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// Keeps the process-wide manifest and language as a test found them.
class VerifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedManifest_ = gPatchManifest;
        savedLanguage_ = gInstallLanguage;
        gPatchManifest.clear();
        gInstallLanguage = 0;
        ASSERT_TRUE(test::WriteFileBytes(MakeDirs(L"bin") + L"\\game.exe", "abc"));
    }
    void TearDown() override {
        gPatchManifest = savedManifest_;
        gInstallLanguage = savedLanguage_;
        SetWorkObserver(nullptr, nullptr);
    }
    std::wstring MakeDirs(const std::wstring& relative) {
        std::filesystem::create_directories(test::FsPath(game_ / relative));
        return game_ / relative;
    }
    test::ScratchDir game_;

private:
    PatchManifest savedManifest_;
    int savedLanguage_ = 0;
};

struct RecordCase {
    const char* what;
    std::vector<std::pair<std::string, std::wstring>> manifest;
    int language;
    std::string suffix;
    RecordCheck expected;
    const wchar_t* found;  // the located file, relative to the folder; null: none
};

const std::vector<std::pair<std::string, std::wstring>> kGood = {
    {"RelativePath", L"bin\\game.exe"}, {"ExpectedHash", kAbcDigest}, {"ExpectedSize", L"3"}};

std::vector<std::pair<std::string, std::wstring>> With(std::vector<std::pair<std::string, std::wstring>> base,
                                                       const std::string& key, const std::wstring& value) {
    for (auto& entry : base) {
        if (entry.first == key) {
            entry.second = value;
            return base;
        }
    }
    base.emplace_back(key, value);
    return base;
}

TEST_F(VerifyTest, FileRecords) {
    const RecordCase cases[] = {
        {"primary record", kGood, 0, "", RecordCheck::Match, L"bin\\game.exe"},
        {"forward slashes (the path is joined as written)", With(kGood, "RelativePath", L"bin/game.exe"), 0, "",
         RecordCheck::Match, L"bin/game.exe"},
        {"lower-case expected hash", With(kGood, "ExpectedHash", kAbcDigestLower), 0, "", RecordCheck::Match,
         L"bin\\game.exe"},
        {"hash with a trailing space is not trimmed", With(kGood, "ExpectedHash", std::wstring(kAbcDigest) + L" "), 0,
         "", RecordCheck::DigestDiffers, L"bin\\game.exe"},
        {"other digest", With(kGood, "ExpectedHash", std::wstring(64, L'0')), 0, "", RecordCheck::DigestDiffers,
         L"bin\\game.exe"},
        {"size with a word after it", With(kGood, "ExpectedSize", L" 3 bytes"), 0, "", RecordCheck::Match,
         L"bin\\game.exe"},
        {"size starting with a letter reads as 0", With(kGood, "ExpectedSize", L"x3"), 0, "", RecordCheck::SizeDiffers,
         L"bin\\game.exe"},
        {"other size", With(kGood, "ExpectedSize", L"4"), 0, "", RecordCheck::SizeDiffers, L"bin\\game.exe"},
        {"path missing", With(kGood, "RelativePath", L""), 0, "", RecordCheck::KeyMissing, nullptr},
        {"hash missing", With(kGood, "ExpectedHash", L""), 0, "", RecordCheck::KeyMissing, nullptr},
        {"size missing", With(kGood, "ExpectedSize", L""), 0, "", RecordCheck::KeyMissing, nullptr},
        {"moved file found by name", With(kGood, "RelativePath", L"old\\place\\GAME.EXE"), 0, "", RecordCheck::Match,
         L"bin\\game.exe"},
        {"path names a directory: a file of its last name is searched", With(kGood, "RelativePath", L"x\\bin"), 0, "",
         RecordCheck::FileNotFound, nullptr},
        {"path ending in a separator", With(kGood, "RelativePath", L"bin\\"), 0, "", RecordCheck::FileNotFound, nullptr},
        {"no such file anywhere", With(kGood, "RelativePath", L"launcher.exe"), 0, "", RecordCheck::FileNotFound,
         nullptr},
        {"alternate record absent", kGood, 0, "2", RecordCheck::KeyMissing, nullptr},
        {"alternate record",
         {{"RelativePath2", L"game.exe"}, {"ExpectedHash2", kAbcDigest}, {"ExpectedSize2", L"3"}}, 0, "2",
         RecordCheck::Match, L"bin\\game.exe"},
        {"Korean variant wins over the bare key",
         With(With(kGood, "ExpectedHash", std::wstring(64, L'0')), "ExpectedHash.ko", kAbcDigest), 3, "",
         RecordCheck::Match, L"bin\\game.exe"},
        {"Korean variant of the alternate record",
         {{"RelativePath2", L"bin/game.exe"}, {"ExpectedHash2", L"bad"}, {"ExpectedHash2.ko", kAbcDigest},
          {"ExpectedSize2", L"3"}},
         3, "2", RecordCheck::Match, L"bin/game.exe"},
        {"English without .en uses the bare key", With(kGood, "ExpectedHash.ko", L"bad"), 2, "", RecordCheck::Match,
         L"bin\\game.exe"},
        {"another language's variant is not used", With(kGood, "ExpectedSize.ja", L"4"), 3, "", RecordCheck::Match,
         L"bin\\game.exe"},
    };
    for (const RecordCase& c : cases) {
        gPatchManifest.clear();
        for (const auto& entry : c.manifest) gPatchManifest[entry.first] = entry.second;
        gInstallLanguage = c.language;
        std::wstring found = L"unset";
        EXPECT_EQ(CheckFileRecord(game_.path(), c.suffix, &found), c.expected) << c.what;
        EXPECT_EQ(VerifyFileRecord(game_.path(), c.suffix), c.expected == RecordCheck::Match) << c.what;
        EXPECT_EQ(found, c.found ? game_ / c.found : std::wstring(L"unset")) << c.what;
    }
}

TEST_F(VerifyTest, DirectoryNameFallsBackToAFileOfThatName) {
    MakeDirs(L"data\\bin");
    ASSERT_TRUE(test::WriteFileBytes(MakeDirs(L"other") + L"\\bin", "abc"));
    EXPECT_EQ(LocateGameFile(game_.path(), L"data\\bin"), game_ / L"other\\bin");
}

void CountHashing(const WorkProgress& progress, void* context) {
    if (progress.phase == WorkProgress::Phase::Hashing) ++*static_cast<int*>(context);
}

TEST_F(VerifyTest, SizeIsComparedBeforeAnythingIsHashed) {
    int hashingReports = 0;
    SetWorkObserver(&CountHashing, &hashingReports);
    for (const auto& entry : With(kGood, "ExpectedSize", L"1024")) gPatchManifest[entry.first] = entry.second;
    EXPECT_EQ(CheckFileRecord(game_.path(), "", nullptr), RecordCheck::SizeDiffers);
    EXPECT_EQ(hashingReports, 0);
    gPatchManifest["ExpectedSize"] = L"3";
    EXPECT_EQ(CheckFileRecord(game_.path(), "", nullptr), RecordCheck::Match);
    EXPECT_GT(hashingReports, 0);
}

TEST_F(VerifyTest, FindFileByName) {
    MakeDirs(L"game.dll");  // a directory is never a match, whatever its name
    ASSERT_TRUE(test::WriteFileBytes(MakeDirs(L"a\\b\\c") + L"\\Game.Dll", "x"));
    std::wstring found = L"unchanged";
    EXPECT_TRUE(FindFileByName(game_.path(), L"GAME.DLL", found));
    EXPECT_EQ(found, game_ / L"a\\b\\c\\Game.Dll");
    found = L"unchanged";
    // Only A-Z fold: a name that differs in another letter's case is another name.
    EXPECT_FALSE(FindFileByName(game_.path(), L"g\u00c4me.dll", found));
    EXPECT_FALSE(FindFileByName(game_.path(), L"game.dl", found));
    EXPECT_FALSE(FindFileByName(game_ / L"missing", L"game.exe", found));
    EXPECT_EQ(found, L"unchanged");

    // Two files of one name: the search returns one of them, the first its own order meets.
    ASSERT_TRUE(test::WriteFileBytes(MakeDirs(L"z") + L"\\twin.txt", "1"));
    ASSERT_TRUE(test::WriteFileBytes(MakeDirs(L"y\\deeper") + L"\\twin.txt", "2"));
    ASSERT_TRUE(FindFileByName(game_.path(), L"twin.txt", found));
    EXPECT_TRUE(found == game_ / L"z\\twin.txt" || found == game_ / L"y\\deeper\\twin.txt") << test::FsPath(found);
}

TEST_F(VerifyTest, FindFileByNameInADeepTree) {
    std::wstring relative = L"deep";
    for (int i = 0; i < 200; ++i) relative += L"\\d";
    ASSERT_TRUE(test::WriteFileBytes(MakeDirs(relative) + L"\\bottom.txt", "x"));
    std::wstring found;
    EXPECT_TRUE(FindFileByName(game_.path(), L"bottom.txt", found));
    EXPECT_EQ(found, game_ / relative + L"\\bottom.txt");
}

TEST(FileNamePart, SplitsAtEitherSeparator) {
    struct Case {
        const wchar_t* path;
        const wchar_t* name;
    } cases[] = {{L"a\\b\\c.exe", L"c.exe"}, {L"a/b/c.exe", L"c.exe"}, {L"a\\b/c", L"c"},
                 {L"c.exe", L"c.exe"},       {L"dir\\", L""},          {L"", L""}};
    for (const Case& c : cases) EXPECT_EQ(FileNamePart(c.path), c.name) << test::FsPath(c.path);
}

TEST(ComputeFileDigest, KnownAnswersAcrossBlockBoundaries) {
    struct Case {
        size_t size;
        const wchar_t* digest;  // of `size` bytes 'a'
    } cases[] = {
        {0, L"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
        {1, L"CA978112CA1BBDCAFAC231B39A23DC4DA786EFF8147C4E72B9807785AFEE48BB"},
        {65535, L"6E1BEBCA6A8229364A162A72EF064826C4CD7457BF54F190EF782BD9DEFF3E42"},
        {65536, L"BF718B6F653BEBC184E1479F1935B8DA974D701B893AFCF49E701F3E2F9F9C5A"},
        {65537, L"008FFC88D3C96A9F307524EB361E47C5222A887FC45FA0C1FB8D429C5C23B430"},
    };
    test::ScratchDir dir;
    for (const Case& c : cases) {
        ASSERT_TRUE(test::WriteFileBytes(dir / L"f", std::string(c.size, 'a')));
        std::wstring digest = L"old";
        EXPECT_TRUE(ComputeFileDigest(dir / L"f", digest)) << c.size;
        EXPECT_EQ(digest, c.digest) << c.size;
    }
    std::wstring digest = L"old";
    EXPECT_FALSE(ComputeFileDigest(dir / L"missing", digest));
    EXPECT_FALSE(ComputeFileDigest(dir.path(), digest));  // a directory has no content to hash
    // A device reads as empty, or blocks: only regular files are game files.
    EXPECT_FALSE(ComputeFileDigest(test::kWindows ? L"NUL" : L"/dev/null", digest));
    EXPECT_EQ(digest, L"old");
}

}  // namespace

namespace {

// The game at Games\DemoGame\bin\Game.exe; the user picks a folder somewhere on the way.
TEST_F(VerifyTest, PayloadGoesIntoTheFolderHoldingTheRecordsPath) {
    test::ScratchDir root;
    std::filesystem::create_directories(test::FsPath(root / L"Games\\DemoGame\\bin"));
    ASSERT_TRUE(test::WriteFileBytes(root / L"Games\\DemoGame\\bin\\Game.exe", "abc"));
    auto record = [](const std::string& suffix, const std::wstring& path) {
        return std::vector<std::pair<std::string, std::wstring>>{
            {"RelativePath" + suffix, path}, {"ExpectedHash" + suffix, kAbcDigest}, {"ExpectedSize" + suffix, L"3"}};
    };
    auto both = [&](const std::wstring& primary, const std::wstring& alternate) {
        auto keys = record("", primary);
        for (const auto& key : record("2", alternate)) keys.push_back(key);
        return keys;
    };
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::wstring>> manifest;
        std::wstring chosen;     // below the scratch root
        const wchar_t* written;  // expected extraction folder below the root; null: folder refused
    } cases[] = {
        {"parent folder picked", record("", L"bin\\Game.exe"), L"Games", L"Games\\DemoGame"},
        {"letter case and slashes as the search ignores them", record("", L"BIN/game.EXE"), L"Games",
         L"Games\\DemoGame"},
        {"dot segment dropped", record("", L".\\bin\\Game.exe"), L"Games", L"Games\\DemoGame"},
        {"found at its stated place", record("", L"bin\\Game.exe"), L"Games\\DemoGame", L"Games\\DemoGame"},
        // The record says the game file lies in the game folder itself.
        {"record without folders", record("", L"Game.exe"), L"Games", L"Games\\DemoGame\\bin"},
        {"folders differ from the found place", record("", L"tools\\Game.exe"), L"Games", L"Games"},
        {"found place above the chosen folder", record("", L"DemoGame\\bin\\Game.exe"), L"Games\\DemoGame\\bin",
         L"Games\\DemoGame\\bin"},
        {"alternate record", both(L"launcher.exe", L"bin\\Game.exe"), L"Games", L"Games\\DemoGame"},
        {"primary record wins over the alternate", both(L"Game.exe", L"bin\\Game.exe"), L"Games",
         L"Games\\DemoGame\\bin"},
        {"neither record matches", both(L"launcher.exe", L"setup.exe"), L"Games", nullptr},
    };
    for (const Case& c : cases) {
        gPatchManifest.clear();
        for (const auto& entry : c.manifest) gPatchManifest[entry.first] = entry.second;
        std::wstring folder = L"untouched";
        EXPECT_EQ(VerifyGameFolder(root / c.chosen, folder), c.written != nullptr) << c.what;
        EXPECT_EQ(folder, c.written ? root / c.written : std::wstring(L"untouched")) << c.what;
    }
}

}  // namespace
