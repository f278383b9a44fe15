// Extraction of the payload archive on both builds: archive layout limits, chunk boundaries, names
// that must never write outside the game folder, and targets that must survive a failed entry.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "install/entry_content.h"
#include "install/payload.h"
#include "install/progress.h"
#include "support/archive_builders.h"
#include "support/test_support.h"

namespace {

using Entry = test::PayloadItem;
using test::PayloadArchive;

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return data;
}

// A scratch tree with the game folder two levels down, so that a name escaping it by one or two
// levels would land inside the tree that the tests walk.
struct Sandbox {
    test::ScratchDir root;
    std::wstring game = root / L"outer\\game";
    std::wstring archive = root / L"patch_payload.dat";
    Sandbox() { EXPECT_TRUE(CreateDirectoryTree(game)); }
    bool Extract(const std::string& bytes) {
        EXPECT_TRUE(test::WriteFileBytes(archive, bytes));
        return ExtractPayload(archive, game);
    }
    std::string Read(const std::wstring& relative) {
        std::string bytes;
        return test::ReadFileBytes(game + L"\\" + relative, bytes) ? bytes : "<missing>";
    }
    std::vector<std::string> Tree() { return test::ListTree(root.path()); }
};

const std::vector<std::string> kEmptyGameTree = {"outer", "outer/game", "patch_payload.dat"};

TEST(Payload, HeaderAndEntryCountLimits) {
    std::string one = PayloadArchive({{"first.txt", "1"}});
    struct Case {
        const char* what;
        std::string bytes;
        bool ok;
        bool firstWritten;
    } cases[] = {
        {"empty file", "", false, false},
        {"magic only", "PTPAYLD1", false, false},
        {"count cut short", std::string("PTPAYLD1\0\0", 10), false, false},
        {"wrong magic", "PTPAYLD2" + one.substr(8), false, false},
        {"lower-case magic", "ptpayld1" + one.substr(8), false, false},
        {"count 0 touches nothing", PayloadArchive({}), true, false},
        {"count 0 with trailing bytes", PayloadArchive({}) + "junk", true, false},
        {"one entry", one, true, true},
        {"trailing bytes ignored", one + "trailing garbage", true, true},
    };
    for (const Case& c : cases) {
        Sandbox box;
        EXPECT_EQ(box.Extract(c.bytes), c.ok) << c.what;
        EXPECT_EQ(box.Read(L"first.txt"), c.firstWritten ? "1" : "<missing>") << c.what;
    }
    // 200000 passes the header check and fails at the missing second entry, 200001 at the header:
    // either way before anything is written.
    for (uint32_t count : {200000u, 200001u}) {
        Sandbox box;
        std::string bytes = one;
        bytes.replace(8, 4, std::string(4, '\0'));
        std::string field;
        test::AppendU32(field, count);
        bytes.replace(8, 4, field);
        EXPECT_FALSE(box.Extract(bytes)) << count;
        EXPECT_EQ(box.Tree(), kEmptyGameTree) << count;
    }
    Sandbox box;
    EXPECT_FALSE(ExtractPayload(box.root / L"no_such_archive.dat", box.game));
    EXPECT_EQ(box.Tree(), std::vector<std::string>({"outer", "outer/game"}));
    EXPECT_TRUE(box.Extract(PayloadArchive({})));
    EXPECT_EQ(box.Tree(), kEmptyGameTree);
}

TEST(Payload, NameLengthLimits) {
    struct Case {
        int32_t nameLength;
        bool ok;
    } cases[] = {{1, true}, {32768, true}, {0, false}, {-1, false}, {INT32_MIN, false}, {32769, false}};
    for (const Case& c : cases) {
        std::string bytes = "PTPAYLD1";
        test::AppendU32(bytes, 1);
        test::AppendU32(bytes, static_cast<uint32_t>(c.nameLength));
        size_t length = c.nameLength > 0 ? static_cast<size_t>(c.nameLength) : 0;
        bytes += std::string(length, 'n');
        test::AppendU64(bytes, 2);
        bytes += "xy";
        test::ScratchDir dir;
        ASSERT_TRUE(test::WriteFileBytes(dir / L"a.dat", bytes));
        std::vector<PayloadEntry> entries;
        EXPECT_EQ(ListPayload(dir / L"a.dat", entries), c.ok) << c.nameLength;
        if (c.ok) {
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0].rawName.size(), length);
            EXPECT_EQ(entries[0].fileSize, 2u);
        }
    }
    Sandbox box;
    EXPECT_TRUE(box.Extract(PayloadArchive({{"n", "xy"}})));
    EXPECT_EQ(box.Read(L"n"), "xy");
}

