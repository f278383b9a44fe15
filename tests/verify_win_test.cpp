// Files held open by another program (Windows build): hashing needs shared reading, and a locked
// target stops the extraction at its entry without touching it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "install/payload.h"
#include "install/verify.h"
#include "platform/win_handle.h"
#include "support/archive_builders.h"
#include "support/test_support.h"

namespace {

platform::UniqueFile OpenHeld(const std::wstring& path, DWORD access, DWORD share) {
    return platform::UniqueFile(
        ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(HeldFiles, AFileOpenForWritingElsewhereIsNotHashed) {
    test::ScratchDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir / L"game.exe", "abc"));
    std::wstring digest = L"old";
    {
        platform::UniqueFile writer = OpenHeld(dir / L"game.exe", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(writer.valid());
        EXPECT_FALSE(ComputeFileDigest(dir / L"game.exe", digest));
        EXPECT_EQ(digest, L"old");
    }
    {
        platform::UniqueFile reader = OpenHeld(dir / L"game.exe", GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(reader.valid());
        EXPECT_TRUE(ComputeFileDigest(dir / L"game.exe", digest));
        EXPECT_EQ(digest, L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    }
}

TEST(HeldFiles, ALockedTargetStopsTheExtraction) {
    test::ScratchDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir / L"locked.dll", "keep"));
    ASSERT_TRUE(test::WriteFileBytes(dir / L"p.dat", test::PayloadArchive({{"first.txt", "new"}, {"locked.dll", "new"}})));
    struct Case {
        const char* what;
        DWORD share;
    } cases[] = {
        {"held without any sharing", 0},
        {"held without delete sharing", FILE_SHARE_READ | FILE_SHARE_WRITE},
    };
    for (const Case& c : cases) {
        platform::UniqueFile holder = OpenHeld(dir / L"locked.dll", GENERIC_READ, c.share);
        ASSERT_TRUE(holder.valid());
        EXPECT_FALSE(ExtractPayload(dir / L"p.dat", dir.path())) << c.what;
        holder.reset();
        std::string bytes;
        ASSERT_TRUE(test::ReadFileBytes(dir / L"locked.dll", bytes));
        EXPECT_EQ(bytes, "keep") << c.what;
        // Refused before anything is written: the entry before the locked one is not there either.
        EXPECT_EQ(test::ListTree(dir.path()), std::vector<std::string>({"locked.dll", "p.dat"})) << c.what;
    }
}

}  // namespace
