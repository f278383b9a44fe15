#pragma once
// The asset archive "patch_assets.dat" beside the executable, which carries banner images, and the
// temporary files that extracted and downloaded banner images are written to.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern const wchar_t kAssetArchiveName[];  // "patch_assets.dat"
constexpr char kAssetMagic[8] = {'P', 'T', 'A', 'S', 'S', 'E', 'T', '1'};

constexpr uint32_t kMaxAssetCount = 32;
constexpr uint64_t kMaxAssetSize = 52428800;  // 50 MiB: also bounds the buffer of one extraction
constexpr uint64_t kAssetHeaderSize = 12;     // magic + count, and also id + size of an entry

// One entry of an archive: its id, data size and the offset of its data from the file's start.
struct AssetInfo {
    uint32_t id;
    uint64_t size;
    uint64_t offset;
};

// A new, empty file in the user's temporary folder whose name begins with `prefix` ("pbn" for
// downloaded banners, "pba" for extracted assets); its full path, or empty on failure.
std::wstring MakeTempFileName(const std::wstring& prefix);

// Writes the data of the first entry with `id` of the archive beside the executable into a new
// "pba" temporary file. `path` (passed in empty) names that file as soon as it exists, so after a
// false result it may name a file that the caller must delete; it stays empty when the failure came
// first. Ids of 0 or below fail without opening the archive.
bool ExtractAsset(int32_t id, std::wstring& path);
// The same from the archive at `archivePath`.
bool ExtractAssetFrom(const std::wstring& archivePath, int32_t id, std::wstring& path);

// Every entry of the archive at `archivePath`, in file order. Stricter than the search of
// ExtractAsset, which stops at the entry it wants: false unless the magic is right, the count is 1
// to 32, no entry exceeds the size limit and every entry's data lies inside the file.
bool ListAssets(const std::wstring& archivePath, std::vector<AssetInfo>& assets);

// The two readers over bytes in memory, for the fuzz target and the tests.
bool ListAssetsInMemory(const void* data, size_t size, std::vector<AssetInfo>& assets);
// ExtractAsset's search: the first entry with `id`, found as ExtractAsset would find it in a file
// of these bytes, with its data complete. False for ids of 0 or below.
bool FindAssetInMemory(const void* data, size_t size, int32_t id, AssetInfo& found);
