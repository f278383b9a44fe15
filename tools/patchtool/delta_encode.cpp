#include "tools/patchtool/delta_encode.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getCParams
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "common/byte_order.h"

namespace {

// Bytes hashed (the first and last 8) and compared exactly to anchor a match: shorter anchors
// land on common instruction sequences elsewhere in a program and pick worse alignments.
constexpr size_t kAnchor = 24;
constexpr int kMaxIndexBits = 26;  // 2^26 slots of 4 bytes: the index stays under 256 MiB
// An extension stops once it has met this many more differing than matching bytes since its best
// point: past changed addresses and small edits of code it goes on (on a 69 MB library, 128 made
// the delta 5% smaller than 48, and larger values no smaller), past an insertion it stops.
constexpr int64_t kGiveUp = 128;
// A shorter match saves less than its instruction costs.
constexpr uint64_t kMinSegment = 24;

uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

uint32_t HashAt(const uint8_t* p, int bits) {
    uint64_t h = (Load64(p) * 0x9E3779B97F4A7C15ull ^ Load64(p + kAnchor - 8)) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<uint32_t>(h >> (64 - bits));
}

// The last indexed old position of each hash; positions are indexed every `stride` bytes, so any
// exact match of kAnchor + stride - 1 bytes is found.
struct OldIndex {
    std::vector<uint32_t> slots;  // position / stride + 1; 0 is empty
    int bits = 0;
    uint64_t stride = 1;
};

void BuildIndex(const uint8_t* old, uint64_t oldSize, OldIndex& index) {
    if (oldSize < kAnchor) return;
    uint64_t positions = oldSize - kAnchor + 1;
    index.bits = 10;
    while (index.bits < kMaxIndexBits && (uint64_t{1} << index.bits) < positions) ++index.bits;
    uint64_t slotCount = uint64_t{1} << index.bits;
    index.stride = (positions + slotCount - 1) / slotCount;
    index.slots.assign(slotCount, 0);
    for (uint64_t pos = 0, n = 1; pos < positions; pos += index.stride, ++n) {
        index.slots[HashAt(old + pos, index.bits)] = static_cast<uint32_t>(n);
    }
}

// How far a match reaches and how much better than a copy of nothing it is.
struct Reach {
    uint64_t length = 0;
    int64_t score = 0;
};

// Scores each further byte +1 when it matches, -1 when not, and returns the length of the best
// score. kStep +1 walks forward from a and b, -1 backward from just before them.
template <int kStep>
Reach Extend(const uint8_t* a, const uint8_t* b, uint64_t limit) {
    int64_t score = 0;
    Reach best;
    uint64_t i = 0;
    while (i < limit) {
        if (i + 8 <= limit) {
            const uint8_t* pa = kStep > 0 ? a + i : a - i - 8;
            const uint8_t* pb = kStep > 0 ? b + i : b - i - 8;
            if (Load64(pa) == Load64(pb)) {
                i += 8;
                score += 8;
                if (score > best.score) best = {i, score};
                continue;
            }
        }
        bool same = kStep > 0 ? a[i] == b[i] : a[-1 - static_cast<int64_t>(i)] == b[-1 - static_cast<int64_t>(i)];
        score += same ? 1 : -1;
        ++i;
        if (score > best.score) {
            best = {i, score};
        } else if (best.score - score > kGiveUp) {
            break;
        }
    }
    return best;
}

struct Segment {
    uint64_t newPos;
    uint64_t oldPos;
    uint64_t length;
};

struct Files {
    const uint8_t* old;
    uint64_t oldSize;
    const uint8_t* neu;
    uint64_t newSize;
};

// The new bytes [begin, end) as segments taken from the old file, in order, not overlapping.
// `lastOffset` (old position minus new position of the last match) carries over chunks.
void MatchChunk(const Files& f, const OldIndex& index, uint64_t begin, uint64_t end, int64_t& lastOffset,
                std::vector<Segment>& segments) {
    segments.clear();
    uint64_t gapStart = begin;
    uint64_t p = begin;
    while (p + kAnchor <= end) {
        // Two candidates: the running alignment (after a small edit the data goes on matching
        // there, though rarely for kAnchor bytes in a row in code whose addresses moved) and the
        // index's exact anchor. The one that matches better both ways wins.
        uint64_t candidates[2];
        int count = 0;
        int64_t aligned = static_cast<int64_t>(p) + lastOffset;
        if (aligned >= 0 && static_cast<uint64_t>(aligned) + 8 <= f.oldSize &&
            Load64(f.neu + p) == Load64(f.old + aligned)) {
            candidates[count++] = static_cast<uint64_t>(aligned);
        }
        if (!index.slots.empty()) {
            uint32_t slot = index.slots[HashAt(f.neu + p, index.bits)];
            uint64_t at = slot == 0 ? UINT64_MAX : (slot - 1) * index.stride;
            if (slot != 0 && at != static_cast<uint64_t>(aligned) && std::memcmp(f.neu + p, f.old + at, kAnchor) == 0) {
                candidates[count++] = at;
            }
        }
        Segment best{0, 0, 0};
        int64_t bestScore = 0;
        uint64_t bestForward = 0;
        for (int i = 0; i < count; ++i) {
            uint64_t c = candidates[i];
            Reach back = Extend<-1>(f.neu + p, f.old + c, std::min(p - gapStart, c));
            Reach forward = Extend<1>(f.neu + p, f.old + c, std::min(end - p, f.oldSize - c));
            if (back.length + forward.length >= kMinSegment && back.score + forward.score > bestScore) {
                bestScore = back.score + forward.score;
                best = {p - back.length, c - back.length, back.length + forward.length};
                bestForward = forward.length;
            }
        }
        if (best.length == 0) {
            ++p;
            continue;
        }
        segments.push_back(best);
        lastOffset = static_cast<int64_t>(best.oldPos) - static_cast<int64_t>(best.newPos);
        p += bestForward;
        gapStart = p;
    }
}

struct CctxDeleter {
    void operator()(ZSTD_CCtx* cctx) const { ZSTD_freeCCtx(cctx); }
};
using UniqueCctx = std::unique_ptr<ZSTD_CCtx, CctxDeleter>;

// The binary tree of zstd's optimal parsers finds matches 2^(chainLog - 1) positions back: at level
// 19 that is 8 MiB, a twentieth of a program's prefix, leaving the rest to long-distance matching
// of 64 bytes and more, which changed addresses break up. A tree over 2^27 positions and long
// matches from 32 bytes, sampled four times as often, made a 32 MiB chunk of a 180 MB program
// across a major version 1.0% smaller (2^26 positions: 0.5%), for 1.7 GiB of tables instead of
// 130 MiB and 1.7 times the time; the whole program's delta came out 3.9% smaller.
constexpr unsigned kPrefixChainLogMax = 28;
constexpr int kLongMatchMin = 32;
constexpr int kLongHashLog = 24;
constexpr int kLongHashRateLog = 4;

// One zstd frame of `size` bytes at `data` (with an optional raw prefix) into `out`; empty input
// gives an empty output, as the layout wants.
bool Pack(ZSTD_CCtx* cctx, int level, const uint8_t* data, size_t size, std::string& out,
          const uint8_t* prefix = nullptr, size_t prefixSize = 0) {
    out.clear();
    if (size == 0) return true;
    ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level);
    if (prefixSize > 0) {
        // The window must reach from the end of the chunk back to the start of its prefix.
        unsigned windowLog = 10;
        while ((uint64_t{1} << windowLog) < uint64_t{prefixSize} + size) ++windowLog;
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, static_cast<int>(windowLog));
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_compressionParameters params = ZSTD_getCParams(level, size, prefixSize);
        if (params.strategy >= ZSTD_btopt) {
            unsigned chainLog = std::min(windowLog + 1, kPrefixChainLogMax);
            if (chainLog > params.chainLog) {
                ZSTD_CCtx_setParameter(cctx, ZSTD_c_chainLog, static_cast<int>(chainLog));
                ZSTD_CCtx_setParameter(cctx, ZSTD_c_hashLog, static_cast<int>(chainLog - 1));
            }
            ZSTD_CCtx_setParameter(cctx, ZSTD_c_ldmMinMatch, kLongMatchMin);
            ZSTD_CCtx_setParameter(cctx, ZSTD_c_ldmHashLog, std::min(kLongHashLog, static_cast<int>(windowLog)));
            ZSTD_CCtx_setParameter(cctx, ZSTD_c_ldmHashRateLog, kLongHashRateLog);
        }
        if (ZSTD_isError(ZSTD_CCtx_refPrefix(cctx, prefix, prefixSize))) return false;
    }
    out.resize(ZSTD_compressBound(size));
    size_t packed = ZSTD_compress2(cctx, &out[0], out.size(), data, size);
    if (ZSTD_isError(packed)) return false;
    out.resize(packed);
    return true;
}

