// An extraction that fails, wherever and however it fails, leaves the game folder exactly as it
// was; one that was killed is put right by the next, which then installs as a clean run does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "install/entry_content.h"
#include "install/journal.h"
#include "install/payload.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/file_state.h"
#include "support/test_support.h"

namespace {

struct Entry {
    std::string name;
    std::string data;
};

// The archive, and where each entry's data starts in it.
std::string Archive(const std::vector<Entry>& entries, std::vector<size_t>* dataOffsets = nullptr) {
    std::string out = "PTPAYLD1";
    test::AppendU32(out, static_cast<uint32_t>(entries.size()));
    for (const Entry& e : entries) {
        test::AppendU32(out, static_cast<uint32_t>(e.name.size()));
        out += e.name;
        test::AppendU64(out, e.data.size());
        if (dataOffsets) dataOffsets->push_back(out.size());
        out += e.data;
    }
    return out;
}

std::wstring Wide(const std::string& text) { return platform::ConvertUtf8ToWide(text.data(), text.size()); }

// Every file and folder below the root: content (files) and attributes or mode and owner.
std::map<std::string, std::pair<std::string, uint64_t>> Snapshot(const std::wstring& root) {
    std::map<std::string, std::pair<std::string, uint64_t>> tree;
    for (const std::string& relative : test::ListTree(root)) {
        std::wstring path = root + L"\\" + Wide(relative);
        std::string bytes;
        if (platform::GetPathKind(path) != platform::PathKind::File || !test::ReadFileBytes(path, bytes)) bytes = "<dir>";
        tree[relative] = {bytes, test::FileStateBits(path)};
    }
    return tree;
}

// Game.exe (hidden on Windows, executable natively), data/a.pak and data/keep.txt; the archive
// replaces two of them (one twice), and creates a file in new nested folders (large enough to be
// written by the extraction's writing thread) and another beside.
struct GameSetup {
    test::ScratchDir root;
    std::wstring game = root / L"game";
    std::wstring archive = root / L"patch_payload.dat";
    std::vector<Entry> entries = {{"data/a.pak", "new a, first"},
                                  {"new/deep/x.dat", std::string(ContentWriter::kPipelineFrom, 'x')},
                                  {"Game.exe", "new game"},
                                  {"data/a.pak", "new a, second"},
                                  {"readme.txt", "readme"}};
    GameSetup() {
        EXPECT_TRUE(CreateDirectoryTree(game + L"\\data"));
        EXPECT_TRUE(test::WriteFileBytes(game + L"\\Game.exe", "old game"));
        EXPECT_TRUE(test::MarkSpecial(game + L"\\Game.exe"));
        EXPECT_TRUE(test::WriteFileBytes(game + L"\\data\\a.pak", "old a"));
        EXPECT_TRUE(test::WriteFileBytes(game + L"\\data\\keep.txt", "keep"));
    }
    std::wstring Target(size_t index) const {
        std::wstring name = Wide(entries[index].name);
        for (wchar_t& c : name) {
            if (c == L'/') c = L'\\';
        }
        return game + L"\\" + name;
    }
};

enum class Fault { TruncatedArchive, UnsafeName, LockedTarget, ReadOnlyTarget, WriteError, DiskFull };

// Sets up the fault at entry `at`; the write faults are set by the caller. False when the fault
// does not exist on this platform.
bool Prepare(GameSetup& setup, Fault fault, size_t at, std::string& archive, std::shared_ptr<void>& held) {
    std::vector<size_t> dataOffsets;
    archive = Archive(setup.entries, &dataOffsets);
    switch (fault) {
    case Fault::TruncatedArchive:
        archive.resize(dataOffsets[at] + setup.entries[at].data.size() / 2);
        return true;
    case Fault::UnsafeName: {
        std::vector<Entry> entries = setup.entries;
        entries[at].name = "../" + entries[at].name;
        archive = Archive(entries);
        return true;
    }
    case Fault::LockedTarget:
    case Fault::ReadOnlyTarget:
        // A target that does not exist yet is made to exist, so there is something to refuse.
        if (!platform::PathExists(setup.Target(at))) {
            EXPECT_TRUE(CreateDirectoryTree(setup.Target(at).substr(0, setup.Target(at).find_last_of(L'\\'))));
            EXPECT_TRUE(test::WriteFileBytes(setup.Target(at), "there before"));
        }
        if (fault == Fault::ReadOnlyTarget) return test::SetReadOnly(setup.Target(at), true);
        held = test::HoldOpenLikeAGame(setup.Target(at));
        return held != nullptr;
    case Fault::WriteError:
    case Fault::DiskFull: return true;  // set just before the extraction
    }
    return false;
}

TEST(PayloadUndo, AFailureAnywhereLeavesTheGameFolderAsItWas) {
    // A clean install: the result every recovered run must reach, and the writes it takes.
    GameSetup clean;
    ASSERT_TRUE(test::WriteFileBytes(clean.archive, Archive(clean.entries)));
    auto original = Snapshot(clean.game);
    uint64_t writesBefore = platform::CountedWrites();
    ASSERT_TRUE(ExtractPayload(clean.archive, clean.game));
    uint64_t writes = platform::CountedWrites() - writesBefore;
    auto installed = Snapshot(clean.game);
    EXPECT_EQ(installed["Game.exe"], std::make_pair(std::string("new game"), original["Game.exe"].second))
        << "a replaced file keeps its attributes or mode";
    EXPECT_EQ(installed["data/a.pak"].first, "new a, second");
    EXPECT_EQ(installed.size(), original.size() + 4);  // new, new/deep, new/deep/x.dat, readme.txt

    struct Case {
        Fault fault;
        const char* what;
        size_t points;
    } cases[] = {
        {Fault::TruncatedArchive, "archive cut inside entry", clean.entries.size()},
        {Fault::UnsafeName, "unsafe name at entry", clean.entries.size()},
        {Fault::LockedTarget, "target held open by the game at entry", clean.entries.size()},
        {Fault::ReadOnlyTarget, "read-only target at entry", clean.entries.size()},
        {Fault::WriteError, "write error after writes", writes},
        {Fault::DiskFull, "disk full after writes", writes},
    };
    ASSERT_GT(writes, clean.entries.size());
    for (const Case& c : cases) {
        for (size_t at = 0; at < c.points; ++at) {
            GameSetup setup;
            std::string archive;
            std::shared_ptr<void> held;
            if (!Prepare(setup, c.fault, at, archive, held)) {
                EXPECT_FALSE(test::kWindows) << c.what << " " << at << ": the fault could not be made";
                break;
            }
            ASSERT_TRUE(test::WriteFileBytes(setup.archive, archive));
            auto before = Snapshot(setup.game);
            if (c.fault == Fault::WriteError || c.fault == Fault::DiskFull) {
                platform::InjectWriteFault(
                    c.fault == Fault::WriteError ? platform::WriteFault::WriteError : platform::WriteFault::DiskFull, at);
            }
            bool extracted = ExtractPayload(setup.archive, setup.game);
            platform::InjectWriteFault(platform::WriteFault::None, 0);
            held.reset();
            EXPECT_FALSE(extracted) << c.what << " " << at;
            // Byte for byte, with attributes; no temporary file, backup or journal stays.
            EXPECT_EQ(Snapshot(setup.game), before) << c.what << " " << at;
        }
    }
}

// The kill test's child: extracts and dies after the given number of writes, before main runs.
int RunAsKillChildWhenAsked() {
    const char* request = std::getenv("PI_KILL_CHILD");
    if (!request) return 0;
    std::string text = request;
    size_t first = text.find('\n');
    size_t second = text.find('\n', first + 1);
    platform::InjectWriteFault(platform::WriteFault::Kill, std::strtoull(text.c_str() + second + 1, nullptr, 10));
    bool ok = ExtractPayload(Wide(text.substr(0, first)), Wide(text.substr(first + 1, second - first - 1)));
    std::_Exit(ok ? 0 : 1);
}
const int gKillChild = RunAsKillChildWhenAsked();

TEST(PayloadUndo, AKilledInstallIsPutRightByTheNextOne) {
    // 64 files of 64 KiB, half of them replacing the game's own.
    GameSetup clean;
    clean.entries.clear();
    for (int i = 0; i < 64; ++i) {
        std::string name = "pak/" + std::to_string(i % 4) + "/f" + std::to_string(i);
        clean.entries.push_back({name, std::string(65536 + i, static_cast<char>('a' + i % 26))});
        if (i % 2 == 0) {
            EXPECT_TRUE(CreateDirectoryTree(clean.game + L"\\pak\\" + std::to_wstring(i % 4)));
            EXPECT_TRUE(test::WriteFileBytes(clean.game + L"\\" + Wide(name), "old " + name));
        }
    }
    std::string archive = Archive(clean.entries);
    ASSERT_TRUE(test::WriteFileBytes(clean.archive, archive));
    auto original = Snapshot(clean.game);
    uint64_t writesBefore = platform::CountedWrites();
    ASSERT_TRUE(ExtractPayload(clean.archive, clean.game));
    uint64_t writes = platform::CountedWrites() - writesBefore;
    auto installed = Snapshot(clean.game);

    unsigned seed = 12;
    if (const char* text = std::getenv("PI_KILL_SEED")) seed = static_cast<unsigned>(std::strtoul(text, nullptr, 10));
    std::mt19937 random(seed);
    std::vector<uint64_t> points = {0, writes - 1};  // as it begins, and at the very last write
    for (int i = 0; i < 4; ++i) points.push_back(std::uniform_int_distribution<uint64_t>(1, writes - 2)(random));
    for (uint64_t point : points) {
        GameSetup setup;
        for (size_t i = 0; i < clean.entries.size(); i += 2) {
            ASSERT_TRUE(CreateDirectoryTree(setup.game + L"\\pak\\" + std::to_wstring(i % 4)));
            ASSERT_TRUE(test::WriteFileBytes(setup.game + L"\\" + Wide(clean.entries[i].name), "old " + clean.entries[i].name));
        }
        ASSERT_TRUE(test::WriteFileBytes(setup.archive, archive));
        ASSERT_EQ(Snapshot(setup.game), original);
        std::string request = platform::ConvertWideToUtf8(setup.archive) + "\n" +
                              platform::ConvertWideToUtf8(setup.game) + "\n" + std::to_string(point);
        EXPECT_EQ(test::RunSelfWith("PI_KILL_CHILD", request), 86) << "seed " << seed << ", killed at write " << point;
        EXPECT_TRUE(HasLeftoverJournal(setup.game)) << "seed " << seed << ", killed at write " << point;
        EXPECT_TRUE(ExtractPayload(setup.archive, setup.game)) << "seed " << seed << ", killed at write " << point;
        EXPECT_EQ(Snapshot(setup.game), installed) << "seed " << seed << ", killed at write " << point;
    }
}

}  // namespace

