#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "install/progress.h"
#include "install/install_log.h"
#include "manifest/manifest.h"
#include "platform/folder_lock.h"
#include "support/patchtool_support.h"
#include "support/archive_builders.h"
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

// Every file and folder below the root, a file with its size and a hash of its content.
std::vector<std::string> TreeWithContent(const std::wstring& root) {
    std::vector<std::string> tree;
    for (const std::string& relative : test::ListTree(root)) {
        std::string bytes;
        const std::filesystem::path path = test::FsPath(root) / relative;
        if (!std::filesystem::is_regular_file(path) || !test::ReadFileBytes(path.wstring(), bytes)) {
            tree.push_back(relative + " <dir>");
            continue;
        }
        tree.push_back(relative + " " + std::to_string(bytes.size()) + " " +
                       std::to_string(std::hash<std::string>{}(bytes)));
    }
    return tree;
}

// A second install on a folder another one holds touches nothing, whether it holds the chosen
// folder or the one below it that the payload goes into.
TEST_F(PatchtoolApply, AFolderAnotherInstallHoldsIsLeftAlone) {
    const struct {
        const char* what;
        const wchar_t* held;  // below the chosen folder; empty: the chosen folder itself
    } cases[] = {
        {"the chosen folder", L""},
        {"the folder holding the game file's path", L"Game"},
    };
    for (const auto& c : cases) {
        test::ScratchDir top;
        std::filesystem::create_directories(test::FsPath(top / L"Game\\bin"));
        ASSERT_TRUE(test::WriteFileBytes(top / L"Game\\bin\\DemoGame.exe", kGameFile));
        const std::wstring held = *c.held ? top / c.held : top.path();
        platform::FolderLock lock;
        ASSERT_EQ(lock.Acquire(held), platform::LockResult::Locked) << c.what;
        const auto before = TreeWithContent(top.path());
        std::ostringstream out, err;
        EXPECT_EQ(RunApply(Options(top.path()), out, err), kExitFolderBusy) << c.what << err.str();
        EXPECT_NE(err.str().find("another install is running in"), std::string::npos) << c.what << err.str();
        EXPECT_EQ(TreeWithContent(top.path()), before) << c.what;
        lock.Release();
        EXPECT_EQ(RunApply(Options(top.path()), out, err), kExitOk) << c.what << err.str();
    }
}

// Turns the replaced game file into a folder with something in it, and puts a folder where the last
// entry goes, once the first entry is written: that entry fails, and its undo cannot put the game
// file back over a folder.
struct UndoBlocker {
    std::wstring game;
    bool done = false;
};

void BlockTheUndo(const WorkProgress& progress, void* context) {
    UndoBlocker& blocker = *static_cast<UndoBlocker*>(context);
    if (blocker.done || progress.phase != WorkProgress::Phase::Extracting || progress.filesDone < 1) return;
    blocker.done = true;
    std::filesystem::remove(test::FsPath(blocker.game + L"\\bin\\DemoGame.exe"));
    std::filesystem::create_directories(test::FsPath(blocker.game + L"\\bin\\DemoGame.exe\\in the way"));
    std::filesystem::create_directories(test::FsPath(blocker.game + L"\\readme.txt"));
}

// A failed install that cannot be undone says what is left; the journal stays, so the next run
// finishes the undo first, and installs once nothing stands in the way.
TEST_F(PatchtoolApply, AnUndoThatFailsIsToldAndTheNextRunFinishesIt) {
    ApplyOptions options = Options(game.path());
    options.progress = false;
    const std::string journal = test::FsPath(game / L"patch_install.journal").string();
    UndoBlocker blocker{game.path()};
    SetWorkObserver(&BlockTheUndo, &blocker);
    const struct {
        const char* what;
        bool clearTheWay;  // before the run: the folders the blocker made are removed
        int code;
    } runs[] = {
        {"the install's own undo fails", false, kExitNotRestored},
        {"the next run's undo fails the same way", false, kExitNotRestored},
        {"the next run with the way clear", true, kExitOk},
    };
    for (const auto& run : runs) {
        if (run.clearTheWay) {
            std::filesystem::remove_all(test::FsPath(game / L"bin\\DemoGame.exe"));
            std::filesystem::remove_all(test::FsPath(game / L"readme.txt"));
        }
        std::ostringstream out, err;
        EXPECT_EQ(RunApply(options, out, err), run.code) << run.what << err.str();
        if (run.code != kExitNotRestored) continue;
        EXPECT_NE(err.str().find("not restored"), std::string::npos) << run.what << err.str();
        EXPECT_NE(err.str().find("  " + journal + "\n"), std::string::npos) << run.what << err.str();
        EXPECT_TRUE(std::filesystem::exists(test::FsPath(game / L"patch_install.journal"))) << run.what;
    }
    SetWorkObserver(nullptr, nullptr);
    EXPECT_TRUE(blocker.done);
    std::string installed, kept;
    ASSERT_TRUE(test::ReadFileBytes(game / L"bin\\DemoGame.exe", installed));
    EXPECT_EQ(installed, src.payload.at("bin/DemoGame.exe"));
    ASSERT_TRUE(test::ReadFileBytes(game / L"save.dat", kept));
    EXPECT_EQ(kept, "keep me");
    EXPECT_FALSE(std::filesystem::exists(test::FsPath(game / L"patch_install.journal")));
}

