#include "banner/assets.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/paths.h"
#include "platform/fs.h"
#include "platform/temp.h"

const wchar_t kAssetArchiveName[] = L"patch_assets.dat";

namespace {

// Archive format (all integers little-endian, no padding, nothing after the last entry is read):
//   offset 0   8 bytes  magic "PTASSET1" (letter case matters)
//   offset 8   u32      count, 1 to 32
//   offset 12  count entries, back to back:
//                u32 id, u64 size (at most 52,428,800), then `size` bytes of data
// The readers below are written once over any source with Read(buffer, size, got) and
// Skip(distance), so the file and the in-memory reader cannot disagree.

// Bytes in memory with the read/skip behaviour of a file: skipping past the end succeeds and the
// next read then comes up short, as with a file pointer moved beyond the end.
struct MemorySource {
    const unsigned char* data;
    size_t size;
    uint64_t position = 0;

    bool Read(void* buffer, size_t count, size_t& got) {
        uint64_t available = position >= size ? 0 : size - position;
        got = count < available ? count : static_cast<size_t>(available);
        if (got > 0) std::memcpy(buffer, data + position, got);
        position += got;
        return true;
    }
    bool Skip(uint64_t distance) {
        if (distance > UINT64_MAX - position) return false;
        position += distance;
        return true;
    }
};

template <typename Source>
bool ReadExact(Source& source, void* buffer, size_t count) {
    size_t got = 0;
    return source.Read(buffer, count, got) && got == count;
}

template <typename Source>
bool ReadArchiveHeader(Source& source, uint32_t& count) {
    unsigned char header[kAssetHeaderSize];
    if (!ReadExact(source, header, sizeof header)) return false;
    if (std::memcmp(header, kAssetMagic, sizeof kAssetMagic) != 0) return false;
    count = LoadU32(header + 8);
    return count >= 1 && count <= kMaxAssetCount;
}

// One entry's id and size; an oversized entry ends every search, whatever its id.
template <typename Source>
bool ReadEntryHeader(Source& source, uint32_t& id, uint64_t& size) {
    unsigned char header[kAssetHeaderSize];
    if (!ReadExact(source, header, sizeof header)) return false;
    id = LoadU32(header);
    size = LoadU64(header + 4);
    return size <= kMaxAssetSize;
}

// Leaves `source` at the data of the first entry with `id`. Entries before it are skipped by
// moving the position, not read; entries after it are never looked at.
template <typename Source>
bool FindEntry(Source& source, uint32_t id, AssetInfo& found) {
    uint32_t count = 0;
    if (!ReadArchiveHeader(source, count)) return false;
    uint64_t offset = kAssetHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entryId = 0;
        uint64_t size = 0;
        if (!ReadEntryHeader(source, entryId, size)) return false;
        offset += kAssetHeaderSize;
        if (entryId == id) {
            found = AssetInfo{entryId, size, offset};
            return true;
        }
        if (!source.Skip(size)) return false;
        offset += size;
    }
    return false;
}

template <typename Source>
bool ListEntries(Source& source, uint64_t totalSize, std::vector<AssetInfo>& assets) {
    assets.clear();
    uint32_t count = 0;
    if (!ReadArchiveHeader(source, count)) return false;
    uint64_t offset = kAssetHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id = 0;
        uint64_t size = 0;
        if (!ReadEntryHeader(source, id, size)) return false;
        offset += kAssetHeaderSize;
        if (size > totalSize - offset || !source.Skip(size)) return false;
        assets.push_back(AssetInfo{id, size, offset});
        offset += size;
    }
    return true;
}

}  // namespace

std::wstring MakeTempFileName(const std::wstring& prefix) {
    std::wstring directory = platform::TempDirectory();
    if (directory.empty()) return std::wstring();
    return platform::CreateTempFile(directory, prefix);
}

bool ExtractAsset(int32_t id, std::wstring& path) {
    if (id <= 0) return false;
    return ExtractAssetFrom(JoinPath(GetExeDirectory(), kAssetArchiveName), id, path);
}

bool ExtractAssetFrom(const std::wstring& archivePath, int32_t id, std::wstring& path) {
    if (id <= 0) return false;
    platform::File archive;
    if (!archive.OpenRead(archivePath, platform::Share::All)) return false;
    AssetInfo entry{};
    if (!FindEntry(archive, static_cast<uint32_t>(id), entry)) return false;

    // The whole entry is read before a temporary file exists, so data cut short leaves no file.
    std::string data(static_cast<size_t>(entry.size), '\0');
    if (entry.size > 0 && !ReadExact(archive, &data[0], data.size())) return false;

    path = MakeTempFileName(L"pba");
    if (path.empty()) return false;
    platform::File out;
    if (!out.OpenWrite(path)) return false;
    if (!data.empty() && !out.Write(data.data(), data.size())) return false;
    // A close that fails may have lost buffered data: count it as a failed write.
    return out.Close();
}

bool ListAssets(const std::wstring& archivePath, std::vector<AssetInfo>& assets) {
    assets.clear();
    platform::File archive;
    uint64_t size = 0;
    if (!archive.OpenRead(archivePath, platform::Share::All) || !archive.GetSize(size)) return false;
    return ListEntries(archive, size, assets);
}

bool ListAssetsInMemory(const void* data, size_t size, std::vector<AssetInfo>& assets) {
    MemorySource source{static_cast<const unsigned char*>(data), size};
    return ListEntries(source, size, assets);
}

bool FindAssetInMemory(const void* data, size_t size, int32_t id, AssetInfo& found) {
    if (id <= 0) return false;
    MemorySource source{static_cast<const unsigned char*>(data), size};
    AssetInfo entry{};
    if (!FindEntry(source, static_cast<uint32_t>(id), entry)) return false;
    if (entry.offset > size || entry.size > size - entry.offset) return false;
    found = entry;
    return true;
}
