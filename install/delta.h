#pragma once
// Delta entries: a new file rebuilt from the gamer's old file and the stored delta bytes.
//
// The new file is cut into chunks of at most kDeltaChunkMax bytes, each decoded on its own
// against the old file, so a file of any size (past 4 GiB included) is rebuilt in bounded memory.
// The layout is written above the reader in delta.cpp; these limits are part of it, shared with
// patchtool's encoder.
#include <cstddef>
#include <cstdint>
#include <functional>

constexpr char kDeltaMagic[4] = {'P', 'T', 'D', '1'};

// New bytes per chunk. The decoder holds one chunk's new bytes and, for the copy/add method, its
// instructions and diff runs, each at most as large: about 3 x 32 MiB at worst.
constexpr uint32_t kDeltaChunkMax = 32u << 20;
// The slice of the old file a zstd chunk may use as its prefix. The slice is read through the
// mapping, not copied, so it costs address space, not private memory.
constexpr uint32_t kDeltaPrefixMax = 192u << 20;
// Every zstd frame of a delta must declare a window of at most 2^kDeltaWindowLog bytes: enough
// for a chunk that refers back across its whole prefix (32 + 192 MiB), and no more.
constexpr int kDeltaWindowLog = 28;
static_assert((uint64_t{1} << kDeltaWindowLog) >= uint64_t{kDeltaChunkMax} + kDeltaPrefixMax,
              "a zstd chunk must reach the start of its prefix");

// How a chunk is stored (the method byte).
enum class DeltaMethod : uint8_t {
    Stored = 0,   // the new bytes as they are
    Zstd = 1,     // one zstd frame, with a slice of the old file (possibly empty) as its prefix
    CopyAdd = 2,  // copy/add instructions against the whole old file, streams zstd-compressed
};

// One copy/add instruction as the control stream stores it (16 bytes, little-endian): the old
// position moves by `seek` (old-file bytes, either way), then `addLength` new bytes are the old
// bytes there plus the next diff bytes (mod 256), and the old position moves past them; then
// `extraLength` new bytes are taken from the extra stream as they are.
struct DeltaInstruction {
    uint32_t addLength;
    uint32_t extraLength;
    int64_t seek;
};
constexpr size_t kDeltaInstructionSize = 16;

constexpr size_t kDeltaSinkPiece = 4u << 20;

// Yields the stored delta in order: copies up to `capacity` bytes to `buffer` and returns how many,
// 0 at the end (or when the stored bytes cannot be read, which then fails the decoding).
using DeltaSource = std::function<size_t(uint8_t* buffer, size_t capacity)>;
// Receives the new file's bytes in order, in pieces of at most kDeltaSinkPiece bytes; returning
// false stops the decoding, which then fails.
using DeltaSink = std::function<bool(const uint8_t* data, size_t size)>;

// Rebuilds the new file of `newSize` bytes from the delta read from `source` and the old file
// (`old`, `oldSize` bytes, usually a platform::MappedFile; null when empty). The delta is untrusted:
// every length and offset is checked before it is used or allocated for, no byte outside the old
// file is read and none past `newSize` produced, and any fault (a short or overlong delta, a field
// beyond its limit, a corrupt zstd frame or one declaring a window beyond kDeltaWindowLog) returns
// false. The sink may then already have received a part of the file: the caller writes to a
// temporary file and discards it. Private memory stays below about 3 x kDeltaChunkMax + kDeltaSinkPiece.
bool ApplyDelta(const DeltaSource& source, const uint8_t* old, uint64_t oldSize, uint64_t newSize,
                const DeltaSink& sink);