TEST(Payload, DataSizeLimitsAndCutsAreRefused) {
    std::string full = PayloadArchive({{"first.txt", "1"}, {"second.txt", "22"}});
    size_t second = 12 + 4 + 9 + 8 + 1;  // offset of the second entry
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut inside nameLength", full.substr(0, second + 2)},
        {"cut inside name", full.substr(0, second + 4 + 5)},
        {"cut inside dataSize", full.substr(0, second + 4 + 10 + 3)},
        {"cut inside data", full.substr(0, full.size() - 1)},
        {"negative dataSize", full.substr(0, second + 14) + std::string(7, '\xff') + "\x80" + "22"},
        {"dataSize far beyond the file", full.substr(0, second + 14) + std::string(7, '\0') + "\x01" + "22"},
    };
    for (const Case& c : cases) {
        Sandbox box;
        EXPECT_FALSE(box.Extract(c.bytes)) << c.what;
        // The fault is found before the first entry is written; no file of the install stays.
        EXPECT_EQ(box.Tree(), kEmptyGameTree) << c.what;
        std::vector<PayloadEntry> entries;
        EXPECT_FALSE(ListPayload(box.archive, entries)) << c.what;
        EXPECT_EQ(entries.size(), 1u) << c.what;
    }
}

struct ProgressLog {
    std::vector<WorkProgress> reports;
    static void Record(const WorkProgress& progress, void* context) {
        static_cast<ProgressLog*>(context)->reports.push_back(progress);
    }
};

TEST(Payload, ChunkBoundariesCopyExactlyAndReportProgress) {
    // The last size runs through the threads of a large entry, whose writer may trail the reader
    // by the blocks in flight.
    const uint64_t largeStep = (ContentWriter::kBlocksPerChannel + 1) * ContentWriter::kBlockSize;
    for (size_t size : {size_t(0), size_t(1), size_t(65535), size_t(65536), size_t(65537), size_t(3 * 65536 + 5),
                        size_t(ContentWriter::kPipelineFrom + 5)}) {
        Sandbox box;
        std::string data = Pattern(size);
        std::string bytes = PayloadArchive({{"small.txt", "s"}, {"dir/big.bin", data}});
        ProgressLog log;
        SetWorkObserver(&ProgressLog::Record, &log);
        bool ok = box.Extract(bytes);
        SetWorkObserver(nullptr, nullptr);
        EXPECT_TRUE(ok) << size;
        EXPECT_TRUE(box.Read(L"dir\\big.bin") == data) << size;
        EXPECT_EQ(box.Read(L"small.txt"), "s") << size;
        ASSERT_FALSE(log.reports.empty());
        uint64_t last = 0;
        for (const WorkProgress& p : log.reports) {
            EXPECT_EQ(p.phase, WorkProgress::Phase::Extracting);
            // Progress counts the bytes of the files made, not of the archive.
            EXPECT_EQ(p.bytesTotal, 1 + size);
            EXPECT_EQ(p.filesTotal, 2u);
            // The window's messages must flow at least every 64 KiB made on this thread alone.
            EXPECT_LE(p.bytesDone - last, size < ContentWriter::kPipelineFrom ? 65536u : largeStep) << size;
            EXPECT_GE(p.bytesDone, last);
            last = p.bytesDone;
        }
        EXPECT_EQ(log.reports.back().bytesDone, 1 + size);
        EXPECT_EQ(log.reports.back().filesDone, 2u);
    }
}

