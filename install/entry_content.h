#pragma once
// The content of one payload entry, written into a new file beside its target before it is put in
// place: a stored entry's bytes as they are, a compressed entry's decoded, a delta entry's made
// from the old file. A made file is checked against the size and SHA-256 its entry declares before
// the caller may put it in place; a signed patch's entry is checked against its digest as stored.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "install/payload_reader.h"
#include "install/signature.h"
#include "install/zstd_stream.h"
#include "platform/folder_tree.h"
#include "platform/fs.h"

// What the entries of one extraction share: one copy buffer and one decoder, so that memory stays
// the same whatever the payload holds.
struct ContentWriter {
    static constexpr size_t kChunk = 65536;
    std::unique_ptr<char[]> buffer{new char[kChunk]};
    ZstdDecoderContext decoder;
    // A signed patch's digest of the entry as stored; null for an unsigned patch.
    PayloadEntryDigest* signedDigest = nullptr;
    // For the progress report: the entry's place and the whole count.
    uint32_t entryIndex = 0;
    uint32_t entryCount = 0;
};

// Why WriteEntryContent failed, beyond a failing system call.
enum class ContentFault { None, Damaged, NotTheDeclaredFile };

// Reads the current entry's data from `reader` and writes the file it stands for to `out`. True
// when all of it was written and a made file is exactly the declared one; false otherwise, with
// `fault` telling a damaged entry (data that does not decode) or a made file of another size or
// digest from a failing read or write. The old file of a delta entry is read from `tree`.
bool WriteEntryContent(PayloadReader& reader, const PayloadEntry& entry, platform::FolderTree& tree,
                       platform::File& out, ContentWriter& writer, ContentFault& fault);
