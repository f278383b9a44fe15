#include "support/archive_builders.h"

#include "common/byte_order.h"
#include "install/payload.h"
#include "platform/digest.h"
#include "tools/patchtool/delta_encode.h"

#include <zstd.h>

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

namespace {

std::string Sha256Of(const std::string& bytes) {
    platform::Sha256 sha;
    platform::Sha256Digest digest{};
    sha.Begin();
    sha.Update(bytes.data(), bytes.size());
    sha.Finish(digest);
    return std::string(digest.begin(), digest.end());
}

}  // namespace

std::string ZstdFrame(const std::string& bytes) {
    std::string out(ZSTD_compressBound(bytes.size()), '\0');
    out.resize(ZSTD_compress(&out[0], out.size(), bytes.data(), bytes.size(), 3));
    return out;
}

std::string PayloadArchiveKinds(const std::vector<KindItem>& items) {
    std::string out(kPayloadMagicKinds, sizeof kPayloadMagicKinds);
    AppendU32(out, static_cast<uint32_t>(items.size()));
    for (const KindItem& item : items) {
        out.push_back(static_cast<char>(item.kind));
        AppendU32(out, static_cast<uint32_t>(item.name.size()));
        out += item.name;
        std::string data = item.stored;
        if (item.kind == EntryKind::Stored && data.empty()) data = item.file;
        if (item.kind == EntryKind::Compressed && data.empty()) data = ZstdFrame(item.file);
        if (item.kind == EntryKind::Delta && data.empty()) {
            MakeDelta(reinterpret_cast<const uint8_t*>(item.old.data()), item.old.size(),
                      reinterpret_cast<const uint8_t*>(item.file.data()), item.file.size(), DeltaOptions(), data);
        }
        if (item.kind == EntryKind::Compressed || item.kind == EntryKind::Delta) {
            AppendU64(out, item.file.size());
            out += Sha256Of(item.wrongDigest ? item.file + "x" : item.file);
        }
        if (item.kind == EntryKind::Delta || item.kind == EntryKind::Removal) {
            AppendU64(out, item.old.size());
            out += Sha256Of(item.old);
        }
        if (item.kind == EntryKind::Removal) continue;
        AppendU64(out, data.size());
        out += data;
    }
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
