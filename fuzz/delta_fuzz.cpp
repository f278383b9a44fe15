// Fuzz target of the delta decoder. An input is oldSize u32, newSize u32 (both little-endian, the
// new size cut to 16 MiB so one input cannot ask for a chunk buffer of every size), the old file,
// then the delta, handed to the decoder in uneven pieces. Aborts when the decoder produces more
// than the new size, hands over a piece larger than promised, or succeeds short of the new size;
// the sanitizers catch any read outside the old file or the delta.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"
#include "install/delta.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    uint32_t oldSize = LoadU32(data);
    uint32_t newSize = LoadU32(data + 4) % ((16u << 20) + 1);
    if (oldSize > size - 8) return 0;
    // The old file in a buffer of its own size, so that ASan sees a read past its end.
    uint8_t* old = oldSize > 0 ? static_cast<uint8_t*>(std::malloc(oldSize)) : nullptr;
    if (oldSize > 0) std::memcpy(old, data + 8, oldSize);
    const uint8_t* delta = data + 8 + oldSize;
    size_t deltaSize = size - 8 - oldSize;
    size_t at = 0;
    size_t turn = 0;
    uint64_t produced = 0;
    bool ok = ApplyDelta(
        [&](uint8_t* buffer, size_t capacity) {
            size_t n = deltaSize - at;
            n = n < capacity ? n : capacity;
            size_t uneven = 1 + (turn++ * 7919) % 4096;
            n = n < uneven ? n : uneven;
            std::memcpy(buffer, delta + at, n);
            at += n;
            return n;
        },
        old, oldSize, newSize,
        [&](const uint8_t* bytes, size_t count) {
            if (count > kDeltaSinkPiece || count > newSize - produced) std::abort();
            // Touch every byte handed over, so an uninitialised or stray pointer shows.
            volatile uint8_t sum = 0;
            for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
            produced += count;
            return true;
        });
    if (ok && produced != newSize) std::abort();
    std::free(old);
    return 0;
}