struct ChunkStreams {
    std::string control;
    std::string diff;
    std::string extra;
    std::string runs;    // the diff as (zeros, values) pairs of LEB128 numbers
    std::string values;  // and its values
};

void AppendVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

// Splits the diff into runs and values. Only the first pair can start without zeros and only the
// last can end without values, so the runs take at most diffSize + 2 bytes.
void SplitDiff(ChunkStreams& s) {
    s.runs.clear();
    s.values.clear();
    const std::string& d = s.diff;
    size_t i = 0;
    while (i < d.size()) {
        size_t zeros = i;
        while (zeros < d.size() && d[zeros] == 0) ++zeros;
        size_t values = zeros;
        while (values < d.size() && d[values] != 0) ++values;
        AppendVarint(s.runs, zeros - i);
        AppendVarint(s.runs, values - zeros);
        s.values.append(d, zeros, values - zeros);
        i = values;
    }
}

void BuildStreams(const Files& f, const std::vector<Segment>& segments, uint64_t begin, uint64_t end, ChunkStreams& s) {
    s.control.clear();
    s.diff.clear();
    s.extra.clear();
    uint64_t oldPos = 0;
    auto instruction = [&](uint64_t add, uint64_t extra, int64_t seek) {
        AppendU32(s.control, static_cast<uint32_t>(add));
        AppendU32(s.control, static_cast<uint32_t>(extra));
        AppendU64(s.control, static_cast<uint64_t>(seek));
    };
    if (segments.empty() || segments.front().newPos > begin) {
        uint64_t gapEnd = segments.empty() ? end : segments.front().newPos;
        instruction(0, gapEnd - begin, 0);
        s.extra.append(reinterpret_cast<const char*>(f.neu + begin), gapEnd - begin);
    }
    for (size_t i = 0; i < segments.size(); ++i) {
        const Segment& seg = segments[i];
        uint64_t gapEnd = i + 1 < segments.size() ? segments[i + 1].newPos : end;
        uint64_t extra = gapEnd - (seg.newPos + seg.length);
        instruction(seg.length, extra, static_cast<int64_t>(seg.oldPos) - static_cast<int64_t>(oldPos));
        size_t at = s.diff.size();
        s.diff.resize(at + seg.length);
        const uint8_t* from = f.old + seg.oldPos;
        const uint8_t* to = f.neu + seg.newPos;
        for (uint64_t k = 0; k < seg.length; ++k) s.diff[at + k] = static_cast<char>(to[k] - from[k]);
        s.extra.append(reinterpret_cast<const char*>(to + seg.length), extra);
        oldPos = seg.oldPos + seg.length;
    }
}

