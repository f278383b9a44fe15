// The install log as a hostile program meets it: the log lies in a folder others can write to, it
// is written by an elevated installer, and the names in it come from an archive.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "install/install_log.h"
#include "support/file_state.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kVictim = "a file the installer must never write\n";

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    EXPECT_TRUE(test::ReadFileBytes(path, bytes)) << test::FsPath(path).string();
    return bytes;
}

std::string Repeat(const std::string& piece, size_t count) {
    std::string out;
    while (count-- > 0) out += piece;
    return out;
}

// Lines of a text without their line ends.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t from = 0; from < text.size();) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

enum class Planted { OurOldLog, LinkToVictim, HardLinkToVictim, OtherUsersFile, Folder };

// Places what the case plants at `log`; false when this system cannot make it.
bool Plant(Planted planted, const std::wstring& log, const std::wstring& victim) {
    std::error_code ec;
    switch (planted) {
        case Planted::OurOldLog:
            return test::WriteFileBytes(log, std::string(kInstallLogRunMarker) + "an earlier run\n");
        case Planted::LinkToVictim:
            // Wine shows a Unix link to a file as the file itself, and a Windows program cannot
            // make one there.
            if (test::kWindows) return false;
            fs::create_symlink(test::FsPath(victim), test::FsPath(log), ec);
            return !ec;
        case Planted::HardLinkToVictim:
            fs::create_hard_link(test::FsPath(victim), test::FsPath(log), ec);
            return !ec;
        case Planted::OtherUsersFile:
            return test::WriteFileBytes(log, kVictim) && test::GiveToAnotherUser(log);
        case Planted::Folder:
            return fs::create_directory(test::FsPath(log), ec);
    }
    return false;
}

// Whatever stands at the log's path, a run is written, and only to a file of ours: a link, a
// second name of another file or another user's file is left as it is and the run goes to a fresh
// file beside it, whose name the caller gets.
TEST(InstallLog, NeverWritesThroughWhatIsPlantedAtItsPath) {
    const struct {
        const char* what;
        Planted planted;
        bool kept;  // the log at the path is ours: rewritten with the earlier run kept
    } cases[] = {
        {"our own log from an earlier run", Planted::OurOldLog, true},
        {"a symbolic link to a system file", Planted::LinkToVictim, false},
        {"a hard link to a system file", Planted::HardLinkToVictim, false},
        {"a file of another user", Planted::OtherUsersFile, false},
        {"a folder", Planted::Folder, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        const std::wstring log = dir / L"Demo Game.log";
        const std::wstring victim = dir / L"victim.dat";
        ASSERT_TRUE(test::WriteFileBytes(victim, kVictim));
        if (!Plant(c.planted, log, victim)) {
            std::printf("skipped: this system cannot plant %s\n", c.what);
            continue;
        }
        std::wstring written = L"unchanged";
        ASSERT_TRUE(BeginInstallLog(log, "en", L"C:\\Games\\Demo", &written));
        LogResult("installed");
        ASSERT_TRUE(EndInstallLog());

        EXPECT_EQ(ReadAll(victim), kVictim);
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(test::FsPath(dir.path()))) {
            names.push_back(entry.path().filename().string());
        }
        ASSERT_EQ(names.size(), c.kept ? 2u : 3u);
        const std::string text = ReadAll(written);
        if (c.kept) {
            EXPECT_EQ(written, log);
            EXPECT_EQ(text.rfind(std::string(kInstallLogRunMarker) + "an earlier run\n", 0), 0u) << text;
        } else {
            const std::string name = test::FsPath(written).filename().string();
            EXPECT_EQ(test::FsPath(written).parent_path(), test::FsPath(dir.path()));
            EXPECT_EQ(name.size(), std::string("Demo Game-12345678.log").size()) << name;
            EXPECT_EQ(name.rfind("Demo Game-", 0), 0u) << name;
            EXPECT_EQ(test::FsPath(written).extension(), ".log");
            EXPECT_EQ(text.rfind(kInstallLogRunMarker, 0), 0u) << "the fresh file holds this run alone:\n" << text;
            if (c.planted == Planted::OtherUsersFile) {
                EXPECT_EQ(ReadAll(log), kVictim);
            }
        }
        EXPECT_NE(text.find("result: installed\n"), std::string::npos) << text;
    }
}

