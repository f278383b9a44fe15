// Links and FIFOs in the game folder (native build): the tree search must end and must not enter
// links, and nothing may block on a FIFO.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "install/payload.h"
#include "install/verify.h"
#include "manifest/manifest.h"
#include "support/patchtool_support.h"
#include "support/archive_builders.h"
#include "support/test_support.h"
#include "tools/patchtool/patch_apply.h"
#include "tools/patchtool/patch_build.h"

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

TEST(PayloadLinks, ALinkAtTheTargetIsNeitherWrittenThroughNorReplaced) {
    test::ScratchDir dir;
    fs::path root = test::FsPath(dir.path());
    fs::create_directories(root / "game");
    ASSERT_TRUE(test::WriteFileBytes(dir / L"outside.txt", "keep"));
    fs::create_symlink(root / "outside.txt", root / "game" / "t.txt");
    ASSERT_TRUE(test::WriteFileBytes(dir / L"p.dat", test::PayloadArchive({{"t.txt", "new"}})));
    EXPECT_FALSE(ExtractPayload(dir / L"p.dat", dir / L"game"));
    std::string bytes;
    ASSERT_TRUE(test::ReadFileBytes(dir / L"outside.txt", bytes));
    EXPECT_EQ(bytes, "keep");
    EXPECT_TRUE(fs::is_symlink(root / "game" / "t.txt"));
}

// Runs `work` in a child process and returns its exit code, or -1 when it is still running after a
// generous wait: a regression that blocks then fails the test instead of hanging the run.
template <typename Work>
int RunGuarded(Work work) {
    pid_t child = ::fork();
    if (child == 0) ::_exit(work());
    int status = 0;
    for (int waited = 0; waited < 3000; ++waited) {
        if (::waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

TEST(UntrustedFifo, VerifyAndApplyRefuseItWithoutBlocking) {
    test::PatchSource src;
    src.WriteDefinition(test::PatchSource::Definition());
    test::ScratchDir patch;
    std::vector<std::string> problems;
    ASSERT_TRUE(BuildPatch(src.DefinitionPath(), patch.path(), problems)) << problems.front();
    std::string gameFile;
    ASSERT_TRUE(test::ReadFileBytes(src.Path("game/DemoGame.exe"), gameFile));
    const struct {
        const char* what;
        const char* fifo;  // relative to the game folder, or "patch/" + a data file
        bool apply;
        int code;
    } cases[] = {
        {"FIFO at the game file's place", "bin/DemoGame.exe", false, kExitWrongFolder},
        {"FIFO of the game file's name found by the search", "old/DemoGame.exe", false, kExitWrongFolder},
        {"FIFO as the payload", "patch/patch_payload.dat", true, kExitExtractFailed},
        {"FIFO as the manifest", "patch/patch_manifest.dat", false, kExitPatchMissing},
    };
    for (const auto& c : cases) {
        test::ScratchDir game;
        test::ScratchDir patchCopy;
        fs::copy(test::FsPath(patch.path()), test::FsPath(patchCopy.path()), fs::copy_options::recursive);
        std::string fifo = c.fifo;
        bool inPatch = fifo.rfind("patch/", 0) == 0;
        fs::path fifoPath = inPatch ? test::FsPath(patchCopy.path()) / fifo.substr(6) : test::FsPath(game.path()) / fifo;
        fs::create_directories(fifoPath.parent_path());
        fs::remove(fifoPath);
        ASSERT_EQ(::mkfifo(fifoPath.c_str(), 0600), 0) << c.what;
        if (inPatch) {
            fs::create_directories(test::FsPath(game / L"bin"));
            ASSERT_TRUE(test::WriteFileBytes(game / L"bin\\DemoGame.exe", gameFile));
        }
        ApplyOptions options;
        options.patchFolder = patchCopy.path();
        options.gameFolder = game.path();
        int code = RunGuarded([&] {
            std::ostringstream out, err;
            return c.apply ? RunApply(options, out, err) : RunVerify(options, out, err);
        });
        EXPECT_EQ(code, c.code) << c.what << (code == -1 ? ": blocked" : "");
    }
}

}  // namespace
