#include "support/archive_builders.h"

#include "common/byte_order.h"
#include "install/payload.h"

namespace test {

std::string PayloadEntryBytes(const std::string& name, const std::string& data) {
    std::string out;
    AppendU32(out, static_cast<uint32_t>(name.size()));
    out += name;
    AppendU64(out, data.size());
    return out + data;
}

std::string PayloadArchive(const std::vector<PayloadItem>& items) {
    std::string out(kPayloadMagic, sizeof kPayloadMagic);
    AppendU32(out, static_cast<uint32_t>(items.size()));
    for (const PayloadItem& item : items) out += PayloadEntryBytes(item.name, item.data);
    return out;
}

std::string AssetArchive(const std::vector<AssetItem>& items, uint32_t count, const char* magic) {
    std::string out(magic, sizeof kAssetMagic);
    AppendU32(out, count);
    for (const AssetItem& item : items) {
        AppendU32(out, item.id);
        AppendU64(out, item.declaredSize == kRealSize ? item.data.size() : item.declaredSize);
        out += item.data;
    }
    return out;
}

std::string AssetArchive(const std::vector<AssetItem>& items) {
    return AssetArchive(items, static_cast<uint32_t>(items.size()));
}

}  // namespace test
