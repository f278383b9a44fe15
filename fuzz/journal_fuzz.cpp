// Fuzz target of the install journal reader and the recovery it drives: each input is planted as
// the journal of a scratch game folder, whose files a recovery may delete or move back, and which
// holds a link "l" to the folder above it. Aborts when
// anything outside the game folder changes, or when a recovery that reports success leaves the
// journal behind.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "install/journal.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

std::wstring Wide(const fs::path& path) {
    std::string s = path.string();
    return platform::ConvertUtf8ToWide(s.data(), s.size());
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::abort();
}

// The game folder two levels down with a few files and a folder to act on, and files beside it
// that names escaping by one or two levels would reach.
struct Scratch {
    fs::path root = fs::temp_directory_path() / ("pi-journal-fuzz-" + std::to_string(::getpid()));
    fs::path outer = root / "outer";
    fs::path game = outer / "game";
    Scratch() {
        fs::remove_all(root);
        fs::create_directories(outer);
        Write(root / "top.txt", "top");
        Write(outer / "beside.txt", "beside");
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void ResetGame() {
        fs::remove_all(game);
        fs::create_directories(game / "a" / "b");
        for (const char* name : {"x", "a/y", "a/b/z", "x.piold", "a/y.piold"}) Write(game / name, name);
        // A link out of the game folder, as a hostile program could plant one: a journal that would
        // move it into place or act through it must be refused.
        fs::create_symlink(outer, game / "l");
    }
};

void ExpectOutsideUntouched(const Scratch& scratch) {
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(scratch.root)) {
        fs::path relative = entry.path().lexically_relative(scratch.root);
        if (relative.begin()->string() == "outer" && std::next(relative.begin()) != relative.end() &&
            std::next(relative.begin())->string() == "game") {
            continue;
        }
        ++count;
    }
    std::ifstream top(scratch.root / "top.txt");
    std::ifstream beside(scratch.outer / "beside.txt");
    std::string a, b;
    std::getline(top, a);
    std::getline(beside, b);
    // top.txt, outer and outer/beside.txt; the game folder and all below it are not counted
    if (count != 3 || a != "top" || b != "beside") {
        std::fprintf(stderr, "recovery changed something outside the game folder\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    scratch.ResetGame();
    Write(scratch.game / "patch_install.journal", std::string(reinterpret_cast<const char*>(data), size));
    bool recovered = RecoverGameFolder(Wide(scratch.game));
    if (recovered && HasLeftoverJournal(Wide(scratch.game))) std::abort();
    std::vector<JournalRecord> records;
    if (recovered != ParseJournal(reinterpret_cast<const char*>(data), size, records) && recovered) std::abort();
    ExpectOutsideUntouched(scratch);
    return 0;
}