namespace {

std::string JournalNaming(const std::string& path) {
    std::string bytes = "PTJRNL01N";
    test::AppendU32(bytes, static_cast<uint32_t>(path.size()));
    return bytes + path;
}

// A directory link inside the game folder must not lead a write, or a recovery, outside it.
TEST(PayloadUndo, NothingIsWrittenOrUndoneThroughADirectoryLink) {
    struct Case {
        const char* what;
        const char* link;   // below the game folder, pointing at the outside folder
        std::string archiveName;
        bool journal;       // a journal that names the file is planted instead of an archive
    } cases[] = {
        {"link on the way", "data", "data/victim.txt", false},
        {"link deeper on the way", "a\\b", "a/b/victim.txt", false},
        {"link as the target itself: a folder is not replaced", "data", "data", false},
        {"journal naming a file behind a link", "data", "data\\victim.txt", true},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        std::wstring game = dir / L"game";
        ASSERT_TRUE(CreateDirectoryTree(dir / L"outside"));
        ASSERT_TRUE(test::WriteFileBytes(dir / L"outside\\victim.txt", "the system's own"));
        std::wstring link = game + L"\\" + Wide(c.link);
        ASSERT_TRUE(CreateDirectoryTree(link.substr(0, link.find_last_of(L'\\'))));
        bool made = test::MakeDirectoryLink(dir / L"outside", link) && platform::IsLink(link);
        // Wine 8 answers CreateSymbolicLinkW with success and makes nothing; Unix links seen through
        // Z: are reparse points there, but a Windows program cannot make one.
        if (!made && test::kWindows) GTEST_SKIP() << "this system made no directory link";
        ASSERT_TRUE(made) << c.what;
        if (c.journal) {
            ASSERT_TRUE(test::WriteFileBytes(game + L"\\" + kJournalFileName, JournalNaming(c.archiveName)));
            EXPECT_FALSE(RecoverGameFolder(game)) << c.what;
        } else {
            ASSERT_TRUE(test::WriteFileBytes(dir / L"p.dat", Archive({{"first.txt", "1"}, {c.archiveName, "evil"}})));
            EXPECT_FALSE(ExtractPayload(dir / L"p.dat", game)) << c.what;
            EXPECT_FALSE(platform::PathExists(game + L"\\first.txt")) << c.what;
        }
        std::string bytes;
        EXPECT_TRUE(test::ReadFileBytes(dir / L"outside\\victim.txt", bytes)) << c.what;
        EXPECT_EQ(bytes, "the system's own") << c.what;
        EXPECT_EQ(test::ListTree(dir / L"outside"), std::vector<std::string>({"victim.txt"})) << c.what;
    }
}

}  // namespace