struct WorkCounts {
    int digests = 0;         // files hashed to their end
    int searchReports = 0;  // reports of the search by name, one every few hundred entries
};

void CountWork(const WorkProgress& progress, void* context) {
    WorkCounts& counts = *static_cast<WorkCounts*>(context);
    if (progress.phase == WorkProgress::Phase::Hashing && progress.filesDone == 1) ++counts.digests;
    if (progress.phase == WorkProgress::Phase::Searching) ++counts.searchReports;
}

// verify checks the old files a patch's deltas are made from, as the install would before writing,
// and apply then refuses with the same exit code and writes nothing.
TEST_F(PatchtoolApply, OldFilesOfDeltasAreCheckedBeforeAnythingIsWritten) {
    ASSERT_TRUE(test::WriteFileBytes(game / L"save.dat", "keep me, changed"));
    ASSERT_TRUE(test::WriteFileBytes(
        patch / L"patch_payload.dat",
        test::PayloadArchiveKinds({{EntryKind::Delta, "bin/DemoGame.exe", kGameFile + "!", kGameFile},
                                   {EntryKind::Delta, "save.dat", "saved", "keep me"}})));
    for (auto run : {&RunVerify, &RunApply}) {
        std::ostringstream out, err;
        EXPECT_EQ(run(Options(game.path()), out, err), kExitOldVersion) << out.str() << err.str();
        EXPECT_EQ((out.str() + err.str()).find("bin/DemoGame.exe: not"), std::string::npos) << out.str();
        EXPECT_NE((out.str() + err.str()).find("save.dat"), std::string::npos) << out.str() << err.str();
    }
    std::string bytes;
    ASSERT_TRUE(test::ReadFileBytes(game / L"bin\\DemoGame.exe", bytes));
    EXPECT_EQ(bytes, kGameFile);
}

