// A delta entry for a file past 2 GiB (native build, where sparse files make such a file cheap to
// hold): the extraction rebuilds it chunk by chunk from the old file, with offsets and seeks beyond
// 32 bits, checks it and puts it in the old one's place.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "install/delta.h"
#include "install/payload.h"
#include "platform/digest.h"
#include "platform/mapped_file.h"
#include "support/test_support.h"
#include "tools/patchtool/delta_encode.h"

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kChunk = kDeltaChunkMax;

std::string Random(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random() & 0xFF);
    return data;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string Sha256Of(const uint8_t* data, uint64_t size) {
    platform::Sha256 sha;
    platform::Sha256Digest digest{};
    EXPECT_TRUE(sha.Begin() && sha.Update(data, size) && sha.Finish(digest));
    return std::string(digest.begin(), digest.end());
}

struct Written {
    uint64_t at;
    std::string bytes;
};

// A file of `size` bytes holding `writes` (later ones over earlier ones) and zeros elsewhere, left
// as holes where the file system allows.
bool MakeSparse(const std::string& path, uint64_t size, const std::vector<Written>& writes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    for (const Written& w : writes) {
        ok = ok && ::pwrite(fd, w.bytes.data(), w.bytes.size(), static_cast<off_t>(w.at)) ==
                       static_cast<ssize_t>(w.bytes.size());
    }
    return ::close(fd) == 0 && ok;
}

// The chunks of a delta as the encoder wrote them, each whole: head, fields and frames.
std::vector<std::string> DeltaChunks(const std::string& delta) {
    std::vector<std::string> chunks;
    const auto* bytes = reinterpret_cast<const uint8_t*>(delta.data());
    for (size_t at = sizeof kDeltaMagic + 4; at < delta.size();) {
        const uint8_t* fields = bytes + at + 5;
        uint64_t length = 5;
        switch (static_cast<DeltaMethod>(bytes[at])) {
            case DeltaMethod::Stored:
                length += LoadU32(bytes + at + 1);
                break;
            case DeltaMethod::Zstd:
                length += 16 + uint64_t{LoadU32(fields + 12)};
                break;
            case DeltaMethod::CopyAdd:
                length += 32;
                for (size_t packed = 16; packed < 32; packed += 4) length += LoadU32(fields + packed);
                break;
        }
        chunks.push_back(delta.substr(at, length));
        at += length;
    }
    return chunks;
}

