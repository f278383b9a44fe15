#include "tools/patchtool/payload_pack.h"

#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "common/byte_order.h"
#include "install/payload_reader.h"
#include "install/zstd_stream.h"
#include "platform/digest.h"
#include "platform/mapped_file.h"
#include "tools/patchtool/delta_encode.h"

namespace {

constexpr size_t kChunk = 1 << 20;
// How much of a large file is compressed before judging whether the rest is worth it.
constexpr uint64_t kProbeBytes = 16u << 20;

struct ZstdCompressor {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ~ZstdCompressor() { ZSTD_freeCCtx(context); }
};

// A file's size and SHA-256, read once.
bool HashFile(const std::wstring& path, uint64_t& size, platform::Sha256Digest& digest) {
    platform::File in;
    platform::Sha256 sha;
    if (!in.OpenRead(path, platform::Share::ReadOnly) || !in.GetSize(size) || !sha.Begin()) return false;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    uint64_t read = 0;
    for (;;) {
        size_t got = 0;
        if (!in.Read(buffer.get(), kChunk, got)) return false;
        if (got == 0) break;
        read += got;
        if (!sha.Update(buffer.get(), got)) return false;
    }
    return read == size && sha.Finish(digest);
}

// The file compressed at `level`, within the window the installer's decoder allows; false when it
// cannot be read, or (`worth` false) when the result would not be kStoreBelowSaving smaller.
bool Compress(const std::wstring& path, uint64_t size, int level, std::string& out, bool& worth) {
    worth = false;
    out.clear();
    ZstdCompressor zstd;
    if (!zstd.context) return false;
    ZSTD_CCtx_setParameter(zstd.context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(zstd.context, ZSTD_c_checksumFlag, 1);
    if (size > (8u << 20)) {
        // Long matches across a big game archive, never beyond the window the installer accepts.
        ZSTD_CCtx_setParameter(zstd.context, ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_setParameter(zstd.context, ZSTD_c_windowLog, kZstdWindowLogMax);
    }
    ZSTD_CCtx_setParameter(zstd.context, ZSTD_c_nbWorkers, 2);
    ZSTD_CCtx_setPledgedSrcSize(zstd.context, size);
    platform::File in;
    if (!in.OpenRead(path, platform::Share::ReadOnly)) return false;
    const uint64_t limit = static_cast<uint64_t>(static_cast<double>(size) * (1.0 - kStoreBelowSaving));
    std::unique_ptr<char[]> input(new char[kChunk]);
    std::string buffer(ZSTD_CStreamOutSize(), '\0');
    uint64_t read = 0;
    for (bool last = false; !last;) {
        size_t got = 0;
        if (!in.Read(input.get(), kChunk, got)) return false;
        read += got;
        last = got < kChunk;
        ZSTD_inBuffer chunk{input.get(), got, 0};
        ZSTD_EndDirective mode = last ? ZSTD_e_end : ZSTD_e_continue;
        for (;;) {
            ZSTD_outBuffer produced{&buffer[0], buffer.size(), 0};
            size_t left = ZSTD_compressStream2(zstd.context, &produced, &chunk, mode);
            if (ZSTD_isError(left)) return false;
            out.append(buffer.data(), produced.pos);
            // Stops as soon as it is clear that compressing is not worth it: past the limit, or a
            // large file whose first part does not shrink at all (media compressed already).
            if (out.size() > limit || (read >= kProbeBytes && out.size() > read / 100 * 98)) return read <= size;
            if (last ? left == 0 : chunk.pos == chunk.size) break;
        }
    }
    worth = read == size;
    return read == size;
}

void AppendDigest(std::string& out, const platform::Sha256Digest& digest) {
    out.append(reinterpret_cast<const char*>(digest.data()), digest.size());
}

bool WriteStoredData(const std::wstring& path, uint64_t size, platform::File& out) {
    platform::File in;
    if (!in.OpenRead(path, platform::Share::ReadOnly)) return false;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (uint64_t left = size; left > 0;) {
        size_t got = 0;
        size_t want = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
        if (!in.Read(buffer.get(), want, got) || got != want || !out.Write(buffer.get(), got)) return false;
        left -= got;
    }
    return true;
}

std::string EntryHead(EntryKind kind, const std::string& name) {
    std::string head(1, static_cast<char>(kind));
    AppendU32(head, static_cast<uint32_t>(name.size()));
    return head + name;
}

// A changed file as a delta against its previous version; false when either cannot be read.
bool Delta(const PayloadItem& old, const PayloadItem& item, int level, std::string& out) {
    platform::MappedFile before;
    platform::MappedFile after;
    if (!before.Open(old.sourcePath) || !after.Open(item.sourcePath) || after.size() != item.size) return false;
    DeltaOptions options;
    options.level = level;
    options.prefixLevel = level;
    out.clear();
    return MakeDelta(before.data(), before.size(), after.data(), after.size(), options, out);
}

// One new or changed file: a delta against its previous version (`old`, may be null) where that
// is clearly smaller, else compressed when that is worth it, else stored.
bool WriteFileEntry(const PayloadItem& item, const platform::Sha256Digest& digest, const PayloadItem* old,
                    const platform::Sha256Digest& oldDigest, int level, platform::File& out, PackedEntry& packed) {
    std::string data;
    bool worth = false;
    if (!Compress(item.sourcePath, item.size, level, data, worth)) return false;
    std::string delta;
    uint64_t best = worth ? data.size() : item.size;
    if (old && Delta(*old, item, level, delta) && delta.size() < best / 10 * 9) {
        packed = PackedEntry{item.name, static_cast<int>(EntryKind::Delta), item.size, delta.size()};
        std::string head = EntryHead(EntryKind::Delta, item.name);
        AppendU64(head, item.size);
        AppendDigest(head, digest);
        AppendU64(head, old->size);
        AppendDigest(head, oldDigest);
        AppendU64(head, delta.size());
        return out.Write(head.data(), head.size()) && out.Write(delta.data(), delta.size());
    }
    packed = PackedEntry{item.name, static_cast<int>(worth ? EntryKind::Compressed : EntryKind::Stored), item.size,
                         worth ? data.size() : item.size};
    std::string head = EntryHead(worth ? EntryKind::Compressed : EntryKind::Stored, item.name);
    if (worth) {
        AppendU64(head, item.size);
        AppendDigest(head, digest);
        AppendU64(head, data.size());
        return out.Write(head.data(), head.size()) && out.Write(data.data(), data.size());
    }
    AppendU64(head, item.size);
    return out.Write(head.data(), head.size()) && WriteStoredData(item.sourcePath, item.size, out);
}

}  // namespace

bool WriteKindsPayload(PatchPlan& plan, platform::File& out, std::ostream* progress, std::string& what) {
    plan.packed.clear();
    std::map<std::string, const PayloadItem*> previous;
    for (const PayloadItem& item : plan.from) previous[item.name] = &item;
    // What goes in: removals first, then every file that is new or differs from its previous version.
    struct Planned {
        const PayloadItem* item;
        bool removal;
        platform::Sha256Digest digest;
        const PayloadItem* old = nullptr;  // the previous version of a changed file
        platform::Sha256Digest oldDigest{};
    };
    std::vector<Planned> entries;
    if (plan.removals) {
        std::map<std::string, bool> kept;
        for (const PayloadItem& item : plan.payload) kept[item.name] = true;
        for (const PayloadItem& old : plan.from) {
            if (kept.count(old.name)) continue;
            Planned removal{&old, true, {}};
            uint64_t size = 0;
            if (!HashFile(old.sourcePath, size, removal.digest) || size != old.size) {
                what = "previous version's file '" + old.name + "' changed or could not be read while building";
                return false;
            }
            entries.push_back(removal);
        }
    }
    for (const PayloadItem& item : plan.payload) {
        Planned entry{&item, false, {}};
        uint64_t size = 0;
        if (!HashFile(item.sourcePath, size, entry.digest) || size != item.size) {
            what = "payload file '" + item.name + "' changed or could not be read while building";
            return false;
        }
        auto found = previous.find(item.name);
        if (found != previous.end()) {
            uint64_t oldSize = 0;
            if (!HashFile(found->second->sourcePath, oldSize, entry.oldDigest) || oldSize != found->second->size) {
                what = "previous version's file '" + item.name + "' changed or could not be read while building";
                return false;
            }
            if (oldSize == item.size && entry.oldDigest == entry.digest) continue;
            entry.old = found->second;
        }
        entries.push_back(entry);
    }
    std::string header(kPayloadMagicKinds, sizeof kPayloadMagicKinds);
    AppendU32(header, static_cast<uint32_t>(entries.size()));
    if (!out.Write(header.data(), header.size())) return false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Planned& entry = entries[i];
        if (progress) {
            *progress << "[" << (i + 1) << "/" << entries.size() << "] " << entry.item->name << " (" << entry.item->size
                      << " bytes)\n"
                      << std::flush;
        }
        if (entry.removal) {
            std::string head = EntryHead(EntryKind::Removal, entry.item->name);
            AppendU64(head, entry.item->size);
            AppendDigest(head, entry.digest);
            if (!out.Write(head.data(), head.size())) return false;
            plan.packed.push_back(PackedEntry{entry.item->name, static_cast<int>(EntryKind::Removal), 0, 0});
            continue;
        }
        PackedEntry packed;
        if (!WriteFileEntry(*entry.item, entry.digest, entry.old, entry.oldDigest, plan.level, out, packed)) {
            what = "payload file '" + entry.item->name + "' changed or could not be read while building";
            return false;
        }
        plan.packed.push_back(packed);
    }
    return true;
}

void PrintPackTable(const PatchPlan& plan, std::ostream& out) {
    static const char* const kKinds[] = {"stored", "compressed", "delta", "removal"};
    uint64_t files = 0;
    uint64_t stored = 0;
    char line[512];
    std::snprintf(line, sizeof line, "%-48s %-10s %14s %14s %7s\n", "file", "kind", "new size", "stored size", "ratio");
    out << line;
    for (const PackedEntry& entry : plan.packed) {
        files += entry.fileSize;
        stored += entry.storedSize;
        double ratio = entry.fileSize ? 100.0 * static_cast<double>(entry.storedSize) / entry.fileSize : 0.0;
        std::snprintf(line, sizeof line, "%-48s %-10s %14llu %14llu %6.1f%%\n", entry.name.c_str(),
                      kKinds[entry.kind & 3], static_cast<unsigned long long>(entry.fileSize),
                      static_cast<unsigned long long>(entry.storedSize), ratio);
        out << line;
    }
    std::snprintf(line, sizeof line, "%-48s %-10s %14llu %14llu %6.1f%%\n", "total", "",
                  static_cast<unsigned long long>(files), static_cast<unsigned long long>(stored),
                  files ? 100.0 * static_cast<double>(stored) / files : 0.0);
    out << line;
}
