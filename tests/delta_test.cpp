// The delta codec: patchtool's encoder and the installer's decoder round-trip real edits, the
// matcher keeps edits small, and the decoder refuses every malformed delta without producing more
// than the declared size.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "install/delta.h"
#include "platform/mapped_file.h"
#include "support/test_support.h"
#include "tools/patchtool/delta_encode.h"

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string Random(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random() & 0xFF);
    return data;
}

struct Applied {
    bool ok = false;
    std::string out;
    size_t largestPiece = 0;
};

// Decodes with the delta handed over `piece` bytes at a time, as a stored entry streams by.
Applied Apply(const std::string& delta, const std::string& old, uint64_t newSize, size_t piece = 7) {
    Applied result;
    size_t at = 0;
    result.ok = ApplyDelta(
        [&](uint8_t* buffer, size_t capacity) {
            size_t n = std::min({capacity, piece, delta.size() - at});
            std::copy_n(delta.data() + at, n, buffer);
            at += n;
            return n;
        },
        old.empty() ? nullptr : Bytes(old), old.size(), newSize,
        [&](const uint8_t* data, size_t size) {
            result.out.append(reinterpret_cast<const char*>(data), size);
            result.largestPiece = std::max(result.largestPiece, size);
            return true;
        });
    return result;
}

TEST(Delta, RoundTripsEdits) {
    const std::string base = Random(300000, 1);
    std::string relocated = base;  // a 4-byte address every 64 bytes moved, as in a rebuilt program
    for (size_t i = 20; i + 4 < relocated.size(); i += 64) {
        uint32_t address = LoadU32(Bytes(relocated) + i) + 0x1234;
        std::string field;
        test::AppendU32(field, address);
        relocated.replace(i, 4, field);
    }
    std::string crossing = base;  // an edit over the boundary of the 64 KiB chunks below
    for (size_t i = 65500; i < 65600; ++i) crossing[i] = 'x';
    struct Case {
        const char* what;
        std::string old;
        std::string neu;
        uint32_t chunkSize;
        size_t maxDelta;  // a bound that only a working matcher meets
    } cases[] = {
        {"identical", base, base, kDeltaChunkMax, 200},
        {"insert in the middle", base, base.substr(0, 150000) + "inserted text" + base.substr(150000), kDeltaChunkMax,
         300},
        {"delete in the middle", base, base.substr(0, 100000) + base.substr(180000), kDeltaChunkMax, 300},
        {"blocks swapped", base, base.substr(150000) + base.substr(0, 150000), kDeltaChunkMax, 300},
        {"addresses moved", base, relocated, kDeltaChunkMax, base.size() / 50},
        {"edit across a chunk boundary", base, crossing, 65536, 1200},
        {"many chunks, shifted by an insert", base, "??" + base, 4096, 8000},
        {"old empty", "", base, 65536, base.size() + 200},
        {"new empty", base, "", kDeltaChunkMax, 8},
        {"both empty", "", "", kDeltaChunkMax, 8},
        {"new unrelated to old: stored", base, Random(100000, 2), 65536, 100000 + 200},
        {"shorter than an anchor", "abc", "abcd", kDeltaChunkMax, 40},
    };
    for (const Case& c : cases) {
        DeltaOptions options;
        options.level = 3;
        options.prefixLevel = 3;
        options.chunkSize = c.chunkSize;
        std::string delta;
        ASSERT_TRUE(MakeDelta(Bytes(c.old), c.old.size(), Bytes(c.neu), c.neu.size(), options, delta)) << c.what;
        EXPECT_LE(delta.size(), c.maxDelta) << c.what;
        Applied applied = Apply(delta, c.old, c.neu.size(), 4093);
        EXPECT_TRUE(applied.ok) << c.what;
        EXPECT_TRUE(applied.out == c.neu) << c.what;
        EXPECT_LE(applied.largestPiece, kDeltaSinkPiece) << c.what;
    }
}

