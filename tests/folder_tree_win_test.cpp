// The Win32 FolderTree against Wine's file calls: a folder of the game that is a reparse point is
// refused as each call reaches it, and nothing lands behind it. (That a held folder cannot be
// moved away rests on delete sharing, which Wine does not enforce for folders: only Windows shows
// it.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/folder_tree.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace {

// A Windows program cannot make a link under Wine, and Wine's MoveFileExW moves what a link leads
// to rather than the link, so CTest's set-up makes a Unix link "link" beside the empty folder
// "outside" it leads to (PI_LINK_FIXTURE names their folder); Wine shows it as a reparse point.
TEST(FolderTreeWin, AReparsePointOnTheWayIsRefusedAsEachCallReachesIt) {
    const char* fixture = std::getenv("PI_LINK_FIXTURE");
    if (!fixture) GTEST_SKIP() << "no link fixture (run through CTest)";
    std::wstring base = platform::ConvertUtf8ToWide(fixture, std::char_traits<char>::length(fixture));
    platform::FolderTree tree;
    ASSERT_TRUE(tree.Open(base));
    platform::File file;
    EXPECT_EQ(tree.KindOf(L"link\\victim.txt"), platform::TreeKind::Unreachable);
    EXPECT_EQ(tree.KindOf(L"link"), platform::TreeKind::Other);
    EXPECT_FALSE(tree.CreateNew(file, L"link\\victim.txt"));
    EXPECT_EQ(tree.MakeFolder(L"link\\sub"), platform::MakeDirResult::Failed);
    ASSERT_TRUE(test::WriteFileBytes(base + L"\\mine.txt", "mine"));
    EXPECT_FALSE(tree.Move(L"mine.txt", L"link\\mine.txt", false));
    EXPECT_FALSE(tree.OpenFileRead(file, L"link"));
    EXPECT_TRUE(test::ListTree(base + L"\\outside").empty());
}

}  // namespace
