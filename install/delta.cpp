// The delta decoder. Layout of a delta, all integers little-endian, read front to back once:
//
//   header   magic "PTD1", chunkCount u32 (at most the new size: every chunk holds a byte)
//   chunk    method u8 (DeltaMethod), newSize u32 (1 to kDeltaChunkMax); the chunks' sizes add up
//            to the new file's size, and the chunks follow each other directly
//     Stored   newSize bytes
//     Zstd     prefixOffset u64, prefixSize u32 (at most kDeltaPrefixMax, within the old file),
//              packedSize u32 (1 to ZSTD_compressBound(newSize)), then one zstd frame of
//              packedSize bytes that decodes to newSize bytes with the old file's bytes
//              [prefixOffset, prefixOffset + prefixSize) as its raw-content prefix
//     CopyAdd  controlSize u32 (a multiple of 16, at most newSize + 16), diffSize u32 (at most
//              newSize), runsSize u32 (at most diffSize + 16), valuesSize u32 (at most diffSize),
//              controlPacked u32, runsPacked u32, valuesPacked u32, extraPacked u32, then four zstd
//              frames of those sizes: the instructions (DeltaInstruction, 16 bytes each), the diff
//              runs, the diff values and newSize - diffSize extra bytes. The diff runs are pairs of
//              LEB128 numbers (zeros, values): that many zero diff bytes, then that many diff bytes
//              taken from the values in order; together they make exactly diffSize bytes from
//              exactly valuesSize values. (A diff is mostly zeros with a few recurring values: kept
//              apart, zstd packs it 4 to 8% smaller on a rebuilt program.) A packed size is 0
//              exactly when its stream is empty, else at most ZSTD_compressBound of it. The old
//              position starts at 0 in every chunk; the instructions stay within the old file and
//              use up exactly the diff and extra bytes.
//   nothing after the last chunk
//
// Every zstd frame is a single current-format frame (no legacy or skippable one) declaring a
// window of at most 2^kDeltaWindowLog, and is decoded in one piece into the chunk's buffer
// (ZSTD_d_stableOutBuffer), so zstd allocates no window of its own.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer
#include "install/delta.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "common/byte_order.h"

namespace {

constexpr size_t kReadPiece = 64u << 10;

// The delta's bytes through one small buffer, so a delta of any size streams by.
class DeltaReader {
public:
    explicit DeltaReader(const DeltaSource& source) : source_(source), buffer_(kReadPiece) {}

    // Up to `limit` bytes of what is buffered, refilling when nothing is; empty at the end.
    size_t Peek(const uint8_t*& data, size_t limit) {
        if (begin_ == end_ && !failed_) {
            size_t got = source_(buffer_.data(), buffer_.size());
            if (got > buffer_.size()) {
                failed_ = true;
                got = 0;
            }
            begin_ = 0;
            end_ = got;
        }
        data = buffer_.data() + begin_;
        return std::min(end_ - begin_, limit);
    }
    void Skip(size_t count) { begin_ += count; }

    bool ReadExact(void* destination, size_t size) {
        auto* out = static_cast<uint8_t*>(destination);
        while (size > 0) {
            const uint8_t* data = nullptr;
            size_t got = Peek(data, size);
            if (got == 0) return false;
            std::memcpy(out, data, got);
            Skip(got);
            out += got;
            size -= got;
        }
        return true;
    }

    bool AtEnd() {
        const uint8_t* data = nullptr;
        return Peek(data, 1) == 0 && !failed_;
    }

private:
    const DeltaSource& source_;
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool failed_ = false;
};

struct DctxDeleter {
    void operator()(ZSTD_DCtx* dctx) const { ZSTD_freeDCtx(dctx); }
};
using UniqueDctx = std::unique_ptr<ZSTD_DCtx, DctxDeleter>;

bool PackedSizeFits(uint32_t packed, uint64_t raw) {
    if (raw == 0) return packed == 0;
    // The macro, not the function: the installer links zstd's decoder alone.
    return packed != 0 && packed <= ZSTD_COMPRESSBOUND(static_cast<size_t>(raw));
}

// Decodes one frame of exactly `packed` stored bytes into exactly `size` bytes at `out`.
bool DecodeFrame(DeltaReader& reader, ZSTD_DCtx* dctx, uint32_t packed, uint8_t* out, size_t size,
                 const uint8_t* prefix = nullptr, size_t prefixSize = 0) {
    if (size == 0) return packed == 0;
    ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters);
    if (ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, kDeltaWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_stableOutBuffer, 1))) {
        return false;
    }
    if (prefixSize > 0 && ZSTD_isError(ZSTD_DCtx_refPrefix(dctx, prefix, prefixSize))) return false;
    // Only a current zstd frame: a library built with legacy support would otherwise hand older
    // formats to decoders that allocate windows of their own, and a skippable frame carries nothing.
    uint8_t magic[4];
    if (packed < sizeof(magic) || !reader.ReadExact(magic, sizeof(magic)) || LoadU32(magic) != ZSTD_MAGICNUMBER) {
        return false;
    }
    ZSTD_outBuffer output{out, size, 0};
    size_t remaining = packed - sizeof(magic);
    size_t status = 1;
    auto feed = [&](ZSTD_inBuffer& input) {
        while (input.pos < input.size && status != 0) {
            size_t before = input.pos + output.pos;
            status = ZSTD_decompressStream(dctx, &output, &input);
            if (ZSTD_isError(status)) return false;
            if (status != 0 && input.pos + output.pos == before) return false;
        }
        return true;
    };
    ZSTD_inBuffer first{magic, sizeof(magic), 0};
    if (!feed(first)) return false;
    while (remaining > 0 && status != 0) {
        const uint8_t* data = nullptr;
        size_t got = reader.Peek(data, remaining);
        if (got == 0) return false;
        ZSTD_inBuffer input{data, got, 0};
        if (!feed(input)) return false;
        reader.Skip(input.pos);
        remaining -= input.pos;
    }
    // The frame must end exactly with its stored bytes and its declared size.
    return status == 0 && remaining == 0 && output.pos == size;
}