// Words shorter than the matcher's anchor, reordered: copy/add finds nothing to copy, zstd finds
// every word in its prefix, so the zstd method must win and decode against that prefix.
TEST(Delta, ZstdChunksDecodeAgainstTheirPrefix) {
    std::mt19937 random(4);
    std::vector<std::string> words(4000);
    for (std::string& word : words) {
        for (int i = 0; i < 11; ++i) word.push_back(static_cast<char>('a' + random() % 26));
        word.push_back('\n');
    }
    std::string old;
    for (const std::string& word : words) old += word;
    std::shuffle(words.begin(), words.end(), random);
    std::string neu;
    for (const std::string& word : words) neu += word;
    DeltaOptions options;
    options.level = 3;
    options.prefixLevel = 3;
    std::string delta;
    DeltaStats stats;
    ASSERT_TRUE(MakeDelta(Bytes(old), old.size(), Bytes(neu), neu.size(), options, delta, &stats));
    EXPECT_EQ(stats.chunks[static_cast<int>(DeltaMethod::Zstd)], 1u);
    Applied applied = Apply(delta, old, neu.size(), 100);
    EXPECT_TRUE(applied.ok);
    EXPECT_TRUE(applied.out == neu);
}

// Deltas built by hand, field by field, with the product's own layout constants.
std::string Frame(const std::string& raw) {
    std::string out(ZSTD_compressBound(raw.size()), '\0');
    out.resize(ZSTD_compress(&out[0], out.size(), raw.data(), raw.size(), 1));
    return out;
}

// A zstd frame without content size whose header declares a window of 2^windowLog bytes, holding
// one raw block of `content`.
std::string FrameWithWindow(int windowLog, const std::string& content) {
    std::string frame("\x28\xB5\x2F\xFD\x00", 5);
    frame.push_back(static_cast<char>((windowLog - 10) << 3));
    uint32_t block = static_cast<uint32_t>(content.size()) << 3 | 1;  // raw, last
    for (int i = 0; i < 3; ++i) frame.push_back(static_cast<char>(block >> (8 * i)));
    return frame + content;
}

std::string Header(uint32_t chunks) {
    std::string out(kDeltaMagic, sizeof(kDeltaMagic));
    test::AppendU32(out, chunks);
    return out;
}

std::string ChunkHead(uint8_t method, uint32_t size) {
    std::string out(1, static_cast<char>(method));
    test::AppendU32(out, size);
    return out;
}

std::string Stored(const std::string& bytes) { return ChunkHead(0, static_cast<uint32_t>(bytes.size())) + bytes; }

std::string ZstdChunk(uint32_t size, uint64_t prefixOffset, uint32_t prefixSize, const std::string& frame) {
    std::string out = ChunkHead(1, size);
    test::AppendU64(out, prefixOffset);
    test::AppendU32(out, prefixSize);
    test::AppendU32(out, static_cast<uint32_t>(frame.size()));
    return out + frame;
}

struct Instruction {
    uint32_t add;
    uint32_t extra;
    int64_t seek;
};

std::string Varint(uint64_t value) {
    std::string out;
    for (; value >= 0x80; value >>= 7) out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    return out + static_cast<char>(value);
}

// A copy/add chunk with its diff given as runs and values.
std::string CopyAddChunk(uint32_t size, const std::vector<Instruction>& instructions, uint32_t diffSize,
                         const std::string& runs, const std::string& values, const std::string& extra) {
    std::string control;
    for (const Instruction& i : instructions) {
        test::AppendU32(control, i.add);
        test::AppendU32(control, i.extra);
        test::AppendU64(control, static_cast<uint64_t>(i.seek));
    }
    std::string out = ChunkHead(2, size);
    for (uint32_t raw : {control.size(), size_t{diffSize}, runs.size(), values.size()}) test::AppendU32(out, raw);
    std::string packed;
    const std::string* streams[] = {&control, &runs, &values, &extra};
    for (const std::string* stream : streams) {
        std::string frame = stream->empty() ? "" : Frame(*stream);
        test::AppendU32(out, static_cast<uint32_t>(frame.size()));
        packed += frame;
    }
    return out + packed;
}