TEST(Payload, NamesAndDirectories) {
    struct Case {
        const char* what;
        std::string name;
        std::wstring written;  // relative to the game folder, "\" separated; empty: extraction fails
        bool windowsOk = true;
    } cases[] = {
        {"slashes", "a/b/c.txt", L"a\\b\\c.txt"},
        {"backslashes", "a\\b\\c.txt", L"a\\b\\c.txt"},
        {"one of each", "a/b\\c.txt", L"a\\b\\c.txt"},
        {"single-dot segment", "./x", L"x"},
        {"dot inside", "a/./b.txt", L"a\\b.txt"},
        {"leading dot", ".cfg", L".cfg"},
        {"UTF-8 name", "\xe8\xb3\x87\xe6\x96\x99/\xed\x8c\xa8\xec\xb9\x98.txt", L"\u8cc7\u6599\\\ud328\uce58.txt"},
        {"leading space", " x", L" x"},
        // Windows names the folder itself by "..." and refuses it at the open; elsewhere it is a name.
        {"three dots", "...", L"...", false},
        {"three dots as a directory", ".../x", L"...\\x", false},
        // Characters the Windows file system refuses pass the name test and fail at the open.
        {"asterisk", "a*b", L"a*b", false},
        {"question mark", "what?", L"what?", false},
    };
    for (const Case& c : cases) {
        Sandbox box;
        bool expectOk = test::kWindows ? c.windowsOk : true;
        EXPECT_EQ(box.Extract(PayloadArchive({{c.name, "data"}})), expectOk) << c.what;
        if (expectOk) {
            EXPECT_EQ(box.Read(c.written), "data") << c.what;
        }
        for (const std::string& path : box.Tree()) {
            EXPECT_TRUE(path == "patch_payload.dat" || path == "outer" || path.rfind("outer/game", 0) == 0) << c.what << ": " << path;
        }
    }
}

TEST(Payload, UnsafeNamesStopBeforeAnythingIsWritten) {
    const char* names[] = {
        "../x.dll", "a/../b", "..", "a/..", "C:x", "x:stream", "/x", "//server/share/x", "a//b", "a/",
        // Trailing dots and spaces would be dropped by Windows and another name written.
        "a.", "a ", "dir./x", "dir /x", ".. ", "... ", ". ", "../", "c. .",
    };
    std::vector<std::string> all(std::begin(names), std::end(names));
    all.push_back(std::string("a\0b", 3));  // a NUL would cut the name short in the system call
    for (const std::string& name : all) {
        for (bool backslashes : {false, true}) {
            std::string written = name;
            if (backslashes) {
                for (char& ch : written) {
                    if (ch == '/') ch = '\\';
                }
            }
            Sandbox box;
            EXPECT_FALSE(box.Extract(PayloadArchive({{"first.txt", "1"}, {written, "evil"}, {"after.txt", "2"}}))) << written;
            EXPECT_EQ(box.Tree(), kEmptyGameTree) << written;
        }
    }
}

// One case per refused form of a reserved device name; writing one on Windows opens the device.
TEST(Payload, ReservedDeviceNamesAreRefused) {
    const wchar_t* refused[] = {
        L"CON", L"con", L"PRN", L"Prn", L"AUX", L"aux", L"NUL", L"nUl", L"CONIN$", L"conout$",
        L"COM0", L"COM1", L"com9", L"LPT0", L"LPT1", L"lpt9",
        L"COM\u00b9", L"COM\u00b2", L"COM\u00b3", L"LPT\u00b9", L"lpt\u00b2", L"LPT\u00b3",
        L"NUL.txt", L"nul.tar.gz", L"COM1.log", L"LPT\u00b3.x",   // with an extension
        L"COM1 ", L"NUL.", L"AUX..", L"CON . ", L"AUX .txt",      // with trailing dots or spaces
        L"sub\\CON", L"sub/nul.txt\\x", L"PRN\\x",               // as any segment
        L" NUL", L"  com1.txt",                                  // leading spaces too, to be safe
    };
    for (const wchar_t* name : refused) EXPECT_FALSE(IsSafeRelativePath(name)) << test::FsPath(name);

    const wchar_t* accepted[] = {L"CONSOLE", L"COM10", L"COM", L"LPT", L"COMx", L"xnul", L"nul_", L"CON_x.txt",
                                 L"com\u00b4", L"NULL.txt", L"x.CON", L"sub\\LPT10\\x"};
    for (const wchar_t* name : accepted) EXPECT_TRUE(IsSafeRelativePath(name)) << test::FsPath(name);

    Sandbox box;
    EXPECT_FALSE(box.Extract(PayloadArchive({{"first.txt", "1"}, {"NUL.txt", "evil"}})));
    EXPECT_FALSE(box.Extract(PayloadArchive({{"first.txt", "1"}, {"sub/COM1 ", "evil"}})));
    EXPECT_EQ(box.Tree(), kEmptyGameTree);
}