// The old slice a zstd chunk uses as prefix: kDeltaPrefixMax bytes (or the whole old file) ending
// just past where the chunk's longest match comes from, else where the chunk sits proportionally.
void ChoosePrefix(const Files& f, const std::vector<Segment>& segments, uint64_t begin, uint64_t size, uint64_t& offset,
                  uint64_t& length) {
    length = std::min<uint64_t>(kDeltaPrefixMax, f.oldSize);
    uint64_t center =
        f.newSize == 0 ? 0 : static_cast<uint64_t>(static_cast<double>(begin + size / 2) * f.oldSize / f.newSize);
    uint64_t longest = 0;
    for (const Segment& seg : segments) {
        if (seg.length > longest) {
            longest = seg.length;
            int64_t c = static_cast<int64_t>(seg.oldPos) - static_cast<int64_t>(seg.newPos) +
                        static_cast<int64_t>(begin + size / 2);
            center = c < 0 ? 0 : static_cast<uint64_t>(c);
        }
    }
    // The chunk's own stretch of old bytes sits at the end of the prefix, where zstd's nearest
    // matches are cheapest; most of the prefix lies before it.
    uint64_t wantEnd = std::min(f.oldSize, center + size);
    offset = wantEnd > length ? wantEnd - length : 0;
}

