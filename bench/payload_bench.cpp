// Benchmark driver (native and .exe): packs a folder into a payload archive, and times
// ExtractPayload and ComputeFileDigest from inside the process, so that Wine's start-up does not
// count. Run by bench/run-bench.sh; not a test.
//   payload_bench pack ARCHIVE FOLDER        every file below FOLDER, names relative to it
//   payload_bench extract ARCHIVE FOLDER     prints "seconds N"
//   payload_bench digest FILE                prints "seconds N" and the digest
//   payload_bench replace-cost ARCHIVE FOLDER ROUNDS
//                                            extracts once, then replaces every file ROUNDS times
//                                            with each path in turns: the previous one (each file
//                                            written beside its target and renamed over it, no
//                                            undo) and ExtractPayload; prints the best of each
//   payload_bench previous ARCHIVE FOLDER    the previous path alone, once (to count its system
//                                            calls with strace -c against `extract`)
//   payload_bench sync-cost FOLDER COUNT SIZE
//                                            writes COUNT files of SIZE bytes as the extraction
//                                            does, without and with a flush of each file
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "common/paths.h"
#include "install/payload.h"
#include "install/verify.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

std::wstring Wide(const char* text) { return platform::ConvertUtf8ToWide(text, std::char_traits<char>::length(text)); }

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Pack(const char* archivePath, const char* folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    platform::File out;
    if (!out.OpenWrite(Wide(archivePath))) return 1;
    std::string header(kPayloadMagic, sizeof kPayloadMagic);
    AppendU32(header, static_cast<uint32_t>(files.size()));
    if (!out.Write(header.data(), header.size())) return 1;
    std::vector<char> buffer(1 << 20);
    for (const fs::path& path : files) {
        std::string name = fs::relative(path, folder).generic_string();
        platform::File in;
        uint64_t size = 0;
        if (!in.OpenRead(Wide(path.string().c_str()), platform::Share::ReadOnly) || !in.GetSize(size)) return 1;
        std::string entry;
        AppendU32(entry, static_cast<uint32_t>(name.size()));
        entry += name;
        AppendU64(entry, size);
        if (!out.Write(entry.data(), entry.size())) return 1;
        for (uint64_t left = size; left > 0;) {
            size_t got = 0;
            if (!in.Read(buffer.data(), std::min<uint64_t>(left, buffer.size()), got) || got == 0) return 1;
            if (!out.Write(buffer.data(), got)) return 1;
            left -= got;
        }
    }
    return out.Close() ? 0 : 1;
}

// The extraction as it was before the all-or-nothing guarantee, kept as the reference: the same
// archive reader, then each target checked, written beside itself and renamed over; nothing
// planned, nothing noted, nothing to undo.
bool PreviousExtraction(const std::wstring& archivePath, const std::wstring& gameFolder) {
    PayloadReader in;
    if (!in.Open(archivePath)) return false;
    std::vector<char> buffer(65536);
    PayloadEntry entry;
    for (uint32_t i = 0; i < in.entryCount(); ++i) {
        if (!in.Next(entry, false)) return false;
        std::wstring target = JoinPath(gameFolder, entry.name);
        bool exists = false;
        platform::File out;
        std::wstring temp;
        if (!platform::CanReplaceFile(target, exists) || !out.CreateReplacementFor(target, temp)) return false;
        while (in.dataLeft() > 0) {
            size_t got = 0;
            if (!in.ReadData(buffer.data(), buffer.size(), got) || !out.Write(buffer.data(), got)) return false;
        }
        if (!out.Close() || !platform::ReplacePath(temp, target)) return false;
    }
    return true;
}

int ReplaceCost(const char* archive, const char* folder, int rounds) {
    std::wstring archivePath = Wide(archive);
    std::wstring gameFolder = Wide(folder);
    if (!ExtractPayload(archivePath, gameFolder)) return 1;
    double previous = 1e30;
    double guarded = 1e30;
    for (int r = 0; r < rounds; ++r) {
        auto start = std::chrono::steady_clock::now();
        if (!PreviousExtraction(archivePath, gameFolder)) return 1;
        previous = std::min(previous, Seconds(start));
        start = std::chrono::steady_clock::now();
        if (!ExtractPayload(archivePath, gameFolder)) return 1;
        guarded = std::min(guarded, Seconds(start));
    }
    std::printf("previous %.4f\nguarded %.4f\n", previous, guarded);
    return 0;
}

int SyncCost(const char* folder, int count, size_t size) {
    std::vector<char> data(size, 'x');
    for (bool flush : {false, true}) {
        std::wstring dir = JoinPath(Wide(folder), flush ? L"flushed" : L"plain");
        if (!CreateDirectoryTree(dir)) return 1;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            std::wstring target = JoinPath(dir, L"f" + std::to_wstring(i));
            platform::File out;
            std::wstring temp;
            if (!out.CreateReplacementFor(target, temp) || !out.Write(data.data(), data.size())) return 1;
            if (flush && !out.Flush()) return 1;
            if (!out.Close() || !platform::ReplacePath(temp, target)) return 1;
        }
        double seconds = Seconds(start);
        std::printf("%s %d files: %.3f s, %.1f us per file\n", flush ? "flushed" : "plain", count, seconds,
                    seconds * 1e6 / count);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "pack" && argc == 4) return Pack(argv[2], argv[3]);
    if (command == "extract" && argc == 4) {
        auto start = std::chrono::steady_clock::now();
        bool ok = ExtractPayload(Wide(argv[2]), Wide(argv[3]));
        std::printf("seconds %.4f\n", Seconds(start));
        return ok ? 0 : 1;
    }
    if (command == "digest" && argc == 3) {
        auto start = std::chrono::steady_clock::now();
        std::wstring digest;
        bool ok = ComputeFileDigest(Wide(argv[2]), digest);
        std::printf("seconds %.4f\n%s\n", Seconds(start), platform::ConvertWideToUtf8(digest).c_str());
        return ok ? 0 : 1;
    }
    if (command == "previous" && argc == 4) return PreviousExtraction(Wide(argv[2]), Wide(argv[3])) ? 0 : 1;
    if (command == "replace-cost" && argc == 5) return ReplaceCost(argv[2], argv[3], std::atoi(argv[4]));
    if (command == "sync-cost" && argc == 5) return SyncCost(argv[2], std::atoi(argv[3]), std::strtoul(argv[4], nullptr, 10));
    std::fprintf(stderr, "usage: payload_bench pack|extract|digest|sync-cost ...\n");
    return 2;
}
