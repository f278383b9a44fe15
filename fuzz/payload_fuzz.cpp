// Fuzz target of the payload archive reader: each input is extracted into a scratch game folder
// (one per process, emptied after every input). Aborts when anything appears outside the game
// folder, or when extraction succeeds on an archive that the lister calls malformed.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "install/payload.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

std::wstring Wide(const fs::path& path) {
    std::string s = path.string();
    return platform::ConvertUtf8ToWide(s.data(), s.size());
}

// The game folder sits two levels below the scratch root, so a name escaping it by one or two
// levels lands where the check below sees it.
struct Scratch {
    fs::path root = fs::temp_directory_path() / ("pi-payload-fuzz-" + std::to_string(::getpid()));
    fs::path archive = root / "in.dat";
    fs::path outer = root / "outer";
    fs::path game = outer / "game";
    Scratch() {
        fs::remove_all(root);
        fs::create_directories(game);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Scratch& GetScratch() {
    static Scratch scratch;
    return scratch;
}

void ExpectOnly(const fs::path& directory, const std::vector<std::string>& allowed) {
    for (const auto& entry : fs::directory_iterator(directory)) {
        std::string name = entry.path().filename().string();
        bool known = false;
        for (const std::string& a : allowed) known = known || name == a;
        if (!known) {
            std::fprintf(stderr, "written outside the game folder: %s\n", entry.path().c_str());
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scratch& scratch = GetScratch();
    {
        std::ofstream out(scratch.archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) std::abort();
    }
    bool extracted = ExtractPayload(Wide(scratch.archive), Wide(scratch.game));
    std::vector<PayloadEntry> entries;
    bool listed = ListPayload(Wide(scratch.archive), entries);
    if (extracted && !listed) std::abort();

    ExpectOnly(scratch.root, {"in.dat", "outer"});
    ExpectOnly(scratch.outer, {"game"});
    // An empty game folder for the next input.
    for (const auto& entry : fs::directory_iterator(scratch.game)) fs::remove_all(entry.path());
    return 0;
}