// Packs one chunk at a time by the smallest method and holds it until its turn to be written.
// Each has its own zstd context and buffers, so chunks pack on several threads at once.
class ChunkPacker {
public:
    ChunkPacker(const Files& f, const DeltaOptions& options) : f_(f), options_(options), cctx_(ZSTD_createCCtx()) {}
    bool Ready() const { return cctx_ != nullptr; }

    std::vector<Segment> segments;  // the chunk's matches, which MatchChunk fills in

    // Chooses and packs the method for the new bytes [begin, end).
    bool Choose(uint64_t begin, uint64_t end) {
        begin_ = begin;
        size_ = static_cast<uint32_t>(end - begin);
        fields_.clear();
        BuildStreams(f_, segments, begin, end, streams_);
        if (streams_.control.size() > uint64_t{size_} + kDeltaInstructionSize) return false;
        SplitDiff(streams_);
        if (streams_.runs.size() > streams_.diff.size() + kDeltaInstructionSize) return false;
        if (!PackString(streams_.control, packedControl_) || !PackString(streams_.runs, packedRuns_) ||
            !PackString(streams_.values, packedValues_) || !PackString(streams_.extra, packedExtra_)) {
            return false;
        }
        uint64_t copyAddBytes =
            32 + packedControl_.size() + packedRuns_.size() + packedValues_.size() + packedExtra_.size();
        uint64_t prefixBytes = UINT64_MAX;
        uint64_t prefixOffset = 0;
        uint64_t prefixLength = 0;
        // zstd is tried only where copy/add leaves more than an eighth of the chunk (a program
        // across a major version): reading a large prefix at a high level takes minutes per
        // chunk, and on rebuilt programs and data with small changes copy/add wins anyway (4%
        // against zstd's 10% on a 69 MB library, 0.05% against 0.15% on a 1.36 GB tar).
        if (options_.prefixLevel > 0 && copyAddBytes > size_ / 8) {
            ChoosePrefix(f_, segments, begin, size_, prefixOffset, prefixLength);
            if (!Pack(cctx_.get(), options_.prefixLevel, f_.neu + begin, size_, packedPrefix_, f_.old + prefixOffset,
                      static_cast<size_t>(prefixLength))) {
                return false;
            }
            prefixBytes = 16 + packedPrefix_.size();
        }
        if (copyAddBytes <= prefixBytes && copyAddBytes < size_) {
            method_ = DeltaMethod::CopyAdd;
            for (size_t raw :
                 {streams_.control.size(), streams_.diff.size(), streams_.runs.size(), streams_.values.size(),
                  packedControl_.size(), packedRuns_.size(), packedValues_.size(), packedExtra_.size()}) {
                AppendU32(fields_, static_cast<uint32_t>(raw));
            }
        } else if (prefixBytes < size_) {
            method_ = DeltaMethod::Zstd;
            AppendU64(fields_, prefixOffset);
            AppendU32(fields_, static_cast<uint32_t>(prefixLength));
            AppendU32(fields_, static_cast<uint32_t>(packedPrefix_.size()));
        } else {
            method_ = DeltaMethod::Stored;
        }
        return true;
    }