TEST_F(PatchtoolApply, EachRecordIsLocatedAndHashedOnce) {
    const struct {
        const char* what;
        bool apply;
        std::string content;  // of bin/DemoGame.exe; empty: none, and 600 other files to search
        int code;
        int digests;
        int searchReports;  // 601 entries below the folder: two reports per search
    } cases[] = {
        {"verify, right file", false, kGameFile, kExitOk, 1, 0},
        {"verify, no file in a large tree", false, "", kExitWrongFolder, 0, 2},
        {"apply, same size, other bytes", true, "X" + kGameFile.substr(1), kExitWrongFolder, 1, 0},
        {"apply, no file in a large tree", true, "", kExitWrongFolder, 0, 2},
    };
    for (const auto& c : cases) {
        test::ScratchDir folder;
        if (c.content.empty()) {
            std::filesystem::create_directories(test::FsPath(folder / L"filler"));
            for (int i = 0; i < 600; ++i)
                ASSERT_TRUE(test::WriteFileBytes(folder / (L"filler\\f" + std::to_wstring(i)), ""));
        } else {
            std::filesystem::create_directories(test::FsPath(folder / L"bin"));
            ASSERT_TRUE(test::WriteFileBytes(folder / L"bin\\DemoGame.exe", c.content));
        }
        ApplyOptions options = Options(folder.path());
        options.progress = false;
        WorkCounts counts;
        SetWorkObserver(&CountWork, &counts);
        std::ostringstream out, err;
        int code = c.apply ? RunApply(options, out, err) : RunVerify(options, out, err);
        SetWorkObserver(nullptr, nullptr);
        EXPECT_EQ(code, c.code) << c.what << err.str();
        EXPECT_EQ(counts.digests, c.digests) << c.what;
        EXPECT_EQ(counts.searchReports, c.searchReports) << c.what;
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

// Each apply with --log appends one run; what support needs to act on is in the run's lines.
TEST_F(PatchtoolApply, LogRecordsEachRunForSupport) {
    // Opening a folder for writing: access denied on Windows, EISDIR elsewhere.
    const std::string folderInTheWay = test::kWindows ? "FAILED readme.txt: system error 5 (" :
                                                        "FAILED readme.txt: system error 21 (";
    const struct {
        const char* what;
        std::string gameContent;  // written to bin/DemoGame.exe before the run
        bool folderAtReadme;      // a folder stands where readme.txt goes
        int code;
        std::vector<std::string> lines;
    } cases[] = {
        {"installed", kGameFile, false, kExitOk,
         {"chosen folder: ", ", 3024 bytes, SHA-256 ", ": match", "written data/levels/level1.dat (",
          "written readme.txt (", "result: installed"}},
        {"wrong digest", "X" + kGameFile.substr(1), false, kExitWrongFolder,
         {"record RelativePath: expected 'bin/DemoGame.exe', 3024 bytes", "3024 bytes, SHA-256 ", ": digest differs",
          "record RelativePath2: not set in full: keys missing", "result: wrong folder"}},
        {"entry cannot be written", kGameFile, true, kExitExtractFailed,
         {folderInTheWay, "nothing written: the folder is as it was", "result: extraction failed"}},
    };
    test::ScratchDir logDir;
    const std::wstring logPath = logDir / L"Demo Game.log";
    std::string before;
    for (const auto& c : cases) {
        ASSERT_TRUE(test::WriteFileBytes(game / L"bin\\DemoGame.exe", c.gameContent));
        std::filesystem::remove_all(test::FsPath(game / L"readme.txt"));
        if (c.folderAtReadme) std::filesystem::create_directories(test::FsPath(game / L"readme.txt"));
        ApplyOptions options = Options(game.path());
        options.logPath = logPath;
        std::ostringstream out, err;
        EXPECT_EQ(RunApply(options, out, err), c.code) << c.what << err.str();
        std::string log;
        ASSERT_TRUE(test::ReadFileBytes(logPath, log)) << c.what;
        // Appended: the earlier runs are there unchanged, and this one follows them.
        EXPECT_EQ(log.compare(0, before.size(), before), 0) << c.what;
        const std::string run = log.substr(before.size());
        EXPECT_EQ(run.rfind(kInstallLogRunMarker, 0), 0u) << c.what << ":\n" << run;
        EXPECT_EQ(run.find(kInstallLogRunMarker, 1), std::string::npos) << c.what;
        for (const std::string& line : c.lines) EXPECT_NE(run.find(line), std::string::npos) << c.what << ": " << line << "\n" << run;
        before = log;
    }
}

// The log stays bounded by dropping whole old runs; one that cannot be written changes nothing.
TEST_F(PatchtoolApply, LogKeepsTheLastRunsAndNeverFailsAnInstall) {
    test::ScratchDir logDir;
    const std::wstring logPath = logDir / L"bounded.log";
    std::string old;
    for (int i = 0; old.size() < 3 * kInstallLogKeepBytes; ++i) {
        old += std::string(kInstallLogRunMarker) + "old run " + std::to_string(i) + "\n" + std::string(999, 'x') + "\n";
    }
    ASSERT_TRUE(test::WriteFileBytes(logPath, old));
    ApplyOptions options = Options(game.path());
    options.logPath = logPath;
    std::ostringstream out, err;
    ASSERT_EQ(RunApply(options, out, err), kExitOk) << err.str();
    std::string log;
    ASSERT_TRUE(test::ReadFileBytes(logPath, log));
    EXPECT_LE(log.size(), kInstallLogKeepBytes + 4096);
    EXPECT_EQ(log.rfind(kInstallLogRunMarker, 0), 0u) << "begins with a whole run";
    EXPECT_EQ(log.find("old run 0\n"), std::string::npos) << "the oldest run is gone";
    const std::string lastOld = old.substr(old.rfind(kInstallLogRunMarker));
    EXPECT_NE(log.find(lastOld), std::string::npos) << "the newest old run is kept whole";
    EXPECT_NE(log.find("result: installed"), std::string::npos);

    // No folder where the log should be: the install goes on as if there were no log.
    ASSERT_TRUE(test::WriteFileBytes(game / L"bin\\DemoGame.exe", kGameFile));
    options.logPath = logDir / L"missing\\bounded.log";
    EXPECT_EQ(RunApply(options, out, err), kExitOk) << err.str();
}

}  // namespace