// A name or text from outside is one piece of one line, whatever bytes it holds: every call that
// writes one gives exactly one line, and the bytes can be read back from the escapes.
TEST(InstallLog, EscapesEveryNameIntoOneLine) {
    const std::string cut = "\xE2\x80\xA6";
    const struct {
        const char* what;
        std::string name;
        std::string logged;
    } cases[] = {
        {"a newline would forge a line", "a.txt\n==== forged run", "a.txt\\x0A==== forged run"},
        {"carriage return, escape, DEL", "x\r\x1B[2J\x7F", "x\\x0D\\x1B[2J\\x7F"},
        {"NUL inside a name", std::string("a\0b", 3), "a\\x00b"},
        {"C1 NEL and the line separator", "a\xC2\x85z\xE2\x80\xA8", "a\\xC2\\x85z\\xE2\\x80\\xA8"},
        // A stray continuation byte, an overlong "/", a surrogate, a sequence cut short.
        {"invalid UTF-8", "\x80/\xC0\xAF/\xED\xA0\x80/\xE2\x82", "\\x80/\\xC0\\xAF/\\xED\\xA0\\x80/\\xE2\\x82"},
        {"a backslash is doubled so that escapes stay unambiguous", "dir\\x0A", "dir\\\\x0A"},
        {"valid UTF-8 is kept", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/\xC3\xA9.pak",
         "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/\xC3\xA9.pak"},
        {"a long name is cut", std::string(1000, 'n'), std::string(kInstallLogMaxTextBytes, 'n') + cut},
        {"a cut never splits an escape", std::string(1000, '\n'), Repeat("\\x0A", kInstallLogMaxTextBytes / 4) + cut},
        {"a cut never splits a character", "n" + Repeat("\xC3\xA9", 300), "n" + Repeat("\xC3\xA9", 199) + cut},
    };
    test::ScratchDir dir;
    const std::wstring log = dir / L"names.log";
    std::wstring written;
    ASSERT_TRUE(BeginInstallLog(log, "en", L"C:\\Games\\Demo\n==== forged", &written));
    for (const auto& c : cases) {
        LogEntryWritten(c.name, 1);
        LogEntryFailed(c.name, 0);
        LogUndoStepFailed(c.name, 0);
        LogJournalRefused(c.name);
    }
    LogResult("installed");
    ASSERT_TRUE(EndInstallLog());
    ASSERT_EQ(written, log);
    const std::vector<std::string> lines = Lines(ReadAll(log));
    ASSERT_EQ(lines.size(), 2 + 4 * std::size(cases) + 1);
    EXPECT_EQ(lines[1], "chosen folder: C:\\\\Games\\\\Demo\\x0A==== forged");
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        const std::string& e = cases[i].logged;
        EXPECT_EQ(lines[2 + 4 * i], "written " + e + " (1 bytes)");
        EXPECT_EQ(lines[3 + 4 * i], "FAILED " + e + ": no system error reported");
        EXPECT_EQ(lines[4 + 4 * i], "UNDO FAILED " + e + ": no system error reported");
        EXPECT_EQ(lines[5 + 4 * i], "journal record refused: " + e);
    }
}

// However many entries and failed steps, with however long names, one run stays small enough for
// the next run to keep it whole, and says how much it left out.
TEST(InstallLog, OneRunStaysWithinWhatTheNextRunKeeps) {
    test::ScratchDir dir;
    const std::wstring log = dir / L"big.log";
    ASSERT_TRUE(BeginInstallLog(log, "en", L"C:\\Games\\Demo"));
    const std::string name(2000, 'n');
    for (int i = 0; i < 20000; ++i) LogEntryWritten(name, 1);
    for (int i = 0; i < 5000; ++i) LogUndoStepFailed(name, 0);
    LogResult("extraction failed");
    ASSERT_TRUE(EndInstallLog());
    const std::string first = ReadAll(log);
    EXPECT_LE(first.size(), kInstallLogKeepBytes);
    EXPECT_NE(first.find(" more entries written, not listed\n"), std::string::npos);
    EXPECT_NE(first.find("\n4900 more undo steps failed, not listed\n"), std::string::npos);

    ASSERT_TRUE(BeginInstallLog(log, "en", L"C:\\Games\\Demo"));
    ASSERT_TRUE(EndInstallLog());
    EXPECT_EQ(ReadAll(log).compare(0, first.size(), first), 0) << "the big run is kept whole";
}

}  // namespace
