#pragma once
// Payload and asset archives built in memory, for the unit tests, the end-to-end scenarios and the
// fuzz seeds. Well-formed unless a case asks for a wrong count, size or magic.
#include <cstdint>
#include <string>
#include <vector>

#include "banner/assets.h"

namespace test {

struct PayloadItem {
    std::string name;  // UTF-8 bytes as stored
    std::string data;
};

// One entry as it follows the header: name length, name, data size, data.
std::string PayloadEntryBytes(const std::string& name, const std::string& data);
// The magic, the number of items, then every item in order.
std::string PayloadArchive(const std::vector<PayloadItem>& items);

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
