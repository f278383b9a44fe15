// Everything an install, its rollback and a recovery do lands beneath the game folder at the moment
// it acts: a journal planted in the folder, a folder swapped for a link while the install runs, and
// a rollback that itself fails are each met as what they are.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "install/journal.h"
#include "install/payload.h"
#include "platform/folder_tree.h"
#include "support/archive_builders.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Get(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Record(char step, std::initializer_list<std::string> paths) {
    std::string bytes(1, step);
    for (const std::string& path : paths) {
        test::AppendU32(bytes, static_cast<uint32_t>(path.size()));
        bytes += path;
    }
    return bytes;
}

std::string BoundHeader(const fs::path& folder) {
    struct stat st {};
    EXPECT_EQ(::stat(folder.c_str(), &st), 0);
    std::string bytes = "PTJRNL02";
    test::AppendU64(bytes, static_cast<uint64_t>(st.st_dev));
    test::AppendU64(bytes, static_cast<uint64_t>(st.st_ino));
    return bytes;
}

// Every name below `root` with its content, or "->target" for a link, or "/" for a folder.
std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        std::string name = fs::relative(it->path(), root).string();
        if (it->is_symlink()) {
            name += "->" + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            name += "/";
        } else {
            name += "=" + Get(it->path());
        }
        out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

struct Scene {
    test::ScratchDir dir;
    fs::path root = test::FsPath(dir.path());
    fs::path game = root / "game";
    fs::path outside = root / "outside";
    std::wstring gameW = dir / L"game";
    Scene() {
        fs::create_directories(game / "d");
        fs::create_directories(outside);
        for (const char* name : {"d/planted.txt", "d/victim.txt", "mine.txt", "x.txt", "x.txt.piold"})
            Put(game / name, std::string("game ") + name);
        Put(outside / "victim.txt", "the system's own");
        fs::create_symlink(outside, game / "evil");
        fs::create_symlink(outside / "victim.txt", game / "victim-link.txt");
    }
};

// A journal whose steps would act through a link, on a link, or in another folder is refused whole
// before any step; a sound journal of the first format still recovers.
TEST(FolderTree, PlantedJournalsAreRefusedWhole) {
    struct Case {
        const char* what;
        bool bound;  // the current format, bound to the game folder
        std::string records;
        bool recovers;
    } cases[] = {
        // The first step would move the link "evil" to "d"; the next two then act through it.
        {"a link moved into place by an earlier undo step", true,
         Record('B', {"d/planted.txt", "mine.txt"}) + Record('N', {"d/victim.txt"}) + Record('B', {"d", "evil"}),
         false},
        {"a link at the last segment", true, Record('N', {"victim-link.txt"}), false},
        {"a backup behind a link", true, Record('B', {"x.txt", "evil/victim.txt"}), false},
        {"a file behind a link", false, Record('N', {"evil/victim.txt"}), false},
        {"a sound journal of the first format", false, Record('B', {"x.txt", "x.txt.piold"}), true},
        {"a sound bound journal", true, Record('B', {"x.txt", "x.txt.piold"}), true},
    };
    for (const Case& c : cases) {
        Scene scene;
        std::string header = c.bound ? BoundHeader(scene.game) : std::string("PTJRNL01");
        ASSERT_TRUE(test::WriteFileBytes(scene.gameW + L"\\" + kJournalFileName, header + c.records));
        std::vector<std::string> before = Tree(scene.root);
        RecoveryReport report;
        EXPECT_EQ(RecoverGameFolder(scene.gameW, &report), c.recovers) << c.what;
        EXPECT_EQ(report.refused, !c.recovers) << c.what;
        if (!c.recovers) {
            EXPECT_EQ(Tree(scene.root), before) << c.what;
            EXPECT_FALSE(report.refusedRecord.empty()) << c.what;
        } else {
            std::string bytes;
            ASSERT_TRUE(test::ReadFileBytes(scene.gameW + L"\\x.txt", bytes));
            EXPECT_EQ(bytes, "game x.txt.piold") << c.what;
            EXPECT_FALSE(HasLeftoverJournal(scene.gameW)) << c.what;
        }
    }
}