    // Writes the chunk that Choose packed.
    bool Write(const DeltaWriter& write, DeltaStats& stats) {
        std::string header(1, static_cast<char>(method_));
        AppendU32(header, size_);
        header += fields_;
        stats.chunks[static_cast<int>(method_)] += 1;
        stats.newBytes[static_cast<int>(method_)] += size_;
        stats.deltaBytes += header.size();
        if (!write(header.data(), header.size())) return false;
        auto body = [&](const void* data, size_t size) {
            stats.deltaBytes += size;
            return size == 0 || write(data, size);
        };
        switch (method_) {
            case DeltaMethod::CopyAdd:
                for (const Segment& seg : segments) stats.matchedBytes += seg.length;
                stats.packed[0] += packedControl_.size();
                stats.packed[1] += packedRuns_.size() + packedValues_.size();
                stats.packed[2] += packedExtra_.size();
                return body(packedControl_.data(), packedControl_.size()) &&
                       body(packedRuns_.data(), packedRuns_.size()) &&
                       body(packedValues_.data(), packedValues_.size()) &&
                       body(packedExtra_.data(), packedExtra_.size());
            case DeltaMethod::Zstd:
                return body(packedPrefix_.data(), packedPrefix_.size());
            case DeltaMethod::Stored:
                break;
        }
        return body(f_.neu + begin_, size_);
    }

private:
    bool PackString(const std::string& raw, std::string& packed) {
        return Pack(cctx_.get(), options_.level, reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), packed);
    }

    const Files& f_;
    const DeltaOptions& options_;
    UniqueCctx cctx_;
    uint64_t begin_ = 0;
    uint32_t size_ = 0;
    DeltaMethod method_ = DeltaMethod::Stored;
    std::string fields_;
    ChunkStreams streams_;
    std::string packedControl_, packedRuns_, packedValues_, packedExtra_, packedPrefix_;
};

}  // namespace

bool MakeDelta(const uint8_t* old, uint64_t oldSize, const uint8_t* neu, uint64_t newSize, const DeltaOptions& options,
               const DeltaWriter& write, DeltaStats* stats) {
    DeltaStats local;
    DeltaStats& s = stats != nullptr ? *stats : local;
    s = DeltaStats{};
    uint64_t chunkSize = std::clamp<uint64_t>(options.chunkSize, 1, kDeltaChunkMax);
    uint64_t chunkCount = (newSize + chunkSize - 1) / chunkSize;
    if (chunkCount > UINT32_MAX) return false;
    Files f{old, oldSize, neu, newSize};
    std::vector<std::unique_ptr<ChunkPacker>> packers;
    for (int i = 0; i < std::max(options.threads, 1); ++i) {
        packers.push_back(std::make_unique<ChunkPacker>(f, options));
        if (!packers.back()->Ready()) return false;
    }
    OldIndex index;
    BuildIndex(old, oldSize, index);

    std::string header(kDeltaMagic, sizeof(kDeltaMagic));
    AppendU32(header, static_cast<uint32_t>(chunkCount));
    s.deltaBytes = header.size();
    if (!write(header.data(), header.size())) return false;
    int64_t lastOffset = 0;
    for (uint64_t begin = 0; begin < newSize;) {
        // Matching carries its alignment from chunk to chunk, so it runs here in order; the
        // packing, nearly all the time, runs for a round of chunks at once.
        size_t round = 0;
        std::vector<uint64_t> begins(packers.size());
        std::vector<char> ok(packers.size(), 0);
        for (; round < packers.size() && begin < newSize; ++round, begin += chunkSize) {
            begins[round] = begin;
            MatchChunk(f, index, begin, std::min(newSize, begin + chunkSize), lastOffset, packers[round]->segments);
        }
        auto pack = [&](size_t i) {
            try {
                ok[i] = packers[i]->Choose(begins[i], std::min(newSize, begins[i] + chunkSize));
            } catch (const std::bad_alloc&) {
                ok[i] = false;
            }
        };
        std::vector<std::thread> helpers;
        for (size_t i = 1; i < round; ++i) {
            try {
                helpers.emplace_back(pack, i);
            } catch (const std::system_error&) {
                pack(i);  // no thread to be had: this one packs it after all
            }
        }
        pack(0);
        for (std::thread& helper : helpers) helper.join();
        for (size_t i = 0; i < round; ++i) {
            if (!ok[i] || !packers[i]->Write(write, s)) return false;
        }
    }
    return true;
}

bool MakeDelta(const uint8_t* old, uint64_t oldSize, const uint8_t* neu, uint64_t newSize, const DeltaOptions& options,
               std::string& out, DeltaStats* stats) {
    out.clear();
    return MakeDelta(
        old, oldSize, neu, newSize, options,
        [&out](const void* data, size_t size) {
            out.append(static_cast<const char*>(data), size);
            return true;
        },
        stats);
}
