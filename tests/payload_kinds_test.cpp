// Entries of the layout with kinds on both builds: compressed files are decoded and checked against
// the size and digest they declare before they are put in place, removals take only the old
// version's file, and any failure leaves the folder as it was, removals included.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "install/entry_content.h"
#include "install/payload.h"
#include "support/archive_builders.h"
#include "support/test_support.h"

namespace {

using test::KindItem;

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 1000) & 0x3F);
    return data;
}

// A file's content as a failure message shows it: short ones whole, long ones by size and a sample.
std::string Shown(const std::string& bytes) {
    if (bytes.size() <= 64) return bytes;
    return std::to_string(bytes.size()) + " bytes ending in " + std::to_string(static_cast<unsigned char>(bytes.back()));
}

std::map<std::string, std::string> Files(const std::wstring& game) {
    std::map<std::string, std::string> files;
    for (const std::string& relative : test::ListTree(game)) {
        std::string bytes;
        std::wstring path = game + L"\\";
        for (char c : relative) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
        files[relative] = test::ReadFileBytes(path, bytes) ? Shown(bytes) : "<folder>";
    }
    return files;
}

TEST(PayloadKinds, MadeFilesAndRemovalsAllOrNothing) {
    const std::string big = Pattern(300000);
    // Made by the reading, decoding and writing threads together.
    const std::string large = Pattern(ContentWriter::kPipelineFrom + 12345);
    const std::string largeFrame = test::ZstdFrame(large);
    const struct Case {
        const char* what;
        std::vector<KindItem> items;
        bool installs;
        std::map<std::string, std::string> changed;  // what differs afterwards ("" = gone)
        ExtractFailure failure = ExtractFailure::WriteFailed;
        std::vector<std::string> notOldVersion;  // named as not the version the patch updates
    } cases[] = {
        {"compressed files, replacing one and new in a new folder",
         {{EntryKind::Compressed, "a.txt", big}, {EntryKind::Compressed, "d/new.bin", "hello"}},
         true,
         {{"a.txt", big}, {"d", "<folder>"}, {"d/new.bin", "hello"}}},
        {"a stored entry", {{EntryKind::Stored, "a.txt", "stored"}}, true, {{"a.txt", "stored"}}},
        {"a removal takes the old version's file", {{EntryKind::Removal, "gone.txt", "", "old gone"}}, true,
         {{"gone.txt", ""}}},
        {"a removal keeps a file the gamer changed", {{EntryKind::Removal, "mine.txt", "", "the old mine"}}, true, {}},
        {"a removal of a file that is not there", {{EntryKind::Removal, "absent.txt", "", "x"}}, true, {}},
        {"a made file that is not the declared one is never put in place",
         {{EntryKind::Compressed, "b.txt", "new b"}, {EntryKind::Compressed, "a.txt", "new a", "", "", true}}, false,
         {}},
        {"compressed data that does not decode",
         {{EntryKind::Compressed, "a.txt", "new a", "", std::string(40, 'z')}}, false, {}},
        {"a removal is undone when a later entry fails",
         {{EntryKind::Removal, "gone.txt", "", "old gone"}, {EntryKind::Compressed, "b.txt", "b", "", "", true}},
         false, {}},
        {"a compressed entry that makes more than it declares",
         {{EntryKind::Compressed, "a.txt", "abc", "", test::ZstdFrame("abcdef")}}, false, {}},
        {"a delta rebuilds a file from its old version in its place",
         {{EntryKind::Delta, "a.txt", "old a, then a new ending", "old a"}},
         true,
         {{"a.txt", "old a, then a new ending"}}},
        {"large compressed and delta entries",
         {{EntryKind::Compressed, "n.bin", large}, {EntryKind::Delta, "a.txt", "old a" + large, "old a"}},
         true,
         {{"n.bin", large}, {"a.txt", "old a" + large}}},
        {"a large made file that is not the declared one is never put in place",
         {{EntryKind::Compressed, "n.bin", large, "", "", true}}, false, {}},
        {"large compressed data that breaks off",
         {{EntryKind::Compressed, "n.bin", large, "", largeFrame.substr(0, largeFrame.size() / 2)}}, false, {}},
        {"a delta whose made file is not the declared one is never put in place",
         {{EntryKind::Delta, "a.txt", "old a!", "old a", "", true}}, false, {}},
        // Every file a delta would be made from is looked at before anything is written.
        {"deltas against a changed file and a missing one",
         {{EntryKind::Compressed, "b.txt", "new b"},
          {EntryKind::Delta, "mine.txt", "new mine", "the old mine", "d"},
          {EntryKind::Delta, "absent.txt", "new", "old", "d"}},
         false,
         {},
         ExtractFailure::OldVersionDiffers,
         {"mine.txt", "absent.txt"}},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        std::wstring game = dir / L"game";
        ASSERT_TRUE(CreateDirectoryTree(game));
        ASSERT_TRUE(test::WriteFileBytes(game + L"\\a.txt", "old a"));
        ASSERT_TRUE(test::WriteFileBytes(game + L"\\gone.txt", "old gone"));
        ASSERT_TRUE(test::WriteFileBytes(game + L"\\mine.txt", "changed by the gamer"));
        std::map<std::string, std::string> expected = Files(game);
        for (const auto& [name, bytes] : c.changed) {
            if (bytes.empty()) {
                expected.erase(name);
            } else {
                expected[name] = Shown(bytes);
            }
        }
        ASSERT_TRUE(test::WriteFileBytes(dir / L"p.dat", test::PayloadArchiveKinds(c.items)));
        ExtractReport report;
        EXPECT_EQ(ExtractPayload(dir / L"p.dat", game, &report), c.installs) << c.what;
        if (!c.installs) {
            EXPECT_EQ(report.failure, c.failure) << c.what;
        }
        EXPECT_EQ(report.oldVersionDiffers, c.notOldVersion) << c.what;
        EXPECT_EQ(Files(game), expected) << c.what;
    }
}

}  // namespace
