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
//   payload_bench entry-data ARCHIVE FOLDER  writes each entry's data as stored (a compressed
//                                            entry's zstd frames, a delta) to FOLDER/NAME, so that
//                                            zstd -d can decode the very frames the installer does
//   payload_bench mutate OLD NEW EDITS SEED  writes OLD with EDITS changes at seeded places as NEW:
//                                            bytes replaced, inserted or deleted, 1 B to 64 KiB each,
//                                            pseudo-random new bytes; prints what changed
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

bool WriteFileData(PayloadReader& in, const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    if (cut != std::wstring::npos && !CreateDirectoryTree(path.substr(0, cut))) return false;
    platform::File out;
    if (!out.OpenWrite(path)) return false;
    std::vector<char> buffer(1 << 20);
    while (in.dataLeft() > 0) {
        size_t got = 0;
        if (!in.ReadData(buffer.data(), buffer.size(), got) || !out.Write(buffer.data(), got)) return false;
    }
    return out.Close();
}

int EntryData(const char* archive, const char* folder) {
    PayloadReader in;
    if (!in.Open(Wide(archive))) return 1;
    PayloadEntry entry;
    for (uint32_t i = 0; i < in.entryCount(); ++i) {
        if (!in.Next(entry) || !WriteFileData(in, JoinPath(Wide(folder), entry.name))) return 1;
        std::printf("%d %llu %llu %s\n", static_cast<int>(entry.kind), static_cast<unsigned long long>(entry.dataSize),
                    static_cast<unsigned long long>(entry.fileSize), entry.rawName.c_str());
    }
    return 0;
}

// xorshift64*: the same changes for the same seed on every machine, and fast enough that making
// gigabytes of test data costs little beside the copy.
struct Random {
    uint64_t state;
    uint64_t Next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
    void Fill(char* out, size_t size) {
        for (size_t i = 0; i < size; i += 8) {
            uint64_t word = Next();
            std::memcpy(out + i, &word, std::min<size_t>(8, size - i));
        }
    }
};

struct Copier {
    platform::File in;
    platform::File out;
    std::vector<char> buffer = std::vector<char>(1 << 20);

    bool Copy(uint64_t size) {
        while (size > 0) {
            size_t got = 0;
            size_t want = static_cast<size_t>(std::min<uint64_t>(size, buffer.size()));
            if (!in.Read(buffer.data(), want, got) || got != want || !out.Write(buffer.data(), got)) return false;
            size -= got;
        }
        return true;
    }
    bool Invent(Random& random, uint64_t size) {
        random.Fill(buffer.data(), static_cast<size_t>(size));
        return out.Write(buffer.data(), static_cast<size_t>(size));
    }
};

// Edits at uniformly spread places, a half replacing bytes, a quarter inserting, a quarter
// deleting; lengths spread evenly over the powers of two up to 64 KiB, so that most edits are the
// small ones a rebuilt game file has (a changed number, a moved reference) and a few are blocks.
int Mutate(const char* oldPath, const char* newPath, int edits, uint64_t seed) {
    Copier c;
    uint64_t size = 0;
    if (!c.in.OpenRead(Wide(oldPath), platform::Share::ReadOnly) || !c.in.GetSize(size) || size == 0 ||
        !c.out.OpenWrite(Wide(newPath)))
        return 1;
    Random random{seed * 0x9E3779B97F4A7C15ULL + 1};
    std::vector<uint64_t> places(static_cast<size_t>(edits));
    for (uint64_t& place : places) place = random.Next() % size;
    std::sort(places.begin(), places.end());
    uint64_t at = 0;
    uint64_t replaced = 0, inserted = 0, deleted = 0;
    for (uint64_t place : places) {
        place = std::max(place, at);
        uint64_t kind = random.Next() % 4;
        uint64_t length = std::max<uint64_t>(1, random.Next() % (uint64_t{2} << (random.Next() % 16)));
        if (!c.Copy(place - at)) return 1;
        at = place;
        if (kind == 0) {
            if (!c.Invent(random, length)) return 1;
            inserted += length;
            continue;
        }
        length = std::min(length, size - at);
        if (!c.in.Skip(length)) return 1;
        at += length;
        if (kind == 1) {
            deleted += length;
            continue;
        }
        if (!c.Invent(random, length)) return 1;
        replaced += length;
    }
    if (!c.Copy(size - at) || !c.out.Close()) return 1;
    std::printf("edits %d: replaced %llu, inserted %llu, deleted %llu bytes (%.2f%% of the old file)\n", edits,
                static_cast<unsigned long long>(replaced), static_cast<unsigned long long>(inserted),
                static_cast<unsigned long long>(deleted),
                100.0 * static_cast<double>(replaced + inserted + deleted) / static_cast<double>(size));
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
    if (command == "entry-data" && argc == 4) return EntryData(argv[2], argv[3]);
    if (command == "mutate" && argc == 6)
        return Mutate(argv[2], argv[3], std::atoi(argv[4]), std::strtoull(argv[5], nullptr, 10));
    std::fprintf(stderr, "usage: payload_bench pack|extract|digest|sync-cost|entry-data|mutate ...\n");
    return 2;
}
