#include "install/entry_content.h"

#include "install/progress.h"
#include "platform/digest.h"

namespace {

// Hands a sink each produced piece, counting it and feeding the made file's digest on the way.
struct MadeFile {
    platform::File& out;
    platform::Sha256 sha;
    uint64_t written = 0;

    bool Take(const void* data, size_t size) {
        written += size;
        return out.Write(data, size) && sha.Update(data, size);
    }
    bool Is(const PayloadEntry& entry) {
        platform::Sha256Digest digest{};
        return sha.Finish(digest) && written == entry.fileSize && digest == entry.fileDigest;
    }
};

// The entry's stored bytes, read in pieces and fed to the signed digest as they pass.
bool ReadStored(PayloadReader& reader, ContentWriter& writer, void* buffer, size_t capacity, size_t& got) {
    got = 0;
    if (reader.dataLeft() == 0) return true;
    if (!reader.ReadData(buffer, capacity, got)) return false;
    if (writer.signedDigest && !writer.signedDigest->Update(buffer, got)) return false;
    ReportWork(WorkProgress::Phase::Extracting, reader.position(), reader.size(), writer.entryIndex, writer.entryCount);
    return true;
}

bool CopyStored(PayloadReader& reader, platform::File& out, ContentWriter& writer) {
    while (reader.dataLeft() > 0) {
        size_t got = 0;
        if (!ReadStored(reader, writer, writer.buffer.get(), ContentWriter::kChunk, got) ||
            !out.Write(writer.buffer.get(), got))
            return false;
    }
    return true;
}

bool Decompress(PayloadReader& reader, const PayloadEntry& entry, platform::File& out, ContentWriter& writer,
                ContentFault& fault) {
    MadeFile made{out};
    if (!made.sha.Begin()) return false;
    bool writeFailed = false;
    bool decoded = DecodeZstdStream(
        writer.decoder,
        [&](void* buffer, size_t capacity, size_t& got) { return ReadStored(reader, writer, buffer, capacity, got); },
        entry.fileSize,
        [&](const void* data, size_t size) {
            writeFailed = !made.Take(data, size);
            return !writeFailed;
        });
    if (!decoded) {
        if (!writeFailed) fault = ContentFault::Damaged;
        return false;
    }
    if (made.Is(entry)) return true;
    fault = ContentFault::NotTheDeclaredFile;
    return false;
}

}  // namespace

bool WriteEntryContent(PayloadReader& reader, const PayloadEntry& entry, platform::FolderTree& /*tree*/,
                       platform::File& out, ContentWriter& writer, ContentFault& fault) {
    fault = ContentFault::None;
    switch (entry.kind) {
        case EntryKind::Stored:
            return CopyStored(reader, out, writer);
        case EntryKind::Compressed:
            return Decompress(reader, entry, out, writer, fault);
        case EntryKind::Delta:
        case EntryKind::Removal:
            break;
    }
    fault = ContentFault::Damaged;
    return false;
}
