#pragma once
// Payload and asset archives built in memory, for the unit tests, the end-to-end scenarios and the
// fuzz seeds. Well-formed unless a case asks for a wrong count, size or magic.
#include <cstdint>
#include <string>
#include <vector>

#include "banner/assets.h"
#include "install/payload_reader.h"

namespace test {

struct PayloadItem {
    std::string name;  // UTF-8 bytes as stored
    std::string data;
};

// One entry as it follows the header: name length, name, data size, data.
std::string PayloadEntryBytes(const std::string& name, const std::string& data);
// The magic, the number of items, then every item in order.
std::string PayloadArchive(const std::vector<PayloadItem>& items);

// An entry of the layout with kinds. Compressed: `file` compressed with zstd, delta: `file` as a
// delta against `old` (patchtool's encoder), unless `stored` gives the stored bytes; removal: `old`
// is the file to go.
struct KindItem {
    EntryKind kind;
    std::string name;
    std::string file;
    std::string old;
    std::string stored;
    bool wrongDigest = false;  // declares the digest of another file than `file`
};
std::string PayloadArchiveKinds(const std::vector<KindItem>& items);
// `bytes` as one zstd frame.
std::string ZstdFrame(const std::string& bytes);

constexpr uint64_t kRealSize = UINT64_MAX;

struct AssetItem {
    uint32_t id;
    std::string data;
    uint64_t declaredSize = kRealSize;  // written in the entry header; kRealSize: data's size
};

// `magic` (8 bytes), `count` as written in the header, then the items in order.
std::string AssetArchive(const std::vector<AssetItem>& items, uint32_t count, const char* magic = kAssetMagic);
// Count taken from the items, the real magic.
std::string AssetArchive(const std::vector<AssetItem>& items);

}  // namespace test
