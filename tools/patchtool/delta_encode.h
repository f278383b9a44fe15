#pragma once
// The delta encoder behind `patchtool build`: a new file as a delta against the gamer's old file,
// in the layout ApplyDelta reads (install/delta.cpp).
//
// Each chunk of the new file is matched against the whole old file (a hash index of the old file,
// exact anchors extended both ways while they match more bytes than not, so code whose addresses
// moved stays one copy with a few diff bytes), then stored by whichever method is smallest:
// copy/add, a zstd frame with the matching slice of the old file as prefix, or as it is.
//
// Memory: the index (4 bytes per indexed position, at most 256 MiB), and for each of the chunks
// packed at once a few chunks of buffers (diff, runs, values, extra and their packed forms) and
// zstd's tables at the chosen level, besides the two files, which the caller maps: 290 to 500 MiB
// private measured at level 19 where copy/add wins, from a 69 MB library to a 5.4 GB pair. Where
// the zstd method is tried at 19 its tables span the prefix, 1.7 GiB per chunk packed at once
// (3.8 GiB on a 180 MB program across a major version, two at once). Time: about 10 s per GB where
// copy/add wins (data with small changes), the zstd level's own speed on a rebuilt program (5 to
// 30 s for 69 MB at 19), and nearly four minutes per 32 MiB chunk where the zstd method is tried
// at 19 with a prefix of 170 MiB, two chunks at once on two cores (11.5 minutes for that program).
#include <cstdint>
#include <functional>
#include <string>

#include "install/delta.h"

struct DeltaOptions {
    int level = 19;                       // zstd level of every stream
    uint32_t chunkSize = kDeltaChunkMax;  // at most kDeltaChunkMax; tests use small chunks
    // zstd level of the prefix method's attempt (0: never tried). It is tried only on chunks where
    // copy/add leaves much to store, since zstd reading a large prefix is slow.
    int prefixLevel = 19;
    // Chunks packed at once, each on its own thread with its own zstd tables (their memory grows
    // with it); the delta is the same for any count.
    int threads = 2;
};

struct DeltaStats {
    uint64_t chunks[3] = {};    // how many chunks each DeltaMethod stored
    uint64_t newBytes[3] = {};  // new bytes each method stored
    uint64_t matchedBytes = 0;  // new bytes that copy/add takes from the old file
    uint64_t packed[3] = {};    // copy/add's control, diff and extra streams as stored
    uint64_t deltaBytes = 0;    // the whole delta
};

// Receives the delta in order; false stops the encoder.
using DeltaWriter = std::function<bool(const void* data, size_t size)>;

// Writes the delta turning `old` into `neu` (either may be empty: null with size 0). False when
// the writer refused or zstd failed. `stats` may be null.
bool MakeDelta(const uint8_t* old, uint64_t oldSize, const uint8_t* neu, uint64_t newSize, const DeltaOptions& options,
               const DeltaWriter& write, DeltaStats* stats);

// The same into a string, for deltas that fit in memory (tests, small files).
bool MakeDelta(const uint8_t* old, uint64_t oldSize, const uint8_t* neu, uint64_t newSize, const DeltaOptions& options,
               std::string& out, DeltaStats* stats = nullptr);
