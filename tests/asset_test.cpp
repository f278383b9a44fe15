// The asset archive: what ExtractAsset takes out of which archive, that a failure before the
// temporary file exists leaves none, and that ListAssets and the in-memory readers agree with it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "banner/assets.h"
#include "support/temp_env.h"
#include "support/archive_builders.h"
#include "support/test_support.h"

namespace {

using Entry = test::AssetItem;
using test::AssetArchive;

class AssetTest : public ::testing::Test {
protected:
    test::ScratchDir dir;  // before `temp`, which redirects where scratch folders go
    test::ScopedTempFolder temp;
    std::wstring archive = dir / L"patch_assets.dat";
};

TEST_F(AssetTest, WorkedExampleIsTwentySevenBytes) {
    std::string bytes = AssetArchive({{1, "abc"}});
    ASSERT_EQ(bytes, std::string("PTASSET1\x01\0\0\0\x01\0\0\0\x03\0\0\0\0\0\0\0abc", 27));
    ASSERT_TRUE(test::WriteFileBytes(archive, bytes));
    std::wstring path;
    ASSERT_TRUE(ExtractAssetFrom(archive, 1, path));
    std::string data;
    ASSERT_TRUE(test::ReadFileBytes(path, data));
    EXPECT_EQ(data, "abc");
    std::vector<std::string> files = temp.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(0, 3), "pba");
    EXPECT_EQ(test::FsPath(path).filename().string(), files[0]);
}