bool SinkPieces(const DeltaSink& sink, const uint8_t* data, size_t size) {
    while (size > 0) {
        size_t piece = std::min(size, kDeltaSinkPiece);
        if (!sink(data, piece)) return false;
        data += piece;
        size -= piece;
    }
    return true;
}

struct ChunkContext {
    DeltaReader& reader;
    ZSTD_DCtx* dctx;
    const uint8_t* old;
    uint64_t oldSize;
    const DeltaSink& sink;
    std::vector<uint8_t>& bytes;    // the chunk's new bytes, or its diff and extra streams
    std::vector<uint8_t>& control;  // the copy/add instructions
    std::vector<uint8_t>& piece;    // copy/add output on its way to the sink
};

bool ApplyStored(ChunkContext& c, uint32_t size) {
    c.bytes.resize(size);
    return c.reader.ReadExact(c.bytes.data(), size) && SinkPieces(c.sink, c.bytes.data(), size);
}

bool ApplyZstd(ChunkContext& c, uint32_t size) {
    uint8_t field[16];
    if (!c.reader.ReadExact(field, sizeof(field))) return false;
    uint64_t prefixOffset = LoadU64(field);
    uint32_t prefixSize = LoadU32(field + 8);
    uint32_t packed = LoadU32(field + 12);
    if (prefixSize > kDeltaPrefixMax || prefixOffset > c.oldSize || prefixSize > c.oldSize - prefixOffset) {
        return false;
    }
    if (!PackedSizeFits(packed, size)) return false;
    c.bytes.resize(size);
    const uint8_t* prefix = prefixSize > 0 ? c.old + prefixOffset : nullptr;
    return DecodeFrame(c.reader, c.dctx, packed, c.bytes.data(), size, prefix, prefixSize) &&
           SinkPieces(c.sink, c.bytes.data(), size);
}

// Runs the instructions over the decoded streams: c.bytes holds diffSize diff bytes, then the
// extra bytes up to `size`.
bool RunInstructions(ChunkContext& c, uint32_t size, uint32_t controlSize, uint32_t diffSize) {
    c.piece.resize(std::min<size_t>(size, kDeltaSinkPiece));
    size_t filled = 0;
    auto flush = [&]() {
        bool ok = c.sink(c.piece.data(), filled);
        filled = 0;
        return ok;
    };
    uint64_t oldPos = 0;
    size_t diff = 0;
    size_t extra = diffSize;
    for (size_t at = 0; at < controlSize; at += kDeltaInstructionSize) {
        const uint8_t* field = c.control.data() + at;
        uint32_t addLength = LoadU32(field);
        uint32_t extraLength = LoadU32(field + 4);
        uint64_t seek = LoadU64(field + 8);  // two's complement of the signed move
        if (seek >> 63) {
            uint64_t back = 0 - seek;
            if (back > oldPos) return false;
            oldPos -= back;
        } else {
            if (seek > c.oldSize - oldPos) return false;
            oldPos += seek;
        }
        if (addLength > c.oldSize - oldPos || addLength > diffSize - diff) return false;
        if (extraLength > size - extra) return false;
        for (uint32_t done = 0; done < addLength;) {
            size_t n = std::min<size_t>(addLength - done, c.piece.size() - filled);
            const uint8_t* from = c.old + oldPos + done;
            const uint8_t* delta = c.bytes.data() + diff + done;
            uint8_t* to = c.piece.data() + filled;
            for (size_t k = 0; k < n; ++k) to[k] = static_cast<uint8_t>(from[k] + delta[k]);
            done += static_cast<uint32_t>(n);
            filled += n;
            if (filled == c.piece.size() && !flush()) return false;
        }
        oldPos += addLength;
        diff += addLength;
        for (uint32_t done = 0; done < extraLength;) {
            size_t n = std::min<size_t>(extraLength - done, c.piece.size() - filled);
            std::memcpy(c.piece.data() + filled, c.bytes.data() + extra + done, n);
            done += static_cast<uint32_t>(n);
            filled += n;
            if (filled == c.piece.size() && !flush()) return false;
        }
        extra += extraLength;
    }
    if (diff != diffSize || extra != size) return false;
    return filled == 0 || flush();
}

