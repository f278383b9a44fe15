#include "install/zstd_stream.h"

#include <zstd.h>

#include <memory>
#include <new>

void ZstdDecoderContext::reset(ZSTD_DCtx_s* context) {
    ZSTD_DCtx* old = context_;
    context_ = context;
    ZSTD_freeDCtx(old);  // accepts null
}

namespace {

// A context carried over from another entry could hold another limit or a half-read frame, so
// every decode resets it and sets the limit again rather than trusting what it holds.
bool Begin(ZstdDecoderContext& context) {
    if (!context) context.reset(ZSTD_createDCtx());
    return context && !ZSTD_isError(ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_and_parameters)) &&
           !ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, kZstdWindowLogMax));
}

// `refill` is asked for more input each time the decoder has used up what it had; it leaves `in`
// empty at the end of the data.
template <typename Refill>
bool Decode(ZSTD_DCtx* dctx, Refill refill, uint64_t declaredSize, const ZstdSink& sink) {
    const size_t outputSize = ZSTD_DStreamOutSize();
    std::unique_ptr<uint8_t[]> output(new (std::nothrow) uint8_t[outputSize]);
    if (!output) return false;
    ZSTD_inBuffer in{nullptr, 0, 0};
    uint64_t total = 0;
    size_t hint = 1;  // 0 only right after a frame was completed and all its output handed over
    bool unflushed = false;
    for (;;) {
        // By zstd's contract a full output piece with a result other than 0 may leave output inside
        // the decoder, which a call without new input hands over. (zstd also keeps the last input
        // byte back until then; this loop does not rely on that.)
        if (in.pos == in.size && !unflushed) {
            if (!refill(in)) return false;
            if (in.size == 0) break;
        }
        ZSTD_outBuffer out{output.get(), outputSize, 0};
        hint = ZSTD_decompressStream(dctx, &out, &in);
        if (ZSTD_isError(hint)) return false;
        if (out.pos > declaredSize - total) return false;
        if (out.pos > 0 && !sink(output.get(), out.pos)) return false;
        total += out.pos;
        unflushed = out.pos == out.size && hint != 0;
    }
    return hint == 0 && total == declaredSize;
}

}  // namespace

bool DecodeZstdStream(ZstdDecoderContext& context, const ZstdSource& source, uint64_t declaredSize,
                      const ZstdSink& sink) {
    if (!Begin(context)) return false;
    const size_t inputSize = ZSTD_DStreamInSize();
    std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[inputSize]);
    if (!input) return false;
    auto refill = [&](ZSTD_inBuffer& in) {
        size_t got = 0;
        if (!source(input.get(), inputSize, got) || got > inputSize) return false;
        in = ZSTD_inBuffer{input.get(), got, 0};
        return true;
    };
    return Decode(context.get(), refill, declaredSize, sink);
}

bool DecodeZstdBuffer(ZstdDecoderContext& context, const void* data, size_t size, uint64_t declaredSize,
                      const ZstdSink& sink) {
    if (!Begin(context)) return false;
    bool handedOver = false;
    auto refill = [&](ZSTD_inBuffer& in) {
        in = handedOver ? ZSTD_inBuffer{nullptr, 0, 0} : ZSTD_inBuffer{data, size, 0};
        handedOver = true;
        return true;
    };
    return Decode(context.get(), refill, declaredSize, sink);
}
