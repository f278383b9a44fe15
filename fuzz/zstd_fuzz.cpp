// Fuzz target of the decoding of compressed entry data. Each input is an entry's data, declared as
// the size that zstd's one-shot decoder makes of it (capped). Whatever the installer's decoder
// accepts must be exactly that output, come only from frames whose window is within the limit, and
// be refused with a byte of data or of declared size less; in pieces from a source it must decide
// as it does over the buffer; and no sink is ever handed more than the declared size. Aborts
// otherwise.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/zstd_stream.h"

namespace {

// Enough for every frame of the saved corpus; a hostile frame that wants more is cut off here.
constexpr size_t kMaxOutput = 1 << 20;

bool WindowsWithinLimit(const uint8_t* data, size_t size) {
    for (size_t at = 0; at < size;) {
        ZSTD_frameHeader header;
        if (ZSTD_getFrameHeader(&header, data + at, size - at) != 0) return false;
        if (header.frameType == ZSTD_frame && header.windowSize > (uint64_t{1} << kZstdWindowLogMax)) return false;
        size_t frameSize = ZSTD_findFrameCompressedSize(data + at, size - at);
        if (ZSTD_isError(frameSize)) return false;
        at += frameSize;
    }
    return true;
}

ZstdSink Collect(std::string& out, uint64_t declared) {
    return [&out, declared](const void* data, size_t size) {
        out.append(static_cast<const char*>(data), size);
        if (out.size() > declared) std::abort();
        return true;
    };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ZstdDecoderContext context;
    static ZSTD_DCtx* reference = ZSTD_createDCtx();
    static std::string expected(kMaxOutput, '\0');

    size_t made = ZSTD_decompressDCtx(reference, expected.data(), kMaxOutput, data, size);
    bool referenceDecodes = !ZSTD_isError(made);
    uint64_t declared = referenceDecodes ? made : kMaxOutput;

    std::string out;
    bool decodes = DecodeZstdBuffer(context, data, size, declared, Collect(out, declared));
    if (decodes) {
        if (!referenceDecodes || out != expected.substr(0, made)) std::abort();
        if (!WindowsWithinLimit(data, size)) std::abort();
        std::string cut;
        if (DecodeZstdBuffer(context, data, size - 1, declared, Collect(cut, declared))) std::abort();
        std::string less;
        if (declared > 0 && DecodeZstdBuffer(context, data, size, declared - 1, Collect(less, declared - 1)))
            std::abort();
    }

    // Pieces of 1 to 64 bytes, their size taken from the input.
    size_t piece = size > 0 ? data[size / 2] % 64 + 1 : 1;
    size_t position = 0;
    const ZstdSource source = [&](void* buffer, size_t capacity, size_t& got) {
        got = std::min({piece, capacity, size - position});
        if (got > 0) std::copy(data + position, data + position + got, static_cast<uint8_t*>(buffer));
        position += got;
        return true;
    };
    std::string streamed;
    if (DecodeZstdStream(context, source, declared, Collect(streamed, declared)) != decodes) std::abort();
    if (decodes && streamed != out) std::abort();
    return 0;
}