TEST(FolderTree, AJournalCopiedFromAnotherFolderIsRefused) {
    Scene scene;
    fs::create_directories(scene.root / "other");
    std::string journal = BoundHeader(scene.root / "other") + Record('N', {"x.txt"});
    ASSERT_TRUE(test::WriteFileBytes(scene.gameW + L"\\" + kJournalFileName, journal));
    RecoveryReport report;
    EXPECT_FALSE(RecoverGameFolder(scene.gameW, &report));
    EXPECT_TRUE(report.refused);
    EXPECT_TRUE(fs::exists(scene.game / "x.txt"));
}

struct Swap {
    fs::path folder;
    fs::path outside;
    bool done = false;
};

// Swaps the folder "d" for a link to the outside the moment the install first acts inside it.
void SwapForLink(const std::wstring& relative, void* context) {
    Swap& swap = *static_cast<Swap*>(context);
    if (swap.done || relative.compare(0, 2, L"d\\") != 0) return;
    swap.done = true;
    fs::rename(swap.folder, swap.folder.string() + "-moved");
    fs::create_symlink(swap.outside, swap.folder);
}

// A folder checked by the pre-flight and swapped for a link before the writes stops the install:
// nothing lands outside, the rest of the folder is put back, and the steps behind the link, which
// cannot be looked at, make it a rollback that did not finish.
TEST(FolderTree, AFolderSwappedForALinkAfterThePreflightIsNotWrittenThrough) {
    Scene scene;
    ASSERT_TRUE(test::WriteFileBytes(scene.dir / L"p.dat",
                                     test::PayloadArchive({{"x.txt", "new x"}, {"d/victim.txt", "evil"}})));
    std::vector<std::string> outsideBefore = Tree(scene.outside);
    Swap swap{scene.game / "d", scene.outside};
    platform::SetTreeActHookForTest(SwapForLink, &swap);
    ExtractReport report;
    bool installed = ExtractPayload(scene.dir / L"p.dat", scene.gameW, &report);
    platform::SetTreeActHookForTest(nullptr, nullptr);
    EXPECT_TRUE(swap.done);
    EXPECT_FALSE(installed);
    EXPECT_EQ(report.failure, ExtractFailure::NotRestored);
    EXPECT_EQ(Tree(scene.outside), outsideBefore);
    std::string bytes;
    ASSERT_TRUE(test::ReadFileBytes(scene.gameW + L"\\x.txt", bytes));
    EXPECT_EQ(bytes, "game x.txt");
}

// A rollback whose renames fail is told as such, names what is left, and a later run finishes it.
TEST(FolderTree, ARollbackThatFailsIsReportedAndFinishedByTheNextRun) {
    Scene scene;
    ASSERT_TRUE(test::WriteFileBytes(
        scene.dir / L"p.dat",
        test::PayloadArchive({{"mine.txt", "new mine"}, {"x.txt", "new x"}, {"d/planted.txt", "new planted"}})));
    std::vector<std::string> before = Tree(scene.game);
    // Two entries go in; the third one's move fails, and so does every move of the undo.
    platform::FailMovesAfterForTest(2);
    ExtractReport report;
    EXPECT_FALSE(ExtractPayload(scene.dir / L"p.dat", scene.gameW, &report));
    platform::ClearMoveFaultForTest();
    EXPECT_EQ(report.failure, ExtractFailure::NotRestored);
    EXPECT_EQ(report.entry, "d/planted.txt");
    std::vector<std::wstring> left(report.leftBehind.begin(), report.leftBehind.end());
    EXPECT_NE(std::find(left.begin(), left.end(), L"mine.txt"), left.end());
    EXPECT_NE(std::find(left.begin(), left.end(), L"x.txt"), left.end());
    EXPECT_NE(std::find(left.begin(), left.end(), std::wstring(kJournalFileName)), left.end());
    EXPECT_TRUE(HasLeftoverJournal(scene.gameW));
    EXPECT_TRUE(RecoverGameFolder(scene.gameW));
    EXPECT_EQ(Tree(scene.game), before);
}

}  // namespace