TEST(Payload, NameTestAcceptsWhatIsSafe) {
    const wchar_t* accepted[] = {L"x", L"./x", L".", L".cfg", L"...", L"....", L"a/.../b", L"a\\.\\b", L"a.b",
                                 L" x", L"a b", L"..x", L"x..y", L"\u00e9t\u00e9"};
    for (const wchar_t* name : accepted) EXPECT_TRUE(IsSafeRelativePath(name)) << test::FsPath(name);
    EXPECT_FALSE(IsSafeRelativePath(L""));
}

TEST(Payload, TargetsKeepTheirContentWhenAnEntryFails) {
    std::string big = Pattern(3 * 65536 + 100);
    std::string cut = PayloadArchive({{"first.txt", "1"}, {"game.dat", big}});
    cut.resize(cut.size() - 200);  // ends inside the third chunk of the second entry
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"archive cut inside the data", cut},
        {"archive cut inside the first chunk", cut.substr(0, 12 + 4 + 9 + 8 + 1 + 4 + 8 + 8 + 100)},
    };
    for (const Case& c : cases) {
        Sandbox box;
        ASSERT_TRUE(test::WriteFileBytes(box.game + L"\\game.dat", "the game's own file"));
        EXPECT_FALSE(box.Extract(c.bytes)) << c.what;
        EXPECT_EQ(box.Read(L"game.dat"), "the game's own file") << c.what;
        EXPECT_EQ(box.Tree(), std::vector<std::string>({"outer", "outer/game", "outer/game/game.dat",
                                                        "patch_payload.dat"}))
            << c.what;
    }
    // A cut-short entry with no previous file leaves none.
    Sandbox box;
    EXPECT_FALSE(box.Extract(cut));
    EXPECT_EQ(box.Read(L"game.dat"), "<missing>");
}

TEST(Payload, EntriesOfOneFolderAndItsSubfolders) {
    Sandbox box;
    EXPECT_TRUE(box.Extract(PayloadArchive({{"a/x", "1"}, {"a/y", "2"}, {"a/b/z", "3"}, {"a/w", "4"}, {"c/a/x", "5"}})));
    EXPECT_EQ(box.Tree(), std::vector<std::string>({"outer", "outer/game", "outer/game/a", "outer/game/a/b",
                                                    "outer/game/a/b/z", "outer/game/a/w", "outer/game/a/x",
                                                    "outer/game/a/y", "outer/game/c", "outer/game/c/a",
                                                    "outer/game/c/a/x", "patch_payload.dat"}));
    EXPECT_EQ(box.Read(L"c\\a\\x"), "5");
}

TEST(Payload, ExistingTargets) {
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        const char* expected;
    } cases[] = {
        {"replaced by longer", {{"t.txt", "new longer content"}}, "new longer content"},
        {"replaced by shorter", {{"t.txt", "n"}}, "n"},
        {"truncated by an empty entry", {{"t.txt", ""}}, ""},
        {"two entries of one name: the later wins", {{"t.txt", "first"}, {"T.TXT2", "x"}, {"t.txt", "second"}},
         "second"},
    };
    for (const Case& c : cases) {
        Sandbox box;
        ASSERT_TRUE(test::WriteFileBytes(box.game + L"\\t.txt", "old content"));
        EXPECT_TRUE(box.Extract(PayloadArchive(c.entries))) << c.what;
        EXPECT_EQ(box.Read(L"t.txt"), c.expected) << c.what;
    }
}