// The same with a diff of nonzero bytes only.
std::string CopyAddChunk(uint32_t size, const std::vector<Instruction>& instructions, const std::string& diff,
                         const std::string& extra) {
    std::string runs = diff.empty() ? "" : Varint(0) + Varint(diff.size());
    return CopyAddChunk(size, instructions, static_cast<uint32_t>(diff.size()), runs, diff, extra);
}

// Replaces the u32 at `at` of a chunk (fields counted from the chunk's method byte).
std::string WithU32(std::string chunk, size_t at, uint32_t value) {
    std::string field;
    test::AppendU32(field, value);
    return chunk.replace(at, 4, field);
}

TEST(Delta, RefusesMalformedDeltas) {
    // 100 bytes, the last 80 of which a zstd chunk rebuilds from its prefix.
    const std::string tail = Random(80, 5);
    const std::string old = "0123456789abcdefghij" + tail;
    const std::string diff(4, '\1');
    // "1234" from old[1..5) plus 1 each, then "xy": 6 bytes.
    const std::string copyAdd = CopyAddChunk(6, {{4, 2, 1}}, diff, "xy");
    const std::string prefixFrame = [&] {
        ZSTD_CCtx* cctx = ZSTD_createCCtx();
        ZSTD_CCtx_refPrefix(cctx, old.data() + 20, 80);
        std::string out(256, '\0');
        out.resize(ZSTD_compress2(cctx, &out[0], out.size(), tail.data(), tail.size()));
        ZSTD_freeCCtx(cctx);
        return out;
    }();
    struct Case {
        const char* what;
        std::string delta;
        uint64_t newSize;
        bool ok;
    } cases[] = {
        // Well-formed deltas: the faults below are refused for themselves, not for their shape.
        {"stored", Header(1) + Stored("hello"), 5, true},
        {"copy/add", Header(1) + copyAdd, 6, true},
        {"zstd with a prefix", Header(1) + ZstdChunk(80, 20, 80, prefixFrame), 80, true},
        {"window at the limit", Header(1) + ZstdChunk(1, 0, 0, FrameWithWindow(kDeltaWindowLog, "z")), 1, true},

        {"empty", "", 0, false},
        {"wrong magic", "PTD2" + Header(0).substr(4), 0, false},
        {"trailing byte", Header(1) + Stored("hello") + "!", 5, false},
        {"more chunks than new bytes", Header(6) + Stored("hello"), 5, false},
        {"chunks short of the new size", Header(1) + Stored("hello"), 6, false},
        {"chunk past the new size", Header(1) + Stored("hello"), 4, false},
        {"empty chunk", Header(2) + Stored("") + Stored("hello"), 5, false},
        {"chunk over the limit", Header(1) + ChunkHead(0, kDeltaChunkMax + 1), kDeltaChunkMax + 1, false},
        {"unknown method", Header(1) + ChunkHead(3, 5) + "hello", 5, false},
        {"window over the limit", Header(1) + ZstdChunk(1, 0, 0, FrameWithWindow(kDeltaWindowLog + 1, "z")), 1, false},
        {"prefix past the old file", Header(1) + ZstdChunk(80, 21, 80, prefixFrame), 80, false},
        {"prefix offset far past", Header(1) + ZstdChunk(80, ~uint64_t{0} - 4, 80, prefixFrame), 80, false},
        {"prefix over the limit", Header(1) + ZstdChunk(80, 0, kDeltaPrefixMax + 1, prefixFrame), 80, false},
        {"zstd without its prefix", Header(1) + ZstdChunk(80, 0, 0, prefixFrame), 80, false},
        {"frame longer than its chunk", Header(1) + ZstdChunk(79, 20, 80, prefixFrame), 79, false},
        {"frame shorter than its chunk", Header(1) + ZstdChunk(81, 20, 80, prefixFrame), 81, false},
        {"frame corrupt", Header(1) + ZstdChunk(80, 20, 80, prefixFrame.substr(0, 6) + "\xFF\xFF" + prefixFrame.substr(8)), 80, false},
        {"two frames in one", Header(1) + ZstdChunk(2, 0, 0, Frame("a") + Frame("b")), 2, false},
        {"seek before the old file", Header(1) + CopyAddChunk(6, {{4, 2, -1}}, diff, "xy"), 6, false},
        {"seek past the old file", Header(1) + CopyAddChunk(6, {{4, 2, 101}}, diff, "xy"), 6, false},
        {"seek to the most negative", Header(1) + CopyAddChunk(6, {{4, 2, INT64_MIN}}, diff, "xy"), 6, false},
        {"add past the old file", Header(1) + CopyAddChunk(4, {{4, 0, 97}}, diff, ""), 4, false},
        {"add beyond the diff bytes", Header(1) + CopyAddChunk(6, {{5, 1, 0}}, diff, "xy"), 6, false},
        {"extra beyond the extra bytes", Header(1) + CopyAddChunk(6, {{4, 3, 0}}, diff, "xy"), 6, false},
        {"diff bytes left unused", Header(1) + CopyAddChunk(6, {{3, 2, 0}}, diff, "xy"), 6, false},
        {"instructions cut short", Header(1) + WithU32(copyAdd, 5, 8), 6, false},
        {"control beyond its bound", Header(1) + WithU32(copyAdd, 5, 6 * 16 + 32), 6, false},
        {"diff larger than the chunk", Header(1) + WithU32(copyAdd, 9, 7), 6, false},
        {"runs beyond their bound", Header(1) + WithU32(copyAdd, 13, 4 + 17), 6, false},
        {"empty stream with bytes", Header(1) + WithU32(copyAdd, 17, 0), 6, false},
        {"stream packed past its bound", Header(1) + WithU32(copyAdd, 21, 1u << 20), 6, false},
        {"diff runs with zeros", Header(1) + CopyAddChunk(6, {{4, 2, 1}}, 4, Varint(1) + Varint(1) + Varint(2) + Varint(0), "\1", "xy"), 6, true},
        // Zeros written over values not yet read would push the last values past the diff.
        {"zero run over unread values", Header(1) + CopyAddChunk(4, {{4, 0, 1}}, 4, Varint(1) + Varint(3) + Varint(0) + Varint(1), diff, ""), 4, false},
        {"values run past the values", Header(1) + CopyAddChunk(6, {{4, 2, 1}}, 4, Varint(0) + Varint(5), diff, "xy"), 6, false},
        {"runs short of the diff", Header(1) + CopyAddChunk(6, {{4, 2, 1}}, 4, Varint(0) + Varint(3), "\1\1\1", "xy"), 6, false},
        {"runs number cut", Header(1) + CopyAddChunk(6, {{4, 2, 1}}, 4, Varint(0) + "\x84", diff, "xy"), 6, false},
    };
    for (const Case& c : cases) {
        Applied applied = Apply(c.delta, old, c.newSize);
        EXPECT_EQ(applied.ok, c.ok) << c.what;
        EXPECT_LE(applied.out.size(), c.newSize) << c.what;
    }
    // Every cut of a well-formed delta is refused.
    std::string whole = Header(2) + copyAdd + ZstdChunk(80, 20, 80, prefixFrame);
    ASSERT_TRUE(Apply(whole, old, 86).ok);
    for (size_t cut = 0; cut < whole.size(); ++cut) EXPECT_FALSE(Apply(whole.substr(0, cut), old, 86).ok) << cut;
}

TEST(Delta, MappedFileHoldsTheFile) {
    test::ScratchDir dir;
    for (const std::string& content : {std::string(), std::string("x"), Random(1 << 20, 3)}) {
        std::wstring path = dir / L"old.bin";
        ASSERT_TRUE(test::WriteFileBytes(path, content));
        platform::MappedFile mapped;
        ASSERT_TRUE(mapped.Open(path)) << content.size();
        ASSERT_EQ(mapped.size(), content.size());
        EXPECT_TRUE(content.empty() || std::memcmp(content.data(), mapped.data(), content.size()) == 0);
        platform::MappedFile moved(std::move(mapped));
        EXPECT_EQ(moved.size(), content.size());
        EXPECT_EQ(mapped.size(), 0u);
    }
    platform::MappedFile missing;
    EXPECT_FALSE(missing.Open(dir / L"missing.bin"));
    EXPECT_FALSE(missing.Open(dir.path()));  // a folder is not a file
}

}  // namespace