// Rebuilds the diff bytes in place: the values were decoded into the tail of bytes[0, diffSize),
// and each run writes zeros or moves values forward, never past the values still to be read.
bool ExpandDiff(const uint8_t* runs, size_t runsSize, uint8_t* diff, size_t diffSize, size_t valuesSize) {
    size_t write = 0;
    size_t read = diffSize - valuesSize;
    size_t at = 0;
    auto varint = [&](size_t& value) {
        value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            if (at == runsSize) return false;
            uint8_t byte = runs[at++];
            value |= static_cast<size_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) return true;
        }
        return false;
    };
    while (at < runsSize) {
        size_t zeros = 0;
        size_t values = 0;
        if (!varint(zeros) || !varint(values)) return false;
        if (zeros > read - write || values > diffSize - read) return false;
        std::memset(diff + write, 0, zeros);
        write += zeros;
        std::memmove(diff + write, diff + read, values);
        write += values;
        read += values;
    }
    return write == diffSize && read == diffSize;
}

bool ApplyCopyAdd(ChunkContext& c, uint32_t size) {
    uint8_t field[32];
    if (!c.reader.ReadExact(field, sizeof(field))) return false;
    uint32_t controlSize = LoadU32(field);
    uint32_t diffSize = LoadU32(field + 4);
    uint32_t runsSize = LoadU32(field + 8);
    uint32_t valuesSize = LoadU32(field + 12);
    uint32_t controlPacked = LoadU32(field + 16);
    uint32_t runsPacked = LoadU32(field + 20);
    uint32_t valuesPacked = LoadU32(field + 24);
    uint32_t extraPacked = LoadU32(field + 28);
    if (controlSize % kDeltaInstructionSize != 0 || controlSize > uint64_t{size} + kDeltaInstructionSize ||
        diffSize > size || runsSize > uint64_t{diffSize} + kDeltaInstructionSize || valuesSize > diffSize) {
        return false;
    }
    if (!PackedSizeFits(controlPacked, controlSize) || !PackedSizeFits(runsPacked, runsSize) ||
        !PackedSizeFits(valuesPacked, valuesSize) || !PackedSizeFits(extraPacked, size - diffSize)) {
        return false;
    }
    c.control.resize(controlSize + size_t{runsSize});
    c.bytes.resize(size);
    uint8_t* runs = c.control.data() + controlSize;
    uint8_t* values = c.bytes.data() + diffSize - valuesSize;
    return DecodeFrame(c.reader, c.dctx, controlPacked, c.control.data(), controlSize) &&
           DecodeFrame(c.reader, c.dctx, runsPacked, runs, runsSize) &&
           DecodeFrame(c.reader, c.dctx, valuesPacked, values, valuesSize) &&
           DecodeFrame(c.reader, c.dctx, extraPacked, c.bytes.data() + diffSize, size - diffSize) &&
           ExpandDiff(runs, runsSize, c.bytes.data(), diffSize, valuesSize) &&
           RunInstructions(c, size, controlSize, diffSize);
}

}  // namespace

bool ApplyDelta(const DeltaSource& source, const uint8_t* old, uint64_t oldSize, uint64_t newSize,
                const DeltaSink& sink) {
    if (old == nullptr && oldSize != 0) return false;
    DeltaReader reader(source);
    uint8_t header[8];
    if (!reader.ReadExact(header, sizeof(header)) || std::memcmp(header, kDeltaMagic, sizeof(kDeltaMagic)) != 0) {
        return false;
    }
    uint32_t chunkCount = LoadU32(header + 4);
    if (chunkCount > newSize) return false;
    UniqueDctx dctx(ZSTD_createDCtx());
    if (!dctx) return false;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> control;
    std::vector<uint8_t> piece;
    ChunkContext context{reader, dctx.get(), old, oldSize, sink, bytes, control, piece};
    uint64_t produced = 0;
    for (uint32_t i = 0; i < chunkCount; ++i) {
        uint8_t field[5];
        if (!reader.ReadExact(field, sizeof(field))) return false;
        uint32_t size = LoadU32(field + 1);
        if (size == 0 || size > kDeltaChunkMax || size > newSize - produced) return false;
        bool ok = false;
        switch (static_cast<DeltaMethod>(field[0])) {
            case DeltaMethod::Stored:
                ok = ApplyStored(context, size);
                break;
            case DeltaMethod::Zstd:
                ok = ApplyZstd(context, size);
                break;
            case DeltaMethod::CopyAdd:
                ok = ApplyCopyAdd(context, size);
                break;
        }
        if (!ok) return false;
        produced += size;
    }
    return produced == newSize && reader.AtEnd();
}
