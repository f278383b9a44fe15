#pragma once
// The one reader of the payload archive "patch_payload.dat": the pre-flight, the extraction, the
// listing (inspect, verify), the signature's digests and the benchmark all read it through this,
// so that every reader takes and refuses the same archives.
//
// Two layouts, all integers little-endian, read front to back once, never seeking back:
//   PTPAYLD1 (every entry stored whole; written whenever nothing else is asked for)
//     header  magic "PTPAYLD1" (8 bytes), entryCount u32 (0 to kMaxPayloadEntries)
//     entry   nameLength u32 (1 to kMaxPayloadNameLength), name (UTF-8, "/" or "\" between
//             folders), dataSize u64 (at most INT64_MAX), data (dataSize bytes, the file as is)
//   PTPAYLD2 (each entry has a kind)
//     header  magic "PTPAYLD2" (8 bytes), entryCount u32 (0 to kMaxPayloadEntries)
//     entry   kind u8, nameLength u32, name (as above), then by kind:
//               0 stored      dataSize u64, data (the file as is)
//               1 compressed  fileSize u64, fileSha256 [32], dataSize u64, data (zstd frames)
//               2 delta       fileSize u64, fileSha256 [32], oldSize u64, oldSha256 [32],
//                             dataSize u64, data (a delta against the old file, see delta.h)
//               3 removal     oldSize u64, oldSha256 [32]: the file of the old version goes;
//                             no data
//             fileSize, oldSize and dataSize are at most INT64_MAX; the data must lie within
//             the file.
// Entries follow each other directly; bytes after the last entry are never read.
#include <array>
#include <cstdint>
#include <string>

#include "install/archive_reader.h"

constexpr char kPayloadMagic[8] = {'P', 'T', 'P', 'A', 'Y', 'L', 'D', '1'};
constexpr char kPayloadMagicKinds[8] = {'P', 'T', 'P', 'A', 'Y', 'L', 'D', '2'};
constexpr uint32_t kMaxPayloadEntries = 200000;
constexpr uint32_t kMaxPayloadNameLength = 32768;  // bytes of UTF-8
constexpr size_t kPayloadHeaderSize = 12;

enum class EntryKind : uint8_t { Stored = 0, Compressed = 1, Delta = 2, Removal = 3 };

using EntryDigest = std::array<uint8_t, 32>;

struct PayloadEntry {
    EntryKind kind = EntryKind::Stored;
    // The name converted as the extraction uses it ("/" turned into "\"), and its raw UTF-8 bytes.
    std::wstring name;
    std::string rawName;
    uint64_t dataSize = 0;     // bytes the archive holds for it
    uint64_t fileSize = 0;     // bytes of the file it produces (stored: dataSize; removal: 0)
    EntryDigest fileDigest{};  // compressed and delta: SHA-256 of the file it produces
    uint64_t oldSize = 0;      // delta and removal: the old version's file
    EntryDigest oldDigest{};
    // The entry's header exactly as stored, from its first byte up to its data: with the data, what
    // a signed patch's digest of the entry covers.
    std::string storedHeader;
};

// True when the archive layout `magic` names is one this reader takes.
bool IsPayloadMagic(const char* magic);

class PayloadReader {
public:
    // Opens the archive and reads its header. False when it cannot be read, the magic is neither
    // layout's or the count is over the limit.
    bool Open(const std::wstring& path);
    uint32_t entryCount() const { return entryCount_; }
    // Whether the entries have kinds (PTPAYLD2).
    bool hasKinds() const { return kinds_; }
    // The archive's header as stored (magic and count).
    const std::array<uint8_t, kPayloadHeaderSize>& header() const { return header_; }

    // Reads the next entry's header; the reader then stands at its data. False when the header is
    // cut short, a kind or a length is out of range, the data would run past the end of the file,
    // or (with `checkName`) IsSafeRelativePath refuses the name. The data of the entry before must
    // have been read or skipped.
    bool Next(PayloadEntry& entry, bool checkName = true);
    // Between 1 and `count` bytes of the current entry's data (see ArchiveReader::ReadSome); false
    // past its end.
    bool ReadData(void* out, size_t count, size_t& got);
    // Skips what is left of the current entry's data.
    bool SkipData();
    uint64_t dataLeft() const { return dataLeft_; }

    uint64_t position() const { return reader_.position(); }
    uint64_t size() const { return reader_.size(); }

private:
    ArchiveReader reader_;
    std::array<uint8_t, kPayloadHeaderSize> header_{};
    uint32_t entryCount_ = 0;
    bool kinds_ = false;
    uint64_t dataLeft_ = 0;
};