TEST_F(AssetTest, ExtractsTheRightEntryOrNothing) {
    const std::string big(70000, 'q');
    struct Case {
        const char* why;
        std::string bytes;
        int32_t id;
        bool ok;
        std::string data;
    } cases[] = {
        {"second entry, first skipped", AssetArchive({{5, big}, {9, "second"}}), 9, true, "second"},
        {"first of two equal ids", AssetArchive({{4, "first"}, {4, "later"}}), 4, true, "first"},
        {"size 0", AssetArchive({{3, ""}}), 3, true, ""},
        {"extra bytes after the last entry", AssetArchive({{1, "abc"}}) + "trailing junk", 1, true, "abc"},
        {"count 32", AssetArchive(std::vector<Entry>(32, Entry{6, "x"})), 6, true, "x"},
        {"entries after the found one are never read", AssetArchive({{1, "abc"}, {2, "zz", 52428801}}), 1, true, "abc"},
        {"highest id", AssetArchive({{0x7FFFFFFF, "top"}}), 0x7FFFFFFF, true, "top"},
        {"count 0", AssetArchive({{1, "abc"}}, 0), 1, false, ""},
        {"count 33, wanted entry first", AssetArchive({{1, "abc"}}, 33), 1, false, ""},
        {"count above 32 taken unsigned", AssetArchive({{1, "abc"}}, 0xFFFFFFFF), 1, false, ""},
        {"id not present", AssetArchive({{1, "abc"}, {2, "de"}}), 3, false, ""},
        {"magic in other letter case", AssetArchive({{1, "abc"}}, 1, "ptasset1"), 1, false, ""},
        {"shorter than the header", std::string("PTASSET1\x01\0", 10), 1, false, ""},
        {"empty file", "", 1, false, ""},
        {"oversized entry before the wanted one", AssetArchive({{7, "x", 52428801}, {1, "abc"}}), 1, false, ""},
        {"oversized wanted entry", AssetArchive({{1, "abc", 52428801}}), 1, false, ""},
        {"wanted data cut short", AssetArchive({{1, "abc", 10}}), 1, false, ""},
        {"entry before runs past the end", AssetArchive({{7, "x", 1000}, {1, "abc"}}), 1, false, ""},
        {"entry header cut short", AssetArchive({{7, "x"}}, 2) + std::string("\x01\0\0", 3), 1, false, ""},
        {"id 0", AssetArchive({{0, "zero"}}), 0, false, ""},
        {"negative id is no unsigned match", AssetArchive({{0xFFFFFFFF, "neg"}}), -1, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(test::WriteFileBytes(archive, c.bytes));
        std::wstring path;
        bool ok = ExtractAssetFrom(archive, c.id, path);
        EXPECT_EQ(ok, c.ok);
        // Every failure here comes before the temporary file: nothing is left, path stays empty.
        if (!c.ok) {
            EXPECT_TRUE(path.empty());
            EXPECT_TRUE(temp.Files().empty());
            continue;
        }
        std::string data;
        EXPECT_TRUE(test::ReadFileBytes(path, data));
        EXPECT_TRUE(data == c.data);
        AssetInfo info{};
        EXPECT_TRUE(FindAssetInMemory(c.bytes.data(), c.bytes.size(), c.id, info));
        EXPECT_EQ(c.bytes.substr(static_cast<size_t>(info.offset), static_cast<size_t>(info.size)), c.data);
        std::filesystem::remove(test::FsPath(path));
        EXPECT_TRUE(temp.Files().empty());
    }
}

// The largest allowed entry, 50 MiB, stands before the wanted one: accepted and skipped without
// reading. The archive gets its zero data by extending the file, which costs no writing.
TEST_F(AssetTest, AcceptsAnEntryOfExactlyTheSizeLimit) {
    for (uint64_t size : {kMaxAssetSize, kMaxAssetSize + 1}) {
        std::string head = AssetArchive({{7, "", size}}, 2);
        ASSERT_TRUE(test::WriteFileBytes(archive, head));
        std::filesystem::resize_file(test::FsPath(archive), head.size() + size);
        {
            std::ofstream out(test::FsPath(archive), std::ios::binary | std::ios::app);
            std::string tail;
            test::AppendU32(tail, 1);
            test::AppendU64(tail, 3);
            out << tail << "abc";
            ASSERT_TRUE(out.good());
        }
        std::wstring path;
        bool ok = ExtractAssetFrom(archive, 1, path);
        EXPECT_EQ(ok, size == kMaxAssetSize) << size;
        std::vector<AssetInfo> listed;
        EXPECT_EQ(ListAssets(archive, listed), size == kMaxAssetSize) << size;
        if (ok) {
            std::string data;
            EXPECT_TRUE(test::ReadFileBytes(path, data));
            EXPECT_EQ(data, "abc");
            EXPECT_EQ(listed.size(), 2u);
        }
    }
}

TEST_F(AssetTest, FailsWithoutArchiveOrForIdsBelowOne) {
    std::wstring path;
    EXPECT_FALSE(ExtractAssetFrom(dir / L"missing.dat", 1, path));
    EXPECT_TRUE(path.empty());
    ASSERT_TRUE(test::WriteFileBytes(archive, AssetArchive({{1, "abc"}})));
    for (int32_t id : {0, -1, INT32_MIN}) {
        EXPECT_FALSE(ExtractAssetFrom(archive, id, path)) << id;
        EXPECT_FALSE(ExtractAsset(id, path)) << id;
        EXPECT_TRUE(path.empty());
    }
    EXPECT_TRUE(temp.Files().empty());
}

TEST_F(AssetTest, NoTemporaryFolderMeansNoExtraction) {
    ASSERT_TRUE(test::WriteFileBytes(archive, AssetArchive({{1, "abc"}})));
    test::SetTempFolderVariable(dir / L"no such folder");
    std::wstring path;
    EXPECT_FALSE(ExtractAssetFrom(archive, 1, path));
    EXPECT_TRUE(path.empty());
    EXPECT_TRUE(MakeTempFileName(L"pbn").empty());
}

TEST_F(AssetTest, TempFileNamesAreNewEmptyFilesWithThePrefix) {
    std::wstring a = MakeTempFileName(L"pbn");
    std::wstring b = MakeTempFileName(L"pbn");
    std::wstring c = MakeTempFileName(L"pba");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    std::vector<std::string> files = temp.Files();
    ASSERT_EQ(files.size(), 3u);
    int pbn = 0;
    for (const std::string& name : files) {
        EXPECT_TRUE(name.rfind("pbn", 0) == 0 || name.rfind("pba", 0) == 0) << name;
        pbn += name.rfind("pbn", 0) == 0;
        EXPECT_EQ(std::filesystem::file_size(test::FsPath(temp.path()) / name), 0u) << name;
    }
    EXPECT_EQ(pbn, 2);
    for (const std::wstring& p : {a, b, c}) {
        EXPECT_TRUE(std::filesystem::equivalent(test::FsPath(p).parent_path(), test::FsPath(temp.path())));
    }
}

// ListAssets reads the whole archive strictly; the in-memory reader must agree with it byte for byte.
TEST_F(AssetTest, ListingIsStrictAndAgreesWithTheMemoryReader) {
    struct Case {
        const char* why;
        std::string bytes;
        std::vector<AssetInfo> expected;  // empty: malformed
    } cases[] = {
        {"two entries", AssetArchive({{1, "abc"}, {8, "hello"}}), {{1, 3, 24}, {8, 5, 39}}},
        {"equal ids are both listed", AssetArchive({{2, ""}, {2, "x"}}), {{2, 0, 24}, {2, 1, 36}}},
        {"trailing bytes", AssetArchive({{1, "abc"}}) + "zz", {{1, 3, 24}}},
        {"last entry cut short", AssetArchive({{1, "abc"}, {2, "de", 3}}), {}},
        {"fewer entries than counted", AssetArchive({{1, "abc"}}, 2), {}},
        {"count 0", AssetArchive({}, 0), {}},
        {"count 33", AssetArchive(std::vector<Entry>(33, Entry{1, ""})), {}},
        {"oversized", AssetArchive({{1, "a", kMaxAssetSize + 1}}), {}},
        {"bad magic", AssetArchive({{1, "abc"}}, 1, "PTPAYLD1"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(test::WriteFileBytes(archive, c.bytes));
        std::vector<AssetInfo> fromFile;
        std::vector<AssetInfo> fromMemory;
        bool fileOk = ListAssets(archive, fromFile);
        bool memoryOk = ListAssetsInMemory(c.bytes.data(), c.bytes.size(), fromMemory);
        EXPECT_EQ(fileOk, !c.expected.empty());
        EXPECT_EQ(memoryOk, fileOk);
        if (!fileOk) continue;
        ASSERT_EQ(fromFile.size(), c.expected.size());
        ASSERT_EQ(fromMemory.size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(fromFile[i].id, c.expected[i].id);
            EXPECT_EQ(fromFile[i].size, c.expected[i].size);
            EXPECT_EQ(fromFile[i].offset, c.expected[i].offset);
            EXPECT_EQ(fromMemory[i].offset, c.expected[i].offset);
        }
    }
}

}  // namespace
