// Decode speed of compressed entry data: reads FILE (zstd frames) in pieces through the
// installer's stream decoder, as the payload will, drops the output and prints the rate. Compare
// with `zstd -d -c FILE > /dev/null`. The frames' checksums check the output.
// Usage: zstd_bench FILE DECODED_SIZE
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "install/zstd_stream.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE DECODED_SIZE\n", argv[0]);
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const uint64_t declared = std::strtoull(argv[2], nullptr, 10);
    const ZstdSource source = [&](void* buffer, size_t capacity, size_t& got) {
        got = std::fread(buffer, 1, capacity, file);
        return !std::ferror(file);
    };
    const ZstdSink sink = [](const void*, size_t) { return true; };
    ZstdDecoderContext context;
    auto start = std::chrono::steady_clock::now();
    bool decoded = DecodeZstdStream(context, source, declared, sink);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fclose(file);
    if (!decoded) {
        std::fprintf(stderr, "decoding failed\n");
        return 1;
    }
    std::printf("%llu bytes in %.3f s: %.0f MB/s\n", static_cast<unsigned long long>(declared), seconds,
                declared / seconds / 1e6);
    return 0;
}