TEST(Payload, UnwritableTargetsStopBeforeAnythingIsWritten) {
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        std::string name;
        void (*prepare)(const std::wstring& game);
    } cases[] = {
        {"read-only file", "ro.txt",
         [](const std::wstring& game) {
             ASSERT_TRUE(test::WriteFileBytes(game + L"\\ro.txt", "keep"));
             fs::permissions(test::FsPath(game + L"\\ro.txt"), fs::perms::owner_write | fs::perms::group_write |
                                                                  fs::perms::others_write,
                             fs::perm_options::remove);
         }},
        {"directory of that name", "dir", [](const std::wstring& game) { fs::create_directory(test::FsPath(game + L"\\dir")); }},
        {"file where a directory is needed", "plain/x.txt",
         [](const std::wstring& game) { ASSERT_TRUE(test::WriteFileBytes(game + L"\\plain", "keep")); }},
    };
    for (const Case& c : cases) {
        Sandbox box;
        c.prepare(box.game);
        std::vector<std::string> before = box.Tree();
        before.push_back("patch_payload.dat");
        EXPECT_FALSE(box.Extract(PayloadArchive({{c.name, "new"}, {"after.txt", "2"}}))) << c.what;
        EXPECT_EQ(box.Tree(), before) << c.what;
        EXPECT_EQ(box.Read(L"ro.txt"), c.name == "ro.txt" ? "keep" : "<missing>") << c.what;
    }
}

TEST(Payload, CreateDirectoryTree) {
    test::ScratchDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir / L"file", "x"));
    struct Case {
        std::wstring path;
        bool ok;
    } cases[] = {
        {L"", false},
        {dir.path(), true},
        {dir / L"a\\b\\c", true},
        {dir / L"a/b/d", true},
        {dir / L"x\\y\\", true},
        {dir / L"file", true},  // something of that name stands there already
        {dir / L"file\\below", false},
    };
    for (const Case& c : cases) {
        if (c.path.empty()) {
            EXPECT_FALSE(CreateDirectoryTree(c.path));
            continue;
        }
        EXPECT_EQ(CreateDirectoryTree(c.path), c.ok) << test::FsPath(c.path);
    }
    EXPECT_TRUE(std::filesystem::is_directory(test::FsPath(dir / L"a\\b\\c")));
    EXPECT_TRUE(std::filesystem::is_directory(test::FsPath(dir / L"a\\b\\d")));

    // Many levels at once: created top down without recursion.
    std::wstring deep = dir / L"deep";
    for (int i = 0; i < 200; ++i) deep += L"\\d";
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(std::filesystem::is_directory(test::FsPath(deep)));
}

TEST(Payload, LongestNameOfManyLevelsFailsCleanly) {
    // 16384 levels in a 32768-byte name: longer than any path the system accepts. The extraction
    // must fail without exhausting the stack and without writing outside the game folder.
    std::string name;
    for (int i = 0; i < 16383; ++i) name += "a/";
    name += "xy";
    ASSERT_EQ(name.size(), 32768u);
    Sandbox box;
    EXPECT_FALSE(box.Extract(PayloadArchive({{name, "data"}})));
    // The path is known to be too long before anything is created.
    EXPECT_EQ(box.Tree(), kEmptyGameTree);
}

TEST(Payload, ListPayloadReportsEntriesAsExtractionSeesThem) {
    test::ScratchDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir / L"a.dat", PayloadArchive({{"a/b.txt", "123"}, {"\xc3\xa9", ""}}) + "tail"));
    std::vector<PayloadEntry> entries;
    ASSERT_TRUE(ListPayload(dir / L"a.dat", entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, L"a\\b.txt");
    EXPECT_EQ(entries[0].rawName, "a/b.txt");
    EXPECT_EQ(entries[0].fileSize, 3u);
    EXPECT_EQ(entries[1].name, L"\u00e9");
    EXPECT_EQ(entries[1].fileSize, 0u);
    ASSERT_TRUE(test::WriteFileBytes(dir / L"b.dat", PayloadArchive({{"ok", "1"}, {"../bad", "2"}})));
    EXPECT_FALSE(ListPayload(dir / L"b.dat", entries));
    EXPECT_EQ(entries.size(), 1u);
}

}  // namespace