TEST(PayloadKindsLarge, DeltaOfAFilePast2GiBInstallsInItsPlace) {
    test::ScratchDir dir;
    const std::wstring game = dir / L"game";
    const std::wstring target = game + L"\\big.bin";
    const std::wstring newer = dir / L"big.new";
    ASSERT_TRUE(CreateDirectoryTree(game));
    const uint64_t oldSize = 2 * kGiB + kChunk;
    const uint64_t newSize = oldSize + 5000;  // a last chunk of 5000 bytes
    // The made file is written whole, zeros included, beside the old one until it takes its place.
    struct statvfs space {};
    ASSERT_EQ(::statvfs(test::FsPath(dir.path()).c_str(), &space), 0);
    if (uint64_t{space.f_bavail} * space.f_frsize < newSize + kGiB) {
        GTEST_SKIP() << "needs " << (newSize + kGiB) / kGiB << " GiB free in " << test::FsPath(dir.path());
    }
    const std::string header = Random(64 << 10, 1);
    const std::vector<Written> oldWrites = {
        {0, header},
        {2 * kGiB - 20000, Random(40000, 2)},  // across 2^31, a chunk boundary too
        {oldSize - 10000, Random(10000, 3)},
    };
    ASSERT_TRUE(MakeSparse(test::FsPath(target).string(), oldSize, oldWrites));
    struct stat made {};
    ASSERT_EQ(::stat(test::FsPath(target).c_str(), &made), 0);
    if (static_cast<uint64_t>(made.st_blocks) * 512 > oldSize / 2) {
        GTEST_SKIP() << "the file system of " << test::FsPath(dir.path()) << " made no sparse file";
    }
    const std::vector<Written> changes = {
        {2 * kGiB - 50, std::string(100, 'd')},  // across 2^31
        {2 * kGiB + 20000, Random(30000, 4)},    // new bytes where old has none
        {2 * kGiB + (1 << 20), header},          // copied from over 2 GiB back
        {oldSize - 3000, Random(8000, 5)},       // the end rewritten and grown
    };
    std::vector<Written> newWrites = oldWrites;
    newWrites.insert(newWrites.end(), changes.begin(), changes.end());
    ASSERT_TRUE(MakeSparse(test::FsPath(newer).string(), newSize, newWrites));
    platform::MappedFile old;
    platform::MappedFile expected;
    ASSERT_TRUE(old.Open(target));
    ASSERT_TRUE(expected.Open(newer));

    // Every chunk decodes on its own against the whole old file, wherever it stands, so the delta is
    // put together from two encodings: the chunks that hold data, encoded against the old file, and
    // one chunk of new zeros that stands for every chunk of the holes. Under the sanitizers the
    // encoder takes about 40 s over the whole file (a few passes over every byte it matches), and
    // holes copied from the old file's zeros take the decoder about 15 s more (an addition per
    // byte), where new zeros are copied whole.
    std::set<uint64_t> dataChunks;
    for (const Written& w : newWrites) {
        for (uint64_t chunk = w.at / kChunk; chunk <= (w.at + w.bytes.size() - 1) / kChunk; ++chunk)
            dataChunks.insert(chunk);
    }
    const uint64_t chunkCount = (newSize + kChunk - 1) / kChunk;
    ASSERT_EQ(*dataChunks.rbegin(), chunkCount - 1);  // the partial chunk comes last in what is encoded
    std::string withData;
    for (uint64_t chunk : dataChunks) {
        withData.append(reinterpret_cast<const char*>(expected.data()) + chunk * kChunk,
                        std::min(kChunk, newSize - chunk * kChunk));
    }
    DeltaOptions options;
    options.level = 3;
    options.prefixLevel = 3;
    std::string encoded;
    ASSERT_TRUE(MakeDelta(old.data(), oldSize, Bytes(withData), withData.size(), options, encoded));
    std::vector<std::string> chunks = DeltaChunks(encoded);
    ASSERT_EQ(chunks.size(), dataChunks.size());
    for (size_t i = 0; i + 1 < chunks.size(); ++i) {  // copied from the old file; the new end alone is stored
        ASSERT_EQ(chunks[i][0], static_cast<char>(DeltaMethod::CopyAdd)) << i;
    }
    const std::string zeros(kChunk, '\0');
    ASSERT_TRUE(MakeDelta(nullptr, 0, Bytes(zeros), zeros.size(), options, encoded));
    const std::string hole = DeltaChunks(encoded).at(0);
    std::string delta(kDeltaMagic, sizeof kDeltaMagic);
    AppendU32(delta, static_cast<uint32_t>(chunkCount));
    for (uint64_t chunk = 0, data = 0; chunk < chunkCount; ++chunk) {
        delta += dataChunks.count(chunk) ? chunks[data++] : hole;
    }

    // The entry as patchtool writes it.
    std::string payload(kPayloadMagicKinds, sizeof kPayloadMagicKinds);
    AppendU32(payload, 1);
    payload.push_back(static_cast<char>(EntryKind::Delta));
    const std::string name = "big.bin";
    AppendU32(payload, static_cast<uint32_t>(name.size()));
    payload += name;
    AppendU64(payload, newSize);
    payload += Sha256Of(expected.data(), newSize);
    AppendU64(payload, oldSize);
    payload += Sha256Of(old.data(), oldSize);
    AppendU64(payload, delta.size());
    ASSERT_TRUE(test::WriteFileBytes(dir / L"p.dat", payload + delta));
    old.Close();

    ExtractReport report;
    ASSERT_TRUE(ExtractPayload(dir / L"p.dat", game, &report)) << report.entry;
    EXPECT_EQ(test::ListTree(game), std::vector<std::string>{"big.bin"});  // no temporary or backup left
    platform::MappedFile installed;
    ASSERT_TRUE(installed.Open(target));
    ASSERT_EQ(installed.size(), newSize);
    uint64_t same = 0;  // compared in MiB pieces, so a failure says where
    while (same < newSize) {
        size_t piece = static_cast<size_t>(std::min<uint64_t>(newSize - same, 1u << 20));
        if (std::memcmp(installed.data() + same, expected.data() + same, piece) != 0) break;
        same += piece;
    }
    EXPECT_EQ(same, newSize) << "the installed file differs in the MiB from " << same;
}

}  // namespace
