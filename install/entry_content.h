#pragma once
// The content of one payload entry, written into a new file beside its target before it is put in
// place: a stored entry's bytes as they are, a compressed entry's decoded, a delta entry's made
// from the old file. A made file is checked against the size and SHA-256 its entry declares before
// the caller may put it in place; a signed patch's entry is checked against its digest as stored.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "install/block_channel.h"
#include "install/payload_reader.h"
#include "install/signature.h"
#include "install/zstd_stream.h"
#include "platform/folder_tree.h"
#include "platform/fs.h"

// What the entries of one extraction share: one copy buffer, one decoder and the blocks that
// large entries pass between threads, so that memory stays the same whatever the payload holds.
//
// A large entry is made by three stages side by side: a thread reads its stored bytes (and feeds a
// signed patch's digest), the calling thread decodes them, and a thread hashes the made bytes and
// writes them, each handing blocks to the next through a bounded channel. The calling thread stays
// the one that reports progress, so a window that pumps its messages from the progress report
// keeps answering. A small entry is made on the calling thread alone: starting threads would cost
// more than they save.
struct ContentWriter {
    static constexpr size_t kChunk = 65536;
    // An entry that stores or makes this many bytes or more runs in the pipeline.
    static constexpr uint64_t kPipelineFrom = 4u << 20;
    // Blocks small enough that the digest reads a block while it is still in the cache, and enough
    // of them to ride over the uneven pace of the disk: 2 x 8 x 256 KiB.
    static constexpr size_t kBlockSize = 256u << 10;
    static constexpr size_t kBlocksPerChannel = 8;

    std::unique_ptr<char[]> buffer{new char[kChunk]};
    ZstdDecoderContext decoder;
    BlockChannel stored;  // reading -> decoding
    BlockChannel made;    // decoding -> writing
    // A signed patch's digest of the entry as stored; null for an unsigned patch.
    PayloadEntryDigest* signedDigest = nullptr;
    // For the progress report: the entry's place and the whole count, and the bytes the entries
    // make (files written), before this one and in all.
    uint32_t entryIndex = 0;
    uint32_t entryCount = 0;
    uint64_t producedBefore = 0;
    uint64_t producedTotal = 0;
};

// Why WriteEntryContent failed, beyond a failing system call.
enum class ContentFault { None, Damaged, NotTheDeclaredFile };

// Reads the current entry's data from `reader` and writes the file it stands for to `out`. True
// when all of it was written and a made file is exactly the declared one; false otherwise, with
// `fault` telling a damaged entry (data that does not decode) or a made file of another size or
// digest from a failing read or write (whose system error code is then this thread's, wherever it
// happened). The old file of a delta entry is read from `tree`.
bool WriteEntryContent(PayloadReader& reader, const PayloadEntry& entry, platform::FolderTree& tree,
                       platform::File& out, ContentWriter& writer, ContentFault& fault);
