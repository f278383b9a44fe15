// The driver of bench/delta-pairs.sh (not a test): makes a delta of two files and applies it,
// printing sizes, times and the decoder's peak private memory.
//   delta_bench make OLD NEW DELTA [LEVEL [PREFIX_LEVEL [CHUNK_KIB]]]
//   delta_bench apply OLD DELTA OUT NEW_SIZE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "install/delta.h"
#include "platform/mapped_file.h"
#include "platform/text.h"
#include "tools/patchtool/delta_encode.h"

namespace {

std::wstring Wide(const char* path) { return platform::ConvertUtf8ToWide(path, std::strlen(path)); }

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Private (anonymous) resident memory now, in KiB: the mapping of the old file is not counted.
long RssAnonKib() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof(line), status) != nullptr) {
        if (std::strncmp(line, "RssAnon:", 8) == 0) kib = std::strtol(line + 8, nullptr, 10);
    }
    std::fclose(status);
    return kib;
}

int Make(int argc, char** argv) {
    platform::MappedFile old;
    platform::MappedFile neu;
    if (!old.Open(Wide(argv[2])) || !neu.Open(Wide(argv[3]))) return std::fprintf(stderr, "cannot map\n"), 1;
    DeltaOptions options;
    if (argc > 5) options.level = std::atoi(argv[5]);
    if (argc > 6) options.prefixLevel = std::atoi(argv[6]);
    if (argc > 7) options.chunkSize = static_cast<uint32_t>(std::atoi(argv[7])) << 10;
    FILE* out = std::fopen(argv[4], "wb");
    if (out == nullptr) return 1;
    DeltaStats stats;
    long peak = RssAnonKib();
    auto start = std::chrono::steady_clock::now();
    bool ok = MakeDelta(
        old.data(), old.size(), neu.data(), neu.size(), options,
        [&](const void* data, size_t size) {
            long now = RssAnonKib();  // the writer runs after each chunk's streams are packed
            if (now > peak) peak = now;
            return std::fwrite(data, 1, size, out) == size;
        },
        &stats);
    ok = std::fclose(out) == 0 && ok;
    std::printf("make %s: %llu bytes in %.1f s; chunks stored/zstd/copyadd %llu/%llu/%llu, matched %.1f%%, "
                "control/diff/extra %llu/%llu/%llu, peak private %ld MiB\n",
                ok ? "ok" : "FAILED", static_cast<unsigned long long>(stats.deltaBytes), Seconds(start),
                static_cast<unsigned long long>(stats.chunks[0]), static_cast<unsigned long long>(stats.chunks[1]),
                static_cast<unsigned long long>(stats.chunks[2]),
                neu.size() == 0 ? 0.0 : 100.0 * static_cast<double>(stats.matchedBytes) / static_cast<double>(neu.size()),
                static_cast<unsigned long long>(stats.packed[0]), static_cast<unsigned long long>(stats.packed[1]),
                static_cast<unsigned long long>(stats.packed[2]), peak / 1024);
    return ok ? 0 : 1;
}

int Apply(char** argv) {
    platform::MappedFile old;
    if (!old.Open(Wide(argv[2]))) return std::fprintf(stderr, "cannot map\n"), 1;
    FILE* delta = std::fopen(argv[3], "rb");
    FILE* out = std::fopen(argv[4], "wb");
    if (delta == nullptr || out == nullptr) return 1;
    uint64_t newSize = std::strtoull(argv[5], nullptr, 10);
    long peak = RssAnonKib();
    uint64_t sinceSample = 0;
    auto start = std::chrono::steady_clock::now();
    bool ok = ApplyDelta([delta](uint8_t* buffer, size_t capacity) { return std::fread(buffer, 1, capacity, delta); },
                         old.data(), old.size(), newSize, [&](const uint8_t* data, size_t size) {
                             sinceSample += size;
                             if (sinceSample >= (16u << 20)) {
                                 sinceSample = 0;
                                 long now = RssAnonKib();
                                 if (now > peak) peak = now;
                             }
                             return std::fwrite(data, 1, size, out) == size;
                         });
    ok = std::fclose(out) == 0 && ok;
    double seconds = Seconds(start);
    std::fclose(delta);
    std::printf("apply %s: %.2f s, %.0f MB/s, peak private %ld MiB\n", ok ? "ok" : "FAILED", seconds,
                static_cast<double>(newSize) / 1e6 / seconds, peak / 1024);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "make") == 0) return Make(argc, argv);
    if (argc == 6 && std::strcmp(argv[1], "apply") == 0) return Apply(argv);
    std::fprintf(stderr, "usage: %s make OLD NEW DELTA [LEVEL [PREFIX_LEVEL [CHUNK_KIB]]] | apply OLD DELTA OUT NEW_SIZE\n",
                 argv[0]);
    return 2;
}
