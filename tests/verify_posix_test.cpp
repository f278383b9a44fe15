// Links in the game folder (native build): the tree search must end and must not enter them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "install/payload.h"
#include "install/verify.h"
#include "support/archive_builders.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(FindFileByNameLinks, LinksBackUpTheTreeAreNotEntered) {
    test::ScratchDir dir;
    fs::path root = test::FsPath(dir.path());
    fs::create_directories(root / "a" / "b");
    fs::create_directory_symlink("..", root / "a" / "b" / "up");         // a loop
    fs::create_directory_symlink(root, root / "a" / "root");            // another loop
    fs::create_directories(root / "elsewhere");
    ASSERT_TRUE(test::WriteFileBytes(dir / L"elsewhere\\only_via_link.txt", "x"));
    fs::create_directory_symlink(root / "elsewhere", root / "a" / "linked");
    std::wstring found = L"unchanged";
    // Ends, although every loop leads back to the top.
    EXPECT_FALSE(FindFileByName(dir / L"a", L"missing.txt", found));
    // A file reachable only through a directory link is not found.
    EXPECT_FALSE(FindFileByName(dir / L"a", L"only_via_link.txt", found));
    EXPECT_EQ(found, L"unchanged");
    // A link to a file is a file of that name.
    fs::create_symlink(root / "elsewhere" / "only_via_link.txt", root / "a" / "b" / "file_link.txt");
    EXPECT_TRUE(FindFileByName(dir / L"a", L"FILE_LINK.TXT", found));
    EXPECT_EQ(found, dir / L"a\\b\\file_link.txt");
}

TEST(PayloadLinks, ALinkAtTheTargetIsReplacedNotWrittenThrough) {
    test::ScratchDir dir;
    fs::path root = test::FsPath(dir.path());
    fs::create_directories(root / "game");
    ASSERT_TRUE(test::WriteFileBytes(dir / L"outside.txt", "keep"));
    fs::create_symlink(root / "outside.txt", root / "game" / "t.txt");
    ASSERT_TRUE(test::WriteFileBytes(dir / L"p.dat", test::PayloadArchive({{"t.txt", "new"}})));
    EXPECT_TRUE(ExtractPayload(dir / L"p.dat", dir / L"game"));
    std::string bytes;
    ASSERT_TRUE(test::ReadFileBytes(dir / L"outside.txt", bytes));
    EXPECT_EQ(bytes, "keep");
    ASSERT_TRUE(test::ReadFileBytes(dir / L"game\\t.txt", bytes));
    EXPECT_EQ(bytes, "new");
    EXPECT_FALSE(fs::is_symlink(root / "game" / "t.txt"));
}

}  // namespace
