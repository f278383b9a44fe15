// Fuzz target of the asset archive readers. The bytes are read three ways (the strict listing in
// memory and from a file, and ExtractAsset's search) and the answers must agree: a listed archive
// has its data inside the bytes, each id's first entry is the one the search finds, and the file
// that ExtractAsset writes holds exactly that entry's data. Every temporary file is removed again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "banner/assets.h"
#include "platform/text.h"

namespace {

std::filesystem::path gScratch;

void RemoveScratch() {
    std::error_code ec;
    std::filesystem::remove_all(gScratch, ec);
}

// A private temporary folder for this process, also where the extracted files go.
const std::filesystem::path& Scratch() {
    if (gScratch.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "assets-fuzz-XXXXXX").string();
        if (::mkdtemp(&pattern[0]) == nullptr) std::abort();
        gScratch = pattern;
        ::setenv("TMPDIR", pattern.c_str(), 1);
        std::atexit(RemoveScratch);
    }
    return gScratch;
}

std::wstring Wide(const std::filesystem::path& path) {
    std::string s = path.string();
    return platform::ConvertUtf8ToWide(s.data(), s.size());
}

void Check(bool condition) {
    if (!condition) std::abort();
}

// ExtractAsset over the same bytes must give the search's entry, and nothing else, and leave no
// temporary file once its result is cleaned up as the banner loader does.
void CheckExtraction(const std::wstring& archive, const uint8_t* data, size_t size, int32_t id) {
    AssetInfo found{};
    bool inMemory = FindAssetInMemory(data, size, id, found);
    std::wstring path;
    bool extracted = ExtractAssetFrom(archive, id, path);
    Check(extracted == inMemory);
    if (extracted) {
        std::ifstream in(platform::ConvertWideToUtf8(path), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Check(bytes.size() == found.size);
        Check(found.size == 0 || std::memcmp(bytes.data(), data + found.offset, bytes.size()) == 0);
    }
    if (!path.empty()) std::filesystem::remove(platform::ConvertWideToUtf8(path));
    Check(std::filesystem::is_empty(Scratch() / "tmp"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path& scratch = Scratch();
    std::filesystem::create_directories(scratch / "tmp");
    ::setenv("TMPDIR", (scratch / "tmp").c_str(), 1);
    std::filesystem::path archive = scratch / "patch_assets.dat";
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        Check(out.good());
    }

    std::vector<AssetInfo> listed;
    std::vector<AssetInfo> fromFile;
    bool ok = ListAssetsInMemory(data, size, listed);
    Check(ListAssets(Wide(archive), fromFile) == ok);
    Check(fromFile.size() == listed.size());
    if (ok) {
        Check(!listed.empty() && listed.size() <= kMaxAssetCount);
        for (size_t i = 0; i < listed.size(); ++i) {
            const AssetInfo& entry = listed[i];
            Check(entry.size <= kMaxAssetSize && entry.offset <= size && entry.size <= size - entry.offset);
            Check(fromFile[i].id == entry.id && fromFile[i].offset == entry.offset);
            bool firstOfItsId = true;
            for (size_t j = 0; j < i; ++j) firstOfItsId = firstOfItsId && listed[j].id != entry.id;
            if (!firstOfItsId || entry.id == 0 || entry.id > INT32_MAX) continue;
            AssetInfo found{};
            Check(FindAssetInMemory(data, size, static_cast<int32_t>(entry.id), found));
            Check(found.offset == entry.offset && found.size == entry.size);
        }
        if (listed[0].id != 0 && listed[0].id <= INT32_MAX) {
            CheckExtraction(Wide(archive), data, size, static_cast<int32_t>(listed[0].id));
        }
    }
    // Also an id taken from the input itself, found or not, negative ones included.
    int32_t id = 1;
    if (size >= 4) std::memcpy(&id, data + size - 4, sizeof id);
    CheckExtraction(Wide(archive), data, size, id);
    return 0;
}
