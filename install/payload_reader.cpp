#include "install/payload_reader.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/text.h"
#include "install/safe_path.h"

namespace {

constexpr uint64_t kMaxSize = static_cast<uint64_t>(INT64_MAX);

// Reads `count` bytes and keeps them in the entry's stored header.
bool Take(ArchiveReader& reader, std::string& header, void* out, size_t count) {
    if (!reader.ReadExact(out, count)) return false;
    header.append(static_cast<const char*>(out), count);
    return true;
}

bool TakeSize(ArchiveReader& reader, std::string& header, uint64_t& value) {
    unsigned char field[8];
    if (!Take(reader, header, field, sizeof field)) return false;
    value = LoadU64(field);
    return value <= kMaxSize;
}

}  // namespace

bool IsPayloadMagic(const char* magic) {
    return std::memcmp(magic, kPayloadMagic, sizeof kPayloadMagic) == 0 ||
           std::memcmp(magic, kPayloadMagicKinds, sizeof kPayloadMagicKinds) == 0;
}

bool PayloadReader::Open(const std::wstring& path) {
    entryCount_ = 0;
    dataLeft_ = 0;
    if (!reader_.Open(path) || !reader_.ReadExact(header_.data(), header_.size())) return false;
    const char* magic = reinterpret_cast<const char*>(header_.data());
    if (!IsPayloadMagic(magic)) return false;
    kinds_ = std::memcmp(magic, kPayloadMagicKinds, sizeof kPayloadMagicKinds) == 0;
    entryCount_ = LoadU32(header_.data() + 8);
    return entryCount_ <= kMaxPayloadEntries;
}

bool PayloadReader::Next(PayloadEntry& entry, bool checkName) {
    if (dataLeft_ != 0) return false;
    entry = PayloadEntry();
    std::string& header = entry.storedHeader;
    unsigned char field[4];
    if (kinds_) {
        unsigned char kind = 0;
        if (!Take(reader_, header, &kind, 1) || kind > static_cast<unsigned char>(EntryKind::Removal)) return false;
        entry.kind = static_cast<EntryKind>(kind);
    }
    if (!Take(reader_, header, field, 4)) return false;
    // nameLength 0 or negative wraps around to a large value: one test covers 1..32768.
    uint32_t nameLength = LoadU32(field);
    if (nameLength - 1 > kMaxPayloadNameLength - 1) return false;
    entry.rawName.assign(nameLength, '\0');
    if (!Take(reader_, header, &entry.rawName[0], nameLength)) return false;
    switch (entry.kind) {
        case EntryKind::Stored:
            break;
        case EntryKind::Compressed:
            if (!TakeSize(reader_, header, entry.fileSize) ||
                !Take(reader_, header, entry.fileDigest.data(), entry.fileDigest.size()))
                return false;
            break;
        case EntryKind::Delta:
            if (!TakeSize(reader_, header, entry.fileSize) ||
                !Take(reader_, header, entry.fileDigest.data(), entry.fileDigest.size()) ||
                !TakeSize(reader_, header, entry.oldSize) ||
                !Take(reader_, header, entry.oldDigest.data(), entry.oldDigest.size()))
                return false;
            break;
        case EntryKind::Removal:
            if (!TakeSize(reader_, header, entry.oldSize) ||
                !Take(reader_, header, entry.oldDigest.data(), entry.oldDigest.size()))
                return false;
            break;
    }
    if (entry.kind != EntryKind::Removal && !TakeSize(reader_, header, entry.dataSize)) return false;
    if (entry.dataSize > reader_.size() - reader_.position()) return false;
    if (entry.kind == EntryKind::Stored) entry.fileSize = entry.dataSize;
    dataLeft_ = entry.dataSize;
    entry.name = Utf8ToWide(entry.rawName);
    for (wchar_t& c : entry.name) {
        if (c == L'/') c = L'\\';
    }
    return !checkName || IsSafeRelativePath(entry.name);
}

bool PayloadReader::ReadData(void* out, size_t count, size_t& got) {
    got = 0;
    if (dataLeft_ == 0 || count == 0) return false;
    if (count > dataLeft_) count = static_cast<size_t>(dataLeft_);
    if (!reader_.ReadSome(out, count, got)) return false;
    dataLeft_ -= got;
    return true;
}

bool PayloadReader::SkipData() {
    uint64_t left = dataLeft_;
    dataLeft_ = 0;
    return reader_.Skip(left);
}
