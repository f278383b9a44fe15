#pragma once
// Decoding of zstd-compressed entry data, for the payload entries that are stored compressed.
//
// The data of one entry is a sequence of one or more zstd frames (skippable frames included), as
// the `zstd` tool writes it, that ends exactly where the entry's data ends. Every frame carrying a
// checksum is checked against it. The data comes from a source and is untrusted: nothing it says
// makes the decoder use more memory than the window limit below allows, or hand the sink more than
// the size the entry declares.
#include <cstddef>
#include <cstdint>
#include <functional>

struct ZSTD_DCtx_s;

// The largest window a frame may ask for, as a power of two: 2^27 bytes = 128 MiB. It is the most
// this installer's format allows (patchtool never compresses with a larger window), and it bounds
// what one decoder holds in memory while it decodes: a frame that asks for more is refused before
// anything is allocated for it.
constexpr int kZstdWindowLogMax = 27;

// Owner of one decoder context: copy deleted, move allowed, reset() frees the old context.
class ZstdDecoderContext {
public:
    ZstdDecoderContext() = default;
    explicit ZstdDecoderContext(ZSTD_DCtx_s* context) : context_(context) {}
    ~ZstdDecoderContext() { reset(); }
    ZstdDecoderContext(const ZstdDecoderContext&) = delete;
    ZstdDecoderContext& operator=(const ZstdDecoderContext&) = delete;
    ZstdDecoderContext(ZstdDecoderContext&& other) noexcept : context_(other.release()) {}
    ZstdDecoderContext& operator=(ZstdDecoderContext&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    ZSTD_DCtx_s* get() const { return context_; }
    explicit operator bool() const { return context_ != nullptr; }
    ZSTD_DCtx_s* release() {
        ZSTD_DCtx_s* context = context_;
        context_ = nullptr;
        return context;
    }
    void reset(ZSTD_DCtx_s* context = nullptr);

private:
    ZSTD_DCtx_s* context_ = nullptr;
};

// Fills `buffer` with 1 to `capacity` bytes and sets `got`, or sets `got` to 0 at the end of the
// data. False on a read error.
using ZstdSource = std::function<bool(void* buffer, size_t capacity, size_t& got)>;
// Takes the next `size` bytes of output (never 0); false stops the decoding as a failure.
using ZstdSink = std::function<bool(const void* data, size_t size)>;

// Decodes the frames that `source` yields up to its end and hands the output to `sink` in order,
// in pieces of at most 128 KiB. True only when the data ends exactly at the end of a complete frame
// and the output is exactly `declaredSize` bytes. False otherwise: no frame, a damaged or cut frame,
// bytes after the last frame, a window over 2^kZstdWindowLogMax, a checksum that does not match,
// output longer or shorter than declared, a failing source or sink, or no memory. The sink never
// receives more than `declaredSize` bytes in all, but it may have received part of the output
// before a failure: the caller discards what it wrote. `context` is created on first use and may
// be reused for the next entry; each call starts it afresh with the window limit set.
bool DecodeZstdStream(ZstdDecoderContext& context, const ZstdSource& source, uint64_t declaredSize,
                      const ZstdSink& sink);

// The same over data already in memory.
bool DecodeZstdBuffer(ZstdDecoderContext& context, const void* data, size_t size, uint64_t declaredSize,
                      const ZstdSink& sink);
